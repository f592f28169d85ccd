// fixedint construction, assignment from machine integers, digit operations,
// copies and text, with the log lines each of them writes.
#include <climits>
#include <random>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <veldar/fixedint.h>
#include "support.h"

namespace {

using VELDAR::fixedint;
using veldar_test::expect_throw;
using veldar_test::log_capture;
using strings = std::vector<std::string>;
using digit_vector = std::vector<signed char>;

strings construct_lines(unsigned long long length) { return veldar_test::transcript{}.made(length).lines; }

TEST(FixedintLog, ConstructionCopyAndDestructionLines) {
  log_capture capture;
  {
    fixedint number(8);
    EXPECT_EQ(capture.messages(), construct_lines(8));
    {
      const fixedint copy(number);  // NOLINT(performance-unnecessary-copy-initialization)
      EXPECT_EQ(capture.messages().size(), 3U) << "copying must not log";
    }
    EXPECT_EQ(capture.messages().back(), "Deleted fixedint object.");
  }
  EXPECT_EQ(capture.messages().size(), 5U);
}

TEST(FixedintLog, FailedConstructionLogsNoDeletion) {
  log_capture capture;
  EXPECT_THROW(fixedint(2, 123), std::out_of_range);
  EXPECT_EQ(capture.messages(), construct_lines(2));
}

TEST(FixedintLog, ResizeAndGetcopyLines) {
  fixedint number(3, 123);
  log_capture capture;
  number.resize(5);
  EXPECT_EQ(capture.messages(), (strings{"Resize requested in fixedint.", "Resizing Digits to: 5", "Done."}));
  log_capture again;
  { fixedint copy = number.getcopy(); }
  strings expected = construct_lines(5);
  expected.push_back("Deleted fixedint object.");
  EXPECT_EQ(again.messages(), expected);
}

TEST(FixedintAssign, TextMatchesMachineIntegerAtEveryLength) {
  std::mt19937_64 random(20261208);
  for (int round = 0; round < 2000; ++round) {
    const auto value = static_cast<long long>(random() >> (random() % 64));
    const long long signed_value = round % 2 == 0 ? value : -value;
    const std::string expected = std::to_string(signed_value);
    const auto magnitude_digits = expected.size() - (signed_value < 0 ? 1 : 0);
    fixedint exact(magnitude_digits, signed_value);
    EXPECT_EQ(exact.asstring(), expected);
    EXPECT_EQ(exact.digits.size(), magnitude_digits);
    EXPECT_EQ(fixedint(19, signed_value).asstring(), expected);
    if (magnitude_digits > 1) {
      EXPECT_THROW(fixedint(magnitude_digits - 1, signed_value), std::out_of_range) << signed_value;
    }
  }
  veldar_test::log_capture clear;
}

TEST(FixedintAssign, SmallestMachineInteger) {
  EXPECT_EQ(fixedint(19, LLONG_MIN).asstring(), "-9223372036854775808");
  veldar_test::expect_throw<std::out_of_range>([] { fixedint(18, LLONG_MIN); }, "Input int bigger than size!");
}

TEST(FixedintAssign, FailedAssignmentChangesNothing) {
  fixedint number(3, -123);
  EXPECT_THROW(number = 1234, std::out_of_range);
  EXPECT_EQ(number.asstring(), "-123");
  EXPECT_EQ(number.length, 3U);
}

TEST(FixedintAssign, FloatsDoNotCompile) {
  static_assert(!std::is_assignable_v<fixedint&, double>);
  static_assert(!std::is_assignable_v<fixedint&, float>);
  static_assert(!std::is_assignable_v<fixedint&, long double>);
  static_assert(!std::is_constructible_v<fixedint, int, double>);
  static_assert(std::is_assignable_v<fixedint&, unsigned char>);
}

TEST(FixedintAssign, UnsignedZeroFollowsTheSignedRulesAtLengthZero) {
  fixedint empty(0);
  expect_throw<std::out_of_range>([&empty] { empty = 0ULL; }, "Input int bigger than size!");
  expect_throw<std::out_of_range>([&empty] { empty = 0LL; }, "Input int bigger than size!");
  EXPECT_TRUE(empty.digits.empty());
}

TEST(FixedintAssign, UnsignedNumberStoresMagnitudeAndKeepsSign) {
  fixedint number(4);
  number.issigned = false;
  number = -5;
  EXPECT_EQ(number.asstring(), "5");
  number.negative = true;
  number = 7;
  EXPECT_EQ(number.asstring(), "-7");
  number.issigned = true;
  number = 7;
  EXPECT_EQ(number.asstring(), "7");
}

TEST(FixedintAssign, KeepsLengthAndClearsHigherDigits) {
  fixedint number(8, 98765432);
  number = -12;
  EXPECT_EQ(number.digits, (digit_vector{2, 1, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(number.negative);
}

TEST(FixedintText, ZeroNegativeZeroAndEmpty) {
  fixedint zero(8, 0);
  EXPECT_EQ(zero.asstring(), "0");
  EXPECT_EQ(zero.flipsign().asstring(), "-0");
  fixedint empty(0);
  EXPECT_EQ(empty.asstring(), "");
  EXPECT_EQ(empty.flipsign().asstring(), "-");
}

TEST(FixedintDigits, ShiftsAndResize) {
  fixedint left(3, 123);
  left.wholeshiftl();
  EXPECT_EQ(left.asstring(), "230");
  fixedint right(3, -123);
  right.wholeshiftr();
  EXPECT_EQ(right.asstring(), "-12");
  fixedint shrunk(3, 123);
  shrunk.resize(2);
  EXPECT_EQ(shrunk.asstring(), "23");
  EXPECT_EQ(shrunk.length, 2U);
  EXPECT_EQ(shrunk.digits.size(), 2U);
  fixedint grown(3, -123);
  grown.resize(5);
  EXPECT_EQ(grown.asstring(), "-123");
  EXPECT_EQ(grown.digits.size(), 5U);
}

TEST(FixedintDigits, ShiftingAnEmptyNumberLeavesItUnchanged) {
  fixedint empty(0);
  empty.wholeshiftl();
  empty.wholeshiftr();
  EXPECT_TRUE(empty.digits.empty());
  EXPECT_EQ(empty.length, 0U);
}

TEST(FixedintDigits, ShorteneddigitsDropsTopZeros) {
  EXPECT_EQ(fixedint(5, 120).getshorteneddigits(), (digit_vector{0, 2, 1}));
  EXPECT_TRUE(fixedint(5, 0).getshorteneddigits().empty());
  EXPECT_EQ(fixedint(1, 9).getshorteneddigits(), (digit_vector{9}));
}

TEST(FixedintCopies, GetcopyAndAbsKeepFlags) {
  fixedint number(4, -42);
  number.issigned = false;
  number.throwonoverflow = true;
  fixedint copy = number.getcopy();
  EXPECT_EQ(copy.asstring(), "-42");
  EXPECT_FALSE(copy.issigned);
  EXPECT_TRUE(copy.throwonoverflow);
  fixedint magnitude = number.abs();
  EXPECT_EQ(magnitude.asstring(), "42");
  EXPECT_TRUE(number.negative);
}

// Decimal text in.

TEST(FixedintTextIn, AcceptsSignAndDigitsOnly) {
  fixedint number(5);
  number = "-0042";
  EXPECT_EQ(number.asstring(), "-42");
  number = "+12345";
  EXPECT_EQ(number.asstring(), "12345");
  number = "-0";
  EXPECT_EQ(number.asstring(), "0");
  number = "000000000099";  // leading zeros do not count
  EXPECT_EQ(number.asstring(), "99");
  for (const char* bad : {"", "-", "+", "1 ", " 1", "1e3", "12a", "--1", "+-1", "1.0", "0x10"}) {
    expect_throw<std::invalid_argument>([&number, bad] { number = bad; }, "Not a decimal number!");
  }
  expect_throw<std::out_of_range>([&number] { number = "-123456"; }, "Input int bigger than size!");
  EXPECT_EQ(number.asstring(), "99");
  EXPECT_EQ(number.length, 5U);
}

TEST(FixedintTextIn, TakesAnyLengthAndTheSignRules) {
  const std::string forty = "-1234567890123456789012345678901234567890";
  fixedint wide(40);
  wide = forty;
  EXPECT_EQ(wide.asstring(), forty);
  fixedint magnitude(3, -7);
  magnitude.issigned = false;
  magnitude = "12";
  EXPECT_EQ(magnitude.asstring(), "-12");
  fixedint huge(20);
  huge = ULLONG_MAX;
  EXPECT_EQ(huge.asstring(), "18446744073709551615");
  huge = 0;
  EXPECT_EQ(huge.asstring(), "0");
  huge = -5LL;
  EXPECT_EQ(huge.asstring(), "-5");
}

}  // namespace
