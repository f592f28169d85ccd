// The fuzz target's reference arithmetic: digit vectors, least significant
// digit first, one digit 0 to 9 per element, worked the plain schoolbook way
// (products by long multiplication on base 10^9 limbs), and the reading of
// decimal text. It knows nothing of the library beyond the digit layout.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reference {

using digit_vector = std::vector<signed char>;

inline bool all_digits(const digit_vector& digits) {
  return std::all_of(digits.begin(), digits.end(), [](signed char d) { return d >= 0 && d <= 9; });
}

inline bool is_zero(const digit_vector& digits) {
  return std::all_of(digits.begin(), digits.end(), [](signed char d) { return d == 0; });
}

// The digits above the most significant non-zero one dropped.
inline digit_vector significant(digit_vector digits) {
  const auto top = std::find_if(digits.rbegin(), digits.rend(), [](signed char d) { return d != 0; });
  digits.erase(top.base(), digits.end());
  return digits;
}

// -1, 0 or 1 as the magnitude `a` is below, equal to or above `b`; the two
// may have different lengths.
inline int compare(const digit_vector& a, const digit_vector& b) {
  const digit_vector x = significant(a);
  const digit_vector y = significant(b);
  if (x.size() != y.size()) {
    return x.size() < y.size() ? -1 : 1;
  }
  const auto differ = std::mismatch(x.rbegin(), x.rend(), y.rbegin());
  if (differ.first == x.rend()) {
    return 0;
  }
  return *differ.first < *differ.second ? -1 : 1;
}

// The low `length` digits of `digits`, with zeros on top where it is shorter.
inline digit_vector resized(digit_vector digits, std::size_t length) {
  digits.resize(length, 0);
  return digits;
}

// Elements [first, first + count) of `digits`, zeros past its end.
inline digit_vector slice(const digit_vector& digits, std::size_t first, std::size_t count) {
  digit_vector part(count, 0);
  for (std::size_t i = 0; i < count && first + i < digits.size(); ++i) {
    part[i] = digits[first + i];
  }
  return part;
}

// a + b at a's length (b no longer); `carry` tells whether the sum left the top digit.
inline digit_vector add(const digit_vector& a, const digit_vector& b, bool& carry) {
  digit_vector sum(a.size());
  int c = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const int s = a[i] + (i < b.size() ? b[i] : 0) + c;
    sum[i] = static_cast<signed char>(s % 10);
    c = s / 10;
  }
  carry = c != 0;
  return sum;
}

// a - b at a's length, for a magnitude `a` not below `b`.
inline digit_vector subtract(const digit_vector& a, const digit_vector& b) {
  digit_vector difference(a.size());
  int borrow = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    int d = a[i] - (i < b.size() ? b[i] : 0) - borrow;
    borrow = d < 0 ? 1 : 0;
    difference[i] = static_cast<signed char>(d + 10 * borrow);
  }
  return difference;
}

// Nine digits to a limb, base 10^9, least significant limb first.
using limb_vector = std::vector<std::uint64_t>;
constexpr std::uint64_t limbbase = 1000000000;

inline limb_vector to_limbs(const digit_vector& digits) {
  limb_vector limbs((digits.size() + 8) / 9, 0);
  for (std::size_t i = digits.size(); i-- > 0;) {
    limbs[i / 9] = limbs[i / 9] * 10 + static_cast<std::uint64_t>(digits[i]);
  }
  return limbs;
}

// The whole product a * b, a.size() + b.size() digits, by long
// multiplication on limbs: one row per limb of `a`, the carry taken along.
inline digit_vector multiply(const digit_vector& a, const digit_vector& b) {
  const limb_vector x = to_limbs(a);
  const limb_vector y = to_limbs(b);
  limb_vector product(x.size() + y.size() + 1, 0);
  for (std::size_t i = 0; i < x.size(); ++i) {
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < y.size(); ++j) {
      const std::uint64_t t = product[i + j] + x[i] * y[j] + carry;  // below 10^18 + 2 * 10^9
      product[i + j] = t % limbbase;
      carry = t / limbbase;
    }
    product[i + y.size()] = carry;
  }
  digit_vector digits(a.size() + b.size());
  for (std::size_t k = 0; k < digits.size(); ++k) {
    std::uint64_t& limb = product[k / 9];
    digits[k] = static_cast<signed char>(limb % 10);
    limb /= 10;
  }
  return digits;
}

// A signed number: a sign flag and a magnitude.
struct signed_number {
  bool negative = false;
  digit_vector magnitude;
};

// x + y at x's length with the signs respected: the magnitude of the exact sum
// modulo 10^length, the sign of the operand of larger magnitude (a zero
// difference is positive), and whether the sum left the top digit.
inline signed_number signed_sum(const signed_number& x, const signed_number& y, bool& carry) {
  carry = false;
  if (x.negative == y.negative) {
    return {x.negative, add(x.magnitude, y.magnitude, carry)};
  }
  const int order = compare(x.magnitude, y.magnitude);
  if (order >= 0) {
    return {x.negative && order > 0, subtract(x.magnitude, y.magnitude)};
  }
  return {y.negative, subtract(resized(y.magnitude, x.magnitude.size()), x.magnitude)};
}

// The magnitude as text without leading zeros: "0" for zero, "" for no digits.
inline std::string text(const digit_vector& digits) {
  const digit_vector kept = significant(digits);
  if (kept.empty()) {
    return digits.empty() ? "" : "0";
  }
  std::string out(kept.size(), '0');
  std::transform(kept.rbegin(), kept.rend(), out.begin(), [](signed char d) { return static_cast<char>('0' + d); });
  return out;
}

// The text of a fixed-point magnitude whose low `half` digits are the fraction:
// the integer part without leading zeros, the fraction without trailing zeros,
// at least one digit each.
inline std::string fixed_text(bool negative, const digit_vector& digits, std::size_t half) {
  const std::string integer = text(slice(digits, half, digits.size() - half));
  std::string fraction = text(slice(digits, 0, half));
  fraction.insert(0, half - std::min(half, fraction.size()), '0');
  fraction.erase(fraction.find_last_not_of('0') + 1);
  return (negative ? "-" : "") + (integer.empty() ? "0" : integer) + "." + (fraction.empty() ? "0" : fraction);
}

// The decimal number a text or a float stands for: its sign, its integer
// digits without leading zeros and its fraction without trailing zeros.
struct decimal_parts {
  bool minus = false;
  std::string integer;
  std::string fraction;
};

// An optional sign, digits and, where `point` allows, one point among them,
// with one digit at least: none for any other text.
inline std::optional<decimal_parts> parse_decimal(const std::string& text, bool point) {
  decimal_parts parts;
  std::size_t i = 0;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    parts.minus = text[0] == '-';
    i = 1;
  }
  bool seen_point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      (seen_point ? parts.fraction : parts.integer) += text[i];
    } else if (text[i] == '.' && point && !seen_point) {
      seen_point = true;
    } else {
      return std::nullopt;
    }
  }
  if (parts.integer.empty() && parts.fraction.empty()) {
    return std::nullopt;
  }
  parts.integer.erase(0, parts.integer.find_first_not_of('0'));
  parts.fraction.erase(parts.fraction.find_last_not_of('0') + 1);
  return parts;
}

// The digits of decimal text, least significant first, at `length` digits
// (no fewer than the text has).
inline digit_vector digits_of_text(const std::string& text, std::size_t length) {
  digit_vector digits(length, 0);
  std::transform(text.rbegin(), text.rend(), digits.begin(), [](char c) { return static_cast<signed char>(c - '0'); });
  return digits;
}

}  // namespace reference
