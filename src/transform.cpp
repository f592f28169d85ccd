// The transform. Each pair of limbs makes one coefficient below 10^18. The
// cyclic convolution of the two coefficient sequences, over a length N no
// shorter than the product's na' + nb' - 1 coefficients, is computed modulo
// the three primes
//   p1 = 0x3fffff3000000001 = 67108851 * 2^36 + 1,
//   p2 = 0x3ffffd2000000001 = 33554409 * 2^37 + 1,
//   p3 = 0x3ffff96000000001 = 33554379 * 2^37 + 1,
// all below 2^62, and put together by the Chinese remainder theorem (Garner's
// form). A coefficient of the product is a sum of at most min(na', nb')
// products below 10^36, and p1 p2 p3 > 2^185.99 > 2^66 * 10^36, so the three
// residues give every coefficient exactly whenever min(na', nb') < 2^66: for
// every size that fits a transform. N is the shorter of a power of two and
// three times a power of two; the primes have roots of unity of order 3 * 2^36
// in common, and N is at most 2^36 coefficients: products of up to 2^37 limbs
// (6 * 10^11 digits) go through the transform, and multiply_limbs() leaves
// longer ones to Karatsuba. The checks of the primes and their roots are
// static_asserts below.
//
// Arithmetic modulo p uses Montgomery's multiplication with R = 2^64, and the
// butterflies reduce lazily (as in Harvey's NTT): values stay below 2p in the
// forward transform and below 4p in the inverse one, which 4p < 2^64 allows.
// The forward transform decimates in frequency, from natural order to
// bit-reversed order, and the inverse one decimates in time, back from
// bit-reversed order, so that no permutation is needed between them. A length
// of 3 * 2^k has one radix-3 level first (last in the inverse), over three
// transforms of 2^k. The first level reads the coefficients and skips the
// zeros of the padding. Transforms longer than transform_block values do one
// level over the whole array and go on with each half, so that the inner
// levels run in the cache. The twiddle factors are tables of Montgomery
// residues per prime, forward and inverse, built level by level with one
// multiplication per entry; the tables of each transform length are made
// once and kept, shared by the threads, up to kept_twiddle_bytes. The
// squares of equal factors take one forward transform instead of two. The
// buffers come from the thread's scratch arena (scratch.h).
#include "products.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "scratch.h"

