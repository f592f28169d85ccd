// The storage behind the module log, internal to the library.
//
// The log keeps records, not text: a transcript with its length (a few
// bytes for any number of lines), a message given to VELDAR::log(), or text
// written with `<<`, each under the second it was written in. The text is
// made when the log is read (log_render.h). Records live in blocks of 1 KiB
// on a list, so that the log never copies itself and dropping its oldest
// lines frees whole blocks.
//
// One spin lock guards the records. Nothing is allocated while it is held:
// an append that finds no room lets go of the lock, gets a block and tries
// again, so that an operator new which itself logs cannot deadlock. An append
// that cannot get a block is lost alone; stored lines are never taken back.
//
// The library's own records wait in a small ring of their thread, added
// without the lock, while no other thread's records wait: a thread alone
// in its program logs without taking the lock at all. A thread that would
// add while another's records wait, any message or `<<` text, and any read
// store every thread's waiting records first, each thread's in order; so
// the log reads as if each record had gone in at once (records that wait in
// two threads at once are of no order between them, and what one thread
// logs after another, through a lock say, sees the other's records and
// stores them before its own).
//
// The log keeps at most `limit` bytes of text (64 MiB unless set_limit()
// says otherwise, 0 for no bound). Past it, the oldest whole lines go until a
// quarter of the limit is free, and a first line, which counts against the
// limit, says how many went: "Log limit of 4096 bytes: 120 earlier lines
// dropped.". The newest line always stays, even one that is longer than the
// limit by itself.
//
// The store is in static storage, made at compile time and never destroyed,
// so that numbers made before main() and destroyed after it can still log.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "log_render.h"

namespace VELDAR::detail {

// A lock for the few nanoseconds a record takes: spins, then yields.
class spin_lock {
 public:
  void lock() noexcept;
  bool try_lock() noexcept { return !held.exchange(true, std::memory_order_acquire); }
  void unlock() noexcept { held.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held{false};
};

inline constexpr std::size_t default_log_limit = std::size_t{64} << 20U;

// The deletions that may wait in their thread.
enum class deletion : std::uint8_t {
  fixedint,    // "Deleted fixedint object."
  fixedfloat,  // "Deleting fixedfloat object!", "Deleted fixedint object."
};

class log_store {
 public:
  constexpr log_store() = default;
  log_store(const log_store&) = delete;
  log_store& operator=(const log_store&) = delete;
  ~log_store();

  // Appending. Each is false when the record could not be stored.

  // A transcript record, with `deletions` "Deleted fixedint object." lines
  // after it.
  bool append_transcript(std::uint8_t kind, unsigned long long length, unsigned long long count, unsigned deletions,
                         std::time_t second) noexcept;
  // `count` deletions of `kind` in `second`: they wait in the calling
  // thread where they may.
  bool append_deletions(deletion kind, unsigned count, std::time_t second) noexcept;
  // One line carrying `message`, its line breaks escaped when read.
  bool append_text(std::string_view message, std::time_t second) noexcept;
  // Text written with `<<`, as it is, with no time of its own.
  bool append_raw(std::string_view text) noexcept;

  // `<<` from the calling thread: the text up to its last line break is
  // stored; the rest stays the thread's own until its line break comes (or
  // the thread ends), so that other threads' lines never split it. Reading
  // from the thread shows it at the end. False when memory ran out.
  bool write_stream(std::string_view text) noexcept;

  // The whole log becomes the text `text`, with no line dropped so far; the
  // calling thread's unfinished line is dropped. Throws std::bad_alloc, and
  // changes nothing, when memory runs out.
  void replace(std::string_view text);

  void set_limit(std::size_t bytes) noexcept;
  std::size_t limit() const noexcept;

  // Reading. The calling thread's unfinished `<<` line shows at the end.

  std::uint64_t size() noexcept;  // bytes of text, the first line about dropped lines included
  std::string text();
  // Copies up to `count` bytes of the text from byte `from` on into `out`;
  // returns how many.
  std::size_t read(std::uint64_t from, char* out, std::size_t count) noexcept;

