// fixedfloat. Where the log is the interface: the fixed-point operations make
// fixedint temporaries whose lines are observable, pinned by the transcripts
// in tests/fixedfloat_core_test.cpp and tests/fixedfloat_arithmetic_test.cpp:
// - * writes the lines of widened copies of both values (getcopy() and
//   resize()), their product and its cut back, and multiplies the values
//   themselves;
// - + and - take signed copies of both values (getcopy()) and add them;
// - asstring() takes the integer and the fraction parts (getcopy()) and
//   compares the fraction with a fresh zero;
// - the assignments from a fixedint, a float, text or an integer place their
//   digits directly but write the lines of the steps they stand for: the
//   integer part, its widening and one multiplication by ten per fraction
//   place, and the fraction added to it (log_scaling() and assign_decimal()).
// Each such temporary is marked at its line.
#include <veldar/fixedfloat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <istream>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <utility>

#include <veldar/diagnostics.h>

#include "digits.h"
#include "log_line.h"
#include "products.h"
#include "quotients.h"
#include "text.h"

namespace VELDAR {

namespace {

using detail::decimal_text;
using detail::digit_vector;

// The log lines of the fixedint steps that the assignments take without
// making the numbers: their digits are placed directly, while the log reads
// exactly as if every step had been taken with a real temporary.
void log_construction(unsigned long long length) {
  setup();
  detail::log_lines({"New fixedint object!", {"Resizing Digits to: ", length}, "Done."});
}

void log_resize(unsigned long long length) {
  detail::log_lines({"Resize requested in fixedint.", {"Resizing Digits to: ", length}, "Done."});
}

void log_deletion() { detail::log_line("Deleted fixedint object."); }

// Scaling an integer to the fixed point, one multiplication by ten per
// fraction place: the ten, the product at twice the length cut back to the
// length, and the two deletions.
void log_scaling(unsigned long long length) {
  detail::log_lines_repeated({"New fixedint object!", {"Resizing Digits to: ", length}, "Done.",  // the ten
                              "New fixedint object!", {"Resizing Digits to: ", 2 * length}, "Done.",  // the product
                              "Resize requested in fixedint.", {"Resizing Digits to: ", length}, "Done.",
                              "Deleted fixedint object.", "Deleted fixedint object."},
                             length / 2);
}

// Sets `number` to the decimal number `parts`. Both digit counts are checked
// before anything changes; the new digits are placed aside and taken over at
// the end. The log tells the steps the value takes: the integer part arrives
// through a fixedint of length/2 digits, is widened and scaled, and the
// fraction, in a fixedint of `length` digits, is added to it.
void assign_decimal(fixedfloat& number, const decimal_text& parts) {
  const unsigned long long length = number.length;
  const unsigned long long half = length / 2;
  if (parts.integer.size() > half) {
    throw std::out_of_range("Input int bigger than size!");
  }
  if (parts.fraction.size() > half) {
    throw std::length_error("Fraction of float too big to fit in fixedfloat!");
  }
  digit_vector digits(length, 0);
  detail::place_digits(digits, parts.integer, half);
  // The fraction's first digit goes to the first place after the point.
  detail::place_digits(digits, parts.fraction, half - parts.fraction.size());

  log_construction(half);  // the integer part
  log_resize(length);      // widened to the length
  log_scaling(length);
  log_deletion();
  if (!parts.fraction.empty()) {
    log_construction(length);  // the fraction
    log_construction(length);  // the working sum of the value and the fraction
    log_deletion();            // the working sum
    log_deletion();            // the sum, once the value has taken it
    log_deletion();            // the copy of the fraction that was added
    log_deletion();            // the fraction
  }

  fixedint& value = number.value;
  value.digits.swap(digits);
  value.length = length;
  value.negative = false;
  value.issigned = true;  // the flags every product and sum carries
  value.throwonoverflow = false;
  // -0.0 has no sign; -0.5 keeps its sign although its integer part is 0.
  number.negative = parts.minus && !(parts.integer.empty() && parts.fraction.empty());
}

// Sets `number` to the decimal number a float or double stands for: the
// digits std::to_chars gives in fixed notation, the shortest text that reads
// back as the same value.
template <typename floating>
void assign_binary(fixedfloat& number, floating x) {
  if (std::isnan(x)) {
    throw std::invalid_argument("Float is not a number!");
  }
  if (std::isinf(x)) {
    throw std::out_of_range("Input int bigger than size!");
  }
  // Every finite double in fixed notation: at most 309 integer digits, or a
  // point and 327 fraction digits.
  std::array<char, 400> buffer{};
  const auto converted = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x, std::chars_format::fixed);
  assign_decimal(number, *detail::split_decimal(
                             {buffer.data(), static_cast<std::size_t>(converted.ptr - buffer.data())}, true));
}

bool is_zero(const fixedfloat& number) { return detail::significant_count(number.value.digits) == 0; }

// -1, 0 or 1 as a's value is below, equal to or above b's; same lengths.
int compare_values(const fixedfloat& a, const fixedfloat& b) {
  const auto sign = [](const fixedfloat& x) { return is_zero(x) ? 0 : x.negative ? -1 : 1; };
  const int sign_a = sign(a);
  const int sign_b = sign(b);
  if (sign_a != sign_b || sign_a == 0) {
    return sign_a < sign_b ? -1 : sign_a > sign_b ? 1 : 0;
  }
  return detail::compare_magnitudes(a.value.digits, b.value.digits) * sign_a;
}

// A comparison as the operators make it: logged on entry and at the end.
template <typename test>
bool compare(const fixedfloat& a, const fixedfloat& b, std::string_view message, test holds) {
  detail::log_line(message);
  if (a.length != b.length) {
    throw std::length_error("Size is not equal!");
  }
  const bool result = holds(compare_values(a, b));
  detail::log_line("Done.");
  return result;
}

// The value of `number` with its sign, as a copy (logged) that adds with the
// signs respected and hands no carry back into `number`.
fixedint signed_value(fixedfloat& number) {
  fixedint copy = number.value.getcopy();
  copy.negative = number.negative;
  copy.issigned = true;
  copy.throwonoverflow = false;
  return copy;
}

// a + b or a - b on signed copies of the values, logged under `name`.
fixedfloat signed_sum(fixedfloat& a, fixedfloat& b, bool subtract, std::string_view name) {
  detail::log_line(name);
  if (a.length != b.length) {
    throw std::length_error("Size is not equal!");
  }
  fixedfloat result(a.length);
  {
    fixedint left = signed_value(a);  // logged: both signed copies and the sum
    fixedint right = signed_value(b);
    result.value = subtract ? left - right : left + right;
    result.updsign();
  }
  result.negative = result.negative && !is_zero(result);  // the top digits may wrap to -0
  detail::log_line("Done.");
  return result;
}

// A new number of `length` (logged: its thirteen lines) whose value takes the
// low `length` digits of the magnitude `digits`, negative when `minus` says
// so, as * sets the sign.
fixedfloat fixed_result(unsigned long long length, digit_vector& digits, bool minus) {
  fixedfloat result(length);
  digits.resize(length);
  result.value.digits.swap(digits);
  result.negative = minus;
  return result;
}

// a / b rounded by `mode`, for / and divide(), which take `b` by value: a
// call of one from the other would copy it once more, and log that copy.
fixedfloat rounded_quotient(const fixedfloat& a, const fixedfloat& b, rounding mode) {
  detail::log_line("Division operation in fixedfloat.");
  if (b.length != a.length) {
    throw std::length_error("Size is not equal!");
  }
  const unsigned long long half = a.length / 2;
  const digit_vector divisor = detail::normalised_copy(b.value.digits, a.length);
  if (detail::significant_count(divisor) == 0) {
    throw std::domain_error("Division by zero!");
  }
  // Both values hold their numbers times 10^half: the dividend takes another
  // 10^half, so that the quotient comes out times 10^half as well.
  digit_vector dividend = detail::normalised_copy(a.value.digits, a.length + half);
  detail::shift_up(dividend, half);
  digit_vector quotient;
  digit_vector remainder;
  detail::divide_digits(dividend, divisor, quotient, remainder);
  const bool minus = a.issigned && a.negative != b.negative;
  detail::round_quotient(quotient, remainder, divisor, mode, minus);
  fixedfloat result = fixed_result(a.length, quotient, minus);
  detail::log_line("Done.");
  return result;
}

}  // namespace

