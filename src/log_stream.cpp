#include "log_stream.h"

#include <string_view>

#include "log_store.h"

namespace VELDAR::detail {

// Writing. The buffer has no put area: text comes whole to xsputn() (sputn(),
// as `<<` writes) or a character at a time to overflow() (sputc(): put(),
// std::endl). Both hand it to the store at once, which keeps the thread's
// unfinished line; a store that fails (no memory) returns what makes the
// stream set badbit.

// overflow(eof) asks for nothing to be written: it succeeds.
log_stream_buffer::int_type log_stream_buffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) {
    return traits_type::not_eof(c);
  }
  const char character = traits_type::to_char_type(c);
  return the_log_store().write_stream({&character, 1}) ? c : traits_type::eof();
}

std::streamsize log_stream_buffer::xsputn(const char* text, std::streamsize count) {
  return count > 0 && the_log_store().write_stream({text, static_cast<std::size_t>(count)}) ? count : 0;
}

// Reading. The next window of up to 4 KiB is rendered from the records at
// read_position into read_area; eof past the end of the text. The text is
// made anew for each window: a trim meanwhile moves it under the reader.
log_stream_buffer::int_type log_stream_buffer::underflow() {
  const std::size_t count = the_log_store().read(read_position, read_area.data(), read_area.size());
  if (count == 0) {
    setg(nullptr, nullptr, nullptr);
    return traits_type::eof();
  }
  read_position += count;
  setg(read_area.data(), read_area.data(), read_area.data() + count);
  return traits_type::to_int_type(read_area[0]);
}

// tellp() and seekp(0, end) for the put position, which is always the end
// of the text; tellg() and seekg() for the get position, anywhere in
// [0, size] (the calling thread's unfinished line included). Moving the get
// position drops the window; the next read renders from the new position.
log_stream_buffer::pos_type log_stream_buffer::seekoff(off_type offset, std::ios_base::seekdir way,
                                                       std::ios_base::openmode which) {
  const auto total = static_cast<off_type>(the_log_store().size());
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
  read_position = static_cast<std::uint64_t>(target);
  setg(nullptr, nullptr, nullptr);
  return pos_type(target);
}

log_stream_buffer::pos_type log_stream_buffer::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

// Never destroyed, as the store: logstream works after main() too, in the
// destructors of static objects.
log_stream_buffer& the_log_stream_buffer() noexcept {
  static log_stream_buffer* const buffer = new log_stream_buffer;  // NOLINT(cppcoreguidelines-owning-memory)
  return *buffer;
}

}  // namespace VELDAR::detail
