#include "text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

#include "platform.h"

namespace VELDAR::detail {

namespace {

char to_char(signed char digit) { return static_cast<char>('0' + digit); }

// How many of the characters [first, last) are digits '0' to '9' before the
// first that is not: "81644.32" -> 5. Eight at a time where eight are left:
// less '0' each, a lane is a digit when is_digit_word() would pass it. A lane
// below '0' borrows from the lane above, and one above '9' may carry into
// it, but only lanes that fail themselves do either, so the lowest lane that
// fails is the first character that is no digit.
std::size_t leading_digits(const char* first, const char* last) noexcept {
  const char* at = first;
  if constexpr (little_endian) {
    for (; last - at >= 8; at += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, at, sizeof word);
      word -= byte_lanes('0');
      const std::uint64_t failed = (word | (word + byte_lanes(0x76))) & byte_lanes(0x80);
      if (failed != 0) {
        return static_cast<std::size_t>(at - first) + static_cast<std::size_t>(__builtin_ctzll(failed)) / 8;
      }
    }
  }
  return static_cast<std::size_t>(std::find_if(at, last, [](char c) { return c < '0' || c > '9'; }) - first);
}

// Writes digits[from, to) most significant first; nullptr when they do not fit.
char* put_digits(const digit_vector& digits, std::size_t from, std::size_t to, char* first, char* last) {
  if (static_cast<std::size_t>(last - first) < to - from) {
    return nullptr;
  }
  return std::transform(digits.rbegin() + static_cast<std::ptrdiff_t>(digits.size() - to),
                        digits.rbegin() + static_cast<std::ptrdiff_t>(digits.size() - from), first, to_char);
}

char* put(std::string_view text, char* first, char* last) {
  if (first == nullptr || static_cast<std::size_t>(last - first) < text.size()) {
    return nullptr;
  }
  return std::copy(text.begin(), text.end(), first);
}

// The significant digits of digits[from, to) with at least one, most significant first.
char* put_magnitude(const digit_vector& digits, std::size_t from, std::size_t to, char* first, char* last) {
  if (first == nullptr) {
    return nullptr;
  }
  std::size_t top = to;
  while (top > from + 1 && digits[top - 1] == 0) {
    --top;
  }
  return top == from ? put("0", first, last) : put_digits(digits, from, top, first, last);
}

// The fraction digits[0, half) without trailing zeros, "0" when all are zeros.
char* put_fraction(const digit_vector& digits, std::size_t half, char* first, char* last) {
  const auto lowest = std::find_if(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(half),
                                   [](signed char d) { return d != 0; });
  const auto from = static_cast<std::size_t>(lowest - digits.begin());
  return from == half ? put("0", first, last) : put_digits(digits, from, half, first, last);
}

// std::to_chars' shortest digits of `x` in scientific notation, "-1.5e+23",
// written out in fixed notation.
template <typename floating>
std::string_view fixed_from_scientific(floating x, float_text& buffer) {
  std::array<char, 64> scientific{};
  const auto written =
      std::to_chars(scientific.data(), scientific.data() + scientific.size(), x, std::chars_format::scientific);
  std::string_view text(scientific.data(), static_cast<std::size_t>(written.ptr - scientific.data()));
  char* out = buffer.data();
  if (text.front() == '-') {
    *out++ = '-';
    text.remove_prefix(1);
  }
  const std::size_t e = text.find('e');
  // The digits d1 d2 ... dk of d1.d2...dk, and the exponent of d1.
  std::array<char, 64> digits{};
  char* const digits_end = std::copy_if(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(e), digits.begin(),
                                        [](char c) { return c != '.'; });
  const auto count = static_cast<long>(digits_end - digits.data());
  std::string_view exponent_text = text.substr(e + 1);
  if (exponent_text.front() == '+') {
    exponent_text.remove_prefix(1);
  }
  long exponent = 0;
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);
  if (exponent < 0) {
    // 0.000ddd: the point, -exponent - 1 zeros, the digits.
    out = std::copy_n("0.", 2, out);
    out = std::fill_n(out, -exponent - 1, '0');
    out = std::copy(digits.data(), digits_end, out);
  } else if (exponent + 1 >= count) {
    // ddd000: every digit before the point.
    out = std::copy(digits.data(), digits_end, out);
    out = std::fill_n(out, exponent + 1 - count, '0');
  } else {
    out = std::copy_n(digits.data(), exponent + 1, out);
    *out++ = '.';
    out = std::copy(digits.data() + exponent + 1, digits_end, out);
  }
  return {buffer.data(), static_cast<std::size_t>(out - buffer.data())};
}

}  // namespace

std::string_view shortest_fixed_text(double x, float_text& buffer) { return fixed_from_scientific(x, buffer); }

std::string_view shortest_fixed_text(float x, float_text& buffer) { return fixed_from_scientific(x, buffer); }

