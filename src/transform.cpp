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
#include "transform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform.h"
#include "scratch.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace VELDAR::detail {

namespace {

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

// The constants of the field of f.p in the Montgomery form that `form` gives
// (R = 2^64 for the scalar transform, 2^52 for the vector one), its roots of
// unity taken from the powers of `generator`: a root of order 3 * 2^max_log,
// its powers of orders 3 * 2^k and 2^k, and omega of order 3. Both kinds of
// field are made by it, so that they cannot differ but in R and the lengths.
template <unsigned max_log, typename field, typename montgomery>
constexpr void set_roots(field& f, std::uint64_t generator, montgomery form) {
  const std::uint64_t p = f.p;
  f.r_squared = multiply_mod(form(1, p), form(1, p), p);
  f.one = form(1, p);
  f.root3 = power_mod(generator, (p - 1) / (3 * (std::uint64_t{1} << max_log)), p);
  std::uint64_t root = f.root3;
  for (unsigned k = max_log;; --k) {
    f.roots3[k] = form(root, p);
    f.roots[k] = form(power_mod(root, 3, p), p);
    if (k == 0) {
      break;
    }
    root = multiply_mod(root, root, p);
  }
  f.omega = form(root, p);
  f.omega_inverse = form(multiply_mod(root, root, p), p);
}

// What the transforms rely on in the roots that set_roots() made: p prime,
// and a root of order exactly 3 * 2^max_log: its 3 * 2^(max_log - 1)-th
// power is -1 and its 2^max_log-th power, omega, is not 1.
template <unsigned max_log, typename field, typename montgomery>
constexpr bool valid_roots(const field& f, montgomery form) {
  constexpr std::uint64_t order = std::uint64_t{1} << max_log;
  return is_prime(f.p) && power_mod(f.root3, 3 * order / 2, f.p) == f.p - 1 &&
         f.omega == form(power_mod(f.root3, order, f.p), f.p) && f.omega != f.one &&
         f.roots[max_log] == form(power_mod(f.root3, 3, f.p), f.p);
}

// The field of the prime p, with its roots of unity taken from the powers of
// `generator`.
constexpr prime_field make_field(std::uint64_t p, std::uint64_t generator) {
  prime_field f;
  f.p = p;
  f.p_inverse = inverse_mod_word(p);
  set_roots<max_transform_log>(f, generator, montgomery_form);
  return f;
}

constexpr std::array<prime_field, 3> fields = {make_field(0x3fffff3000000001, 5), make_field(0x3ffffd2000000001, 13),
                                               make_field(0x3ffff96000000001, 11)};

// What the transform relies on: 4p < 2^64 for the lazy reductions,
// p p^-1 = 1 mod 2^64, and the roots of order 3 * 2^36 (valid_roots()).
constexpr bool valid_field(const prime_field& f) {
  return f.p < (std::uint64_t{1} << 62) && f.p * f.p_inverse == 1 && valid_roots<max_transform_log>(f, montgomery_form);
}
static_assert(valid_field(fields[0]) && valid_field(fields[1]) && valid_field(fields[2]));
static_assert(fields[0].p > fields[1].p && fields[1].p > fields[2].p);  // distinct
// p1 p2 p3 > 2^66 10^36, the bound on the coefficients: p1 p2 p3 is at least
// floor(p1 p2 / 2^64) floor(p3 / 4) 2^66.
static_assert(uint128{high_half(uint128{fields[0].p} * fields[1].p)} * (fields[2].p >> 2) >
              uint128{coefficient_base} * coefficient_base);

// The primes of the vector transform, below 2^50, for the 52-bit products
// of AVX-512 IFMA: Montgomery's multiplication with R = 2^52, the values
// below 4p < 2^52 as in the transform above. Coefficients of two limbs again:
//   q1 = 0x3fff300000001 = 87377 * 3 * 2^32 + 1,
//   q2 = 0x3ffed00000001 = 87375 * 3 * 2^32 + 1,
//   q3 = 0x3ffc000000001 = 87360 * 3 * 2^32 + 1,
// with roots of unity of order 3 * 2^32 in common. q1 q2 q3 > 2^149.99 >
// 2^30.4 * 10^36: the three residues give every coefficient of a product
// whose shorter factor has at most 2^30 coefficients, and the vector
// transform takes products of at most 2^31 coefficients (longer ones go to
// the one above).
constexpr unsigned vector_max_log = 32;
constexpr std::uint64_t vector_max_coefficients = std::uint64_t{1} << 31;
constexpr std::uint64_t low_52_bits = (std::uint64_t{1} << 52) - 1;

// A prime of the vector transform as the multiplications take it.
struct modulus52 {
  std::uint64_t p = 0;
  std::uint64_t p_inverse = 0;  // p^-1 mod 2^52
};

// One prime of the vector transform and its constants, as prime_field above
// with R = 2^52, and B R mod p, which makes a coefficient's residue from its
// two limbs.
struct prime_field52 : modulus52 {
  std::uint64_t r_squared = 0;
  residue one = 0;
  std::array<residue, vector_max_log + 1> roots{};
  std::array<residue, vector_max_log + 1> roots3{};
  residue omega = 0;
  residue omega_inverse = 0;
  std::uint64_t root3 = 0;
  residue base = 0;  // B R mod p
};

constexpr residue montgomery_form52(std::uint64_t x, std::uint64_t p) {
  return multiply_mod(x % p, (std::uint64_t{1} << 52) % p, p);
}

constexpr prime_field52 make_field52(std::uint64_t p, std::uint64_t generator) {
  prime_field52 f;
  f.p = p;
  f.p_inverse = inverse_mod_word(p) & low_52_bits;
  f.base = montgomery_form52(limb_base, p);
  set_roots<vector_max_log>(f, generator, montgomery_form52);
  return f;
}

constexpr std::array<prime_field52, 3> fields52 = {make_field52(0x3fff300000001, 5), make_field52(0x3ffed00000001, 7),
                                                   make_field52(0x3ffc000000001, 11)};

constexpr bool valid_field52(const prime_field52& f) {
  return f.p < (std::uint64_t{1} << 50) && ((f.p * f.p_inverse) & low_52_bits) == 1 &&
         valid_roots<vector_max_log>(f, montgomery_form52);
}
static_assert(valid_field52(fields52[0]) && valid_field52(fields52[1]) && valid_field52(fields52[2]));
static_assert(fields52[0].p > fields52[1].p && fields52[1].p > fields52[2].p);  // distinct
// q1 q2 q3 > 2^30 (10^18)^2, the bound on the coefficients of a product whose
// shorter factor has at most 2^30 coefficients: q1 q2 q3 is at least
// floor(q1 q2 / 2^64) q3 2^64.
static_assert(uint128{high_half(uint128{fields52[0].p} * fields52[1].p)} * fields52[2].p >
              (uint128{coefficient_base} * coefficient_base >> 34));

// x y / 2^64 mod p, in [1, 2p), for x y < 2^64 p: with m = (x y) p^-1 mod
// 2^64, x y - m p is a multiple of 2^64, and (x y - m p) / 2^64 is the high
// halves' difference, in (-p, p).
inline residue montgomery_multiply(residue x, residue y, modulus f) {
  const uint128 product = uint128{x} * y;
  const std::uint64_t m = low_half(product) * f.p_inverse;
  return high_half(product) - high_half(uint128{m} * f.p) + f.p;
}

// x y / 2^52 mod p, in [1, 2p), for x, y < 2^52 and x y < 2^52 p, the same
// way with R = 2^52: what the vector transform computes in each lane.
inline residue montgomery_multiply(residue x, residue y, modulus52 f) {
  const uint128 product = uint128{x} * y;
  const std::uint64_t m = (low_half(product) * f.p_inverse) & low_52_bits;
  return static_cast<std::uint64_t>(product >> 52) - static_cast<std::uint64_t>((uint128{m} * f.p) >> 52) + f.p;
}

// The multiplications' view of a field.
inline modulus arithmetic_of(const modulus& f) { return f; }
inline modulus52 arithmetic_of(const modulus52& f) { return f; }

// x mod p for x below 2p.
inline residue reduce_once(residue x, std::uint64_t p) { return x >= p ? x - p : x; }

// The Montgomery form x R mod p, in [0, p), of any x.
template <typename field>
residue to_montgomery(std::uint64_t x, const field& f) {
  return reduce_once(montgomery_multiply(x % f.p, f.r_squared, arithmetic_of(f)), f.p);
}

// x^e for x in Montgomery form.
template <typename field>
residue power_montgomery(residue x, std::uint64_t exponent, const field& f) {
  residue result = f.one;
  const auto mod = arithmetic_of(f);
  for (; exponent != 0; exponent >>= 1) {
    if ((exponent & 1) != 0) {
      result = reduce_once(montgomery_multiply(result, x, mod), f.p);
    }
    x = reduce_once(montgomery_multiply(x, x, mod), f.p);
  }
  return result;
}

// table[len + j] = w^j for the 2len-th root of unity w, in Montgomery form
// below p, for every power of two len < n and j < len; table[0] is unused.
// Each level's entries are the previous level's at even j, and those times
// the new level's root at odd j.
template <typename field>
void make_twiddles(const field& f, std::size_t n, residue* table) {
  table[0] = 0;
  if (n < 2) {
    return;
  }
  table[1] = f.one;
  const auto mod = arithmetic_of(f);
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
template <typename field>
void invert_twiddles(const field& f, std::size_t n, residue* table) {
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
template <typename field>
void make_radix3_twiddles(const field& f, std::size_t m, bool inverse, residue* z) {
  std::size_t log = 0;
  while ((std::size_t{1} << log) < m) {
    ++log;
  }
  const residue root = f.roots3[log];
  const residue w = inverse ? power_montgomery(root, 3 * m - 1, f) : root;
  residue power = f.one;
  const auto mod = arithmetic_of(f);
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

// r1 + p1 d2 + p1 p2 d3 as three 64-bit words, least significant first, for
// primes below 2^62 and r1 < p1, d2 < p2, d3 < p3: Garner's form of a
// coefficient put together.
inline std::array<std::uint64_t, 3> mixed_radix(std::uint64_t r1, std::uint64_t d2, std::uint64_t d3, std::uint64_t p1,
                                                std::uint64_t p2) {
  // p1 p2 = high 2^64 + low.
  const uint128 p12 = uint128{p1} * p2;
  const uint128 lower = uint128{p1} * d2 + r1;  // below 2^124 + 2^62
  const uint128 middle = uint128{low_half(p12)} * d3;
  const uint128 sum = lower + middle;
  const uint128 upper = uint128{high_half(p12)} * d3 + high_half(sum) + (sum < lower ? uint128{1} << 64 : 0);
  return {low_half(sum), low_half(upper), high_half(upper)};
}

// The constants of Garner's step over three primes, `three` (fields or
// fields52), in the Montgomery form `form` gives, K R, so that
// m(v, K R) = v K: p1^-1 mod p2, for d2 = (c - r1) / p1 mod p2, and
// (p1 p2)^-1 and p2^-1 mod p3, for d3 = ((c - r1) / p1 - d2) / p2 mod p3;
// and, for a transform of length n, the factors that undo its n R^-1 with
// those inverses folded in. The scalar step and the vector one take them
// from here, so that the two cannot differ.
template <const auto& three, auto form>
class garner_constants {
 protected:
  explicit garner_constants(std::size_t n)
      : scale1(unscale(n, three[0])),
        scale2(times(unscale(n, three[1]), inverse12, three[1])),
        scale3(times(unscale(n, three[2]), inverse13, three[2])) {}

  static constexpr residue inverse12 = form(inverse_mod(three[0].p, three[1].p), three[1].p);
  static constexpr residue inverse13 =
      form(inverse_mod(multiply_mod(three[0].p, three[1].p, three[2].p), three[2].p), three[2].p);
  static constexpr residue inverse23 = form(inverse_mod(three[1].p, three[2].p), three[2].p);

  // In Montgomery form as well:
  residue scale1;  // n^-1 R
  residue scale2;  // n^-1 R p1^-1
  residue scale3;  // n^-1 R (p1 p2)^-1

 private:
  template <typename field>
  static residue times(residue x, residue y, const field& f) {
    return reduce_once(montgomery_multiply(x, y, arithmetic_of(f)), f.p);
  }
  // n^-1 R^2 mod p: the transform's length and the pointwise products'
  // factor R^-1 undone. n^-1 is p - (p - 1) / n, as n divides p - 1.
  template <typename field>
  static residue unscale(std::size_t n, const field& f) {
    return times(to_montgomery(f.p - (f.p - 1) / n, f), f.r_squared, f);
  }
};

// The Chinese remainder theorem for one coefficient c, from the inverse
// transforms' values v1, v2, v3 (below 4p each), which are c n R^-1 modulo
// each prime (the pointwise products' Montgomery factor, and the length).
// In Garner's form c = r1 + p1 (d2 + p2 d3), r1 < p1, d2 < p2, d3 < p3.
class garner : garner_constants<fields, montgomery_form> {
 public:
  explicit garner(std::size_t n) : garner_constants(n) {}

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
    return mixed_radix(r1, d2, d3, p1, p2);
  }
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
template <typename field>
twiddle_tables make_tables(const field& f, transform_shape shape, residue* table) {
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
  twiddle_set(transform_shape shape, transform_kernel kernel) : values(fields.size() * per_prime(shape)) {
    for (std::size_t k = 0; k < fields.size(); ++k) {
      residue* const table = values.data() + k * per_prime(shape);
      prime[k] = kernel == transform_kernel::vector ? make_tables(fields52[k], shape, table)
                                                    : make_tables(fields[k], shape, table);
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
  std::shared_ptr<const twiddle_set> find(transform_shape shape, transform_kernel kernel) {
    const std::size_t bytes = fields.size() * twiddle_set::per_prime(shape) * sizeof(residue);
    if (bytes > kept_twiddle_bytes / 4) {
      return nullptr;
    }
    const std::pair<transform_kernel, std::size_t> key(kernel, shape.n);
    {
      const std::lock_guard<std::mutex> guard(lock);
      const auto found = sets.find(key);
      if (found != sets.end()) {
        return found->second;
      }
    }
    auto made = std::make_shared<const twiddle_set>(shape, kernel);  // outside the lock
    const std::lock_guard<std::mutex> guard(lock);
    if (total + made->bytes() > kept_twiddle_bytes) {
      sets.clear();
      total = 0;
    }
    const auto [where, added] = sets.emplace(key, std::move(made));
    if (added) {
      total += where->second->bytes();
    }
    return where->second;
  }

 private:
  std::mutex lock;
  // by kernel and transform length
  std::map<std::pair<transform_kernel, std::size_t>, std::shared_ptr<const twiddle_set>> sets;
  std::size_t total = 0;
};

// The kept twiddle factors of the shape, or none when it is too long to keep.
// The cache is never destroyed, so that numbers destroyed after main() can
// still multiply; the memory it holds goes with the process.
std::shared_ptr<const twiddle_set> cached_twiddles(transform_shape shape, transform_kernel kernel) {
  static twiddle_cache* const cache = new twiddle_cache;
  return cache->find(shape, kernel);
}

std::size_t coefficients_for(std::size_t limbs) { return limbs - limbs / 2; }

// ---- The vector transform: AVX-512 IFMA, eight residues modulo one of the
// primes of fields52 in a register. The same transforms as above, lane by
// lane: radix 2 (and one radix-3 level), decimation in frequency forward and
// in time back, values below 2p forward and 4p back, the twiddle tables laid
// out as above. Levels of blocks of eight values or more take whole
// registers; the last three forward levels (the first three back) pair
// values within a register and go through shuffles, two registers at a
// time. The residues of the coefficients come from their limbs in
// registers too, and so do the Chinese remainder theorem's residues (Garner's
// d2 and d3); putting a coefficient together and carrying stays one at a
// time. Transforms are at least 16 values long.

#if defined(__x86_64__)

#define VELDAR_IFMA [[gnu::target("avx512f,avx512dq,avx512ifma")]]

// g++ 12 takes the undefined values that the intrinsics start some
// registers from (_mm512_undefined_epi32()) for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

using lanes = __m512i;

// A prime of fields52 in every lane.
struct lane_modulus {
  lanes p;
  lanes twice;    // 2p
  lanes inverse;  // p^-1 mod 2^52
};

VELDAR_IFMA inline lanes splat(std::uint64_t x) { return _mm512_set1_epi64(static_cast<long long>(x)); }
VELDAR_IFMA inline lanes load(const residue* x) { return _mm512_loadu_si512(x); }
VELDAR_IFMA inline void store(residue* x, lanes v) { _mm512_storeu_si512(x, v); }

VELDAR_IFMA inline lane_modulus lanes_of(const modulus52& f) {
  return {splat(f.p), splat(2 * f.p), splat(f.p_inverse)};
}

// x y / 2^52 mod p in [1, 2p), lane by lane, as montgomery_multiply() for
// modulus52: the high half of x y, plus p, less the high half of m p.
VELDAR_IFMA inline lanes multiply_lanes(lanes x, lanes y, const lane_modulus& f) {
  const lanes zero = _mm512_setzero_si512();
  const lanes low = _mm512_madd52lo_epu64(zero, x, y);
  const lanes high = _mm512_madd52hi_epu64(f.p, x, y);
  const lanes m = _mm512_madd52lo_epu64(zero, low, f.inverse);
  return _mm512_sub_epi64(high, _mm512_madd52hi_epu64(zero, m, f.p));
}

// x mod bound for x below 2 bound: below bound, x - bound wraps round to
// more than x.
VELDAR_IFMA inline lanes reduce_lanes(lanes x, lanes bound) { return _mm512_min_epu64(x, _mm512_sub_epi64(x, bound)); }

// x, y -> x + y, (x - y) w, as forward_butterfly().
VELDAR_IFMA inline void forward_lanes(lanes& x, lanes& y, lanes w, const lane_modulus& f) {
  const lanes sum = _mm512_add_epi64(x, y);
  const lanes difference = _mm512_sub_epi64(_mm512_add_epi64(x, f.twice), y);
  x = reduce_lanes(sum, f.twice);
  y = multiply_lanes(difference, w, f);
}

// x, y -> x + y w, x - y w, as inverse_butterfly().
VELDAR_IFMA inline void inverse_lanes(lanes& x, lanes& y, lanes w, const lane_modulus& f) {
  const lanes low = reduce_lanes(x, f.twice);
  const lanes product = multiply_lanes(y, w, f);
  x = _mm512_add_epi64(low, product);
  y = _mm512_sub_epi64(_mm512_add_epi64(low, f.twice), product);
}

// One level of the forward transform, or of the inverse one, over blocks of
// 2len values, len >= 8: the two differ only in their butterfly.
template <bool inverse>
VELDAR_IFMA void level_lanes(residue* x, std::size_t n, std::size_t len, const residue* table, const lane_modulus& f) {
  const residue* const twiddles = table + len;
  for (residue* block = x; block != x + n; block += 2 * len) {
    for (std::size_t j = 0; j < len; j += 8) {
      lanes low = load(block + j);
      lanes high = load(block + j + len);
      if constexpr (inverse) {
        inverse_lanes(low, high, load(twiddles + j), f);
      } else {
        forward_lanes(low, high, load(twiddles + j), f);
      }
      store(block + j, low);
      store(block + j + len, high);
    }
  }
}

// The shuffles of the levels within a register, for the sixteen values
// v0 = x[0, 8) and v1 = x[8, 16): the first values of the level's pairs to
// `low`, the second ones to `high`, in matching lanes, and back.
//   len 4: low = x[0, 4) x[8, 12), high = x[4, 8) x[12, 16);
//   len 2: low = x[0, 2) x[4, 6) x[8, 10) x[12, 14), high the others;
//   len 1: low = the even values, high = the odd ones.
struct pair_shuffles {
  lanes low2;
  lanes high2;
  lanes back2_first;
  lanes back2_second;
};

// The twiddle factors of the levels of len 4 and 2, in the lanes of the
// pairs they multiply, and the shuffles: what both tails set up first.
struct tail_constants {
  pair_shuffles shuffles;
  lanes w4;
  lanes w2;
};

VELDAR_IFMA inline tail_constants make_tail_constants(const residue* table) {
  return {{_mm512_set_epi64(13, 12, 9, 8, 5, 4, 1, 0), _mm512_set_epi64(15, 14, 11, 10, 7, 6, 3, 2),
           _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0), _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4)},
          _mm512_broadcast_i64x4(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(table + 4))),
          _mm512_permutexvar_epi64(_mm512_set_epi64(3, 2, 3, 2, 3, 2, 3, 2), load(table))};
}

// The level of len 2 on the sixteen values in v0 and v1, with the butterfly
// of the forward transform or of the inverse one: its pairs into matching
// lanes, the butterflies, and the values back in order.
template <bool inverse>
VELDAR_IFMA inline void pair_level_lanes(lanes& v0, lanes& v1, const tail_constants& c, const lane_modulus& f) {
  lanes low = _mm512_permutex2var_epi64(v0, c.shuffles.low2, v1);
  lanes high = _mm512_permutex2var_epi64(v0, c.shuffles.high2, v1);
  if constexpr (inverse) {
    inverse_lanes(low, high, c.w2, f);
  } else {
    forward_lanes(low, high, c.w2, f);
  }
  v0 = _mm512_permutex2var_epi64(low, c.shuffles.back2_first, high);
  v1 = _mm512_permutex2var_epi64(low, c.shuffles.back2_second, high);
}

// The last three levels of the forward transform, over blocks of sixteen
// values: the twiddle factors of len 4 and 2 from the table, 1 for len 1.
VELDAR_IFMA void forward_tail_lanes(residue* x, std::size_t n, const residue* table, const lane_modulus& f) {
  const tail_constants constants = make_tail_constants(table);
  for (std::size_t i = 0; i < n; i += 16) {
    lanes v0 = load(x + i);
    lanes v1 = load(x + i + 8);
    lanes low = _mm512_shuffle_i64x2(v0, v1, 0x44);
    lanes high = _mm512_shuffle_i64x2(v0, v1, 0xee);
    forward_lanes(low, high, constants.w4, f);
    v0 = _mm512_shuffle_i64x2(low, high, 0x44);
    v1 = _mm512_shuffle_i64x2(low, high, 0xee);
    pair_level_lanes<false>(v0, v1, constants, f);
    low = _mm512_unpacklo_epi64(v0, v1);
    high = _mm512_unpackhi_epi64(v0, v1);
    const lanes sum = _mm512_add_epi64(low, high);
    const lanes difference = _mm512_sub_epi64(_mm512_add_epi64(low, f.twice), high);
    low = reduce_lanes(sum, f.twice);
    high = reduce_lanes(difference, f.twice);
    store(x + i, _mm512_unpacklo_epi64(low, high));
    store(x + i + 8, _mm512_unpackhi_epi64(low, high));
  }
}

// The first three levels of the inverse transform, over blocks of sixteen
// values, the inverse of forward_tail_lanes().
VELDAR_IFMA void inverse_tail_lanes(residue* x, std::size_t n, const residue* table, const lane_modulus& f) {
  const tail_constants constants = make_tail_constants(table);
  for (std::size_t i = 0; i < n; i += 16) {
    lanes v0 = load(x + i);
    lanes v1 = load(x + i + 8);
    lanes low = reduce_lanes(_mm512_unpacklo_epi64(v0, v1), f.twice);
    lanes high = reduce_lanes(_mm512_unpackhi_epi64(v0, v1), f.twice);
    const lanes sum = _mm512_add_epi64(low, high);
    high = _mm512_sub_epi64(_mm512_add_epi64(low, f.twice), high);
    low = sum;
    v0 = _mm512_unpacklo_epi64(low, high);
    v1 = _mm512_unpackhi_epi64(low, high);
    pair_level_lanes<true>(v0, v1, constants, f);
    low = _mm512_shuffle_i64x2(v0, v1, 0x44);
    high = _mm512_shuffle_i64x2(v0, v1, 0xee);
    inverse_lanes(low, high, constants.w4, f);
    store(x + i, _mm512_shuffle_i64x2(low, high, 0x44));
    store(x + i + 8, _mm512_shuffle_i64x2(low, high, 0xee));
  }
}

// The forward transform of x[0, n), n a power of two from 16, natural order
// in, bit-reversed order out, as forward_transform().
VELDAR_IFMA void forward_transform_lanes(residue* x, std::size_t n, const residue* table, const lane_modulus& f) {
  if (n > transform_block) {
    level_lanes<false>(x, n, n / 2, table, f);
    forward_transform_lanes(x, n / 2, table, f);
    forward_transform_lanes(x + n / 2, n / 2, table, f);
    return;
  }
  for (std::size_t len = n / 2; len >= 8; len /= 2) {
    level_lanes<false>(x, n, len, table, f);
  }
  forward_tail_lanes(x, n, table, f);
}

// The inverse transform of x[0, n), n a power of two from 16, times n.
VELDAR_IFMA void inverse_transform_lanes(residue* x, std::size_t n, const residue* table, const lane_modulus& f) {
  if (n > transform_block) {
    inverse_transform_lanes(x, n / 2, table, f);
    inverse_transform_lanes(x + n / 2, n / 2, table, f);
    level_lanes<true>(x, n, n / 2, table, f);
    return;
  }
  inverse_tail_lanes(x, n, table, f);
  for (std::size_t len = 8; len < n; len *= 2) {
    level_lanes<true>(x, n, len, table, f);
  }
}

// x[0, n) = the residues below p of the coefficients of the limbs a[0, na)
// (two limbs a coefficient), zeros from the last one up: the high limb times
// B R, which the product's division by R makes B, plus the low one.
VELDAR_IFMA inline lanes pair_residues(lanes pairs, lanes base, const lane_modulus& f) {
  const lanes high = reduce_lanes(multiply_lanes(_mm512_srli_epi64(pairs, 32), base, f), f.p);
  return reduce_lanes(_mm512_add_epi64(high, _mm512_and_si512(pairs, splat(0xffffffff))), f.p);
}

VELDAR_IFMA void residues_lanes(const limb* a, std::size_t na, residue* x, std::size_t n, const prime_field52& field,
                                const lane_modulus& f) {
  const lanes base = splat(field.base);
  std::size_t i = 0;  // coefficients done
  for (; 2 * i + 16 <= na; i += 8) {
    store(x + i, pair_residues(_mm512_loadu_si512(a + 2 * i), base, f));
  }
  if (2 * i < na) {
    const auto mask = static_cast<__mmask16>((1U << (na - 2 * i)) - 1);
    store(x + i, pair_residues(_mm512_maskz_loadu_epi32(mask, a + 2 * i), base, f));
    i += 8;
  }
  std::fill(x + i, x + n, 0);
}

// The radix-3 level of a forward transform over n = 3m values, in place, on
// residues below p: as forward_radix3().
VELDAR_IFMA void forward_radix3_lanes(residue* x, std::size_t m, const residue* z, const prime_field52& field,
                                      const lane_modulus& f) {
  const lanes omega = splat(field.omega);
  for (std::size_t j = 0; j < m; j += 8) {
    const lanes x0 = load(x + j);
    const lanes x1 = load(x + j + m);
    const lanes x2 = load(x + j + 2 * m);
    const lanes a = reduce_lanes(multiply_lanes(x1, omega, f), f.p);
    const lanes b = reduce_lanes(multiply_lanes(x2, omega, f), f.p);
    const lanes sum = _mm512_add_epi64(_mm512_add_epi64(x0, x1), x2);
    const lanes first = _mm512_add_epi64(_mm512_add_epi64(x0, a), _mm512_sub_epi64(f.twice, _mm512_add_epi64(x2, b)));
    const lanes second = _mm512_add_epi64(_mm512_add_epi64(x0, b), _mm512_sub_epi64(f.twice, _mm512_add_epi64(x1, a)));
    store(x + j, reduce_lanes(sum, f.twice));
    store(x + j + m, multiply_lanes(first, load(z + j), f));
    store(x + j + 2 * m, multiply_lanes(second, load(z + m + j), f));
  }
}

// The radix-3 level of an inverse transform over n = 3m values: as
// inverse_radix3().
VELDAR_IFMA void inverse_radix3_lanes(residue* x, std::size_t m, const residue* z, const prime_field52& field,
                                      const lane_modulus& f) {
  const lanes omega = splat(field.omega_inverse);
  for (std::size_t j = 0; j < m; j += 8) {
    const lanes t0 = reduce_lanes(reduce_lanes(load(x + j), f.twice), f.p);
    const lanes t1 = reduce_lanes(multiply_lanes(load(x + j + m), load(z + j), f), f.p);
    const lanes t2 = reduce_lanes(multiply_lanes(load(x + j + 2 * m), load(z + m + j), f), f.p);
    const lanes a = reduce_lanes(multiply_lanes(t1, omega, f), f.p);
    const lanes b = reduce_lanes(multiply_lanes(t2, omega, f), f.p);
    store(x + j, _mm512_add_epi64(_mm512_add_epi64(t0, t1), t2));
    store(x + j + m, _mm512_add_epi64(_mm512_add_epi64(t0, a), _mm512_sub_epi64(f.twice, _mm512_add_epi64(t2, b))));
    store(x + j + 2 * m, _mm512_add_epi64(_mm512_add_epi64(t0, b), _mm512_sub_epi64(f.twice, _mm512_add_epi64(t1, a))));
  }
}

// x[0, n) = the forward transform of the limbs' coefficients modulo the
// prime `k` of fields52.
VELDAR_IFMA void forward_lanes_of(const limb* a, std::size_t na, residue* x, transform_shape shape,
                                  const twiddle_tables& tables, std::size_t k) {
  const prime_field52& field = fields52[k];
  const lane_modulus f = lanes_of(field);
  residues_lanes(a, na, x, shape.n, field, f);
  if (shape.radix3()) {
    forward_radix3_lanes(x, shape.m, tables.forward3, field, f);
  }
  for (std::size_t block = 0; block < shape.n; block += shape.m) {
    forward_transform_lanes(x + block, shape.m, tables.forward, f);
  }
}

// x = x y pointwise, then the inverse transform of x, times n.
VELDAR_IFMA void inverse_lanes_of(residue* x, const residue* y, transform_shape shape, const twiddle_tables& tables,
                                  std::size_t k) {
  const prime_field52& field = fields52[k];
  const lane_modulus f = lanes_of(field);
  for (std::size_t i = 0; i < shape.n; i += 8) {
    store(x + i, multiply_lanes(load(x + i), load(y + i), f));  // below 4p^2 < 2^52 p
  }
  for (std::size_t block = 0; block < shape.n; block += shape.m) {
    inverse_transform_lanes(x + block, shape.m, tables.inverse, f);
  }
  if (shape.radix3()) {
    inverse_radix3_lanes(x, shape.m, tables.inverse3, field, f);
  }
}

// x = quotient 10^18 + remainder for x = x0 + x1 2^52 + x2 2^104 below
// 2^112, x0 and x1 below 2^54: the quotient from x in floating point, off by
// less than three (x to within 2^60, the quotient below 2^53), then the
// remainder of that quotient in 64 bits, between -3 10^18 and 4 10^18, which
// puts it right.
VELDAR_IFMA inline void split_lanes(lanes x0, lanes x1, lanes x2, lanes& quotient, lanes& remainder) {
  const __m512d estimate =
      _mm512_fmadd_pd(_mm512_cvtepu64_pd(x2), _mm512_set1_pd(0x1p104),
                      _mm512_fmadd_pd(_mm512_cvtepu64_pd(x1), _mm512_set1_pd(0x1p52), _mm512_cvtepu64_pd(x0)));
  const lanes base = splat(coefficient_base);
  lanes q = _mm512_cvttpd_epu64(_mm512_mul_pd(estimate, _mm512_set1_pd(1e-18)));
  lanes r = _mm512_sub_epi64(_mm512_add_epi64(x0, _mm512_slli_epi64(x1, 52)), _mm512_mullo_epi64(q, base));
  const lanes one = splat(1);
  for (int step = 0; step < 3; ++step) {
    const __mmask8 below = _mm512_cmplt_epi64_mask(r, _mm512_setzero_si512());
    r = _mm512_mask_add_epi64(r, below, r, base);
    q = _mm512_mask_sub_epi64(q, below, q, one);
  }
  for (int step = 0; step < 3; ++step) {
    const __mmask8 above = _mm512_cmpge_epi64_mask(r, base);
    r = _mm512_mask_sub_epi64(r, above, r, base);
    q = _mm512_mask_add_epi64(q, above, q, one);
  }
  quotient = q;
  remainder = r;
}

// Garner's residues of the coefficients, and from them the coefficients in
// digits of 10^18, in place, for the first `count` (rounded up to eight)
// values: r1, d2 and d3 as garner makes them one at a time, with the
// constants of fields52, give the coefficient c = r1 + q1 d2 + q1 q2 d3.
// With q1 q2 = A1 10^18 + A0, c = L + A1 d3 10^18 for L = r1 + q1 d2 + A0 d3
// below 2^111, and A1 d3 below 2^91: split at 10^18, L = L1 10^18 + L0 and
// A1 d3 = H1 10^18 + H0, with L1 below 2^52 and H1 below 2^31. v1 gets L0,
// v2 L1 + H0 and v3 H1, the digits of 10^18 of c at k, k + 1 and k + 2: the
// coefficients wait for each other only for a carry of at most 2 then.
class garner_lanes : garner_constants<fields52, montgomery_form52> {
 public:
  explicit garner_lanes(std::size_t n) : garner_constants(n) {}

  VELDAR_IFMA void operator()(residue* v1, residue* v2, residue* v3, std::size_t count) const {
    const lane_modulus f1 = lanes_of(fields52[0]);
    const lane_modulus f2 = lanes_of(fields52[1]);
    const lane_modulus f3 = lanes_of(fields52[2]);
    const lanes s1 = splat(scale1);
    const lanes s2 = splat(scale2);
    const lanes s3 = splat(scale3);
    const lanes i12 = splat(inverse12);
    const lanes i13 = splat(inverse13);
    const lanes i23 = splat(inverse23);
    for (std::size_t i = 0; i < count; i += 8) {
      const lanes r1 = reduce_lanes(multiply_lanes(load(v1 + i), s1, f1), f1.p);
      const lanes a2 = multiply_lanes(load(v2 + i), s2, f2);  // below 2 q2 each
      const lanes b2 = multiply_lanes(r1, i12, f2);
      const lanes d2 = reduce_lanes(reduce_lanes(_mm512_sub_epi64(_mm512_add_epi64(a2, f2.twice), b2), f2.twice), f2.p);
      const lanes a3 = reduce_lanes(multiply_lanes(load(v3 + i), s3, f3), f3.p);
      const lanes b3 = reduce_lanes(multiply_lanes(r1, i13, f3), f3.p);
      const lanes c3 = reduce_lanes(multiply_lanes(d2, i23, f3), f3.p);
      const lanes sum3 = _mm512_sub_epi64(_mm512_add_epi64(a3, f3.twice), _mm512_add_epi64(b3, c3));  // below 3 q3
      coefficient_digits(r1, d2, reduce_lanes(reduce_lanes(sum3, f3.twice), f3.p), v1 + i, v2 + i, v3 + i);
    }
  }

  // The digits of 10^18 of c = r1 + q1 d2 + q1 q2 d3, as above, to low,
  // middle and top.
  VELDAR_IFMA static void coefficient_digits(lanes r1, lanes d2, lanes d3, residue* low, residue* middle,
                                             residue* top) {
    const lanes zero = _mm512_setzero_si512();
    const lanes q1 = splat(fields52[0].p);
    const lanes a0_low = splat(a0 & low_52_bits);
    const lanes a0_high = splat(a0 >> 52);
    const lanes a1 = splat(a1_value);
    // L in digits of 2^52, with A0 = A0l + A0h 2^52. A0h d3, below 2^58, is at
    // 2^52: its low 52 bits go to the digit at 2^52, the rest to 2^104.
    const lanes l0 = _mm512_madd52lo_epu64(_mm512_madd52lo_epu64(r1, q1, d2), a0_low, d3);
    const lanes l1 =
        _mm512_madd52hi_epu64(_mm512_madd52hi_epu64(_mm512_madd52lo_epu64(zero, a0_high, d3), q1, d2), a0_low, d3);
    const lanes l2 = _mm512_madd52hi_epu64(zero, a0_high, d3);
    lanes l_low;
    lanes l_high;
    split_lanes(l0, l1, l2, l_high, l_low);
    lanes h0;
    lanes h1;
    split_lanes(_mm512_madd52lo_epu64(zero, a1, d3), _mm512_madd52hi_epu64(zero, a1, d3), zero, h1, h0);
    store(low, l_low);
    store(middle, _mm512_add_epi64(l_high, h0));
    store(top, h1);
  }

 private:
  static constexpr uint128 q12 = uint128{fields52[0].p} * fields52[1].p;
  static constexpr auto a0 = static_cast<std::uint64_t>(q12 % coefficient_base);
  static constexpr auto a1_value = static_cast<std::uint64_t>(q12 / coefficient_base);
  static_assert(a1_value < (std::uint64_t{1} << 41));
};

bool has_ifma() {
  static const bool ifma = __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512dq") != 0 &&
                           __builtin_cpu_supports("avx512ifma") != 0;
  return ifma;
}

// The vector transform's length for the product's coefficients: as
// transform_length(), with blocks of at least 16 values.
std::size_t vector_transform_length(std::size_t coefficients) {
  const std::size_t n = transform_length(std::max<std::size_t>(coefficients, 16));
  return n % 3 == 0 && n / 3 < 16 ? n / 3 * 4 : n;
}

// The coefficients carried into out[0, count), from the digits of 10^18
// that garner_lanes leaves of each: low[k] + middle[k - 1] + top[k - 2] and
// a carry of at most 2 from the digit below, below 3 10^18. Returns what is
// left above the last digit: its value at 10^18 N (for N digits of 10^18
// written) and at 10^18 (N + 1).
std::array<std::uint64_t, 2> put_together(const residue* low, const residue* middle, const residue* top,
                                          std::size_t product, limb* out, std::size_t count) {
  std::uint64_t previous_middle = 0;
  std::uint64_t previous_top = 0;
  std::uint64_t older_top = 0;
  std::uint64_t carry = 0;
  for (std::size_t i = 0, k = 0; i < count; i += 2, ++k) {
    std::uint64_t digit = (k < product ? low[k] : 0) + previous_middle + older_top + carry;
    carry = 0;
    for (int twice = 0; twice < 2; ++twice) {
      if (digit >= coefficient_base) {
        digit -= coefficient_base;
        ++carry;
      }
    }
    older_top = previous_top;
    previous_top = k < product ? top[k] : 0;
    previous_middle = k < product ? middle[k] : 0;
    out[i] = static_cast<limb>(digit % limb_base);
    if (i + 1 < count) {
      out[i + 1] = static_cast<limb>(digit / limb_base);
    }
  }
  return {previous_middle + older_top + carry, previous_top};
}

// out[0, 2N) += x, x of four limbs (two digits of 10^18) below 2^64 each,
// modulo B^2N - 1: what goes out of the top comes in at the bottom again.
void add_wrapped(limb* out, std::size_t limbs, const std::array<std::uint64_t, 2>& x) {
  std::uint64_t pending[5] = {x[0] % limb_base, x[0] / limb_base % limb_base,
                              x[0] / coefficient_base + x[1] % limb_base, x[1] / limb_base % limb_base,
                              x[1] / coefficient_base};
  std::uint64_t carry = 0;
  for (std::size_t i = 0;; ++i) {
    if (i == limbs) {
      if (carry == 0) {
        return;
      }
      i = 0;  // B^2N = 1
    }
    const std::uint64_t sum = out[i] + carry + (i < 5 ? pending[i] : 0);
    if (i < 5) {
      pending[i] = 0;
    }
    out[i] = static_cast<limb>(sum % limb_base);
    carry = sum / limb_base;
    if (carry == 0 && i >= 4) {
      return;
    }
  }
}

// multiply_transform() on the vector transform, for products of at most
// vector_max_coefficients coefficients.
// With `wrapped` limbs, 2N for a transform length N, out[0, 2N) = (a * b)
// mod (B^2N - 1) instead, for na, nb <= 2N: the cyclic convolution of N
// coefficients, whose carry out of the top wraps round.
void multiply_vector(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out, std::size_t count,
                     std::size_t wrapped = 0) {
  const bool square = na == nb && std::equal(a, a + na, b);
  const std::size_t product = wrapped != 0 ? wrapped / 2 : coefficients_for(na) + coefficients_for(nb) - 1;
  const transform_shape shape(wrapped != 0 ? wrapped / 2 : vector_transform_length(product));
  const std::size_t n = shape.n;
  const std::shared_ptr<const twiddle_set> kept = cached_twiddles(shape, transform_kernel::vector);
  scratch_frame frame;
  residue* const made = kept ? nullptr : frame.take<residue>(twiddle_set::per_prime(shape));
  residue* const values = frame.take<residue>((square ? 3 : 4) * n);
  residue* const other = values + 3 * n;
  for (std::size_t k = 0; k < fields52.size(); ++k) {
    residue* const x = values + k * n;
    const twiddle_tables tables = kept ? kept->tables(k) : make_tables(fields52[k], shape, made);
    forward_lanes_of(a, na, x, shape, tables, k);
    if (!square) {
      forward_lanes_of(b, nb, other, shape, tables, k);
    }
    inverse_lanes_of(x, square ? x : other, shape, tables, k);
  }
  garner_lanes{n}(values, values + n, values + 2 * n, product);
  const auto above = put_together(values, values + n, values + 2 * n, product, out, count);
  if (wrapped != 0) {
    add_wrapped(out, wrapped, above);
  }
}

// vector_coefficient_limbs() for the tests, eight coefficients at a time.
VELDAR_IFMA void coefficient_limbs_of(const std::uint64_t* r1, const std::uint64_t* d2, const std::uint64_t* d3,
                                      std::size_t count, limb* out) {
  scratch_frame frame;
  const std::size_t rounded = (count + 7) / 8 * 8;
  residue* const digits = frame.take<residue>(3 * rounded);
  for (std::size_t i = 0; i < rounded; i += 8) {
    const auto mask = static_cast<__mmask8>(count - i >= 8 ? 0xff : (1U << (count - i)) - 1);
    garner_lanes::coefficient_digits(_mm512_maskz_loadu_epi64(mask, r1 + i), _mm512_maskz_loadu_epi64(mask, d2 + i),
                                     _mm512_maskz_loadu_epi64(mask, d3 + i), digits + i, digits + rounded + i,
                                     digits + 2 * rounded + i);
  }
  const auto above = put_together(digits, digits + rounded, digits + 2 * rounded, count, out, 2 * count);
  const std::uint64_t rest[2] = {above[0] % coefficient_base, above[0] / coefficient_base + above[1]};
  for (std::size_t k = 0; k < 2; ++k) {
    out[2 * count + 2 * k] = static_cast<limb>(rest[k] % limb_base);
    out[2 * count + 2 * k + 1] = static_cast<limb>(rest[k] / limb_base % limb_base);
  }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#undef VELDAR_IFMA

#else

bool has_ifma() { return false; }

void coefficient_limbs_of(const std::uint64_t*, const std::uint64_t*, const std::uint64_t*, std::size_t, limb*) {}

void multiply_vector(const limb*, std::size_t, const limb*, std::size_t, limb*, std::size_t, std::size_t = 0) {
  throw std::logic_error("multiply_vector: no vector transform on this processor");
}

#endif

}  // namespace

bool transform_fits(std::size_t na, std::size_t nb) {
  return coefficients_for(na) + coefficients_for(nb) <= max_transform_length + 1;
}

bool vector_transform_available() { return has_ifma(); }

std::array<std::uint64_t, 3> vector_transform_primes() { return {fields52[0].p, fields52[1].p, fields52[2].p}; }

void vector_coefficient_limbs(const std::uint64_t* r1, const std::uint64_t* d2, const std::uint64_t* d3,
                              std::size_t count, limb* out) {
  if (!vector_transform_available()) {
    throw std::logic_error("vector_coefficient_limbs: no vector transform on this processor");
  }
  coefficient_limbs_of(r1, d2, d3, count, out);
}

std::size_t wrapped_limbs(std::size_t limbs) {
  if (!vector_transform_available() || limbs > 2 * vector_max_coefficients) {
    return limbs;
  }
  return 2 * vector_transform_length(limbs - limbs / 2);
}

bool multiply_cyclic(const limb* a, std::size_t na, const limb* b, std::size_t nb, std::size_t limbs, limb* out) {
  if (!vector_transform_available() || limbs > 2 * vector_max_coefficients || wrapped_limbs(limbs) != limbs) {
    return false;
  }
  multiply_vector(a, na, b, nb, out, limbs, limbs);
  return true;
}

void multiply_transform(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out, std::size_t count) {
  multiply_transform_with(vector_transform_available() ? transform_kernel::vector : transform_kernel::scalar, a, na, b,
                          nb, out, count);
}

void multiply_transform_with(transform_kernel kernel, const limb* a, std::size_t na, const limb* b, std::size_t nb,
                             limb* out, std::size_t count) {
  if (!transform_fits(na, nb)) {
    throw std::length_error("multiply_transform: factors too long for the transform");
  }
  if (na == 0 || nb == 0) {
    std::fill(out, out + count, 0);
    return;
  }
  if (kernel == transform_kernel::vector &&
      coefficients_for(na) + coefficients_for(nb) - 1 <= vector_max_coefficients) {
    multiply_vector(a, na, b, nb, out, count);
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
  const std::shared_ptr<const twiddle_set> kept = cached_twiddles(shape, transform_kernel::scalar);
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
