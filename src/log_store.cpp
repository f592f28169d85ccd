#include "log_store.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "log_line.h"

namespace VELDAR::detail {

namespace {

// A block: 1 KiB with its bookkeeping. Small enough that trimming drops
// whole blocks, not record after record.
constexpr std::size_t block_size = 1024 - 48;
// Blocks kept for the next records once the log lets go of them, up to
// 256 KiB, and up to a quarter of the limit's worth while it is trimmed:
// trimming frees a quarter of the limit, which the log fills again, in
// memory already touched rather than got from the system anew.
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
// A transcript record's deletions byte: how many deletions follow its lines
// (up to 127), and in its top bit whether they are fixedfloats'.
constexpr unsigned most_deletions = 127;
constexpr unsigned fixedfloat_bit = 0x80;

// The text and lines of one deletion after a record.
constexpr std::uint64_t fixedint_deletion_bytes = line_prefix_size + deleted_line.size() + 1;
constexpr std::uint64_t fixedfloat_deletion_bytes =
    2 * line_prefix_size + fixedfloat_deleted_line.size() + deleted_line.size() + 2;

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
// An atomic, though only its thread touches it: a plain flag set around a
// call of operator new may be left unset by the compiler, which cannot see
// that the call comes back here.
thread_local std::atomic<bool> getting_memory{false};

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

// Counts what it is given.
class counting_sink final : public text_sink {
 public:
  bool put(std::string_view piece) noexcept override {
    bytes += piece.size();
    return true;
  }
  std::uint64_t size() const noexcept { return bytes; }

 private:
  std::uint64_t bytes = 0;
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

// Waiting records.
//
// A thread's slot is a ring of its records that wait to be stored: the
// thread alone adds to it, without the lock, and publishes each record as it
// adds it; the records go into the store, with the lock held, from any
// thread (`stored` moves only then). Positions count up for ever; a record's
// place is its position modulo the ring's size.

// One waiting record, whole with its second: a transcript with its length,
// count and deletions, or deletions alone.
struct log_store::waiting_record {
  std::time_t second = 0;
  unsigned long long length = 0;
  unsigned long long count = 0;
  std::uint32_t deleted_before = 0;  // the thread's counted fixedint deletions that come before it
  std::uint8_t kind = 0;             // a transcript, deletions_alone, or new_second
  std::uint8_t deletions = 0;        // after a transcript: fixedint deletions
  bool fixedfloats = false;          // deletions alone: a fixedfloat's each
};

namespace {

constexpr std::uint8_t deletions_alone = 0xFF;
constexpr std::uint8_t new_second = 0xFE;  // no lines: the second of the deletions counted after it
constexpr std::uint32_t ring_size = 128;

}  // namespace

//
// A thread's "Deleted fixedint object." lines, the most frequent, take no
// place in the ring: the thread counts them up (`deleted`), and each record
// it adds notes the count it found, so that they go in between the records
// they came between. They carry the second of the record before them: a
// thread adds a new_second record before deletions of a later second.
struct log_store::thread_slot {
  std::array<waiting_record, ring_size> ring{};
  std::atomic<std::uint32_t> published{0};  // records added
  std::atomic<std::uint32_t> stored{0};     // records stored
  std::atomic<std::uint32_t> deleted{0};    // fixedint deletions counted
  // With the lock held: the deletions stored, and the second of the last
  // record stored, which the deletions after it carry.
  std::atomic<std::uint32_t> deleted_stored{0};
  std::atomic<std::time_t> stored_second{0};
  std::atomic<bool> taken{false};
  thread_slot* next = nullptr;  // set once, before the slot is on the list

