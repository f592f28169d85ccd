/// @file
///
/// fixedint: a signed integer held as a fixed number of decimal digits.
///
/// The digits live one per element, least significant first, beside a separate
/// sign flag; the value is the sum of digits[i] * 10^i, negated when `negative`
/// is set. A zero may carry the sign flag: it prints as "-0".
///
/// Every operation works at the number's own `length`: results are truncated to
/// it and arithmetic refuses operands of another length. Every length
/// construction and every destruction writes to the module log (diagnostics.h);
/// copies made by the copy constructor log only when they are destroyed.
///
/// An operation that throws leaves its operands as they were, std::bad_alloc
/// included. Distinct numbers may be used from different threads at once; one
/// number shared between threads needs the caller's lock.
#pragma once

#include <charconv>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include <veldar/export.h>  // VELDAR_EXPORT: the interface a shared libveldar exports
#include <veldar/rounding.h>

namespace VELDAR {

class fixedfloat;

namespace detail {
/// Marks the constructors the library makes its own results with: they write
/// no log line, and the operation writes the lines of the steps it stands for.
struct unlogged {
  explicit unlogged() = default;
};

/// The machine integers the numbers mix with: every integral type but bool.
template <typename integer>
using if_integer = std::enable_if_t<std::is_integral_v<integer> && !std::is_same_v<integer, bool>, int>;

/// Called by to_integer() in users' code, so exported with the interface.
[[noreturn]] VELDAR_EXPORT void throw_value_does_not_fit();

/// `magnitude` with the sign `negative` as an `integer`, when `fits` (the
/// magnitude is below 2^64) and the type holds it.
template <typename integer>
integer to_integer(unsigned long long magnitude, bool negative, bool fits) {
  using limits = std::numeric_limits<integer>;
  if (!fits) {
    throw_value_does_not_fit();
  }
  if (negative && magnitude != 0) {
    if constexpr (std::is_signed_v<integer>) {
      // The magnitude of the most negative value, without overflow.
      const auto most = static_cast<unsigned long long>(-(limits::min() + 1)) + 1;
      if (magnitude <= most) {
        return magnitude == most ? limits::min() : static_cast<integer>(-static_cast<integer>(magnitude));
      }
    }
    throw_value_does_not_fit();
  }
  if (magnitude > static_cast<unsigned long long>(limits::max())) {
    throw_value_does_not_fit();
  }
  return static_cast<integer>(magnitude);
}
}  // namespace detail

class VELDAR_EXPORT fixedint {
 public:
  bool negative = false;            ///< the sign; may be set on a zero
  unsigned long long length = 0;    ///< number of decimal digits held
  bool issigned = true;             ///< whether the sign takes part in assignment and arithmetic
  bool throwonoverflow = false;     ///< whether a carry out of the top digit throws
  std::vector<signed char> digits;  ///< one digit (0 to 9) per element, least significant first

  // Construction and assignment.

  /// A number of length 0, as fixedint(0) makes it (and logs it): so that
  /// std::vector<fixedint> v(3) compiles and holds three.
  fixedint();
  /// The value 0 with `length` digits. Logs "New fixedint object!",
  /// "Resizing Digits to: <length>" and "Done."; the first one of the process
  /// runs setup() before that.
  explicit fixedint(unsigned long long length);
  /// As above, then `*this = value`. fixedint(2, 123) throws std::out_of_range
  /// "Input int bigger than size!" after the three lines are logged.
  fixedint(unsigned long long length, long long value);
  /// Unsigned integers of any size, exactly, as the unsigned assignment stores
  /// them: fixedint(20, 18446744073709551615ULL) is not -1.
  template <typename integer, std::enable_if_t<std::is_unsigned_v<integer>, int> = 0>
  fixedint(unsigned long long length, integer value) {
    construct(length);
    assignunsigned(value);
  }
  /// As fixedint(length), then `*this = text`: fixedint(8, "-42"). Throws as
  /// the text assignment does, after the three lines are logged.
  fixedint(unsigned long long length, const std::string& text);
  /// A float has no place here: fixedint(8, 3.99) would silently drop .99.
  template <typename floating, std::enable_if_t<std::is_floating_point_v<floating>, int> = 0>
  fixedint(unsigned long long length, floating value) = delete;
  /// The number holding `digits`, of as many digits, with the sign flag
  /// `negative`: the library's own results, which log as their operation says.
  fixedint(detail::unlogged, std::vector<signed char> digits, bool negative = false);
  fixedint(const fixedint&) = default;      ///< silent: no set-up, no log line
  fixedint(fixedint&&) noexcept = default;  ///< silent as well
  ~fixedint();                              ///< logs "Deleted fixedint object."

