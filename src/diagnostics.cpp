// The module log's public face: logstream, log(), the limit and the one-time
// set-up. The log itself is the store of log_store.h; logdumper() is in
// report.cpp.
#include <veldar/diagnostics.h>

#include <atomic>
#include <ctime>
#include <mutex>
#include <new>
#include <string_view>

#include "log_store.h"
#include "log_stream.h"
#include "transcript.h"

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

// Every file that includes diagnostics.h runs this before the static objects
// it defines after the #include; the first run makes the stream, once
// whatever the order of the files and threads (a function's static is made
// once).
detail::log_stream_init::log_stream_init() {
  static const bool made = (new (&storage.book) logbook, true);
  static_cast<void>(made);
}

logbook::logbook() : std::iostream(&detail::the_log_stream_buffer()) {}

std::string logbook::str() const { return detail::the_log_store().text(); }

// The stream's reading starts again at the first byte of the new text.
void logbook::str(const std::string& text) {
  detail::the_log_store().replace(text);
  detail::the_log_stream_buffer().restart();
}

void log(const std::string& message) { detail::the_log_store().append_text(message, std::time(nullptr)); }

void setloglimit(std::size_t bytes) { detail::the_log_store().set_limit(bytes); }

std::size_t loglimit() { return detail::the_log_store().limit(); }

namespace {

// `ready` turns true, with a release, once the set-up is done: a call that
// sees it (an acquire) returns at once, and sees `init` and oldtermfunc set.
// Every fixedint length constructor calls setup(), so that is the path that
// counts. The first calls meet in std::call_once: one does the set-up, and
// the others wait for it, so that no number's lines come before the four.
std::atomic<bool> ready{false};
std::once_flag setup_once;

}  // namespace

void setup() {
  if (ready.load(std::memory_order_acquire)) {
    return;
  }
  std::call_once(setup_once, [] {
    // Straight to the store, as log() would, without making a std::string of
    // each line. Each step comes after the line that announces it: `init`
    // after the second, the handler after the third, and the fourth says
    // both are done.
    const auto log_line = [](std::string_view message) {
      detail::the_log_store().append_text(message, std::time(nullptr));
    };
    const auto& lines = detail::setup_lines;
    log_line(lines[0]);
    log_line(lines[1]);
    init = true;
    log_line(lines[2]);
    oldtermfunc = std::set_terminate(logdumper);
    log_line(lines[3]);
    ready.store(true, std::memory_order_release);
  });
}

}  // namespace VELDAR