// Construction.

fixedfloat::fixedfloat(unsigned long long length) : value(0) {
  detail::log_lines({"Creating new fixedfloat object!", {"Init called on fixedfloat with length: ", length}});
  reset(length);
}

fixedfloat::fixedfloat(detail::unlogged unlogged, unsigned long long length)
    : value(unlogged, digit_vector(length)), length(length) {}

fixedfloat::~fixedfloat() { detail::log_line("Deleting fixedfloat object!"); }

void fixedfloat::init(unsigned long long length) {
  detail::log_line("Init called on fixedfloat with length: ", length);
  reset(length);
}

void fixedfloat::reset(unsigned long long length) {
  if (length % 2 != 0) {
    throw std::runtime_error("length should be able to be divided by 2!");
  }
  // The new digits first, so that nothing changes when they cannot be had;
  // they stand for a fixedint of `length` digits made and copied into value.
  digit_vector digits;
  try {
    digits.resize(length);
  } catch (...) {
    detail::log_lines({"Register size.", "Init boolean properties.", "Init digits.", "New fixedint object!",
                       {"Resizing Digits to: ", length}});
    throw;
  }
  detail::log_lines({"Register size.", "Init boolean properties.", "Init digits.", "New fixedint object!",
                     {"Resizing Digits to: ", length}, "Done.", "Deleted fixedint object.", "Done."});
  value.digits.swap(digits);
  value.length = length;
  value.negative = false;
  value.issigned = true;
  value.throwonoverflow = false;
  this->length = length;
  issigned = true;
  negative = false;
}

