#include "diagnostics.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
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

// The local time in ctime()'s fixed form without its newline,
// "Www Mmm dd hh:mm:ss yyyy", independent of the process's locale.
std::string timetext() {
  static constexpr std::array<const char*, 7> weekdays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
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

void log(std::string message) {
  logstream << "VELDAR [" << timetext() << "]: " << message << std::endl;
}

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
