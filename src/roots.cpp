// Square roots and powers on base 10^9 limbs (roots.h).
//
// Square roots. A number of at most 38 digits (word_root_digits) is one
// 128-bit word: its root comes from the double's square root, one Newton step
// in integers and a last correction by one. Longer ones go to limbs, and
// square_root_limbs() takes a Newton step with doubling precision on top of
// the root of the number's upper half (Zimmermann's "Karatsuba square root"),
// down to numbers of word_root_limbs limbs, which are one word again. For
// m = a3 b^3 + a2 b^2 + a1 b + a0 with b = B^l, a2, a1, a0 < b and a3 >= b
// (l = floor((n - 1) / 4) for m of n limbs):
//   - s' = floor(sqrt(a3 b + a2)) and r' = a3 b + a2 - s'^2, by recursion;
//   - q = floor((r' b + a1) / 2s') and u its remainder (divide_limbs());
//   - s = s' b + q and r = u b + a0 - q^2 = m - s^2 (multiply_limbs());
//   - when r < 0: s - 1, r + 2s - 1.
// q is floor((m - t^2) / 2t) for t = s' b, the Newton step from t (the
// remainder's low part a0 < b does not change the floor), so s >= (t + m / t)
// / 2 >= sqrt(m) rounded down; and s exceeds sqrt(m) by at most
// (sqrt(m) - t)^2 / 2t < b^2 / 2t <= 1/2, as sqrt(m) < (s' + 1) b and
// s' >= b: s is the root or one more, which the sign of r tells. The step
// costs one division of 2l limbs by l and one square of l limbs, and the
// levels halve: about two divisions of half the root's limbs by a quarter in
// all. Before its correction s may be B^h (m all nines), a limb more than the
// root has.
//
// Powers. a^n modulo 10^kept: the trailing zeros of a come out first (10^tn,
// zero from tn >= kept), then binary exponentiation from the top bit of n,
// one square and, for a bit 1, one product by a: in machine words up to
// word_power_digits kept digits, else on limbs modulo B^K for the K limbs
// that hold the kept digits, each product truncated to K limbs
// (multiply_limbs_low()) and then to its significant limbs, so that an exact
// power grows from a's size and costs little more than its last square.
#include "roots.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>

#include "platform.h"
#include "products.h"
#include "quotients.h"
#include "scratch.h"

