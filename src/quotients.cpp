// Exact integer division on base 10^9 limbs.
//
// divide_digits() divides dividends of at most 19 significant digits as one
// machine word; every other one goes to limbs, nine digits to a 32-bit limb,
// and divide_limbs():
//   - a divisor of one limb: short division, one 64-bit division a limb (done
//     as a product with the divisor's reciprocal);
//   - quotients or divisors below recursive_division_limbs (quotients.h):
//     schoolbook division with deferred carries. The running
//     remainder is held as 64-bit entries, one per limb, whose carries are
//     only passed on every eighth row, so subtracting a quotient limb times
//     the divisor is one product a limb and nothing else; each quotient limb
//     is estimated in floating point from the remainder's top four entries,
//     and is right or one off. A final add-back or subtraction of the divisor
//     (at most one) corrects the last, and the quotient limbs, between -2000
//     and B + 2000, are carried into limbs. The section "Schoolbook division
//     with deferred carries" below has the bounds;
//   - longer ones: Burnikel and Ziegler's recursive division. Divisor and
//     dividend are first multiplied by f = floor(10^9 / (top + 1)), which
//     brings the divisor's top limb to 5 * 10^8 or more (checked for every top
//     limb). The quotient is divided out from the top in blocks of at most as
//     many limbs as the divisor. A block of m quotient limbs under a divisor
//     of n > m limbs is estimated from the top m limbs of the divisor alone (a
//     square block), which gives the true quotient or up to two more (the
//     divisor being normalised), and corrected by subtracting the estimate
//     times the divisor's low n - m limbs (multiply_limbs()) and adding the
//     divisor back while the difference is negative; a square block is split
//     into a top and a bottom half. Blocks below recursive_division_limbs go
//     to the schoolbook. The remainder is divided by f at the end, exactly.
#include "quotients.h"

#include "platform.h"
#include "products.h"
#include "scratch.h"
#include "sums.h"
#include "transform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace VELDAR::detail {

