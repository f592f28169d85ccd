// Benchmarks of the log, fixedint and fixedfloat through their public
// operations, temporaries and log lines included.
//
// Every operation appends lines to VELDAR::logstream, which is never trimmed;
// each benchmark empties it every `clearevery` iterations so that memory stays
// flat. The clearing is timed with the loop: at this rate it costs well under
// a nanosecond per iteration, and the log benchmarks clear their own streams at
// the same rate so that they stay comparable.
//
//   veldar-bench --operands=N   prints the two N-digit operands the fixedint
//                               benchmarks use, one per line, and exits.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <iostream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

#include <veldar/diagnostics.h>
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>

#include "log_line.h"  // the log's internal path

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;

constexpr int clearevery = 1024;

template <typename logtype>
void clearlog(logtype& stream) {
  stream.str("");
  stream.clear();
}

// Empties the module log every `clearevery` calls.
class logtrimmer {
 public:
  void tick() {
    if (++count == clearevery) {
      count = 0;
      clearlog(VELDAR::logstream);
    }
  }

 private:
  int count = 0;
};

// The text of an operand: `length` random digits 1 to 9, so that every digit
// takes part in the work, from a fixed seed. Operand 0 starts with 3 or 4 and
// operand 1 with 1 or 2: the first is the larger and their sum has no carry out
// of the top digit, so + and - take their common path and leave the left
// operand as it was.
std::string operandtext(int length, int which) {
  std::mt19937 random(static_cast<unsigned>(length * 2 + which));
  std::uniform_int_distribution<int> digit(1, 9);
  std::string text(static_cast<std::size_t>(length), '0');
  for (char& c : text) {
    c = static_cast<char>('0' + digit(random));
  }
  if (!text.empty()) {
    text.front() = static_cast<char>((which == 0 ? '3' : '1') + random() % 2);
  }
  return text;
}

fixedint operand(int length, int which) {
  const std::string text = operandtext(length, which);
  fixedint number(static_cast<unsigned long long>(length));
  for (std::size_t i = 0; i < text.size(); ++i) {
    number.digits[i] = static_cast<signed char>(text[text.size() - 1 - i] - '0');
  }
  return number;
}

// The log.

// A second thread, alive and idle while a benchmark runs: the log's lock
// must stay cheap in a program that has threads.
class idlethread {
 public:
  idlethread() : thread([this] {
                   std::unique_lock<std::mutex> lock(mutex);
                   wake.wait(lock, [this] { return done; });
                 }) {}
  idlethread(const idlethread&) = delete;
  idlethread& operator=(const idlethread&) = delete;
  ~idlethread() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      done = true;
    }
    wake.notify_one();
    thread.join();
  }

 private:
  std::mutex mutex;
  std::condition_variable wake;
  bool done = false;
  std::thread thread;
};

// The message is one the library writes with every fixedint it makes, in a
// std::string made once, as a caller holding it would pass it.
void BM_LogLine(benchmark::State& state) {
  const std::string message = "New fixedint object!";
  const idlethread other;
  clearlog(VELDAR::logstream);
  int count = 0;
  for (auto _ : state) {
    VELDAR::log(message);
    if (++count == clearevery) {
      count = 0;
      clearlog(VELDAR::logstream);
    }
  }
}
BENCHMARK(BM_LogLine);

// The same line as the library's own operations write it, from a string_view.
void BM_LogLineInternal(benchmark::State& state) {
  clearlog(VELDAR::logstream);
  int count = 0;
  for (auto _ : state) {
    VELDAR::detail::log_line("New fixedint object!");
    if (++count == clearevery) {
      count = 0;
      clearlog(VELDAR::logstream);
    }
  }
}
BENCHMARK(BM_LogLineInternal);

