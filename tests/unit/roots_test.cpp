// The square root and power kernels (roots.h) against independent references
// on seeded random operands:
// - square roots: a bit-by-bit root in unsigned __int128 up to 38 digits, the
//   digit-pair method taught at school up to a few hundred digits, and for
//   longer numbers root^2 <= n < (root + 1)^2 through the product kernel, the
//   rounding flags from n - root^2 against the root; exact squares and their
//   neighbours, powers of ten, all nines, leading zeros, zero and one, at
//   sizes on both sides of every threshold of the kernel and of the products
//   and quotients it calls;
// - powers: repeated plain multiplication modulo 10^kept, binary
//   exponentiation in unsigned __int128 (exact, and modulo 10^kept), and for
//   huge exponents binary exponentiation from the low bit up on plain
//   products; n = 0, 1, 2, zero, one, powers of ten.
// Every allocation of a call is made to fail in turn. A failure prints the
// seed, the case and the operands.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <limits>
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
#include "products.h"
#include "roots.h"
#include "scratch.h"

namespace {

namespace detail = VELDAR::detail;
using detail::digit_vector;
using detail::limb;
using detail::limb_vector;
using VELDAR::rounding;

// The seed of every test; VELDAR_ROOTS_SEED replaces it, for longer runs over
// many seeds.
const std::uint64_t seed = [] {
  const char* text = std::getenv("VELDAR_ROOTS_SEED");
  return text != nullptr ? std::strtoull(text, nullptr, 10) : 20250611;
}();

// Plain arithmetic for the references, and the operands (plain_digits.h).
using namespace veldar_test;  // NOLINT(google-build-using-namespace)

// ---- More plain arithmetic, for the roots and powers.

// The low `kept` digits of x, trimmed.
digit_vector low(digit_vector x, std::size_t kept) {
  x.resize(std::min(x.size(), kept));
  return trimmed(x);
}

// x * d for a digit d.
digit_vector times_digit(const digit_vector& x, int d) {
  digit_vector out(x.size() + 1, 0);
  int carry = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int t = (i < x.size() ? x[i] : 0) * d + carry;
    out[i] = static_cast<signed char>(t % 10);
    carry = t / 10;
  }
  return trimmed(out);
}

// x * 10^places.
digit_vector shifted(const digit_vector& x, std::size_t places) {
  digit_vector out(places, 0);
  out.insert(out.end(), x.begin(), x.end());
  return trimmed(out);
}

const digit_vector one{1};

// ---- References.

// floor(sqrt(v)) bit by bit: each bit of the root from the top is kept when
// the square still fits.
u128 bit_root(u128 v) {
  u128 root = 0;
  for (int bit = 63; bit >= 0; --bit) {
    const u128 candidate = root | (u128{1} << bit);
    if (candidate * candidate <= v) {
      root = candidate;
    }
  }
  return root;
}

// floor(sqrt(n)) and n - root^2 by the digit-pair method: each pair of
// digits from the top brought down, the next digit d the largest with
// (20 root + d) d at most what is left.
std::pair<digit_vector, digit_vector> plain_square_root(const digit_vector& n) {
  const digit_vector x = trimmed(n);
  digit_vector root;
  digit_vector rest;
  for (std::size_t pair = (x.size() + 1) / 2; pair-- > 0;) {
    const digit_vector down{x[2 * pair], 2 * pair + 1 < x.size() ? x[2 * pair + 1] : static_cast<signed char>(0)};
    rest = sum(shifted(rest, 2), trimmed(down));
    const digit_vector twenty = shifted(times_digit(root, 2), 1);
    int d = 9;
    digit_vector taken;
    for (;; --d) {
      taken = times_digit(sum(twenty, digit_vector{static_cast<signed char>(d)}), d);
      if (!less(rest, taken)) {
        break;
      }
    }
    rest = difference(rest, taken);
    root = sum(shifted(root, 1), trimmed(digit_vector{static_cast<signed char>(d)}));
  }
  return {root, rest};
}

// a^n mod 10^kept, multiplying by a n times.
digit_vector repeated_power(const digit_vector& a, unsigned long long n, std::size_t kept) {
  digit_vector power = low(one, kept);
  for (unsigned long long i = 0; i < n; ++i) {
    power = low(product(power, a), kept);
  }
  return power;
}

// a^n mod 10^kept by binary exponentiation from the lowest bit of n up, with
// `multiply` for the products.
template <typename multiplication>
digit_vector low_bits_power(digit_vector a, unsigned long long n, std::size_t kept, multiplication multiply) {
  digit_vector power = low(one, kept);
  a = low(a, kept);
  for (; n != 0; n >>= 1) {
    if (n & 1U) {
      power = low(multiply(power, a), kept);
    }
    if (n > 1) {
      a = low(multiply(a, a), kept);
    }
  }
  return power;
}

// The product through the product kernel.
digit_vector kernel_product(const digit_vector& x, const digit_vector& y) {
  digit_vector out(significant(x) + significant(y) + 1, 0);
  detail::multiply_digits(x, y, out, out.size());
  return trimmed(out);
}

