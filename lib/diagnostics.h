// The module log and the termination report.
//
// Every object of the library narrates its life into one in-memory log. Each
// line reads
//
//   VELDAR [Mon Dec  7 07:08:24 2026]: Done.
//
// with the local time in the C library's 24-character ctime() form. Nothing
// reaches a file while the process runs: when it ends abnormally (an uncaught
// exception, or std::terminate()), logdumper() appends a report on the active
// exception and writes the whole log to "logs/veldar.log", relative to the
// working directory. A process that ends normally writes nothing.
//
// Single-threaded: the globals below carry no locks.
#pragma once

#include <exception>
#include <sstream>
#include <string>

namespace VELDAR {

// Every log line of the process, in order; never trimmed.
extern std::stringstream logstream;
// True once setup() has run; it never goes back to false.
extern bool init;
// The terminate handler that was in force before setup() installed logdumper().
extern std::terminate_handler oldtermfunc;

// Appends one time-stamped line carrying `message` to logstream.
void log(std::string message);

// One-time module set-up: logs four lines and installs logdumper() as the
// terminate handler. Every later call does nothing. The fixedint length
// constructors call it before they log anything.
void setup();

// The terminate handler. Logs "Terminate called. Preparing report.", the
// active exception's encoded type name ("St12out_of_range", "i" for a thrown
// int, "UNKNOWN" when there is none) and its what() text ("UNKNOWN" when there
// is none or it is not a std::exception), writes the log to logs/veldar.log,
// and then calls oldtermfunc. When the file cannot be opened it says so in one
// line on standard error. Never called directly.
void logdumper();

}  // namespace VELDAR
