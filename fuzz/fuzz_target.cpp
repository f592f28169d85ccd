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
#include "fixedchecks.h"
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>
#include "integerchecks.h"
#include "outcome.h"
#include "program.h"

namespace veldarfuzz {
namespace {

// Numbers longer than this are long: each input may run a few passes over
// long numbers and one heavy operation on them (a product, or a fixed-point
// assignment, which logs some lines a digit).
constexpr unsigned long long longlength = 64;
constexpr int longpasses = 4;
constexpr int longheavy = 1;
constexpr int stepsperinput = 24;

enum class work { pass, heavy };

// The program's numbers and the operation groups. Each group reads its
// operands from the input and runs one check; operations on numbers that do
// not exist, or beyond the input's budget for long numbers, are skipped.
class machine {
 public:
  void step(programtext& in) {
    using group = void (machine::*)(programtext&);
    static constexpr std::array<group, 8> groups{
        &machine::integerconstruction, &machine::integerarithmetic, &machine::integercomparison,
        &machine::integeridentity,     &machine::digitoperation,    &machine::fixedconstruction,
        &machine::fixedarithmetic,     &machine::fixedparts,
    };
    (this->*groups[in.byte() % groups.size()])(in);
    checkinvariants();
  }

 private:
  std::array<intslot, 4> ints;
  std::array<floatslot, 4> floats;
  int passesleft = longpasses;
  int heavyleft = longheavy;

  intslot* intat(std::uint8_t i) { return ints[i % 4].number ? &ints[i % 4] : nullptr; }
  floatslot* floatat(std::uint8_t i) { return floats[i % 4].number ? &floats[i % 4] : nullptr; }

  // Whether an operation on numbers of up to `length` digits may run.
  bool afford(unsigned long long length, work kind = work::pass) {
    if (length <= longlength) {
      return true;
    }
    int& left = kind == work::pass ? passesleft : heavyleft;
    return left-- > 0;
  }

  // fixedint construction, assignment and field writes.

  void integerconstruction(programtext& in) {
    const std::uint8_t op = in.byte() % 8;
    intslot& s = ints[in.byte() % 4];
    switch (op) {
      case 0: return construct(s, in, false);
      case 1: return construct(s, in, true);
      case 2: return assignsigned(s, in);
      case 3: return assignunsigned(s, in);
      case 4: return assigntext(s, in);
      case 5: return copy(s, in);
      case 6: return fieldwrite(s, in);
      default: return s.number.reset();
    }
  }

  void construct(intslot& s, programtext& in, bool withvalue) {
    const unsigned long long length = in.length();
    const std::optional<long long> value = withvalue ? std::optional<long long>(in.anyinteger()) : std::nullopt;
    if (afford(length)) {
      checkconstruction(s, length, value);
    }
  }

  void assignsigned(intslot& s, programtext& in) {
    const long long value = in.anyinteger();
    if (s.number) {
      checkintegerassignment(s, value);
    }
  }

  void assignunsigned(intslot& s, programtext& in) {
    const std::uint64_t value = in.word(8);
    const std::uint8_t type = in.byte();
    if (!s.number) {
      return;
    }
    switch (type % 4) {
      case 0: return checkintegerassignment(s, static_cast<unsigned char>(value));
      case 1: return checkintegerassignment(s, static_cast<unsigned>(value));
      case 2: return checkintegerassignment(s, static_cast<unsigned long>(value));
      default: return checkintegerassignment(s, static_cast<unsigned long long>(value));
    }
  }

  void assigntext(intslot& s, programtext& in) {
    const std::string text = in.byte() % 4 == 0 ? in.longtext(false) : in.text();
    if (s.number && afford(std::max<unsigned long long>(text.size(), s.number->length))) {
      checktextassignment(s, text);
    }
  }

  void copy(intslot& s, programtext& in) {
    intslot* from = intat(in.byte());
    const bool move = in.byte() % 2 == 0;
    if (from != nullptr && afford(from->number->length)) {
      checkcopy(s, *from, move);
    }
  }

