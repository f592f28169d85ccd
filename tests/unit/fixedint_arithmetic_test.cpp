// fixedint comparison, addition, subtraction and multiplication: randomized
// comparisons with a machine-integer reference, the overflow rules, and the
// log lines each operation writes.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include <veldar/fixedint.h>
#include "support.h"

namespace {

using VELDAR::fixedint;
using veldar_test::expect_throw;
using veldar_test::log_capture;
using veldar_test::transcript;
using strings = std::vector<std::string>;
using veldar_test::int128;

// A number as the reference sees it: sign flag and magnitude, kept apart so
// that "-0" is a number of its own.
struct operand {
  bool negative;
  long long magnitude;
};

long long power10(int exponent) {
  long long p = 1;
  for (int i = 0; i < exponent; ++i) {
    p *= 10;
  }
  return p;
}

std::string text(operand x) { return (x.negative ? "-" : "") + std::to_string(x.magnitude); }

fixedint make(unsigned long long length, operand x) {
  fixedint number(length, x.magnitude);
  number.negative = x.negative;
  return number;
}

// The library's rules, stated once, on sign flags and magnitudes.
struct reference {
  int length;
  long long modulus;

  // The sum as fixedint's + defines it, and what becomes of the left operand
  // (`left_after`) and whether a carry left the top digit (`carried`).
  struct sum_result {
    operand result;
    operand left_after;
    bool carried;
  };
  sum_result add(operand a, operand b, bool issigned) const {
    if (issigned && a.negative != b.negative) {
      // Difference of magnitudes, the sign of the larger; equal magnitudes give +0.
      const long long difference = a.magnitude - b.magnitude;
      const bool a_negative_is_larger = a.negative ? difference > 0 : difference < 0;
      return {{a_negative_is_larger, difference < 0 ? -difference : difference}, a, false};
    }
    const long long sum = a.magnitude + b.magnitude;
    if (sum < modulus) {
      return {{a.negative, sum}, a, false};
    }
    // The carry goes back into the left operand; its sign follows the
    // assignment rule (cleared only when it is signed).
    return {{a.negative, sum - modulus}, {issigned ? false : a.negative, 1}, true};
  }
  sum_result subtract(operand a, operand b) const { return add(a, {!b.negative, b.magnitude}, true); }
  operand multiply(operand a, operand b, bool issigned) const {
    const int128 product = static_cast<int128>(a.magnitude) * b.magnitude;
    return {issigned && a.negative != b.negative, static_cast<long long>(product % modulus)};
  }
};

class random_operands {
 public:
  explicit random_operands(unsigned seed) : random(seed) {}
  int length() { return static_cast<int>(random() % 18) + 1; }
  operand next(int length) {
    const int digit_count = static_cast<int>(random() % static_cast<unsigned>(length + 1));
    const long long magnitude =
        static_cast<long long>(random() % static_cast<unsigned long long>(power10(digit_count)));
    return {random() % 2 == 0, magnitude};
  }
  bool chance(unsigned inn) { return random() % inn == 0; }

