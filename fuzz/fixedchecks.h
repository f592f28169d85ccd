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

namespace veldarfuzz {

// fixedfloat: construction, assignment and field writes.

inline void checkzero(const fixedfloat& p, unsigned long long length) {
  require(p.length == length && p.value.length == length && reference::iszero(p.value.digits) &&
              p.value.digits.size() == length && p.issigned && !p.negative,
          "a new fixed-point zero");
}

inline void checkfixedconstruction(floatslot& s, unsigned long long length) {
  currentoperation = "fixedfloat(length)";
  std::optional<fixedfloat> made;
  const failure thrown = threwdocumented([&] { made.emplace(length); });
  require(thrown == (length % 2 == 0 ? failure::none : failure::oddlength), "fixed-point construction");
  if (made) {
    checkzero(*made, length);
    store(s, std::move(*made), false);
  }
}

inline void checkinit(floatslot& s, unsigned long long length) {
  currentoperation = "fixedfloat init";
  const floatstate before(*s.number);
  const failure thrown = threwdocumented([&] { s.number->init(length); });
  if (length % 2 != 0) {
    require(thrown == failure::oddlength && before.same(*s.number), "init with an odd length");
    return;
  }
  requirenofailure(thrown, "init");
  checkzero(*s.number, length);
  settle(s, false);
}

// The failure an assignment of the decimal number `parts` (none: not a
// number) must throw at `half` digits a side. A number too long on both sides
// may be refused for either side.
inline bool expectedfailure(const std::optional<decimalparts>& parts, std::size_t half, failure thrown) {
  if (!parts) {
    return thrown == failure::notdecimal;
  }
  const bool integerbig = parts->integer.size() > half;
  const bool fractionbig = parts->fraction.size() > half;
  if (integerbig || fractionbig) {
    return (integerbig && thrown == failure::inputbig) || (fractionbig && thrown == failure::fractionbig);
  }
  return thrown == failure::none;
}

// The outcome of assigning the decimal number `parts` (none: not a number).
inline void checkdecimal(floatslot& s, const floatstate& before, const std::optional<decimalparts>& parts,
                         failure thrown) {
  fixedfloat& p = *s.number;
  const std::size_t half = before.length / 2;
  require(expectedfailure(parts, half, thrown), "the failure of a fixed-point assignment");
  if (thrown != failure::none) {
    require(before.same(p), "a refused fixed-point assignment changed the number");
    return;
  }
  const bool zero = parts->integer.empty() && parts->fraction.empty();
  const std::string scaled = parts->integer + parts->fraction + std::string(half - parts->fraction.size(), '0');
  require(p.length == before.length && p.issigned == before.issigned && p.value.length == before.length,
          "a fixed-point assignment changed the length or issigned");
  require(p.negative == (parts->minus && !zero) && p.value.digits == digitsoftext(scaled, before.length),
          "fixed-point assignment against the reference");
  const std::string text = (p.negative ? "-" : "") + (parts->integer.empty() ? "0" : parts->integer) + "." +
                           (parts->fraction.empty() ? "0" : parts->fraction);
  require(p.asstring() == text, "the text of an assigned fixed-point number");
  settle(s, false);
}

inline void checkfloatassignment(floatslot& s, float x) {
  currentoperation = "fixedfloat = float";
  const floatstate before(*s.number);
  const failure thrown = threwdocumented([&] { *s.number = x; });
  if (std::isnan(x) || std::isinf(x)) {
    require(thrown == (std::isnan(x) ? failure::notanumber : failure::inputbig) && before.same(*s.number),
            "a float that is no number");
    return;
  }
  std::array<char, 128> buffer{};
  const auto converted = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x, std::chars_format::fixed);
  require(converted.ec == std::errc(), "harness: float text");
  checkdecimal(s, before, parsedecimal(std::string(buffer.data(), converted.ptr), true), thrown);
  require(thrown != failure::none || std::strtof(s.number->asstring().c_str(), nullptr) == x,
          "an assigned float does not read back");
}

inline void checkfixedtextassignment(floatslot& s, const std::string& text) {
  currentoperation = "fixedfloat = text";
  const floatstate before(*s.number);
  const failure thrown = threwdocumented([&] { *s.number = text; });
  checkdecimal(s, before, parsedecimal(text, true), thrown);
}

