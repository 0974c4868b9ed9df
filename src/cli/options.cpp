// Command-line parsing with CLI11; usage errors become exit status 2.
#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tessaly/version.h"

namespace tessaly::cli {
namespace {

// The first argument that reads as an option but is none of the program's ("-x.bmp"), or empty.
// Arguments after "--", and the values of options that take one, are not options.
std::string UnknownOption(const CLI::App& app, const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") break;
    if (arg.size() < 2 || arg[0] != '-') continue;
    const bool long_form = arg[1] == '-';
    const std::string name = long_form ? arg.substr(0, arg.find('=')) : arg.substr(0, 2);
    const CLI::Option* option = app.get_option_no_throw(name);
    if (option == nullptr) return arg;
    const bool takes_value = option->get_items_expected_max() > 0;
    const bool value_attached = long_form ? name.size() < arg.size() : arg.size() > 2;
    // "-h.png" is no help request: no flag has a value glued to it.
    if (!long_form && value_attached && !takes_value) return arg;
    if (takes_value && !value_attached) ++i;
  }
  return {};
}

}  // namespace

std::variant<Options, int> ParseOptions(int argc, const char* const* argv, std::ostream& out,
                                        std::ostream& err) {
  Options options;
  options.jobs = std::max(1u, std::thread::hardware_concurrency());

  CLI::App app{
      "Decodes the binary header of WEFAX frames (BMP or PNG), proposes the standard file name,\n"
      "and saves the cropped, contrast-stretched picture (at most 800 pixels across) as an\n"
      "8-bit greyscale PNG file beside the input.",
      "tessaly-cli"};
  app.set_version_flag("--version", std::string("tessaly-cli ") + version::kText);

  const std::map<std::string, int> sources{{"full", 0}, {"data-lines", 1}};
  app.add_option("--source", options.source_id,
                 "Kind of source picture: full (a whole received frame, the default) or "
                 "data-lines (a picture holding only the data lines)")
      ->transform(CLI::CheckedTransformer(sources, CLI::ignore_case))
      ->option_text("full|data-lines");
  app.add_flag("--dry-run", options.dry_run, "Decode and propose names, but write no file");
  auto* yes = app.add_flag_callback(
      "--overwrite", [&] { options.overwrite = OverwritePolicy::kYes; },
      "Replace existing files without asking");
  auto* no = app.add_flag_callback(
      "--no-overwrite", [&] { options.overwrite = OverwritePolicy::kNo; },
      "Never replace existing files (the default when standard input is not a terminal)");
  yes->excludes(no);
  app.add_flag("--json", options.json, "Print one JSON object per file on standard output");
  app.add_option("--jobs", options.jobs, "Files processed at once (default: the number of cores)")
      ->check(CLI::Range(1, 256));
  app.add_option("PATH", options.paths,
                 "Picture files, or folders whose .bmp and .png files are taken")
      ->required();

  std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  if (const std::string unknown = UnknownOption(app, args); !unknown.empty()) {
    err << "tessaly-cli: unknown option \"" << unknown << "\"; to name a file that begins with"
        << " \"-\", put \"--\" before it: tessaly-cli -- " << unknown
        << "\nRun with --help for usage.\n";
    return 2;
  }
  try {
    std::reverse(args.begin(), args.end());  // CLI11 takes its arguments last first
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    err << "tessaly-cli: " << e.what() << "\nRun with --help for usage.\n";
    return 2;
  }
  return options;
}

}  // namespace tessaly::cli