  // Writes the fields directly: the flags, digits from a seed (some patterns
  // hold elements outside 0 to 9), or one element of any value.
  void fieldwrite(intslot& s, programtext& in) {
    if (!s.number) {
      return;
    }
    fixedint& n = *s.number;
    const std::uint8_t what = in.byte();
    if (what % 3 == 0) {
      setflags(n, in.byte());
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

  void integerarithmetic(programtext& in) {
    const std::uint8_t op = in.byte() % 3;
    intslot* a = intat(in.byte());
    intslot* b = intat(in.byte());
    const std::uint8_t destination = in.byte();
    if (a == nullptr || b == nullptr) {
      return;
    }
    const bool wild = a->wild || b->wild;
    const unsigned long long length = std::max(a->number->length, b->number->length);
    const bool product = op == 2;
    // The plain product that elements outside 0 to 9 take is quadratic in the digits.
    if ((product && wild && length > longlength) || !afford(length, product ? work::heavy : work::pass)) {
      return;
    }
    std::optional<fixedint> result = product ? checkproduct(*a, *b) : checksum(*a, *b, op == 1);
    if (result && destination % 2 == 0) {
      store(ints[destination / 2 % 4], std::move(*result), wild);
    }
  }

  void integercomparison(programtext& in) {
    intslot* a = intat(in.byte());
    intslot* b = intat(in.byte());
    intslot* c = intat(in.byte());
    if (a != nullptr && b != nullptr && c != nullptr &&
        afford(std::max({a->number->length, b->number->length, c->number->length}))) {
      checkcomparisons(*a, *b, *c);
    }
  }

  void integeridentity(programtext& in) {
    const std::uint8_t which = in.byte();
    intslot* a = intat(in.byte());
    intslot* b = intat(in.byte());
    intslot* c = intat(in.byte());
    if (a == nullptr || b == nullptr || c == nullptr || a->wild || b->wild || c->wild) {
      return;
    }
    if (afford(a->number->length, identitywithproducts(which) ? work::heavy : work::pass)) {
      checkidentity(*a->number, *b->number, *c->number, which);
    }
  }

  void digitoperation(programtext& in) {
    const std::uint8_t op = in.byte() % 6;
    intslot* s = intat(in.byte());
    const unsigned long long length = op == 0 ? in.length() : 0;
    if (s == nullptr || !afford(std::max(length, s->number->length))) {
      return;
    }
    switch (op) {
      case 0: return checkresize(*s, length);
      case 1: return checkshift(*s, true);
      case 2: return checkshift(*s, false);
      case 3: return checkcopies(*s);
      default: return checktext(*s);
    }
  }

  // fixedfloat construction and assignment.

  void fixedconstruction(programtext& in) {
    const std::uint8_t op = in.byte() % 10;
    floatslot& s = floats[in.byte() % 4];
    switch (op) {
      case 0: return construct(s, in);
      case 1: return initialise(s, in);
      case 2: return assignfloat(s, in);
      case 3: return assigntext(s, in);
      case 4: return assigninteger(s, in);
      case 5: return assignfixedint(s, in);
      case 6: return assigntofixedint(s, in);
      case 7: return copy(s, in);
      case 8: return fieldwrite(s, in);
      default: return s.number.reset();
    }
  }

  void construct(floatslot& s, programtext& in) {
    const unsigned long long length = in.fixedlength();
    if (afford(length)) {
      checkfixedconstruction(s, length);
    }
  }

  void initialise(floatslot& s, programtext& in) {
    const unsigned long long length = in.fixedlength();
    if (s.number && afford(std::max(length, s.number->length))) {
      checkinit(s, length);
    }
  }

  // The assignments below log some lines a digit: at long lengths they are heavy.
  bool assignable(const floatslot& s) { return s.number && afford(s.number->length, work::heavy); }

  void assignfloat(floatslot& s, programtext& in) {
    const float x = in.anyfloat();
    if (assignable(s)) {
      checkfloatassignment(s, x);
    }
  }

  void assigntext(floatslot& s, programtext& in) {
    const std::string text = in.byte() % 4 == 0 ? in.longtext(true) : in.text();
    if (assignable(s)) {
      checkfixedtextassignment(s, text);
    }
  }

  void assigninteger(floatslot& s, programtext& in) {
    const long long value = in.anyinteger();
    const std::uint8_t type = in.byte();
    if (!assignable(s)) {
      return;
    }
    switch (type % 3) {
      case 0: return checkfixedintegerassignment(s, value);
      case 1: return checkfixedintegerassignment(s, static_cast<unsigned long long>(value));
      default: return checkfixedintegerassignment(s, static_cast<int>(value));
    }
  }

  void assignfixedint(floatslot& s, programtext& in) {
    const intslot* from = intat(in.byte());
    // Elements outside 0 to 9 take length / 2 products by ten.
    if (from != nullptr && s.number && !(from->wild && s.number->length > longlength) &&
        afford(std::max(s.number->length, from->number->length), work::heavy)) {
      checkfromfixedint(s, *from);
    }
  }

  void assigntofixedint(floatslot& s, programtext& in) {
    intslot* to = intat(in.byte());
    if (to != nullptr && s.number && afford(std::max(s.number->length, to->number->length))) {
      checkintfromfixed(*to, s);
    }
  }

  void copy(floatslot& s, programtext& in) {
    floatslot* from = floatat(in.byte());
    const bool move = in.byte() % 2 == 0;
    if (from != nullptr && afford(from->number->length)) {
      checkcopy(s, *from, move);
    }
  }

  // Writes the fields directly, as for fixedint, the value's flags included.
  void fieldwrite(floatslot& s, programtext& in) {
    if (!s.number) {
      return;
    }
    fixedfloat& p = *s.number;
    const std::uint8_t what = in.byte();
    if (what % 3 == 0) {
      setfixedflags(p, in.byte());
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

  void fixedarithmetic(programtext& in) {
    const std::uint8_t op = in.byte() % 4;
    floatslot* a = floatat(in.byte());
    floatslot* b = floatat(in.byte());
    const std::uint8_t destination = in.byte();
    if (a == nullptr || b == nullptr) {
      return;
    }
    const bool wild = a->wild || b->wild;
    const unsigned long long length = std::max(a->number->length, b->number->length);
    const bool product = op == 0;
    if ((product && wild && length > longlength) || !afford(length, product ? work::heavy : work::pass)) {
      return;
    }
    if (op == 3) {
      return checkfixedcomparisons(*a, *b);
    }
    std::optional<fixedfloat> result = product ? checkfixedproduct(*a, *b) : checkfixedsum(*a, *b, op == 2);
    if (result && destination % 2 == 0) {
      store(floats[destination / 2 % 4], std::move(*result), wild);
    }
  }

  void fixedparts(programtext& in) {
    floatslot* s = floatat(in.byte());
    const bool movesign = in.byte() % 4 == 0;
    if (s != nullptr && afford(s->number->length)) {
      movesign ? checkupdsign(*s) : checkparts(*s);
    }
  }

  // After every step: each number's digit vector is as long as its length.
  void checkinvariants() const {
    for (const intslot& s : ints) {
      require(!s.number || s.number->digits.size() == s.number->length, "digit vector size differs from length");
    }
    for (const floatslot& s : floats) {
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
}  // namespace veldarfuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    veldarfuzz::programtext in(data, size);
    veldarfuzz::machine numbers;
    for (int steps = 0; steps < veldarfuzz::stepsperinput && !in.done(); ++steps) {
      numbers.step(in);
    }
  }
  // Each input frees what its log took, which keeps memory flat and
  // libFuzzer's count of allocations and frees even.
  VELDAR::logstream.str("");
  return 0;
}
