// The module log's lines: the time text in ctime()'s form for the second the
// line was written in, and the stream's own state respected as `<<` does.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <veldar/diagnostics.h>
#include "log_line.h"
#include "support.h"

namespace {

using veldartest::logcapture;

// ctime()'s text for `second`, without its newline: the reference.
std::string ctimetext(std::time_t second) {
  std::string text = std::ctime(&second);
  text.pop_back();
  return text;
}

std::string lastline() {
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
  logcapture capture;
  VELDAR::setloglimit(1 << 16);  // lastline() reads the whole log
  std::set<std::time_t> seconds;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (seconds.size() < 2 && std::chrono::steady_clock::now() < deadline) {
    const std::time_t before = std::time(nullptr);
    VELDAR::log("tick");
    const std::time_t after = std::time(nullptr);
    if (before == after) {
      ASSERT_EQ(lastline(), "VELDAR [" + ctimetext(before) + "]: tick") << "second " << before;
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
    ASSERT_EQ(text, ctimetext(instant)) << "at " << instant;
  }
}

TEST(LogTimeText, LinesParseAsTheirMessages) {
  logcapture capture;
  VELDAR::log("");
  VELDAR::log("a message: with [brackets]");
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{"", "a message: with [brackets]"}));
}

TEST(LogLines, LineBreaksInAMessageCannotForgeLines) {
  logcapture capture;
  VELDAR::log("first\nVELDAR [Mon Dec  7 07:08:24 2026]: forged\r");
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{R"(first\nVELDAR [Mon Dec  7 07:08:24 2026]: forged\r)"}));
}

TEST(LogStream, ReadsWritesAndTellsItsSize) {
  logcapture capture;
  VELDAR::logstream << "raw " << 42 << '\n';
  const std::string longline(200000, 'x');  // spans several of the log's blocks
  VELDAR::log(longline);
  EXPECT_EQ(VELDAR::logstream.tellp(), static_cast<std::streamoff>(VELDAR::logstream.str().size()));
  VELDAR::logstream.seekg(0);
  std::string line;
  ASSERT_TRUE(std::getline(VELDAR::logstream, line));
  EXPECT_EQ(line, "raw 42");
  ASSERT_TRUE(std::getline(VELDAR::logstream, line));
  EXPECT_EQ(line.size(), VELDAR::detail::line_prefix_size + longline.size());
  EXPECT_FALSE(std::getline(VELDAR::logstream, line));
  VELDAR::logstream.clear();
}

TEST(LogLimit, KeepsTheNewestWholeLinesAndSaysHowManyWent) {
  logcapture capture;
  VELDAR::setloglimit(100000);  // some blocks' worth: whole blocks go, then lines
  constexpr int count = 20000;
  for (int i = 0; i < count; ++i) {
    VELDAR::log("line " + std::to_string(i));
  }
  const std::string text = VELDAR::logstream.str();
  VELDAR::setloglimit(0);
  EXPECT_LE(text.size(), 100000U);
  EXPECT_GE(text.size(), 100000U / 2);
  const std::vector<std::string> messages = veldartest::logmessages(text);
  unsigned long long dropped = 0;
  ASSERT_EQ(std::sscanf(messages.front().c_str(), "Log limit of 100000 bytes: %llu earlier lines dropped.", &dropped), 1)
      << messages.front();
  for (std::size_t i = 1; i < messages.size(); ++i) {
    ASSERT_EQ(messages[i], "line " + std::to_string(dropped + i - 1));
  }
  EXPECT_EQ(dropped + messages.size() - 1, static_cast<unsigned long long>(count));
}

TEST(LogStreamState, LibraryLinesIgnoreTheStreamsFormatAndErrorState) {
  logcapture capture;
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
  EXPECT_EQ(lastline().substr(0, 8), "VELDAR [");
}

}  // namespace
