// The terminate handler: the report on an abnormal end.
//
// The order of its steps is what makes the report survive what may have
// gone wrong before it:
//   1. One thread reports. A second thread that terminates at the same time
//      waits for the process to end; the handler called again from within
//      itself (a previous handler that terminates) aborts at once, where it
//      would otherwise wait for ever for a report that is its own.
//   2. The active exception is found before the log's lock is taken: its
//      what() is the program's code, which may log.
//   3. The log's lock is taken within two seconds: a thread stuck while
//      holding it must not keep the report from being written.
//   4. The report goes into a new file beside the old one, and is renamed
//      over it only once it is whole: a failed write (a full disk, a file
//      size limit) leaves the earlier report as it was, and a link planted at
//      logs/veldar.log is replaced, not followed. SIGXFSZ is ignored while
//      writing, so that a file size limit fails the write instead of ending
//      the process half-way.
//   5. Nothing is allocated: the text is rendered from the log's records into
//      a buffer on the stack and written with write(), so the report is
//      written with the heap exhausted too.
//   6. The log's kept lines are written first, then the six report lines,
//      whatever the log's limit: a limit never costs the report its own lines.
//   7. The previous handler is always called last, with the log's lock let
//      go of, so that one that logs or reads the log does not wait for ever;
//      std::abort() follows it, as a terminate handler must not return.
#include <veldar/diagnostics.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <thread>
#include <typeinfo>

#include "log_line.h"
#include "log_store.h"
#include "platform.h"
#include "transcript.h"

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define VELDAR_HAS_CXXABI 1
#endif

namespace VELDAR {

namespace {

constexpr const char* report_path = "logs/veldar.log";

// The thread writing the report; no thread until the handler first runs.
// An id rather than a flag: it tells the reporting thread called again,
// which must abort, from another thread, which must wait.
std::atomic<std::thread::id> reporter{};

// The active exception's type name and message, found without allocating:
// the exception being handled is rethrown in place, not copied.
struct active_exception {
  const char* type = "UNKNOWN";
  const char* message = "UNKNOWN";
};

// An exception is looked for before `throw;`, which with none active would
// call std::terminate() again, and so abort with no report. A
// std::exception gives its dynamic type's name ("St13runtime_error") and
// what(); anything else its type's name through the C++ ABI ("i" for a
// thrown int), where the ABI is there, and "UNKNOWN" as its what().
active_exception find_active() noexcept {
  active_exception found;
#ifdef VELDAR_HAS_CXXABI
  if (abi::__cxa_current_exception_type() == nullptr) {
    return found;
  }
#else
  if (!std::current_exception()) {
    return found;
  }
#endif
  try {
    throw;
  } catch (const std::exception& error) {
    found.type = typeid(error).name();
    if (const char* what = error.what()) {
      found.message = what;
    }
  } catch (...) {
#ifdef VELDAR_HAS_CXXABI
    if (const std::type_info* type = abi::__cxa_current_exception_type()) {
      found.type = type->name();
    }
#endif
  }
  return found;
}

// Opens a new file beside the report, "logs/veldar.log.<process id>.tmp", and
// writes its name into `name`; -1 when it cannot be made. Beside it, so that
// the rename is within one file system, and so in one step. O_EXCL and
// O_NOFOLLOW: whatever is at the name already, a link planted there
// included, is not written through; it is unlinked and the open tried once
// more. The process id keeps the files of two processes that report at once
// in one folder apart.
int open_temporary(std::array<char, 64>& name) noexcept {
  constexpr std::string_view suffix = ".tmp";
  const std::string_view path = report_path;
  char* out = std::copy(path.begin(), path.end(), name.data());
  *out++ = '.';
  out = std::to_chars(out, name.data() + name.size() - suffix.size() - 1, static_cast<long long>(::getpid())).ptr;
  *std::copy(suffix.begin(), suffix.end(), out) = '\0';
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int descriptor = ::open(name.data(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor >= 0 || errno != EEXIST) {
      return descriptor;
    }
    ::unlink(name.data());  // left behind by an earlier process with the same number
  }
  return -1;
}

// Gathers the report's text in a buffer on the stack and writes it out
// each time it fills: a few write() calls for the whole log, with no memory
// got. A failed write is kept (`ok`): put() is false from then on, which
// stops the render, and nothing more is written.
class file_sink final : public detail::text_sink {
 public:
  explicit file_sink(int descriptor) : descriptor(descriptor) {}
  bool put(std::string_view piece) noexcept override {
    while (ok && !piece.empty()) {
      if (used == buffer.size()) {
        flush();
      }
      const std::size_t count = std::min(piece.size(), buffer.size() - used);
      std::copy_n(piece.data(), count, buffer.data() + used);
      used += count;
      piece.remove_prefix(count);
    }
    return ok;
  }
  // One report line, stamped now: its message and what follows it, escaped,
  // so that a what() text with line breaks in it stays on its line.
  bool line(std::string_view message, std::string_view detail = {}) noexcept {
    const auto prefix = detail::line_prefix(std::time(nullptr));
    const auto escaped = [this](std::string_view piece) { return put(piece); };
    return put({prefix.data(), prefix.size()}) && detail::escaped_pieces(message, escaped) &&
           detail::escaped_pieces(detail, escaped) && put("\n");
  }
  bool flush() noexcept {
    ok = ok && detail::write_all(descriptor, {buffer.data(), used});
    used = 0;
    return ok;
  }

