// The {fmt} formatters of <veldar/format.h>: every part of the format spec.
#include <string>

#include <gtest/gtest.h>

#include <veldar/diagnostics.h>
#include <veldar/format.h>

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;

TEST(Format, FillAlignSignWidthAndPrecision) {
  fixedfloat x(8);
  x = "-2.5";
  fixedfloat y(8);
  y = "2.345";
  fixedint n(6, 42);
  EXPECT_EQ(fmt::format("{}", x), x.asstring());
  EXPECT_EQ(fmt::format("{:+} {:+} {: } {:-}", y, x, y, y), "+2.345 -2.5  2.345 2.345");
  EXPECT_EQ(fmt::format("[{:*^9}] [{:<7}] [{:>7}] [{:7}]", x, x, x, x), "[**-2.5***] [-2.5   ] [   -2.5] [   -2.5]");
  EXPECT_EQ(fmt::format("{:08.2f} {:.2f} {:.0f} {:.4f}", x, y, y, y), "-0002.50 2.34 2 2.3450");
  EXPECT_EQ(fmt::format("{:d} {:+06d} [{:x<5}] {:^4}", n, n, n, n), "42 +00042 [42xxx]  42 ");
  EXPECT_THROW(static_cast<void>(fmt::format(fmt::runtime("{:.2f}"), n)), fmt::format_error);
  EXPECT_THROW(static_cast<void>(fmt::format(fmt::runtime("{:e}"), x)), fmt::format_error);
  EXPECT_EQ(fmt::format("{:.9f} {:>12.6f}", x, y), "-2.500000000     2.345000");
}

// The messages format.h documents, and widths and precisions that do not
// fit an int refused as {fmt} refuses them for its own types.
TEST(Format, RefusedSpecsSayWhy) {
  const fixedfloat x(8, "1.5");
  const fixedint n(4, 7);
  const auto message = [](auto format) {
    try {
      static_cast<void>(format());
    } catch (const fmt::format_error& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message([&] { return fmt::format(fmt::runtime("{:e}"), x); }), "veldar: unknown format spec");
  EXPECT_EQ(message([&] { return fmt::format(fmt::runtime("{:.2}"), n); }), "veldar: a fixedint takes no precision");
  EXPECT_EQ(message([&] { return fmt::format(fmt::runtime("{:.f}"), x); }), "veldar: a precision needs digits");
  EXPECT_EQ(message([&] { return fmt::format(fmt::runtime("{:.4294967298f}"), x); }), "veldar: number is too big");
  EXPECT_EQ(message([&] { return fmt::format(fmt::runtime("{:4294967298}"), n); }), "veldar: number is too big");
  EXPECT_EQ(message([&] { return fmt::format(fmt::runtime("{:2147483648}"), n); }), "veldar: number is too big");
  EXPECT_EQ(fmt::format("{:.12f}", x), "1.500000000000");
}

TEST(Format, WritesNoLogLines) {
  fixedfloat x(8);
  x = "1.5";
  VELDAR::logstream.str("");
  static_cast<void>(fmt::format("{} {:.1f}", x, x));
  EXPECT_EQ(VELDAR::logstream.str(), "");
}

}  // namespace
