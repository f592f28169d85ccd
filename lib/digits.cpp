#include "digits.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace VELDAR::detail {

namespace {

// Eight digits, one per byte, read as one machine word: the lowest digit in
// the lowest byte, which is how a little-endian machine reads memory. On other
// machines the word paths are never taken.
constexpr bool wordsinorder = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

using word = std::uint64_t;
constexpr std::size_t wordsize = sizeof(word);
constexpr word bytes(unsigned char value) { return 0x0101010101010101ULL * value; }

word loadword(const signed char* digits) {
  word w = 0;
  std::memcpy(&w, digits, wordsize);
  return w;
}

void storeword(signed char* digits, word w) { std::memcpy(digits, &w, wordsize); }

// Whether all eight bytes of `w` are 0 to 9: adding 0x76 lifts bytes from 10
// to 0x7f into the top bit, and bytes from 0x80 up have it already.
bool digitword(word w) { return ((w | (w + bytes(0x76))) & bytes(0x80)) == 0; }

bool alldigits(const signed char* digits, std::size_t count) {
  std::size_t i = 0;
  if constexpr (wordsinorder) {
    for (; i + wordsize <= count; i += wordsize) {
      if (!digitword(loadword(digits + i))) {
        return false;
      }
    }
  }
  return std::all_of(digits + i, digits + count, [](signed char d) { return d >= 0 && d <= 9; });
}

// a + b + carry for eight digits a word, whose bytes are 0 to 9; returns the
// carry out. With 246 added to every byte, a byte of ten or more overflows
// into the next one, so the machine's binary carries are the decimal carries.
// The bytes that did not overflow still hold their 246 (their top bit is
// set, while an overflowed byte holds 0 to 9) and lose it again.
unsigned addword(word a, word b, unsigned carry, word& sum) {
  const word plain = a + b + carry;  // bytes up to 19: no byte overflows yet
  const word biased = plain + bytes(246);
  const unsigned carryout = biased < plain ? 1 : 0;
  const word kept = (biased >> 7) & bytes(1);
  sum = biased - kept * 246;
  return carryout;
}

// Sixteen digits at a time, as two words side by side in a vector register.
using bytevector = std::uint8_t __attribute__((vector_size(16)));
using signedbytevector = std::int8_t __attribute__((vector_size(16)));
using wordvector = std::uint64_t __attribute__((vector_size(16)));
constexpr std::size_t vectorsize = sizeof(bytevector);

// The sums of addwords() for whole blocks of sixteen digits, leaving the rest
// to it. The words are biased as in addword() without a carry in; a word's
// carry out is then the clear top bit of its top byte, and it goes into the
// next word without waiting for that word's own carry in. The guess is wrong
// only where the carry in ran through a word of all 0xff bytes (every digit
// sum 9) out of its top: its top bit flipped. Returns the carry out, -1 when
// an element is not a digit, -2 when a guess was wrong.
int addvectors(const signed char* a, const signed char* b, signed char* out, std::size_t count, bool complement) {
  bytevector bad{};
  wordvector flipped{};
  wordvector carries{0, complement ? 1U : 0U};  // the previous block's carries out
  for (std::size_t i = 0; i + vectorsize <= count; i += vectorsize) {
    bytevector x;
    bytevector y;
    std::memcpy(&x, a + i, vectorsize);
    std::memcpy(&y, b + i, vectorsize);
    bad |= x | y | (x + 0x76) | (y + 0x76);  // as in digitword()
    if (complement) {
      y = 9 - y;
    }
    const wordvector biased = reinterpret_cast<wordvector>(x + y) + bytes(246);
    const wordvector carriesout = ~biased >> 63;
    const wordvector carriesin{carries[1], carriesout[0]};
    const wordvector sum = biased + carriesin;
    flipped |= biased ^ sum;
    const auto sumbytes = reinterpret_cast<bytevector>(sum);
    const auto biasedbytes = reinterpret_cast<signedbytevector>(sumbytes) < 0;  // the top bit, as all ones
    const bytevector unbiased = sumbytes + (reinterpret_cast<bytevector>(biasedbytes) & 10);
    std::memcpy(out + i, &unbiased, vectorsize);
    carries = ~sum >> 63;
  }
  const wordvector badwords = reinterpret_cast<wordvector>(bad) & bytes(0x80);
  if ((badwords[0] | badwords[1]) != 0) {
    return -1;
  }
  return ((flipped[0] | flipped[1]) >> 63) != 0 ? -2 : static_cast<int>(carries[1]);
}

// The word loops over `count` digits; the carry (or borrow) out, or -1 when
// some element is not a digit, in which case `out` is left to the plain loop.
// `complement` subtracts: a - b - borrow = a + (99..9 - b) + 1 - borrow - 10^count.
int addwords(const signed char* a, const signed char* b, signed char* out, std::size_t count, bool complement) {
  unsigned carry = complement ? 1 : 0;
  std::size_t i = 0;
  if (count >= vectorsize) {
    const int vectorcarry = addvectors(a, b, out, count, complement);
    if (vectorcarry == -1) {
      return -1;
    }
    if (vectorcarry >= 0) {  // else the words below start again, one after the other
      carry = static_cast<unsigned>(vectorcarry);
      i = count / vectorsize * vectorsize;
    }
  }
  for (; i + wordsize <= count; i += wordsize) {
    const word x = loadword(a + i);
    word y = loadword(b + i);
    if (!digitword(x) || !digitword(y)) {
      return -1;
    }
    if (complement) {
      y = bytes(9) - y;
    }
    word sum = 0;
    carry = addword(x, y, carry, sum);
    storeword(out + i, sum);
  }
  for (; i < count; ++i) {
    int x = a[i];
    int y = b[i];
    if (x < 0 || x > 9 || y < 0 || y > 9) {
      return -1;
    }
    int s = x + (complement ? 9 - y : y) + static_cast<int>(carry);
    carry = s > 9 ? 1 : 0;
    out[i] = static_cast<signed char>(s - 10 * static_cast<int>(carry));
  }
  return static_cast<int>(complement ? 1 - carry : carry);
}

// Multiplication on limbs: nine digits to a 32-bit limb, base 10^9, least
// significant limb first. Limb products stay below 10^18 < 2^60.

using limb = std::uint32_t;
using limbvector = std::vector<limb>;
constexpr limb limbbase = 1000000000;

std::size_t limbsfor(std::size_t digitcount) { return (digitcount + limbdigits - 1) / limbdigits; }

// The limbs of `count` digits, all 0 to 9; the top limb takes what is left.
void tolimbs(const signed char* digits, std::size_t count, limb* out) {
  for (std::size_t first = 0; first < count; first += limbdigits, ++out) {
    const std::size_t last = std::min(first + limbdigits, count);
    limb value = 0;
    for (std::size_t i = last; i-- > first;) {
      value = value * 10 + static_cast<limb>(digits[i]);
    }
    *out = value;
  }
}

// The low `count` digits of the limbs.
void todigits(const limb* limbs, std::size_t count, signed char* digits) {
  for (std::size_t first = 0; first < count; first += limbdigits, ++limbs) {
    const std::size_t last = std::min(first + limbdigits, count);
    limb value = *limbs;
    for (std::size_t i = first; i < last; ++i) {
      digits[i] = static_cast<signed char>(value % 10);
      value /= 10;
    }
  }
}

// A column sum of limb products, two 64-bit words wide, and the carry into
// the next column once the column's limb is taken off.
class column {
 public:
  void add(std::uint64_t product) {
    low += product;
    high += low < product ? 1 : 0;
  }
  // The sum modulo 10^9; the sum becomes the quotient, the next column's
  // carry. Long division by 32-bit halves, which needs high < 10^9: true for
  // any sum of fewer than 10^10 products.
  limb take() {
    const std::uint64_t upper = (high << 32) | (low >> 32);
    const std::uint64_t lower = ((upper % limbbase) << 32) | (low & 0xffffffffU);
    const auto remainder = static_cast<limb>(lower % limbbase);
    low = ((upper / limbbase) << 32) + lower / limbbase;
    high = 0;
    return remainder;
  }

