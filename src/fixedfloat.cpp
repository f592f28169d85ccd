// fixedfloat. Where the log is the interface: the fixed-point operations
// have always made fixedint temporaries whose lines are observable, pinned by
// the transcripts in tests/unit/fixedfloat_core_test.cpp and
// tests/unit/fixedfloat_arithmetic_test.cpp. Each operation writes them as one
// record of its transcript (transcript.h) and makes only its result:
// - * writes the lines of widened copies of both values (getcopy() and
//   resize()), their product and its cut back;
// - + and - the lines of signed copies of both values (getcopy()) added;
// - asstring() the lines of the integer and fraction parts (getcopy()) and
//   of a fresh zero the fraction is compared with;
// - the assignments from a fixedint, a float, text or an integer the lines
//   of the steps they stand for: the integer part, its widening and one
//   multiplication by ten per fraction place, and the fraction added to it.
// Numbers whose fields were written directly (digit elements outside 0 to
// 9, a value's own sign flag, lengths that disagree) take the steps for real.
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

using detail::transcript;

// A record written whichever way an operation ends: `whole` when it is
// done, `refused` (its entry line) when it throws.
class narration {
 public:
  narration(transcript whole, transcript refused, unsigned long long length)
      : whole(whole), refused(refused), length(length) {}
  narration(const narration&) = delete;
  narration& operator=(const narration&) = delete;
  ~narration() {
    if (!finished) {
      detail::narrate(refused, length);
    }
  }
  void finish() noexcept {
    detail::narrate(whole, length);
    finished = true;
  }
  void dismiss() noexcept { finished = true; }  // the whole record is written elsewhere

 private:
  transcript whole;
  transcript refused;
  unsigned long long length;
  bool finished = false;
};

// Whether the number's fields are as the operations leave them: the value
// at the length, every element a digit, its own sign flag clear. Only
// writing the fields directly makes them otherwise.
bool well_formed(const fixedfloat& number) {
  return number.value.length == number.length && number.value.digits.size() == number.length &&
         !number.value.negative && detail::digits_in_range(number.value.digits);
}

// Sets `number` to the decimal number `parts`. Both digit counts are checked
// before anything changes; the new digits are placed aside and taken over at
// the end. The log tells the steps the value takes (transcript.h): the
// integer part arrives through a fixedint of length/2 digits, is widened and
// scaled, and the fraction, in a fixedint of `length` digits, is added to
// it; `plain` and `with_fraction` are the transcripts of the two ways.
void assign_decimal(fixedfloat& number, const decimal_text& parts, transcript plain = transcript::fixedfloat_assigned,
                    transcript with_fraction = transcript::fixedfloat_assigned_fraction) {
  const unsigned long long length = number.length;
  const unsigned long long half = length / 2;
  if (parts.integer.size() > half) {
    throw std::out_of_range("Input int bigger than size!");
  }
  if (parts.fraction.size() > half) {
    throw std::length_error("Fraction of float too big to fit in fixedfloat!");
  }
  // The value's own digits where they are at the length; else new ones,
  // made before anything changes.
  fixedint& value = number.value;
  digit_vector made;
  if (value.digits.size() != length) {
    made.resize(length);
  }
  digit_vector& digits = value.digits.size() == length ? value.digits : made;
  // The fraction's first digit goes to the first place after the point, the
  // integer part's last to the first place before it, zeros around them.
  const auto digit = [](char c) { return static_cast<signed char>(c - '0'); };
  std::fill(digits.begin(), digits.end(), 0);
  signed char* const point = digits.data() + half;
  std::transform(parts.fraction.rbegin(), parts.fraction.rend(), point - parts.fraction.size(), digit);
  std::transform(parts.integer.rbegin(), parts.integer.rend(), point, digit);

  setup();
  detail::narrate(parts.fraction.empty() ? plain : with_fraction, length);

  if (&digits == &made) {
    value.digits.swap(made);
  }
  value.length = length;
  value.negative = false;
  value.issigned = true;  // the flags every product and sum carries
  value.throwonoverflow = false;
  // -0.0 has no sign; -0.5 keeps its sign although its integer part is 0.
  number.negative = parts.minus && !(parts.integer.empty() && parts.fraction.empty());
}

// from_chars() and >>: the number `parts`, or result_out_of_range and
// nothing changed when its integer or fraction part has more digits than
// half the length.
std::errc assign_text(fixedfloat& number, const decimal_text& parts) {
  if (std::max(parts.integer.size(), parts.fraction.size()) > number.length / 2) {
    return std::errc::result_out_of_range;
  }
  assign_decimal(number, parts);
  return std::errc{};
}

