// Benchmarks of the log, fixedint and fixedfloat through their public
// operations, temporaries and log lines included.
//
// Every operation writes its transcript into VELDAR::logstream, which the
// benchmarks never empty: the log stays at the library's defaults (its
// newest 64 MiB of text kept), as in a program that runs for a long time.
//
// Each operation's benchmark reports, as a counter per iteration, the page
// faults it took (minor faults of its thread). BM_LogMemory reports the
// memory the log's records take per operation, BM_LogRender and
// BM_ReportRender the text they render a second.
//
//   veldar-bench --operands=N            prints the two N-digit operands of the
//                                        fixedint benchmarks, one per line.
//   veldar-bench --quotient-operands=N   prints the 2N-digit dividend and the
//                                        N-digit divisor of BM_FixedintDivide/N.
//   veldar-bench --fixedfloat-operands=N prints the two numbers of length N of
//                                        BM_FixedfloatMultiplyRandom/N.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
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

#include "log_render.h"
#include "log_store.h"

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;

long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_minflt;
}

// Page faults of this thread over a benchmark's loop, reported per iteration.
class fault_count {
 public:
  fault_count() : start(minor_faults()) {}
  void report(benchmark::State& state) const {
    state.counters["faults"] =
        benchmark::Counter(static_cast<double>(minor_faults() - start), benchmark::Counter::kAvgIterations);
  }

 private:
  long start;
};

// Runs `op` in the benchmark loop, the log as it is: one untimed call first
// warms the heap up.
template <typename operation>
void operation_loop(benchmark::State& state, operation&& op) {
  benchmark::DoNotOptimize(op());
  const fault_count faults;
  for (auto _ : state) {
    benchmark::DoNotOptimize(op());
  }
  faults.report(state);
}

// Operands.