template <typename integer>
void checkfixedintegerassignment(floatslot& s, integer value) {
  currentoperation = "fixedfloat = integer";
  const floatstate before(*s.number);
  const failure thrown = threwdocumented([&] { *s.number = value; });
  checkdecimal(s, before, parsedecimal(std::to_string(value), true), thrown);
}

inline void checkfromfixedint(floatslot& s, const intslot& from) {
  currentoperation = "fixedfloat = fixedint";
  fixedfloat& p = *s.number;
  const floatstate before(p);
  const intstate v(*from.number);
  const failure thrown = threwdocumented([&] { p = *from.number; });
  require(v.same(*from.number), "fixedfloat = fixedint changed the fixedint");
  const std::size_t half = before.length / 2;
  if (v.length < half) {
    require(thrown == failure::valsmall && before.same(p), "a fixedint shorter than half the length");
    return;
  }
  requirenofailure(thrown, "fixedfloat = fixedint");
  require(p.length == before.length && p.issigned == before.issigned && p.negative == v.negative &&
              p.value.length == before.length,
          "fixedfloat = fixedint: the fields");
  digitvector expected(half, 0);
  const digitvector low = reference::slice(v.digits, 0, half);
  expected.insert(expected.end(), low.begin(), low.end());
  require(from.wild || p.value.digits == expected, "fixedfloat = fixedint: the value");
  settle(s, from.wild);
}

inline void checkintfromfixed(intslot& s, floatslot& from) {
  currentoperation = "fixedint = fixedfloat";
  const floatstate p(*from.number);
  const failure thrown = threwdocumented([&] { *s.number = *from.number; });
  require(thrown == failure::none && p.same(*from.number), "fixedint = fixedfloat threw or changed the fixedfloat");
  const fixedint& n = *s.number;
  require(n.length == p.length && !n.negative && n.digits == reference::slice(p.value.digits, p.length / 2, p.length),
          "fixedint = fixedfloat: the integer part");
  settle(s, from.wild);
}

inline void setfixedflags(fixedfloat& p, std::uint8_t flags) {
  p.negative = (flags & 1U) != 0;
  p.issigned = (flags & 2U) == 0;
  p.value.throwonoverflow = (flags & 4U) != 0;
  p.value.issigned = (flags & 8U) == 0;
}

// fixedfloat arithmetic and comparison.

inline void checkfixedresult(const fixedfloat& result, unsigned long long length) {
  require(result.length == length && result.value.length == length && result.value.digits.size() == length &&
              !result.value.negative,
          "a fixed-point result's fields");
}

inline std::optional<fixedfloat> checkfixedproduct(floatslot& left, floatslot& right) {
  currentoperation = "fixedfloat *";
  fixedfloat& a = *left.number;
  fixedfloat& b = *right.number;
  const floatstate x(a);
  const floatstate y(b);
  std::optional<fixedfloat> result;
  const failure thrown = threwdocumented([&] { result.emplace(a * b); });
  require(x.same(a) && y.same(b), "a fixed-point product changed an operand");
  if (x.length != y.length) {
    require(thrown == failure::sizes, "a fixed-point product of different lengths");
    return std::nullopt;
  }
  requirenofailure(thrown, "fixed-point product");
  checkfixedresult(*result, x.length);
  if (!left.wild && !right.wild) {
    const digitvector product = reference::multiply(x.value.digits, y.value.digits);
    require(result->negative == (x.issigned && x.negative != y.negative), "fixed-point product sign");
    require(result->value.digits == reference::slice(product, x.length / 2, x.length), "fixed-point product value");
  }
  return result;
}

