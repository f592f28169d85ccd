// The module log's store: log_store.h says what it keeps and promises; this
// is how.
//
// Blocks. The records lie in a list of blocks, from `head`, the oldest, to
// `tail`, where the next record goes. A record is a tag byte and a few
// varints (the layout is below); the bytes of a message or of `<<` text
// follow its header as they are and run on into the next blocks when they
// must. A header never runs over the end of a block, so each block can be
// walked on its own from `first`, where the first record that starts in it
// starts (the bytes before it end a text begun in an earlier block). Each
// block also counts the text bytes and lines of the records that start in
// it, and knows the second in force at `first`: dropping the head block takes
// its counts off the totals without decoding a record. The time goes in as
// a record of its own, written only when the second changes.
//
// The lock. One spin_lock guards the blocks, the totals, the trim state and
// the read hint. Nothing is allocated or freed while it is held: the lock is
// not recursive, and an operator new (or delete) that logs would wait for
// ever on the lock its own thread holds. So lock_with_room() gets the blocks
// an append needs with the lock let go of, into the `spare` list, before the
// append writes; blocks that trimming or clearing let go of beyond the spare
// list's bound wait on the `surplus` list until unlock_and_free() has let go
// of the lock. link_block() takes a spare block and never checks that there
// is one: every path that writes has made sure of them first.
//
// Waiting records. The library's own records (transcripts and deletions) may
// wait in a ring of the thread that made them, added without the lock (the
// section "Waiting records" below has the slot, its counters and the memory
// orders of its atomics). Whoever takes the lock through lock_with_room()
// stores every thread's waiting records before writing its own, and a thread
// adds to its ring only while no other thread's records wait: so the log
// reads in the order its records were made, but for records that waited in
// two threads at the same time, which no order relates.
//
// Trimming. Past the limit (kept_bytes > trim_point, one comparison an
// append), trim() drops the oldest whole lines until the text is down to
// three quarters of the limit. The lines dropped leave only their count: the
// first line, "Log limit of 4096 bytes: 120 earlier lines dropped.", is no
// record but made when the log is read, from dropped_lines, the limit of the
// trim and its second.
//
// Reading renders the records, from any byte of the text on, into a
// text_sink; a hint of where the last read started lets a reader that walks
// the log from start to end in pieces walk it once.
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
// whole blocks, not record after record. The 48 bytes are the block's 40 of
// fields and the 8 of the allocator's own header (glibc's, 64-bit): a block
// takes 1 KiB of the heap, not a little more.
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
//   message     tag, size, escapes, bytes          a VELDAR::log() line: escapes counts its line
//                                                  breaks and carriage returns, a byte more each
//   stream      tag, size, line breaks, bytes      `<<` text, as it is
// The tags lie above every transcript's, so that a transcript's tag is its
// kind. Varints take 7 bits a byte, the low ones first: 300 is AC 02, and a
// 64-bit value takes at most ten bytes. The largest header is a transcript's
// (tag, deletions, length, count) or a text's (tag, size, line breaks).
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

// Reads a varint from [at, end), moving `at` past it; false when it does not
// end there (or runs past ten bytes), as on bytes that are no record.
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

// A second as a varint's value: 0, -1, 1, -2 -> 0, 1, 2, 3, so that a time
// before 1970 is no ten-byte varint, and every time_t goes in and comes back.
unsigned long long zigzag(std::time_t second) noexcept {
  const auto value = static_cast<long long>(second);
  return (static_cast<unsigned long long>(value) << 1U) ^ static_cast<unsigned long long>(value >> 63);
}

std::time_t unzigzag(unsigned long long value) noexcept {
  return static_cast<std::time_t>(static_cast<long long>(value >> 1U) ^ -static_cast<long long>(value & 1U));
}

// Whether a transcript's record carries a count after its length: the
// others' lines repeat by their length alone, or not at all.
bool repeats_by_count(std::uint8_t kind) noexcept {
  return lines_of(static_cast<transcript>(kind)).times == repeat::count;
}

// Whether this thread is getting memory for the log: an operator new that
// logs must not make it get more, and more, for ever.
// An atomic, though only its thread touches it: a plain flag set around a
// call of operator new may be left unset by the compiler, which cannot see
// that the call comes back here.
thread_local std::atomic<bool> getting_memory{false};

// Copies the text into a buffer made beforehand, and stops once it is full:
// put() is false then, which ends the render of a read() window or of text()
// without walking the rest.
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

