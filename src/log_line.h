// The library's own way into the module log (diagnostics.h), internal to it:
// the same lines as VELDAR::log(), each built once and handed to the log's
// storage in one call.
#pragma once

#include <cstddef>
#include <ctime>
#include <string_view>

namespace VELDAR::detail {

// The pieces of every line: line_opening, the time text, line_closing, the
// message, a line break.
inline constexpr std::string_view line_opening = "VELDAR [";
inline constexpr std::string_view line_closing = "]: ";
// ctime()'s fixed form without its newline: "Mon Dec  7 07:08:24 2026".
inline constexpr std::size_t time_text_size = 24;
inline constexpr std::size_t line_prefix_size = line_opening.size() + time_text_size + line_closing.size();

// Writes the local time `second` in ctime()'s form into out[0, time_text_size),
// whatever the process's locale; "??? ??? ?? ??:??:?? ????" when the time
// cannot be converted.
void time_text(std::time_t second, char* out);

// Calls put(piece) for the pieces of `message` with every line break written
// as the two characters "\n" and every carriage return as "\r", so that a
// message never forges a line: "a\nb" -> "a", "\\n", "b".
template <typename sink>
void escaped_pieces(std::string_view message, sink&& put) {
  for (;;) {
    const std::size_t next = message.find_first_of("\n\r");
    put(message.substr(0, next));
    if (next == std::string_view::npos) {
      return;
    }
    put(message[next] == '\n' ? std::string_view("\\n") : std::string_view("\\r"));
    message.remove_prefix(next + 1);
  }
}

// Appends one time-stamped line carrying `message`, exactly as log() does.
void log_line(std::string_view message);
// As above, with the decimal text of `number` after `message`:
// log_line("Resizing Digits to: ", 8) writes "Resizing Digits to: 8".
void log_line(std::string_view message, unsigned long long number);

}  // namespace VELDAR::detail