 private:
  std::uint64_t low = 0;
  std::uint64_t high = 0;
};

// out[0, na + nb) = a * b, limb by limb, one column at a time. `out` must not
// overlap the factors.
void mulschool(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out) {
  if (na == 0 || nb == 0) {
    std::fill(out, out + na + nb, 0);
    return;
  }
  column sum;
  for (std::size_t k = 0; k + 1 < na + nb; ++k) {
    const std::size_t first = k < nb ? 0 : k - nb + 1;
    const std::size_t last = std::min(k + 1, na);
    for (std::size_t i = first; i < last; ++i) {
      sum.add(std::uint64_t{a[i]} * b[k - i]);
    }
    out[k] = sum.take();
  }
  out[na + nb - 1] = sum.take();
}

// out[0, n) = (a * b) mod 10^(9n) for factors of n limbs: the columns below n only.
void mulschoollow(const limb* a, const limb* b, std::size_t n, limb* out) {
  column sum;
  for (std::size_t k = 0; k < n; ++k) {
    for (std::size_t i = 0; i <= k; ++i) {
      sum.add(std::uint64_t{a[i]} * b[k - i]);
    }
    out[k] = sum.take();
  }
}

// out[0, n) = x + y; returns the carry. `out` may be `x`.
limb addlimbs(const limb* x, const limb* y, std::size_t n, limb* out) {
  limb carry = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const limb s = x[i] + y[i] + carry;  // below 2 * 10^9 < 2^32
    carry = s >= limbbase ? 1 : 0;
    out[i] = s - carry * limbbase;
  }
  return carry;
}

