// Sums and differences of digit vectors, sixteen digits at a time.
//
// Method: eight digits, one per byte, are read as one little-endian machine
// word. With 246 added to every byte, a byte whose digit sum is ten or more
// overflows into the next byte, so the machine's binary carries are exactly
// the decimal carries, with no division; the bytes that did not overflow
// still hold their 246 (their top bit is set) and lose it again. A difference
// is a sum with the nines' complement: a - b = a + (99..9 - b) + 1 - 10^n.
// Two words go side by side in a vector register (four where the processor
// has AVX2, chosen when the program runs); the carry between them is guessed
// and checked once at the end (add_vectors_of()).
//
// There are no thresholds: any length takes the words, and what is left
// below a whole word takes the digit loop. On a big-endian machine, or when an
// element is outside 0 to 9, the plain loops do all of it.
#include "sums.h"

#include <cstdint>
#include <cstring>

namespace VELDAR::detail {

namespace {

constexpr bool words_in_order = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

using word = std::uint64_t;
constexpr std::size_t word_size = sizeof(word);
constexpr word bytes(unsigned char value) { return 0x0101010101010101ULL * value; }

word load_word(const signed char* digits) {
  word w = 0;
  std::memcpy(&w, digits, word_size);
  return w;
}

void store_word(signed char* digits, word w) { std::memcpy(digits, &w, word_size); }

// Whether all eight bytes of `w` are 0 to 9: adding 0x76 lifts bytes from 10
// to 0x7f into the top bit, and bytes from 0x80 up have it already.
bool is_digit_word(word w) { return ((w | (w + bytes(0x76))) & bytes(0x80)) == 0; }

// a + b + carry for eight digits a word, whose bytes are 0 to 9; returns the
// carry out.
unsigned add_word(word a, word b, unsigned carry, word& sum) {
  const word plain = a + b + carry;  // bytes up to 19: no byte overflows yet
  const word biased = plain + bytes(246);
  const unsigned carry_out = biased < plain ? 1 : 0;
  const word kept = (biased >> 7) & bytes(1);
  sum = biased - kept * 246;
  return carry_out;
}

// How a pass of the word loops ended: with a carry out of the top, or on an
// element that is not a digit (the plain loops take over), or, for the vector
// pass alone, with a wrong guess of the carry between two words (the word
// loop starts again).
enum class pass_end { carried, not_digits, wrong_guess };

struct pass_result {
  pass_end end;
  unsigned carry;
};

// Sixteen digits at a time, as two words side by side in a vector register,
// or thirty-two, as four, where the processor has AVX2.
template <std::size_t width>
struct vectors {
  // typedef, not using: only it keeps the attribute on a width that is a template parameter.
  typedef std::uint8_t bytes __attribute__((vector_size(width)));        // NOLINT(modernize-use-using)
  typedef std::int8_t signed_bytes __attribute__((vector_size(width)));  // NOLINT(modernize-use-using)
  typedef std::uint64_t words __attribute__((vector_size(width)));       // NOLINT(modernize-use-using)
  static constexpr std::size_t word_count = width / word_size;
};

// The sums of add_words() for whole blocks of `width` digits, leaving the
// rest to it. The words are biased as in add_word() without a carry in; a
// word's carry out is then the clear top bit of its top byte, and it goes into
// the next word without waiting for that word's own carry in. The guess is
// wrong only where the carry in ran through a word of all 0xff bytes (every
// digit sum 9) out of its top: its top bit flipped.
template <std::size_t width>
[[gnu::always_inline]] inline pass_result add_vectors_of(const signed char* a, const signed char* b, signed char* out,
                                                         std::size_t count, bool complement) {
  using bytes_t = typename vectors<width>::bytes;
  using signed_bytes_t = typename vectors<width>::signed_bytes;
  using words_t = typename vectors<width>::words;
  constexpr std::size_t words = vectors<width>::word_count;
  bytes_t bad{};
  words_t flipped{};
  words_t carries{};  // the previous block's carries out; the last one goes on
  carries[words - 1] = complement ? 1U : 0U;
  for (std::size_t i = 0; i + width <= count; i += width) {
    bytes_t x;
    bytes_t y;
    std::memcpy(&x, a + i, width);
    std::memcpy(&y, b + i, width);
    bad |= x | y | (x + 0x76) | (y + 0x76);  // as in is_digit_word()
    if (complement) {
      y = 9 - y;
    }
    const words_t biased = reinterpret_cast<words_t>(x + y) + bytes(246);
    const words_t carries_out = ~biased >> 63;
    words_t carries_in;
    if constexpr (words == 2) {
      carries_in = __builtin_shufflevector(carries, carries_out, 1, 2);
    } else {
      carries_in = __builtin_shufflevector(carries, carries_out, 3, 4, 5, 6);
    }
    const words_t sum = biased + carries_in;
    flipped |= biased ^ sum;
    const auto sum_bytes = reinterpret_cast<bytes_t>(sum);
    const auto biased_bytes = reinterpret_cast<signed_bytes_t>(sum_bytes) < 0;  // the top bit, as all ones
    const bytes_t unbiased = sum_bytes + (reinterpret_cast<bytes_t>(biased_bytes) & 10);
    std::memcpy(out + i, &unbiased, width);
    carries = ~sum >> 63;
  }
  const words_t bad_words = reinterpret_cast<words_t>(bad) & bytes(0x80);
  word any_bad = 0;
  word any_flipped = 0;
  for (std::size_t k = 0; k < words; ++k) {
    any_bad |= bad_words[k];
    any_flipped |= flipped[k];
  }
  if (any_bad != 0) {
    return {pass_end::not_digits, 0};
  }
  if ((any_flipped >> 63) != 0) {
    return {pass_end::wrong_guess, 0};
  }
  return {pass_end::carried, static_cast<unsigned>(carries[words - 1])};
}

pass_result add_vectors(const signed char* a, const signed char* b, signed char* out, std::size_t count,
                        bool complement) {
  return add_vectors_of<16>(a, b, out, count, complement);
}

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx2")]] pass_result add_vectors_avx2(const signed char* a, const signed char* b, signed char* out,
                                                      std::size_t count, bool complement) {
  return add_vectors_of<32>(a, b, out, count, complement);
}

bool has_avx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
  return avx2;
}
#endif

