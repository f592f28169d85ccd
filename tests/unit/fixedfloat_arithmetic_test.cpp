// fixedfloat multiplication, addition, subtraction, comparison and hashing:
// randomized comparisons with a machine-integer reference, and the log lines
// each operation writes.
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include <veldar/fixedfloat.h>
#include "support.h"

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;
using veldar_test::expect_throw;
using veldar_test::fixed_text;
using veldar_test::int128;
using veldar_test::log_capture;
using veldar_test::power10;
using veldar_test::with_value;
using strings = std::vector<std::string>;

fixedfloat from_float(unsigned long long length, float x) {
  fixedfloat number(length);
  number = x;
  return number;
}

// Multiplication.

struct scaled {
  bool negative;
  long long magnitude;  // the number times 10^(length/2)
};

// The exact product at twice the length, the point moved, the integer part
// kept to length/2 digits, printed the way the library prints.
std::string reference_product(int length, scaled a, scaled b, bool issigned) {
  int128 half = 1;
  for (int i = 0; i < length / 2; ++i) {
    half *= 10;
  }
  const int128 product = static_cast<int128>(a.magnitude) * b.magnitude / half % (half * half);
  const auto integer = static_cast<long long>(product / half);
  std::string fraction = std::to_string(static_cast<long long>(product % half));
  fraction.insert(0, static_cast<std::size_t>(length / 2) - fraction.size(), '0');
  fraction.erase(fraction.find_last_not_of('0') + 1);
  const bool negative = issigned && a.negative != b.negative;
  return (negative ? "-" : "") + std::to_string(integer) + "." + (fraction.empty() ? "0" : fraction);
}

// Tests that make many numbers keep the log bounded.
class FixedfloatMultiply : public veldar_test::bounded_log {};
class FixedfloatSum : public veldar_test::bounded_log {};
class FixedfloatHashing : public veldar_test::bounded_log {};

TEST_F(FixedfloatMultiply, TrueProductTruncatedToTheLength) {
  auto times = [](unsigned long long length, float a, float b) {
    fixedfloat left = from_float(length, a);
    return (left * from_float(length, b)).asstring();
  };
  EXPECT_EQ(times(8, 78.9F, 0.123F), "9.7047");
  EXPECT_EQ(times(8, 2.0F, 3.0F), "6.0");
  EXPECT_EQ(times(8, 1.0001F, 0.0002F), "0.0002");
  EXPECT_EQ(times(8, 0.5F, 0.5F), "0.25");
  EXPECT_EQ(times(8, -2.0F, 0.0002F), "-0.0004");
  EXPECT_EQ(times(8, -2.0F, -0.5F), "1.0");
  EXPECT_EQ(times(4, 99.0F, 99.0F), "1.0");
  EXPECT_EQ(times(0, 0.0F, 0.0F), "0.0");
}

TEST_F(FixedfloatMultiply, MatchesReference) {
  std::mt19937_64 random(1205);
  for (int round = 0; round < 3000; ++round) {
    const int length = 2 * static_cast<int>(random() % 8 + 1);
    long long modulus = 1;
    for (int i = 0; i < length; ++i) {
      modulus *= 10;
    }
    const int digits_a = static_cast<int>(random() % static_cast<unsigned>(length + 1));
    const int digits_b = static_cast<int>(random() % static_cast<unsigned>(length + 1));
    const scaled a{random() % 2 == 0,
                   static_cast<long long>(random() % static_cast<unsigned long long>(std::pow(10, digits_a)))};
    const scaled b{random() % 2 == 0,
                   static_cast<long long>(random() % static_cast<unsigned long long>(std::pow(10, digits_b)))};
    const bool issigned = random() % 4 != 0;
    fixedfloat left = with_value(length, a.magnitude % modulus, a.negative);
    left.issigned = issigned;
    fixedfloat right = with_value(length, b.magnitude % modulus, b.negative);
    right.issigned = random() % 2 == 0;
    SCOPED_TRACE("length " + std::to_string(length) + ": " + left.asstring() + " * " + right.asstring() +
                 (issigned ? "" : ", left unsigned"));
    fixedfloat product = left * right;
    EXPECT_EQ(product.asstring(), reference_product(length, a, b, issigned));
    EXPECT_FALSE(product.value.negative);
    EXPECT_EQ(product.value.digits.size(), static_cast<std::size_t>(length));
    EXPECT_EQ(left.value.asstring(), std::to_string(a.magnitude));
  }
}

