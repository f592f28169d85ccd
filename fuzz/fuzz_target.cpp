// libFuzzer target: reads its input as a program of operations (program.h)
// on four fixedint and four fixedfloat numbers, and checks every outcome
// (integerchecks.h, fixedchecks.h). Only the documented exceptions, with
// their documented messages, may come out of an operation, and only where the
// documentation says; an operation that throws must leave its operands as
// they were. Where every element is a digit 0 to 9, results are compared with
// the plain arithmetic of reference.h, or, for products too long for it, with
// the residues of the factors; identities that need no reference
// (a * b == b * a, (a + b) - b == a, ...) and the laws of the order are
// checked as well. Elements outside 0 to 9, written into the fields directly,
// may change the values but nothing else. Anything else aborts, which
// libFuzzer reports. Numbers run up to 2,048 digits, but only a few
// operations on long numbers run per input, so that inputs stay quick.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <veldar/diagnostics.h>
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>
#include "fixedchecks.h"
#include "integerchecks.h"
#include "outcome.h"
#include "program.h"

namespace veldar_fuzz {
namespace {

// Numbers longer than this are long: each input may run a few passes over
// long numbers and one heavy operation on them (a product, or a fixed-point
// assignment, which logs some lines a digit).
constexpr unsigned long long long_length = 64;
constexpr int long_passes = 4;
constexpr int long_heavy = 1;
constexpr int steps_per_input = 24;

enum class work { pass, heavy };

// The program's numbers and the operation groups. Each group reads its
// operands from the input and runs one check; operations on numbers that do
// not exist, or beyond the input's budget for long numbers, are skipped.
class machine {
 public:
  void step(program_text& in) {
    using group = void (machine::*)(program_text&);
    static constexpr std::array<group, 8> groups{
        &machine::integer_construction, &machine::integer_arithmetic, &machine::integer_comparison,
        &machine::integer_identity,     &machine::digit_operation,    &machine::fixed_construction,
        &machine::fixed_arithmetic,     &machine::fixed_parts,
    };
    (this->*groups[in.byte() % groups.size()])(in);
    check_invariants();
  }

 private:
  std::array<int_slot, 4> ints;
  std::array<float_slot, 4> floats;
  int passes_left = long_passes;
  int heavy_left = long_heavy;

  int_slot* intat(std::uint8_t i) { return ints[i % 4].number ? &ints[i % 4] : nullptr; }
  float_slot* float_at(std::uint8_t i) { return floats[i % 4].number ? &floats[i % 4] : nullptr; }

  // Whether an operation on numbers of up to `length` digits may run.
  bool afford(unsigned long long length, work kind = work::pass) {
    if (length <= long_length) {
      return true;
    }
    int& left = kind == work::pass ? passes_left : heavy_left;
    return left-- > 0;
  }

  // fixedint construction, assignment and field writes.

  void integer_construction(program_text& in) {
    const std::uint8_t op = in.byte() % 8;
    int_slot& s = ints[in.byte() % 4];
    switch (op) {
      case 0:
        return construct(s, in, false);
      case 1:
        return construct(s, in, true);
      case 2:
        return assign_signed(s, in);
      case 3:
        return assignunsigned(s, in);
      case 4:
        return assign_text(s, in);
      case 5:
        return copy(s, in);
      case 6:
        return field_write(s, in);
      default:
        return s.number.reset();
    }
  }

  void construct(int_slot& s, program_text& in, bool with_value) {
    const unsigned long long length = in.length();
    const std::optional<long long> value = with_value ? std::optional<long long>(in.any_integer()) : std::nullopt;
    if (afford(length)) {
      check_construction(s, length, value);
    }
  }

  void assign_signed(int_slot& s, program_text& in) {
    const long long value = in.any_integer();
    if (s.number) {
      check_integer_assignment(s, value);
    }
  }

  void assignunsigned(int_slot& s, program_text& in) {
    const std::uint64_t value = in.word(8);
    const std::uint8_t type = in.byte();
    if (!s.number) {
      return;
    }
    switch (type % 4) {
      case 0:
        return check_integer_assignment(s, static_cast<unsigned char>(value));
      case 1:
        return check_integer_assignment(s, static_cast<unsigned>(value));
      case 2:
        return check_integer_assignment(s, static_cast<unsigned long>(value));
      default:
        return check_integer_assignment(s, static_cast<unsigned long long>(value));
    }
  }

  void assign_text(int_slot& s, program_text& in) {
    const std::string text = in.byte() % 4 == 0 ? in.long_text(false) : in.text();
    if (s.number && afford(std::max<unsigned long long>(text.size(), s.number->length))) {
      check_text_assignment(s, text);
    }
  }

