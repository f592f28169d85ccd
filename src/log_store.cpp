#include "log_store.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>

#include "log_line.h"

namespace VELDAR::detail {

namespace {

// A block: 4 KiB with its bookkeeping. Small enough that trimming drops
// whole blocks, not record after record.
constexpr std::size_t block_size = 4096 - 48;
// Blocks kept for the next records once the log lets go of them (emptied,
// or trimmed to its limit), up to 1 MiB: their memory is already touched.
constexpr std::size_t spare_blocks = 256;

// A record starts with its tag: a transcript (below transcript_count), or
// one of these. Record headers never run over the end of a block; the
// bytes of a message or of `<<` text may.
//   transcript  tag, deletions (one byte), length, [count]
//   second      tag, the new second (zigzag)       the second of what follows
//   message     tag, size, line breaks, bytes      a VELDAR::log() line
//   stream      tag, size, line breaks, bytes      `<<` text, as it is
constexpr unsigned char second_tag = 0xF0;
constexpr unsigned char message_tag = 0xF1;
constexpr unsigned char stream_tag = 0xF2;
constexpr std::size_t varint_most = 10;
constexpr std::size_t header_most = 2 + 2 * varint_most;
constexpr std::size_t stamp_most = 1 + varint_most;
constexpr std::size_t record_most = header_most + stamp_most;  // a record with its second
constexpr unsigned most_deletions = 255;                        // what a record's byte holds

constexpr std::uint64_t deletion_bytes = line_prefix_size + deleted_line.size() + 1;

std::size_t put_varint(unsigned long long value, unsigned char* out) noexcept {
  std::size_t size = 0;
  for (; value >= 0x80; value >>= 7U) {
    out[size++] = static_cast<unsigned char>(value | 0x80U);
  }
  out[size++] = static_cast<unsigned char>(value);
  return size;
}

// Reads a varint from [at, end); false when it does not end there.
bool get_varint(const unsigned char*& at, const unsigned char* end, unsigned long long& value) noexcept {
  value = 0;
  for (unsigned shift = 0; at < end && shift < 64; shift += 7) {
    const unsigned char byte = *at++;
    value |= static_cast<unsigned long long>(byte & 0x7FU) << shift;
    if ((byte & 0x80U) == 0) {
      return true;
    }
  }
  return false;
}

unsigned long long zigzag(std::time_t second) noexcept {
  const auto value = static_cast<long long>(second);
  return (static_cast<unsigned long long>(value) << 1U) ^ static_cast<unsigned long long>(value >> 63);
}

std::time_t unzigzag(unsigned long long value) noexcept {
  return static_cast<std::time_t>(static_cast<long long>(value >> 1U) ^ -static_cast<long long>(value & 1U));
}

bool repeats_by_count(std::uint8_t kind) noexcept {
  return lines_of(static_cast<transcript>(kind)).times == repeat::count;
}

// Whether this thread is getting memory for the log: an operator new that
// logs must not make it get more, and more, for ever.
thread_local bool getting_memory = false;

// Copies the text into a buffer made beforehand, and stops once it is full.
class buffer_sink final : public text_sink {
 public:
  buffer_sink(char* out, std::size_t count) : out(out), count(count) {}
  bool put(std::string_view piece) noexcept override {
    const std::size_t n = std::min(piece.size(), count - used);
    piece.copy(out + used, n);
    used += n;
    return used < count;
  }
  std::size_t size() const noexcept { return used; }

 private:
  char* out;
  std::size_t count;
  std::size_t used = 0;
};

// The header of a record of `<<` text, and its size.
std::pair<std::array<unsigned char, header_most>, std::size_t> stream_header(std::string_view text) noexcept {
  std::array<unsigned char, header_most> header{};
  header[0] = stream_tag;
  std::size_t size = 1 + put_varint(text.size(), header.data() + 1);
  size += put_varint(static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n')), header.data() + size);
  return {header, size};
}

std::uint64_t line_breaks(std::string_view text) noexcept {
  return static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

// The unfinished line of the calling thread's `<<` text, kept apart from
// other threads' lines until its line break.
struct partial_line {
  std::string text;
  partial_line() = default;
  partial_line(const partial_line&) = delete;
  partial_line& operator=(const partial_line&) = delete;
  ~partial_line() {
    if (!text.empty()) {
      the_log_store().append_raw(text);
    }
  }
};

partial_line& own_partial() noexcept {
  thread_local partial_line line;
  return line;
}

// The prefix of lines of one second, made again only when the second changes.
class prefix_cache {
 public:
  std::string_view of(std::time_t second) noexcept {
    if (!made || second != made_for) {
      text = line_prefix(second);
      made_for = second;
      made = true;
    }
    return {text.data(), text.size()};
  }

 private:
  std::array<char, line_prefix_size> text{};
  std::time_t made_for = 0;
  bool made = false;
};

}  // namespace

void spin_lock::lock() noexcept {
  while (held.exchange(true, std::memory_order_acquire)) {
    for (int spins = 0; held.load(std::memory_order_relaxed); ++spins) {
      if (spins < 128) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
      } else {
        std::this_thread::yield();
      }
    }
  }
}

struct log_store::block {
  block* next = nullptr;
  std::uint32_t first = 0;     // where the first record that starts in this block starts
  std::uint32_t used = 0;      // bytes written
  std::uint64_t bytes = 0;     // the text of the records that start here, as far as it is kept
  std::uint64_t lines = 0;     // their lines
  std::time_t start_second = 0;  // the second in force at `first`
  std::array<unsigned char, block_size> data;  // left uninitialised: only written bytes are read