// a^n exactly, when it fits in 128 bits, by binary exponentiation from the
// lowest bit up; false when it does not.
bool wide_power(u128 a, unsigned long long n, u128& power) {
  const u128 most = ~u128{0};
  power = 1;
  for (; n != 0; n >>= 1) {
    if (n & 1U) {
      if (a != 0 && power > most / a) {
        return false;
      }
      power *= a;
    }
    if (n > 1) {
      if (a != 0 && a > most / a) {
        return false;
      }
      a *= a;
    }
  }
  return true;
}

// a^n mod m for m <= 10^19, from the lowest bit up.
u128 wide_power_mod(u128 a, unsigned long long n, u128 m) {
  u128 power = 1 % m;
  a %= m;
  for (; n != 0; n >>= 1) {
    if (n & 1U) {
      power = power * a % m;
    }
    a = a * a % m;
  }
  return power;
}

// ---- Operands.

// A number of exactly `count` significant digits (none for count 0); its
// limbs of shape::limbs at the edges: zeros, ones, halves, nines.
digit_vector make_number(std::mt19937_64& rng, std::size_t count, shape s) {
  static const std::vector<std::uint32_t> edges{0,         1,         2,         249999999, 250000000,
                                                499999999, 500000000, 999999998, 999999999};
  return veldar_test::make_number(rng, count, s, edges);
}

// A length near one of `centres`, two digits either way.
std::size_t near(std::mt19937_64& rng, const std::vector<std::size_t>& centres) {
  const std::size_t c = centres[rng() % centres.size()];
  const auto spread = static_cast<std::ptrdiff_t>(rng() % 5) - 2;
  return static_cast<std::size_t>(std::max<std::ptrdiff_t>(1, static_cast<std::ptrdiff_t>(c) + spread));
}

// ---- Square roots.

struct root_result {
  digit_vector root;
  detail::square_root_rest rest;
};

root_result take_root(const digit_vector& n) {
  root_result r{digit_vector(3, 7), {}};  // a root of another size and contents
  r.rest = detail::square_root_digits(n, r.root);
  return r;
}

std::string describe(std::size_t iteration, const digit_vector& n, const std::string& how) {
  std::ostringstream out;
  out << "seed " << seed << ", case " << iteration << " (" << how << "): n has " << n.size() << " elements, "
      << significant(n) << " significant: " << text(trimmed(n));
  return out.str();
}

::testing::AssertionResult well_formed(const root_result& r, const digit_vector& n) {
  if (r.root.size() != (n.size() + 1) / 2) {
    return ::testing::AssertionFailure() << "root of " << r.root.size() << " elements";
  }
  if (!std::all_of(r.root.begin(), r.root.end(), [](signed char c) { return c >= 0 && c <= 9; })) {
    return ::testing::AssertionFailure() << "an element outside 0 to 9";
  }
  return ::testing::AssertionSuccess();
}

// The root and flags against a known root and rest n - root^2.
::testing::AssertionResult matches(const root_result& r, const digit_vector& root, const digit_vector& rest) {
  if (trimmed(r.root) != trimmed(root)) {
    return ::testing::AssertionFailure() << "root " << text(trimmed(r.root)) << ", expected " << text(trimmed(root));
  }
  const bool exact = significant(rest) == 0;
  const bool above = less(root, rest);
  if (r.rest.exact != exact || r.rest.above_half != above) {
    return ::testing::AssertionFailure() << "exact " << r.rest.exact << " above half " << r.rest.above_half
                                         << ", expected " << exact << " and " << above;
  }
  return ::testing::AssertionSuccess();
}

// root^2 <= n < (root + 1)^2 through the product kernel, and the flags from
// n - root^2 against the root.
::testing::AssertionResult bounds_hold(const root_result& r, const digit_vector& n) {
  const digit_vector root = trimmed(r.root);
  const digit_vector square = kernel_product(root, root);
  if (less(n, square)) {
    return ::testing::AssertionFailure() << "root^2 > n";
  }
  const digit_vector next = sum(root, one);
  if (!less(n, kernel_product(next, next))) {
    return ::testing::AssertionFailure() << "(root + 1)^2 <= n";
  }
  return matches(r, root, difference(trimmed(n), square));
}

TEST(SquareRootDigits, MatchesTheBitByBitRootUpToThirtyEightDigits) {
  std::mt19937_64 rng(seed);
  for (std::size_t iteration = 0; iteration < 20000; ++iteration) {
    const std::size_t count = rng() % 39;
    const shape s = random_shape(rng);
    const digit_vector n = with_leading_zeros(rng, make_number(rng, count, s));
    const root_result r = take_root(n);
    const std::string how = shape_names[static_cast<int>(s)];
    ASSERT_TRUE(well_formed(r, n)) << describe(iteration, n, how);
    const u128 v = value(n);
    const u128 root = bit_root(v);
    ASSERT_EQ(r.root, digits_of(root, (n.size() + 1) / 2)) << describe(iteration, n, how);
    ASSERT_EQ(r.rest.exact, v == root * root) << describe(iteration, n, how);
    // Above root + 1/2 exactly when 4n > (2 root + 1)^2.
    ASSERT_EQ(r.rest.above_half, 4 * v > (2 * root + 1) * (2 * root + 1)) << describe(iteration, n, how);
  }
}

