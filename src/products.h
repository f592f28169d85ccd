// The products behind fixedint's *, internal to the library.
//
// multiply_digits() gives the results of the plain digit-by-digit method.
// Where every element is a digit 0 to 9 it multiplies on limbs of nine digits
// (products.cpp and transform.cpp explain the methods); elements outside
// that range, which only come from writing the public fields directly, go
// through the plain loop.
#pragma once

#include <cstddef>

#include "digits.h"
#include "limbs.h"

namespace VELDAR::detail {

// The thresholds below are what bench/veldar-thresholds measured on random
// limbs (an x86-64 machine, g++ -O3, bench/README.md has the runs): each is
// the smallest size from which the method above it was the faster at every
// size measured. The times are flat for some way around them. They come in
// two sets: for a processor with AVX-512 and IFMA (F, DQ and IFMA), where
// the schoolbook's columns and the vector transform run, the `wide_` and
// `vector_` ones, and for any other the plain names, measured with the
// schoolbook's rows of AVX2 and the scalar transform. The functions further
// down give the set of the processor at hand.
// Products with fewer significant digits in either factor use the plain loop:
// below four digits it beats the limbs' conversions and buffer.
inline constexpr std::size_t plain_product_digits = 4;
// Karatsuba splits full products of at least this many limbs a side; shorter
// ones are multiplied limb by limb, in rows that vectorise, which keeps up
// with one split up to about 300 limbs (1.31 times as fast at 128 limbs, 1.0
// at 215 to 304, 0.9 from 431 up). The schoolbook's AVX-512 columns keep up
// with it up to about 724 limbs (0.98 to 1.0 there, 0.94 at 1,024), past the
// vector transform's threshold: where they run, Karatsuba serves products
// too long for the transform alone.
inline constexpr std::size_t karatsuba_limbs = 304;
inline constexpr std::size_t wide_karatsuba_limbs = 724;
// Truncated products of at least this many limbs are split in two halves;
// shorter ones are multiplied limb by limb, row by row, which already skips
// half the work. The split pays only from about 1,400 limbs (2,048 against
// the AVX-512 columns), past the transform's thresholds: it is left for
// products too long for the transform.
inline constexpr std::size_t split_low_limbs = 1448;
inline constexpr std::size_t wide_split_low_limbs = 2048;
// Full products with at least this many limbs in the shorter factor go
// through the number-theoretic transform (transform.cpp), on its scalar
// kernel (transform_kernel below). Its time steps up with its length, a
// power of two or three times one: from 512 limbs a side it is faster than
// Karatsuba (0.8 times at 512, 0.57 at 1,024 limbs).
inline constexpr std::size_t transform_limbs = 512;
// Truncated products (of factors of na and nb limbs keeping n limbs with
// 2 na nb > n^2; the others are full products) keeping at least this many
// limbs go through the scalar transform too, which computes the full
// product: from 861 limbs it is as fast as the truncated rows or faster,
// 0.67 times at 1,024 limbs.
inline constexpr std::size_t transform_low_limbs = 861;
// The same two for the vector kernel, four to five times as fast as the
// scalar one: from 215 limbs a side it beats the schoolbook's AVX-512
// columns (0.95 times at 215, 0.70 at 256, 0.40 at 512), and from 512 limbs
// kept the truncated columns (0.88 times at 512, 0.62 at 1,024).
inline constexpr std::size_t vector_transform_limbs = 215;
inline constexpr std::size_t vector_transform_low_limbs = 512;
// The thresholds of the processor at hand: the wide set where
// vector_transform_available(), else the other.
std::size_t karatsuba_from_limbs();
std::size_t split_low_from_limbs();
std::size_t transform_from_limbs();
std::size_t transform_low_from_limbs();

// product += a * b over the significant digits, keeping the low `kept` digits
// exact: the plain method's product of digits 0 to 9 has every digit in place,
// so product[0, kept) ends up as (a * b) mod 10^kept. `product` starts at zero
// and must have room for both significant digit counts together; elements
// from `kept` up are left for the caller to drop.
void multiply_digits(const digit_vector& a, const digit_vector& b, digit_vector& product, std::size_t kept);

// The plain loop, one digit at a time: the reference the limb paths must match.
void multiply_digits_plain(const digit_vector& a, const digit_vector& b, digit_vector& product);

// out[0, na + nb) = a * b, exactly, for factors of any sizes; `out` must not
// overlap them. Every full product of the kernels goes through here: it
// chooses among the methods below by the sizes.
void multiply_limbs(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out);

// The methods one by one, whatever the sizes, for the tests and benchmarks.
// Each writes `out` only once all its scratch memory is allocated; the
// transform is in transform.h.

// out[0, na + nb) = a * b: limb by limb below karatsuba_from_limbs() limbs
// in the shorter factor, Karatsuba on slices of the longer one above.
// Factors below `karatsuba_from` limbs (at least 2; 0 for the processor's
// threshold) are multiplied limb by limb, for the thresholds command.
void multiply_karatsuba(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out,
                        std::size_t karatsuba_from = 0);
// out[0, n) = (a * b) mod 10^(9n) for factors of n limbs: limb by limb below
// split_low_from_limbs(), split into one full and two truncated halves above.
// Truncated products below `split_from` limbs (at least 2; 0 for the
// processor's threshold) are not split.
void multiply_karatsuba_low(const limb* a, const limb* b, std::size_t n, limb* out, std::size_t split_from = 0);
// out[0, n) = (a * b) mod 10^(9n) for factors of na and nb <= n limbs, by
// the method the sizes call for. `out` has room for max(na + nb, n) limbs;
// those from n up are left as they come.
void multiply_limbs_low(const limb* a, std::size_t na, const limb* b, std::size_t nb, std::size_t n, limb* out);

// out[0, L) = (a * b) mod (B^L - 1) for L = wrapped_limbs(some length)
// (transform.h) and na, nb <= L: the transform's cyclic convolution where it
// takes L, else the whole product folded. The residue 0 may come out as
// B^L - 1. For a product known to lie within (B^L - 1) / 2 of a number at
// hand, as in the division's corrections. `out` must not overlap the factors.
void multiply_wrapped(const limb* a, std::size_t na, const limb* b, std::size_t nb, std::size_t limbs, limb* out);
}  // namespace VELDAR::detail
