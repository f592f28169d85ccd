// Limb conversions and sums. Digits become limbs eight at a time, read as one
// little-endian word and summed in pairs, fours and eights; limbs become
// digits two at a time, from a fixed-point product with 10^-8. Numbers of a
// few digits become one machine word the same way.
#include "limbs.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform.h"

namespace VELDAR::detail {

namespace {

using word = std::uint64_t;

// The limb of nine digits 0 to 9 at `digits`, least significant first, on a
// little-endian machine: the first eight read as one word.
limb limb_of_nine(const signed char* digits) {
  word w = 0;
  std::memcpy(&w, digits, sizeof w);
  return static_cast<limb>(eight_digits(w)) + static_cast<limb>(digits[8]) * 100000000;
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

unsigned long long power_of_ten(std::size_t exponent) {
  static constexpr std::array<unsigned long long, word_width + 1> powers = [] {
    std::array<unsigned long long, word_width + 1> all{};
    unsigned long long power = 1;
    for (unsigned long long& each : all) {
      each = power;
      power *= 10;
    }
    return all;
  }();
  return powers[exponent];
}

void to_limbs(const signed char* digits, std::size_t count, limb* out) {
  std::size_t first = 0;
  if constexpr (little_endian) {
    for (; first + limb_digits <= count; first += limb_digits) {
      *out++ = limb_of_nine(digits + first);
    }
  }
  for (; first < count; first += limb_digits) {
    *out++ = static_cast<limb>(word_of_digits(digits + first, std::min(limb_digits, count - first)));
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

std::uint64_t word_of_digits(const signed char* digits, std::size_t count) {
  // The most significant digits first: eight at a time where they read as one
  // little-endian word, then one at a time.
  std::uint64_t value = 0;
  std::size_t i = count;
  if constexpr (little_endian) {
    for (; i >= 8; i -= 8) {
      word w = 0;
      std::memcpy(&w, digits + i - 8, sizeof w);
      value = value * 100000000 + eight_digits(w);
    }
  }
  for (; i > 0; --i) {
    value = value * 10 + static_cast<std::uint64_t>(digits[i - 1]);
  }
  return value;
}

bool checked_word_of_digits(const signed char* digits, std::size_t count, unsigned long long& value) {
  while (count > 0 && digits[count - 1] == 0) {
    --count;
  }
  if (count <= word_width) {
    value = word_of_digits(digits, count);
    return true;
  }
  // Twenty digits may still fit: only the top one times 10^19 can pass 2^64.
  unsigned long long top = 0;
  unsigned long long sum = 0;
  if (count > word_width + 1 ||
      __builtin_mul_overflow(static_cast<unsigned long long>(digits[word_width]), power_of_ten(word_width), &top) ||
      __builtin_add_overflow(top, word_of_digits(digits, word_width), &sum)) {
    return false;
  }
  value = sum;
  return true;
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
