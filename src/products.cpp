// Products of digit vectors on limbs of nine digits (limbs.h).
//
// The method goes by the size of the factors (the thresholds are in
// products.h):
// - below karatsuba_from_limbs() limbs in the shorter factor, schoolbook, in
//   rows of 64-bit sums four rows at a time, whose carries are passed on
//   every sixteenth row and carried in order once at the end; where the
//   vector transform runs (AVX-512 with IFMA), in columns eight at a time
//   instead (schoolbook_columns_avx512());
// - from there, Karatsuba on slices of the longer factor: three products of
//   half the size instead of four;
// - from transform_from_limbs() limbs in the shorter factor, a
//   number-theoretic transform (transform.cpp), whose time grows as n log n.
// fixedint keeps only the low `length` digits of a product, so where the low
// half costs less than the whole the truncated product is taken instead: the
// rows skip the upper columns, from split_low_from_limbs() limbs it splits
// in halves, one full product of half the size and two truncated ones
// (multiply_low()), and from transform_low_from_limbs() limbs kept the
// transform computes the whole product and the low part is kept. Scratch
// memory comes from the thread's arena (scratch.h).
#include "products.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "limbs.h"
#include "platform.h"
#include "scratch.h"
#include "transform.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace VELDAR::detail {

namespace {

// Rows of limb products summed into 64-bit entries, with the carries passed
// on only every sixteenth row: a product is below 10^18 and an entry just
// passed on below 2^35, and 16 (10^9 - 1)^2 + 2^35 < 2^64. A row is then one
// product and one sum a limb, which the compiler vectorises.
constexpr std::size_t rows_between_carries = 16;

// Passes floor(acc[k] / B) on from each of acc[first, last) to the next entry
// (up to acc[last] when `last` is below `end`), all at once: each entry keeps
// its remainder below B plus the carry it takes, below B + 2^64 / B < 2^35.
// No carry waits for the one below it.
void pass_carries(std::uint64_t* acc, std::size_t first, std::size_t last, std::size_t end) {
  if (first >= last) {
    return;
  }
  std::uint64_t above = last < end ? acc[last] : 0;
  for (std::size_t k = last; k-- > first;) {
    const std::uint64_t high = acc[k] / limb_base;
    if (k + 1 < end) {
      acc[k + 1] = above + high;
    }
    above = acc[k] - high * limb_base;
  }
  acc[first] = above;
}

// acc[0, end) carried into limbs, the carry out of the top dropped.
void carry_entries(std::uint64_t* acc, std::size_t end) {
  std::uint64_t carry = 0;
  for (std::size_t k = 0; k < end; ++k) {
    const std::uint64_t value = acc[k] + carry;
    carry = value / limb_base;
    acc[k] = value - carry * limb_base;
  }
}

// acc[0, min(ns + nl, kept)) = s * l truncated to `kept` limbs, row by row
// over the shorter factor s, the entries carried into limbs. A row writes
// acc[i, i + nl) below `kept`; the entries above the last group of rows are
// zeros or the carry into them.
[[gnu::always_inline]] inline void schoolbook_rows(const limb* s, std::size_t ns, const limb* l, std::size_t nl,
                                                   std::uint64_t* acc, std::size_t kept) {
  const std::size_t end = std::min(ns + nl, kept);
  std::fill(acc, acc + end, 0);
  for (std::size_t group = 0; group < ns; group += rows_between_carries) {
    const std::size_t last_row = std::min(group + rows_between_carries, ns);
    std::size_t i = group;
    // Four rows at a time where the group has them: each entry takes the four
    // products that land on it in one sum, and is loaded and stored once.
    for (; i + 4 <= last_row && i < end; i += 4) {
      const std::uint64_t f0 = s[i];
      const std::uint64_t f1 = s[i + 1];
      const std::uint64_t f2 = s[i + 2];
      const std::uint64_t f3 = s[i + 3];
      std::uint64_t* const row = acc + i;
      const std::size_t count = std::min(nl + 3, end - i);  // row[j] takes f_r l[j - r] for 0 <= j - r < nl
      const std::size_t full = std::min(nl, count);
      const auto edge = [&](std::size_t j) {
        const std::uint64_t f[4] = {f0, f1, f2, f3};
        for (std::size_t r = 0; r < 4; ++r) {
          if (j >= r && j - r < nl) {
            row[j] += f[r] * l[j - r];
          }
        }
      };
      for (std::size_t j = 0; j < std::min<std::size_t>(3, count); ++j) {
        edge(j);
      }
      for (std::size_t j = 3; j < full; ++j) {
        row[j] += f0 * l[j] + f1 * l[j - 1] + f2 * l[j - 2] + f3 * l[j - 3];
      }
      for (std::size_t j = std::max<std::size_t>(3, full); j < count; ++j) {
        edge(j);
      }
    }
    for (; i < last_row && i < end; ++i) {
      const std::uint64_t f = s[i];
      std::uint64_t* const row = acc + i;
      const std::size_t count = std::min(nl, end - i);
      for (std::size_t j = 0; j < count; ++j) {
        row[j] += f * l[j];
      }
    }
    pass_carries(acc, std::min(group, end), std::min(last_row - 1 + nl, end), end);
  }
  carry_entries(acc, end);
}

void schoolbook_rows_plain(const limb* s, std::size_t ns, const limb* l, std::size_t nl, std::uint64_t* acc,
                           std::size_t kept) {
  schoolbook_rows(s, ns, l, nl, acc, kept);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] void schoolbook_rows_avx2(const limb* s, std::size_t ns, const limb* l, std::size_t nl,
                                                  std::uint64_t* acc, std::size_t kept) {
  schoolbook_rows(s, ns, l, nl, acc, kept);
}

bool has_avx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
  return avx2;
}