// The shortest text that reads back as the float or double `x`, in fixed
// notation, into `buffer`; NaN and the infinities throw as the assignment
// refuses them.
template <typename floating>
std::string_view binary_text(floating x, detail::float_text& buffer) {
  if (std::isnan(x)) {
    throw std::invalid_argument("Float is not a number!");
  }
  if (std::isinf(x)) {
    throw std::out_of_range("Input int bigger than size!");
  }
  return detail::shortest_fixed_text(x, buffer);
}

// Sets `number` to the decimal number a float or double stands for.
template <typename floating>
void assign_binary(fixedfloat& number, floating x) {
  detail::float_text buffer{};
  assign_decimal(number, *detail::split_decimal(binary_text(x, buffer), true));
}

bool is_zero(const fixedfloat& number) { return detail::significant_count(number.value.digits) == 0; }

// -1, 0 or 1 as the magnitude of `a`, with `a_places` fraction digits, is
// below, equal to or above that of `b` with `b_places`, whatever the sizes:
// 0150 with 2 places (1.5) is below 0020 with 1 (2.0).
int compare_scaled(const digit_vector& a, std::size_t a_places, const digit_vector& b, std::size_t b_places) {
  // The digit at the place of 10^power, where an element at index i stands
  // for 10^(i - places).
  const auto digit = [](const digit_vector& digits, std::size_t places, std::ptrdiff_t power) {
    const std::ptrdiff_t index = power + static_cast<std::ptrdiff_t>(places);
    return index >= 0 && index < static_cast<std::ptrdiff_t>(digits.size()) ? digits[static_cast<std::size_t>(index)]
                                                                            : 0;
  };
  const std::ptrdiff_t top = std::max(static_cast<std::ptrdiff_t>(a.size()) - static_cast<std::ptrdiff_t>(a_places),
                                      static_cast<std::ptrdiff_t>(b.size()) - static_cast<std::ptrdiff_t>(b_places));
  const std::ptrdiff_t bottom = -static_cast<std::ptrdiff_t>(std::max(a_places, b_places));
  for (std::ptrdiff_t power = top - 1; power >= bottom; --power) {
    const signed char x = digit(a, a_places, power);
    const signed char y = digit(b, b_places, power);
    if (x != y) {
      return x < y ? -1 : 1;
    }
  }
  return 0;
}

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

// A comparison operator: its transcripts, done and refused, and what it
// says of compare_values().
struct comparison {
  transcript whole;
  transcript refused;
  bool (*holds)(int order);
};
constexpr comparison equal{transcript::fixedfloat_equal, transcript::fixedfloat_equal_refused,
                           [](int order) { return order == 0; }};
constexpr comparison not_equal{transcript::fixedfloat_not_equal, transcript::fixedfloat_not_equal_refused,
                               [](int order) { return order != 0; }};
constexpr comparison less{transcript::fixedfloat_less, transcript::fixedfloat_less_refused,
                          [](int order) { return order < 0; }};
constexpr comparison greater{transcript::fixedfloat_greater, transcript::fixedfloat_greater_refused,
                             [](int order) { return order > 0; }};
constexpr comparison less_equal{transcript::fixedfloat_less_equal, transcript::fixedfloat_less_equal_refused,
                                [](int order) { return order <= 0; }};
constexpr comparison greater_equal{transcript::fixedfloat_greater_equal, transcript::fixedfloat_greater_equal_refused,
                                   [](int order) { return order >= 0; }};

// A comparison as the operators make it: its entry line and "Done.", the
// entry line alone when the lengths differ.
bool compare(const fixedfloat& a, const fixedfloat& b, const comparison& which) {
  narration told(which.whole, which.refused, a.length);
  if (a.length != b.length) {
    throw std::length_error("Size is not equal!");
  }
  const bool result = which.holds(compare_values(a, b));
  told.finish();
  return result;
}

// The value of `number` with its sign, as a copy (logged) that adds with the
// signs respected and hands no carry back into `number`.
fixedint signed_value(const fixedfloat& number) {
  fixedint copy = number.value.getcopy();
  copy.negative = number.negative;
  copy.issigned = true;
  copy.throwonoverflow = false;
  return copy;
}