 private:
  std::mt19937_64 random;
};

std::string describe(int length, operand a, operand b, bool issigned, bool throwonoverflow) {
  std::ostringstream out;
  out << "length " << length << ": " << text(a) << " and " << text(b) << (issigned ? "" : ", left unsigned")
      << (throwonoverflow ? ", left throws on overflow" : "");
  return out.str();
}

void expect_defaults(const fixedint& result, int length) {
  EXPECT_EQ(result.length, static_cast<unsigned long long>(length));
  EXPECT_EQ(result.digits.size(), static_cast<std::size_t>(length));
  EXPECT_TRUE(result.issigned);
  EXPECT_FALSE(result.throwonoverflow);
}

enum class sum_kind { plus, minus };

void check_sums(sum_kind kind, unsigned seed) {
  random_operands random(seed);
  for (int round = 0; round < 4000; ++round) {
    const int length = random.length();
    const reference ref{length, power10(length)};
    const operand a = random.next(length);
    const operand b = random.next(length);
    const bool issigned = kind == sum_kind::minus || !random.chance(4);
    const bool throwonoverflow = random.chance(4);
    SCOPED_TRACE(describe(length, a, b, issigned, throwonoverflow) + (kind == sum_kind::plus ? " (+)" : " (-)"));

    fixedint left = make(length, a);
    left.issigned = issigned;
    left.throwonoverflow = throwonoverflow;
    fixedint right = make(length, b);
    right.issigned = random.chance(2);
    right.throwonoverflow = random.chance(2);

    const auto expected = kind == sum_kind::plus ? ref.add(a, b, issigned) : ref.subtract(a, b);
    if (expected.carried && throwonoverflow) {
      EXPECT_THROW(kind == sum_kind::plus ? left + right : left - right, std::overflow_error);
      EXPECT_EQ(left.asstring(), text(a));
    } else {
      const fixedint result = kind == sum_kind::plus ? left + right : left - right;
      EXPECT_EQ(fixedint(result).asstring(), text(expected.result));
      expect_defaults(result, length);
      EXPECT_EQ(left.asstring(), text(expected.left_after));
    }
    EXPECT_EQ(left.issigned, issigned);
    EXPECT_EQ(left.throwonoverflow, throwonoverflow);
    EXPECT_EQ(right.asstring(), text(b));
  }
}

// Tests that make many numbers keep the log bounded.
class FixedintRandomized : public veldar_test::bounded_log {};

TEST_F(FixedintRandomized, AdditionMatchesReference) { check_sums(sum_kind::plus, 1201); }

TEST_F(FixedintRandomized, SubtractionMatchesReference) { check_sums(sum_kind::minus, 1202); }

TEST_F(FixedintRandomized, MultiplicationMatchesReference) {
  random_operands random(1203);
  for (int round = 0; round < 4000; ++round) {
    const int length = random.length();
    const reference ref{length, power10(length)};
    const operand a = random.next(length);
    const operand b = random.next(length);
    const bool issigned = !random.chance(4);
    SCOPED_TRACE(describe(length, a, b, issigned, false) + " (*)");
    fixedint left = make(length, a);
    left.issigned = issigned;
    fixedint right = make(length, b);
    right.issigned = random.chance(2);
    const fixedint product = left * right;
    EXPECT_EQ(fixedint(product).asstring(), text(ref.multiply(a, b, issigned)));
    expect_defaults(product, length);
    EXPECT_EQ(left.asstring(), text(a));
  }
}

TEST_F(FixedintRandomized, ComparisonOrdersByValue) {
  random_operands random(1204);
  for (int round = 0; round < 4000; ++round) {
    const int length = random.length();
    const operand a = random.next(length);
    const operand b = random.chance(8) ? operand{a.negative, a.magnitude} : random.next(length);
    SCOPED_TRACE(describe(length, a, b, true, false));
    fixedint left = make(length, a);
    const fixedint right = make(length, b);
    // A set flag is below a clear one (-0 < 0); otherwise the values decide.
    const auto key = [](operand x) {
      return std::make_pair(x.negative ? 0 : 1, x.negative ? -x.magnitude : x.magnitude);
    };
    EXPECT_EQ(left == right, key(a) == key(b));
    EXPECT_EQ(left != right, key(a) != key(b));
    EXPECT_EQ(left > right, key(a) > key(b));
    EXPECT_EQ(left < right, key(a) < key(b));
  }
}

TEST(FixedintComparison, EdgeCases) {
  EXPECT_TRUE(fixedint(2, 30) > fixedint(2, 7));
  EXPECT_FALSE(fixedint(2, 7) > fixedint(2, 12));
  EXPECT_FALSE(fixedint(2, -5) > fixedint(2, -3));
  EXPECT_TRUE(fixedint(2, -3) > fixedint(2, -5));
  EXPECT_FALSE(fixedint(2, -5) > fixedint(2, -5));
  fixedint negative_zero(2, 0);
  negative_zero.flipsign();
  EXPECT_TRUE(negative_zero > fixedint(2, -5));
  EXPECT_TRUE(negative_zero < fixedint(2, 0));
  EXPECT_FALSE(negative_zero == fixedint(2, 0));
}

TEST(FixedintComparison, DifferentLengthsAreNeverEqualAndOrderShorterFirst) {
  fixedint shorter(2, 5);
  fixedint longer(3, 5);
  EXPECT_FALSE(shorter == longer);
  EXPECT_TRUE(shorter != longer);
  EXPECT_FALSE(shorter > longer);
  EXPECT_FALSE(longer > shorter);
  EXPECT_TRUE(shorter < longer);
  EXPECT_FALSE(longer < shorter);
  EXPECT_TRUE(fixedint(2, 30) > fixedint(3, 7));
}

TEST(FixedintComparison, SortSetAndMapWorkOverMixedLengths) {
  std::mt19937_64 random(1210);
  std::vector<fixedint> numbers;
  for (int i = 0; i < 500; ++i) {
    fixedint x(random() % 4 + 1, static_cast<long long>(random() % 10));
    if (random() % 3 == 0) {
      x.flipsign();  // -0 among them
    }
    numbers.push_back(x);
  }
  // The order, independently: sign flag (set first), value, length.
  const auto key = [](const fixedint& x) {
    long long magnitude = 0;
    for (auto d = x.digits.rbegin(); d != x.digits.rend(); ++d) {
      magnitude = magnitude * 10 + *d;
    }
    return std::make_tuple(x.negative ? 0 : 1, x.negative ? -magnitude : magnitude, x.length);
  };
  std::set<std::tuple<int, long long, unsigned long long>> keys;
  for (const fixedint& x : numbers) {
    keys.insert(key(x));
  }
  std::vector<fixedint> sorted = numbers;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(),
                             [&key](const fixedint& a, const fixedint& b) { return key(a) < key(b); }));
  const std::set<fixedint> unique(numbers.begin(), numbers.end());
  EXPECT_EQ(unique.size(), keys.size());
  std::map<fixedint, int> counts;
  for (const fixedint& x : numbers) {
    ++counts[x];
  }
  EXPECT_EQ(counts.size(), keys.size());
  veldar_test::log_capture empty;
}

