// <veldar/version.h>: the number, the text and the library's own version
// tell the same version, and the number orders versions as their parts do.
#include <string>

#include <gtest/gtest.h>

#include <veldar/version.h>

namespace {

// VELDAR_VERSION's rule, 100 * 100 * major + 100 * minor + patch.
constexpr long number(long major, long minor, long patch) { return major * 10000 + minor * 100 + patch; }

static_assert(VELDAR_VERSION == number(VELDAR_VERSION_MAJOR, VELDAR_VERSION_MINOR, VELDAR_VERSION_PATCH),
              "VELDAR_VERSION is not 100 * 100 * major + 100 * minor + patch");
// Usable in the preprocessor, where a program picks code by version.
#if !defined(VELDAR_VERSION) || VELDAR_VERSION < 100
#error "VELDAR_VERSION is missing or older than 0.1.0"
#endif

TEST(Version, TextAndNumberTellTheSameVersion) {
  const std::string parts = std::to_string(VELDAR_VERSION_MAJOR) + "." + std::to_string(VELDAR_VERSION_MINOR) + "." +
                            std::to_string(VELDAR_VERSION_PATCH);
  EXPECT_EQ(VELDAR_VERSION_STRING, parts);
  EXPECT_EQ(VELDAR_VERSION / 10000, VELDAR_VERSION_MAJOR);
  EXPECT_EQ(VELDAR_VERSION / 100 % 100, VELDAR_VERSION_MINOR);
  EXPECT_EQ(VELDAR_VERSION % 100, VELDAR_VERSION_PATCH);
}

TEST(Version, NumbersOrderVersionsAsTheirParts) {
  EXPECT_LT(number(0, 1, 99), number(0, 2, 0));
  EXPECT_LT(number(0, 99, 99), number(1, 0, 0));
  EXPECT_EQ(number(1, 2, 3), 10203);
}

TEST(Version, TheLibraryTellsItsOwnVersion) {
  const char* text = VELDAR::version();
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, VELDAR_VERSION_STRING);
  EXPECT_EQ(text, VELDAR::version());  // one string for the process, never freed
  EXPECT_TRUE(noexcept(VELDAR::version()));
}

}  // namespace
