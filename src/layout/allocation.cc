#include "layout/allocation.h"

#include <sys/mman.h>

#include <cstdlib>

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace quarvel {
namespace {

std::size_t gBudget = kDefaultAllocationBudget;
std::size_t gInUse = 0;
std::size_t gPeak = 0;
std::uint64_t gCount = 0;
std::uint64_t gFailAt = 0;
// Bytes taken from the system for records: every pool chunk (kept until the
// process ends) and the large records that are live. Freed slots stay in
// their pool and serve that size only, so counting live records alone would
// let a document that fills one pool, frees it and then fills another hold
// several budgets' worth.
std::size_t gHeld = 0;

bool withinBudget(std::size_t bytes) { return gHeld <= gBudget && bytes <= gBudget - gHeld; }

// Small records (glyphs, lines) come from pools, one per size rounded up to
// kGrain: a freed record's slot goes on its pool's free list and is handed
// out again before new memory is taken. Slots are carved from chunks that
// live as long as the process. The budget and the counters above are
// charged per record all the same.
constexpr std::size_t kGrain = 16;
constexpr std::size_t kLargestPooled = 128;
// A pool's chunks double from the smallest to the largest size, so that a
// short document takes little memory and a long column few page faults; the
// largest are aligned for transparent huge pages where the system has them.
constexpr std::size_t kSmallestChunk = 64 * 1024;
constexpr std::size_t kLargestChunk = 2 * 1024 * 1024;

struct FreeSlot {
  FreeSlot* next;
};

struct Pool {
  FreeSlot* free = nullptr;
  char* carve = nullptr;  // unused part of the newest chunk
  char* carveEnd = nullptr;
  std::size_t nextChunk = kSmallestChunk;
};

Pool gPools[kLargestPooled / kGrain + 1];
// Every chunk begins with a pointer to the one taken before it, so that all
// chunks stay reachable for leak checkers while they live with the process.
void* gChunks = nullptr;
constexpr std::size_t kChunkHeader = kGrain;

std::size_t slotSize(std::size_t size) { return (size + kGrain - 1) / kGrain * kGrain; }

char* newChunk(std::size_t bytes) {
  if (bytes < kLargestChunk) return static_cast<char*>(std::malloc(bytes));
  void* chunk = std::aligned_alloc(kLargestChunk, bytes);
#ifdef MADV_HUGEPAGE
  if (chunk != nullptr) ::madvise(chunk, bytes, MADV_HUGEPAGE);
#endif
  return static_cast<char*>(chunk);
}

void* takeSlot(std::size_t size) {
  const std::size_t slot = slotSize(size);
  Pool& pool = gPools[slot / kGrain];
  if (FreeSlot* reused = pool.free) {
    ASAN_UNPOISON_MEMORY_REGION(reused, slot);
    pool.free = reused->next;
    return reused;
  }
  if (static_cast<std::size_t>(pool.carveEnd - pool.carve) < slot) {
    if (!withinBudget(pool.nextChunk)) return nullptr;
    char* chunk = newChunk(pool.nextChunk);
    if (chunk == nullptr) return nullptr;
    gHeld += pool.nextChunk;
    *reinterpret_cast<void**>(chunk) = gChunks;
    gChunks = chunk;
    pool.carve = chunk + kChunkHeader;
    pool.carveEnd = chunk + pool.nextChunk;
    if (pool.nextChunk < kLargestChunk) pool.nextChunk *= 2;
    ASAN_POISON_MEMORY_REGION(pool.carve, pool.carveEnd - pool.carve);
  }
  void* memory = pool.carve;
  pool.carve += slot;
  ASAN_UNPOISON_MEMORY_REGION(memory, slot);
  return memory;
}

void giveSlot(void* memory, std::size_t size) {
  const std::size_t slot = slotSize(size);
  Pool& pool = gPools[slot / kGrain];
  FreeSlot* freed = static_cast<FreeSlot*>(memory);
  freed->next = pool.free;
  pool.free = freed;
  ASAN_POISON_MEMORY_REGION(memory, slot);
}

}  // namespace

void* allocateRecord(std::size_t size) noexcept {
  ++gCount;
  if (gFailAt != 0 && gCount == gFailAt) {
    gFailAt = 0;
    return nullptr;
  }
  if (size > gBudget - gInUse) return nullptr;
  void* memory = nullptr;
  if (size <= kLargestPooled) {
    memory = takeSlot(size == 0 ? 1 : size);
  } else if (withinBudget(size)) {
    memory = std::malloc(size);
    if (memory != nullptr) gHeld += size;
  }
  if (memory == nullptr) return nullptr;
  gInUse += size;
  if (gInUse > gPeak) gPeak = gInUse;
  return memory;
}

void releaseRecord(void* memory, std::size_t size) noexcept {
  if (memory == nullptr) return;
  if (size <= kLargestPooled) {
    giveSlot(memory, size == 0 ? 1 : size);
  } else {
    std::free(memory);
    gHeld -= size;
  }
  gInUse -= size;
}

void AllocationGate::setBudget(std::size_t bytes) { gBudget = bytes < gInUse ? gInUse : bytes; }

void AllocationGate::failAt(std::uint64_t n) { gFailAt = n == 0 ? 0 : gCount + n; }

void AllocationGate::reset() {
  gBudget = kDefaultAllocationBudget;
  gFailAt = 0;
  gCount = 0;
  gPeak = gInUse;
}

std::uint64_t AllocationGate::allocationCount() { return gCount; }
std::size_t AllocationGate::bytesInUse() { return gInUse; }
std::size_t AllocationGate::peakBytesInUse() { return gPeak; }
std::size_t AllocationGate::bytesHeld() { return gHeld; }

}  // namespace quarvel
