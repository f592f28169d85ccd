// The form of a module log line, internal to the library:
//
//   VELDAR [Mon Dec  7 07:08:24 2026]: Resizing Digits to: 8
//
// the opening, the local time in ctime()'s 24-character form, the closing,
// the message with its line breaks escaped, and a line break.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string_view>

namespace VELDAR::detail {

inline constexpr std::string_view line_opening = "VELDAR [";
inline constexpr std::string_view line_closing = "]: ";
// ctime()'s fixed form without its newline: "Mon Dec  7 07:08:24 2026".
inline constexpr std::size_t time_text_size = 24;
inline constexpr std::size_t line_prefix_size = line_opening.size() + time_text_size + line_closing.size();

// Writes the local time `second` in ctime()'s form into out[0, time_text_size),
// whatever the process's locale; "??? ??? ?? ??:??:?? ????" when the time
// cannot be converted.
void time_text(std::time_t second, char* out) noexcept;

// The opening, the time text of `second` and the closing: the start of
// every line written in that second.
std::array<char, line_prefix_size> line_prefix(std::time_t second) noexcept;

// The number of decimal digits of `value`: 0 -> 1, 4096 -> 4.
inline std::size_t decimal_width(unsigned long long value) noexcept {
  // The bit length gives the width, or one more; a power of ten tells which.
  static constexpr std::array<unsigned long long, 20> powers{1ULL,
                                                             10ULL,
                                                             100ULL,
                                                             1000ULL,
                                                             10000ULL,
                                                             100000ULL,
                                                             1000000ULL,
                                                             10000000ULL,
                                                             100000000ULL,
                                                             1000000000ULL,
                                                             10000000000ULL,
                                                             100000000000ULL,
                                                             1000000000000ULL,
                                                             10000000000000ULL,
                                                             100000000000000ULL,
                                                             1000000000000000ULL,
                                                             10000000000000000ULL,
                                                             100000000000000000ULL,
                                                             1000000000000000000ULL,
                                                             10000000000000000000ULL};
  value |= 1U;  // as wide as value, and never 0
  const auto bits = static_cast<std::size_t>(64 - __builtin_clzll(value));
  const std::size_t guess = (bits * 1233) >> 12U;  // bits * log10(2), rounded down
  return guess + (value >= powers[guess] ? 1 : 0);
}

// Calls put(piece) for the pieces of `message` with every line break written
// as the two characters "\n" and every carriage return as "\r", so that a
// message never forges a line: "a\nb" -> "a", "\\n", "b". Stops early, and
// returns false, when put() does.
template <typename sink>
bool escaped_pieces(std::string_view message, sink&& put) {
  for (;;) {
    const std::size_t next = message.find_first_of("\n\r");
    if (!put(message.substr(0, next))) {
      return false;
    }
    if (next == std::string_view::npos) {
      return true;
    }
    if (!put(message[next] == '\n' ? std::string_view("\\n") : std::string_view("\\r"))) {
      return false;
    }
    message.remove_prefix(next + 1);
  }
}

// How many line breaks and carriage returns `text` holds: the bytes its
// escaping adds.
std::size_t escapes_in(std::string_view text) noexcept;

}  // namespace VELDAR::detail