// Counts what it is given: the size of text not stored yet, as the report
// needs it to keep room.
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
// other threads' lines until its line break. A thread that ends with a line
// unfinished leaves it in the log as it is, with no line break added.
// (A thread_local made on its thread's first use; empty, it holds no
// memory.)
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

// The prefix of lines of one second, made again only when the second changes:
// line_prefix() goes through localtime_r(), which costs far more than copying
// a line, and a render meets thousands of lines of the same second.
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

// Test and test-and-set. The exchange that takes the lock is an acquire,
// paired with the release of unlock(): what the last holder wrote under the
// lock is seen by the next. While it is held, the waiter only reads the flag
// (relaxed: it is a hint, the exchange decides), so that waiters share its
// cache line instead of taking it from the holder with every try. After 128
// rounds (a pause each on x86) the waiter yields: the holder may be a thread
// the system put off, and it needs a processor to let go.
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
  std::uint32_t first = 0;                     // where the first record that starts in this block starts
  std::uint32_t used = 0;                      // bytes written
  std::uint64_t bytes = 0;                     // the text of the records that start here, as far as it is kept
  std::uint64_t lines = 0;                     // their lines
  std::time_t start_second = 0;                // the second in force at `first`
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
//
// Why this is safe with no lock on the owner's side, counter by counter:
//   - published: written by the owner alone, a release after the record's
//     fields; a storer reads it with an acquire and so sees every field of
//     the records below it. The owner reads its own count relaxed.
//   - stored: written only with the lock held, a release after the records
//     below it were copied into the blocks (or, clearing, dropped); the
//     owner reads it with an acquire before it writes over a place of the
//     ring again, so that it never writes over a record still being read.
//     A storer reads it relaxed: the lock it holds orders every write of it.
//   - deleted (a count for each kind of deletion): written by the owner
//     alone, so a load and a store make the increment (no read-modify-write
//     is needed), the store a release. A storer reads them with an acquire,
//     and before `published`: the records the owner added before a deletion
//     it counted then show in the `published` read after, and the deletions
//     go in after them.
//   - deleted_stored and stored_second: with the lock held, as `stored`.
//   - taken: see own_slot() and slot_keeper.
// Without the lock, other threads read the counters (waiting()) only to
// learn whether records wait: a thread that logs after another, through a
// lock of its own say, sees by that lock every record the other published
// before, and stores them before its own rather than adding to its ring.

// The counts of deletions, one for each kind: deletion::fixedint's and
// deletion::fixedfloat's.
using deletion_counts = std::array<std::uint32_t, 2>;

// One waiting record, whole with its second: a transcript with its length,
// count and deletions. 40 bytes: the ring of 128 takes 5 KiB a thread.
struct log_store::waiting_record {
  std::time_t second = 0;
  unsigned long long length = 0;
  unsigned long long count = 0;
  deletion_counts deleted_before{};  // the thread's counted deletions that come before it, by kind
  std::uint8_t kind = 0;             // a transcript, or new_second
  std::uint8_t deletions = 0;        // after a transcript: fixedint deletions
};

namespace {

// No lines: the second, or the kind, of the deletions counted after it.
constexpr std::uint8_t new_second = 0xFE;
constexpr std::uint32_t ring_size = 128;
// A thread counts up to this many deletions at a time; more go through
// the lock.
constexpr unsigned most_counted = 1U << 16U;

}  // namespace

//
// Deletions, the most frequent records ("Deleted fixedint object.", and a
// fixedfloat's "Deleting fixedfloat object!" with its value's line), take
// no place in the ring: the thread counts them up (`deleted`, a count for
// each kind), and each record it adds notes the counts it found
// (`deleted_before`), so that they go in between the records they came
// between. A number made and destroyed, and another made, is: record A with
// deleted_before 0, the count going to 1, record B with deleted_before 1;
// the storer writes A, one deletion, B. The deletions counted after the last
// record go in after it. Between two records, deletions are of one kind and
// one second: they carry the second of the record before them, and a thread
// adds a new_second record before deletions of a later second or of the
// other kind. The counts are 32 bits and wrap; only their differences are
// used.
struct log_store::thread_slot {
  std::array<waiting_record, ring_size> ring{};
  std::atomic<std::uint32_t> published{0};              // records added
  std::atomic<std::uint32_t> stored{0};                 // records stored
  std::array<std::atomic<std::uint32_t>, 2> deleted{};  // deletions counted, by kind
  // With the lock held: the deletions stored, and the second of the last
  // record stored, which the deletions after it carry.
  std::array<std::atomic<std::uint32_t>, 2> deleted_stored{};
  std::atomic<std::time_t> stored_second{0};
  std::atomic<bool> taken{false};  // a live thread owns it
  thread_slot* next = nullptr;     // set once, before the slot is on the list