namespace {

using word = std::uint64_t;
using entry = std::int64_t;

constexpr auto signed_base = static_cast<entry>(limb_base);

// out[0, n) = x * f, which may be `x`, for f <= B / 2; returns the carry
// limb. Each product is split into its limbs on its own, and only a carry of
// 0 or 1 runs from limb to limb.
limb multiply_by_limb(const limb* x, std::size_t n, limb f, limb* out) {
  limb high = 0;   // the previous product's high limb, below B / 2
  limb carry = 0;  // 0 or 1
  for (std::size_t i = 0; i < n; ++i) {
    const word product = word{x[i]} * f;
    const auto product_high = static_cast<limb>(product / limb_base);
    const limb sum = static_cast<limb>(product - word{product_high} * limb_base) + high + carry;  // below 3B / 2 + 1
    carry = sum >= limb_base ? 1 : 0;
    out[i] = sum - carry * limb_base;
    high = product_high;
  }
  return high + carry;
}

// q[0, n) = x / d, which may be `x`; returns the remainder. Short division,
// each limb's 64-bit division done as a product with the reciprocal
// r = floor((2^64 - 1) / d): for c < 2^64, floor(c r / 2^64) is floor(c / d)
// or one less, as c r > c (2^64 - 1) / d - c.
limb divide_by_limb(const limb* x, std::size_t n, limb d, limb* q) {
  const word reciprocal = ~word{0} / d;
  word rest = 0;
  for (std::size_t i = n; i-- > 0;) {
    const word current = rest * limb_base + x[i];  // below d * B <= 10^18
    auto quotient = static_cast<word>((static_cast<uint128>(current) * reciprocal) >> 64);
    rest = current - quotient * d;
    if (rest >= d) {
      rest -= d;
      ++quotient;
    }
    q[i] = static_cast<limb>(quotient);
  }
  return static_cast<limb>(rest);
}

// Whether x < y, both of n limbs.
bool less_limbs(const limb* x, const limb* y, std::size_t n) {
  return std::lexicographical_compare(std::make_reverse_iterator(x + n), std::make_reverse_iterator(x),
                                      std::make_reverse_iterator(y + n), std::make_reverse_iterator(y));
}

// floor(x / B).
entry floor_limbs(entry x) {
  const entry q = x / signed_base;
  return x - q * signed_base < 0 ? q - 1 : q;
}

// ---- Schoolbook division with deferred carries.
//
// The running remainder W is kept as 64-bit signed entries w[k], one per
// limb position, whose carries are left where they arise: subtracting a
// quotient limb times the divisor is then one product a limb, with no chain
// from limb to limb. W = sum w[k] B^k stays exact; only its entries are not
// limbs. Row j (from the top) estimates x = W / (v B^j) as T / V in floating
// point, T = (w[j+n] B + w[j+n-1], exact in 64 bits) + w[j+n-2] / B
// + w[j+n-3] / B^2 and V the divisor's top four limbs, v[n-1] + v[n-2] / B
// + ..., and subtracts floor(T / V) v B^j. While every entry stays below
// M = 8.7 * 10^18 in magnitude, the entries left out of T make less than
// M / B^3 < 10^-8 of its unit, the roundings less than 2 * 10^-6 of it
// plus 4 * 2^-53 of x, and V >= 1: the estimate is within 2 * 10^-6 of x, so
// its floor is floor(x) or one off, and W after the row lies between
// -2 * 10^-6 and 1 + 2 * 10^-6 times v B^j. Every x, and so every estimate,
// then lies in [-2 * 10^3, B + 2 * 10^3]; the top sum T above is below
// 1.01 * 10^18 and its part after the row, (w[j+n] B + w[j+n-1]) - d v[n-1],
// folded into w[j+n-1], below 10^10. A row takes less than
// (B + 2^20)(B - 1) < 1.0011 * 10^18 (estimates are held to 2^20 beyond
// [0, B], whatever the doubles do) from an entry, and every eighth row passes
// floor(w[k] / 2^30) on from each entry to the next, which leaves at most
// 0.0687 |w[k]| + 10^10: eight rows from entries below 0.0687 M + 10^10 stay
// below M. At the end W is carried exactly and lies in (-v, 2v), which one
// add-back or subtraction of v at most corrects; the quotient limbs are
// carried last. None of this needs a normalised divisor.

// Rows of a schoolbook division between two passes of the carries.
constexpr std::size_t rows_between_carries = 8;
// Estimated quotient limbs are held to [-slack, B + slack], beyond anything
// the estimate can give, which keeps the bound on the entries whatever the
// doubles do.
constexpr double estimate_slack = 1 << 20;

// floor(x) held to [-slack, B + slack].
entry estimate_floor(double x) {
  const double held = std::min(std::max(x, -estimate_slack), limb_base + estimate_slack);
  return static_cast<entry>(held + estimate_slack) - static_cast<entry>(estimate_slack);
}

// w[0, n) -= f * v[0, n), one product a limb with nothing carried. Kept out
// of line, here and in add_row(): inlined where f comes from a 64-bit value,
// g++ 12 vectorises the loop with 64-by-64-bit products, at twice the time.
[[gnu::noinline]] void subtract_row(entry* w, const limb* v, std::size_t n, limb f) {
  for (std::size_t i = 0; i < n; ++i) {
    w[i] -= static_cast<entry>(word{f} * v[i]);
  }
}

// w[0, n) += f * v[0, n).
[[gnu::noinline]] void add_row(entry* w, const limb* v, std::size_t n, limb f) {
  for (std::size_t i = 0; i < n; ++i) {
    w[i] += static_cast<entry>(word{f} * v[i]);
  }
}

// floor(x / 2^30), as a shift of x + 2^63.
entry carry_of(entry x) {
  return static_cast<entry>((static_cast<word>(x) ^ (word{1} << 63)) >> 30) - (entry{1} << 33);
}

#if defined(__x86_64__)
// g++ 12 takes the undefined values that the intrinsics start some
// registers from (_mm512_undefined_epi32()) for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
// The rows and the carries eight entries at a time, where the processor has
// AVX-512: the limbs widened to 64 bits, one 32-by-32-bit product a lane;
// the entries left over take masked loads and stores.

[[gnu::target("avx512f,avx512dq,avx512vl")]] inline __m512i widened_limbs(const limb* v, __mmask8 mask) {
  return _mm512_cvtepu32_epi64(_mm256_maskz_loadu_epi32(mask, v));
}

// subtract_row(), or add_row() when `add`.
template <bool add>
[[gnu::target("avx512f,avx512dq,avx512vl")]] void row_avx512(entry* w, const limb* v, std::size_t n, limb f) {
  const __m512i factor = _mm512_set1_epi64(f);
  for (std::size_t i = 0; i < n; i += 8) {
    const auto mask = static_cast<__mmask8>(n - i >= 8 ? 0xff : (1U << (n - i)) - 1);
    const __m512i products = _mm512_mul_epu32(widened_limbs(v + i, mask), factor);
    const __m512i entries = _mm512_maskz_loadu_epi64(mask, w + i);
    _mm512_mask_storeu_epi64(w + i, mask,
                             add ? _mm512_add_epi64(entries, products) : _mm512_sub_epi64(entries, products));
  }
}

// pass_carries(): entry k, for 0 < k < n - 1, becomes w[k] - floor(w[k] /
// 2^30) B + floor(w[k - 1] / 2^30), which reads only entries below it as they
// were: eight at a time from the top down.
[[gnu::target("avx512f,avx512dq,avx512vl")]] void pass_carries_avx512(entry* w, std::size_t n) {
  const entry top = w[n - 1] + carry_of(w[n - 2]);
  const __m512i base = _mm512_set1_epi64(signed_base);
  std::size_t k = n - 1;  // entries [1, k) are left
  for (; k >= 9; k -= 8) {
    const __m512i entries = _mm512_loadu_si512(w + k - 8);
    const __m512i below = _mm512_loadu_si512(w + k - 9);
    const __m512i kept = _mm512_sub_epi64(entries, _mm512_mullo_epi64(_mm512_srai_epi64(entries, 30), base));
    _mm512_storeu_si512(w + k - 8, _mm512_add_epi64(kept, _mm512_srai_epi64(below, 30)));
  }
  for (; k-- > 1;) {
    w[k] = w[k] - carry_of(w[k]) * signed_base + carry_of(w[k - 1]);
  }
  w[0] -= carry_of(w[0]) * signed_base;
  w[n - 1] = top;
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool has_avx512() {
  static const bool avx512 = __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512dq") != 0 &&
                             __builtin_cpu_supports("avx512vl") != 0;
  return avx512;
}
#endif

// w[0, n) -= d * v[0, n) for |d| < 2^32.
void subtract_multiple(entry* w, const limb* v, std::size_t n, entry d) {
#if defined(__x86_64__)
  if (has_avx512()) {
    if (d >= 0) {
      row_avx512<false>(w, v, n, static_cast<limb>(d));
    } else {
      row_avx512<true>(w, v, n, static_cast<limb>(-d));
    }
    return;
  }
#endif
  if (d >= 0) {
    subtract_row(w, v, n, static_cast<limb>(d));
  } else {
    add_row(w, v, n, static_cast<limb>(-d));
  }
}

// Moves floor(w[k] / 2^30) B from each of w[0, n - 1) to the next entry as a
// carry of floor(w[k] / 2^30), which leaves |w[k]| at most (1 - B / 2^30)
// |w[k]| + 2^31 plus that carry: below 0.0687 |w[k]| + 10^10. The top entry
// takes the carry it receives. The value is unchanged. A shift in place of a
// division by B: the entries need to shrink, not to become limbs.
void pass_carries(entry* w, std::size_t n) {
#if defined(__x86_64__)
  if (n >= 2 && has_avx512()) {
    pass_carries_avx512(w, n);
    return;
  }
#endif
  entry above = w[n - 1];
  for (std::size_t k = n - 1; k-- > 0;) {
    const entry high = carry_of(w[k]);
    w[k + 1] = above + high;
    above = w[k] - high * signed_base;
  }
  w[0] = above;
}

// As pass_carries(), with carries of w[k] / B (rounded toward zero): every
// entry but the top one ends within B + |w[k - 1]| / B of zero.
void pass_limb_carries(entry* w, std::size_t n) {
  entry above = w[n - 1];
  for (std::size_t k = n - 1; k-- > 0;) {
    const entry high = w[k] / signed_base;
    w[k + 1] = above + high;
    above = w[k] - high * signed_base;
  }
  w[0] = above;
}

// out[0, n) = w[0, n) carried into limbs, for entries within B + 10^8 of
// zero; returns the carry out of the top, -2 to 1.
entry carry_small_entries(const entry* w, std::size_t n, limb* out) {
  entry carry = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const entry current = w[k] + carry;  // in [-2B, 2B)
    carry = (current >= signed_base ? 1 : 0) - (current < 0 ? 1 : 0) - (current < -signed_base ? 1 : 0);
    out[k] = static_cast<limb>(current - carry * signed_base);
  }
  return carry;
}

// out[0, n) = w[0, n) carried into limbs, the entries below 2^63 in
// magnitude; returns the carry out of the top, the value being
// carry * B^n + out. Two passes bring every entry but the top one within
// B + 10 of zero; the top one is carried on its own.
entry carry_entries(entry* w, std::size_t n, limb* out) {
  pass_limb_carries(w, n);
  pass_limb_carries(w, n);
  const entry top = w[n - 1] + carry_small_entries(w, n - 1, out);
  const entry carry = floor_limbs(top);
  out[n - 1] = static_cast<limb>(top - carry * signed_base);
  return carry;
}

// Schoolbook division of the window u[0, n + m) by the divisor v[0, n)
// (n >= 2, v[n - 1] != 0), for u < v * B^m: q[0, m) gets the quotient,
// u[0, n) the remainder and u[n, n + m) zeros. `entries` has room for n + 2m.
void divide_school(limb* u, const limb* v, std::size_t n, limb* q, std::size_t m, entry* entries) {
  entry* const w = entries;         // the remainder, n + m entries
  entry* const digits = w + n + m;  // the quotient limbs, m entries
  std::copy(u, u + n + m, w);
  constexpr double inverse_base = 1e-9;
  double divisor_top = 0;
  for (std::size_t i = n - std::min<std::size_t>(n, 4); i < n; ++i) {
    divisor_top = divisor_top * inverse_base + v[i];
  }
  const double reciprocal = 1 / divisor_top;
  // The next row's estimate reads entries [next, n) of this row, which are
  // brought up to date first.
  const std::size_t next = n - std::min<std::size_t>(n, 4);
  std::size_t rows = 0;
  for (std::size_t j = m; j-- > 0;) {
    entry* const row = w + j;  // row[n] is the top entry, row[n + 1, ...) zeros
    const auto top = static_cast<entry>(static_cast<int128>(row[n]) * signed_base + row[n - 1]);
    const double lowest = j + n >= 3 ? static_cast<double>(w[j + n - 3]) : 0.0;
    const double x =
        (static_cast<double>(top) + (static_cast<double>(row[n - 2]) + lowest * inverse_base) * inverse_base) *
        reciprocal;
    const entry d = estimate_floor(x);
    digits[j] = d;
    row[n - 1] = top - d * static_cast<entry>(v[n - 1]);
    row[n] = 0;
    subtract_multiple(row + next, v + next, n - 1 - next, d);
    subtract_multiple(row, v, next, d);
    if (++rows == rows_between_carries) {
      pass_carries(row, n);
      rows = 0;
    }
  }
  entry carry = carry_entries(w, n, u);
  while (carry < 0) {
    carry += add_limbs(u, v, n, u);
    --digits[0];
  }
  while (carry > 0 || !less_limbs(u, v, n)) {
    carry -= subtract_limbs(u, v, n, u);
    ++digits[0];
  }
  std::fill(u + n, u + n + m, 0);
  carry_small_entries(digits, m, q);  // no carry: the quotient is below B^m
}

// ---- Recursive division.

// Scratch for a division by a divisor of n limbs: a product of n limbs and
// the schoolbook's entries.
struct division_scratch {
  limb* product;
  entry* entries;
  std::size_t recursive_limbs;  // the blocks divided recursively: from this many quotient limbs
};

void divide_block(limb* u, const limb* v, std::size_t n, limb* q, std::size_t m, const division_scratch& scratch);

// The window u[0, n + m) divided by the normalised divisor v[0, n), for m < n
// and u < v * B^m, as divide_block(). The quotient is estimated as the top
// 2m limbs of u over the top m limbs of v (or B^m - 1 when the top m limbs of
// u equal those of v, the largest it can be), which is at least the true one
// and at most two more; the estimate times the low n - m limbs of v is then
// subtracted from what the estimate's division left, and v is added back
// while the difference is negative.
void divide_top_first(limb* u, const limb* v, std::size_t n, limb* q, std::size_t m, const division_scratch& scratch) {
  const std::size_t low = n - m;
  limb carry = 0;
  if (less_limbs(u + n, v + low, m)) {
    divide_block(u + low, v + low, m, q, m, scratch);
  } else {
    // u[low, n + m) - (B^m - 1) v[low, n) = u[low, n) + v[low, n), as the top
    // m limbs of u equal v[low, n).
    std::fill(q, q + m, limb_base - 1);
    carry = add_limbs(u + low, v + low, m, u + low);
    std::fill(u + n, u + n + m, 0);
  }
  multiply_limbs(q, m, v, low, scratch.product);
  // The difference, carry * B^n + u[0, n) - product, is below v.
  auto top = static_cast<int>(carry) - static_cast<int>(subtract_limbs(u, scratch.product, n, u));
  while (top < 0) {
    top += static_cast<int>(add_limbs(u, v, n, u));
    borrow_limbs(q, m, 1);
  }
}

// The window u[0, n + m) divided by the normalised divisor v[0, n), for
// 2 <= n, m <= n and u < v * B^m: q[0, m) gets the quotient, u[0, n) the
// remainder and u[n, n + m) zeros.
void divide_block(limb* u, const limb* v, std::size_t n, limb* q, std::size_t m, const division_scratch& scratch) {
  if (m < scratch.recursive_limbs) {
    divide_school(u, v, n, q, m, scratch.entries);
  } else if (m < n) {
    divide_top_first(u, v, n, q, m, scratch);
  } else {
    const std::size_t bottom = m / 2;
    divide_block(u + bottom, v, n, q + bottom, m - bottom, scratch);
    divide_block(u, v, n, q, bottom, scratch);
  }
}

// ---- Division by a reciprocal.
//
// For long divisors the quotient comes from a reciprocal of the normalised
// divisor v of n limbs, X close to B^2n / v (n + 1 limbs, between B^n and
// 2 B^n), made once by Newton's iteration: from the reciprocal X' of the top
// h = n / 2 + 1 limbs of v, close to B^2h / v', the residual
// T = B^(n+h) - v X' (of about n limbs, either sign) gives
// X = X' B^(n-h) + X' T / B^2h, whose error is about the square of X''s
// (relative to B^-n: below one unit, and a few more from the truncations).
// Short divisors take the exact quotient floor((B^2n - 1) / v) from the
// division above. A block of c <= n quotient limbs of a window u of n + c
// limbs is then estimated as the top c + 1 limbs of (u / B^(n-1)) X / B^2,
// within a few units of the quotient, and corrected with the low n + 1 limbs
// of u - q v: a truncated product. Should the correction take more than a
// few steps (a reciprocal far off, which the bounds rule out), the block goes
// to divide_block() instead: every quotient stays exact whatever X is.

// The steps a block's correction may take before it is left to divide_block().
constexpr int reciprocal_corrections = 8;

// x[0, n) = B^n - 1 - x: -x modulo B^n - 1.
void complement_limbs(limb* x, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    x[i] = limb_base - 1 - x[i];
  }
}

