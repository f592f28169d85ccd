// The fast digit loops against the plain digit-by-digit method: word-wise
// sums, limb products (with their Karatsuba and half-product splits) and the
// text, on seeded random operands at lengths on both sides of every
// threshold, with elements outside 0 to 9 sprinkled in to see the plain loops
// take over.
#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <veldar/fixedint.h>
#include "products.h"
#include "sums.h"
#include "support.h"

namespace {

using VELDAR::fixedint;
using veldar_test::log_capture;
using digit_vector = std::vector<signed char>;
namespace detail = VELDAR::detail;

std::string text(const digit_vector& digits) {
  std::ostringstream out;
  for (auto d = digits.rbegin(); d != digits.rend(); ++d) {
    if (*d >= 0 && *d <= 9) {
      out << static_cast<int>(*d);
    } else {
      out << '[' << static_cast<int>(*d) << ']';
    }
  }
  return out.str();
}

class random_digit_source {
 public:
  explicit random_digit_source(unsigned seed) : random(seed) {}

  // `length` digits of one of several shapes: uniform, all nines (the longest
  // carries), mostly zeros, a shorter number with zeros on top, or with a few
  // elements outside 0 to 9 when `misused` is set.
  digit_vector next(std::size_t length, bool misused = false) {
    digit_vector digits(length);
    switch (below(4)) {
      case 0:
        std::fill(digits.begin(), digits.end(), 9);
        break;
      case 1:
        for (signed char& d : digits) {
          d = below(8) == 0 ? static_cast<signed char>(below(10)) : 0;
        }
        break;
      default:
        for (signed char& d : digits) {
          d = static_cast<signed char>(below(10));
        }
    }
    if (length > 0 && below(3) == 0) {  // fewer significant digits
      std::fill(digits.begin() + static_cast<std::ptrdiff_t>(below(length)), digits.end(), 0);
    }
    if (misused && length > 0) {
      const signed char odd[] = {10, 15, 99, 127, -1, -9, -128};
      for (std::size_t k = 0, count = below(3) + 1; k < count; ++k) {
        digits[below(length)] = odd[below(sizeof odd)];
      }
    }
    return digits;
  }
  std::size_t below(std::size_t bound) { return bound == 0 ? 0 : static_cast<std::size_t>(random() % bound); }