  /// Every field, `length` included; when memory runs out nothing changes.
  fixedint& operator=(const fixedint& other);
  fixedint& operator=(fixedint&&) noexcept = default;
  /// Sets the value and keeps `length`. With `issigned` clear the magnitude is
  /// stored and `negative` is left as it was (-5 stores 5). More digits than
  /// `length` throws std::out_of_range "Input int bigger than size!" and
  /// changes nothing; 0 has one digit, so it does not fit length 0.
  fixedint& operator=(long long value);
  /// Unsigned integers of any size, exactly, by the same rules:
  /// 18446744073709551615ULL does not wrap to -1.
  template <typename integer, std::enable_if_t<std::is_unsigned_v<integer>, int> = 0>
  fixedint& operator=(integer value) {
    return assignunsigned(value);
  }
  /// Does not compile: `number = 3.99` would silently store 3.
  template <typename floating, std::enable_if_t<std::is_floating_point_v<floating>, int> = 0>
  fixedint& operator=(floating value) = delete;
  /// Decimal text: an optional "-" or "+" and one or more digits, nothing else
  /// ("-0042" -> -42; "-0" -> 0). Sets the value as the integer assignment
  /// does, at any length. Throws std::invalid_argument "Not a decimal number!"
  /// for other text, and std::out_of_range "Input int bigger than size!" for
  /// more digits than `length` (leading zeros not counted); changes nothing
  /// then.
  fixedint& operator=(const std::string& text);
  /// The magnitude of f's integer part, at f's length: -2.5 at length 8 ->
  /// 00000002. Takes over f's length.
  fixedint& operator=(fixedfloat& f);

  // Digit operations; the sign is unchanged by all of them.

  /// New length: shrinking drops the top digits (123 resized to 2 -> 23),
  /// growing adds zeros on top. Logs "Resize requested in fixedint.",
  /// "Resizing Digits to: <n>" and "Done.".
  void resize(unsigned long long n);
  void wholeshiftl();  ///< times ten, top digit lost: 123 at length 3 -> 230
  void wholeshiftr();  ///< divided by ten, truncated: 123 -> 12
  /// The digit vector without its most significant zeros: 00120 -> {0, 2, 1};
  /// empty for zero. Its size is the significant digit count.
  std::vector<signed char> getshorteneddigits();
  std::vector<signed char> getshorteneddigits() const;

  // Copies and sign.

  fixedint getcopy();  ///< a copy made through the length constructor (logged)
  fixedint getcopy() const;
  fixedint abs();  ///< getcopy() with `negative` cleared
  fixedint abs() const;
  fixedint& flipsign();  ///< toggles `negative`, whatever `issigned` says
  /// A silent copy (as the copy constructor makes it) with `negative`
  /// toggled: -fixedint(4, 5) -> -5, -fixedint(4, 0) -> -0, as flipsign().
  fixedint operator-() const;
  fixedint operator+() const;  ///< a silent copy

  // Comparison. Any lengths; neither operand changes. Each has a const
  // overload beside it, for const numbers, which logs what it does for a
  // non-const one (the deletion of the argument's copy included), so that
  // the log does not depend on constness. Machine integers compare as a
  // number of this length would (the operators after the class).