// From one limb of 10^9 up to a few hundred digits: the word's edge (38 and
// 39 digits), the limbs' base (4 limbs, 36 digits) and a few levels of the
// Newton step above it.
TEST(SquareRootDigits, MatchesTheDigitPairMethodUpToThreeHundredDigits) {
  std::mt19937_64 rng(seed + 1);
  const std::vector<std::size_t> centres = {9, 18, 36, 38, 39, 40, 45, 46, 54, 63, 72, 81, 90, 100, 150, 300};
  for (std::size_t iteration = 0; iteration < 1500; ++iteration) {
    const shape s = random_shape(rng);
    const digit_vector n = with_leading_zeros(rng, make_number(rng, near(rng, centres), s));
    const root_result r = take_root(n);
    const std::string how = shape_names[static_cast<int>(s)];
    ASSERT_TRUE(well_formed(r, n)) << describe(iteration, n, how);
    const auto [root, rest] = plain_square_root(n);
    ASSERT_TRUE(matches(r, root, rest)) << describe(iteration, n, how);
  }
}

// Long numbers, on both sides of the sizes where the Newton step's division
// turns recursive (a divisor and quotient of 431 limbs: about 15,500 digits)
// and its square goes to Karatsuba (304 limbs: 11,000 digits) and to the
// transform (512 limbs: 18,450 digits).
TEST(SquareRootDigits, LongRootsLieBetweenTheSquares) {
  std::mt19937_64 rng(seed + 2);
  const std::vector<std::size_t> centres = {301,   999,   2000,  4001,  9000,  10950,
                                            11000, 15480, 15700, 18430, 18470, 30001};
  for (std::size_t iteration = 0; iteration < 120; ++iteration) {
    const shape s = random_shape(rng);
    const digit_vector n = with_leading_zeros(rng, make_number(rng, near(rng, centres), s));
    const root_result r = take_root(n);
    const std::string how = shape_names[static_cast<int>(s)];
    ASSERT_TRUE(well_formed(r, n)) << describe(iteration, n, how);
    ASSERT_TRUE(bounds_hold(r, n)) << describe(iteration, n, how);
  }
}

// x^2 and its neighbours, whose roots and rests are known: x^2 - 1 has root
// x - 1 and rest 2x - 2 (above half), x^2 + 1 root x and rest 1, x^2 + x rest
// x (below half: no tie), x^2 + x + 1 and x^2 + 2x above half.
TEST(SquareRootDigits, ExactSquaresAndTheirNeighbours) {
  std::mt19937_64 rng(seed + 3);
  const std::vector<std::size_t> centres = {1, 5, 9, 10, 18, 19, 20, 27, 50, 100, 500, 1000, 3000, 5600, 8000, 9300};
  for (std::size_t iteration = 0; iteration < 160; ++iteration) {
    const shape s = random_shape(rng);
    digit_vector x = make_number(rng, near(rng, centres), s);
    if (less(x, digit_vector{2})) {
      x = {2};
    }
    const digit_vector square = product(x, x);
    const digit_vector x_less = difference(x, one);
    const std::string how = std::string(shape_names[static_cast<int>(s)]) + " x of " + std::to_string(x.size());
    const struct {
      digit_vector n;
      digit_vector root;
      digit_vector rest;
      const char* name;
    } cases[] = {
        {square, x, {}, "x^2"},
        {difference(square, one), x_less, times_digit(x_less, 2), "x^2 - 1"},
        {sum(square, one), x, one, "x^2 + 1"},
        {sum(square, x), x, x, "x^2 + x"},
        {sum(sum(square, x), one), x, sum(x, one), "x^2 + x + 1"},
        {sum(square, times_digit(x, 2)), x, times_digit(x, 2), "x^2 + 2x"},
    };
    for (const auto& c : cases) {
      const digit_vector n = with_leading_zeros(rng, c.n);
      const root_result r = take_root(n);
      ASSERT_TRUE(well_formed(r, n)) << describe(iteration, n, how + ", " + c.name);
      ASSERT_TRUE(matches(r, c.root, c.rest)) << describe(iteration, n, how + ", " + c.name);
    }
  }
}

// 10^k (root 10^(k/2), exact, for even k) and 10^k - 1 (root 10^(k/2) - 1
// and rest twice that, above half, for even k); odd k between the squares.
TEST(SquareRootDigits, PowersOfTenAndAllNines) {
  std::vector<std::size_t> exponents;
  for (std::size_t k = 0; k <= 120; ++k) {
    exponents.push_back(k);
  }
  for (const std::size_t k : {323, 324, 1000, 1001, 4000, 4001, 15500, 18466, 18467}) {
    exponents.push_back(k);
  }
  for (const std::size_t k : exponents) {
    digit_vector power(k + 1, 0);
    power[k] = 1;
    const digit_vector nines(k, 9);
    const std::string how = "k = " + std::to_string(k);
    const root_result r = take_root(power);
    const root_result s = take_root(nines);
    ASSERT_TRUE(well_formed(r, power)) << how;
    ASSERT_TRUE(well_formed(s, nines)) << how;
    if (k % 2 == 0) {
      digit_vector root(k / 2 + 1, 0);
      root[k / 2] = 1;
      ASSERT_TRUE(matches(r, root, {})) << "10^" << how;
      const digit_vector nine_root(k / 2, 9);
      ASSERT_TRUE(matches(s, nine_root, times_digit(nine_root, 2))) << "10^k - 1, " << how;
    } else {
      ASSERT_TRUE(bounds_hold(r, power)) << "10^" << how;
      ASSERT_TRUE(bounds_hold(s, nines)) << "10^k - 1, " << how;
    }
  }
}

