// The storage behind the module log, internal to the library.
//
// The text lives in fixed-size blocks on a list, so that a growing log never
// copies itself and dropping its oldest lines frees whole blocks. One lock
// guards the blocks; every line is built and stored under it in one go, so
// lines from different threads never mix. Stored lines are never taken back
// for lack of memory: an append that cannot get a block is lost alone.
//
// The buffer is made on first use and never destroyed, so that numbers made
// before main() and destroyed after it can still log.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <streambuf>
#include <string>
#include <string_view>

#include "log_line.h"

namespace VELDAR::detail {

// A lock for the few nanoseconds a line takes: spins, then yields.
class spin_lock {
 public:
  void lock() noexcept;
  bool try_lock() noexcept { return !held.exchange(true, std::memory_order_acquire); }
  void unlock() noexcept { held.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held{false};
};

class log_buffer final : public std::streambuf {
 public:
  log_buffer() = default;
  log_buffer(const log_buffer&) = delete;
  log_buffer& operator=(const log_buffer&) = delete;
  ~log_buffer() override;

  // One line of the log's form for `second`: the prefix, `message` and
  // `suffix` with their line breaks escaped, and a line break. False when it
  // could not be stored. The library's own messages, which hold no line
  // break, are `trusted` and not searched for one.
  bool append_line(std::string_view message, std::string_view suffix, std::time_t second, bool trusted);

  // The library's own lines, under one lock and one time stamp: what as
  // many append_line() calls of trusted lines write. False when one could
  // not be stored.
  bool append_lines(const line_text* lines, std::size_t count, std::time_t second);
  // The same lines `times` over, as many append_lines() calls would write
  // them, for the price of one.
  bool append_repeated(const line_text* lines, std::size_t count, unsigned long long times, std::time_t second);

  std::string text() const;             // the header line, if any, and every line kept
  void replace(std::string_view text);  // the whole log becomes `text`; throws std::bad_alloc
  void set_limit(std::size_t bytes);

  // For the terminate handler, which must not wait forever nor allocate:
  // takes the lock within `patience` (false if it could not), then appends and
  // writes with the lock held.
  bool lock_within(std::chrono::milliseconds patience) noexcept;
  void lock() noexcept { guard.lock(); }  // for a batch of append_line_locked()
  void unlock() noexcept { guard.unlock(); }
  bool append_line_locked(std::string_view message, std::string_view suffix, std::time_t second,
                          bool trusted = false) noexcept;
  // Writes the log's text to the file descriptor; false when a write fails.
  bool write_locked(int descriptor) const noexcept;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int_type underflow() override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir way, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  struct block;
  class chain;
  class writer;

  bool append_raw(const char* text, std::size_t count) noexcept;
  block* fresh_block() noexcept;
  void recycle(block* old) noexcept;
  void refresh_prefix(std::time_t second) noexcept;
  void trim() noexcept;
  void drop_head_block() noexcept;
  void write_header() noexcept;
  std::size_t size() const noexcept { return header_size + kept; }
  std::size_t copy_out(std::size_t from, char* out, std::size_t count) const noexcept;
  void free_all() noexcept;

  mutable spin_lock guard;
  block* head = nullptr;
  block* tail = nullptr;
  std::size_t kept = 0;  // bytes in the blocks
  block* recycled = nullptr;  // blocks let go of, kept for the next lines
  std::size_t recycled_count = 0;

  // The prefix of lines written in `prefix_second`, made again when the second changes.
  std::array<char, line_prefix_size> prefix{};
  std::time_t prefix_second = -1;
  bool prefix_made = false;

  // Trimming: the limit (0 for none), and the line saying how many lines went.
  std::size_t limit = 0;
  std::size_t dropped_lines = 0;
  std::array<char, 160> header{};
  std::size_t header_size = 0;

  // Reading: the position of the next byte to copy into read_area.
  std::size_t read_position = 0;
  std::array<char, 4096> read_area{};
};

// The one buffer of the process, made on first use.
log_buffer& the_log();

}  // namespace VELDAR::detail