  void copy(int_slot& s, program_text& in) {
    int_slot* from = intat(in.byte());
    const bool move = in.byte() % 2 == 0;
    if (from != nullptr && afford(from->number->length)) {
      check_copy(s, *from, move);
    }
  }

  // Writes the fields directly: the flags, digits from a seed (some patterns
  // hold elements outside 0 to 9), or one element of any value.
  void field_write(int_slot& s, program_text& in) {
    if (!s.number) {
      return;
    }
    fixedint& n = *s.number;
    const std::uint8_t what = in.byte();
    if (what % 3 == 0) {
      set_flags(n, in.byte());
    } else if (what % 3 == 1) {
      n.digits = reference::resized(in.digits(in.word(2) % (n.length + 1), true), n.length);
      settle(s, true);
    } else if (n.length > 0) {
      const std::uint64_t index = in.word(2) % n.length;
      n.digits[index] = static_cast<signed char>(in.byte());
      settle(s, true);
    }
  }

  // fixedint arithmetic, comparison, identities and digit operations.

  void integer_arithmetic(program_text& in) {
    const std::uint8_t op = in.byte() % 3;
    int_slot* a = intat(in.byte());
    int_slot* b = intat(in.byte());
    const std::uint8_t destination = in.byte();
    if (a == nullptr || b == nullptr) {
      return;
    }
    const bool wild = a->wild || b->wild;
    const unsigned long long length = std::max(a->number->length, b->number->length);
    const bool product = op == 2;
    // The plain product that elements outside 0 to 9 take is quadratic in the digits.
    if ((product && wild && length > long_length) || !afford(length, product ? work::heavy : work::pass)) {
      return;
    }
    std::optional<fixedint> result = product ? check_product(*a, *b) : checksum(*a, *b, op == 1);
    if (result && destination % 2 == 0) {
      store(ints[destination / 2 % 4], std::move(*result), wild);
    }
  }

  void integer_comparison(program_text& in) {
    int_slot* a = intat(in.byte());
    int_slot* b = intat(in.byte());
    int_slot* c = intat(in.byte());
    if (a != nullptr && b != nullptr && c != nullptr &&
        afford(std::max({a->number->length, b->number->length, c->number->length}))) {
      check_comparisons(*a, *b, *c);
    }
  }

  void integer_identity(program_text& in) {
    const std::uint8_t which = in.byte();
    int_slot* a = intat(in.byte());
    int_slot* b = intat(in.byte());
    int_slot* c = intat(in.byte());
    if (a == nullptr || b == nullptr || c == nullptr || a->wild || b->wild || c->wild) {
      return;
    }
    if (afford(a->number->length, identity_with_products(which) ? work::heavy : work::pass)) {
      check_identity(*a->number, *b->number, *c->number, which);
    }
  }

  void digit_operation(program_text& in) {
    const std::uint8_t op = in.byte() % 6;
    int_slot* s = intat(in.byte());
    const unsigned long long length = op == 0 ? in.length() : 0;
    if (s == nullptr || !afford(std::max(length, s->number->length))) {
      return;
    }
    switch (op) {
      case 0:
        return check_resize(*s, length);
      case 1:
        return check_shift(*s, true);
      case 2:
        return check_shift(*s, false);
      case 3:
        return check_copies(*s);
      default:
        return check_text(*s);
    }
  }

  // fixedfloat construction and assignment.

  void fixed_construction(program_text& in) {
    const std::uint8_t op = in.byte() % 10;
    float_slot& s = floats[in.byte() % 4];
    switch (op) {
      case 0:
        return construct(s, in);
      case 1:
        return initialise(s, in);
      case 2:
        return assign_float(s, in);
      case 3:
        return assign_text(s, in);
      case 4:
        return assign_integer(s, in);
      case 5:
        return assign_fixedint(s, in);
      case 6:
        return assign_to_fixedint(s, in);
      case 7:
        return copy(s, in);
      case 8:
        return field_write(s, in);
      default:
        return s.number.reset();
    }
  }

  void construct(float_slot& s, program_text& in) {
    const unsigned long long length = in.fixed_length();
    if (afford(length)) {
      check_fixed_construction(s, length);
    }
  }

  void initialise(float_slot& s, program_text& in) {
    const unsigned long long length = in.fixed_length();
    if (s.number && afford(std::max(length, s.number->length))) {
      check_init(s, length);
    }
  }

  // The assignments below log some lines a digit: at long lengths they are heavy.
  bool assignable(const float_slot& s) { return s.number && afford(s.number->length, work::heavy); }

