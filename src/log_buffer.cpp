#include "log_buffer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace VELDAR::detail {

namespace {

// A block's text: 64 KiB with its bookkeeping. Lines run on from one block
// into the next.
constexpr std::size_t block_bytes = (std::size_t{64} << 10U) - 4 * sizeof(std::size_t);
// Blocks the log lets go of (emptied, or trimmed to its limit) are kept for
// its next lines, up to this many (4 MiB): their memory is already touched.
constexpr std::size_t recycled_blocks = 64;

void pause() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Whether `text` holds a line break or a carriage return, eight bytes at a time.
bool has_break(std::string_view text) noexcept {
  constexpr std::uint64_t ones = 0x0101010101010101ULL;
  constexpr std::uint64_t highs = 0x8080808080808080ULL;
  const auto haszero = [](std::uint64_t w) { return ((w - ones) & ~w & highs) != 0; };
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t w = 0;
    std::memcpy(&w, text.data() + i, 8);
    if (haszero(w ^ (ones * '\n')) || haszero(w ^ (ones * '\r'))) {
      return true;
    }
  }
  return std::any_of(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(),
                     [](char c) { return c == '\n' || c == '\r'; });
}

std::size_t escaped_size(std::string_view message) noexcept {
  return message.size() + static_cast<std::size_t>(std::count_if(message.begin(), message.end(), [](char c) {
           return c == '\n' || c == '\r';
         }));
}

}  // namespace

void spin_lock::lock() noexcept {
  while (held.exchange(true, std::memory_order_acquire)) {
    for (int spins = 0; held.load(std::memory_order_relaxed); ++spins) {
      if (spins < 128) {
        pause();
      } else {
        std::this_thread::yield();
      }
    }
  }
}

struct log_buffer::block {
  block* next = nullptr;
  std::size_t start = 0;  // the first byte kept
  std::size_t used = 0;   // bytes written
  std::size_t lines = 0;  // line breaks among the bytes kept
  std::array<char, block_bytes> text;  // left uninitialised: only written bytes are read

  std::size_t size() const noexcept { return used - start; }
  std::size_t room() const noexcept { return block_bytes - used; }
  const char* begin() const noexcept { return text.data() + start; }
  const char* end() const noexcept { return text.data() + used; }
};

// New blocks for one append, got before anything is written, so that an
// append either fits whole or changes nothing. What is not used goes back.
class log_buffer::chain {
 public:
  explicit chain(log_buffer& owner) : owner(owner) {}
  chain(const chain&) = delete;
  chain& operator=(const chain&) = delete;
  ~chain() {
    while (first != nullptr) {
      owner.recycle(take());
    }
  }

  // Room for `count` bytes beyond `available`; false when memory ran out.
  bool reserve(std::size_t count, std::size_t available) noexcept {
    for (std::size_t room = available; room < count; room += block_bytes) {
      block* fresh = owner.fresh_block();
      if (fresh == nullptr) {
        return false;
      }
      fresh->next = first;
      first = fresh;
    }
    return true;
  }
  block* take() noexcept {
    block* taken = first;
    first = first->next;
    taken->next = nullptr;
    return taken;
  }

 private:
  log_buffer& owner;
  block* first = nullptr;
};

log_buffer::block* log_buffer::fresh_block() noexcept {
  if (recycled == nullptr) {
    return new (std::nothrow) block;
  }
  block* reused = recycled;
  recycled = reused->next;
  --recycled_count;
  // The bookkeeping only: the text is written before it is read.
  reused->next = nullptr;
  reused->start = 0;
  reused->used = 0;
  reused->lines = 0;
  return reused;
}

void log_buffer::recycle(block* old) noexcept {
  if (recycled_count >= recycled_blocks) {
    delete old;
    return;
  }
  old->next = recycled;
  recycled = old;
  ++recycled_count;
}

log_buffer::~log_buffer() {
  free_all();
  while (recycled != nullptr) {
    delete std::exchange(recycled, recycled->next);
  }
}

void log_buffer::free_all() noexcept {
  while (head != nullptr) {
    recycle(std::exchange(head, head->next));
  }
  tail = nullptr;
  kept = 0;
}

bool log_buffer::lock_within(std::chrono::milliseconds patience) noexcept {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!guard.try_lock()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::yield();
  }
  return true;
}

void log_buffer::refresh_prefix(std::time_t second) noexcept {
  if (prefix_made && second == prefix_second) {
    return;
  }
  char* out = std::copy(line_opening.begin(), line_opening.end(), prefix.data());
  time_text(second, out);
  std::copy(line_closing.begin(), line_closing.end(), out + time_text_size);
  prefix_second = second;
  prefix_made = true;
}