// The rows by AVX-512 (F and DQ; taken where the vector transform runs, which
// needs them too), for shorter factors of at most wide_columns_limbs
// limbs: eight columns of the product at a time, each the sum of the
// products that land on it, 32-by-32-bit products added in 64 bits, four
// rows at a time into four sums so that no sum waits for the one before;
// every sixteen products a sum, below 2^64 then ((10^9 - 1)^2 16 + 2^52 <
// 2^64), gives its bits from 2^52 up to a sum of its own. A column is then
// low + high 2^52 = (low + high (2^52 mod B)) + high floor(2^52 / B) B: an
// entry below 2^55 and a carry into the next column below 2^42. Two passes
// in registers divide each entry by B on its own (in floating point, put
// right in 64 bits) and hand the quotient to the next column, which leaves
// carries of 0 or 1 to run through in order.
constexpr std::size_t wide_columns_limbs = 2048;
constexpr std::uint64_t two52_low = (std::uint64_t{1} << 52) % limb_base;   // 627370496
constexpr std::uint64_t two52_high = (std::uint64_t{1} << 52) / limb_base;  // 4503599

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#define VELDAR_WIDE [[gnu::target("avx512f,avx512dq")]]

// x = quotient B + remainder, lane by lane, for x below 2^64.
VELDAR_WIDE inline void divide_by_base(__m512i x, __m512i& quotient, __m512i& remainder) {
  const __m512i base = _mm512_set1_epi64(limb_base);
  __m512i q = _mm512_cvttpd_epu64(_mm512_mul_pd(_mm512_cvtepu64_pd(x), _mm512_set1_pd(1e-9)));  // within one
  __m512i r = _mm512_sub_epi64(x, _mm512_mullo_epi64(q, base));
  const __mmask8 below = _mm512_cmplt_epi64_mask(r, _mm512_setzero_si512());
  r = _mm512_mask_add_epi64(r, below, r, base);
  q = _mm512_mask_sub_epi64(q, below, q, _mm512_set1_epi64(1));
  const __mmask8 above = _mm512_cmpge_epi64_mask(r, base);
  remainder = _mm512_mask_sub_epi64(r, above, r, base);
  quotient = _mm512_mask_add_epi64(q, above, q, _mm512_set1_epi64(1));
}