TEST(SquareRootDigits, ZeroOneAndLeadingZeros) {
  for (const digit_vector& zero : {digit_vector{}, digit_vector{0}, digit_vector(7, 0), digit_vector(200, 0)}) {
    const root_result r = take_root(zero);
    EXPECT_EQ(r.root, digit_vector((zero.size() + 1) / 2, 0)) << zero.size() << " zeros";
    EXPECT_TRUE(r.rest.exact);
    EXPECT_FALSE(r.rest.above_half);
  }
  for (const std::size_t size : {1, 2, 3, 40, 41, 500}) {
    digit_vector n(size, 0);
    n[0] = 1;
    const root_result r = take_root(n);
    digit_vector root((size + 1) / 2, 0);
    root[0] = 1;
    EXPECT_EQ(r.root, root) << "1 in " << size << " elements";
    EXPECT_TRUE(r.rest.exact);
  }
  // The same number with and without leading zeros has the same root, the
  // root's size following the input's.
  std::mt19937_64 rng(seed + 4);
  for (std::size_t iteration = 0; iteration < 200; ++iteration) {
    const digit_vector n = make_number(rng, near(rng, {5, 38, 39, 100, 1000}), random_shape(rng));
    digit_vector padded = n;
    padded.resize(n.size() + 1 + rng() % 100, 0);
    const root_result r = take_root(n);
    const root_result p = take_root(padded);
    ASSERT_TRUE(well_formed(p, padded)) << describe(iteration, padded, "padded");
    ASSERT_EQ(trimmed(r.root), trimmed(p.root)) << describe(iteration, padded, "padded");
    ASSERT_EQ(r.rest.exact, p.rest.exact) << describe(iteration, padded, "padded");
    ASSERT_EQ(r.rest.above_half, p.rest.above_half) << describe(iteration, padded, "padded");
  }
}

TEST(SquareRootDigits, TheRootMayBeTheNumber) {
  std::mt19937_64 rng(seed + 5);
  for (std::size_t iteration = 0; iteration < 100; ++iteration) {
    const digit_vector n =
        with_leading_zeros(rng, make_number(rng, near(rng, {10, 38, 39, 500, 3000}), random_shape(rng)));
    const root_result expected = take_root(n);
    digit_vector x = n;
    const detail::square_root_rest rest = detail::square_root_digits(x, x);
    ASSERT_EQ(x, expected.root) << describe(iteration, n, "in place");
    ASSERT_EQ(rest.exact, expected.rest.exact) << describe(iteration, n, "in place");
    ASSERT_EQ(rest.above_half, expected.rest.above_half) << describe(iteration, n, "in place");
  }
}

// square_root_limbs() on its own, from no limb up to 60, leading zero limbs
// included: s^2 + r == m and r <= 2s by a plain product on limbs, and nothing
// written past s[0, h) and r[0, h + 1).
TEST(SquareRootLimbs, RootAndRemainderMakeTheNumber) {
  std::mt19937_64 rng(seed + 6);
  const limb edges[] = {0, 1, 2, 249999999, 250000000, 999999998, 999999999};
  for (std::size_t iteration = 0; iteration < 3000; ++iteration) {
    const std::size_t n = iteration < 100 ? iteration % 13 : rng() % 61;
    const std::size_t h = (n + 1) / 2;
    limb_vector m(n);
    const unsigned kind = static_cast<unsigned>(rng() % 4);
    for (limb& x : m) {
      x = kind == 0 ? limb_base - 1 : kind == 1 ? edges[rng() % 7] : static_cast<limb>(rng() % limb_base);
    }
    const std::size_t zeros = n != 0 && rng() % 4 == 0 ? rng() % n : 0;
    std::fill(m.end() - static_cast<std::ptrdiff_t>(zeros), m.end(), 0);
    constexpr limb guard = 123456789;
    limb_vector s(h + 2, guard);
    limb_vector r(h + 3, guard);
    detail::square_root_limbs(m.data(), n, s.data() + 1, r.data() + 1);
    std::ostringstream how;
    how << "seed " << seed << ", case " << iteration << ": " << n << " limbs, " << zeros << " of them zero on top:";
    for (auto x = m.rbegin(); x != m.rend(); ++x) {
      how << ' ' << *x;
    }
    ASSERT_TRUE(s.front() == guard && s.back() == guard && r.front() == guard && r.back() == guard) << how.str();
    const limb_vector root(s.begin() + 1, s.end() - 1);
    const limb_vector rest(r.begin() + 1, r.end() - 1);
    const std::vector<std::uint64_t> check = limb_product_plus(root, root, rest, 2 * h + 2);  // s^2 + r
    for (std::size_t k = 0; k < check.size(); ++k) {
      ASSERT_EQ(check[k], k < n ? m[k] : 0) << how.str() << "\n  s^2 + r differs from m at limb " << k;
    }
    // r <= 2s: compare r with s + s, limb by limb from the top.
    std::vector<std::uint64_t> twice(h + 1, 0);
    std::uint64_t c = 0;
    for (std::size_t k = 0; k < h + 1; ++k) {
      const std::uint64_t t = (k < h ? 2 * std::uint64_t{root[k]} : 0) + c;
      twice[k] = t % limb_base;
      c = t / limb_base;
    }
    ASSERT_FALSE(std::lexicographical_compare(twice.rbegin(), twice.rend(), rest.rbegin(), rest.rend()))
        << how.str() << "\n  r > 2s";
  }
}