 private:
  int descriptor;
  std::array<char, 16384> buffer{};  // NOLINT: filled before it is read
  std::size_t used = 0;
  bool ok = true;
};

// SIGXFSZ ignored for as long as it lives: a file size limit then fails the
// write with EFBIG instead of ending the process half-way through the report.
// The action in force before is put back after, for the previous handler.
class file_size_signal_ignored {
 public:
  file_size_signal_ignored() noexcept {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    saved = ::sigaction(SIGXFSZ, &ignore, &previous) == 0;
  }
  file_size_signal_ignored(const file_size_signal_ignored&) = delete;
  file_size_signal_ignored& operator=(const file_size_signal_ignored&) = delete;
  ~file_size_signal_ignored() {
    if (saved) {
      ::sigaction(SIGXFSZ, &previous, nullptr);
    }
  }

 private:
  struct sigaction previous {};
  bool saved = false;
};

// One fixed line on standard error, with write(): nothing to format, nothing
// to allocate.
void complain() noexcept { detail::write_all(STDERR_FILENO, "VELDAR: could not write report file logs/veldar.log\n"); }

}  // namespace

void logdumper() {
  // 1. The first thread in takes the report; `none` then holds the thread
  // that has it.
  std::thread::id none{};
  if (!reporter.compare_exchange_strong(none, std::this_thread::get_id())) {
    if (none == std::this_thread::get_id()) {
      std::abort();  // std::terminate() from within the handler: no second report
    }
    for (;;) {  // another thread writes the report and ends the process
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }
  // 2. what() is the program's own code and may log: called with the log's
  // lock held, it would wait for ever on this very thread.
  const active_exception active = find_active();

  // 3. Without the lock (another thread kept it for two seconds) the log is
  // read as it stands, and no room is made in it: a stuck thread must not
  // cost the report.
  detail::log_store& store = detail::the_log_store();
  const bool locked = store.lock_within(std::chrono::seconds(2));
  if (locked) {
    // The report's own lines count against the log's limit, but never go.
    // Their sizes as file_sink::line() writes them, and the calling thread's
    // unfinished line, which the log's text ends with: the log's oldest lines
    // go to make room for them.
    const auto line = [](std::string_view message, std::string_view detail = {}) {
      return detail::line_prefix_size + message.size() + detail::escapes_in(message) + detail.size() +
             detail::escapes_in(detail) + 1;
    };
    store.make_room_locked(line(detail::report_terminate) + line(detail::report_opened) +
                           line(detail::report_rethrowing) + line(detail::report_type, active.type) +
                           line(detail::report_what, active.message) + line(detail::report_end) + store.partial_size() +
                           1);
  }
  // 4. and 5. The new file goes over the old one only once every byte is
  // written and it is closed (a close can fail for a write the system had put
  // off); a report not written leaves no file of its own behind.
  bool written = false;
  {
    const file_size_signal_ignored file_size_signal;
    std::array<char, 64> temporary{};
    // The report's lines are stamped as their steps are taken: the first
    // before the file is opened, the rest after.
    const std::time_t terminated = std::time(nullptr);
    const int descriptor = open_temporary(temporary);
    if (descriptor >= 0) {
      file_sink out(descriptor);
      const auto prefix = detail::line_prefix(terminated);
      // 6. The kept lines first, then the report's own. The calling thread's
      // unfinished `<<` line, which the log's text ends with, is ended before
      // the report's first line, so that it stays whole. The first report
      // line carries the time taken before the file was opened: it says when
      // the program terminated, not when the disk answered.
      const bool unfinished = store.partial_size() != 0;
      written = store.render_locked(out) && (!unfinished || out.put("\n")) && out.put({prefix.data(), prefix.size()}) &&
                out.put(detail::report_terminate) && out.put("\n") && out.line(detail::report_opened) &&
                out.line(detail::report_rethrowing) && out.line(detail::report_type, active.type) &&
                out.line(detail::report_what, active.message) && out.line(detail::report_end) && out.flush();
      written = ::close(descriptor) == 0 && written;
      written = written && std::rename(temporary.data(), report_path) == 0;
      if (!written) {
        ::unlink(temporary.data());
      }
    }
  }
  if (!written) {
    complain();
  }
  // 7. The lock first, then the previous handler. oldtermfunc is logdumper()
  // itself when the program had installed it before setup(): calling it
  // would only abort.
  if (locked) {
    store.unlock();
  }
  const std::terminate_handler previous = oldtermfunc;
  if (previous != nullptr && previous != &logdumper) {
    previous();
  }
  std::abort();
}

}  // namespace VELDAR
