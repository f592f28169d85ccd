#include "diagnostics.h"

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
#include <new>
#include <thread>
#include <typeinfo>

#include "logbuffer.h"
#include "logline.h"

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define VELDAR_HAS_CXXABI 1
#endif

namespace VELDAR {

namespace {

// Room for logstream, constant-initialised so that the reference below is
// bound before any code runs; the first logstreaminit makes the stream in it,
// and it is never destroyed.
union logbookstorage {
  constexpr logbookstorage() : unused{} {}
  logbookstorage(const logbookstorage&) = delete;
  logbookstorage& operator=(const logbookstorage&) = delete;
  ~logbookstorage() {}  // NOLINT(modernize-use-equals-default): the book is never destroyed
  char unused;
  logbook book;
};
logbookstorage storage;

}  // namespace

constexpr logbook& logstream = storage.book;
bool init = false;
std::terminate_handler oldtermfunc = nullptr;

detail::logstreaminit::logstreaminit() {
  static const bool made = (new (&storage.book) logbook, true);
  static_cast<void>(made);
}

logbook::logbook() : std::iostream(&detail::thelog()) {}

std::string logbook::str() const { return detail::thelog().text(); }

void logbook::str(const std::string& text) { detail::thelog().replace(text); }

namespace detail {

void timetext(std::time_t second, char* out) {
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

void logline(std::string_view message) { thelog().appendline(message, {}, std::time(nullptr)); }

void logline(std::string_view message, unsigned long long number) {
  std::array<char, 20> digits{};  // every unsigned long long
  const char* end = std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr;
  thelog().appendline(message, {digits.data(), static_cast<std::size_t>(end - digits.data())}, std::time(nullptr));
}

}  // namespace detail

void log(const std::string& message) { detail::logline(message); }

void setloglimit(std::size_t bytes) { detail::thelog().setlimit(bytes); }

namespace {

std::atomic<bool> ready{false};
std::once_flag setuponce;

}  // namespace

void setup() {
  if (ready.load(std::memory_order_acquire)) {
    return;
  }
  std::call_once(setuponce, [] {
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

constexpr const char* reportpath = "logs/veldar.log";

// The thread writing the report; no thread until the handler first runs.
std::atomic<std::thread::id> reporter{};

// The active exception's type name and message, found without allocating:
// the exception being handled is rethrown in place, not copied.
struct activeexception {
  const char* type = "UNKNOWN";
  const char* message = "UNKNOWN";
};

activeexception findactive() noexcept {
  activeexception found;
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
int opentemporary(std::array<char, 64>& name) noexcept {
  constexpr std::string_view suffix = ".tmp";
  char* out = std::copy_n(reportpath, std::char_traits<char>::length(reportpath), name.data());
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

void writeall(int descriptor, std::string_view text, bool& ok) noexcept {
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
struct reportline {
  std::string_view message;
  std::string_view suffix;
  std::time_t second;

  void writeto(int descriptor, bool& ok) const noexcept {
    std::array<char, detail::timetextsize> time{};
    detail::timetext(second, time.data());
    writeall(descriptor, detail::lineopening, ok);
    writeall(descriptor, {time.data(), time.size()}, ok);
    writeall(descriptor, detail::lineclosing, ok);
    detail::escapedpieces(message, [&](std::string_view piece) { writeall(descriptor, piece, ok); });
    detail::escapedpieces(suffix, [&](std::string_view piece) { writeall(descriptor, piece, ok); });
    writeall(descriptor, "\n", ok);
  }
};

void complain() noexcept {
  constexpr std::string_view message = "VELDAR: could not write report file logs/veldar.log\n";
  bool ok = true;
  writeall(STDERR_FILENO, message, ok);
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
  const activeexception active = findactive();  // before the lock: what() is the caller's code

  detail::logbuffer& buffer = detail::thelog();
  // A thread stuck with the lock must not keep the report from being written.
  const bool locked = buffer.lockwithin(std::chrono::seconds(2));
  std::array<reportline, 6> lines{};
  std::size_t stored = 0;
  std::size_t count = 0;
  // Once a line cannot be stored, it and the rest go straight to the file after the log.
  const auto logreport = [&](std::string_view message, std::string_view detail = {}) {
    const std::time_t now = std::time(nullptr);
    lines.at(count++) = {message, detail, now};
    if (stored + 1 == count && buffer.appendlinelocked(message, detail, now)) {
      ++stored;
    }
  };
  logreport("Terminate called. Preparing report.");
  std::array<char, 64> temporary{};
  const int descriptor = opentemporary(temporary);
  logreport("Opened File.");
  logreport("Rethrowing exception and getting type.");
  logreport("Exception type: ", active.type);
  logreport("what(): ", active.message);
  logreport("--- LOG END: NO FURTHER MESSAGES ---");

  bool written = descriptor >= 0 && buffer.writelocked(descriptor);
  for (std::size_t i = stored; written && i < count; ++i) {
    lines.at(i).writeto(descriptor, written);
  }
  if (descriptor >= 0) {
    written = ::close(descriptor) == 0 && written;
    written = written && std::rename(temporary.data(), reportpath) == 0;
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
