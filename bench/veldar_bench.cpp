// Benchmarks of the log, fixedint and fixedfloat through their public
// operations, temporaries and log lines included.
//
// Every operation appends lines to VELDAR::logstream. Most benchmarks empty it
// every `clearevery` iterations (sooner for operations that log megabytes), so
// that its memory is used over and over; the emptying is timed with the loop
// (well under a nanosecond per iteration), and the log benchmarks empty their
// own streams at the same rate to stay comparable.
//
// A program that never empties its log pays more: every byte of a line lands
// in memory that the process touches for the first time. The "KeptLog"
// benchmarks measure that case: each repetition starts from an empty log and a
// heap whose free memory went back to the system, then runs a fixed number of
// iterations without emptying, so that the log grows by about `keptlogbytes`
// bytes and no more. Their yardstick is the "LogBytes" pair: copying the same
// number of bytes per iteration into fresh memory and into memory used before.
//
// Each operation's benchmark reports, as counters per iteration, the page
// faults it took (minor faults of its thread) and, for the kept log, the log
// bytes it wrote.
//
//   veldar-bench --operands=N            prints the two N-digit operands of the
//                                        fixedint benchmarks, one per line.
//   veldar-bench --quotient-operands=N   prints the 2N-digit dividend and the
//                                        N-digit divisor of BM_FixedintDivide/N.
//   veldar-bench --fixedfloat-operands=N prints the two numbers of length N of
//                                        BM_FixedfloatMultiplyRandom/N.
//   veldar-bench --kept-log-bytes=B      lets each kept-log repetition write
//                                        about B bytes of log (default 64 MiB).
#include <benchmark/benchmark.h>

#include <sys/mman.h>
#include <sys/resource.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <veldar/diagnostics.h>
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>

#if defined(VELDAR_BENCH_GMP)
#include <gmp.h>
#endif

#include "log_line.h"

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;

constexpr int clearevery = 1024;
std::size_t keptlogbytes = std::size_t{64} << 20U;

template <typename logtype>
void clearlog(logtype& stream) {
  stream.str("");
  stream.clear();
}

// Hands the heap's free memory back to the system, so that what is allocated
// next is touched for the first time, as a growing log's memory is.
void releasefreememory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

long minorfaults() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_minflt;
}

// Page faults of this thread over a benchmark's loop, reported per iteration.
class faultcount {
 public:
  faultcount() : start(minorfaults()) {}
  void report(benchmark::State& state) const {
    state.counters["faults"] =
        benchmark::Counter(static_cast<double>(minorfaults() - start), benchmark::Counter::kAvgIterations);
  }

 private:
  long start;
};

// How the module log is treated while an operation runs.
enum class logmode {
  emptied,  // emptied every `clearevery` iterations (or more often, see below), timed with the loop
  kept,     // never emptied within the loop; emptied, and the heap trimmed, before it
};

// An emptied log holds at most about this much between two emptyings: an
// operation that logs more than this over `clearevery` iterations (fixedfloat
// assignment at 10,000 digits writes 3 MB a call) has its log emptied more
// often, so that its memory is used again rather than grown.
constexpr std::size_t emptiedlogbytes = std::size_t{4} << 20U;

// Runs `op` in the benchmark loop under `mode`. One untimed call first tells
// how much it logs, and warms the heap up; the log starts empty and is
// emptied once the loop is done, outside the timing.
template <typename operation>
void operationloop(benchmark::State& state, logmode mode, operation&& op) {
  clearlog(VELDAR::logstream);
  benchmark::DoNotOptimize(op());
  const auto logged = static_cast<std::size_t>(std::max<std::streamoff>(VELDAR::logstream.tellp(), 1));
  const int emptyevery = static_cast<int>(std::clamp<std::size_t>(emptiedlogbytes / logged, 1, clearevery));
  clearlog(VELDAR::logstream);
  if (mode == logmode::kept) {
    releasefreememory();
  }
  const faultcount faults;
  int count = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(op());
    if (mode == logmode::emptied && ++count == emptyevery) {
      count = 0;
      clearlog(VELDAR::logstream);
    }
  }
  faults.report(state);
  if (mode == logmode::kept) {
    state.counters["log_bytes"] = benchmark::Counter(static_cast<double>(VELDAR::logstream.tellp()),
                                                     benchmark::Counter::kAvgIterations);
  }
  clearlog(VELDAR::logstream);
}

// Operands.

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

// The decimal digits of `text` in a fixedint of `length` digits.
fixedint numberof(const std::string& text, int length) {
  fixedint number(static_cast<unsigned long long>(length));
  for (std::size_t i = 0; i < text.size(); ++i) {
    number.digits[i] = static_cast<signed char>(text[text.size() - 1 - i] - '0');
  }
  return number;
}

