// Conversions: doubles out against strtod() of the same text, integers out at
// every type's limits, doubles in, text in and out without exceptions, and
// streams in.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>
#include "support.h"

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;
using VELDAR::rounding;
using veldar_test::expect_throw;

class Conversions : public veldar_test::bounded_log {};

// `count` random digits, the first not zero, or "0".
std::string random_digit_source(std::mt19937_64& random, std::size_t count) {
  std::string text(count, '0');
  for (char& c : text) {
    c = static_cast<char>('0' + random() % 10);
  }
  if (count > 0) {
    text.front() = static_cast<char>('1' + random() % 9);
  }
  return count == 0 ? "0" : text;
}

TEST_F(Conversions, DoublesAreCorrectlyRoundedAsStrtodReadsTheText) {
  std::mt19937_64 random(1401);
  // Up to 700 digits: integer parts past the double range, fractions below its smallest number.
  for (int round = 0; round < 3000; ++round) {
    const unsigned long long length = 2 * (random() % 350 + 1);
    const unsigned long long half = length / 2;
    fixedfloat number(length);
    const std::string integer = random_digit_source(random, random() % (half + 1));
    std::string fraction = random_digit_source(random, random() % (half + 1));
    fraction.insert(0, random() % (half - std::min<std::size_t>(half, fraction.size()) + 1), '0');
    fraction.resize(std::min<std::size_t>(fraction.size(), half));
    const std::string text = (random() % 2 == 0 ? "-" : "") + integer + "." + fraction;
    number = text;
    const std::string printed = number.asstring();
    errno = 0;
    const double expected = std::strtod(printed.c_str(), nullptr);
    ASSERT_EQ(number.todouble(), expected) << printed;
    ASSERT_EQ(std::signbit(number.todouble()), std::signbit(expected)) << printed;
    fixedint whole(length);
    whole = (text.front() == '-' ? "-" : "") + integer;
    ASSERT_EQ(whole.todouble(), std::strtod(whole.asstring().c_str(), nullptr)) << whole.asstring();
  }
  fixedint huge(400);
  huge = "-" + std::string(400, '9');
  EXPECT_EQ(huge.todouble(), -std::numeric_limits<double>::infinity());
}

// The limits of `integer` as fixedint text, and one past each.
template <typename integer>
void check_limits() {
  using limits = std::numeric_limits<integer>;
  const auto text = [](auto value) { return std::to_string(value); };
  fixedint number(40);
  number = text(limits::max());
  EXPECT_EQ(number.tointeger<integer>(), limits::max());
  number = text(limits::min());
  EXPECT_EQ(number.tointeger<integer>(), limits::min());
  number = text(static_cast<unsigned long long>(limits::max()) + 1ULL);
  expect_throw<std::out_of_range>([&number] { number.tointeger<integer>(); }, "Value does not fit!");
  number = limits::min() == 0 ? "-1" : "-" + text(static_cast<unsigned long long>(limits::max()) + 2ULL);
  expect_throw<std::out_of_range>([&number] { number.tointeger<integer>(); }, "Value does not fit!");
}

TEST_F(Conversions, IntegersAtEveryTypesLimits) {
  check_limits<signed char>();
  check_limits<unsigned char>();
  check_limits<short>();
  check_limits<unsigned short>();
  check_limits<int>();
  check_limits<unsigned>();
  check_limits<long>();
  check_limits<long long>();
  check_limits<char16_t>();
  fixedint number(40);
  number = ULLONG_MAX;
  EXPECT_EQ(number.tointeger<unsigned long long>(), ULLONG_MAX);
  number = "18446744073709551616";
  expect_throw<std::out_of_range>([&number] { number.tointeger<unsigned long long>(); }, "Value does not fit!");
  number = "-0";
  EXPECT_EQ(number.tointeger<unsigned>(), 0U);
  number = 1;
  EXPECT_TRUE(number.tointeger<bool>());

  fixedfloat x(8);
  x = "-2.5";
  EXPECT_EQ(x.tointeger<int>(rounding::halfeven), -2);
  EXPECT_EQ(x.tointeger<int>(rounding::floor), -3);
  EXPECT_EQ(x.tointeger<int>(rounding::ceiling), -2);
  expect_throw<std::out_of_range>([&x] { x.tointeger<unsigned>(rounding::down); }, "Value does not fit!");
  expect_throw<std::domain_error>([&x] { x.tointeger<int>(rounding::exact); }, "Rounding necessary!");
  x = "9999.9";
  EXPECT_EQ(x.tointeger<short>(rounding::halfup), 10000) << "the carry is kept, not wrapped";
  expect_throw<std::out_of_range>([&x] { x.tointeger<signed char>(rounding::down); }, "Value does not fit!");
}

