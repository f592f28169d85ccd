// The digit layer under fixedint and fixedfloat, internal to the library: the
// one home of every helper both classes need on digit vectors and decimal
// text. The arithmetic kernels are in sums.h and products.h.
//
// A digit vector holds one decimal digit per element, least significant
// first: 120 is {0, 2, 1}. Elements outside 0 to 9 only come from writing the
// public fields directly; every helper here takes them as they are.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include <veldar/rounding.h>

#include "limbs.h"

namespace VELDAR::detail {

using digit_vector = std::vector<signed char>;

// Counting and checking.

// The number of elements up to the most significant non-zero one: 00120 -> 3.
std::size_t significant_count(const digit_vector& digits);
// The digits up to the most significant non-zero one: 00120 -> {0, 2, 1};
// empty for zero.
digit_vector shortened_digits(const digit_vector& digits);
// Whether every element is a digit 0 to 9.
bool digits_in_range(const digit_vector& digits);
bool digits_in_range(const signed char* digits, std::size_t count);
// -1, 0 or 1 as the magnitude held in `a` is below, equal to or above `b`'s,
// whatever the two lengths: 0042 and 42 are equal.
int compare_magnitudes(const digit_vector& a, const digit_vector& b);

// Moving whole digits; the length stays.

// Times 10^places, the top digits lost: 0123 up by 2 -> 2300.
void shift_up(digit_vector& digits, std::size_t places);
// Divided by 10^places, truncated: 1234 down by 2 -> 0012.
void shift_down(digit_vector& digits, std::size_t places);

// Decimal text.

// Whether `text` holds only the characters '0' to '9' ("" does).
bool is_digit_text(std::string_view text);
// Writes the decimal digits of `text` into `digits`, its last digit at element
// `lowest`: "12" at 1 into 0000 -> 0120.
void place_digits(digit_vector& digits, std::string_view text, std::size_t lowest);

// A decimal number as text: its sign, its integer digits without leading
// zeros and its fraction digits without trailing zeros ("" for none).
struct decimal_text {
  bool minus = false;
  std::string_view integer;
  std::string_view fraction;
};

// Splits an optional sign, integer digits and, when `point` allows it, a "."
// and fraction digits, with at least one digit in all: "-0.05", "1200.05",
// ".5" and "5." are numbers; "", ".", "1e3" and " 1" are not (std::nullopt),
// nor is "1.5" without `point`.
std::optional<decimal_text> split_decimal(std::string_view text, bool point);

// Rounding.

// The value of `digits` modulo 10^size with every element a digit 0 to 9:
// elements outside that range (only from writing the fields directly) carry
// into the next one, the carry out of the top is dropped: {15, 0} -> {5, 1}.
void normalise_digits(digit_vector& digits);
// A copy of `digits` with `length` elements, each 0 to 9 (normalised as
// above): the magnitude an operation works on.
digit_vector normalised_copy(const digit_vector& digits, std::size_t length);
// Adds one to the magnitude, the carry out of the top dropped: 999 -> 000.
void increment_digits(digit_vector& digits);
// 10^size less the magnitude, for digits 0 to 9, zero staying zero: 0120 ->
// 9880. The magnitude that a difference which borrowed stands for.
void negate_digits(digit_vector& digits);
// Whether a magnitude cut toward zero goes up by one in its last place kept
// under `mode`, for a result of sign `negative`. `dropped` tells how the part
// cut off compares with half a unit of that place (-1 below, and so when it
// is zero, 0 a tie, 1 above), `inexact` whether it is not zero, `odd` whether
// the last digit kept is odd. rounding::exact throws std::domain_error
// "Rounding necessary!" when `inexact`.
bool rounds_up(rounding mode, bool negative, int dropped, bool inexact, bool odd);
// Divides the magnitude by 10^places, rounded by `mode` for a number of sign
// `negative`: 1235 by 1 with halfeven -> 0124. Throws as rounds_up() does,
// before anything changes.
void round_down_places(digit_vector& digits, std::size_t places, rounding mode, bool negative);

// Machine words, for numbers of few digits.

// (word_width and power_of_ten() come with the limbs, limbs.h.)
// The value of `digits` when it has at most word_width elements, each a
// digit 0 to 9: {1, 2} -> 21; false for any other vector. The fast paths of
// fixedint's arithmetic test and read their operands with it in one go; the
// plain conversions are word_of_digits() and checked_word_of_digits()
// (limbs.h).
bool small_word(const digit_vector& digits, unsigned long long& value);
// `value`, below 10^digits.size(), into `digits`: 234 into 3 -> {4, 3, 2}.
void put_small_word(unsigned long long value, digit_vector& digits);
// The integer part of the fixed-point magnitude in `digits` (`half` fraction
// digits, each 0 to 9), its fraction rounded by `mode` for the sign
// `negative`, as a machine word; false when it is 2^64 or more.
// rounding::exact throws std::domain_error "Rounding necessary!" for a
// fraction that is not zero.
bool to_rounded_word(const digit_vector& digits, std::size_t half, bool negative, rounding mode,
                     unsigned long long& magnitude);

// Hashing.

// A hash of the digit elements and the sign.
std::size_t hash_digits(const digit_vector& digits, bool negative);

}  // namespace VELDAR::detail
