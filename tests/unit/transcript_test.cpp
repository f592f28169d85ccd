// Every transcript the library logs, rendered from its one record, against
// the same lines written one by one as messages in the same second: byte for
// byte, and from any byte on, as a read from the middle of the log renders
// it; and the sizes the log's limit counts with.
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log_line.h"
#include "log_render.h"
#include "log_store.h"
#include "transcript.h"

namespace {

using VELDAR::detail::transcript;
using VELDAR::detail::transcript_record;
using strings = std::vector<std::string>;

// The lines of the steps the operations have always taken, written out.
class steps {
 public:
  steps& line(const std::string& message) {
    lines.push_back(message);
    return *this;
  }
  steps& made(unsigned long long length, unsigned long long times = 1) {
    for (unsigned long long i = 0; i < times; ++i) {
      line("New fixedint object!").line("Resizing Digits to: " + std::to_string(length)).line("Done.");
    }
    return *this;
  }
  steps& resized(unsigned long long length) {
    return line("Resize requested in fixedint.").line("Resizing Digits to: " + std::to_string(length)).line("Done.");
  }
  steps& deleted(unsigned long long times = 1) {
    for (unsigned long long i = 0; i < times; ++i) {
      line("Deleted fixedint object.");
    }
    return *this;
  }
  steps& then(const steps& more) {
    lines.insert(lines.end(), more.lines.begin(), more.lines.end());
    return *this;
  }
  // The first `count` lines only: a step cut short by a throw.
  steps first(std::size_t count) const {
    steps cut;
    cut.lines.assign(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(count));
    return cut;
  }
  strings lines;
};

// fixedfloat(n): its value made at length 0, then init(n).
steps init(unsigned long long n) {
  return steps()
      .line("Init called on fixedfloat with length: " + std::to_string(n))
      .line("Register size.")
      .line("Init boolean properties.")
      .line("Init digits.")
      .made(n)
      .deleted()
      .line("Done.");
}
steps constructed(unsigned long long n) {
  return steps().made(0).line("Creating new fixedfloat object!").then(init(n));
}

// One multiplication by ten of a value scaled to the fixed point, per place.
steps scaling(unsigned long long n) {
  steps all;
  for (unsigned long long i = 0; i < n / 2; ++i) {
    all.made(n).made(2 * n).resized(n).deleted(2);
  }
  return all;
}
steps assigned(unsigned long long n, bool fraction) {
  steps all = steps().made(n / 2).resized(n).then(scaling(n)).deleted();
  if (fraction) {
    all.made(n, 2).deleted(4);
  }
  return all;
}

// The fixedint + of two copies at length n: the magnitudes added, or their
// difference (A < B's copies, two more when they swap), nested when it
// borrows; a - besides makes the negated copy and lets it and its argument go.
steps fixedint_sum(unsigned long long n, int way, bool subtraction) {
  steps all;
  if (subtraction) {
    all.made(n);
  }
  if (way == 0) {
    all.made(n).deleted();
  } else {
    const bool swapped = way == 2 || way == 4;
    const bool nested = way >= 3;
    all.made(n, 2).deleted(swapped ? 4 : 2);
    if (nested) {
      all.made(n, 5).deleted(10);
    }
    all.deleted(3);
  }
  if (subtraction) {
    all.deleted(2);
  }
  return all;
}
steps fixedfloat_sum(unsigned long long n, int way, bool subtraction) {
  return steps()
      .line(subtraction ? "Subtraction operation in fixedfloat." : "Addition operation in fixedfloat.")
      .then(constructed(n))
      .made(n, 2)
      .then(fixedint_sum(n, way, subtraction))
      .deleted(4)
      .line("Done.");
}

steps entry_and_done(const std::string& entry) { return steps().line(entry).line("Done."); }
steps with_result(const std::string& entry, unsigned long long n) {
  return steps().line(entry).then(constructed(n)).line("Done.");
}

const std::string multiplication = "Multiplication operation in fixedfloat. (oh boy)";
const std::string division = "Division operation in fixedfloat.";
const std::string rounded_multiplication = "Rounded multiplication operation in fixedfloat.";
const std::string rounding = "Rounding operation in fixedfloat.";
const std::string rounded_assignment = "Rounded assignment operation in fixedfloat.";
std::string comparison(const std::string& op) { return "Comparison operation in fixedfloat (" + op + ")."; }

// The lines of `kind` at length n with count `count`, as written out above.
strings expected(transcript kind, unsigned long long n, unsigned long long count) {
  switch (kind) {
    case transcript::deletions:
      return steps().deleted(count).lines;
    case transcript::fixedint_made:
      return steps().made(n, count).lines;
    case transcript::fixedint_made_failed:
      return steps().made(n).first(2).lines;
    case transcript::fixedint_resized:
      return steps().resized(n).lines;
    case transcript::fixedint_resize_failed:
      return steps().resized(n).first(2).lines;
    case transcript::fixedint_product:
      return steps().made(2 * n).resized(n).lines;
    case transcript::fixedfloat_made:
      return constructed(n).lines;
    case transcript::fixedfloat_made_odd:
      return constructed(n).first(5).lines;
    case transcript::fixedfloat_made_failed:
      return constructed(n).first(10).lines;
    case transcript::fixedfloat_init:
      return init(n).lines;
    case transcript::fixedfloat_init_odd:
      return init(n).first(1).lines;
    case transcript::fixedfloat_init_failed:
      return init(n).first(6).lines;
    case transcript::fixedfloat_deletions: {
      steps all;
      for (unsigned long long i = 0; i < count; ++i) {
        all.line("Deleting fixedfloat object!").deleted();
      }
      return all.lines;
    }
    case transcript::fixedfloat_assigned:
      return assigned(n, false).lines;
    case transcript::fixedfloat_assigned_fraction:
      return assigned(n, true).lines;
    case transcript::fixedfloat_scaled:
      return steps().resized(n).then(scaling(n)).lines;
    case transcript::fixedfloat_assign_rounded:
      return steps().line(rounded_assignment).then(assigned(n, false)).line("Done.").lines;
    case transcript::fixedfloat_assign_rounded_fraction:
      return steps().line(rounded_assignment).then(assigned(n, true)).line("Done.").lines;
    case transcript::fixedfloat_assign_refused:
      return steps().line(rounded_assignment).lines;
    case transcript::fixedfloat_product:
      return steps()
          .line(multiplication)
          .then(constructed(n))
          .made(n)
          .resized(2 * n)
          .made(n)
          .resized(2 * n)
          .made(4 * n)
          .resized(2 * n)
          .deleted(2)
          .resized(n)
          .deleted()
          .line("Done.")
          .lines;
    case transcript::fixedfloat_product_refused:
      return steps().line(multiplication).lines;
    case transcript::fixedfloat_quotient:
      return with_result(division, n).lines;
    case transcript::fixedfloat_quotient_refused:
      return steps().line(division).lines;
    case transcript::fixedfloat_rounded_product:
      return with_result(rounded_multiplication, n).lines;
    case transcript::fixedfloat_rounded_product_refused:
      return steps().line(rounded_multiplication).lines;
    case transcript::fixedfloat_rounded:
      return entry_and_done(rounding).lines;
    case transcript::fixedfloat_round_refused:
      return steps().line(rounding).lines;
    case transcript::fixedfloat_equal:
      return entry_and_done(comparison("==")).lines;
    case transcript::fixedfloat_equal_refused:
      return steps().line(comparison("==")).lines;
    case transcript::fixedfloat_not_equal:
      return entry_and_done(comparison("!=")).lines;
    case transcript::fixedfloat_not_equal_refused:
      return steps().line(comparison("!=")).lines;
    case transcript::fixedfloat_less:
      return entry_and_done(comparison("<")).lines;
    case transcript::fixedfloat_less_refused:
      return steps().line(comparison("<")).lines;
    case transcript::fixedfloat_greater:
      return entry_and_done(comparison(">")).lines;
    case transcript::fixedfloat_greater_refused:
      return steps().line(comparison(">")).lines;
    case transcript::fixedfloat_less_equal:
      return entry_and_done(comparison("<=")).lines;
    case transcript::fixedfloat_less_equal_refused:
      return steps().line(comparison("<=")).lines;
    case transcript::fixedfloat_greater_equal:
      return entry_and_done(comparison(">=")).lines;
    case transcript::fixedfloat_greater_equal_refused:
      return steps().line(comparison(">=")).lines;
    case transcript::fixedfloat_sum:
      return fixedfloat_sum(n, 0, false).lines;
    case transcript::fixedfloat_sum_difference:
      return fixedfloat_sum(n, 1, false).lines;
    case transcript::fixedfloat_sum_difference_swapped:
      return fixedfloat_sum(n, 2, false).lines;
    case transcript::fixedfloat_sum_difference_nested:
      return fixedfloat_sum(n, 3, false).lines;
    case transcript::fixedfloat_sum_difference_swapped_nested:
      return fixedfloat_sum(n, 4, false).lines;
    case transcript::fixedfloat_sum_refused:
      return steps().line("Addition operation in fixedfloat.").lines;
    case transcript::fixedfloat_subtraction:
      return fixedfloat_sum(n, 0, true).lines;
    case transcript::fixedfloat_subtraction_difference:
      return fixedfloat_sum(n, 1, true).lines;
    case transcript::fixedfloat_subtraction_difference_swapped:
      return fixedfloat_sum(n, 2, true).lines;
    case transcript::fixedfloat_subtraction_difference_nested:
      return fixedfloat_sum(n, 3, true).lines;
    case transcript::fixedfloat_subtraction_difference_swapped_nested:
      return fixedfloat_sum(n, 4, true).lines;
    case transcript::fixedfloat_subtraction_refused:
      return steps().line("Subtraction operation in fixedfloat.").lines;
    case transcript::done:
      return steps().line("Done.").lines;
    case transcript::fixedfloat_text_zero_fraction:
      return steps().made(n).deleted().made(n, 2).deleted(2).lines;
    case transcript::fixedfloat_text:
      return steps().made(n).deleted().made(n, 2).deleted().resized(n / 2).deleted().lines;
    case transcript::fixedfloat_remainder:
      return with_result("Remainder operation in fixedfloat.", n).lines;
    case transcript::fixedfloat_remainder_refused:
      return steps().line("Remainder operation in fixedfloat.").lines;
    case transcript::fixedfloat_square_root:
      return with_result("Square root operation in fixedfloat.", n).lines;
    case transcript::fixedfloat_square_root_refused:
      return steps().line("Square root operation in fixedfloat.").lines;
    case transcript::fixedfloat_power:
      return with_result("Power operation in fixedfloat.", n).lines;
    case transcript::fixedfloat_power_refused:
      return steps().line("Power operation in fixedfloat.").lines;
  }
  ADD_FAILURE() << "a transcript with no lines written out: " << static_cast<int>(kind);
  return {};
}

// The lines written one by one, as VELDAR::log() writes messages, into a
// log of their own.
std::string one_by_one(const strings& messages, std::time_t second) {
  VELDAR::detail::log_store lines;
  lines.set_limit(0);
  for (const std::string& message : messages) {
    lines.append_text(message, second);
  }
  return lines.text();
}

// Collects what it is given, up to `most` bytes.
class collecting final : public VELDAR::detail::text_sink {
 public:
  explicit collecting(std::size_t most = std::string::npos) : most(most) {}
  bool put(std::string_view piece) noexcept override {
    text.append(piece.substr(0, most - text.size()));
    return text.size() < most;
  }
  std::string text;