inline std::optional<fixedfloat> checkfixedsum(floatslot& left, floatslot& right, bool subtract) {
  currentoperation = subtract ? "fixedfloat -" : "fixedfloat +";
  fixedfloat& a = *left.number;
  fixedfloat& b = *right.number;
  const floatstate x(a);
  const floatstate y(b);
  std::optional<fixedfloat> result;
  const failure thrown = threwdocumented([&] { result.emplace(subtract ? a - b : a + b); });
  require(x.same(a) && y.same(b), "a fixed-point sum changed an operand");
  if (x.length != y.length) {
    require(thrown == failure::sizes, "a fixed-point sum of different lengths");
    return std::nullopt;
  }
  if (thrown == failure::carryover9 && (left.wild || right.wild)) {
    return std::nullopt;  // documented for elements outside 0 to 9 written into the fields
  }
  requirenofailure(thrown, "fixed-point sum");
  checkfixedresult(*result, x.length);
  if (!left.wild && !right.wild) {
    bool carry = false;
    const reference::signednumber sum =
        reference::signedsum({x.negative, x.value.digits}, {subtract != y.negative, y.value.digits}, carry);
    require(result->negative == (sum.negative && !reference::iszero(sum.magnitude)) &&
                result->value.digits == sum.magnitude,
            "fixed-point sum against the reference");
  }
  return result;
}

// -1, 0 or 1 by value: 0.0 and -0.0 are equal.
inline int fixedorder(const fixedfloat& x, const fixedfloat& y) {
  const auto sign = [](const fixedfloat& n) { return reference::iszero(n.value.digits) ? 0 : n.negative ? -1 : 1; };
  if (sign(x) != sign(y) || sign(x) == 0) {
    return sign(x) < sign(y) ? -1 : sign(x) > sign(y) ? 1 : 0;
  }
  return sign(x) * reference::compare(x.value.digits, y.value.digits);
}

inline void checkfixedcomparisons(floatslot& left, floatslot& right) {
  currentoperation = "fixedfloat comparisons";
  fixedfloat& a = *left.number;
  fixedfloat& b = *right.number;
  const floatstate x(a);
  const floatstate y(b);
  std::array<bool, 6> results{};
  const failure thrown = threwdocumented([&] { results = {a == b, a != b, a<b, a> b, a <= b, a >= b}; });
  const bool equalto = std::equal_to<fixedfloat>{}(a, b);
  require(x.same(a) && y.same(b), "a fixed-point comparison changed an operand");
  if (x.length != y.length) {
    require(thrown == failure::sizes && !equalto, "a fixed-point comparison of different lengths");
    return;
  }
  requirenofailure(thrown, "fixed-point comparison");
  const auto [equal, unequal, less, greater, lessequal, greaterequal] = results;
  require(equal + less + greater == 1, "not exactly one of ==, < and >");
  require(unequal == !equal && lessequal == (less || equal) && greaterequal == (greater || equal),
          "!=, <= or >= disagrees with ==, < and >");
  require(equalto == equal, "equal_to disagrees with ==");
  require(!equal || std::hash<fixedfloat>{}(a) == std::hash<fixedfloat>{}(b),
          "equal fixed-point numbers hash differently");
  require(a == a && !(a < a), "a fixed-point number differs from itself");
  if (!left.wild && !right.wild) {
    const int order = fixedorder(a, b);
    require(equal == (order == 0) && less == (order < 0), "fixed-point order against the reference");
  }
}

inline void checkparts(floatslot& s) {
  currentoperation = "fixedfloat parts and text";
  fixedfloat& p = *s.number;
  const floatstate before(p);
  const std::size_t half = p.length / 2;
  const fixedint integer = p.getintpart();
  require(integer.length == p.length && integer.digits == reference::slice(p.value.digits, half, p.length),
          "getintpart");
  const fixedint fraction = p.getfractionpart();
  require(fraction.length == p.length &&
              fraction.digits == reference::resized(reference::slice(p.value.digits, 0, half), p.length),
          "getfractionpart");
  const std::string text = p.asstring();
  require(s.wild || text == reference::fixedtext(p.negative, p.value.digits, half), "fixed-point asstring");
  std::ostringstream out;
  out << p;
  require(out.str() == text, "<< differs from asstring");
  require(before.same(p), "parts or text changed the number");
}

inline void checkupdsign(floatslot& s) {
  currentoperation = "fixedfloat updsign";
  floatstate expected(*s.number);
  expected.negative = expected.value.negative;
  expected.value.negative = false;
  s.number->updsign();
  require(expected.same(*s.number), "updsign");
}

}  // namespace veldarfuzz