  /// Same digit vector (so the same length) and same sign flag: 0 != -0.
  bool operator==(fixedint other);
  bool operator==(const fixedint& other) const;
  bool operator!=(fixedint other);
  bool operator!=(const fixedint& other) const;
  /// Order by value, a set sign flag below a clear one: -0 < 0, -5 < -3.
  /// Lengths play no part: 5 at length 2 is not greater than 5 at length 3.
  bool operator>(fixedint other);
  bool operator>(const fixedint& other) const;
  /// The same order, and at equal value and sign the shorter length first:
  /// 5 at length 2 < 5 at length 3, not the reverse. A strict weak order, so
  /// std::sort, std::set and std::map work over any mix of lengths.
  bool operator<(fixedint other);
  bool operator<(const fixedint& other) const;
  /// !(other < *this) and !(*this < other), whatever the lengths, and with
  /// their log: 5 at length 2 <= 5 at length 3, but not >=.
  bool operator<=(fixedint other);
  bool operator<=(const fixedint& other) const;
  bool operator>=(fixedint other);
  bool operator>=(const fixedint& other) const;

  // Arithmetic at equal lengths; other lengths throw std::length_error
  // "Int sizes are not equal!" before anything is logged. Only this operand's
  // `issigned` and `throwonoverflow` count; results carry the defaults.
  // Each has a const overload with the same result and log; a const number
  // does not take the carry of + and - (it cannot change). `a op= b` is
  // exactly `a = a op b`: its value, its exception (a changes in neither
  // case then) and its log. Machine integers mix in as numbers of this
  // length (the operators after the class): a + 1, 10 - a, a *= 3.

  /// The signed sum, or with `issigned` clear the sum of the magnitudes with
  /// this number's sign. A carry out of the top digit throws
  /// std::overflow_error "Overflow occured." when `throwonoverflow` is set
  /// (nothing changes); otherwise the sum keeps its low `length` digits and
  /// this number is set to the carry: 99 + 99 at length 2 -> 98, this -> 1.
  fixedint operator+(fixedint other);
  fixedint operator+(const fixedint& other) const;
  fixedint& operator+=(fixedint other);
  /// this + (-other), with the signs always respected; carries as in +.
  fixedint operator-(fixedint other);
  fixedint operator-(const fixedint& other) const;
  fixedint& operator-=(fixedint other);
  /// The product modulo 10^length: 12 * 34 at length 2 -> 8. The sign is set
  /// when the flags differ (and `issigned` is set), even on a zero: 0 * -5 -> -0.
  fixedint operator*(fixedint other);
  fixedint operator*(const fixedint& other) const;
  fixedint& operator*=(fixedint other);

  // Division at equal lengths, as for *. A zero divisor throws
  // std::domain_error "Division by zero!". The quotient is negative when the
  // sign flags differ and `issigned` is set (clear: the magnitudes are
  // divided), but a zero result never carries the sign flag. Each logs the
  // three lines of its result. Elements outside 0 to 9 (only from writing
  // the fields) count with their values, modulo 10^length.

  /// The quotient truncated toward zero, as C++ integers do: -7 / 2 -> -3.
  fixedint operator/(fixedint other);
  fixedint operator/(const fixedint& other) const;
  fixedint& operator/=(fixedint other);
  /// The remainder, with the dividend's sign: -7 % 2 -> -1, so that
  /// (a / b) * b + a % b == a.
  fixedint operator%(fixedint other);
  fixedint operator%(const fixedint& other) const;
  fixedint& operator%=(fixedint other);
  /// The quotient rounded by `mode`: 7 / 2 with halfeven -> 4, 5 / 2 with
  /// halfeven -> 2, -7 / 2 with floor -> -4. rounding::exact throws
  /// std::domain_error "Rounding necessary!" when there is a remainder.
  fixedint divide(fixedint other, rounding mode);
  fixedint divide(const fixedint& other, rounding mode) const;

  // Roots and powers; each logs the three lines of its result.

