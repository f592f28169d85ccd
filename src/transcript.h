// The library's transcripts, internal to it: every fixed list of lines an
// operation writes into the module log, named once, with its message texts.
//
// An operation stores one record: which transcript, the length of the number
// it worked on (the numbers its lines show follow from it), and for the few
// transcripts that repeat their lines a count. "Deleted fixedint object."
// lines that follow a record (a by-value argument going, a result going)
// join it as its trailing deletions. The text is made only when the log is
// read: fixedfloat(24) = "1.5" is one record of a few bytes that reads as
// 149 lines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace VELDAR::detail {

// The number a line shows after its message, from the record's length n.
enum class shown : std::uint8_t { none, length, twice, four_times, half };

// One line: "Resizing Digits to: " showing the length reads
// "Resizing Digits to: 8" for a record of length 8.
struct line {
  std::string_view message;
  shown number = shown::none;
};

// How often a transcript's group of lines is written.
enum class repeat : std::uint8_t {
  once,
  half_length,  // n / 2 times: one multiplication by ten per fraction place
  count,        // the record's count: fixedint_made with count 3 is three numbers made
};

inline constexpr std::string_view deleted_line = "Deleted fixedint object.";

// A transcript's lines, the lines [group_begin, group_end) written `times`
// over, and sums that give its size without walking it.
struct transcript_lines {
  const line* lines = nullptr;
  std::uint16_t size = 0;
  std::uint16_t group_begin = 0;
  std::uint16_t group_end = 0;
  repeat times = repeat::once;
  // Bytes of the lines outside and inside the group without their numbers,
  // and how many lines of each show each kind of number.
  struct sums {
    std::uint64_t bytes = 0;
    std::array<std::uint32_t, 5> shows{};  // indexed by shown
  };
  sums outside;
  sums group;
};

// Every transcript the library writes. The comments give the lines, for a
// record of length n; "made(x)" is "New fixedint object!", "Resizing Digits
// to: x", "Done."; "resized(x)" is "Resize requested in fixedint.",
// "Resizing Digits to: x", "Done."; "deleted" is "Deleted fixedint object.".
enum class transcript : std::uint8_t {
  deletions,               // deleted, count times
  fixedint_made,           // made(n), count times
  fixedint_made_failed,    // made(n) without its "Done.": no memory for the digits
  fixedint_resized,        // resized(n)
  fixedint_resize_failed,  // resized(n) without its "Done."
  fixedint_product,        // made(2n), resized(n)

  fixedfloat_made,         // made(0), "Creating new fixedfloat object!", "Init called on fixedfloat
                           // with length: n", "Register size.", "Init boolean properties.", "Init
                           // digits.", made(n), deleted, "Done."
  fixedfloat_made_odd,     // the first five of those: the length is odd
  fixedfloat_made_failed,  // the first ten: no memory for the digits
  fixedfloat_init,         // fixedfloat_made from "Init called ..." on
  fixedfloat_init_odd,     // "Init called on fixedfloat with length: n"
  fixedfloat_init_failed,  // fixedfloat_init's first six lines
  fixedfloat_deletions,    // "Deleting fixedfloat object!", deleted; count times

  // Assignment of a decimal number: made(n/2), resized(n), then per fraction
  // place made(n), made(2n), resized(n), deleted, deleted, and deleted; with
  // a fraction besides made(n), made(n) and four deletions.
  fixedfloat_assigned,
  fixedfloat_assigned_fraction,
  // Assignment of a fixedint: resized(n) and the per-place lines above.
  fixedfloat_scaled,
  // Rounded assignment: "Rounded assignment operation in fixedfloat.", the
  // lines of the assignment, "Done."; refused: the first line alone.
  fixedfloat_assign_rounded,
  fixedfloat_assign_rounded_fraction,
  fixedfloat_assign_refused,

  // "Multiplication operation in fixedfloat. (oh boy)", fixedfloat_made, the
  // values widened and multiplied, "Done.": 39 lines; refused: the first.
  fixedfloat_product,
  fixedfloat_product_refused,
  // "Division operation in fixedfloat.", fixedfloat_made, "Done."
  fixedfloat_quotient,
  fixedfloat_quotient_refused,
  // "Rounded multiplication operation in fixedfloat.", fixedfloat_made, "Done."
  fixedfloat_rounded_product,
  fixedfloat_rounded_product_refused,
  // "Rounding operation in fixedfloat.", "Done."
  fixedfloat_rounded,
  fixedfloat_round_refused,

  // "Comparison operation in fixedfloat (==).", "Done."; refused: the first line.
  fixedfloat_equal,
  fixedfloat_equal_refused,
  fixedfloat_not_equal,
  fixedfloat_not_equal_refused,
  fixedfloat_less,
  fixedfloat_less_refused,
  fixedfloat_greater,
  fixedfloat_greater_refused,
  fixedfloat_less_equal,
  fixedfloat_less_equal_refused,
  fixedfloat_greater_equal,
  fixedfloat_greater_equal_refused,

