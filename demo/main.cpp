// Builds two fixed-point numbers, prints the first and their product, and ends
// through the library's terminate handler, which leaves logs/veldar.log.
#include <exception>
#include <iostream>

#include <veldar/fixedfloat.h>

int main() {
  VELDAR::fixedfloat first(8);
  VELDAR::fixedfloat second(8);
  first = 0.123F;
  second = 78.9F;
  std::cout << first.asstring() << std::endl;
  // One full expression: the product goes first, then the copy of `first`.
  std::cout << (second * first).asstring() << std::endl;
  std::terminate();
}