  std::size_t room() const noexcept { return block_size - used; }
};

// Waiting deletions.
//
// A thread's slot holds its deletions in one word: how many of one kind, in
// one second. The thread alone counts them up, without the lock; `stored`,
// how many of them went into the log, moves only with the lock held. The
// counts run modulo 2^15, the second takes the top 48 bits.
struct log_store::deletion_slot {
  std::atomic<std::uint64_t> word{0};
  std::atomic<std::uint16_t> stored{0};
  std::atomic<bool> taken{false};
  deletion_slot* next = nullptr;  // set once, before the slot is on the list
};

namespace {

constexpr std::uint64_t count_mask = 0x7FFF;
constexpr std::uint64_t kind_bit = 0x8000;
constexpr unsigned most_waiting = 30000;  // then they go in

std::uint64_t waiting_count(std::uint64_t word, std::uint16_t stored) noexcept {
  return (word - stored) & count_mask;
}
deletion kind_of(std::uint64_t word) noexcept {
  return (word & kind_bit) != 0 ? deletion::fixedfloat : deletion::fixedint;
}
std::time_t second_of(std::uint64_t word) noexcept {
  return static_cast<std::time_t>(static_cast<std::int64_t>(word) >> 16);  // the sign comes back
}
bool fits_word(std::time_t second) noexcept {
  constexpr std::int64_t most = (std::int64_t{1} << 47) - 1;
  return second <= most && second >= -most;
}
std::uint64_t make_word(std::time_t second, deletion kind, std::uint64_t count) noexcept {
  return (static_cast<std::uint64_t>(second) << 16U) | (kind == deletion::fixedfloat ? kind_bit : 0) |
         (count & count_mask);
}

// The calling thread's slot, and whether it has given it back (at its end).
struct own_deletions {
  log_store::deletion_slot* slot = nullptr;
  bool ended = false;
  bool taking = false;  // getting a slot: a deletion meanwhile goes straight in
};
[[gnu::tls_model("initial-exec")]] thread_local own_deletions own;

}  // namespace

// Gives the thread's slot back when it ends, its deletions stored first.
// (Numbers destroyed later, after main() for one, store theirs at once.)
struct slot_keeper {
  slot_keeper() = default;
  slot_keeper(const slot_keeper&) = delete;
  slot_keeper& operator=(const slot_keeper&) = delete;
  ~slot_keeper() {
    if (own.slot != nullptr) {
      log_store& store = the_log_store();
      store.append_deletions(deletion::fixedint, 0, std::time(nullptr));  // stores the waiting ones
      own.slot->taken.store(false, std::memory_order_release);
    }
    own.slot = nullptr;
    own.ended = true;
  }
};

struct log_store::cursor {
  position at;              // where it starts
  std::time_t second = 0;   // the second its lines carry
  unsigned char tag = 0;
  transcript_record record; // a transcript
  std::uint64_t size = 0;   // a message's or stream text's bytes
  std::uint64_t breaks = 0; // their line breaks
  position payload;         // where those bytes start
  position next;            // where the next record starts
  std::uint64_t bytes = 0;  // the record's text
  std::uint64_t lines = 0;

  // Decodes the record at `at` (the second in force there being `second`);
  // false at the end of the records, or on bytes that are no record.
  bool decode(position where, std::time_t in_force) noexcept {
    at = where;
    second = in_force;
    if (at.at == nullptr || at.offset >= at.at->used) {
      return false;
    }
    const unsigned char* p = at.at->data.data() + at.offset;
    const unsigned char* end = at.at->data.data() + at.at->used;
    tag = *p++;
    bytes = 0;
    lines = 0;
    if (tag < transcript_count) {
      unsigned long long length = 0;
      unsigned long long count = 1;
      if (p >= end) {
        return false;
      }
      const unsigned deletions = *p++;
      if (!get_varint(p, end, length) || (repeats_by_count(tag) && !get_varint(p, end, count))) {
        return false;
      }
      record = {static_cast<transcript>(tag), length, count, deletions};
      bytes = byte_count(record);
      lines = line_count(record);
      next = {at.at, static_cast<std::uint32_t>(p - at.at->data.data())};
    } else if (tag == second_tag) {
      unsigned long long value = 0;
      if (!get_varint(p, end, value)) {
        return false;
      }
      second = unzigzag(value);
      next = {at.at, static_cast<std::uint32_t>(p - at.at->data.data())};
    } else if (tag == message_tag || tag == stream_tag) {
      unsigned long long count = 0;
      unsigned long long bytes_count = 0;
      if (!get_varint(p, end, bytes_count) || !get_varint(p, end, count)) {
        return false;
      }
      size = bytes_count;
      breaks = count;
      payload = {at.at, static_cast<std::uint32_t>(p - at.at->data.data())};
      next = advance(payload, size);
      if (tag == message_tag) {
        bytes = line_prefix_size + size + breaks + 1;
        lines = 1;
      } else {
        bytes = size;
        lines = breaks;
      }
    } else {
      return false;
    }
    next = normalise(next);
    return true;
  }

  // `count` bytes on from `from`, the bytes of a message or stream text
  // running on at the start of the next blocks.
  static position advance(position from, std::uint64_t count) noexcept {
    while (from.at != nullptr && count > block_size - from.offset) {
      count -= block_size - from.offset;
      from = {from.at->next, 0};
    }
    return {from.at, static_cast<std::uint32_t>(from.offset + count)};
  }