 private:
  std::size_t most;
};

std::string rendered(const transcript_record& record, std::time_t second, std::uint64_t skip = 0) {
  const auto prefix = VELDAR::detail::line_prefix(second);
  collecting sink;
  EXPECT_TRUE(VELDAR::detail::render_transcript(record, {prefix.data(), prefix.size()}, skip, sink));
  return sink.text;
}

TEST(Transcripts, EachRendersAsItsLinesWrittenOneByOne) {
  const std::time_t second = 1796731200;  // Tue Dec  8 12:00:00 2026 in UTC, whatever the zone shows
  for (std::size_t k = 0; k < VELDAR::detail::transcript_count; ++k) {
    const auto kind = static_cast<transcript>(k);
    for (const unsigned long long n : {0ULL, 1ULL, 2ULL, 8ULL, 24ULL, 98ULL}) {
      for (const unsigned long long count : {0ULL, 1ULL, 3ULL}) {
        for (const unsigned deletions : {0U, 2U}) {
          for (const bool fixedfloats : {false, true}) {
            SCOPED_TRACE("transcript " + std::to_string(k) + " at length " + std::to_string(n) + ", count " +
                         std::to_string(count) + ", " + std::to_string(deletions) +
                         (fixedfloats ? " fixedfloat" : " fixedint") + " deletions");
            strings messages = expected(kind, n, count);
            for (unsigned d = 0; d < deletions; ++d) {
              if (fixedfloats) {
                messages.emplace_back("Deleting fixedfloat object!");
              }
              messages.emplace_back("Deleted fixedint object.");
            }
            const transcript_record record{kind, n, count, deletions, fixedfloats};
            const std::string text = one_by_one(messages, second);
            ASSERT_EQ(rendered(record, second), text);
            // The sizes the limit counts with.
            ASSERT_EQ(VELDAR::detail::byte_count(record), text.size());
            ASSERT_EQ(VELDAR::detail::line_count(record), messages.size());
            // From the start of every line, and from within it, as a read
            // from the middle of the log renders it.
            std::uint64_t start = 0;
            for (std::uint64_t line = 0; line <= messages.size(); ++line) {
              ASSERT_EQ(VELDAR::detail::bytes_of_first(record, line), start) << "line " << line;
              ASSERT_EQ(VELDAR::detail::lines_within(record, start), line) << "line " << line;
              if (line == messages.size()) {
                break;
              }
              ASSERT_EQ(VELDAR::detail::lines_within(record, start + 1), line) << "line " << line;
              for (const std::uint64_t into : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{36}}) {
                ASSERT_EQ(rendered(record, second, start + into), text.substr(start + into)) << "line " << line;
              }
              start = text.find('\n', start) + 1;
            }
          }
        }
      }
    }
  }
}

