#include "fixedint.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>

#include "diagnostics.h"

namespace VELDAR {

// Construction and assignment.

void fixedint::construct(unsigned long long n) {
  setup();
  length = n;
  log("New fixedint object!");
  log("Resizing Digits to: " + std::to_string(n));
  digits.resize(n);
  log("Done.");
}

fixedint::fixedint(unsigned long long length) { construct(length); }

// Not delegating: when the assignment throws, the object never existed and its
// destructor must not log.
fixedint::fixedint(unsigned long long length, long long value) {
  construct(length);
  *this = value;
}

fixedint::~fixedint() { log("Deleted fixedint object."); }

fixedint& fixedint::operator=(long long value) {
  std::array<char, 24> text{};
  const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
  static_cast<void>(error);  // 24 characters hold every long long
  const bool minus = text[0] == '-';
  char* first = text.data() + (minus ? 1 : 0);
  const auto count = static_cast<unsigned long long>(end - first);
  if (length < count) {
    throw std::out_of_range("Input int bigger than size!");
  }
  if (issigned) {
    negative = minus;
  }
  digits.assign(length, 0);
  std::transform(std::make_reverse_iterator(end), std::make_reverse_iterator(first), digits.begin(),
                 [](char c) { return static_cast<signed char>(c - '0'); });
  return *this;
}

// Digit operations.

void fixedint::resize(unsigned long long n) {
  log("Resize requested in fixedint.");
  length = n;
  log("Resizing Digits to: " + std::to_string(n));
  digits.resize(n, 0);
  log("Done.");
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