  // + and -: "Addition operation in fixedfloat." (or "Subtraction ..."),
  // fixedfloat_made, copies of both values made(n), made(n), the fixedint +
  // or - of the copies, its result and argument deleted, both copies deleted,
  // "Done.". The fixedint sum runs one of five ways: the magnitudes added;
  // their difference, the operands swapped or not; and either difference
  // borrowing at the top, which takes a nested subtraction.
  fixedfloat_sum,
  fixedfloat_sum_difference,
  fixedfloat_sum_difference_swapped,
  fixedfloat_sum_difference_nested,
  fixedfloat_sum_difference_swapped_nested,
  fixedfloat_sum_refused,
  fixedfloat_subtraction,
  fixedfloat_subtraction_difference,
  fixedfloat_subtraction_difference_swapped,
  fixedfloat_subtraction_difference_nested,
  fixedfloat_subtraction_difference_swapped_nested,
  fixedfloat_subtraction_refused,

  // "Done." alone: what the steps of + and - taken for real end with.
  done,

  // asstring(): made(n), deleted, made(n), made(n), deleted, and for a
  // fraction that is not zero resized(n/2), then deleted.
  fixedfloat_text_zero_fraction,
  fixedfloat_text,

  // %, sqrt() and pow(): "Remainder operation in fixedfloat.", "Square root
  // operation in fixedfloat." or "Power operation in fixedfloat.",
  // fixedfloat_made, "Done."; refused: the first line.
  fixedfloat_remainder,
  fixedfloat_remainder_refused,
  fixedfloat_square_root,
  fixedfloat_square_root_refused,
  fixedfloat_power,
  fixedfloat_power_refused,
};

inline constexpr std::size_t transcript_count = static_cast<std::size_t>(transcript::fixedfloat_power_refused) + 1;

// The lines of `kind`.
const transcript_lines& lines_of(transcript kind) noexcept;

// One record: a transcript at a length, its count, and the deletions after
// it: "Deleted fixedint object." lines, or with `fixedfloat_deletions` each
// a fixedfloat's "Deleting fixedfloat object!" and its value's line.
struct transcript_record {
  transcript kind = transcript::deletions;
  unsigned long long length = 0;
  unsigned long long count = 1;
  unsigned deletions = 0;
  bool fixedfloat_deletions = false;
};

// The lines of one fixedfloat going.
inline constexpr std::string_view fixedfloat_deleted_line = "Deleting fixedfloat object!";
inline constexpr std::array<line, 2> fixedfloat_deletion_lines{{{fixedfloat_deleted_line}, {deleted_line}}};

// The number a line showing `number` carries in a record of `length`, as the
// operation computed it: twice 8 -> 16 (modulo 2^64).
unsigned long long shown_value(shown number, unsigned long long length) noexcept;
// How often the record's group of lines is written.
std::uint64_t group_times(const transcript_record& record) noexcept;
// The record's lines and the bytes of their text, deletions included.
std::uint64_t line_count(const transcript_record& record) noexcept;
std::uint64_t byte_count(const transcript_record& record) noexcept;
// The bytes of the record's first `lines` lines.
std::uint64_t bytes_of_first(const transcript_record& record, std::uint64_t lines) noexcept;
// How many of the record's first lines fit whole in `bytes` bytes.
std::uint64_t lines_within(const transcript_record& record, std::uint64_t bytes) noexcept;

// The lines the module set-up, the log limit and the report write, outside
// any record: setup() logs the four set-up lines one by one as messages.
inline constexpr std::array<std::string_view, 4> setup_lines{"First fixedint/fixedfloat object created!",
                                                             "Start Initialization of Veldar Arithmetic module.",
                                                             "Setting up log dumper...", "Done. Init Successful"};

// The one line that says how many lines a log limit dropped:
// "Log limit of 4096 bytes: 120 earlier lines dropped."
inline constexpr std::string_view limit_opening = "Log limit of ";
inline constexpr std::string_view limit_bytes = " bytes: ";
inline constexpr std::string_view limit_closing = " earlier lines dropped.";

// The report's lines, in order; the fourth and fifth are followed by the
// exception's type name and its what() text.
inline constexpr std::string_view report_terminate = "Terminate called. Preparing report.";
inline constexpr std::string_view report_opened = "Opened File.";
inline constexpr std::string_view report_rethrowing = "Rethrowing exception and getting type.";
inline constexpr std::string_view report_type = "Exception type: ";
inline constexpr std::string_view report_what = "what(): ";
inline constexpr std::string_view report_end = "--- LOG END: NO FURTHER MESSAGES ---";

// How a fixedint + ran, which decides its lines: the magnitudes added, or
// their difference, A and B swapped when the left operand is the negative
// one, and nested when the difference borrowed out of the top.
struct sum_shape {
  bool difference = false;
  bool swapped = false;
  bool nested = false;
};
// The fixedfloat + or - whose fixedint sum of the two values ran as `shape`.
transcript fixedfloat_sum_transcript(sum_shape shape, bool subtraction) noexcept;

}  // namespace VELDAR::detail
