// The products of digits and limbs against the plain schoolbook method,
// written here on its own (rows of digit or limb products with their carries),
// on seeded random operands: uniform, all nines (the longest carries), mostly
// zeros, and factors of unequal lengths, on both sides of every threshold.
// A failure names the seed, the sizes and the shape, and prints the operands
// when they are short.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "allocations.h"
#include "platform.h"
#include "products.h"
#include "transform.h"

namespace {

using VELDAR::detail::digit_vector;
using VELDAR::detail::limb;
using VELDAR::detail::limb_base;
using VELDAR::detail::limb_digits;
using VELDAR::detail::limb_vector;

enum class shape { uniform, nines, sparse };
constexpr shape shapes[] = {shape::uniform, shape::nines, shape::sparse};

const char* name(shape s) {
  switch (s) {
    case shape::uniform:
      return "uniform";
    case shape::nines:
      return "all nines";
    case shape::sparse:
      return "mostly zeros";
  }
  return "?";
}

// `count` digits of the shape whose top digit is not zero.
digit_vector random_digits(std::mt19937_64& random, std::size_t count, shape s) {
  digit_vector digits(count);
  for (signed char& d : digits) {
    const auto r = static_cast<signed char>(random() % 10);
    d = s == shape::nines ? 9 : s == shape::uniform ? r : random() % 16 == 0 ? r : 0;
  }
  if (count != 0) {
    digits.back() = static_cast<signed char>(1 + random() % 9);
    if (s == shape::nines) {
      digits.back() = 9;
    }
  }
  return digits;
}

limb_vector random_limbs(std::mt19937_64& random, std::size_t count, shape s) {
  limb_vector limbs(count);
  for (limb& x : limbs) {
    const auto r = static_cast<limb>(random() % limb_base);
    x = s == shape::nines ? limb_base - 1 : s == shape::uniform ? r : random() % 16 == 0 ? r : 0;
  }
  return limbs;
}

// The full product of limb vectors, a row of limb products at a time.
limb_vector schoolbook(const limb_vector& a, const limb_vector& b) {
  limb_vector product(a.size() + b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < b.size(); ++j) {
      const std::uint64_t t = product[i + j] + std::uint64_t{a[i]} * b[j] + carry;
      product[i + j] = static_cast<limb>(t % limb_base);
      carry = t / limb_base;
    }
    product[i + b.size()] = static_cast<limb>(carry);
  }
  return product;
}

// The full product of digit vectors, through the schoolbook on limbs.
digit_vector schoolbook(const digit_vector& a, const digit_vector& b) {
  const auto limbs = [](const digit_vector& digits) {
    limb_vector v((digits.size() + limb_digits - 1) / limb_digits);
    for (std::size_t i = digits.size(); i-- > 0;) {
      v[i / limb_digits] = v[i / limb_digits] * 10 + static_cast<limb>(digits[i]);
    }
    return v;
  };
  const limb_vector product = schoolbook(limbs(a), limbs(b));
  digit_vector digits(a.size() + b.size());
  for (std::size_t i = 0; i < digits.size(); ++i) {
    limb x = product[i / limb_digits];
    for (std::size_t k = 0; k < i % limb_digits; ++k) {
      x /= 10;
    }
    digits[i] = static_cast<signed char>(x % 10);
  }
  return digits;
}

template <typename vector>
std::string text(const vector& v) {
  std::string s;
  for (auto x = v.rbegin(); x != v.rend(); ++x) {
    s += std::to_string(*x) + (std::is_same_v<vector, limb_vector> ? " " : "");
  }
  return s;
}

// The operands themselves when they are short enough to read.
template <typename vector>
std::string operands(const vector& a, const vector& b) {
  if (a.size() + b.size() > 400) {
    return "";
  }
  return "\n  a = " + text(a) + "\n  b = " + text(b);
}

