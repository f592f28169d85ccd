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

  // Arithmetic.

  // The product, truncated to the length: 78.9 * 0.123 at length 8 -> 9.7047,
  // 99.0 * 99.0 at length 4 -> 1.0 (9801 kept to two integer digits). Negative
  // when the signs differ and `issigned` is set. Another length throws
  // std::length_error "Size is not equal!".
  fixedfloat operator*(fixedfloat other);
  // The exact sum and difference, the integer part kept to length/2 digits:
  // 9999.5 + 0.5 at length 8 -> 0.0, -1.25 - 0.5 -> -1.75. A zero result is
  // 0.0, never -0.0. Neither operand changes. Another length throws
  // std::length_error "Size is not equal!".
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
};

// Writes number.asstring() (and so logs as asstring() does): "-2.5".
VELDAR_EXPORT std::ostream& operator<<(std::ostream& out, const fixedfloat& number);

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
