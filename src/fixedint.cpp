// fixedint. Where the log is the interface: every temporary made through a
// length constructor or getcopy() writes three lines and every destruction
// one, so the temporaries below exist because their lines are observable,
// and each is marked at its line. They are pinned by the transcripts in
// tests/fixedint_arithmetic_test.cpp (FixedintTranscript) and
// tests/fixedint_core_test.cpp (FixedintLog):
// - +: the working sum S, made before the early return to the signed
//   difference and destroyed after the result is moved out of it;
// - the signed difference: the silent copies A and B, the result R, and on a
//   final borrow the two abs() copies and a nested subtraction;
// - -: the negated copy of the right operand, made with getcopy();
// - *: the product at twice the length, cut back with resize();
// - <: the lines of the copies it has always taken for > and !=.
#include <veldar/fixedint.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <utility>

#include <veldar/diagnostics.h>

#include "digits.h"
#include "log_line.h"
#include "products.h"
#include "quotients.h"
#include "sums.h"
#include "text.h"

namespace VELDAR {

namespace {

using detail::digit_vector;
using detail::significant_count;

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
    digit_vector room(number.length);              // may throw; nothing has changed yet
    number.digits.swap(room);
  }
  std::fill(number.digits.begin(), number.digits.end(), 0);
  detail::place_digits(number.digits, magnitude, 0);
  if (number.issigned) {
    number.negative = minus;
  }
}

// The decimal digits of `value`, as std::to_chars writes them, into `text`.
template <typename integer>
std::string_view decimal_digits(integer value, std::array<char, 24>& text) {
  const char* end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
  return {text.data(), static_cast<std::size_t>(end - text.data())};
}

// The addition of operands whose sign flags differ: the difference of the
// magnitudes, with the sign of the operand of larger magnitude.
fixedint signed_difference(fixedint& self, const fixedint& other) {
  fixedint a(self);               // logged: destroyed last but one
  fixedint b(other);              // logged: destroyed after the result is made
  fixedint result(self.length);   // logged: three lines
  if (a < b) {  // logged: the lines of <; puts the operand with the clear sign flag first
    a = b;
    b = self;
  }
  result.negative = a.negative;
  if (detail::subtract_digits(a.digits, b.digits, result.digits) > 0) {
    fixedint y = b.abs();         // logged, as are a.abs() and the nested subtraction
    result = y - a.abs();
    result.negative = !a.negative;
  }
  return result;
}

// The quotient and remainder of the magnitudes of `dividend` and `divisor`,
// both at the dividend's length. Throws std::domain_error "Division by zero!"
// for a zero divisor.
struct magnitudes {
  digit_vector quotient;
  digit_vector remainder;
};

magnitudes divide_magnitudes(const fixedint& dividend, const fixedint& divisor) {
  const digit_vector a = detail::normalised_copy(dividend.digits, dividend.length);
  const digit_vector b = detail::normalised_copy(divisor.digits, dividend.length);
  if (significant_count(b) == 0) {
    throw std::domain_error("Division by zero!");
  }
  magnitudes result;
  detail::divide_digits(a, b, result.quotient, result.remainder);
  return result;
}

// A result of `length` digits (logged: three lines) holding `digits`, negative
// when `minus` says so and it is not zero.
fixedint signed_result(unsigned long long length, digit_vector& digits, bool minus) {
  fixedint result(length);
  result.digits.swap(digits);
  result.negative = minus && significant_count(result.digits) != 0;
  return result;
}

void check_lengths(const fixedint& a, const fixedint& b) {
  if (a.length != b.length) {
    throw std::length_error("Int sizes are not equal!");
  }
}

// a / b rounded by `mode`, for / and divide(), which take `b` by value: a
// call of one from the other would copy it once more, and log that copy.
fixedint rounded_quotient(const fixedint& a, const fixedint& b, rounding mode) {
  check_lengths(a, b);
  magnitudes division = divide_magnitudes(a, b);
  const bool minus = a.issigned && a.negative != b.negative;
  detail::round_quotient(division.quotient, division.remainder, detail::normalised_copy(b.digits, a.length), mode,
                         minus);
  return signed_result(a.length, division.quotient, minus);
}

}  // namespace

// Construction and assignment.

void fixedint::construct(unsigned long long n) {
  setup();
  length = n;
  detail::log_line("New fixedint object!");
  detail::log_line("Resizing Digits to: ", n);
  digits.resize(n);
  detail::log_line("Done.");
}

fixedint::fixedint(unsigned long long length) { construct(length); }

// Not delegating: when the assignment throws, the object never existed and its
// destructor must not log.
fixedint::fixedint(unsigned long long length, long long value) {
  construct(length);
  *this = value;
}

fixedint::~fixedint() { detail::log_line("Deleted fixedint object."); }

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
  detail::log_line("Resize requested in fixedint.");
  detail::log_line("Resizing Digits to: ", n);
  digits.resize(n, 0);  // may throw; `length` follows only once the digits are there
  length = n;
  detail::log_line("Done.");
}

void fixedint::wholeshiftl() { detail::shift_up(digits, 1); }

void fixedint::wholeshiftr() { detail::shift_down(digits, 1); }

std::vector<signed char> fixedint::getshorteneddigits() { return detail::shortened_digits(digits); }

// Comparison.

bool fixedint::operator==(fixedint other) { return std::equal_to<fixedint>{}(*this, other); }

bool fixedint::operator!=(fixedint other) { return !(*this == other); }

bool fixedint::operator>(fixedint other) { return compare_ordered(*this, other) > 0; }