namespace VELDAR::detail {

namespace {

__extension__ typedef unsigned __int128 uint128;
using residue = std::uint64_t;

constexpr std::uint64_t high_half(uint128 x) { return static_cast<std::uint64_t>(x >> 64); }
constexpr std::uint64_t low_half(uint128 x) { return static_cast<std::uint64_t>(x); }

// Coefficients hold two limbs: below 10^18.
constexpr std::uint64_t coefficient_base = std::uint64_t{limb_base} * limb_base;

// Compile-time arithmetic for the constants below.

constexpr std::uint64_t multiply_mod(std::uint64_t a, std::uint64_t b, std::uint64_t m) {
  return static_cast<std::uint64_t>(uint128{a} * b % m);
}

constexpr std::uint64_t power_mod(std::uint64_t base, std::uint64_t exponent, std::uint64_t m) {
  std::uint64_t result = 1 % m;
  for (base %= m; exponent != 0; exponent >>= 1) {
    if ((exponent & 1) != 0) {
      result = multiply_mod(result, base, m);
    }
    base = multiply_mod(base, base, m);
  }
  return result;
}

// x^-1 mod p for a prime p not dividing x, by Fermat's little theorem.
constexpr std::uint64_t inverse_mod(std::uint64_t x, std::uint64_t p) { return power_mod(x, p - 2, p); }

// Miller-Rabin on the first twelve primes as bases, which decides primality
// for every n below 3.3 * 10^24.
constexpr bool is_prime(std::uint64_t n) {
  constexpr std::uint64_t bases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
  for (const std::uint64_t q : bases) {
    if (n % q == 0) {
      return n == q;
    }
  }
  std::uint64_t odd = n - 1;
  int twos = 0;
  for (; odd % 2 == 0; odd /= 2) {
    ++twos;
  }
  for (const std::uint64_t q : bases) {
    std::uint64_t x = power_mod(q, odd, n);
    bool witness = x != 1 && x != n - 1;
    for (int i = 1; i < twos && witness; ++i) {
      x = multiply_mod(x, x, n);
      witness = x != n - 1;
    }
    if (witness) {
      return false;
    }
  }
  return true;
}

// p^-1 mod 2^64 for odd p, by Newton's iteration: each step doubles the
// number of correct low bits, and p itself has three.
constexpr std::uint64_t inverse_mod_word(std::uint64_t p) {
  std::uint64_t inverse = p;
  for (int i = 0; i < 5; ++i) {
    inverse *= 2 - p * inverse;
  }
  return inverse;
}

// The longest transform: 2^36 coefficients.
constexpr unsigned max_transform_log = 36;
constexpr std::uint64_t max_transform_length = std::uint64_t{1} << max_transform_log;

// x R mod p, the Montgomery form of x, at compile time.
constexpr residue montgomery_form(std::uint64_t x, std::uint64_t p) {
  return multiply_mod(x % p, static_cast<std::uint64_t>((uint128{1} << 64) % p), p);
}

// A prime as the multiplications take it. The transform's loops take it by
// value, so that it stays in registers while they store to their arrays.
struct modulus {
  std::uint64_t p = 0;
  std::uint64_t p_inverse = 0;  // p^-1 mod 2^64
};

// One prime and its constants. The roots of unity, in Montgomery form, are
// powers of one root of order 3 * 2^36: roots3[k] of order 3 * 2^k, roots[k]
// = roots3[k]^3 of order 2^k, and omega = roots3[k]^(2^k) of order 3.
struct prime_field : modulus {
  std::uint64_t r_squared = 0;  // R^2 mod p: x R^2 / R is x's Montgomery form
  residue one = 0;
  std::array<residue, max_transform_log + 1> roots{};
  std::array<residue, max_transform_log + 1> roots3{};
  residue omega = 0;
  residue omega_inverse = 0;
  std::uint64_t root3 = 0;  // roots3[36], plain, for the checks below
};

// The field of the prime p, with its roots of unity taken from the powers of
// `generator`.
constexpr prime_field make_field(std::uint64_t p, std::uint64_t generator) {
  prime_field f;
  f.p = p;
  f.p_inverse = inverse_mod_word(p);
  f.r_squared = multiply_mod(montgomery_form(1, p), montgomery_form(1, p), p);
  f.one = montgomery_form(1, p);
  f.root3 = power_mod(generator, (p - 1) / (3 * max_transform_length), p);
  std::uint64_t root = f.root3;
  for (unsigned k = max_transform_log;; --k) {
    f.roots3[k] = montgomery_form(root, p);
    f.roots[k] = montgomery_form(power_mod(root, 3, p), p);
    if (k == 0) {
      break;
    }
    root = multiply_mod(root, root, p);
  }
  f.omega = montgomery_form(root, p);
  f.omega_inverse = montgomery_form(multiply_mod(root, root, p), p);
  return f;
}

constexpr std::array<prime_field, 3> fields = {make_field(0x3fffff3000000001, 5), make_field(0x3ffffd2000000001, 13),
                                               make_field(0x3ffff96000000001, 11)};

// What the transform relies on: p prime, 4p < 2^64 for the lazy reductions,
// p p^-1 = 1 mod 2^64, and a root of order exactly 3 * 2^36: its 3 * 2^35-th
// power is -1 and its 2^36-th power, omega, is not 1.
constexpr bool valid_field(const prime_field& f) {
  return is_prime(f.p) && f.p < (std::uint64_t{1} << 62) && f.p * f.p_inverse == 1 &&
         power_mod(f.root3, 3 * max_transform_length / 2, f.p) == f.p - 1 &&
         f.omega == montgomery_form(power_mod(f.root3, max_transform_length, f.p), f.p) && f.omega != f.one &&
         f.roots[max_transform_log] == montgomery_form(power_mod(f.root3, 3, f.p), f.p);
}
static_assert(valid_field(fields[0]) && valid_field(fields[1]) && valid_field(fields[2]));
static_assert(fields[0].p > fields[1].p && fields[1].p > fields[2].p);  // distinct
// p1 p2 p3 > 2^66 10^36, the bound on the coefficients: p1 p2 p3 is at least
// floor(p1 p2 / 2^64) floor(p3 / 4) 2^66.
static_assert(uint128{high_half(uint128{fields[0].p} * fields[1].p)} * (fields[2].p >> 2) >
              uint128{coefficient_base} * coefficient_base);

// x y / 2^64 mod p, in [1, 2p), for x y < 2^64 p: with m = (x y) p^-1 mod
// 2^64, x y - m p is a multiple of 2^64, and (x y - m p) / 2^64 is the high
// halves' difference, in (-p, p).
inline residue montgomery_multiply(residue x, residue y, modulus f) {
  const uint128 product = uint128{x} * y;
  const std::uint64_t m = low_half(product) * f.p_inverse;
  return high_half(product) - high_half(uint128{m} * f.p) + f.p;
}

// x mod p for x below 2p.
inline residue reduce_once(residue x, std::uint64_t p) { return x >= p ? x - p : x; }

// The Montgomery form x R mod p, in [0, p), of any x.
inline residue to_montgomery(std::uint64_t x, const prime_field& f) {
  return reduce_once(montgomery_multiply(x % f.p, f.r_squared, f), f.p);
}

// x^e for x in Montgomery form.
residue power_montgomery(residue x, std::uint64_t exponent, const prime_field& f) {
  residue result = f.one;
  for (; exponent != 0; exponent >>= 1) {
    if ((exponent & 1) != 0) {
      result = reduce_once(montgomery_multiply(result, x, f), f.p);
    }
    x = reduce_once(montgomery_multiply(x, x, f), f.p);
  }
  return result;
}

// table[len + j] = w^j for the 2len-th root of unity w, in Montgomery form
// below p, for every power of two len < n and j < len; table[0] is unused.
// Each level's entries are the previous level's at even j, and those times
// the new level's root at odd j.
void make_twiddles(const prime_field& f, std::size_t n, residue* table) {
  table[0] = 0;
  if (n < 2) {
    return;
  }
  table[1] = f.one;
  const modulus mod = f;
  for (std::size_t len = 1, log = 2; 2 * len < n; len *= 2, ++log) {
    const residue step = f.roots[log];  // of order 4len
    const residue* const previous = table + len;
    residue* const next = table + 2 * len;
    for (std::size_t j = 0; j < len; ++j) {
      next[2 * j] = previous[j];
      next[2 * j + 1] = reduce_once(montgomery_multiply(previous[j], step, mod), mod.p);
    }
  }
}

// The forward table into the inverse one: w^-j = -w^(len - j) for the
// 2len-th root w and 0 < j < len.
void invert_twiddles(const prime_field& f, std::size_t n, residue* table) {
  const std::uint64_t p = f.p;
  for (std::size_t len = 1; len < n; len *= 2) {
    std::reverse(table + len + 1, table + 2 * len);
    std::for_each(table + len + 1, table + 2 * len, [p](residue& w) { w = p - w; });
  }
}

// The twiddle factors of a radix-3 level over n = 3m values: z[j] = w^j and
// z[m + j] = w^2j for j < m, with w = roots3[k] of order n = 3 * 2^k, or its
// inverse. w^3 is roots[k], the root of the length-m transforms of
// make_twiddles(), and w^m is omega.
void make_radix3_twiddles(const prime_field& f, std::size_t m, bool inverse, residue* z) {
  std::size_t log = 0;
  while ((std::size_t{1} << log) < m) {
    ++log;
  }
  const residue root = f.roots3[log];
  const residue w = inverse ? power_montgomery(root, 3 * m - 1, f) : root;
  residue power = f.one;
  const modulus mod = f;
  for (std::size_t j = 0; j < m; ++j) {
    z[j] = power;
    z[m + j] = reduce_once(montgomery_multiply(power, power, mod), mod.p);
    power = reduce_once(montgomery_multiply(power, w, mod), mod.p);
  }
}

// The transform's butterflies. Forward ones take and give values below 2p,
// inverse ones take values below 4p and give values below 4p.

// x, y -> x + y, (x - y) w.
inline void forward_butterfly(residue& x, residue& y, residue w, modulus f) {
  const std::uint64_t twice = 2 * f.p;
  const residue sum = x + y;
  const residue difference = x - y + twice;  // below 4p: times w below p, below 2^64 p
  x = sum >= twice ? sum - twice : sum;
  y = montgomery_multiply(difference, w, f);
}

// x, y -> x + y w, x - y w.
inline void inverse_butterfly(residue& x, residue& y, residue w, modulus f) {
  const std::uint64_t twice = 2 * f.p;
  const residue low = x >= twice ? x - twice : x;
  const residue product = montgomery_multiply(y, w, f);  // y w below 4p^2 < 2^64 p
  x = low + product;
  y = low - product + twice;
}

// One level of the forward transform, over blocks of 2len values from x[0, n).
void forward_level(residue* x, std::size_t n, std::size_t len, const residue* table, modulus f) {
  const residue* const twiddles = table + len;
  for (residue* block = x; block != x + n; block += 2 * len) {
    for (std::size_t j = 0; j < len; ++j) {
      forward_butterfly(block[j], block[j + len], twiddles[j], f);
    }
  }
}

// One level of the inverse transform, over blocks of 2len values from x[0, n).
void inverse_level(residue* x, std::size_t n, std::size_t len, const residue* table, modulus f) {
  const residue* const twiddles = table + len;
  for (residue* block = x; block != x + n; block += 2 * len) {
    for (std::size_t j = 0; j < len; ++j) {
      inverse_butterfly(block[j], block[j + len], twiddles[j], f);
    }
  }
}

// Blocks of the transform of at most this many coefficients are done level
// by level; longer ones one level, then each half.
constexpr std::size_t transform_block = std::size_t{1} << 12;

// The forward transform of x[0, n), natural order in, bit-reversed order out.
void forward_transform(residue* x, std::size_t n, const residue* table, modulus f) {
  if (n > transform_block) {
    forward_level(x, n, n / 2, table, f);
    forward_transform(x, n / 2, table, f);
    forward_transform(x + n / 2, n / 2, table, f);
    return;
  }
  for (std::size_t len = n / 2; len >= 2; len /= 2) {
    forward_level(x, n, len, table, f);
  }
  if (n >= 2) {  // the last level's twiddle factor is 1
    const std::uint64_t twice = 2 * f.p;
    for (std::size_t i = 0; i < n; i += 2) {
      const residue sum = x[i] + x[i + 1];
      const residue difference = x[i] - x[i + 1] + twice;
      x[i] = sum >= twice ? sum - twice : sum;
      x[i + 1] = difference >= twice ? difference - twice : difference;
    }
  }
}

// The inverse transform of x[0, n), bit-reversed order in, natural order out,
// times n.
void inverse_transform(residue* x, std::size_t n, const residue* table, modulus f) {
  if (n > transform_block) {
    inverse_transform(x, n / 2, table, f);
    inverse_transform(x + n / 2, n / 2, table, f);
    inverse_level(x, n, n / 2, table, f);
    return;
  }
  if (n >= 2) {  // the first level's twiddle factor is 1
    const std::uint64_t twice = 2 * f.p;
    for (std::size_t i = 0; i < n; i += 2) {
      const residue low = x[i] >= twice ? x[i] - twice : x[i];
      const residue high = x[i + 1] >= twice ? x[i + 1] - twice : x[i + 1];
      x[i] = low + high;
      x[i + 1] = low - high + twice;
    }
  }
  for (std::size_t len = 2; len < n; len *= 2) {
    inverse_level(x, n, len, table, f);
  }
}

// The first level of a forward transform over n = 3m values, radix 3, from
// the coefficients c[0, count), count <= n, padded with zeros: with omega,
// x0, x1, x2 = c[j], c[j + m], c[j + 2m] go to x0 + x1 + x2,
// (x0 + omega x1 + omega^2 x2) w^j and (x0 + omega^2 x1 + omega x2) w^2j,
// where omega^2 x = -x - omega x. The coefficients are below 10^18 < p, and
// so is every term: the sums stay below 4p.
void forward_radix3(const std::uint64_t* c, std::size_t count, residue* x, std::size_t m, const residue* z,
                    const prime_field& f) {
  const residue omega = f.omega;
  const modulus mod = f;
  const std::uint64_t p = f.p;
  const auto at = [c, count](std::size_t i) { return i < count ? c[i] : 0; };
  for (std::size_t j = 0; j < m; ++j) {
    const std::uint64_t x0 = at(j);
    const std::uint64_t x1 = at(j + m);
    const std::uint64_t x2 = at(j + 2 * m);
    const residue a = reduce_once(montgomery_multiply(x1, omega, mod), p);
    const residue b = reduce_once(montgomery_multiply(x2, omega, mod), p);
    const residue sum = x0 + x1 + x2;
    x[j] = sum >= 2 * p ? sum - 2 * p : sum;
    x[j + m] = montgomery_multiply(x0 + a + (p - x2) + (p - b), z[j], mod);
    x[j + 2 * m] = montgomery_multiply(x0 + (p - x1) + (p - a) + b, z[m + j], mod);
  }
}

// The last level of an inverse transform over n = 3m values, radix 3: the
// first level's inverse with the inverse twiddle factors z and omega^-1, taking
// values below 4p and giving values below 4p.
void inverse_radix3(residue* x, std::size_t m, const residue* z, const prime_field& f) {
  const residue omega = f.omega_inverse;
  const modulus mod = f;
  const std::uint64_t p = f.p;
  for (std::size_t j = 0; j < m; ++j) {
    const residue low = x[j] >= 2 * p ? x[j] - 2 * p : x[j];
    const residue t0 = reduce_once(low, p);
    const residue t1 = reduce_once(montgomery_multiply(x[j + m], z[j], mod), p);
    const residue t2 = reduce_once(montgomery_multiply(x[j + 2 * m], z[m + j], mod), p);
    const residue a = reduce_once(montgomery_multiply(t1, omega, mod), p);
    const residue b = reduce_once(montgomery_multiply(t2, omega, mod), p);
    x[j] = t0 + t1 + t2;
    x[j + m] = t0 + a + (p - t2) + (p - b);
    x[j + 2 * m] = t0 + (p - t1) + (p - a) + b;
  }
}

// The forward transform of the coefficients c[0, count), count <= n, padded
// with zeros to n, into x[0, n), for n a power of two. The first level reads
// the coefficients, all below 10^18 < p, and skips the zeros.
void forward_coefficients(const std::uint64_t* c, std::size_t count, residue* x, std::size_t n, const residue* table,
                          modulus f) {
  const std::size_t half = n / 2;
  if (half == 0) {
    x[0] = count != 0 ? c[0] : 0;
    return;
  }
  const std::size_t both = count > half ? count - half : 0;  // c[j] and c[j + half]
  const std::size_t single = std::min(count, half);          // c[j] alone
  const residue* const twiddles = table + half;
  for (std::size_t j = 0; j < both; ++j) {
    x[j] = c[j];
    x[j + half] = c[j + half];
    forward_butterfly(x[j], x[j + half], twiddles[j], f);
  }
  for (std::size_t j = both; j < single; ++j) {
    x[j] = c[j];
    x[j + half] = montgomery_multiply(c[j], twiddles[j], f);
  }
  std::fill(x + single, x + half, 0);
  std::fill(x + half + single, x + n, 0);
  forward_transform(x, half, table, f);
  forward_transform(x + half, half, table, f);
}

// The coefficients below 10^18 of count limbs: c[i] = a[2i] + a[2i + 1] B;
// returns the end of c.
std::uint64_t* pack_coefficients(const limb* a, std::size_t count, std::uint64_t* c) {
  for (std::size_t i = 0; i + 1 < count; i += 2) {
    *c++ = a[i] + std::uint64_t{limb_base} * a[i + 1];
  }
  if (count % 2 != 0) {
    *c++ = a[count - 1];
  }
  return c;
}

// Division of 128-bit numbers by 10^18, on 64-bit words, with a reciprocal
// as in Moeller and Granlund, "Improved division by invariant integers"
// (2011), algorithm 4: the divisor is shifted up until its top bit is set,
// and so is the dividend.
constexpr unsigned divisor_shift = 4;
constexpr std::uint64_t divisor = coefficient_base << divisor_shift;
static_assert(divisor >> 63 == 1);
constexpr std::uint64_t reciprocal = low_half(~uint128{0} / divisor);  // floor((2^128 - 1) / d) - 2^64

// (high 2^64 + low) = quotient * divisor + remainder, for high < divisor.
inline std::uint64_t divide_words(std::uint64_t high, std::uint64_t low, std::uint64_t& remainder) {
  const uint128 estimate = uint128{reciprocal} * high + ((uint128{high} << 64) | low);
  std::uint64_t quotient = high_half(estimate) + 1;
  std::uint64_t rest = low - quotient * divisor;
  if (rest > low_half(estimate)) {
    --quotient;
    rest += divisor;
  }
  if (rest >= divisor) {
    ++quotient;
    rest -= divisor;
  }
  remainder = rest;
  return quotient;
}

// The Chinese remainder theorem for one coefficient c, from the inverse
// transforms' values v1, v2, v3 (below 4p each), which are c n R^-1 modulo
// each prime (the pointwise products' Montgomery factor, and the length).
// In Garner's form c = r1 + p1 (d2 + p2 d3), r1 < p1, d2 < p2, d3 < p3.
class garner {
 public:
  explicit garner(std::size_t n)
      : scale1(unscale(n, fields[0])),
        scale2(times(unscale(n, fields[1]), inverse12, fields[1])),
        scale3(times(unscale(n, fields[2]), inverse13, fields[2])) {}