namespace VELDAR::detail {

namespace {

using word = std::uint64_t;

// floor(sqrt(v)) for v < 10^38: the double's root is within about 2^-52 of
// the true one, a few thousand at most; one Newton step in integers from it,
// floor((s + floor(v / s)) / 2), lands on the root or just above it (never
// below: (s + v / s) / 2 >= sqrt(v) for every s > 0), and the last loop
// steps down to it.
word word_square_root(uint128 v) {
  if (v == 0) {
    return 0;
  }
  auto s = static_cast<uint128>(std::sqrt(static_cast<double>(v)));
  s = s == 0 ? 1 : s;
  s = (s + v / s) / 2;
  while (s * s > v) {
    --s;
  }
  return static_cast<word>(s);
}

// The number of limbs below the most significant non-zero one of x[0, n).
std::size_t significant_limbs(const limb* x, std::size_t n) {
  while (n > 0 && x[n - 1] == 0) {
    --n;
  }
  return n;
}

// The value of the limbs x[0, n), n <= 4.
uint128 wide_value(const limb* x, std::size_t n) {
  uint128 v = 0;
  for (std::size_t i = n; i-- > 0;) {
    v = v * limb_base + x[i];
  }
  return v;
}

// x[0, n) = the limbs of v, the top ones zeros.
void put_wide(uint128 v, limb* x, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i, v /= limb_base) {
    x[i] = static_cast<limb>(v % limb_base);
  }
}

// s[0, h) = floor(sqrt(m)) and r[0, h + 1) = m - s^2 for m[0, n), n >= 1,
// m[n - 1] != 0, h = (n + 1) / 2, by the Newton step above.
void root_of_limbs(const limb* m, std::size_t n, limb* s, limb* r) {
  const std::size_t h = (n + 1) / 2;
  if (n <= word_root_limbs) {
    const uint128 v = wide_value(m, n);
    const word root = word_square_root(v);
    put_wide(root, s, h);
    put_wide(v - uint128{root} * root, r, h + 1);
    return;
  }
  const std::size_t l = (n - 1) / 4;    // b = B^l
  const std::size_t tn = n - 2 * l;     // a3 b + a2, at least 2l + 1 limbs
  const std::size_t th = (tn + 1) / 2;  // s' has exactly th significant limbs; h = l + th
  scratch_frame frame;
  limb* const upper_root = frame.take<limb>(th);
  limb* const upper_rest = frame.take<limb>(th + 1);
  root_of_limbs(m + 2 * l, tn, upper_root, upper_rest);

  // q, u = (r' b + a1) divided by 2s'. q <= b: at most l + 1 limbs, room for l + 2.
  limb* const divisor = frame.take<limb>(th + 1);
  divisor[th] = add_limbs(upper_root, upper_root, th, divisor);
  const std::size_t nd = significant_limbs(divisor, th + 1);
  limb* const dividend = frame.take<limb>(l + th + 1);
  std::copy(m + l, m + 2 * l, dividend);
  std::copy(upper_rest, upper_rest + th + 1, dividend + l);
  const std::size_t nn = significant_limbs(dividend, l + th + 1);
  limb* const quotient = frame.take<limb>(std::max(l + 2, nn + 1));
  limb* const rest = frame.take<limb>(nd);
  std::fill(quotient, quotient + std::max(l + 2, nn + 1), 0);
  if (nn < nd) {
    std::fill(std::copy(dividend, dividend + nn, rest), rest + nd, 0);
  } else {
    divide_limbs(dividend, nn, divisor, nd, quotient, rest);
  }

  // s = s' b + q, on h + 1 limbs (it may be B^h before the correction).
  limb* const root = frame.take<limb>(h + 1);
  std::copy(quotient, quotient + l, root);
  std::copy(upper_root, upper_root + th, root + l);
  root[h] = 0;
  carry_limbs(root + l, th + 1, quotient[l]);  // q's top: 0, or 1 for q = b

  // r = u b + a0 - q^2 on h + 1 limbs, which hold 2l + 2 >= q^2's limbs.
  limb* const remainder = frame.take<limb>(h + 1);
  limb* const square = frame.take<limb>(h + 1);
  std::fill(square, square + h + 1, 0);
  const std::size_t nq = significant_limbs(quotient, l + 1);
  if (nq != 0) {
    multiply_limbs(quotient, nq, quotient, nq, square);
  }
  std::copy(m, m + l, remainder);
  std::fill(std::copy(rest, rest + nd, remainder + l), remainder + h + 1, 0);
  if (subtract_limbs(remainder, square, h + 1, remainder) != 0) {
    // r < 0, held as r + B^(h+1): r + 2s - 1 lies in [0, 2(s - 1)], so the
    // sums may run past B^(h+1) and their carries are dropped.
    add_limbs(remainder, root, h + 1, remainder);
    add_limbs(remainder, root, h + 1, remainder);
    borrow_limbs(remainder, h + 1, 1);
    borrow_limbs(root, h + 1, 1);
  }
  std::copy(root, root + h, s);  // root[h] is zero now
  std::copy(remainder, remainder + h + 1, r);
}

// Whether x[0, n) > y[0, n).
bool greater_limbs(const limb* x, const limb* y, std::size_t n) {
  for (std::size_t i = n; i-- > 0;) {
    if (x[i] != y[i]) {
      return x[i] > y[i];
    }
  }
  return false;
}

// The value of `count` digits 0 to 9 at `digits`, count <= 38: two machine
// words of at most 19 digits each.
uint128 wide_digits(const signed char* digits, std::size_t count) {
  if (count <= word_width) {
    return word_of_digits(digits, count);
  }
  return uint128{word_of_digits(digits + word_width, count - word_width)} * power_of_ten(word_width) +
         word_of_digits(digits, word_width);
}

// digits[0, count) = the low `count` digits of v.
void put_wide_digits(uint128 v, signed char* digits, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i, v /= 10) {
    digits[i] = static_cast<signed char>(v % 10);
  }
}

// ---- Powers.

