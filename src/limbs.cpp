// Limb conversions and sums. Digits become limbs eight at a time, read as one
// little-endian word and summed in pairs, fours and eights; limbs become
// digits two at a time, from a fixed-point product with 10^-8.
#include "limbs.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace VELDAR::detail {

namespace {

using word = std::uint64_t;

// Whether eight digits can be read as one little-endian word, as in
// sums.cpp; on other machines the digits are read one at a time.
constexpr bool words_in_order = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// The limb of nine digits 0 to 9 at `digits`, least significant first. The
// first eight are read as one word and summed in pairs, fours and eights.
limb limb_of_nine(const signed char* digits) {
  word w = 0;
  std::memcpy(&w, digits, sizeof w);
  w = (w & 0x00ff00ff00ff00ffU) + ((w >> 8) & 0x00ff00ff00ff00ffU) * 10;
  w = (w & 0x0000ffff0000ffffU) + ((w >> 16) & 0x0000ffff0000ffffU) * 100;
  w = (w & 0xffffffffU) + (w >> 32) * 10000;
  return static_cast<limb>(w) + static_cast<limb>(digits[8]) * 100000000;
}

// The pairs of digits 00 to 99, units first.
constexpr std::array<signed char, 200> digit_pairs = [] {
  std::array<signed char, 200> pairs{};
  for (std::size_t k = 0; k < 100; ++k) {
    pairs[2 * k] = static_cast<signed char>(k % 10);
    pairs[2 * k + 1] = static_cast<signed char>(k / 10);
  }
  return pairs;
}();

// digits[0, 9) = the digits of the limb n, least significant first. The
// product n * ceil(2^57 / 10^8) holds n / 10^8 above bit 57 and the rest as
// a fraction below it, precise enough for every n below 10^9 (checked for all
// of them); each further pair of digits is the top of the fraction times 100.
void nine_digits(limb n, signed char* digits) {
  constexpr unsigned shift = 57;
  constexpr word fraction = (word{1} << shift) - 1;
  word y = n * ((word{1} << shift) / 100000000 + 1);
  digits[8] = static_cast<signed char>(y >> shift);
  for (std::size_t k = 8; k > 0; k -= 2) {
    y = (y & fraction) * 100;
    std::memcpy(digits + k - 2, &digit_pairs[2 * (y >> shift)], 2);
  }
}

}  // namespace

void to_limbs(const signed char* digits, std::size_t count, limb* out) {
  std::size_t first = 0;
  if constexpr (words_in_order) {
    for (; first + limb_digits <= count; first += limb_digits) {
      *out++ = limb_of_nine(digits + first);
    }
  }
  for (; first < count; first += limb_digits) {
    limb value = 0;
    for (std::size_t i = std::min(first + limb_digits, count); i-- > first;) {
      value = value * 10 + static_cast<limb>(digits[i]);
    }
    *out++ = value;
  }
}

void to_digits(const limb* limbs, std::size_t count, signed char* digits) {
  std::size_t first = 0;
  for (; first + limb_digits <= count; first += limb_digits) {
    nine_digits(*limbs++, digits + first);
  }
  if (first < count) {
    std::array<signed char, limb_digits> top{};
    nine_digits(*limbs, top.data());
    std::copy(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(count - first), digits + first);
  }
}

// out[0, n) = x + y; returns the carry.
limb add_limbs(const limb* x, const limb* y, std::size_t n, limb* out) {
  limb carry = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const limb s = x[i] + y[i] + carry;  // below 2 * 10^9 < 2^32
    carry = s >= limb_base ? 1 : 0;
    out[i] = s - carry * limb_base;
  }
  return carry;
}

// out[0, n) = x - y; returns the borrow.
limb subtract_limbs(const limb* x, const limb* y, std::size_t n, limb* out) {
  limb borrow = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const limb subtrahend = y[i] + borrow;
    const limb next = x[i] < subtrahend ? 1 : 0;
    out[i] = x[i] + next * limb_base - subtrahend;
    borrow = next;
  }
  return borrow;
}

// x[0, n) += carry, rippling up; returns what is left of it.
limb carry_limbs(limb* x, std::size_t n, limb carry) {
  for (std::size_t i = 0; i < n && carry != 0; ++i) {
    const limb s = x[i] + carry;
    carry = s >= limb_base ? 1 : 0;
    x[i] = s - carry * limb_base;
  }
  return carry;
}

// x[0, n) -= borrow, rippling up; returns what is left of it.
limb borrow_limbs(limb* x, std::size_t n, limb borrow) {
  for (std::size_t i = 0; i < n && borrow != 0; ++i) {
    borrow = x[i] == 0 ? 1 : 0;
    x[i] = borrow != 0 ? limb_base - 1 : x[i] - 1;
  }
  return borrow;
}

}  // namespace VELDAR::detail