// The text of an operand: `length` random digits 1 to 9, so that every digit
// takes part in the work, from a fixed seed. Operand 0 starts with 3 or 4 and
// operand 1 with 1 or 2: the first is the larger and their sum has no carry out
// of the top digit, so + and - take their common path and leave the left
// operand as it was.
std::string operand_text(int length, int which) {
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
fixedint number_of(const std::string& text, int length) {
  fixedint number(static_cast<unsigned long long>(length));
  for (std::size_t i = 0; i < text.size(); ++i) {
    number.digits[i] = static_cast<signed char>(text[text.size() - 1 - i] - '0');
  }
  return number;
}

fixedint operand(int length, int which) { return number_of(operand_text(length, which), length); }

// Division: a dividend of 2n digits and a divisor of n digits, both at length 2n.
std::string dividend_text(int n) { return operand_text(2 * n, 0); }
std::string divisor_text(int n) { return operand_text(n, 1); }

// A fixed-point text of `length` digits, all of them used: operand `which`'s
// digits with the point in the middle, negative for operand 1.
std::string fixedfloat_text(int length, int which) {
  std::string text = operand_text(length, which);
  text.insert(text.size() / 2, ".");
  return which == 1 ? "-" + text : text;
}

// The log.

// A second thread, alive and idle while a benchmark runs: the log's lock
// must stay cheap in a program that has threads.
class idle_thread {
 public:
  idle_thread()
      : thread([this] {
          std::unique_lock<std::mutex> lock(mutex);
          wake.wait(lock, [this] { return done; });
        }) {}
  idle_thread(const idle_thread&) = delete;
  idle_thread& operator=(const idle_thread&) = delete;
  ~idle_thread() {
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
  const idle_thread other;
  const fault_count faults;
  for (auto _ : state) {
    VELDAR::log(message);
  }
  faults.report(state);
}
BENCHMARK(BM_LogLine);

// The same finished line appended to a stream of its own, emptied every
// 1,024 lines: the floor for a log line kept as text.
void BM_BareAppend(benchmark::State& state) {
  const std::string line = "VELDAR [Mon Dec  7 07:08:24 2026]: New fixedint object!";
  const idle_thread other;
  std::stringstream stream;
  const fault_count faults;
  int count = 0;
  for (auto _ : state) {
    stream << line << std::endl;
    if (++count == 1024) {
      count = 0;
      stream.str("");
    }
  }
  faults.report(state);
}
BENCHMARK(BM_BareAppend);

// The memory the log's records take per operation, whatever the length of
// its transcript: from an empty log with no limit, the memory of the blocks
// holding the records of `count` operations, and their text, per operation. Then the
// log is back at its defaults and as empty as before.
template <typename operation>
void log_memory(benchmark::State& state, operation op) {
  constexpr int count = 100000;
  auto& store = VELDAR::detail::the_log_store();
  VELDAR::setup();
  VELDAR::setloglimit(0);
  double memory = 0;
  double text = 0;
  for (auto _ : state) {
    state.PauseTiming();
    VELDAR::logstream.str("");
    state.ResumeTiming();
    for (int i = 0; i < count; ++i) {
      op();
    }
    const auto measured = store.measure();
    memory = static_cast<double>(measured.memory);
    text = static_cast<double>(measured.bytes);
  }
  VELDAR::logstream.str("");
  VELDAR::setloglimit(64U << 20U);
  state.counters["memory_per_op"] = memory / count;
  state.counters["text_per_op"] = text / count;
}

void BM_LogMemory(benchmark::State& state) {
  fixedint a = operand(8, 0);
  fixedint b = operand(8, 1);
  fixedfloat x(8);
  fixedfloat y(8);
  x = "78.9";
  y = "-0.123";
  fixedfloat price(24);
  fixedfloat huge(2000000);
  switch (state.range(0)) {
    case 0:  // fixedint + at 8 digits, with its argument and result going
      log_memory(state, [&] { benchmark::DoNotOptimize(a + b); });
      break;
    case 1:  // fixedint * at 8 digits
      log_memory(state, [&] { benchmark::DoNotOptimize(a * b); });
      break;
    case 2:  // fixedfloat * at length 8: 39 lines, and 4 for its argument and result going
      log_memory(state, [&] { benchmark::DoNotOptimize(x * y); });
      break;
    case 3:  // price = "1234.56" at length 24: 149 lines
      log_memory(state, [&] { benchmark::DoNotOptimize(price = std::string("1234.56")); });
      break;
    default:  // = "1.5" at length 2,000,000: 11 million lines, a thousand times
      state.counters["note"] = 0;
      log_memory(state, [&] {
        static int calls = 0;
        if (calls++ % 100 == 0) {
          huge = std::string("1.5");
        } else {
          benchmark::DoNotOptimize(a + b);
        }
      });
      break;
  }
}
BENCHMARK(BM_LogMemory)->DenseRange(0, 4)->Iterations(1)->Unit(benchmark::kMillisecond);

// Gathers what it is given in a buffer on the stack and writes it to
// /dev/null whenever the buffer fills, as the terminate handler writes its
// report; counts the bytes.
class discarding_sink final : public VELDAR::detail::text_sink {
 public:
  discarding_sink() : descriptor(::open("/dev/null", O_WRONLY | O_CLOEXEC)) {}
  discarding_sink(const discarding_sink&) = delete;
  discarding_sink& operator=(const discarding_sink&) = delete;
  ~discarding_sink() { ::close(descriptor); }
  bool put(std::string_view piece) noexcept override {
    bytes += piece.size();
    while (!piece.empty()) {
      if (used == buffer.size()) {
        flush();
      }
      const std::size_t count = std::min(piece.size(), buffer.size() - used);
      std::copy_n(piece.data(), count, buffer.data() + used);
      used += count;
      piece.remove_prefix(count);
    }
    return true;
  }
  void flush() noexcept {
    if (::write(descriptor, buffer.data(), used) < 0) {
      bytes = 0;
    }
    used = 0;
  }
  std::size_t bytes = 0;

 private:
  int descriptor;
  std::array<char, 16384> buffer{};
  std::size_t used = 0;
};

// A log of operations of every kind, 64 MiB of text: the ledger's >> and +,
// fixedint and fixedfloat * at 8 digits, and VELDAR::log() messages.
void fill_log() {
  VELDAR::logstream.str("");
  fixedint a = operand(8, 0);
  fixedint b = operand(8, 1);
  fixedfloat x(8);
  fixedfloat y(8);
  fixedfloat price(24);
  fixedfloat total(24);
  x = "78.9";
  y = "-0.123";
  const std::string message = "a message of the program's own";
  while (VELDAR::logstream.tellp() < (std::streamoff{60} << 20)) {
    for (int i = 0; i < 100; ++i) {
      price = std::to_string(i) + ".25";
      total = total + price;
      benchmark::DoNotOptimize(a * b);
      benchmark::DoNotOptimize(x * y);
    }
    VELDAR::log(message);
  }
}

// str(): the whole text of a log of 60 MiB, as a string.
void BM_LogRender(benchmark::State& state) {
  fill_log();
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = VELDAR::logstream.str();
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
  VELDAR::logstream.str("");
}
BENCHMARK(BM_LogRender)->Unit(benchmark::kMillisecond);

// The report's way: the same text rendered piece by piece, as the
// terminate handler renders it into its buffer.
void BM_ReportRender(benchmark::State& state) {
  fill_log();
  auto& store = VELDAR::detail::the_log_store();
  std::size_t bytes = 0;
  for (auto _ : state) {
    discarding_sink sink;
    store.lock_within(std::chrono::seconds(1));
    store.render_locked(sink);
    store.unlock();
    sink.flush();
    bytes = sink.bytes;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
  VELDAR::logstream.str("");
}
BENCHMARK(BM_ReportRender)->Unit(benchmark::kMillisecond);

// fixedint, through the public operators from 8 to 1,000,000 digits.

// One iteration's work: `op` on the two operands of `length` digits.
template <typename operation>
auto fixedint_operation(int length, operation op) {
  return [a = operand(length, 0), b = operand(length, 1), op]() mutable { return op(a, b); };
}

template <typename operation>
void fixedint_benchmark(benchmark::State& state, operation op) {
  operation_loop(state, fixedint_operation(static_cast<int>(state.range(0)), op));
}

const auto add = [](fixedint& a, fixedint& b) { return a + b; };
const auto subtract = [](fixedint& a, fixedint& b) { return a - b; };
const auto multiply = [](fixedint& a, fixedint& b) { return a * b; };

void BM_FixedintAdd(benchmark::State& state) { fixedint_benchmark(state, add); }
void BM_FixedintSubtract(benchmark::State& state) { fixedint_benchmark(state, subtract); }
void BM_FixedintMultiply(benchmark::State& state) { fixedint_benchmark(state, multiply); }
void BM_FixedintCompare(benchmark::State& state) {
  fixedint_benchmark(state, [](fixedint& a, fixedint& b) { return a < b; });
}
void BM_FixedintAsstring(benchmark::State& state) {
  fixedint_benchmark(state, [](fixedint& a, fixedint&) { return a.asstring(); });
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
  fixedint a = number_of(operand_text(n, 0), 2 * n);
  fixedint b = number_of(operand_text(n, 1), 2 * n);
  operation_loop(state, [&] { return a * b; });
}
BENCHMARK(BM_FixedintMultiplyFull)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);

// + and - at 1,000,000 digits for each sign case: the second argument's bit 0
// makes the left operand negative, bit 1 the right one.
template <typename operation>
void signed_benchmark(benchmark::State& state, operation op) {
  const int length = static_cast<int>(state.range(0));
  const auto signs = state.range(1);
  fixedint a = operand(length, 0);
  fixedint b = operand(length, 1);
  a.negative = (signs & 1) != 0;
  b.negative = (signs & 2) != 0;
  operation_loop(state, [&] { return op(a, b); });
}
void BM_FixedintAddSigned(benchmark::State& state) { signed_benchmark(state, add); }
void BM_FixedintSubtractSigned(benchmark::State& state) { signed_benchmark(state, subtract); }
BENCHMARK(BM_FixedintAddSigned)->ArgsProduct({{1000000}, {0, 1, 2, 3}});
BENCHMARK(BM_FixedintSubtractSigned)->ArgsProduct({{1000000}, {0, 1, 2, 3}});
BENCHMARK(BM_FixedintAsstring)->VELDAR_LENGTHS;

// A 2n-digit dividend by an n-digit divisor, at length 2n.
void BM_FixedintDivide(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  fixedint a = number_of(dividend_text(n), 2 * n);
  fixedint b = number_of(divisor_text(n), 2 * n);
  operation_loop(state, [&] { return a / b; });
}
BENCHMARK(BM_FixedintDivide)->Arg(8)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);

// fixedfloat(length) = "2", then sqrt(): at length 200,000 the 100,001
// digits of sqrt(2) that Python's Decimal(2).sqrt() gives at precision
// 100,001 (bench/compare times both), rounded half to even, log included.
void BM_FixedfloatSquareRoot(benchmark::State& state) {
  VELDAR::fixedfloat two(static_cast<unsigned long long>(state.range(0)));
  two = "2";
  operation_loop(state, [&] { return two.sqrt(); });
}
BENCHMARK(BM_FixedfloatSquareRoot)->Arg(200000)->Unit(benchmark::kMillisecond);

#if defined(VELDAR_BENCH_GMP)
// GMP, the yardstick of the large products and quotients, on the same
// operands read from their decimal text.
class gmp_number {
 public:
  explicit gmp_number(const std::string& text) { mpz_init_set_str(value, text.c_str(), 10); }
  gmp_number() { mpz_init(value); }
  gmp_number(const gmp_number&) = delete;
  gmp_number& operator=(const gmp_number&) = delete;
  ~gmp_number() { mpz_clear(value); }
  mpz_t value;
};

// mpz_mul of the two n-digit operands into a number kept from call to call.
void BM_GmpMultiply(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  const gmp_number a(operand_text(length, 0));
  const gmp_number b(operand_text(length, 1));
  gmp_number product;
  mpz_mul(product.value, a.value, b.value);
  const fault_count faults;
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
  const gmp_number a(dividend_text(n));
  const gmp_number b(divisor_text(n));
  gmp_number quotient;
  mpz_tdiv_q(quotient.value, a.value, b.value);
  const fault_count faults;
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
  operation_loop(state, [length] { return fixedfloat(length); });
}
BENCHMARK(BM_FixedfloatConstruct)->Arg(8);

void BM_FixedfloatAssignFloat(benchmark::State& state) {
  fixedfloat number(static_cast<unsigned long long>(state.range(0)));
  operation_loop(state, [&number]() -> fixedfloat& { return number = 0.123F; });
}
BENCHMARK(BM_FixedfloatAssignFloat)->Arg(8)->Arg(10000);

// 78.9 * -0.123: few significant digits at any length.
auto fixedfloat_multiplication(int length) {
  fixedfloat x(static_cast<unsigned long long>(length));
  fixedfloat y(static_cast<unsigned long long>(length));
  x = 78.9F;
  y = -0.123F;
  return [x, y]() mutable { return x * y; };
}
void BM_FixedfloatMultiply(benchmark::State& state) {
  operation_loop(state, fixedfloat_multiplication(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_FixedfloatMultiply)->Arg(8)->Arg(10000);

// 78.9 + -0.123.
void BM_FixedfloatAdd(benchmark::State& state) {
  const auto length = static_cast<unsigned long long>(state.range(0));
  fixedfloat x(length);
  fixedfloat y(length);
  x = "78.9";
  y = "-0.123";
  operation_loop(state, [&] { return x + y; });
}
BENCHMARK(BM_FixedfloatAdd)->Arg(8);

// Two numbers with every digit used (fixedfloat_text()).
void BM_FixedfloatMultiplyRandom(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  fixedfloat x(static_cast<unsigned long long>(length));
  fixedfloat y(static_cast<unsigned long long>(length));
  x = fixedfloat_text(length, 0);
  y = fixedfloat_text(length, 1);
  operation_loop(state, [&] { return x * y; });
}
BENCHMARK(BM_FixedfloatMultiplyRandom)->Arg(10000);

void BM_FixedfloatAsstring(benchmark::State& state) {
  fixedfloat x(static_cast<unsigned long long>(state.range(0)));
  x = 78.9F;
  operation_loop(state, [&x] { return x.asstring(); });
}
BENCHMARK(BM_FixedfloatAsstring)->Arg(8);

// The value of `--name=value` in `argument`, if it is that flag.
std::optional<std::string_view> flag_value(std::string_view argument, std::string_view name) {
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
    if (const auto value = flag_value(argument, "operands")) {
      const int length = std::stoi(std::string(*value));
      std::cout << operand_text(length, 0) << '\n' << operand_text(length, 1) << '\n';
      return 0;
    }
    if (const auto value = flag_value(argument, "quotient-operands")) {
      const int n = std::stoi(std::string(*value));
      std::cout << dividend_text(n) << '\n' << divisor_text(n) << '\n';
      return 0;
    }
    if (const auto value = flag_value(argument, "fixedfloat-operands")) {
      const int length = std::stoi(std::string(*value));
      std::cout << fixedfloat_text(length, 0) << '\n' << fixedfloat_text(length, 1) << '\n';
      return 0;
    }
    argv[kept++] = argv[i];
  }
  argc = kept;
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