fixedint operand(int length, int which) { return numberof(operandtext(length, which), length); }

// Division: a dividend of 2n digits and a divisor of n digits, both at length 2n.
std::string dividendtext(int n) { return operandtext(2 * n, 0); }
std::string divisortext(int n) { return operandtext(n, 1); }

// A fixed-point text of `length` digits, all of them used: operand `which`'s
// digits with the point in the middle, negative for operand 1.
std::string fixedfloattext(int length, int which) {
  std::string text = operandtext(length, which);
  text.insert(text.size() / 2, ".");
  return which == 1 ? "-" + text : text;
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
  const faultcount faults;
  int count = 0;
  for (auto _ : state) {
    VELDAR::log(message);
    if (++count == clearevery) {
      count = 0;
      clearlog(VELDAR::logstream);
    }
  }
  faults.report(state);
  clearlog(VELDAR::logstream);
}
BENCHMARK(BM_LogLine);

// The same line as the library's own operations write it, from a string_view.
void BM_LogLineInternal(benchmark::State& state) {
  const idlethread other;
  clearlog(VELDAR::logstream);
  const faultcount faults;
  int count = 0;
  for (auto _ : state) {
    VELDAR::detail::log_line("New fixedint object!");
    if (++count == clearevery) {
      count = 0;
      clearlog(VELDAR::logstream);
    }
  }
  faults.report(state);
  clearlog(VELDAR::logstream);
}
BENCHMARK(BM_LogLineInternal);

// The same finished line appended to a stream of its own: the floor for a log line.
void BM_BareAppend(benchmark::State& state) {
  const std::string line = "VELDAR [Mon Dec  7 07:08:24 2026]: New fixedint object!";
  const idlethread other;
  std::stringstream stream;
  const faultcount faults;
  int count = 0;
  for (auto _ : state) {
    stream << line << std::endl;
    if (++count == clearevery) {
      count = 0;
      clearlog(stream);
    }
  }
  faults.report(state);
}
BENCHMARK(BM_BareAppend);

// fixedint, through the public operators from 8 to 1,000,000 digits.

// One iteration's work: `op` on the two operands of `length` digits.
template <typename operation>
auto fixedintoperation(int length, operation op) {
  return [a = operand(length, 0), b = operand(length, 1), op]() mutable { return op(a, b); };
}

template <typename operation>
void fixedintbenchmark(benchmark::State& state, operation op) {
  operationloop(state, logmode::emptied, fixedintoperation(static_cast<int>(state.range(0)), op));
}

const auto add = [](fixedint& a, fixedint& b) { return a + b; };
const auto subtract = [](fixedint& a, fixedint& b) { return a - b; };
const auto multiply = [](fixedint& a, fixedint& b) { return a * b; };

void BM_FixedintAdd(benchmark::State& state) { fixedintbenchmark(state, add); }
void BM_FixedintSubtract(benchmark::State& state) { fixedintbenchmark(state, subtract); }
void BM_FixedintMultiply(benchmark::State& state) { fixedintbenchmark(state, multiply); }
void BM_FixedintCompare(benchmark::State& state) {
  fixedintbenchmark(state, [](fixedint& a, fixedint& b) { return a < b; });
}
void BM_FixedintAsstring(benchmark::State& state) {
  fixedintbenchmark(state, [](fixedint& a, fixedint&) { return a.asstring(); });
}

#define VELDAR_LENGTHS Arg(8)->Arg(64)->Arg(1000)->Arg(10000)
BENCHMARK(BM_FixedintAdd)->VELDAR_LENGTHS->Arg(1000000);
BENCHMARK(BM_FixedintSubtract)->VELDAR_LENGTHS->Arg(1000000);
BENCHMARK(BM_FixedintMultiply)->VELDAR_LENGTHS->Arg(100000)->Arg(1000000);
BENCHMARK(BM_FixedintCompare)->VELDAR_LENGTHS;

// The full product of two n-digit operands at length 2n, the product GMP's
// mpz_mul makes.
void BM_FixedintMultiplyFull(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  fixedint a = numberof(operandtext(n, 0), 2 * n);
  fixedint b = numberof(operandtext(n, 1), 2 * n);
  operationloop(state, logmode::emptied, [&] { return a * b; });
}
BENCHMARK(BM_FixedintMultiplyFull)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);

