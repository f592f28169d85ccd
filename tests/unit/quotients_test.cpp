// divide_digits() against independent references on seeded random operands:
// unsigned __int128 for operands of up to 38 digits, and for longer ones the
// quotient and remainder of dividends built as b * q + r (with r < b) by the
// plain multiplication below, plus the identity a == q * b + r, 0 <= r < b,
// for dividends drawn at random. Lengths fall on both sides of every
// threshold of the kernel; a failure prints the seed, the case number, the
// shapes and the operands.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "allocations.h"
#include "plain_digits.h"
#include "quotients.h"

namespace {

namespace detail = VELDAR::detail;
using detail::digit_vector;

// The seed of every test; VELDAR_DIVISION_SEED replaces it, for longer runs
// over many seeds.
const std::uint64_t seed = [] {
  const char* text = std::getenv("VELDAR_DIVISION_SEED");
  return text != nullptr ? std::strtoull(text, nullptr, 10) : 20240611;
}();

// Plain arithmetic for the references, and the operands (plain_digits.h).
using namespace veldar_test;  // NOLINT(google-build-using-namespace)

// ---- Operands.

// A number of exactly `count` significant digits (none for count 0); its
// limbs of shape::limbs from the edges of normalisation and estimation.
digit_vector make_number(std::mt19937_64& rng, std::size_t count, shape s) {
  static const std::vector<std::uint32_t> edges{0, 1, 2, 499999999, 500000000, 500000001, 999999998, 999999999};
  return veldar_test::make_number(rng, count, s, edges);
}

// Lengths on both sides of the kernel's thresholds, in digits: one machine
// word (19), one limb (9), the thin quotient blocks (8 limbs), the schoolbook
// blocks (40 limbs), Karatsuba in the products (64 limbs) and a few levels of
// recursion beyond.
std::size_t random_length(std::mt19937_64& rng) {
  static const std::size_t centres[] = {1,   9,   18,  19,  27,  38,  63,   72,   81,   117,  351, 360,
                                        369, 567, 576, 585, 720, 999, 1152, 1800, 2000, 3000, 4605};
  const std::size_t c = centres[rng() % (sizeof(centres) / sizeof(centres[0]))];
  const auto spread = static_cast<std::ptrdiff_t>(rng() % 5) - 2;
  return static_cast<std::size_t>(std::max<std::ptrdiff_t>(1, static_cast<std::ptrdiff_t>(c) + spread));
}

struct division {
  digit_vector quotient;
  digit_vector remainder;
};

division divide(const digit_vector& a, const digit_vector& b) {
  division d{digit_vector(3, 7), digit_vector(5, 7)};  // outputs of other sizes and contents
  detail::divide_digits(a, b, d.quotient, d.remainder);
  return d;
}

std::string describe(std::size_t iteration, const digit_vector& a, const digit_vector& b, const std::string& how) {
  std::ostringstream out;
  out << "seed " << seed << ", case " << iteration << " (" << how << "): a has " << a.size() << " elements, "
      << significant(a) << " significant: " << text(trimmed(a)) << "\n  b has " << b.size() << " elements, "
      << significant(b) << " significant: " << text(trimmed(b));
  return out.str();
}

::testing::AssertionResult well_formed(const division& d, const digit_vector& a, const digit_vector& b) {
  if (d.quotient.size() != a.size() || d.remainder.size() != b.size()) {
    return ::testing::AssertionFailure() << "sizes " << d.quotient.size() << " and " << d.remainder.size();
  }
  const auto digit = [](signed char c) { return c >= 0 && c <= 9; };
  if (!std::all_of(d.quotient.begin(), d.quotient.end(), digit) ||
      !std::all_of(d.remainder.begin(), d.remainder.end(), digit)) {
    return ::testing::AssertionFailure() << "an element outside 0 to 9";
  }
  return ::testing::AssertionSuccess();
}

TEST(DivideDigits, MatchesInt128UpToThirtyEightDigits) {
  std::mt19937_64 rng(seed);
  for (std::size_t iteration = 0; iteration < 30000; ++iteration) {
    const std::size_t ca = rng() % 39;
    const std::size_t cb = 1 + rng() % (rng() % 4 == 0 ? 38 : std::min<std::size_t>(ca + 1, 38));
    const shape sa = random_shape(rng);
    const shape sb = random_shape(rng);
    const digit_vector a = with_leading_zeros(rng, make_number(rng, ca, sa));
    const digit_vector b = with_leading_zeros(rng, make_number(rng, cb, sb));
    const std::string how = std::string(shape_names[static_cast<int>(sa)]) + " / " + shape_names[static_cast<int>(sb)];
    const division d = divide(a, b);
    ASSERT_TRUE(well_formed(d, a, b)) << describe(iteration, a, b, how);
    const u128 x = value(a);
    const u128 y = value(b);
    ASSERT_EQ(d.quotient, digits_of(x / y, a.size())) << describe(iteration, a, b, how);
    ASSERT_EQ(d.remainder, digits_of(x % y, b.size())) << describe(iteration, a, b, how);
  }
}

// Dividends b * q + r with r < b chosen (0, 1, b - 1, b - 2 or at random),
// and so with known results, and dividends drawn at random, checked with the
// division identity.
TEST(DivideDigits, LongOperandsGiveTheExactQuotientAndRemainder) {
  std::mt19937_64 rng(seed + 1);
  for (std::size_t iteration = 0; iteration < 2500; ++iteration) {
    const shape sb = random_shape(rng);
    const shape sq = random_shape(rng);
    const digit_vector b = make_number(rng, random_length(rng), sb);
    std::string how = std::string("b ") + shape_names[static_cast<int>(sb)];
    digit_vector a;
    digit_vector q;
    digit_vector r;
    const bool constructed = rng() % 4 != 0;
    if (constructed) {
      q = rng() % 16 == 0 ? digit_vector{} : make_number(rng, random_length(rng), sq);
      const digit_vector one{1};
      switch (rng() % 6) {
        case 0:
          r = {};
          break;
        case 1:
          r = one;
          break;
        case 2:
          r = difference(b, one);
          break;
        case 3:
          r = less(digit_vector{2}, b) ? difference(b, digit_vector{2}) : digit_vector{};
          break;
        default:
          r = make_number(rng, significant(b), random_shape(rng));
      }
      while (!less(r, b)) {
        r = difference(r, b);
      }
      a = sum(product(b, q), r);
      how += std::string(", q ") + shape_names[static_cast<int>(sq)] + " of " + std::to_string(q.size()) +
             " digits, r of " + std::to_string(r.size());
    } else {
      a = make_number(rng, random_length(rng) + (rng() % 2 == 0 ? b.size() : 0), sq);
      how += std::string(", a ") + shape_names[static_cast<int>(sq)] + " at random";
    }
    const digit_vector pa = with_leading_zeros(rng, a);
    const digit_vector pb = with_leading_zeros(rng, b);
    const division d = divide(pa, pb);
    ASSERT_TRUE(well_formed(d, pa, pb)) << describe(iteration, pa, pb, how);
    const digit_vector dq = trimmed(d.quotient);
    const digit_vector dr = trimmed(d.remainder);
    if (constructed) {
      ASSERT_EQ(dq, trimmed(q)) << describe(iteration, pa, pb, how);
      ASSERT_EQ(dr, trimmed(r)) << describe(iteration, pa, pb, how);
    }
    ASSERT_TRUE(less(dr, b)) << describe(iteration, pa, pb, how);
    ASSERT_EQ(sum(product(dq, b), dr), trimmed(a)) << describe(iteration, pa, pb, how);
  }
}

// Divisors and quotients around recursive_division_limbs, which the lengths
// above reach only in the build with small blocks.
TEST(DivideDigits, AcrossTheRecursionThreshold) {
  std::mt19937_64 rng(seed + 6);
  const std::size_t t = detail::recursive_division_limbs;
  const std::pair<std::size_t, std::size_t> limbs[] = {
      {t - 1, t + 1}, {t + 1, t - 1}, {t + 5, t + 7}, {2 * t + 1, t + 2}};
  for (std::size_t iteration = 0; iteration < std::size(limbs); ++iteration) {
    const auto [divisor_limbs, quotient_limbs] = limbs[iteration];
    const digit_vector b = make_number(rng, 9 * divisor_limbs - rng() % 9, random_shape(rng));
    const digit_vector q = make_number(rng, 9 * quotient_limbs - rng() % 9, shape::nonzero);
    digit_vector r = make_number(rng, significant(b), shape::uniform);
    while (!less(r, b)) {
      r = difference(r, b);
    }
    const digit_vector a = sum(product(b, q), r);
    const division d = divide(a, b);
    const std::string how = std::to_string(quotient_limbs) + " quotient limbs by " + std::to_string(divisor_limbs);
    ASSERT_EQ(trimmed(d.quotient), q) << describe(iteration, a, b, how);
    ASSERT_EQ(trimmed(d.remainder), trimmed(r)) << describe(iteration, a, b, how);
  }
}

// Powers of ten and their neighbours as divisors: dividing by 10^k moves the
// digits down, and a dividend of all nines leaves nines over 10^k - 1.
TEST(DivideDigits, PowersOfTenAndAllNines) {
  std::mt19937_64 rng(seed + 2);
  for (std::size_t iteration = 0; iteration < 400; ++iteration) {
    const std::size_t k = random_length(rng);
    const digit_vector a = make_number(rng, random_length(rng) + (rng() % 2 == 0 ? k : 0), random_shape(rng));
    const digit_vector power = make_number(rng, k + 1, shape::power);
    const division byten = divide(a, power);
    const std::string how = "10^" + std::to_string(k);
    digit_vector expected_q(a.size(), 0);
    digit_vector expected_r(power.size(), 0);
    for (std::size_t i = 0; i < a.size(); ++i) {
      (i < k ? expected_r[i] : expected_q[i - k]) = a[i];
    }
    ASSERT_EQ(byten.quotient, expected_q) << describe(iteration, a, power, how);
    ASSERT_EQ(byten.remainder, expected_r) << describe(iteration, a, power, how);

    // 10^(jk) - 1 = (10^k - 1)(10^(k(j-1)) + ... + 1): the quotient's digits
    // are 0..01 repeated, the remainder zero.
    const std::size_t j = 1 + rng() % 4;
    const digit_vector nines = make_number(rng, k, shape::nines);
    const digit_vector multiple = make_number(rng, j * k, shape::nines);
    const division by_nines = divide(multiple, nines);
    digit_vector repeated(multiple.size(), 0);
    for (std::size_t i = 0; i < j; ++i) {
      repeated[i * k] = 1;
    }
    ASSERT_EQ(by_nines.quotient, repeated) << describe(iteration, multiple, nines, "10^jk - 1 over 10^k - 1");
    ASSERT_EQ(trimmed(by_nines.remainder), digit_vector{}) << describe(iteration, multiple, nines, "nines");
  }
}

TEST(DivideDigits, OutputsMayBeTheOperands) {
  std::mt19937_64 rng(seed + 3);
  for (std::size_t iteration = 0; iteration < 200; ++iteration) {
    const digit_vector a = with_leading_zeros(rng, make_number(rng, random_length(rng) * 2, random_shape(rng)));
    const digit_vector b = with_leading_zeros(rng, make_number(rng, random_length(rng), random_shape(rng)));
    const division expected = divide(a, b);
    digit_vector x = a;
    digit_vector y = b;
    detail::divide_digits(x, y, x, y);
    EXPECT_EQ(x, expected.quotient) << describe(iteration, a, b, "into a, b");
    EXPECT_EQ(y, expected.remainder) << describe(iteration, a, b, "into a, b");
    x = a;
    y = b;
    detail::divide_digits(x, y, y, x);
    EXPECT_EQ(y, expected.quotient) << describe(iteration, a, b, "into b, a");
    EXPECT_EQ(x, expected.remainder) << describe(iteration, a, b, "into b, a");
  }
}

TEST(DivideDigits, ByZeroThrowsAndLeavesTheOutputs) {
  digit_vector quotient{1, 2};
  digit_vector remainder{3};
  for (const digit_vector& zero : {digit_vector{}, digit_vector{0, 0, 0}}) {
    EXPECT_THROW(detail::divide_digits(digit_vector{5, 4}, zero, quotient, remainder), std::domain_error);
    EXPECT_EQ(quotient, (digit_vector{1, 2}));
    EXPECT_EQ(remainder, digit_vector{3});
  }
}

// Every allocation of a call made to fail in turn: the outputs stay as they
// were, and once none fails the call succeeds.
TEST(DivideDigits, FailedAllocationsLeaveTheOutputs) {
  if (!veldar_test::can_fail_allocations()) {
    GTEST_SKIP() << "operator new is not the test's own here";
  }
  std::mt19937_64 rng(seed + 4);
  for (const std::size_t lengths : {30, 2000, 6000}) {
    const digit_vector a = make_number(rng, 2 * lengths, shape::nonzero);
    const digit_vector b = make_number(rng, lengths, shape::nonzero);
    const division expected = divide(a, b);
    for (long failing = 1;; ++failing) {
      digit_vector quotient{1, 2};
      digit_vector remainder{3};
      veldar_test::fail_allocation(failing);
      try {
        detail::divide_digits(a, b, quotient, remainder);
      } catch (const std::bad_alloc&) {
        veldar_test::fail_allocation(0);
        ASSERT_EQ(quotient, (digit_vector{1, 2})) << "allocation " << failing << " at " << lengths << " digits";
        ASSERT_EQ(remainder, digit_vector{3}) << "allocation " << failing << " at " << lengths << " digits";
        continue;
      }
      veldar_test::fail_allocation(0);
      EXPECT_EQ(quotient, expected.quotient);
      EXPECT_EQ(remainder, expected.remainder);
      EXPECT_GT(failing, 3) << "too few allocations seen at " << lengths << " digits";
      break;
    }
  }
}

// divide_limbs_with() at recursion thresholds from 2 limbs up, on operands
// of up to 200 limbs: q * b + r == a and r < b, by a plain product on limbs.
TEST(DivideLimbs, AnyRecursionThresholdGivesTheExactQuotient) {
  std::mt19937_64 rng(seed + 7);
  using limbs = std::vector<detail::limb>;
  const auto random_limbs = [&rng](std::size_t n, bool nines) {
    limbs x(n);
    for (auto& v : x) {
      v = nines ? limb_base - 1 : static_cast<detail::limb>(rng() % limb_base);
    }
    x.back() = std::max<detail::limb>(x.back(), 1);
    return x;
  };
  for (std::size_t iteration = 0; iteration < 80; ++iteration) {
    const std::size_t nb = 2 + rng() % 120;
    const std::size_t na = nb + rng() % 200;
    const limbs a = random_limbs(na, iteration % 5 == 0);
    const limbs b = random_limbs(nb, iteration % 7 == 0);
    for (const std::size_t threshold : {std::size_t{2}, std::size_t{3}, std::size_t{8}, nb / 2 + 1, nb + 1}) {
      limbs q(na - nb + 1);
      limbs r(nb);
      detail::divide_limbs_with(a.data(), na, b.data(), nb, q.data(), r.data(), threshold);
      const std::vector<std::uint64_t> check = limb_product_plus(q, b, r, na + 2);
      const std::string how = "case " + std::to_string(iteration) + ": " + std::to_string(na) + " / " +
                              std::to_string(nb) + " limbs, recursion from " + std::to_string(threshold);
      ASSERT_TRUE(std::equal(a.begin(), a.end(), check.begin()) && check[na] == 0 && check[na + 1] == 0) << how;
      ASSERT_TRUE(std::lexicographical_compare(r.rbegin(), r.rend(), b.rbegin(), b.rend())) << how << ": r >= b";
    }
  }
}

// Whether q * b + r == a and r < b, limb by limb, by a plain product.
::testing::AssertionResult divides(const std::vector<detail::limb>& a, const std::vector<detail::limb>& b,
                                   const std::vector<detail::limb>& q, const std::vector<detail::limb>& r) {
  const std::vector<std::uint64_t> check = limb_product_plus(q, b, r, a.size() + 2);
  if (!std::equal(a.begin(), a.end(), check.begin()) || check[a.size()] != 0 || check[a.size() + 1] != 0) {
    return ::testing::AssertionFailure() << "q * b + r != a";
  }
  if (!std::lexicographical_compare(r.rbegin(), r.rend(), b.rbegin(), b.rend())) {
    return ::testing::AssertionFailure() << "r >= b";
  }
  return ::testing::AssertionSuccess();
}

// Limbs as text, most significant first, for short operands.
std::string limb_text(const std::vector<detail::limb>& x) {
  if (x.size() > 60) {
    return "(" + std::to_string(x.size()) + " limbs)";
  }
  std::string text;
  for (auto v = x.rbegin(); v != x.rend(); ++v) {
    text += std::to_string(*v) + " ";
  }
  return text;
}

// Division by the divisor's reciprocal (Newton's iteration) from any divisor
// length up, on its hard cases: divisors whose top limbs make the largest
// and the smallest reciprocals (B^n - 1, B^(n-1), a top limb of 1 over zeros
// or over nines, whose normalisation is the largest), dividends of all
// nines and b q + (b - 1), and quotients shorter than the divisor.
TEST(DivideLimbs, ReciprocalAtAnyThresholdGivesTheExactQuotient) {
  std::mt19937_64 rng(seed + 9);
  using limbs = std::vector<detail::limb>;
  const auto divisor = [&rng](std::size_t n, int kind) {
    limbs x(n);
    for (auto& v : x) {
      v = static_cast<detail::limb>(rng() % limb_base);
    }
    switch (kind) {
      case 1:  // B^n - 1
        std::fill(x.begin(), x.end(), limb_base - 1);
        break;
      case 2:  // B^(n-1)
        std::fill(x.begin(), x.end(), 0);
        x.back() = 1;
        break;
      case 3:  // 1 over nines
        std::fill(x.begin(), x.end(), limb_base - 1);
        x.back() = 1;
        break;
      case 4:  // B^n / 2 and just below
        std::fill(x.begin(), x.end(), 0);
        x.back() = limb_base / 2;
        if (rng() % 2 == 0) {
          std::fill(x.begin(), x.end(), limb_base - 1);
          x.back() = limb_base / 2 - 1;
        }
        break;
      default:
        break;
    }
    x.back() = std::max<detail::limb>(x.back(), 1);
    return x;
  };
  for (std::size_t iteration = 0; iteration < 120; ++iteration) {
    const std::size_t nb = 2 + rng() % 140;
    const std::size_t na = nb + rng() % (2 * nb + 2);
    const limbs b = divisor(nb, static_cast<int>(iteration % 6));
    limbs a(na);
    if (iteration % 5 == 0) {
      std::fill(a.begin(), a.end(), limb_base - 1);
    } else {
      for (auto& v : a) {
        v = static_cast<detail::limb>(rng() % limb_base);
      }
      a.back() = std::max<detail::limb>(a.back(), 1);
    }
    for (const std::size_t reciprocal : {std::size_t{2}, std::size_t{5}, std::size_t{16}, nb / 2 + 1, nb}) {
      for (const std::size_t recursive : {std::size_t{3}, std::size_t{431}}) {
        limbs q(na - nb + 1, 7);
        limbs r(nb, 7);
        detail::divide_limbs_with(a.data(), na, b.data(), nb, q.data(), r.data(), recursive, reciprocal);
        ASSERT_TRUE(divides(a, b, q, r)) << "case " << iteration << ": " << na << " / " << nb
                                         << " limbs, reciprocal from " << reciprocal << ", recursion from " << recursive
                                         << "\n  a = " << limb_text(a) << "\n  b = " << limb_text(b);
      }
    }
  }
}

// The reciprocal on its own: B^2n - v x within three times v of zero, for
// normalised divisors of the hard shapes and at random, from the exact base
// case up through several steps of Newton's iteration.
TEST(DivideLimbs, ReciprocalIsWithinThreeUnits) {
  std::mt19937_64 rng(seed + 13);
  using limbs = std::vector<detail::limb>;
  // x + y and x < y on limb vectors of any lengths.
  const auto add = [](limbs x, const limbs& y) {
    x.resize(std::max(x.size(), y.size()) + 1, 0);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const std::uint64_t t = x[i] + (i < y.size() ? y[i] : 0) + carry;
      x[i] = static_cast<detail::limb>(t % limb_base);
      carry = t / limb_base;
    }
    return x;
  };
  const auto below = [](limbs x, limbs y) {
    x.resize(std::max(x.size(), y.size()), 0);
    y.resize(x.size(), 0);
    return std::lexicographical_compare(x.rbegin(), x.rend(), y.rbegin(), y.rend());
  };
  const auto times = [](const limbs& x, const limbs& y) {
    std::vector<std::uint64_t> out(x.size() + y.size() + 1, 0);
    for (std::size_t i = 0; i < x.size(); ++i) {
      std::uint64_t carry = 0;
      for (std::size_t j = 0; j < y.size(); ++j) {
        const std::uint64_t t = out[i + j] + std::uint64_t{x[i]} * y[j] + carry;
        out[i + j] = t % limb_base;
        carry = t / limb_base;
      }
      out[i + y.size()] += carry;
    }
    return limbs(out.begin(), out.end());
  };
  for (std::size_t iteration = 0; iteration < 150; ++iteration) {
    const std::size_t n = 1 + rng() % 160;
    limbs v(n);
    for (auto& x : v) {
      x = static_cast<detail::limb>(rng() % limb_base);
    }
    switch (iteration % 4) {
      case 0:
        std::fill(v.begin(), v.end(), limb_base - 1);
        break;
      case 1:
        std::fill(v.begin(), v.end(), 0);
        break;
      case 2:
        std::fill(v.begin(), v.end(), limb_base - 1);
        v.back() = limb_base / 2;
        break;
      default:
        break;
    }
    v.back() = std::max<detail::limb>(v.back(), limb_base / 2);
    limbs power(2 * n + 1, 0);  // B^2n
    power.back() = 1;
    const limbs thrice = times(v, {3});
    for (const std::size_t base : {std::size_t{1}, std::size_t{4}, std::size_t{9}, n / 3 + 1}) {
      limbs x(n + 1, 7);
      detail::reciprocal_limbs(v.data(), n, x.data(), base);
      const limbs product = times(v, x);
      const std::string how = "case " + std::to_string(iteration) + ": " + std::to_string(n) + " limbs, exact from " +
                              std::to_string(base) + "\n  v = " + limb_text(v) + "\n  x = " + limb_text(x);
      ASSERT_FALSE(below(add(product, thrice), power)) << how << ": v x < B^2n - 3v";
      ASSERT_FALSE(below(add(power, thrice), product)) << how << ": v x > B^2n + 3v";
    }
  }
}

