/// @file
///
/// Formatting with {fmt} and std::format, optional: include this header where
/// `<fmt/format.h>` or `<format>` is available; the library itself needs neither.
///
/// The format spec is [[fill]align][sign][0][width][.precision][type]:
/// ```
///   fmt::format("{}", x)        -> x.asstring()'s text: "-2.5"
///   fmt::format("{:+}", x)      -> "+2.5" for 2.5; ' ' puts a blank instead
///   fmt::format("{:*^9}", x)    -> "**-2.5***": fill, align (<, >, ^), width
///   fmt::format("{:08.2f}", x)  -> "-0002.50": zeros after the sign
///   fmt::format("{:.2f}", x)    -> x.tofixed(2) (rounded half to even),
///                                  fixedfloat only; "d" and "f" are the types;
///                                  a precision past the number's fraction
///                                  digits pads with zeros: "{:.6f}" of 2.5
///                                  at length 4 -> "2.500000"
/// ```
/// Numbers align right unless told otherwise. A format spec the numbers do
/// not take throws fmt::format_error (std::format_error), or fails to compile
/// where the format string is checked at compile time: what() is "veldar:
/// unknown format spec" for "{:e}", "veldar: a fixedint takes no precision"
/// for "{:.2}" of a fixedint, "veldar: a precision needs digits" for "{:.f}",
/// and "veldar: number is too big" for a width or precision past INT_MAX.
/// Formatting logs nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <type_traits>
#include <vector>

#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>

#if __has_include(<fmt/format.h>)
#include <fmt/format.h>
#define VELDAR_FORMAT_FMT 1
#endif
#if __cplusplus >= 202002L && __has_include(<format>)
#include <format>
#if defined(__cpp_lib_format)
#define VELDAR_FORMAT_STD 1
#endif
#endif

namespace VELDAR::detail {

/// A parsed format spec.
struct format_spec {
  char fill = ' ';
  char align = '\0';  ///< '<', '>', '^', or none
  char sign = '-';    ///< '-', '+' or ' '
  bool zeros = false;
  std::size_t width = 0;
  int precision = -1;  ///< none
};

/// Parses a format spec from `it` up to its closing brace, for a fixedfloat
/// when `fixedpoint` (which takes a precision and the type 'f'), else for a
/// fixedint (type 'd'); calls fail(message), which throws, on anything else.
template <typename iterator, typename failure>
constexpr iterator parse_format_spec(iterator it, iterator end, bool fixedpoint, format_spec& spec, failure fail) {
  const auto is_align = [](char c) { return c == '<' || c == '>' || c == '^'; };
  // A width or precision, which must fit an int as {fmt}'s own do.
  const auto digits = [&](std::size_t& value) {
    constexpr std::size_t most = 2147483647;  // INT_MAX, without <climits>
    for (; it != end && *it >= '0' && *it <= '9'; ++it) {
      value = value * 10 + static_cast<std::size_t>(*it - '0');
      if (value > most) {
        fail("veldar: number is too big");
      }
    }
  };
  if (it != end && it + 1 != end && *it != '}' && is_align(static_cast<char>(*(it + 1)))) {
    spec.fill = static_cast<char>(*it);
    spec.align = static_cast<char>(*(it + 1));
    it += 2;
  } else if (it != end && is_align(static_cast<char>(*it))) {
    spec.align = static_cast<char>(*it++);
  }
  if (it != end && (*it == '+' || *it == '-' || *it == ' ')) {
    spec.sign = static_cast<char>(*it++);
  }
  if (it != end && *it == '0') {
    spec.zeros = true;
    ++it;
  }
  digits(spec.width);
  if (it != end && *it == '.') {
    ++it;
    if (!fixedpoint || it == end || *it < '0' || *it > '9') {
      fail(fixedpoint ? "veldar: a precision needs digits" : "veldar: a fixedint takes no precision");
    }
    std::size_t precision = 0;
    digits(precision);
    spec.precision = static_cast<int>(precision);
  }
  if (it != end && *it == (fixedpoint ? 'f' : 'd')) {
    ++it;
  }
  if (it != end && *it != '}') {
    fail("veldar: unknown format spec");
  }
  return it;
}

/// The text of a number as the format spec shapes it: its sign, zeros or
/// fill to the width.
inline std::string apply_format_spec(std::string text, const format_spec& spec) {
  const bool minus = !text.empty() && text.front() == '-';
  if (!minus && spec.sign != '-') {
    text.insert(text.begin(), spec.sign);
  }
  if (text.size() >= spec.width) {
    return text;
  }
  const std::size_t padding = spec.width - text.size();
  if (spec.zeros && spec.align == '\0') {
    const bool signed_text = !text.empty() && (text.front() == '-' || text.front() == '+' || text.front() == ' ');
    text.insert(signed_text ? 1 : 0, padding, '0');
    return text;
  }
  const std::size_t before = spec.align == '<' ? 0 : spec.align == '^' ? padding / 2 : padding;
  return std::string(before, spec.fill) + text + std::string(padding - before, spec.fill);
}

/// The text of a number without log lines: to_chars()'s, or tofixed()'s for a precision.
template <typename number>
std::string format_text(const number& x, const format_spec& spec) {
  if constexpr (std::is_same_v<number, fixedfloat>) {
    if (spec.precision >= 0) {
      return x.tofixed(static_cast<unsigned long long>(spec.precision));
    }
  }
  std::vector<char> buffer(4 * x.length + 8);  // even elements outside 0 to 9 fit: "-128" each
  const auto written = to_chars(buffer.data(), buffer.data() + buffer.size(), x);
  return std::string(buffer.data(), written.ptr);
}

}  // namespace VELDAR::detail

namespace VELDAR::detail {
/// A formatter for {fmt} or std::format, which differ in their parse context
/// and their error type only.
template <typename number, typename parse_context, typename format_error>
struct formatter {
  format_spec spec;

  constexpr auto parse(parse_context& context) {
    return parse_format_spec(context.begin(), context.end(), std::is_same_v<number, fixedfloat>, spec,
                             [](const char* message) { throw format_error(message); });
  }
  template <typename context>
  auto format(const number& x, context& out) const {
    const std::string text = apply_format_spec(format_text(x, spec), spec);
    return std::copy(text.begin(), text.end(), out.out());
  }
};
}  // namespace VELDAR::detail

#ifdef VELDAR_FORMAT_FMT
template <>
struct fmt::formatter<VELDAR::fixedint>
    : VELDAR::detail::formatter<VELDAR::fixedint, fmt::format_parse_context, fmt::format_error> {};
template <>
struct fmt::formatter<VELDAR::fixedfloat>
    : VELDAR::detail::formatter<VELDAR::fixedfloat, fmt::format_parse_context, fmt::format_error> {};
#endif

#ifdef VELDAR_FORMAT_STD
template <>
struct std::formatter<VELDAR::fixedint>
    : VELDAR::detail::formatter<VELDAR::fixedint, std::format_parse_context, std::format_error> {};
template <>
struct std::formatter<VELDAR::fixedfloat>
    : VELDAR::detail::formatter<VELDAR::fixedfloat, std::format_parse_context, std::format_error> {};
#endif