TEST(SquareRootLimbs, TheRootMayBeTheNumber) {
  std::mt19937_64 rng(seed + 7);
  for (std::size_t iteration = 0; iteration < 200; ++iteration) {
    const std::size_t n = 1 + rng() % 200;
    const std::size_t h = (n + 1) / 2;
    limb_vector m(n);
    for (limb& x : m) {
      x = static_cast<limb>(rng() % limb_base);
    }
    limb_vector s(h);
    limb_vector r(h + 1);
    detail::square_root_limbs(m.data(), n, s.data(), r.data());
    limb_vector x = m;
    limb_vector y(h + 1);
    detail::square_root_limbs(x.data(), n, x.data(), y.data());
    ASSERT_TRUE(std::equal(s.begin(), s.end(), x.begin())) << "case " << iteration << ": " << n << " limbs";
    ASSERT_EQ(y, r) << "case " << iteration << ": " << n << " limbs";
  }
}

TEST(SquareRootDigits, RoundingByEveryMode) {
  const struct {
    std::uint64_t n;
    const char* root;          // the true root, about
    std::uint64_t rounded[7];  // by down, up, ceiling, floor, halfup, halfdown, halfeven
  } cases[] = {
      {2, "1.41", {1, 2, 2, 1, 1, 1, 1}},
      {3, "1.73", {1, 2, 2, 1, 2, 2, 2}},
      {4, "2", {2, 2, 2, 2, 2, 2, 2}},
      {6, "2.45", {2, 3, 3, 2, 2, 2, 2}},
      {7, "2.65", {2, 3, 3, 2, 3, 3, 3}},
      {12, "3.46", {3, 4, 4, 3, 3, 3, 3}},
      {13, "3.61", {3, 4, 4, 3, 4, 4, 4}},
      {99, "9.95", {9, 10, 10, 9, 10, 10, 10}},
      {9999, "99.995", {99, 100, 100, 99, 100, 100, 100}},
      {0, "0", {0, 0, 0, 0, 0, 0, 0}},
  };
  const rounding modes[] = {rounding::down,   rounding::up,       rounding::ceiling, rounding::floor,
                            rounding::halfup, rounding::halfdown, rounding::halfeven};
  for (const auto& c : cases) {
    const digit_vector n = trimmed(digits_of(c.n, 20));
    const root_result r = take_root(n);
    for (std::size_t m = 0; m < 7; ++m) {
      digit_vector root = r.root;
      detail::round_square_root(root, r.rest, modes[m]);
      EXPECT_EQ(trimmed(root), digits_of(c.rounded[m])) << "sqrt(" << c.n << ") = " << c.root << ", mode " << m;
      EXPECT_GE(root.size(), r.root.size());
    }
    digit_vector root = r.root;
    if (r.rest.exact) {
      EXPECT_NO_THROW(detail::round_square_root(root, r.rest, rounding::exact));
      EXPECT_EQ(root, r.root);
    } else {
      try {
        detail::round_square_root(root, r.rest, rounding::exact);
        ADD_FAILURE() << "sqrt(" << c.n << ") with exact: no exception";
      } catch (const std::domain_error& e) {
        EXPECT_STREQ(e.what(), "Rounding necessary!");
      }
      EXPECT_EQ(root, r.root) << "sqrt(" << c.n << ") with exact";
    }
  }
  // A root of all nines grows by an element when it rounds up: sqrt(99) is
  // {9}, rounded up {0, 1}.
  digit_vector nines{9, 9};
  const root_result r = take_root(nines);
  EXPECT_EQ(r.root, digit_vector{9});
  digit_vector root = r.root;
  detail::round_square_root(root, r.rest, rounding::halfeven);
  EXPECT_EQ(root, (digit_vector{0, 1}));
}

// Rounded to the nearest by halfeven against the reference: 4n against
// (2 root + 1)^2 decides.
TEST(SquareRootDigits, RoundingToTheNearestMatchesTheReference) {
  std::mt19937_64 rng(seed + 8);
  for (std::size_t iteration = 0; iteration < 5000; ++iteration) {
    const digit_vector n = make_number(rng, rng() % 37, random_shape(rng));
    const u128 v = value(n);
    const u128 root = bit_root(v);
    const u128 nearest = 4 * v > (2 * root + 1) * (2 * root + 1) ? root + 1 : root;
    const root_result r = take_root(n);
    digit_vector rounded = r.root;
    detail::round_square_root(rounded, r.rest, rounding::halfeven);
    ASSERT_EQ(value(rounded), nearest) << describe(iteration, n, "halfeven");
  }
}