  // c as three 64-bit words, least significant first.
  std::array<std::uint64_t, 3> operator()(residue v1, residue v2, residue v3) const {
    constexpr std::uint64_t p1 = fields[0].p;
    constexpr std::uint64_t p2 = fields[1].p;
    constexpr std::uint64_t p3 = fields[2].p;
    const std::uint64_t r1 = reduce_once(montgomery_multiply(v1, scale1, fields[0]), p1);
    const std::uint64_t a2 = montgomery_multiply(v2, scale2, fields[1]);  // below 2 p2 each
    const std::uint64_t b2 = montgomery_multiply(r1, inverse12, fields[1]);
    const std::uint64_t d2 = (a2 + 2 * p2 - b2) % p2;  // below 4 p2 < 2^64 before
    const std::uint64_t a3 = reduce_once(montgomery_multiply(v3, scale3, fields[2]), p3);
    const std::uint64_t b3 = reduce_once(montgomery_multiply(r1, inverse13, fields[2]), p3);
    const std::uint64_t c3 = reduce_once(montgomery_multiply(d2, inverse23, fields[2]), p3);
    const std::uint64_t d3 = (a3 + 2 * p3 - b3 - c3) % p3;  // below 3 p3 < 2^64 before
    // r1 + p1 d2 + p1 p2 d3, with p1 p2 = high 2^64 + low.
    constexpr uint128 p12 = uint128{p1} * p2;
    const uint128 lower = uint128{p1} * d2 + r1;  // below 2^124 + 2^62
    const uint128 middle = uint128{low_half(p12)} * d3;
    const uint128 sum = lower + middle;
    const uint128 upper = uint128{high_half(p12)} * d3 + high_half(sum) + (sum < lower ? uint128{1} << 64 : 0);
    return {low_half(sum), low_half(upper), high_half(upper)};
  }

