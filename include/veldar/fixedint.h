// fixedint: a signed integer held as a fixed number of decimal digits.
//
// The digits live one per element, least significant first, beside a separate
// sign flag; the value is the sum of digits[i] * 10^i, negated when `negative`
// is set. A zero may carry the sign flag: it prints as "-0".
//
// Every operation works at the number's own `length`: results are truncated to
// it and arithmetic refuses operands of another length. Every length
// construction and every destruction writes to the module log (diagnostics.h);
// copies made by the copy constructor log only when they are destroyed.
//
// An operation that throws leaves its operands as they were, std::bad_alloc
// included. Distinct numbers may be used from different threads at once; one
// number shared between threads needs the caller's lock.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <type_traits>
#include <vector>

#include <veldar/export.h>  // VELDAR_EXPORT: the interface a shared libveldar exports

namespace VELDAR {

class fixedfloat;

class VELDAR_EXPORT fixedint {
 public:
  bool negative = false;                 // the sign; may be set on a zero
  unsigned long long length = 0;         // number of decimal digits held
  bool issigned = true;                  // whether the sign takes part in assignment and arithmetic
  bool throwonoverflow = false;          // whether a carry out of the top digit throws
  std::vector<signed char> digits;       // one digit (0 to 9) per element, least significant first

  // Construction and assignment.

  // The value 0 with `length` digits. Logs "New fixedint object!",
  // "Resizing Digits to: <length>" and "Done."; the first one of the process
  // runs setup() before that.
  explicit fixedint(unsigned long long length);
  // As above, then `*this = value`. fixedint(2, 123) throws std::out_of_range
  // "Input int bigger than size!" after the three lines are logged.
  fixedint(unsigned long long length, long long value);
  // A float has no place here: fixedint(8, 3.99) would silently drop .99.
  template <typename floating, std::enable_if_t<std::is_floating_point_v<floating>, int> = 0>
  fixedint(unsigned long long length, floating value) = delete;
  fixedint(const fixedint&) = default;      // silent: no set-up, no log line
  fixedint(fixedint&&) noexcept = default;  // silent as well
  ~fixedint();                              // logs "Deleted fixedint object."

  // Every field, `length` included; when memory runs out nothing changes.
  fixedint& operator=(const fixedint& other);
  fixedint& operator=(fixedint&&) noexcept = default;
  // Sets the value and keeps `length`. With `issigned` clear the magnitude is
  // stored and `negative` is left as it was (-5 stores 5). More digits than
  // `length` throws std::out_of_range "Input int bigger than size!" and
  // changes nothing; 0 has one digit, so it does not fit length 0.
  fixedint& operator=(long long value);
  // Unsigned integers of any size, exactly, by the same rules:
  // 18446744073709551615ULL does not wrap to -1.
  template <typename integer, std::enable_if_t<std::is_unsigned_v<integer>, int> = 0>
  fixedint& operator=(integer value) {
    return assignunsigned(value);
  }
  // Does not compile: `number = 3.99` would silently store 3.
  template <typename floating, std::enable_if_t<std::is_floating_point_v<floating>, int> = 0>
  fixedint& operator=(floating value) = delete;
  // Decimal text: an optional "-" or "+" and one or more digits, nothing else
  // ("-0042" -> -42; "-0" -> 0). Sets the value as the integer assignment
  // does, at any length. Throws std::invalid_argument "Not a decimal number!"
  // for other text, and std::out_of_range "Input int bigger than size!" for
  // more digits than `length` (leading zeros not counted); changes nothing
  // then.
  fixedint& operator=(const std::string& text);
  // The magnitude of f's integer part, at f's length: -2.5 at length 8 ->
  // 00000002. Takes over f's length.
  fixedint& operator=(fixedfloat& f);

  // Digit operations; the sign is unchanged by all of them.

  // New length: shrinking drops the top digits (123 resized to 2 -> 23),
  // growing adds zeros on top. Logs "Resize requested in fixedint.",
  // "Resizing Digits to: <n>" and "Done.".
  void resize(unsigned long long n);
  void wholeshiftl();   // times ten, top digit lost: 123 at length 3 -> 230
  void wholeshiftr();   // divided by ten, truncated: 123 -> 12
  // The digit vector without its most significant zeros: 00120 -> {0, 2, 1};
  // empty for zero. Its size is the significant digit count.
  std::vector<signed char> getshorteneddigits();

  // Copies and sign.

  fixedint getcopy();     // a copy made through the length constructor (logged)
  fixedint abs();         // getcopy() with `negative` cleared
  fixedint& flipsign();   // toggles `negative`, whatever `issigned` says

  // Comparison. Any lengths; neither operand changes.

  // Same digit vector (so the same length) and same sign flag: 0 != -0.
  bool operator==(fixedint other);
  bool operator!=(fixedint other);
  // Order by value, a set sign flag below a clear one: -0 < 0, -5 < -3.
  // Lengths play no part: 5 at length 2 is not greater than 5 at length 3.
  bool operator>(fixedint other);
  // The same order, and at equal value and sign the shorter length first:
  // 5 at length 2 < 5 at length 3, not the reverse. A strict weak order, so
  // std::sort, std::set and std::map work over any mix of lengths.
  bool operator<(fixedint other);

  // Arithmetic at equal lengths; other lengths throw std::length_error
  // "Int sizes are not equal!" before anything is logged. Only this operand's
  // `issigned` and `throwonoverflow` count; results carry the defaults.

  // The signed sum, or with `issigned` clear the sum of the magnitudes with
  // this number's sign. A carry out of the top digit throws
  // std::overflow_error "Overflow occured." when `throwonoverflow` is set
  // (nothing changes); otherwise the sum keeps its low `length` digits and
  // this number is set to the carry: 99 + 99 at length 2 -> 98, this -> 1.
  fixedint operator+(fixedint other);
  // this + (-other), with the signs always respected; carries as in +.
  fixedint operator-(fixedint other);
  // The product modulo 10^length: 12 * 34 at length 2 -> 8. The sign is set
  // when the flags differ (and `issigned` is set), even on a zero: 0 * -5 -> -0.
  fixedint operator*(fixedint other);

  // Decimal text without leading zeros: "123", "0", "-0" for a negative zero,
  // "" at length 0.
  std::string asstring();

 private:
  void construct(unsigned long long n);
  fixedint& assignunsigned(unsigned long long value);
};

// Writes number.asstring(): "-42".
VELDAR_EXPORT std::ostream& operator<<(std::ostream& out, const fixedint& number);

}  // namespace VELDAR

// Hashing and equality as fixedint's ==: the digits, the length and the sign
// flag; and the order of fixedint's <. All read in place without copies or log
// lines, so that std::unordered_set<VELDAR::fixedint>, std::set and std::map
// work as they are.
namespace std {
template <>
struct hash<VELDAR::fixedint> {
  VELDAR_EXPORT size_t operator()(const VELDAR::fixedint& number) const noexcept;
};
template <>
struct equal_to<VELDAR::fixedint> {
  VELDAR_EXPORT bool operator()(const VELDAR::fixedint& a, const VELDAR::fixedint& b) const noexcept;
};
template <>
struct less<VELDAR::fixedint> {
  VELDAR_EXPORT bool operator()(const VELDAR::fixedint& a, const VELDAR::fixedint& b) const noexcept;
};
}  // namespace std
