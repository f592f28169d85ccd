// fixedfloat: a fixed-point decimal number with an even number of digits,
// split evenly between the integer part and the fraction.
//
// A number of length 8 runs from 0000.0000 to 9999.9999 in steps of 0.0001.
// Its digits live in `value`, a fixedint holding the magnitude times
// 10^(length/2); the sign is kept apart in `negative`, and `value`'s own sign
// flag stays clear. Results are truncated to the length: the integer part is
// kept modulo 10^(length/2) and the fraction is cut toward zero.
//
// Like fixedint, every construction and destruction writes to the module log,
// an operation that throws changes nothing (std::bad_alloc included), and one
// number shared between threads needs the caller's lock.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <type_traits>

#include <veldar/export.h>  // VELDAR_EXPORT: the interface a shared libveldar exports
#include <veldar/fixedint.h>
#include <veldar/rounding.h>

namespace VELDAR {

class VELDAR_EXPORT fixedfloat {
 public:
  fixedint value;                  // the magnitude times 10^(length/2); sign flag clear
  unsigned long long length = 0;   // total digits, always even
  bool issigned = true;            // whether a product takes a sign
  bool negative = false;           // the sign; may be set on a zero ("-0.0")

  // Construction.

  // The number 0.0 with `length` digits. An odd length throws
  // std::runtime_error "length should be able to be divided by 2!".
  explicit fixedfloat(unsigned long long length);
  // The number 0.0 with `length` digits: the library's own results.
  fixedfloat(detail::unlogged, unsigned long long length);
  fixedfloat(const fixedfloat&) = default;      // silent, like fixedint's
  fixedfloat(fixedfloat&&) noexcept = default;  // silent as well
  fixedfloat& operator=(const fixedfloat&) = default;  // nothing changes when memory runs out
  fixedfloat& operator=(fixedfloat&&) noexcept = default;
  ~fixedfloat();  // logs "Deleting fixedfloat object!", then value's deletion

  // Resets the number to 0.0 with a new length; an odd length throws as the
  // constructor does and changes nothing.
  void init(unsigned long long length);

  // Assignment; both keep `length`.

  // The integer `v` with a zero fraction, its sign taken over; the integer
  // part keeps the low length/2 digits (123456 at length 8 -> 3456.0). A `v`
  // shorter than length/2 throws std::out_of_range "Val too small for
  // fixedfloat!" and changes nothing.
  fixedfloat& operator=(fixedint v);
  // The decimal number the float stands for, its shortest round-trip text:
  // 0.123f -> 0.123, 0.05f -> 0.05, -0.5f -> -0.5, -0.0f -> 0.0. Throws, and
  // changes nothing, when the integer part has more than length/2 digits or is
  // infinite (std::out_of_range "Input int bigger than size!"), when the
  // fraction has more than length/2 digits (std::length_error "Fraction of
  // float too big to fit in fixedfloat!") and for NaN
  // (std::invalid_argument "Float is not a number!").
  fixedfloat& operator=(float x);
  // The decimal text: an optional sign, integer digits, and optionally "." and
  // fraction digits ("-0.05", "1200.05", ".5", "5."), exactly. The digit
  // counts throw as for a float (leading zeros of the integer and trailing
  // zeros of the fraction do not count); other text throws
  // std::invalid_argument "Not a decimal number!". Nothing changes on a throw.
  fixedfloat& operator=(const std::string& text);
  // The decimal number the double stands for, its shortest round-trip text:
  // 1234.5678 -> 1234.5678 (through a float it would be 1234.5677). The
  // errors and the log lines of the float assignment.
  fixedfloat& operator=(double x);
  // Does not compile: a long double has digits neither text form keeps.
  fixedfloat& operator=(long double x) = delete;
  // An integer of any type, exactly, with a zero fraction: x = 0, x = 5LL.
  template <typename integer, std::enable_if_t<std::is_integral_v<integer>, int> = 0>
  fixedfloat& operator=(integer v) {
    return *this = std::to_string(v);
  }

  // Parts and text.

  void updsign();  // moves `value`'s sign flag into `negative`
  // The magnitude of the integer part in the low digits of a fixedint of
  // `length` digits: 78.9 at length 8 -> 00000078, -2.5 -> 2.
  fixedint getintpart();
  // `value` with its integer digits cleared: 78.9 at length 8 -> 00009000.
  fixedint getfractionpart();
  // "-", the integer part without leading zeros, ".", the fraction without
  // trailing zeros, at least one digit on each side: "0.123", "-2.5", "0.0",
  // "-0.0" for a negative zero.
  std::string asstring();
  // The text with exactly `fractiondigits` fraction digits, rounded by
  // `mode`, trailing zeros kept: 2.5 with 2 -> "2.50", 2.345 with 2 ->
  // "2.34", 0 with 0 -> "0", -0.001 with 2 -> "-0.00". More than length/2
  // throws std::out_of_range "Fraction digits out of range!". Logs nothing.
  std::string tofixed(unsigned long long fractiondigits, rounding mode = rounding::halfeven);

  // Conversions to machine numbers; neither logs anything.

  // The double nearest to the value, correctly rounded: 0.1 -> 0.1; an
  // infinity of the number's sign past the double range.
  double todouble();
  // The integer part once the fraction is rounded by `mode`: 2.5 with
  // halfeven -> 2, -2.5 with floor -> -3. A value that does not fit throws
  // std::out_of_range "Value does not fit!"; rounding::exact with a fraction
  // throws std::domain_error "Rounding necessary!".
  template <typename integer>
  integer tointeger(rounding mode) {
    static_assert(std::is_integral_v<integer>, "tointeger() gives integral types");
    unsigned long long magnitude = 0;
    const bool fits = wordmagnitude(mode, magnitude);
    return detail::to_integer<integer>(magnitude, negative, fits);
  }