 private:
  // The factors below are in Montgomery form, K R, so that m(v, K R) = v K.
  // d2 = (c - r1) / p1 mod p2.
  static constexpr residue inverse12 = montgomery_form(inverse_mod(fields[0].p, fields[1].p), fields[1].p);
  // d3 = ((c - r1) / p1 - d2) / p2 mod p3: (p1 p2)^-1 and p2^-1.
  static constexpr residue inverse13 =
      montgomery_form(inverse_mod(multiply_mod(fields[0].p, fields[1].p, fields[2].p), fields[2].p), fields[2].p);
  static constexpr residue inverse23 = montgomery_form(inverse_mod(fields[1].p, fields[2].p), fields[2].p);

  static residue times(residue x, residue y, const prime_field& f) {
    return reduce_once(montgomery_multiply(x, y, f), f.p);
  }
  // n^-1 R^2 mod p: the transform's length and the pointwise products'
  // factor R^-1 undone. n^-1 is p - (p - 1) / n, as n divides p - 1.
  static residue unscale(std::size_t n, const prime_field& f) {
    return times(to_montgomery(f.p - (f.p - 1) / n, f), f.r_squared, f);
  }

  // In Montgomery form as well:
  residue scale1;  // n^-1 R
  residue scale2;  // n^-1 R p1^-1
  residue scale3;  // n^-1 R (p1 p2)^-1
};

// The carries through the coefficients, and the limbs they leave: each
// coefficient plus the carry into it gives its two limbs and the carry into
// the next one.
class carrier {
 public:
  // Adds the coefficient c, least significant word first; returns c + carry
  // mod 10^18 and keeps the rest as the next carry.
  std::uint64_t take(const std::array<std::uint64_t, 3>& c) {
    // value = c + carry, three words; below 2^187 as c < p1 p2 p3 < 2^186
    // and the carry is at most about c / 10^18.
    const uint128 low = uint128{c[0]} + low_half(carry);
    const uint128 middle = uint128{c[1]} + high_half(carry) + high_half(low);
    const std::uint64_t top = c[2] + high_half(middle);
    // Shifted up to the normalized divisor: the top word stays below 2^63,
    // below the divisor, so the quotient has two words.
    const std::uint64_t word0 = low_half(low) << divisor_shift;
    const std::uint64_t word1 = (low_half(middle) << divisor_shift) | (low_half(low) >> (64 - divisor_shift));
    const std::uint64_t word2 = (top << divisor_shift) | (low_half(middle) >> (64 - divisor_shift));
    std::uint64_t remainder = 0;
    const std::uint64_t quotient1 = divide_words(word2, word1, remainder);
    const std::uint64_t quotient0 = divide_words(remainder, word0, remainder);
    carry = (uint128{quotient1} << 64) | quotient0;
    return remainder >> divisor_shift;
  }

