// The fuzz input read as a program: operation codes and operands, byte by
// byte, with zeros once the input is used up. A few bytes stand for long
// numbers: a seed and a pattern make their digits.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace veldar_fuzz {

// Pseudo-random digits (splitmix64) in a few patterns that matter to the
// arithmetic: any digit, long runs of nines for the carries, sparse digits
// for the significant counts; and, when asked for, digits with elements
// of any value among them.
class digit_source {
 public:
  digit_source(std::uint64_t seed, std::uint8_t pattern, bool any_element = false)
      : state(seed), pattern(pattern % (any_element ? 6 : 5)) {}

  signed char next() {
    const std::uint64_t r = random();
    switch (pattern) {
      case 0:
        return static_cast<signed char>(r % 10);
      case 1:
        return 9;
      case 2:
        return static_cast<signed char>(r % 2 == 0 ? 0 : 9);
      case 3:
        return static_cast<signed char>(r % 8 == 0 ? r / 8 % 10 : 0);
      case 4:
        return static_cast<signed char>(5 + r % 5);
      default:
        return static_cast<signed char>(r % 4 == 0 ? static_cast<std::uint8_t>(r >> 8U) : r % 10);
    }
  }

 private:
  std::uint64_t random() {
    std::uint64_t z = state += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30U)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27U)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31U);
  }

  std::uint64_t state;
  std::uint8_t pattern;
};

class program_text {
 public:
  // The lengths read: mostly below `first_long`, now and then up to `longest`.
  static constexpr unsigned long long first_long = 41;
  static constexpr unsigned long long longest = 2048;

  program_text(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

  bool done() const { return position >= size; }

  std::uint8_t byte() { return position < size ? data[position++] : 0; }

  std::uint64_t word(int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
      value = value << 8U | byte();
    }
    return value;
  }

  // Mostly 0 to 40; one byte value in sixteen asks for 41 to 2,048 digits.
  unsigned long long length() {
    const std::uint8_t b = byte();
    return b < 0xf0 ? b % first_long : first_long + word(2) % (longest - first_long + 1);
  }

  // A fixed-point length: its assignments log about seven lines a digit, so
  // most are at most 16.
  unsigned long long fixed_length() {
    const std::uint8_t b = byte();
    return b < 0xc0 ? b % 17 : b < 0xf0 ? b % first_long : first_long + word(2) % (longest - first_long + 1);
  }

  // A float of one of three shapes: any bit pattern (most are far too large
  // or too small for a fixed point), a short decimal (up to eight digits over
  // a power of ten), or one of the special values.
  float any_float() {
    using limits = std::numeric_limits<float>;
    static constexpr std::array<float, 8> specials{
        limits::infinity(), -limits::infinity(), limits::quiet_NaN(),  -0.0F,
        limits::max(),      limits::min(),       limits::denorm_min(), limits::epsilon()};
    const std::uint8_t shape = byte();
    const auto bits = static_cast<std::uint32_t>(word(4));
    if (shape % 4 == 0) {
      return specials[shape / 4 % specials.size()];
    }
    if (shape % 4 == 1) {
      const auto integer = static_cast<float>(static_cast<std::int32_t>(bits) % 100000000);
      return integer / std::pow(10.0F, static_cast<float>(shape / 4 % 12));
    }
    float x = 0;
    std::memcpy(&x, &bits, sizeof x);
    return x;
  }

  // Any long long, most of them short: the shape byte picks the sign and how
  // many of the eight bytes count.
  long long any_integer() {
    const std::uint8_t shape = byte();
    const std::uint64_t bits = word(8) >> (shape % 64U);
    return static_cast<long long>(shape >= 128 ? ~bits : bits);
  }

  // Short text from an alphabet that makes numbers and near-numbers.
  std::string text() {
    static constexpr char alphabet[] = "0123456789012345678900000-+.. e";
    std::string out(byte() % 24, ' ');
    std::generate(out.begin(), out.end(), [this] { return alphabet[byte() % (sizeof alphabet - 1)]; });
    return out;
  }

  // A decimal number of up to about 1,100 digits on each side of an optional
  // point, with leading and trailing zeros.
  std::string long_text(bool point) {
    const std::uint8_t shape = byte();
    std::string out = shape % 3 == 0 ? "-" : shape % 3 == 1 ? "+" : "";
    out.append(shape / 4 % 4, '0');
    digit_source digits(word(4), byte());
    const auto append = [&out, &digits](std::uint64_t count) {
      std::generate_n(std::back_inserter(out), count, [&digits] { return static_cast<char>('0' + digits.next()); });
    };
    append(word(2) % 1100);
    if (point) {
      out += '.';
      append(word(2) % 1100);
      out.append(shape / 16 % 4, '0');
    }
    return out;
  }

  // `count` digits from a seed and a pattern of the input; with `any_element`
  // some patterns hold elements outside 0 to 9.
  std::vector<signed char> digits(std::size_t count, bool any_element = false) {
    digit_source source(word(4), byte(), any_element);
    std::vector<signed char> out(count);
    std::generate(out.begin(), out.end(), [&source] { return source.next(); });
    return out;
  }

 private:
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position = 0;
};

}  // namespace veldar_fuzz