std::string trace(unsigned long long seed, std::size_t na, std::size_t nb, std::size_t kept, shape sa, shape sb) {
  return "seed " + std::to_string(seed) + ": " + std::to_string(na) + " x " + std::to_string(nb) + ", keeping " +
         std::to_string(kept) + ", " + name(sa) + " x " + name(sb);
}

// The digit-vector entry as fixedint calls it: a product vector of zeros
// with room for both factors; the low `kept` digits must be the schoolbook's.
void check_digits(unsigned long long seed, std::size_t na, std::size_t nb, std::size_t kept, shape sa, shape sb) {
  std::mt19937_64 random(seed);
  digit_vector a = random_digits(random, na, sa);
  digit_vector b = random_digits(random, nb, sb);
  SCOPED_TRACE(trace(seed, na, nb, kept, sa, sb) + operands(a, b));
  const digit_vector expected = schoolbook(a, b);
  // Factors padded with zeros to the kept length, as fixedint's are.
  a.resize(std::max(na, kept));
  b.resize(std::max(nb, kept));
  digit_vector actual(std::max(na + nb, kept));
  VELDAR::detail::multiply_digits(a, b, actual, kept);
  const auto end = static_cast<std::ptrdiff_t>(std::min(kept, expected.size()));
  ASSERT_TRUE(std::equal(expected.begin(), expected.begin() + end, actual.begin()))
      << "first wrong digit at "
      << std::mismatch(expected.begin(), expected.begin() + end, actual.begin()).first - expected.begin();
  ASSERT_TRUE(std::all_of(actual.begin() + end, actual.begin() + static_cast<std::ptrdiff_t>(kept),
                          [](signed char d) { return d == 0; }));
}

// Digit counts just below, at and just above `limbs` limbs.
std::vector<std::size_t> around(std::size_t limbs) {
  const std::size_t digits = limbs * limb_digits;
  return {digits - limb_digits - 1, digits - 1, digits, digits + 1, digits + limb_digits + 1};
}

TEST(Products, DigitsMatchTheSchoolbookAcrossEveryThreshold) {
  using namespace VELDAR::detail;
  std::vector<std::size_t> lengths = {1, 2, 3, 4, 5, 8, 9, 10, 17, 18, 19, 100};
  for (const std::size_t limbs :
       {karatsuba_limbs, split_low_limbs, transform_limbs, transform_low_limbs, wide_karatsuba_limbs,
        wide_split_low_limbs, vector_transform_limbs, vector_transform_low_limbs}) {
    const auto more = around(limbs);
    lengths.insert(lengths.end(), more.begin(), more.end());
  }
  unsigned long long seed = 1000;
  for (const std::size_t n : lengths) {
    for (const shape sa : shapes) {
      for (const shape sb : shapes) {
        ++seed;
        // fixedint's products: n digits a side, n kept...
        check_digits(seed, n, n, n, sa, sb);
        // ...a shorter second factor, a full product, and a single digit.
        check_digits(seed, n, n / 2 + 1, n, sa, sb);
        check_digits(seed, n, n - n / 4, 2 * n, sa, sb);
        check_digits(seed, n, 1, n, sa, sb);
        if (HasFatalFailure()) {
          return;
        }
      }
    }
  }
}

// Full products whose shorter factor crosses the thresholds while the
// longer one is several times longer: Karatsuba's slices, and the transform
// of unbalanced factors.
TEST(Products, UnequalDigitFactorsMatchTheSchoolbook) {
  using namespace VELDAR::detail;
  unsigned long long seed = 2000;
  for (const std::size_t limbs : {karatsuba_limbs, transform_limbs, wide_karatsuba_limbs, vector_transform_limbs}) {
    for (const std::size_t nb : around(limbs)) {
      for (const shape s : shapes) {
        ++seed;
        check_digits(seed, 3 * nb + 11, nb, 4 * nb + 11, s, s);
        check_digits(seed, 5 * nb, nb, 6 * nb, shape::uniform, s);
        ASSERT_FALSE(HasFatalFailure());
      }
    }
  }
}