// Every allocation of a call made to fail in turn, from an empty arena: the
// root stays as it was, and once none fails the call succeeds.
TEST(SquareRootDigits, FailedAllocationsLeaveTheRoot) {
  if (!veldar_test::can_fail_allocations()) {
    GTEST_SKIP() << "operator new is not the test's own here";
  }
  std::mt19937_64 rng(seed + 9);
  for (const std::size_t count : {30, 200, 3000, 20000}) {
    const digit_vector n = make_number(rng, count, shape::nonzero);
    const root_result expected = take_root(n);
    for (long failing = 1;; ++failing) {
      digit_vector root{1, 2, 3};
      detail::release_scratch();
      veldar_test::fail_allocation(failing);
      detail::square_root_rest rest;
      try {
        rest = detail::square_root_digits(n, root);
      } catch (const std::bad_alloc&) {
        veldar_test::fail_allocation(0);
        ASSERT_EQ(root, (digit_vector{1, 2, 3})) << "allocation " << failing << " at " << count << " digits";
        continue;
      }
      veldar_test::fail_allocation(0);
      EXPECT_EQ(root, expected.root) << count << " digits";
      EXPECT_EQ(rest.exact, expected.rest.exact);
      EXPECT_EQ(rest.above_half, expected.rest.above_half);
      EXPECT_GT(failing, count > detail::word_root_digits ? 3 : 1) << "too few allocations seen at " << count;
      break;
    }
  }
  // Rounding up a root of all nines takes an element more.
  digit_vector root{9, 9};
  veldar_test::fail_allocation(1);
  EXPECT_THROW(detail::round_square_root(root, detail::square_root_rest{false, true}, rounding::up), std::bad_alloc);
  veldar_test::fail_allocation(0);
  EXPECT_EQ(root, (digit_vector{9, 9}));
}

// ---- Powers.

digit_vector take_power(const digit_vector& a, unsigned long long n, std::size_t kept) {
  digit_vector result(3, 7);  // a result of another size and contents
  detail::power_digits(a, n, kept, result);
  return result;
}

std::string describe_power(std::size_t iteration, const digit_vector& a, unsigned long long n, std::size_t kept) {
  std::ostringstream out;
  out << "seed " << seed << ", case " << iteration << ": a has " << a.size() << " elements: " << text(trimmed(a))
      << "\n  n = " << n << ", kept " << kept;
  return out.str();
}

// The result has `kept` elements, and its digits are those of `expected`.
::testing::AssertionResult power_is(const digit_vector& result, std::size_t kept, const digit_vector& expected) {
  if (result.size() != kept) {
    return ::testing::AssertionFailure() << "a result of " << result.size() << " elements";
  }
  if (!std::all_of(result.begin(), result.end(), [](signed char c) { return c >= 0 && c <= 9; })) {
    return ::testing::AssertionFailure() << "an element outside 0 to 9";
  }
  if (trimmed(result) != trimmed(expected)) {
    return ::testing::AssertionFailure() << "got " << text(trimmed(result)) << ", expected " << text(trimmed(expected));
  }
  return ::testing::AssertionSuccess();
}

// A number with trailing zeros now and then, as the fixed-point values have.
digit_vector power_base(std::mt19937_64& rng, std::size_t count) {
  digit_vector a = make_number(rng, count, random_shape(rng));
  if (count != 0 && rng() % 4 == 0) {
    a.insert(a.begin(), rng() % 12, 0);
  }
  return with_leading_zeros(rng, a);
}

// Kept digits on both sides of the word's 19 digits and of whole limbs.
std::size_t random_kept(std::mt19937_64& rng) {
  return near(rng, {1, 3, 9, 18, 19, 20, 21, 27, 36, 38, 45, 90, 100, 200});
}

TEST(PowerDigits, MatchesRepeatedMultiplication) {
  std::mt19937_64 rng(seed + 20);
  for (std::size_t iteration = 0; iteration < 2500; ++iteration) {
    const digit_vector a = power_base(rng, rng() % 60);
    const unsigned long long n = rng() % 41;
    const std::size_t kept = rng() % 16 == 0 ? 0 : random_kept(rng);
    const digit_vector result = take_power(a, n, kept);
    ASSERT_TRUE(power_is(result, kept, repeated_power(a, n, kept))) << describe_power(iteration, a, n, kept);
  }
}

// a^n exactly where it fits in 128 bits, kept to its digits or more; and
// modulo 10^kept for kept up to 19 and any n, huge ones included.
TEST(PowerDigits, MatchesBinaryExponentiationInInt128) {
  std::mt19937_64 rng(seed + 21);
  for (std::size_t iteration = 0; iteration < 20000; ++iteration) {
    const std::size_t count = rng() % 20;
    const digit_vector a = with_leading_zeros(rng, make_number(rng, count, random_shape(rng)));
    const u128 x = value(a);
    unsigned long long n = 0;
    switch (rng() % 4) {
      case 0:
        n = rng() % 4;
        break;
      case 1:
        n = rng() % 130;
        break;
      case 2:
        n = rng();
        break;
      default:
        n = ULLONG_MAX - rng() % 3;
    }
    u128 exact = 0;
    if (wide_power(x, n, exact)) {
      const digit_vector digits = digits_of(exact);
      for (const std::size_t kept : {digits.size(), digits.size() + 1, digits.size() + 30}) {
        ASSERT_TRUE(power_is(take_power(a, n, kept), kept, digits)) << describe_power(iteration, a, n, kept);
      }
    }
    const std::size_t kept = 1 + rng() % 19;
    const u128 modulus = value(shifted(one, kept));
    ASSERT_TRUE(power_is(take_power(a, n, kept), kept, digits_of(wide_power_mod(x, n, modulus))))
        << describe_power(iteration, a, n, kept);
  }
}

