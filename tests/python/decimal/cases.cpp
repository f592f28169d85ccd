// Reads cases from standard input, one a line, and prints the library's
// result for each: the text of the number, or "error " and the exception's
// message. check.py compares them with Python's decimal.
//
//   int/ <mode> <length> <a> <b>      fixedint a.divide(b, mode)
//   int% - <length> <a> <b>           fixedint a % b
//   intsqrt - <length> <a> -          fixedint a.sqrt()
//   intpow - <length> <a> <n>         fixedint a.pow(n)
//   fix/ <mode> <length> <a> <b>      fixedfloat a.divide(b, mode)
//   fix* <mode> <length> <a> <b>      fixedfloat a.multiply(b, mode)
//   fix% - <length> <a> <b>           fixedfloat a % b
//   fixsqrt <mode> <length> <a> -     fixedfloat a.sqrt(mode)
//   fixpow <mode> <length> <a> <n>    fixedfloat a.pow(n, mode)
//   round <mode> <length> <a> <n>     fixedfloat a.round(n, mode)
//   assign <mode> <length> <text> -   fixedfloat assign(text, mode)
//   double - <length> <hex> -         fixedfloat = the double written in hex
//   float - <length> <hex> -          fixedfloat = the float written in hex
//   assigndouble <mode> <length> <hex> -   fixedfloat assign(double, mode)
#include <cstdlib>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

#include <veldar/diagnostics.h>
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;
using VELDAR::rounding;

const std::map<std::string, rounding> modes{
    {"down", rounding::down},         {"up", rounding::up},         {"ceiling", rounding::ceiling},
    {"floor", rounding::floor},       {"halfup", rounding::halfup}, {"halfdown", rounding::halfdown},
    {"halfeven", rounding::halfeven}, {"exact", rounding::exact},   {"-", rounding::down}};

std::string run(const std::string& op, rounding mode, unsigned long long length, const std::string& a,
                const std::string& b) {
  if (op.rfind("int", 0) == 0) {
    const fixedint x(length, a);
    if (op == "intsqrt") {
      return x.sqrt().asstring();
    }
    if (op == "intpow") {
      return x.pow(std::stoull(b)).asstring();
    }
    const fixedint y(length, b);
    return (op == "int/" ? x.divide(y, mode) : x % y).asstring();
  }
  fixedfloat x(length);
  if (op == "assign") {
    return x.assign(a, mode).asstring();
  }
  if (op == "double" || op == "assigndouble") {
    const double value = std::strtod(a.c_str(), nullptr);
    return (op == "double" ? x = value : x.assign(value, mode)).asstring();
  }
  if (op == "float") {
    x = static_cast<float>(std::strtod(a.c_str(), nullptr));  // exact: the text is a float's
    return x.asstring();
  }
  x = a;
  if (op == "round") {
    return x.round(std::stoull(b), mode).asstring();
  }
  if (op == "fixsqrt") {
    return x.sqrt(mode).asstring();
  }
  if (op == "fixpow") {
    return x.pow(std::stoull(b), mode).asstring();
  }
  const fixedfloat y(length, b);
  if (op == "fix%") {
    return (x % y).asstring();
  }
  return (op == "fix/" ? x.divide(y, mode) : x.multiply(y, mode)).asstring();
}

}  // namespace

int main() {
  VELDAR::setloglimit(1 << 20);
  std::string op;
  std::string mode;
  unsigned long long length = 0;
  std::string a;
  std::string b;
  while (std::cin >> op >> mode >> length >> a >> b) {
    try {
      std::cout << run(op, modes.at(mode), length, a, b) << '\n';
    } catch (const std::exception& error) {
      std::cout << "error " << error.what() << '\n';
    }
  }
  return 0;
}