// (limbs as a number) mod q, most significant limb first.
std::uint64_t residue(const limb_vector& limbs, std::uint64_t q) {
  using wide = VELDAR::detail::uint128;
  std::uint64_t r = 0;
  for (auto x = limbs.rbegin(); x != limbs.rend(); ++x) {
    r = static_cast<std::uint64_t>((wide{r} * limb_base + *x) % q);
  }
  return r;
}

// The transform's kernels this processor runs: the scalar one, and the
// vector one where it has AVX-512 IFMA.
std::vector<VELDAR::detail::transform_kernel> transform_kernels() {
  using VELDAR::detail::transform_kernel;
  std::vector<transform_kernel> kernels = {transform_kernel::scalar};
  if (VELDAR::detail::vector_transform_available()) {
    kernels.push_back(transform_kernel::vector);
  }
  return kernels;
}

const char* name(VELDAR::detail::transform_kernel kernel) {
  return kernel == VELDAR::detail::transform_kernel::vector ? "vector transform" : "scalar transform";
}

// The transform on its own, by each kernel, at every small size and a few
// long ones, full and truncated, squares included: for the vector kernel,
// every length from its shortest (16 values, its shuffled levels only) up,
// each count of limbs left over after its whole registers, and the radix-3
// lengths.
TEST(Products, TransformMatchesTheSchoolbook) {
  for (const auto kernel : transform_kernels()) {
    SCOPED_TRACE(name(kernel));
    const auto multiply_transform = [kernel](const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out,
                                             std::size_t count) {
      VELDAR::detail::multiply_transform_with(kernel, a, na, b, nb, out, count);
    };
    unsigned long long seed = 4000;
    std::vector<std::pair<std::size_t, std::size_t>> sizes;
    for (std::size_t na = 1; na <= 40; ++na) {
      for (std::size_t nb = 1; nb <= na; ++nb) {
        sizes.emplace_back(na, nb);
      }
    }
    // Longer transforms, of 3 * 2^11, 2^13 and 3 * 2^13 coefficients: the last
    // two past the level-by-level block. Unequal factors keep the schoolbook short.
    for (const auto& more : {std::pair<std::size_t, std::size_t>{127, 129},
                             {1000, 999},
                             {4097, 3},
                             {9000, 1000},
                             {12000, 1000},
                             {33000, 700}}) {
      sizes.push_back(more);
    }
    for (const auto& [na, nb] : sizes) {
      for (const shape s : shapes) {
        std::mt19937_64 random(++seed);
        const limb_vector a = random_limbs(random, na, s);
        const limb_vector b = random_limbs(random, nb, seed % 2 == 0 ? s : shape::uniform);
        const std::size_t kept = random() % (na + nb) + 1;
        SCOPED_TRACE(trace(seed, na, nb, kept, s, seed % 2 == 0 ? s : shape::uniform) + operands(a, b));
        const limb_vector expected = schoolbook(a, b);
        limb_vector actual(na + nb, 7);
        multiply_transform(a.data(), na, b.data(), nb, actual.data(), na + nb);
        ASSERT_EQ(actual, expected);
        limb_vector low(kept, 7);
        multiply_transform(b.data(), nb, a.data(), na, low.data(), kept);
        ASSERT_TRUE(std::equal(low.begin(), low.end(), expected.begin())) << "keeping " << kept;
        if (na == nb) {
          multiply_transform(a.data(), na, a.data(), na, actual.data(), na + nb);
          ASSERT_EQ(actual, schoolbook(a, a)) << "square";
        }
        // The dispatch keeping more limbs than the product has: zeros above.
        limb_vector wide(na + nb + 3, 7);
        VELDAR::detail::multiply_limbs_low(a.data(), na, b.data(), nb, wide.size(), wide.data());
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), wide.begin()));
        ASSERT_TRUE(std::all_of(wide.begin() + static_cast<std::ptrdiff_t>(na + nb), wide.end(),
                                [](limb x) { return x == 0; }));
      }
    }
  }
}