// Huge exponents with a small number of kept digits: O(log n) products.
TEST(PowerDigits, HugeExponentsKeepFewDigits) {
  std::mt19937_64 rng(seed + 22);
  for (std::size_t iteration = 0; iteration < 120; ++iteration) {
    const digit_vector a = power_base(rng, 1 + rng() % 300);
    const unsigned long long n = iteration % 3 == 0 ? ULLONG_MAX : rng() | (1ULL << 63);
    const std::size_t kept = near(rng, {20, 21, 37, 100, 250});
    ASSERT_TRUE(power_is(take_power(a, n, kept), kept, low_bits_power(a, n, kept, product)))
        << describe_power(iteration, a, n, kept);
  }
  // Longer kept digits, through the product kernel, across its thresholds.
  for (std::size_t iteration = 0; iteration < 12; ++iteration) {
    const digit_vector a = power_base(rng, 1 + rng() % 5000);
    const unsigned long long n = rng() >> (rng() % 64);
    const std::size_t kept = near(rng, {2736, 2745, 4600, 7750, 8000});
    ASSERT_TRUE(power_is(take_power(a, n, kept), kept, low_bits_power(a, n, kept, kernel_product)))
        << describe_power(iteration, a, n, kept);
  }
}

// Exact powers that grow from a's size, kept to the bound on their digits
// and beyond it; the bound is at most two digits above the power's.
TEST(PowerDigits, ExactPowersWithinTheirBound) {
  std::mt19937_64 rng(seed + 23);
  for (std::size_t iteration = 0; iteration < 300; ++iteration) {
    const digit_vector a = power_base(rng, 1 + rng() % 40);
    const unsigned long long n = rng() % 150;
    digit_vector exact = low(one, 1);
    for (unsigned long long bit = 64; bit-- > 0;) {
      exact = product(exact, exact);
      if ((n >> bit) & 1U) {
        exact = product(exact, a);
      }
    }
    const std::size_t bound = detail::power_digits_bound(a, n);
    ASSERT_GE(bound, exact.size()) << describe_power(iteration, a, n, bound);
    ASSERT_LE(bound, exact.size() + 2) << describe_power(iteration, a, n, bound);
    for (const std::size_t kept : {bound, bound + 1, bound + 100}) {
      ASSERT_TRUE(power_is(take_power(a, n, kept), kept, exact)) << describe_power(iteration, a, n, kept);
    }
  }
}

TEST(PowerDigits, BoundIsExactForZeroOneAndPowersOfTen) {
  EXPECT_EQ(detail::power_digits_bound({}, 0), 1U);
  EXPECT_EQ(detail::power_digits_bound({}, 5), 0U);
  EXPECT_EQ(detail::power_digits_bound({0, 0}, ULLONG_MAX), 0U);
  EXPECT_EQ(detail::power_digits_bound({1, 0}, ULLONG_MAX), 1U);
  EXPECT_EQ(detail::power_digits_bound({0, 0, 1}, 7), 15U);  // 100^7 = 10^14
  EXPECT_EQ(detail::power_digits_bound({3, 2, 1, 0}, 1), 3U);
  EXPECT_EQ(detail::power_digits_bound({2}, 100), 32U);  // 2^100 has 31 digits
  EXPECT_EQ(detail::power_digits_bound({0, 1}, ULLONG_MAX), std::numeric_limits<std::size_t>::max());
  EXPECT_EQ(detail::power_digits_bound({3, 2}, ULLONG_MAX), std::numeric_limits<std::size_t>::max());  // 1.4 n digits
  EXPECT_EQ(detail::power_digits_bound(digit_vector(30, 9), 1ULL << 62), std::numeric_limits<std::size_t>::max());
  // Large but below the saturation: 2^(10^15) has floor(10^15 log10 2) + 1
  // digits, 2^(2^64 - 1) about 5.55 * 10^18.
  const std::size_t bound = detail::power_digits_bound({2}, 1000000000000000ULL);
  EXPECT_GE(bound, 301029995663982U);
  EXPECT_LE(bound, 301029995663982U + 2000);
  // Long bases whose power's digit count Python's decimal gave at 60 digits:
  // the bound is at most two above it.
  const struct {
    const char* a;
    unsigned long long n;
    std::size_t digits;
  } long_bases[] = {{"100000000000000000001", 1000000000000ULL, 20000000000001U},
                    {"999999999999999999999999999999", 10000000000ULL, 300000000000U},
                    {"1234567890123456789", 100000000000ULL, 1809151497722U},
                    {"31415926535897932384626433832795", 777777777ULL, 24497783210U}};
  for (const auto& c : long_bases) {
    const std::string a = c.a;
    digit_vector x;
    for (auto d = a.rbegin(); d != a.rend(); ++d) {
      x.push_back(static_cast<signed char>(*d - '0'));
    }
    const std::size_t b = detail::power_digits_bound(x, c.n);
    EXPECT_GE(b, c.digits) << a << "^" << c.n;
    EXPECT_LE(b, c.digits + 2) << a << "^" << c.n;
  }
  const std::size_t most = detail::power_digits_bound({2}, ULLONG_MAX);
  EXPECT_GE(most, 5553023288523357132U);
  EXPECT_LE(most, 5553023288523357132U + 20000000);
}

