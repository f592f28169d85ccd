// Plain arithmetic on digit vectors (least significant digit first), written
// for the kernel tests alone as their independent reference, and operands of
// the shapes that reach the kernels' edge cases. The quotient and the square
// root tests share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "digits.h"
#include "limbs.h"
#include "platform.h"

namespace veldar_test {

using VELDAR::detail::digit_vector;
using u128 = VELDAR::detail::uint128;

inline constexpr std::uint32_t limb_base = 1000000000;

// The count of digits below the highest nonzero one, and x without the
// zeros above it.
std::size_t significant(const digit_vector& x);
digit_vector trimmed(digit_vector x);

// Schoolbook product, one row of base 10^9 words at a time with the carry in
// 64 bits; the sum; x - y for x >= y; x < y. Each result is trimmed.
digit_vector product(const digit_vector& x, const digit_vector& y);
digit_vector sum(const digit_vector& x, const digit_vector& y);
digit_vector difference(const digit_vector& x, const digit_vector& y);
bool less(const digit_vector& x, const digit_vector& y);

// The value of x, which must fit; the digits of v, in `size` elements or in
// as many as v has.
u128 value(const digit_vector& x);
digit_vector digits_of(u128 v, std::size_t size);
digit_vector digits_of(u128 v);

// The digits from the top, cut in the middle past 120 of them; "(empty)" for
// none.
std::string text(const digit_vector& x);

// x * y + r on base 10^9 limbs, as `size` words below 10^9 each, least
// significant first: a product checked limb by limb. `size` must hold the
// result.
std::vector<std::uint64_t> limb_product_plus(const VELDAR::detail::limb_vector& x, const VELDAR::detail::limb_vector& y,
                                             const VELDAR::detail::limb_vector& r, std::size_t size);

// The shapes of the random operands.
enum class shape { uniform, nonzero, nines, sparse, power, limbs, count };
extern const char* const shape_names[];

// A number of exactly `count` significant digits (none for count 0) of shape
// `s`; the limbs of shape::limbs are random or, two times in three, one of
// `edges`.
digit_vector make_number(std::mt19937_64& rng, std::size_t count, shape s, const std::vector<std::uint32_t>& edges);
shape random_shape(std::mt19937_64& rng);

// x, one time in three with up to 19 zeros above its digits.
digit_vector with_leading_zeros(std::mt19937_64& rng, digit_vector x);

}  // namespace veldar_test
