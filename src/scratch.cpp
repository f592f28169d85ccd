// The per-thread scratch arena (scratch.h).
//
// The arena is one block, taken from the front as a stack. A take that does
// not fit gets a chunk of its own from the heap, and so does every take after
// it until the frames that took chunks have ended: the order of the marks is
// then that of the takes. The outermost frame's end turns a block that was
// too small into one of the size the frame needed at most.
//
// The arena itself is plain data, constant-initialised and never destroyed, so
// that it can be used at any time, also by numbers destroyed after the
// thread's own objects; a second thread-local object gives its memory back
// when the thread ends, and from then on nothing is kept.
#include "scratch.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace VELDAR::detail {

namespace {

constexpr std::size_t alignment = 64;

std::size_t rounded(std::size_t bytes) { return (bytes + alignment - 1) / alignment * alignment; }

// The first address at or after `p` aligned for the arena.
void* aligned(void* p) {
  const auto address = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<void*>((address + alignment - 1) / alignment * alignment);
}

// A chunk taken past the end of the block: this header, then its memory.
struct chunk {
  chunk* previous;
  std::size_t bytes;
};

struct arena {
  void* allocation = nullptr;  // the block as the heap gave it
  char* block = nullptr;       // its aligned start
  std::size_t capacity = 0;
  std::size_t used = 0;
  chunk* chunks = nullptr;  // newest first
  std::size_t chunk_bytes = 0;
  std::size_t peak = 0;  // the most held at once since the outermost frame began
  std::size_t depth = 0;
  bool closed = false;  // the thread is ending: keep nothing
};

thread_local arena state;

void release_block(arena& a) noexcept {
  ::operator delete(a.allocation);
  a.allocation = nullptr;
  a.block = nullptr;
  a.capacity = 0;
}

// Gives the block back when the thread ends.
struct arena_owner {
  bool armed = false;
  ~arena_owner() {
    release_block(state);
    state.closed = true;
  }
};

thread_local arena_owner owner;

// A block of `bytes` in place of the current one, or none when the heap has no
// room: the next frames then take chunks, as before.
void replace_block(arena& a, std::size_t bytes) noexcept {
  release_block(a);
  if (a.closed || bytes == 0 || bytes > scratch_kept_bytes) {
    return;
  }
  void* const allocation = ::operator new(bytes + alignment, std::nothrow);
  if (allocation == nullptr) {
    return;
  }
  owner.armed = true;  // the thread's end now gives it back
  a.allocation = allocation;
  a.block = static_cast<char*>(aligned(allocation));
  a.capacity = bytes;
}

}  // namespace

scratch_frame::scratch_frame() noexcept : used(state.used), chunks(state.chunks) {
  if (state.depth++ == 0) {
    state.peak = 0;
  }
}

scratch_frame::~scratch_frame() {
  arena& a = state;
  while (a.chunks != chunks) {
    chunk* const newest = a.chunks;
    a.chunks = newest->previous;
    a.chunk_bytes -= newest->bytes;
    ::operator delete(newest);
  }
  a.used = used;
  if (--a.depth == 0 && (a.peak > a.capacity || a.capacity > scratch_kept_bytes)) {
    replace_block(a, a.peak);
  }
}

void* scratch_frame::take_bytes(std::size_t bytes) {
  arena& a = state;
  bytes = rounded(bytes);
  if (a.chunks == nullptr && a.capacity - a.used >= bytes) {
    void* const p = a.block + a.used;
    a.used += bytes;
    a.peak = std::max(a.peak, a.used);
    return p;
  }
  void* const memory = ::operator new(sizeof(chunk) + alignment + bytes);  // may throw: nothing has changed
  auto* const header = static_cast<chunk*>(memory);
  header->previous = a.chunks;
  header->bytes = bytes;
  a.chunks = header;
  a.chunk_bytes += bytes;
  a.peak = std::max(a.peak, a.used + a.chunk_bytes);
  return aligned(static_cast<char*>(memory) + sizeof(chunk));
}

void scratch_frame::throw_too_large() { throw std::bad_alloc(); }

std::size_t scratch_held_bytes() noexcept { return state.capacity + state.chunk_bytes; }

void release_scratch() noexcept {
  if (state.depth == 0) {
    release_block(state);
  }
}

}  // namespace VELDAR::detail