char* write_integer_text(const digit_vector& digits, bool negative, char* first, char* last) {
  char* out = negative ? put("-", first, last) : first;
  return digits.empty() ? out : put_magnitude(digits, 0, digits.size(), out, last);
}

char* write_fixed_text(const digit_vector& digits, std::size_t half, bool negative, bool valuenegative, char* first,
                       char* last) {
  char* out = negative ? put("-", first, last) : first;
  out = valuenegative ? put("-", out, last) : out;
  out = put_magnitude(digits, half, digits.size(), out, last);
  out = put(".", out, last);
  return out == nullptr ? nullptr : put_fraction(digits, half, out, last);
}

char* write_fixed_places(const digit_vector& digits, std::size_t half, bool negative, std::size_t places, rounding mode,
                         char* first, char* last) {
  digit_vector rounded(digits);
  rounded.push_back(0);  // room for a carry out of the integer part
  round_down_places(rounded, half - places, mode, negative);
  char* out = negative ? put("-", first, last) : first;
  out = put_magnitude(rounded, places, rounded.size(), out, last);
  if (places == 0 || out == nullptr) {
    return out;
  }
  out = put(".", out, last);
  return out == nullptr ? nullptr : put_digits(rounded, 0, places, out, last);
}

std::size_t decimal_prefix(std::string_view text, bool point, decimal_text& parts) {
  const char* const end = text.data() + text.size();
  const bool signed_text = !text.empty() && (text[0] == '-' || text[0] == '+');
  const std::size_t integer = signed_text ? 1 : 0;
  std::size_t i = integer + leading_digits(text.data() + integer, end);
  const std::size_t integer_end = i;
  std::size_t fraction = i;
  std::size_t fraction_end = i;
  if (point && i < text.size() && text[i] == '.') {
    const std::size_t j = i + 1 + leading_digits(text.data() + i + 1, end);
    if (integer_end - integer + (j - i - 1) > 0) {  // "5." and ".5" are numbers, "." is not
      fraction = i + 1;
      fraction_end = j;
      i = j;
    }
  }
  if (integer_end == integer && fraction_end == fraction) {
    return 0;
  }
  // Leading zeros of the integer part and trailing zeros of the fraction off.
  std::size_t first = integer;
  while (first < integer_end && text[first] == '0') {
    ++first;
  }
  while (fraction_end > fraction && text[fraction_end - 1] == '0') {
    --fraction_end;
  }
  parts.minus = signed_text && text[0] == '-';
  parts.integer = text.substr(first, integer_end - first);
  parts.fraction = text.substr(fraction, fraction_end - fraction);
  return i;
}

std::string_view read_decimal_token(std::istream& in, bool point, std::array<char, 64>& room, std::string& longer) {
  // From the stream's buffer, as the stream's own extractors read: peek()
  // and get() would each make a sentry.
  using traits = std::istream::traits_type;
  std::streambuf* const buffer = in.rdbuf();
  std::size_t size = 0;
  bool dot = !point;  // a point is taken once, where points are taken at all
  const auto keep = [&](char next) {
    if (size < room.size()) {
      room[size] = next;
    } else {
      if (size == room.size()) {
        longer.assign(room.data(), room.size());
      }
      longer.push_back(next);
    }
    ++size;
  };
  auto c = buffer->sgetc();
  if (!traits::eq_int_type(c, traits::eof()) && (traits::to_char_type(c) == '-' || traits::to_char_type(c) == '+')) {
    keep(traits::to_char_type(c));
    c = buffer->snextc();
  }
  for (; !traits::eq_int_type(c, traits::eof()); c = buffer->snextc()) {
    const char next = traits::to_char_type(c);
    if (next >= '0' && next <= '9') {
      keep(next);
    } else if (next == '.' && !dot) {
      dot = true;
      keep(next);
    } else {
      break;
    }
  }
  if (traits::eq_int_type(c, traits::eof())) {
    in.setstate(std::ios::eofbit);
  }
  return size <= room.size() ? std::string_view(room.data(), size) : std::string_view(longer);
}

const char* decimal_token_end(const char* first, const char* last, bool point) noexcept {
  const char* at = first;
  if (at != last && (*at == '-' || *at == '+')) {
    ++at;
  }
  at += leading_digits(at, last);
  if (point && at != last && *at == '.') {
    ++at;
    at += leading_digits(at, last);
  }
  return at;
}

double to_double(const digit_vector& digits, std::size_t half, bool negative) {
  // A sign, a point, a zero on either side of it at most: "-0.0" for no digits.
  std::string text(digits.size() + 4, '\0');
  char* const end = write_fixed_text(digits, half, negative, false, text.data(), text.data() + text.size());
  double value = 0;
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (error == std::errc::result_out_of_range) {
    // Past the double range, or a fraction below its smallest number.
    const bool huge = significant_count(digits) > half;
    value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    value = negative ? -value : value;
  }
  static_cast<void>(ptr);
  return value;
}

}  // namespace VELDAR::detail
