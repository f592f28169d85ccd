#include <iostream>
#include <sstream>
#include <veldar/fixedfloat.h>
#include <veldar/format.h>  // optional: fmt::formatter (and std::formatter where <format> is)

int main() {
  VELDAR::fixedfloat price(8);
  price = 1234.5678;                                // a double: its shortest text, exactly
  std::cout << (price.todouble() == 1234.5678) << '\n';  // 1: the nearest double, correctly rounded
  std::cout << price.tointeger<int>(VELDAR::rounding::halfeven) << '\n';  // 1235
  std::cout << price.tofixed(2) << '\n';            // 1234.57: exactly two fraction digits

  std::istringstream in("19.99 EUR");
  in >> price;                                      // one token: " EUR" is left in the stream
  std::cout << price << '\n';                       // 19.99

  const std::string input = "-0.05%";
  const auto [end, error] = VELDAR::from_chars(input.data(), input.data() + input.size(), price);
  // error is std::errc::invalid_argument when there is no number and
  // result_out_of_range when it does not fit, and then price is unchanged
  std::cout << price << ' ' << end << ' ' << (error == std::errc{}) << '\n';  // -0.05 % 1
  char buffer[32];
  const auto written = VELDAR::to_chars(buffer, buffer + sizeof buffer, price);  // no allocation
  std::cout << std::string(buffer, written.ptr) << '\n';  // -0.05

  std::cout << fmt::format("[{:>10.2f}]", price) << '\n';  // [     -0.05]
}
