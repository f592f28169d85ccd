// The fuzz target's checks of fixedint operations: each runs one operation
// on the program's numbers and requires the documented outcome.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

#include <veldar/fixedint.h>
#include "outcome.h"
#include "reference.h"

namespace veldar_fuzz {

using reference::decimal_parts;
using reference::digits_of_text;
using reference::parse_decimal;

// fixedint: construction, assignment and field writes.

inline void check_construction(int_slot& s, unsigned long long length, std::optional<long long> value) {
  current_operation = value ? "fixedint(length, value)" : "fixedint(length)";
  std::optional<fixedint> made;
  const failure thrown = threw_documented([&] { value ? made.emplace(length, *value) : made.emplace(length); });
  const std::string magnitude = value ? std::to_string(*value).substr(*value < 0 ? 1 : 0) : "";
  if (magnitude.size() > length) {
    require(thrown == failure::input_big, "a value longer than the length must throw");
    return;
  }
  require_no_failure(thrown, "construction");
  require(made->length == length && made->issigned && !made->throwonoverflow, "a new number's fields");
  require(made->negative == (value && *value < 0) && made->digits == digits_of_text(magnitude, length),
          "a new number's value");
  store(s, std::move(*made), false);
}

// The outcome of setting `s` to the decimal digits `magnitude` (no leading
// zeros) with the sign `minus`.
inline void check_assigned(int_slot& s, const int_state& before, const std::string& magnitude, bool minus,
                           failure thrown) {
  const fixedint& n = *s.number;
  if (magnitude.size() > before.length) {
    require(thrown == failure::input_big, "too many digits must throw");
    require(before.same(n), "a refused assignment changed the number");
    return;
  }
  require_no_failure(thrown, "assignment");
  int_state expected = before;
  expected.digits = digits_of_text(magnitude, before.length);
  expected.negative = before.issigned ? minus : before.negative;
  require(expected.same(n), "assigned value");
  settle(s, false);
}

template <typename integer>
bool is_negative(integer value) {
  if constexpr (std::is_signed_v<integer>) {
    return value < 0;
  } else {
    return false;
  }
}

template <typename integer>
void check_integer_assignment(int_slot& s, integer value) {
  current_operation = "fixedint = integer";
  const int_state before(*s.number);
  const failure thrown = threw_documented([&] { *s.number = value; });
  const std::string text = std::to_string(value);
  check_assigned(s, before, text.substr(is_negative(value) ? 1 : 0), is_negative(value), thrown);
}

inline void check_text_assignment(int_slot& s, const std::string& text) {
  current_operation = "fixedint = text";
  const int_state before(*s.number);
  const failure thrown = threw_documented([&] { *s.number = text; });
  const std::optional<decimal_parts> parts = parse_decimal(text, false);
  if (!parts) {
    require(thrown == failure::not_decimal, "text that is no integer must throw");
    require(before.same(*s.number), "refused text changed the number");
    return;
  }
  check_assigned(s, before, parts->integer, parts->minus && !parts->integer.empty(), thrown);
}

inline void set_flags(fixedint& n, std::uint8_t flags) {
  n.negative = (flags & 1U) != 0;
  n.issigned = (flags & 2U) == 0;
  n.throwonoverflow = (flags & 4U) != 0;
}

// fixedint arithmetic.

// A fresh result: its length, and the flags every result carries.
inline void check_result(const fixedint& result, unsigned long long length) {
  require(result.length == length && result.digits.size() == length, "result length");
  require(result.issigned && !result.throwonoverflow, "a result's flags");
}

// The left operand of a sum after a carry of `carry` left its top digit: it
// holds the carry, and its sign flag is cleared when the signs took part.
inline bool holds_carry(const int_state& before, const fixedint& left, bool signs, int carry) {
  int_state expected = before;
  expected.digits.assign(before.length, 0);
  if (carry > 0) {
    expected.digits.at(0) = static_cast<signed char>(carry);
  }
  expected.negative = signs ? false : before.negative;
  return expected.same(left);
}

inline void check_exact_sum(const int_state& x, const int_state& y, const fixedint& left,
                            const std::optional<fixedint>& result, failure thrown, bool subtract) {
  const bool signs = subtract || x.issigned;  // whether the sign flags take part
  const bool y_negative = subtract != y.negative;
  bool carry = false;
  const reference::signed_number expected =
      signs ? reference::signed_sum({x.negative, x.digits}, {y_negative, y.digits}, carry)
            : reference::signed_number{x.negative, reference::add(x.digits, y.digits, carry)};
  if (carry && x.throwonoverflow) {
    require(thrown == failure::overflow, "a carry out with throwonoverflow set must throw");
    require(x.same(left), "a sum that overflowed changed its left operand");
    return;
  }
  require_no_failure(thrown, "sum");
  check_result(*result, x.length);
  require(result->negative == expected.negative && result->digits == expected.magnitude, "sum against the reference");
  require(carry ? holds_carry(x, left, signs, 1) : x.same(left), "the carry hand-back");
}

// With elements outside 0 to 9 only the failures and the hand-back are known.
// A difference carries as a sum does, "Carry over 9!" included.
inline void check_wild_sum(const int_state& x, const fixedint& left, const std::optional<fixedint>& result,
                           failure thrown, bool subtract) {
  const bool signs = subtract || x.issigned;
  switch (thrown) {
    case failure::none: {
      check_result(*result, x.length);
      const int carry = left.digits.empty() ? 0 : left.digits[0];
      require(x.same(left) || (carry >= 1 && carry <= 9 && holds_carry(x, left, signs, carry)), "the carry hand-back");
      break;
    }
    case failure::overflow:
      require(x.throwonoverflow && x.same(left), "Overflow occured. without throwonoverflow, or with a change");
      break;
    case failure::carry_over_9:
      require(!x.throwonoverflow && holds_carry(x, left, signs, 0), "Carry over 9! must leave the left operand 0");
      break;
    default:
      finding("a sum threw another documented failure");
  }
}

inline std::optional<fixedint> checksum(int_slot& left, int_slot& right, bool subtract) {
  current_operation = subtract ? "fixedint -" : "fixedint +";
  fixedint& a = *left.number;
  fixedint& b = *right.number;
  const int_state x(a);
  const int_state y(b);
  std::optional<fixedint> result;
  const failure thrown = threw_documented([&] { result.emplace(subtract ? a - b : a + b); });
  if (x.length != y.length) {
    require(thrown == failure::int_sizes && x.same(a) && y.same(b), "a sum of different lengths");
    return std::nullopt;
  }
  if (left.wild || right.wild) {
    check_wild_sum(x, a, result, thrown, subtract);
  } else {
    check_exact_sum(x, y, a, result, thrown, subtract);
  }
  require(&left == &right || y.same(b), "a sum changed its right operand");
  settle(left, left.wild || right.wild);
  return result;
}

inline std::optional<fixedint> check_product(int_slot& left, int_slot& right) {
  current_operation = "fixedint *";
  fixedint& a = *left.number;
  fixedint& b = *right.number;
  const int_state x(a);
  const int_state y(b);
  std::optional<fixedint> result;
  const failure thrown = threw_documented([&] { result.emplace(a * b); });
  require(x.same(a) && y.same(b), "a product changed an operand");
  if (x.length != y.length) {
    require(thrown == failure::int_sizes, "a product of different lengths");
    return std::nullopt;
  }
  require_no_failure(thrown, "product");
  check_result(*result, x.length);
  if (!left.wild && !right.wild) {
    require(result->negative == (x.issigned && x.negative != y.negative), "product sign");
    require(result->digits == reference::slice(reference::multiply(x.digits, y.digits), 0, x.length), "product value");
  }
  return result;
}

// fixedint comparison.

// -1, 0 or 1: the order by sign flag (set below clear), then by value.
inline int value_order(const fixedint& x, const fixedint& y) {
  if (x.negative != y.negative) {
    return x.negative ? -1 : 1;
  }
  const int magnitude = reference::compare(x.digits, y.digits);
  return x.negative ? -magnitude : magnitude;
}

// Every comparison operator between two numbers, both ways round.
struct comparisons {
  bool equal, unequal, less, greater, reverse_less, reverse_greater;
};

inline comparisons compare(fixedint& x, fixedint& y) { return {x == y, x != y, x<y, x> y, y<x, y> x}; }

inline void check_equality(const fixedint& x, const fixedint& y, const comparisons& c) {
  require(c.equal == std::equal_to<fixedint>{}(x, y), "equal_to disagrees with ==");
  require(c.unequal == !c.equal, "!= is not the negation of ==");
  require(c.equal == (x.negative == y.negative && x.digits == y.digits), "== is not the same digits and sign flag");
  require(!c.equal || std::hash<fixedint>{}(x) == std::hash<fixedint>{}(y), "equal numbers hash differently");
}

inline void check_order(const fixedint& x, const fixedint& y, const comparisons& c, bool exact) {
  require(!(c.less && c.reverse_less), "< is not antisymmetric");
  require((c.less || c.reverse_less) != c.equal, "< leaves different numbers unordered, or orders equal ones");
  require(!(c.greater && c.less) && !(c.greater && c.reverse_greater), "> contradicts itself or <");
  require((!c.greater || c.reverse_less) && (!c.reverse_greater || c.less), "x > y but not y < x");
  require(!c.reverse_less || c.greater || (!c.reverse_greater && y.length < x.length),
          "y < x without x > y, and not by length");
  if (exact) {
    const int order = value_order(x, y);
    require(c.greater == (order > 0), "> against the reference");
    require(c.less == (order < 0 || (order == 0 && x.length < y.length)), "< against the reference");
  }
}

inline void check_irreflexive(fixedint& x) {
  require(x == x && !(x != x) && !(x < x) && !(x > x) && std::equal_to<fixedint>{}(x, x),
          "a number differs from itself");
}

inline void check_transitivity(fixedint& x, fixedint& y, fixedint& z, const comparisons& c) {
  require(!(c.less && y < z) || x < z, "< is not transitive");
  require(!(c.greater && y > z) || x > z, "> is not transitive");
}

// The order of two numbers of one length agrees with the sign of their
// difference, wherever the difference is exact.
inline void check_subtraction_order(fixedint& x, fixedint& y) {
  fixedint left(x);
  left.throwonoverflow = true;  // a carry out throws instead of cutting the difference
  std::optional<fixedint> difference;
  const failure thrown = threw_documented([&] { difference.emplace(left - y); });
  require(thrown == failure::none || thrown == failure::overflow, "a difference threw");
  if (thrown != failure::none) {
    return;
  }
  if (reference::is_zero(difference->digits)) {
    require(reference::compare(x.digits, y.digits) == 0, "a zero difference of different values");
  } else {
    require((x < y) == difference->negative && (x > y) == !difference->negative,
            "the order and the difference disagree");
  }
}

inline void check_comparisons(int_slot& a, int_slot& b, int_slot& c) {
  current_operation = "fixedint comparisons";
  fixedint& x = *a.number;
  fixedint& y = *b.number;
  const int_state sx(x);
  const int_state sy(y);
  const comparisons results = compare(x, y);
  check_equality(x, y, results);
  check_order(x, y, results, !a.wild && !b.wild);
  check_irreflexive(x);
  check_transitivity(x, y, *c.number, results);
  require(sx.same(x) && sy.same(y), "a comparison changed an operand");
}

// fixedint identities, on magnitudes or signed copies of numbers of one
// length, all digits 0 to 9.

inline fixedint magnitude_of(const fixedint& n) {
  fixedint m(n);
  m.negative = false;
  m.issigned = true;
  m.throwonoverflow = false;
  return m;
}

inline void check_commutative(fixedint& x, fixedint& y) {
  const fixedint xy = x * y;
  const fixedint yx = y * x;
  require(xy.digits == yx.digits, "x * y != y * x");
  require(!(x.issigned && y.issigned) || xy.negative == yx.negative, "x * y and y * x differ in sign");
}

// x (y + z) == x y + x z modulo 10^length; the carries go to copies.
inline void check_distributive(fixedint x, fixedint y, fixedint z) {
  const fixedint sum = fixedint(y) + z;
  fixedint xy = x * y;
  const fixedint right = xy + x * z;
  require((x * sum).digits == right.digits, "x * (y + z) != x * y + x * z");
}

// (x + y) - y == x and (x - y) + y == x wherever no carry leaves the top digit.
inline void check_inverse(fixedint& x, fixedint& y) {
  for (const bool subtractfirst : {false, true}) {
    fixedint first(x);
    first.issigned = true;
    first.throwonoverflow = true;
    std::optional<fixedint> partial;
    if (threw_documented([&] { partial.emplace(subtractfirst ? first - y : first + y); }) != failure::none) {
      continue;
    }
    const fixedint back = subtractfirst ? *partial + y : *partial - y;
    require(back.digits == x.digits && (back.negative == x.negative || reference::is_zero(x.digits)),
            "(x + y) - y != x or (x - y) + y != x");
  }
}

inline void check_units(fixedint& x) {
  if (x.length == 0) {
    return;
  }
  require((x * fixedint(x.length, 1)).digits == x.digits, "x * 1 != x");
  require(reference::is_zero((x * fixedint(x.length)).digits), "x * 0 != 0");
}

inline bool identity_with_products(std::uint8_t which) { return which % 5 == 0 || which % 5 == 1 || which % 5 == 4; }

inline void check_identity(fixedint& x, fixedint& y, fixedint& z, std::uint8_t which) {
  current_operation = "fixedint identities";
  if (x.length != y.length || x.length != z.length) {
    return;
  }
  switch (which % 5) {
    case 0:
      return check_commutative(x, y);
    case 1:
      return check_distributive(magnitude_of(x), magnitude_of(y), magnitude_of(z));
    case 2:
      return check_inverse(x, y);
    case 3:
      return check_subtraction_order(x, y);
    default:
      return check_units(x);
  }
}

// fixedint digit operations, copies and text.

inline void check_resize(int_slot& s, unsigned long long length) {
  current_operation = "fixedint resize";
  int_state expected(*s.number);
  expected.digits = reference::resized(expected.digits, length);
  expected.length = length;
  require(threw_documented([&] { s.number->resize(length); }) == failure::none, "resize threw");
  require(expected.same(*s.number), "resize");
  settle(s, s.wild);
}

inline void check_shift(int_slot& s, bool left) {
  current_operation = left ? "fixedint wholeshiftl" : "fixedint wholeshiftr";
  int_state expected(*s.number);
  digit_vector& d = expected.digits;
  if (!d.empty()) {  // one place up or down, a zero coming in
    if (left) {
      std::rotate(d.rbegin(), d.rbegin() + 1, d.rend());
      d.front() = 0;
    } else {
      std::rotate(d.begin(), d.begin() + 1, d.end());
      d.back() = 0;
    }
  }
  left ? s.number->wholeshiftl() : s.number->wholeshiftr();
  require(expected.same(*s.number), "shift");
  settle(s, s.wild);
}

inline void check_copies(int_slot& s) {
  current_operation = "fixedint getcopy, abs, flipsign, getshorteneddigits";
  fixedint& n = *s.number;
  const int_state before(n);
  require(before.same(n.getcopy()), "getcopy");
  int_state magnitude = before;
  magnitude.negative = false;
  require(magnitude.same(n.abs()), "abs");
  require(n.getshorteneddigits() == reference::significant(n.digits), "getshorteneddigits");
  require(before.same(n), "a copy changed its source");
  int_state flipped = before;
  flipped.negative = !before.negative;
  require(flipped.same(n.flipsign()) && flipped.same(n), "flipsign");
}

inline void check_text(int_slot& s) {
  current_operation = "fixedint asstring";
  fixedint& n = *s.number;
  const std::string text = n.asstring();
  require(s.wild || text == (n.negative ? "-" : "") + reference::text(n.digits), "asstring");
  std::ostringstream out;
  out << n;
  require(out.str() == text, "<< differs from asstring");
}

}  // namespace veldar_fuzz