// out[0, n) = x - y; returns the borrow. `out` may be `x`.
limb subtractlimbs(const limb* x, const limb* y, std::size_t n, limb* out) {
  limb borrow = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const limb subtrahend = y[i] + borrow;
    const limb next = x[i] < subtrahend ? 1 : 0;
    out[i] = x[i] + next * limbbase - subtrahend;
    borrow = next;
  }
  return borrow;
}

// x[0, n) += carry, rippling up; returns what is left of it.
limb carrylimbs(limb* x, std::size_t n, limb carry) {
  for (std::size_t i = 0; i < n && carry != 0; ++i) {
    const limb s = x[i] + carry;
    carry = s >= limbbase ? 1 : 0;
    x[i] = s - carry * limbbase;
  }
  return carry;
}

// x[0, n) -= borrow, rippling up; returns what is left of it.
limb borrowlimbs(limb* x, std::size_t n, limb borrow) {
  for (std::size_t i = 0; i < n && borrow != 0; ++i) {
    borrow = x[i] == 0 ? 1 : 0;
    x[i] = borrow != 0 ? limbbase - 1 : x[i] - 1;
  }
  return borrow;
}

// out[0, h) = |x - y| for x of h limbs and y of l <= h limbs; returns whether
// y is the larger.
bool absdifference(const limb* x, std::size_t h, const limb* y, std::size_t l, limb* out) {
  bool ylarger = false;
  if (std::all_of(x + l, x + h, [](limb v) { return v == 0; })) {
    const auto top = std::mismatch(std::make_reverse_iterator(x + l), std::make_reverse_iterator(x),
                                   std::make_reverse_iterator(y + l));
    ylarger = top.first != std::make_reverse_iterator(x) && *top.first < *top.second;
  }
  if (ylarger) {  // then x has no limbs above l and no borrow is left
    subtractlimbs(y, x, l, out);
    std::fill(out + l, out + h, 0);
  } else {
    std::copy(x + l, x + h, out + l);
    borrowlimbs(out + l, h - l, subtractlimbs(x, y, l, out));
  }
  return ylarger;
}

// The scratch limbs karatsuba() needs for factors of n limbs.
std::size_t karatsubascratch(std::size_t n) {
  if (n < karatsubalimbs) {
    return 0;
  }
  const std::size_t h = n - n / 2;
  return 6 * h + 1 + karatsubascratch(h);
}