  // Arithmetic.

  // The product, truncated to the length: 78.9 * 0.123 at length 8 -> 9.7047,
  // 99.0 * 99.0 at length 4 -> 1.0 (9801 kept to two integer digits). Negative
  // when the signs differ and `issigned` is set. Another length throws
  // std::length_error "Size is not equal!".
  fixedfloat operator*(fixedfloat other);
  // Division, rounding, and products rounded as asked. Another length
  // throws std::length_error "Size is not equal!", a zero divisor
  // std::domain_error "Division by zero!". Results keep length/2 fraction
  // digits and the integer part modulo 10^(length/2), as * keeps them, and
  // their sign as * sets it: negative when the signs differ and `issigned` is
  // set. Each logs an entry line naming it, then the thirteen lines of the
  // result, and "Done.":
  //   /, divide()  "Division operation in fixedfloat."
  //   multiply()   "Rounded multiplication operation in fixedfloat."
  //   round()      "Rounding operation in fixedfloat." (no result: "Done." follows)
  //   assign()     "Rounded assignment operation in fixedfloat.", then the
  //                lines of operator= with the rounded text
  // rounding::exact throws std::domain_error "Rounding necessary!" when a
  // digit other than 0 would be dropped. A failed operation changes nothing.

  // The exact quotient cut toward zero: 1 / 3 at length 8 -> 0.3333,
  // 2 / 0.5 -> 4.0, -1 / 8 -> -0.125.
  fixedfloat operator/(fixedfloat other);
  // The exact quotient rounded by `mode`: 2 / 3 at length 8 with halfeven -> 0.6667.
  fixedfloat divide(fixedfloat other, rounding mode);
  // The exact product rounded by `mode`: 0.0005 * 0.5 at length 8 with halfup
  // -> 0.0003. With rounding::down it is *'s result: 0.0002.
  fixedfloat multiply(fixedfloat other, rounding mode);
  // Rounds this number in place to at most `fractiondigits` fraction digits:
  // 2.345 with 2 and halfeven -> 2.34. The integer part wraps as in +
  // (9999.9999 at length 8 with 0 and halfup -> 0.0), and a zero result is
  // 0.0, never -0.0. More than length/2 throws std::out_of_range "Fraction
  // digits out of range!".
  fixedfloat& round(unsigned long long fractiondigits, rounding mode);
  // Decimal text as operator= takes it, its extra fraction digits rounded by
  // `mode` instead of refused: "0.125" at length 4 with halfeven -> 0.12.
  // Throws as operator= does, and std::out_of_range "Input int bigger than
  // size!" when the rounding carries the integer part past length/2 digits.
  fixedfloat& assign(const std::string& text, rounding mode);

  // The exact sum and difference, the integer part kept to length/2 digits:
  // 9999.5 + 0.5 at length 8 -> 0.0, -1.25 - 0.5 -> -1.75. A zero result is
  // 0.0, never -0.0. Neither operand changes. Another length throws
  // std::length_error "Size is not equal!"; digit elements outside 0 to 9,
  // written into the fields directly, may throw std::out_of_range "Carry
  // over 9!" as fixedint's + does.
  fixedfloat operator+(fixedfloat other);
  fixedfloat operator-(fixedfloat other);

  // Comparison by value: 0.0 == -0.0, -2.5 < -0.5. Another length throws
  // std::length_error "Size is not equal!".
  bool operator==(fixedfloat other);
  bool operator!=(fixedfloat other);
  bool operator<(fixedfloat other);
  bool operator>(fixedfloat other);
  bool operator<=(fixedfloat other);
  bool operator>=(fixedfloat other);

 private:
  bool wordmagnitude(rounding mode, unsigned long long& magnitude);
};

// Writes number.asstring() (and so logs as asstring() does): "-2.5".
VELDAR_EXPORT std::ostream& operator<<(std::ostream& out, const fixedfloat& number);
// Reads one decimal token (an optional sign, digits and one optional point)
// after whitespace: "-0.05%" reads -0.05 and leaves "%". A token that is no
// number, or has too many integer or fraction digits, sets failbit and
// leaves the number as it was.
VELDAR_EXPORT std::istream& operator>>(std::istream& in, fixedfloat& number);

// Reads the longest prefix of [first, last) that is a fixed-point text, as
// std::from_chars does: "1.5x" -> 1.5, ptr at "x". std::errc::invalid_argument
// when there is none, std::errc::result_out_of_range when it has more than
// length/2 integer or fraction digits; value is unchanged then. On success
// the value and the log lines are those of value = text.
VELDAR_EXPORT std::from_chars_result from_chars(const char* first, const char* last, fixedfloat& value);
// Writes value.asstring() to [first, last), or gives std::errc::value_too_large
// with nothing promised in the buffer; no allocation, no log line.
VELDAR_EXPORT std::to_chars_result to_chars(char* first, char* last, const fixedfloat& value);

}  // namespace VELDAR

// Hashing and equality by value, as fixedfloat's == (0.0 and -0.0 are equal
// and hash alike; numbers of different lengths are never equal), read in place
// without copies or log lines, so that std::unordered_map<VELDAR::fixedfloat, T>
// works as it is.
namespace std {
template <>
struct hash<VELDAR::fixedfloat> {
  VELDAR_EXPORT size_t operator()(const VELDAR::fixedfloat& number) const noexcept;
};
template <>
struct equal_to<VELDAR::fixedfloat> {
  VELDAR_EXPORT bool operator()(const VELDAR::fixedfloat& a, const VELDAR::fixedfloat& b) const noexcept;
};
}  // namespace std
