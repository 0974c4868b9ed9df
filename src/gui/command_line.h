// The tessaly program's command line: files and folders to handle as one drop, the archive
// catalogue of the day's contact sheets, --help and --version (answered before any window or
// display is needed), the toolkit's own options passed through, and the program's testing aids.
// Used by main.cpp; toolkit-free so it is tested alone.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tessaly {

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kUsageError };
  Action action = Action::kRun;
  // Files and folders in the order given, to be handled as one drop on the left pane.
  std::vector<std::string> files;
  // --catalog: the archive catalogue the window's day's contact sheets come from from now on;
  // empty to forget the one remembered.
  std::optional<std::string> catalog;
  // Testing aid: a picture of the window is saved here once the files are handled.
  std::optional<std::string> screenshot;
  // For kUsageError: what was wrong, without the program's name.
  std::string error;
  // The toolkit's -platform or -display option was given: it is told where to show the window.
  bool names_display = false;
};

// `arguments` without the program's own name. Options may come in any place; "--" ends them.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// Whether the window has somewhere to appear: a platform or display named on the command line
// or in QT_QPA_PLATFORM, or DISPLAY or WAYLAND_DISPLAY set. `variable` reads the environment
// (std::getenv in the program). Without one the toolkit would abort the program.
bool HasDisplay(const CommandLine& line, const std::function<const char*(const char*)>& variable);

// The usage line, the --help text and the --version line, each ending in a new line.
std::string UsageText();
std::string HelpText();
std::string VersionText();

}  // namespace tessaly