 private:
  uint128 carry = 0;
};

// The transform's length for the product's coefficients: the shortest of a
// power of two and three times a power of two, at least 2.
std::size_t transform_length(std::size_t coefficients) {
  std::size_t n = 2;
  while (n < coefficients) {
    n *= 2;
  }
  return n / 4 * 3 >= coefficients && n >= 8 ? n / 4 * 3 : n;
}

// A transform over n = 3m values, radix 3 on top of three of length m, or
// over n = m values, a power of two.
struct transform_shape {
  explicit transform_shape(std::size_t length) : n(length), m(length % 3 == 0 ? length / 3 : length) {}
  bool radix3() const { return m != n; }
  std::size_t n;
  std::size_t m;
};

// x[0, n) = the forward transform of c[0, count) padded with zeros, modulo
// f.p, with `table` holding the twiddle factors.
void forward(const std::uint64_t* c, std::size_t count, residue* x, transform_shape shape, const residue* table,
             const residue* table3, const prime_field& f) {
  if (!shape.radix3()) {
    forward_coefficients(c, count, x, shape.n, table, f);
    return;
  }
  forward_radix3(c, count, x, shape.m, table3, f);
  for (std::size_t block = 0; block < 3; ++block) {
    forward_transform(x + block * shape.m, shape.m, table, f);
  }
}

// The inverse transform of x[0, n), times n.
void inverse(residue* x, transform_shape shape, const residue* table, const residue* table3, const prime_field& f) {
  for (std::size_t block = 0; block < shape.n / shape.m; ++block) {
    inverse_transform(x + block * shape.m, shape.m, table, f);
  }
  if (shape.radix3()) {
    inverse_radix3(x, shape.m, table3, f);
  }
}

// The twiddle factors of one prime for transforms of one shape: those of the
// length-m transforms, forward and inverse, and of the radix-3 level (none
// for a power of two).
struct twiddle_tables {
  const residue* forward;
  const residue* inverse;
  const residue* forward3;
  const residue* inverse3;
};

// The tables of one prime laid out in `table`: forward (m values), inverse
// (m), and for three times a power of two the radix-3 level's forward (2m)
// and inverse (2m).
twiddle_tables make_tables(const prime_field& f, transform_shape shape, residue* table) {
  const std::size_t m = shape.m;
  make_twiddles(f, m, table);
  std::copy(table, table + m, table + m);
  invert_twiddles(f, m, table + m);
  twiddle_tables tables{table, table + m, nullptr, nullptr};
  if (shape.radix3()) {
    make_radix3_twiddles(f, m, false, table + 2 * m);
    make_radix3_twiddles(f, m, true, table + 4 * m);
    tables.forward3 = table + 2 * m;
    tables.inverse3 = table + 4 * m;
  }
  return tables;
}

// The twiddle factors of the three primes for one shape, made once and
// shared by every thread (they are never written after they are made).
class twiddle_set {
 public:
  explicit twiddle_set(transform_shape shape) : values(fields.size() * per_prime(shape)) {
    for (std::size_t k = 0; k < fields.size(); ++k) {
      prime[k] = make_tables(fields[k], shape, values.data() + k * per_prime(shape));
    }
  }
  twiddle_tables tables(std::size_t k) const { return prime[k]; }
  std::size_t bytes() const { return values.size() * sizeof(residue); }

