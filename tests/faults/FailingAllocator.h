// Allocation failure on demand, for the allocation-failure tests: the
// program's operator new and malloc (with calloc and realloc) count the
// allocations of the calling thread while it is armed and fail one of them,
// as memory running out would. Other threads, and the armed thread while
// disarmed, allocate normally.
#pragma once

namespace failing_allocator {

enum class Mode {
  Once,        // only the n-th allocation fails
  FromThenOn,  // the n-th and every later one fails
};

// Counts from now on: the n-th allocation (1-based) of this thread fails.
void Arm(long n, Mode mode = Mode::Once);
// Stops counting and failing on this thread; the count so far is kept.
void Disarm();
// Counting and failing again after a Disarm, where it left off.
void Rearm();
// Whether a failure was injected since the last Arm.
bool Injected();
// Allocations counted since the last Arm.
long Counted();
// Whether this program's allocator is the replaced one: under valgrind, for
// one, valgrind's own takes its place and nothing can be made to fail.
bool InEffect();

}  // namespace failing_allocator