TEST(FixedintComparison, EmptyNumbers) {
  fixedint a(0);
  fixedint b(0);
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a > b);
  b.flipsign();
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a > b);
}

TEST(FixedintHashing, UnorderedSetWorksAsItIs) {
  std::unordered_set<fixedint> integers;
  integers.insert(fixedint(3, 5));
  integers.insert(fixedint(3, 5));
  integers.insert(fixedint(3, -5));
  integers.insert(fixedint(4, 5));  // another length, another number
  EXPECT_EQ(integers.size(), 3U);
}

TEST(FixedintHashing, AgreesWithEquality) {
  std::mt19937_64 random(1208);
  for (int round = 0; round < 500; ++round) {
    const auto a = static_cast<long long>(random() % 20);
    const auto b = static_cast<long long>(random() % 20);
    fixedint x(2, random() % 2 == 0 ? a : -a);
    fixedint y(2, random() % 2 == 0 ? b : -b);
    const bool equal = x == y;
    EXPECT_EQ(std::equal_to<fixedint>{}(x, y), equal);
    if (equal) {
      EXPECT_EQ(std::hash<fixedint>{}(x), std::hash<fixedint>{}(y));
    }
  }
}

TEST(FixedintOverflow, CarryIsHandedBackToTheLeftOperand) {
  fixedint nine(1, 9);
  EXPECT_EQ((nine + fixedint(1, 1)).asstring(), "0");
  EXPECT_EQ(nine.asstring(), "1");
  fixedint big(2, 99);
  EXPECT_EQ((big + fixedint(2, 99)).asstring(), "98");
  EXPECT_EQ(big.asstring(), "1");
  fixedint negative(1, -9);
  EXPECT_EQ((negative + fixedint(1, -1)).asstring(), "-0");
  EXPECT_EQ(negative.asstring(), "1");
  fixedint minuend(1, -9);
  EXPECT_EQ((minuend - fixedint(1, 1)).asstring(), "-0");
  EXPECT_EQ(minuend.asstring(), "1");
}

TEST(FixedintOverflow, OnlyTheLeftOperandsFlagThrows) {
  fixedint left(2, 99);
  left.throwonoverflow = true;
  expect_throw<std::overflow_error>([&left] { static_cast<void>(left + fixedint(2, 1)); }, "Overflow occured.");
  EXPECT_EQ(left.asstring(), "99");
  EXPECT_THROW(left - fixedint(2, -1), std::overflow_error);
  EXPECT_EQ(left.asstring(), "99");

  fixedint plain(2, 99);
  fixedint right(2, 1);
  right.throwonoverflow = true;
  EXPECT_EQ((plain + right).asstring(), "0");
  EXPECT_EQ(plain.asstring(), "1");
}

TEST(FixedintOverflow, CarryAboveNineFromMisusedDigitsThrows) {
  fixedint left(1);
  left.digits[0] = 99;  // not a digit: only by writing the field directly
  expect_throw<std::out_of_range>([&left] { static_cast<void>(left + fixedint(1, 9)); }, "Carry over 9!");
  EXPECT_EQ(left.asstring(), "0");
}