// high += the bits of the four sums from 2^52 up, which they lose.
VELDAR_WIDE inline void fold_sums(__m512i& sum0, __m512i& sum1, __m512i& sum2, __m512i& sum3, __m512i& high,
                                  __m512i low_52) {
  high = _mm512_add_epi64(high,
                          _mm512_add_epi64(_mm512_add_epi64(_mm512_srli_epi64(sum0, 52), _mm512_srli_epi64(sum1, 52)),
                                           _mm512_add_epi64(_mm512_srli_epi64(sum2, 52), _mm512_srli_epi64(sum3, 52))));
  sum0 = _mm512_and_si512(sum0, low_52);
  sum1 = _mm512_and_si512(sum1, low_52);
  sum2 = _mm512_and_si512(sum2, low_52);
  sum3 = _mm512_and_si512(sum3, low_52);
}

VELDAR_WIDE void schoolbook_columns_avx512(const limb* s, std::size_t ns, const limb* l, std::size_t nl,
                                           std::uint64_t* acc, std::size_t kept) {
  const std::size_t end = std::min(ns + nl, kept);
  const std::size_t rounded = (end + 7) / 8 * 8;
  scratch_frame frame;
  // l as 64-bit values with eight zeros on either side, so that a register
  // of eight may start up to seven before it or end up to seven after it;
  // s as 64-bit values, to be broadcast from memory.
  std::uint64_t* const wide = frame.take<std::uint64_t>(nl + 16 + ns) + 8;
  std::uint64_t* const factors = wide + nl + 8;
  std::fill(wide - 8, wide, 0);
  std::copy(l, l + nl, wide);
  std::fill(wide + nl, wide + nl + 8, 0);
  std::copy(s, s + ns, factors);
  std::uint64_t* const entries = frame.take<std::uint64_t>(2 * rounded + 8);
  std::uint64_t* const carries = entries + rounded + 8;  // carries[-1] is zero
  carries[-1] = 0;
  const __m512i zero = _mm512_setzero_si512();
  const __m512i low_52 = _mm512_set1_epi64(static_cast<long long>((std::uint64_t{1} << 52) - 1));
  const __m512i low_factor = _mm512_set1_epi64(static_cast<long long>(two52_low));
  const __m512i high_factor = _mm512_set1_epi64(static_cast<long long>(two52_high));
  for (std::size_t first = 0; first < end; first += 8) {
    // Columns first to first + 7 take s[i] l[first - i + lane], four rows at
    // a time into four sums; every 64 rows each sum gives its bits from 2^52
    // up to `high`, so that its sixteen products in between stay below 2^64.
    __m512i sum0 = zero;
    __m512i sum1 = zero;
    __m512i sum2 = zero;
    __m512i sum3 = zero;
    __m512i high = zero;
    const std::size_t top = std::min(ns, first + 8);
    std::size_t i = first + 1 > nl ? first + 1 - nl : 0;
    while (i + 4 <= top) {
      const std::size_t stop = std::min(top, i + 64);
      for (; i + 4 <= stop; i += 4) {
        const std::uint64_t* const row = wide + first - i;
        sum0 = _mm512_add_epi64(
            sum0, _mm512_mul_epu32(_mm512_set1_epi64(static_cast<long long>(factors[i])), _mm512_loadu_si512(row)));
        sum1 = _mm512_add_epi64(sum1, _mm512_mul_epu32(_mm512_set1_epi64(static_cast<long long>(factors[i + 1])),
                                                       _mm512_loadu_si512(row - 1)));
        sum2 = _mm512_add_epi64(sum2, _mm512_mul_epu32(_mm512_set1_epi64(static_cast<long long>(factors[i + 2])),
                                                       _mm512_loadu_si512(row - 2)));
        sum3 = _mm512_add_epi64(sum3, _mm512_mul_epu32(_mm512_set1_epi64(static_cast<long long>(factors[i + 3])),
                                                       _mm512_loadu_si512(row - 3)));
      }
      fold_sums(sum0, sum1, sum2, sum3, high, low_52);
    }
    for (; i < top; ++i) {  // at most three rows, into sums below 2^52
      sum0 = _mm512_add_epi64(sum0, _mm512_mul_epu32(_mm512_set1_epi64(static_cast<long long>(factors[i])),
                                                     _mm512_loadu_si512(wide + first - i)));
    }
    fold_sums(sum0, sum1, sum2, sum3, high, low_52);
    // low + high 2^52, low below 2^54 and high below 2^19.
    const __m512i low = _mm512_add_epi64(_mm512_add_epi64(sum0, sum1), _mm512_add_epi64(sum2, sum3));
    __m512i quotient;
    __m512i remainder;
    divide_by_base(_mm512_add_epi64(low, _mm512_mul_epu32(high, low_factor)), quotient, remainder);
    _mm512_storeu_si512(entries + first, remainder);
    _mm512_storeu_si512(carries + first, _mm512_add_epi64(quotient, _mm512_mul_epu32(high, high_factor)));
  }
  // Each entry with the carry from the column below, below B + 2^43, divided
  // once more: quotients below 2^14. From the top block down, so that each
  // block reads the carries below it before they change.
  for (std::size_t first = rounded; first != 0;) {
    first -= 8;
    __m512i quotient;
    __m512i remainder;
    divide_by_base(_mm512_add_epi64(_mm512_loadu_si512(entries + first), _mm512_loadu_si512(carries + first - 1)),
                   quotient, remainder);
    _mm512_storeu_si512(entries + first, remainder);
    _mm512_storeu_si512(carries + first, quotient);
  }
  const std::uint64_t* const carries_below = carries - 1;  // carries_below[k] is carries[k - 1]
  std::uint64_t carry = 0;
  for (std::size_t k = 0; k < end; ++k) {
    const std::uint64_t value = entries[k] + carries_below[k] + carry;  // below B + 2^14 + 1
    carry = value >= limb_base ? 1 : 0;
    acc[k] = value - carry * limb_base;
  }
}
#undef VELDAR_WIDE
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif

