// Parts of the batch tool: JSON text, option parsing and the ordered runner.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "app/ordered_runner.h"
#include "cli/json.h"
#include "cli/options.h"

namespace tessaly::cli {
namespace {

TEST(Json, EscapesControlsQuotesAndInvalidUtf8AndKeepsKeyOrder) {
  EXPECT_EQ(JsonText(Json("a\"b\\c\n\x01")), "\"a\\\"b\\\\c\\n\\u0001\"");
  EXPECT_EQ(JsonText(Json("caf\xC3\xA9")), "\"caf\xC3\xA9\"");
  // A Latin-1 byte in a file name is no UTF-8: it becomes U+FFFD, keeping the line valid.
  EXPECT_EQ(JsonText(Json("x\xE9y")), "\"x\xEF\xBF\xBDy\"");
  Json line;
  line["n"] = -3;
  line["b"] = true;
  line["s"] = "v";
  EXPECT_EQ(JsonText(line), "{\"n\":-3,\"b\":true,\"s\":\"v\"}");
}

std::variant<Options, int> Parse(std::vector<const char*> args, std::string* err = nullptr) {
  args.insert(args.begin(), "tessaly-cli");
  std::ostringstream out, errors;
  auto r = ParseOptions(static_cast<int>(args.size()), args.data(), out, errors);
  if (err) *err = errors.str();
  return r;
}

TEST(Options, ParsesTheContractAndRefusesMisuseWithStatus2) {
  auto parsed = Parse({"--source", "data-lines", "--dry-run", "--no-overwrite", "--json", "--jobs",
                       "3", "a.bmp", "dir"});
  ASSERT_TRUE(std::holds_alternative<Options>(parsed));
  const Options& o = std::get<Options>(parsed);
  EXPECT_EQ(o.source, Source::kDataLines);
  EXPECT_TRUE(o.dry_run);
  EXPECT_TRUE(o.json);
  EXPECT_EQ(o.overwrite, OverwritePolicy::kNo);
  EXPECT_EQ(o.jobs, 3);
  EXPECT_EQ(o.paths, (std::vector<std::string>{"a.bmp", "dir"}));
  EXPECT_GE(std::get<Options>(Parse({"x.png"})).jobs, 1);
  EXPECT_EQ(std::get<Options>(Parse({"x.png"})).overwrite, OverwritePolicy::kAsk);

  std::string err;
  EXPECT_EQ(std::get<int>(Parse({}, &err)), 2);
  EXPECT_NE(err.find("PATH"), std::string::npos);
  EXPECT_EQ(std::get<int>(Parse({"--overwrite", "--no-overwrite", "x.bmp"})), 2);
  EXPECT_EQ(std::get<int>(Parse({"--source", "half", "x.bmp"})), 2);
  EXPECT_EQ(std::get<int>(Parse({"--jobs", "0", "x.bmp"})), 2);
  // A file whose name begins with "-" needs "--" before it; the message says so.
  EXPECT_EQ(std::get<int>(Parse({"-x.bmp"}, &err)), 2);
  EXPECT_NE(err.find("unknown option \"-x.bmp\""), std::string::npos) << err;
  EXPECT_NE(err.find("tessaly-cli -- -x.bmp"), std::string::npos) << err;
  EXPECT_EQ(std::get<int>(Parse({"a.bmp", "--jbos", "2"}, &err)), 2);
  EXPECT_NE(err.find("\"--jbos\""), std::string::npos) << err;
  EXPECT_EQ(std::get<Options>(Parse({"--", "-x.bmp"})).paths, std::vector<std::string>{"-x.bmp"});
  EXPECT_EQ(std::get<int>(Parse({"-h.png"})), 2);  // no flag takes a value glued to it
  EXPECT_EQ(std::get<Options>(Parse({"--jobs", "2", "--source=full", "--", "-h.png"})).jobs, 2);
  EXPECT_EQ(std::get<Options>(Parse({"--source", "full", "--", "-y.png"})).source,
            Source::kFullFrame);
  EXPECT_EQ(std::get<int>(Parse({"--help"})), 0);
  EXPECT_EQ(std::get<int>(Parse({"--version"})), 0);
}

TEST(Options, UsageMistakesAreToldInWordsWithTheNearestOption) {
  struct Row {
    std::vector<const char*> args;
    std::vector<std::string> said;  // each must appear in the message
  };
  const std::vector<Row> rows{
      {{"--recusive", "d"}, {"unknown option \"--recusive\"", "did you mean --recursive?"}},
      {{"-recursive", "d"}, {"\"-recursive\"", "did you mean --recursive?"}},
      {{"--jbos", "2", "d"}, {"did you mean --jobs?"}},
      {{"--side-car", "d"}, {"did you mean --sidecar?"}},
      {{"--dry", "d"}, {"did you mean --dry-run?"}},
      {{"-x.bmp"}, {"unknown option \"-x.bmp\"", "tessaly-cli -- -x.bmp"}},
      {{"--jobs", "abc", "d"}, {"--jobs", "from 1 to 256", "\"abc\""}},
      {{"--jobs=0", "d"}, {"\"0\""}},
      {{"d", "--jobs"}, {"--jobs needs a value"}},
      {{"--source", "half", "d"}, {"\"full\"", "\"data-lines\"", "not \"half\""}},
      {{"-q", "-v", "d"}, {"--quiet and --verbose"}},
      {{"--overwrite-originals", "--no-overwrite", "d"}, {"cannot be used together"}},
      {{"--name-template", "../{code}", "d"}, {"\"/\""}},
      {{"--name-template", "{code}{zone}", "d"}, {"unknown placeholder \"{zone}\"", "{yyyy}"}},
      {{"-0", "d"}, {"--from-file"}},
      {{}, {"PATH"}},
      // A report refuses what it would ignore.
      {{"--catalog", "c.db", "--report", "frames", "--json"},
       {"--json does not apply to --report", "--format json"}},
      {{"--catalog", "c.db", "--report", "gone", "-r"}, {"--recursive does not apply"}},
      {{"--catalog", "c.db", "--report", "failed", "-o", "x"}, {"--output-dir does not apply"}},
      {{"--catalog", "c.db", "--format", "csv", "d"}, {"--format is the form of a --report"}},
      {{"--catalog", "c.db", "--report", "gaps", "--format", "xml"}, {"text, csv or json"}},
      {{"--catalog", "c.db", "--report", "gone", "--code", "D2"}, {"narrow --report frames"}},
      {{"--acknowledge", "d"}, {"give --catalog FILE"}},
      {{"--catalog", "c.db", "--acknowledge"}, {"no PATH given", "acknowledge"}},
      {{"--catalog", "c.db", "--acknowledge-all", "d"}, {"takes no PATH"}},
      {{"--catalog", "c.db", "--unacknowledge", "--acknowledge", "d"}, {"used together"}},
      {{"--catalog", "c.db", "--acknowledge", "-o", "x", "d"}, {"--output-dir does not apply"}},
      {{"--recheck", "d"}, {"--recheck", "give --catalog FILE"}},
  };
  for (const Row& row : rows) {
    std::string err;
    const auto parsed = Parse(row.args, &err);
    ASSERT_TRUE(std::holds_alternative<int>(parsed)) << row.args.size();
    EXPECT_EQ(std::get<int>(parsed), 2);
    for (const std::string& s : row.said) EXPECT_NE(err.find(s), std::string::npos) << err;
    // Told in words: none of the parser's own phrasing reaches the user.
    for (const char* internal : {"Expected", "required but", "excludes", "not expected"}) {
      EXPECT_EQ(err.find(internal), std::string::npos) << err;
    }
  }
  // Names after --, values that begin with a dash, and - alone are no options.
  const auto ok = Parse({"-rq0", "--from-file", "-", "--name-template", "-{code}", "--", "-x.bmp"});
  ASSERT_TRUE(std::holds_alternative<Options>(ok));
  const Options& o = std::get<Options>(ok);
  EXPECT_TRUE(o.recursive && o.null_separated);
  EXPECT_EQ(o.verbosity, Verbosity::kQuiet);
  EXPECT_EQ(o.from_file, "-");
  EXPECT_EQ(o.name_template, "-{code}");
  EXPECT_EQ(o.paths, std::vector<std::string>{"-x.bmp"});
}

TEST(Options, HelpBeginsWithUsageKeepsTo80ColumnsAndNamesTheManualPage) {
  std::ostringstream out, err;
  const char* argv[] = {"tessaly-cli", "--help"};
  ASSERT_EQ(std::get<int>(ParseOptions(2, argv, out, err)), 0);
  const std::string help = out.str();
  EXPECT_TRUE(help.starts_with("Usage: tessaly-cli [OPTION]... [PATH]...\n\n")) << help;
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  for (const char* part :
       {"\nInput:\n", "\n  -r, --recursive  ", "\n      --jobs=N  ",
        "\n      --source=full|data-lines  ", "\nExit status: 0 ", "tessaly-cli(1)"}) {
    EXPECT_NE(help.find(part), std::string::npos) << part;
  }
  // --help and --version close the help's options; the parser's own notes are left out.
  EXPECT_NE(help.find("  -h, --help  "), std::string::npos);
  EXPECT_LT(help.find("--jobs=N"), help.find("-h, --help"));
  for (const char* note : {"Excludes", "TEXT", "[OPTIONS]"}) {
    EXPECT_EQ(help.find(note), std::string::npos) << note;
  }
}

TEST(RunOrdered, ConsumesInInputOrderWithABoundedWindow) {
  std::atomic<int> in_flight{0};
  std::atomic<int> most_in_flight{0};
  std::vector<std::size_t> consumed;
  RunOrdered<int>(
      40, 4, 6,
      [&](std::size_t i) {
        const int now = ++in_flight;
        int seen = most_in_flight.load();
        while (now > seen && !most_in_flight.compare_exchange_weak(seen, now)) {
        }
        // Later items finish first, so order has to be restored.
        std::this_thread::sleep_for(std::chrono::microseconds(200 * ((40 - i) % 7)));
        --in_flight;
        return static_cast<int>(i) * 2;
      },
      [&](std::size_t i, int&& value) {
        EXPECT_EQ(value, static_cast<int>(i) * 2);
        consumed.push_back(i);
      });
  ASSERT_EQ(consumed.size(), 40u);
  for (std::size_t i = 0; i < consumed.size(); ++i) EXPECT_EQ(consumed[i], i);
  EXPECT_LE(most_in_flight.load(), 4);
}

TEST(RunOrdered, AThrowingConsumerStopsAndJoinsTheWorkers) {
  EXPECT_THROW(RunOrdered<int>(
                   100, 2, 2, [](std::size_t i) { return static_cast<int>(i); },
                   [](std::size_t i, int&&) {
                     if (i == 3) throw std::runtime_error("stop");
                   }),
               std::runtime_error);
}

}  // namespace
}  // namespace tessaly::cli
