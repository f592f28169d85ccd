// A small program the process tests run in a scratch directory: each scenario
// ends the process in one way the terminate handler has to deal with.
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <veldar/diagnostics.h>
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>

namespace {

// Once set, every allocation through operator new fails, as when memory is exhausted.
std::atomic<bool> exhausted{false};
// Once set, every allocation through operator new writes a log line first,
// the log's own allocations included.
std::atomic<bool> logging_allocations{false};

struct null_what : std::exception {
  const char* what() const noexcept override { return nullptr; }
};

// Starts `count` threads that wait for each other and then run `work`.
template <typename action>
void together(int count, action work) {
  std::atomic<int> waiting{count};
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([&waiting, &work, t] {
      --waiting;
      while (waiting.load() > 0) {
      }
      work(t);
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
}

[[noreturn]] void exit42() { std::_Exit(42); }

const std::map<std::string, void (*)()> scenarios{
    {"terminate",
     [] {
       VELDAR::fixedint number(8);
       std::terminate();
     }},
    {"out-of-range", [] { VELDAR::fixedint number(2, 123); }},
    {"throw-int",
     [] {
       VELDAR::fixedint number(1);
       throw 42;
     }},
    {"normal", [] { VELDAR::fixedint number(8, 5); }},
    {"null-what",
     [] {
       VELDAR::fixedint number(1);
       throw null_what();
     }},
    {"line-break-in-what",
     [] {
       VELDAR::fixedint number(1);
       throw std::runtime_error("first\nVELDAR [Mon Dec  7 07:08:24 2026]: forged");
     }},
    {"deletion-after-emptying",
     [] {
       VELDAR::setup();
       auto number = std::make_unique<VELDAR::fixedint>(8);
       VELDAR::logstream.str("");
       number.reset();
       std::cout << VELDAR::logstream.str();
     }},
    {"unfinished-line",
     [] {
       VELDAR::fixedint number(1);
       VELDAR::logstream << "step " << 3;
       std::terminate();
     }},
    {"failed-stream",
     [] {
       VELDAR::fixedint number(1);
       VELDAR::logstream.setstate(std::ios::badbit);
       VELDAR::log("after the stream failed");
       std::terminate();
     }},
    {"exhausted",
     [] {
       VELDAR::fixedint number(8, 5);
       const std::string message = "no memory for this line, maybe";
       exhausted = true;
       // Lines that find no memory are lost alone; the report needs none.
       for (int i = 0; i < 5000; ++i) {
         VELDAR::log(message);
       }
       std::terminate();
     }},
    {"previous-handler",
     [] {
       std::set_terminate(exit42);
       VELDAR::fixedint number(1);
       std::terminate();
     }},
    {"reentry",
     [] {
       std::set_terminate([] { std::terminate(); });  // the previous handler calls back in
       VELDAR::fixedint number(1);
       std::terminate();
     }},
    {"two-threads-terminate",
     [] {
       VELDAR::fixedint number(1);
       together(2, [](int) { std::terminate(); });
     }},
    {"threads-set-up-once",
     [] {
       // Many threads race for the first construction; the handler saved must
       // be this one, so the report ends through it.
       std::set_terminate(exit42);
       together(8, [](int t) {
         VELDAR::fixedint a(4, t);
         VELDAR::fixedfloat x(8);
         x = "1.5";
         static_cast<void>(a * a);
       });
       std::terminate();
     }},
    {"write-fails",
     [] {
       // Files may not grow past 64 bytes: the report cannot be written.
       std::signal(SIGXFSZ, SIG_IGN);
       const rlimit limit{64, 64};
       setrlimit(RLIMIT_FSIZE, &limit);
       VELDAR::fixedint number(8);
       std::terminate();
     }},
    {"log-limit",
     [] {
       VELDAR::setloglimit(4096);
       for (int i = 0; i < 1000; ++i) {
         VELDAR::fixedint number(8, i);
       }
       std::terminate();
     }},
    {"tiny-log-limit",
     [] {
       // Less room than the report's own lines take.
       VELDAR::setloglimit(100);
       for (int i = 0; i < 100; ++i) {
         VELDAR::fixedint number(8, i);
       }
       throw std::out_of_range("Input int bigger than size!");
     }},
    {"file-size-limit",
     [] {
       // Files may not grow past 200 bytes (the report takes more, what the
       // process says on standard error less), and the signal that says so
       // is left as the system has it: it would end the process.
       const rlimit limit{200, 200};
       setrlimit(RLIMIT_FSIZE, &limit);
       VELDAR::fixedint number(8);
       std::terminate();
     }},
    {"default-limit", [] { std::cout << VELDAR::loglimit() << '\n'; }},
    {"logging-allocations",
     [] {
       // An operator new that logs, while the log itself asks for memory:
       // it must neither deadlock nor recurse for ever.
       alarm(30);
       logging_allocations = true;
       VELDAR::fixedfloat total(24);
       for (int i = 0; i < 20000; ++i) {
         VELDAR::fixedfloat price(24);
         price = std::to_string(i) + ".5";
         total = total + price;
         VELDAR::log("line " + std::to_string(i));
         VELDAR::logstream << "stream " << i << '\n';
       }
       logging_allocations = false;
       std::cout << total << ' ' << (VELDAR::logstream.str().find("allocation") != std::string::npos) << '\n';
     }},
};

}  // namespace

[[gnu::noinline]] void* operator new(std::size_t size) {
  if (logging_allocations) {
    VELDAR::log("allocation");
  }
  void* memory = exhausted ? nullptr : std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
// Through the plain form, so that a tool that replaces the plain forms (valgrind) sees pairs.
void operator delete(void* memory, std::size_t) noexcept { ::operator delete(memory); }

int main(int argc, char** argv) {
  const auto scenario = scenarios.find(argc > 1 ? argv[1] : "");
  if (scenario == scenarios.end()) {
    std::cerr << "unknown scenario\n";
    return 2;
  }
  scenario->second();
  return 0;
}
