// Command-line parsing with CLI11; usage errors become exit status 2.
#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <ostream>
#include <thread>

#include "tessaly/version.h"

namespace tessaly::cli {

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

  try {
    std::vector<std::string> args;
    for (int i = argc - 1; i > 0; --i) args.emplace_back(argv[i]);
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