// Assignment.

fixedfloat& fixedfloat::operator=(fixedint v) {
  if (v.length < length / 2) {
    throw std::out_of_range("Val too small for fixedfloat!");
  }
  // The work is done on `v`, this call's own copy, and taken over at the end.
  const unsigned long long half = length / 2;
  v.resize(length);
  const bool minus = v.negative;
  v.negative = false;
  if (detail::digits_in_range(v.digits)) {
    // Times 10^half, as half multiplications by ten would leave it: the low
    // half moves up, with the flags of a product.
    std::copy_backward(v.digits.begin(), v.digits.end() - static_cast<std::ptrdiff_t>(half), v.digits.end());
    std::fill_n(v.digits.begin(), half, 0);
    if (half > 0) {
      v.issigned = true;
      v.throwonoverflow = false;
    }
    log_scaling(length);
  } else {
    // Elements outside 0 to 9 (only from writing the fields) carry as the product makes them.
    for (unsigned long long i = 0; i < half; ++i) {
      v = v * fixedint(length, 10);
    }
  }
  value = std::move(v);
  negative = minus;
  return *this;
}

fixedfloat& fixedfloat::operator=(float x) {
  assign_binary(*this, x);
  return *this;
}

fixedfloat& fixedfloat::operator=(double x) {
  assign_binary(*this, x);
  return *this;
}

fixedfloat& fixedfloat::operator=(const std::string& text) {
  const std::optional<decimal_text> parts = detail::split_decimal(text, true);
  if (!parts) {
    throw std::invalid_argument("Not a decimal number!");
  }
  assign_decimal(*this, *parts);
  return *this;
}

// Parts and text.

fixedint& fixedint::operator=(fixedfloat& f) {
  *this = f.getintpart();  // a move: nothing changes when getintpart() throws
  return *this;
}

