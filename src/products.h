// The products behind fixedint's *, internal to the library.
//
// multiply_digits() gives the results of the plain digit-by-digit method.
// Where every element is a digit 0 to 9 it multiplies on limbs of nine digits
// (products.cpp explains the methods and their thresholds); elements outside
// that range, which only come from writing the public fields directly, go
// through the plain loop.
#pragma once

#include <cstddef>

#include "digits.h"

namespace VELDAR::detail {

// Decimal digits per limb of the multiplication.
inline constexpr std::size_t limb_digits = 9;
// The thresholds below were measured on products of random digits 1 to 9
// (an x86-64 machine, g++ -O3); the times are flat for some way around them.
// Products with fewer significant digits in either factor use the plain loop:
// below four digits it beats the limbs' conversions and buffer.
inline constexpr std::size_t plain_product_digits = 4;
// Karatsuba splits full products of at least this many limbs a side; shorter
// ones are multiplied limb by limb. It starts to pay between 40 and 96 limbs.
inline constexpr std::size_t karatsuba_limbs = 64;
// Truncated products of at least this many limbs are split in two halves;
// shorter ones are multiplied limb by limb, column by column, which already
// skips half the work. The split pays from about 200 limbs.
inline constexpr std::size_t split_low_limbs = 192;

// product += a * b over the significant digits, keeping the low `kept` digits
// exact: the plain method's product of digits 0 to 9 has every digit in place,
// so product[0, kept) ends up as (a * b) mod 10^kept. `product` starts at zero
// and must have room for both significant digit counts together; elements
// from `kept` up are left for the caller to drop.
void multiply_digits(const digit_vector& a, const digit_vector& b, digit_vector& product, std::size_t kept);

// The plain loop, one digit at a time: the reference the limb paths must match.
void multiply_digits_plain(const digit_vector& a, const digit_vector& b, digit_vector& product);

}  // namespace VELDAR::detail
