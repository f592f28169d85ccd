// The module log's lines: the time text in ctime()'s form for the second the
// line was written in, and the stream's own state respected as `<<` does.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <veldar/diagnostics.h>
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>
#include "allocations.h"
#include "log_line.h"
#include "log_store.h"
#include "support.h"

namespace {

using veldar_test::log_capture;

// ctime()'s text for `second`, without its newline: the reference.
std::string ctime_text(std::time_t second) {
  std::string text = std::ctime(&second);
  text.pop_back();
  return text;
}

std::string last_line() {
  std::istringstream in(VELDAR::logstream.str());
  std::string line;
  std::string last;
  while (std::getline(in, line)) {
    last = line;
  }
  return last;
}

TEST(LogTimeText, IsCtimeOfTheSecondTheLineWasWrittenIn) {
  // Lines written until the clock has moved on, so that the cached text is
  // seen both within a second and right after it changes. A line whose second
  // is certain (the same before and after it) must carry exactly ctime()'s
  // text for it.
  log_capture capture;
  VELDAR::setloglimit(1 << 16);  // last_line() reads the whole log
  std::set<std::time_t> seconds;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (seconds.size() < 2 && std::chrono::steady_clock::now() < deadline) {
    const std::time_t before = std::time(nullptr);
    VELDAR::log("tick");
    const std::time_t after = std::time(nullptr);
    if (before == after) {
      ASSERT_EQ(last_line(), "VELDAR [" + ctime_text(before) + "]: tick") << "second " << before;
      seconds.insert(before);
    }
  }
  VELDAR::setloglimit(0);
  EXPECT_EQ(seconds.size(), 2U);
}

TEST(LogTimeText, IsCtimeAtFixedInstants) {
  // Days 1 to 9 pad with a blank (" 8", never "08"); a seeded sweep over
  // 1970 to 2099 covers the rest.
  std::vector<std::time_t> instants;
  for (int day = 1; day <= 12; ++day) {
    instants.push_back(1796731200 + (day - 8) * 86400);  // 2026-12-01 to 12, midday UTC
  }
  std::mt19937_64 random(1211);
  for (int i = 0; i < 2000; ++i) {
    instants.push_back(static_cast<std::time_t>(random() % 4102444800ULL));
  }
  for (const std::time_t instant : instants) {
    std::string text(VELDAR::detail::time_text_size, '\0');
    VELDAR::detail::time_text(instant, text.data());
    ASSERT_EQ(text, ctime_text(instant)) << "at " << instant;
  }
}

TEST(LogTimeText, LinesParseAsTheirMessages) {
  log_capture capture;
  VELDAR::log("");
  VELDAR::log("a message: with [brackets]");
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{"", "a message: with [brackets]"}));
}

TEST(LogLines, LineBreaksInAMessageCannotForgeLines) {
  log_capture capture;
  VELDAR::log("first\nVELDAR [Mon Dec  7 07:08:24 2026]: forged\r");
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{R"(first\nVELDAR [Mon Dec  7 07:08:24 2026]: forged\r)"}));
}

TEST(LogStream, ReadsWritesAndTellsItsSize) {
  log_capture capture;
  VELDAR::logstream << "raw " << 42 << '\n';
  const std::string long_line(200000, 'x');  // spans several of the log's blocks
  VELDAR::log(long_line);
  EXPECT_EQ(VELDAR::logstream.tellp(), static_cast<std::streamoff>(VELDAR::logstream.str().size()));
  VELDAR::logstream.seekg(0);
  std::string line;
  ASSERT_TRUE(std::getline(VELDAR::logstream, line));
  EXPECT_EQ(line, "raw 42");
  ASSERT_TRUE(std::getline(VELDAR::logstream, line));
  EXPECT_EQ(line.size(), VELDAR::detail::line_prefix_size + long_line.size());
  EXPECT_FALSE(std::getline(VELDAR::logstream, line));
  VELDAR::logstream.clear();
}

TEST(LogLimit, KeepsTheNewestWholeLinesAndSaysHowManyWent) {
  log_capture capture;
  VELDAR::setloglimit(100000);  // some blocks' worth: whole blocks go, then lines
  constexpr int count = 20000;
  for (int i = 0; i < count; ++i) {
    VELDAR::log("line " + std::to_string(i));
  }
  const std::string text = VELDAR::logstream.str();
  VELDAR::setloglimit(0);
  EXPECT_LE(text.size(), 100000U);
  EXPECT_GE(text.size(), 100000U / 2);
  const std::vector<std::string> messages = veldar_test::log_messages(text);
  unsigned long long dropped = 0;
  ASSERT_EQ(std::sscanf(messages.front().c_str(), "Log limit of 100000 bytes: %llu earlier lines dropped.", &dropped),
            1)
      << messages.front();
  for (std::size_t i = 1; i < messages.size(); ++i) {
    ASSERT_EQ(messages[i], "line " + std::to_string(dropped + i - 1));
  }
  EXPECT_EQ(dropped + messages.size() - 1, static_cast<unsigned long long>(count));
}