// out[0, min(na + nb, kept)) = a * b truncated to `kept` limbs. `out` must
// not overlap the factors.
void multiply_schoolbook_kept(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out,
                              std::size_t kept) {
  if (na < nb) {
    std::swap(a, b);
    std::swap(na, nb);
  }
  const std::size_t end = std::min(na + nb, kept);
  if (nb == 0) {
    std::fill(out, out + end, 0);
    return;
  }
  scratch_frame frame;
  std::uint64_t* const acc = frame.take<std::uint64_t>(end);
#if defined(__x86_64__)
  // The columns go with the vector transform, so that the wide set of
  // thresholds, measured with both, holds where they run.
  if (nb <= wide_columns_limbs && vector_transform_available()) {
    schoolbook_columns_avx512(b, nb, a, na, acc, kept);
  } else if (has_avx2()) {
    schoolbook_rows_avx2(b, nb, a, na, acc, kept);
  } else {
    schoolbook_rows_plain(b, nb, a, na, acc, kept);
  }
#else
  schoolbook_rows_plain(b, nb, a, na, acc, kept);
#endif
  std::copy(acc, acc + end, out);
}

// out[0, na + nb) = a * b, limb by limb. `out` must not overlap the factors.
void multiply_schoolbook(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out) {
  multiply_schoolbook_kept(a, na, b, nb, out, na + nb);
}

// out[0, n) = (a * b) mod 10^(9n) for factors of n limbs: the columns below n only.
void multiply_schoolbook_low(const limb* a, const limb* b, std::size_t n, limb* out) {
  multiply_schoolbook_kept(a, n, b, n, out, n);
}