TEST(FixedintOverflow, MisusedDigitsThatBorrowBothWaysStillGiveADifference) {
  // 100 in the ones place outweighs the ten of the other number, yet the top
  // digits say otherwise: the digit-by-digit difference borrows whichever
  // way round it is taken.
  fixedint left(2);
  left.digits = {100, 0};  // not digits: only by writing the field directly
  const fixedint sum = left + fixedint(2, -10);
  EXPECT_EQ(sum.digits.size(), 2U);
  const fixedint difference = left - fixedint(2, 10);
  EXPECT_EQ(difference.digits.size(), 2U);
  EXPECT_EQ(left.digits, (std::vector<signed char>{100, 0}));
}

TEST(FixedintOverflow, SubtractionRestoresIssignedWhenTheAdditionThrows) {
  fixedint left(2, 99);
  left.issigned = false;
  left.throwonoverflow = true;
  EXPECT_THROW(left - fixedint(2, -1), std::overflow_error);
  EXPECT_FALSE(left.issigned);
}

TEST(FixedintArithmetic, UnsignedLeftOperandAddsMagnitudes) {
  fixedint five(2, 5);
  five.issigned = false;
  EXPECT_EQ((five + fixedint(2, -3)).asstring(), "8");
  EXPECT_EQ((five - fixedint(2, 3)).asstring(), "2");
  fixedint three(2, -3);
  three.issigned = false;
  EXPECT_EQ((three * fixedint(2, 4)).asstring(), "12");
}

TEST(FixedintArithmetic, ZeroProductCarriesTheSign) {
  EXPECT_EQ((fixedint(2, 0) * fixedint(2, -5)).asstring(), "-0");
  EXPECT_EQ((fixedint(2, -5) * fixedint(2, 0)).asstring(), "-0");
}

TEST(FixedintArithmetic, EmptyNumbersGiveEmptyResults) {
  fixedint a(0);
  fixedint b(0);
  EXPECT_EQ((a + b).asstring(), "");
  EXPECT_EQ((a - b).asstring(), "");
  EXPECT_EQ((a * b).length, 0U);
  b.flipsign();
  EXPECT_EQ((a * b).asstring(), "-");
}

TEST(FixedintArithmetic, DifferentLengthsThrowBeforeAnythingIsLogged) {
  fixedint two(2, 5);
  fixedint three(3, 5);
  log_capture capture;
  for (auto operation : {+[](fixedint&a, fixedint&b) { return a + b; }, +[](fixedint&a, fixedint&b) { return a - b; },
                         +[](fixedint&a, fixedint&b) { return a * b; }}) {
    expect_throw<std::length_error>([&] { operation(two, three); }, "Int sizes are not equal!");
  }
  // Only the deletions of the by-value argument copies.
  EXPECT_EQ(capture.messages(), strings(3, "Deleted fixedint object."));
}

// Log transcripts: which temporaries each operation makes.

// Runs `left op right` with both named, so the argument copy shows as one deletion.
template <typename operation>
strings logof(long long a, long long b, operation op) {
  fixedint left(2, a);
  fixedint right(2, b);
  log_capture capture;
  static_cast<void>(op(left, right));
  return capture.messages();
}

TEST(FixedintTranscript, MagnitudeSum) {
  // The working sum, its deletion, the result's and the argument's deletions.
  EXPECT_EQ(logof(5, 3, [](fixedint& a, fixedint& b) { return a + b; }), transcript{}.made(2).deleted(3).lines);
}

TEST(FixedintTranscript, SignedDifferenceWithoutSwap) {
  // sum, result; the copies inside <; B, A and the sum; the result; the argument.
  EXPECT_EQ(logof(5, -3, [](fixedint& a, fixedint& b) { return a + b; }),
            transcript{}.made(2, 2).deleted(2).deleted(3).deleted(2).lines);
}

TEST(FixedintTranscript, SignedDifferenceWithSwapAndFinalBorrow) {
  transcript expected;
  expected.made(2, 2).deleted(4);          // sum, result; < with a swap
  expected.made(2, 2);                     // the two magnitudes
  expected.made(2).made(2, 2).deleted(2);  // nested subtraction: negated copy, sum, result, <
  expected.deleted(3).deleted(2);          // its B, A, sum; its argument copy and negated copy
  expected.deleted(3).deleted(3);          // difference and magnitudes; B, A, sum
  expected.deleted(2);                     // the result and the argument
  EXPECT_EQ(logof(-5, 3, [](fixedint& a, fixedint& b) { return a + b; }), expected.lines);
}

