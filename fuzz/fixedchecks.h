// The fuzz target's checks of fixedfloat operations, and of the assignments
// between the two classes.
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>

#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>
#include "integerchecks.h"
#include "outcome.h"
#include "reference.h"

namespace veldar_fuzz {

// fixedfloat: construction, assignment and field writes.

inline void check_zero(const fixedfloat& p, unsigned long long length) {
  require(p.length == length && p.value.length == length && reference::is_zero(p.value.digits) &&
              p.value.digits.size() == length && p.issigned && !p.negative,
          "a new fixed-point zero");
}

inline void check_fixed_construction(float_slot& s, unsigned long long length) {
  current_operation = "fixedfloat(length)";
  std::optional<fixedfloat> made;
  const failure thrown = threw_documented([&] { made.emplace(length); });
  require(thrown == (length % 2 == 0 ? failure::none : failure::odd_length), "fixed-point construction");
  if (made) {
    check_zero(*made, length);
    store(s, std::move(*made), false);
  }
}

inline void check_init(float_slot& s, unsigned long long length) {
  current_operation = "fixedfloat init";
  const float_state before(*s.number);
  const failure thrown = threw_documented([&] { s.number->init(length); });
  if (length % 2 != 0) {
    require(thrown == failure::odd_length && before.same(*s.number), "init with an odd length");
    return;
  }
  require_no_failure(thrown, "init");
  check_zero(*s.number, length);
  settle(s, false);
}

// The failure an assignment of the decimal number `parts` (none: not a
// number) must throw at `half` digits a side. A number too long on both sides
// may be refused for either side.
inline bool expected_failure(const std::optional<decimal_parts>& parts, std::size_t half, failure thrown) {
  if (!parts) {
    return thrown == failure::not_decimal;
  }
  const bool integer_big = parts->integer.size() > half;
  const bool fraction_big = parts->fraction.size() > half;
  if (integer_big || fraction_big) {
    return (integer_big && thrown == failure::input_big) || (fraction_big && thrown == failure::fraction_big);
  }
  return thrown == failure::none;
}

// The outcome of assigning the decimal number `parts` (none: not a number).
inline void check_decimal(float_slot& s, const float_state& before, const std::optional<decimal_parts>& parts,
                          failure thrown) {
  fixedfloat& p = *s.number;
  const std::size_t half = before.length / 2;
  require(expected_failure(parts, half, thrown), "the failure of a fixed-point assignment");
  if (thrown != failure::none) {
    require(before.same(p), "a refused fixed-point assignment changed the number");
    return;
  }
  const bool zero = parts->integer.empty() && parts->fraction.empty();
  const std::string scaled = parts->integer + parts->fraction + std::string(half - parts->fraction.size(), '0');
  require(p.length == before.length && p.issigned == before.issigned && p.value.length == before.length,
          "a fixed-point assignment changed the length or issigned");
  require(p.negative == (parts->minus && !zero) && p.value.digits == digits_of_text(scaled, before.length),
          "fixed-point assignment against the reference");
  const std::string text = (p.negative ? "-" : "") + (parts->integer.empty() ? "0" : parts->integer) + "." +
                           (parts->fraction.empty() ? "0" : parts->fraction);
  require(p.asstring() == text, "the text of an assigned fixed-point number");
  settle(s, false);
}

// The float's shortest round-trip text in plain decimal notation, which is
// what the assignment keeps: the digits of the shortest scientific text,
// their point moved by its exponent (3e10f -> "30000000000"). The shortest
// fixed text of std::to_chars is not it: from 2^24 up the binary value's
// digits (30000001024) are as short as the shortest digits padded with
// zeros, and to_chars takes the nearer of the two, the binary value.
inline std::string shortest_plain_text(float x) {
  std::array<char, 64> buffer{};
  const auto converted = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x, std::chars_format::scientific);
  require(converted.ec == std::errc(), "harness: float text");
  std::string text(buffer.data(), converted.ptr);
  const bool minus = text[0] == '-';
  const std::size_t e = text.find('e');
  const long exponent = std::strtol(text.c_str() + e + 1, nullptr, 10);
  std::string digits;
  for (std::size_t i = minus ? 1 : 0; i < e; ++i) {
    if (text[i] != '.') {
      digits += text[i];
    }
  }
  // The point goes after the first `point` digits.
  const long point = exponent + 1;
  const auto count = static_cast<long>(digits.size());
  if (point <= 0) {
    text = "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (point >= count) {
    text = digits + std::string(static_cast<std::size_t>(point - count), '0');
  } else {
    text = digits.substr(0, static_cast<std::size_t>(point)) + "." + digits.substr(static_cast<std::size_t>(point));
  }
  return (minus ? "-" : "") + text;
}

