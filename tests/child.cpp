// A small program the process tests run in a scratch directory: each scenario
// ends the process in one way the terminate handler has to deal with.
#include <exception>
#include <iostream>
#include <string>

#include "fixedint.h"

int main(int argc, char** argv) {
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "terminate") {
    VELDAR::fixedint number(8);
    std::terminate();
  }
  if (scenario == "out-of-range") {
    VELDAR::fixedint number(2, 123);
    return 0;
  }
  if (scenario == "throw-int") {
    VELDAR::fixedint number(1);
    throw 42;
  }
  if (scenario == "normal") {
    VELDAR::fixedint number(8, 5);
    return 0;
  }
  std::cerr << "unknown scenario: " << scenario << '\n';
  return 2;
}