// out[0, h) = |x - y| for x of h limbs and y of l <= h limbs; returns whether
// y is the larger.
bool abs_difference(const limb* x, std::size_t h, const limb* y, std::size_t l, limb* out) {
  bool y_larger = false;
  if (std::all_of(x + l, x + h, [](limb v) { return v == 0; })) {
    const auto top = std::mismatch(std::make_reverse_iterator(x + l), std::make_reverse_iterator(x),
                                   std::make_reverse_iterator(y + l));
    y_larger = top.first != std::make_reverse_iterator(x) && *top.first < *top.second;
  }
  if (y_larger) {  // then x has no limbs above l and no borrow is left
    subtract_limbs(y, x, l, out);
    std::fill(out + l, out + h, 0);
  } else {
    std::copy(x + l, x + h, out + l);
    borrow_limbs(out + l, h - l, subtract_limbs(x, y, l, out));
  }
  return y_larger;
}

// The scratch limbs karatsuba() needs for factors of n limbs.
std::size_t karatsuba_scratch(std::size_t n, std::size_t base) {
  if (n < base) {
    return 0;
  }
  const std::size_t h = n - n / 2;
  return 6 * h + 1 + karatsuba_scratch(h, base);
}

// out[0, 2n) = a * b for factors of n limbs each. With a = a1 B^h + a0 and b
// alike (B = 10^9), a * b = z2 B^2h + (z0 + z2 - (a0 - a1)(b0 - b1)) B^h + z0
// with z0 = a0 b0 and z2 = a1 b1: three products of half the size.
// Factors below `base` limbs are multiplied limb by limb.
void karatsuba(const limb* a, const limb* b, std::size_t n, limb* out, limb* scratch, std::size_t base) {
  if (n < base) {
    multiply_schoolbook(a, n, b, n, out);
    return;
  }
  const std::size_t h = n - n / 2;
  const std::size_t l = n / 2;
  limb* const da = scratch;
  limb* const db = da + h;
  limb* const dd = db + h;
  limb* const middle = dd + 2 * h;
  limb* const deeper = middle + 2 * h + 1;
  karatsuba(a, b, h, out, deeper, base);                  // z0 in out[0, 2h)
  karatsuba(a + h, b + h, l, out + 2 * h, deeper, base);  // z2 in out[2h, 2n)
  const bool negative_a = abs_difference(a, h, a + h, l, da);
  const bool negative_b = abs_difference(b, h, b + h, l, db);
  karatsuba(da, db, h, dd, deeper, base);
  // middle = z0 + z2 -+ dd = a0 b1 + a1 b0: never negative, below 2 B^2h.
  std::copy(out, out + 2 * h, middle);
  middle[2 * h] = 0;
  carry_limbs(middle + 2 * l, 2 * (h - l) + 1, add_limbs(middle, out + 2 * h, 2 * l, middle));
  if (negative_a == negative_b) {
    middle[2 * h] -= subtract_limbs(middle, dd, 2 * h, middle);
  } else {
    middle[2 * h] += add_limbs(middle, dd, 2 * h, middle);
  }
  carry_limbs(out + 3 * h + 1, 2 * n - 3 * h - 1, add_limbs(out + h, middle, 2 * h + 1, out + h));
}

// out[0, na + nb) = a * b for na >= nb: Karatsuba on nb-limb slices of a when
// b is long enough for it.
void karatsuba_slices(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out, std::size_t base) {
  if (nb < base) {
    multiply_schoolbook(a, na, b, nb, out);
    return;
  }
  scratch_frame frame;
  limb* const slice = frame.take<limb>(karatsuba_scratch(nb, base) + 3 * nb);
  limb* const product = slice + nb;
  limb* const deeper = product + 2 * nb;
  std::fill(out, out + na + nb, 0);
  for (std::size_t first = 0; first < na; first += nb) {
    const std::size_t count = std::min(nb, na - first);
    std::fill(std::copy(a + first, a + first + count, slice), slice + nb, 0);
    karatsuba(slice, b, nb, product, deeper, base);
    // The slice's product reaches no higher than na + nb.
    const std::size_t span = std::min(2 * nb, na + nb - first);
    carry_limbs(out + first + span, na + nb - first - span, add_limbs(out + first, product, span, out + first));
  }
}

