// Reading the tessaly program's command line.
#include "gui/command_line.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "tessaly/version.h"

namespace tessaly {

namespace {

// The toolkit reads these itself when the application object is made (with one dash or two);
// they are let through untouched, with their value where they take one.
struct ToolkitOption {
  std::string_view name;
  bool takes_value;
};
constexpr std::array kToolkitOptions{
    ToolkitOption{"platform", true},        ToolkitOption{"platformpluginpath", true},
    ToolkitOption{"platformtheme", true},   ToolkitOption{"plugin", true},
    ToolkitOption{"qwindowgeometry", true}, ToolkitOption{"qwindowicon", true},
    ToolkitOption{"qwindowtitle", true},    ToolkitOption{"session", true},
    ToolkitOption{"display", true},         ToolkitOption{"geometry", true},
    ToolkitOption{"style", true},           ToolkitOption{"stylesheet", true},
    ToolkitOption{"reverse", false},        ToolkitOption{"widgetcount", false},
    ToolkitOption{"nograb", false},         ToolkitOption{"dograb", false},
    ToolkitOption{"sync", false},
};

const ToolkitOption* FindToolkitOption(std::string_view argument) {
  argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
  const std::string_view name = argument.substr(0, argument.find('='));
  const auto found = std::find_if(kToolkitOptions.begin(), kToolkitOptions.end(),
                                  [name](const ToolkitOption& o) { return o.name == name; });
  return found == kToolkitOptions.end() ? nullptr : &*found;
}

CommandLine UsageError(std::string error) {
  CommandLine line;
  line.action = CommandLine::Action::kUsageError;
  line.error = std::move(error);
  return line;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  bool help = false;
  bool version = false;
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool is_option = !options_ended && argument.size() > 1 && argument[0] == '-';
    if (!is_option) {
      line.files.push_back(argument);
      continue;
    }
    // These options take their value from the next argument.
    const bool has_value = i + 1 < arguments.size();
    if (argument == "--") {
      options_ended = true;
    } else if (argument == "--help" || argument == "-h") {
      help = true;
    } else if (argument == "--version") {
      version = true;
    } else if (argument == "--process" || argument == "--screenshot" || argument == "--catalog") {
      if (!has_value) return UsageError("option '" + argument + "' needs a value");
      if (argument == "--process")
        line.files.push_back(arguments[++i]);
      else if (argument == "--catalog")
        line.catalog = arguments[++i];
      else
        line.screenshot = arguments[++i];
    } else if (const ToolkitOption* option = FindToolkitOption(argument)) {
      if (option->name == "platform" || option->name == "display") line.names_display = true;
      if (option->takes_value && argument.find('=') == std::string::npos) {
        if (!has_value) return UsageError("option '" + argument + "' needs a value");
        ++i;
      }
    } else {
      return UsageError("unknown option '" + argument + "'");
    }
  }
  // Asking for help or the version is answered even beside other arguments.
  if (help)
    line.action = CommandLine::Action::kHelp;
  else if (version)
    line.action = CommandLine::Action::kVersion;
  return line;
}

bool HasDisplay(const CommandLine& line, const std::function<const char*(const char*)>& variable) {
  if (line.names_display) return true;
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = variable(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

std::string UsageText() {
  return "Usage: tessaly [--help] [--version] [--catalog FILE] [FILE|FOLDER]...\n";
}

std::string HelpText() {
  return UsageText() +
         "\n"
         "Shows WEFAX weather-satellite frames (BMP or PNG), reads the header in their data\n"
         "lines, and saves each as an 8-bit grey PNG under the standard name it proposes, in\n"
         "the frame's own folder, asking before an existing file is replaced.\n"
         "\n"
         "Each FILE, and the BMP then PNG pictures of each FOLDER, are handled in order as if\n"
         "they had been dropped together on the window's left pane.\n"
         "\n"
         "Options:\n"
         "  -h, --help     print this help and exit\n"
         "      --version  print the version and exit\n"
         "      --catalog FILE\n"
         "                 show the day's contact sheets from FILE, an archive catalogue made\n"
         "                 by tessaly-cli --catalog; remembered for later runs, and forgotten\n"
         "                 with --catalog \"\"\n"
         "\n"
         "In the window:\n"
         "  Ctrl+O         choose pictures to handle\n"
         "  Ctrl+Shift+O   choose a folder to handle, as a drop of that folder\n"
         "  Ctrl+Shift+S   save the picture shown under a name of your choosing\n"
         "  Ctrl+D         with a catalogue: show the contact sheet of the day, satellite and\n"
         "                 code of the picture shown (also in the right pane's context menu)\n"
         "  Escape         stop after the current file while files are handled; otherwise close\n"
         "  Ctrl+Q         close the window\n"
         "  double-click   on a pane: switch between fitting the picture and actual size\n"
         "\n"
         "Settings (source choice, fit of each pane, window place, catalogue) are kept per\n"
         "user in ~/.config/Kestrelwood/tessaly.conf.\n"
         "\n"
         "Exit status: 0; 1 when the window cannot be shown (no graphical display, or it could\n"
         "not be set up); 2 for a usage error.\n";
}

std::string VersionText() {
  return std::string("tessaly ") + version::kText + "\n";
}

}  // namespace tessaly