// Appends one line: the pieces are copied into the last block and, as it fills,
// into blocks of `spare`; their line breaks are counted where they land.
class log_buffer::writer {
 public:
  writer(block*& head, block*& tail, chain& spare) : head(head), tail(tail), spare(spare) {}

  void put(std::string_view piece, bool countlines) noexcept {
    while (!piece.empty()) {
      if (tail == nullptr || tail->room() == 0) {
        block* fresh = spare.take();
        (tail == nullptr ? head : tail->next) = fresh;
        tail = fresh;
      }
      const std::size_t count = std::min(piece.size(), tail->room());
      char* out = tail->text.data() + tail->used;
      std::copy_n(piece.data(), count, out);
      if (countlines) {
        tail->lines += static_cast<std::size_t>(std::count(out, out + count, '\n'));
      }
      tail->used += count;
      piece.remove_prefix(count);
    }
  }

 private:
  block*& head;
  block*& tail;
  chain& spare;
};

bool log_buffer::append_line(std::string_view message, std::string_view suffix, std::time_t second, bool trusted) {
  std::lock_guard<spin_lock> lock(guard);
  return append_line_locked(message, suffix, second, trusted);
}

bool log_buffer::append_line_locked(std::string_view message, std::string_view suffix, std::time_t second,
                                    bool trusted) noexcept {
  refresh_prefix(second);
  const bool breaks = !trusted && (has_break(message) || has_break(suffix));
  const std::size_t count =
      prefix.size() + (breaks ? escaped_size(message) + escaped_size(suffix) : message.size() + suffix.size()) + 1;
  if (!breaks && tail != nullptr && tail->room() >= count) {
    // Most lines: the whole line fits in the last block.
    char* out = tail->text.data() + tail->used;
    std::memcpy(out, prefix.data(), prefix.size());
    out += prefix.size();
    out = std::copy(message.begin(), message.end(), out);
    out = std::copy(suffix.begin(), suffix.end(), out);
    *out = '\n';
    tail->used += count;
    ++tail->lines;
    kept += count;
    trim();
    return true;
  }
  chain spare(*this);
  if (!spare.reserve(count, tail == nullptr ? 0 : tail->room())) {
    return false;
  }
  writer out(head, tail, spare);
  out.put({prefix.data(), prefix.size()}, false);
  if (breaks) {
    const auto put = [&out](std::string_view piece) { out.put(piece, false); };
    escaped_pieces(message, put);
    escaped_pieces(suffix, put);
  } else {
    out.put(message, false);
    out.put(suffix, false);
  }
  out.put("\n", true);
  kept += count;
  trim();
  return true;
}

bool log_buffer::append_lines(const line_text* lines, std::size_t count, std::time_t second) {
  // The numbers' texts before the lock is taken.
  constexpr std::size_t most = 48;  // the longest batch the library writes has 44 lines
  std::array<std::array<char, 20>, most> numbers;  // each filled before it is read
  std::array<std::size_t, most> sizes;
  std::size_t total = count * (line_prefix_size + 1);
  for (std::size_t i = 0; i < std::min(count, most); ++i) {
    sizes[i] = lines[i].numbered ? static_cast<std::size_t>(std::to_chars(numbers[i].data(),
                                                                          numbers[i].data() + numbers[i].size(),
                                                                          lines[i].number)
                                                                .ptr -
                                                            numbers[i].data())
                                 : 0;
    total += lines[i].message.size() + sizes[i];
  }
  std::lock_guard<spin_lock> lock(guard);
  refresh_prefix(second);
  if (count > most || tail == nullptr || tail->room() < total) {
    // Past the end of the last block (or a batch longer than any the library
    // writes): line by line.
    bool stored = true;
    for (std::size_t i = 0; i < count; ++i) {
      std::array<char, 20> digits{};
      const char* end = lines[i].numbered
                            ? std::to_chars(digits.data(), digits.data() + digits.size(), lines[i].number).ptr
                            : digits.data();
      stored = append_line_locked(lines[i].message, {digits.data(), static_cast<std::size_t>(end - digits.data())},
                                  second, true) &&
               stored;
    }
    return stored;
  }
  char* out = tail->text.data() + tail->used;
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(out, prefix.data(), line_prefix_size);
    out += line_prefix_size;
    std::memcpy(out, lines[i].message.data(), lines[i].message.size());
    out += lines[i].message.size();
    std::memcpy(out, numbers[i].data(), sizes[i]);
    out += sizes[i];
    *out++ = '\n';
  }
  tail->used += total;
  tail->lines += count;
  kept += total;
  trim();
  return true;
}

