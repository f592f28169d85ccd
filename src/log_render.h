// Making the text of the module log from its records, internal to the
// library: what str(), reading logstream and the crash report show.
#pragma once

#include <cstdint>
#include <string_view>

#include "transcript.h"

namespace VELDAR::detail {

// Where rendered text goes, piece by piece; put() returns false to stop.
class text_sink {
 public:
  virtual bool put(std::string_view piece) noexcept = 0;

 protected:
  text_sink() = default;
  text_sink(const text_sink&) = default;
  text_sink& operator=(const text_sink&) = default;
  ~text_sink() = default;
};

// Passes on what comes after the first `skip` bytes: for text read from the
// middle of a record.
class skipping_sink final : public text_sink {
 public:
  skipping_sink(text_sink& next, std::uint64_t skip) : next(next), skip(skip) {}
  bool put(std::string_view piece) noexcept override;

 private:
  text_sink& next;
  std::uint64_t skip;
};

// Puts the lines of `record`, each starting with `prefix` (the opening and
// time text of its second, log_line.h), from byte `skip` of its text on.
// False when the sink stopped.
bool render_transcript(const transcript_record& record, std::string_view prefix, std::uint64_t skip,
                       text_sink& sink) noexcept;

}  // namespace VELDAR::detail