// a^n mod 10^kept for a < 10^kept, 1 <= kept <= word_power_digits, n >= 1:
// from the top bit of n down, a square and, for a bit 1, a product by a, each
// in 128 bits and brought below 10^kept.
word word_power(word a, unsigned long long n, std::size_t kept) {
  const word modulus = power_of_ten(kept);
  word x = a;
  for (int bit = 62 - __builtin_clzll(n); bit >= 0; --bit) {
    x = static_cast<word>(uint128{x} * x % modulus);
    if ((n >> bit) & 1U) {
      x = static_cast<word>(uint128{x} * a % modulus);
    }
  }
  return x;
}

// out[0, kept) = a^n mod 10^kept for the `count` digits 0 to 9 at `a`, its
// lowest digit not zero, n >= 2, kept > word_power_digits; out starts at zero.
void limb_power(const signed char* a, std::size_t count, unsigned long long n, std::size_t kept, signed char* out) {
  const std::size_t k = limbs_for(kept);
  scratch_frame frame;
  limb* const base = frame.take<limb>(k);
  limb* x = frame.take<limb>(2 * k);
  limb* y = frame.take<limb>(2 * k);
  const std::size_t digits = std::min(count, k * limb_digits);
  to_limbs(a, digits, base);
  const std::size_t nb = significant_limbs(base, limbs_for(digits));  // not zero: a's lowest digit is not
  std::copy(base, base + nb, x);
  std::size_t nx = nb;
  for (int bit = 62 - __builtin_clzll(n); bit >= 0; --bit) {
    std::size_t kept_limbs = std::min(2 * nx, k);
    multiply_limbs_low(x, nx, x, nx, kept_limbs, y);
    std::swap(x, y);
    nx = significant_limbs(x, kept_limbs);
    if ((n >> bit) & 1U) {
      kept_limbs = std::min(nx + nb, k);
      multiply_limbs_low(x, nx, base, nb, kept_limbs, y);
      std::swap(x, y);
      nx = significant_limbs(x, kept_limbs);
    }
    // a is not a multiple of 10, nor then any power of it: nx stays above 0.
  }
  to_digits(x, std::min(kept, nx * limb_digits), out);
}

// Whether n * t, for t > 0, is at least `bound`.
bool product_reaches(unsigned long long n, std::size_t t, std::size_t bound) { return n >= (bound + t - 1) / t; }

std::size_t saturated_sum(std::size_t x, std::size_t y) {
  return x > std::numeric_limits<std::size_t>::max() - y ? std::numeric_limits<std::size_t>::max() : x + y;
}

std::size_t saturated_product(unsigned long long n, std::size_t t) {
  if (t != 0 && n > std::numeric_limits<std::size_t>::max() / t) {
    return std::numeric_limits<std::size_t>::max();
  }
  return static_cast<std::size_t>(n * t);
}

}  // namespace

void square_root_limbs(const limb* m, std::size_t n, limb* s, limb* r) {
  const std::size_t h = (n + 1) / 2;
  const std::size_t count = significant_limbs(m, n);
  scratch_frame frame;
  limb* const root = frame.take<limb>(2 * h + 1);
  limb* const rest = root + h;
  std::fill(root, root + 2 * h + 1, 0);
  if (count != 0) {
    root_of_limbs(m, count, root, rest);  // (count + 1) / 2 and one more limbs, the rest zeros
  }
  std::copy(root, root + h, s);
  std::copy(rest, rest + h + 1, r);
}

square_root_rest square_root_digits(const digit_vector& n, digit_vector& root) {
  const std::size_t size = (n.size() + 1) / 2;
  const std::size_t count = significant_count(n);
  square_root_rest result;
  if (count <= word_root_digits) {
    const uint128 v = wide_digits(n.data(), count);
    const word s = word_square_root(v);
    const uint128 r = v - uint128{s} * s;
    result.exact = r == 0;
    result.above_half = r > s;
    root.reserve(size);  // nothing changes when this throws
    root.assign(size, 0);
    put_wide_digits(s, root.data(), std::min<std::size_t>(size, 20));
    return result;
  }
  const std::size_t nm = limbs_for(count);
  const std::size_t h = (nm + 1) / 2;
  scratch_frame frame;
  limb* const m = frame.take<limb>(nm + 2 * h + 1);
  limb* const s = m + nm;
  limb* const r = s + h;
  to_limbs(n.data(), count, m);
  root_of_limbs(m, nm, s, r);
  result.exact = significant_limbs(r, h + 1) == 0;
  result.above_half = r[h] != 0 || greater_limbs(r, s, h);
  root.reserve(size);
  root.assign(size, 0);
  // The root has at most (count + 1) / 2 <= size digits: the limbs above them hold zeros.
  to_digits(s, std::min(size, h * limb_digits), root.data());
  return result;
}