  // Past the end of a block, the first record of the next.
  static position normalise(position where) noexcept {
    while (where.at != nullptr && where.offset >= where.at->used && where.at->next != nullptr) {
      where = {where.at->next, where.at->next->first};
    }
    return where;
  }

  // Calls put(piece) for the payload's bytes [from, to) in order.
  template <typename visit>
  bool payload_pieces(std::uint64_t from, std::uint64_t to, visit put) const noexcept {
    position where = payload;
    std::uint64_t offset = 0;
    while (where.at != nullptr && offset < to) {
      const std::uint64_t here = std::min<std::uint64_t>(block_size - where.offset, size - offset);
      const std::uint64_t begin = std::max(from, offset);
      const std::uint64_t end = std::min(to, offset + here);
      if (begin < end &&
          !put(std::string_view(reinterpret_cast<const char*>(where.at->data.data()) + where.offset + (begin - offset),
                                static_cast<std::size_t>(end - begin)))) {
        return false;
      }
      offset += here;
      where = {where.at->next, 0};
    }
    return true;
  }

  // Puts the record's text from byte `skip` on, each line opening with
  // `prefix`.
  bool render(std::string_view prefix, std::uint64_t skip, text_sink& sink) const noexcept {
    if (tag < transcript_count) {
      return render_transcript(record, prefix, skip, sink);
    }
    if (tag == stream_tag) {
      return payload_pieces(skip, size, [&sink](std::string_view piece) { return sink.put(piece); });
    }
    if (tag == message_tag) {
      skipping_sink rest(sink, skip);
      const auto put = [&rest](std::string_view piece) { return rest.put(piece); };
      return rest.put(prefix) &&
             payload_pieces(0, size, [&put](std::string_view piece) { return escaped_pieces(piece, put); }) &&
             rest.put("\n");
    }
    return true;
  }

