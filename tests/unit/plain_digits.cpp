// The plain arithmetic and the operands of plain_digits.h.
#include "plain_digits.h"

#include <algorithm>

namespace veldar_test {

std::size_t significant(const digit_vector& x) {
  std::size_t n = x.size();
  while (n > 0 && x[n - 1] == 0) {
    --n;
  }
  return n;
}

digit_vector trimmed(digit_vector x) {
  x.resize(significant(x));
  return x;
}

namespace {

// Base 10^9 words of a digit vector, for the plain product.
std::vector<std::uint64_t> words(const digit_vector& x) {
  std::vector<std::uint64_t> out((x.size() + 8) / 9, 0);
  for (std::size_t i = x.size(); i-- > 0;) {
    out[i / 9] = out[i / 9] * 10 + static_cast<std::uint64_t>(x[i]);
  }
  return out;
}

}  // namespace

// Schoolbook product, one row of words at a time with the carry in 64 bits.
digit_vector product(const digit_vector& x, const digit_vector& y) {
  const auto wx = words(x);
  const auto wy = words(y);
  std::vector<std::uint64_t> out(wx.size() + wy.size() + 1, 0);
  for (std::size_t i = 0; i < wx.size(); ++i) {
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < wy.size(); ++j) {
      const std::uint64_t t = out[i + j] + wx[i] * wy[j] + carry;
      out[i + j] = t % limb_base;
      carry = t / limb_base;
    }
    for (std::size_t k = i + wy.size(); carry != 0; ++k) {
      const std::uint64_t t = out[k] + carry;
      out[k] = t % limb_base;
      carry = t / limb_base;
    }
  }
  digit_vector digits(out.size() * 9);
  for (std::size_t i = 0; i < out.size(); ++i) {
    std::uint64_t w = out[i];
    for (std::size_t k = 0; k < 9; ++k, w /= 10) {
      digits[9 * i + k] = static_cast<signed char>(w % 10);
    }
  }
  return trimmed(digits);
}

digit_vector sum(const digit_vector& x, const digit_vector& y) {
  digit_vector out(std::max(x.size(), y.size()) + 1, 0);
  int carry = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int s = (i < x.size() ? x[i] : 0) + (i < y.size() ? y[i] : 0) + carry;
    out[i] = static_cast<signed char>(s % 10);
    carry = s / 10;
  }
  return trimmed(out);
}

// x - y for x >= y.
digit_vector difference(const digit_vector& x, const digit_vector& y) {
  digit_vector out(x.size(), 0);
  int borrow = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int d = x[i] - (i < y.size() ? y[i] : 0) - borrow;
    borrow = d < 0 ? 1 : 0;
    out[i] = static_cast<signed char>(d + 10 * borrow);
  }
  return trimmed(out);
}

bool less(const digit_vector& x, const digit_vector& y) {
  const std::size_t nx = significant(x);
  const std::size_t ny = significant(y);
  if (nx != ny) {
    return nx < ny;
  }
  for (std::size_t i = nx; i-- > 0;) {
    if (x[i] != y[i]) {
      return x[i] < y[i];
    }
  }
  return false;
}

u128 value(const digit_vector& x) {
  u128 v = 0;
  for (std::size_t i = x.size(); i-- > 0;) {
    v = v * 10 + static_cast<u128>(x[i]);
  }
  return v;
}

digit_vector digits_of(u128 v, std::size_t size) {
  digit_vector out(size, 0);
  for (std::size_t i = 0; v != 0; ++i, v /= 10) {
    out.at(i) = static_cast<signed char>(v % 10);
  }
  return out;
}

digit_vector digits_of(u128 v) {
  digit_vector out;
  for (; v != 0; v /= 10) {
    out.push_back(static_cast<signed char>(v % 10));
  }
  return out;
}

std::string text(const digit_vector& x) {
  std::string s;
  for (auto it = x.rbegin(); it != x.rend(); ++it) {
    s += static_cast<char>('0' + *it);
  }
  if (s.size() > 120) {
    s = s.substr(0, 50) + "..." + s.substr(s.size() - 50) + " (" + std::to_string(s.size()) + " digits)";
  }
  return s.empty() ? "(empty)" : s;
}

std::vector<std::uint64_t> limb_product_plus(const VELDAR::detail::limb_vector& x, const VELDAR::detail::limb_vector& y,
                                             const VELDAR::detail::limb_vector& r, std::size_t size) {
  std::vector<std::uint64_t> out(size, 0);
  for (std::size_t i = 0; i < x.size(); ++i) {
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < y.size(); ++j) {
      const std::uint64_t t = out.at(i + j) + std::uint64_t{x[i]} * y[j] + carry;
      out[i + j] = t % limb_base;
      carry = t / limb_base;
    }
    for (std::size_t k = i + y.size(); carry != 0; ++k) {
      const std::uint64_t t = out.at(k) + carry;
      out[k] = t % limb_base;
      carry = t / limb_base;
    }
  }
  std::uint64_t carry = 0;
  for (std::size_t k = 0; k < out.size(); ++k) {
    const std::uint64_t t = out[k] + (k < r.size() ? r[k] : 0) + carry;
    out[k] = t % limb_base;
    carry = t / limb_base;
  }
  return out;
}

const char* const shape_names[] = {"uniform", "nonzero", "nines", "sparse", "power", "limbs"};

digit_vector make_number(std::mt19937_64& rng, std::size_t count, shape s, const std::vector<std::uint32_t>& edges) {
  digit_vector x(count, 0);
  auto digit = [&rng](int low, int high) {
    return static_cast<signed char>(std::uniform_int_distribution<int>(low, high)(rng));
  };
  for (std::size_t i = 0; i < count; ++i) {
    switch (s) {
      case shape::uniform:
        x[i] = digit(0, 9);
        break;
      case shape::nonzero:
        x[i] = digit(1, 9);
        break;
      case shape::nines:
        x[i] = 9;
        break;
      case shape::sparse:
        x[i] = digit(0, 15) == 0 ? digit(1, 9) : 0;
        break;
      case shape::power:
        break;
      case shape::limbs:
      case shape::count:
        break;
    }
  }
  if (s == shape::limbs) {
    for (std::size_t first = 0; first < count; first += 9) {
      std::uint32_t w = digit(0, 2) == 0 ? static_cast<std::uint32_t>(rng() % limb_base) : edges[rng() % edges.size()];
      for (std::size_t i = first; i < std::min(first + 9, count); ++i, w /= 10) {
        x[i] = static_cast<signed char>(w % 10);
      }
    }
  }
  if (count > 0 && x[count - 1] == 0) {
    x[count - 1] = s == shape::power ? 1 : digit(1, 9);
  }
  return x;
}

shape random_shape(std::mt19937_64& rng) { return static_cast<shape>(rng() % static_cast<unsigned>(shape::count)); }

digit_vector with_leading_zeros(std::mt19937_64& rng, digit_vector x) {
  if (rng() % 3 == 0) {
    x.resize(x.size() + rng() % 20, 0);
  }
  return x;
}

}  // namespace veldar_test