// x[0, n + 1) = floor((B^2n - 1) / v), exactly, for the normalised v[0, n).
void exact_reciprocal(const limb* v, std::size_t n, limb* x, std::size_t recursive_limbs) {
  scratch_frame frame;
  limb* const ones = frame.take<limb>(2 * n + n);
  limb* const rest = ones + 2 * n;
  std::fill(ones, ones + 2 * n, limb_base - 1);
  divide_limbs_with(ones, 2 * n, v, n, x, rest, recursive_limbs, ~std::size_t{0});
}

// x[0, n + 1) within three units of B^2n / v for the normalised v[0, n)
// (v[n - 1] >= B / 2). With X' within three units of B^2h / v' (v' the top
// h limbs), X' B^(n-h) is within (2 + 3) B^-h of B^2n / v relatively, and the
// exact iteration would square that: below 50 B^-(n+1), far below a unit.
// The truncations add less than three: T's low h - 1 limbs, which make less
// than X' B^(h-1) / B^2h < 1, and the two floors.
void reciprocal(const limb* v, std::size_t n, limb* x, std::size_t base_limbs, std::size_t recursive_limbs) {
  if (n <= base_limbs || n < 8) {
    exact_reciprocal(v, n, x, recursive_limbs);
    return;
  }
  const std::size_t h = n / 2 + 1;
  scratch_frame frame;
  limb* const top = frame.take<limb>(h + 1);  // X'
  reciprocal(v + n - h, h, top, base_limbs, recursive_limbs);
  // T = B^(n+h) - v X', within 5 B^n of zero: its residue modulo B^L - 1
  // for L >= n + 2 tells it, and its magnitude goes to t[0, n + 1).
  const std::size_t wrapped = wrapped_limbs(n + 2);
  limb* const t = frame.take<limb>(wrapped);
  multiply_wrapped(v, n, top, h + 1, wrapped, t);
  complement_limbs(t, wrapped);                                         // -v X'
  const std::size_t power = n + h < wrapped ? n + h : n + h - wrapped;  // B^(n+h) = B^power
  if (carry_limbs(t + power, wrapped - power, 1) != 0) {
    carry_limbs(t, wrapped, 1);  // B^L = 1; no carry out again, as t was below B^L - 1 then
  }
  const bool negative = std::any_of(t + n + 1, t + wrapped, [](limb l) { return l != 0; });
  if (negative) {
    complement_limbs(t, wrapped);
  }
  // X' T / B^2h = X' floor(T / B^(h-1)) / B^(h+1), less than two units off.
  const limb* const high = t + h - 1;
  std::size_t count = n + 2 - h;
  while (count > 1 && high[count - 1] == 0) {
    --count;
  }
  limb* const correction = frame.take<limb>(h + 1 + count);
  multiply_limbs(top, h + 1, high, count, correction);
  const std::size_t used = std::min(count, n + 1);  // correction / B^(h+1), within n + 1 limbs
  std::fill(x, x + n - h, 0);
  std::copy(top, top + h + 1, x + n - h);
  bool out_of_range = std::any_of(correction + h + 1 + used, correction + h + 1 + count, [](limb l) { return l != 0; });
  if (!out_of_range) {
    if (negative) {
      out_of_range = borrow_limbs(x + used, n + 1 - used, subtract_limbs(x, correction + h + 1, used, x)) != 0;
    } else {
      out_of_range = carry_limbs(x + used, n + 1 - used, add_limbs(x, correction + h + 1, used, x)) != 0;
    }
  }
  if (out_of_range) {  // not from any divisor the bounds allow; exact, then
    exact_reciprocal(v, n, x, recursive_limbs);
  }
}

