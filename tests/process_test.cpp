// What only shows at process level: the set-up lines at the top of a fresh
// log, the report file and how the process ends. Each case runs the child
// program in its own scratch directory.
#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"

namespace {

using veldartest::logmessages;
using veldartest::runchild;
using strings = std::vector<std::string>;

const strings setuplines{"First fixedint/fixedfloat object created!",
                         "Start Initialization of Veldar Arithmetic module.", "Setting up log dumper...",
                         "Done. Init Successful"};

strings reportlines(const std::string& type, const std::string& what) {
  return {"Terminate called. Preparing report.", "Opened File.", "Rethrowing exception and getting type.",
          "Exception type: " + type, "what(): " + what, "--- LOG END: NO FURTHER MESSAGES ---"};
}

strings concat(std::initializer_list<strings> parts) {
  strings all;
  for (const strings& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

const strings constructlines8{"New fixedint object!", "Resizing Digits to: 8", "Done."};

TEST(TerminationReport, ExplicitTerminateWritesWholeLogWithUnknownException) {
  const auto run = runchild(VELDAR_TEST_CHILD, {"terminate"}, true);
  EXPECT_EQ(run.signal, SIGABRT);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.find("VELDAR"), std::string::npos) << run.err;
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(logmessages(*run.report), concat({setuplines, constructlines8, reportlines("UNKNOWN", "UNKNOWN")}));
}

TEST(TerminationReport, UncaughtStandardExceptionIsNamed) {
  const auto run = runchild(VELDAR_TEST_CHILD, {"out-of-range"}, true);
  EXPECT_EQ(run.signal, SIGABRT);
  ASSERT_TRUE(run.report.has_value());
  // The failed construction logged its three lines and no deletion.
  EXPECT_EQ(logmessages(*run.report),
            concat({setuplines, {"New fixedint object!", "Resizing Digits to: 2", "Done."},
                    reportlines("St12out_of_range", "Input int bigger than size!")}));
}

TEST(TerminationReport, ForeignExceptionStillGetsWholeReport) {
  const auto run = runchild(VELDAR_TEST_CHILD, {"throw-int"}, true);
  EXPECT_EQ(run.signal, SIGABRT);
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(logmessages(*run.report),
            concat({setuplines, {"New fixedint object!", "Resizing Digits to: 1", "Done."},
                    reportlines("i", "UNKNOWN")}));
}

TEST(TerminationReport, SecondRunOverwritesEarlierReport) {
  const auto run = runchild(VELDAR_TEST_CHILD, {"terminate"}, true, "an earlier report\nof many lines\n");
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(logmessages(*run.report), concat({setuplines, constructlines8, reportlines("UNKNOWN", "UNKNOWN")}));
}

TEST(TerminationReport, MissingLogsFolderIsReportedOnStandardErrorOnly) {
  const auto run = runchild(VELDAR_TEST_CHILD, {"terminate"}, false);
  EXPECT_EQ(run.signal, SIGABRT);
  EXPECT_EQ(run.out, "");
  // The previous handler (the standard library's) may add its own words after ours.
  EXPECT_EQ(run.err.rfind("VELDAR: could not write report file logs/veldar.log\n", 0), 0U) << run.err;
  EXPECT_EQ(run.err.find("VELDAR", 1), std::string::npos) << run.err;
  EXPECT_FALSE(run.logsfolder);
  EXPECT_FALSE(run.report.has_value());
}

TEST(TerminationReport, NormalExitWritesNoReport) {
  const auto run = runchild(VELDAR_TEST_CHILD, {"normal"}, true);
  EXPECT_EQ(run.exitcode, 0);
  EXPECT_EQ(run.signal, 0);
  EXPECT_FALSE(run.report.has_value());
}

TEST(Demo, PrintsTwoNumbersAndLeavesItsReport) {
  const auto run = runchild(VELDAR_DEMO, {}, true);
  EXPECT_EQ(run.out, "0.123\n9.7047\n");
  EXPECT_EQ(run.signal, SIGABRT);
  ASSERT_TRUE(run.report.has_value());
  const strings lines = logmessages(*run.report);
  ASSERT_GT(lines.size(), 14U);
  EXPECT_EQ(strings(lines.begin(), lines.begin() + 4), setuplines);
  // The product and the copy of the first number go, then the report.
  EXPECT_EQ(strings(lines.end() - 10, lines.end()),
            concat({{"Deleting fixedfloat object!", "Deleted fixedint object.", "Deleting fixedfloat object!",
                     "Deleted fixedint object."},
                    reportlines("UNKNOWN", "UNKNOWN")}));
}

TEST(Demo, WithoutLogsFolderPrintsTheSameAndWritesNothing) {
  const auto run = runchild(VELDAR_DEMO, {}, false);
  EXPECT_EQ(run.out, "0.123\n9.7047\n");
  EXPECT_EQ(run.signal, SIGABRT);
  EXPECT_FALSE(run.logsfolder);
  EXPECT_EQ(run.err.rfind("VELDAR: could not write report file logs/veldar.log\n", 0), 0U) << run.err;
}

}  // namespace
