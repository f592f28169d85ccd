/// @file
///
/// fixedfloat: a fixed-point decimal number with an even number of digits,
/// split evenly between the integer part and the fraction.
///
/// A number of length 8 runs from 0000.0000 to 9999.9999 in steps of 0.0001.
/// Its digits live in `value`, a fixedint holding the magnitude times
/// 10^(length/2); the sign is kept apart in `negative`, and `value`'s own sign
/// flag stays clear. Results are truncated to the length: the integer part is
/// kept modulo 10^(length/2) and the fraction is cut toward zero.
///
/// Like fixedint, every construction and destruction writes to the module log,
/// an operation that throws changes nothing (std::bad_alloc included), and one
/// number shared between threads needs the caller's lock.
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
  fixedint value;                 ///< the magnitude times 10^(length/2); sign flag clear
  unsigned long long length = 0;  ///< total digits, always even
  bool issigned = true;           ///< whether a product takes a sign
  bool negative = false;          ///< the sign; may be set on a zero ("-0.0")

  // Construction.

  /// A number of length 0, as fixedfloat(0) makes it (and logs it).
  fixedfloat();
  /// The number 0.0 with `length` digits. An odd length throws
  /// std::runtime_error "length should be able to be divided by 2!".
  explicit fixedfloat(unsigned long long length);
  /// fixedfloat(length), then the assignment of the value, with the log and
  /// the exceptions of both: fixedfloat(8, "1.25"), fixedfloat(8, 7),
  /// fixedfloat(8, 1234.5678). fixedfloat(4, 123) throws std::out_of_range
  /// "Input int bigger than size!".
  fixedfloat(unsigned long long length, const std::string& text);
  template <typename integer, std::enable_if_t<std::is_integral_v<integer>, int> = 0>
  fixedfloat(unsigned long long length, integer n) : value(detail::unlogged{}, {}) {
    construct(length);
    *this = n;
  }
  fixedfloat(unsigned long long length, double x);
  fixedfloat(unsigned long long length, float x);
  fixedfloat(unsigned long long length, long double x) = delete;
  /// The number 0.0 with `length` digits: the library's own results.
  fixedfloat(detail::unlogged, unsigned long long length);
  fixedfloat(const fixedfloat&) = default;             ///< silent, like fixedint's
  fixedfloat(fixedfloat&&) noexcept = default;         ///< silent as well
  fixedfloat& operator=(const fixedfloat&) = default;  ///< nothing changes when memory runs out
  fixedfloat& operator=(fixedfloat&&) noexcept = default;
  ~fixedfloat();  ///< logs "Deleting fixedfloat object!", then value's deletion

  /// Resets the number to 0.0 with a new length; an odd length throws as the
  /// constructor does and changes nothing.
  void init(unsigned long long length);

  // Assignment; both keep `length`.

  /// The integer `v` with a zero fraction, its sign taken over; the integer
  /// part keeps the low length/2 digits (123456 at length 8 -> 3456.0). A `v`
  /// shorter than length/2 throws std::out_of_range "Val too small for
  /// fixedfloat!" and changes nothing.
  fixedfloat& operator=(fixedint v);
  /// The decimal number the float stands for, its shortest round-trip text:
  /// 0.123f -> 0.123, 0.05f -> 0.05, -0.5f -> -0.5, -0.0f -> 0.0, 3e10f ->
  /// 30000000000.0 (not the binary value 30000001024). Throws, and
  /// changes nothing, when the integer part has more than length/2 digits or is
  /// infinite (std::out_of_range "Input int bigger than size!"), when the
  /// fraction has more than length/2 digits (std::length_error "Fraction of
  /// float too big to fit in fixedfloat!") and for NaN
  /// (std::invalid_argument "Float is not a number!").
  fixedfloat& operator=(float x);
  /// The decimal text: an optional sign, integer digits, and optionally "." and
  /// fraction digits ("-0.05", "1200.05", ".5", "5."), exactly. The digit
  /// counts throw as for a float (leading zeros of the integer and trailing
  /// zeros of the fraction do not count); other text throws
  /// std::invalid_argument "Not a decimal number!". Nothing changes on a throw.
  fixedfloat& operator=(const std::string& text);
  /// The decimal number the double stands for, its shortest round-trip text:
  /// 1234.5678 -> 1234.5678 (through a float it would be 1234.5677), 1e23 ->
  /// 100000000000000000000000.0. The errors and the log lines of the float
  /// assignment: 0.1 + 0.2, whose text is 0.30000000000000004, throws at
  /// length 8; assign(0.1 + 0.2, mode) rounds it.
  fixedfloat& operator=(double x);
  /// Does not compile: a long double has digits neither text form keeps.
  fixedfloat& operator=(long double x) = delete;
  /// An integer of any type, exactly, with a zero fraction: x = 0, x = 5LL.
  template <typename integer, std::enable_if_t<std::is_integral_v<integer>, int> = 0>
  fixedfloat& operator=(integer v) {
    return *this = std::to_string(v);
  }

  // Parts and text.

  void updsign();  ///< moves `value`'s sign flag into `negative`
  /// The magnitude of the integer part in the low digits of a fixedint of
  /// `length` digits: 78.9 at length 8 -> 00000078, -2.5 -> 2.
  fixedint getintpart();
  fixedint getintpart() const;
  /// `value` with its integer digits cleared: 78.9 at length 8 -> 00009000.
  fixedint getfractionpart();
  fixedint getfractionpart() const;
  /// "-", the integer part without leading zeros, ".", the fraction without
  /// trailing zeros, at least one digit on each side: "0.123", "-2.5", "0.0",
  /// "-0.0" for a negative zero.
  std::string asstring();
  std::string asstring() const;
  /// The text with exactly `fractiondigits` fraction digits, rounded by
  /// `mode`, trailing zeros kept: 2.5 with 2 -> "2.50", 2.345 with 2 ->
  /// "2.34", 0 with 0 -> "0", -0.001 with 2 -> "-0.00". Past length/2 the
  /// exact value is padded with zeros: 2.5 at length 4 with 4 -> "2.5000".
  /// Logs nothing.
  std::string tofixed(unsigned long long fractiondigits, rounding mode = rounding::halfeven);
  std::string tofixed(unsigned long long fractiondigits, rounding mode = rounding::halfeven) const;

  // Conversions to machine numbers; neither logs anything.

  /// The double nearest to the value, correctly rounded: 0.1 -> 0.1; an
  /// infinity of the number's sign past the double range.
  double todouble();
  double todouble() const;
  /// The integer part once the fraction is rounded by `mode`: 2.5 with
  /// halfeven -> 2, -2.5 with floor -> -3. A value that does not fit throws
  /// std::out_of_range "Value does not fit!"; rounding::exact with a fraction
  /// throws std::domain_error "Rounding necessary!".
  template <typename integer>
  integer tointeger(rounding mode) {
    return static_cast<const fixedfloat&>(*this).tointeger<integer>(mode);
  }
  template <typename integer>
  integer tointeger(rounding mode) const {
    static_assert(std::is_integral_v<integer>, "tointeger() gives integral types");
    unsigned long long magnitude = 0;
    const bool fits = wordmagnitude(mode, magnitude);
    return detail::to_integer<integer>(magnitude, negative, fits);
  }

  // Arithmetic. Each operator has a const overload beside it with the same
  // result and log (the deletion of the argument's copy included), and
  // `a op= b` is exactly `a = a op b`: its value, its exception (a changes
  // in neither case then) and its log. Machine integers mix in as numbers
  // of this length assigned from them (fixedint.h): x * 2, x += 1.

  /// The product, truncated to the length: 78.9 * 0.123 at length 8 -> 9.7047,
  /// 99.0 * 99.0 at length 4 -> 1.0 (9801 kept to two integer digits). Negative
  /// when the signs differ and `issigned` is set. Another length throws
  /// std::length_error "Size is not equal!".
  fixedfloat operator*(fixedfloat other);
  fixedfloat operator*(const fixedfloat& other) const;
  fixedfloat& operator*=(fixedfloat other);
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

  /// The exact quotient cut toward zero: 1 / 3 at length 8 -> 0.3333,
  /// 2 / 0.5 -> 4.0, -1 / 8 -> -0.125.
  fixedfloat operator/(fixedfloat other);
  fixedfloat operator/(const fixedfloat& other) const;
  fixedfloat& operator/=(fixedfloat other);
  /// The exact remainder x - trunc(x / y) * y, with the dividend's sign (0.0
  /// for none): 7.5 % 2 -> 1.5, -7.5 % 2 -> -1.5, 1 % 0.3 -> 0.1. The length
  /// rule and the zero divisor's exception of /. Logs "Remainder operation
  /// in fixedfloat.", the thirteen lines of the result and "Done.".
  fixedfloat operator%(fixedfloat other);
  fixedfloat operator%(const fixedfloat& other) const;
  fixedfloat& operator%=(fixedfloat other);
  /// The exact quotient rounded by `mode`: 2 / 3 at length 8 with halfeven -> 0.6667.
  fixedfloat divide(fixedfloat other, rounding mode);
  fixedfloat divide(const fixedfloat& other, rounding mode) const;
  /// The exact product rounded by `mode`: 0.0005 * 0.5 at length 8 with halfup
  /// -> 0.0003. With rounding::down it is *'s result: 0.0002.
  fixedfloat multiply(fixedfloat other, rounding mode);
  fixedfloat multiply(const fixedfloat& other, rounding mode) const;
  /// Rounds this number in place to at most `fractiondigits` fraction digits:
  /// 2.345 with 2 and halfeven -> 2.34. The integer part wraps as in +
  /// (9999.9999 at length 8 with 0 and halfup -> 0.0), and a zero result is
  /// 0.0, never -0.0. More than length/2 throws std::out_of_range "Fraction
  /// digits out of range!".
  fixedfloat& round(unsigned long long fractiondigits, rounding mode);
  /// Decimal text as operator= takes it, its extra fraction digits rounded by
  /// `mode` instead of refused: "0.125" at length 4 with halfeven -> 0.12.
  /// Throws as operator= does, and std::out_of_range "Input int bigger than
  /// size!" when the rounding carries the integer part past length/2 digits.
  fixedfloat& assign(const std::string& text, rounding mode);
  /// The double's or float's shortest round-trip text, as operator= reads it,
  /// its extra fraction digits rounded by `mode`: assign(0.1 + 0.2, halfeven)
  /// at length 8 -> 0.3. The log and the exceptions of the text's assign(),
  /// and those of operator= for NaN and infinities.
  fixedfloat& assign(double x, rounding mode);
  fixedfloat& assign(float x, rounding mode);

  // Roots and powers. Each logs an entry line ("Square root operation in
  // fixedfloat.", "Power operation in fixedfloat."), the thirteen lines of
  // its result and "Done."; the entry line alone when it throws.

  /// The square root rounded once by `mode` to length/2 fraction digits: 2 at
  /// length 8 -> 1.4142, 2.25 -> 1.5. A negative number throws
  /// std::domain_error "Square root of a negative number!" (-0.0 gives 0.0);
  /// rounding::exact throws std::domain_error "Rounding necessary!" when the
  /// root has more digits.
  fixedfloat sqrt(rounding mode = rounding::halfeven) const;
  /// This number to the power `n`, exactly, rounded once by `mode` to
  /// length/2 fraction digits, the integer part kept as * keeps it: 1.5 to the
  /// power 3 at length 4 -> 3.4 (3.375), 0.5 to the power 2 at length 2 ->
  /// 0.2 (0.25, halfeven). Negative for an odd `n` and a negative number;
  /// pow(0) is 1.0. An exact power whose digits no vector can hold throws
  /// std::length_error "Power too large!" (1.5 to the power 2^62, say); one
  /// that memory cannot hold std::bad_alloc.
  fixedfloat pow(unsigned long long n, rounding mode = rounding::halfeven) const;

  /// The exact sum and difference, the integer part kept to length/2 digits:
  /// 9999.5 + 0.5 at length 8 -> 0.0, -1.25 - 0.5 -> -1.75. A zero result is
  /// 0.0, never -0.0. Neither operand changes. Another length throws
  /// std::length_error "Size is not equal!"; digit elements outside 0 to 9,
  /// written into the fields directly, may throw std::out_of_range "Carry
  /// over 9!" as fixedint's + does.
  fixedfloat operator+(fixedfloat other);
  fixedfloat operator+(const fixedfloat& other) const;
  fixedfloat& operator+=(fixedfloat other);
  fixedfloat operator-(fixedfloat other);
  fixedfloat operator-(const fixedfloat& other) const;
  fixedfloat& operator-=(fixedfloat other);

  /// A silent copy (as the copy constructor makes it) with `negative`
  /// toggled: -(2.5) -> -2.5, -(0.0) -> -0.0; and a silent copy.
  fixedfloat operator-() const;
  fixedfloat operator+() const;

  /// Comparison by value: 0.0 == -0.0, -2.5 < -0.5. Another length throws
  /// std::length_error "Size is not equal!"; std::less<fixedfloat> orders
  /// any lengths. The const overloads log as the others do.
  bool operator==(fixedfloat other);
  bool operator==(const fixedfloat& other) const;
  bool operator!=(fixedfloat other);
  bool operator!=(const fixedfloat& other) const;
  bool operator<(fixedfloat other);
  bool operator<(const fixedfloat& other) const;
  bool operator>(fixedfloat other);
  bool operator>(const fixedfloat& other) const;
  bool operator<=(fixedfloat other);
  bool operator<=(const fixedfloat& other) const;
  bool operator>=(fixedfloat other);
  bool operator>=(const fixedfloat& other) const;

 private:
  /// The length constructor's work, for the constructors that assign after
  /// it: not delegated, so that a number whose assignment throws never
  /// existed and logs no deletion of its own.
  void construct(unsigned long long length);
  bool wordmagnitude(rounding mode, unsigned long long& magnitude) const;
};

