// fixedfloat construction, text, parts, assignment from integers and floats,
// and multiplication, with the log lines they write.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixedfloat.h"
#include "support.h"

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;
using veldartest::int128;
using veldartest::expectthrow;
using veldartest::logcapture;
using veldartest::withvalue;
using strings = std::vector<std::string>;

fixedfloat fromfloat(unsigned long long length, float x) {
  fixedfloat number(length);
  number = x;
  return number;
}

const strings constructlines8{"New fixedint object!",
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

TEST(FixedfloatLifecycle, ConstructionCopyAndDestructionLines) {
  logcapture capture;
  {
    fixedfloat number(8);
    EXPECT_EQ(capture.messages(), constructlines8);
    logcapture copying;
    { const fixedfloat copy(number); }  // NOLINT(performance-unnecessary-copy-initialization)
    EXPECT_EQ(copying.messages(), (strings{"Deleting fixedfloat object!", "Deleted fixedint object."}));
  }
}

TEST(FixedfloatLifecycle, OddLengthIsRefused) {
  logcapture capture;
  expectthrow<std::runtime_error>([] { fixedfloat number(3); }, "length should be able to be divided by 2!");
  strings expected(constructlines8.begin(), constructlines8.begin() + 5);
  expected[4] = "Init called on fixedfloat with length: 3";
  expected.push_back("Deleted fixedint object.");
  EXPECT_EQ(capture.messages(), expected);

  fixedfloat number = withvalue(8, 789000, true);
  EXPECT_THROW(number.init(5), std::runtime_error);
  EXPECT_EQ(number.asstring(), "-78.9");
  number.init(4);
  EXPECT_EQ(number.asstring(), "0.0");
  EXPECT_EQ(number.value.digits.size(), 4U);
}

TEST(FixedfloatText, DigitLayouts) {
  EXPECT_EQ(withvalue(8, 1230).asstring(), "0.123");
  EXPECT_EQ(withvalue(8, 789000).asstring(), "78.9");
  EXPECT_EQ(withvalue(8, 10005).asstring(), "1.0005");
  EXPECT_EQ(withvalue(8, 12000500).asstring(), "1200.05");
  EXPECT_EQ(withvalue(8, 500).asstring(), "0.05");
  EXPECT_EQ(withvalue(8, 0).asstring(), "0.0");
  EXPECT_EQ(withvalue(8, 25000, true).asstring(), "-2.5");
  EXPECT_EQ(withvalue(8, 0, true).asstring(), "-0.0");
  EXPECT_EQ(withvalue(2, 15).asstring(), "1.5");
}

TEST(FixedfloatText, LengthZeroPrintsZero) {
  fixedfloat empty(0);
  EXPECT_EQ(empty.asstring(), "0.0");
  empty.negative = true;
  EXPECT_EQ(empty.asstring(), "-0.0");
}

TEST(FixedfloatText, SignedValueWithZeroFractionPrintsZeroFraction) {
  fixedfloat number = withvalue(8, 20000);
  number.value.negative = true;  // only by writing the field directly
  EXPECT_EQ(number.asstring(), "-2.0");
  number.value = fixedint(8, 20500);
  number.value.negative = true;
  EXPECT_EQ(number.asstring(), "-2.05");
}

TEST(FixedfloatText, TranscriptOfNonZeroAndZeroFractions) {
  fixedfloat fraction = withvalue(8, 1230);
  logcapture capture;
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

  fixedfloat whole = withvalue(8, 20000);
  logcapture again;
  whole.asstring();
  EXPECT_EQ(again.messages().size(), 12U);
}

TEST(FixedfloatParts, IntegerAndFractionParts) {
  fixedfloat number = withvalue(8, 789000);
  EXPECT_EQ(number.getintpart().digits, (std::vector<signed char>{8, 7, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(number.getfractionpart().digits, (std::vector<signed char>{0, 0, 0, 9, 0, 0, 0, 0}));
  EXPECT_EQ(withvalue(8, 500).getfractionpart().getshorteneddigits().size(), 3U);

  fixedfloat negative = withvalue(8, 25000, true);
  fixedint integer(2);
  integer = negative;
  EXPECT_EQ(integer.length, 8U);
  EXPECT_EQ(integer.asstring(), "2");
  EXPECT_FALSE(integer.negative);
}

TEST(FixedfloatAssign, FromFixedint) {
  fixedfloat number(8);
  number = fixedint(4, -12);
  EXPECT_EQ(number.asstring(), "-12.0");
  EXPECT_FALSE(number.value.negative);
  number = fixedint(8, 123456);
  EXPECT_EQ(number.asstring(), "3456.0");
  EXPECT_EQ(number.length, 8U);
  expectthrow<std::out_of_range>([&number] { number = fixedint(3, 1); }, "Val too small for fixedfloat!");
  EXPECT_EQ(number.asstring(), "3456.0");

  fixedint eleven(4, 11);
  logcapture capture;
  number = eleven;
  // The resize, then four rounds of a ten, the product and their deletions,
  // then the argument copy.
  EXPECT_EQ(capture.messages().size(), 3U + 4 * 11 + 1);
}

TEST(FixedfloatAssign, FromFloatKeepsItsDecimalDigits) {
  const std::vector<std::pair<float, std::string>> cases{
      {0.123F, "0.123"}, {78.9F, "78.9"},    {-2.5F, "-2.5"},     {5.0F, "5.0"},   {1.0005F, "1.0005"},
      {0.05F, "0.05"},   {1.0015F, "1.0015"}, {-0.5F, "-0.5"},    {-0.0F, "0.0"},  {9999.0F, "9999.0"},
      {0.0001F, "0.0001"}, {-1200.05F, "-1200.05"}};
  for (const auto& [x, text] : cases) {
    EXPECT_EQ(fromfloat(8, x).asstring(), text) << x;
  }
  EXPECT_EQ(fromfloat(48, 1e20F).asstring(), "100000002004087734272.0");
  EXPECT_EQ(fromfloat(0, 0.0F).asstring(), "0.0");
}

TEST(FixedfloatAssign, FromFloatTranscript) {
  fixedfloat number(8);
  logcapture capture;
  number = 0.123F;
  EXPECT_EQ(capture.messages().size(), 61U);
  logcapture whole;
  number = 5.0F;
  EXPECT_EQ(whole.messages().size(), 51U);
}

TEST(FixedfloatAssign, FailedAssignmentChangesNothing) {
  fixedfloat number = fromfloat(8, -7.25F);
  logcapture capture;
  expectthrow<std::out_of_range>([&number] { number = 12345.0F; }, "Input int bigger than size!");
  expectthrow<std::length_error>([&number] { number = 0.12345F; }, "Fraction of float too big to fit in fixedfloat!");
  expectthrow<std::length_error>([&number] { number = 1.00001F; }, "Fraction of float too big to fit in fixedfloat!");
  expectthrow<std::invalid_argument>([&number] { number = std::numeric_limits<float>::quiet_NaN(); },
                                     "Float is not a number!");
  expectthrow<std::out_of_range>([&number] { number = -std::numeric_limits<float>::infinity(); },
                                 "Input int bigger than size!");
  EXPECT_TRUE(capture.messages().empty());
  EXPECT_EQ(number.asstring(), "-7.25");
}

TEST(FixedfloatAssign, EveryFittingFloatReadsBackExactly) {
  std::mt19937 random(20261208);
  int checked = 0;
  for (int round = 0; round < 3000; ++round) {
    logcapture keepsmall;
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

// Multiplication.

struct scaled {
  bool negative;
  long long magnitude;  // the number times 10^(length/2)
};

// The exact product at twice the length, the point moved, the integer part
// kept to length/2 digits, printed the way the library prints.
std::string referenceproduct(int length, scaled a, scaled b, bool issigned) {
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

TEST(FixedfloatMultiply, TrueProductTruncatedToTheLength) {
  auto times = [](unsigned long long length, float a, float b) {
    fixedfloat left = fromfloat(length, a);
    return (left * fromfloat(length, b)).asstring();
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

TEST(FixedfloatMultiply, MatchesReference) {
  std::mt19937_64 random(1205);
  for (int round = 0; round < 3000; ++round) {
    logcapture keepsmall;
    const int length = 2 * static_cast<int>(random() % 8 + 1);
    long long modulus = 1;
    for (int i = 0; i < length; ++i) {
      modulus *= 10;
    }
    const int digitsa = static_cast<int>(random() % static_cast<unsigned>(length + 1));
    const int digitsb = static_cast<int>(random() % static_cast<unsigned>(length + 1));
    const scaled a{random() % 2 == 0, static_cast<long long>(random() % static_cast<unsigned long long>(std::pow(10, digitsa)))};
    const scaled b{random() % 2 == 0, static_cast<long long>(random() % static_cast<unsigned long long>(std::pow(10, digitsb)))};
    const bool issigned = random() % 4 != 0;
    fixedfloat left = withvalue(length, a.magnitude % modulus, a.negative);
    left.issigned = issigned;
    fixedfloat right = withvalue(length, b.magnitude % modulus, b.negative);
    right.issigned = random() % 2 == 0;
    SCOPED_TRACE("length " + std::to_string(length) + ": " + left.asstring() + " * " + right.asstring() +
                 (issigned ? "" : ", left unsigned"));
    fixedfloat product = left * right;
    EXPECT_EQ(product.asstring(), referenceproduct(length, a, b, issigned));
    EXPECT_FALSE(product.value.negative);
    EXPECT_EQ(product.value.digits.size(), static_cast<std::size_t>(length));
    EXPECT_EQ(left.value.asstring(), std::to_string(a.magnitude));
  }
}

TEST(FixedfloatMultiply, DifferentLengthsAndLogLines) {
  fixedfloat eight(8);
  fixedfloat six(6);
  logcapture capture;
  expectthrow<std::length_error>([&] { static_cast<void>(eight * six); }, "Size is not equal!");
  EXPECT_EQ(capture.messages().front(), "Multiplication operation in fixedfloat. (oh boy)");
  EXPECT_EQ(capture.messages().size(), 3U);  // and the argument copy's two deletion lines

  logcapture product;
  { fixedfloat result = eight * fixedfloat(eight); }
  const strings lines = product.messages();
  EXPECT_EQ(lines.front(), "Multiplication operation in fixedfloat. (oh boy)");
  EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()),
            (strings{"Done.", "Deleting fixedfloat object!", "Deleted fixedint object.",
                     "Deleting fixedfloat object!", "Deleted fixedint object."}));
}

}  // namespace