// Wrapped products, (a * b) mod (B^L - 1), against the schoolbook's product
// folded at L limbs: lengths from the shortest transform up, factors as long
// as L or much shorter, all nines (whose carries wrap round more than once)
// and squares.
TEST(Products, WrappedProductsMatchTheFoldedSchoolbook) {
  using VELDAR::detail::wrapped_limbs;
  unsigned long long seed = 8000;
  // x mod (B^L - 1) in L limbs, B^L - 1 itself made 0.
  const auto fold = [](const limb_vector& x, std::size_t limbs) {
    limb_vector out(limbs, 0);
    for (std::size_t first = 0; first < x.size(); first += limbs) {
      std::uint64_t carry = 0;
      for (std::size_t i = 0; i < limbs; ++i) {
        const std::uint64_t t = out[i] + (first + i < x.size() ? x[first + i] : 0) + carry;
        out[i] = static_cast<limb>(t % limb_base);
        carry = t / limb_base;
      }
      for (std::size_t i = 0; carry != 0; i = (i + 1) % limbs) {
        const std::uint64_t t = out[i] + carry;
        out[i] = static_cast<limb>(t % limb_base);
        carry = t / limb_base;
      }
    }
    if (std::all_of(out.begin(), out.end(), [](limb v) { return v == limb_base - 1; })) {
      std::fill(out.begin(), out.end(), 0);
    }
    return out;
  };
  for (const std::size_t want : {std::size_t{1}, std::size_t{31}, std::size_t{33}, std::size_t{47}, std::size_t{100},
                                 std::size_t{193}, std::size_t{1000}, std::size_t{5000}}) {
    const std::size_t limbs = wrapped_limbs(want);
    ASSERT_GE(limbs, want);
    for (const shape s : shapes) {
      std::mt19937_64 random(++seed);
      const std::size_t na = 1 + random() % limbs;
      const std::size_t nb = seed % 3 == 0 ? na : 1 + random() % limbs;
      const limb_vector a = random_limbs(random, na, s);
      const limb_vector b = seed % 3 == 0 ? a : random_limbs(random, nb, s);
      SCOPED_TRACE(trace(seed, na, nb, limbs, s, s) + operands(a, b));
      limb_vector actual(limbs, 7);
      VELDAR::detail::multiply_wrapped(a.data(), na, b.data(), nb, limbs, actual.data());
      ASSERT_EQ(fold(actual, limbs), fold(schoolbook(a, b), limbs));
    }
    // (B^L - 1 - x)(B^L - 1 - y) is x y: a residue below what the
    // coefficients carry out of the top, which wraps round once more.
    for (limb x = 1; x <= 3; ++x) {
      for (limb y = 1; y <= 3; ++y) {
        limb_vector a(limbs, limb_base - 1);
        limb_vector b(limbs, limb_base - 1);
        a[0] -= x;
        b[0] -= y;
        limb_vector expected(limbs, 0);
        expected[0] = x * y;
        limb_vector actual(limbs, 7);
        VELDAR::detail::multiply_wrapped(a.data(), limbs, b.data(), limbs, limbs, actual.data());
        ASSERT_EQ(fold(actual, limbs), expected) << limbs << " limbs, nines less " << x << " and " << y;
      }
    }
  }
}