  /// The square root cut toward zero: 17 -> 4, 10^20 at length 21 -> 10^10.
  /// A negative number throws std::domain_error "Square root of a negative
  /// number!"; -0 gives 0.
  fixedint sqrt() const;
  /// This number to the power `n`, kept to the length as * keeps a product:
  /// 12 to the power 3 at length 3 -> 728 (1728). The sign is the one repeated
  /// * gives, negative for an odd `n` and a set sign flag (-0 included);
  /// pow(0) is 1 (0 at length 0).
  fixedint pow(unsigned long long n) const;

  /// Decimal text without leading zeros: "123", "0", "-0" for a negative zero,
  /// "" at length 0.
  std::string asstring();
  std::string asstring() const;

  // Conversions to machine numbers; neither logs anything. Elements outside
  // 0 to 9 (only from writing the fields) count as for division.

  /// The double nearest to the value, correctly rounded:
  /// 12345678901234567891 -> 12345678901234567168.0; an infinity of the
  /// number's sign past the double range.
  double todouble();
  double todouble() const;
  /// The exact value as any integral type: fixedint(4, -42).tointeger<short>()
  /// -> -42. A value that does not fit throws std::out_of_range "Value does
  /// not fit!": fixedint(4, -1).tointeger<unsigned>() throws.
  template <typename integer>
  integer tointeger() {
    return static_cast<const fixedint&>(*this).tointeger<integer>();
  }
  template <typename integer>
  integer tointeger() const {
    static_assert(std::is_integral_v<integer>, "tointeger() gives integral types");
    unsigned long long magnitude = 0;
    const bool fits = wordmagnitude(magnitude);
    return detail::to_integer<integer>(magnitude, negative, fits);
  }

