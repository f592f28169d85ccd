// Threads, each with its own numbers, at once: the results stay right and
// every log line stays whole. Run under ThreadSanitizer as well.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <veldar/diagnostics.h>
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>
#include "support.h"

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;

// Runs work(t) on `count` threads at once.
template <typename action>
void on_threads(int count, action work) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back(work, t);
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
}

// One round of work on a thread's own numbers; false when a result is wrong.
// (0 times a negative number is "-0": the sign flags differ.)
bool round(std::mt19937_64& random) {
  const auto a = static_cast<long long>(random() % 10000);
  const auto b = static_cast<long long>(random() % 10000);
  fixedint x(8, a);
  fixedint y(8, -b);
  fixedfloat p(8);
  fixedfloat q(8);
  p = std::to_string(a) + ".5";
  q = "-0.25";
  return (x + y).asstring() == std::to_string(a - b) &&
         (x * y).asstring() == (a == 0 && b != 0 ? "-0" : std::to_string(-a * b)) && (y < x) == (-b < a) &&
         (p * q).asstring() == veldar_test::fixed_text(-(a * 20 + 10) * 125, 4);
}

TEST(Threads, EachWithItsOwnNumbersAtOnce) {
  veldar_test::log_capture capture;
  constexpr int threads = 4;
  constexpr int rounds = 400;
  std::atomic<int> wrong{0};
  on_threads(threads, [&wrong](int t) {
    std::mt19937_64 random(static_cast<unsigned>(t));
    for (int r = 0; r < rounds; ++r) {
      if (!round(random)) {
        ++wrong;
      }
      VELDAR::log("thread " + std::to_string(t) + " round " + std::to_string(r));
      if (r % 100 == 0) {
        static_cast<void>(VELDAR::logstream.str());  // reading while the others write
      }
    }
  });
  EXPECT_EQ(wrong, 0);
  // Every line whole, and each thread's own lines in its order.
  std::vector<int> next(threads, 0);
  for (const std::string& message : capture.messages()) {
    ASSERT_EQ(message.rfind("<malformed", 0), std::string::npos) << message;
    int t = 0;
    int r = 0;
    if (std::sscanf(message.c_str(), "thread %d round %d", &t, &r) == 2) {
      ASSERT_EQ(r, next.at(static_cast<std::size_t>(t))++) << message;
    }
  }
  EXPECT_EQ(next, std::vector<int>(threads, rounds));
}

// Products and quotients long enough for the transform and the recursive
// division, on four threads at once: each thread's scratch memory is its own
// and the kept twiddle factors are shared, so every result stays right.
TEST(Threads, LongProductsAndQuotientsAtOnce) {
  const auto operand = [](unsigned seed, std::size_t count) {
    std::mt19937_64 random(seed);
    fixedint number(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
      number.digits[i] = static_cast<signed char>(1 + random() % 9);
    }
    return number;
  };
  const std::size_t count = 6000;
  fixedint a = operand(1, count);
  fixedint b = operand(2, count);
  const std::string product = (a * b).asstring();
  const std::string quotient = ((a * b) / b).asstring();
  std::atomic<int> wrong{0};
  const veldar_test::log_capture capture;  // starts the log empty
  on_threads(4, [&](int t) {
    fixedint x = a;
    fixedint y = b;
    for (int round = 0; round < 3 + t; ++round) {
      fixedint p = x * y;
      if (p.asstring() != product || (p / y).asstring() != a.asstring()) {
        ++wrong;
      }
    }
  });
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(quotient, a.asstring());
}

TEST(Threads, LogLimitHoldsWhileThreadsLog) {
  veldar_test::log_capture capture;
  VELDAR::setloglimit(1 << 16);
  on_threads(4, [](int t) {
    for (int r = 0; r < 2000; ++r) {
      VELDAR::log("thread " + std::to_string(t) + " line " + std::to_string(r));
    }
  });
  VELDAR::setloglimit(0);
  const std::string text = VELDAR::logstream.str();
  EXPECT_LE(text.size(), 1U << 16);
  const auto messages = veldar_test::log_messages(text);
  EXPECT_EQ(messages.front().rfind("Log limit of 65536 bytes: ", 0), 0U);
  for (const std::string& message : messages) {
    EXPECT_EQ(message.rfind("<malformed", 0), std::string::npos) << message;
  }
}

