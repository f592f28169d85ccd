#include "diagnostics.h"

#include "logline.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>
#include <typeinfo>

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define VELDAR_HAS_CXXABI 1
#endif

namespace VELDAR {

std::stringstream logstream;
bool init = false;
std::terminate_handler oldtermfunc = nullptr;

namespace {

constexpr const char* reportpath = "logs/veldar.log";

// The local time `now` in ctime()'s fixed form without its newline,
// "Www Mmm dd hh:mm:ss yyyy", independent of the process's locale.
std::string timetext(std::time_t now) {
  static constexpr std::array<const char*, 7> weekdays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    return "??? ??? ?? ??:??:?? ????";
  }
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "%s %s %2d %02d:%02d:%02d %d", weekdays.at(local.tm_wday),
                months.at(local.tm_mon), local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                local.tm_year + 1900);
  return text.data();
}

// The start of every log line, "VELDAR [<time text>]: ", for the current
// second. Formatting the local time costs far more than the rest of a line,
// so it is done again only when the second changes.
class lineprefix {
 public:
  const std::string& now() {
    const std::time_t second = std::time(nullptr);
    if (second != madeat) {
      madeat = second;
      text = "VELDAR [" + timetext(second) + "]: ";
    }
    return text;
  }

 private:
  std::optional<std::time_t> madeat;
  std::string text;
};

// The encoded type name of the exception being handled, for exceptions that
// are not std::exception ("i" for a thrown int). Call inside a catch block.
std::string currentexceptiontype() {
#ifdef VELDAR_HAS_CXXABI
  if (const std::type_info* type = abi::__cxa_current_exception_type()) {
    return type->name();
  }
#endif
  return "UNKNOWN";
}

}  // namespace

namespace detail {

void logline(std::string_view message) {
  static lineprefix prefix;  // made on first use
  const std::string& start = prefix.now();
  std::ostream& out = logstream;
  std::streambuf* const buffer = out.rdbuf();
  // A stream in its ordinary state takes the pieces straight into its buffer,
  // as `<<` and std::endl would, without a sentry for each of them.
  const bool plain = buffer != nullptr && out.good() && out.width() == 0 && out.tie() == nullptr &&
                     (out.flags() & std::ios::unitbuf) == 0 && out.exceptions() == std::ios::goodbit;
  if (!plain) {
    // Whatever the state does (a field width, for one, pads "VELDAR [" alone), it does as it always has.
    out << "VELDAR [" << std::string_view(start).substr(8, start.size() - 11) << "]: " << message << std::endl;
    return;
  }
  const auto put = [buffer](std::string_view piece) {
    return buffer->sputn(piece.data(), static_cast<std::streamsize>(piece.size())) ==
           static_cast<std::streamsize>(piece.size());
  };
  using traits = std::char_traits<char>;
  try {
    if (!put(start) || !put(message) || traits::eq_int_type(buffer->sputc('\n'), traits::eof()) ||
        buffer->pubsync() == -1) {
      out.setstate(std::ios::badbit);
    }
  } catch (...) {
    out.setstate(std::ios::badbit);  // what `<<` does with a buffer's exception, such as std::bad_alloc
  }
}

void logline(std::string_view message, unsigned long long number) {
  std::array<char, 128> text{};
  if (message.size() > text.size() - 20) {
    logline(std::string(message) + std::to_string(number));
    return;
  }
  char* end = std::copy(message.begin(), message.end(), text.begin());
  end = std::to_chars(end, text.data() + text.size(), number).ptr;  // 20 characters hold every number
  logline(std::string_view(text.data(), static_cast<std::size_t>(end - text.data())));
}

}  // namespace detail

void log(std::string message) { detail::logline(message); }

void setup() {
  if (init) {
    return;
  }
  log("First fixedint/fixedfloat object created!");
  log("Start Initialization of Veldar Arithmetic module.");
  init = true;
  log("Setting up log dumper...");
  oldtermfunc = std::get_terminate();
  std::set_terminate(logdumper);
  log("Done. Init Successful");
}

void logdumper() {
  log("Terminate called. Preparing report.");
  std::ofstream report(reportpath, std::ios::out | std::ios::trunc);
  log("Opened File.");
  log("Rethrowing exception and getting type.");
  std::string type = "UNKNOWN";
  std::string message = "UNKNOWN";
  if (const std::exception_ptr active = std::current_exception()) {
    try {
      std::rethrow_exception(active);
    } catch (const std::exception& error) {
      type = typeid(error).name();
      message = error.what();
    } catch (...) {
      // Not a std::exception: no message to read, but the report still goes out.
      type = currentexceptiontype();
    }
  }
  log("Exception type: " + type);
  log("what(): " + message);
  log("--- LOG END: NO FURTHER MESSAGES ---");
  if (report.is_open()) {
    report << logstream.str();
    report.close();
  } else {
    std::cerr << "VELDAR: could not write report file " << reportpath << std::endl;
  }
  if (oldtermfunc != nullptr) {
    oldtermfunc();
  }
  std::abort();
}

}  // namespace VELDAR
