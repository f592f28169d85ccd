#include "digits.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string_view>

#include "limbs.h"
#include "platform.h"

namespace VELDAR::detail {

std::size_t significant_count(const digit_vector& digits) {
  // Eight elements at a time down to a word that is not all zeros.
  std::size_t count = digits.size();
  for (std::uint64_t w = 0; count >= 8; count -= 8) {
    std::memcpy(&w, digits.data() + count - 8, 8);
    if (w != 0) {
      break;
    }
  }
  while (count > 0 && digits[count - 1] == 0) {
    --count;
  }
  return count;
}

digit_vector shortened_digits(const digit_vector& digits) {
  return {digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(significant_count(digits))};
}

bool digits_in_range(const signed char* digits, std::size_t count) {
  // Eight elements at a time where they read as one little-endian word.
  std::size_t i = 0;
  if constexpr (little_endian) {
    for (; i + 8 <= count; i += 8) {
      std::uint64_t w = 0;
      std::memcpy(&w, digits + i, 8);
      if (!is_digit_word(w)) {
        return false;
      }
    }
  }
  return std::all_of(digits + i, digits + count, [](signed char d) { return d >= 0 && d <= 9; });
}

bool digits_in_range(const digit_vector& digits) { return digits_in_range(digits.data(), digits.size()); }

int compare_magnitudes(const digit_vector& a, const digit_vector& b) {
  const std::size_t count_a = significant_count(a);
  const std::size_t count_b = significant_count(b);
  if (count_a != count_b) {
    return count_a < count_b ? -1 : 1;
  }
  const auto differ = std::mismatch(a.rend() - static_cast<std::ptrdiff_t>(count_a), a.rend(),
                                    b.rend() - static_cast<std::ptrdiff_t>(count_b));
  if (differ.first == a.rend()) {
    return 0;
  }
  return *differ.first < *differ.second ? -1 : 1;
}

bool small_word(const digit_vector& digits, unsigned long long& value) {
  const std::size_t count = digits.size();
  if constexpr (little_endian) {
    if (count <= 8) {
      // The digits in one word, zeros above them: one test and one sum.
      std::uint64_t w = 0;
      if (count == 8) {
        std::memcpy(&w, digits.data(), 8);
      } else {
        for (std::size_t i = 0; i < count; ++i) {
          w |= std::uint64_t{static_cast<unsigned char>(digits[i])} << (8 * i);
        }
      }
      value = eight_digits(w);
      return is_digit_word(w);
    }
  }
  if (count > word_width) {
    return false;
  }
  // Tested and summed in one pass, eight digits at a time, the most
  // significant first: the quotients of 16 by 8 digits read their operands
  // here, and a separate test and conversion cost them a sixth of their time.
  unsigned long long result = 0;
  std::size_t i = count;
  if constexpr (little_endian) {
    for (; i >= 8; i -= 8) {
      std::uint64_t w = 0;
      std::memcpy(&w, digits.data() + i - 8, 8);
      if (!is_digit_word(w)) {
        return false;
      }
      result = result * 100000000ULL + eight_digits(w);
    }
  }
  // The rest one at a time; an element that is no digit makes the value
  // meaningless, in unsigned arithmetic that may wrap.
  bool digits_only = true;
  for (; i > 0; --i) {
    const auto d = static_cast<unsigned char>(digits[i - 1]);
    digits_only = digits_only && d <= 9;
    result = result * 10 + d;
  }
  value = result;
  return digits_only;
}

bool to_rounded_word(const digit_vector& digits, std::size_t half, bool negative, rounding mode,
                     unsigned long long& magnitude) {
  digit_vector rounded(digits);
  rounded.push_back(0);  // room for a carry out of the integer part
  round_down_places(rounded, half, mode, negative);
  return checked_word_of_digits(rounded.data(), rounded.size(), magnitude);
}

void put_small_word(unsigned long long value, digit_vector& digits) {
  // Eight digits at a time into the lanes of one word: its two halves of
  // four digits, their pairs, then the pairs' digits, by multiplications that
  // divide exactly in the range of each lane (n / 100 == n * 5243 >> 19 for
  // n < 43699, n / 10 == n * 103 >> 10 for n < 179).
  signed char* out = digits.data();
  std::size_t count = digits.size();
  while (count > 0) {
    const unsigned long long eight = count <= 8 ? value : value % 100000000ULL;  // below 10^8 already, or not
    value = count <= 8 ? 0 : value / 100000000ULL;
    std::uint64_t lanes = (eight % 10000) | ((eight / 10000) << 32U);
    const std::uint64_t hundreds = ((lanes * 5243) >> 19U) & 0x0000007F0000007FULL;
    lanes = (lanes - hundreds * 100) | (hundreds << 16U);
    const std::uint64_t tens = ((lanes * 103) >> 10U) & 0x000F000F000F000FULL;
    lanes = (lanes - tens * 10) | (tens << 8U);
    const std::size_t here = std::min<std::size_t>(count, 8);
    if (here == 8 && little_endian) {
      std::memcpy(out, &lanes, 8);
    } else {
      for (std::size_t i = 0; i < here; ++i) {
        out[i] = static_cast<signed char>((lanes >> (8 * i)) & 0xFFU);
      }
    }
    out += here;
    count -= here;
  }
}

void shift_up(digit_vector& digits, std::size_t places) {
  const auto shift = static_cast<std::ptrdiff_t>(std::min(places, digits.size()));
  std::copy_backward(digits.begin(), digits.end() - shift, digits.end());
  std::fill(digits.begin(), digits.begin() + shift, 0);
}

void shift_down(digit_vector& digits, std::size_t places) {
  const auto shift = static_cast<std::ptrdiff_t>(std::min(places, digits.size()));
  std::fill(std::copy(digits.begin() + shift, digits.end(), digits.begin()), digits.end(), 0);
}

bool is_digit_text(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void place_digits(digit_vector& digits, std::string_view text, std::size_t lowest) {
  std::transform(text.rbegin(), text.rend(), digits.begin() + static_cast<std::ptrdiff_t>(lowest),
                 [](char c) { return static_cast<signed char>(c - '0'); });
}

std::optional<decimal_text> split_decimal(std::string_view text, bool point) {
  decimal_text parts;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    parts.minus = text.front() == '-';
    text.remove_prefix(1);
  }
  const std::size_t dot = point ? text.find('.') : std::string_view::npos;
  parts.integer = text.substr(0, dot);
  parts.fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  if (parts.integer.size() + parts.fraction.size() == 0 || !is_digit_text(parts.integer) ||
      !is_digit_text(parts.fraction)) {
    return std::nullopt;
  }
  parts.integer.remove_prefix(std::min(parts.integer.find_first_not_of('0'), parts.integer.size()));
  const std::size_t last_digit = parts.fraction.find_last_not_of('0');
  parts.fraction = parts.fraction.substr(0, last_digit == std::string_view::npos ? 0 : last_digit + 1);
  return parts;
}

void normalise_digits(digit_vector& digits) {
  int carry = 0;
  for (signed char& d : digits) {
    const int value = d + carry;
    carry = (value >= 0 ? value : value - 9) / 10;  // rounded toward minus infinity
    d = static_cast<signed char>(value - 10 * carry);
  }
}

digit_vector normalised_copy(const digit_vector& digits, std::size_t length) {
  digit_vector copy(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(std::min(length, digits.size())));
  copy.resize(length);
  if (!digits_in_range(copy)) {
    normalise_digits(copy);
  }
  return copy;
}

void increment_digits(digit_vector& digits) {
  const auto first = std::find_if(digits.begin(), digits.end(), [](signed char d) { return d != 9; });
  std::fill(digits.begin(), first, 0);
  if (first != digits.end()) {
    ++*first;
  }
}

void negate_digits(digit_vector& digits) {
  const auto lowest = std::find_if(digits.begin(), digits.end(), [](signed char d) { return d != 0; });
  if (lowest == digits.end()) {
    return;
  }
  *lowest = static_cast<signed char>(10 - *lowest);
  std::transform(lowest + 1, digits.end(), lowest + 1, [](signed char d) { return static_cast<signed char>(9 - d); });
}

bool rounds_up(rounding mode, bool negative, int dropped, bool inexact, bool odd) {
  switch (mode) {
    case rounding::down:
      return false;
    case rounding::up:
      return inexact;
    case rounding::ceiling:
      return inexact && !negative;
    case rounding::floor:
      return inexact && negative;
    case rounding::halfup:
      return dropped >= 0;
    case rounding::halfdown:
      return dropped > 0;
    case rounding::halfeven:
      return dropped > 0 || (dropped == 0 && odd);
    case rounding::exact:
      if (inexact) {
        throw std::domain_error("Rounding necessary!");
      }
      return false;
  }
  return false;
}

void round_down_places(digit_vector& digits, std::size_t places, rounding mode, bool negative) {
  places = std::min(places, digits.size());
  if (places == 0) {
    return;
  }
  const auto cut = digits.begin() + static_cast<std::ptrdiff_t>(places);
  const bool rest = std::any_of(digits.begin(), cut - 1, [](signed char d) { return d != 0; });
  const int first = *(cut - 1);  // the first digit dropped
  const int dropped = first != 5 ? (first < 5 ? -1 : 1) : (rest ? 1 : 0);
  const bool odd = cut != digits.end() && *cut % 2 != 0;
  const bool up = rounds_up(mode, negative, dropped, first != 0 || rest, odd);
  shift_down(digits, places);
  if (up) {
    increment_digits(digits);
  }
}

std::size_t hash_digits(const digit_vector& digits, bool negative) {
  const std::string_view bytes(reinterpret_cast<const char*>(digits.data()), digits.size());
  return std::hash<std::string_view>{}(bytes) ^ (negative ? 0x9e3779b97f4a7c15U : 0U);
}

}  // namespace VELDAR::detail