bool fixedint::operator<(fixedint other) {
  // The log reads as the copies of `other` that this operator has always
  // taken for > and != leave it: one, and two more when this is not greater.
  detail::log_line("Deleted fixedint object.");
  if (compare_ordered(*this, other) <= 0) {
    detail::log_line("Deleted fixedint object.");
    detail::log_line("Deleted fixedint object.");
  }
  return orders_before(*this, other);
}

// Arithmetic.

fixedint fixedint::operator+(fixedint other) {
  if (other.length != length) {
    throw std::length_error("Int sizes are not equal!");
  }
  fixedint sum(length);  // logged: made even when the signed difference below returns early
  if (issigned && negative != other.negative) {
    return signed_difference(*this, other);
  }
  sum.negative = negative;
  const int carry = detail::add_digits(digits, other.digits, sum.digits);
  if (carry > 0) {
    if (throwonoverflow) {
      throw std::overflow_error("Overflow occured.");
    }
    // This number takes the carry: its new digits are made before anything changes.
    digit_vector carried(length, 0);
    digits.swap(carried);
    if (issigned) {
      negative = false;
    }
    if (carry > 9) {
      throw std::out_of_range("Carry over 9!");  // only after the fields were written directly; this number is 0
    }
    digits[0] = static_cast<signed char>(carry);
  }
  // Moved into the result, so that the working sum is destroyed (and logged) as well.
  return fixedint(std::move(sum));
}

fixedint fixedint::operator-(fixedint other) {
  if (other.length != length) {
    throw std::length_error("Int sizes are not equal!");
  }
  fixedint negated = other.getcopy();  // logged: three lines, and one when it goes
  negated.flipsign();
  // The addition always respects the signs; our own flag comes back however it ends.
  struct restoresigned {
    fixedint& number;
    bool saved;
    ~restoresigned() { number.issigned = saved; }
  } guard{*this, issigned};
  issigned = true;
  return *this + negated;
}

fixedint fixedint::operator*(fixedint other) {
  if (other.length != length) {
    throw std::length_error("Int sizes are not equal!");
  }
  fixedint product(2 * length);  // logged: three lines at twice the length, then the resize's three
  if (significant_count(digits) + significant_count(other.digits) > product.digits.size()) {
    // Only when a digit vector is longer than `length`.
    throw std::out_of_range("Report this to dev: Out of range while running multiplication! Index: " +
                            std::to_string(product.digits.size()));
  }
  detail::multiply_digits(digits, other.digits, product.digits, length);
  if (issigned) {
    product.negative = negative != other.negative;
  }
  product.resize(length);
  return product;
}

fixedint fixedint::operator/(fixedint other) { return rounded_quotient(*this, other, rounding::down); }

fixedint fixedint::operator%(fixedint other) {
  check_lengths(*this, other);
  magnitudes division = divide_magnitudes(*this, other);
  return signed_result(length, division.remainder, issigned && negative);
}

fixedint fixedint::divide(fixedint other, rounding mode) { return rounded_quotient(*this, other, mode); }

// Copies and sign.

fixedint fixedint::getcopy() {
  fixedint copy(length);
  copy.negative = negative;
  copy.issigned = issigned;
  copy.throwonoverflow = throwonoverflow;
  copy.digits = digits;
  return copy;
}

fixedint fixedint::abs() {
  fixedint copy = getcopy();
  copy.negative = false;
  return copy;
}

fixedint& fixedint::flipsign() {
  negative = !negative;
  return *this;
}

std::string fixedint::asstring() {
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

double fixedint::todouble() { return detail::to_double(detail::normalised_copy(digits, length), 0, negative); }

bool fixedint::wordmagnitude(unsigned long long& magnitude) {
  return detail::to_word(detail::normalised_copy(digits, length), magnitude);
}

void detail::throw_value_does_not_fit() { throw std::out_of_range("Value does not fit!"); }

// Text in and out.

std::from_chars_result from_chars(const char* first, const char* last, fixedint& value) {
  const std::string_view text(first, static_cast<std::size_t>(last - first));
  const std::size_t size = detail::decimal_prefix(text, false);
  if (size == 0) {
    return {first, std::errc::invalid_argument};
  }
  const auto parts = detail::split_decimal(text.substr(0, size), false);
  if (parts->integer.size() > value.length) {
    return {first + size, std::errc::result_out_of_range};
  }
  assign_magnitude(value, parts->integer, parts->minus && !parts->integer.empty());
  return {first + size, std::errc{}};
}

std::to_chars_result to_chars(char* first, char* last, const fixedint& value) {
  char* end = nullptr;
  if (detail::digits_in_range(value.digits)) {
    end = detail::write_integer_text(value.digits, value.negative, first, last);
  } else {
    // Elements outside 0 to 9 (only from writing the fields) print as asstring() prints them.
    const std::string text = const_cast<fixedint&>(value).asstring();  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    end = static_cast<std::size_t>(last - first) < text.size() ? nullptr : std::copy(text.begin(), text.end(), first);
  }
  return end == nullptr ? std::to_chars_result{last, std::errc::value_too_large} : std::to_chars_result{end, std::errc{}};
}

std::istream& operator>>(std::istream& in, fixedint& number) {
  const std::istream::sentry ready(in);
  if (ready) {
    const std::string token = detail::read_decimal_token(in, false);
    const auto [end, error] = from_chars(token.data(), token.data() + token.size(), number);
    if (error != std::errc{} || end != token.data() + token.size()) {
      in.setstate(std::ios::failbit);
    }
  }
  return in;
}

}  // namespace VELDAR

std::ostream& VELDAR::operator<<(std::ostream& out, const fixedint& number) {
  // asstring() changes nothing; it is not const only because no member is.
  return out << const_cast<fixedint&>(number).asstring();  // NOLINT(cppcoreguidelines-pro-type-const-cast)
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