 private:
  std::mt19937_64 random;
};

// Lengths on both sides of every threshold a product of equal lengths meets:
// the eight-digit word and the sixteen-digit vector, the limb, the plain
// product's cut-off, Karatsuba's split and the truncated product's transform
// (a length of k limbs spans 9k - 8 to 9k digits), and a level above
// Karatsuba's. (The truncated product's split lies past its transform: the
// kernel tests in products_test.cpp take it at every size.)
std::vector<std::size_t> lengths() {
  std::vector<std::size_t> result;
  for (std::size_t n = 0; n <= 20; ++n) {
    result.push_back(n);
  }
  for (std::size_t limbs : {detail::karatsuba_from_limbs(), detail::transform_low_limbs,
                            detail::transform_low_from_limbs(), 2 * detail::karatsuba_from_limbs() + 1}) {
    for (std::size_t n : {limbs - 1, limbs}) {
      result.push_back(n * detail::limb_digits - detail::limb_digits + 1);
      result.push_back(n * detail::limb_digits);
    }
  }
  // Around the vector widths.
  for (std::size_t n : {31, 32, 33, 47, 48, 49, 63, 64, 65, 95, 96, 97, 127, 128, 129, 191, 192, 193}) {
    result.push_back(n);
  }
  result.push_back(1000);
  return result;
}

// Tests that make many numbers keep the log bounded.
class FastPathOperators : public veldar_test::bounded_log {};
class FastPathText : public veldar_test::bounded_log {};

TEST(FastPathSums, TakeTheWidestVectorsTheProcessorHas) {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  const bool avx512 = __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
  const std::size_t widest = __builtin_cpu_supports("avx2") != 0 ? (avx512 ? 64U : 32U) : 16U;
  EXPECT_EQ(detail::widest_vector_digits(), sizeof(void*) == 8 ? widest : std::min<std::size_t>(widest, 32U));
#else
  EXPECT_EQ(detail::widest_vector_digits(), 16U);
#endif
}

// The word loop alone (0) and every vector width up to the processor's.
std::vector<std::size_t> vector_widths() {
  std::vector<std::size_t> widths = {0};
  for (const std::size_t width : {16, 32, 64}) {
    if (width <= detail::widest_vector_digits()) {
      widths.push_back(width);
    }
  }
  return widths;
}

TEST(FastPathSums, MatchThePlainMethod) {
  random_digit_source random(6001);
  for (const std::size_t length : lengths()) {
    for (int round = 0; round < 40; ++round) {
      // Odd elements in a alone, in b alone and in both.
      const digit_vector a = random.next(length, round % 4 == 3);
      const digit_vector b = random.next(length, round % 4 == 1 || round % 8 == 7);
      SCOPED_TRACE("length " + std::to_string(length) + ": a = " + text(a) + ", b = " + text(b));
      digit_vector expected_sum(length);
      digit_vector expected_difference(length);
      const int carry = detail::add_digits_plain(a, b, expected_sum);
      const int borrow = detail::subtract_digits_plain(a, b, expected_difference);
      // Every vector width the processor has, and the word loop alone.
      for (const std::size_t width : vector_widths()) {
        digit_vector actual(length, 5);
        EXPECT_EQ(detail::sum_digits_with(a, b, actual, false, width), carry) << width;
        EXPECT_EQ(actual, expected_sum) << "sum, vectors of " << width;
        std::fill(actual.begin(), actual.end(), 5);
        EXPECT_EQ(detail::sum_digits_with(a, b, actual, true, width), borrow) << width;
        EXPECT_EQ(actual, expected_difference) << "difference, vectors of " << width;
        // In place of either operand: the same digits, or, with an element
        // outside 0 to 9, a refusal that leaves the operand as it was.
        for (const bool complement : {false, true}) {
          for (const bool intoa : {false, true}) {
            digit_vector left = a;
            digit_vector right = b;
            int got = -1;
            const bool done = detail::sum_in_place(left, right, intoa ? left : right, complement, got, width);
            const digit_vector& expected = complement ? expected_difference : expected_sum;
            SCOPED_TRACE(std::string(complement ? "difference" : "sum") + " into " + (intoa ? "a" : "b") +
                         ", vectors of " + std::to_string(width));
            EXPECT_EQ(done, detail::digits_in_range(a) && detail::digits_in_range(b));
            if (done) {
              EXPECT_EQ(got, complement ? borrow : carry);
              EXPECT_EQ(intoa ? left : right, expected);
            } else {
              EXPECT_EQ(left, a);
              EXPECT_EQ(right, b);
            }
          }
        }
      }
    }
  }
}

TEST(FastPathProducts, MatchThePlainMethod) {
  random_digit_source random(6002);
  for (const std::size_t length : lengths()) {
    // Fewer rounds where the plain reference takes long.
    for (int round = 0; round < (length < 1000 ? 12 : length < 5000 ? 4 : 2); ++round) {
      const digit_vector a = random.next(length, round % 6 == 5);
      const digit_vector b = random.next(length, round % 6 == 4 || round % 12 == 11);
      SCOPED_TRACE("length " + std::to_string(length) + ": a = " + text(a) + ", b = " + text(b));
      digit_vector expected(2 * length);
      detail::multiply_digits_plain(a, b, expected);
      digit_vector actual(2 * length);
      detail::multiply_digits(a, b, actual, length);
      // The caller keeps the low `length` digits only.
      EXPECT_TRUE(std::equal(actual.begin(), actual.begin() + static_cast<std::ptrdiff_t>(length), expected.begin()))
          << "expected " << text(expected) << "\n  actual " << text(actual);
    }
  }
}

// Factors of unequal sizes in a long number, as fixedfloat's widened
// products have them: the full product of the significant limbs, sliced for
// Karatsuba when the shorter factor is long enough.
TEST(FastPathProducts, UnequalFactorsMatchThePlainMethod) {
  random_digit_source random(6003);
  const std::size_t k = detail::karatsuba_from_limbs() * detail::limb_digits;
  const std::size_t shapes[][3] = {{2 * k + 7, k + 3, k - 5},    {4 * k, 3 * k / 2, k + 11}, {4 * k, 2 * k, 2 * k},
                                   {3 * k, 3 * k - 1, k / 2},    {2 * k, 2 * k, 1},          {2 * k, 5, 2 * k},
                                   {3 * k + 1, 2 * k + 9, 2 * k}};
  for (const auto& shape : shapes) {
    for (int round = 0; round < 4; ++round) {
      digit_vector a = random.next(shape[1]);
      digit_vector b = random.next(shape[2]);
      a.front() = 9;  // keep the sizes significant at the bottom...
      a.back() = 7;   // ...and at the top
      b.front() = 3;
      b.back() = 8;
      a.resize(shape[0]);
      b.resize(shape[0]);
      SCOPED_TRACE("length " + std::to_string(shape[0]) + ": a = " + text(a) + ", b = " + text(b));
      digit_vector expected(2 * shape[0]);
      detail::multiply_digits_plain(a, b, expected);
      digit_vector actual(2 * shape[0]);
      detail::multiply_digits(a, b, actual, shape[0]);
      EXPECT_TRUE(std::equal(actual.begin(), actual.begin() + static_cast<std::ptrdiff_t>(shape[0]), expected.begin()))
          << "expected " << text(expected) << "\n  actual " << text(actual);
    }
  }
}

// asstring() as it reads every element, digit or not: the text of each one,
// most significant first, without leading zeros (but one), after the sign.
std::string plain_text(const digit_vector& digits, bool negative) {
  std::string text;
  for (auto d = digits.rbegin(); d != digits.rend(); ++d) {
    text += std::to_string(*d);
  }
  if (text.size() > 1) {
    text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
  }
  return (negative ? "-" : "") + text;
}

TEST_F(FastPathText, MatchesThePlainMethod) {
  random_digit_source random(6005);
  for (const std::size_t length : lengths()) {
    for (int round = 0; round < 8; ++round) {
      fixedint number(length);
      number.digits = random.next(length, round % 4 == 3);
      number.negative = round % 2 == 0;
      SCOPED_TRACE("length " + std::to_string(length) + ": " + text(number.digits));
      EXPECT_EQ(number.asstring(), plain_text(number.digits, number.negative));
    }
  }
}

// Shorter digit vectors than the sum (only by writing the field directly)
// read as zeros above their end instead of past it.
TEST(FastPathSums, ShortDigitVectorsReadAsZerosOnTop) {
  fixedint left(12, 987654321098LL);
  fixedint right(12, 5);
  right.digits.resize(3);
  log_capture keep_small;
  EXPECT_EQ((left + right).asstring(), "987654321103");
  EXPECT_EQ((left - right).asstring(), "987654321093");
  fixedint short_left(12, 0);
  short_left.digits = {1, 2};
  EXPECT_EQ((short_left + fixedint(12, 999)).asstring(), "1020");
}

// The public operators at lengths where every fast path is taken, against the
// plain method: the digits, the sign and the flags of the result.
TEST_F(FastPathOperators, LongOperandsMatchThePlainMethod) {
  random_digit_source random(6004);
  for (const std::size_t length : {std::size_t{1000}, std::size_t{3000}}) {
    for (int round = 0; round < 6; ++round) {
      fixedint a(length);
      fixedint b(length);
      a.digits = random.next(length);
      b.digits = random.next(length);
      a.digits.back() = 4;  // no carry out of the top digit
      b.digits.back() = static_cast<signed char>(random.below(5));
      SCOPED_TRACE("length " + std::to_string(length) + ": a = " + text(a.digits) + ", b = " + text(b.digits));

      digit_vector sum(length);
      detail::add_digits_plain(a.digits, b.digits, sum);
      const fixedint total = a + b;
      EXPECT_EQ(total.digits, sum);
      EXPECT_FALSE(total.negative);

      // a - b: the magnitudes' difference, negative when b is the larger.
      const bool b_larger =
          std::lexicographical_compare(a.digits.rbegin(), a.digits.rend(), b.digits.rbegin(), b.digits.rend());
      digit_vector difference(length);
      detail::subtract_digits_plain(b_larger ? b.digits : a.digits, b_larger ? a.digits : b.digits, difference);
      const fixedint net = a - b;
      EXPECT_EQ(net.digits, difference);
      EXPECT_EQ(net.negative, b_larger);

      b.negative = true;
      digit_vector product(2 * length);
      detail::multiply_digits_plain(a.digits, b.digits, product);
      product.resize(length);
      const fixedint times = a * b;
      EXPECT_EQ(times.digits, product);
      EXPECT_TRUE(times.negative);
      EXPECT_EQ(times.length, length);
    }
  }
}

// + and - for every sign case, in place, against the plain method on the
// magnitudes, with operands that share long runs of top digits (where the
// larger magnitude is found late) and equal ones; the log reads as it does on
// the path that is not in place (digit vectors one element longer than the
// length), which took the second round through abs() copies on a borrow.
TEST_F(FastPathOperators, EverySignCaseMatchesThePlainMethodAndLogsAsBefore) {
  random_digit_source random(6005);
  for (const std::size_t length : {std::size_t{1000}, std::size_t{4103}}) {
    for (int round = 0; round < 8; ++round) {
      digit_vector x = random.next(length);
      digit_vector y = round % 4 == 3 ? x : random.next(length);
      if (round % 2 == 1) {  // the same top digits down to a random place
        const std::size_t shared = random.below(length);
        std::copy(x.end() - static_cast<std::ptrdiff_t>(shared), x.end(),
                  y.end() - static_cast<std::ptrdiff_t>(shared));
      }
      x.back() = static_cast<signed char>(random.below(5));  // no carry out of the top digit
      y.back() = static_cast<signed char>(std::min<int>(y.back(), 4));
      for (int signs = 0; signs < 4; ++signs) {
        for (const bool subtract : {false, true}) {
          SCOPED_TRACE("length " + std::to_string(length) + ", signs " + std::to_string(signs) +
                       (subtract ? ", -" : ", +") + ": x = " + text(x) + ", y = " + text(y));
          const bool x_negative = (signs & 1) != 0;
          const bool y_negative = ((signs & 2) != 0) != subtract;  // the sign y takes in the sum
          const bool y_larger = std::lexicographical_compare(x.rbegin(), x.rend(), y.rbegin(), y.rend());
          digit_vector expected(length);
          bool negative = x_negative;
          if (x_negative == y_negative) {
            detail::add_digits_plain(x, y, expected);
          } else {
            detail::subtract_digits_plain(y_larger ? y : x, y_larger ? x : y, expected);
            negative = y_larger ? y_negative : x_negative && x != y;
          }
          const auto run = [&](bool longer) {
            fixedint a(length);
            fixedint b(length);
            a.digits = x;
            b.digits = y;
            if (longer) {
              a.digits.push_back(0);
              b.digits.push_back(0);
            }
            a.negative = x_negative;
            b.negative = (signs & 2) != 0;
            const log_capture log;
            fixedint result = subtract ? a - b : a + b;
            result.digits.resize(length);
            EXPECT_EQ(result.digits, expected) << (longer ? "not in place" : "in place");
            EXPECT_EQ(result.negative, negative) << (longer ? "not in place" : "in place");
            return log.messages();
          };
          const std::vector<std::string> in_place = run(false);
          EXPECT_EQ(in_place, run(true));
        }
      }
    }
  }
}

}  // namespace