// a + b or a - b for numbers whose fields were written directly: the
// steps taken for real, with the lines they write.
fixedfloat stepwise_sum(const fixedfloat& a, fixedfloat& b, bool subtract) {
  fixedfloat result(a.length);
  {
    fixedint left = signed_value(a);
    fixedint right = signed_value(b);
    result.value = subtract ? left - right : left + right;
    result.updsign();
  }
  result.negative = result.negative && !is_zero(result);  // the top digits may wrap to -0
  detail::narrate(transcript::done, a.length);
  return result;
}

// a + b or a - b into `b`'s digits, as the signed copies of both values
// added make it: the exact sum, the integer part wrapping. `b` is the copy
// + and - take by value. How the fixedint sum of the copies would have run
// goes into `shape`, the result's sign into `minus`. False, with nothing
// changed, when an element is no digit.
bool add_in_place(const fixedfloat& a, fixedfloat& b, bool subtract, detail::sum_shape& shape, bool& minus) {
  // The right copy's sign as fixedint's + sees it, - negating it first.
  const bool right_negative = subtract ? !b.negative : b.negative;
  digit_vector& out = b.value.digits;
  int carry = 0;
  if (a.negative == right_negative) {
    minus = a.negative;
    return detail::sum_in_place(a.value.digits, out, out, false, carry);  // the carry out of the top is dropped
  }
  // The magnitude of the positive one less the negative one's; a borrow
  // means the negative one was larger, and its complement is taken.
  const digit_vector& positive = a.negative ? out : a.value.digits;
  const digit_vector& negative = a.negative ? a.value.digits : out;
  if (!detail::sum_in_place(positive, negative, out, true, carry)) {
    return false;
  }
  minus = carry > 0;
  if (minus) {
    detail::negate_digits(out);
  }
  shape = {true, a.negative, minus};
  return true;
}

// The result add_in_place() left in `b`, with its lines.
fixedfloat sum_result(fixedfloat& b, const detail::sum_shape& shape, bool minus, bool subtract) {
  detail::narrate(detail::fixedfloat_sum_transcript(shape, subtract), b.length);
  fixedfloat result(std::move(b));
  result.value.negative = false;
  result.value.issigned = true;
  result.value.throwonoverflow = false;
  result.issigned = true;
  result.negative = minus && detail::significant_count(result.value.digits) != 0;
  return result;
}

// a + b or a - b, `b` being the right operand's copy.
fixedfloat signed_sum(const fixedfloat& a, fixedfloat& b, bool subtract) {
  const transcript entry = subtract ? transcript::fixedfloat_subtraction_refused : transcript::fixedfloat_sum_refused;
  if (a.length != b.length) {
    detail::narrate(entry, a.length);
    throw std::length_error("Size is not equal!");
  }
  detail::sum_shape shape;
  bool minus = false;
  const bool direct = a.value.length == a.length && b.value.length == a.length && a.value.digits.size() == a.length &&
                      b.value.digits.size() == a.length && !a.value.negative && !b.value.negative &&
                      add_in_place(a, b, subtract, shape, minus);
  if (!direct) {
    detail::narrate(entry, a.length);  // the entry line, then the steps taken for real
  }
  return direct ? sum_result(b, shape, minus, subtract) : stepwise_sum(a, b, subtract);
}

// A new number of `length` whose value takes the low `length` digits of the
// magnitude `digits`, negative when `minus` says so, as * sets the sign. Its
// lines are the operation's to write.
fixedfloat fixed_result(unsigned long long length, digit_vector& digits, bool minus) {
  fixedfloat result(detail::unlogged{}, 0);
  digits.resize(length);
  result.value.digits.swap(digits);
  result.value.length = length;
  result.length = length;
  result.negative = minus;
  return result;
}

// a / b rounded by `mode`, for / and divide(), which take `b` by value: a
// call of one from the other would copy it once more, and log that copy.
fixedfloat rounded_quotient(const fixedfloat& a, const fixedfloat& b, rounding mode) {
  narration told(transcript::fixedfloat_quotient, transcript::fixedfloat_quotient_refused, a.length);
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
  told.finish();
  return result;
}

