#include "fixedfloat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "diagnostics.h"
#include "digits.h"
#include "logline.h"

namespace VELDAR {

namespace {

using detail::digitvector;

// A decimal number as text: its sign, its integer digits without leading
// zeros and its fraction digits without trailing zeros ("" for none).
struct decimaltext {
  bool minus = false;
  std::string_view integer;
  std::string_view fraction;
};

bool alldigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Splits an optional sign, integer digits, and optionally "." and fraction
// digits, with at least one digit in all: "-0.05", "1200.05", ".5" and "5."
// are numbers; "", ".", "1e3" and " 1" are not (std::nullopt).
std::optional<decimaltext> splitdecimal(std::string_view text) {
  decimaltext parts;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    parts.minus = text.front() == '-';
    text.remove_prefix(1);
  }
  const std::size_t point = text.find('.');
  parts.integer = text.substr(0, point);
  parts.fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (parts.integer.size() + parts.fraction.size() == 0 || !alldigits(parts.integer) ||
      !alldigits(parts.fraction)) {
    return std::nullopt;
  }
  parts.integer.remove_prefix(std::min(parts.integer.find_first_not_of('0'), parts.integer.size()));
  const std::size_t lastdigit = parts.fraction.find_last_not_of('0');
  parts.fraction = parts.fraction.substr(0, lastdigit == std::string_view::npos ? 0 : lastdigit + 1);
  return parts;
}

// The digits std::to_chars gives for a finite `x` in fixed notation: the
// shortest text that reads back as the same float. `buffer` holds the text.
decimaltext splitfloat(float x, std::array<char, 128>& buffer) {
  // 128 characters hold every finite float: at most 39 integer or 47 fraction digits.
  const auto converted = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x, std::chars_format::fixed);
  return *splitdecimal({buffer.data(), static_cast<std::size_t>(converted.ptr - buffer.data())});
}

// Writes the decimal digits of `text` into `digits`, its last digit at
// element `lowest`, its first digit above it.
void placedigits(digitvector& digits, std::string_view text, std::size_t lowest) {
  std::transform(text.rbegin(), text.rend(), digits.begin() + static_cast<std::ptrdiff_t>(lowest),
                 [](char c) { return static_cast<signed char>(c - '0'); });
}

// The log lines of the fixedint steps that the assignments take without
// making the numbers: their digits are placed directly, while the log reads
// exactly as if every step had been taken with a real temporary.
void logconstruction(unsigned long long length) {
  setup();
  detail::logline("New fixedint object!");
  detail::logline("Resizing Digits to: ", length);
  detail::logline("Done.");
}

void logresize(unsigned long long length) {
  detail::logline("Resize requested in fixedint.");
  detail::logline("Resizing Digits to: ", length);
  detail::logline("Done.");
}

void logdeletion() { detail::logline("Deleted fixedint object."); }

