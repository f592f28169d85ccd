// fixedint. Where the log is the interface: every temporary made through a
// length constructor or getcopy() writes three lines and every destruction
// one, so each operation writes the lines of the temporaries it has always
// made, as one record of its transcript (transcript.h), without making
// them. They are pinned by the transcripts in
// tests/unit/fixedint_arithmetic_test.cpp (FixedintTranscript) and
// tests/unit/fixedint_core_test.cpp (FixedintLog):
// - +: the working sum S, made before the early return to the signed
//   difference and destroyed after the result is moved out of it;
// - the signed difference: the silent copies A and B, the result R, and on a
//   final borrow the two abs() copies and a nested subtraction;
// - -: the negated copy of the right operand and its copy passed to +;
// - *: the product at twice the length, cut back with resize();
// - <: the deletions of the copies it has always taken for > and !=.
#include <veldar/fixedint.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <istream>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <utility>

#include <veldar/diagnostics.h>

#include "digits.h"
#include "limbs.h"
#include "log_store.h"
#include "platform.h"
#include "products.h"
#include "quotients.h"
#include "roots.h"
#include "sums.h"
#include "text.h"
#include "transcript.h"

namespace VELDAR {

namespace {

using detail::decimal_text;
using detail::digit_vector;
using detail::significant_count;

// Writes the lines of a + of numbers of `length` digits that ran as
// `shape`, or of a - (the negated copy and its argument besides), as the
// fixedint_made transcripts of the temporaries each way makes.
void narrate_sum(unsigned long long length, detail::sum_shape shape, bool subtraction) noexcept {
  // - makes the negated copy first, and lets it and its argument go last.
  const unsigned negated = subtraction ? 1 : 0;
  if (!shape.difference) {
    detail::narrate(detail::transcript::fixedint_made, length, 1 + negated, 1 + 2 * negated);  // the working sum
    return;
  }
  // The working sum and the result; A < B's copies; B, A and the working sum.
  const unsigned compared = shape.swapped ? 4 : 2;
  if (!shape.nested) {
    detail::narrate(detail::transcript::fixedint_made, length, 2 + negated, compared + 3 + 2 * negated);
    return;
  }
  detail::narrate(detail::transcript::fixedint_made, length, 2 + negated, compared);
  detail::narrate(detail::transcript::fixedint_made, length, 5,
                  10 + 3 + 2 * negated);  // the abs() copies, the nested -
}

// -1, 0 or 1 as `a` is below, level with or above `b` in the order of > and
// <: the sign flag (set below clear), then the value.
int compare_ordered(const fixedint& a, const fixedint& b) {
  if (a.negative != b.negative) {
    return a.negative ? -1 : 1;
  }
  const int magnitude = detail::compare_magnitudes(a.digits, b.digits);
  return a.negative ? -magnitude : magnitude;
}

// <: the order above, and at equal value and sign the shorter length first.
bool orders_before(const fixedint& a, const fixedint& b) {
  const int order = compare_ordered(a, b);
  return order < 0 || (order == 0 && a.length < b.length);
}

// Sets `number` to the decimal digits `magnitude` (most significant first),
// negative when `minus` and `issigned` say so, keeping its length. Too many
// digits throw before anything changes.
void assign_magnitude(fixedint& number, std::string_view magnitude, bool minus) {
  if (number.length < magnitude.size()) {
    throw std::out_of_range("Input int bigger than size!");
  }
  if (number.digits.size() != number.length) {  // only after the fields were written directly
    digit_vector room(number.length);           // may throw; nothing has changed yet
    number.digits.swap(room);
  }
  std::fill(number.digits.begin(), number.digits.end(), 0);
  detail::place_digits(number.digits, magnitude, 0);
  if (number.issigned) {
    number.negative = minus;
  }
}

// from_chars() and >>: the number `parts` (no fraction: they take no
// point), or result_out_of_range and nothing changed when it has more digits
// than the length.
std::errc assign_text(fixedint& number, const decimal_text& parts) {
  if (parts.integer.size() > number.length) {
    return std::errc::result_out_of_range;
  }
  assign_magnitude(number, parts.integer, parts.minus && !parts.integer.empty());
  return std::errc{};
}

// The decimal digits of `value`, as std::to_chars writes them, into `text`.
template <typename integer>
std::string_view decimal_digits(integer value, std::array<char, 24>& text) {
  const char* end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
  return {text.data(), static_cast<std::size_t>(end - text.data())};
}

// Whether a result of + or - may take the place of `other`'s digits, the
// copy of the right operand that they own: both operands at their length.
bool in_place_lengths(const fixedint& self, const fixedint& other) {
  return self.digits.size() == self.length && other.digits.size() == self.length;
}

// this + other for operands whose sign flags differ (the right one's flag is
// the opposite of this one's): the difference of the magnitudes, with the
// sign of the operand of larger magnitude (+0 for equal ones), written where
// every element is a digit in place of `other`'s digits, the copy of the
// right operand that + and - own. The log reads as it has always read
// (transcript.h, sum_shape); `subtraction` adds the lines of -.
fixedint signed_difference(const fixedint& self, fixedint& other, bool subtraction) {
  // The operand with the clear sign flag first.
  const digit_vector& positive = self.negative ? other.digits : self.digits;
  const digit_vector& negative = self.negative ? self.digits : other.digits;
  // In place, the larger magnitude less the smaller, so that the difference
  // never borrows and takes no second pass: the comparison reads from the top
  // digit down to the first that differs.
  const bool lengths = in_place_lengths(self, other);
  const bool swapped = lengths && detail::compare_magnitudes(positive, negative) < 0;
  int borrow = 0;
  const bool in_place = lengths && detail::sum_in_place(swapped ? negative : positive, swapped ? positive : negative,
                                                        other.digits, true, borrow);
  digit_vector digits;
  bool minus = false;
  bool nested = false;  // whether the difference of the positive less the negative operand would have borrowed
  if (in_place) {
    digits = std::move(other.digits);
    minus = swapped;
    nested = swapped;
  } else {
    digits.assign(self.length, 0);  // before anything is logged: a failure changes nothing
    if (detail::subtract_digits(positive, negative, digits) > 0) {
      detail::subtract_digits(negative, positive, digits);
      minus = true;
      // (Elements outside 0 to 9 may borrow both ways round: they take the
      // second round here once, and have no nested lines.)
      nested = detail::digits_in_range(positive) && detail::digits_in_range(negative);
    }
  }
  narrate_sum(self.length, {true, self.negative, nested}, subtraction);
  return fixedint(detail::unlogged{}, std::move(digits), minus);
}

// Where the carry out of the top digit of + and - goes: into this number
// (`taker`, the left operand), unless it is const (nullptr).
//
// this + other on the magnitudes, with this number's sign: the carry out of
// the top is handed back into this number, or throws when it asks for that.
fixedint magnitude_sum(const fixedint& self, fixedint* taker, fixedint& other, bool signs, bool subtraction) {
  int carry = 0;
  const bool in_place =
      in_place_lengths(self, other) && detail::sum_in_place(self.digits, other.digits, other.digits, false, carry);
  digit_vector digits;
  if (in_place) {
    digits = std::move(other.digits);
  } else {
    digits.assign(self.length, 0);
    carry = detail::add_digits(self.digits, other.digits, digits);
  }
  // This number takes the carry: its new digits are made before anything
  // changes or is logged.
  digit_vector carried;
  if (carry > 0 && !self.throwonoverflow && taker != nullptr) {
    carried.assign(self.length, 0);
  }
  const bool minus = self.negative;
  narrate_sum(self.length, {false, false, false}, subtraction);
  if (carry > 0) {
    if (self.throwonoverflow) {
      throw std::overflow_error("Overflow occured.");
    }
    if (carry > 9) {
      // Only after the fields were written directly; this number becomes 0.
      if (taker != nullptr) {
        taker->digits.swap(carried);
        taker->negative = signs ? false : taker->negative;
      }
      throw std::out_of_range("Carry over 9!");
    }
    if (taker != nullptr) {
      taker->digits.swap(carried);
      taker->negative = signs ? false : taker->negative;
      taker->digits[0] = static_cast<signed char>(carry);
    }
  }
  return fixedint(detail::unlogged{}, std::move(digits), minus);
}

// The sum of the magnitudes, written over `other`'s digits, with `carry`
// out of the top digit: this number takes it, or throws when it asks for
// that. Its new digits are made before anything changes or is logged.
fixedint carried_sum(const fixedint& self, fixedint* taker, fixedint& other, bool carry, bool signs, bool subtraction) {
  digit_vector carried;
  if (carry && !self.throwonoverflow && taker != nullptr) {
    carried.assign(self.length, 0);
  }
  const bool minus = self.negative;
  narrate_sum(self.length, {false, false, false}, subtraction);
  if (carry) {
    if (self.throwonoverflow) {
      throw std::overflow_error("Overflow occured.");
    }
    if (taker != nullptr) {
      taker->digits.swap(carried);
      taker->negative = signs ? false : taker->negative;
      taker->digits[0] = 1;
    }
  }
  return fixedint(detail::unlogged{}, std::move(other.digits), minus);
}

// The same for operands of at most eighteen digits, their values `x` and
// `y` in machine words: the sum or difference (`difference`) of the
// magnitudes, written over `other`'s digits.
fixedint word_sum(const fixedint& self, fixedint* taker, fixedint& other, unsigned long long x, unsigned long long y,
                  bool difference, bool signs, bool subtraction) {
  if (difference) {
    // The operand with the clear sign flag less the other; below zero, the
    // result takes the sign and the nested subtraction's lines.
    const unsigned long long positive = self.negative ? y : x;
    const unsigned long long negative = self.negative ? x : y;
    const bool minus = positive < negative;
    detail::put_small_word(minus ? negative - positive : positive - negative, other.digits);
    narrate_sum(self.length, {true, self.negative, minus}, subtraction);
    return fixedint(detail::unlogged{}, std::move(other.digits), minus);
  }
  const unsigned long long modulus = detail::power_of_ten(self.digits.size());
  unsigned long long sum = x + y;  // below 2 * 10^18: no wrap
  const bool carry = sum >= modulus;
  sum -= carry ? modulus : 0;
  detail::put_small_word(sum, other.digits);
  return carried_sum(self, taker, other, carry, signs, subtraction);
}

// this + other, where the right operand's sign flag is `other_negative` and
// `signs` says whether the flags take part: this number's issigned for +,
// always for -. `other` is the copy + and - take by value: the sum takes the
// place of its digits where every element is a digit. (Each way returns its
// result whole, never a named number that would be moved and logged going.)
fixedint signed_sum(const fixedint& self, fixedint* taker, fixedint& other, bool other_negative, bool signs,
                    bool subtraction) {
  const bool difference = signs && self.negative != other_negative;
  if (self.digits.size() == self.length && self.length <= 8) {
    if (difference) {
      // |self - other| in place; the result takes the sign of the operand of
      // larger magnitude, as the signed difference below gives it.
      bool other_larger = false;
      if (detail::small_sum_in_place(self.digits, other.digits, true, other_larger)) {
        const bool minus = self.negative ? !other_larger && detail::significant_count(other.digits) != 0 : other_larger;
        narrate_sum(self.length, {true, self.negative, minus}, subtraction);
        return fixedint(detail::unlogged{}, std::move(other.digits), minus);
      }
    } else if (bool carry = false; detail::small_sum_in_place(self.digits, other.digits, false, carry)) {
      return carried_sum(self, taker, other, carry, signs, subtraction);
    }
  }
  unsigned long long x = 0;
  unsigned long long y = 0;
  if (self.length < detail::word_width && self.digits.size() == self.length && other.digits.size() == self.length &&
      detail::small_word(self.digits, x) && detail::small_word(other.digits, y)) {
    return word_sum(self, taker, other, x, y, signs && self.negative != other_negative, signs, subtraction);
  }
  return signs && self.negative != other_negative ? signed_difference(self, other, subtraction)
                                                  : magnitude_sum(self, taker, other, signs, subtraction);
}

// this + other, or this - other (`subtraction`), at equal lengths, for the
// operators and their const overloads: `other` is the right operand's copy.
fixedint sum(const fixedint& self, fixedint* taker, fixedint& other, bool subtraction) {
  if (other.length != self.length) {
    throw std::length_error("Int sizes are not equal!");
  }
  // -: the right operand negated, as a copy made with getcopy() and passed
  // on to + as its argument: their lines only. The addition always respects
  // the signs.
  return subtraction ? signed_sum(self, taker, other, !other.negative, true, true)
                     : signed_sum(self, taker, other, other.negative, self.issigned, false);
}

// The digits of `number` at its length, each 0 to 9: its own when they are,
// else a normalised copy kept in `holder`.
const digit_vector& magnitude_of(const fixedint& number, unsigned long long length, digit_vector& holder) {
  if (number.digits.size() == length && detail::digits_in_range(number.digits)) {
    return number.digits;
  }
  holder = detail::normalised_copy(number.digits, length);
  return holder;
}

// The quotient and remainder of the magnitudes of `dividend` and `divisor`,
// both at the dividend's length, and the divisor's magnitude. Throws
// std::domain_error "Division by zero!" for a zero divisor.
struct magnitudes {
  digit_vector quotient;
  digit_vector remainder;
};

magnitudes divide_magnitudes(const fixedint& dividend, const digit_vector& divisor) {
  digit_vector holder;
  const digit_vector& a = magnitude_of(dividend, dividend.length, holder);
  if (significant_count(divisor) == 0) {
    throw std::domain_error("Division by zero!");
  }
  magnitudes result;
  detail::divide_digits(a, divisor, result.quotient, result.remainder);
  return result;
}

// A result of `length` digits (logged: three lines) holding `digits`, negative
// when `minus` says so and it is not zero.
fixedint signed_result(unsigned long long length, digit_vector& digits, bool minus) {
  detail::narrate(detail::transcript::fixedint_made, length);
  const bool negative = minus && significant_count(digits) != 0;
  return fixedint(detail::unlogged{}, std::move(digits), negative);
}

// self * other modulo 10^length for operands of at most nineteen digits,
// each 0 to 9, in a machine word and written over `other`'s digits, the
// copy * owns: no digits made. False, with nothing changed, for others.
bool word_product_in_place(const fixedint& self, fixedint& other) {
  unsigned long long x = 0;
  unsigned long long y = 0;
  if (self.digits.size() != self.length || other.digits.size() != self.length || !detail::small_word(self.digits, x) ||
      !detail::small_word(other.digits, y)) {
    return false;
  }
  const unsigned long long modulus = detail::power_of_ten(self.digits.size());
  unsigned long long product = 0;
  if (__builtin_mul_overflow(x, y, &product)) {
    product = static_cast<unsigned long long>(detail::uint128{x} * y % modulus);
  } else {
    product %= modulus;
  }
  detail::put_small_word(product, other.digits);
  return true;
}

// self * other modulo 10^length, `other` being the right operand's copy:
// written as the lines of a number of 2 * length digits made and resized,
// in one go.
fixedint product(const fixedint& self, fixedint& other) {
  if (other.length != self.length) {
    throw std::length_error("Int sizes are not equal!");
  }
  const unsigned long long length = self.length;
  const bool minus = self.issigned && self.negative != other.negative;
  if (word_product_in_place(self, other)) {
    detail::narrate(detail::transcript::fixedint_product, length);
    other.negative = minus;
    other.issigned = true;
    other.throwonoverflow = false;
    return std::move(other);
  }
  digit_vector digits;
  try {
    digits.resize(2 * length);
  } catch (...) {
    detail::narrate(detail::transcript::fixedint_made_failed, 2 * length);
    throw;
  }
  if (significant_count(self.digits) + significant_count(other.digits) > digits.size()) {
    // Only when a digit vector is longer than `length`.
    detail::narrate(detail::transcript::fixedint_made, 2 * length, 1, 1);
    throw std::out_of_range("Report this to dev: Out of range while running multiplication! Index: " +
                            std::to_string(digits.size()));
  }
  detail::multiply_digits(self.digits, other.digits, digits, length);
  digits.resize(length);
  detail::narrate(detail::transcript::fixedint_product, length);
  return fixedint(detail::unlogged{}, std::move(digits), minus);
}

using copy_line = detail::copy_deletion<detail::deletion::fixedint>;

void check_lengths(const fixedint& a, const fixedint& b) {
  if (a.length != b.length) {
    throw std::length_error("Int sizes are not equal!");
  }
}

// a / b rounded by `mode`, for / and divide(), which take `b` by value: a
// call of one from the other would copy it once more, and log that copy. A
// quotient of machine words takes the digits of that copy.
fixedint rounded_quotient(const fixedint& a, fixedint& b, rounding mode) {
  check_lengths(a, b);
  unsigned long long x = 0;
  unsigned long long y = 0;
  // Up to 19 digits the words are read eight digits at a time; longer
  // numbers may still hold values that fit.
  const bool words =
      a.digits.size() == a.length && b.digits.size() == a.length &&
      (a.length <= detail::word_width ? detail::small_word(a.digits, x) && detail::small_word(b.digits, y)
                                      : detail::digits_in_range(a.digits) && detail::digits_in_range(b.digits) &&
                                            detail::checked_word_of_digits(a.digits.data(), a.digits.size(), x) &&
                                            detail::checked_word_of_digits(b.digits.data(), b.digits.size(), y));
  if (words && y != 0) {
    // Both in a machine word: its division, rounded by the remainder.
    const bool minus = a.issigned && a.negative != b.negative;
    const unsigned long long q = detail::divide_word(x, y, mode, minus).quotient;
    // In place of the digits of `b`, the copy / and divide() own: no new ones.
    digit_vector digits = std::move(b.digits);
    detail::put_small_word(q, digits);  // below x + 1 <= 10^length, and q < x for y > 1
    return signed_result(a.length, digits, minus);
  }
  digit_vector holder;
  const digit_vector& divisor = magnitude_of(b, a.length, holder);
  magnitudes division = divide_magnitudes(a, divisor);
  const bool minus = a.issigned && a.negative != b.negative;
  detail::round_quotient(division.quotient, division.remainder, divisor, mode, minus);
  return signed_result(a.length, division.quotient, minus);
}

// a < b for <: the log reads as the copies of `b` that this operator has
// always taken for > and != leave it, one, and two more when a is not
// greater; and `argument` lines more, for the const overload.
bool ordered_before(const fixedint& a, const fixedint& b, unsigned argument) {
  detail::narrate_deletions((compare_ordered(a, b) <= 0 ? 3 : 1) + argument);
  return orders_before(a, b);
}

// a % b, the remainder with the dividend's sign, for % and its const overload.
fixedint remainder(const fixedint& a, const fixedint& b) {
  check_lengths(a, b);
  digit_vector holder;
  magnitudes division = divide_magnitudes(a, magnitude_of(b, a.length, holder));
  return signed_result(a.length, division.remainder, a.issigned && a.negative);
}

}  // namespace

// Construction and assignment.

void fixedint::construct(unsigned long long n) {
  setup();
  length = n;
  try {
    digits.resize(n);
  } catch (...) {
    // The lines written before the digits were asked for; the exception goes on.
    detail::narrate(detail::transcript::fixedint_made_failed, n);
    throw;
  }
  detail::narrate(detail::transcript::fixedint_made, n);
}

fixedint::fixedint() { construct(0); }

fixedint::fixedint(unsigned long long length) { construct(length); }

fixedint::fixedint(unsigned long long length, const std::string& text) {
  construct(length);
  *this = text;
}

fixedint::fixedint(detail::unlogged /*unused*/, std::vector<signed char> digits, bool negative)
    : negative(negative), length(digits.size()), digits(std::move(digits)) {}

// Not delegating: when the assignment throws, the object never existed and its
// destructor must not log.
fixedint::fixedint(unsigned long long length, long long value) {
  construct(length);
  *this = value;
}

fixedint::~fixedint() { detail::narrate_fixedint_deletion(); }

fixedint& fixedint::operator=(const fixedint& other) {
  if (this == &other) {
    return *this;
  }
  if (digits.capacity() < other.digits.size()) {
    digit_vector room(other.digits);  // may throw; nothing has changed yet
    digits.swap(room);
  } else {
    digits.assign(other.digits.begin(), other.digits.end());  // within the capacity: cannot throw
  }
  negative = other.negative;
  length = other.length;
  issigned = other.issigned;
  throwonoverflow = other.throwonoverflow;
  return *this;
}

fixedint& fixedint::operator=(long long value) {
  std::array<char, 24> text{};  // holds every long long
  const std::string_view magnitude = decimal_digits(value, text).substr(value < 0 ? 1 : 0);
  assign_magnitude(*this, magnitude, value < 0);
  return *this;
}

fixedint& fixedint::assignunsigned(unsigned long long value) {
  std::array<char, 24> text{};
  assign_magnitude(*this, decimal_digits(value, text), false);
  return *this;
}

fixedint& fixedint::operator=(const std::string& text) {
  const auto parts = detail::split_decimal(text, false);
  if (!parts) {
    throw std::invalid_argument("Not a decimal number!");
  }
  assign_magnitude(*this, parts->integer, parts->minus && !parts->integer.empty());
  return *this;
}

// Digit operations.

void fixedint::resize(unsigned long long n) {
  try {
    digits.resize(n, 0);  // `length` follows only once the digits are there
  } catch (...) {
    detail::narrate(detail::transcript::fixedint_resize_failed, n);
    throw;
  }
  length = n;
  detail::narrate(detail::transcript::fixedint_resized, n);
}

void fixedint::wholeshiftl() { detail::shift_up(digits, 1); }

void fixedint::wholeshiftr() { detail::shift_down(digits, 1); }

std::vector<signed char> fixedint::getshorteneddigits() { return std::as_const(*this).getshorteneddigits(); }

std::vector<signed char> fixedint::getshorteneddigits() const { return detail::shortened_digits(digits); }

// Comparison. The by-value members log the deletion of their argument as it
// goes; the const overloads write that line themselves (copy_line).

bool fixedint::operator==(fixedint other) { return std::equal_to<fixedint>{}(*this, other); }

bool fixedint::operator==(const fixedint& other) const {
  const copy_line going;
  return std::equal_to<fixedint>{}(*this, other);
}

bool fixedint::operator!=(fixedint other) { return !(*this == other); }  // == logs its own copy's line

bool fixedint::operator!=(const fixedint& other) const {
  const copy_line going;
  return !(*this == other);
}

bool fixedint::operator>(fixedint other) { return compare_ordered(*this, other) > 0; }

bool fixedint::operator>(const fixedint& other) const {
  const copy_line going;
  return compare_ordered(*this, other) > 0;
}

bool fixedint::operator<(fixedint other) { return ordered_before(*this, other, 0); }

bool fixedint::operator<(const fixedint& other) const { return ordered_before(*this, other, 1); }

bool fixedint::operator<=(fixedint other) { return !(other < *this); }

bool fixedint::operator<=(const fixedint& other) const {
  const copy_line going;
  return !(other < *this);
}

bool fixedint::operator>=(fixedint other) { return !(*this < other); }

bool fixedint::operator>=(const fixedint& other) const {
  const copy_line going;
  return !(*this < other);
}

// Arithmetic. The const overloads work on a copy of the right operand, as
// the by-value members do on theirs.

fixedint fixedint::operator+(fixedint other) { return sum(*this, this, other, false); }

fixedint fixedint::operator+(const fixedint& other) const {
  fixedint copy(other);
  return sum(*this, nullptr, copy, false);
}

fixedint& fixedint::operator+=(fixedint other) {
  *this = sum(*this, this, other, false);
  return *this;
}

fixedint fixedint::operator-(fixedint other) { return sum(*this, this, other, true); }

fixedint fixedint::operator-(const fixedint& other) const {
  fixedint copy(other);
  return sum(*this, nullptr, copy, true);
}

fixedint& fixedint::operator-=(fixedint other) {
  *this = sum(*this, this, other, true);
  return *this;
}

fixedint fixedint::operator*(fixedint other) { return product(*this, other); }

fixedint fixedint::operator*(const fixedint& other) const {
  fixedint copy(other);
  return product(*this, copy);
}

fixedint& fixedint::operator*=(fixedint other) {
  *this = product(*this, other);
  return *this;
}

fixedint fixedint::operator/(fixedint other) { return rounded_quotient(*this, other, rounding::down); }

fixedint fixedint::operator/(const fixedint& other) const {
  fixedint copy(other);  // the quotient may take its digits
  return rounded_quotient(*this, copy, rounding::down);
}

fixedint& fixedint::operator/=(fixedint other) {
  *this = rounded_quotient(*this, other, rounding::down);
  return *this;
}

fixedint fixedint::operator%(fixedint other) { return remainder(*this, other); }

fixedint fixedint::operator%(const fixedint& other) const {
  const copy_line going;
  return remainder(*this, other);
}

fixedint& fixedint::operator%=(fixedint other) {
  *this = remainder(*this, other);
  return *this;
}

fixedint fixedint::divide(fixedint other, rounding mode) { return rounded_quotient(*this, other, mode); }

fixedint fixedint::divide(const fixedint& other, rounding mode) const {
  fixedint copy(other);
  return rounded_quotient(*this, copy, mode);
}

// Roots and powers.

fixedint fixedint::sqrt() const {
  digit_vector root = detail::normalised_copy(digits, length);
  if (negative && significant_count(root) != 0) {
    throw std::domain_error("Square root of a negative number!");
  }
  detail::square_root_digits(root, root);
  root.resize(length, 0);  // a root has at most as many digits as its square
  return signed_result(length, root, false);
}

fixedint fixedint::pow(unsigned long long n) const {
  digit_vector power;
  detail::power_digits(detail::normalised_copy(digits, length), n, length, power);
  detail::narrate(detail::transcript::fixedint_made, length);
  return fixedint(detail::unlogged{}, std::move(power), negative && n % 2 == 1);
}

fixedint sqrt(const fixedint& x) { return x.sqrt(); }

fixedint pow(const fixedint& x, unsigned long long n) { return x.pow(n); }

// Copies and sign.

fixedint fixedint::getcopy() { return std::as_const(*this).getcopy(); }

fixedint fixedint::getcopy() const {
  fixedint copy(length);
  copy.negative = negative;
  copy.issigned = issigned;
  copy.throwonoverflow = throwonoverflow;
  copy.digits = digits;
  return copy;
}

fixedint fixedint::abs() { return std::as_const(*this).abs(); }

fixedint fixedint::abs() const {
  fixedint copy = getcopy();
  copy.negative = false;
  return copy;
}

fixedint& fixedint::flipsign() {
  negative = !negative;
  return *this;
}

fixedint fixedint::operator-() const {
  fixedint copy(*this);
  copy.negative = !copy.negative;
  return copy;
}

fixedint fixedint::operator+() const { return *this; }

fixedint abs(const fixedint& x) { return x.abs(); }

std::string fixedint::asstring() { return std::as_const(*this).asstring(); }

std::string fixedint::asstring() const {
  if (detail::digits_in_range(digits)) {
    // The significant digits, or one zero; the same text as below, made in one go.
    const std::size_t count = digits.empty() ? 0 : std::max<std::size_t>(significant_count(digits), 1);
    std::string text(negative ? 1 : 0, '-');
    text.resize(text.size() + count);
    const auto first = static_cast<std::ptrdiff_t>(count);
    std::transform(digits.rend() - first, digits.rend(), text.end() - first,
                   [](signed char d) { return static_cast<char>('0' + d); });
    return text;
  }
  std::string text;
  text.reserve(digits.size() + 1);
  std::for_each(digits.rbegin(), digits.rend(), [&text](signed char d) {
    if (d >= 0 && d <= 9) {
      text.push_back(static_cast<char>('0' + d));
    } else {
      text += std::to_string(d);  // only after the fields were misused
    }
  });
  if (text.size() > 1) {
    text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
  }
  if (negative) {
    text.insert(text.begin(), '-');
  }
  return text;
}

// Conversions.

double fixedint::todouble() { return std::as_const(*this).todouble(); }

double fixedint::todouble() const { return detail::to_double(detail::normalised_copy(digits, length), 0, negative); }

bool fixedint::wordmagnitude(unsigned long long& magnitude) const {
  const digit_vector magnitude_digits = detail::normalised_copy(digits, length);
  return detail::checked_word_of_digits(magnitude_digits.data(), magnitude_digits.size(), magnitude);
}

void detail::throw_value_does_not_fit() { throw std::out_of_range("Value does not fit!"); }

// Text in and out.

std::from_chars_result from_chars(const char* first, const char* last, fixedint& value) {
  return detail::read_chars(first, last, false,
                            [&value](const decimal_text& parts) { return assign_text(value, parts); });
}

std::to_chars_result to_chars(char* first, char* last, const fixedint& value) {
  return detail::number_to_chars(first, last, value, detail::digits_in_range(value.digits), [&](char* from, char* to) {
    return detail::write_integer_text(value.digits, value.negative, from, to);
  });
}

std::istream& operator>>(std::istream& in, fixedint& number) {
  return detail::read_number(in, false, [&number](const decimal_text& parts) { return assign_text(number, parts); });
}

}  // namespace VELDAR

std::ostream& VELDAR::operator<<(std::ostream& out, const fixedint& number) {
  std::string text = number.asstring();
  if ((out.flags() & std::ios_base::showpos) != 0 && !number.negative) {
    text.insert(text.begin(), '+');
  }
  return out << text;
}

std::size_t std::hash<VELDAR::fixedint>::operator()(const VELDAR::fixedint& number) const noexcept {
  return VELDAR::detail::hash_digits(number.digits, number.negative);
}

bool std::equal_to<VELDAR::fixedint>::operator()(const VELDAR::fixedint& a, const VELDAR::fixedint& b) const noexcept {
  return a.negative == b.negative && a.digits == b.digits;
}

bool std::less<VELDAR::fixedint>::operator()(const VELDAR::fixedint& a, const VELDAR::fixedint& b) const noexcept {
  return VELDAR::orders_before(a, b);
}