// Makes `number` 0.0 with `length` digits, for the constructor and init(),
// whose transcripts `done`, `odd` (an odd length, which throws) and `failed`
// (no memory for the digits) are.
void reset(fixedfloat& number, unsigned long long length, transcript done, transcript odd, transcript failed) {
  if (length % 2 != 0) {
    detail::narrate(odd, length);
    throw std::runtime_error("length should be able to be divided by 2!");
  }
  // The new digits first, so that nothing changes when they cannot be had;
  // they stand for a fixedint of `length` digits made and copied into value.
  digit_vector digits;
  try {
    digits.resize(length);
  } catch (...) {
    detail::narrate(failed, length);
    throw;
  }
  detail::narrate(done, length);
  number.value.digits.swap(digits);
  number.value.length = length;
  number.value.negative = false;
  number.value.issigned = true;
  number.value.throwonoverflow = false;
  number.length = length;
  number.issigned = true;
  number.negative = false;
}

// The log of * reads as its steps have always been taken: the result made,
// both values copied (getcopy()) and widened to twice the length, multiplied
// into a number of four times the length cut back to twice, both copies
// gone, the product cut to the length, and gone too.

// a * b for values below 10^18, at most 18 digits: their product fits two
// machine words, and the result takes the place of the right operand's copy.
fixedfloat word_product(const fixedfloat& a, fixedfloat& b, bool minus) {
  const unsigned long long x = detail::word_of_digits(a.value.digits.data(), a.value.digits.size());
  const unsigned long long y = detail::word_of_digits(b.value.digits.data(), b.value.digits.size());
  const unsigned long long scale = detail::power_of_ten(a.length / 2);
  const unsigned long long modulus = scale * scale;
  unsigned long long kept = 0;
  if (unsigned long long product = 0; !__builtin_mul_overflow(x, y, &product)) {
    kept = product / scale % modulus;
  } else {
    kept = static_cast<unsigned long long>(detail::uint128{x} * y / scale % modulus);
  }
  detail::put_small_word(kept, b.value.digits);  // below 10^(length - length % 2)
  detail::narrate(transcript::fixedfloat_product, a.length);
  fixedfloat result(std::move(b));
  result.value.issigned = true;
  result.value.throwonoverflow = false;
  result.issigned = true;
  result.negative = minus;
  return result;
}

// a * b at any length: the product at twice the length, where no digit is
// lost; then the point moves left by half the length and the top digits go.
fixedfloat digit_product(const fixedfloat& a, const fixedfloat& b, bool minus) {
  const std::size_t room = std::max<std::size_t>(
      2 * a.length, detail::significant_count(a.value.digits) + detail::significant_count(b.value.digits));
  digit_vector product(room, 0);
  detail::multiply_digits(a.value.digits, b.value.digits, product, 2 * a.length);
  detail::shift_down(product, a.length / 2);
  fixedfloat result = fixed_result(a.length, product, minus);
  detail::narrate(transcript::fixedfloat_product, a.length);
  return result;
}

// a * b, `b` being the right operand's copy.
fixedfloat product(const fixedfloat& a, fixedfloat& b) {
  if (b.length != a.length) {
    detail::narrate(transcript::fixedfloat_product_refused, a.length);
    throw std::length_error("Size is not equal!");
  }
  const bool minus = a.issigned && a.negative != b.negative;
  return a.length <= 18 && well_formed(a) && well_formed(b) ? word_product(a, b, minus) : digit_product(a, b, minus);
}

// a * b rounded by `mode`.
fixedfloat rounded_product(const fixedfloat& a, const fixedfloat& b, rounding mode) {
  narration told(transcript::fixedfloat_rounded_product, transcript::fixedfloat_rounded_product_refused, a.length);
  if (b.length != a.length) {
    throw std::length_error("Size is not equal!");
  }
  // The exact product, times 10^length, back to 10^(length/2) by rounding.
  digit_vector digits(2 * a.length, 0);
  detail::multiply_digits(detail::normalised_copy(a.value.digits, a.length),
                          detail::normalised_copy(b.value.digits, a.length), digits, 2 * a.length);
  const bool minus = a.issigned && a.negative != b.negative;
  detail::round_down_places(digits, a.length / 2, mode, minus);
  fixedfloat result = fixed_result(a.length, digits, minus);
  told.finish();
  return result;
}

// a % b: the remainder of the magnitudes (both scaled alike), with a's sign.
fixedfloat remainder(const fixedfloat& a, const fixedfloat& b) {
  narration told(transcript::fixedfloat_remainder, transcript::fixedfloat_remainder_refused, a.length);
  if (b.length != a.length) {
    throw std::length_error("Size is not equal!");
  }
  const digit_vector divisor = detail::normalised_copy(b.value.digits, a.length);
  if (detail::significant_count(divisor) == 0) {
    throw std::domain_error("Division by zero!");
  }
  digit_vector quotient;
  digit_vector rest;
  detail::divide_digits(detail::normalised_copy(a.value.digits, a.length), divisor, quotient, rest);
  const bool minus = a.negative && detail::significant_count(rest) != 0;
  fixedfloat result = fixed_result(a.length, rest, minus);
  told.finish();
  return result;
}

