// What only shows at process level: the set-up lines at the top of a fresh
// log, the report file and how the process ends. Each case runs the child
// program in its own scratch directory.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <unistd.h>

#include "support.h"

namespace {

using veldar_test::log_messages;
using veldar_test::run_child;
using strings = std::vector<std::string>;

const strings set_up_lines{"First fixedint/fixedfloat object created!",
                           "Start Initialization of Veldar Arithmetic module.", "Setting up log dumper...",
                           "Done. Init Successful"};

strings report_lines(const std::string& type, const std::string& what) {
  return {"Terminate called. Preparing report.",
          "Opened File.",
          "Rethrowing exception and getting type.",
          "Exception type: " + type,
          "what(): " + what,
          "--- LOG END: NO FURTHER MESSAGES ---"};
}

strings concat(std::initializer_list<strings> parts) {
  strings all;
  for (const strings& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

const strings construct_lines_8{"New fixedint object!", "Resizing Digits to: 8", "Done."};
const strings construct_lines_1{"New fixedint object!", "Resizing Digits to: 1", "Done."};

TEST(TerminationReport, ExplicitTerminateWritesWholeLogWithUnknownException) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"terminate"}, true);
  EXPECT_EQ(run.signal, SIGABRT);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.find("VELDAR"), std::string::npos) << run.err;
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(log_messages(*run.report), concat({set_up_lines, construct_lines_8, report_lines("UNKNOWN", "UNKNOWN")}));
}

TEST(TerminationReport, UncaughtStandardExceptionIsNamed) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"out-of-range"}, true);
  EXPECT_EQ(run.signal, SIGABRT);
  ASSERT_TRUE(run.report.has_value());
  // The failed construction logged its three lines and no deletion.
  EXPECT_EQ(log_messages(*run.report), concat({set_up_lines,
                                               {"New fixedint object!", "Resizing Digits to: 2", "Done."},
                                               report_lines("St12out_of_range", "Input int bigger than size!")}));
}

TEST(TerminationReport, ForeignExceptionStillGetsWholeReport) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"throw-int"}, true);
  EXPECT_EQ(run.signal, SIGABRT);
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(
      log_messages(*run.report),
      concat({set_up_lines, {"New fixedint object!", "Resizing Digits to: 1", "Done."}, report_lines("i", "UNKNOWN")}));
}

TEST(TerminationReport, SecondRunOverwritesEarlierReport) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"terminate"}, true, "an earlier report\nof many lines\n");
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(log_messages(*run.report), concat({set_up_lines, construct_lines_8, report_lines("UNKNOWN", "UNKNOWN")}));
}

TEST(TerminationReport, MissingLogsFolderIsReportedOnStandardErrorOnly) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"terminate"}, false);
  EXPECT_EQ(run.signal, SIGABRT);
  EXPECT_EQ(run.out, "");
  // The previous handler (the standard library's) may add its own words after ours.
  EXPECT_EQ(run.err.rfind("VELDAR: could not write report file logs/veldar.log\n", 0), 0U) << run.err;
  EXPECT_EQ(run.err.find("VELDAR", 1), std::string::npos) << run.err;
  EXPECT_FALSE(run.logs_folder);
  EXPECT_FALSE(run.report.has_value());
}

TEST(TerminationReport, NormalExitWritesNoReport) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"normal"}, true);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.signal, 0);
  EXPECT_FALSE(run.report.has_value());
}

// How many lines carry `message` exactly.
long count_of(const strings& lines, const std::string& message) {
  return std::count(lines.begin(), lines.end(), message);
}

// Every line of the report is a log line, and the report ends with the six
// report lines for `type` and `what` (no `type` check when it is empty).
void expect_complete_report(const veldar_test::child_run& run, const std::string& type, const std::string& what) {
  ASSERT_TRUE(run.report.has_value()) << run.err;
  const strings lines = log_messages(*run.report);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.rfind("<malformed", 0), std::string::npos) << line;
  }
  ASSERT_GE(lines.size(), 6U);
  strings tail(lines.end() - 6, lines.end());
  if (type.empty()) {
    EXPECT_EQ(tail[3].rfind("Exception type: ", 0), 0U);
    tail[3] = "Exception type: ";
  }
  EXPECT_EQ(tail, report_lines(type, what));
  EXPECT_EQ(count_of(lines, "Terminate called. Preparing report."), 1);
  EXPECT_EQ(run.logs_files, strings{"veldar.log"}) << "no temporary file is left behind";
}

TEST(ReportSurvives, ExceptionWithNullWhat) {
  // The standard library's own handler, called last, may then fault on the
  // null text itself: the process ends abnormally one way or another.
  const auto run = run_child(VELDAR_TEST_CHILD, {"null-what"}, true);
  EXPECT_TRUE(run.signal != 0 || run.exit_code != 0);
  expect_complete_report(run, "", "UNKNOWN");
}