// out[0, 2n) = a * b for factors of n limbs each. With a = a1 B^h + a0 and b
// alike (B = 10^9), a * b = z2 B^2h + (z0 + z2 - (a0 - a1)(b0 - b1)) B^h + z0
// with z0 = a0 b0 and z2 = a1 b1: three products of half the size.
void karatsuba(const limb* a, const limb* b, std::size_t n, limb* out, limb* scratch) {
  if (n < karatsubalimbs) {
    mulschool(a, n, b, n, out);
    return;
  }
  const std::size_t h = n - n / 2;
  const std::size_t l = n / 2;
  limb* const da = scratch;
  limb* const db = da + h;
  limb* const dd = db + h;
  limb* const middle = dd + 2 * h;
  limb* const deeper = middle + 2 * h + 1;
  karatsuba(a, b, h, out, deeper);                  // z0 in out[0, 2h)
  karatsuba(a + h, b + h, l, out + 2 * h, deeper);  // z2 in out[2h, 2n)
  const bool negativea = absdifference(a, h, a + h, l, da);
  const bool negativeb = absdifference(b, h, b + h, l, db);
  karatsuba(da, db, h, dd, deeper);
  // middle = z0 + z2 -+ dd = a0 b1 + a1 b0: never negative, below 2 B^2h.
  std::copy(out, out + 2 * h, middle);
  middle[2 * h] = 0;
  carrylimbs(middle + 2 * l, 2 * (h - l) + 1, addlimbs(middle, out + 2 * h, 2 * l, middle));
  if (negativea == negativeb) {
    middle[2 * h] -= subtractlimbs(middle, dd, 2 * h, middle);
  } else {
    middle[2 * h] += addlimbs(middle, dd, 2 * h, middle);
  }
  carrylimbs(out + 3 * h + 1, 2 * n - 3 * h - 1, addlimbs(out + h, middle, 2 * h + 1, out + h));
}

// out[0, na + nb) = a * b for na >= nb: Karatsuba on nb-limb slices of a when
// b is long enough for it.
void mulfull(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out) {
  if (nb < karatsubalimbs) {
    mulschool(a, na, b, nb, out);
    return;
  }
  limbvector scratch(karatsubascratch(nb) + 3 * nb);
  limb* const slice = scratch.data();
  limb* const product = slice + nb;
  limb* const deeper = product + 2 * nb;
  std::fill(out, out + na + nb, 0);
  for (std::size_t first = 0; first < na; first += nb) {
    const std::size_t count = std::min(nb, na - first);
    std::fill(std::copy(a + first, a + first + count, slice), slice + nb, 0);
    karatsuba(slice, b, nb, product, deeper);
    // The slice's product reaches no higher than na + nb.
    const std::size_t span = std::min(2 * nb, na + nb - first);
    carrylimbs(out + first + span, na + nb - first - span, addlimbs(out + first, product, span, out + first));
  }
}

// The scratch limbs mullow() needs for factors of n limbs.
std::size_t mullowscratch(std::size_t n) {
  if (n < splitlowlimbs) {
    return 0;
  }
  const std::size_t h = n - n / 2;
  return std::max(2 * h + karatsubascratch(h), n / 2 + mullowscratch(n / 2));
}

// out[0, n) = (a * b) mod B^n for factors of n limbs. With the halves as in
// karatsuba(), z2 lies wholly above B^n and the cross products a1 b0 and a0 b1
// count only below B^(n-h): one full product of h limbs, two truncated ones.
void mullow(const limb* a, const limb* b, std::size_t n, limb* out, limb* scratch) {
  if (n < splitlowlimbs) {
    mulschoollow(a, b, n, out);
    return;
  }
  const std::size_t h = n - n / 2;
  const std::size_t l = n / 2;
  karatsuba(a, b, h, scratch, scratch + 2 * h);
  std::copy(scratch, scratch + n, out);
  limb* const cross = scratch;
  mullow(a + h, b, l, cross, cross + l);
  addlimbs(out + h, cross, l, out + h);
  mullow(a, b + h, l, cross, cross + l);
  addlimbs(out + h, cross, l, out + h);
}