  void assign_float(float_slot& s, program_text& in) {
    const float x = in.any_float();
    if (assignable(s)) {
      check_float_assignment(s, x);
    }
  }

  void assign_text(float_slot& s, program_text& in) {
    const std::string text = in.byte() % 4 == 0 ? in.long_text(true) : in.text();
    if (assignable(s)) {
      check_fixed_text_assignment(s, text);
    }
  }

  void assign_integer(float_slot& s, program_text& in) {
    const long long value = in.any_integer();
    const std::uint8_t type = in.byte();
    if (!assignable(s)) {
      return;
    }
    switch (type % 3) {
      case 0:
        return check_fixed_integer_assignment(s, value);
      case 1:
        return check_fixed_integer_assignment(s, static_cast<unsigned long long>(value));
      default:
        return check_fixed_integer_assignment(s, static_cast<int>(value));
    }
  }

  void assign_fixedint(float_slot& s, program_text& in) {
    const int_slot* from = intat(in.byte());
    // Elements outside 0 to 9 take length / 2 products by ten.
    if (from != nullptr && s.number && !(from->wild && s.number->length > long_length) &&
        afford(std::max(s.number->length, from->number->length), work::heavy)) {
      check_from_fixedint(s, *from);
    }
  }

  void assign_to_fixedint(float_slot& s, program_text& in) {
    int_slot* to = intat(in.byte());
    if (to != nullptr && s.number && afford(std::max(s.number->length, to->number->length))) {
      check_int_from_fixed(*to, s);
    }
  }

  void copy(float_slot& s, program_text& in) {
    float_slot* from = float_at(in.byte());
    const bool move = in.byte() % 2 == 0;
    if (from != nullptr && afford(from->number->length)) {
      check_copy(s, *from, move);
    }
  }

  // Writes the fields directly, as for fixedint, the value's flags included.
  void field_write(float_slot& s, program_text& in) {
    if (!s.number) {
      return;
    }
    fixedfloat& p = *s.number;
    const std::uint8_t what = in.byte();
    if (what % 3 == 0) {
      set_fixed_flags(p, in.byte());
    } else if (what % 3 == 1) {
      p.value.digits = reference::resized(in.digits(in.word(2) % (p.length + 1), true), p.length);
      settle(s, true);
    } else if (p.length > 0) {
      const std::uint64_t index = in.word(2) % p.length;
      p.value.digits[index] = static_cast<signed char>(in.byte());
      settle(s, true);
    }
  }

  // fixedfloat arithmetic, comparison, parts and text.

  void fixed_arithmetic(program_text& in) {
    const std::uint8_t op = in.byte() % 4;
    float_slot* a = float_at(in.byte());
    float_slot* b = float_at(in.byte());
    const std::uint8_t destination = in.byte();
    if (a == nullptr || b == nullptr) {
      return;
    }
    const bool wild = a->wild || b->wild;
    const unsigned long long length = std::max(a->number->length, b->number->length);
    const bool product = op == 0;
    if ((product && wild && length > long_length) || !afford(length, product ? work::heavy : work::pass)) {
      return;
    }
    if (op == 3) {
      return check_fixed_comparisons(*a, *b);
    }
    std::optional<fixedfloat> result = product ? check_fixed_product(*a, *b) : check_fixed_sum(*a, *b, op == 2);
    if (result && destination % 2 == 0) {
      store(floats[destination / 2 % 4], std::move(*result), wild);
    }
  }

  void fixed_parts(program_text& in) {
    float_slot* s = float_at(in.byte());
    const bool move_sign = in.byte() % 4 == 0;
    if (s != nullptr && afford(s->number->length)) {
      move_sign ? check_updsign(*s) : check_parts(*s);
    }
  }

  // After every step: each number's digit vector is as long as its length.
  void check_invariants() const {
    for (const int_slot& s : ints) {
      require(!s.number || s.number->digits.size() == s.number->length, "digit vector size differs from length");
    }
    for (const float_slot& s : floats) {
      if (s.number) {
        const fixedfloat& p = *s.number;
        require(p.length % 2 == 0 && p.value.length == p.length && p.value.digits.size() == p.length,
                "fixed-point length");
        require(!p.value.negative, "a fixed-point value carries a sign");
      }
    }
  }
};

}  // namespace
}  // namespace veldar_fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    veldar_fuzz::program_text in(data, size);
    veldar_fuzz::machine numbers;
    for (int steps = 0; steps < veldar_fuzz::steps_per_input && !in.done(); ++steps) {
      numbers.step(in);
    }
  }
  // Each input frees what its log took, which keeps memory flat and
  // libFuzzer's count of allocations and frees even.
  VELDAR::logstream.str("");
  return 0;
}
