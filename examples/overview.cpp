#include <iostream>
#include <unordered_map>
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>

int main() {
  VELDAR::fixedint a(4, 12), b(4, -34);
  std::cout << a * b << '\n';                 // -408
  std::cout << a - b << '\n';                 // 46
  VELDAR::fixedint small(2, 99);
  std::cout << small * small << '\n';         // 1: 9801 kept to two digits
  std::cout << small + small << '\n';         // 98: and small now holds the carry, 1
  std::cout << b / a << ' ' << b % a << '\n';  // -2 -10: cut toward zero, the remainder takes b's sign
  std::cout << b.divide(a, VELDAR::rounding::floor) << '\n';  // -3

  VELDAR::fixedfloat x(8), y(8);
  x = 78.9f;                                  // from a float: its shortest text, 78.9
  y = "-0.123";                               // from decimal text, exactly
  std::cout << x * y << '\n';                 // -9.7047
  std::cout << x + y << '\n';                 // 78.777
  std::cout << (y < x) << '\n';               // 1

  VELDAR::fixedfloat total(8), count(8);
  total = "10";
  count = "3";
  std::cout << total / count << '\n';         // 3.3333: four fraction digits, cut toward zero
  VELDAR::fixedfloat mean = total.divide(count, VELDAR::rounding::halfeven);
  std::cout << mean.round(2, VELDAR::rounding::halfeven) << '\n';  // 3.33

  std::unordered_map<VELDAR::fixedfloat, int> seen;  // hashed by value: 0.0 and -0.0 meet
  ++seen[x];
  std::cout << seen.size() << '\n';           // 1
}