TEST_F(Conversions, DoublesInKeepTheirShortestText) {
  fixedfloat number(8);
  number = 1234.5678;
  EXPECT_EQ(number.asstring(), "1234.5678");
  number = 0.1;
  EXPECT_EQ(number.asstring(), "0.1");
  const std::string before = number.asstring();
  expect_throw<std::length_error>([&number] { number = 0.12345; }, "Fraction of float too big to fit in fixedfloat!");
  expect_throw<std::out_of_range>([&number] { number = 1e300; }, "Input int bigger than size!");
  expect_throw<std::invalid_argument>([&number] { number = std::nan(""); }, "Float is not a number!");
  EXPECT_EQ(number.asstring(), before);
  static_assert(!std::is_assignable_v<fixedfloat&, long double>);
  veldar_test::log_capture from_double;
  number = 0.123;
  veldar_test::log_capture from_float;
  number = 0.123F;
  EXPECT_EQ(from_double.messages().size(), 61U);
}

TEST_F(Conversions, TextRoundTripsThroughToCharsAtEveryLength) {
  std::mt19937_64 random(1402);
  std::vector<char> buffer;
  for (unsigned long long length = 1; length <= 2000; length += 1 + length / 8) {
    const unsigned long long even = length + length % 2;
    const std::string sign = random() % 2 == 0 ? "-" : "";
    const std::string integer = sign + random_digit_source(random, random() % (length + 1));
    const std::string fixed_text = sign + random_digit_source(random, random() % (even / 2 + 1)) + "." +
                                   random_digit_source(random, random() % (even / 2 + 1));
    fixedint whole(length);
    ASSERT_EQ(VELDAR::from_chars(integer.data(), integer.data() + integer.size(), whole).ec, std::errc{}) << integer;
    buffer.assign(length + 1, '\0');
    auto written = VELDAR::to_chars(buffer.data(), buffer.data() + buffer.size(), whole);
    ASSERT_EQ(written.ec, std::errc{});
    ASSERT_EQ(std::string(buffer.data(), written.ptr), whole.asstring());
    ASSERT_EQ(whole.asstring(), integer == "-0" ? "0" : integer);
    // One byte short: refused, with ptr at the end of the buffer as std::to_chars gives it.
    const auto short_whole = VELDAR::to_chars(buffer.data(), written.ptr - 1, whole);
    EXPECT_EQ(short_whole.ec, std::errc::value_too_large);
    EXPECT_EQ(short_whole.ptr, written.ptr - 1);

    fixedfloat fixed(even);
    const auto read = VELDAR::from_chars(fixed_text.data(), fixed_text.data() + fixed_text.size(), fixed);
    ASSERT_EQ(read.ec, std::errc{}) << fixed_text;
    buffer.assign(even + 3, '\0');
    written = VELDAR::to_chars(buffer.data(), buffer.data() + buffer.size(), fixed);
    ASSERT_EQ(written.ec, std::errc{});
    const std::string text(buffer.data(), written.ptr);
    ASSERT_EQ(text, fixed.asstring());
    const auto short_fixed = VELDAR::to_chars(buffer.data(), written.ptr - 1, fixed);
    EXPECT_EQ(short_fixed.ec, std::errc::value_too_large);
    EXPECT_EQ(short_fixed.ptr, written.ptr - 1);
    fixedfloat again(even);
    again = text;
    ASSERT_TRUE(std::equal_to<fixedfloat>{}(again, fixed)) << text;
  }
}

TEST_F(Conversions, FromCharsTakesTheLongestPrefixAndChangesNothingOnError) {
  fixedfloat number(8);
  number = "-12.5";
  const auto read = [&number](const std::string& text) {
    const auto result = VELDAR::from_chars(text.data(), text.data() + text.size(), number);
    return std::make_pair(result.ec, result.ptr - text.data());
  };
  for (const char* bad : {"", ".", "-", "-.", "e5", " 1", "+-1", "x1"}) {
    EXPECT_EQ(read(bad), std::make_pair(std::errc::invalid_argument, 0L)) << bad;
  }
  EXPECT_EQ(read("12345"), std::make_pair(std::errc::result_out_of_range, 5L));
  EXPECT_EQ(read("0.12345x"), std::make_pair(std::errc::result_out_of_range, 7L));
  EXPECT_EQ(number.asstring(), "-12.5");
  EXPECT_EQ(read("1.5.3"), std::make_pair(std::errc{}, 3L));
  EXPECT_EQ(number.asstring(), "1.5");
  EXPECT_EQ(read("5.e3"), std::make_pair(std::errc{}, 2L));
  EXPECT_EQ(read("-.25%"), std::make_pair(std::errc{}, 4L));
  EXPECT_EQ(number.asstring(), "-0.25");

  fixedint whole(3);
  whole = 7;
  const std::string text = "1.5";
  EXPECT_EQ(VELDAR::from_chars(text.data(), text.data() + 3, whole).ptr, text.data() + 1);
  EXPECT_EQ(whole.asstring(), "1");
  const std::string too_long = "-0001234";
  EXPECT_EQ(VELDAR::from_chars(too_long.data(), too_long.data() + too_long.size(), whole).ec,
            std::errc::result_out_of_range);
  EXPECT_EQ(whole.asstring(), "1");
}