void round_square_root(digit_vector& root, const square_root_rest& rest, rounding mode) {
  // No tie: the last digit's parity never decides.
  if (!rounds_up(mode, false, rest.above_half ? 1 : -1, !rest.exact, false)) {
    return;
  }
  if (std::all_of(root.begin(), root.end(), [](signed char d) { return d == 9; })) {
    root.reserve(root.size() + 1);  // nothing changes when this throws
    std::fill(root.begin(), root.end(), 0);
    root.push_back(1);
    return;
  }
  increment_digits(root);
}

void power_digits(const digit_vector& a, unsigned long long n, std::size_t kept, digit_vector& result) {
  digit_vector power;
  if (kept > power.max_size()) {
    throw std::bad_alloc();
  }
  power.assign(kept, 0);
  const std::size_t count = significant_count(a);
  if (kept == 0) {
    // nothing to keep
  } else if (n == 0) {
    power[0] = 1;
  } else if (count != 0) {
    // a = a' 10^t with a' not a multiple of 10: a^n = a'^n 10^(tn).
    const std::size_t t =
        static_cast<std::size_t>(std::find_if(a.begin(), a.end(), [](signed char d) { return d != 0; }) - a.begin());
    if (t == 0 || !product_reaches(n, t, kept)) {
      const std::size_t shift = static_cast<std::size_t>(n * t);  // below kept
      const std::size_t places = kept - shift;                    // the digits a'^n keeps
      const signed char* const digits = a.data() + t;
      const std::size_t width = count - t;
      signed char* const out = power.data() + shift;
      if (n == 1 || (width == 1 && digits[0] == 1)) {
        std::copy(digits, digits + std::min(width, places), out);
      } else if (places <= word_power_digits) {
        const auto x = static_cast<word>(wide_digits(digits, std::min(width, places)));
        put_wide_digits(word_power(x, n, places), out, places);
      } else {
        limb_power(digits, width, n, places, out);
      }
    }
  }
  result.swap(power);
}

std::size_t power_digits_bound(const digit_vector& a, unsigned long long n) {
  const std::size_t count = significant_count(a);
  if (n == 0) {
    return 1;
  }
  if (count == 0 || n == 1) {
    return count;
  }
  const std::size_t t =
      static_cast<std::size_t>(std::find_if(a.begin(), a.end(), [](signed char d) { return d != 0; }) - a.begin());
  const std::size_t width = count - t;
  const std::size_t zeros = saturated_product(n, t);
  if (width == 1 && a[t] == 1) {
    return saturated_sum(zeros, 1);
  }
  // a' < (top + 1) 10^(width - k) for its top k <= 15 digits (exactly a'
  // when it has no more): a'^n has at most floor(n log10 a') + 1 digits.
  constexpr std::size_t top_digits = 15;  // below 2^53: exact in a double
  const std::size_t k = std::min(width, top_digits);
  const auto top = static_cast<double>(wide_digits(a.data() + count - k, k));
  const double logarithm = std::log10(width > k ? top + 1 : top);
  // The double's product is within a few units of 2^-53 (10^-16) of the true
  // one: a margin of 10^-14 of it covers that. It and the top's + 1 make the
  // bound at most two above the count while n is below 10^12.
  const double digits = static_cast<double>(n) * logarithm * (1 + 1e-14) + 2;
  constexpr std::size_t most = std::numeric_limits<std::size_t>::max();
  if (!(digits < 18446744073709551616.0)) {  // 2^64
    return most;
  }
  const auto part = static_cast<unsigned long long>(digits);
  return saturated_sum(saturated_sum(zeros, saturated_product(n, width - k)),
                       part > most ? most : static_cast<std::size_t>(part));
}

}  // namespace VELDAR::detail