// + and - at 1,000,000 digits for each sign case: the second argument's bit 0
// makes the left operand negative, bit 1 the right one.
template <typename operation>
void signedbenchmark(benchmark::State& state, operation op) {
  const int length = static_cast<int>(state.range(0));
  const auto signs = state.range(1);
  fixedint a = operand(length, 0);
  fixedint b = operand(length, 1);
  a.negative = (signs & 1) != 0;
  b.negative = (signs & 2) != 0;
  operationloop(state, logmode::emptied, [&] { return op(a, b); });
}
void BM_FixedintAddSigned(benchmark::State& state) { signedbenchmark(state, add); }
void BM_FixedintSubtractSigned(benchmark::State& state) { signedbenchmark(state, subtract); }
BENCHMARK(BM_FixedintAddSigned)->ArgsProduct({{1000000}, {0, 1, 2, 3}});
BENCHMARK(BM_FixedintSubtractSigned)->ArgsProduct({{1000000}, {0, 1, 2, 3}});
BENCHMARK(BM_FixedintAsstring)->VELDAR_LENGTHS;

// A 2n-digit dividend by an n-digit divisor, at length 2n.
void BM_FixedintDivide(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  fixedint a = numberof(dividendtext(n), 2 * n);
  fixedint b = numberof(divisortext(n), 2 * n);
  operationloop(state, logmode::emptied, [&] { return a / b; });
}
BENCHMARK(BM_FixedintDivide)->Arg(8)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);

#if defined(VELDAR_BENCH_GMP)
// GMP, the yardstick of the large products and quotients, on the same
// operands read from their decimal text.
class gmpnumber {
 public:
  explicit gmpnumber(const std::string& text) { mpz_init_set_str(value, text.c_str(), 10); }
  gmpnumber() { mpz_init(value); }
  gmpnumber(const gmpnumber&) = delete;
  gmpnumber& operator=(const gmpnumber&) = delete;
  ~gmpnumber() { mpz_clear(value); }
  mpz_t value;
};

// mpz_mul of the two n-digit operands into a number kept from call to call.
void BM_GmpMultiply(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  const gmpnumber a(operandtext(length, 0));
  const gmpnumber b(operandtext(length, 1));
  gmpnumber product;
  mpz_mul(product.value, a.value, b.value);
  const faultcount faults;
  for (auto _ : state) {
    mpz_mul(product.value, a.value, b.value);
    benchmark::DoNotOptimize(product.value[0]._mp_d);
  }
  faults.report(state);
}
BENCHMARK(BM_GmpMultiply)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);

// mpz_tdiv_q of the 2n-digit dividend by the n-digit divisor.
void BM_GmpDivide(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const gmpnumber a(dividendtext(n));
  const gmpnumber b(divisortext(n));
  gmpnumber quotient;
  mpz_tdiv_q(quotient.value, a.value, b.value);
  const faultcount faults;
  for (auto _ : state) {
    mpz_tdiv_q(quotient.value, a.value, b.value);
    benchmark::DoNotOptimize(quotient.value[0]._mp_d);
  }
  faults.report(state);
}
BENCHMARK(BM_GmpDivide)->Arg(10000)->Arg(100000)->Arg(1000000);
#endif

// fixedfloat at length 8 and 10,000.

void BM_FixedfloatConstruct(benchmark::State& state) {
  const auto length = static_cast<unsigned long long>(state.range(0));
  operationloop(state, logmode::emptied, [length] { return fixedfloat(length); });
}
BENCHMARK(BM_FixedfloatConstruct)->Arg(8);

void BM_FixedfloatAssignFloat(benchmark::State& state) {
  fixedfloat number(static_cast<unsigned long long>(state.range(0)));
  operationloop(state, logmode::emptied, [&number]() -> fixedfloat& { return number = 0.123F; });
}
BENCHMARK(BM_FixedfloatAssignFloat)->Arg(8)->Arg(10000);

