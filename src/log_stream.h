// The stream buffer behind VELDAR::logstream, internal to the library:
// `<<` hands its text to the log's store, whose lines it keeps whole per
// thread; reading (std::getline, >>, seekg and tellg) renders the text from
// the records a few KiB at a time.
#pragma once

#include <array>
#include <cstdint>
#include <streambuf>

namespace VELDAR::detail {

class log_stream_buffer final : public std::streambuf {
 public:
  // Reading starts again at the first byte: the log was replaced.
  void restart() noexcept {
    read_position = 0;
    setg(nullptr, nullptr, nullptr);
  }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int_type underflow() override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir way, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  std::uint64_t read_position = 0;  // of the next byte to render into read_area
  std::array<char, 4096> read_area{};
};

// The buffer of the process's one logstream, made on first use and never
// destroyed.
log_stream_buffer& the_log_stream_buffer() noexcept;

}  // namespace VELDAR::detail
