// What the library takes from the compiler and the system, internal to the
// library, each written once: 128-bit integers, the byte order, the test of
// eight digits in one machine word, and a write() that survives signals.
// The library is built with GCC or Clang on a 64-bit POSIX system; nothing
// here has a fallback for anything else.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace VELDAR::detail {

// 128-bit integers, for the product of two machine words and the sums of
// such products. __extension__ keeps -Wpedantic quiet; it needs a typedef.
__extension__ typedef unsigned __int128 uint128;  // NOLINT(modernize-use-using)
__extension__ typedef __int128 int128;            // NOLINT(modernize-use-using)

// Whether a machine word read from memory holds its lowest byte first: then
// eight digits, one a byte, read as one word have the least significant digit
// in the lowest lane, and the word-at-a-time paths of the digit and limb
// code apply. Elsewhere those paths take their digit-by-digit loops.
inline constexpr bool little_endian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// A machine word with `value` in each of its eight bytes: 0x7676767676767676
// for 0x76.
constexpr std::uint64_t byte_lanes(unsigned char value) { return 0x0101010101010101ULL * value; }

// Whether all eight bytes of `w` are digits 0 to 9: adding 0x76 lifts bytes
// from 10 to 0x7f into the top bit, and bytes from 0x80 up have it already.
// Only a byte from 0x8a up carries into the next, and its own top bit
// already fails the test, whatever the carry does above it.
constexpr bool is_digit_word(std::uint64_t w) { return ((w | (w + byte_lanes(0x76))) & byte_lanes(0x80)) == 0; }

// Writes all of `text` to `descriptor`, again after a signal cut a write
// short (EINTR, or a partial count). A write that writes nothing fails it,
// rather than being tried again for ever. Allocates nothing: the crash
// report writes with it once the heap may be gone.
inline bool write_all(int descriptor, std::string_view text) noexcept {
  while (!text.empty()) {
    const ssize_t written = ::write(descriptor, text.data(), text.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace VELDAR::detail