void fixedfloat::updsign() {
  negative = value.negative;
  value.negative = false;
}

fixedint fixedfloat::getintpart() {
  fixedint part = value.getcopy();
  detail::shift_down(part.digits, length / 2);
  return part;
}

fixedint fixedfloat::getfractionpart() {
  fixedint part = value.getcopy();
  const auto half = static_cast<std::ptrdiff_t>(std::min<unsigned long long>(length / 2, part.digits.size()));
  std::fill(part.digits.begin() + half, part.digits.end(), 0);
  return part;
}

std::string fixedfloat::asstring() {
  std::string text = negative ? "-" : "";
  {
    fixedint integer = getintpart();  // logged: three lines, and one when it goes
    text += integer.asstring();
    if (integer.digits.empty()) {
      text += '0';  // length 0: no integer digits at all
    }
  }
  text += '.';
  fixedint fraction = getfractionpart();  // logged, as is the zero it is compared with
  fraction.negative = false;  // the fraction's digits only, whatever value's flag says
  if (fraction == fixedint(fraction.length)) {
    return text + '0';
  }
  const unsigned long long half = length / 2;
  fraction.resize(half);
  // Leading zeros back in front, trailing zeros off: 0500 -> "05".
  std::string digits = fraction.asstring();
  digits.insert(0, half - std::min<unsigned long long>(digits.size(), half), '0');
  digits.erase(digits.find_last_not_of('0') + 1);
  return text + digits;
}

// Arithmetic.

fixedfloat fixedfloat::operator*(fixedfloat other) {
  if (other.length != length) {
    detail::log_line("Multiplication operation in fixedfloat. (oh boy)");
    throw std::length_error("Size is not equal!");
  }
  // The product at twice the length, where no digit is lost; then the point
  // moves left by half the length and the top digits go.
  const std::size_t room = std::max<std::size_t>(
      2 * length, detail::significant_count(value.digits) + detail::significant_count(other.value.digits));
  digit_vector product(room, 0);
  detail::multiply_digits(value.digits, other.value.digits, product, 2 * length);
  detail::shift_down(product, length / 2);
  product.resize(length);
  fixedfloat result(detail::unlogged{}, length);
  result.value.digits.swap(product);
  result.negative = issigned && negative != other.negative;
  // The log reads as the steps have always been taken: the result made, both
  // values copied (getcopy()) and widened to twice the length, multiplied
  // into a number of four times the length cut back to twice, both copies
  // gone, the product cut to the length, and gone too.
  detail::log_lines({"Multiplication operation in fixedfloat. (oh boy)",
                     "New fixedint object!", {"Resizing Digits to: ", 0}, "Done.",  // the result
                     "Creating new fixedfloat object!", {"Init called on fixedfloat with length: ", length},
                     "Register size.", "Init boolean properties.", "Init digits.",
                     "New fixedint object!", {"Resizing Digits to: ", length}, "Done.", "Deleted fixedint object.",
                     "Done.",
                     "New fixedint object!", {"Resizing Digits to: ", length}, "Done.",  // the left copy
                     "Resize requested in fixedint.", {"Resizing Digits to: ", 2 * length}, "Done.",
                     "New fixedint object!", {"Resizing Digits to: ", length}, "Done.",  // the right copy
                     "Resize requested in fixedint.", {"Resizing Digits to: ", 2 * length}, "Done.",
                     "New fixedint object!", {"Resizing Digits to: ", 4 * length}, "Done.",  // the product
                     "Resize requested in fixedint.", {"Resizing Digits to: ", 2 * length}, "Done.",
                     "Deleted fixedint object.", "Deleted fixedint object.",
                     "Resize requested in fixedint.", {"Resizing Digits to: ", length}, "Done.",
                     "Deleted fixedint object.", "Done."});
  return result;
}

fixedfloat fixedfloat::operator+(fixedfloat other) {
  return signed_sum(*this, other, false, "Addition operation in fixedfloat.");
}

