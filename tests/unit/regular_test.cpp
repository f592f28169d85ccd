// fixedint and fixedfloat as regular numeric types: const numbers, compound
// assignment, machine integers mixed in, the constructors from values,
// unary signs, the order across lengths, streams, roots and powers. Where an
// addition is defined as an expression already there ("a op= b is a = a op
// b", "a op n is a op like(a, n)"), the two are run side by side and must
// agree in value, exception and log.
#include <algorithm>
#include <iomanip>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <veldar/diagnostics.h>
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>

#include "support.h"

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;
using VELDAR::rounding;
using veldar_test::expect_throw;
using veldar_test::int128;
using veldar_test::log_capture;
using strings = std::vector<std::string>;
using veldar_test::transcript;

// What an action did to a number: its fields after, the exception's what()
// ("" for none) and the log lines it wrote.
struct outcome {
  std::string state;
  std::string error;
  strings log;
};

bool operator==(const outcome& a, const outcome& b) {
  return a.state == b.state && a.error == b.error && a.log == b.log;
}

std::ostream& operator<<(std::ostream& out, const outcome& o) {
  out << "state " << o.state << ", error '" << o.error << "', " << o.log.size() << " log lines:";
  for (const std::string& line : o.log) {
    out << "\n  " << line;
  }
  return out;
}

std::string state_of(const fixedint& x) {
  std::string digits;
  for (const signed char d : x.digits) {
    digits += std::to_string(d) + ",";
  }
  return digits + " negative " + std::to_string(x.negative) + " length " + std::to_string(x.length) + " signed " +
         std::to_string(x.issigned) + " throws " + std::to_string(x.throwonoverflow);
}

std::string state_of(const fixedfloat& x) {
  return state_of(x.value) + " | negative " + std::to_string(x.negative) + " length " + std::to_string(x.length) +
         " signed " + std::to_string(x.issigned);
}

// Runs `action` on a copy of `start`, with the log captured.
template <typename number, typename action>
outcome run(const number& start, action act) {
  number x = start;  // silent
  outcome result;
  {
    log_capture capture;
    try {
      act(x);
    } catch (const std::exception& error) {
      result.error = error.what();
    }
    result.log = capture.messages();
  }
  result.state = state_of(x);
  return result;
}

fixedint integer(unsigned long long length, long long value, bool throws = false, bool issigned = true) {
  fixedint x(length, value);
  x.throwonoverflow = throws;
  x.issigned = issigned;
  return x;
}

std::vector<fixedint> integer_operands() {
  return {integer(4, 0),
          integer(4, 7),
          integer(4, -7),
          integer(4, 9999),
          integer(4, -9999),
          integer(4, 5000, true),
          integer(4, -3, false, false),
          integer(5, 12)};
}

std::vector<fixedfloat> fixed_operands() {
  std::vector<fixedfloat> all;
  for (const char* text : {"0", "7.5", "-7.5", "99.99", "-0.01", "0.3"}) {
    all.emplace_back(4, std::string(text));
  }
  all.emplace_back(6, std::string("1.5"));
  return all;
}

TEST(CompoundAssignment, FixedintIsTheAssignmentOfTheOperation) {
  const auto all = integer_operands();
  for (const fixedint& a : all) {
    for (const fixedint& b : all) {
      SCOPED_TRACE(state_of(a) + " op " + state_of(b));
      EXPECT_EQ(run(a, [&](fixedint& x) { x += b; }), run(a, [&](fixedint& x) { x = x + b; }));
      EXPECT_EQ(run(a, [&](fixedint& x) { x -= b; }), run(a, [&](fixedint& x) { x = x - b; }));
      EXPECT_EQ(run(a, [&](fixedint& x) { x *= b; }), run(a, [&](fixedint& x) { x = x * b; }));
      EXPECT_EQ(run(a, [&](fixedint& x) { x /= b; }), run(a, [&](fixedint& x) { x = x / b; }));
      EXPECT_EQ(run(a, [&](fixedint& x) { x %= b; }), run(a, [&](fixedint& x) { x = x % b; }));
    }
  }
}

