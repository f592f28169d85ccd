// Products of digit vectors on limbs of nine digits (limbs.h).
//
// The method goes by the size of the factors (the thresholds are in
// products.h):
// - below karatsuba_limbs (64) limbs in the shorter factor, schoolbook,
//   column by column, each column's sum taken apart into its limb and the
//   next column's carry;
// - from there, Karatsuba on slices of the longer factor: three products of
//   half the size instead of four;
// - from transform_limbs (224) limbs in the shorter factor, a number-theoretic
//   transform (transform.cpp), whose time grows as n log n.
// fixedint keeps only the low `length` digits of a product, so where the low
// half costs less than the whole the truncated product is taken instead:
// column by column it skips the upper columns, from split_low_limbs (192)
// limbs it splits in halves, one full product of half the size and two
// truncated ones (multiply_low()), and from transform_low_limbs (352) limbs
// kept the transform computes the whole product and the low part is kept.
#include "products.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "limbs.h"

namespace VELDAR::detail {

namespace {

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
    const std::uint64_t lower = ((upper % limb_base) << 32) | (low & 0xffffffffU);
    const auto remainder = static_cast<limb>(lower % limb_base);
    low = ((upper / limb_base) << 32) + lower / limb_base;
    high = 0;
    return remainder;
  }

 private:
  std::uint64_t low = 0;
  std::uint64_t high = 0;
};

// out[0, na + nb) = a * b, limb by limb, one column at a time. `out` must not
// overlap the factors.
void multiply_schoolbook(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out) {
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
void multiply_schoolbook_low(const limb* a, const limb* b, std::size_t n, limb* out) {
  column sum;
  for (std::size_t k = 0; k < n; ++k) {
    for (std::size_t i = 0; i <= k; ++i) {
      sum.add(std::uint64_t{a[i]} * b[k - i]);
    }
    out[k] = sum.take();
  }
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
std::size_t karatsuba_scratch(std::size_t n) {
  if (n < karatsuba_limbs) {
    return 0;
  }
  const std::size_t h = n - n / 2;
  return 6 * h + 1 + karatsuba_scratch(h);
}

// out[0, 2n) = a * b for factors of n limbs each. With a = a1 B^h + a0 and b
// alike (B = 10^9), a * b = z2 B^2h + (z0 + z2 - (a0 - a1)(b0 - b1)) B^h + z0
// with z0 = a0 b0 and z2 = a1 b1: three products of half the size.
void karatsuba(const limb* a, const limb* b, std::size_t n, limb* out, limb* scratch) {
  if (n < karatsuba_limbs) {
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
  karatsuba(a, b, h, out, deeper);                  // z0 in out[0, 2h)
  karatsuba(a + h, b + h, l, out + 2 * h, deeper);  // z2 in out[2h, 2n)
  const bool negative_a = abs_difference(a, h, a + h, l, da);
  const bool negative_b = abs_difference(b, h, b + h, l, db);
  karatsuba(da, db, h, dd, deeper);
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
void karatsuba_slices(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out) {
  if (nb < karatsuba_limbs) {
    multiply_schoolbook(a, na, b, nb, out);
    return;
  }
  limb_vector scratch(karatsuba_scratch(nb) + 3 * nb);
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
    carry_limbs(out + first + span, na + nb - first - span, add_limbs(out + first, product, span, out + first));
  }
}

// The scratch limbs multiply_low() needs for factors of n limbs.
std::size_t multiply_low_scratch(std::size_t n) {
  if (n < split_low_limbs) {
    return 0;
  }
  const std::size_t h = n - n / 2;
  return std::max(2 * h + karatsuba_scratch(h), n / 2 + multiply_low_scratch(n / 2));
}

// out[0, n) = (a * b) mod B^n for factors of n limbs. With the halves as in
// karatsuba(), z2 lies wholly above B^n and the cross products a1 b0 and a0 b1
// count only below B^(n-h): one full product of h limbs, two truncated ones.
void multiply_low(const limb* a, const limb* b, std::size_t n, limb* out, limb* scratch) {
  if (n < split_low_limbs) {
    multiply_schoolbook_low(a, b, n, out);
    return;
  }
  const std::size_t h = n - n / 2;
  const std::size_t l = n / 2;
  karatsuba(a, b, h, scratch, scratch + 2 * h);
  std::copy(scratch, scratch + n, out);
  limb* const cross = scratch;
  multiply_low(a + h, b, l, cross, cross + l);
  add_limbs(out + h, cross, l, out + h);
  multiply_low(a, b + h, l, cross, cross + l);
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
  // Short products take their limbs on the stack.
  std::array<limb, 3 * 32> small;
  limb_vector large(na + nb + std::max(na + nb, n) > small.size() ? na + nb + std::max(na + nb, n) : 0);
  limb* const la = large.empty() ? small.data() : large.data();
  limb* const lb = la + na;
  limb* const result = lb + nb;
  to_limbs(a, std::min(ca, na * limb_digits), la);
  to_limbs(b, std::min(cb, nb * limb_digits), lb);
  multiply_limbs_low(la, na, lb, nb, n, result);
  to_digits(result, kept, product);
}

// The value of the `count` digits at `digits`, at most nine.
limb word_of(const signed char* digits, std::size_t count) {
  limb value = 0;
  for (std::size_t i = count; i-- > 0;) {
    value = value * 10 + static_cast<limb>(digits[i]);
  }
  return value;
}

}  // namespace

void multiply_limbs(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out) {
  if (std::min(na, nb) >= transform_limbs && transform_fits(na, nb)) {
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
  __extension__ typedef unsigned __int128 uint128;
  if (uint128{2} * na * nb <= uint128{n} * n) {
    multiply_limbs(a, na, b, nb, out);
    std::fill(out + std::min(na + nb, n), out + n, 0);
  } else if (n >= transform_low_limbs && transform_fits(na, nb)) {
    // The transform's cost hardly depends on how much of the product is kept.
    multiply_transform(a, na, b, nb, out, std::min(na + nb, n));
  } else {
    limb_vector padded(2 * n + multiply_low_scratch(n));
    std::copy(a, a + na, padded.begin());
    std::copy(b, b + nb, padded.begin() + static_cast<std::ptrdiff_t>(n));
    multiply_low(padded.data(), padded.data() + n, n, out, padded.data() + 2 * n);
  }
}

void multiply_karatsuba(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out) {
  if (na < nb) {
    std::swap(a, b);
    std::swap(na, nb);
  }
  karatsuba_slices(a, na, b, nb, out);
}

void multiply_karatsuba_low(const limb* a, const limb* b, std::size_t n, limb* out) {
  limb_vector scratch(multiply_low_scratch(n));
  multiply_low(a, b, n, out, scratch.data());
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
    std::uint64_t value = std::uint64_t{word_of(a.data(), count_a)} * word_of(b.data(), count_b);
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

}  // namespace VELDAR::detail
