// Sums and differences of digit vectors, sixteen digits at a time.
//
// Method: eight digits, one per byte, are read as one little-endian machine
// word. With 246 added to every byte, a byte whose digit sum is ten or more
// overflows into the next byte, so the machine's binary carries are exactly
// the decimal carries, with no division; the bytes that did not overflow
// still hold their 246 (their top bit is set) and lose it again. A difference
// is a sum with the nines' complement: a - b = a + (99..9 - b) + 1 - 10^n.
// Two words go side by side in a vector register (four where the processor
// has AVX2, chosen when the program runs; AVX-512 takes 64 digits at a time
// another way, add_vectors_avx512()); the carry between them is guessed
// and checked before each block is written (add_vectors_of()), so that every
// element is read before it is written and a sum may replace an operand.
//
// There are no thresholds: any length takes the words, and what is left
// below a whole word takes the digit loop. On a big-endian machine the plain
// loops do all of it, and from an element outside 0 to 9 on they do the rest.
#include "sums.h"

#include <cstdint>
#include <cstring>

#include "platform.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace VELDAR::detail {

namespace {

using word = std::uint64_t;
constexpr std::size_t word_size = sizeof(word);

word load_word(const signed char* digits) {
  word w = 0;
  std::memcpy(&w, digits, word_size);
  return w;
}

void store_word(signed char* digits, word w) { std::memcpy(digits, &w, word_size); }

// a + b + carry for eight digits a word, whose bytes are 0 to 9; returns the
// carry out.
unsigned add_word(word a, word b, unsigned carry, word& sum) {
  const word plain = a + b + carry;  // bytes up to 19: no byte overflows yet
  const word biased = plain + byte_lanes(246);
  const unsigned carry_out = biased < plain ? 1 : 0;
  const word kept = (biased >> 7) & byte_lanes(1);
  sum = biased - kept * 246;
  return carry_out;
}

// How a pass of the word loops ended: with a carry out of the top, or on an
// element that is not a digit (the plain loops take over from there).
enum class pass_end { carried, not_digits };

struct pass_result {
  pass_end end;
  unsigned carry;    // into element `done`; for a difference, one less the borrow
  std::size_t done;  // the elements written, all from digits
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

// One block of add_vectors_of() at `a` and `b`, with `carry_in` in its
// lowest word: the digits to write, the carry into the next block in its
// lowest word, and the words whose guess went wrong or that hold an element
// that is not a digit (non-zero where any did).
template <std::size_t width, bool complement>
[[gnu::always_inline]] inline void add_block(const signed char* a, const signed char* b,
                                             const typename vectors<width>::words& carry_in,
                                             typename vectors<width>::bytes& digits,
                                             typename vectors<width>::words& carry_next,
                                             typename vectors<width>::words& wrong) {
  using bytes_t = typename vectors<width>::bytes;
  using words_t = typename vectors<width>::words;
  constexpr std::size_t words = vectors<width>::word_count;
  constexpr word top = word{1} << 63;
  words_t guessed{};  // the top bits of the words whose carry out the next word takes as guessed
  for (std::size_t k = 0; k + 1 < words; ++k) {
    guessed[k] = top;
  }
  const words_t none{};
  bytes_t x;
  bytes_t y;
  std::memcpy(&x, a, width);
  std::memcpy(&y, b, width);
  const bytes_t larger = x > y ? x : y;
  const bytes_t bad = larger | (larger + 0x76);  // as in is_digit_word() (platform.h)
  if constexpr (complement) {
    y = 9 - y;
  }
  const words_t biased = reinterpret_cast<words_t>(x + y) + byte_lanes(246);
  const words_t carries_out = ~biased >> 63;
  words_t guesses;  // each word's carry in but the lowest's: the carry out of the word below
  if constexpr (words == 2) {
    guesses = __builtin_shufflevector(none, carries_out, 0, 2);
  } else {
    guesses = __builtin_shufflevector(none, carries_out, 0, 4, 5, 6);
  }
  const words_t guessed_sum = biased + guesses;
  if constexpr (words == 2) {
    carry_next = __builtin_shufflevector(~guessed_sum >> 63, none, 1, 2);
  } else {
    carry_next = __builtin_shufflevector(~guessed_sum >> 63, none, 3, 4, 5, 6);
  }
  const words_t sum = guessed_sum + carry_in;
  wrong = (reinterpret_cast<words_t>(bad) & byte_lanes(0x80)) | ((biased ^ sum) & guessed);
  // A byte that did not overflow holds its digit plus 246: adding 10 takes
  // it round to the digit, and a digit itself (0 to 9) is the smaller.
  const auto sum_bytes = reinterpret_cast<bytes_t>(sum);
  const bytes_t unbiased_plus = sum_bytes + 10;
  digits = unbiased_plus < sum_bytes ? unbiased_plus : sum_bytes;
}

template <std::size_t width>
[[gnu::always_inline]] inline bool any_word(const typename vectors<width>::words& w) {
  word any = 0;
  for (std::size_t k = 0; k < vectors<width>::word_count; ++k) {
    any |= w[k];
  }
  return any != 0;
}

// The sums of the word loop for whole blocks of `width` digits from the
// start, as long as they go right; returns the digits done and leaves in
// `carry` the carry into the next. The words are biased as in add_word()
// without a carry in; a word's carry out is then the clear top bit of its top
// byte, and it goes into the next word without waiting for that word's own
// carry in. The guess is wrong only where the carry in ran through a word of
// all 0xff bytes (every digit sum 9) out of its top: its top bit flipped. A
// block with such a word below its top one, or with an element that is not a
// digit, is not written: the pass ends before it (or before the pair of
// blocks it is in). So each block is read whole before it is written, and
// `out` may be `a` or `b`. The top word's carry in is a guess too, so the
// carry into the next block does not wait for the carry into this one: the
// blocks do not queue behind each other. Two blocks are checked at a time.
template <std::size_t width, bool complement>
[[gnu::always_inline]] inline std::size_t add_vectors_of(const signed char* a, const signed char* b, signed char* out,
                                                         std::size_t count, unsigned& carry) {
  using bytes_t = typename vectors<width>::bytes;
  using words_t = typename vectors<width>::words;
  words_t carry_in{};  // the carry into the block, in its lowest word
  carry_in[0] = carry;
  std::size_t i = 0;
  for (; i + 2 * width <= count; i += 2 * width) {
    bytes_t low;
    bytes_t high;
    words_t middle;
    words_t next;
    words_t wrong_low;
    words_t wrong_high;
    add_block<width, complement>(a + i, b + i, carry_in, low, middle, wrong_low);
    add_block<width, complement>(a + i + width, b + i + width, middle, high, next, wrong_high);
    const words_t wrong = wrong_low | wrong_high;
    if (any_word<width>(wrong)) {
      break;
    }
    std::memcpy(out + i, &low, width);
    std::memcpy(out + i + width, &high, width);
    carry_in = next;
  }
  if (i + 2 * width > count) {  // one block may be left
    for (; i + width <= count; i += width) {
      bytes_t digits;
      words_t next;
      words_t wrong;
      add_block<width, complement>(a + i, b + i, carry_in, digits, next, wrong);
      if (any_word<width>(wrong)) {
        break;
      }
      std::memcpy(out + i, &digits, width);
      carry_in = next;
    }
  }
  carry = static_cast<unsigned>(carry_in[0]);
  return i;
}

template <bool complement>
std::size_t add_vectors(const signed char* a, const signed char* b, signed char* out, std::size_t count,
                        unsigned& carry) {
  return add_vectors_of<16, complement>(a, b, out, count, carry);
}

#if defined(__x86_64__) || defined(__i386__)
template <bool complement>
[[gnu::target("avx2")]] std::size_t add_vectors_avx2(const signed char* a, const signed char* b, signed char* out,
                                                     std::size_t count, unsigned& carry) {
  return add_vectors_of<32, complement>(a, b, out, count, carry);
}

bool has_avx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
  return avx2;
}

// Sixty-four digits at a time where the processor has AVX-512 (F and BW),
// with no guess: the digit sums s of a block give two masks of 64 bits, G
// where s >= 10 (a carry out whatever comes in) and P where s = 9 (the carry
// in goes on), and the carries into each digit are those of the binary sum
// (G | P) + G + carry, which generates where G and propagates where P:
// ((G | P) + G + carry) ^ (G | P) ^ G, and its carry out of the top is the
// block's. A block with an element that is not a digit ends the pass before
// it is written.
template <bool complement>
[[gnu::target("avx512f,avx512bw")]] std::size_t add_vectors_avx512(const signed char* a, const signed char* b,
                                                                   signed char* out, std::size_t count,
                                                                   unsigned& carry) {
  const __m512i nine = _mm512_set1_epi8(9);
  const __m512i ten = _mm512_set1_epi8(10);
  const __m512i one = _mm512_set1_epi8(1);
  unsigned char carry_in = static_cast<unsigned char>(carry);
  std::size_t i = 0;
  for (; i + 64 <= count; i += 64) {
    const __m512i x = _mm512_loadu_si512(a + i);
    __m512i y = _mm512_loadu_si512(b + i);
    if (_mm512_cmpgt_epu8_mask(_mm512_max_epu8(x, y), nine) != 0) {
      break;
    }
    if constexpr (complement) {
      y = _mm512_sub_epi8(nine, y);
    }
    const __m512i sum = _mm512_add_epi8(x, y);
    const unsigned long long generate = _mm512_cmpgt_epu8_mask(sum, nine);
    const unsigned long long either = generate | _mm512_cmpeq_epi8_mask(sum, nine);
    unsigned long long binary = 0;
    carry_in = _addcarry_u64(carry_in, either, generate, &binary);
    const __m512i carried = _mm512_mask_add_epi8(sum, binary ^ either ^ generate, sum, one);
    _mm512_storeu_si512(out + i, _mm512_min_epu8(carried, _mm512_sub_epi8(carried, ten)));
  }
  carry = carry_in;
  return i;
}

bool has_avx512() {
  static const bool avx512 = __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
  return avx512;
}
#endif

std::size_t add_vectors_with(std::size_t width, const signed char* a, const signed char* b, signed char* out,
                             std::size_t count, bool complement, unsigned& carry) {
#if defined(__x86_64__)
  if (width == 64) {
    return complement ? add_vectors_avx512<true>(a, b, out, count, carry)
                      : add_vectors_avx512<false>(a, b, out, count, carry);
  }
#endif
#if defined(__x86_64__) || defined(__i386__)
  if (width == 32) {
    return complement ? add_vectors_avx2<true>(a, b, out, count, carry)
                      : add_vectors_avx2<false>(a, b, out, count, carry);
  }
#endif
  return complement ? add_vectors<true>(a, b, out, count, carry) : add_vectors<false>(a, b, out, count, carry);
}

// Eight digits a word over [i, end), `end - i` a multiple of eight; false on
// a word with an element that is not a digit, with `i` at that word.
bool add_word_run(const signed char* a, const signed char* b, signed char* out, std::size_t& i, std::size_t end,
                  bool complement, unsigned& carry) {
  for (; i < end; i += word_size) {
    const word x = load_word(a + i);
    word y = load_word(b + i);
    if (!is_digit_word(x) || !is_digit_word(y)) {
      return false;
    }
    if (complement) {
      y = byte_lanes(9) - y;
    }
    word sum = 0;
    carry = add_word(x, y, carry, sum);
    store_word(out + i, sum);
  }
  return true;
}

// The word loops over `count` digits: vector blocks of `width` digits (16,
// 32, or 0 for none), a block the vectors could not take as words, the rest
// as words and single digits. `complement` subtracts, and the carry out is
// then the borrow. Every element is read before it is written, so `out` may
// be `a` or `b`.
pass_result add_words(const signed char* a, const signed char* b, signed char* out, std::size_t count, bool complement,
                      std::size_t width) {
  unsigned carry = complement ? 1 : 0;
  std::size_t i = 0;
  while (width != 0 && count - i >= width) {
    i += add_vectors_with(width, a + i, b + i, out + i, count - i, complement, carry);
    if (count - i >= width && !add_word_run(a, b, out, i, i + width, complement, carry)) {
      return {pass_end::not_digits, carry, i};
    }
  }
  if (!add_word_run(a, b, out, i, i + (count - i) / word_size * word_size, complement, carry)) {
    return {pass_end::not_digits, carry, i};
  }
  for (; i < count; ++i) {
    const int x = a[i];
    const int y = b[i];
    if (x < 0 || x > 9 || y < 0 || y > 9) {
      return {pass_end::not_digits, carry, i};
    }
    const int s = x + (complement ? 9 - y : y) + static_cast<int>(carry);
    carry = s > 9 ? 1 : 0;
    out[i] = static_cast<signed char>(s - 10 * static_cast<int>(carry));
  }
  return {pass_end::carried, complement ? 1 - carry : carry, count};
}

int digit_at(const digit_vector& digits, std::size_t i) { return i < digits.size() ? digits[i] : 0; }

// The plain loops from element `start` on, with `carry` (`borrow`) coming in.
int add_plain_from(const digit_vector& a, const digit_vector& b, digit_vector& sum, std::size_t start, int carry) {
  for (std::size_t i = start; i < sum.size(); ++i) {
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

int subtract_plain_from(const digit_vector& a, const digit_vector& b, digit_vector& difference, std::size_t start,
                        int borrow) {
  for (std::size_t i = start; i < difference.size(); ++i) {
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

// The digits before an element that is not a digit take the word loops; the
// plain loops go on from there with their carry, as they would have come to
// it, one digit at a time.
int sum_with_words(const digit_vector& a, const digit_vector& b, digit_vector& out, bool complement,
                   std::size_t width) {
  std::size_t start = 0;
  int carry = 0;
  if constexpr (little_endian) {
    if (a.size() >= out.size() && b.size() >= out.size()) {
      const pass_result words = add_words(a.data(), b.data(), out.data(), out.size(), complement, width);
      if (words.end == pass_end::carried) {
        return static_cast<int>(words.carry);
      }
      start = words.done;
      carry = complement ? 1 - static_cast<int>(words.carry) : static_cast<int>(words.carry);
    }
  }
  return complement ? subtract_plain_from(a, b, out, start, carry) : add_plain_from(a, b, out, start, carry);
}

}  // namespace

int add_digits_plain(const digit_vector& a, const digit_vector& b, digit_vector& sum) {
  return add_plain_from(a, b, sum, 0, 0);
}

int subtract_digits_plain(const digit_vector& a, const digit_vector& b, digit_vector& difference) {
  return subtract_plain_from(a, b, difference, 0, 0);
}

std::size_t widest_vector_digits() {
#if defined(__x86_64__)
  return has_avx512() ? 64 : has_avx2() ? 32 : 16;
#elif defined(__i386__)
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

bool sum_in_place(const digit_vector& a, const digit_vector& b, digit_vector& out, bool complement, int& carry,
                  std::size_t vector_digits) {
  if (!little_endian || a.size() != out.size() || b.size() != out.size() || (&out != &a && &out != &b)) {
    return false;
  }
  const pass_result words = add_words(a.data(), b.data(), out.data(), out.size(), complement, vector_digits);
  if (words.end == pass_end::carried) {
    carry = static_cast<int>(words.carry);
    return true;
  }
  // The digits written so far go back to what they were, modulo 10^done, from
  // the other operand: b = out - a after a sum, b = a - out after a difference,
  // a = out - b after a sum and a = out + b after a difference.
  signed char* const written = out.data();
  const signed char* const other = &out == &a ? b.data() : a.data();
  if (&out == &b && complement) {
    add_words(a.data(), written, written, words.done, true, vector_digits);
  } else {
    add_words(written, other, written, words.done, !(&out == &a && complement), vector_digits);
  }
  return false;
}

bool small_sum_in_place(const digit_vector& a, digit_vector& b, bool difference, bool& flag) {
  const std::size_t count = b.size();
  if (!little_endian || count > word_size || a.size() != count) {
    return false;
  }
  // Both in one word each, zeros above them.
  const auto load = [count](const digit_vector& digits) {
    if (count == word_size) {
      return load_word(digits.data());
    }
    word w = 0;
    for (std::size_t i = 0; i < count; ++i) {
      w |= word{static_cast<unsigned char>(digits[i])} << (8 * i);
    }
    return w;
  };
  const word x = load(a);
  const word y = load(b);
  if (!is_digit_word(x) || !is_digit_word(y)) {
    return false;
  }
  word result = 0;
  if (!difference) {
    const unsigned carry = add_word(x, y, 0, result);
    // The carry out of the top digit: out of the word, or into the byte above.
    flag = count == word_size ? carry != 0 : ((result >> (8 * count)) & 0xFFU) != 0;
  } else {
    // Bytes in order, least significant first, compare as the numbers do.
    flag = y > x;
    const word larger = flag ? y : x;
    const word smaller = flag ? x : y;
    // The binary borrows are the decimal ones; a byte that borrowed holds
    // 256 more than its digit less ten, and loses 246.
    const word plain = larger - smaller;
    const word borrowed = ((plain ^ larger ^ smaller) >> 8) & byte_lanes(1);
    result = plain - borrowed * 246;
  }
  if (count == word_size) {
    store_word(b.data(), result);
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      b[i] = static_cast<signed char>((result >> (8 * i)) & 0xFFU);
    }
  }
  return true;
}

bool sum_in_place(const digit_vector& a, const digit_vector& b, digit_vector& out, bool complement, int& carry) {
  return sum_in_place(a, b, out, complement, carry, widest_vector_digits());
}

}  // namespace VELDAR::detail