// The window u[0, n + c) divided by the normalised divisor v[0, n), for
// 1 <= c <= n and u < v B^c, as divide_block(), with x[0, n + 1) the
// reciprocal of v.
void divide_by_reciprocal(limb* u, const limb* v, std::size_t n, limb* q, std::size_t c, const limb* x,
                          const division_scratch& scratch) {
  scratch_frame frame;
  // The estimate: the top c + 1 limbs of (u / B^(n-1)) x / B^2.
  limb* const estimate = frame.take<limb>(c + n + 2);
  multiply_limbs(u + n - 1, c + 1, x, n + 1, estimate);
  limb* const e = estimate + n + 1;  // c + 1 limbs
  // r = u - e v is within 6v of zero, below B^(n+1): its residue modulo
  // B^L - 1 for L >= n + 2 tells it. r[0, n + 1) gets it modulo B^(n+1), the
  // top limb from B / 2 up for a negative one.
  const std::size_t wrapped = wrapped_limbs(n + 2);
  limb* const residue = frame.take<limb>(2 * wrapped);
  limb* const product = residue + wrapped;
  multiply_wrapped(e, c + 1, v, n, wrapped, product);
  // u modulo B^L - 1: u has n + c <= 2n < 2L limbs.
  const std::size_t low = std::min(n + c, wrapped);
  std::fill(std::copy(u, u + low, residue), residue + wrapped, 0);
  if (carry_limbs(residue + (n + c - low), wrapped - (n + c - low),
                  add_limbs(residue, u + low, n + c - low, residue)) != 0) {
    carry_limbs(residue, wrapped, 1);
  }
  if (subtract_limbs(residue, product, wrapped, residue) != 0 && borrow_limbs(residue, wrapped, 1) != 0) {
    borrow_limbs(residue, wrapped, 1);  // B^L = 1: one less for the borrow, and once more through zero
  }
  limb* const r = residue;
  if (std::any_of(residue + n + 1, residue + wrapped, [](limb l) { return l != 0; })) {
    carry_limbs(r, n + 1, 1);  // r + B^L - 1: one more, modulo B^(n+1)
  }
  int steps = 0;
  while (r[n] >= limb_base / 2 && steps < reciprocal_corrections) {
    r[n] += add_limbs(r, v, n, r);  // the carry out of the top drops: r comes up through zero
    if (r[n] >= limb_base) {
      r[n] -= limb_base;
    }
    borrow_limbs(e, c + 1, 1);
    ++steps;
  }
  while ((r[n] != 0 || !less_limbs(r, v, n)) && steps < reciprocal_corrections) {
    r[n] -= subtract_limbs(r, v, n, r);
    carry_limbs(e, c + 1, 1);
    ++steps;
  }
  if (steps == reciprocal_corrections || e[c] != 0) {
    divide_block(u, v, n, q, c, scratch);
    return;
  }
  std::copy(e, e + c, q);
  std::copy(r, r + n, u);
  std::fill(u + n, u + n + c, 0);
}