TEST(CompoundAssignment, FixedfloatIsTheAssignmentOfTheOperation) {
  const auto all = fixed_operands();
  for (const fixedfloat& a : all) {
    for (const fixedfloat& b : all) {
      SCOPED_TRACE(state_of(a) + " op " + state_of(b));
      EXPECT_EQ(run(a, [&](fixedfloat& x) { x += b; }), run(a, [&](fixedfloat& x) { x = x + b; }));
      EXPECT_EQ(run(a, [&](fixedfloat& x) { x -= b; }), run(a, [&](fixedfloat& x) { x = x - b; }));
      EXPECT_EQ(run(a, [&](fixedfloat& x) { x *= b; }), run(a, [&](fixedfloat& x) { x = x * b; }));
      EXPECT_EQ(run(a, [&](fixedfloat& x) { x /= b; }), run(a, [&](fixedfloat& x) { x = x / b; }));
      EXPECT_EQ(run(a, [&](fixedfloat& x) { x %= b; }), run(a, [&](fixedfloat& x) { x = x % b; }));
    }
  }
}

// The result of an operation on a const left operand, with the log, against
// the same operation on a non-const one.
template <typename number, typename action>
outcome result_of(const number& start, action act) {
  number x = start;
  return run(start, [&](number& y) { y = act(x); });
}

TEST(ConstNumbers, OperateAndLogAsNonConstOnes) {
  const auto all = integer_operands();
  for (const fixedint& a : all) {
    for (const fixedint& b : all) {
      SCOPED_TRACE(state_of(a) + " op " + state_of(b));
      const auto same = [&](auto op) {
        fixedint mutable_b = b;
        EXPECT_EQ(result_of(a, [&](fixedint& x) { return op(std::as_const(x), std::as_const(b)); }),
                  result_of(a, [&](fixedint& x) { return op(x, mutable_b); }));
      };
      same([](auto& x, auto& y) { return x * y; });
      same([](auto& x, auto& y) { return x / y; });
      same([](auto& x, auto& y) { return x % y; });
      same([](auto& x, auto& y) { return x.divide(y, rounding::halfeven); });
      for (const bool subtract : {false, true}) {
        if (a.throwonoverflow) {
          continue;  // the non-const one takes the carry; the value is the same, checked below
        }
        same([subtract](auto& x, auto& y) { return subtract ? x - y : x + y; });
      }
      const auto same_test = [&](auto op) {
        fixedint x = a;
        fixedint y = b;
        outcome constant;
        outcome plain;
        {
          log_capture capture;
          constant.state = std::to_string(op(std::as_const(x), std::as_const(y)));
          constant.log = capture.messages();
        }
        {
          log_capture capture;
          plain.state = std::to_string(op(x, y));
          plain.log = capture.messages();
        }
        EXPECT_EQ(constant, plain);
      };
      same_test([](auto& x, auto& y) { return x == y; });
      same_test([](auto& x, auto& y) { return x != y; });
      same_test([](auto& x, auto& y) { return x < y; });
      same_test([](auto& x, auto& y) { return x > y; });
      same_test([](auto& x, auto& y) { return x <= y; });
      same_test([](auto& x, auto& y) { return x >= y; });
    }
  }
  // A const number does not take the carry of +, and gives the same sum.
  const fixedint full(2, 99);
  fixedint left(2, 99);
  EXPECT_EQ((full + fixedint(2, 99)).asstring(), (left + fixedint(2, 99)).asstring());
  EXPECT_EQ(full.asstring(), "99");
  EXPECT_EQ(left.asstring(), "1");
}

