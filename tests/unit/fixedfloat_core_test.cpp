// fixedfloat construction, text in and out, parts, and assignment from
// integers, floats and text, with the log lines they write.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
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
using veldar_test::transcript;
using veldar_test::with_value;
using strings = std::vector<std::string>;

// `before`, then the lines of scaling an integer to the fixed point at
// `length`: one multiplication by ten per fraction place, each with the ten
// made, the product at twice the length made and cut back, and both gone.
transcript scaling(unsigned long long length, transcript before) {
  for (unsigned long long i = 0; i < length / 2; ++i) {
    before.made(length).made(2 * length).resized(length).deleted(2);
  }
  return before;
}

fixedfloat from_float(unsigned long long length, float x) {
  fixedfloat number(length);
  number = x;
  return number;
}

const strings construct_lines_8{"New fixedint object!",
                                "Resizing Digits to: 0",
                                "Done.",
                                "Creating new fixedfloat object!",
                                "Init called on fixedfloat with length: 8",
                                "Register size.",
                                "Init boolean properties.",
                                "Init digits.",
                                "New fixedint object!",
                                "Resizing Digits to: 8",
                                "Done.",
                                "Deleted fixedint object.",
                                "Done."};

// Tests that make many numbers keep the log bounded.
class FixedfloatTextIn : public veldar_test::bounded_log {};
class FixedfloatAssign : public veldar_test::bounded_log {};

TEST(FixedfloatLifecycle, ConstructionCopyAndDestructionLines) {
  log_capture capture;
  {
    fixedfloat number(8);
    EXPECT_EQ(capture.messages(), construct_lines_8);
    log_capture copying;
    { const fixedfloat copy(number); }  // NOLINT(performance-unnecessary-copy-initialization)
    EXPECT_EQ(copying.messages(), (strings{"Deleting fixedfloat object!", "Deleted fixedint object."}));
  }
}

TEST(FixedfloatLifecycle, OddLengthIsRefused) {
  log_capture capture;
  expect_throw<std::runtime_error>([] { fixedfloat number(3); }, "length should be able to be divided by 2!");
  strings expected(construct_lines_8.begin(), construct_lines_8.begin() + 5);
  expected[4] = "Init called on fixedfloat with length: 3";
  expected.push_back("Deleted fixedint object.");
  EXPECT_EQ(capture.messages(), expected);

  fixedfloat number = with_value(8, 789000, true);
  EXPECT_THROW(number.init(5), std::runtime_error);
  EXPECT_EQ(number.asstring(), "-78.9");
  number.init(4);
  EXPECT_EQ(number.asstring(), "0.0");
  EXPECT_EQ(number.value.digits.size(), 4U);
}

TEST(FixedfloatText, DigitLayouts) {
  EXPECT_EQ(with_value(8, 1230).asstring(), "0.123");
  EXPECT_EQ(with_value(8, 789000).asstring(), "78.9");
  EXPECT_EQ(with_value(8, 10005).asstring(), "1.0005");
  EXPECT_EQ(with_value(8, 12000500).asstring(), "1200.05");
  EXPECT_EQ(with_value(8, 500).asstring(), "0.05");
  EXPECT_EQ(with_value(8, 0).asstring(), "0.0");
  EXPECT_EQ(with_value(8, 25000, true).asstring(), "-2.5");
  EXPECT_EQ(with_value(8, 0, true).asstring(), "-0.0");
  EXPECT_EQ(with_value(2, 15).asstring(), "1.5");
}

TEST(FixedfloatText, LengthZeroPrintsZero) {
  fixedfloat empty(0);
  EXPECT_EQ(empty.asstring(), "0.0");
  empty.negative = true;
  EXPECT_EQ(empty.asstring(), "-0.0");
}

TEST(FixedfloatText, SignedValueWithZeroFractionPrintsZeroFraction) {
  fixedfloat number = with_value(8, 20000);
  number.value.negative = true;  // only by writing the field directly
  EXPECT_EQ(number.asstring(), "-2.0");
  number.value = fixedint(8, 20500);
  number.value.negative = true;
  EXPECT_EQ(number.asstring(), "-2.05");
}

TEST(FixedfloatText, TranscriptOfNonZeroAndZeroFractions) {
  fixedfloat fraction = with_value(8, 1230);
  log_capture capture;
  fraction.asstring();
  const strings made{"New fixedint object!", "Resizing Digits to: 8", "Done."};
  strings expected;
  auto add = [&expected](const strings& lines) { expected.insert(expected.end(), lines.begin(), lines.end()); };
  add(made);
  add({"Deleted fixedint object."});
  add(made);
  add(made);
  add({"Deleted fixedint object.", "Resize requested in fixedint.", "Resizing Digits to: 4", "Done.",
       "Deleted fixedint object."});
  EXPECT_EQ(capture.messages(), expected);

  fixedfloat whole = with_value(8, 20000);
  log_capture again;
  whole.asstring();
  EXPECT_EQ(again.messages().size(), 12U);
}

