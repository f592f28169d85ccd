#include <iostream>
#include <veldar/diagnostics.h>

int main() {
  VELDAR::setloglimit(16 << 20);  // keep the last 16 MiB of text
  std::cout << VELDAR::loglimit() << '\n';  // 16777216
  VELDAR::setloglimit(0);         // keep every line
  std::cout << VELDAR::loglimit() << '\n';  // 0
}