  // The values one prime's tables take.
  static std::size_t per_prime(transform_shape shape) { return (shape.radix3() ? 6 : 2) * shape.m; }

 private:
  std::vector<residue> values;
  std::array<twiddle_tables, 3> prime{};
};

// Sets of twiddle factors kept for the transform lengths used so far, up to
// kept_twiddle_bytes in all: a product of a length used before makes none.
// Longer transforms make theirs on every call, in the scratch arena; when the
// kept sets would pass the bound, they are all dropped (a product using one
// holds on to it until it ends).
constexpr std::size_t kept_twiddle_bytes = std::size_t{48} << 20;

class twiddle_cache {
 public:
  std::shared_ptr<const twiddle_set> find(transform_shape shape) {
    const std::size_t bytes = fields.size() * twiddle_set::per_prime(shape) * sizeof(residue);
    if (bytes > kept_twiddle_bytes / 4) {
      return nullptr;
    }
    {
      const std::lock_guard<std::mutex> guard(lock);
      const auto found = sets.find(shape.n);
      if (found != sets.end()) {
        return found->second;
      }
    }
    auto made = std::make_shared<const twiddle_set>(shape);  // outside the lock
    const std::lock_guard<std::mutex> guard(lock);
    if (total + made->bytes() > kept_twiddle_bytes) {
      sets.clear();
      total = 0;
    }
    const auto [where, added] = sets.emplace(shape.n, std::move(made));
    if (added) {
      total += where->second->bytes();
    }
    return where->second;
  }

