// The test programs' operator new, which can be made to fail on demand, as
// when memory runs out.
#pragma once

namespace veldar_test {

// The `n`-th allocation through operator new from now on throws
// std::bad_alloc (1: the next one), and the ones after it succeed again;
// 0 makes none fail.
void fail_allocation(long n);

// The allocations through operator new since the program started.
long allocations_made();

// Whether fail_allocation() takes effect: not when a tool (valgrind) has put
// its own operator new in place of the program's.
bool can_fail_allocations();

}  // namespace veldar_test
