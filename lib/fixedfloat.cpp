#include "fixedfloat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string_view>

#include "logline.h"

namespace VELDAR {

namespace {

// A decimal number as text: its sign, its integer digits without leading
// zeros and its fraction digits without trailing zeros ("" for none).
struct decimaltext {
  bool minus = false;
  std::string_view integer;
  std::string_view fraction;
};

// The digits std::to_chars gives for `x` in fixed notation: the shortest text
// that reads back as the same float. `buffer` holds the text.
decimaltext splitfloat(float x, std::array<char, 128>& buffer) {
  const auto converted = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x, std::chars_format::fixed);
  // 128 characters hold every finite float: at most 39 integer or 47 fraction digits.
  std::string_view text(buffer.data(), static_cast<std::size_t>(converted.ptr - buffer.data()));
  decimaltext parts;
  parts.minus = text.front() == '-';
  text.remove_prefix(parts.minus ? 1 : 0);
  const std::size_t point = text.find('.');
  parts.integer = text.substr(0, point);
  parts.fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  parts.integer.remove_prefix(std::min(parts.integer.find_first_not_of('0'), parts.integer.size()));
  const std::size_t lastdigit = parts.fraction.find_last_not_of('0');
  parts.fraction = parts.fraction.substr(0, lastdigit == std::string_view::npos ? 0 : lastdigit + 1);
  return parts;
}

// Writes the decimal digits of `text` into `number`, its last digit at element
// `lowest`, its first digit above it.
void placedigits(fixedint& number, std::string_view text, std::size_t lowest) {
  std::transform(text.rbegin(), text.rend(), number.digits.begin() + static_cast<std::ptrdiff_t>(lowest),
                 [](char c) { return static_cast<signed char>(c - '0'); });
}

// A new number of `length` digits (logged as every length construction)
// holding the integer `text`, with the sign flag `negative`.
fixedint integerof(unsigned long long length, std::string_view text, bool negative) {
  fixedint number(length);
  placedigits(number, text, 0);
  number.negative = negative;
  return number;
}

// Drops the low `count` digits: 1234 shifted down by 2 -> 0012.
void shiftdown(std::vector<signed char>& digits, unsigned long long count) {
  const auto shift = static_cast<std::ptrdiff_t>(std::min<unsigned long long>(count, digits.size()));
  std::fill(std::copy(digits.begin() + shift, digits.end(), digits.begin()), digits.end(), 0);
}

// A copy of `number` (logged) widened to `length` digits (logged).
fixedint widened(fixedint& number, unsigned long long length) {
  fixedint copy = number.getcopy();
  copy.resize(length);
  return copy;
}

}  // namespace

// Construction.

fixedfloat::fixedfloat(unsigned long long length) : value(0) {
  detail::logline("Creating new fixedfloat object!");
  init(length);
}

fixedfloat::~fixedfloat() { detail::logline("Deleting fixedfloat object!"); }

void fixedfloat::init(unsigned long long length) {
  detail::logline("Init called on fixedfloat with length: ", length);
  if (length % 2 != 0) {
    throw std::runtime_error("length should be able to be divided by 2!");
  }
  detail::logline("Register size.");
  this->length = length;
  detail::logline("Init boolean properties.");
  issigned = true;
  negative = false;
  detail::logline("Init digits.");
  value = fixedint(length);
  detail::logline("Done.");
}

// Assignment.

fixedfloat& fixedfloat::operator=(fixedint v) {
  if (v.length < length / 2) {
    throw std::out_of_range("Val too small for fixedfloat!");
  }
  value = v;
  value.resize(length);
  updsign();
  // Scale to the fixed point, one multiplication by ten per fraction digit.
  for (unsigned long long i = 0; i < length / 2; ++i) {
    value = value * fixedint(length, 10);
  }
  return *this;
}

fixedfloat& fixedfloat::operator=(float x) {
  if (std::isnan(x)) {
    throw std::invalid_argument("Float is not a number!");
  }
  if (std::isinf(x)) {
    throw std::out_of_range("Input int bigger than size!");
  }
  std::array<char, 128> buffer{};
  const decimaltext parts = splitfloat(x, buffer);
  const unsigned long long half = length / 2;
  if (parts.integer.size() > half) {
    throw std::out_of_range("Input int bigger than size!");
  }
  if (parts.fraction.size() > half) {
    throw std::length_error("Fraction of float too big to fit in fixedfloat!");
  }
  // -0.0 has no sign; -0.5 keeps its sign although its integer part is 0.
  const bool minus = parts.minus && !(parts.integer.empty() && parts.fraction.empty());
  *this = integerof(half, parts.integer, minus);
  if (parts.fraction.empty()) {
    return *this;
  }
  // The fraction's first digit goes to the first place after the point.
  fixedint fraction(length);
  placedigits(fraction, parts.fraction, half - parts.fraction.size());
  value = value + fixedint(fraction);
  return *this;
}

// Parts and text.

void fixedfloat::updsign() {
  negative = value.negative;
  value.negative = false;
}

fixedint fixedfloat::getintpart() {
  fixedint part = value.getcopy();
  shiftdown(part.digits, length / 2);
  return part;
}

fixedint fixedfloat::getfractionpart() {
  fixedint part = value.getcopy();
  const auto half = static_cast<std::ptrdiff_t>(std::min<unsigned long long>(length / 2, part.digits.size()));
  std::fill(part.digits.begin() + half, part.digits.end(), 0);
  return part;
}

std::string fixedfloat::asstring() {
  std::string text = negative ? "-" : "";
  {
    fixedint integer = getintpart();
    text += integer.asstring();
    if (integer.digits.empty()) {
      text += '0';  // length 0: no integer digits at all
    }
  }
  text += '.';
  fixedint fraction = getfractionpart();
  fraction.negative = false;  // the fraction's digits only, whatever value's flag says
  if (fraction == fixedint(fraction.length)) {
    return text + '0';
  }
  const unsigned long long half = length / 2;
  fraction.resize(half);
  // Leading zeros back in front, trailing zeros off: 0500 -> "05".
  std::string digits = fraction.asstring();
  digits.insert(0, half - std::min<unsigned long long>(digits.size(), half), '0');
  digits.erase(digits.find_last_not_of('0') + 1);
  return text + digits;
}

// Arithmetic.

fixedfloat fixedfloat::operator*(fixedfloat other) {
  detail::logline("Multiplication operation in fixedfloat. (oh boy)");
  if (other.length != length) {
    throw std::length_error("Size is not equal!");
  }
  fixedfloat result(length);
  {
    // At twice the length no digit of the product is lost; then the point
    // moves left by half the length and the top digits go.
    fixedint product = widened(value, 2 * length) * widened(other.value, 2 * length);
    shiftdown(product.digits, length / 2);
    product.resize(length);
    result.value = product;
    result.value.negative = false;
  }
  result.negative = issigned && negative != other.negative;
  detail::logline("Done.");
  return result;
}

}  // namespace VELDAR