// The word loops over `count` digits. `complement` subtracts, and the carry
// out is then the borrow.
pass_result add_words(const signed char* a, const signed char* b, signed char* out, std::size_t count,
                      bool complement, std::size_t width) {
  unsigned carry = complement ? 1 : 0;
  std::size_t i = 0;
  if (width != 0 && count >= width) {
#if defined(__x86_64__) || defined(__i386__)
    const pass_result vectors = width == 32 ? add_vectors_avx2(a, b, out, count, complement)
                                            : add_vectors(a, b, out, count, complement);
#else
    const pass_result vectors = add_vectors(a, b, out, count, complement);
#endif
    if (vectors.end == pass_end::not_digits) {
      return vectors;
    }
    if (vectors.end == pass_end::carried) {  // else the words below start again, one after the other
      carry = vectors.carry;
      i = count / width * width;
    }
  }
  for (; i + word_size <= count; i += word_size) {
    const word x = load_word(a + i);
    word y = load_word(b + i);
    if (!is_digit_word(x) || !is_digit_word(y)) {
      return {pass_end::not_digits, 0};
    }
    if (complement) {
      y = bytes(9) - y;
    }
    word sum = 0;
    carry = add_word(x, y, carry, sum);
    store_word(out + i, sum);
  }
  for (; i < count; ++i) {
    const int x = a[i];
    const int y = b[i];
    if (x < 0 || x > 9 || y < 0 || y > 9) {
      return {pass_end::not_digits, 0};
    }
    const int s = x + (complement ? 9 - y : y) + static_cast<int>(carry);
    carry = s > 9 ? 1 : 0;
    out[i] = static_cast<signed char>(s - 10 * static_cast<int>(carry));
  }
  return {pass_end::carried, complement ? 1 - carry : carry};
}

int digit_at(const digit_vector& digits, std::size_t i) { return i < digits.size() ? digits[i] : 0; }

int sum_with_words(const digit_vector& a, const digit_vector& b, digit_vector& out, bool complement,
                   std::size_t width) {
  if constexpr (words_in_order) {
    if (a.size() >= out.size() && b.size() >= out.size()) {
      const pass_result words = add_words(a.data(), b.data(), out.data(), out.size(), complement, width);
      if (words.end == pass_end::carried) {
        return static_cast<int>(words.carry);
      }
    }
  }
  return complement ? subtract_digits_plain(a, b, out) : add_digits_plain(a, b, out);
}

}  // namespace

int add_digits_plain(const digit_vector& a, const digit_vector& b, digit_vector& sum) {
  int carry = 0;
  for (std::size_t i = 0; i < sum.size(); ++i) {
    int s = digit_at(a, i) + digit_at(b, i) + carry;
    carry = 0;
    if (s > 9) {
      carry = s / 10;
      s %= 10;
    }
    sum[i] = static_cast<signed char>(s);
  }
  return carry;
}

int subtract_digits_plain(const digit_vector& a, const digit_vector& b, digit_vector& difference) {
  int borrow = 0;
  for (std::size_t i = 0; i < difference.size(); ++i) {
    int d = digit_at(a, i) - digit_at(b, i) - borrow;
    borrow = 0;
    if (d < 0) {
      borrow = (9 - d) / 10;
      d += 10 * borrow;
    }
    difference[i] = static_cast<signed char>(d);
  }
  return borrow;
}

std::size_t widest_vector_digits() {
#if defined(__x86_64__) || defined(__i386__)
  return has_avx2() ? 32 : 16;
#else
  return 16;
#endif
}

int add_digits(const digit_vector& a, const digit_vector& b, digit_vector& sum) {
  return sum_with_words(a, b, sum, false, widest_vector_digits());
}

int subtract_digits(const digit_vector& a, const digit_vector& b, digit_vector& difference) {
  return sum_with_words(a, b, difference, true, widest_vector_digits());
}

int sum_digits_with(const digit_vector& a, const digit_vector& b, digit_vector& out, bool complement,
                    std::size_t vector_digits) {
  return sum_with_words(a, b, out, complement, vector_digits);
}

}  // namespace VELDAR::detail