inline void check_float_assignment(float_slot& s, float x) {
  current_operation = "fixedfloat = float";
  const float_state before(*s.number);
  const failure thrown = threw_documented([&] { *s.number = x; });
  if (std::isnan(x) || std::isinf(x)) {
    require(thrown == (std::isnan(x) ? failure::not_a_number : failure::input_big) && before.same(*s.number),
            "a float that is no number");
    return;
  }
  check_decimal(s, before, parse_decimal(shortest_plain_text(x), true), thrown);
  require(thrown != failure::none || std::strtof(s.number->asstring().c_str(), nullptr) == x,
          "an assigned float does not read back");
}

inline void check_fixed_text_assignment(float_slot& s, const std::string& text) {
  current_operation = "fixedfloat = text";
  const float_state before(*s.number);
  const failure thrown = threw_documented([&] { *s.number = text; });
  check_decimal(s, before, parse_decimal(text, true), thrown);
}

template <typename integer>
void check_fixed_integer_assignment(float_slot& s, integer value) {
  current_operation = "fixedfloat = integer";
  const float_state before(*s.number);
  const failure thrown = threw_documented([&] { *s.number = value; });
  check_decimal(s, before, parse_decimal(std::to_string(value), true), thrown);
}

inline void check_from_fixedint(float_slot& s, const int_slot& from) {
  current_operation = "fixedfloat = fixedint";
  fixedfloat& p = *s.number;
  const float_state before(p);
  const int_state v(*from.number);
  const failure thrown = threw_documented([&] { p = *from.number; });
  require(v.same(*from.number), "fixedfloat = fixedint changed the fixedint");
  const std::size_t half = before.length / 2;
  if (v.length < half) {
    require(thrown == failure::val_small && before.same(p), "a fixedint shorter than half the length");
    return;
  }
  require_no_failure(thrown, "fixedfloat = fixedint");
  require(p.length == before.length && p.issigned == before.issigned && p.negative == v.negative &&
              p.value.length == before.length,
          "fixedfloat = fixedint: the fields");
  digit_vector expected(half, 0);
  const digit_vector low = reference::slice(v.digits, 0, half);
  expected.insert(expected.end(), low.begin(), low.end());
  require(from.wild || p.value.digits == expected, "fixedfloat = fixedint: the value");
  settle(s, from.wild);
}

inline void check_int_from_fixed(int_slot& s, float_slot& from) {
  current_operation = "fixedint = fixedfloat";
  const float_state p(*from.number);
  const failure thrown = threw_documented([&] { *s.number = *from.number; });
  require(thrown == failure::none && p.same(*from.number), "fixedint = fixedfloat threw or changed the fixedfloat");
  const fixedint& n = *s.number;
  require(n.length == p.length && !n.negative && n.digits == reference::slice(p.value.digits, p.length / 2, p.length),
          "fixedint = fixedfloat: the integer part");
  settle(s, from.wild);
}

inline void set_fixed_flags(fixedfloat& p, std::uint8_t flags) {
  p.negative = (flags & 1U) != 0;
  p.issigned = (flags & 2U) == 0;
  p.value.throwonoverflow = (flags & 4U) != 0;
  p.value.issigned = (flags & 8U) == 0;
}

// fixedfloat arithmetic and comparison.

inline void check_fixed_result(const fixedfloat& result, unsigned long long length) {
  require(result.length == length && result.value.length == length && result.value.digits.size() == length &&
              !result.value.negative,
          "a fixed-point result's fields");
}

inline std::optional<fixedfloat> check_fixed_product(float_slot& left, float_slot& right) {
  current_operation = "fixedfloat *";
  fixedfloat& a = *left.number;
  fixedfloat& b = *right.number;
  const float_state x(a);
  const float_state y(b);
  std::optional<fixedfloat> result;
  const failure thrown = threw_documented([&] { result.emplace(a * b); });
  require(x.same(a) && y.same(b), "a fixed-point product changed an operand");
  if (x.length != y.length) {
    require(thrown == failure::sizes, "a fixed-point product of different lengths");
    return std::nullopt;
  }
  require_no_failure(thrown, "fixed-point product");
  check_fixed_result(*result, x.length);
  if (!left.wild && !right.wild) {
    const digit_vector product = reference::multiply(x.value.digits, y.value.digits);
    require(result->negative == (x.issigned && x.negative != y.negative), "fixed-point product sign");
    require(result->value.digits == reference::slice(product, x.length / 2, x.length), "fixed-point product value");
  }
  return result;
}