TEST(ConstNumbers, FixedfloatOperatesAndLogsAsNonConst) {
  const auto all = fixed_operands();
  for (const fixedfloat& a : all) {
    for (const fixedfloat& b : all) {
      SCOPED_TRACE(state_of(a) + " op " + state_of(b));
      const auto same = [&](auto op) {
        fixedfloat mutable_b = b;
        EXPECT_EQ(result_of(a, [&](fixedfloat& x) { return op(std::as_const(x), std::as_const(b)); }),
                  result_of(a, [&](fixedfloat& x) { return op(x, mutable_b); }));
      };
      same([](auto& x, auto& y) { return x + y; });
      same([](auto& x, auto& y) { return x - y; });
      same([](auto& x, auto& y) { return x * y; });
      same([](auto& x, auto& y) { return x / y; });
      same([](auto& x, auto& y) { return x % y; });
      same([](auto& x, auto& y) { return x.divide(y, rounding::up); });
      same([](auto& x, auto& y) { return x.multiply(y, rounding::up); });
      const auto same_test = [&](auto op) {
        fixedfloat x = a;
        fixedfloat y = b;
        const auto once = [&](auto& left, auto& right) {
          outcome o;
          log_capture capture;
          try {
            o.state = std::to_string(op(left, right));
          } catch (const std::exception& error) {
            o.error = error.what();
          }
          o.log = capture.messages();
          return o;
        };
        EXPECT_EQ(once(std::as_const(x), std::as_const(y)), once(x, y));
      };
      same_test([](auto& x, auto& y) { return x == y; });
      same_test([](auto& x, auto& y) { return x != y; });
      same_test([](auto& x, auto& y) { return x < y; });
      same_test([](auto& x, auto& y) { return x > y; });
      same_test([](auto& x, auto& y) { return x <= y; });
      same_test([](auto& x, auto& y) { return x >= y; });
    }
  }
}

TEST(ConstNumbers, ObserversAndTheStandardAlgorithms) {
  const fixedint a(8, 5);
  const fixedint b(8, -12);
  EXPECT_TRUE(b < a);
  EXPECT_EQ(std::max(a, b).asstring(), "5");
  EXPECT_EQ(std::min(a, b).asstring(), "-12");
  EXPECT_EQ(b.todouble(), -12.0);
  EXPECT_EQ(b.tointeger<int>(), -12);
  EXPECT_EQ(b.abs().asstring(), "12");
  EXPECT_EQ(b.getcopy().asstring(), "-12");
  EXPECT_EQ(b.getshorteneddigits(), (std::vector<signed char>{2, 1}));

  const fixedfloat x(8, "-2.345");
  EXPECT_EQ(x.asstring(), "-2.345");
  EXPECT_EQ(x.tofixed(2), "-2.34");
  EXPECT_EQ(x.todouble(), -2.345);
  EXPECT_EQ(x.tointeger<int>(rounding::floor), -3);
  EXPECT_EQ(x.getintpart().asstring(), "2");
  EXPECT_EQ(x.getfractionpart().asstring(), "3450");
  const std::set<fixedfloat> ordered{fixedfloat(8, "2.5"), x, fixedfloat(4, "2.5"), fixedfloat(8, 0)};
  std::vector<std::string> texts;
  for (const fixedfloat& each : ordered) {
    texts.push_back(each.asstring() + "@" + std::to_string(each.length));
  }
  EXPECT_EQ(texts, (strings{"-2.345@8", "0.0@8", "2.5@4", "2.5@8"}));
}

TEST(Unary, FlipsTheSignOfASilentCopy) {
  const fixedint five(4, 5);
  log_capture capture;
  const fixedint minus = -five;
  const fixedint zero = -fixedint(4, 0);  // the temporary's line only
  EXPECT_EQ(capture.messages(), transcript{}.made(4).deleted().lines);
  EXPECT_EQ(minus.asstring(), "-5");
  EXPECT_EQ((-minus).asstring(), "5");
  EXPECT_EQ((+minus).asstring(), "-5");
  EXPECT_EQ(zero.asstring(), "-0");
  const fixedfloat half(4, "0.5");
  EXPECT_EQ((-half).asstring(), "-0.5");
  EXPECT_EQ((-(-half)).asstring(), "0.5");
  EXPECT_EQ((-fixedfloat(4, 0)).asstring(), "-0.0");
  EXPECT_EQ(abs(fixedfloat(4, "-1.25")).asstring(), "1.25");
  EXPECT_EQ(abs(fixedint(4, -7)).asstring(), "7");
}