TEST(FixedfloatParts, IntegerAndFractionParts) {
  fixedfloat number = with_value(8, 789000);
  EXPECT_EQ(number.getintpart().digits, (std::vector<signed char>{8, 7, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(number.getfractionpart().digits, (std::vector<signed char>{0, 0, 0, 9, 0, 0, 0, 0}));
  EXPECT_EQ(with_value(8, 500).getfractionpart().getshorteneddigits().size(), 3U);

  fixedfloat negative = with_value(8, 25000, true);
  fixedint integer(2);
  integer = negative;
  EXPECT_EQ(integer.length, 8U);
  EXPECT_EQ(integer.asstring(), "2");
  EXPECT_FALSE(integer.negative);
}

TEST_F(FixedfloatAssign, FromFixedint) {
  fixedfloat number(8);
  number = fixedint(4, -12);
  EXPECT_EQ(number.asstring(), "-12.0");
  EXPECT_FALSE(number.value.negative);
  number = fixedint(8, 123456);
  EXPECT_EQ(number.asstring(), "3456.0");
  EXPECT_EQ(number.length, 8U);
  expect_throw<std::out_of_range>([&number] { number = fixedint(3, 1); }, "Val too small for fixedfloat!");
  EXPECT_EQ(number.asstring(), "3456.0");

  fixedint eleven(4, 11);
  log_capture capture;
  number = eleven;
  // The argument widened, then one multiplication by ten per fraction place,
  // then the argument copy goes.
  EXPECT_EQ(capture.messages(), scaling(8, transcript{}.resized(8)).deleted().lines);
}

TEST_F(FixedfloatAssign, FromFloatKeepsItsDecimalDigits) {
  const std::vector<std::pair<float, std::string>> cases{
      {0.123F, "0.123"},   {78.9F, "78.9"},     {-2.5F, "-2.5"},     {5.0F, "5.0"},
      {1.0005F, "1.0005"}, {0.05F, "0.05"},     {1.0015F, "1.0015"}, {-0.5F, "-0.5"},
      {-0.0F, "0.0"},      {9999.0F, "9999.0"}, {0.0001F, "0.0001"}, {-1200.05F, "-1200.05"}};
  for (const auto& [x, text] : cases) {
    EXPECT_EQ(from_float(8, x).asstring(), text) << x;
  }
  // The shortest text, not the binary value 100000002004087734272.
  EXPECT_EQ(from_float(48, 1e20F).asstring(), "100000000000000000000.0");
  EXPECT_EQ(from_float(0, 0.0F).asstring(), "0.0");
}

TEST_F(FixedfloatAssign, FromFloatTranscript) {
  // The integer part, a number of 4 digits, widened to 8 and scaled, then
  // gone (3 + 3 + 4 * 11 + 1 = 51 lines); for a fraction, the fraction and
  // the sum inside the addition made, and four deletions: the working sum,
  // the sum, the copy of the fraction and the fraction (10 more, 61).
  const transcript integer = scaling(8, transcript{}.made(4).resized(8)).deleted();
  const transcript fraction = transcript(integer).made(8).made(8).deleted(4);
  fixedfloat number(8);
  log_capture capture;
  number = 0.123F;
  EXPECT_EQ(capture.messages(), fraction.lines);
  log_capture whole;
  number = 5.0F;
  EXPECT_EQ(whole.messages(), integer.lines);
}

TEST_F(FixedfloatAssign, FailedAssignmentChangesNothing) {
  fixedfloat number = from_float(8, -7.25F);
  log_capture capture;
  expect_throw<std::out_of_range>([&number] { number = 12345.0F; }, "Input int bigger than size!");
  expect_throw<std::length_error>([&number] { number = 0.12345F; }, "Fraction of float too big to fit in fixedfloat!");
  expect_throw<std::length_error>([&number] { number = 1.00001F; }, "Fraction of float too big to fit in fixedfloat!");
  expect_throw<std::invalid_argument>([&number] { number = std::numeric_limits<float>::quiet_NaN(); },
                                      "Float is not a number!");
  expect_throw<std::out_of_range>([&number] { number = -std::numeric_limits<float>::infinity(); },
                                  "Input int bigger than size!");
  EXPECT_TRUE(capture.messages().empty());
  EXPECT_EQ(number.asstring(), "-7.25");
}

TEST_F(FixedfloatAssign, EveryFittingFloatReadsBackExactly) {
  std::mt19937 random(20261208);
  int checked = 0;
  for (int round = 0; round < 3000; ++round) {
    const unsigned long long length = 2 * (random() % 45 + 1);
    // Random bit patterns cover subnormals and huge values alike.
    const auto bits = static_cast<std::uint32_t>(random());
    float x = 0;
    static_assert(sizeof x == sizeof bits);
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) {
      continue;
    }
    fixedfloat number(length);
    try {
      number = x;
    } catch (const std::out_of_range&) {
      EXPECT_GE(std::fabs(x), std::pow(10.0F, static_cast<float>(length / 2)) * 0.999F) << x;
      continue;
    } catch (const std::length_error&) {
      continue;
    }
    const std::string text = number.asstring();
    EXPECT_EQ(std::strtof(text.c_str(), nullptr), x) << "length " << length << ": " << text;
    EXPECT_EQ(number.negative, std::signbit(x) && x != 0) << text;
    ++checked;
  }
  EXPECT_GT(checked, 1000);
}

// Decimal text in.

TEST_F(FixedfloatTextIn, Forms) {
  fixedfloat number(8);
  const std::vector<std::pair<std::string, std::string>> cases{
      {"-0.05", "-0.05"},   {"1200.05", "1200.05"}, {".5", "0.5"}, {"5.", "5.0"},
      {"+7", "7.0"},        {"-0.0", "0.0"},        {"0", "0.0"},  {"0009999.99990000", "9999.9999"},
      {"-.0001", "-0.0001"}};
  for (const auto& [text, printed] : cases) {
    number = text;
    EXPECT_EQ(number.asstring(), printed) << text;
    EXPECT_FALSE(number.value.negative);
  }
  number = 0;
  EXPECT_EQ(number.asstring(), "0.0");
  number = -5LL;
  EXPECT_EQ(number.asstring(), "-5.0");
  fixedfloat wide(40);
  wide = 12345678901234567LL;  // exactly, not through a float
  EXPECT_EQ(wide.asstring(), "12345678901234567.0");
}

TEST_F(FixedfloatTextIn, FailuresChangeNothing) {
  fixedfloat number(8);
  number = "-12.5";
  log_capture capture;
  for (const char* bad : {"", ".", "-", "-.", "1e3", " 1", "1 ", "1..2", "1.2.3", "0x1", "1,5", "+-1"}) {
    expect_throw<std::invalid_argument>([&number, bad] { number = bad; }, "Not a decimal number!");
  }
  expect_throw<std::out_of_range>([&number] { number = "12345"; }, "Input int bigger than size!");
  expect_throw<std::length_error>([&number] { number = "0.12345"; }, "Fraction of float too big to fit in fixedfloat!");
  EXPECT_TRUE(capture.messages().empty());
  EXPECT_EQ(number.asstring(), "-12.5");
}

TEST_F(FixedfloatTextIn, LogsAsTheFloatAssignmentDoes) {
  fixedfloat number(8);
  log_capture from_float;
  number = 0.123F;
  const strings float_lines = from_float.messages();
  log_capture from_text;
  number = "0.123";
  EXPECT_EQ(from_text.messages(), float_lines);
}

TEST_F(FixedfloatTextIn, RandomNumbersReadBackExactly) {
  std::mt19937_64 random(1207);
  for (int round = 0; round < 2000; ++round) {
    const int length = 2 * static_cast<int>(random() % 9 + 1);
    const auto magnitude = static_cast<int128>(random() % static_cast<unsigned long long>(power10(length)));
    const int128 scaled = random() % 2 == 0 ? magnitude : -magnitude;
    const std::string text = fixed_text(scaled, length / 2);
    fixedfloat number(static_cast<unsigned long long>(length));
    number = text;
    EXPECT_EQ(number.asstring(), text == "-0.0" ? "0.0" : text);
    EXPECT_EQ(number.value.asstring(), std::to_string(static_cast<long long>(magnitude))) << text;
  }
}

// Stream output.

TEST(StreamOutput, PrintsAsstringForNamedNumbersAndTemporaries) {
  fixedint integer(4, -42);
  fixedfloat number(8);
  number = "-2.5";
  const fixedint constant(2, 7);
  std::ostringstream out;
  out << integer << ' ' << (integer * fixedint(4, 2)) << ' ' << constant << ' ' << number << ' ' << (number * number);
  EXPECT_EQ(out.str(), "-42 -84 7 -2.5 6.25");
}

}  // namespace
