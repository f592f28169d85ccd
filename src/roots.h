// Square roots and powers of digit vectors, internal to the library: the
// kernels behind fixedint's and fixedfloat's sqrt() and pow().
//
// Both work on 32-bit limbs of base 10^9 (limbs.h) where the numbers are
// long, and on machine words where they are short; roots.cpp explains the
// methods. Scratch memory comes from the thread's arena (scratch.h).
#pragma once

#include <cstddef>

#include "digits.h"
#include "limbs.h"

namespace VELDAR::detail {

// Square roots of at most this many significant digits (below 10^38 < 2^127)
// are taken in one 128-bit word.
inline constexpr std::size_t word_root_digits = 38;
// Square roots of at most this many limbs (below 10^36) are taken in one
// 128-bit word; longer ones take one Newton step on top of the root of their
// upper half (roots.cpp).
inline constexpr std::size_t word_root_limbs = 4;
// Powers kept to at most this many digits (below 10^19 < 2^64) are taken in
// machine words, a product in 128 bits.
inline constexpr std::size_t word_power_digits = 19;

// What rounding a square root cut toward zero needs: whether the root is
// exact, and whether the true root lies above the root cut toward zero plus
// one half, which is when n - root^2 > root (a tie cannot happen for an
// integer n). sqrt(2): root 1, not exact, not above; sqrt(3): root 1, above.
struct square_root_rest {
  bool exact = true;
  bool above_half = false;
};

// root = floor(sqrt(n)) for a digit vector of digits 0 to 9 (least
// significant first, any length, leading zeros allowed): {1, 2} (21) ->
// {4} (4), not exact, above half (21 - 16 = 5 > 4). The root gets
// (n.size() + 1) / 2 elements, zero-padded on top (the most a root of n
// can have). Strong guarantee: on std::bad_alloc the root is left as it was.
// The root may be the very vector `n`.
square_root_rest square_root_digits(const digit_vector& n, digit_vector& root);

// Rounds a root that square_root_digits() cut toward zero by `mode`, from the
// rest it reported: sqrt(3) gives 1, above half, which halfeven makes 2. A
// root of all nines that rounds up takes an element more (sqrt(99) gives 9,
// above half: halfup makes it 10). rounding::exact throws std::domain_error
// "Rounding necessary!" when the root is not exact; that and std::bad_alloc
// leave the root as it was.
void round_square_root(digit_vector& root, const square_root_rest& rest, rounding mode);

// s[0, h) = floor(sqrt(m)) and r[0, h + 1) = m - s^2 (at most 2s) for limbs
// m[0, n), each 0 to 10^9 - 1, leading zero limbs allowed, h = (n + 1) / 2.
// The results are written only once everything else has been done, so a
// std::bad_alloc leaves s and r as they were, and either may be `m`; s and r
// must not overlap each other.
void square_root_limbs(const limb* m, std::size_t n, limb* s, limb* r);

// result = a^n modulo 10^kept, for a digit vector `a` of digits 0 to 9 (any
// length, leading zeros allowed), as exactly `kept` digits: 12^2 kept to 2
// digits is {4, 4} (144 mod 100), to 5 digits {4, 4, 1, 0, 0}. a^0 is 1 (0^0
// too, when kept > 0). Huge n with a small `kept` costs O(log n) products of
// `kept` digits, and 0, 1, powers of ten and n = 1 no product at all. The
// exact power is the same call with `kept` at least its digits: its time is
// that of the power's own digits, however large `kept` is, but the result's
// `kept` elements are allocated (and zeroed) first, so a caller keeps
// min(kept, power_digits_bound(a, n)) and checks that against the memory it
// can spend. Strong guarantee: std::bad_alloc, also when `kept` passes what
// a vector can hold, leaves the result as it was; the result may be the very
// vector `a`.
void power_digits(const digit_vector& a, unsigned long long n, std::size_t kept, digit_vector& result);

// An upper bound on the significant digits of a^n, for a digit vector of
// digits 0 to 9: exact when a is 0, 1 or a power of ten, or n is 0 or 1, and
// otherwise at most two above the true count while n is below 10^12 (the
// bound comes from a double's log10 of a's top 15 digits); std::size_t's
// largest value when it passes that. 2^100 has 31 digits: the bound is 32.
// Kept to min(kept, this bound) digits, power_digits() gives the same value
// in no more memory than the power needs.
std::size_t power_digits_bound(const digit_vector& a, unsigned long long n);

}  // namespace VELDAR::detail