// Quotients and divisors long enough for the reciprocal at its threshold:
// dividends built as b q + r with r = b - 1 and r at random, by the plain
// product.
TEST(DivideLimbs, LongDivisorsTakeTheReciprocal) {
  std::mt19937_64 rng(seed + 11);
  using limbs = std::vector<detail::limb>;
  for (const std::size_t nb : {detail::reciprocal_division_limbs - 1, detail::reciprocal_division_limbs,
                               detail::reciprocal_division_limbs + 7}) {
    for (int round = 0; round < 2; ++round) {
      limbs b(nb);
      limbs q(nb + rng() % 3);
      limbs r(nb);
      for (auto* x : {&b, &q, &r}) {
        for (auto& v : *x) {
          v = static_cast<detail::limb>(rng() % limb_base);
        }
      }
      b.back() = std::max<detail::limb>(b.back(), 1);
      if (round == 0) {  // r = b - 1
        r = b;
        std::size_t i = 0;
        for (; r[i] == 0; ++i) {
          r[i] = limb_base - 1;
        }
        --r[i];
      } else {
        r.back() = std::min<detail::limb>(r.back(), b.back() - 1);
      }
      const std::vector<std::uint64_t> wide = limb_product_plus(q, b, r, nb + q.size() + 1);  // a = b q + r
      limbs a(wide.begin(), wide.end());
      while (a.size() > nb && a.back() == 0) {
        a.pop_back();
      }
      limbs quotient(a.size() - nb + 1);
      limbs remainder(nb);
      detail::divide_limbs(a.data(), a.size(), b.data(), nb, quotient.data(), remainder.data());
      q.resize(quotient.size());
      EXPECT_EQ(quotient, q) << nb << " limbs, round " << round;
      EXPECT_EQ(remainder, r) << nb << " limbs, round " << round;
    }
  }
}

