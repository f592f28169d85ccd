// The replaced operator new and delete behind fail_allocation(). In a file of
// their own, so that the compiler cannot inline them into their callers,
// where a tool that takes over the plain operators (valgrind) would see one
// of a pair and not the other.
#include "allocations.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// The allocations left before one fails; 0 when none is to fail.
std::atomic<long> countdown{0};
// Every allocation through operator new.
std::atomic<long> made{0};

}  // namespace

void veldar_test::fail_allocation(long n) { countdown = n; }

long veldar_test::allocations_made() { return made.load(std::memory_order_relaxed); }

bool veldar_test::can_fail_allocations() {
  // Called through pointers, as the library's own allocations call them, and
  // not inlined from this file: where a tool has taken over operator new and
  // delete, the calls reach the tool's, in a pair.
  void* (*volatile allocate)(std::size_t) = static_cast<void* (*)(std::size_t)>(&::operator new);
  void (*volatile release)(void*) noexcept = static_cast<void (*)(void*) noexcept>(&::operator delete);
  fail_allocation(1);
  try {
    release(allocate(1));
  } catch (const std::bad_alloc&) {
    return true;
  }
  fail_allocation(0);
  return false;
}

void* operator new(std::size_t size) {
  made.fetch_add(1, std::memory_order_relaxed);
  if (countdown.load(std::memory_order_relaxed) > 0 && countdown.fetch_sub(1) == 1) {
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) {
    return memory;
  }
  throw std::bad_alloc();
}

// AddressSanitizer brings its own nothrow form, whose memory the plain delete
// below must not be given.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// The array forms through the plain ones (AddressSanitizer brings its own otherwise).
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete[](void* memory) noexcept { operator delete(memory); }
void operator delete[](void* memory, std::size_t) noexcept { operator delete(memory); }

void operator delete(void* memory) noexcept { std::free(memory); }
// Through the plain form, so that a tool that replaces the plain forms sees pairs.
void operator delete(void* memory, std::size_t) noexcept { ::operator delete(memory); }
