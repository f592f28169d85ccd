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

namespace veldarfuzz {

using reference::digitvector;
using VELDAR::fixedfloat;
using VELDAR::fixedint;

// Findings.

inline const char* currentoperation = "";

[[noreturn]] inline void finding(const char* what) {
  std::fprintf(stderr, "veldar-fuzz finding in %s: %s\n", currentoperation, what);
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
  intsizes,
  overflow,
  carryover9,
  inputbig,
  notdecimal,
  oddlength,
  valsmall,
  fractionbig,
  notanumber,
  sizes,
};

struct documentedfailure {
  failure kind;
  const std::type_info& type;
  const char* message;
};

inline const std::array<documentedfailure, 10>& documentedfailures() {
  static const std::array<documentedfailure, 10> failures{{
      {failure::intsizes, typeid(std::length_error), "Int sizes are not equal!"},
      {failure::overflow, typeid(std::overflow_error), "Overflow occured."},
      {failure::carryover9, typeid(std::out_of_range), "Carry over 9!"},
      {failure::inputbig, typeid(std::out_of_range), "Input int bigger than size!"},
      {failure::notdecimal, typeid(std::invalid_argument), "Not a decimal number!"},
      {failure::oddlength, typeid(std::runtime_error), "length should be able to be divided by 2!"},
      {failure::valsmall, typeid(std::out_of_range), "Val too small for fixedfloat!"},
      {failure::fractionbig, typeid(std::length_error), "Fraction of float too big to fit in fixedfloat!"},
      {failure::notanumber, typeid(std::invalid_argument), "Float is not a number!"},
      {failure::sizes, typeid(std::length_error), "Size is not equal!"},
  }};
  return failures;
}

// Runs `operation` and tells which documented failure it threw, if any. Any
// other exception, or a documented message on another type, is a finding.
template <typename operation>
failure threwdocumented(operation&& run) {
  try {
    run();
    return failure::none;
  } catch (const std::exception& error) {
    const auto& failures = documentedfailures();
    const auto match = std::find_if(failures.begin(), failures.end(), [&error](const documentedfailure& f) {
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
inline void requirenofailure(failure thrown, const char* what) {
  if (thrown != failure::none) {
    const auto& failures = documentedfailures();
    const auto match = std::find_if(failures.begin(), failures.end(),
                                    [thrown](const documentedfailure& f) { return f.kind == thrown; });
    std::fprintf(stderr, "%s threw \"%s\" where nothing may be thrown\n", what, match->message);
    finding("an operation threw");
  }
}

// Every field of a number, to tell whether an operation changed it.

struct intstate {
  bool negative;
  unsigned long long length;
  bool issigned;
  bool throwonoverflow;
  digitvector digits;

  explicit intstate(const fixedint& n)
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

struct floatstate {
  intstate value;
  unsigned long long length;
  bool issigned;
  bool negative;

  explicit floatstate(const fixedfloat& n)
      : value(n.value), length(n.length), issigned(n.issigned), negative(n.negative) {}

  bool same(const fixedfloat& n) const {
    return value.same(n.value) && length == n.length && issigned == n.issigned && negative == n.negative;
  }
};

// A number of the program, and whether it may hold elements outside 0 to 9.
template <typename numbertype>
struct slot {
  std::optional<numbertype> number;
  bool wild = false;
};
using intslot = slot<fixedint>;
using floatslot = slot<fixedfloat>;

inline const digitvector& digitsof(const fixedint& n) { return n.digits; }
inline const digitvector& digitsof(const fixedfloat& n) { return n.value.digits; }

// Records whether `s` now holds elements outside 0 to 9; only `maybewild`
// operations may leave them.
template <typename numbertype>
void settle(slot<numbertype>& s, bool maybewild) {
  s.wild = !reference::alldigits(digitsof(*s.number));
  require(maybewild || !s.wild, "an element outside 0 to 9 from digits 0 to 9");
}

template <typename numbertype>
void store(slot<numbertype>& s, numbertype&& number, bool maybewild) {
  s.number = std::move(number);
  settle(s, maybewild);
}

inline intstate snapshot(const fixedint& n) { return intstate(n); }
inline floatstate snapshot(const fixedfloat& n) { return floatstate(n); }

// Copies `from` into `to`: with the copy constructor when `to` holds no
// number, else by copy or move assignment (`from` may be `to` itself).
template <typename numbertype>
void checkcopy(slot<numbertype>& to, const slot<numbertype>& from, bool move) {
  currentoperation = !to.number ? "copy construction" : move ? "move assignment" : "copy assignment";
  const auto source = snapshot(*from.number);
  const failure thrown = threwdocumented([&] {
    if (!to.number) {
      to.number.emplace(*from.number);
    } else if (move) {
      *to.number = numbertype(*from.number);
    } else {
      *to.number = *from.number;
    }
  });
  require(thrown == failure::none && source.same(*to.number), "a copy differs from its source");
  to.wild = from.wild;
}

}  // namespace veldarfuzz