// The same finished line appended to a stream of its own: the floor for a log line.
void BM_BareAppend(benchmark::State& state) {
  const std::string line = "VELDAR [Mon Dec  7 07:08:24 2026]: New fixedint object!";
  const idlethread other;
  std::stringstream stream;
  int count = 0;
  for (auto _ : state) {
    stream << line << std::endl;
    if (++count == clearevery) {
      count = 0;
      clearlog(stream);
    }
  }
}
BENCHMARK(BM_BareAppend);

// fixedint, through the public operators at 8 to 10,000 digits.

template <typename operation>
void fixedintbenchmark(benchmark::State& state, operation op) {
  const int length = static_cast<int>(state.range(0));
  fixedint a = operand(length, 0);
  fixedint b = operand(length, 1);
  logtrimmer trimmer;
  for (auto _ : state) {
    benchmark::DoNotOptimize(op(a, b));
    trimmer.tick();
  }
  clearlog(VELDAR::logstream);
}

void BM_FixedintAdd(benchmark::State& state) {
  fixedintbenchmark(state, [](fixedint& a, fixedint& b) { return a + b; });
}
void BM_FixedintSubtract(benchmark::State& state) {
  fixedintbenchmark(state, [](fixedint& a, fixedint& b) { return a - b; });
}
void BM_FixedintMultiply(benchmark::State& state) {
  fixedintbenchmark(state, [](fixedint& a, fixedint& b) { return a * b; });
}
void BM_FixedintCompare(benchmark::State& state) {
  fixedintbenchmark(state, [](fixedint& a, fixedint& b) { return a < b; });
}
void BM_FixedintAsstring(benchmark::State& state) {
  fixedintbenchmark(state, [](fixedint& a, fixedint&) { return a.asstring(); });
}

#define VELDAR_LENGTHS Arg(8)->Arg(64)->Arg(1000)->Arg(10000)
BENCHMARK(BM_FixedintAdd)->VELDAR_LENGTHS;
BENCHMARK(BM_FixedintSubtract)->VELDAR_LENGTHS;
BENCHMARK(BM_FixedintMultiply)->VELDAR_LENGTHS;
BENCHMARK(BM_FixedintCompare)->VELDAR_LENGTHS;
BENCHMARK(BM_FixedintAsstring)->VELDAR_LENGTHS;

// fixedfloat at length 8.

void BM_FixedfloatConstruct(benchmark::State& state) {
  logtrimmer trimmer;
  for (auto _ : state) {
    fixedfloat number(8);
    benchmark::DoNotOptimize(number);
    trimmer.tick();
  }
  clearlog(VELDAR::logstream);
}
BENCHMARK(BM_FixedfloatConstruct);

void BM_FixedfloatAssignFloat(benchmark::State& state) {
  fixedfloat number(8);
  logtrimmer trimmer;
  for (auto _ : state) {
    number = 0.123F;
    benchmark::DoNotOptimize(number);
    trimmer.tick();
  }
  clearlog(VELDAR::logstream);
}
BENCHMARK(BM_FixedfloatAssignFloat);

void BM_FixedfloatMultiply(benchmark::State& state) {
  fixedfloat x(8);
  fixedfloat y(8);
  x = 78.9F;
  y = -0.123F;
  logtrimmer trimmer;
  for (auto _ : state) {
    benchmark::DoNotOptimize(x * y);
    trimmer.tick();
  }
  clearlog(VELDAR::logstream);
}
BENCHMARK(BM_FixedfloatMultiply);

void BM_FixedfloatAsstring(benchmark::State& state) {
  fixedfloat x(8);
  x = 78.9F;
  logtrimmer trimmer;
  for (auto _ : state) {
    benchmark::DoNotOptimize(x.asstring());
    trimmer.tick();
  }
  clearlog(VELDAR::logstream);
}
BENCHMARK(BM_FixedfloatAsstring);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  constexpr std::string_view flag = "--operands=";
  if (argc == 2 && std::string_view(argv[1]).substr(0, flag.size()) == flag) {
    const int length = std::stoi(argv[1] + flag.size());
    std::cout << operandtext(length, 0) << '\n' << operandtext(length, 1) << '\n';
    return 0;
  }
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