// Machine integers: x op n is x op like(x, n), n op x is like(x, n) op x.
TEST(MixedIntegers, AreNumbersOfTheOtherOperandsLength) {
  for (const fixedint& a : integer_operands()) {
    for (const long long n : {0LL, 3LL, -3LL, 9999LL, 123456LL}) {
      SCOPED_TRACE(state_of(a) + " with " + std::to_string(n));
      const auto like = [&] { return fixedint(a.length, n); };
      EXPECT_EQ(result_of(a, [&](fixedint& x) { return x + n; }),
                result_of(a, [&](fixedint& x) { return x + like(); }));
      EXPECT_EQ(result_of(a, [&](fixedint& x) { return n - x; }),
                result_of(a, [&](fixedint& x) { return like() - x; }));
      EXPECT_EQ(result_of(a, [&](fixedint& x) { return x * n; }),
                result_of(a, [&](fixedint& x) { return x * like(); }));
      EXPECT_EQ(result_of(a, [&](fixedint& x) { return n / x; }),
                result_of(a, [&](fixedint& x) { return like() / x; }));
      EXPECT_EQ(result_of(a, [&](fixedint& x) { return x % n; }),
                result_of(a, [&](fixedint& x) { return x % like(); }));
      EXPECT_EQ(run(a, [&](fixedint& x) { x -= n; }), run(a, [&](fixedint& x) { x -= like(); }));
      // (Each comparison a statement of its own, so that like()'s temporary
      // goes before the number that records the answer is made.)
      EXPECT_EQ(run(a,
                    [&](fixedint& x) {
                      const bool r = x == n;
                      x = fixedint(1, r);
                    }),
                run(a, [&](fixedint& x) {
                  const bool r = x == like();
                  x = fixedint(1, r);
                }));
      EXPECT_EQ(run(a,
                    [&](fixedint& x) {
                      const bool r = n < x;
                      x = fixedint(1, r);
                    }),
                run(a, [&](fixedint& x) {
                  const bool r = like() < x;
                  x = fixedint(1, r);
                }));
    }
  }
  for (const fixedfloat& a : fixed_operands()) {
    for (const int n : {0, 2, -2, 99, 100}) {
      SCOPED_TRACE(state_of(a) + " with " + std::to_string(n));
      const auto like = [&] { return fixedfloat(a.length, n); };
      EXPECT_EQ(result_of(a, [&](fixedfloat& x) { return x + n; }),
                result_of(a, [&](fixedfloat& x) { return x + like(); }));
      EXPECT_EQ(result_of(a, [&](fixedfloat& x) { return n / x; }),
                result_of(a, [&](fixedfloat& x) { return like() / x; }));
      EXPECT_EQ(run(a, [&](fixedfloat& x) { x *= n; }), run(a, [&](fixedfloat& x) { x *= like(); }));
      EXPECT_EQ(run(a,
                    [&](fixedfloat& x) {
                      const bool r = x >= n;
                      x = fixedfloat(2, r);
                    }),
                run(a, [&](fixedfloat& x) {
                  const bool r = x >= like();
                  x = fixedfloat(2, r);
                }));
    }
  }
}

TEST(MixedIntegers, TakeEveryIntegralTypeExactly) {
  fixedint big(20);
  big += 18446744073709551615ULL;  // not -1
  EXPECT_EQ(big.asstring(), "18446744073709551615");
  EXPECT_TRUE(big == 18446744073709551615ULL);
  EXPECT_TRUE(fixedint(3, 200) > static_cast<unsigned char>(199));
  EXPECT_EQ((fixedint(4, 7) * short{-3}).asstring(), "-21");
  EXPECT_EQ((100 - fixedfloat(8, "0.25")).asstring(), "99.75");
  EXPECT_TRUE(fixedfloat(8, "2.0") == 2);
  EXPECT_TRUE(fixedint(4, 0) == 0);
  EXPECT_FALSE(-fixedint(4, 0) == 0);  // -0 is not 0 to fixedint's ==
  expect_throw<std::out_of_range>([] { static_cast<void>(fixedint(2, 5) + 100); }, "Input int bigger than size!");
  expect_throw<std::out_of_range>([] { static_cast<void>(fixedfloat(4, 5) * 100); }, "Input int bigger than size!");
  static_assert(!std::is_invocable_v<std::plus<>, fixedint, bool>, "bool is no number");
  static_assert(!std::is_invocable_v<std::plus<>, fixedfloat, double>, "nor is a double");
}