TEST(FixedintTranscript, Subtraction) {
  // negated copy, the magnitude sum, the argument copies and the negated copy.
  EXPECT_EQ(logof(5, -3, [](fixedint& a, fixedint& b) { return a - b; }),
            transcript{}.made(2).made(2).deleted(1).deleted(2).deleted(2).lines);
}

TEST(FixedintTranscript, MultiplicationAndComparison) {
  EXPECT_EQ(logof(12, 34, [](fixedint& a, fixedint& b) { return a * b; }),
            transcript{}.made(4).resized(2).deleted(2).lines);
  EXPECT_EQ(logof(5, 3, [](fixedint& a, fixedint& b) { return a < b; }), transcript{}.deleted(2).lines);
  EXPECT_EQ(logof(3, 5, [](fixedint& a, fixedint& b) { return a < b; }), transcript{}.deleted(4).lines);
  EXPECT_EQ(logof(3, 5, [](fixedint& a, fixedint& b) { return a != b; }), transcript{}.deleted(2).lines);
}

// Division. Python's decimal checks every mode and length
// (tests/python/decimal/check.py); here what needs no reference.

class FixedintDivision : public veldar_test::bounded_log {};

TEST_F(FixedintDivision, QuotientTimesDivisorPlusRemainderIsTheDividend) {
  std::mt19937_64 random(1301);
  // Past the limb, Karatsuba, transform and recursive division thresholds.
  for (const unsigned long long length : {7ULL, 40ULL, 700ULL, 2500ULL, 30000ULL}) {
    for (int round = 0; round < (length < 5000 ? 12 : 2); ++round) {
      fixedint a(length);
      fixedint b(length);
      std::generate(a.digits.begin(), a.digits.end(), [&random] { return static_cast<signed char>(random() % 10); });
      const auto divisor_digits = static_cast<std::ptrdiff_t>(random() % length + 1);
      std::generate(b.digits.begin(), b.digits.begin() + divisor_digits,
                    [&random] { return static_cast<signed char>(random() % 10); });
      b.digits[static_cast<std::size_t>(divisor_digits - 1)] = 7;
      a.negative = random() % 2 == 0;
      b.negative = random() % 2 == 0;
      SCOPED_TRACE("length " + std::to_string(length) + ", divisor of " + std::to_string(divisor_digits) + " digits");
      fixedint quotient = a / b;
      fixedint remainder = a % b;
      fixedint back = quotient * b;
      back = back + remainder;
      EXPECT_EQ(back.asstring(), a.asstring());
      // |remainder| < |divisor|, with the dividend's sign.
      EXPECT_TRUE(remainder.abs() < b.abs());
      EXPECT_EQ(remainder.negative, a.negative && remainder.asstring() != "0");
    }
  }
}

TEST_F(FixedintDivision, FailuresChangeNothing) {
  fixedint a(4, -7);
  fixedint b(4, 2);
  fixedint zero(4, 0);
  expect_throw<std::domain_error>([&] { static_cast<void>(a / zero); }, "Division by zero!");
  expect_throw<std::domain_error>([&] { static_cast<void>(a % zero); }, "Division by zero!");
  expect_throw<std::length_error>([&] { static_cast<void>(a / fixedint(5, 2)); }, "Int sizes are not equal!");
  expect_throw<std::domain_error>([&] { static_cast<void>(a.divide(b, VELDAR::rounding::exact)); },
                                  "Rounding necessary!");
  EXPECT_EQ(a.asstring(), "-7");
  EXPECT_EQ(b.asstring(), "2");
  EXPECT_EQ(fixedint(4, -8).divide(b, VELDAR::rounding::exact).asstring(), "-4");
  // Only the left operand's issigned counts: clear, the magnitudes are divided.
  a.issigned = false;
  EXPECT_EQ((a / b).asstring(), "3");
  EXPECT_EQ((a % b).asstring(), "1");
  EXPECT_EQ((fixedint(4, -1) / b).asstring(), "0") << "a zero quotient carries no sign";
}

TEST_F(FixedintDivision, LogsItsResultOnly) {
  fixedint a(4, 7);
  fixedint b(4, 2);
  log_capture capture;
  { const fixedint q = a / b; }
  EXPECT_EQ(capture.messages(), transcript{}.made(4).deleted(2).lines);  // the result, then the argument copy
}

}  // namespace