// The vector kernel's last step, from the Chinese remainder theorem's digits
// of each coefficient to limbs, over the whole range of those digits: the
// largest coefficients (near q1 q2 q3 > 2^149) come only from products of
// more than 2^25 coefficients, too long to multiply here. Against the
// coefficients made and added up on limbs by the schoolbook.
TEST(Products, VectorCoefficientsPutTogetherOverTheirWholeRange) {
  if (!VELDAR::detail::vector_transform_available()) {
    GTEST_SKIP() << "no AVX-512 IFMA on this processor";
  }
  const auto primes = VELDAR::detail::vector_transform_primes();
  const auto limbs_of = [](std::uint64_t x) {
    return limb_vector{static_cast<limb>(x % limb_base), static_cast<limb>(x / limb_base % limb_base),
                       static_cast<limb>(x / limb_base / limb_base)};
  };
  const auto add_at = [](limb_vector& sum, const limb_vector& x, std::size_t at) {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < x.size() || carry != 0; ++i) {
      const std::uint64_t t = sum[at + i] + (i < x.size() ? x[i] : 0) + carry;
      sum[at + i] = static_cast<limb>(t % limb_base);
      carry = t / limb_base;
    }
  };
  std::mt19937_64 random(9000);
  for (const std::size_t count : {std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{9}, std::size_t{61}}) {
    for (int round = 0; round < 20; ++round) {
      std::vector<std::uint64_t> r1(count);
      std::vector<std::uint64_t> d2(count);
      std::vector<std::uint64_t> d3(count);
      for (std::size_t k = 0; k < count; ++k) {
        const bool top = round % 4 == 0 || random() % 3 == 0;  // each digit at its largest
        r1[k] = top ? primes[0] - 1 : random() % primes[0];
        d2[k] = top ? primes[1] - 1 : random() % primes[1];
        d3[k] = top ? primes[2] - 1 : round % 4 == 1 ? random() % 1000 : random() % primes[2];
      }
      limb_vector expected(2 * count + 8, 0);
      const limb_vector q1 = limbs_of(primes[0]);
      const limb_vector q12 = schoolbook(q1, limbs_of(primes[1]));
      for (std::size_t k = 0; k < count; ++k) {
        add_at(expected, limbs_of(r1[k]), 2 * k);
        add_at(expected, schoolbook(q1, limbs_of(d2[k])), 2 * k);
        add_at(expected, schoolbook(q12, limbs_of(d3[k])), 2 * k);
      }
      limb_vector actual(2 * count + 4, 7);
      VELDAR::detail::vector_coefficient_limbs(r1.data(), d2.data(), d3.data(), count, actual.data());
      ASSERT_TRUE(std::equal(actual.begin(), actual.end(), expected.begin()) &&
                  std::all_of(expected.begin() + static_cast<std::ptrdiff_t>(actual.size()), expected.end(),
                              [](limb x) { return x == 0; }))
          << count << " coefficients, round " << round << "\n  expected " << text(expected) << "\n  actual   "
          << text(actual);
    }
  }
}

// Products too long for the schoolbook, up to a million digits a side,
// against their residues modulo primes that the transform does not use.
TEST(Products, LongProductsKeepTheirResidues) {
  const std::uint64_t primes[] = {0x1fffffffffffffff, 0xffffffffffffffc5, 1000000000000000003};
  unsigned long long seed = 5000;
  for (const auto& [na, nb] : {std::pair<std::size_t, std::size_t>{111112, 111112}, {65537, 65535}, {200000, 700}}) {
    for (const shape s : {shape::uniform, shape::nines}) {
      std::mt19937_64 random(++seed);
      const limb_vector a = random_limbs(random, na, s);
      const limb_vector b = na == nb && s == shape::nines ? a : random_limbs(random, nb, s);
      SCOPED_TRACE(trace(seed, na, nb, na + nb, s, s));
      limb_vector product(na + nb);
      VELDAR::detail::multiply_limbs(a.data(), na, b.data(), nb, product.data());
      // ...and by each kernel of the transform on its own.
      std::vector<limb_vector> products = {product};
      for (const auto kernel : transform_kernels()) {
        VELDAR::detail::multiply_transform_with(kernel, a.data(), na, b.data(), nb, product.data(), na + nb);
        products.push_back(product);
      }
      for (const limb_vector& p : products) {
        ASSERT_TRUE(std::all_of(p.begin(), p.end(), [](limb x) { return x < limb_base; }));
        for (const std::uint64_t q : primes) {
          using wide = VELDAR::detail::uint128;
          ASSERT_EQ(residue(p, q), static_cast<std::uint64_t>(wide{residue(a, q)} * residue(b, q) % q)) << q;
        }
      }
    }
  }
}