fixedfloat fixedfloat::operator-(fixedfloat other) {
  return signed_sum(*this, other, true, "Subtraction operation in fixedfloat.");
}

fixedfloat fixedfloat::operator/(fixedfloat other) { return rounded_quotient(*this, other, rounding::down); }

fixedfloat fixedfloat::divide(fixedfloat other, rounding mode) { return rounded_quotient(*this, other, mode); }

fixedfloat fixedfloat::multiply(fixedfloat other, rounding mode) {
  detail::log_line("Rounded multiplication operation in fixedfloat.");
  if (other.length != length) {
    throw std::length_error("Size is not equal!");
  }
  // The exact product, times 10^length, back to 10^(length/2) by rounding.
  digit_vector product(2 * length, 0);
  detail::multiply_digits(detail::normalised_copy(value.digits, length),
                          detail::normalised_copy(other.value.digits, length), product, 2 * length);
  const bool minus = issigned && negative != other.negative;
  detail::round_down_places(product, length / 2, mode, minus);
  fixedfloat result = fixed_result(length, product, minus);
  detail::log_line("Done.");
  return result;
}

fixedfloat& fixedfloat::round(unsigned long long fractiondigits, rounding mode) {
  detail::log_line("Rounding operation in fixedfloat.");
  const unsigned long long half = length / 2;
  if (fractiondigits > half) {
    throw std::out_of_range("Fraction digits out of range!");
  }
  const std::size_t places = half - fractiondigits;
  digit_vector digits = detail::normalised_copy(value.digits, length);
  detail::round_down_places(digits, places, mode, negative);
  detail::shift_up(digits, places);  // a carry out of the integer part is dropped, as + drops it
  value.digits.swap(digits);
  negative = negative && detail::significant_count(value.digits) != 0;
  detail::log_line("Done.");
  return *this;
}

fixedfloat& fixedfloat::assign(const std::string& text, rounding mode) {
  detail::log_line("Rounded assignment operation in fixedfloat.");
  std::optional<decimal_text> parts = detail::split_decimal(text, true);
  if (!parts) {
    throw std::invalid_argument("Not a decimal number!");
  }
  const std::size_t half = length / 2;
  std::string rounded;  // holds the rounded digits that `parts` then points into
  if (parts->fraction.size() > half) {
    // The number times 10^(its fraction digits), with room for a carry, cut
    // to `half` fraction digits by `mode`.
    const std::size_t places = parts->fraction.size();
    digit_vector digits(parts->integer.size() + places + 1, 0);
    detail::place_digits(digits, parts->integer, places);
    detail::place_digits(digits, parts->fraction, 0);
    detail::round_down_places(digits, places - half, mode, parts->minus);
    rounded.resize(digits.size() - (places - half));
    std::transform(digits.rbegin() + static_cast<std::ptrdiff_t>(places - half), digits.rend(), rounded.begin(),
                   [](signed char d) { return static_cast<char>('0' + d); });
    rounded.insert(rounded.end() - static_cast<std::ptrdiff_t>(half), '.');
    rounded.insert(0, parts->minus ? "-" : "");
    parts = detail::split_decimal(rounded, true);
  }
  assign_decimal(*this, *parts);
  detail::log_line("Done.");
  return *this;
}

// Conversions.

std::string fixedfloat::tofixed(unsigned long long fractiondigits, rounding mode) {
  const unsigned long long half = length / 2;
  if (fractiondigits > half) {
    throw std::out_of_range("Fraction digits out of range!");
  }
  std::string text(length + 4, '\0');  // a sign, a carried digit, a point and the digits
  const char* end = detail::write_fixed_places(detail::normalised_copy(value.digits, length), half, negative,
                                               fractiondigits, mode, text.data(), text.data() + text.size());
  text.resize(static_cast<std::size_t>(end - text.data()));
  return text;
}