TEST(Constructors, AreTheLengthConstructorAndTheAssignment) {
  const auto logged = [](auto make) {
    log_capture capture;
    outcome o;
    try {
      o.state = make();
    } catch (const std::exception& error) {
      o.error = error.what();
    }
    o.log = capture.messages();
    return o;
  };
  EXPECT_EQ(logged([] { return state_of(fixedint(8, "-42")); }), logged([] {
              fixedint x(8);
              x = "-42";
              return state_of(x);
            }));
  EXPECT_EQ(logged([] { return state_of(fixedint(20, 18446744073709551615ULL)); }), logged([] {
              fixedint x(20);
              x = 18446744073709551615ULL;
              return state_of(x);
            }));
  EXPECT_EQ(logged([] { return state_of(fixedfloat(8, "1.25")); }), logged([] {
              fixedfloat x(8);
              x = "1.25";
              return state_of(x);
            }));
  EXPECT_EQ(logged([] { return state_of(fixedfloat(8, 7)); }), logged([] {
              fixedfloat x(8);
              x = 7;
              return state_of(x);
            }));
  EXPECT_EQ(logged([] { return state_of(fixedfloat(8, 1234.5678)); }), logged([] {
              fixedfloat x(8);
              x = 1234.5678;
              return state_of(x);
            }));
  EXPECT_EQ(logged([] { return state_of(fixedfloat(8, 0.5F)); }), logged([] {
              fixedfloat x(8);
              x = 0.5F;
              return state_of(x);
            }));
  // A number whose assignment throws never existed: no deletion of its own,
  // only its value's for a fixedfloat, whose value did.
  const outcome failed = logged([] { return state_of(fixedint(2, "123")); });
  EXPECT_EQ(failed.error, "Input int bigger than size!");
  EXPECT_EQ(failed.log, transcript{}.made(2).lines);
  const outcome failed_fixed = logged([] { return state_of(fixedfloat(4, 123)); });
  EXPECT_EQ(failed_fixed.error, "Input int bigger than size!");
  strings expected = logged([] { return state_of(fixedfloat(4)); }).log;
  expected.resize(expected.size() - 2);  // without the deletion of the number
  expected.push_back("Deleted fixedint object.");
  EXPECT_EQ(failed_fixed.log, expected);
}

TEST(Constructors, DefaultIsLengthZero) {
  log_capture capture;
  std::vector<fixedint> integers(3);
  std::vector<fixedfloat> fixed(2);
  const strings lines = capture.messages();
  EXPECT_EQ(integers[2].length, 0U);
  EXPECT_EQ(fixed[1].length, 0U);
  EXPECT_EQ(fixed[1].asstring(), "0.0");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "New fixedint object!"), 7);  // two for each fixedfloat
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Creating new fixedfloat object!"), 2);
}

TEST(Order, FixedintLessEqualAndGreaterEqualAreTheNegatedLess) {
  const fixedint shorter(2, 5);
  const fixedint longer(3, 5);
  EXPECT_TRUE(shorter <= longer);
  EXPECT_FALSE(shorter >= longer);
  EXPECT_TRUE(longer >= shorter);
  EXPECT_FALSE(longer <= shorter);
  std::mt19937_64 random(2061208);
  for (int i = 0; i < 2000; ++i) {
    fixedint a(1 + random() % 4, static_cast<long long>(random() % 10) - 5);
    fixedint b(1 + random() % 4, static_cast<long long>(random() % 10) - 5);
    a.negative = a.negative || random() % 8 == 0;  // -0 now and then
    SCOPED_TRACE(state_of(a) + " and " + state_of(b));
    EXPECT_EQ(a <= b, !(b < a));
    EXPECT_EQ(a >= b, !(a < b));
  }
}