// Digits.

// The digits of `value`, as many as it has.
void word_digits(word value, signed char* digits) {
  for (; value != 0; value /= 10) {
    *digits++ = static_cast<signed char>(value % 10);
  }
}

}  // namespace

void reciprocal_limbs(const limb* v, std::size_t n, limb* x, std::size_t base_limbs) {
  reciprocal(v, n, x, base_limbs, recursive_division_limbs);
}

void divide_limbs(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* q, limb* r) {
  divide_limbs_with(a, na, b, nb, q, r, recursive_division_limbs, reciprocal_division_limbs);
}

void divide_limbs_with(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* q, limb* r,
                       std::size_t recursive_limbs, std::size_t reciprocal_limbs) {
  recursive_limbs = std::max<std::size_t>(recursive_limbs, 2);
  const std::size_t m = na - nb + 1;
  scratch_frame frame;
  if (nb == 1) {
    limb* const quotient = frame.take<limb>(m);
    const limb rest = divide_by_limb(a, na, b[0], quotient);
    std::copy(quotient, quotient + m, q);
    r[0] = rest;
    return;
  }
  // The dividend gets a limb on top, which makes it below divisor * B^m.
  if (std::min(m, nb) < recursive_limbs) {  // every block a schoolbook one
    entry* const entries = frame.take<entry>(nb + 2 * m);
    limb* const dividend = frame.take<limb>(na + 1 + m);
    limb* const quotient = dividend + na + 1;
    std::copy(a, a + na, dividend);
    dividend[na] = 0;
    divide_school(dividend, b, nb, quotient, m, entries);
    std::copy(quotient, quotient + m, q);
    std::copy(dividend, dividend + nb, r);
    return;
  }
  // Burnikel and Ziegler's division wants a normalised divisor: both operands
  // are multiplied by the factor that brings the divisor's top limb to B / 2
  // or more, and the remainder is divided by it at the end.
  entry* const entries = frame.take<entry>(3 * nb);  // a schoolbook window: at most 2 nb limbs, nb quotient limbs
  limb* const divisor = frame.take<limb>(2 * nb + na + 1 + m);
  limb* const product = divisor + nb;
  limb* const dividend = product + nb;
  limb* const quotient = dividend + na + 1;
  const limb factor = limb_base / (b[nb - 1] + 1);
  multiply_by_limb(b, nb, factor, divisor);  // no carry: b * factor < B^nb
  dividend[na] = multiply_by_limb(a, na, factor, dividend);
  // m quotient limbs, divided out in blocks of at most nb limbs from the top,
  // the highest block taking what is left over.
  const division_scratch scratch{product, entries, recursive_limbs};
  // From reciprocal_limbs limbs in the divisor, blocks of as many quotient
  // limbs as its half or more are divided by its reciprocal.
  const bool by_reciprocal = nb >= std::max<std::size_t>(reciprocal_limbs, 2);
  limb* const inverse = by_reciprocal ? frame.take<limb>(nb + 1) : nullptr;
  bool inverse_made = false;
  std::size_t count = m % nb == 0 ? nb : m % nb;
  for (std::size_t first = m - count;; first -= nb, count = nb) {
    if (by_reciprocal && 2 * count >= nb) {
      if (!inverse_made) {
        reciprocal(divisor, nb, inverse, std::max<std::size_t>(reciprocal_limbs / 2, 2), recursive_limbs);
        inverse_made = true;
      }
      divide_by_reciprocal(dividend + first, divisor, nb, quotient + first, count, inverse, scratch);
    } else {
      divide_block(dividend + first, divisor, nb, quotient + first, count, scratch);
    }
    if (first == 0) {
      break;
    }
  }
  divide_by_limb(dividend, nb, factor, dividend);  // exact
  std::copy(quotient, quotient + m, q);
  std::copy(dividend, dividend + nb, r);
}