bool log_buffer::append_repeated(const line_text* lines, std::size_t count, unsigned long long times,
                                 std::time_t second) {
  if (times == 0 || count == 0) {
    return true;
  }
  std::lock_guard<spin_lock> lock(guard);
  refresh_prefix(second);
  // The lines once, then copies of them.
  std::array<char, 4096> room;  // written before it is read
  std::size_t size = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t longest = line_prefix_size + lines[i].message.size() + 21;
    if (size + longest > room.size()) {
      return false;  // longer than the library's own batches: none is
    }
    char* out = std::copy(prefix.begin(), prefix.end(), room.data() + size);
    out = std::copy(lines[i].message.begin(), lines[i].message.end(), out);
    if (lines[i].numbered) {
      out = std::to_chars(out, out + 20, lines[i].number).ptr;
    }
    *out++ = '\n';
    size = static_cast<std::size_t>(out - room.data());
  }
  const std::string_view batch(room.data(), size);
  chain spare(*this);
  if (!spare.reserve(batch.size() * times, tail == nullptr ? 0 : tail->room())) {
    return false;
  }
  writer out(head, tail, spare);
  for (unsigned long long k = 0; k < times; ++k) {
    if (tail != nullptr && tail->room() >= batch.size()) {
      std::memcpy(tail->text.data() + tail->used, batch.data(), batch.size());
      tail->used += batch.size();
      tail->lines += count;
    } else {
      out.put(batch, true);  // across the end of a block
    }
  }
  kept += batch.size() * times;
  trim();
  return true;
}

bool log_buffer::append_raw(const char* text, std::size_t count) noexcept {
  std::lock_guard<spin_lock> lock(guard);
  chain spare(*this);
  if (!spare.reserve(count, tail == nullptr ? 0 : tail->room())) {
    return false;
  }
  writer(head, tail, spare).put({text, count}, true);
  kept += count;
  trim();
  return true;
}

std::string log_buffer::text() const {
  std::lock_guard<spin_lock> lock(guard);
  std::string all;
  all.reserve(size());
  all.append(header.data(), header_size);
  for (const block* b = head; b != nullptr; b = b->next) {
    all.append(b->begin(), b->size());
  }
  return all;
}

void log_buffer::replace(std::string_view text) {
  std::lock_guard<spin_lock> lock(guard);
  chain spare(*this);
  if (!spare.reserve(text.size(), 0)) {
    throw std::bad_alloc();  // the log is as it was
  }
  free_all();
  header_size = 0;
  dropped_lines = 0;
  read_position = 0;
  setg(nullptr, nullptr, nullptr);
  writer(head, tail, spare).put(text, true);
  kept = text.size();
  trim();
}

void log_buffer::set_limit(std::size_t bytes) {
  std::lock_guard<spin_lock> lock(guard);
  limit = bytes;
  trim();
}

void log_buffer::drop_head_block() noexcept {
  dropped_lines += head->lines;
  kept -= head->size();
  recycle(std::exchange(head, head->next));
  if (head == nullptr) {
    tail = nullptr;
  }
}

// Drops the oldest whole lines until the blocks hold at most three quarters of
// the room the limit leaves beside the header line, so that a trim happens
// once per quarter of the limit rather than once per line.
void log_buffer::trim() noexcept {
  if (limit == 0) {
    return;
  }
  const std::size_t room = limit > header.size() ? limit - header.size() : 0;
  if (kept <= room) {
    return;
  }
  std::size_t excess = kept - (room - room / 4);
  while (head != nullptr && excess > 0) {
    if (head != tail && head->size() <= excess) {
      // A line that runs on into the next block goes with this one.
      const bool ends_line = head->size() == 0 || head->text[head->used - 1] == '\n';
      excess = std::max<std::size_t>(excess - head->size(), ends_line ? 0 : 1);
      drop_head_block();
      continue;
    }
    // Within the block: up to the end of the line that holds the last byte to go.
    const char* from = head->begin();
    const char* last = from + std::min(excess, head->size()) - 1;
    const auto* line_end = static_cast<const char*>(std::memchr(last, '\n', static_cast<std::size_t>(head->end() - last)));
    if (line_end == nullptr) {
      if (head == tail) {  // an unfinished last line: nothing is left
        excess = head->size();
        line_end = head->end() - 1;
      } else {
        excess = head->size() + 1;
        continue;
      }
    }
    const auto cut = static_cast<std::size_t>(line_end + 1 - from);
    const auto lines = static_cast<std::size_t>(std::count(from, line_end + 1, '\n'));
    head->start += cut;
    head->lines -= lines;
    dropped_lines += lines;
    kept -= cut;
    excess = 0;
  }
  write_header();
}

