// The library's own way into the module log (diagnostics.h), internal to it:
// the same lines as VELDAR::log(), without making a std::string per message.
#pragma once

#include <string_view>

namespace VELDAR::detail {

// Appends one time-stamped line carrying `message`, exactly as log() does.
void logline(std::string_view message);
// As above, with the decimal text of `number` after `message`:
// logline("Resizing Digits to: ", 8) writes "Resizing Digits to: 8".
void logline(std::string_view message, unsigned long long number);

}  // namespace VELDAR::detail