// Texts of digits, points, signs and the bytes either side of the digits
// ('/', ':', and bytes from 0x80 up), at lengths that put the first
// character that is no digit in every lane of an eight-character word.
// std::regex finds the prefix; the value is the prefix's digits with their
// zeros stripped.
TEST_F(Conversions, FromCharsFindsThePrefixInTextsOfEveryShape) {
  const std::regex number(R"(([+-]?)(\d+\.?\d*|\.\d+))");
  const std::string alphabet = "0123456789012345678901234567890123456789..+-/:e \x80\xb9\xff";
  const unsigned seed = 19;
  std::mt19937 random(seed);
  fixedfloat value(80);
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 40, ' ');
    for (char& c : text) {
      c = alphabet[random() % alphabet.size()];
    }
    value = "7.5";
    const auto [ptr, error] = VELDAR::from_chars(text.data(), text.data() + text.size(), value);
    std::smatch found;
    if (!std::regex_search(text, found, number, std::regex_constants::match_continuous)) {
      ASSERT_EQ(error, std::errc::invalid_argument) << "seed " << seed << ", text \"" << text << '"';
      ASSERT_EQ(value.asstring(), "7.5");
      continue;
    }
    ASSERT_EQ(error, std::errc{}) << "seed " << seed << ", text \"" << text << '"';
    ASSERT_EQ(ptr - text.data(), found.length(0)) << "seed " << seed << ", text \"" << text << '"';
    const std::string digits = found.str(2);
    const std::size_t point = std::min(digits.find('.'), digits.size());
    std::string integer = digits.substr(0, point);
    std::string fraction = point < digits.size() ? digits.substr(point + 1) : "";
    integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
    fraction.erase(fraction.find_last_not_of('0') + 1);
    const bool minus = found.str(1) == "-" && !(integer.empty() && fraction.empty());
    const std::string expected =
        (minus ? "-" : "") + (integer.empty() ? "0" : integer) + "." + (fraction.empty() ? "0" : fraction);
    ASSERT_EQ(value.asstring(), expected) << "seed " << seed << ", text \"" << text << '"';
  }
}

TEST_F(Conversions, StreamsReadOneToken) {
  std::istringstream in("  -42 apples 1.5x 99999 7");
  fixedint count(4);
  std::string word;
  fixedfloat price(4);
  in >> count >> word >> price;
  EXPECT_TRUE(in.good());
  EXPECT_EQ(count.asstring(), "-42");
  EXPECT_EQ(price.asstring(), "1.5");
  EXPECT_EQ(in.get(), 'x');
  in >> count;  // five digits at length 4
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(count.asstring(), "-42");
  in.clear();
  in >> count;
  EXPECT_EQ(count.asstring(), "7");
  EXPECT_TRUE(in.eof());
  std::istringstream none("abc");
  none >> price;
  EXPECT_TRUE(none.fail());
  EXPECT_EQ(price.asstring(), "1.5");
  // A sign only starts a token: "5-3" is 5, then "-3" left to read.
  std::istringstream difference("5-3");
  difference >> count;
  EXPECT_TRUE(difference.good());
  EXPECT_EQ(count.asstring(), "5");
  std::string rest;
  difference >> rest;
  EXPECT_EQ(rest, "-3");
}

// A stream buffer that hands out its text `chunk` characters at a time, or
// with no get area at all (chunk 0), one character a call, as an
// unbuffered stream does.
class chunked_buffer : public std::streambuf {
 public:
  chunked_buffer(std::string text, std::size_t chunk) : text_(std::move(text)), chunk_(chunk) {}

 protected:
  int_type underflow() override {
    if (chunk_ == 0) {
      return at_ < text_.size() ? traits_type::to_int_type(text_[at_]) : traits_type::eof();
    }
    at_ += static_cast<std::size_t>(gptr() - eback());
    if (at_ >= text_.size()) {
      return traits_type::eof();
    }
    char* const first = &text_[at_];
    setg(first, first, first + std::min(chunk_, text_.size() - at_));
    return traits_type::to_int_type(*first);
  }
  int_type uflow() override {
    if (chunk_ != 0) {
      return std::streambuf::uflow();
    }
    return at_ < text_.size() ? traits_type::to_int_type(text_[at_++]) : traits_type::eof();
  }

