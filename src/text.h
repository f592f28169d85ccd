// Decimal text in and out of digit vectors, internal to the library: the
// text asstring() gives, written into a caller's buffer without allocating
// and without log lines, the longest decimal prefix of a text, and the
// conversion to double, which goes through the text.
#pragma once

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <istream>
#include <limits>
#include <streambuf>
#include <string>
#include <string_view>
#include <system_error>

#include <veldar/rounding.h>

#include "digits.h"

namespace VELDAR::detail {

// Writing. Each returns the end of what it wrote, or nullptr when
// [first, last) is too short; the digits must be 0 to 9.

// A fixedint's text: "-42", "0", "-0", "" at length 0.
char* write_integer_text(const digit_vector& digits, bool negative, char* first, char* last);
// A fixed-point number's text, `half` fraction digits held in `digits`:
// "-2.5", "0.0". `valuenegative` is the value's own sign flag, which only
// writing the fields sets, and which the text shows after the number's:
// "--2.5".
char* write_fixed_text(const digit_vector& digits, std::size_t half, bool negative, bool valuenegative, char* first,
                       char* last);
// The number with exactly `places` of its `half` fraction digits, rounded by
// `mode` for the sign `negative`, the integer part as long as it comes:
// 2.345 with 2 -> "2.34" (halfeven), 9999.999 with 2 -> "10000.00".
char* write_fixed_places(const digit_vector& digits, std::size_t half, bool negative, std::size_t places, rounding mode,
                         char* first, char* last);

// Reading.

// The length of the longest prefix of `text` that is a decimal number: an
// optional sign, digits, and, when `point` allows it, a "." and digits, with
// at least one digit in all; its parts, as split_decimal() gives them, go
// into `parts`. 0 when there is none: "12abc" -> 2, "-.5e" -> 3.
std::size_t decimal_prefix(std::string_view text, bool point, decimal_text& parts);

// One decimal token from `in`: the characters that continue a decimal
// prefix (a sign first, digits, and one "." when `point` allows it), read up
// to the first that does not, into `room` while they fit it and into
// `longer` past that. Returns the token's text.
std::string_view read_decimal_token(std::istream& in, bool point, std::array<char, 64>& room, std::string& longer);

// Where a decimal token read as read_decimal_token() reads it ends in
// [first, last): "12.5x" -> before "x", "5-3" -> before "-", "1.2.3" -> before
// the second ".". `last` when the token may go on past it.
const char* decimal_token_end(const char* first, const char* last, bool point) noexcept;

// The characters a stream buffer holds ready to be read, without a call of
// its own: [next(b), end(b)), of which skip(b, n) takes n. Empty for a
// buffer that holds none (an unbuffered one, or one whose get area is used up).
struct get_area : std::streambuf {
  static const char* next(std::streambuf& buffer) noexcept { return (buffer.*&get_area::gptr)(); }
  static const char* end(std::streambuf& buffer) noexcept { return (buffer.*&get_area::egptr)(); }
  static void skip(std::streambuf& buffer, int count) noexcept { (buffer.*&get_area::gbump)(count); }
};

// The two ways text becomes a number, for each class to give the last step
// of: `assign(parts)` sets the number to the decimal text `parts` (as
// decimal_prefix() splits it) and gives std::errc{}, or gives
// std::errc::result_out_of_range, changing nothing, when it does not fit.

// from_chars(): the longest decimal prefix of [first, last).
template <typename assigner>
std::from_chars_result read_chars(const char* first, const char* last, bool point, assigner assign) {
  decimal_text parts;
  const std::size_t size = decimal_prefix({first, static_cast<std::size_t>(last - first)}, point, parts);
  if (size == 0) {
    return {first, std::errc::invalid_argument};
  }
  return {first + size, assign(parts)};
}

// operator>>: after whitespace, the token read_decimal_token() gives;
// failbit, and the number as it was, when it is no number of the class or
// does not fit.
template <typename assigner>
std::istream& read_number(std::istream& in, bool point, assigner assign) {
  const std::istream::sentry ready(in);
  if (!ready) {
    return in;
  }
  // A token that ends within the characters the buffer holds is read where
  // it lies: one with a digit is the longest decimal prefix of those
  // characters, one without is no number. A token that may run on past
  // them is read character by character.
  std::streambuf& buffer = *in.rdbuf();
  const char* const first = get_area::next(buffer);
  const char* const last = get_area::end(buffer);
  decimal_text parts;
  const std::size_t size = decimal_prefix({first, static_cast<std::size_t>(last - first)}, point, parts);
  const char* const end = size != 0 ? first + size : decimal_token_end(first, last, point);
  if (end != last && end - first <= std::numeric_limits<int>::max()) {
    const std::errc error = size != 0 ? assign(parts) : std::errc::invalid_argument;
    get_area::skip(buffer, static_cast<int>(end - first));
    if (error != std::errc{}) {
      in.setstate(std::ios::failbit);
    }
    return in;
  }
  std::array<char, 64> room;  // written before it is read
  std::string longer;
  const std::string_view token = read_decimal_token(in, point, room, longer);
  const auto [parsed, error] = read_chars(token.data(), token.data() + token.size(), point, assign);
  if (error != std::errc{} || parsed != token.data() + token.size()) {
    in.setstate(std::ios::failbit);
  }
  return in;
}

// to_chars() of a number: the text write(first, last) gives where its
// digits are `in_range`, else asstring()'s, which prints elements outside 0
// to 9 (only from writing the fields) its own way.
template <typename number, typename writer>
std::to_chars_result number_to_chars(char* first, char* last, const number& value, bool in_range, writer write) {
  char* end = nullptr;
  if (in_range) {
    end = write(first, last);
  } else {
    const std::string text = value.asstring();
    end = static_cast<std::size_t>(last - first) < text.size() ? nullptr : std::copy(text.begin(), text.end(), first);
  }
  return end == nullptr ? std::to_chars_result{last, std::errc::value_too_large}
                        : std::to_chars_result{end, std::errc{}};
}

// The shortest text that reads back as the finite `x`, the digits plain
// std::to_chars gives, placed by their exponent in fixed notation: 1e23 ->
// "100000000000000000000000" (not its binary value 99999999999999991611392),
// 2.5e-3 -> "0.0025", -0.0 -> "-0". Every double fits the buffer.
using float_text = std::array<char, 400>;
std::string_view shortest_fixed_text(double x, float_text& buffer);
std::string_view shortest_fixed_text(float x, float_text& buffer);

// Conversion.

// The double nearest to the value, correctly rounded; an infinity of the
// sign past the double range, a zero of the sign below it.
double to_double(const digit_vector& digits, std::size_t half, bool negative);

}  // namespace VELDAR::detail
