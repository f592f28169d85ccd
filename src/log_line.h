// The library's own way into the module log (diagnostics.h), internal to it:
// the same lines as VELDAR::log(), each built once and handed to the log's
// storage in one call.
#pragma once

#include <cstddef>
#include <ctime>
#include <initializer_list>
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

// One line of a batch: `message`, and after it the decimal text of `number`
// when there is one: {"Resizing Digits to: ", 8}.
struct line_text {
  line_text(const char* text) : message(text) {}  // NOLINT(google-explicit-constructor): a batch lists plain messages
  line_text(std::string_view text, unsigned long long value) : message(text), number(value), numbered(true) {}
  std::string_view message;
  unsigned long long number = 0;
  bool numbered = false;
};

// Appends the lines in order, under one lock and one time stamp: what as many
// log_line() calls write, for the price of one.
void log_lines(std::initializer_list<line_text> lines);
// The lines `times` over: log_lines() called `times` times, in one go.
void log_lines_repeated(std::initializer_list<line_text> lines, unsigned long long times);

// Appends one time-stamped line carrying `message`, as log() does, for the
// library's own messages: they hold no line break to escape.
void log_line(std::string_view message);
// As above, with the decimal text of `number` after `message`:
// log_line("Resizing Digits to: ", 8) writes "Resizing Digits to: 8".
void log_line(std::string_view message, unsigned long long number);

}  // namespace VELDAR::detail