TEST_F(FixedfloatMultiply, DifferentLengthsAndLogLines) {
  fixedfloat eight(8);
  fixedfloat six(6);
  log_capture capture;
  expect_throw<std::length_error>([&] { static_cast<void>(eight * six); }, "Size is not equal!");
  EXPECT_EQ(capture.messages().front(), "Multiplication operation in fixedfloat. (oh boy)");
  EXPECT_EQ(capture.messages().size(), 3U);  // and the argument copy's two deletion lines

  log_capture product;
  { fixedfloat result = eight * fixedfloat(eight); }
  const strings lines = product.messages();
  EXPECT_EQ(lines.front(), "Multiplication operation in fixedfloat. (oh boy)");
  EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()),
            (strings{"Done.", "Deleting fixedfloat object!", "Deleted fixedint object.", "Deleting fixedfloat object!",
                     "Deleted fixedint object."}));
}

// Addition, subtraction and comparison.

TEST_F(FixedfloatSum, MatchesReference) {
  std::mt19937_64 random(1209);
  for (int round = 0; round < 3000; ++round) {
    const int length = 2 * static_cast<int>(random() % 8 + 1);
    const int128 modulus = power10(length);
    const auto digits_of = [&random, length] {
      return power10(static_cast<int>(random() % static_cast<unsigned>(length + 1)));
    };
    const auto a = static_cast<long long>(random() % static_cast<unsigned long long>(digits_of()));
    const auto b = static_cast<long long>(random() % static_cast<unsigned long long>(digits_of()));
    const bool na = random() % 2 == 0;
    const bool nb = random() % 2 == 0;
    fixedfloat left = with_value(length, a, na);
    left.issigned = random() % 2 == 0;
    left.value.throwonoverflow = random() % 2 == 0;
    fixedfloat right = with_value(length, b, nb);
    const std::string left_text = left.asstring();
    const std::string right_text = right.asstring();
    SCOPED_TRACE("length " + std::to_string(length) + ": " + left_text + " and " + right_text);

    const int128 va = na ? -a : a;
    const int128 vb = nb ? -b : b;
    // The exact result, its magnitude kept to `length` digits, a zero unsigned.
    const auto truncated = [modulus](int128 exact) { return exact < 0 ? -(-exact % modulus) : exact % modulus; };
    for (const bool subtract : {false, true}) {
      fixedfloat result = subtract ? left - right : left + right;
      EXPECT_EQ(result.asstring(), fixed_text(truncated(subtract ? va - vb : va + vb), length / 2))
          << (subtract ? "-" : "+");
      EXPECT_FALSE(result.value.negative);
    }
    EXPECT_EQ(left == right, va == vb);
    EXPECT_EQ(left != right, va != vb);
    EXPECT_EQ(left < right, va < vb);
    EXPECT_EQ(left > right, va > vb);
    EXPECT_EQ(left <= right, va <= vb);
    EXPECT_EQ(left >= right, va >= vb);
    EXPECT_EQ(left.asstring(), left_text);
    EXPECT_EQ(right.asstring(), right_text);
  }
}

TEST_F(FixedfloatSum, CarryOutOfTheTopIsDroppedNotHandedBack) {
  fixedfloat left(8);
  left = "9999.5";
  fixedfloat right(8);
  right = "0.5";
  EXPECT_EQ((left + right).asstring(), "0.0");
  EXPECT_EQ((left - right).asstring(), "9999.0");
  left = "-5000";
  right = "5000";
  EXPECT_EQ((left - right).asstring(), "0.0");
  EXPECT_EQ(left.asstring(), "-5000.0");
  EXPECT_EQ(right.asstring(), "5000.0");
}

TEST_F(FixedfloatSum, DifferentLengthsAndLogLines) {
  fixedfloat eight(8);
  fixedfloat six(6);
  expect_throw<std::length_error>([&] { static_cast<void>(eight + six); }, "Size is not equal!");
  expect_throw<std::length_error>([&] { static_cast<void>(eight - six); }, "Size is not equal!");
  {
    log_capture refused;
    expect_throw<std::length_error>([&] { static_cast<void>(eight < six); }, "Size is not equal!");
    // The operation's own line comes first, then the argument copy goes.
    EXPECT_EQ(refused.messages(), (strings{"Comparison operation in fixedfloat (<).", "Deleting fixedfloat object!",
                                           "Deleted fixedint object."}));
  }
  expect_throw<std::length_error>([&] { static_cast<void>(eight == six); }, "Size is not equal!");
  EXPECT_FALSE(std::equal_to<fixedfloat>{}(eight, six));

  const auto first_and_last = [](const strings& lines) { return strings{lines.front(), lines.back()}; };
  fixedfloat other(8);
  log_capture sum;
  { fixedfloat result = eight + other; }
  const strings sum_lines = sum.messages();
  EXPECT_EQ(sum_lines.front(), "Addition operation in fixedfloat.");
  // "Done." ends the operation; then the argument copy and the result go.
  ASSERT_GE(sum_lines.size(), 5U);
  EXPECT_EQ(sum_lines[sum_lines.size() - 5], "Done.");
  log_capture difference;
  { fixedfloat result = eight - other; }
  EXPECT_EQ(difference.messages().front(), "Subtraction operation in fixedfloat.");
  log_capture comparison;
  static_cast<void>(eight <= other);
  EXPECT_EQ(first_and_last(comparison.messages()),
            (strings{"Comparison operation in fixedfloat (<=).", "Deleted fixedint object."}));
  EXPECT_EQ(comparison.messages()[1], "Done.");  // then the argument copy's two lines
}

