// Helpers shared by the tests: reading log lines and running child processes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <veldar/fixedfloat.h>

namespace veldar_test {

// The machine integer the randomized tests compute their references with.
__extension__ typedef __int128 int128;  // NOLINT(modernize-use-using): __extension__ needs typedef

// 10^exponent.
int128 power10(int exponent);

// The text of the fixed-point number scaled / 10^half, written independently
// of the library: "-", integer digits, ".", fraction without trailing zeros
// ("0" when there is none): fixed_text(-1250, 4) -> "-0.125".
std::string fixed_text(int128 scaled, int half);

// The messages of `text`, one per log line. A line that does not carry the
// form "VELDAR [Www Mmm dd hh:mm:ss yyyy]: message" becomes "<malformed: line>"
// so that comparisons against expected messages fail visibly.
std::vector<std::string> log_messages(const std::string& text);

// Expects `act` to throw `exception` with exactly `message`.
template <typename exception, typename action>
void expect_throw(action act, const std::string& message) {
  try {
    act();
    ADD_FAILURE() << "expected an exception: " << message;
  } catch (const exception& error) {
    EXPECT_EQ(error.what(), message);
  }
}

// A fixed-point number of `length` digits whose value field holds `scaled`
// (the number times 10^(length/2)), with the sign flag `negative`.
VELDAR::fixedfloat with_value(unsigned long long length, long long scaled, bool negative = false);

// The log lines a sequence of fixedint steps writes, built step by step:
// transcript{}.made(8).resized(4).deleted().lines is the lines of a number
// of 8 digits made, resized to 4 and destroyed.
struct transcript {
  std::vector<std::string> lines;
  transcript& made(unsigned long long length, int count = 1);  // through a length constructor
  transcript& deleted(int count = 1);
  transcript& resized(unsigned long long length);
};

// Runs the module set-up, then empties VELDAR::logstream; messages() returns what has been
// logged since.
class log_capture {
 public:
  log_capture();
  std::vector<std::string> messages() const;
};

// A fixture for tests that make many numbers: the log starts empty, keeps
// only its last MiB while the test runs, and is emptied again afterwards.
class bounded_log : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// The outcome of running the test child program in a fresh scratch directory.
struct child_run {
  int exit_code = -1;                   // exit status, or -1 when killed by a signal
  int signal = 0;                       // the terminating signal, 0 on a normal exit
  std::string out;                      // standard output
  std::string err;                      // standard error
  std::optional<std::string> report;    // logs/veldar.log, when it was written
  bool logs_folder = false;             // whether logs/ exists afterwards
  std::vector<std::string> logs_files;  // the names in logs/ afterwards, sorted
  bool report_is_link = false;          // whether logs/veldar.log is a symbolic link afterwards
};

// Runs `program args...` in a new scratch working directory, with a `logs`
// folder when `with_logs` is true. `before` is written into logs/veldar.log
// first (to see it overwritten or kept); `prepare` gets the directory to set
// up anything else.
child_run run_child(const std::string& program, const std::vector<std::string>& args, bool with_logs,
                    const std::string& before = "", const std::function<void(const std::string&)>& prepare = {});

}  // namespace veldar_test