  // The records and deletions waiting: not 0 tells another thread to go
  // through the lock. Read without the lock, the four counts are no one
  // snapshot; the lock-free paths only ask whether the sum is 0, and under
  // the lock the stored counts hold still.
  std::uint32_t waiting() const noexcept {
    return published.load(std::memory_order_acquire) - stored.load(std::memory_order_acquire) +
           deleted[0].load(std::memory_order_acquire) - deleted_stored[0].load(std::memory_order_acquire) +
           deleted[1].load(std::memory_order_acquire) - deleted_stored[1].load(std::memory_order_acquire);
  }

  // Both counts of deletions, with an acquire each.
  deletion_counts counted() const noexcept {
    return {deleted[0].load(std::memory_order_acquire), deleted[1].load(std::memory_order_acquire)};
  }
  // Relaxed with the lock held, which orders every write of them; the
  // report, which may render without the lock, reads them with an acquire.
  deletion_counts counted_stored(std::memory_order order = std::memory_order_relaxed) const noexcept {
    return {deleted_stored[0].load(order), deleted_stored[1].load(order)};
  }
  void set_stored(const deletion_counts& counts) noexcept {
    deleted_stored[0].store(counts[0], std::memory_order_release);
    deleted_stored[1].store(counts[1], std::memory_order_release);
  }
};

namespace {

// The calling thread's slot, and whether it has given it back (at its end).
// initial-exec: every record reaches it at a fixed offset from the thread
// pointer, with no call to __tls_get_addr(). Trivially destroyed, it stays
// usable while the thread's other thread_locals are destroyed after
// slot_keeper: `ended` then sends their records straight in.
struct own_slot_state {
  log_store::thread_slot* slot = nullptr;
  std::time_t second = 0;  // of the thread's last record in its ring
  bool second_known = false;
  std::uint8_t deleting = 0;  // the kind of the deletions counted since that record, plus one; 0: none
  bool ended = false;
  std::atomic<bool> taking{false};  // getting a slot: a record meanwhile goes straight in (atomic: as getting_memory)
  bool value_written = false;       // a fixedfloat wrote its value's deletion, which goes next
};
[[gnu::tls_model("initial-exec")]] thread_local own_slot_state own;

}  // namespace

// Gives the thread's slot back when it ends, its records stored first.
// (Numbers destroyed later, after main() for one, store theirs at once.)
// The release store of `taken` pairs with the acquire of the thread that
// takes the slot next: it sees the counters as this thread left them, and
// goes on from its `published` and `deleted` counts. The records a failed store
// left waiting stay in the ring and go in before the next owner's.
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

// A record decoded: what it is, how much text it makes, and where the next
// one starts. Reading, trimming and rendering walk the records with it.
struct log_store::cursor {
  position at;             // where it starts
  std::time_t second = 0;  // the second its lines carry
  unsigned char tag = 0;
  transcript_record record;  // a transcript
  std::uint64_t size = 0;    // a message's or stream text's bytes
  std::uint64_t breaks = 0;  // their line breaks (a message's: its escapes)
  position payload;          // where those bytes start
  position next;             // where the next record starts
  std::uint64_t bytes = 0;   // the record's text
  std::uint64_t lines = 0;