// The `length` digits of x^n, x being the magnitude `digits` with `half`
// fraction digits, rounded once by `mode` (for a result of sign `minus`) to
// `half` fraction digits, the integer part kept modulo 10^half.
digit_vector power_places(const digit_vector& digits, std::size_t half, unsigned long long n, rounding mode,
                          bool minus) {
  const std::size_t length = digits.size();
  digit_vector kept(length, 0);
  const std::size_t top = detail::significant_count(digits);
  if (n == 0 || top == 0) {
    if (n == 0 && length > 0) {
      kept[half] = 1;  // 1.0, and 0.0 to the power 0 too
    }
    return kept;
  }
  // x = b * 10^(t - half) for b without trailing zeros, so x^n = b^n * 10^e
  // with e = t * n - half * n, and the result b^n * 10^(e + half).
  const auto t = static_cast<std::size_t>(
      std::find_if(digits.begin(), digits.end(), [](signed char d) { return d != 0; }) - digits.begin());
  const digit_vector b(digits.begin() + static_cast<std::ptrdiff_t>(t),
                       digits.begin() + static_cast<std::ptrdiff_t>(top));
  using wide = detail::int128;
  const wide shift = wide{t} * n - wide{half} * (n - 1);
  digit_vector power;
  if (shift >= 0) {
    // No digit is dropped: the low digits of b^n, moved up by `shift`.
    if (shift < static_cast<wide>(length)) {
      const auto up = static_cast<std::size_t>(shift);
      detail::power_digits(b, n, length - up, power);
      std::copy(power.begin(), power.end(), kept.begin() + static_cast<std::ptrdiff_t>(up));
    }
    return kept;
  }
  // `drop` digits go, rounded: b^n to them and the `length` above, or the
  // whole of b^n where it is shorter.
  const wide drop = -shift;
  const wide wanted = std::min<wide>(drop + static_cast<wide>(length), wide{detail::power_digits_bound(b, n)});
  if (wanted > static_cast<wide>(power.max_size() / 2)) {
    throw std::length_error("Power too large!");
  }
  detail::power_digits(b, n, static_cast<std::size_t>(wanted), power);
  if (drop > static_cast<wide>(power.size())) {
    // Every digit of the power is dropped, and it is below a tenth of the
    // unit kept: below half of it, not zero.
    if (detail::rounds_up(mode, minus, -1, true, false) && length > 0) {
      kept[0] = 1;
    }
    return kept;
  }
  const auto places = static_cast<std::size_t>(drop);
  power.resize(std::max(power.size(), places + 1), 0);  // room for a carry
  detail::round_down_places(power, places, mode, minus);
  power.resize(length, 0);
  return power;
}

using copy_line = detail::copy_deletion<detail::deletion::fixedfloat>;

}  // namespace

// Construction.

void fixedfloat::construct(unsigned long long length) {
  setup();  // the first number of the process sets the module up
  reset(*this, length, transcript::fixedfloat_made, transcript::fixedfloat_made_odd,
        transcript::fixedfloat_made_failed);
}

fixedfloat::fixedfloat() : value(detail::unlogged{}, {}) { construct(0); }

fixedfloat::fixedfloat(unsigned long long length) : value(detail::unlogged{}, {}) { construct(length); }

fixedfloat::fixedfloat(unsigned long long length, const std::string& text) : value(detail::unlogged{}, {}) {
  construct(length);
  *this = text;
}

fixedfloat::fixedfloat(unsigned long long length, double x) : value(detail::unlogged{}, {}) {
  construct(length);
  *this = x;
}

fixedfloat::fixedfloat(unsigned long long length, float x) : value(detail::unlogged{}, {}) {
  construct(length);
  *this = x;
}

fixedfloat::fixedfloat(detail::unlogged unlogged, unsigned long long length)
    : value(unlogged, digit_vector(length)), length(length) {}

fixedfloat::~fixedfloat() { detail::narrate_fixedfloat_deletion(); }

void fixedfloat::init(unsigned long long length) {
  reset(*this, length, transcript::fixedfloat_init, transcript::fixedfloat_init_odd,
        transcript::fixedfloat_init_failed);
}

