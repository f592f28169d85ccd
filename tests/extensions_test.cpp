// Decimal text in, stream output, hashing, and fixed-point addition,
// subtraction and comparison.
#include <climits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "fixedfloat.h"
#include "fixedint.h"
#include "support.h"

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;
using veldartest::int128;
using veldartest::expectthrow;
using veldartest::logcapture;
using veldartest::fixedtext;
using veldartest::power10;
using veldartest::withvalue;
using strings = std::vector<std::string>;

// Text in.

TEST(DecimalText, FixedintAcceptsSignAndDigitsOnly) {
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
    expectthrow<std::invalid_argument>([&number, bad] { number = bad; }, "Not a decimal number!");
  }
  expectthrow<std::out_of_range>([&number] { number = "-123456"; }, "Input int bigger than size!");
  EXPECT_EQ(number.asstring(), "99");
  EXPECT_EQ(number.length, 5U);
}

TEST(DecimalText, FixedintTakesAnyLengthAndTheSignRules) {
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

TEST(DecimalText, FixedfloatForms) {
  fixedfloat number(8);
  const std::vector<std::pair<std::string, std::string>> cases{
      {"-0.05", "-0.05"}, {"1200.05", "1200.05"}, {".5", "0.5"},      {"5.", "5.0"},   {"+7", "7.0"},
      {"-0.0", "0.0"},    {"0", "0.0"},           {"0009999.99990000", "9999.9999"}, {"-.0001", "-0.0001"}};
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

TEST(DecimalText, FixedfloatFailuresChangeNothing) {
  fixedfloat number(8);
  number = "-12.5";
  logcapture capture;
  for (const char* bad : {"", ".", "-", "-.", "1e3", " 1", "1 ", "1..2", "1.2.3", "0x1", "1,5", "+-1"}) {
    expectthrow<std::invalid_argument>([&number, bad] { number = bad; }, "Not a decimal number!");
  }
  expectthrow<std::out_of_range>([&number] { number = "12345"; }, "Input int bigger than size!");
  expectthrow<std::length_error>([&number] { number = "0.12345"; }, "Fraction of float too big to fit in fixedfloat!");
  EXPECT_TRUE(capture.messages().empty());
  EXPECT_EQ(number.asstring(), "-12.5");
}

TEST(DecimalText, LogsAsTheFloatAssignmentDoes) {
  fixedfloat number(8);
  logcapture fromfloat;
  number = 0.123F;
  const strings floatlines = fromfloat.messages();
  logcapture fromtext;
  number = "0.123";
  EXPECT_EQ(fromtext.messages(), floatlines);
}

TEST(DecimalText, RandomNumbersReadBackExactly) {
  std::mt19937_64 random(1207);
  for (int round = 0; round < 2000; ++round) {
    logcapture keepsmall;
    const int length = 2 * static_cast<int>(random() % 9 + 1);
    const auto magnitude = static_cast<int128>(random() % static_cast<unsigned long long>(power10(length)));
    const int128 scaled = random() % 2 == 0 ? magnitude : -magnitude;
    const std::string text = fixedtext(scaled, length / 2);
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
  out << integer << ' ' << (integer * fixedint(4, 2)) << ' ' << constant << ' ' << number << ' '
      << (number * number);
  EXPECT_EQ(out.str(), "-42 -84 7 -2.5 6.25");
}

// Hashing.

TEST(Hashing, UnorderedContainersWorkAsTheyAre) {
  std::unordered_set<fixedint> integers;
  integers.insert(fixedint(3, 5));
  integers.insert(fixedint(3, 5));
  integers.insert(fixedint(3, -5));
  integers.insert(fixedint(4, 5));  // another length, another number
  EXPECT_EQ(integers.size(), 3U);

  fixedfloat zero(8);
  fixedfloat negativezero(8);
  negativezero.negative = true;
  fixedfloat half(8);
  half = "0.5";
  logcapture capture;
  std::unordered_map<fixedfloat, int> counts;
  ++counts[zero];
  ++counts[negativezero];
  ++counts[half];
  EXPECT_EQ(counts.size(), 2U);
  EXPECT_EQ(counts.at(zero), 2);
  EXPECT_EQ(std::hash<fixedfloat>{}(zero), std::hash<fixedfloat>{}(negativezero));
  EXPECT_TRUE(capture.messages().empty()) << "hashing must neither copy nor log";
}

TEST(Hashing, AgreesWithEquality) {
  std::mt19937_64 random(1208);
  for (int round = 0; round < 500; ++round) {
    logcapture keepsmall;
    const auto a = static_cast<long long>(random() % 20);
    const auto b = static_cast<long long>(random() % 20);
    fixedint x(2, random() % 2 == 0 ? a : -a);
    fixedint y(2, random() % 2 == 0 ? b : -b);
    const bool equal = x == y;
    EXPECT_EQ(std::equal_to<fixedint>{}(x, y), equal);
    if (equal) {
      EXPECT_EQ(std::hash<fixedint>{}(x), std::hash<fixedint>{}(y));
    }
    fixedfloat p = withvalue(4, a, random() % 2 == 0);
    fixedfloat q = withvalue(4, b, random() % 2 == 0);
    const bool same = p == q;
    EXPECT_EQ(std::equal_to<fixedfloat>{}(p, q), same);
    if (same) {
      EXPECT_EQ(std::hash<fixedfloat>{}(p), std::hash<fixedfloat>{}(q));
    }
  }
}

// Fixed-point addition, subtraction and comparison.

TEST(FixedfloatSum, MatchesReference) {
  std::mt19937_64 random(1209);
  for (int round = 0; round < 3000; ++round) {
    logcapture keepsmall;
    const int length = 2 * static_cast<int>(random() % 8 + 1);
    const int128 modulus = power10(length);
    const auto digitsof = [&random, length] {
      return power10(static_cast<int>(random() % static_cast<unsigned>(length + 1)));
    };
    const auto a = static_cast<long long>(random() % static_cast<unsigned long long>(digitsof()));
    const auto b = static_cast<long long>(random() % static_cast<unsigned long long>(digitsof()));
    const bool na = random() % 2 == 0;
    const bool nb = random() % 2 == 0;
    fixedfloat left = withvalue(length, a, na);
    left.issigned = random() % 2 == 0;
    left.value.throwonoverflow = random() % 2 == 0;
    fixedfloat right = withvalue(length, b, nb);
    const std::string lefttext = left.asstring();
    const std::string righttext = right.asstring();
    SCOPED_TRACE("length " + std::to_string(length) + ": " + lefttext + " and " + righttext);

    const int128 va = na ? -a : a;
    const int128 vb = nb ? -b : b;
    // The exact result, its magnitude kept to `length` digits, a zero unsigned.
    const auto truncated = [modulus](int128 exact) { return exact < 0 ? -(-exact % modulus) : exact % modulus; };
    for (const bool subtract : {false, true}) {
      fixedfloat result = subtract ? left - right : left + right;
      EXPECT_EQ(result.asstring(), fixedtext(truncated(subtract ? va - vb : va + vb), length / 2))
          << (subtract ? "-" : "+");
      EXPECT_FALSE(result.value.negative);
    }
    EXPECT_EQ(left == right, va == vb);
    EXPECT_EQ(left != right, va != vb);
    EXPECT_EQ(left < right, va < vb);
    EXPECT_EQ(left > right, va > vb);
    EXPECT_EQ(left <= right, va <= vb);
    EXPECT_EQ(left >= right, va >= vb);
    EXPECT_EQ(left.asstring(), lefttext);
    EXPECT_EQ(right.asstring(), righttext);
  }
}

TEST(FixedfloatSum, CarryOutOfTheTopIsDroppedNotHandedBack) {
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

TEST(FixedfloatSum, DifferentLengthsAndLogLines) {
  fixedfloat eight(8);
  fixedfloat six(6);
  expectthrow<std::length_error>([&] { static_cast<void>(eight + six); }, "Size is not equal!");
  expectthrow<std::length_error>([&] { static_cast<void>(eight - six); }, "Size is not equal!");
  {
    logcapture refused;
    expectthrow<std::length_error>([&] { static_cast<void>(eight < six); }, "Size is not equal!");
    // The operation's own line comes first, then the argument copy goes.
    EXPECT_EQ(refused.messages(), (strings{"Comparison operation in fixedfloat (<).", "Deleting fixedfloat object!",
                                           "Deleted fixedint object."}));
  }
  expectthrow<std::length_error>([&] { static_cast<void>(eight == six); }, "Size is not equal!");
  EXPECT_FALSE(std::equal_to<fixedfloat>{}(eight, six));

  const auto firstandlast = [](const strings& lines) { return strings{lines.front(), lines.back()}; };
  fixedfloat other(8);
  logcapture sum;
  { fixedfloat result = eight + other; }
  const strings sumlines = sum.messages();
  EXPECT_EQ(sumlines.front(), "Addition operation in fixedfloat.");
  // "Done." ends the operation; then the argument copy and the result go.
  ASSERT_GE(sumlines.size(), 5U);
  EXPECT_EQ(sumlines[sumlines.size() - 5], "Done.");
  logcapture difference;
  { fixedfloat result = eight - other; }
  EXPECT_EQ(difference.messages().front(), "Subtraction operation in fixedfloat.");
  logcapture comparison;
  static_cast<void>(eight <= other);
  EXPECT_EQ(firstandlast(comparison.messages()), (strings{"Comparison operation in fixedfloat (<=).", "Deleted fixedint object."}));
  EXPECT_EQ(comparison.messages()[1], "Done.");  // then the argument copy's two lines
}

}  // namespace
