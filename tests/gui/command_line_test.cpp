// The tessaly program's command line, read without a display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/command_line.h"

namespace tessaly {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, ReadsFilesOptionsAndTheToolkitsOwnOptions) {
  struct Row {
    std::vector<std::string> arguments;
    Action action;
    std::vector<std::string> files;
    std::string error;
  };
  const Row rows[] = {
      {{}, Action::kRun, {}, ""},
      {{"a.bmp", "frames", "b.png"}, Action::kRun, {"a.bmp", "frames", "b.png"}, ""},
      // The toolkit's options and their values are not taken for files.
      {{"-platform", "offscreen", "a.bmp", "--style=fusion", "-reverse", "b.bmp"},
       Action::kRun,
       {"a.bmp", "b.bmp"},
       ""},
      {{"--process", "a.bmp", "b.bmp"}, Action::kRun, {"a.bmp", "b.bmp"}, ""},
      // After "--" everything is a file, and "-" alone is a name too.
      {{"--", "--help", "-"}, Action::kRun, {"--help", "-"}, ""},
      {{"a.bmp", "--help"}, Action::kHelp, {"a.bmp"}, ""},
      {{"-h"}, Action::kHelp, {}, ""},
      {{"--version", "a.bmp"}, Action::kVersion, {"a.bmp"}, ""},
      {{"--help", "--version"}, Action::kHelp, {}, ""},
      {{"a.bmp", "--frobnicate"}, Action::kUsageError, {}, "unknown option '--frobnicate'"},
      {{"-x"}, Action::kUsageError, {}, "unknown option '-x'"},
      {{"--version", "--frobnicate"}, Action::kUsageError, {}, "unknown option '--frobnicate'"},
      {{"a.bmp", "-platform"}, Action::kUsageError, {}, "option '-platform' needs a value"},
      {{"--screenshot"}, Action::kUsageError, {}, "option '--screenshot' needs a value"},
      {{"a.bmp", "--catalog"}, Action::kUsageError, {}, "option '--catalog' needs a value"},
      // The catalogue's name is not a file to handle, even when it looks like an option.
      {{"--catalog", "-", "a.bmp"}, Action::kRun, {"a.bmp"}, ""},
  };
  for (const Row& row : rows) {
    std::string shown;
    for (const std::string& argument : row.arguments) shown += argument + " ";
    const CommandLine line = ParseCommandLine(row.arguments);
    EXPECT_EQ(line.action, row.action) << shown;
    EXPECT_EQ(line.error, row.error) << shown;
    if (row.action != Action::kUsageError) {
      EXPECT_EQ(line.files, row.files) << shown;
    }
  }
  EXPECT_EQ(ParseCommandLine({"--screenshot", "w.png", "a.bmp"}).screenshot, "w.png");
  EXPECT_EQ(ParseCommandLine({"a.bmp", "--catalog", "", "b.bmp"}).catalog, "");
  EXPECT_FALSE(ParseCommandLine({"a.bmp"}).catalog);
}

TEST(CommandLineTest, ADisplayIsNamedOnTheCommandLineOrInTheEnvironment) {
  struct Row {
    std::vector<std::string> arguments;
    std::string variable;  // the one variable set, with the value "x"
    bool has_display;
  };
  const Row rows[] = {
      {{"a.bmp"}, "", false},
      {{"a.bmp"}, "DISPLAY", true},
      {{"a.bmp"}, "WAYLAND_DISPLAY", true},
      {{"a.bmp"}, "QT_QPA_PLATFORM", true},
      {{"a.bmp"}, "XDG_SESSION_TYPE", false},
      {{"-platform", "offscreen", "a.bmp"}, "", true},
      {{"--platform=offscreen"}, "", true},
      {{"-display", ":1"}, "", true},
      {{"-style", "fusion"}, "", false},
  };
  for (const Row& row : rows) {
    const bool has = HasDisplay(ParseCommandLine(row.arguments), [&](const char* name) {
      return row.variable == name ? "x" : nullptr;
    });
    EXPECT_EQ(has, row.has_display) << row.arguments.front() << " " << row.variable;
  }
  // Set but empty is not set.
  EXPECT_FALSE(HasDisplay(ParseCommandLine({}), [](const char*) { return ""; }));
}

TEST(CommandLineTest, HelpNamesEveryOptionAndTheVersionIsTheProgramsOwn) {
  const std::string help = HelpText();
  EXPECT_TRUE(help.starts_with(UsageText()));
  for (const char* part : {"--help", "--version", "FILE|FOLDER", "Ctrl+O", "Ctrl+Shift+O", "Ctrl+Q",
                           "Escape", "double-click", "tessaly.conf"}) {
    EXPECT_NE(help.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(VersionText(), "tessaly 1.2.2.7\n");
}

}  // namespace
}  // namespace tessaly