TEST(PowerDigits, ZeroOneAndTheSmallExponents) {
  const std::size_t huge = ULLONG_MAX;
  // n = 0: 1, 0^0 included; nothing kept: no digits.
  for (const digit_vector& a : {digit_vector{}, digit_vector{0, 0}, digit_vector{7}, digit_vector(50, 9)}) {
    EXPECT_TRUE(power_is(take_power(a, 0, 5), 5, one)) << text(a);
    EXPECT_TRUE(power_is(take_power(a, 0, 1), 1, one)) << text(a);
    EXPECT_TRUE(power_is(take_power(a, 0, 0), 0, {})) << text(a);
    EXPECT_TRUE(power_is(take_power(a, huge, 0), 0, {})) << text(a);
  }
  // a = 0: zero.
  for (const unsigned long long n : {1ULL, 2ULL, 3ULL, ULLONG_MAX}) {
    EXPECT_TRUE(power_is(take_power({}, n, 30), 30, {})) << n;
    EXPECT_TRUE(power_is(take_power(digit_vector(40, 0), n, 3000), 3000, {})) << n;
  }
  // a = 1 and a = 10^k with huge n: 1, and zero from kn >= kept.
  EXPECT_TRUE(power_is(take_power({1, 0, 0}, ULLONG_MAX, 100000), 100000, one));
  EXPECT_TRUE(power_is(take_power({0, 1}, ULLONG_MAX, 100000), 100000, {}));
  EXPECT_TRUE(power_is(take_power({0, 0, 0, 1}, 5, 16), 16, shifted(one, 15)));
  EXPECT_TRUE(power_is(take_power({0, 0, 0, 1}, 5, 15), 15, {}));
  EXPECT_TRUE(power_is(take_power({0, 0, 0, 2}, 3, 13), 13, shifted({8}, 9)));
  EXPECT_TRUE(power_is(take_power({0, 5}, ULLONG_MAX / 2, 40), 40, {}));
  // n = 1: a modulo 10^kept; n = 2: the square.
  std::mt19937_64 rng(seed + 24);
  for (std::size_t iteration = 0; iteration < 200; ++iteration) {
    const digit_vector a = power_base(rng, rng() % 3000);
    const std::size_t kept = rng() % 4000;
    ASSERT_TRUE(power_is(take_power(a, 1, kept), kept, low(a, kept))) << describe_power(iteration, a, 1, kept);
    ASSERT_TRUE(power_is(take_power(a, 2, kept), kept, low(product(a, a), kept)))
        << describe_power(iteration, a, 2, kept);
  }
}

TEST(PowerDigits, TheResultMayBeTheBase) {
  std::mt19937_64 rng(seed + 25);
  for (std::size_t iteration = 0; iteration < 200; ++iteration) {
    const digit_vector a = power_base(rng, rng() % 200);
    const unsigned long long n = rng() % 50;
    const std::size_t kept = rng() % 300;
    digit_vector x = a;
    detail::power_digits(x, n, kept, x);
    ASSERT_EQ(x, take_power(a, n, kept)) << describe_power(iteration, a, n, kept);
  }
}

TEST(PowerDigits, KeptDigitsBeyondAVectorThrowBadAlloc) {
  digit_vector result{1, 2};
  EXPECT_THROW(detail::power_digits({2}, 3, std::numeric_limits<std::size_t>::max(), result), std::bad_alloc);
  EXPECT_EQ(result, (digit_vector{1, 2}));
}

TEST(PowerDigits, FailedAllocationsLeaveTheResult) {
  if (!veldar_test::can_fail_allocations()) {
    GTEST_SKIP() << "operator new is not the test's own here";
  }
  std::mt19937_64 rng(seed + 26);
  for (const std::size_t kept : {10, 300, 6000}) {
    const digit_vector a = make_number(rng, 40, shape::nonzero);
    const unsigned long long n = kept < 1000 ? 1000003 : 1003;
    const digit_vector expected = take_power(a, n, kept);
    for (long failing = 1;; ++failing) {
      digit_vector result{1, 2, 3};
      detail::release_scratch();
      veldar_test::fail_allocation(failing);
      try {
        detail::power_digits(a, n, kept, result);
      } catch (const std::bad_alloc&) {
        veldar_test::fail_allocation(0);
        ASSERT_EQ(result, (digit_vector{1, 2, 3})) << "allocation " << failing << " keeping " << kept;
        continue;
      }
      veldar_test::fail_allocation(0);
      EXPECT_EQ(result, expected) << "keeping " << kept;
      EXPECT_GT(failing, kept > detail::word_power_digits ? 3 : 1) << "too few allocations seen keeping " << kept;
      break;
    }
  }
}

}  // namespace