TEST(ReportSurvives, LineBreakInWhatCannotForgeALine) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"line-break-in-what"}, true);
  expect_complete_report(run, "St13runtime_error", R"(first\nVELDAR [Mon Dec  7 07:08:24 2026]: forged)");
  EXPECT_EQ(log_messages(*run.report).size(), set_up_lines.size() + 3 + 6);
}

TEST(ReportSurvives, FailedStreamState) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"failed-stream"}, true);
  expect_complete_report(run, "UNKNOWN", "UNKNOWN");
  EXPECT_EQ(count_of(log_messages(*run.report), "after the stream failed"), 1);
}

// Records emptied with the log pass their second on to the deletions
// counted after them: the deletion of a number made before str("") is
// stamped with the time, not with 1970.
TEST(LogTimes, DeletionAfterTheLogIsEmptiedKeepsItsTime) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"deletion-after-emptying"}, true);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(log_messages(run.out), strings{"Deleted fixedint object."});
  EXPECT_EQ(run.out.find("1970"), std::string::npos) << run.out;
}

// The thread's unfinished `<<` line is the log's last text: the report's
// first line starts on a line of its own after it.
TEST(TerminationReport, UnfinishedLineIsEndedBeforeTheReport) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"unfinished-line"}, true);
  EXPECT_EQ(run.signal, SIGABRT);
  ASSERT_TRUE(run.report.has_value());
  const std::size_t at = run.report->find("step 3");
  ASSERT_NE(at, std::string::npos) << *run.report;
  EXPECT_EQ(run.report->compare(at, 15, "step 3\nVELDAR ["), 0) << *run.report;
  const strings lines = log_messages(run.report->substr(0, at) + run.report->substr(at + 7));
  EXPECT_EQ(lines, concat({set_up_lines, construct_lines_1, report_lines("UNKNOWN", "UNKNOWN")}));
}

TEST(ReportSurvives, ExhaustedMemory) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"exhausted"}, true);
  EXPECT_EQ(run.signal, SIGABRT);
  expect_complete_report(run, "UNKNOWN", "UNKNOWN");
  const strings lines = log_messages(*run.report);
  EXPECT_EQ(strings(lines.begin(), lines.begin() + 7), concat({set_up_lines, construct_lines_8}));
}

TEST(ReportSurvives, TwoThreadsTerminatingAtOnceWriteOneReport) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"two-threads-terminate"}, true);
  EXPECT_EQ(run.signal, SIGABRT);
  expect_complete_report(run, "UNKNOWN", "UNKNOWN");
}

TEST(ReportSurvives, HandlerCalledAgainFromWithinDoesNotRecurse) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"reentry"}, true);
  EXPECT_EQ(run.signal, SIGABRT);
  expect_complete_report(run, "UNKNOWN", "UNKNOWN");
}

TEST(ReportSurvives, FailedWriteKeepsTheEarlierReport) {
  const std::string earlier = "an earlier report, longer than the 64 bytes the child may write\n";
  const auto run = run_child(VELDAR_TEST_CHILD, {"write-fails"}, true, earlier);
  EXPECT_EQ(run.signal, SIGABRT);
  EXPECT_EQ(run.report, earlier);
  EXPECT_EQ(run.logs_files, strings{"veldar.log"});
  EXPECT_EQ(run.err.rfind("VELDAR: could not write report file logs/veldar.log\n", 0), 0U) << run.err;
}

TEST(ReportSurvives, LinkAtTheReportPathIsReplacedNotFollowed) {
  namespace fs = std::filesystem;
  const fs::path target = fs::temp_directory_path() / ("veldar-link-target-" + std::to_string(::getpid()));
  std::ofstream(target) << "precious";
  const auto run = run_child(VELDAR_TEST_CHILD, {"terminate"}, true, "", [&target](const std::string& dir) {
    fs::create_symlink(target, fs::path(dir) / "logs" / "veldar.log");
  });
  std::ifstream in(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
  fs::remove(target);
  EXPECT_FALSE(run.report_is_link);
  expect_complete_report(run, "UNKNOWN", "UNKNOWN");
}

TEST(ReportSurvives, LogLimitKeepsTheLastLines) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"log-limit"}, true);
  expect_complete_report(run, "UNKNOWN", "UNKNOWN");
  EXPECT_LE(run.report->size(), 4096U);
  const strings lines = log_messages(*run.report);
  EXPECT_EQ(lines.front().rfind("Log limit of 4096 bytes: ", 0), 0U) << lines.front();
  EXPECT_EQ(strings(lines.end() - 10, lines.end() - 6),
            (strings{"New fixedint object!", "Resizing Digits to: 8", "Done.", "Deleted fixedint object."}));
}

TEST(TerminationReport, PreviousHandlerIsCalledLast) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"previous-handler"}, true);
  EXPECT_EQ(run.exit_code, 42);
  expect_complete_report(run, "UNKNOWN", "UNKNOWN");
}

