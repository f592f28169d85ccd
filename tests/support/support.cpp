#include "support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <veldar/diagnostics.h>

namespace veldar_test {

namespace fs = std::filesystem;

int128 power10(int exponent) {
  int128 p = 1;
  for (int i = 0; i < exponent; ++i) {
    p *= 10;
  }
  return p;
}

std::string fixed_text(int128 scaled, int half) {
  const bool negative = scaled < 0;
  const int128 magnitude = negative ? -scaled : scaled;
  std::string fraction = std::to_string(static_cast<long long>(magnitude % power10(half)));
  fraction.insert(0, static_cast<std::size_t>(half) - fraction.size(), '0');
  fraction.erase(fraction.find_last_not_of('0') + 1);
  return (negative ? "-" : "") + std::to_string(static_cast<long long>(magnitude / power10(half))) + "." +
         (fraction.empty() ? "0" : fraction);
}

std::vector<std::string> log_messages(const std::string& text) {
  static const std::regex line(
      R"(VELDAR \[(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
      R"([ 123][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\]: (.*))");
  std::vector<std::string> messages;
  std::istringstream in(text);
  std::string current;
  std::smatch match;
  while (std::getline(in, current)) {
    messages.push_back(std::regex_match(current, match, line) ? match[3].str() : "<malformed: " + current + ">");
  }
  return messages;
}

log_capture::log_capture() {
  VELDAR::setup();  // so that the set-up lines are never part of a capture
  VELDAR::logstream.str("");
  VELDAR::logstream.clear();
}

VELDAR::fixedfloat with_value(unsigned long long length, long long scaled, bool negative) {
  VELDAR::fixedfloat number(length);
  number.value = VELDAR::fixedint(length, scaled);
  number.negative = negative;
  return number;
}

transcript& transcript::made(unsigned long long length, int count) {
  for (int i = 0; i < count; ++i) {
    lines.insert(lines.end(), {"New fixedint object!", "Resizing Digits to: " + std::to_string(length), "Done."});
  }
  return *this;
}

transcript& transcript::deleted(int count) {
  lines.insert(lines.end(), static_cast<std::size_t>(count), "Deleted fixedint object.");
  return *this;
}

transcript& transcript::resized(unsigned long long length) {
  lines.insert(lines.end(),
               {"Resize requested in fixedint.", "Resizing Digits to: " + std::to_string(length), "Done."});
  return *this;
}

void bounded_log::SetUp() {
  VELDAR::setup();
  VELDAR::logstream.str("");
  VELDAR::setloglimit(1 << 20);
}

void bounded_log::TearDown() {
  VELDAR::setloglimit(0);
  VELDAR::logstream.str("");
}

std::vector<std::string> log_capture::messages() const { return log_messages(VELDAR::logstream.str()); }

namespace {

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

fs::path scratch_dir() {
  std::string pattern = (fs::temp_directory_path() / "veldar-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a scratch directory");
  }
  return pattern;
}

}  // namespace

child_run run_child(const std::string& program, const std::vector<std::string>& args, bool with_logs,
                    const std::string& before, const std::function<void(const std::string&)>& prepare) {
  const fs::path dir = scratch_dir();
  if (with_logs) {
    fs::create_directory(dir / "logs");
    if (!before.empty()) {
      std::ofstream(dir / "logs" / "veldar.log") << before;
    }
  }
  if (prepare) {
    prepare(dir.string());
  }
  const fs::path out_path = dir / "stdout.txt";
  const fs::path err_path = dir / "stderr.txt";

  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& arg : argv) {
    cargv.push_back(arg.data());
  }
  cargv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0 || chdir(dir.c_str()) != 0) {
      _exit(127);
    }
    execv(cargv[0], cargv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);

  child_run run;
  if (WIFEXITED(status)) {
    run.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    run.signal = WTERMSIG(status);
  }
  run.out = read_file(out_path);
  run.err = read_file(err_path);
  run.logs_folder = fs::exists(dir / "logs");
  if (run.logs_folder) {
    for (const auto& entry : fs::directory_iterator(dir / "logs")) {
      run.logs_files.push_back(entry.path().filename().string());
    }
    std::sort(run.logs_files.begin(), run.logs_files.end());
  }
  run.report_is_link = fs::is_symlink(dir / "logs" / "veldar.log");
  if (!run.report_is_link && fs::exists(dir / "logs" / "veldar.log")) {
    run.report = read_file(dir / "logs" / "veldar.log");
  }
  fs::remove_all(dir);
  return run;
}

}  // namespace veldar_test
