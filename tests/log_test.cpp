// The module log's lines: the time text in ctime()'s form for the second the
// line was written in, and the stream's own state respected as `<<` does.
#include <chrono>
#include <ctime>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics.h"
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
    if (VELDAR::logstream.tellp() > 1 << 16) {
      logcapture keepsmall;
    }
  }
  EXPECT_EQ(seconds.size(), 2U);
}

TEST(LogTimeText, LinesParseAsTheirMessages) {
  logcapture capture;
  VELDAR::log("");
  VELDAR::log("a message: with [brackets]");
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{"", "a message: with [brackets]"}));
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