// Hashing.

TEST_F(FixedfloatHashing, UnorderedMapWorksAsItIs) {
  fixedfloat zero(8);
  fixedfloat negative_zero(8);
  negative_zero.negative = true;
  fixedfloat half(8);
  half = "0.5";
  log_capture capture;
  std::unordered_map<fixedfloat, int> counts;
  ++counts[zero];
  ++counts[negative_zero];
  ++counts[half];
  EXPECT_EQ(counts.size(), 2U);
  EXPECT_EQ(counts.at(zero), 2);
  EXPECT_EQ(std::hash<fixedfloat>{}(zero), std::hash<fixedfloat>{}(negative_zero));
  EXPECT_TRUE(capture.messages().empty()) << "hashing must neither copy nor log";
}

TEST_F(FixedfloatHashing, AgreesWithEquality) {
  std::mt19937_64 random(1208);
  for (int round = 0; round < 500; ++round) {
    const auto a = static_cast<long long>(random() % 20);
    const auto b = static_cast<long long>(random() % 20);
    fixedfloat p = with_value(4, a, random() % 2 == 0);
    fixedfloat q = with_value(4, b, random() % 2 == 0);
    const bool same = p == q;
    EXPECT_EQ(std::equal_to<fixedfloat>{}(p, q), same);
    if (same) {
      EXPECT_EQ(std::hash<fixedfloat>{}(p), std::hash<fixedfloat>{}(q));
    }
  }
}

// Division and rounding. Python's decimal checks every mode and length
// (tests/python/decimal/check.py); here the errors and the log lines.

// A tie whose last digit kept is odd, off the path of one machine word:
// 0.00015 to four places is 0.0002 under halfeven.
TEST(FixedfloatDivision, TieWithAnOddLastDigitRoundsToEven) {
  const fixedfloat small(8, "0.0003");
  const fixedfloat two(8, 2);
  EXPECT_EQ(small.divide(two, VELDAR::rounding::halfeven).asstring(), "0.0002");
  EXPECT_EQ(fixedfloat(8, "0.0001").divide(two, VELDAR::rounding::halfeven).asstring(), "0.0");
  EXPECT_EQ(fixedfloat(40, "0.0000000000000000003").divide(fixedfloat(40, 2), VELDAR::rounding::halfeven).asstring(),
            "0.00000000000000000015");
}

TEST(FixedfloatDivision, FailuresChangeNothing) {
  fixedfloat a(8);
  a = "-12.5";
  fixedfloat zero(8);
  fixedfloat three(8);
  three = "3";
  expect_throw<std::domain_error>([&] { static_cast<void>(a / zero); }, "Division by zero!");
  expect_throw<std::length_error>([&] { static_cast<void>(a.divide(fixedfloat(6), VELDAR::rounding::halfeven)); },
                                  "Size is not equal!");
  expect_throw<std::domain_error>([&] { static_cast<void>(a.divide(three, VELDAR::rounding::exact)); },
                                  "Rounding necessary!");
  expect_throw<std::domain_error>([&] { a.round(0, VELDAR::rounding::exact); }, "Rounding necessary!");
  expect_throw<std::out_of_range>([&] { a.round(5, VELDAR::rounding::halfeven); }, "Fraction digits out of range!");
  expect_throw<std::out_of_range>([&] { a.assign("9999.99995", VELDAR::rounding::halfup); },
                                  "Input int bigger than size!");
  expect_throw<std::invalid_argument>([&] { a.assign("1e3", VELDAR::rounding::halfup); }, "Not a decimal number!");
  EXPECT_EQ(a.asstring(), "-12.5");
  EXPECT_EQ(a.value.digits.size(), 8U);
}

TEST(FixedfloatDivision, LogsItsEntryTheResultAndDone) {
  fixedfloat a(8);
  a = "1";
  fixedfloat b(8);
  b = "3";
  log_capture capture;
  { const fixedfloat q = a.divide(b, VELDAR::rounding::halfeven); }
  const strings lines = capture.messages();
  ASSERT_EQ(lines.size(), 1U + 13 + 1 + 2 + 2);  // entry, the result, "Done.", then the result and the copy go
  EXPECT_EQ(lines.front(), "Division operation in fixedfloat.");
  EXPECT_EQ(lines[14], "Done.");
  log_capture rounding;
  a.round(2, VELDAR::rounding::halfeven);
  EXPECT_EQ(rounding.messages(), (strings{"Rounding operation in fixedfloat.", "Done."}));
}

}  // namespace