  // Decodes the record at `at` (the second in force there being `second`);
  // false at the end of the records, or on bytes that are no record. The
  // sizes come from the header alone: a transcript's from its kind, length
  // and count (transcript.h adds them up without making a line), a text's
  // from its size and line breaks. A message is one line however many line
  // breaks it holds, as they are escaped; `<<` text is as many lines as it
  // has line breaks.
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
  // running on at the start of the next blocks. A text that ends exactly at
  // the end of a block gives the block's end, which normalise() turns into
  // the next block's first record.
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
  // `prefix`. `skip` counts bytes of the text, not of the record: a message's
  // prefix and escapes are made first and skipped by a skipping_sink. A
  // second record makes no text.
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
  // byte `from`; `size` when there is none. Trimming cuts `<<` text there.
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

// The process's store is never destroyed (the_log_store()); a store of a
// test's own is.
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
//
// Every append takes one of two ways. The library's transcripts and
// deletions try the calling thread's ring first (append_waiting(),
// count_deletion()), which takes no lock; where that would put them out of
// order or the ring is full, they go in as messages and `<<` text always do:
// lock_with_room() takes the lock with the blocks the record needs at hand
// and the waiting records stored, the record is written, and
// unlock_and_free() lets go of the lock and frees what trimming let go of.

// A spare block, made empty, for the tail. Its start_second is the second
// in force where the tail ends, which is where the new block's records
// start. There is always one: see the top of this file.
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

// A block the log let go of: kept for the next records while the spare list
// is within its bound, else freed at the next unlock_and_free().
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

// The blocks to get before `header_size` bytes of headers and `payload`
// bytes of text can be written: those the tail's room and the spare blocks
// do not cover.
std::size_t log_store::blocks_missing(std::size_t header_size, std::size_t payload) const noexcept {
  // Records never run over the end of a block: each block may leave up to
  // a record's bytes unused at its end. The count errs high: callers pass
  // the longest headers their records may have, and every block's end is
  // taken to be wasted.
  constexpr std::size_t per_block = block_size - record_most;
  const std::size_t room = tail == nullptr || tail->room() < record_most ? 0 : tail->room() - record_most;
  const std::size_t need = header_size + payload;
  if (need <= room) {
    return 0;
  }
  const std::size_t needed = (need - room + per_block - 1) / per_block;
  return needed > spare_count ? needed - spare_count : 0;
}

// The records and counted deletions waiting in every thread's ring: a
// bound on the records storing them writes (counted deletions between two
// records go in as one).
std::size_t log_store::waiting_records() const noexcept {
  std::size_t count = 0;
  for (const thread_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    count += slot->waiting();
  }
  return count;
}

// The way in for every append that takes the lock, and for every read: the
// blocks checked with the lock held, got with it let go of, checked again
// (another thread may have used them meanwhile) until they are at hand; then
// the waiting records stored. When it is false the lock is not held, and
// nothing was stored; readers then take the lock plainly and read what is
// stored.
bool log_store::lock_with_room(std::size_t header_size, std::size_t payload) noexcept {
  guard.lock();
  for (;;) {
    // The waiting records go in first, all that may wait (a thread adds to
    // its ring meanwhile), each with the deletions before it; and as much
    // stays at hand after, so that the terminate handler, which gets no
    // memory, can store whatever waits then. All that may wait, a slot: a
    // full ring of records, each with a group of deletions before it, and the
    // deletions after the last, 2 * 128 + 1 records of record_most bytes at
    // most; twice that is about 17 KB a slot. slot_count may lag a slot just
    // put on the list; its thread calls store_waiting() before its first
    // record (own_slot()), which gets the blocks for it.
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
    // Spare blocks beyond spare_bound for a while: they are what the log is
    // about to fill, and release() keeps the bound when blocks come back.
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

// Lets go of the lock, then frees the blocks trimming put on the surplus
// list: operator delete may log too.
void log_store::unlock_and_free() noexcept {
  block* freed = std::exchange(surplus, nullptr);
  guard.unlock();
  free_blocks(freed);
}

// Writes a record: its second first when it is stamped and the second
// moved on, then its header, both whole in one block, then `payload` as it
// is, over as many blocks as it takes. `bytes` and `lines` are its text's,
// counted in the block it starts in (`home`), where dropping that block
// takes them off. A block the text runs into starts its records after the
// text (`first`). `joinable` makes the record the one later deletions may
// join.
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

// The text bytes and lines of a transcript record without deletions, taken
// from recent_sizes when the last record of its kind had the same length and
// count, as in a loop that repeats one operation on numbers of one length.
std::pair<std::uint64_t, std::uint64_t> log_store::sizes_of(std::uint8_t kind, unsigned long long length,
                                                            unsigned long long count) noexcept {
  sized& recent = recent_sizes[kind];
  if (!recent.known || recent.length != length || recent.count != count) {
    const transcript_record record{static_cast<transcript>(kind), length, count, 0};
    recent = {length, count, byte_count(record), line_count(record), true};
  }
  return {recent.bytes, recent.lines};
}

// Puts a spare block at the end of the list; the first block of an empty
// log is its head too.
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

// The most frequent write, done in place: one check of the tail's room
// (record_most covers a second and the longest header), then the bytes
// straight into the block. The record becomes the one later deletions of
// its second may join. `deletions` is at most most_deletions, fixedints'.
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
  // its count: no new record, one byte counted up. Their lines come last in
  // the record's text, which is the end of the log, so nothing read before
  // moves. Else they are a record of their own, a deletions transcript of
  // `count`, which the next deletions may join in turn.
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

// The deletions of a kind a thread counted that are not stored yet: its
// count `deleted` less `stored`, on 32-bit counts that wrap. None when the
// storer is already past `deleted`: it read `deleted` before `published`, and
// the thread may count a deletion and publish a record that carries the new
// count in between; the record's count then stands for that deletion.
namespace {
std::uint32_t deletions_ahead(std::uint32_t deleted, std::uint32_t stored) noexcept {
  const auto ahead = static_cast<std::int32_t>(deleted - stored);
  return ahead > 0 ? static_cast<std::uint32_t>(ahead) : 0;
}
}  // namespace

// Stores every thread's waiting records, each thread's in order. Records
// waiting in two threads at once are of no order between them: a thread
// that would add to its ring while another's has records stores them first
// (append_waiting()), so that what one thread logs after another, through
// a lock say, follows it.
void log_store::store_waiting_locked() noexcept {
  for (thread_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    // The deletions counted first, then the records: every record added
    // before a deletion counted is then seen. The counts written only with
    // the lock held are read relaxed: the lock orders them.
    const deletion_counts deleted = slot->counted();
    const std::uint32_t published = slot->published.load(std::memory_order_acquire);
    std::uint32_t at = slot->stored.load(std::memory_order_relaxed);
    deletion_counts deleted_stored = slot->counted_stored();
    std::time_t second = slot->stored_second.load(std::memory_order_relaxed);
    if (at == published && deleted == deleted_stored) {
      continue;
    }
    // Each record: the deletions counted since the one before (of one kind),
    // which carry that one's second, then the record itself. A new_second
    // record writes nothing: it only ends the deletions before it.
    for (; at != published; ++at) {
      const waiting_record& record = slot->ring[at % ring_size];
      write_deletions_locked(deletion::fixedint, record.deleted_before[0] - deleted_stored[0], second);
      write_deletions_locked(deletion::fixedfloat, record.deleted_before[1] - deleted_stored[1], second);
      deleted_stored = record.deleted_before;
      second = record.second;
      if (record.kind != new_second) {
        write_transcript_locked(record.kind, record.length, record.count, record.deletions, record.second);
      }
    }
    // The deletions counted after the last record. Then the stored counts
    // move on, with a release: the owner may use the ring's places again,
    // and waiting() shows nothing waiting, once the records are in the blocks.
    const deletion_counts after{deletions_ahead(deleted[0], deleted_stored[0]),
                                deletions_ahead(deleted[1], deleted_stored[1])};
    write_deletions_locked(deletion::fixedint, after[0], second);
    write_deletions_locked(deletion::fixedfloat, after[1], second);
    deleted_stored = {deleted_stored[0] + after[0], deleted_stored[1] + after[1]};
    slot->stored_second.store(second, std::memory_order_relaxed);
    slot->set_stored(deleted_stored);
    slot->stored.store(published, std::memory_order_release);
  }
}

// Also gets the blocks that every slot's records may need (lock_with_room()),
// and frees what storing trimmed.
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
                               std::uint8_t deletions, std::time_t second) noexcept {
  thread_slot* const slot = own.slot != nullptr ? own.slot : own_slot();
  if (slot == nullptr) {
    return false;
  }
  // Our own count, relaxed; the acquire of `stored` makes sure that the place
  // about to be written was read by the storer that gave it back.
  const std::uint32_t published = slot->published.load(std::memory_order_relaxed);
  if (published - slot->stored.load(std::memory_order_acquire) == ring_size) {
    return false;
  }
  if (others_waiting(slot)) {
    return false;
  }
  waiting_record& record = slot->ring[published % ring_size];
  record.second = second;
  record.length = length;
  record.count = count;
  record.deleted_before = {slot->deleted[0].load(std::memory_order_relaxed),
                           slot->deleted[1].load(std::memory_order_relaxed)};
  record.kind = kind;
  record.deletions = deletions;
  // The release publishes the fields above to whoever reads the count with
  // an acquire.
  slot->published.store(published + 1, std::memory_order_release);
  own.second = second;
  own.second_known = true;
  own.deleting = 0;
  return true;
}

// Counts `count` deletions of `kind` up in the calling thread's slot where
// that keeps the log's order, after a new_second record when the second
// moved on or the deletions counted since the last record are of the other
// kind. False otherwise, with nothing counted (a new_second record may have
// gone in, which writes nothing). A thread without a slot does not take one
// here: its first record does.
//
// The usual deletion, one more of the kind counted last in the same second
// by a thread alone, calls nothing; new_second records and the look at
// other threads' slots are out of line (may_count()).
bool log_store::count_deletion(deletion kind, unsigned count, std::time_t second) noexcept {
  thread_slot* const slot = own.slot;
  const auto deleting = static_cast<std::uint8_t>(static_cast<unsigned>(kind) + 1);
  if (slot == nullptr || count > most_counted) {
    return false;
  }
  const bool same_run = own.second_known && second == own.second && (own.deleting == 0 || own.deleting == deleting);
  if ((!same_run || slot_count.load(std::memory_order_acquire) > 1) && !may_count(slot, same_run, second)) {
    return false;
  }
  // The owner alone writes `deleted`: a load and a store count it up. The
  // release orders the records added before it ahead of the deletion.
  std::atomic<std::uint32_t>& deleted = slot->deleted[static_cast<std::size_t>(kind)];
  deleted.store(deleted.load(std::memory_order_relaxed) + count, std::memory_order_release);
  own.deleting = deleting;
  return true;
}

bool log_store::may_count(const thread_slot* slot, bool same_run, std::time_t second) noexcept {
  return (same_run || append_waiting(new_second, 0, 0, 0, second)) && !others_waiting(slot);
}

// (A thread alone in a program has no other slot to look at. slot_count
// counts every slot ever made: once a second thread has had one, every
// record walks the list.)
bool log_store::others_waiting(const thread_slot* slot) const noexcept {
  if (slot_count.load(std::memory_order_acquire) > 1) {
    for (const thread_slot* other = slots.load(std::memory_order_acquire); other != nullptr; other = other->next) {
      if (other != slot && other->waiting() != 0) {
        return true;
      }
    }
  }
  return false;
}

// The ring first; deletions beyond a record's byte, or a ring that may not
// take the record, go through the lock.
bool log_store::append_transcript(std::uint8_t kind, unsigned long long length, unsigned long long count,
                                  unsigned deletions, std::time_t second) noexcept {
  if (deletions <= most_deletions &&
      append_waiting(kind, length, count, static_cast<std::uint8_t>(deletions), second)) {
    return true;
  }
  return store_transcript(kind, length, count, deletions, second);
}

bool log_store::store_transcript(std::uint8_t kind, unsigned long long length, unsigned long long count,
                                 unsigned deletions, std::time_t second) noexcept {
  // Up to most_deletions go in the record's byte, the rest in a deletions
  // record after it: room for two headers then.
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
// when it cannot have one: the thread has ended, it is getting a slot
// already (a record that the operator new below writes meanwhile goes
// straight in), or there was no memory for one.
//
// A free slot of an ended thread is taken first, with an acquire that pairs
// with the release of slot_keeper: the counters are seen as that thread left
// them. A new slot is put at the head of the list with a release, so that a
// thread that finds it there, through an acquire load of `slots`, sees it
// made; slots are never freed nor taken off the list, so the list can be
// walked without the lock, and a pointer taken from it stays good.
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
      // Relaxed: no other thread sees the slot before the release below.
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

// Deletions, the most frequent records of all, are only counted in the
// thread's slot. Where it may not count them, they go in through the lock.
bool log_store::append_deletions(deletion kind, unsigned count, std::time_t second) noexcept {
  if (count == 0 || count_deletion(kind, count, second)) {
    return true;
  }
  if (!lock_with_room(header_most, 0)) {
    return false;
  }
  write_deletions_locked(kind, count, second);
  unlock_and_free();
  return true;
}

// A message's text: the prefix, the message with each escape a byte longer,
// and its line break.
void log_store::write_message_locked(std::string_view message, std::size_t escapes, std::time_t second) noexcept {
  std::array<unsigned char, header_most> header{};
  header[0] = message_tag;
  std::size_t size = 1 + put_varint(message.size(), header.data() + 1);
  size += put_varint(escapes, header.data() + size);
  write_locked(header.data(), size, message, true, second, line_prefix_size + message.size() + escapes + 1, 1, false);
}

bool log_store::append_text(std::string_view message, std::time_t second) noexcept {
  // Messages go straight in: their text would be copied twice by the way of
  // the waiting records, for a lock that costs less. The escapes are counted
  // before the lock is taken, to hold it for the copy alone.
  const std::size_t escapes = escapes_in(message);
  if (!lock_with_room(header_most, message.size())) {
    return false;
  }
  write_message_locked(message, escapes, second);
  unlock_and_free();
  return true;
}

// `<<` text carries no time of its own (stamped false): its lines show as
// they were written, and the second in force goes on after them.
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

// `logstream << "step " << i << '\n'` comes here in pieces: "step " and the
// digits only grow the thread's unfinished line, and the line break stores
// "step 7\n" as one record. Text with line breaks in it goes in up to its
// last one, the unfinished line before it; what follows is the new
// unfinished line. The unfinished line grows with no lock held (it is the
// thread's own), and may throw std::bad_alloc: caught here.
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
//
// With a limit of 4096 bytes, the append that takes the text past 4096 trims
// it to 3072 bytes at most, the first line "VELDAR [...]: Log limit of 4096
// bytes: 120 earlier lines dropped." included; the next trim comes some 1 KiB
// of lines later. Lines go whole, oldest first: each round drops the head
// block whole when it holds no more than must go (and not the newest line),
// else the head record whole, else lines of it, which head_skip remembers
// (a transcript's lines, or bytes of `<<` text). The newest line stays
// whatever its size, and may leave the text above 3072 bytes. Trimming
// allocates nothing: the blocks it lets go of become spare, or wait on the
// surplus list.

// The first line's bytes with `dropped` lines dropped: its width grows with
// the count's digits, and it states the limit in force at the last trim.
std::uint64_t log_store::header_bytes(std::uint64_t dropped) const noexcept {
  return line_prefix_size + limit_opening.size() + decimal_width(header_limit) + limit_bytes.size() +
         decimal_width(dropped) + limit_closing.size() + 1;
}

std::uint64_t log_store::header_size() const noexcept { return dropped_lines == 0 ? 0 : header_bytes(dropped_lines); }

// trim_point is what kept_bytes may reach before a trim is due: the limit
// less the first line, so that appends compare one number. The spare blocks
// may hold the quarter of the limit a trim lets go of: the log fills it
// again in memory it has.
void log_store::update_trim_point() noexcept {
  spare_bound = std::max(spare_blocks, byte_limit / 4 / block_size);
  if (byte_limit == 0) {
    trim_point = std::numeric_limits<std::uint64_t>::max();
    return;
  }
  const std::uint64_t header = header_size();
  trim_point = byte_limit > header ? byte_limit - header : 0;
}

// Drops the head block and the lines its records count. A record whose text
// runs on into the next block goes whole with it: that block's records start
// after the text.
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
  // What is left of the record, and whether it holds the newest line: it
  // does when its lines left are all the kept lines, the records after it
  // making none.
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
  // A record goes whole when all it has left must go, and a second or a
  // message (one line) always does; the one with the newest line never goes
  // whole.
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
  // A transcript: the lines up to the one that reaches byte
  // skipped_bytes + bytes, counted from its sizes, not made; `<<` text: up to
  // the line break at or after that byte.
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
// The first line takes the second in force at the tail and the limit in
// force. Every offset in the text moves: `generation` counts it, and the
// read hint is no longer good.
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
    // The head block goes whole when it is not the tail, holds no more than
    // must go, and not the newest line (a later block counts some lines).
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

// For the terminate handler, with the lock held: nothing may be got. The
// report's lines are no records (they go to the file after the log), so the
// room for them is kept by trimming down to the limit less `reserve`, not to
// three quarters of it: the log then loses as few lines as it can.
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

// A lower limit trims at once. The blocks beyond the spare bound stay on the
// surplus list until the next append or read lets go of the lock with
// unlock_and_free().
void log_store::set_limit(std::size_t bytes) noexcept {
  const std::lock_guard<spin_lock> lock(guard);
  byte_limit = bytes;
  update_trim_point();
  if (kept_bytes > trim_point) {
    trim();
  }
}

// With the lock, as set_limit() may be changing it in another thread.
std::size_t log_store::limit() const noexcept {
  const std::lock_guard<spin_lock> lock(guard);
  return byte_limit;
}

// Replacing and clearing.

// Empties the log: its blocks become spare, the count of dropped lines (and
// with it the first line) goes, and offsets start again.
void log_store::clear_locked() noexcept {
  // While the blocks come back, an emptied log keeps 256 of them (256 KiB)
  // for its next lines and frees the rest; update_trim_point() below sets the
  // bound for trims again.
  spare_bound = spare_blocks;
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
  // Records waiting in threads go with the rest: marked stored, as a storer
  // would (the same orders), without being written.
  // The second of the last record goes on to the deletions counted after
  // it, as store_waiting_locked() would pass it on.
  for (thread_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    deletion_counts deleted = slot->counted();
    const std::uint32_t published = slot->published.load(std::memory_order_acquire);
    const std::uint32_t stored = slot->stored.load(std::memory_order_relaxed);
    if (published != stored) {
      const waiting_record& last = slot->ring[(published - 1) % ring_size];
      slot->stored_second.store(last.second, std::memory_order_relaxed);
      const deletion_counts deleted_stored = slot->counted_stored();
      for (std::size_t kind = 0; kind < deleted.size(); ++kind) {
        // A record published after `deleted` was read carries a later count.
        if (deletions_ahead(last.deleted_before[kind], deleted_stored[kind]) >
            deletions_ahead(deleted[kind], deleted_stored[kind])) {
          deleted[kind] = last.deleted_before[kind];
        }
      }
    }
    slot->set_stored(deleted);
    slot->stored.store(published, std::memory_order_release);
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
  // The calling thread's unfinished `<<` line goes too; other threads' stay
  // theirs. The text goes in as one `<<` record, with no time of its own.
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
//
// A read first stores what waits in threads (lock_with_room() with nothing
// to write); when the blocks for that cannot be had, it takes the lock
// plainly and reads what is stored. The calling thread's unfinished `<<`
// line is no record: it is read after the stored text, from the thread's
// own string, with the lock let go of. The text is made with the lock held,
// into memory got before it was taken.

// The first line, made from the trim's count, limit and second: it is stored
// nowhere.
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
  // Records wholly before `from` are passed over by their sizes, their text
  // not made; the first record that reaches `from` is where the next read's
  // hint points, and its text is made from the byte `from` falls on. The
  // oldest record shows from where trimming cut it (head_skip).
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
                      : record.tag == stream_tag    ? head_skip
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
  // report renders them with no memory to spare. The counts are read as the
  // storer reads them, `deleted` before `published`. Nothing moves `stored`
  // while the lock is held, and an owner writes a ring place again only once
  // `stored` has passed it: the places read here hold still.
  const auto deletions = [&sink](const deletion_counts& counts, std::time_t second) {
    const auto prefix = line_prefix(second);
    return (counts[0] == 0 || render_transcript({transcript::deletions, 0, counts[0], 0, false},
                                                {prefix.data(), prefix.size()}, 0, sink)) &&
           (counts[1] == 0 || render_transcript({transcript::fixedfloat_deletions, 0, counts[1], 0, false},
                                                {prefix.data(), prefix.size()}, 0, sink));
  };
  const auto ahead = [](const deletion_counts& counted, const deletion_counts& stored) {
    return deletion_counts{deletions_ahead(counted[0], stored[0]), deletions_ahead(counted[1], stored[1])};
  };
  for (const thread_slot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    const deletion_counts deleted = slot->counted();
    const std::uint32_t published = slot->published.load(std::memory_order_acquire);
    deletion_counts deleted_stored = slot->counted_stored(std::memory_order_acquire);
    std::time_t second = slot->stored_second.load(std::memory_order_acquire);
    for (std::uint32_t at = slot->stored.load(std::memory_order_acquire); at != published; ++at) {
      const waiting_record& waiting = slot->ring[at % ring_size];
      if (!deletions({waiting.deleted_before[0] - deleted_stored[0], waiting.deleted_before[1] - deleted_stored[1]},
                     second)) {
        return false;
      }
      deleted_stored = waiting.deleted_before;
      second = waiting.second;
      if (waiting.kind == new_second) {
        continue;
      }
      const transcript_record record{static_cast<transcript>(waiting.kind), waiting.length, waiting.count,
                                     waiting.deletions, false};
      const auto prefix = line_prefix(waiting.second);
      if (!render_transcript(record, {prefix.data(), prefix.size()}, 0, sink)) {
        return false;
      }
    }
    if (!deletions(ahead(deleted, deleted_stored), second)) {
      return false;
    }
  }
  return true;
}

// The bytes a read from 0 would give: the stored text, the first line
// included, and the calling thread's unfinished line.
std::uint64_t log_store::size() noexcept {
  const std::uint64_t own_line = own_partial().text.size();
  if (!lock_with_room(0, 0)) {
    guard.lock();
  }
  const std::uint64_t size = header_size() + kept_bytes + own_line;
  unlock_and_free();
  return size;
}

// The string is got with the lock let go of: its size is read with the lock,
// the string made without it, and the text rendered into it with the lock
// taken again, when the size is still the same; else all again, as other
// threads logged meanwhile.
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

// A window of the text for logstream's reading: the stored text from
// `from` on, then the calling thread's unfinished line where the window
// reaches past the stored text.
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

// try_lock() and a yield until the deadline: the terminate handler neither
// waits for ever on a thread that holds the lock, nor gets memory.
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

// The report's log: the stored text, then the records still waiting in
// threads (make_room_locked() stores them when it can, else they are rendered
// here), then the calling thread's unfinished line.
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

// A fixedfloat's deletion writes its value's "Deleted fixedint object." with
// its own line, as one record; the value's destructor, which runs next on
// the same thread, finds value_written and writes nothing.
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
