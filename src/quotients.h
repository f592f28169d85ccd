// Exact integer division of digit vectors, internal to the library: the
// kernel behind fixedint's / and % and fixed-point division.
//
// Numbers are divided on 32-bit limbs of base 10^9, least significant first,
// as products.cpp multiplies them. quotients.cpp explains the method.
#pragma once

#include <cstddef>
#include <cstdint>

#include "digits.h"
#include "limbs.h"

namespace VELDAR::detail {

// Dividends of at most this many significant digits (below 10^19 < 2^64) are
// divided as one machine word.
inline constexpr std::size_t word_division_digits = 19;
// Quotient blocks of at least this many limbs are divided recursively
// (Burnikel and Ziegler: the block is estimated from the divisor's top limbs
// and corrected with a product); shorter ones by schoolbook division. The
// recursive step on m quotient limbs under a divisor of 2m limbs trades m x m
// schoolbook steps for a product of two m-limb factors, which pays from
// m = 431 limbs as bench/veldar-thresholds measured it (random limbs, an
// x86-64 machine, g++ -O3; 0.95 times the schoolbook's time there, 0.71 at
// 1,024 limbs).
// The tests build the kernel a second time with a small value, to take the
// recursion at small sizes.
#ifndef VELDAR_RECURSIVE_DIVISION_LIMBS
#define VELDAR_RECURSIVE_DIVISION_LIMBS 256
#endif
inline constexpr std::size_t recursive_division_limbs = VELDAR_RECURSIVE_DIVISION_LIMBS;
static_assert(recursive_division_limbs >= 2, "the schoolbook divides by two limbs or more");

// Divisors of at least this many limbs are divided by their reciprocal, made
// by Newton's iteration (quotients.cpp explains it), in blocks of at least
// half as many quotient limbs: a quotient of 2n limbs by n costs about four
// and a half products of n limbs then, against the recursion's one a level.
// bench/veldar-thresholds measures the two alike up to about 700 limbs, and
// the reciprocal faster from 724 (0.86 times there, 0.77 at 1,448 limbs,
// half the time at 10^5 limbs).
#ifndef VELDAR_RECIPROCAL_DIVISION_LIMBS
#define VELDAR_RECIPROCAL_DIVISION_LIMBS 304
#endif
inline constexpr std::size_t reciprocal_division_limbs = VELDAR_RECIPROCAL_DIVISION_LIMBS;

// q[0, na - nb + 1) = a / b and r[0, nb) = a % b for limbs 0 to 10^9 - 1,
// na >= nb >= 1 and b[nb - 1] != 0. The results are written only once
// everything else has been done, so a std::bad_alloc leaves q and r as they
// were, and q or r may be `a` or `b`; q and r must not overlap each other.
void divide_limbs(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* q, limb* r);
// The same, with blocks of `recursive_limbs` quotient limbs or more (at least
// 2) divided recursively, and divisors of `reciprocal_limbs` limbs or more by
// their reciprocal: for the tests and the thresholds command.
void divide_limbs_with(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* q, limb* r,
                       std::size_t recursive_limbs, std::size_t reciprocal_limbs = reciprocal_division_limbs);

// x[0, n + 1) within three units of B^2n / v for the normalised divisor
// v[0, n) (v[n - 1] >= B / 2), by Newton's iteration down to divisors of
// `base_limbs` limbs, whose reciprocal is exact: for the tests.
void reciprocal_limbs(const limb* v, std::size_t n, limb* x, std::size_t base_limbs);

// quotient = a / b and remainder = a % b for digit vectors of digits 0 to 9
// (least significant first, any lengths, leading zeros allowed). The quotient
// gets a.size() elements and the remainder b.size(), zero-padded on top.
// Throws std::domain_error "Division by zero!" when b is zero. Strong guarantee: on an exception
// both outputs are left as they were. The outputs may be `a` or `b` but must
// be two different vectors.
void divide_digits(const digit_vector& a, const digit_vector& b, digit_vector& quotient, digit_vector& remainder);

// x / y for machine words, y != 0, rounded by `mode` for a result of sign
// `negative` (rounding::down: cut toward zero), and x % y, the remainder of
// the quotient cut toward zero: 7 / 2 halfeven gives 4 and 1. Throws as
// rounds_up() does (digits.h). The one division of numbers that fit a word:
// divide_digits() and fixedint's / and divide() take it.
struct word_division {
  unsigned long long quotient;
  unsigned long long remainder;
};
inline word_division divide_word(unsigned long long x, unsigned long long y, rounding mode = rounding::down,
                                 bool negative = false) {
  const unsigned long long q = x / y;
  const unsigned long long r = x % y;
  // The remainder against half the divisor: r < y - r exactly when 2r < y.
  const int dropped = r < y - r ? -1 : r == y - r ? 0 : 1;
  const bool up = r != 0 && rounds_up(mode, negative, dropped, true, q % 2 != 0);
  return {q + (up ? 1 : 0), r};
}

// Rounds a quotient cut toward zero by `mode`, for a result of sign
// `negative`, from the remainder its division left by `divisor`: 7 / 2 gives
// 3 and 1, which halfeven makes 4. Throws as rounds_up() does (digits.h).
// A quotient below 10^size - 1 takes the unit it may gain.
void round_quotient(digit_vector& quotient, const digit_vector& remainder, const digit_vector& divisor, rounding mode,
                    bool negative);

}  // namespace VELDAR::detail