  // The offset in a stream text just past its first line break at or after
  // byte `from`; `size` when there is none.
  std::uint64_t line_end(std::uint64_t from) const noexcept {
    std::uint64_t found = size;
    std::uint64_t offset = from;
    payload_pieces(from, size, [&](std::string_view piece) {
      const std::size_t at = piece.find('\n');
      if (at != std::string_view::npos) {
        found = offset + at + 1;
        return false;
      }
      offset += piece.size();
      return true;
    });
    return found;
  }
};

log_store::~log_store() {
  for (block* list : {head, spare, surplus}) {
    free_blocks(list);
  }
}

void log_store::free_blocks(block* list) noexcept {
  while (list != nullptr) {
    delete std::exchange(list, list->next);  // NOLINT(cppcoreguidelines-owning-memory)
  }
}

// Appending.

log_store::block* log_store::take_spare() noexcept {
  block* taken = spare;
  spare = taken->next;
  --spare_count;
  taken->next = nullptr;
  taken->first = 0;
  taken->used = 0;
  taken->bytes = 0;
  taken->lines = 0;
  taken->start_second = tail_second;
  return taken;
}

void log_store::release(block* old) noexcept {
  if (spare_count < spare_blocks) {
    old->next = spare;
    spare = old;
    ++spare_count;
  } else {
    old->next = surplus;  // freed once the lock is let go of
    surplus = old;
  }
}

std::size_t log_store::blocks_missing(std::size_t header_size, std::size_t payload) const noexcept {
  // Records never run over the end of a block: each block may leave up to
  // a record's bytes unused at its end.
  constexpr std::size_t per_block = block_size - record_most;
  const std::size_t room = tail == nullptr || tail->room() < record_most ? 0 : tail->room() - record_most;
  const std::size_t need = header_size + payload;
  if (need <= room) {
    return 0;
  }
  const std::size_t needed = (need - room + per_block - 1) / per_block;
  return needed > spare_count ? needed - spare_count : 0;
}

std::size_t log_store::waiting_slots() const noexcept {
  std::size_t count = 0;
  for (const deletion_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    count += waiting_count(slot->word.load(std::memory_order_acquire), slot->stored.load(std::memory_order_relaxed)) !=
             0;
  }
  return count;
}

bool log_store::lock_with_room(std::size_t header_size, std::size_t payload) noexcept {
  guard.lock();
  for (;;) {
    // The waiting deletions go in first, each as one record at most.
    const std::size_t waiting = waiting_slots();
    const std::size_t missing = blocks_missing(header_size + stamp_most + waiting * record_most, payload);
    if (missing == 0) {
      break;
    }
    // Blocks are got without the lock, so that an operator new that logs
    // cannot wait for it; a thread already getting memory for the log gives
    // up instead of getting more, and more.
    guard.unlock();
    if (getting_memory) {
      return false;
    }
    getting_memory = true;
    block* got = nullptr;
    std::size_t count = 0;
    for (; count < missing; ++count) {
      block* fresh = new (std::nothrow) block;  // NOLINT(cppcoreguidelines-owning-memory)
      if (fresh == nullptr) {
        break;
      }
      fresh->next = got;
      got = fresh;
    }
    getting_memory = false;
    if (count < missing) {
      free_blocks(got);
      return false;
    }
    guard.lock();
    while (got != nullptr) {
      block* fresh = std::exchange(got, got->next);
      fresh->next = spare;
      spare = fresh;
      ++spare_count;
    }
  }
  flush_waiting_locked();
  return true;
}

void log_store::unlock_and_free() noexcept {
  block* freed = std::exchange(surplus, nullptr);
  guard.unlock();
  free_blocks(freed);
}

void log_store::write_locked(const unsigned char* header, std::size_t header_size, std::string_view payload,
                             std::optional<std::time_t> second, std::uint64_t bytes, std::uint64_t lines,
                             bool joinable) noexcept {
  std::array<unsigned char, stamp_most> stamp{};
  std::size_t stamp_size = 0;
  if (second && (!tail_second_known || *second != tail_second)) {
    stamp[0] = second_tag;
    stamp_size = 1 + put_varint(zigzag(*second), stamp.data() + 1);
  }
  if (tail == nullptr || tail->room() < stamp_size + header_size) {
    link_block();
  }
  std::memcpy(tail->data.data() + tail->used, stamp.data(), stamp_size);
  tail->used += static_cast<std::uint32_t>(stamp_size);
  if (second) {
    tail_second = *second;
    tail_second_known = true;
  }
  block* const home = tail;
  const std::uint32_t start = tail->used;
  std::memcpy(tail->data.data() + tail->used, header, header_size);
  tail->used += static_cast<std::uint32_t>(header_size);
  while (!payload.empty()) {
    if (tail->room() == 0) {
      link_block();
    }
    const std::size_t count = std::min(payload.size(), tail->room());
    std::memcpy(tail->data.data() + tail->used, payload.data(), count);
    tail->used += static_cast<std::uint32_t>(count);
    if (tail != home) {
      tail->first = tail->used;  // the records of this block start after the text
    }
    payload.remove_prefix(count);
  }
  home->bytes += bytes;
  home->lines += lines;
  kept_bytes += bytes;
  kept_lines += lines;
  last_transcript = joinable ? position{home, start} : position{};
  if (kept_bytes > trim_point) {
    trim();
  }
}

std::pair<std::uint64_t, std::uint64_t> log_store::sizes_of(std::uint8_t kind, unsigned long long length,
                                                            unsigned long long count) noexcept {
  sized& recent = recent_sizes[kind];
  if (!recent.known || recent.length != length || recent.count != count) {
    const transcript_record record{static_cast<transcript>(kind), length, count, 0};
    recent = {length, count, byte_count(record), line_count(record), true};
  }
  return {recent.bytes, recent.lines};
}

void log_store::link_block() noexcept {
  block* fresh = take_spare();
  if (tail == nullptr) {
    head = fresh;
    head_skip = 0;
  } else {
    tail->next = fresh;
  }
  tail = fresh;
}

void log_store::write_transcript_locked(std::uint8_t kind, unsigned long long length, unsigned long long count,
                                        unsigned deletions, std::time_t second) noexcept {
  if (tail == nullptr || tail->room() < record_most) {
    link_block();
  }
  unsigned char* const data = tail->data.data();
  unsigned char* out = data + tail->used;
  if (!tail_second_known || second != tail_second) {
    *out++ = second_tag;
    out += put_varint(zigzag(second), out);
    tail_second = second;
    tail_second_known = true;
  }
  last_transcript = {tail, static_cast<std::uint32_t>(out - data)};
  *out++ = kind;
  *out++ = static_cast<unsigned char>(deletions);
  out += put_varint(length, out);
  if (repeats_by_count(kind)) {
    out += put_varint(count, out);
  }
  tail->used = static_cast<std::uint32_t>(out - data);
  const auto [bytes, lines] = sizes_of(kind, length, count);
  tail->bytes += bytes + deletion_bytes * deletions;
  tail->lines += lines + deletions;
  kept_bytes += bytes + deletion_bytes * deletions;
  kept_lines += lines + deletions;
  if (kept_bytes > trim_point) {
    trim();
  }
}

void log_store::write_deletions_locked(deletion kind, unsigned long long count, std::time_t second) noexcept {
  if (count == 0) {
    return;
  }
  if (kind == deletion::fixedfloat) {
    write_transcript_locked(static_cast<std::uint8_t>(transcript::fixedfloat_deletions), 0, count, 0, second);
    return;
  }
  // Deletions join the newest record when it is a transcript of the same
  // second with room in its count: no new record, one byte counted up.
  if (last_transcript.at != nullptr && tail_second_known && second == tail_second) {
    unsigned char& deletions = last_transcript.at->data[last_transcript.offset + 1];
    if (deletions + count <= most_deletions) {
      deletions = static_cast<unsigned char>(deletions + count);
      last_transcript.at->bytes += deletion_bytes * count;
      last_transcript.at->lines += count;
      kept_bytes += deletion_bytes * count;
      kept_lines += count;
      if (kept_bytes > trim_point) {
        trim();
      }
      return;
    }
  }
  write_transcript_locked(static_cast<std::uint8_t>(transcript::deletions), 0, count, 0, second);
}

// Stores every thread's waiting deletions, the oldest second first.
void log_store::flush_waiting_locked() noexcept {
  const auto store_slot = [this](deletion_slot* slot, std::uint64_t word) {
    write_deletions_locked(kind_of(word), waiting_count(word, slot->stored.load(std::memory_order_relaxed)),
                           second_of(word));
    slot->stored.store(static_cast<std::uint16_t>(word & count_mask), std::memory_order_release);
  };
  deletion_slot* const first = slots.load(std::memory_order_acquire);
  if (first != nullptr && first->next == nullptr) {  // one thread has ever deleted a number
    const std::uint64_t word = first->word.load(std::memory_order_acquire);
    if (waiting_count(word, first->stored.load(std::memory_order_relaxed)) != 0) {
      store_slot(first, word);
    }
    return;
  }
  for (;;) {
    deletion_slot* oldest = nullptr;
    std::uint64_t oldest_word = 0;
    for (deletion_slot* slot = first; slot != nullptr; slot = slot->next) {
      const std::uint64_t word = slot->word.load(std::memory_order_acquire);
      if (waiting_count(word, slot->stored.load(std::memory_order_relaxed)) != 0 &&
          (oldest == nullptr || second_of(word) < second_of(oldest_word))) {
        oldest = slot;
        oldest_word = word;
      }
    }
    if (oldest == nullptr) {
      return;
    }
    store_slot(oldest, oldest_word);
  }
}

bool log_store::append_transcript(std::uint8_t kind, unsigned long long length, unsigned long long count,
                                  unsigned deletions, std::time_t second) noexcept {
  // Most records: room in the newest block for the record and for each
  // thread's waiting deletions.
  if (deletions <= most_deletions) {
    guard.lock();
    if (tail != nullptr && tail->room() >= record_most * (2 + slot_count.load(std::memory_order_acquire))) {
      flush_waiting_locked();
      write_transcript_locked(kind, length, count, deletions, second);
      if (surplus == nullptr) {
        guard.unlock();
        return true;
      }
      unlock_and_free();
      return true;
    }
    guard.unlock();
  }
  return store_transcript(kind, length, count, deletions, second);
}

bool log_store::store_transcript(std::uint8_t kind, unsigned long long length, unsigned long long count,
                                 unsigned deletions, std::time_t second) noexcept {
  if (!lock_with_room(header_most * (1 + deletions / most_deletions), 0)) {
    return false;
  }
  write_transcript_locked(kind, length, count, std::min(deletions, most_deletions), second);
  if (deletions > most_deletions) {
    write_deletions_locked(deletion::fixedint, deletions - most_deletions, second);
  }
  unlock_and_free();
  return true;
}

namespace {

// The calling thread's slot, taken (or made) on its first deletion; null
// when it cannot have one.
log_store::deletion_slot* own_slot(std::atomic<log_store::deletion_slot*>& slots,
                                   std::atomic<std::size_t>& slot_count) noexcept {
  if (own.slot != nullptr || own.ended || own.taking) {
    return own.slot;
  }
  own.taking = true;
  log_store::deletion_slot* found = nullptr;
  for (log_store::deletion_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    bool free = false;
    if (slot->taken.compare_exchange_strong(free, true, std::memory_order_acquire)) {
      found = slot;
      break;
    }
  }
  if (found == nullptr && !getting_memory) {
    getting_memory = true;
    found = new (std::nothrow) log_store::deletion_slot;  // NOLINT(cppcoreguidelines-owning-memory): never freed
    getting_memory = false;
    if (found != nullptr) {
      found->taken.store(true, std::memory_order_relaxed);
      log_store::deletion_slot* first = slots.load(std::memory_order_relaxed);
      do {
        found->next = first;
      } while (!slots.compare_exchange_weak(first, found, std::memory_order_release, std::memory_order_relaxed));
      slot_count.fetch_add(1, std::memory_order_release);
    }
  }
  if (found != nullptr) {
    thread_local slot_keeper keeper;  // gives the slot back when the thread ends
    static_cast<void>(keeper);
  }
  own.slot = found;
  own.taking = false;
  return found;
}

}  // namespace

bool log_store::append_deletions(deletion kind, unsigned count, std::time_t second) noexcept {
  // Counted up in the thread's own slot where that keeps the log's order:
  // its waiting deletions are of this kind and second, or none wait, and no
  // other thread holds deletions of the other kind.
  deletion_slot* const slot = own.slot;
  if (slot != nullptr && count > 0 && fits_word(second)) {
    const std::uint64_t word = slot->word.load(std::memory_order_relaxed);
    const std::uint64_t waiting = waiting_count(word, slot->stored.load(std::memory_order_acquire));
    bool alone = (waiting == 0 || (second_of(word) == second && kind_of(word) == kind)) && waiting + count < most_waiting;
    // (A thread alone in a program has no other slot to look at.)
    const deletion_slot* first_other = slot_count.load(std::memory_order_acquire) > 1 ? slots.load(std::memory_order_acquire)
                                                                                      : nullptr;
    for (const deletion_slot* other = first_other; alone && other != nullptr; other = other->next) {
      if (other != slot) {
        const std::uint64_t theirs = other->word.load(std::memory_order_acquire);
        alone = waiting_count(theirs, other->stored.load(std::memory_order_acquire)) == 0 || kind_of(theirs) == kind;
      }
    }
    if (alone) {
      const std::uint64_t counted = (word & count_mask) + count;
      slot->word.store(waiting == 0 ? make_word(second, kind, counted) : (word & ~count_mask) | (counted & count_mask),
                       std::memory_order_release);
      return true;
    }
  }
  return store_deletions(kind, count, second);
}

// Deletions that cannot wait, or the thread's first: the thread gets its
// slot for the next ones, and these go in with the lock.
bool log_store::store_deletions(deletion kind, unsigned count, std::time_t second) noexcept {
  if (own.slot == nullptr) {
    own_slot(slots, slot_count);
  }
  if (!lock_with_room(header_most, 0)) {
    return false;
  }
  write_deletions_locked(kind, count, second);
  unlock_and_free();
  return true;
}

bool log_store::append_text(std::string_view message, std::time_t second) noexcept {
  std::array<unsigned char, header_most> header{};
  header[0] = message_tag;
  const std::size_t escapes = escapes_in(message);
  std::size_t size = 1 + put_varint(message.size(), header.data() + 1);
  size += put_varint(escapes, header.data() + size);
  if (!lock_with_room(size, message.size())) {
    return false;
  }
  write_locked(header.data(), size, message, second, line_prefix_size + message.size() + escapes + 1, 1, false);
  unlock_and_free();
  return true;
}

bool log_store::append_raw(std::string_view text) noexcept {
  if (text.empty()) {
    return true;
  }
  const auto [header, size] = stream_header(text);
  if (!lock_with_room(size, text.size())) {
    return false;
  }
  write_locked(header.data(), size, text, std::nullopt, text.size(), line_breaks(text), false);
  unlock_and_free();
  return true;
}

bool log_store::write_stream(std::string_view text) noexcept {
  partial_line& line = own_partial();
  const std::size_t last = text.rfind('\n');
  try {
    if (last == std::string_view::npos) {
      line.text.append(text);
      return true;
    }
    bool stored = true;
    if (line.text.empty()) {
      stored = append_raw(text.substr(0, last + 1));
    } else {
      line.text.append(text.substr(0, last + 1));
      stored = append_raw(line.text);
      line.text.clear();
    }
    line.text.assign(text.substr(last + 1));
    return stored;
  } catch (...) {  // no memory for the unfinished line: it is lost, as a line that cannot be stored is
    return false;
  }
}

// Trimming.

std::uint64_t log_store::header_bytes(std::uint64_t dropped) const noexcept {
  return line_prefix_size + limit_opening.size() + decimal_width(header_limit) + limit_bytes.size() +
         decimal_width(dropped) + limit_closing.size() + 1;
}

std::uint64_t log_store::header_size() const noexcept { return dropped_lines == 0 ? 0 : header_bytes(dropped_lines); }

void log_store::update_trim_point() noexcept {
  if (byte_limit == 0) {
    trim_point = std::numeric_limits<std::uint64_t>::max();
    return;
  }
  const std::uint64_t header = header_size();
  trim_point = byte_limit > header ? byte_limit - header : 0;
}

void log_store::drop_head_block() noexcept {
  block* const old = head;
  dropped_lines += old->lines;
  kept_bytes -= old->bytes;
  kept_lines -= old->lines;
  head = old->next;
  head_skip = 0;
  if (head == nullptr) {
    tail = nullptr;
  }
  if (last_transcript.at == old) {
    last_transcript = {};
  }
  release(old);
}

// Drops whole lines from the head record, at least `bytes` bytes of them
// where it has them, but never the newest line. False when nothing could go.
bool log_store::drop_head_lines(std::uint64_t bytes) noexcept {
  cursor record;
  if (!record.decode({head, head->first}, head->start_second)) {
    // Nothing starts in the head block any more (its last record's text ran
    // on into the next): it goes.
    if (head == tail) {
      return false;
    }
    drop_head_block();
    return true;
  }
  // What is left of the record, and whether it holds the newest line.
  std::uint64_t skipped_bytes = 0;
  std::uint64_t skipped_lines = 0;
  if (record.tag < transcript_count) {
    skipped_bytes = bytes_of_first(record.record, head_skip);
    skipped_lines = head_skip;
  } else if (record.tag == stream_tag) {
    skipped_bytes = head_skip;
    record.payload_pieces(0, head_skip, [&skipped_lines](std::string_view piece) {
      skipped_lines += static_cast<std::uint64_t>(std::count(piece.begin(), piece.end(), '\n'));
      return true;
    });
  }
  const std::uint64_t bytes_left = record.bytes - skipped_bytes;
  const std::uint64_t lines_left = record.lines - skipped_lines;
  const bool newest = lines_left == kept_lines;
  const auto go = [this](std::uint64_t gone_bytes, std::uint64_t gone_lines) {
    kept_bytes -= gone_bytes;
    kept_lines -= gone_lines;
    head->bytes -= gone_bytes;
    head->lines -= gone_lines;
    dropped_lines += gone_lines;
  };
  if (!newest && (bytes_left <= bytes || record.tag == second_tag || record.tag == message_tag)) {
    // The whole record.
    go(bytes_left, lines_left);
    if (last_transcript.at == head && last_transcript.offset == head->first) {
      last_transcript = {};
    }
    while (head != nullptr && head != record.next.at) {  // blocks its text filled
      drop_head_block();
    }
    if (head == nullptr) {
      return true;
    }
    head->first = record.next.offset;
    head->start_second = record.second;
    head_skip = 0;
    return true;
  }
  // Some of its lines, from where it was cut, at least `bytes` of them.
  if (record.tag < transcript_count) {
    std::uint64_t count = lines_within(record.record, skipped_bytes + bytes - 1) + 1 - head_skip;
    count = std::min(count, lines_left - (newest ? 1 : 0));
    if (count == 0) {
      return false;
    }
    go(bytes_of_first(record.record, head_skip + count) - skipped_bytes, count);
    head_skip += count;
    return true;
  }
  if (record.tag == stream_tag) {
    std::uint64_t end = record.line_end(skipped_bytes + bytes - 1);
    if (newest) {
      // Not into the last line: cut at its start at the latest.
      std::uint64_t last_start = skipped_bytes;
      for (std::uint64_t next = record.line_end(skipped_bytes); next < record.size; next = record.line_end(next)) {
        last_start = next;
      }
      end = std::min(end, last_start);
    }
    if (end <= skipped_bytes) {
      return false;
    }
    std::uint64_t gone_lines = 0;
    record.payload_pieces(skipped_bytes, end, [&gone_lines](std::string_view piece) {
      gone_lines += static_cast<std::uint64_t>(std::count(piece.begin(), piece.end(), '\n'));
      return true;
    });
    go(end - skipped_bytes, gone_lines);
    head_skip = end;
    return true;
  }
  return false;
}

void log_store::trim() noexcept {
  if (byte_limit == 0 || header_size() + kept_bytes <= byte_limit) {
    return;
  }
  // Down to three quarters of the limit, so that a trim comes once per
  // quarter of it rather than once per line.
  trim_to(byte_limit - byte_limit / 4);
}

// Drops the oldest whole lines until the text, the first line that says how
// many went included, fits in `low` bytes, or only the newest line is left.
void log_store::trim_to(std::uint64_t low) noexcept {
  header_second = tail_second;
  header_limit = byte_limit;
  ++generation;
  hint.valid = false;
  while (head != nullptr && kept_lines > 1) {
    const std::uint64_t total = header_bytes(std::max<std::uint64_t>(dropped_lines, 1)) + kept_bytes;
    if (total <= low) {
      break;
    }
    const std::uint64_t excess = total - low;
    if (head != tail && head->lines < kept_lines && head->bytes <= excess) {
      drop_head_block();
      continue;
    }
    if (!drop_head_lines(excess)) {
      break;
    }
  }
  update_trim_point();
}

void log_store::make_room_locked(std::uint64_t reserve) noexcept {
  if (blocks_missing(stamp_most + waiting_slots() * record_most, 0) == 0) {
    flush_waiting_locked();
  }
  if (byte_limit != 0 && header_size() + kept_bytes + reserve > byte_limit) {
    trim_to(byte_limit > reserve ? byte_limit - reserve : 0);
  }
}

void log_store::set_limit(std::size_t bytes) noexcept {
  const std::lock_guard<spin_lock> lock(guard);
  byte_limit = bytes;
  update_trim_point();
  if (kept_bytes > trim_point) {
    trim();
  }
}

std::size_t log_store::limit() const noexcept {
  const std::lock_guard<spin_lock> lock(guard);
  return byte_limit;
}

// Replacing and clearing.

void log_store::clear_locked() noexcept {
  while (head != nullptr) {
    release(std::exchange(head, head->next));
  }
  tail = nullptr;
  head_skip = 0;
  kept_bytes = 0;
  kept_lines = 0;
  tail_second_known = false;
  last_transcript = {};
  dropped_lines = 0;
  ++generation;
  hint.valid = false;
  // Deletions waiting in threads go with the rest.
  for (deletion_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    slot->stored.store(static_cast<std::uint16_t>(slot->word.load(std::memory_order_acquire) & count_mask),
                       std::memory_order_release);
  }
  update_trim_point();
}

void log_store::replace(std::string_view text) {
  // The blocks the text needs first, so that nothing changes when they
  // cannot be had.
  const std::size_t needed = text.empty() ? 0 : (text.size() + record_most) / (block_size - record_most) + 1;
  block* got = nullptr;
  for (std::size_t i = 0; i < needed; ++i) {
    block* fresh = new (std::nothrow) block;  // NOLINT(cppcoreguidelines-owning-memory)
    if (fresh == nullptr) {
      free_blocks(got);
      throw std::bad_alloc();
    }
    fresh->next = got;
    got = fresh;
  }
  own_partial().text.clear();
  guard.lock();
  clear_locked();
  while (got != nullptr) {
    block* fresh = std::exchange(got, got->next);
    fresh->next = spare;  // beyond the spare blocks' bound for a moment: they are taken at once
    spare = fresh;
    ++spare_count;
  }
  if (!text.empty()) {
    const auto [header, size] = stream_header(text);
    write_locked(header.data(), size, text, std::nullopt, text.size(), line_breaks(text), false);
  }
  while (spare_count > spare_blocks) {
    block* extra = spare;
    spare = extra->next;
    --spare_count;
    extra->next = surplus;
    surplus = extra;
  }
  unlock_and_free();
}

// Reading.

bool log_store::render_header(text_sink& sink) const noexcept {
  if (dropped_lines == 0) {
    return true;
  }
  const auto prefix = line_prefix(header_second);
  std::array<char, 20> limit_digits{};
  std::array<char, 20> dropped_digits{};
  const char* limit_end = std::to_chars(limit_digits.data(), limit_digits.data() + 20, header_limit).ptr;
  const char* dropped_end = std::to_chars(dropped_digits.data(), dropped_digits.data() + 20, dropped_lines).ptr;
  return sink.put({prefix.data(), prefix.size()}) && sink.put(limit_opening) &&
         sink.put({limit_digits.data(), static_cast<std::size_t>(limit_end - limit_digits.data())}) &&
         sink.put(limit_bytes) &&
         sink.put({dropped_digits.data(), static_cast<std::size_t>(dropped_end - dropped_digits.data())}) &&
         sink.put(limit_closing) && sink.put("\n");
}

bool log_store::render_from(std::uint64_t from, text_sink& sink) const noexcept {
  // Where to start walking: the hint a read left, when nothing has gone
  // from the head since and it lies before `from`, else the start.
  const bool hinted = hint.valid && hint.generation == generation && hint.offset <= from;
  std::uint64_t offset = 0;  // where the record about to be walked starts in the text
  position at{};
  std::time_t second = 0;
  bool first_record = true;
  if (hinted) {
    offset = hint.offset;
    at = hint.at;
    second = hint.second;
    first_record = hint.head;
  } else {
    const std::uint64_t header = header_size();
    if (from < header) {
      skipping_sink rest(sink, from);
      if (!render_header(rest)) {
        return false;
      }
    }
    offset = header;
    if (head != nullptr) {
      at = {head, head->first};
      second = head->start_second;
    }
  }
  prefix_cache prefixes;
  cursor record;
  bool started = false;
  while (record.decode(at, second)) {
    const position here = at;
    const std::time_t before = second;
    second = record.second;
    at = record.next;
    std::uint64_t skipped_bytes = 0;
    if (first_record) {
      first_record = false;
      skipped_bytes = record.tag < transcript_count ? bytes_of_first(record.record, head_skip)
                      : record.tag == stream_tag   ? head_skip
                                                   : 0;
    }
    const std::uint64_t size = record.bytes - skipped_bytes;
    if (!started && offset + size <= from) {
      offset += size;  // wholly before `from`: passed over by its size
      continue;
    }
    if (!started) {
      started = true;
      hint = {true, generation, here, before, offset, here.at == head && here.offset == head->first};
    }
    const std::uint64_t skip = skipped_bytes + (from > offset ? from - offset : 0);
    offset += size;
    if (record.tag != second_tag && !record.render(prefixes.of(record.second), skip, sink)) {
      return false;
    }
  }
  return true;
}

bool log_store::render_waiting(text_sink& sink) const noexcept {
  // As flush_waiting_locked() would store them, the oldest second first,
  // without storing them: the report renders them with no memory to spare.
  struct batch {
    std::time_t second;
    deletion kind;
    std::uint64_t count;
  };
  std::array<batch, 256> batches{};
  std::size_t found = 0;
  const deletion_slot* slot = slots.load(std::memory_order_acquire);
  while (slot != nullptr) {
    for (found = 0; slot != nullptr && found < batches.size(); slot = slot->next) {
      const std::uint64_t word = slot->word.load(std::memory_order_acquire);
      if (const std::uint64_t count = waiting_count(word, slot->stored.load(std::memory_order_acquire)); count != 0) {
        batches[found++] = {second_of(word), kind_of(word), count};
      }
    }
    std::stable_sort(batches.begin(), batches.begin() + static_cast<std::ptrdiff_t>(found),
                     [](const batch& a, const batch& b) { return a.second < b.second; });
    for (std::size_t i = 0; i < found; ++i) {
      const transcript kind =
          batches[i].kind == deletion::fixedfloat ? transcript::fixedfloat_deletions : transcript::deletions;
      const auto prefix = line_prefix(batches[i].second);
      if (!render_transcript({kind, 0, batches[i].count, 0}, {prefix.data(), prefix.size()}, 0, sink)) {
        return false;
      }
    }
  }
  return true;
}

std::uint64_t log_store::size() noexcept {
  const std::uint64_t own_line = own_partial().text.size();
  if (!lock_with_room(0, 0)) {
    guard.lock();
  }
  const std::uint64_t size = header_size() + kept_bytes + own_line;
  unlock_and_free();
  return size;
}

std::string log_store::text() {
  const std::string& line = own_partial().text;
  std::string all;
  for (;;) {
    std::uint64_t size = 0;
    if (!lock_with_room(0, 0)) {
      guard.lock();
    }
    size = header_size() + kept_bytes;
    unlock_and_free();
    all.assign(static_cast<std::size_t>(size) + line.size(), '\0');  // may throw, with no lock held
    const std::lock_guard<spin_lock> lock(guard);
    if (header_size() + kept_bytes == size) {
      buffer_sink out(all.data(), static_cast<std::size_t>(size));
      render_from(0, out);
      break;
    }
  }
  std::copy(line.begin(), line.end(), all.end() - static_cast<std::ptrdiff_t>(line.size()));
  return all;
}

std::size_t log_store::read(std::uint64_t from, char* out, std::size_t count) noexcept {
  const std::string& line = own_partial().text;
  buffer_sink copy(out, count);
  if (!lock_with_room(0, 0)) {
    guard.lock();
  }
  const std::uint64_t logged = header_size() + kept_bytes;
  if (from < logged) {
    render_from(from, copy);
  }
  unlock_and_free();
  if (copy.size() < count && from + copy.size() >= logged) {
    const std::uint64_t start = from + copy.size() - logged;
    if (start < line.size()) {
      copy.put(std::string_view(line).substr(static_cast<std::size_t>(start)));
    }
  }
  return copy.size();
}

bool log_store::lock_within(std::chrono::milliseconds patience) noexcept {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!guard.try_lock()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::yield();
  }
  return true;
}

std::size_t log_store::partial_size() const noexcept { return own_partial().text.size(); }

bool log_store::render_locked(text_sink& sink) const noexcept {
  return render_from(0, sink) && render_waiting(sink) && sink.put(own_partial().text);
}

log_store::counts log_store::measure() noexcept {
  if (!lock_with_room(0, 0)) {
    guard.lock();
  }
  counts now{header_size() + kept_bytes, kept_lines, dropped_lines, 0};
  for (const block* b = head; b != nullptr; b = b->next) {
    ++now.blocks;
  }
  unlock_and_free();
  return now;
}

log_store& the_log_store() noexcept {
  // Made on first use and never destroyed, so that it outlives every number.
  static log_store* const store = new log_store;  // NOLINT(cppcoreguidelines-owning-memory)
  return *store;
}

}  // namespace VELDAR::detail
