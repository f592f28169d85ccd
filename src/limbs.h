// Limbs: the numbers the product and quotient kernels work on, internal to
// the library. Nine decimal digits make one 32-bit limb of base 10^9, least
// significant limb first, so a limb product stays below 10^18 < 2^60. Beside
// the limb conversions, the one conversion of digits to a machine word, in
// an unchecked and a checked form, with the powers of ten a word holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace VELDAR::detail {

using limb = std::uint32_t;
using limb_vector = std::vector<limb>;
inline constexpr limb limb_base = 1000000000;
inline constexpr std::size_t limb_digits = 9;

// The most digits a machine word holds whatever they are: 19.
inline constexpr std::size_t word_width = 19;
// 10^exponent, for exponents up to word_width.
unsigned long long power_of_ten(std::size_t exponent);

// The limbs that hold `digit_count` digits.
inline std::size_t limbs_for(std::size_t digit_count) { return (digit_count + limb_digits - 1) / limb_digits; }

// out = the limbs of the `count` digits 0 to 9 at `digits`, least significant
// first; the top limb takes what is left: 12 digits -> 2 limbs.
void to_limbs(const signed char* digits, std::size_t count, limb* out);
// digits[0, count) = the low `count` digits of the limbs.
void to_digits(const limb* limbs, std::size_t count, signed char* digits);

// Digits as one machine word, for numbers of few digits.

// The value of the eight digits in the bytes of `lanes`, the least
// significant in its lowest byte: pairs, fours, then the eight combined.
inline std::uint64_t eight_digits(std::uint64_t lanes) {
  lanes = (lanes & 0x00FF00FF00FF00FFULL) + ((lanes >> 8U) & 0x00FF00FF00FF00FFULL) * 10;
  lanes = (lanes & 0x0000FFFF0000FFFFULL) + ((lanes >> 16U) & 0x0000FFFF0000FFFFULL) * 100;
  return (lanes & 0x00000000FFFFFFFFULL) + (lanes >> 32U) * 10000;
}
// The value of the `count` digits 0 to 9 at `digits`, least significant
// first, for count <= 19 (below 10^19 < 2^64): {1, 2} -> 21. Unchecked: the
// caller knows the digits and their count.
std::uint64_t word_of_digits(const signed char* digits, std::size_t count);
// The same for any count, leading zeros allowed, into `value`; false, with
// `value` as it was, when the number is 2^64 or more.
bool checked_word_of_digits(const signed char* digits, std::size_t count, unsigned long long& value);

// Sums and differences, limb by limb. `out` may be `x`.

// out[0, n) = x + y; returns the carry.
limb add_limbs(const limb* x, const limb* y, std::size_t n, limb* out);
// out[0, n) = x - y; returns the borrow.
limb subtract_limbs(const limb* x, const limb* y, std::size_t n, limb* out);
// x[0, n) += carry, rippling up; returns what is left of it.
limb carry_limbs(limb* x, std::size_t n, limb carry);
// x[0, n) -= borrow, rippling up; returns what is left of it.
limb borrow_limbs(limb* x, std::size_t n, limb borrow);

}  // namespace VELDAR::detail
