// Parts of the batch tool: JSON text, option parsing and the ordered runner.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "cli/json.h"
#include "cli/options.h"
#include "cli/ordered_runner.h"

namespace tessaly::cli {
namespace {

TEST(Json, EscapesControlsQuotesAndInvalidUtf8) {
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
  EXPECT_EQ(JsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
  // A Latin-1 byte in a file name is no UTF-8: it becomes U+FFFD, keeping the line valid.
  EXPECT_EQ(JsonString("x\xE9y"), "\"x\xEF\xBF\xBDy\"");
  EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonLine().Add("n", std::int64_t{-3}).Add("b", true).Add("s", "v").str(),
            "{\"n\": -3, \"b\": true, \"s\": \"v\"}");
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
  EXPECT_EQ(o.source_id, 1);
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
  EXPECT_EQ(std::get<Options>(Parse({"--source", "full", "--", "-y.png"})).source_id, 0);
  EXPECT_EQ(std::get<int>(Parse({"--help"})), 0);
  EXPECT_EQ(std::get<int>(Parse({"--version"})), 0);
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
