// veldar-thresholds: measures each cut-over between the kernels on the
// machine at hand and prints it next to the value the library has.
//
// For each threshold the two methods it chooses between are timed on random
// limbs over a range of sizes (the median of seven rounds, each long enough
// to read); the measured cut-over is the smallest size from which the method
// above the threshold is the faster one at every size measured. Times are the
// thread's CPU time, as in bench/compare.
//
//   veldar-thresholds           every threshold
//   veldar-thresholds --quick   fewer sizes, for a first look
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "limbs.h"
#include "products.h"
#include "quotients.h"
#include "transform.h"

namespace {

using namespace VELDAR::detail;

double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Seconds per call of `work`: the median of seven rounds of at least 2 ms.
double seconds(const std::function<void()>& work) {
  work();
  long calls = 1;
  for (;;) {
    const double start = thread_seconds();
    for (long i = 0; i < calls; ++i) {
      work();
    }
    if (thread_seconds() - start > 0.002) {
      break;
    }
    calls *= 2;
  }
  std::vector<double> samples;
  for (int round = 0; round < 7; ++round) {
    const double start = thread_seconds();
    for (long i = 0; i < calls; ++i) {
      work();
    }
    samples.push_back((thread_seconds() - start) / static_cast<double>(calls));
  }
  std::nth_element(samples.begin(), samples.begin() + 3, samples.end());
  return samples[3];
}

std::mt19937_64 random_source(2026);

limb_vector random_limbs(std::size_t n) {
  limb_vector x(n);
  for (limb& v : x) {
    v = static_cast<limb>(random_source() % limb_base);
  }
  if (n != 0) {
    x.back() = std::max<limb>(x.back(), 1);
  }
  return x;
}

// The sizes from `first` to `last`, about `steps` of them a doubling.
std::vector<std::size_t> sizes(std::size_t first, std::size_t last, int steps) {
  std::vector<std::size_t> result;
  for (double n = static_cast<double>(first); n <= static_cast<double>(last) * 1.0001;
       n *= std::pow(2.0, 1.0 / steps)) {
    const auto size = static_cast<std::size_t>(n + 0.5);
    if (result.empty() || size != result.back()) {
      result.push_back(size);
    }
  }
  return result;
}

// Times `below` and `above` at each size, prints their ratios and the cut-over.
void cut_over(const char* name, std::size_t current, const std::vector<std::size_t>& grid,
              const std::function<double(std::size_t)>& below, const std::function<double(std::size_t)>& above) {
  std::printf("%s (now %zu limbs):\n ", name, current);
  std::vector<bool> faster;
  for (const std::size_t n : grid) {
    const double lower = below(n);
    const double upper = above(n);
    faster.push_back(upper < lower);
    std::printf(" %zu:%.2f", n, upper / lower);
    std::fflush(stdout);
  }
  std::size_t from = grid.size();
  while (from > 0 && faster[from - 1]) {
    --from;
  }
  if (from == grid.size()) {
    std::printf("\n  %s: not reached below %zu limbs\n", name, grid.back());
  } else {
    std::printf("\n  %s = %zu\n", name, grid[from]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int steps = quick ? 2 : 4;
  std::printf("Ratios are the time above the threshold over the time below it, at each size in limbs.\n");

  // The schoolbook and Karatsuba's split of the processor at hand: with
  // AVX-512 and IFMA, the wide_ thresholds.
  const bool wide = vector_transform_available();
  cut_over(
      wide ? "wide_karatsuba_limbs" : "karatsuba_limbs", karatsuba_from_limbs(), sizes(16, 1024, steps),
      [](std::size_t n) {
        const limb_vector a = random_limbs(n), b = random_limbs(n);
        limb_vector out(2 * n);
        return seconds([&] { multiply_karatsuba(a.data(), n, b.data(), n, out.data(), n + 1); });
      },
      [](std::size_t n) {
        const limb_vector a = random_limbs(n), b = random_limbs(n);
        limb_vector out(2 * n);
        return seconds([&] { multiply_karatsuba(a.data(), n, b.data(), n, out.data(), n); });
      });

  cut_over(
      wide ? "wide_split_low_limbs" : "split_low_limbs", split_low_from_limbs(), sizes(16, 2048, steps),
      [](std::size_t n) {
        const limb_vector a = random_limbs(n), b = random_limbs(n);
        limb_vector out(n);
        return seconds([&] { multiply_karatsuba_low(a.data(), b.data(), n, out.data(), n + 1); });
      },
      [](std::size_t n) {
        const limb_vector a = random_limbs(n), b = random_limbs(n);
        limb_vector out(n);
        return seconds([&] { multiply_karatsuba_low(a.data(), b.data(), n, out.data(), n); });
      });

  // The transform on the kernel the processor runs: the scalar one
  // (transform_limbs, transform_low_limbs) or the vector one
  // (vector_transform_limbs, vector_transform_low_limbs).
  // Each set against the schoolbook it is used with: where the vector
  // transform runs, the schoolbook's AVX-512 columns run too, and the scalar
  // transform's thresholds, set against the rows, are not measured.
  for (const transform_kernel kernel : {transform_kernel::scalar, transform_kernel::vector}) {
    if (kernel == transform_kernel::vector && !wide) {
      std::printf("vector_transform_limbs, vector_transform_low_limbs: no AVX-512 IFMA here\n");
      continue;
    }
    if (kernel == transform_kernel::scalar && wide) {
      std::printf("transform_limbs, transform_low_limbs: not measured where the vector transform runs\n");
      continue;
    }
    const bool vector = kernel == transform_kernel::vector;
    cut_over(
        vector ? "vector_transform_limbs" : "transform_limbs", vector ? vector_transform_limbs : transform_limbs,
        sizes(32, 1024, steps),
        [](std::size_t n) {
          const limb_vector a = random_limbs(n), b = random_limbs(n);
          limb_vector out(2 * n);
          return seconds([&] { multiply_karatsuba(a.data(), n, b.data(), n, out.data()); });
        },
        [kernel](std::size_t n) {
          const limb_vector a = random_limbs(n), b = random_limbs(n);
          limb_vector out(2 * n);
          return seconds([&] { multiply_transform_with(kernel, a.data(), n, b.data(), n, out.data(), 2 * n); });
        });
    cut_over(
        vector ? "vector_transform_low_limbs" : "transform_low_limbs",
        vector ? vector_transform_low_limbs : transform_low_limbs, sizes(64, 2048, steps),
        [](std::size_t n) {
          const limb_vector a = random_limbs(n), b = random_limbs(n);
          limb_vector out(2 * n);
          return seconds([&] { multiply_karatsuba_low(a.data(), b.data(), n, out.data()); });
        },
        [kernel](std::size_t n) {
          const limb_vector a = random_limbs(n), b = random_limbs(n);
          limb_vector out(2 * n);
          return seconds([&] { multiply_transform_with(kernel, a.data(), n, b.data(), n, out.data(), n); });
        });
  }

  // Blocks of m quotient limbs under a divisor of 2m limbs (a 4m-limb
  // dividend): the schoolbook alone, against one level of recursion, which
  // divides each block of m by the top m limbs of the divisor and corrects it
  // with a product.
  cut_over(
      "recursive_division_limbs", recursive_division_limbs, sizes(8, quick ? 1024 : 2048, steps),
      [](std::size_t m) {
        const limb_vector a = random_limbs(4 * m), b = random_limbs(2 * m);
        limb_vector q(2 * m + 1), r(2 * m);
        return seconds([&] {
          divide_limbs_with(a.data(), 4 * m, b.data(), 2 * m, q.data(), r.data(), 2 * m + 2, ~std::size_t{0});
        });
      },
      [](std::size_t m) {
        const limb_vector a = random_limbs(4 * m), b = random_limbs(2 * m);
        limb_vector q(2 * m + 1), r(2 * m);
        return seconds(
            [&] { divide_limbs_with(a.data(), 4 * m, b.data(), 2 * m, q.data(), r.data(), m, ~std::size_t{0}); });
      });

  // Quotients of 2n limbs by n: the recursion alone, against the divisor's
  // reciprocal.
  cut_over(
      "reciprocal_division_limbs", reciprocal_division_limbs, sizes(128, quick ? 4096 : 8192, steps),
      [](std::size_t n) {
        const limb_vector a = random_limbs(2 * n), b = random_limbs(n);
        limb_vector q(n + 1), r(n);
        return seconds([&] {
          divide_limbs_with(a.data(), 2 * n, b.data(), n, q.data(), r.data(), recursive_division_limbs,
                            ~std::size_t{0});
        });
      },
      [](std::size_t n) {
        const limb_vector a = random_limbs(2 * n), b = random_limbs(n);
        limb_vector q(n + 1), r(n);
        return seconds(
            [&] { divide_limbs_with(a.data(), 2 * n, b.data(), n, q.data(), r.data(), recursive_division_limbs, n); });
      });
  return 0;
}
