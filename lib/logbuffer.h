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

#include "logline.h"

namespace VELDAR::detail {

// A lock for the few nanoseconds a line takes: spins, then yields.
class spinlock {
 public:
  void lock() noexcept;
  bool trylock() noexcept { return !held.exchange(true, std::memory_order_acquire); }
  void unlock() noexcept { held.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held{false};
};

class logbuffer final : public std::streambuf {
 public:
  logbuffer() = default;
  logbuffer(const logbuffer&) = delete;
  logbuffer& operator=(const logbuffer&) = delete;
  ~logbuffer() override;

  // One line of the log's form for `second`: the prefix, `message` with its
  // line breaks escaped, `suffix` as it is, and a line break. False when it
  // could not be stored.
  bool appendline(std::string_view message, std::string_view suffix, std::time_t second);

  std::string text() const;             // the header line, if any, and every line kept
  void replace(std::string_view text);  // the whole log becomes `text`; throws std::bad_alloc
  void setlimit(std::size_t bytes);

  // For the terminate handler, which must not wait forever nor allocate:
  // takes the lock within `patience` (false if it could not), then appends and
  // writes with the lock held.
  bool lockwithin(std::chrono::milliseconds patience) noexcept;
  void unlock() noexcept { guard.unlock(); }
  bool appendlinelocked(std::string_view message, std::string_view suffix, std::time_t second) noexcept;
  // Writes the log's text to the file descriptor; false when a write fails.
  bool writelocked(int descriptor) const noexcept;

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

  bool appendraw(const char* text, std::size_t count) noexcept;
  void refreshprefix(std::time_t second) noexcept;
  void trim() noexcept;
  void dropfront(std::size_t count) noexcept;
  void dropheadblock() noexcept;
  void writeheader() noexcept;
  std::size_t size() const noexcept { return headersize + kept; }
  std::size_t copyout(std::size_t from, char* out, std::size_t count) const noexcept;
  void freeall() noexcept;

  mutable spinlock guard;
  block* head = nullptr;
  block* tail = nullptr;
  std::size_t kept = 0;  // bytes in the blocks

  // The prefix of lines written in `prefixsecond`, made again when the second changes.
  std::array<char, lineprefixsize> prefix{};
  std::time_t prefixsecond = -1;
  bool prefixmade = false;

  // Trimming: the limit (0 for none), and the line saying how many lines went.
  std::size_t limit = 0;
  std::size_t droppedlines = 0;
  std::array<char, 160> header{};
  std::size_t headersize = 0;

  // Reading: the position of the next byte to copy into readarea.
  std::size_t readposition = 0;
  std::array<char, 4096> readarea{};
};

// The one buffer of the process, made on first use.
logbuffer& thelog();

}  // namespace VELDAR::detail
