// Prints "one log" when the program and both shared objects see the same log,
// holding the module's set-up lines once and each object's line, with the
// library's terminate handler in force; then ends through an exception thrown
// in the second object, so that the handler reports the whole process's log.
#include <exception>
#include <iostream>
#include <string>

#include <veldar/diagnostics.h>

VELDAR::logbook& first_part();
VELDAR::logbook& second_part();
void second_part_fail();

namespace {

std::size_t count(const std::string& text, const std::string& piece) {
  std::size_t found = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++found;
  }
  return found;
}

}  // namespace

int main() {
  VELDAR::logbook& first = first_part();
  VELDAR::logbook& second = second_part();
  const std::string log = VELDAR::logstream.str();
  const bool one = &first == &VELDAR::logstream && &second == &VELDAR::logstream &&
                   count(log, "Start Initialization of Veldar Arithmetic module.") == 1 &&
                   count(log, "first part: 42") == 1 && count(log, "second part: 42") == 1 &&
                   std::get_terminate() == &VELDAR::logdumper;
  std::cout << (one ? "one log" : "not one log:\n" + log) << std::endl;
  second_part_fail();
  return 0;
}