// The scratch limbs multiply_low() needs for factors of n limbs.
std::size_t multiply_low_scratch(std::size_t n, std::size_t split) {
  if (n < split) {
    return 0;
  }
  const std::size_t h = n - n / 2;
  return std::max(2 * h + karatsuba_scratch(h, karatsuba_from_limbs()), n / 2 + multiply_low_scratch(n / 2, split));
}

// out[0, n) = (a * b) mod B^n for factors of n limbs. With the halves as in
// karatsuba(), z2 lies wholly above B^n and the cross products a1 b0 and a0 b1
// count only below B^(n-h): one full product of h limbs, two truncated ones.
// Factors below `split` limbs are multiplied limb by limb.
void multiply_low(const limb* a, const limb* b, std::size_t n, limb* out, limb* scratch, std::size_t split) {
  if (n < split) {
    multiply_schoolbook_low(a, b, n, out);
    return;
  }
  const std::size_t h = n - n / 2;
  const std::size_t l = n / 2;
  karatsuba(a, b, h, scratch, scratch + 2 * h, karatsuba_from_limbs());
  std::copy(scratch, scratch + n, out);
  limb* const cross = scratch;
  multiply_low(a + h, b, l, cross, cross + l, split);
  add_limbs(out + h, cross, l, out + h);
  multiply_low(a, b + h, l, cross, cross + l, split);
  add_limbs(out + h, cross, l, out + h);
}

// product[0, kept) = (a * b) mod 10^kept for digit factors of ca and cb
// significant digits, all 0 to 9, on limbs.
void multiply_on_limbs(const signed char* a, std::size_t ca, const signed char* b, std::size_t cb, signed char* product,
                       std::size_t kept) {
  const std::size_t n = limbs_for(kept);
  // Limbs from n up do not reach the kept digits.
  const std::size_t na = std::min(limbs_for(ca), n);
  const std::size_t nb = std::min(limbs_for(cb), n);
  scratch_frame frame;
  limb* const la = frame.take<limb>(na + nb + std::max(na + nb, n));
  limb* const lb = la + na;
  limb* const result = lb + nb;
  to_limbs(a, std::min(ca, na * limb_digits), la);
  to_limbs(b, std::min(cb, nb * limb_digits), lb);
  multiply_limbs_low(la, na, lb, nb, n, result);
  to_digits(result, kept, product);
}

// `wide`, the threshold measured with the AVX-512 columns and the vector
// transform, where they run; else `plain`. The processor is asked once.
std::size_t threshold_of_processor(std::size_t wide, std::size_t plain) {
  static const bool vector = vector_transform_available();
  return vector ? wide : plain;
}

}  // namespace

std::size_t karatsuba_from_limbs() { return threshold_of_processor(wide_karatsuba_limbs, karatsuba_limbs); }

std::size_t split_low_from_limbs() { return threshold_of_processor(wide_split_low_limbs, split_low_limbs); }

std::size_t transform_from_limbs() { return threshold_of_processor(vector_transform_limbs, transform_limbs); }

std::size_t transform_low_from_limbs() {
  return threshold_of_processor(vector_transform_low_limbs, transform_low_limbs);
}

void multiply_limbs(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out) {
  if (std::min(na, nb) >= transform_from_limbs() && transform_fits(na, nb)) {
    multiply_transform(a, na, b, nb, out, na + nb);
  } else {
    multiply_karatsuba(a, na, b, nb, out);
  }
}

