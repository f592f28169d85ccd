#include "transcript.h"

#include <algorithm>

#include "log_line.h"

namespace VELDAR::detail {

namespace {

// Building transcripts from their parts, at compile time.

template <std::size_t n>
using lines = std::array<line, n>;

template <std::size_t... n>
constexpr lines<(n + ...)> join(const lines<n>&... parts) {
  lines<(n + ...)> all{};
  std::size_t at = 0;
  const auto add = [&all, &at](const auto& part) {
    for (const line& each : part) {
      all[at++] = each;
    }
  };
  (add(parts), ...);
  return all;
}

// `part` written `times` over.
template <std::size_t times, std::size_t n>
constexpr lines<n * times> repeated(const lines<n>& part) {
  lines<n * times> all{};
  for (std::size_t i = 0; i < n * times; ++i) {
    all[i] = part[i % n];
  }
  return all;
}

constexpr lines<1> one(std::string_view message, shown number = shown::none) { return {{{message, number}}}; }

constexpr lines<3> made(shown number) {
  return {{{"New fixedint object!"}, {"Resizing Digits to: ", number}, {"Done."}}};
}
constexpr lines<3> made_empty{{{"New fixedint object!"}, {"Resizing Digits to: 0"}, {"Done."}}};
constexpr lines<3> resized(shown number) {
  return {{{"Resize requested in fixedint."}, {"Resizing Digits to: ", number}, {"Done."}}};
}
constexpr lines<1> deleted{{{deleted_line}}};
constexpr lines<1> done = one("Done.");

// The fixed-point number made, from its "Init called" line on: init().
constexpr auto init_lines =
    join(one("Init called on fixedfloat with length: ", shown::length), one("Register size."),
         one("Init boolean properties."), one("Init digits."), made(shown::length), deleted, done);
// The constructor: its value made at length 0, the creation line, init().
constexpr auto fixedfloat_made_lines = join(made_empty, one("Creating new fixedfloat object!"), init_lines);

// One multiplication by ten while a value is scaled to the fixed point: the
// ten, the product at twice the length cut back to the length, both gone.
constexpr auto scaling_step = join(made(shown::length), made(shown::twice), resized(shown::length), deleted, deleted);

// The integer part arrives at half the length, is widened and scaled; the
// fraction and the working sum it is added with come and go.
constexpr auto integer_arrives = join(made(shown::half), resized(shown::length));
constexpr auto fraction_added = join(made(shown::length), made(shown::length), repeated<4>(deleted));
constexpr auto assigned_lines = join(integer_arrives, scaling_step, deleted);
constexpr auto assigned_fraction_lines = join(assigned_lines, fraction_added);
constexpr auto scaled_lines = join(resized(shown::length), scaling_step);

constexpr std::string_view rounded_assignment = "Rounded assignment operation in fixedfloat.";
constexpr auto assign_rounded_lines = join(one(rounded_assignment), assigned_lines, done);
constexpr auto assign_rounded_fraction_lines = join(one(rounded_assignment), assigned_fraction_lines, done);

// *: the result made; both values copied and widened to twice the length;
// their product made at four times the length and cut back to twice; both
// copies gone; the product cut to the length and gone.
constexpr std::string_view multiplication = "Multiplication operation in fixedfloat. (oh boy)";
constexpr auto product_lines =
    join(one(multiplication), fixedfloat_made_lines, made(shown::length), resized(shown::twice), made(shown::length),
         resized(shown::twice), made(shown::four_times), resized(shown::twice), deleted, deleted,
         resized(shown::length), deleted, done);

// An entry line, a result made, "Done.": / and divide(), multiply().
constexpr auto with_result(std::string_view entry) { return join(one(entry), fixedfloat_made_lines, done); }
constexpr std::string_view division = "Division operation in fixedfloat.";
constexpr std::string_view rounded_multiplication = "Rounded multiplication operation in fixedfloat.";
constexpr auto quotient_lines = with_result(division);
constexpr std::string_view remainder_entry = "Remainder operation in fixedfloat.";
constexpr std::string_view square_root_entry = "Square root operation in fixedfloat.";
constexpr std::string_view power_entry = "Power operation in fixedfloat.";
constexpr auto remainder_lines = with_result(remainder_entry);
constexpr auto square_root_lines = with_result(square_root_entry);
constexpr auto power_lines = with_result(power_entry);
constexpr auto remainder_refused_lines = one(remainder_entry);
constexpr auto square_root_refused_lines = one(square_root_entry);
constexpr auto power_refused_lines = one(power_entry);
constexpr auto rounded_product_lines = with_result(rounded_multiplication);
constexpr std::string_view rounding = "Rounding operation in fixedfloat.";
constexpr auto rounded_lines = join(one(rounding), done);

constexpr std::string_view compare_equal = "Comparison operation in fixedfloat (==).";
constexpr std::string_view compare_not_equal = "Comparison operation in fixedfloat (!=).";
constexpr std::string_view compare_less = "Comparison operation in fixedfloat (<).";
constexpr std::string_view compare_greater = "Comparison operation in fixedfloat (>).";
constexpr std::string_view compare_less_equal = "Comparison operation in fixedfloat (<=).";
constexpr std::string_view compare_greater_equal = "Comparison operation in fixedfloat (>=).";
constexpr auto equal_lines = join(one(compare_equal), done);
constexpr auto not_equal_lines = join(one(compare_not_equal), done);
constexpr auto less_lines = join(one(compare_less), done);
constexpr auto greater_lines = join(one(compare_greater), done);
constexpr auto less_equal_lines = join(one(compare_less_equal), done);
constexpr auto greater_equal_lines = join(one(compare_greater_equal), done);

// fixedint + of two numbers whose signs differ: its working sum and result
// made, the copies that A < B takes (two deletions when A is the greater,
// four when they swap), and on a borrow out of the top the abs() copies and
// a nested subtraction; then B, A and the working sum go.
constexpr auto fixedint_sum = join(made(shown::length), deleted);  // the working sum, moved into the result
constexpr auto nested = join(repeated<5>(made(shown::length)), repeated<10>(deleted));

// fixedfloat + and -: the entry line, the result made, both values copied,
// the fixedint sum of the copies, its result and argument gone, both copies
// gone, "Done.". fixedint - makes the negated copy first and lets it and its
// argument go after the sum.
constexpr std::string_view addition = "Addition operation in fixedfloat.";
constexpr std::string_view subtraction = "Subtraction operation in fixedfloat.";
template <std::size_t n>
constexpr auto around_sum(std::string_view entry, const lines<n>& inner) {
  return join(one(entry), fixedfloat_made_lines, made(shown::length), made(shown::length), inner, repeated<4>(deleted),
              done);
}
template <std::size_t n>
constexpr auto subtracted(const lines<n>& inner) {
  return join(made(shown::length), inner, repeated<2>(deleted));
}
// A difference: two lines of A < B's copies, and two more when they swapped.
// Written out, as a swap changes the length of the list.
constexpr auto difference_plain = join(made(shown::length), made(shown::length), repeated<2>(deleted));
constexpr auto difference_swapped = join(made(shown::length), made(shown::length), repeated<4>(deleted));
constexpr auto end_of_difference = repeated<3>(deleted);
constexpr auto sum_plain_inner = fixedint_sum;
constexpr auto difference_inner = join(difference_plain, end_of_difference);
constexpr auto difference_swapped_inner = join(difference_swapped, end_of_difference);
constexpr auto difference_nested_inner = join(difference_plain, nested, end_of_difference);
constexpr auto difference_swapped_nested_inner = join(difference_swapped, nested, end_of_difference);

constexpr auto sum_lines = around_sum(addition, sum_plain_inner);
constexpr auto sum_difference_lines = around_sum(addition, difference_inner);
constexpr auto sum_difference_swapped_lines = around_sum(addition, difference_swapped_inner);
constexpr auto sum_difference_nested_lines = around_sum(addition, difference_nested_inner);
constexpr auto sum_difference_swapped_nested_lines = around_sum(addition, difference_swapped_nested_inner);
constexpr auto subtraction_lines = around_sum(subtraction, subtracted(sum_plain_inner));
constexpr auto subtraction_difference_lines = around_sum(subtraction, subtracted(difference_inner));
constexpr auto subtraction_difference_swapped_lines = around_sum(subtraction, subtracted(difference_swapped_inner));
constexpr auto subtraction_difference_nested_lines = around_sum(subtraction, subtracted(difference_nested_inner));
constexpr auto subtraction_difference_swapped_nested_lines =
    around_sum(subtraction, subtracted(difference_swapped_nested_inner));

// asstring(): the integer part made and gone, the fraction part made and
// compared with a zero made for it, which goes; a fraction that is not zero
// is resized to its digits; then it goes.
constexpr auto text_zero_lines =
    join(made(shown::length), deleted, made(shown::length), made(shown::length), deleted, deleted);
constexpr auto text_lines = join(made(shown::length), deleted, made(shown::length), made(shown::length), deleted,
                                 resized(shown::half), deleted);

// The sums of lines [from, to) of `all`.
template <std::size_t n>
constexpr transcript_lines::sums sums_of(const lines<n>& all, std::size_t from, std::size_t to) {
  transcript_lines::sums sums{};
  for (std::size_t i = from; i < to; ++i) {
    sums.bytes += line_prefix_size + all[i].message.size() + 1;
    ++sums.shows[static_cast<std::size_t>(all[i].number)];
  }
  return sums;
}

// The transcript `all`, its lines [begin, end) written `times` over.
template <std::size_t n>
constexpr transcript_lines make(const lines<n>& all, std::size_t begin = 0, std::size_t end = 0,
                                repeat times = repeat::once) {
  transcript_lines made{};
  made.lines = all.data();
  made.size = static_cast<std::uint16_t>(n);
  made.group_begin = static_cast<std::uint16_t>(begin);
  made.group_end = static_cast<std::uint16_t>(end);
  made.times = times;
  const transcript_lines::sums before = sums_of(all, 0, begin);
  const transcript_lines::sums after = sums_of(all, end, n);
  made.outside.bytes = before.bytes + after.bytes;
  for (std::size_t i = 0; i < made.outside.shows.size(); ++i) {
    made.outside.shows[i] = before.shows[i] + after.shows[i];
  }
  made.group = sums_of(all, begin, end);
  return made;
}

// The first `count` lines of `all`, for a transcript cut short by a throw.
template <std::size_t count, std::size_t n>
constexpr lines<count> first(const lines<n>& all) {
  lines<count> part{};
  for (std::size_t i = 0; i < count; ++i) {
    part[i] = all[i];
  }
  return part;
}

constexpr auto made_lines = made(shown::length);
constexpr auto made_failed_lines = first<2>(made_lines);
constexpr auto resized_lines = resized(shown::length);
constexpr auto resize_failed_lines = first<2>(resized_lines);
constexpr auto product_of_fixedints = join(made(shown::twice), resized(shown::length));
constexpr auto fixedfloat_made_odd_lines = first<5>(fixedfloat_made_lines);
constexpr auto fixedfloat_made_failed_lines = first<10>(fixedfloat_made_lines);
constexpr auto init_odd_lines = first<1>(init_lines);
constexpr auto init_failed_lines = first<6>(init_lines);

constexpr auto assign_refused_lines = one(rounded_assignment);
constexpr auto product_refused_lines = one(multiplication);
constexpr auto quotient_refused_lines = one(division);
constexpr auto rounded_product_refused_lines = one(rounded_multiplication);
constexpr auto round_refused_lines = one(rounding);
constexpr auto equal_refused_lines = one(compare_equal);
constexpr auto not_equal_refused_lines = one(compare_not_equal);
constexpr auto less_refused_lines = one(compare_less);
constexpr auto greater_refused_lines = one(compare_greater);
constexpr auto less_equal_refused_lines = one(compare_less_equal);
constexpr auto greater_equal_refused_lines = one(compare_greater_equal);
constexpr auto sum_refused_lines = one(addition);
constexpr auto subtraction_refused_lines = one(subtraction);

// Where the per-place group of an assignment sits.
constexpr std::size_t assigned_group = integer_arrives.size();
constexpr std::size_t scaled_group = resized_lines.size();
constexpr std::size_t rounded_group = 1 + assigned_group;

// Indexed by transcript, in its order.
constexpr std::array<transcript_lines, transcript_count> table{
    make(deleted, 0, deleted.size(), repeat::count),
    make(made_lines, 0, made_lines.size(), repeat::count),
    make(made_failed_lines),
    make(resized_lines),
    make(resize_failed_lines),
    make(product_of_fixedints),

    make(fixedfloat_made_lines),
    make(fixedfloat_made_odd_lines),
    make(fixedfloat_made_failed_lines),
    make(init_lines),
    make(init_odd_lines),
    make(init_failed_lines),
    make(fixedfloat_deletion_lines, 0, fixedfloat_deletion_lines.size(), repeat::count),

    make(assigned_lines, assigned_group, assigned_group + scaling_step.size(), repeat::half_length),
    make(assigned_fraction_lines, assigned_group, assigned_group + scaling_step.size(), repeat::half_length),
    make(scaled_lines, scaled_group, scaled_group + scaling_step.size(), repeat::half_length),
    make(assign_rounded_lines, rounded_group, rounded_group + scaling_step.size(), repeat::half_length),
    make(assign_rounded_fraction_lines, rounded_group, rounded_group + scaling_step.size(), repeat::half_length),
    make(assign_refused_lines),

    make(product_lines),
    make(product_refused_lines),
    make(quotient_lines),
    make(quotient_refused_lines),
    make(rounded_product_lines),
    make(rounded_product_refused_lines),
    make(rounded_lines),
    make(round_refused_lines),

    make(equal_lines),
    make(equal_refused_lines),
    make(not_equal_lines),
    make(not_equal_refused_lines),
    make(less_lines),
    make(less_refused_lines),
    make(greater_lines),
    make(greater_refused_lines),
    make(less_equal_lines),
    make(less_equal_refused_lines),
    make(greater_equal_lines),
    make(greater_equal_refused_lines),

    make(sum_lines),
    make(sum_difference_lines),
    make(sum_difference_swapped_lines),
    make(sum_difference_nested_lines),
    make(sum_difference_swapped_nested_lines),
    make(sum_refused_lines),
    make(subtraction_lines),
    make(subtraction_difference_lines),
    make(subtraction_difference_swapped_lines),
    make(subtraction_difference_nested_lines),
    make(subtraction_difference_swapped_nested_lines),
    make(subtraction_refused_lines),

    make(done),

    make(text_zero_lines),
    make(text_lines),

    make(remainder_lines),
    make(remainder_refused_lines),
    make(square_root_lines),
    make(square_root_refused_lines),
    make(power_lines),
    make(power_refused_lines),
};

static_assert(fixedfloat_made_lines.size() == 13 && product_lines.size() == 39 && scaling_step.size() == 11,
              "the transcripts the log's readers know by their lengths");

}  // namespace

const transcript_lines& lines_of(transcript kind) noexcept { return table[static_cast<std::size_t>(kind)]; }

unsigned long long shown_value(shown number, unsigned long long length) noexcept {
  switch (number) {
    case shown::twice:
      return 2 * length;
    case shown::four_times:
      return 4 * length;
    case shown::half:
      return length / 2;
    default:
      return length;
  }
}

std::uint64_t group_times(const transcript_record& record) noexcept {
  switch (lines_of(record.kind).times) {
    case repeat::half_length:
      return record.length / 2;
    case repeat::count:
      return record.count;
    default:
      return 1;
  }
}

namespace {

std::uint64_t bytes_of(const transcript_lines::sums& sums, unsigned long long length) {
  std::uint64_t bytes = sums.bytes;
  for (const shown number : {shown::length, shown::twice, shown::four_times, shown::half}) {
    if (const std::uint32_t lines = sums.shows[static_cast<std::size_t>(number)]; lines != 0) {
      bytes += lines * decimal_width(shown_value(number, length));
    }
  }
  return bytes;
}

std::uint64_t line_bytes(const line& each, unsigned long long length) {
  return line_prefix_size + each.message.size() + 1 +
         (each.number == shown::none ? 0 : decimal_width(shown_value(each.number, length)));
}

// The lines of one of the deletions after a record.
const line* deletion_unit(const transcript_record& record) {
  return record.fixedfloat_deletions ? fixedfloat_deletion_lines.data() : &fixedfloat_deletion_lines[1];
}
std::size_t deletion_unit_size(const transcript_record& record) { return record.fixedfloat_deletions ? 2 : 1; }
constexpr std::uint64_t fixedint_deletion_bytes = line_prefix_size + deleted_line.size() + 1;
constexpr std::uint64_t fixedfloat_deletion_bytes =
    2 * line_prefix_size + fixedfloat_deleted_line.size() + deleted_line.size() + 2;

// Walks the record's lines in order as runs: run(bytes, times, unit, size)
// for each line outside the group (its bytes, once, that one line), for the
// group (the bytes of one round, its times, its lines), and for the
// deletions (the bytes of one, their number, the line or two of one).
// Stops when run() returns false.
template <typename visit>
void runs_of(const transcript_record& record, visit run) {
  const transcript_lines& lines = lines_of(record.kind);
  for (std::size_t i = 0; i < lines.group_begin; ++i) {
    if (!run(line_bytes(lines.lines[i], record.length), 1, lines.lines + i, std::size_t{1})) {
      return;
    }
  }
  if (lines.group_end > lines.group_begin) {
    const std::size_t group = lines.group_end - lines.group_begin;
    if (!run(bytes_of(lines.group, record.length), group_times(record), lines.lines + lines.group_begin, group)) {
      return;
    }
  }
  for (std::size_t i = lines.group_end; i < lines.size; ++i) {
    if (!run(line_bytes(lines.lines[i], record.length), 1, lines.lines + i, std::size_t{1})) {
      return;
    }
  }
  run(record.fixedfloat_deletions ? fixedfloat_deletion_bytes : fixedint_deletion_bytes, record.deletions,
      deletion_unit(record), deletion_unit_size(record));
}

}  // namespace

std::uint64_t line_count(const transcript_record& record) noexcept {
  const transcript_lines& lines = lines_of(record.kind);
  const std::uint64_t group = lines.group_end - lines.group_begin;
  return lines.size - group + group * group_times(record) + record.deletions * deletion_unit_size(record);
}

std::uint64_t byte_count(const transcript_record& record) noexcept {
  const transcript_lines& lines = lines_of(record.kind);
  return bytes_of(lines.outside, record.length) + bytes_of(lines.group, record.length) * group_times(record) +
         (record.fixedfloat_deletions ? fixedfloat_deletion_bytes : fixedint_deletion_bytes) * record.deletions;
}

std::uint64_t bytes_of_first(const transcript_record& record, std::uint64_t lines) noexcept {
  std::uint64_t bytes = 0;
  // Whole runs, then within a run's unit line by line.
  runs_of(record, [&](std::uint64_t each, std::uint64_t times, const line* unit, std::size_t size) {
    const std::uint64_t whole = std::min<std::uint64_t>(times, lines / size);
    bytes += whole * each;
    lines -= whole * size;
    if (whole == times) {
      return lines > 0;
    }
    for (std::size_t i = 0; lines > 0 && i < size; ++i, --lines) {
      bytes += line_bytes(unit[i], record.length);
    }
    return false;
  });
  return bytes;
}

std::uint64_t lines_within(const transcript_record& record, std::uint64_t bytes) noexcept {
  std::uint64_t lines = 0;
  runs_of(record, [&](std::uint64_t each, std::uint64_t times, const line* unit, std::size_t size) {
    const std::uint64_t whole = each == 0 ? times : std::min<std::uint64_t>(times, bytes / each);
    bytes -= whole * each;
    lines += whole * size;
    if (whole == times) {
      return true;
    }
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint64_t next = line_bytes(unit[i], record.length);
      if (next > bytes) {
        break;
      }
      bytes -= next;
      ++lines;
    }
    return false;
  });
  return lines;
}

transcript fixedfloat_sum_transcript(sum_shape shape, bool subtraction) noexcept {
  static constexpr transcript sums[2][5] = {
      {transcript::fixedfloat_sum, transcript::fixedfloat_sum_difference, transcript::fixedfloat_sum_difference_swapped,
       transcript::fixedfloat_sum_difference_nested, transcript::fixedfloat_sum_difference_swapped_nested},
      {transcript::fixedfloat_subtraction, transcript::fixedfloat_subtraction_difference,
       transcript::fixedfloat_subtraction_difference_swapped, transcript::fixedfloat_subtraction_difference_nested,
       transcript::fixedfloat_subtraction_difference_swapped_nested}};
  const int way = !shape.difference ? 0 : 1 + (shape.swapped ? 1 : 0) + (shape.nested ? 2 : 0);
  return sums[subtraction ? 1 : 0][way];
}

}  // namespace VELDAR::detail