// The value of a fixed-point number scaled to 10^6, the reference of the order.
int128 scaled_value(const fixedfloat& x) {
  int128 value = 0;
  for (std::size_t i = x.value.digits.size(); i-- > 0;) {
    value = value * 10 + x.value.digits[i];
  }
  value *= veldar_test::power10(6 - static_cast<int>(x.length / 2));
  return x.negative ? -value : value;
}

TEST(Order, LessOfFixedfloatOrdersAnyLengthsByValueThenLength) {
  std::mt19937_64 random(20261208);
  std::vector<fixedfloat> numbers;
  for (int i = 0; i < 300; ++i) {
    const unsigned long long length = 2 * (random() % 7);
    fixedfloat x(length);
    std::generate(x.value.digits.begin(), x.value.digits.end(), [&] { return static_cast<signed char>(random() % 3); });
    x.negative = random() % 2 == 0;
    numbers.push_back(x);
  }
  const std::less<fixedfloat> less;
  for (const fixedfloat& a : numbers) {
    for (const fixedfloat& b : numbers) {
      const int128 x = scaled_value(a);
      const int128 y = scaled_value(b);
      ASSERT_EQ(less(a, b), x < y || (x == y && a.length < b.length)) << state_of(a) << " and " << state_of(b);
    }
  }
}

TEST(Streams, FixedAndShowposShapeTheText) {
  const fixedfloat price(8, "1234.5678");
  std::ostringstream out;
  out << std::fixed << std::setprecision(2) << price << ' ' << std::setprecision(6) << price << ' '
      << std::setprecision(0) << price;
  EXPECT_EQ(out.str(), "1234.57 1234.567800 1235");
  std::ostringstream signs;
  signs << std::showpos << price << ' ' << fixedfloat(8, "-0.5") << ' ' << fixedint(4, 7) << ' ' << -fixedint(4, 0)
        << ' ' << fixedfloat(4, 0);
  EXPECT_EQ(signs.str(), "+1234.5678 -0.5 +7 -0 +0.0");
  std::ostringstream plain;
  plain << std::setprecision(2) << price << ' ' << std::setw(8) << fixedint(4, 12) << '|';
  EXPECT_EQ(plain.str(), "1234.5678       12|");
}

TEST(Doubles, AssignRoundsTheShortestText) {
  fixedfloat x(8);
  x.assign(0.1 + 0.2, rounding::halfeven);
  EXPECT_EQ(x.asstring(), "0.3");
  x.assign(2.00005, rounding::halfeven);
  EXPECT_EQ(x.asstring(), "2.0");  // the text 2.00005 is a tie; its binary value is below it
  x.assign(-1.23456F, rounding::floor);
  EXPECT_EQ(x.asstring(), "-1.2346");
  expect_throw<std::domain_error>([&x] { x.assign(0.1 + 0.2, rounding::exact); }, "Rounding necessary!");
  expect_throw<std::invalid_argument>([&x] { x.assign(std::nan(""), rounding::up); }, "Float is not a number!");
  expect_throw<std::out_of_range>([&x] { x.assign(-HUGE_VAL, rounding::up); }, "Input int bigger than size!");
  expect_throw<std::out_of_range>([&x] { x.assign(9999.99999, rounding::up); }, "Input int bigger than size!");
  EXPECT_EQ(x.asstring(), "-1.2346");
  // Past 2^53 the shortest text, not the binary value.
  fixedfloat wide(48);
  wide = 1e23;
  EXPECT_EQ(wide.asstring(), "100000000000000000000000.0");
  wide = 2.166406243897131e16;
  EXPECT_EQ(wide.asstring(), "21664062438971310.0");
  wide = 3e10F;
  EXPECT_EQ(wide.asstring(), "30000000000.0");
}