TEST(LogStreamState, LibraryLinesIgnoreTheStreamsFormatAndErrorState) {
  log_capture capture;
  VELDAR::logstream.width(10);
  VELDAR::logstream.setstate(std::ios::badbit);
  VELDAR::log("after a failed append");
  EXPECT_EQ(VELDAR::logstream.width(), 10) << "the width is left for the caller's own <<";
  VELDAR::logstream.width(0);
  VELDAR::logstream.clear();
  VELDAR::logstream << std::unitbuf;
  VELDAR::log("unit-buffered");
  VELDAR::logstream << std::nounitbuf;
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{"after a failed append", "unit-buffered"}));
  EXPECT_EQ(last_line().substr(0, 8), "VELDAR [");
}

}  // namespace

namespace {

// A workload of every kind of line: numbers made and gone, fixed-point
// assignments (one record of 149 lines each), products, and messages of
// many lengths, some with line breaks.
void workload() {
  VELDAR::fixedint a(8, 1234);
  VELDAR::fixedint b(8, -987);
  VELDAR::fixedfloat price(24);
  VELDAR::fixedfloat total(24);
  for (int i = 0; i < 200; ++i) {
    price = std::to_string(i) + ".25";
    total = total + price;
    static_cast<void>(a * b);
    static_cast<void>(a + b);
    VELDAR::log(std::string(static_cast<std::size_t>(i % 37), 'x') + (i % 5 == 0 ? "\nline break" : ""));
  }
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

TEST(LogLimit, KeepsWholeNewestLinesAndCountsEveryOneDropped) {
  log_capture capture;
  VELDAR::setloglimit(0);
  workload();
  const std::vector<std::string> all = lines_of(VELDAR::logstream.str());
  ASSERT_GT(all.size(), 30000U);
  // Limits from a few hundred bytes up, some inside a line.
  for (const std::size_t limit : {300U, 301U, 517U, 1000U, 4096U, 10007U, 65536U, 1000003U}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    VELDAR::logstream.str("");
    VELDAR::setloglimit(limit);
    workload();
    const std::string text = VELDAR::logstream.str();
    VELDAR::setloglimit(0);
    EXPECT_LE(text.size(), limit);
    const std::vector<std::string> kept = lines_of(text);
    ASSERT_GE(kept.size(), 2U);
    ASSERT_EQ(text.back(), '\n');
    for (const std::string& line : kept) {
      ASSERT_EQ(line.rfind("VELDAR [", 0), 0U) << line;
    }
    unsigned long long dropped = 0;
    const std::string header = veldar_test::log_messages(kept.front()).front();
    ASSERT_EQ(std::sscanf(header.c_str(),
                          ("Log limit of " + std::to_string(limit) + " bytes: %llu earlier lines dropped.").c_str(),
                          &dropped),
              1)
        << header;
    // Every line written is either counted as dropped or kept, in order,
    // and the newest is kept.
    EXPECT_EQ(dropped + kept.size() - 1, all.size());
    for (std::size_t i = 1; i < kept.size(); ++i) {
      ASSERT_EQ(veldar_test::log_messages(kept[i]), veldar_test::log_messages(all[dropped + i - 1])) << "line " << i;
    }
    // The end of the log is a place to seek to, and tells its size.
    VELDAR::logstream.clear();
    EXPECT_TRUE(VELDAR::logstream.seekg(0, std::ios::end));
    EXPECT_EQ(VELDAR::logstream.tellg(), static_cast<std::streamoff>(text.size()));
    VELDAR::logstream.clear();
  }
  VELDAR::logstream.str("");
}

// Besides the log, a small operation allocates only numbers its transcript
// tells of: no more allocations than "New fixedint object!" lines. Counted
// over many calls, so that a block the log takes now and then counts for
// little.
TEST(LogCost, SmallOperationsAllocateNoMoreThanTheirLogShowsMade) {
  if (!veldar_test::can_fail_allocations()) {
    GTEST_SKIP() << "operator new is not the test's own here";
  }
  const auto per_call = [](const char* what, auto operation) {
    VELDAR::logstream.str("");
    operation();
    std::istringstream once(VELDAR::logstream.str());
    long shown = 0;
    for (std::string line; std::getline(once, line);) {
      shown += line.find("New fixedint object!") != std::string::npos ? 1 : 0;
    }
    constexpr long calls = 2000;
    const long before = veldar_test::allocations_made();
    for (long i = 0; i < calls; ++i) {
      operation();
    }
    const double made = static_cast<double>(veldar_test::allocations_made() - before) / calls;
    EXPECT_LE(made, static_cast<double>(shown) + 0.05) << what << ": " << shown << " shown";
    VELDAR::logstream.str("");
  };
  VELDAR::fixedint a(8, 12345678);
  VELDAR::fixedint b(8, 8765432);
  VELDAR::fixedfloat x(8);
  VELDAR::fixedfloat y(8);
  x = "78.9";
  y = "-0.123";
  per_call("fixedint *", [&] { static_cast<void>(a * b); });
  per_call("fixedint +", [&] { static_cast<void>(a + b); });
  per_call("fixedfloat *", [&] { static_cast<void>(x * y); });
  per_call("fixedfloat +", [&] { static_cast<void>(x + y); });
}

TEST(LogLimit, OneTranscriptLongerThanTheLimitIsNotHeldWhole) {
  // fixedfloat(2000000) = "1.5" writes eleven million lines.
  log_capture capture;
  VELDAR::setloglimit(1 << 20);
  {
    VELDAR::fixedfloat big(2000000);
    big = "1.5";
  }
  const auto counts = VELDAR::detail::the_log_store().measure();
  const std::string text = VELDAR::logstream.str();
  VELDAR::setloglimit(0);
  EXPECT_LE(text.size(), 1U << 20);
  EXPECT_LT(counts.memory, 64U << 10) << "the records of eleven million lines take a few bytes";
  // 13 lines made, the assignment's 11,000,000 + 17, then the number gone.
  EXPECT_EQ(counts.dropped + counts.lines, 13 + 11000000 + 17 + 2);
  EXPECT_EQ(veldar_test::log_messages(text).back(), "Deleted fixedint object.");
  VELDAR::logstream.str("");
}

TEST(LogLimit, DefaultKeepsSixtyFourMiBAndZeroKeepsEveryLine) {
  const std::size_t before = VELDAR::loglimit();
  VELDAR::setloglimit(0);
  EXPECT_EQ(VELDAR::loglimit(), 0U);
  VELDAR::setloglimit(VELDAR::detail::default_log_limit);
  EXPECT_EQ(VELDAR::loglimit(), 67108864U);
  VELDAR::setloglimit(before);
}

TEST(LogStream, AThreadsLineWrittenInPiecesStaysWholeWhileOthersLog) {
  log_capture capture;
  // No bound, so that no line goes however far the others get ahead on a
  // loaded machine; and a bound on them instead.
  const std::size_t limit = VELDAR::loglimit();
  VELDAR::setloglimit(0);
  std::atomic<bool> done{false};
  std::atomic<int> started{0};
  std::vector<std::thread> others;
  for (int t = 0; t < 3; ++t) {
    others.emplace_back([&done, &started, t] {
      ++started;
      for (int round = 0; round < 200000 && !done.load(); ++round) {
        VELDAR::fixedint x(8, t);
        VELDAR::log("other " + std::to_string(t));
      }
    });
  }
  while (started.load() < 3) {
    std::this_thread::yield();
  }
  constexpr int lines = 20000;
  for (int i = 0; i < lines; ++i) {
    VELDAR::logstream << "step " << i << " of " << lines << '\n';
  }
  done = true;
  for (std::thread& other : others) {
    other.join();
  }
  int next = 0;
  for (const std::string& line : lines_of(VELDAR::logstream.str())) {
    if (line.rfind("VELDAR [", 0) == 0) {
      continue;
    }
    ASSERT_EQ(line, "step " + std::to_string(next++) + " of " + std::to_string(lines));
  }
  EXPECT_EQ(next, lines);
  VELDAR::logstream.str("");
  VELDAR::setloglimit(limit);
}

TEST(LogStream, ReadingFromTheMiddleRendersTheSameText) {
  // Reads of a few KiB at a time, from the start and after seeks into
  // records of many lines, give exactly str()'s text.
  log_capture capture;
  VELDAR::setloglimit(0);
  workload();
  const std::string text = VELDAR::logstream.str();
  VELDAR::logstream.seekg(0);
  const std::string read(std::istreambuf_iterator<char>(VELDAR::logstream), {});
  EXPECT_EQ(read, text);
  for (const std::size_t at : {std::size_t{1}, text.size() / 3, text.size() / 2 + 17, text.size() - 1}) {
    VELDAR::logstream.clear();
    VELDAR::logstream.seekg(static_cast<std::streamoff>(at));
    const std::string rest(std::istreambuf_iterator<char>(VELDAR::logstream), {});
    ASSERT_EQ(rest, text.substr(at)) << "from byte " << at;
  }
  VELDAR::logstream.clear();
  VELDAR::logstream.str("");
}