void divide_digits(const digit_vector& a, const digit_vector& b, digit_vector& quotient, digit_vector& remainder) {
  const std::size_t quotient_size = a.size();
  const std::size_t remainder_size = b.size();
  const std::size_t ca = significant_count(a);
  const std::size_t cb = significant_count(b);
  if (cb == 0) {
    throw std::domain_error("Division by zero!");
  }
  // Every result is worked out before the outputs change, which may be a or b.
  word word_quotient = 0;
  word word_remainder = 0;
  digit_vector small_dividend;  // a, when it is below b
  limb_vector limbs;            // the quotient's limbs, then the remainder's
  std::size_t quotient_limbs = 0;
  std::size_t remainder_limbs = 0;
  if (ca < cb) {
    small_dividend.assign(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(ca));
  } else if (ca <= word_division_digits) {
    const word_division division = divide_word(word_of_digits(a.data(), ca), word_of_digits(b.data(), cb));
    word_quotient = division.quotient;
    word_remainder = division.remainder;
  } else {
    const std::size_t na = limbs_for(ca);
    const std::size_t nb = limbs_for(cb);
    quotient_limbs = na - nb + 1;
    remainder_limbs = nb;
    limbs.resize(na + nb + quotient_limbs + remainder_limbs);
    limb* const la = limbs.data() + quotient_limbs + remainder_limbs;
    limb* const lb = la + na;
    to_limbs(a.data(), ca, la);
    to_limbs(b.data(), cb, lb);
    divide_limbs(la, na, lb, nb, limbs.data(), limbs.data() + quotient_limbs);
  }
  quotient.reserve(quotient_size);
  remainder.reserve(remainder_size);
  quotient.assign(quotient_size, 0);
  remainder.assign(remainder_size, 0);
  if (ca < cb) {
    std::copy(small_dividend.begin(), small_dividend.end(), remainder.begin());
  } else if (ca <= word_division_digits) {
    word_digits(word_quotient, quotient.data());
    word_digits(word_remainder, remainder.data());
  } else {
    // The quotient has at most ca - cb + 1 digits and the remainder at most
    // cb: the limbs above the sizes hold zeros.
    to_digits(limbs.data(), std::min(quotient_size, quotient_limbs * limb_digits), quotient.data());
    to_digits(limbs.data() + quotient_limbs, std::min(remainder_size, remainder_limbs * limb_digits), remainder.data());
  }
}

void round_quotient(digit_vector& quotient, const digit_vector& remainder, const digit_vector& divisor, rounding mode,
                    bool negative) {
  if (mode == rounding::down || significant_count(remainder) == 0) {
    return;
  }
  // The remainder against half the divisor: r < b - r exactly when 2r < b.
  digit_vector rest(std::max(divisor.size(), remainder.size()));
  subtract_digits(divisor, remainder, rest);
  const int dropped = compare_magnitudes(remainder, rest);
  const bool odd = !quotient.empty() && quotient.front() % 2 != 0;
  if (rounds_up(mode, negative, dropped, true, odd)) {
    increment_digits(quotient);
  }
}

}  // namespace VELDAR::detail
