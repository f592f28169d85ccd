#include <veldar/diagnostics.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <cstdlib>
#include <mutex>
#include <initializer_list>
#include <new>
#include <thread>
#include <typeinfo>

#include "log_buffer.h"
#include "log_line.h"

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define VELDAR_HAS_CXXABI 1
#endif

namespace VELDAR {

namespace {

// Room for logstream, constant-initialised so that the reference below is
// bound before any code runs; the first log_stream_init makes the stream in it,
// and it is never destroyed.
union logbook_storage {
  constexpr logbook_storage() : unused{} {}
  logbook_storage(const logbook_storage&) = delete;
  logbook_storage& operator=(const logbook_storage&) = delete;
  ~logbook_storage() {}  // NOLINT(modernize-use-equals-default): the book is never destroyed
  char unused;
  logbook book;
};
logbook_storage storage;

}  // namespace

constexpr logbook& logstream = storage.book;
bool init = false;
std::terminate_handler oldtermfunc = nullptr;

detail::log_stream_init::log_stream_init() {
  static const bool made = (new (&storage.book) logbook, true);
  static_cast<void>(made);
}

logbook::logbook() : std::iostream(&detail::the_log()) {}

std::string logbook::str() const { return detail::the_log().text(); }

void logbook::str(const std::string& text) { detail::the_log().replace(text); }

namespace detail {

void time_text(std::time_t second, char* out) {
  static constexpr std::string_view weekdays = "SunMonTueWedThuFriSat";
  static constexpr std::string_view months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  std::tm local{};
  const bool known = localtime_r(&second, &local) != nullptr && local.tm_year >= 1000 - 1900 &&
                     local.tm_year <= 9999 - 1900;
  if (!known) {
    constexpr std::string_view unknown = "??? ??? ?? ??:??:?? ????";
    std::copy(unknown.begin(), unknown.end(), out);
    return;
  }
  const auto name = [](std::string_view names, int index) {
    return names.substr(static_cast<std::size_t>(index) * 3, 3);
  };
  // Two digits, the tens as `blank` below ten: the day of the month is " 8".
  const auto twodigits = [](int value, char blank) {
    return std::array<char, 2>{value < 10 ? blank : static_cast<char>('0' + value / 10),
                               static_cast<char>('0' + value % 10)};
  };
  const auto put = [&out](auto piece, char after) {
    out = std::copy(piece.begin(), piece.end(), out);
    *out++ = after;
  };
  // "Www Mmm dd hh:mm:ss yyyy"
  put(name(weekdays, local.tm_wday), ' ');
  put(name(months, local.tm_mon), ' ');
  put(twodigits(local.tm_mday, ' '), ' ');
  put(twodigits(local.tm_hour, '0'), ':');
  put(twodigits(local.tm_min, '0'), ':');
  put(twodigits(local.tm_sec, '0'), ' ');
  std::to_chars(out, out + 4, local.tm_year + 1900);
}

void log_line(std::string_view message) { the_log().append_line(message, {}, std::time(nullptr), true); }

void log_line(std::string_view message, unsigned long long number) {
  std::array<char, 20> digits{};  // every unsigned long long
  const char* end = std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr;
  the_log().append_line(message, {digits.data(), static_cast<std::size_t>(end - digits.data())}, std::time(nullptr),
                        true);
}

void log_lines(std::initializer_list<line_text> lines) {
  the_log().append_lines(lines.begin(), lines.size(), std::time(nullptr));
}

void log_lines_repeated(std::initializer_list<line_text> lines, unsigned long long times) {
  the_log().append_repeated(lines.begin(), lines.size(), times, std::time(nullptr));
}

}  // namespace detail

void log(const std::string& message) { detail::the_log().append_line(message, {}, std::time(nullptr), false); }

void setloglimit(std::size_t bytes) { detail::the_log().set_limit(bytes); }

namespace {

std::atomic<bool> ready{false};
std::once_flag setup_once;

}  // namespace

void setup() {
  if (ready.load(std::memory_order_acquire)) {
    return;
  }
  std::call_once(setup_once, [] {
    log("First fixedint/fixedfloat object created!");
    log("Start Initialization of Veldar Arithmetic module.");
    init = true;
    log("Setting up log dumper...");
    oldtermfunc = std::set_terminate(logdumper);
    log("Done. Init Successful");
    ready.store(true, std::memory_order_release);
  });
}

namespace {

constexpr const char* report_path = "logs/veldar.log";

// The thread writing the report; no thread until the handler first runs.
std::atomic<std::thread::id> reporter{};

// The active exception's type name and message, found without allocating:
// the exception being handled is rethrown in place, not copied.
struct active_exception {
  const char* type = "UNKNOWN";
  const char* message = "UNKNOWN";
};

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
// writes its name into `name`; -1 when it cannot be made.
int open_temporary(std::array<char, 64>& name) noexcept {
  constexpr std::string_view suffix = ".tmp";
  char* out = std::copy_n(report_path, std::char_traits<char>::length(report_path), name.data());
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

void write_all(int descriptor, std::string_view text, bool& ok) noexcept {
  while (ok && !text.empty()) {
    const ssize_t written = ::write(descriptor, text.data(), text.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    ok = written > 0;
    text.remove_prefix(ok ? static_cast<std::size_t>(written) : text.size());
  }
}

// One report line written straight to the file, for when the log had no
// memory left to store it.
struct report_line {
  std::string_view message;
  std::string_view suffix;
  std::time_t second;

  void write_to(int descriptor, bool& ok) const noexcept {
    std::array<char, detail::time_text_size> time{};
    detail::time_text(second, time.data());
    write_all(descriptor, detail::line_opening, ok);
    write_all(descriptor, {time.data(), time.size()}, ok);
    write_all(descriptor, detail::line_closing, ok);
    detail::escaped_pieces(message, [&](std::string_view piece) { write_all(descriptor, piece, ok); });
    detail::escaped_pieces(suffix, [&](std::string_view piece) { write_all(descriptor, piece, ok); });
    write_all(descriptor, "\n", ok);
  }
};

void complain() noexcept {
  constexpr std::string_view message = "VELDAR: could not write report file logs/veldar.log\n";
  bool ok = true;
  write_all(STDERR_FILENO, message, ok);
}

}  // namespace

void logdumper() {
  std::thread::id none{};
  if (!reporter.compare_exchange_strong(none, std::this_thread::get_id())) {
    if (none == std::this_thread::get_id()) {
      std::abort();  // std::terminate() from within the handler: no second report
    }
    for (;;) {  // another thread writes the report and ends the process
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }
  const active_exception active = find_active();  // before the lock: what() is the caller's code

  detail::log_buffer& buffer = detail::the_log();
  // A thread stuck with the lock must not keep the report from being written.
  const bool locked = buffer.lock_within(std::chrono::seconds(2));
  std::array<report_line, 6> lines{};
  std::size_t stored = 0;
  std::size_t count = 0;
  // Once a line cannot be stored, it and the rest go straight to the file after the log.
  const auto log_report = [&](std::string_view message, std::string_view detail = {}) {
    const std::time_t now = std::time(nullptr);
    lines.at(count++) = {message, detail, now};
    if (stored + 1 == count && buffer.append_line_locked(message, detail, now)) {
      ++stored;
    }
  };
  log_report("Terminate called. Preparing report.");
  std::array<char, 64> temporary{};
  const int descriptor = open_temporary(temporary);
  log_report("Opened File.");
  log_report("Rethrowing exception and getting type.");
  log_report("Exception type: ", active.type);
  log_report("what(): ", active.message);
  log_report("--- LOG END: NO FURTHER MESSAGES ---");

  bool written = descriptor >= 0 && buffer.write_locked(descriptor);
  for (std::size_t i = stored; written && i < count; ++i) {
    lines.at(i).write_to(descriptor, written);
  }
  if (descriptor >= 0) {
    written = ::close(descriptor) == 0 && written;
    written = written && std::rename(temporary.data(), report_path) == 0;
    if (!written) {
      ::unlink(temporary.data());
    }
  }
  if (!written) {
    complain();
  }
  if (locked) {
    buffer.unlock();
  }
  const std::terminate_handler previous = oldtermfunc;
  if (previous != nullptr && previous != &logdumper) {
    previous();
  }
  std::abort();
}

}  // namespace VELDAR
