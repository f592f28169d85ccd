#include <iostream>
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>
#include <veldar/version.h>

int main() {
  // The library's version, read from the library the program loaded, then
  // that of the headers it was compiled with.
  std::cout << "veldar " << VELDAR::version() << " (headers " << VELDAR_VERSION_STRING << ", " << VELDAR_VERSION
            << ")\n";
  VELDAR::fixedfloat price(8);
  VELDAR::fixedfloat quantity(8);
  price = "78.9";
  quantity = 0.123F;
  std::cout << price << " * " << quantity << " = " << price * quantity << '\n';
  VELDAR::fixedint a(4, 12);
  std::cout << a * VELDAR::fixedint(4, -34) << '\n';
}