void multiply_limbs_low(const limb* a, std::size_t na, const limb* b, std::size_t nb, std::size_t n, limb* out) {
  if (na < nb) {
    std::swap(a, b);
    std::swap(na, nb);
  }
  // The truncated product costs about n^2 / 2 limb products, the full one
  // na nb (in 128 bits: n^2 passes 2^64 from 2^32 limbs).
  if (uint128{2} * na * nb <= uint128{n} * n) {
    multiply_limbs(a, na, b, nb, out);
    std::fill(out + std::min(na + nb, n), out + n, 0);
  } else if (n >= transform_low_from_limbs() && transform_fits(na, nb)) {
    // The transform's cost hardly depends on how much of the product is kept.
    multiply_transform(a, na, b, nb, out, std::min(na + nb, n));
  } else {
    scratch_frame frame;
    limb* const padded = frame.take<limb>(2 * n + multiply_low_scratch(n, split_low_from_limbs()));
    std::fill(std::copy(a, a + na, padded), padded + n, 0);
    std::fill(std::copy(b, b + nb, padded + n), padded + 2 * n, 0);
    multiply_low(padded, padded + n, n, out, padded + 2 * n, split_low_from_limbs());
  }
}

void multiply_karatsuba(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out,
                        std::size_t karatsuba_from) {
  if (na < nb) {
    std::swap(a, b);
    std::swap(na, nb);
  }
  karatsuba_slices(a, na, b, nb, out,
                   karatsuba_from == 0 ? karatsuba_from_limbs() : std::max<std::size_t>(karatsuba_from, 2));
}

void multiply_karatsuba_low(const limb* a, const limb* b, std::size_t n, limb* out, std::size_t split_from) {
  split_from = split_from == 0 ? split_low_from_limbs() : std::max<std::size_t>(split_from, 2);
  scratch_frame frame;
  multiply_low(a, b, n, out, frame.take<limb>(multiply_low_scratch(n, split_from)), split_from);
}

void multiply_digits_plain(const digit_vector& a, const digit_vector& b, digit_vector& product) {
  const std::size_t count_a = significant_count(a);
  const std::size_t count_b = significant_count(b);
  for (std::size_t i = 0; i < count_a; ++i) {
    int carry = 0;
    for (std::size_t j = 0; j < count_b; ++j) {
      const int c = product[i + j] + a[i] * b[j] + carry;
      carry = c / 10;
      product[i + j] = static_cast<signed char>(c % 10);
    }
    if (carry != 0) {
      product[i + count_b] = static_cast<signed char>(product[i + count_b] + carry);
    }
  }
}

void multiply_digits(const digit_vector& a, const digit_vector& b, digit_vector& product, std::size_t kept) {
  const std::size_t count_a = significant_count(a);
  const std::size_t count_b = significant_count(b);
  kept = std::min(kept, product.size());
  const bool in_range = digits_in_range(a.data(), count_a) && digits_in_range(b.data(), count_b);
  if (in_range && count_a <= limb_digits && count_b <= limb_digits) {
    // One limb each: the product is one machine word.
    std::uint64_t value = word_of_digits(a.data(), count_a) * word_of_digits(b.data(), count_b);
    for (std::size_t i = 0; i < kept && value != 0; ++i, value /= 10) {
      product[i] = static_cast<signed char>(value % 10);
    }
    return;
  }
  if (std::min(count_a, count_b) >= plain_product_digits && in_range) {
    multiply_on_limbs(a.data(), count_a, b.data(), count_b, product.data(), kept);
    return;
  }
  multiply_digits_plain(a, b, product);
}

void multiply_wrapped(const limb* a, std::size_t na, const limb* b, std::size_t nb, std::size_t limbs, limb* out) {
  if (na == 0 || nb == 0) {
    std::fill(out, out + limbs, 0);
    return;
  }
  if (multiply_cyclic(a, na, b, nb, limbs, out)) {
    return;
  }
  // The whole product, its limbs from `limbs` up folded onto the low ones.
  scratch_frame frame;
  limb* const whole = frame.take<limb>(na + nb);
  multiply_limbs(a, na, b, nb, whole);
  std::fill(out, out + limbs, 0);
  for (std::size_t first = 0; first < na + nb; first += limbs) {
    const std::size_t span = std::min(limbs, na + nb - first);
    limb carry = add_limbs(out, whole + first, span, out);
    carry = carry_limbs(out + span, limbs - span, carry);
    while (carry != 0) {  // B^limbs = 1
      carry = carry_limbs(out, limbs, carry);
    }
  }
}

}  // namespace VELDAR::detail
