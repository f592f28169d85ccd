// The ledger a new user writes: prices read with >> into a fixedfloat of
// length 24, summed with +, and their mean by divide() rounded half to even,
// with the library at its defaults (the log kept, never emptied).
//
//   veldar-ledger PRICES
//
// prints the total, the mean with its twelve fraction digits, the count, the
// CPU seconds the job took and the peak resident memory in KiB, on one line.
#include <sys/resource.h>

#include <ctime>
#include <fstream>
#include <iostream>

#include <veldar/fixedfloat.h>

namespace {

double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: veldar-ledger PRICES\n";
    return 2;
  }
  const double start = cpu_seconds();
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "veldar-ledger: cannot read " << argv[1] << '\n';
    return 2;
  }
  VELDAR::fixedfloat price(24);
  VELDAR::fixedfloat total(24);
  unsigned long long count = 0;
  while (in >> price) {
    total = total + price;
    ++count;
  }
  VELDAR::fixedfloat items(24);
  items = count;
  VELDAR::fixedfloat mean = total.divide(items, VELDAR::rounding::halfeven);
  const double seconds = cpu_seconds() - start;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::cout << total << ' ' << mean.tofixed(12) << ' ' << count << ' ' << seconds << ' ' << usage.ru_maxrss << '\n';
  return 0;
}