// Scaling an integer to the fixed point, one multiplication by ten per
// fraction place: the ten, the product at twice the length cut back to the
// length, and the two deletions.
void logscaling(unsigned long long length) {
  for (unsigned long long i = 0; i < length / 2; ++i) {
    logconstruction(length);
    logconstruction(2 * length);
    logresize(length);
    logdeletion();
    logdeletion();
  }
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

// Sets `number` to the decimal number `parts`. Both digit counts are checked
// before anything changes; the new digits are placed aside and taken over at
// the end. The log tells the steps the value takes: the integer part arrives
// through a fixedint of length/2 digits, is widened and scaled, and the
// fraction, in a fixedint of `length` digits, is added to it.
void assigndecimal(fixedfloat& number, const decimaltext& parts) {
  const unsigned long long length = number.length;
  const unsigned long long half = length / 2;
  if (parts.integer.size() > half) {
    throw std::out_of_range("Input int bigger than size!");
  }
  if (parts.fraction.size() > half) {
    throw std::length_error("Fraction of float too big to fit in fixedfloat!");
  }
  digitvector digits(length, 0);
  placedigits(digits, parts.integer, half);
  // The fraction's first digit goes to the first place after the point.
  placedigits(digits, parts.fraction, half - parts.fraction.size());

  logconstruction(half);  // the integer part
  logresize(length);      // widened to the length
  logscaling(length);
  logdeletion();
  if (!parts.fraction.empty()) {
    logconstruction(length);  // the fraction
    logconstruction(length);  // the working sum of the value and the fraction
    logdeletion();            // the working sum
    logdeletion();            // the sum, once the value has taken it
    logdeletion();            // the copy of the fraction that was added
    logdeletion();            // the fraction
  }

  fixedint& value = number.value;
  value.digits.swap(digits);
  value.length = length;
  value.negative = false;
  value.issigned = true;  // the flags every product and sum carries
  value.throwonoverflow = false;
  // -0.0 has no sign; -0.5 keeps its sign although its integer part is 0.
  number.negative = parts.minus && !(parts.integer.empty() && parts.fraction.empty());
}

bool iszero(const fixedfloat& number) { return detail::significantcount(number.value.digits) == 0; }

// -1, 0 or 1 as a's value is below, equal to or above b's; same lengths.
int comparevalues(const fixedfloat& a, const fixedfloat& b) {
  const auto sign = [](const fixedfloat& x) { return iszero(x) ? 0 : x.negative ? -1 : 1; };
  const int signa = sign(a);
  const int signb = sign(b);
  if (signa != signb || signa == 0) {
    return signa < signb ? -1 : signa > signb ? 1 : 0;
  }
  const auto& da = a.value.digits;
  const auto& db = b.value.digits;
  const auto differ = std::mismatch(da.rbegin(), da.rend(), db.rbegin(), db.rend());
  if (differ.first == da.rend()) {
    return 0;
  }
  return (*differ.first < *differ.second ? -1 : 1) * signa;
}

// A comparison as the operators make it: logged on entry and at the end.
template <typename test>
bool compare(const fixedfloat& a, const fixedfloat& b, std::string_view symbol, test holds) {
  detail::logline("Comparison operation in fixedfloat (" + std::string(symbol) + ").");
  if (a.length != b.length) {
    throw std::length_error("Size is not equal!");
  }
  const bool result = holds(comparevalues(a, b));
  detail::logline("Done.");
  return result;
}

// The value of `number` with its sign, as a copy (logged) that adds with the
// signs respected and hands no carry back into `number`.
fixedint signedvalue(fixedfloat& number) {
  fixedint copy = number.value.getcopy();
  copy.negative = number.negative;
  copy.issigned = true;
  copy.throwonoverflow = false;
  return copy;
}

// a + b or a - b on signed copies of the values, logged under `name`.
fixedfloat signedsum(fixedfloat& a, fixedfloat& b, bool subtract, std::string_view name) {
  detail::logline(name);
  if (a.length != b.length) {
    throw std::length_error("Size is not equal!");
  }
  fixedfloat result(a.length);
  {
    fixedint left = signedvalue(a);
    fixedint right = signedvalue(b);
    result.value = subtract ? left - right : left + right;
    result.updsign();
  }
  result.negative = result.negative && !iszero(result);  // the top digits may wrap to -0
  detail::logline("Done.");
  return result;
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
  detail::logline("Init boolean properties.");
  detail::logline("Init digits.");
  value = fixedint(length);  // first, so that nothing changes when the digits cannot be had
  this->length = length;
  issigned = true;
  negative = false;
  detail::logline("Done.");
}

// Assignment.

fixedfloat& fixedfloat::operator=(fixedint v) {
  if (v.length < length / 2) {
    throw std::out_of_range("Val too small for fixedfloat!");
  }
  // The work is done on `v`, this call's own copy, and taken over at the end.
  const unsigned long long half = length / 2;
  v.resize(length);
  const bool minus = v.negative;
  v.negative = false;
  if (detail::alldigits(v.digits)) {
    // Times 10^half, as half multiplications by ten would leave it: the low
    // half moves up, with the flags of a product.
    std::copy_backward(v.digits.begin(), v.digits.end() - static_cast<std::ptrdiff_t>(half), v.digits.end());
    std::fill_n(v.digits.begin(), half, 0);
    if (half > 0) {
      v.issigned = true;
      v.throwonoverflow = false;
    }
    logscaling(length);
  } else {
    // Elements outside 0 to 9 (only from writing the fields) carry as the product makes them.
    for (unsigned long long i = 0; i < half; ++i) {
      v = v * fixedint(length, 10);
    }
  }
  value = std::move(v);
  negative = minus;
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
  assigndecimal(*this, splitfloat(x, buffer));
  return *this;
}

fixedfloat& fixedfloat::operator=(const std::string& text) {
  const std::optional<decimaltext> parts = splitdecimal(text);
  if (!parts) {
    throw std::invalid_argument("Not a decimal number!");
  }
  assigndecimal(*this, *parts);
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

fixedfloat fixedfloat::operator+(fixedfloat other) {
  return signedsum(*this, other, false, "Addition operation in fixedfloat.");
}

fixedfloat fixedfloat::operator-(fixedfloat other) {
  return signedsum(*this, other, true, "Subtraction operation in fixedfloat.");
}

// Comparison.

bool fixedfloat::operator==(fixedfloat other) {
  return compare(*this, other, "==", [](int order) { return order == 0; });
}

bool fixedfloat::operator!=(fixedfloat other) {
  return compare(*this, other, "!=", [](int order) { return order != 0; });
}

bool fixedfloat::operator<(fixedfloat other) {
  return compare(*this, other, "<", [](int order) { return order < 0; });
}

bool fixedfloat::operator>(fixedfloat other) {
  return compare(*this, other, ">", [](int order) { return order > 0; });
}

bool fixedfloat::operator<=(fixedfloat other) {
  return compare(*this, other, "<=", [](int order) { return order <= 0; });
}

bool fixedfloat::operator>=(fixedfloat other) {
  return compare(*this, other, ">=", [](int order) { return order >= 0; });
}

std::ostream& operator<<(std::ostream& out, const fixedfloat& number) {
  // asstring() changes nothing; it is not const only because no member is.
  return out << const_cast<fixedfloat&>(number).asstring();  // NOLINT(cppcoreguidelines-pro-type-const-cast)
}

}  // namespace VELDAR

std::size_t std::hash<VELDAR::fixedfloat>::operator()(const VELDAR::fixedfloat& number) const noexcept {
  const auto& digits = number.value.digits;
  const std::string_view bytes(reinterpret_cast<const char*>(digits.data()), digits.size());
  const bool negative = number.negative && !VELDAR::iszero(number);
  return std::hash<std::string_view>{}(bytes) ^ (negative ? 0x9e3779b97f4a7c15U : 0U);
}

bool std::equal_to<VELDAR::fixedfloat>::operator()(const VELDAR::fixedfloat& a,
                                                    const VELDAR::fixedfloat& b) const noexcept {
  return a.length == b.length && VELDAR::comparevalues(a, b) == 0;
}
