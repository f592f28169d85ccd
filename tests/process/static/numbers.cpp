// Numbers with static storage duration, in a file that never names the log:
// they are made before main() and destroyed after it.
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>

VELDAR::fixedint zero(8);
VELDAR::fixedfloat half = [] {
  VELDAR::fixedfloat number(4);
  number = "0.5";
  return number;
}();