// 78.9 * -0.123: few significant digits at any length.
auto fixedfloatmultiplication(int length) {
  fixedfloat x(static_cast<unsigned long long>(length));
  fixedfloat y(static_cast<unsigned long long>(length));
  x = 78.9F;
  y = -0.123F;
  return [x, y]() mutable { return x * y; };
}
void BM_FixedfloatMultiply(benchmark::State& state) {
  operationloop(state, logmode::emptied, fixedfloatmultiplication(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_FixedfloatMultiply)->Arg(8)->Arg(10000);

// Two numbers with every digit used (fixedfloattext()).
void BM_FixedfloatMultiplyRandom(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  fixedfloat x(static_cast<unsigned long long>(length));
  fixedfloat y(static_cast<unsigned long long>(length));
  x = fixedfloattext(length, 0);
  y = fixedfloattext(length, 1);
  operationloop(state, logmode::emptied, [&] { return x * y; });
}
BENCHMARK(BM_FixedfloatMultiplyRandom)->Arg(10000);

void BM_FixedfloatAsstring(benchmark::State& state) {
  fixedfloat x(static_cast<unsigned long long>(state.range(0)));
  x = 78.9F;
  operationloop(state, logmode::emptied, [&x] { return x.asstring(); });
}
BENCHMARK(BM_FixedfloatAsstring)->Arg(8);

// A log that is never emptied: the operations above at 8 digits, registered
// from main() once their log bytes per iteration are known.

// Copies `bytes` bytes per iteration into a mapping no one has touched yet, as
// a log that is never emptied writes its lines into new memory; the mapping
// has room for every iteration, and the first write to each page faults it in.
void logbytesfresh(benchmark::State& state, std::size_t bytes) {
  const std::string text(bytes, 'x');
  const auto size = static_cast<std::size_t>(state.max_iterations) * bytes;
  void* const mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    state.SkipWithError("mmap failed");
    return;
  }
  char* out = static_cast<char*>(mapping);
  const faultcount faults;
  for (auto _ : state) {
    std::memcpy(out, text.data(), bytes);
    benchmark::ClobberMemory();
    out += bytes;
  }
  faults.report(state);
  munmap(mapping, size);
}

// The same copies into memory written before, `clearevery` iterations' worth
// used over and over, as an emptied log's memory is meant to be.
void logbytesreused(benchmark::State& state, std::size_t bytes) {
  const std::string text(bytes, 'x');
  std::vector<char> area(bytes * clearevery, 'y');
  char* out = area.data();
  int count = 0;
  const faultcount faults;
  for (auto _ : state) {
    std::memcpy(out, text.data(), bytes);
    benchmark::ClobberMemory();
    out += bytes;
    if (++count == clearevery) {
      count = 0;
      out = area.data();
    }
  }
  faults.report(state);
}

// Log bytes one call of `op` writes, from a short run after a warm-up.
template <typename operation>
std::size_t logbytesper(operation op) {
  constexpr int warmup = 16;
  constexpr int runs = 256;
  for (int i = 0; i < warmup; ++i) {
    benchmark::DoNotOptimize(op());
  }
  clearlog(VELDAR::logstream);
  const std::streamoff start = VELDAR::logstream.tellp();
  for (int i = 0; i < runs; ++i) {
    benchmark::DoNotOptimize(op());
  }
  const std::streamoff written = VELDAR::logstream.tellp() - start;
  clearlog(VELDAR::logstream);
  return static_cast<std::size_t>(std::max<std::streamoff>(written / runs, 1));
}

// Registers BM_KeptLog<name>/8, the operation `make()` gives with a log never
// emptied, and BM_LogBytesFresh<name> and BM_LogBytesReused<name>, copies of
// its log bytes per iteration; all three run the same fixed number of
// iterations, as many as fill about `keptlogbytes` of log.
template <typename maker>
void registerkept(const std::string& name, maker make) {
  const std::size_t bytes = logbytesper(make());
  const auto iterations = static_cast<benchmark::IterationCount>(std::max<std::size_t>(keptlogbytes / bytes, 1000));
  benchmark::RegisterBenchmark(("BM_KeptLog" + name + "/8").c_str(),
                               [make](benchmark::State& state) { operationloop(state, logmode::kept, make()); })
      ->Iterations(iterations);
  benchmark::RegisterBenchmark(("BM_LogBytesFresh" + name).c_str(), logbytesfresh, bytes)->Iterations(iterations);
  benchmark::RegisterBenchmark(("BM_LogBytesReused" + name).c_str(), logbytesreused, bytes)->Iterations(iterations);
}

// The value of `--name=value` in `argument`, if it is that flag.
std::optional<std::string_view> flagvalue(std::string_view argument, std::string_view name) {
  if (argument.substr(0, 2) != "--" || argument.substr(2, name.size()) != name ||
      argument.substr(2 + name.size(), 1) != "=") {
    return std::nullopt;
  }
  return argument.substr(3 + name.size());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // The program's own flags; the rest is Google Benchmark's.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (const auto value = flagvalue(argument, "operands")) {
      const int length = std::stoi(std::string(*value));
      std::cout << operandtext(length, 0) << '\n' << operandtext(length, 1) << '\n';
      return 0;
    }
    if (const auto value = flagvalue(argument, "quotient-operands")) {
      const int n = std::stoi(std::string(*value));
      std::cout << dividendtext(n) << '\n' << divisortext(n) << '\n';
      return 0;
    }
    if (const auto value = flagvalue(argument, "fixedfloat-operands")) {
      const int length = std::stoi(std::string(*value));
      std::cout << fixedfloattext(length, 0) << '\n' << fixedfloattext(length, 1) << '\n';
      return 0;
    }
    if (const auto value = flagvalue(argument, "kept-log-bytes")) {
      keptlogbytes = std::stoull(std::string(*value));
      continue;
    }
    argv[kept++] = argv[i];
  }
  argc = kept;
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  registerkept("FixedintMultiply", [] { return fixedintoperation(8, multiply); });
  registerkept("FixedintAdd", [] { return fixedintoperation(8, add); });
  registerkept("FixedfloatMultiply", [] { return fixedfloatmultiplication(8); });
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
