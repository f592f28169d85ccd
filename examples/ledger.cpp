#include <iomanip>
#include <iostream>
#include <sstream>
#include <veldar/fixedfloat.h>

int main() {
  std::istringstream prices("19.99\n5.01\n120.50\n");
  VELDAR::fixedfloat total(16), price(16);  // 8 integer and 8 fraction digits
  int count = 0;
  while (prices >> price) {
    total += price;
    ++count;
  }
  const VELDAR::fixedfloat mean = total.divide(VELDAR::fixedfloat(16, count), VELDAR::rounding::halfeven);
  std::cout << std::fixed << std::setprecision(2);
  std::cout << "total " << total << ", mean " << mean << '\n';  // total 145.50, mean 48.50
  std::cout << "with tax " << total * VELDAR::fixedfloat(16, "1.075") << '\n';  // with tax 156.41

  const VELDAR::fixedfloat two(20000, 2);  // 10,000 fraction digits
  const VELDAR::fixedfloat root = sqrt(two);
  std::cout << root.tofixed(30) << '\n';  // 1.414213562373095048801688724210
  std::cout << (root * root).tofixed(3) << '\n';  // 2.000
}