// Assignment.

fixedfloat& fixedfloat::operator=(fixedint v) {
  if (v.length < length / 2) {
    throw std::out_of_range("Val too small for fixedfloat!");
  }
  // The work is done on `v`, this call's own copy, and taken over at the end:
  // resized to the length, then scaled.
  const unsigned long long half = length / 2;
  try {
    v.digits.resize(length, 0);
  } catch (...) {
    detail::narrate(transcript::fixedint_resize_failed, length);
    throw;
  }
  v.length = length;
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
    detail::narrate(transcript::fixedfloat_scaled, length);
  } else {
    // Elements outside 0 to 9 (only from writing the fields) carry as the product makes them.
    detail::narrate(transcript::fixedint_resized, length);
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

fixedint fixedfloat::getintpart() { return std::as_const(*this).getintpart(); }

fixedint fixedfloat::getintpart() const {
  fixedint part = value.getcopy();
  detail::shift_down(part.digits, length / 2);
  return part;
}

fixedint fixedfloat::getfractionpart() { return std::as_const(*this).getfractionpart(); }

fixedint fixedfloat::getfractionpart() const {
  fixedint part = value.getcopy();
  const auto half = static_cast<std::ptrdiff_t>(std::min<unsigned long long>(length / 2, part.digits.size()));
  std::fill(part.digits.begin() + half, part.digits.end(), 0);
  return part;
}

std::string fixedfloat::asstring() { return std::as_const(*this).asstring(); }

std::string fixedfloat::asstring() const {
  if (well_formed(*this)) {
    // The text made at once; the lines of the parts it has always taken.
    const unsigned long long half = length / 2;
    std::string text(length + 4, '\0');  // a sign, a zero on either side of the point at most
    const char* end =
        detail::write_fixed_text(value.digits, half, negative, false, text.data(), text.data() + text.size());
    text.resize(static_cast<std::size_t>(end - text.data()));
    const bool zero_fraction =
        std::all_of(value.digits.begin(), value.digits.begin() + static_cast<std::ptrdiff_t>(half),
                    [](signed char d) { return d == 0; });
    detail::narrate(zero_fraction ? transcript::fixedfloat_text_zero_fraction : transcript::fixedfloat_text, length);
    return text;
  }
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
  fraction.negative = false;              // the fraction's digits only, whatever value's flag says
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

// The by-value members work on their argument, the copy of the right
// operand; the const overloads make that copy, or write its lines
// (copy_line) where they need none.

fixedfloat fixedfloat::operator*(fixedfloat other) { return product(*this, other); }

fixedfloat fixedfloat::operator*(const fixedfloat& other) const {
  fixedfloat copy(other);
  return product(*this, copy);
}

fixedfloat& fixedfloat::operator*=(fixedfloat other) {
  *this = product(*this, other);
  return *this;
}

fixedfloat fixedfloat::operator+(fixedfloat other) { return signed_sum(*this, other, false); }

fixedfloat fixedfloat::operator+(const fixedfloat& other) const {
  fixedfloat copy(other);
  return signed_sum(*this, copy, false);
}

fixedfloat& fixedfloat::operator+=(fixedfloat other) {
  *this = signed_sum(*this, other, false);
  return *this;
}

fixedfloat fixedfloat::operator-(fixedfloat other) { return signed_sum(*this, other, true); }

fixedfloat fixedfloat::operator-(const fixedfloat& other) const {
  fixedfloat copy(other);
  return signed_sum(*this, copy, true);
}

fixedfloat& fixedfloat::operator-=(fixedfloat other) {
  *this = signed_sum(*this, other, true);
  return *this;
}

fixedfloat fixedfloat::operator/(fixedfloat other) { return rounded_quotient(*this, other, rounding::down); }

fixedfloat fixedfloat::operator/(const fixedfloat& other) const {
  const copy_line going;
  return rounded_quotient(*this, other, rounding::down);
}

fixedfloat& fixedfloat::operator/=(fixedfloat other) {
  *this = rounded_quotient(*this, other, rounding::down);
  return *this;
}

fixedfloat fixedfloat::operator%(fixedfloat other) { return remainder(*this, other); }

fixedfloat fixedfloat::operator%(const fixedfloat& other) const {
  const copy_line going;
  return remainder(*this, other);
}

fixedfloat& fixedfloat::operator%=(fixedfloat other) {
  *this = remainder(*this, other);
  return *this;
}

fixedfloat fixedfloat::divide(fixedfloat other, rounding mode) { return rounded_quotient(*this, other, mode); }

fixedfloat fixedfloat::divide(const fixedfloat& other, rounding mode) const {
  const copy_line going;
  return rounded_quotient(*this, other, mode);
}

fixedfloat fixedfloat::multiply(fixedfloat other, rounding mode) { return rounded_product(*this, other, mode); }

fixedfloat fixedfloat::multiply(const fixedfloat& other, rounding mode) const {
  const copy_line going;
  return rounded_product(*this, other, mode);
}

fixedfloat fixedfloat::operator-() const {
  fixedfloat copy(*this);
  copy.negative = !copy.negative;
  return copy;
}

fixedfloat fixedfloat::operator+() const { return *this; }

fixedfloat abs(const fixedfloat& x) {
  fixedfloat copy(x);
  copy.negative = false;
  return copy;
}

fixedfloat& fixedfloat::round(unsigned long long fractiondigits, rounding mode) {
  narration told(transcript::fixedfloat_rounded, transcript::fixedfloat_round_refused, length);
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
  told.finish();
  return *this;
}

fixedfloat& fixedfloat::assign(const std::string& text, rounding mode) {
  std::optional<decimal_text> parts = detail::split_decimal(text, true);
  if (!parts) {
    detail::narrate(transcript::fixedfloat_assign_refused, length);
    throw std::invalid_argument("Not a decimal number!");
  }
  // Refused, only the entry line; done, the assignment's lines between it and "Done.".
  narration refused(transcript::fixedfloat_assign_refused, transcript::fixedfloat_assign_refused, length);
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
  assign_decimal(*this, *parts, transcript::fixedfloat_assign_rounded, transcript::fixedfloat_assign_rounded_fraction);
  refused.dismiss();
  return *this;
}

fixedfloat& fixedfloat::assign(double x, rounding mode) {
  detail::float_text buffer{};
  return assign(std::string(binary_text(x, buffer)), mode);
}

fixedfloat& fixedfloat::assign(float x, rounding mode) {
  detail::float_text buffer{};
  return assign(std::string(binary_text(x, buffer)), mode);
}

// Roots and powers.

fixedfloat fixedfloat::sqrt(rounding mode) const {
  narration told(transcript::fixedfloat_square_root, transcript::fixedfloat_square_root_refused, length);
  const unsigned long long half = length / 2;
  // The value times 10^half holds the number times 10^length, whose root is
  // the number's root times 10^half: the value of the result.
  digit_vector root = detail::normalised_copy(value.digits, length + half);
  if (negative && detail::significant_count(root) != 0) {
    throw std::domain_error("Square root of a negative number!");
  }
  detail::shift_up(root, half);
  const detail::square_root_rest rest = detail::square_root_digits(root, root);
  detail::round_square_root(root, rest, mode);
  fixedfloat result = fixed_result(length, root, false);
  told.finish();
  return result;
}

fixedfloat fixedfloat::pow(unsigned long long n, rounding mode) const {
  narration told(transcript::fixedfloat_power, transcript::fixedfloat_power_refused, length);
  const bool minus = negative && n % 2 == 1;
  digit_vector power = power_places(detail::normalised_copy(value.digits, length), length / 2, n, mode, minus);
  fixedfloat result = fixed_result(length, power, minus);
  told.finish();
  return result;
}

fixedfloat sqrt(const fixedfloat& x, rounding mode) { return x.sqrt(mode); }

fixedfloat pow(const fixedfloat& x, unsigned long long n, rounding mode) { return x.pow(n, mode); }

// Conversions.

std::string fixedfloat::tofixed(unsigned long long fractiondigits, rounding mode) {
  return std::as_const(*this).tofixed(fractiondigits, mode);
}

std::string fixedfloat::tofixed(unsigned long long fractiondigits, rounding mode) const {
  const unsigned long long half = length / 2;
  const unsigned long long places = std::min(fractiondigits, half);
  std::string text(length + 4, '\0');  // a sign, a carried digit, a point and the digits
  const char* end = detail::write_fixed_places(detail::normalised_copy(value.digits, length), half, negative, places,
                                               mode, text.data(), text.data() + text.size());
  text.resize(static_cast<std::size_t>(end - text.data()));
  if (fractiondigits > places) {
    // The value is exact: its text with more places has zeros there.
    text.append(places == 0 ? "." : "");
    text.append(fractiondigits - places, '0');
  }
  return text;
}

double fixedfloat::todouble() { return std::as_const(*this).todouble(); }

double fixedfloat::todouble() const {
  return detail::to_double(detail::normalised_copy(value.digits, length), length / 2, negative);
}

bool fixedfloat::wordmagnitude(rounding mode, unsigned long long& magnitude) const {
  return detail::to_rounded_word(detail::normalised_copy(value.digits, length), length / 2, negative, mode, magnitude);
}

// Comparison.

bool fixedfloat::operator==(fixedfloat other) { return compare(*this, other, equal); }

bool fixedfloat::operator==(const fixedfloat& other) const {
  const copy_line going;
  return compare(*this, other, equal);
}

bool fixedfloat::operator!=(fixedfloat other) { return compare(*this, other, not_equal); }

bool fixedfloat::operator!=(const fixedfloat& other) const {
  const copy_line going;
  return compare(*this, other, not_equal);
}

bool fixedfloat::operator<(fixedfloat other) { return compare(*this, other, less); }

bool fixedfloat::operator<(const fixedfloat& other) const {
  const copy_line going;
  return compare(*this, other, less);
}

bool fixedfloat::operator>(fixedfloat other) { return compare(*this, other, greater); }

bool fixedfloat::operator>(const fixedfloat& other) const {
  const copy_line going;
  return compare(*this, other, greater);
}

bool fixedfloat::operator<=(fixedfloat other) { return compare(*this, other, less_equal); }

bool fixedfloat::operator<=(const fixedfloat& other) const {
  const copy_line going;
  return compare(*this, other, less_equal);
}

bool fixedfloat::operator>=(fixedfloat other) { return compare(*this, other, greater_equal); }

bool fixedfloat::operator>=(const fixedfloat& other) const {
  const copy_line going;
  return compare(*this, other, greater_equal);
}

std::from_chars_result from_chars(const char* first, const char* last, fixedfloat& value) {
  return detail::read_chars(first, last, true,
                            [&value](const decimal_text& parts) { return assign_text(value, parts); });
}

std::to_chars_result to_chars(char* first, char* last, const fixedfloat& value) {
  const bool in_range = detail::digits_in_range(value.value.digits) && value.value.digits.size() == value.length;
  return detail::number_to_chars(first, last, value, in_range, [&](char* from, char* to) {
    return detail::write_fixed_text(value.value.digits, value.length / 2, value.negative, value.value.negative, from,
                                    to);
  });
}

std::istream& operator>>(std::istream& in, fixedfloat& number) {
  return detail::read_number(in, true, [&number](const decimal_text& parts) { return assign_text(number, parts); });
}

std::ostream& operator<<(std::ostream& out, const fixedfloat& number) {
  const bool fixed = (out.flags() & std::ios_base::floatfield) == std::ios_base::fixed;
  std::string text =
      fixed ? number.tofixed(static_cast<unsigned long long>(std::max<std::streamsize>(out.precision(), 0)))
            : number.asstring();
  if ((out.flags() & std::ios_base::showpos) != 0 && text.front() != '-') {
    text.insert(text.begin(), '+');
  }
  return out << text;
}

}  // namespace VELDAR

std::size_t std::hash<VELDAR::fixedfloat>::operator()(const VELDAR::fixedfloat& number) const noexcept {
  return VELDAR::detail::hash_digits(number.value.digits, number.negative && !VELDAR::is_zero(number));
}

bool std::equal_to<VELDAR::fixedfloat>::operator()(const VELDAR::fixedfloat& a,
                                                   const VELDAR::fixedfloat& b) const noexcept {
  return a.length == b.length && VELDAR::compare_values(a, b) == 0;
}

bool std::less<VELDAR::fixedfloat>::operator()(const VELDAR::fixedfloat& a,
                                               const VELDAR::fixedfloat& b) const noexcept {
  const auto sign = [](const VELDAR::fixedfloat& x) { return VELDAR::is_zero(x) ? 0 : x.negative ? -1 : 1; };
  const int sign_a = sign(a);
  const int sign_b = sign(b);
  int order = sign_a < sign_b ? -1 : sign_a > sign_b ? 1 : 0;
  if (order == 0 && sign_a != 0) {
    order = sign_a * VELDAR::compare_scaled(a.value.digits, a.length / 2, b.value.digits, b.length / 2);
  }
  return order < 0 || (order == 0 && a.length < b.length);
}
