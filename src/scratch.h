// Scratch memory for the kernels, internal to the library: one arena per
// thread, kept from call to call, so that the buffers of a product or a
// quotient are pages the thread has used before, not new ones from the heap
// that fault in on every call.
//
// Memory is taken in frames, as on a stack: a scratch_frame marks the arena,
// take() hands out uninitialised memory after the mark, and the frame's end
// gives back all it took. When the outermost frame ends, the arena is made one
// block as large as the most it held at once (so that the next call of the
// same size takes nothing from the heap), or given back whole when that is
// more than scratch_kept_bytes. A thread's arena goes with the thread.
#pragma once

#include <cstddef>
#include <type_traits>

namespace VELDAR::detail {

// An arena that held more than this at once is given back when its outermost
// frame ends: the memory a thread keeps for scratch stays below it.
inline constexpr std::size_t scratch_kept_bytes = std::size_t{256} << 20;

class scratch_frame {
 public:
  scratch_frame() noexcept;
  scratch_frame(const scratch_frame&) = delete;
  scratch_frame& operator=(const scratch_frame&) = delete;
  ~scratch_frame();

  // `count` uninitialised values of T, aligned to 64 bytes, until the frame
  // ends. Throws std::bad_alloc and leaves the arena as it was when the heap
  // has no room.
  template <typename T>
  T* take(std::size_t count) {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T> && alignof(T) <= 64);
    if (count > ~std::size_t{0} / sizeof(T) - 64) {
      throw_too_large();
    }
    return static_cast<T*>(take_bytes(count * sizeof(T)));
  }

 private:
  void* take_bytes(std::size_t bytes);
  [[noreturn]] static void throw_too_large();

  std::size_t used;  // the arena's bytes in use when the frame began
  void* chunks;      // the newest overflow chunk then
};

// The bytes the calling thread's arena holds (its block and any chunks), for
// the tests.
std::size_t scratch_held_bytes() noexcept;
// Gives the calling thread's arena back to the heap, outside any frame, for
// the tests: the next frame starts from nothing.
void release_scratch() noexcept;

}  // namespace VELDAR::detail
