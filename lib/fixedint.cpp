#include "fixedint.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "diagnostics.h"
#include "digits.h"
#include "fixedfloat.h"
#include "logline.h"

namespace VELDAR {

namespace {

using detail::digitvector;
using detail::significantcount;

// -1, 0 or 1 as the magnitude held in `a` is below, equal to or above `b`'s.
int comparemagnitude(const digitvector& a, const digitvector& b) {
  const std::size_t counta = significantcount(a);
  const std::size_t countb = significantcount(b);
  if (counta != countb) {
    return counta < countb ? -1 : 1;
  }
  const auto differ = std::mismatch(a.rend() - counta, a.rend(), b.rend() - countb);
  if (differ.first == a.rend()) {
    return 0;
  }
  return *differ.first < *differ.second ? -1 : 1;
}

// Sets `number` to the decimal digits `magnitude` (most significant first),
// negative when `minus` and `issigned` say so, keeping its length. Too many
// digits throw before anything changes.
void assignmagnitude(fixedint& number, std::string_view magnitude, bool minus) {
  if (number.length < magnitude.size()) {
    throw std::out_of_range("Input int bigger than size!");
  }
  if (number.digits.size() != number.length) {  // only after the fields were written directly
    digitvector room(number.length);              // may throw; nothing has changed yet
    number.digits.swap(room);
  }
  std::fill(number.digits.begin(), number.digits.end(), 0);
  std::transform(magnitude.rbegin(), magnitude.rend(), number.digits.begin(),
                 [](char c) { return static_cast<signed char>(c - '0'); });
  if (number.issigned) {
    number.negative = minus;
  }
}

// The decimal digits of `value`, as std::to_chars writes them, into `text`.
template <typename integer>
std::string_view decimaldigits(integer value, std::array<char, 24>& text) {
  const char* end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
  return {text.data(), static_cast<std::size_t>(end - text.data())};
}

// The addition of operands whose sign flags differ: the difference of the
// magnitudes, with the sign of the operand of larger magnitude.
fixedint signeddifference(fixedint& self, const fixedint& other) {
  fixedint a(self);
  fixedint b(other);
  fixedint result(self.length);
  if (a < b) {  // put the operand with the clear sign flag first
    a = b;
    b = self;
  }
  result.negative = a.negative;
  if (detail::subtractdigits(a.digits, b.digits, result.digits) > 0) {
    if (!detail::alldigits(a.digits) || !detail::alldigits(b.digits)) {
      // Elements outside 0 to 9 may borrow both ways round, and the second
      // round below would then call this again for ever: it is taken here.
      detail::subtractdigits(b.digits, a.digits, result.digits);
      result.negative = !a.negative;
      return result;
    }
    fixedint y = b.abs();
    result = y - a.abs();
    result.negative = !a.negative;
  }
  return result;
}

}  // namespace

// Construction and assignment.

void fixedint::construct(unsigned long long n) {
  setup();
  length = n;
  detail::logline("New fixedint object!");
  detail::logline("Resizing Digits to: ", n);
  digits.resize(n);
  detail::logline("Done.");
}

fixedint::fixedint(unsigned long long length) { construct(length); }

// Not delegating: when the assignment throws, the object never existed and its
// destructor must not log.
fixedint::fixedint(unsigned long long length, long long value) {
  construct(length);
  *this = value;
}

fixedint::~fixedint() { detail::logline("Deleted fixedint object."); }

fixedint& fixedint::operator=(const fixedint& other) {
  if (this == &other) {
    return *this;
  }
  if (digits.capacity() < other.digits.size()) {
    digitvector room(other.digits);  // may throw; nothing has changed yet
    digits.swap(room);
  } else {
    digits.assign(other.digits.begin(), other.digits.end());  // within the capacity: cannot throw
  }
  negative = other.negative;
  length = other.length;
  issigned = other.issigned;
  throwonoverflow = other.throwonoverflow;
  return *this;
}

fixedint& fixedint::operator=(long long value) {
  std::array<char, 24> text{};  // holds every long long
  const std::string_view magnitude = decimaldigits(value, text).substr(value < 0 ? 1 : 0);
  assignmagnitude(*this, magnitude, value < 0);
  return *this;
}

fixedint& fixedint::assignunsigned(unsigned long long value) {
  std::array<char, 24> text{};
  assignmagnitude(*this, decimaldigits(value, text), false);
  return *this;
}

fixedint& fixedint::operator=(const std::string& text) {
  const bool signedtext = !text.empty() && (text.front() == '-' || text.front() == '+');
  std::string_view magnitude(text);
  magnitude.remove_prefix(signedtext ? 1 : 0);
  if (magnitude.empty() ||
      !std::all_of(magnitude.begin(), magnitude.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    throw std::invalid_argument("Not a decimal number!");
  }
  magnitude.remove_prefix(std::min(magnitude.find_first_not_of('0'), magnitude.size()));
  assignmagnitude(*this, magnitude, text.front() == '-' && !magnitude.empty());
  return *this;
}

fixedint& fixedint::operator=(fixedfloat& f) {
  *this = f.getintpart();  // a move: nothing changes when getintpart() throws
  return *this;
}

// Digit operations.

void fixedint::resize(unsigned long long n) {
  detail::logline("Resize requested in fixedint.");
  detail::logline("Resizing Digits to: ", n);
  digits.resize(n, 0);  // may throw; `length` follows only once the digits are there
  length = n;
  detail::logline("Done.");
}

void fixedint::wholeshiftl() {
  if (digits.empty()) {
    return;
  }
  std::copy_backward(digits.begin(), digits.end() - 1, digits.end());
  digits.front() = 0;
}

void fixedint::wholeshiftr() {
  if (digits.empty()) {
    return;
  }
  std::copy(digits.begin() + 1, digits.end(), digits.begin());
  digits.back() = 0;
}

std::vector<signed char> fixedint::getshorteneddigits() {
  const auto top = std::find_if(digits.rbegin(), digits.rend(), [](signed char d) { return d != 0; });
  return {digits.begin(), top.base()};
}

// Comparison.

bool fixedint::operator==(fixedint other) { return std::equal_to<fixedint>{}(*this, other); }

bool fixedint::operator!=(fixedint other) { return !(*this == other); }

bool fixedint::operator>(fixedint other) {
  if (negative != other.negative) {
    return !negative;
  }
  const int magnitude = comparemagnitude(digits, other.digits);
  return negative ? magnitude < 0 : magnitude > 0;
}

bool fixedint::operator<(fixedint other) {
  int order = negative ? -1 : 1;  // as for >: the sign flag, then the magnitude
  if (negative == other.negative) {
    order *= comparemagnitude(digits, other.digits);
  }
  // The log reads as the copies of `other` that this operator has always
  // taken for > and != leave it: one, and two more when this is not greater.
  detail::logline("Deleted fixedint object.");
  if (order <= 0) {
    detail::logline("Deleted fixedint object.");
    detail::logline("Deleted fixedint object.");
  }
  return order < 0 || (order == 0 && length < other.length);
}

// Arithmetic.

fixedint fixedint::operator+(fixedint other) {
  if (other.length != length) {
    throw std::length_error("Int sizes are not equal!");
  }
  fixedint sum(length);
  if (issigned && negative != other.negative) {
    return signeddifference(*this, other);
  }
  sum.negative = negative;
  const int carry = detail::adddigits(digits, other.digits, sum.digits);
  if (carry > 0) {
    if (throwonoverflow) {
      throw std::overflow_error("Overflow occured.");
    }
    // This number takes the carry: its new digits are made before anything changes.
    digitvector carried(length, 0);
    digits.swap(carried);
    if (issigned) {
      negative = false;
    }
    if (carry > 9) {
      throw std::out_of_range("Carry over 9!");  // only after the fields were written directly; this number is 0
    }
    digits[0] = static_cast<signed char>(carry);
  }
  // Moved into the result, so that the working sum is destroyed (and logged) as well.
  return fixedint(std::move(sum));
}

fixedint fixedint::operator-(fixedint other) {
  if (other.length != length) {
    throw std::length_error("Int sizes are not equal!");
  }
  fixedint negated = other.getcopy();
  negated.flipsign();
  // The addition always respects the signs; our own flag comes back however it ends.
  struct restoresigned {
    fixedint& number;
    bool saved;
    ~restoresigned() { number.issigned = saved; }
  } guard{*this, issigned};
  issigned = true;
  return *this + negated;
}

fixedint fixedint::operator*(fixedint other) {
  if (other.length != length) {
    throw std::length_error("Int sizes are not equal!");
  }
  fixedint product(2 * length);
  if (significantcount(digits) + significantcount(other.digits) > product.digits.size()) {
    // Only when a digit vector is longer than `length`.
    throw std::out_of_range("Report this to dev: Out of range while running multiplication! Index: " +
                            std::to_string(product.digits.size()));
  }
  detail::multiplydigits(digits, other.digits, product.digits, length);
  if (issigned) {
    product.negative = negative != other.negative;
  }
  product.resize(length);
  return product;
}

// Copies and sign.

fixedint fixedint::getcopy() {
  fixedint copy(length);
  copy.negative = negative;
  copy.issigned = issigned;
  copy.throwonoverflow = throwonoverflow;
  copy.digits = digits;
  return copy;
}

fixedint fixedint::abs() {
  fixedint copy = getcopy();
  copy.negative = false;
  return copy;
}

fixedint& fixedint::flipsign() {
  negative = !negative;
  return *this;
}

std::string fixedint::asstring() {
  if (detail::alldigits(digits)) {
    // The significant digits, or one zero; the same text as below, made in one go.
    const std::size_t count = digits.empty() ? 0 : std::max<std::size_t>(significantcount(digits), 1);
    std::string text(negative ? 1 : 0, '-');
    text.resize(text.size() + count);
    const auto first = static_cast<std::ptrdiff_t>(count);
    std::transform(digits.rend() - first, digits.rend(), text.end() - first,
                   [](signed char d) { return static_cast<char>('0' + d); });
    return text;
  }
  std::string text;
  text.reserve(digits.size() + 1);
  std::for_each(digits.rbegin(), digits.rend(), [&text](signed char d) {
    if (d >= 0 && d <= 9) {
      text.push_back(static_cast<char>('0' + d));
    } else {
      text += std::to_string(d);  // only after the fields were misused
    }
  });
  if (text.size() > 1) {
    text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
  }
  if (negative) {
    text.insert(text.begin(), '-');
  }
  return text;
}

}  // namespace VELDAR

std::ostream& VELDAR::operator<<(std::ostream& out, const fixedint& number) {
  // asstring() changes nothing; it is not const only because no member is.
  return out << const_cast<fixedint&>(number).asstring();  // NOLINT(cppcoreguidelines-pro-type-const-cast)
}

std::size_t std::hash<VELDAR::fixedint>::operator()(const VELDAR::fixedint& number) const noexcept {
  const std::string_view bytes(reinterpret_cast<const char*>(number.digits.data()), number.digits.size());
  return std::hash<std::string_view>{}(bytes) ^ (number.negative ? 0x9e3779b97f4a7c15U : 0U);
}

bool std::equal_to<VELDAR::fixedint>::operator()(const VELDAR::fixedint& a, const VELDAR::fixedint& b) const noexcept {
  return a.negative == b.negative && a.digits == b.digits;
}
