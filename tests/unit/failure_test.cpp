// Running out of memory: every operation is run with its first allocation
// failing, then its second, and so on until it succeeds, and after every
// std::bad_alloc its operands must be exactly as they were, with as many
// digits as their length says.
#include <functional>
#include <new>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>
#include "allocations.h"
#include "support.h"

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;

// Two numbers of each class, as one operation finds them.
struct operands {
  fixedint a;
  fixedint b;
  fixedfloat p;
  fixedfloat q;
};

std::string describe(const fixedint& x) {
  std::ostringstream out;
  out << x.negative << x.issigned << x.throwonoverflow << ' ' << x.length << ' ' << x.digits.size() << ':';
  for (const signed char d : x.digits) {
    out << static_cast<int>(d);
  }
  return out.str();
}

std::string describe(const operands& o) {
  const auto fixed = [](const fixedfloat& x) {
    return describe(x.value) + " " + std::to_string(x.length) + (x.negative ? "-" : "+") + (x.issigned ? "s" : "u");
  };
  return describe(o.a) + " | " + describe(o.b) + " | " + fixed(o.p) + " | " + fixed(o.q);
}

void expect_consistent(const operands& o) {
  for (const fixedint* x : {&o.a, &o.b, &o.p.value, &o.q.value}) {
    EXPECT_EQ(x->digits.size(), x->length);
  }
  EXPECT_EQ(o.p.value.length, o.p.length);
  EXPECT_EQ(o.q.value.length, o.q.length);
}

operands make(unsigned long long length) {
  const std::string digits(length / 2, '7');
  operands o{fixedint(length), fixedint(length), fixedfloat(length), fixedfloat(length)};
  o.a = "-" + digits + "12";
  o.b = digits + "34";
  o.p = "-" + digits.substr(1) + "1.25";
  o.q = digits.substr(1) + "3.5";
  return o;
}

// Fails the 1st, 2nd, ... allocation of `operation` until it succeeds.
void sweep(const std::string& name, unsigned long long length, const std::function<void(operands&)>& operation) {
  SCOPED_TRACE(name + " at length " + std::to_string(length));
  for (long failing = 1; failing < 100000; ++failing) {
    operands o = make(length);
    const std::string before = describe(o);
    veldar_test::fail_allocation(failing);
    try {
      operation(o);
      veldar_test::fail_allocation(0);
      return;
    } catch (const std::bad_alloc&) {
      veldar_test::fail_allocation(0);
      ASSERT_EQ(describe(o), before) << "allocation " << failing;
      expect_consistent(o);
    }
  }
  ADD_FAILURE() << "never succeeded";
}

const std::vector<std::pair<std::string, std::function<void(operands&)>>> operations{
    {"fixedint(length, value)", [](operands& o) { fixedint x(o.a.length, 5); }},
    {"fixedint = long long", [](operands& o) { o.a = -42; }},
    {"fixedint = text", [](operands& o) { o.a = "-0042"; }},
    {"fixedint = unsigned", [](operands& o) { o.a = 42U; }},
    {"fixedint copy assignment", [](operands& o) { o.a = o.b; }},
    {"fixedint copy assignment to a longer one", [](operands& o) { o.a = fixedint(o.a.length * 3 + 1); }},
    {"resize", [](operands& o) { o.a.resize(o.a.length * 2 + 40); }},
    {"+", [](operands& o) { static_cast<void>(o.a + o.b); }},
    {"+ with the carry handed back", [](operands& o) { static_cast<void>(o.b + o.b); }},
    {"-", [](operands& o) { static_cast<void>(o.a - o.b); }},
    {"*", [](operands& o) { static_cast<void>(o.a * o.b); }},
    {"<, == and >", [](operands& o) { static_cast<void>((o.a < o.b) + (o.a == o.b) + (o.a > o.b)); }},
    {"getcopy, abs and asstring",
     [](operands& o) { static_cast<void>(o.a.getcopy().asstring() + o.a.abs().asstring()); }},
    {"fixedint = fixedfloat", [](operands& o) { o.a = o.p; }},
    {"fixedfloat(length)", [](operands& o) { fixedfloat x(o.p.length); }},
    {"init", [](operands& o) { o.p.init(o.p.length * 2 + 2); }},
    {"fixedfloat = fixedint", [](operands& o) { o.p = o.b; }},
    {"fixedfloat = float", [](operands& o) { o.p = 0.125F; }},
    {"fixedfloat = text", [](operands& o) { o.p = "-0.5"; }},
    {"fixedfloat = integer", [](operands& o) { o.p = 5; }},
    {"fixedfloat copy assignment", [](operands& o) { o.p = o.q; }},
    {"fixedfloat *", [](operands& o) { static_cast<void>(o.p * o.q); }},
    {"fixedfloat + and -", [](operands& o) { static_cast<void>((o.p + o.q).asstring() + (o.p - o.q).asstring()); }},
    {"fixedfloat comparisons", [](operands& o) { static_cast<void>((o.p < o.q) + (o.p == o.q) + (o.p >= o.q)); }},
    {"fixedfloat parts and text",
     [](operands& o) {
       static_cast<void>(o.p.getintpart().asstring() + o.p.getfractionpart().asstring() + o.p.asstring());
     }},
};

TEST(OutOfMemory, EveryOperationLeavesItsOperandsAsTheyWere) {
  if (!veldar_test::can_fail_allocations()) {
    GTEST_SKIP() << "operator new is not the test's own here";
  }
  // At 2,000 digits the products take the limb, Karatsuba and half-product paths.
  for (const unsigned long long length : {8ULL, 2000ULL}) {
    for (const auto& [name, operation] : operations) {
      sweep(name, length, operation);
    }
  }
  veldar_test::log_capture empty;
}

}  // namespace