 private:
  void construct(unsigned long long n);
  fixedint& assignunsigned(unsigned long long value);
  bool wordmagnitude(unsigned long long& magnitude) const;
};

/// Free forms, found by argument-dependent lookup, so that generic code
/// calling abs(x), sqrt(x) or pow(x, n) works: x.abs(), x.sqrt(), x.pow(n).
VELDAR_EXPORT fixedint abs(const fixedint& x);
VELDAR_EXPORT fixedint sqrt(const fixedint& x);
VELDAR_EXPORT fixedint pow(const fixedint& x, unsigned long long n);

/// Machine integers mixed in: `x op n` and `n op x` are `x op like(x, n)`
/// and `like(x, n) op x`, where like(x, n) is the number of x's length that n
/// is (fixedint(x.length, n), or fixedfloat(x.length, n)): the same value,
/// errors and log, and the same refusal of an n that does not fit. For
/// fixedint and fixedfloat: a + 1, 2 * a, a == 0, total += 5, 100 - a.
namespace detail {
template <typename number>
inline constexpr bool is_number_v =
    std::is_same_v<std::decay_t<number>, fixedint> || std::is_same_v<std::decay_t<number>, fixedfloat>;
template <typename number, typename integer>
using if_mixed =
    std::enable_if_t<is_number_v<number> && std::is_integral_v<integer> && !std::is_same_v<std::decay_t<integer>, bool>,
                     int>;
template <typename number, typename integer>
std::decay_t<number> like(const number& x, integer n) {
  return std::decay_t<number>(x.length, n);
}
}  // namespace detail

template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
auto operator+(number&& x, integer n) {
  return x + detail::like(x, n);
}
template <typename integer, typename number, detail::if_mixed<number, integer> = 0>
auto operator+(integer n, number&& x) {
  return detail::like(x, n) + x;
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
auto operator-(number&& x, integer n) {
  return x - detail::like(x, n);
}
template <typename integer, typename number, detail::if_mixed<number, integer> = 0>
auto operator-(integer n, number&& x) {
  return detail::like(x, n) - x;
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
auto operator*(number&& x, integer n) {
  return x * detail::like(x, n);
}
template <typename integer, typename number, detail::if_mixed<number, integer> = 0>
auto operator*(integer n, number&& x) {
  return detail::like(x, n) * x;
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
auto operator/(number&& x, integer n) {
  return x / detail::like(x, n);
}
template <typename integer, typename number, detail::if_mixed<number, integer> = 0>
auto operator/(integer n, number&& x) {
  return detail::like(x, n) / x;
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
auto operator%(number&& x, integer n) {
  return x % detail::like(x, n);
}
template <typename integer, typename number, detail::if_mixed<number, integer> = 0>
auto operator%(integer n, number&& x) {
  return detail::like(x, n) % x;
}

template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
bool operator==(number&& x, integer n) {
  return x == detail::like(x, n);
}
template <typename integer, typename number, detail::if_mixed<number, integer> = 0>
bool operator==(integer n, number&& x) {
  return detail::like(x, n) == x;
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
bool operator!=(number&& x, integer n) {
  return x != detail::like(x, n);
}
template <typename integer, typename number, detail::if_mixed<number, integer> = 0>
bool operator!=(integer n, number&& x) {
  return detail::like(x, n) != x;
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
bool operator<(number&& x, integer n) {
  return x < detail::like(x, n);
}
template <typename integer, typename number, detail::if_mixed<number, integer> = 0>
bool operator<(integer n, number&& x) {
  return detail::like(x, n) < x;
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
bool operator>(number&& x, integer n) {
  return x > detail::like(x, n);
}
template <typename integer, typename number, detail::if_mixed<number, integer> = 0>
bool operator>(integer n, number&& x) {
  return detail::like(x, n) > x;
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
bool operator<=(number&& x, integer n) {
  return x <= detail::like(x, n);
}
template <typename integer, typename number, detail::if_mixed<number, integer> = 0>
bool operator<=(integer n, number&& x) {
  return detail::like(x, n) <= x;
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
bool operator>=(number&& x, integer n) {
  return x >= detail::like(x, n);
}
template <typename integer, typename number, detail::if_mixed<number, integer> = 0>
bool operator>=(integer n, number&& x) {
  return detail::like(x, n) >= x;
}

template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
number& operator+=(number& x, integer n) {
  return x += detail::like(x, n);
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
number& operator-=(number& x, integer n) {
  return x -= detail::like(x, n);
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
number& operator*=(number& x, integer n) {
  return x *= detail::like(x, n);
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
number& operator/=(number& x, integer n) {
  return x /= detail::like(x, n);
}
template <typename number, typename integer, detail::if_mixed<number, integer> = 0>
number& operator%=(number& x, integer n) {
  return x %= detail::like(x, n);
}

/// Writes number.asstring(): "-42"; with std::showpos a "+" before a number
/// without its sign flag: "+42", "+0".
VELDAR_EXPORT std::ostream& operator<<(std::ostream& out, const fixedint& number);
/// Reads one decimal token (an optional sign and digits) after whitespace:
/// "  -42 apples" reads -42 and leaves " apples". A token that is no number,
/// or has more digits than number.length, sets failbit and leaves the number
/// as it was.
VELDAR_EXPORT std::istream& operator>>(std::istream& in, fixedint& number);

/// Reads the longest prefix of [first, last) that is a fixedint's text, as
/// std::from_chars does: "12ab" -> 12, ptr at "ab". std::errc::invalid_argument
/// when there is none, std::errc::result_out_of_range when it has more digits
/// than value.length (leading zeros not counted); value is unchanged then. On
/// success the value is that of value = text.
VELDAR_EXPORT std::from_chars_result from_chars(const char* first, const char* last, fixedint& value);
/// Writes value.asstring() to [first, last), or gives std::errc::value_too_large
/// with nothing promised in the buffer; no allocation, no log line.
VELDAR_EXPORT std::to_chars_result to_chars(char* first, char* last, const fixedint& value);

}  // namespace VELDAR

/// Hashing and equality as fixedint's ==: the digits, the length and the sign
/// flag; and the order of fixedint's <. All read in place without copies or log
/// lines, so that std::unordered_set<VELDAR::fixedint>, std::set and std::map
/// work as they are.
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
