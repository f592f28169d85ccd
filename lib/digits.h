// The digit loops behind fixedint's arithmetic, internal to the library.
//
// Digit vectors hold one decimal digit per element, least significant first.
// Every function here gives the results of the plain digit-by-digit method:
// the fast paths (eight digits to a machine word for sums, base 10^9 limbs
// with a Karatsuba step for products) are taken only when every element is a
// digit 0 to 9, and elements outside that range, which only come from writing
// the public fields directly, go through the plain loops as they always have.
#pragma once

#include <cstddef>
#include <vector>

namespace VELDAR::detail {

using digitvector = std::vector<signed char>;

// Decimal digits per limb of the multiplication.
inline constexpr std::size_t limbdigits = 9;
// The thresholds below were measured on products of random digits 1 to 9
// (an x86-64 machine, g++ -O3); the times are flat for some way around them.
// Products with fewer significant digits in either factor use the plain loop:
// below four digits it beats the limbs' conversions and buffer.
inline constexpr std::size_t plainproductdigits = 4;
// Karatsuba splits full products of at least this many limbs a side; shorter
// ones are multiplied limb by limb. It starts to pay between 40 and 96 limbs.
inline constexpr std::size_t karatsubalimbs = 64;
// Truncated products of at least this many limbs are split in two halves;
// shorter ones are multiplied limb by limb, column by column, which already
// skips half the work. The split pays from about 200 limbs.
inline constexpr std::size_t splitlowlimbs = 192;

// The number of elements up to the most significant non-zero one.
std::size_t significantcount(const digitvector& digits);

// Whether every element is a digit 0 to 9.
bool alldigits(const digitvector& digits);

// sum = a + b over sum.size() digits; returns the carry out of the top digit.
// Elements past the end of a shorter `a` or `b` count as zeros. Elements
// outside 0 to 9 carry as often as needed.
int adddigits(const digitvector& a, const digitvector& b, digitvector& sum);

// difference = a - b over difference.size() digits; returns the borrow out of
// the top digit, non-zero exactly when b's magnitude exceeds a's. Elements past
// the end of a shorter `a` or `b` count as zeros.
int subtractdigits(const digitvector& a, const digitvector& b, digitvector& difference);

// product += a * b over the significant digits, keeping the low `kept` digits
// exact: the plain method's product of digits 0 to 9 has every digit in place,
// so product[0, kept) ends up as (a * b) mod 10^kept. `product` starts at zero
// and must have room for both significant digit counts together; elements
// from `kept` up are left for the caller to drop.
void multiplydigits(const digitvector& a, const digitvector& b, digitvector& product, std::size_t kept);

}  // namespace VELDAR::detail