 private:
  std::mutex lock;
  std::map<std::size_t, std::shared_ptr<const twiddle_set>> sets;  // by transform length
  std::size_t total = 0;
};

// The kept twiddle factors of the shape, or none when it is too long to keep.
// The cache is never destroyed, so that numbers destroyed after main() can
// still multiply; the memory it holds goes with the process.
std::shared_ptr<const twiddle_set> cached_twiddles(transform_shape shape) {
  static twiddle_cache* const cache = new twiddle_cache;
  return cache->find(shape);
}

std::size_t coefficients_for(std::size_t limbs) { return limbs - limbs / 2; }

}  // namespace

bool transform_fits(std::size_t na, std::size_t nb) {
  return coefficients_for(na) + coefficients_for(nb) <= max_transform_length + 1;
}

void multiply_transform(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out, std::size_t count) {
  if (!transform_fits(na, nb)) {
    throw std::length_error("multiply_transform: factors too long for the transform");
  }
  if (na == 0 || nb == 0) {
    std::fill(out, out + count, 0);
    return;
  }
  const bool square = na == nb && std::equal(a, a + na, b);
  const std::size_t ca = coefficients_for(na);
  const std::size_t cb = square ? 0 : coefficients_for(nb);
  const std::size_t product = ca + coefficients_for(nb) - 1;  // coefficients
  const transform_shape shape(transform_length(product));
  const std::size_t n = shape.n;
  // Everything is taken before `out` is written, and left uninitialised:
  // every value is written before it is read.
  const std::shared_ptr<const twiddle_set> kept = cached_twiddles(shape);
  scratch_frame frame;
  const std::size_t table_size = twiddle_set::per_prime(shape);
  residue* const made = kept ? nullptr : frame.take<residue>(table_size);
  std::uint64_t* const ea = frame.take<std::uint64_t>(ca + cb + (square ? 3 : 4) * n);
  std::uint64_t* const eb = ea + ca;
  pack_coefficients(b, square ? 0 : nb, pack_coefficients(a, na, ea));
  residue* const values[3] = {eb + cb, eb + cb + n, eb + cb + 2 * n};
  residue* const other = eb + cb + 3 * n;  // the second factor's transform
  for (std::size_t k = 0; k < fields.size(); ++k) {
    const prime_field& f = fields[k];
    residue* const x = values[k];
    const twiddle_tables tables = kept ? kept->tables(k) : make_tables(f, shape, made);
    forward(ea, ca, x, shape, tables.forward, tables.forward3, f);
    const residue* y = x;
    if (!square) {
      forward(eb, cb, other, shape, tables.forward, tables.forward3, f);
      y = other;
    }
    const modulus mod = f;
    for (std::size_t i = 0; i < n; ++i) {
      x[i] = montgomery_multiply(x[i], y[i], mod);  // below 4p^2 < 2^64 p
    }
    inverse(x, shape, tables.inverse, tables.inverse3, f);
  }
  const garner crt(n);
  carrier carries;
  for (std::size_t i = 0, k = 0; i < count; i += 2, ++k) {
    const std::uint64_t pair =
        carries.take(k < product ? crt(values[0][k], values[1][k], values[2][k]) : std::array<std::uint64_t, 3>{});
    out[i] = static_cast<limb>(pair % limb_base);
    if (i + 1 < count) {
      out[i + 1] = static_cast<limb>(pair / limb_base);
    }
  }
}

}  // namespace VELDAR::detail