void log_buffer::write_header() noexcept {
  if (dropped_lines == 0) {
    return;
  }
  if (!prefix_made) {
    refresh_prefix(std::time(nullptr));
  }
  char* out = std::copy(prefix.begin(), prefix.end(), header.data());
  char* const end = header.data() + header.size();
  constexpr std::string_view limit_of = "Log limit of ";
  constexpr std::string_view bytes = " bytes: ";
  constexpr std::string_view dropped = " earlier lines dropped.\n";
  out = std::copy(limit_of.begin(), limit_of.end(), out);
  out = std::to_chars(out, end, limit).ptr;
  out = std::copy(bytes.begin(), bytes.end(), out);
  out = std::to_chars(out, end, dropped_lines).ptr;
  out = std::copy(dropped.begin(), dropped.end(), out);
  header_size = static_cast<std::size_t>(out - header.data());
}

bool log_buffer::write_locked(int descriptor) const noexcept {
  const auto write_all = [descriptor](const char* text, std::size_t count) {
    while (count > 0) {
      const ssize_t written = ::write(descriptor, text, count);
      if (written < 0 && errno == EINTR) {
        continue;
      }
      if (written <= 0) {
        return false;
      }
      text += written;
      count -= static_cast<std::size_t>(written);
    }
    return true;
  };
  if (!write_all(header.data(), header_size)) {
    return false;
  }
  for (const block* b = head; b != nullptr; b = b->next) {
    if (!write_all(b->begin(), b->size())) {
      return false;
    }
  }
  return true;
}

std::size_t log_buffer::copy_out(std::size_t from, char* out, std::size_t count) const noexcept {
  std::size_t copied = 0;
  const auto take = [&](const char* text, std::size_t size) {
    if (from >= size) {
      from -= size;
      return;
    }
    const std::size_t n = std::min(size - from, count - copied);
    std::memcpy(out + copied, text + from, n);
    copied += n;
    from = 0;
  };
  take(header.data(), header_size);
  for (const block* b = head; b != nullptr && copied < count; b = b->next) {
    take(b->begin(), b->size());
  }
  return copied;
}

// The stream's side: `<<` appends raw text, reading copies the text out.

log_buffer::int_type log_buffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) {
    return traits_type::not_eof(c);
  }
  const char character = traits_type::to_char_type(c);
  return append_raw(&character, 1) ? c : traits_type::eof();
}

std::streamsize log_buffer::xsputn(const char* text, std::streamsize count) {
  return count > 0 && append_raw(text, static_cast<std::size_t>(count)) ? count : 0;
}

log_buffer::int_type log_buffer::underflow() {
  std::lock_guard<spin_lock> lock(guard);
  if (read_position >= size()) {
    return traits_type::eof();
  }
  const std::size_t count = copy_out(read_position, read_area.data(), read_area.size());
  read_position += count;
  setg(read_area.data(), read_area.data(), read_area.data() + count);
  return traits_type::to_int_type(read_area[0]);
}

log_buffer::pos_type log_buffer::seekoff(off_type offset, std::ios_base::seekdir way, std::ios_base::openmode which) {
  std::lock_guard<spin_lock> lock(guard);
  const auto total = static_cast<off_type>(size());
  const pos_type failed(off_type(-1));
  const bool reading = (which & std::ios_base::in) != 0;
  const bool writing = (which & std::ios_base::out) != 0;
  if (writing && !reading) {  // the put position is always the end: tellp() is the size
    return offset == 0 && way != std::ios_base::beg ? pos_type(total) : failed;
  }
  if (!reading || (writing && way == std::ios_base::cur)) {
    return failed;
  }
  const auto current = static_cast<off_type>(read_position) - (egptr() - gptr());
  const off_type base = way == std::ios_base::beg ? 0 : way == std::ios_base::cur ? current : total;
  const off_type target = base + offset;
  if (target < 0 || target > total) {
    return failed;
  }
  read_position = static_cast<std::size_t>(target);
  setg(nullptr, nullptr, nullptr);
  return pos_type(target);
}

log_buffer::pos_type log_buffer::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

log_buffer& the_log() {
  // Made on first use and never destroyed, so that it outlives every number.
  static log_buffer* const buffer = new log_buffer;  // NOLINT(cppcoreguidelines-owning-memory)
  return *buffer;
}

}  // namespace VELDAR::detail