TEST(Transcripts, LongRepeatsRenderFromTheirEndWithoutTheirStart) {
  // fixedfloat(2000000) = "1.5": eleven million lines, of which the last
  // are read without making the others.
  const unsigned long long n = 2000000;
  const transcript_record record{transcript::fixedfloat_assigned_fraction, n, 1, 1, false};
  EXPECT_EQ(VELDAR::detail::line_count(record), 3 + 3 + 11 * (n / 2) + 1 + 6 + 4 + 1);
  const std::uint64_t bytes = VELDAR::detail::byte_count(record);
  const strings tail = steps().made(n, 2).deleted(4).deleted().lines;
  const std::time_t second = 1796731200;
  const std::string text = one_by_one(tail, second);
  EXPECT_EQ(rendered(record, second, bytes - text.size()), text);
  // And from the middle of one round of the repeated steps: a whole line
  // starts there.
  const std::uint64_t lines = VELDAR::detail::line_count(record);
  const std::uint64_t middle = VELDAR::detail::bytes_of_first(record, lines / 2);
  const auto prefix = VELDAR::detail::line_prefix(second);
  collecting first_line(100);
  VELDAR::detail::render_transcript(record, {prefix.data(), prefix.size()}, middle, first_line);
  EXPECT_EQ(first_line.text.substr(0, 8), "VELDAR [");
}

}  // namespace