// A thread that counts deletions without the lock while another stores its
// records: a record may carry a deletion counted after the storer read the
// count. Every deletion must be written once, never as 2^32 - 1 lines of a
// count gone below zero, which would drop the whole log.
TEST(Threads, DeletionsCountedWhileAnotherThreadStoresAreWrittenOnce) {
  veldar_test::log_capture capture;
  VELDAR::setloglimit(1 << 20);
  constexpr int rounds = 1000000;
  std::atomic<bool> done{false};
  std::thread logger([&done] {
    while (!done.load(std::memory_order_relaxed)) {
      VELDAR::log("x");
    }
  });
  for (int r = 0; r < rounds; ++r) {
    const fixedint number(8);
  }
  done = true;
  logger.join();
  VELDAR::setloglimit(0);
  // Each round writes four lines; the logger as many as it could.
  const std::string text = VELDAR::logstream.str();
  const auto messages = veldar_test::log_messages(text);
  ASSERT_FALSE(messages.empty());
  unsigned long long dropped = 0;
  ASSERT_EQ(std::sscanf(messages.front().c_str(), "Log limit of 1048576 bytes: %llu earlier lines dropped.", &dropped),
            1)
      << messages.front();
  EXPECT_LT(dropped, 4ULL * rounds + 100000000ULL);
  VELDAR::logstream.str("");
}

// Deletions are counted in their thread, a count for each kind, between the
// records around them. Numbers of both kinds made and destroyed in a random
// order, with runs of each kind of deletion, read back in the order they
// happened, while another thread's messages store them at random points.
TEST(Threads, DeletionsOfBothKindsKeepTheirOrderWhileAnotherThreadStores) {
  veldar_test::log_capture capture;
  const auto fixedfloat_made = [](unsigned long long length) {
    std::vector<std::string> lines = veldar_test::transcript{}.made(0).lines;
    for (const char* line : {"Creating new fixedfloat object!", "Init called on fixedfloat with length: "}) {
      lines.emplace_back(line);
    }
    lines.back() += std::to_string(length);
    for (const char* line : {"Register size.", "Init boolean properties.", "Init digits."}) {
      lines.emplace_back(line);
    }
    const std::vector<std::string> value = veldar_test::transcript{}.made(length).deleted().lines;
    lines.insert(lines.end(), value.begin(), value.end());
    lines.emplace_back("Done.");
    return lines;
  };
  const std::vector<std::string> fixedfloat_deleted{"Deleting fixedfloat object!", "Deleted fixedint object."};
  const std::vector<std::string> fixedint_deleted = veldar_test::transcript{}.deleted().lines;

  // The messages paced, so that a slow run under load stays well within the
  // log's limit: no line of the test may be dropped.
  std::atomic<bool> done{false};
  std::thread logger([&done] {
    while (!done.load(std::memory_order_relaxed)) {
      VELDAR::log("x");
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  });
  const unsigned seed = 20261208;
  std::mt19937 random(seed);
  std::vector<std::unique_ptr<fixedint>> integers;
  std::vector<std::unique_ptr<fixedfloat>> fixeds;
  std::vector<std::string> expected;
  const auto expect = [&expected](const std::vector<std::string>& lines) {
    expected.insert(expected.end(), lines.begin(), lines.end());
  };
  for (int step = 0; step < 20000; ++step) {
    const unsigned length = 2 * (1 + random() % 4);
    switch (random() % 5) {
      case 0:
        integers.push_back(std::make_unique<fixedint>(length));
        expect(veldar_test::transcript{}.made(length).lines);
        break;
      case 1:
        fixeds.push_back(std::make_unique<fixedfloat>(length));
        expect(fixedfloat_made(length));
        break;
      default:  // a run of deletions of one kind or the other
        for (unsigned count = random() % 4; count > 0; --count) {
          const auto erase_one = [&random](auto& numbers) {
            numbers.erase(numbers.begin() + static_cast<std::ptrdiff_t>(random() % numbers.size()));
          };
          if (random() % 2 == 0 && !integers.empty()) {
            erase_one(integers);
            expect(fixedint_deleted);
          } else if (!fixeds.empty()) {
            erase_one(fixeds);
            expect(fixedfloat_deleted);
          }
        }
    }
  }
  done = true;
  logger.join();
  std::vector<std::string> messages = capture.messages();
  messages.erase(std::remove(messages.begin(), messages.end(), "x"), messages.end());
  const auto [differs, wanted] = std::mismatch(messages.begin(), messages.end(), expected.begin(), expected.end());
  EXPECT_TRUE(differs == messages.end() && wanted == expected.end())
      << "seed " << seed << ": line " << (differs - messages.begin()) << " is \""
      << (differs == messages.end() ? "(none)" : *differs) << "\", expected \""
      << (wanted == expected.end() ? "(none)" : *wanted) << "\"";
  integers.clear();
  fixeds.clear();
  VELDAR::logstream.str("");
}

}  // namespace