  // For the terminate handler, which must neither wait for ever nor
  // allocate: takes the lock within `patience` (false if it could not), then
  // renders with it held (or not, when it could not be had).
  bool lock_within(std::chrono::milliseconds patience) noexcept;
  void unlock() noexcept { guard.unlock(); }
  // Makes the text, with `reserve` bytes to follow it, fit the limit, as far
  // as dropping lines other than the newest can, and stores the waiting
  // deletions where that needs no memory: the report's lines follow the log
  // within the limit, and whole whatever the limit.
  void make_room_locked(std::uint64_t reserve) noexcept;
  // Puts the text, the deletions still waiting in threads and the calling
  // thread's unfinished line into `sink`; false when the sink refused a piece.
  bool render_locked(text_sink& sink) const noexcept;
  // The calling thread's unfinished `<<` line.
  std::size_t partial_size() const noexcept;

  // The text bytes and lines kept, the lines dropped so far, and the memory
  // of the blocks holding records (tests and benchmarks).
  struct counts {
    std::uint64_t bytes = 0;
    std::uint64_t lines = 0;
    std::uint64_t dropped = 0;
    std::size_t memory = 0;
  };
  counts measure() noexcept;

  struct thread_slot;

  // Stores the calling thread's waiting records, and every other thread's.
  void store_waiting() noexcept;

 private:
  struct block;
  struct position {
    block* at = nullptr;
    std::uint32_t offset = 0;
  };
  struct cursor;
  struct waiting_record;

  // Takes the lock with room for a record of `header_size` bytes and a
  // message or text of `payload` bytes, the waiting deletions stored; false
  // when blocks could not be had. Blocks are got with the lock let go of.
  bool lock_with_room(std::size_t header_size, std::size_t payload) noexcept;
  // The slow way of append_transcript(), out of line.
  [[gnu::noinline]] bool store_transcript(std::uint8_t kind, unsigned long long length, unsigned long long count,
                                          unsigned deletions, std::time_t second) noexcept;
  std::size_t blocks_missing(std::size_t header_size, std::size_t payload) const noexcept;
  void unlock_and_free() noexcept;
  // `stamped`: the record carries `second` (`<<` text carries none).
  void write_locked(const unsigned char* header, std::size_t header_size, std::string_view payload, bool stamped,
                    std::time_t second, std::uint64_t bytes, std::uint64_t lines, bool joinable) noexcept;
  void write_transcript_locked(std::uint8_t kind, unsigned long long length, unsigned long long count,
                               unsigned deletions, std::time_t second) noexcept;
  void write_deletions_locked(deletion kind, unsigned long long count, std::time_t second) noexcept;
  void store_waiting_locked() noexcept;
  bool append_waiting(std::uint8_t kind, unsigned long long length, unsigned long long count, std::uint8_t deletions,
                      std::time_t second) noexcept;
  void write_message_locked(std::string_view message, std::size_t escapes, std::time_t second) noexcept;
  bool count_deletion(deletion kind, unsigned count, std::time_t second) noexcept;
  [[gnu::noinline]] bool may_count(const thread_slot* slot, bool same_run, std::time_t second) noexcept;
  bool others_waiting(const thread_slot* slot) const noexcept;
  std::size_t waiting_records() const noexcept;
  bool render_waiting(text_sink& sink) const noexcept;
  thread_slot* own_slot() noexcept;
  block* take_spare() noexcept;
  void link_block() noexcept;
  void release(block* old) noexcept;
  static void free_blocks(block* list) noexcept;

  void trim() noexcept;
  void trim_to(std::uint64_t low) noexcept;
  void update_trim_point() noexcept;
  bool drop_head_lines(std::uint64_t bytes) noexcept;
  void drop_head_block() noexcept;
  std::uint64_t header_bytes(std::uint64_t dropped) const noexcept;
  std::uint64_t header_size() const noexcept;
  bool render_header(text_sink& sink) const noexcept;
  bool render_from(std::uint64_t from, text_sink& sink) const noexcept;
  void clear_locked() noexcept;
  std::pair<std::uint64_t, std::uint64_t> sizes_of(std::uint8_t kind, unsigned long long length,
                                                   unsigned long long count) noexcept;