 private:
  std::string text_;
  std::size_t chunk_;
  std::size_t at_ = 0;
};

// What reading `text` with >> into a number of 200 digits gives, token by
// token: each value or "fail" (then one character is skipped), and the
// stream's end.
template <typename number = fixedfloat>
std::vector<std::string> tokens_read(std::istream& in) {
  std::vector<std::string> read;
  number value(200);
  while (in.good()) {
    if (in >> value) {
      read.push_back(value.asstring() + (in.eof() ? " at the end" : ""));
    } else if (!in.eof()) {
      read.emplace_back("fail");
      in.clear();
      in.get();
    }
  }
  return read;
}

TEST_F(Conversions, StreamsReadTheSameTokensThroughBuffersOfEveryShape) {
  std::mt19937_64 random(20261208);
  const std::string pieces[] = {"-", "+", ".", "0", "7", " ", "x", "\n", "123456789", "-.5"};
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const auto count = 1 + random() % 40;
    for (std::uint64_t i = 0; i < count; ++i) {
      text += pieces[random() % std::size(pieces)];
    }
    if (round % 10 == 0) {
      text += " " + random_digit_source(random, 150) + ".25";  // past the 64 characters kept in place
    }
    std::istringstream whole(text);
    const std::vector<std::string> expected = tokens_read(whole);
    std::istringstream integers(text);
    const std::vector<std::string> expected_integers = tokens_read<fixedint>(integers);
    for (const std::size_t chunk : {0, 1, 2, 3, 7, 64}) {
      chunked_buffer buffer(text, chunk);
      std::istream in(&buffer);
      EXPECT_EQ(tokens_read(in), expected) << "text \"" << text << "\" in pieces of " << chunk;
      chunked_buffer again(text, chunk);
      std::istream integer_in(&again);
      EXPECT_EQ(tokens_read<fixedint>(integer_in), expected_integers)
          << "text \"" << text << "\" in pieces of " << chunk << ", into a fixedint";
    }
  }
  // The values themselves, through one character at a time.
  chunked_buffer buffer("5-3 +1.5.2 -.25", 0);
  std::istream in(&buffer);
  EXPECT_EQ(tokens_read(in), (std::vector<std::string>{"5.0", "-3.0", "1.5", "0.2", "-0.25 at the end"}));
}

TEST_F(Conversions, ElementsWrittenDirectlyCountWithTheirValues) {
  fixedint number(4);
  number.digits = {-3, 2, 0, 0};  // -3 + 2 * 10
  EXPECT_EQ(number.todouble(), 17.0);
  EXPECT_EQ(number.tointeger<long long>(), 17);
}

TEST_F(Conversions, NegativeZeroOfLengthZeroIsMinusZero) {
  fixedint empty(0);
  empty.negative = true;
  EXPECT_EQ(empty.todouble(), 0.0);
  EXPECT_TRUE(std::signbit(empty.todouble()));
  fixedfloat nothing(0);
  nothing.negative = true;
  EXPECT_TRUE(std::signbit(nothing.todouble()));
}

TEST_F(Conversions, ToFixedKeepsExactlyTheDigitsAskedFor) {
  fixedfloat number(8);
  number = "2.5";
  EXPECT_EQ(number.tofixed(2), "2.50");
  number = "2.345";
  EXPECT_EQ(number.tofixed(2), "2.34");
  EXPECT_EQ(number.tofixed(2, rounding::up), "2.35");
  number = 0;
  EXPECT_EQ(number.tofixed(0), "0");
  number = "9999.999";
  EXPECT_EQ(number.tofixed(2), "10000.00");
  // Past the number's own fraction digits the exact value takes zeros.
  EXPECT_EQ(number.tofixed(5), "9999.99900");
  number = "-2.5";
  EXPECT_EQ(number.tofixed(7), "-2.5000000");
  fixedfloat whole(0);
  EXPECT_EQ(whole.tofixed(0), "0");
  EXPECT_EQ(whole.tofixed(2), "0.00");
}

TEST_F(Conversions, ToFixedRoundsTowardTheInfinitiesBySign) {
  fixedfloat number(8);
  number = "-2.345";
  EXPECT_EQ(number.tofixed(2, rounding::ceiling), "-2.34");
  EXPECT_EQ(number.tofixed(2, rounding::floor), "-2.35");
  number = "2.345";
  EXPECT_EQ(number.tofixed(2, rounding::ceiling), "2.35");
  EXPECT_EQ(number.tofixed(2, rounding::floor), "2.34");
}

}  // namespace