TEST(TerminationReport, ThreadsRacingForTheFirstNumberRunSetUpOnce) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"threads-set-up-once"}, true);
  EXPECT_EQ(run.exit_code, 42) << "the saved previous handler must be the program's own";
  expect_complete_report(run, "UNKNOWN", "UNKNOWN");
  const strings lines = log_messages(*run.report);
  EXPECT_EQ(strings(lines.begin(), lines.begin() + 4), set_up_lines);
  EXPECT_EQ(count_of(lines, set_up_lines.front()), 1);
}

TEST(StaticNumbers, AreMadeBeforeMainAndDestroyedAfterIt) {
  const auto normal = run_child(VELDAR_TEST_STATIC, {"normal"}, true);
  EXPECT_EQ(normal.exit_code, 0) << normal.err;
  EXPECT_EQ(normal.out, "42 1\n");
  const auto run = run_child(VELDAR_TEST_STATIC, {"terminate"}, true);
  EXPECT_EQ(run.out, "42 1\n");
  expect_complete_report(run, "UNKNOWN", "UNKNOWN");
  const strings lines = log_messages(*run.report);
  EXPECT_EQ(strings(lines.begin(), lines.begin() + 7), concat({set_up_lines, construct_lines_8}));
}

#ifdef VELDAR_DEMO
const char* const demo = VELDAR_DEMO;
#else
const char* const demo = nullptr;  // configured with VELDAR_BUILD_DEMO=OFF
#endif

TEST(Demo, PrintsTwoNumbersAndLeavesItsReport) {
  if (demo == nullptr) {
    GTEST_SKIP() << "the demo is not built";
  }
  const auto run = run_child(demo, {}, true);
  EXPECT_EQ(run.out, "0.123\n9.7047\n");
  EXPECT_EQ(run.signal, SIGABRT);
  ASSERT_TRUE(run.report.has_value());
  const strings lines = log_messages(*run.report);
  ASSERT_GT(lines.size(), 14U);
  EXPECT_EQ(strings(lines.begin(), lines.begin() + 4), set_up_lines);
  // The product and the copy of the first number go, then the report.
  EXPECT_EQ(strings(lines.end() - 10, lines.end()), concat({{"Deleting fixedfloat object!", "Deleted fixedint object.",
                                                             "Deleting fixedfloat object!", "Deleted fixedint object."},
                                                            report_lines("UNKNOWN", "UNKNOWN")}));
}

TEST(Demo, WithoutLogsFolderPrintsTheSameAndWritesNothing) {
  if (demo == nullptr) {
    GTEST_SKIP() << "the demo is not built";
  }
  const auto run = run_child(demo, {}, false);
  EXPECT_EQ(run.out, "0.123\n9.7047\n");
  EXPECT_EQ(run.signal, SIGABRT);
  EXPECT_FALSE(run.logs_folder);
  EXPECT_EQ(run.err.rfind("VELDAR: could not write report file logs/veldar.log\n", 0), 0U) << run.err;
}

}  // namespace

namespace {

TEST(ReportSurvives, ALimitBelowTheReportsOwnLinesKeepsThemWhole) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"tiny-log-limit"}, true);
  expect_complete_report(run, "St12out_of_range", "Input int bigger than size!");
  const strings lines = log_messages(*run.report);
  EXPECT_EQ(lines.front().rfind("Log limit of 100 bytes: ", 0), 0U) << lines.front();
  EXPECT_EQ(lines.size(), 1 + 1 + 6U) << "the first line, the newest line kept, the report's six";
}

TEST(ReportSurvives, FileSizeLimitFailsTheWriteInsteadOfEndingTheProcess) {
  const std::string earlier = "an earlier report\n";
  const auto run = run_child(VELDAR_TEST_CHILD, {"file-size-limit"}, true, earlier);
  EXPECT_EQ(run.signal, SIGABRT) << "ended by the previous handler, not by SIGXFSZ";
  EXPECT_EQ(run.report, earlier);
  EXPECT_EQ(run.logs_files, strings{"veldar.log"}) << "no temporary file is left behind";
  EXPECT_EQ(run.err.rfind("VELDAR: could not write report file logs/veldar.log\n", 0), 0U) << run.err;
}

TEST(LogLimit, DefaultIsSixtyFourMiB) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"default-limit"}, true);
  EXPECT_EQ(run.out, "67108864\n");
}

TEST(LogStorage, AnOperatorNewThatLogsNeitherDeadlocksNorRecurses) {
  const auto run = run_child(VELDAR_TEST_CHILD, {"logging-allocations"}, true);
  EXPECT_EQ(run.signal, 0) << "SIGALRM: it deadlocked";
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "200000000.0 1\n");
}

#ifdef VELDAR_TEST_STUCK_LOG
TEST(ReportSurvives, ALogHeldForEverByAThreadDelaysTheReportTwoSecondsAtMost) {
  const auto start = std::chrono::steady_clock::now();
  const auto run = run_child(VELDAR_TEST_STUCK_LOG, {}, true);
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 3.5);
  EXPECT_EQ(run.signal, SIGABRT);
  expect_complete_report(run, "UNKNOWN", "UNKNOWN");
  EXPECT_EQ(log_messages(*run.report).front(), set_up_lines.front());
}
#endif

}  // namespace
