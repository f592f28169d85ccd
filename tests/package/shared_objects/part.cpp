// One shared object of the program in main.cpp, built as `first` and as
// `second`. It makes a number (the first number of the process runs the
// module's set-up), logs a line of its own and hands back the log it sees.
#include <string>

#include <veldar/diagnostics.h>
#include <veldar/fixedint.h>

VELDAR::logbook& PART_FUNCTION() {
  VELDAR::fixedint number(2, 42);
  VELDAR::log(PART_NAME " part: " + number.asstring());
  return VELDAR::logstream;
}

#ifdef PART_FAILS
// Throws std::out_of_range "Input int bigger than size!" out of this object.
void second_part_fail() {
  VELDAR::fixedint number(2);
  number = 123;
}
#endif
