// Reads square root and power cases from standard input, one a line, and
// prints the kernels' result for each (roots.h); check.py compares them with
// Python's math.isqrt and pow. Numbers are decimal text, most significant
// digit first, leading zeros kept as elements.
//
//   sqrt <n>                 every digit of square_root_digits(n) (leading
//                            zeros included), then 1 or 0 for exact and for
//                            above half
//   round <n> <mode>         that root after round_square_root() by the mode,
//                            or "error " and the exception's message
//   pow <a> <n> <kept>       every digit of power_digits(a, n, kept), "-" for
//                            none
//   bound <a> <n>            power_digits_bound(a, n)
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

#include "roots.h"

namespace {

namespace detail = VELDAR::detail;
using detail::digit_vector;
using VELDAR::rounding;

const std::map<std::string, rounding> modes{{"down", rounding::down},         {"up", rounding::up},
                                            {"ceiling", rounding::ceiling},   {"floor", rounding::floor},
                                            {"halfup", rounding::halfup},     {"halfdown", rounding::halfdown},
                                            {"halfeven", rounding::halfeven}, {"exact", rounding::exact}};

digit_vector digits(const std::string& text) {
  digit_vector out;
  for (auto c = text.rbegin(); c != text.rend(); ++c) {
    if (*c < '0' || *c > '9') {
      throw std::invalid_argument("not a number: " + text);
    }
    out.push_back(static_cast<signed char>(*c - '0'));
  }
  return out;
}

std::string text(const digit_vector& x) {
  std::string s;
  for (auto d = x.rbegin(); d != x.rend(); ++d) {
    s += static_cast<char>('0' + *d);
  }
  return s.empty() ? "-" : s;
}

std::string run(const std::string& op) {
  std::string a;
  std::cin >> a;
  if (op == "sqrt") {
    digit_vector root;
    const detail::square_root_rest rest = detail::square_root_digits(digits(a), root);
    return text(root) + (rest.exact ? " 1" : " 0") + (rest.above_half ? " 1" : " 0");
  }
  if (op == "round") {
    std::string mode;
    std::cin >> mode;
    digit_vector root;
    const detail::square_root_rest rest = detail::square_root_digits(digits(a), root);
    try {
      detail::round_square_root(root, rest, modes.at(mode));
    } catch (const std::domain_error& error) {
      return std::string("error ") + error.what();
    }
    return text(root);
  }
  unsigned long long n = 0;
  std::cin >> n;
  if (op == "bound") {
    return std::to_string(detail::power_digits_bound(digits(a), n));
  }
  if (op == "pow") {
    std::size_t kept = 0;
    std::cin >> kept;
    digit_vector power;
    detail::power_digits(digits(a), n, kept, power);
    return text(power);
  }
  throw std::invalid_argument("unknown case: " + op);
}

}  // namespace

int main() {
  std::string op;
  while (std::cin >> op) {
    std::cout << run(op) << '\n';
  }
  return std::cin.eof() ? 0 : 1;
}
