// The replacements of operator new and of malloc, calloc and realloc (see
// FailingAllocator.h). They forward to the allocator that follows the
// program in the lookup order (the C library's, or a sanitizer's), found once
// with dlsym.
#include "FailingAllocator.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace failing_allocator {
namespace {

struct ThreadState {
  bool armed = false;
  Mode mode = Mode::Once;
  long countdown = 0;  // allocations left before the failing one
  long counted = 0;
  bool injected = false;
};
thread_local ThreadState state;

// True when this allocation is to fail.
bool FailThisOne() {
  ThreadState& s = state;
  if (!s.armed) return false;
  ++s.counted;
  if (s.countdown > 0 && --s.countdown == 0) {
    s.injected = true;
    if (s.mode == Mode::Once) s.armed = false;
    return true;
  }
  return s.countdown == 0 && s.mode == Mode::FromThenOn;
}

using MallocFn = void* (*)(std::size_t);
using CallocFn = void* (*)(std::size_t, std::size_t);
using ReallocFn = void* (*)(void*, std::size_t);

// dlsym may allocate while it looks the functions up; those few early
// requests are served from a small static area that is never freed.
alignas(std::max_align_t) unsigned char bootstrapArea[4096];
std::size_t bootstrapUsed = 0;
bool resolving = false;

void* Bootstrap(std::size_t size) {
  const std::size_t aligned =
      (size + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
  if (bootstrapUsed + aligned > sizeof bootstrapArea) return nullptr;
  void* p = bootstrapArea + bootstrapUsed;
  bootstrapUsed += aligned;
  return p;
}

struct RealAllocator {
  MallocFn malloc = nullptr;
  CallocFn calloc = nullptr;
  ReallocFn realloc = nullptr;
};

// Resolved by the first allocation of the process, before any thread of its
// own starts. No function-local static: its guard is a call a sanitizer
// intercepts, and the first allocation may come before the sanitizer runs.
RealAllocator real;

const RealAllocator& Real() {
  if (real.malloc == nullptr) {
    resolving = true;
    real.calloc = reinterpret_cast<CallocFn>(dlsym(RTLD_NEXT, "calloc"));
    real.realloc = reinterpret_cast<ReallocFn>(dlsym(RTLD_NEXT, "realloc"));
    real.malloc = reinterpret_cast<MallocFn>(dlsym(RTLD_NEXT, "malloc"));
    resolving = false;
  }
  return real;
}

void* AllocateOrNull(std::size_t size) {
  if (FailThisOne()) return nullptr;
  return Real().malloc(size == 0 ? 1 : size);
}

}  // namespace

void Arm(long n, Mode mode) {
  state = ThreadState{};
  state.mode = mode;
  state.countdown = n;
  state.armed = true;
}
void Disarm() { state.armed = false; }
void Rearm() {
  if (!state.injected || state.mode == Mode::FromThenOn) state.armed = true;
}
bool Injected() { return state.injected; }
long Counted() { return state.counted; }

bool InEffect() {
  Arm(1);
  bool failed = false;
  try {
    ::operator delete(::operator new(16));
  } catch (const std::bad_alloc&) {
    failed = true;
  }
  Disarm();
  return failed;
}

}  // namespace failing_allocator

using failing_allocator::AllocateOrNull;

extern "C" {

void* malloc(std::size_t size) {
  if (failing_allocator::resolving) return failing_allocator::Bootstrap(size);
  void* p = AllocateOrNull(size);
  if (p == nullptr) errno = ENOMEM;
  return p;
}

void* calloc(std::size_t count, std::size_t size) {
  if (failing_allocator::resolving) return failing_allocator::Bootstrap(count * size);  // zeroed
  if (failing_allocator::FailThisOne()) {
    errno = ENOMEM;
    return nullptr;
  }
  return failing_allocator::Real().calloc(count, size);
}

void* realloc(void* old, std::size_t size) {
  if (failing_allocator::FailThisOne()) {
    errno = ENOMEM;
    return nullptr;
  }
  return failing_allocator::Real().realloc(old, size);
}

}  // extern "C"

void* operator new(std::size_t size) {
  void* p = AllocateOrNull(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
// Called when a constructor run by a nothrow new throws.
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
