#include "log_line.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace VELDAR::detail {

// ctime()'s form made by hand: ctime() writes into one buffer shared by the
// threads, and strftime() names days and months in the process's locale.
// A year outside 1000 to 9999 is not four digits: such a time shows as the
// question marks.
void time_text(std::time_t second, char* out) noexcept {
  static constexpr std::string_view weekdays = "SunMonTueWedThuFriSat";
  static constexpr std::string_view months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  std::tm local{};
  const bool known =
      localtime_r(&second, &local) != nullptr && local.tm_year >= 1000 - 1900 && local.tm_year <= 9999 - 1900;
  if (!known) {
    constexpr std::string_view unknown = "??? ??? ?? ??:??:?? ????";
    std::copy(unknown.begin(), unknown.end(), out);
    return;
  }
  const auto name = [](std::string_view names, int index) {
    return names.substr(static_cast<std::size_t>(index) * 3, 3);
  };
  // Two digits, the tens as `blank` below ten: the day of the month is " 8".
  const auto two_digits = [](int value, char blank) {
    return std::array<char, 2>{value < 10 ? blank : static_cast<char>('0' + value / 10),
                               static_cast<char>('0' + value % 10)};
  };
  const auto put = [&out](auto piece, char after) {
    out = std::copy(piece.begin(), piece.end(), out);
    *out++ = after;
  };
  // "Www Mmm dd hh:mm:ss yyyy"
  put(name(weekdays, local.tm_wday), ' ');
  put(name(months, local.tm_mon), ' ');
  put(two_digits(local.tm_mday, ' '), ' ');
  put(two_digits(local.tm_hour, '0'), ':');
  put(two_digits(local.tm_min, '0'), ':');
  put(two_digits(local.tm_sec, '0'), ' ');
  std::to_chars(out, out + 4, local.tm_year + 1900);
}

std::array<char, line_prefix_size> line_prefix(std::time_t second) noexcept {
  std::array<char, line_prefix_size> prefix{};
  char* out = std::copy(line_opening.begin(), line_opening.end(), prefix.data());
  time_text(second, out);
  std::copy(line_closing.begin(), line_closing.end(), out + time_text_size);
  return prefix;
}

std::size_t escapes_in(std::string_view text) noexcept {
  // Most messages hold neither: eight bytes at a time, a byte equal to '\n'
  // or '\r' found as a zero byte of the word xor those bytes.
  constexpr std::uint64_t ones = 0x0101010101010101ULL;
  constexpr std::uint64_t highs = 0x8080808080808080ULL;
  const auto has_zero = [](std::uint64_t w) { return ((w - ones) & ~w & highs) != 0; };
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t w = 0;
    std::memcpy(&w, text.data() + i, 8);
    if (has_zero(w ^ (ones * '\n')) || has_zero(w ^ (ones * '\r'))) {
      break;
    }
  }
  return static_cast<std::size_t>(std::count_if(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(),
                                                [](char c) { return c == '\n' || c == '\r'; }));
}

}  // namespace VELDAR::detail