// divide_limbs() with its outputs over its operands.
TEST(DivideLimbs, OutputsMayBeTheOperands) {
  std::mt19937_64 rng(seed + 5);
  for (std::size_t iteration = 0; iteration < 300; ++iteration) {
    const std::size_t nb = 1 + rng() % 150;
    const std::size_t na = nb + rng() % 150;
    std::vector<detail::limb> a(na);
    std::vector<detail::limb> b(nb);
    for (auto& x : a) {
      x = static_cast<detail::limb>(rng() % limb_base);
    }
    for (auto& x : b) {
      x = static_cast<detail::limb>(rng() % limb_base);
    }
    b.back() = std::max<detail::limb>(b.back(), 1);
    std::vector<detail::limb> q(na - nb + 1);
    std::vector<detail::limb> r(nb);
    detail::divide_limbs(a.data(), na, b.data(), nb, q.data(), r.data());
    std::vector<detail::limb> x = a;
    std::vector<detail::limb> y = b;
    detail::divide_limbs(x.data(), na, y.data(), nb, x.data(), y.data());
    EXPECT_TRUE(std::equal(q.begin(), q.end(), x.begin())) << "case " << iteration << ": " << na << " / " << nb;
    EXPECT_EQ(y, r) << "case " << iteration << ": " << na << " / " << nb;
  }
}

}  // namespace