  std::uint32_t waiting() const noexcept {
    return published.load(std::memory_order_acquire) - stored.load(std::memory_order_acquire) +
           deleted.load(std::memory_order_acquire) - deleted_stored.load(std::memory_order_acquire);
  }
};

namespace {

// The calling thread's slot, and whether it has given it back (at its end).
struct own_slot_state {
  log_store::thread_slot* slot = nullptr;
  std::time_t second = 0;      // of the thread's last record in its ring
  bool second_known = false;
  bool ended = false;
  std::atomic<bool> taking{false};  // getting a slot: a record meanwhile goes straight in (atomic: as getting_memory)
  bool value_written = false;  // a fixedfloat wrote its value's deletion, which goes next
};
[[gnu::tls_model("initial-exec")]] thread_local own_slot_state own;

}  // namespace

// Gives the thread's slot back when it ends, its records stored first.
// (Numbers destroyed later, after main() for one, store theirs at once.)
struct slot_keeper {
  slot_keeper() = default;
  slot_keeper(const slot_keeper&) = delete;
  slot_keeper& operator=(const slot_keeper&) = delete;
  ~slot_keeper() {
    if (own.slot != nullptr) {
      the_log_store().store_waiting();
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
      record = {static_cast<transcript>(tag), length, count, deletions & most_deletions,
                (deletions & fixedfloat_bit) != 0};
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
  if (spare_count < spare_bound) {
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

std::size_t log_store::waiting_records() const noexcept {
  std::size_t count = 0;
  for (const thread_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    count += slot->waiting();
  }
  return count;
}

bool log_store::lock_with_room(std::size_t header_size, std::size_t payload) noexcept {
  guard.lock();
  for (;;) {
    // The waiting records go in first, all that may wait (a thread adds to
    // its ring meanwhile), each with the deletions before it; and as much
    // stays at hand after, so that the terminate handler, which gets no
    // memory, can store whatever waits then.
    const std::size_t waiting = slot_count.load(std::memory_order_acquire) * (2 * ring_size + 1);
    const std::size_t missing = blocks_missing(header_size + stamp_most + 2 * waiting * record_most, payload);
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
  store_waiting_locked();
  return true;
}

void log_store::unlock_and_free() noexcept {
  block* freed = std::exchange(surplus, nullptr);
  guard.unlock();
  free_blocks(freed);
}

void log_store::write_locked(const unsigned char* header, std::size_t header_size, std::string_view payload,
                             bool stamped, std::time_t second, std::uint64_t bytes, std::uint64_t lines,
                             bool joinable) noexcept {
  std::array<unsigned char, stamp_most> stamp{};
  std::size_t stamp_size = 0;
  if (stamped && (!tail_second_known || second != tail_second)) {
    stamp[0] = second_tag;
    stamp_size = 1 + put_varint(zigzag(second), stamp.data() + 1);
  }
  if (tail == nullptr || tail->room() < stamp_size + header_size) {
    link_block();
  }
  if (stamp_size != 0) {
    std::memcpy(tail->data.data() + tail->used, stamp.data(), stamp_size);
    tail->used += static_cast<std::uint32_t>(stamp_size);
  }
  if (stamped) {
    tail_second = second;
    tail_second_known = true;
  }
  block* const home = tail;
  const std::uint32_t start = tail->used;
  std::copy_n(header, header_size, tail->data.data() + tail->used);  // a few bytes
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
  // A spare block was last written long ago: its lines are fetched ahead of
  // the records that will fill it, rather than each on its first write.
  for (std::size_t line = 0; line < sizeof(block); line += 64) {
    __builtin_prefetch(reinterpret_cast<const char*>(fresh) + line, 1);
  }
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
  auto [bytes, lines] = sizes_of(kind, length, count);
  bytes += fixedint_deletion_bytes * deletions;
  lines += deletions;
  tail->bytes += bytes;
  tail->lines += lines;
  kept_bytes += bytes;
  kept_lines += lines;
  if (kept_bytes > trim_point) {
    trim();
  }
}

void log_store::write_deletions_locked(deletion kind, unsigned long long count, std::time_t second) noexcept {
  if (count == 0) {
    return;
  }
  // Deletions join the newest record when it is a transcript of the same
  // second whose deletions are none yet or of the same kind, with room in
  // its count: no new record, one byte counted up.
  const bool fixedfloats = kind == deletion::fixedfloat;
  if (last_transcript.at != nullptr && tail_second_known && second == tail_second) {
    unsigned char& deletions = last_transcript.at->data[last_transcript.offset + 1];
    const unsigned joined = deletions & most_deletions;
    if ((joined == 0 || ((deletions & fixedfloat_bit) != 0) == fixedfloats) && joined + count <= most_deletions) {
      deletions = static_cast<unsigned char>((fixedfloats ? fixedfloat_bit : 0) | (joined + count));
      const std::uint64_t bytes = (fixedfloats ? fixedfloat_deletion_bytes : fixedint_deletion_bytes) * count;
      const std::uint64_t lines = (fixedfloats ? 2 : 1) * count;
      last_transcript.at->bytes += bytes;
      last_transcript.at->lines += lines;
      kept_bytes += bytes;
      kept_lines += lines;
      if (kept_bytes > trim_point) {
        trim();
      }
      return;
    }
  }
  write_transcript_locked(
      static_cast<std::uint8_t>(fixedfloats ? transcript::fixedfloat_deletions : transcript::deletions), 0, count, 0,
      second);
}

// Stores every thread's waiting records, each thread's in order. Records
// waiting in two threads at once are of no order between them: a thread
// that would add to its ring while another's has records stores them first
// (append_waiting()), so that what one thread logs after another, through
// a lock say, follows it.
void log_store::store_waiting_locked() noexcept {
  for (thread_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    // The deletions counted first, then the records: every record added
    // before a deletion counted is then seen.
    const std::uint32_t deleted = slot->deleted.load(std::memory_order_acquire);
    const std::uint32_t published = slot->published.load(std::memory_order_acquire);
    std::uint32_t at = slot->stored.load(std::memory_order_relaxed);
    std::uint32_t deleted_stored = slot->deleted_stored.load(std::memory_order_relaxed);
    std::time_t second = slot->stored_second.load(std::memory_order_relaxed);
    if (at == published && deleted == deleted_stored) {
      continue;
    }
    for (; at != published; ++at) {
      const waiting_record& record = slot->ring[at % ring_size];
      write_deletions_locked(deletion::fixedint, record.deleted_before - deleted_stored, second);
      deleted_stored = record.deleted_before;
      second = record.second;
      if (record.kind == deletions_alone) {
        write_deletions_locked(record.fixedfloats ? deletion::fixedfloat : deletion::fixedint, record.count,
                               record.second);
      } else if (record.kind != new_second) {
        write_transcript_locked(record.kind, record.length, record.count, record.deletions, record.second);
      }
    }
    write_deletions_locked(deletion::fixedint, deleted - deleted_stored, second);
    slot->stored_second.store(second, std::memory_order_relaxed);
    slot->deleted_stored.store(deleted, std::memory_order_release);
    slot->stored.store(published, std::memory_order_release);
  }
}

void log_store::store_waiting() noexcept {
  if (lock_with_room(0, 0)) {
    unlock_and_free();
  }
}

// Adds a record to the calling thread's ring where that keeps the log's
// order: no other thread's records wait, and the ring has room. False
// otherwise, with nothing done. (The fields one by one: a record built on
// the caller's stack and copied whole would be read before its stores are.)
bool log_store::append_waiting(std::uint8_t kind, unsigned long long length, unsigned long long count,
                               std::uint8_t deletions, bool fixedfloats, std::time_t second) noexcept {
  thread_slot* const slot = own.slot != nullptr ? own.slot : own_slot();
  if (slot == nullptr) {
    return false;
  }
  const std::uint32_t published = slot->published.load(std::memory_order_relaxed);
  if (published - slot->stored.load(std::memory_order_acquire) == ring_size) {
    return false;
  }
  // (A thread alone in a program has no other slot to look at.)
  if (slot_count.load(std::memory_order_acquire) > 1) {
    for (const thread_slot* other = slots.load(std::memory_order_acquire); other != nullptr; other = other->next) {
      if (other != slot && other->waiting() != 0) {
        return false;
      }
    }
  }
  waiting_record& record = slot->ring[published % ring_size];
  record.second = second;
  record.length = length;
  record.count = count;
  record.deleted_before = slot->deleted.load(std::memory_order_relaxed);
  record.kind = kind;
  record.deletions = deletions;
  record.fixedfloats = fixedfloats;
  slot->published.store(published + 1, std::memory_order_release);
  own.second = second;
  own.second_known = true;
  return true;
}

// Counts a fixedint deletion up in the calling thread's slot where that
// keeps the log's order, after a new_second record when the second moved
// on. False otherwise, with nothing done.
bool log_store::count_deletion(std::time_t second) noexcept {
  thread_slot* const slot = own.slot;
  if (slot == nullptr || ((!own.second_known || second != own.second) &&
                          !append_waiting(new_second, 0, 0, 0, false, second))) {
    return false;
  }
  if (slot_count.load(std::memory_order_acquire) > 1) {
    for (const thread_slot* other = slots.load(std::memory_order_acquire); other != nullptr; other = other->next) {
      if (other != slot && other->waiting() != 0) {
        return false;
      }
    }
  }
  slot->deleted.store(slot->deleted.load(std::memory_order_relaxed) + 1, std::memory_order_release);
  return true;
}

bool log_store::append_transcript(std::uint8_t kind, unsigned long long length, unsigned long long count,
                                  unsigned deletions, std::time_t second) noexcept {
  if (deletions <= most_deletions &&
      append_waiting(kind, length, count, static_cast<std::uint8_t>(deletions), false, second)) {
    return true;
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

// The calling thread's slot, taken (or made) on its first record; null
// when it cannot have one.
log_store::thread_slot* log_store::own_slot() noexcept {
  if (own.slot != nullptr || own.ended || own.taking) {
    return own.slot;
  }
  own.taking = true;
  thread_slot* found = nullptr;
  for (thread_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    bool free = false;
    if (slot->taken.compare_exchange_strong(free, true, std::memory_order_acquire)) {
      found = slot;
      break;
    }
  }
  if (found == nullptr && !getting_memory) {
    getting_memory = true;
    found = new (std::nothrow) thread_slot;  // NOLINT(cppcoreguidelines-owning-memory): never freed
    getting_memory = false;
    if (found != nullptr) {
      found->taken.store(true, std::memory_order_relaxed);
      thread_slot* first = slots.load(std::memory_order_relaxed);
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
  if (found != nullptr) {
    store_waiting();  // blocks at hand for what the new slot may hold
  }
  return found;
}

bool log_store::append_deletions(deletion kind, unsigned count, std::time_t second) noexcept {
  if (count == 0) {
    return true;
  }
  if (kind == deletion::fixedint && count == 1 ? count_deletion(second)
                                               : append_waiting(deletions_alone, 0, count, 0,
                                                                kind == deletion::fixedfloat, second)) {
    return true;
  }
  if (!lock_with_room(header_most, 0)) {
    return false;
  }
  write_deletions_locked(kind, count, second);
  unlock_and_free();
  return true;
}

void log_store::write_message_locked(std::string_view message, std::size_t escapes, std::time_t second) noexcept {
  std::array<unsigned char, header_most> header{};
  header[0] = message_tag;
  std::size_t size = 1 + put_varint(message.size(), header.data() + 1);
  size += put_varint(escapes, header.data() + size);
  write_locked(header.data(), size, message, true, second, line_prefix_size + message.size() + escapes + 1, 1, false);
}

bool log_store::append_text(std::string_view message, std::time_t second) noexcept {
  // Messages go straight in: their text would be copied twice by the way of
  // the waiting records, for a lock that costs less.
  const std::size_t escapes = escapes_in(message);
  if (!lock_with_room(header_most, message.size())) {
    return false;
  }
  write_message_locked(message, escapes, second);
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
  write_locked(header.data(), size, text, false, 0, text.size(), line_breaks(text), false);
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
  spare_bound = std::max(spare_blocks, byte_limit / 4 / block_size);
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
  // The records waiting in threads are stored where the blocks they take
  // are at hand, else rendered after the log: their text is kept room for.
  if (blocks_missing(stamp_most + 2 * waiting_records() * record_most, 0) == 0) {
    store_waiting_locked();
  } else {
    counting_sink waiting;
    render_waiting(waiting);
    reserve += waiting.size();
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
  spare_bound = spare_blocks;  // an emptied log keeps 1 MiB for its next lines
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
  // Records waiting in threads go with the rest.
  for (thread_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    slot->deleted_stored.store(slot->deleted.load(std::memory_order_acquire), std::memory_order_release);
    slot->stored.store(slot->published.load(std::memory_order_acquire), std::memory_order_release);
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
    write_locked(header.data(), size, text, false, 0, text.size(), line_breaks(text), false);
  }
  while (spare_count > spare_blocks) {  // an emptied log keeps the least
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
  // As store_waiting_locked() would store them, without storing them: the
  // report renders them with no memory to spare.
  const auto deletions = [&sink](std::uint32_t count, std::time_t second) {
    const auto prefix = line_prefix(second);
    return count == 0 ||
           render_transcript({transcript::deletions, 0, count, 0, false}, {prefix.data(), prefix.size()}, 0, sink);
  };
  for (const thread_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    const std::uint32_t deleted = slot->deleted.load(std::memory_order_acquire);
    const std::uint32_t published = slot->published.load(std::memory_order_acquire);
    std::uint32_t deleted_stored = slot->deleted_stored.load(std::memory_order_acquire);
    std::time_t second = slot->stored_second.load(std::memory_order_acquire);
    for (std::uint32_t at = slot->stored.load(std::memory_order_acquire); at != published; ++at) {
      const waiting_record& waiting = slot->ring[at % ring_size];
      if (!deletions(waiting.deleted_before - deleted_stored, second)) {
        return false;
      }
      deleted_stored = waiting.deleted_before;
      second = waiting.second;
      if (waiting.kind == new_second) {
        continue;
      }
      const transcript_record record =
          waiting.kind == deletions_alone
              ? transcript_record{waiting.fixedfloats ? transcript::fixedfloat_deletions : transcript::deletions, 0,
                                  waiting.count, 0, false}
              : transcript_record{static_cast<transcript>(waiting.kind), waiting.length, waiting.count,
                                  waiting.deletions, false};
      const auto prefix = line_prefix(waiting.second);
      if (!render_transcript(record, {prefix.data(), prefix.size()}, 0, sink)) {
        return false;
      }
    }
    if (!deletions(deleted - deleted_stored, second)) {
      return false;
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
    now.memory += sizeof(block);
  }
  unlock_and_free();
  return now;
}

namespace {

// The store lives in static storage, made at compile time and never
// destroyed, so that it outlives every number; and so that the first
// record of the process needs no memory (an operator new that logs would
// otherwise make it while it is being made).
union store_storage {
  constexpr store_storage() : store() {}
  store_storage(const store_storage&) = delete;
  store_storage& operator=(const store_storage&) = delete;
  ~store_storage() {}  // NOLINT(modernize-use-equals-default): the store is never destroyed
  log_store store;
};
store_storage storage;

}  // namespace

log_store& the_log_store() noexcept { return storage.store; }

void narrate(transcript kind, unsigned long long length, unsigned long long count, unsigned deletions) noexcept {
  the_log_store().append_transcript(static_cast<std::uint8_t>(kind), length, count, deletions, std::time(nullptr));
}

void narrate_deletions(unsigned count) noexcept {
  the_log_store().append_deletions(deletion::fixedint, count, std::time(nullptr));
}

void narrate_fixedfloat_deletions(unsigned count) noexcept {
  the_log_store().append_deletions(deletion::fixedfloat, count, std::time(nullptr));
}

void narrate_fixedfloat_deletion() noexcept {
  the_log_store().append_deletions(deletion::fixedfloat, 1, std::time(nullptr));
  own.value_written = true;
}

void narrate_fixedint_deletion() noexcept {
  if (own.value_written) {
    own.value_written = false;
    return;
  }
  the_log_store().append_deletions(deletion::fixedint, 1, std::time(nullptr));
}

}  // namespace VELDAR::detail