  mutable spin_lock guard;
  block* head = nullptr;  // the oldest records; its record at `first` is the oldest kept
  block* tail = nullptr;
  std::uint64_t head_skip = 0;   // of the oldest record: lines dropped, or bytes of `<<` text
  std::uint64_t kept_bytes = 0;  // the text of the records kept, less what head_skip dropped
  std::uint64_t kept_lines = 0;
  std::time_t tail_second = 0;  // the second the newest record carries
  bool tail_second_known = false;
  position last_transcript;      // the newest record, when it is a transcript deletions may join
  std::uint64_t generation = 0;  // counts changes at the head: every text offset moves then

  block* spare = nullptr;  // blocks for the next records: got outside the lock, or let go of
  std::size_t spare_count = 0;
  block* surplus = nullptr;       // blocks to free once the lock is let go of
  std::size_t spare_bound = 256;  // spare blocks kept at most

  std::size_t byte_limit = default_log_limit;
  std::uint64_t trim_point = default_log_limit;  // kept_bytes past which a trim is due
  std::uint64_t dropped_lines = 0;
  std::time_t header_second = 0;  // the second of the append that last dropped lines
  std::size_t header_limit = 0;   // the limit then

  // The sizes of the last record of each transcript, which the next of the
  // same length and count takes over without walking its lines again.
  struct sized {
    unsigned long long length = 0;
    unsigned long long count = 0;
    std::uint64_t bytes = 0;
    std::uint64_t lines = 0;
    bool known = false;
  };
  std::array<sized, transcript_count> recent_sizes{};

  // Where the last read started: reading the log from start to end walks it
  // once, not once per read.
  struct read_hint {
    bool valid = false;
    std::uint64_t generation = 0;
    position at;
    std::time_t second = 0;    // in force at `at`
    std::uint64_t offset = 0;  // where the record at `at` starts in the text
    bool head = false;         // whether it is the oldest record, head_skip applying
  };
  mutable read_hint hint;

  // Every thread's waiting deletions: a list that only grows, a slot per
  // thread alive that has deleted a number, free slots taken again.
  std::atomic<thread_slot*> slots{nullptr};
  std::atomic<std::size_t> slot_count{0};
};

// The one store of the process.
log_store& the_log_store() noexcept;

// The library's operations write their transcripts (transcript.h) through
// these, stamped with the current second.

// One record: narrate(transcript::fixedint_made, 8) writes the three lines
// of a number of 8 digits made; `count` is for the transcripts that repeat
// by count, and `deletions` adds that many "Deleted fixedint object." lines
// after it.
void narrate(transcript kind, unsigned long long length, unsigned long long count = 1, unsigned deletions = 0) noexcept;
// `count` "Deleted fixedint object." lines.
void narrate_deletions(unsigned count) noexcept;
// `count` fixedfloats going: "Deleting fixedfloat object!" and "Deleted
// fixedint object." each.
void narrate_fixedfloat_deletions(unsigned count) noexcept;
// The destructors: a fixedfloat's "Deleting fixedfloat object!" with its
// value's "Deleted fixedint object." after it, as one; its value's
// destructor, which runs next on the same thread, then writes nothing.
void narrate_fixedfloat_deletion() noexcept;
void narrate_fixedint_deletion() noexcept;

// The deletion of the copy of the right operand that a by-value member
// takes, for its const overload, which takes none: written as the overload
// returns or throws, so that the log does not tell the two apart.
// copy_deletion<deletion::fixedfloat> writes a fixedfloat's two lines.
template <deletion kind>
class copy_deletion {
 public:
  copy_deletion() = default;
  copy_deletion(const copy_deletion&) = delete;
  copy_deletion& operator=(const copy_deletion&) = delete;
  ~copy_deletion() {
    if constexpr (kind == deletion::fixedint) {
      narrate_deletions(1);
    } else {
      narrate_fixedfloat_deletions(1);
    }
  }
};

}  // namespace VELDAR::detail
