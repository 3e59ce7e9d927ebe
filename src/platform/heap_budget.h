// A bound on the heap for one call of the web build's API: within it,
// every allocation (C++ new, expat's and the C library's malloc alike)
// past the budget yields nothing, as if memory had run out, so that a
// hostile document stops with the out-of-memory message long before the
// host's own limit. web_heap.cc counts what malloc hands out; only the web
// build has it.
#ifndef QUARVEL_PLATFORM_HEAP_BUDGET_H_
#define QUARVEL_PLATFORM_HEAP_BUDGET_H_

#include <cstddef>

namespace quarvel {

// Bytes of heap blocks handed out and not yet freed.
std::size_t heapInUse();

// From now on, allocations fail once the blocks in use would pass what is
// in use now plus `bytes`; until unlimitHeap().
void limitHeap(std::size_t bytes);
void unlimitHeap();

}  // namespace quarvel

#endif  // QUARVEL_PLATFORM_HEAP_BUDGET_H_
