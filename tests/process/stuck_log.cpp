// A process whose log is held for ever by one of its threads when it
// terminates: the report is still written, after the handler's wait.
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

#include <veldar/fixedint.h>

#include "log_store.h"

int main() {
  VELDAR::fixedint number(8, 42);
  std::atomic<bool> held{false};
  std::thread holder([&held] {
    VELDAR::detail::the_log_store().lock_within(std::chrono::seconds(1));
    held = true;
    for (;;) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  });
  holder.detach();
  while (!held) {
    std::this_thread::yield();
  }
  std::terminate();
}