inline std::optional<fixedfloat> check_fixed_sum(float_slot& left, float_slot& right, bool subtract) {
  current_operation = subtract ? "fixedfloat -" : "fixedfloat +";
  fixedfloat& a = *left.number;
  fixedfloat& b = *right.number;
  const float_state x(a);
  const float_state y(b);
  std::optional<fixedfloat> result;
  const failure thrown = threw_documented([&] { result.emplace(subtract ? a - b : a + b); });
  require(x.same(a) && y.same(b), "a fixed-point sum changed an operand");
  if (x.length != y.length) {
    require(thrown == failure::sizes, "a fixed-point sum of different lengths");
    return std::nullopt;
  }
  if (thrown == failure::carry_over_9 && (left.wild || right.wild)) {
    return std::nullopt;  // documented for elements outside 0 to 9 written into the fields
  }
  require_no_failure(thrown, "fixed-point sum");
  check_fixed_result(*result, x.length);
  if (!left.wild && !right.wild) {
    bool carry = false;
    const reference::signed_number sum =
        reference::signed_sum({x.negative, x.value.digits}, {subtract != y.negative, y.value.digits}, carry);
    require(result->negative == (sum.negative && !reference::is_zero(sum.magnitude)) &&
                result->value.digits == sum.magnitude,
            "fixed-point sum against the reference");
  }
  return result;
}

// -1, 0 or 1 by value: 0.0 and -0.0 are equal.
inline int fixed_order(const fixedfloat& x, const fixedfloat& y) {
  const auto sign = [](const fixedfloat& n) { return reference::is_zero(n.value.digits) ? 0 : n.negative ? -1 : 1; };
  if (sign(x) != sign(y) || sign(x) == 0) {
    return sign(x) < sign(y) ? -1 : sign(x) > sign(y) ? 1 : 0;
  }
  return sign(x) * reference::compare(x.value.digits, y.value.digits);
}

inline void check_fixed_comparisons(float_slot& left, float_slot& right) {
  current_operation = "fixedfloat comparisons";
  fixedfloat& a = *left.number;
  fixedfloat& b = *right.number;
  const float_state x(a);
  const float_state y(b);
  std::array<bool, 6> results{};
  const failure thrown = threw_documented([&] { results = {a == b, a != b, a<b, a> b, a <= b, a >= b}; });
  const bool by_equal_to = std::equal_to<fixedfloat>{}(a, b);
  require(x.same(a) && y.same(b), "a fixed-point comparison changed an operand");
  if (x.length != y.length) {
    require(thrown == failure::sizes && !by_equal_to, "a fixed-point comparison of different lengths");
    return;
  }
  require_no_failure(thrown, "fixed-point comparison");
  const auto [equal, unequal, less, greater, less_equal, greater_equal] = results;
  require(equal + less + greater == 1, "not exactly one of ==, < and >");
  require(unequal == !equal && less_equal == (less || equal) && greater_equal == (greater || equal),
          "!=, <= or >= disagrees with ==, < and >");
  require(by_equal_to == equal, "equal_to disagrees with ==");
  require(!equal || std::hash<fixedfloat>{}(a) == std::hash<fixedfloat>{}(b),
          "equal fixed-point numbers hash differently");
  require(a == a && !(a < a), "a fixed-point number differs from itself");
  if (!left.wild && !right.wild) {
    const int order = fixed_order(a, b);
    require(equal == (order == 0) && less == (order < 0), "fixed-point order against the reference");
  }
}

inline void check_parts(float_slot& s) {
  current_operation = "fixedfloat parts and text";
  fixedfloat& p = *s.number;
  const float_state before(p);
  const std::size_t half = p.length / 2;
  const fixedint integer = p.getintpart();
  require(integer.length == p.length && integer.digits == reference::slice(p.value.digits, half, p.length),
          "getintpart");
  const fixedint fraction = p.getfractionpart();
  require(fraction.length == p.length &&
              fraction.digits == reference::resized(reference::slice(p.value.digits, 0, half), p.length),
          "getfractionpart");
  const std::string text = p.asstring();
  require(s.wild || text == reference::fixed_text(p.negative, p.value.digits, half), "fixed-point asstring");
  std::ostringstream out;
  out << p;
  require(out.str() == text, "<< differs from asstring");
  require(before.same(p), "parts or text changed the number");
}

inline void check_updsign(float_slot& s) {
  current_operation = "fixedfloat updsign";
  float_state expected(*s.number);
  expected.negative = expected.value.negative;
  expected.value.negative = false;
  s.number->updsign();
  require(expected.same(*s.number), "updsign");
}

}  // namespace veldar_fuzz
