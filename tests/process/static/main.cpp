// A program whose numbers live in static storage (numbers.cpp), and whose own
// static initialisation reads the log: run by the process tests.
#include <exception>
#include <iostream>
#include <string>

#include <veldar/diagnostics.h>
#include <veldar/fixedint.h>

extern VELDAR::fixedint zero;

namespace {
// Read during static initialisation, in whatever order the files are initialised.
const std::size_t log_at_start = VELDAR::logstream.str().size();
}  // namespace

int main(int argc, char** argv) {
  const std::string how = argc > 1 ? argv[1] : "";
  std::cout << (zero + VELDAR::fixedint(8, 42)) << ' ' << (log_at_start <= VELDAR::logstream.str().size()) << std::endl;
  if (how == "terminate") {
    std::terminate();
  }
  return 0;
}