// Karatsuba and the truncated split with every base size from 2 limbs up,
// so that each level of their recursion meets the schoolbook rows at sizes
// on both sides of any threshold the machine may call for.
TEST(Products, SplitsAtAnyThresholdMatchTheSchoolbook) {
  std::mt19937_64 random(7000);
  for (int round = 0; round < 60; ++round) {
    const std::size_t na = 1 + random() % 300;
    const std::size_t nb = 1 + random() % 300;
    const shape sa = shapes[random() % 3];
    const shape sb = shapes[random() % 3];
    const limb_vector a = random_limbs(random, na, sa);
    const limb_vector b = random_limbs(random, nb, sb);
    const limb_vector expected = schoolbook(a, b);
    for (const std::size_t base : {std::size_t{2}, std::size_t{3}, std::size_t{17}, std::size_t{64}, na}) {
      SCOPED_TRACE(trace(7000, na, nb, na + nb, sa, sb) + ", from " + std::to_string(base) + operands(a, b));
      limb_vector product(na + nb, 7);
      VELDAR::detail::multiply_karatsuba(a.data(), na, b.data(), nb, product.data(), base);
      ASSERT_EQ(product, expected);
      limb_vector low(na, 7);
      const limb_vector square_b = random_limbs(random, na, sb);
      VELDAR::detail::multiply_karatsuba_low(a.data(), square_b.data(), na, low.data(), base);
      const limb_vector full = schoolbook(a, square_b);
      ASSERT_TRUE(std::equal(low.begin(), low.end(), full.begin())) << "truncated product";
    }
  }
}

// The schoolbook on its own at the longest factors it takes in registers
// of columns (2,048 limbs) and just past them, where it goes back to the
// rows: all nines make the largest column sums, which its 64-bit sums fold
// every sixteen products.
TEST(Products, LongestSchoolbookColumnsMatchThePlainRows) {
  std::mt19937_64 random(7500);
  for (const std::size_t n : {std::size_t{2047}, std::size_t{2048}, std::size_t{2049}}) {
    for (const shape s : {shape::nines, shape::uniform}) {
      const limb_vector a = random_limbs(random, n + 5, s);
      const limb_vector b = random_limbs(random, n, s);
      SCOPED_TRACE(trace(7500, n + 5, n, 2 * n + 5, s, s));
      limb_vector product(2 * n + 5, 7);
      VELDAR::detail::multiply_karatsuba(a.data(), a.size(), b.data(), n, product.data(), n + 1);
      ASSERT_EQ(product, schoolbook(a, b));
    }
  }
}

TEST(Products, FailedAllocationsLeaveTheProductAlone) {
  if (!veldar_test::can_fail_allocations()) {
    GTEST_SKIP() << "operator new is not the test's own here";  // valgrind, for one, takes it over
  }
  using namespace VELDAR::detail;
  std::mt19937_64 random(6000);
  // Limb by limb, Karatsuba, the truncated split, and the transform.
  for (const std::size_t n :
       {20 * limb_digits, karatsuba_from_limbs() * limb_digits + 5, split_low_from_limbs() * limb_digits + 5,
        (transform_low_limbs + transform_limbs) * limb_digits}) {
    const digit_vector a = random_digits(random, n, shape::uniform);
    const digit_vector b = random_digits(random, n, shape::uniform);
    std::size_t k = 0;
    for (;; ++k) {
      digit_vector product(2 * n, 3);
      veldar_test::fail_allocation(static_cast<long>(k) + 1);
      bool threw = false;
      try {
        multiply_digits(a, b, product, n);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
      veldar_test::fail_allocation(0);
      if (!threw) {
        break;
      }
      ASSERT_TRUE(std::all_of(product.begin(), product.end(), [](signed char d) { return d == 3; }))
          << n << " digits, allocation " << k;
    }
  }
}

}  // namespace
