// The sums and differences behind fixedint's + and -, internal to the library.
//
// Both give the results of the plain digit-by-digit method. Where every
// element is a digit 0 to 9 they work sixteen digits at a time (sums.cpp
// explains how); elements outside that range, which only come from writing
// the public fields directly, go through the plain loops below.
#pragma once

#include "digits.h"

namespace VELDAR::detail {

// sum = a + b over sum.size() digits; returns the carry out of the top digit.
// Elements past the end of a shorter `a` or `b` count as zeros. Elements
// outside 0 to 9 carry as often as needed.
int add_digits(const digit_vector& a, const digit_vector& b, digit_vector& sum);

// difference = a - b over difference.size() digits; returns the borrow out of
// the top digit, non-zero exactly when b's magnitude exceeds a's. Elements
// past the end of a shorter `a` or `b` count as zeros.
int subtract_digits(const digit_vector& a, const digit_vector& b, digit_vector& difference);

// out = a + b (a - b when `complement`) where `out` is the very vector `a` or
// `b`, all three of one size, so that no new digits are needed: true, with
// the carry (the borrow) in `carry`, when every element is a digit 0 to 9;
// else false, with every element as it was (the plain loops are then for a
// vector apart). For the tests, `vector_digits` as in sum_digits_with().
bool sum_in_place(const digit_vector& a, const digit_vector& b, digit_vector& out, bool complement, int& carry,
                  std::size_t vector_digits);
bool sum_in_place(const digit_vector& a, const digit_vector& b, digit_vector& out, bool complement, int& carry);
// b = a + b, or for a `difference` b = |a - b|, for vectors of one size up
// to eight elements, each a digit 0 to 9: in one machine word, no pass of
// its own. True, with the carry out of the top of a sum, or whether b was
// the larger of a difference, in `flag`: 7 + 5 at one digit -> 2, true;
// |3 - 5| -> 2, true. False, with nothing changed, for other vectors.
bool small_sum_in_place(const digit_vector& a, digit_vector& b, bool difference, bool& flag);

// The digits the vector pass takes at a time: 64 where the processor has
// AVX-512 (F and BW), 32 where it has AVX2, else 16.
std::size_t widest_vector_digits();
// add_digits() (subtract_digits() when `complement`) with a vector pass of
// `vector_digits` digits at a time: 16, 32 or 64 up to what
// widest_vector_digits() says, or 0 for the word loop alone. For the tests.
int sum_digits_with(const digit_vector& a, const digit_vector& b, digit_vector& out, bool complement,
                    std::size_t vector_digits);

// The plain loops, one digit at a time: the reference the fast paths must match.
int add_digits_plain(const digit_vector& a, const digit_vector& b, digit_vector& sum);
int subtract_digits_plain(const digit_vector& a, const digit_vector& b, digit_vector& difference);

}  // namespace VELDAR::detail
