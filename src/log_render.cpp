// A transcript record stands for its lines (transcript.h): the lines of its
// shape before a group, the group's lines written `times` over, the lines
// after it, and then its deletions. Rendering makes them in that order from
// the line that byte `skip` falls in.
#include "log_render.h"

#include <array>
#include <charconv>

#include "log_line.h"

namespace VELDAR::detail {

// Swallows whole pieces while `skip` lasts, then passes on the rest of the
// piece it ends in, and every piece after.
bool skipping_sink::put(std::string_view piece) noexcept {
  if (skip >= piece.size()) {
    skip -= piece.size();
    return true;
  }
  piece.remove_prefix(static_cast<std::size_t>(skip));
  skip = 0;
  return next.put(piece);
}

namespace {

// Collects pieces in a fixed buffer: one round of a repeated group, written
// once and then put as often as it repeats.
class buffer_sink final : public text_sink {
 public:
  bool put(std::string_view piece) noexcept override {
    if (piece.size() > room.size() - used) {
      return false;
    }
    piece.copy(room.data() + used, piece.size());
    used += piece.size();
    return true;
  }
  std::string_view text() const noexcept { return {room.data(), used}; }

 private:
  std::array<char, 2048> room{};  // far more than any group's lines
  std::size_t used = 0;
};

// One line: the prefix, the message, and for a line that shows a number its
// value in a record of `length` ("Resizing Digits to: 8").
bool put_line(const line& each, unsigned long long length, std::string_view prefix, text_sink& sink) noexcept {
  if (!sink.put(prefix) || !sink.put(each.message)) {
    return false;
  }
  if (each.number != shown::none) {
    std::array<char, 20> digits{};  // every unsigned long long
    const char* end = std::to_chars(digits.data(), digits.data() + digits.size(), shown_value(each.number, length)).ptr;
    if (!sink.put({digits.data(), static_cast<std::size_t>(end - digits.data())})) {
      return false;
    }
  }
  return sink.put("\n");
}

// The lines [from, to) of the shape.
bool put_lines(const transcript_lines& shape, std::size_t from, std::size_t to, unsigned long long length,
               std::string_view prefix, text_sink& sink) noexcept {
  for (std::size_t i = from; i < to; ++i) {
    if (!put_line(shape.lines[i], length, prefix, sink)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool render_transcript(const transcript_record& record, std::string_view prefix, std::uint64_t skip,
                       text_sink& sink) noexcept {
  // Whole lines before `skip` are passed over by their sizes, without
  // making their text: a record may stand for millions of lines.
  const std::uint64_t skipped_lines = lines_within(record, skip);
  skipping_sink rest(sink, skip - bytes_of_first(record, skipped_lines));
  std::uint64_t line = skipped_lines;

  const transcript_lines& shape = lines_of(record.kind);
  const std::uint64_t group = shape.group_end - shape.group_begin;
  const std::uint64_t times = group == 0 ? 0 : group_times(record);
  // Before the group.
  if (line < shape.group_begin) {
    if (!put_lines(shape, static_cast<std::size_t>(line), shape.group_begin, record.length, prefix, rest)) {
      return false;
    }
    line = shape.group_begin;
  }
  // The group: what is left of the round `line` falls in, then whole rounds
  // from one text made once.
  const std::uint64_t group_lines = group * times;
  if (line < shape.group_begin + group_lines) {
    std::uint64_t round = (line - shape.group_begin) / group;
    const auto within = static_cast<std::size_t>((line - shape.group_begin) % group);
    if (within != 0) {
      if (!put_lines(shape, shape.group_begin + within, shape.group_end, record.length, prefix, rest)) {
        return false;
      }
      ++round;
    }
    buffer_sink once;
    if (round < times && put_lines(shape, shape.group_begin, shape.group_end, record.length, prefix, once)) {
      for (; round < times; ++round) {
        if (!rest.put(once.text())) {
          return false;
        }
      }
    }
    for (; round < times; ++round) {  // only if one round did not fit the buffer
      if (!put_lines(shape, shape.group_begin, shape.group_end, record.length, prefix, rest)) {
        return false;
      }
    }
    line = shape.group_begin + group_lines;
  }
  // After the group, then the deletions.
  const std::uint64_t after = line - group_lines + group;  // the index in shape.lines
  if (after < shape.size) {
    if (!put_lines(shape, static_cast<std::size_t>(after), shape.size, record.length, prefix, rest)) {
      return false;
    }
    line += shape.size - after;
  }
  // The deletions: a line each, or a fixedfloat's two lines each. unit_lines
  // is both of fixedfloat_deletion_lines, or its last, "Deleted fixedint
  // object.", alone; `d` counts deletion lines, from where `skip` fell.
  const std::uint64_t transcript_lines_count = shape.size - group + group_lines;
  const std::size_t unit = record.fixedfloat_deletions ? 2 : 1;
  const detail::line* const unit_lines = fixedfloat_deletion_lines.data() + (2 - unit);
  for (std::uint64_t d = line - transcript_lines_count; d < record.deletions * unit; ++d) {
    if (!rest.put(prefix) || !rest.put(unit_lines[d % unit].message) || !rest.put("\n")) {
      return false;
    }
  }
  return true;
}

}  // namespace VELDAR::detail