/// Free forms, found by argument-dependent lookup: a silent copy with the
/// sign cleared, x.sqrt(mode) and x.pow(n, mode).
VELDAR_EXPORT fixedfloat abs(const fixedfloat& x);
VELDAR_EXPORT fixedfloat sqrt(const fixedfloat& x, rounding mode = rounding::halfeven);
VELDAR_EXPORT fixedfloat pow(const fixedfloat& x, unsigned long long n, rounding mode = rounding::halfeven);

/// Writes number.asstring() (and so logs as asstring() does): "-2.5". With
/// std::fixed, number.tofixed(out.precision()) instead, which logs nothing:
/// 1234.5678 with std::setprecision(2) -> "1234.57", with 6 -> "1234.567800".
/// With std::showpos a "+" before a number without its sign: "+2.5".
VELDAR_EXPORT std::ostream& operator<<(std::ostream& out, const fixedfloat& number);
/// Reads one decimal token (an optional sign, digits and one optional point)
/// after whitespace: "-0.05%" reads -0.05 and leaves "%". A token that is no
/// number, or has too many integer or fraction digits, sets failbit and
/// leaves the number as it was.
VELDAR_EXPORT std::istream& operator>>(std::istream& in, fixedfloat& number);

/// Reads the longest prefix of [first, last) that is a fixed-point text, as
/// std::from_chars does: "1.5x" -> 1.5, ptr at "x". std::errc::invalid_argument
/// when there is none, std::errc::result_out_of_range when it has more than
/// length/2 integer or fraction digits; value is unchanged then. On success
/// the value and the log lines are those of value = text.
VELDAR_EXPORT std::from_chars_result from_chars(const char* first, const char* last, fixedfloat& value);
/// Writes value.asstring() to [first, last), or gives std::errc::value_too_large
/// with nothing promised in the buffer; no allocation, no log line.
VELDAR_EXPORT std::to_chars_result to_chars(char* first, char* last, const fixedfloat& value);

}  // namespace VELDAR

/// Hashing, equality and order by value, as fixedfloat's == (0.0 and -0.0 are equal
/// and hash alike; numbers of different lengths are never equal), read in place
/// without copies or log lines, so that std::unordered_map<VELDAR::fixedfloat, T>
/// works as it is.
namespace std {
template <>
struct hash<VELDAR::fixedfloat> {
  VELDAR_EXPORT size_t operator()(const VELDAR::fixedfloat& number) const noexcept;
};
template <>
struct equal_to<VELDAR::fixedfloat> {
  VELDAR_EXPORT bool operator()(const VELDAR::fixedfloat& a, const VELDAR::fixedfloat& b) const noexcept;
};
/// By value across any lengths (1.5 at length 4 < 2.0 at length 8), and
/// among equal values the shorter length first, as fixedint's <: a strict
/// weak order, so that std::set<VELDAR::fixedfloat> and std::map take any
/// mix. Reads in place, without log lines; never throws.
template <>
struct less<VELDAR::fixedfloat> {
  VELDAR_EXPORT bool operator()(const VELDAR::fixedfloat& a, const VELDAR::fixedfloat& b) const noexcept;
};
}  // namespace std