TEST(Roots, ErrorsAndLogLines) {
  expect_throw<std::domain_error>([] { static_cast<void>(fixedint(4, -4).sqrt()); },
                                  "Square root of a negative number!");
  expect_throw<std::domain_error>([] { static_cast<void>(fixedfloat(4, "-0.01").sqrt()); },
                                  "Square root of a negative number!");
  expect_throw<std::domain_error>([] { static_cast<void>(fixedfloat(4, 2).sqrt(rounding::exact)); },
                                  "Rounding necessary!");
  EXPECT_EQ(fixedfloat(4, "2.25").sqrt(rounding::exact).asstring(), "1.5");
  EXPECT_EQ(sqrt(-fixedint(4, 0)).asstring(), "0");
  EXPECT_EQ(sqrt(-fixedfloat(4, 0)).asstring(), "0.0");
  expect_throw<std::length_error>([] { static_cast<void>(fixedfloat(8, "1.5").pow(1ULL << 62U)); }, "Power too large!");
  EXPECT_EQ(fixedfloat(8, "3").pow(1ULL << 62U).asstring(), "8081.0");  // 3^(2^62) mod 10^4
  EXPECT_EQ(pow(fixedint(4, -12), 3).asstring(), "-1728");
  EXPECT_EQ(fixedint(3, -10).pow(3).asstring(), "-0");  // as repeated * gives it
  EXPECT_EQ(fixedint(0).pow(0).asstring(), "");

  const fixedint four(4, 17);
  const fixedfloat two(8, 2);
  log_capture capture;
  static_cast<void>(four.sqrt());
  static_cast<void>(four.pow(2));
  const strings integer = capture.messages();
  EXPECT_EQ(integer, transcript{}.made(4).deleted().made(4).deleted().lines);
  // fixedfloat: the entry line, the result made as fixedfloat(8) makes it,
  // "Done."; then the result goes. Refused: the entry line alone.
  strings result;
  {
    log_capture made;
    const fixedfloat eight(8);
    result = made.messages();
  }
  const strings going{"Deleting fixedfloat object!", "Deleted fixedint object."};
  const auto whole = [&](const std::string& entry) {
    strings lines{entry};
    lines.insert(lines.end(), result.begin(), result.end());
    lines.emplace_back("Done.");
    lines.insert(lines.end(), going.begin(), going.end());
    return lines;
  };
  log_capture root;
  static_cast<void>(two.sqrt());
  EXPECT_EQ(root.messages(), whole("Square root operation in fixedfloat."));
  log_capture power;
  static_cast<void>(two.pow(3, rounding::exact));
  EXPECT_EQ(power.messages(), whole("Power operation in fixedfloat."));
  const fixedfloat minus_two = -two;
  log_capture refused;
  expect_throw<std::domain_error>([&] { static_cast<void>(minus_two.sqrt()); }, "Square root of a negative number!");
  expect_throw<std::domain_error>([&] { static_cast<void>(fixedfloat(8, "1.5").pow(5, rounding::exact)); },
                                  "Rounding necessary!");
  const strings lines = refused.messages();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Square root operation in fixedfloat.");
  const auto entry = std::find(lines.begin(), lines.end(), "Power operation in fixedfloat.");
  ASSERT_NE(entry, lines.end());
  EXPECT_EQ(strings(entry + 1, lines.end()), going);  // no result: fixedfloat(8, "1.5") goes next
}

// Generic code finds the free forms by argument-dependent lookup.
template <typename number>
number hypotenuse(const number& a, const number& b) {
  using std::sqrt;
  return sqrt(a * a + b * b);
}

TEST(Roots, FreeFormsServeGenericCode) {
  EXPECT_EQ(hypotenuse(fixedint(6, 3), fixedint(6, 4)).asstring(), "5");
  EXPECT_EQ(hypotenuse(fixedfloat(8, "0.3"), fixedfloat(8, "0.4")).asstring(), "0.5");
  EXPECT_EQ(hypotenuse(3.0, 4.0), 5.0);
}

}  // namespace