double fixedfloat::todouble() {
  return detail::to_double(detail::normalised_copy(value.digits, length), length / 2, negative);
}

bool fixedfloat::wordmagnitude(rounding mode, unsigned long long& magnitude) {
  return detail::to_rounded_word(detail::normalised_copy(value.digits, length), length / 2, negative, mode,
                                 magnitude);
}

// Comparison.

bool fixedfloat::operator==(fixedfloat other) {
  return compare(*this, other, "Comparison operation in fixedfloat (==).", [](int order) { return order == 0; });
}

bool fixedfloat::operator!=(fixedfloat other) {
  return compare(*this, other, "Comparison operation in fixedfloat (!=).", [](int order) { return order != 0; });
}

bool fixedfloat::operator<(fixedfloat other) {
  return compare(*this, other, "Comparison operation in fixedfloat (<).", [](int order) { return order < 0; });
}

bool fixedfloat::operator>(fixedfloat other) {
  return compare(*this, other, "Comparison operation in fixedfloat (>).", [](int order) { return order > 0; });
}

bool fixedfloat::operator<=(fixedfloat other) {
  return compare(*this, other, "Comparison operation in fixedfloat (<=).", [](int order) { return order <= 0; });
}

bool fixedfloat::operator>=(fixedfloat other) {
  return compare(*this, other, "Comparison operation in fixedfloat (>=).", [](int order) { return order >= 0; });
}

std::from_chars_result from_chars(const char* first, const char* last, fixedfloat& value) {
  const std::string_view text(first, static_cast<std::size_t>(last - first));
  const std::size_t size = detail::decimal_prefix(text, true);
  if (size == 0) {
    return {first, std::errc::invalid_argument};
  }
  const auto parts = detail::split_decimal(text.substr(0, size), true);
  if (std::max(parts->integer.size(), parts->fraction.size()) > value.length / 2) {
    return {first + size, std::errc::result_out_of_range};
  }
  assign_decimal(value, *parts);
  return {first + size, std::errc{}};
}

std::to_chars_result to_chars(char* first, char* last, const fixedfloat& value) {
  char* end = nullptr;
  if (detail::digits_in_range(value.value.digits) && value.value.digits.size() == value.length) {
    end = detail::write_fixed_text(value.value.digits, value.length / 2, value.negative, value.value.negative, first,
                                   last);
  } else {
    // Elements outside 0 to 9 (only from writing the fields) print as asstring() prints them.
    const std::string text = const_cast<fixedfloat&>(value).asstring();  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    end = static_cast<std::size_t>(last - first) < text.size() ? nullptr : std::copy(text.begin(), text.end(), first);
  }
  return end == nullptr ? std::to_chars_result{last, std::errc::value_too_large} : std::to_chars_result{end, std::errc{}};
}

std::istream& operator>>(std::istream& in, fixedfloat& number) {
  const std::istream::sentry ready(in);
  if (ready) {
    const std::string token = detail::read_decimal_token(in, true);
    const auto [end, error] = from_chars(token.data(), token.data() + token.size(), number);
    if (error != std::errc{} || end != token.data() + token.size()) {
      in.setstate(std::ios::failbit);
    }
  }
  return in;
}

std::ostream& operator<<(std::ostream& out, const fixedfloat& number) {
  // asstring() changes nothing; it is not const only because no member is.
  return out << const_cast<fixedfloat&>(number).asstring();  // NOLINT(cppcoreguidelines-pro-type-const-cast)
}

}  // namespace VELDAR

std::size_t std::hash<VELDAR::fixedfloat>::operator()(const VELDAR::fixedfloat& number) const noexcept {
  return VELDAR::detail::hash_digits(number.value.digits, number.negative && !VELDAR::is_zero(number));
}

bool std::equal_to<VELDAR::fixedfloat>::operator()(const VELDAR::fixedfloat& a,
                                                    const VELDAR::fixedfloat& b) const noexcept {
  return a.length == b.length && VELDAR::compare_values(a, b) == 0;
}
