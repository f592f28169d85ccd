/// @file
///
/// The module log and the termination report.
///
/// Every object of the library narrates its life into one in-memory log. Each
/// line reads
/// ```
///   VELDAR [Mon Dec  7 07:08:24 2026]: Done.
/// ```
/// with the local time in the C library's 24-character ctime() form. A line
/// break inside a message is written as the two characters "\n" (and a
/// carriage return as "\r"), so that a message never forges a line of its own.
/// Nothing reaches a file while the process runs: when it ends abnormally (an
/// uncaught exception, or std::terminate()), logdumper() writes the log's kept
/// lines and a report on the active exception to "logs/veldar.log", relative
/// to the working directory. A process that ends normally writes nothing.
///
/// Threads: any number of threads may log, and create, use and destroy their
/// own numbers, at once; every line stays whole, and a line written with
/// several `<<` (logstream << "step " << i << '\n') stays whole too: each
/// thread's unfinished line is kept apart until its line break. One number
/// shared between threads needs the caller's lock, as a std::vector does. The
/// same holds for the logstream object's own state (its format flags, its
/// read position).
///
/// Cost: the log keeps what happened, not its text: an operation's lines are
/// one record of a few bytes (an 8-digit fixedint + with its argument and
/// result going takes 3 or 4 bytes; fixedfloat(24) = "1.5", 149 lines, takes
/// 3), and the text is made only when the log is read (str(), reading
/// logstream, the report). A message given to log() or written with `<<` is
/// kept as text. A thread alone in its program logs without the log's lock.
/// The log keeps its newest 64 MiB of text by default (loglimit()).
#pragma once

#include <cstddef>
#include <exception>
#include <istream>
#include <string>

#include <veldar/export.h>  // VELDAR_EXPORT: the interface a shared libveldar exports

namespace VELDAR {

/// The log as a stream. It exists from its first use, before main() and after
/// it, in every file that includes this header (as std::cout does). str() gives
/// its whole text and str("") empties it; `<<` appends raw text; reading
/// (std::getline, >>, seekg and tellg) gives its lines from the oldest one
/// kept, the text made as it is read. The library's own lines go into it
/// whatever the stream's format flags and error state.
class VELDAR_EXPORT logbook : public std::iostream {
 public:
  logbook();
  logbook(const logbook&) = delete;
  logbook& operator=(const logbook&) = delete;
  ~logbook() override = default;

  /// Every line kept, in order; after setloglimit() has dropped lines, first a
  /// line that says how many: "... Log limit of 4096 bytes: 120 earlier lines dropped."
  std::string str() const;
  /// Replaces the whole log by `text`: str("") empties it.
  void str(const std::string& text);
};

/// Every log line of the process, in order, within the limit of loglimit().
extern VELDAR_EXPORT logbook& logstream;
/// True once setup() has run; it never goes back to false.
extern VELDAR_EXPORT bool init;
/// The terminate handler that was in force before setup() installed logdumper().
extern VELDAR_EXPORT std::terminate_handler oldtermfunc;

/// Appends one time-stamped line carrying `message` to logstream. A line that
/// cannot be stored (no memory) is lost alone; log() itself never throws.
VELDAR_EXPORT void log(const std::string& message);

/// Keeps the log's text within `bytes` bytes: past it, the oldest whole lines
/// go until a quarter of the limit is free, and the log's first line, which
/// counts against the limit, says how many went: "Log limit of 4096 bytes: 120
/// earlier lines dropped.". The newest line always stays, even when it alone
/// is longer than the limit. The default is 64 MiB (67108864 bytes), so that a
/// long run neither grows until the system stops it nor leaves a report of
/// gigabytes; 0 keeps every line. setloglimit(1 << 20) keeps the last MiB,
/// which is what a crash report needs most.
VELDAR_EXPORT void setloglimit(std::size_t bytes);
/// The limit in force: 67108864 until setloglimit() changes it.
VELDAR_EXPORT std::size_t loglimit();

/// One-time module set-up: logs four lines and installs logdumper() as the
/// terminate handler. Every later call does nothing, from any thread. The
/// fixedint length constructors call it before they log anything.
VELDAR_EXPORT void setup();

/// The terminate handler. Writes the log's kept lines and after them six
/// report lines ("Terminate called. Preparing report.", ..., the active
/// exception's encoded type name: "St12out_of_range", "i" for a thrown int,
/// "UNKNOWN" when there is none; its what() text: "UNKNOWN" when there is none,
/// it is not a std::exception or its what() is null) to a new file in logs/,
/// renames it over logs/veldar.log (so an earlier report survives a failed
/// write, a file size limit included, and a link planted there is replaced,
/// not followed), and then calls oldtermfunc. It allocates no memory to do so,
/// and waits at most two seconds for a thread that holds the log. When the
/// file cannot be written it says so in one line on standard error. When two
/// threads terminate at once, one writes the report and the other waits for
/// the process to end; a call from within the handler aborts at once.
VELDAR_EXPORT void logdumper();

namespace detail {
/// Makes logstream exist before anything in a file that includes this header
/// can use it, as <iostream> does for std::cout. Every such file calls its
/// constructor, so it is exported with the public interface.
struct VELDAR_EXPORT log_stream_init {
  log_stream_init();
};
static const log_stream_init log_stream_initializer;
}  // namespace detail

}  // namespace VELDAR