// product[0, kept) = (a * b) mod 10^kept for digit factors of ca and cb
// significant digits, all 0 to 9, on limbs.
void multiplylimbs(const signed char* a, std::size_t ca, const signed char* b, std::size_t cb, signed char* product,
                   std::size_t kept) {
  const std::size_t n = limbsfor(kept);
  // Limbs from n up do not reach the kept digits.
  std::size_t na = std::min(limbsfor(ca), n);
  std::size_t nb = std::min(limbsfor(cb), n);
  if (na < nb) {
    std::swap(a, b);
    std::swap(ca, cb);
    std::swap(na, nb);
  }
  limbvector limbs(na + nb + std::max(na + nb, n));
  limb* const la = limbs.data();
  limb* const lb = la + na;
  limb* const result = lb + nb;
  tolimbs(a, std::min(ca, na * limbdigits), la);
  tolimbs(b, std::min(cb, nb * limbdigits), lb);
  // The truncated product costs about n^2 / 2 limb products, the full one na nb.
  if (2 * na * nb <= n * n) {
    mulfull(la, na, lb, nb, result);
  } else {
    limbvector padded(2 * n + mullowscratch(n));
    std::copy(la, la + na, padded.begin());
    std::copy(lb, lb + nb, padded.begin() + static_cast<std::ptrdiff_t>(n));
    mullow(padded.data(), padded.data() + n, n, result, padded.data() + 2 * n);
  }
  todigits(result, kept, product);
}

int digitat(const digitvector& digits, std::size_t i) { return i < digits.size() ? digits[i] : 0; }

int adddigitsplain(const digitvector& a, const digitvector& b, digitvector& sum) {
  int carry = 0;
  for (std::size_t i = 0; i < sum.size(); ++i) {
    int s = digitat(a, i) + digitat(b, i) + carry;
    carry = 0;
    if (s > 9) {
      carry = s / 10;
      s %= 10;
    }
    sum[i] = static_cast<signed char>(s);
  }
  return carry;
}

int subtractdigitsplain(const digitvector& a, const digitvector& b, digitvector& difference) {
  int borrow = 0;
  for (std::size_t i = 0; i < difference.size(); ++i) {
    int d = digitat(a, i) - digitat(b, i) - borrow;
    borrow = 0;
    if (d < 0) {
      borrow = (9 - d) / 10;
      d += 10 * borrow;
    }
    difference[i] = static_cast<signed char>(d);
  }
  return borrow;
}

int sumwithwords(const digitvector& a, const digitvector& b, digitvector& out, bool complement) {
  if constexpr (wordsinorder) {
    if (a.size() >= out.size() && b.size() >= out.size()) {
      const int carry = addwords(a.data(), b.data(), out.data(), out.size(), complement);
      if (carry >= 0) {
        return carry;
      }
    }
  }
  return complement ? subtractdigitsplain(a, b, out) : adddigitsplain(a, b, out);
}

}  // namespace

std::size_t significantcount(const digitvector& digits) {
  const auto top = std::find_if(digits.rbegin(), digits.rend(), [](signed char d) { return d != 0; });
  return static_cast<std::size_t>(digits.rend() - top);
}

bool alldigits(const digitvector& digits) { return alldigits(digits.data(), digits.size()); }

int adddigits(const digitvector& a, const digitvector& b, digitvector& sum) { return sumwithwords(a, b, sum, false); }

int subtractdigits(const digitvector& a, const digitvector& b, digitvector& difference) {
  return sumwithwords(a, b, difference, true);
}

void multiplydigits(const digitvector& a, const digitvector& b, digitvector& product, std::size_t kept) {
  const std::size_t counta = significantcount(a);
  const std::size_t countb = significantcount(b);
  kept = std::min(kept, product.size());
  if (std::min(counta, countb) >= plainproductdigits && alldigits(a.data(), counta) && alldigits(b.data(), countb)) {
    multiplylimbs(a.data(), counta, b.data(), countb, product.data(), kept);
    return;
  }
  for (std::size_t i = 0; i < counta; ++i) {
    int carry = 0;
    for (std::size_t j = 0; j < countb; ++j) {
      const int c = product[i + j] + a[i] * b[j] + carry;
      carry = c / 10;
      product[i + j] = static_cast<signed char>(c % 10);
    }
    if (carry != 0) {
      product[i + countb] = static_cast<signed char>(product[i + countb] + carry);
    }
  }
}

}  // namespace VELDAR::detail
