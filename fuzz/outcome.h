// What the fuzz target requires of an operation's outcome: the findings that
// abort the run, the documented failures and the snapshots that tell whether
// an operation changed a number.
#pragma once

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <typeinfo>
#include <utility>

#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>
#include "reference.h"

namespace veldar_fuzz {

using reference::digit_vector;
using VELDAR::fixedfloat;
using VELDAR::fixedint;

// Findings.

inline const char* current_operation = "";

[[noreturn]] inline void finding(const char* what) {
  std::fprintf(stderr, "veldar-fuzz finding in %s: %s\n", current_operation, what);
  std::abort();
}

inline void require(bool holds, const char* what) {
  if (!holds) {
    finding(what);
  }
}

// The documented failures: each message goes with one exception type.
enum class failure {
  none,
  int_sizes,
  overflow,
  carry_over_9,
  input_big,
  not_decimal,
  odd_length,
  val_small,
  fraction_big,
  not_a_number,
  sizes,
};

struct documented_failure {
  failure kind;
  const std::type_info& type;
  const char* message;
};

inline const std::array<documented_failure, 10>& documented_failures() {
  static const std::array<documented_failure, 10> failures{{
      {failure::int_sizes, typeid(std::length_error), "Int sizes are not equal!"},
      {failure::overflow, typeid(std::overflow_error), "Overflow occured."},
      {failure::carry_over_9, typeid(std::out_of_range), "Carry over 9!"},
      {failure::input_big, typeid(std::out_of_range), "Input int bigger than size!"},
      {failure::not_decimal, typeid(std::invalid_argument), "Not a decimal number!"},
      {failure::odd_length, typeid(std::runtime_error), "length should be able to be divided by 2!"},
      {failure::val_small, typeid(std::out_of_range), "Val too small for fixedfloat!"},
      {failure::fraction_big, typeid(std::length_error), "Fraction of float too big to fit in fixedfloat!"},
      {failure::not_a_number, typeid(std::invalid_argument), "Float is not a number!"},
      {failure::sizes, typeid(std::length_error), "Size is not equal!"},
  }};
  return failures;
}

// Runs `operation` and tells which documented failure it threw, if any. Any
// other exception, or a documented message on another type, is a finding.
template <typename operation>
failure threw_documented(operation&& run) {
  try {
    run();
    return failure::none;
  } catch (const std::exception& error) {
    const auto& failures = documented_failures();
    const auto match = std::find_if(failures.begin(), failures.end(), [&error](const documented_failure& f) {
      return typeid(error) == f.type && std::strcmp(error.what(), f.message) == 0;
    });
    if (match == failures.end()) {
      std::fprintf(stderr, "undocumented exception %s: %s\n", typeid(error).name(), error.what());
      finding("undocumented exception");
    }
    return match->kind;
  } catch (...) {
    finding("exception of a type that is no std::exception");
  }
}

// A finding unless the operation named by `what` threw nothing.
inline void require_no_failure(failure thrown, const char* what) {
  if (thrown != failure::none) {
    const auto& failures = documented_failures();
    const auto match = std::find_if(failures.begin(), failures.end(),
                                    [thrown](const documented_failure& f) { return f.kind == thrown; });
    std::fprintf(stderr, "%s threw \"%s\" where nothing may be thrown\n", what, match->message);
    finding("an operation threw");
  }
}

// Every field of a number, to tell whether an operation changed it.

struct int_state {
  bool negative;
  unsigned long long length;
  bool issigned;
  bool throwonoverflow;
  digit_vector digits;

  explicit int_state(const fixedint& n)
      : negative(n.negative),
        length(n.length),
        issigned(n.issigned),
        throwonoverflow(n.throwonoverflow),
        digits(n.digits) {}

  bool same(const fixedint& n) const {
    return negative == n.negative && length == n.length && issigned == n.issigned &&
           throwonoverflow == n.throwonoverflow && digits == n.digits;
  }
};

struct float_state {
  int_state value;
  unsigned long long length;
  bool issigned;
  bool negative;

  explicit float_state(const fixedfloat& n)
      : value(n.value), length(n.length), issigned(n.issigned), negative(n.negative) {}

  bool same(const fixedfloat& n) const {
    return value.same(n.value) && length == n.length && issigned == n.issigned && negative == n.negative;
  }
};

// A number of the program, and whether it may hold elements outside 0 to 9.
template <typename number_type>
struct slot {
  std::optional<number_type> number;
  bool wild = false;
};
using int_slot = slot<fixedint>;
using float_slot = slot<fixedfloat>;

inline const digit_vector& digits_of(const fixedint& n) { return n.digits; }
inline const digit_vector& digits_of(const fixedfloat& n) { return n.value.digits; }

// Records whether `s` now holds elements outside 0 to 9; only `maybe_wild`
// operations may leave them.
template <typename number_type>
void settle(slot<number_type>& s, bool maybe_wild) {
  s.wild = !reference::all_digits(digits_of(*s.number));
  require(maybe_wild || !s.wild, "an element outside 0 to 9 from digits 0 to 9");
}

template <typename number_type>
void store(slot<number_type>& s, number_type&& number, bool maybe_wild) {
  s.number = std::move(number);
  settle(s, maybe_wild);
}

inline int_state snapshot(const fixedint& n) { return int_state(n); }
inline float_state snapshot(const fixedfloat& n) { return float_state(n); }

// Copies `from` into `to`: with the copy constructor when `to` holds no
// number, else by copy or move assignment (`from` may be `to` itself).
template <typename number_type>
void check_copy(slot<number_type>& to, const slot<number_type>& from, bool move) {
  current_operation = !to.number ? "copy construction" : move ? "move assignment" : "copy assignment";
  const auto source = snapshot(*from.number);
  const failure thrown = threw_documented([&] {
    if (!to.number) {
      to.number.emplace(*from.number);
    } else if (move) {
      *to.number = number_type(*from.number);
    } else {
      *to.number = *from.number;
    }
  });
  require(thrown == failure::none && source.same(*to.number), "a copy differs from its source");
  to.wild = from.wild;
}

}  // namespace veldar_fuzz
