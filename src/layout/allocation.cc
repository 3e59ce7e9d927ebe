#include "layout/allocation.h"

// Huge pages where the system has them (not on Windows).
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include <cassert>
#include <cstdlib>

namespace quarvel {

namespace allocation_detail {
Counters counters;
}  // namespace allocation_detail

namespace {

using allocation_detail::counters;

std::size_t gBudget = kDefaultAllocationBudget;
// Bytes taken from the system for records: every pool chunk (kept until the
// process ends) and the large records that are live. Freed slots stay in
// their pool and serve that size only, so charging live records alone would
// let a document that fills one pool, frees it and then fills another hold
// several budgets' worth.
std::size_t gHeld = 0;
// Bytes of live large records (all of them also in gHeld).
std::size_t gLargeInUse = 0;
// Pools that have taken a chunk, newest first.
RecordPool* gPools = nullptr;

bool withinBudget(std::size_t bytes) { return gHeld <= gBudget && bytes <= gBudget - gHeld; }

constexpr std::size_t kGrain = 16;
constexpr std::size_t kLargestPooled = 128;
// A pool's chunks double from the smallest to the largest size, so that a
// short document takes little memory and a long column few page faults; the
// largest are aligned for transparent huge pages where the system has them.
constexpr std::size_t kSmallestChunk = 64 * 1024;
constexpr std::size_t kLargestChunk = 2 * 1024 * 1024;
// Every chunk begins with a pointer to the one taken before it, so that all
// chunks stay reachable for leak checkers while they live with the process.
void* gChunks = nullptr;
constexpr std::size_t kChunkHeader = kGrain;

// The shared pools of allocateRecord, one per size rounded up to kGrain.
RecordPool gSized[kLargestPooled / kGrain] = {
    RecordPool(16), RecordPool(32), RecordPool(48),  RecordPool(64),
    RecordPool(80), RecordPool(96), RecordPool(112), RecordPool(128),
};

RecordPool& sizedPool(std::size_t size) { return gSized[(size == 0 ? 0 : (size - 1) / kGrain)]; }

char* newChunk(std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  if (bytes >= kLargestChunk) {
    void* chunk = std::aligned_alloc(kLargestChunk, bytes);
    if (chunk != nullptr) ::madvise(chunk, bytes, MADV_HUGEPAGE);
    return static_cast<char*>(chunk);
  }
#endif
  return static_cast<char*>(std::malloc(bytes));
}

}  // namespace

void* RecordPool::failArmed() noexcept {
  counters.failAt = 0;
  return nullptr;
}

void* RecordPool::carve() noexcept {
  assert(slotSize_ % kGrain == 0 && slotSize_ >= linkOffset_ + sizeof(void*));
  if (static_cast<std::size_t>(carveEnd_ - carve_) < slotSize_) {
    if (nextChunk_ == 0) {
      nextChunk_ = kSmallestChunk;
      nextPool_ = gPools;
      gPools = this;
    }
    if (!withinBudget(nextChunk_)) return nullptr;
    char* chunk = newChunk(nextChunk_);
    if (chunk == nullptr) return nullptr;
    gHeld += nextChunk_;
    *reinterpret_cast<void**>(chunk) = gChunks;
    gChunks = chunk;
    carve_ = chunk + kChunkHeader;
    carveEnd_ = chunk + nextChunk_;
    if (nextChunk_ < kLargestChunk) nextChunk_ *= 2;
    ASAN_POISON_MEMORY_REGION(carve_, carveEnd_ - carve_);
  }
  void* memory = carve_;
  carve_ += slotSize_;
  ++live_;
  ASAN_UNPOISON_MEMORY_REGION(memory, slotSize_);
  return memory;
}

void* allocateRecord(std::size_t size) noexcept {
  if (size <= kLargestPooled) return sizedPool(size).take();
  if (++counters.count == counters.failAt) {
    counters.failAt = 0;
    return nullptr;
  }
  if (!withinBudget(size)) return nullptr;
  void* memory = std::malloc(size);
  if (memory == nullptr) return nullptr;
  gHeld += size;
  gLargeInUse += size;
  return memory;
}

void releaseRecord(void* memory, std::size_t size) noexcept {
  if (memory == nullptr) return;
  if (size <= kLargestPooled) {
    sizedPool(size).give(memory);
    return;
  }
  std::free(memory);
  gHeld -= size;
  gLargeInUse -= size;
}

void AllocationGate::setBudget(std::size_t bytes) { gBudget = bytes; }

void AllocationGate::failAt(std::uint64_t n) { counters.failAt = n == 0 ? 0 : counters.count + n; }

void AllocationGate::reset() {
  gBudget = kDefaultAllocationBudget;
  counters = {};
}

std::uint64_t AllocationGate::allocationCount() { return counters.count; }

std::size_t AllocationGate::bytesInUse() {
  std::size_t bytes = gLargeInUse;
  for (const RecordPool* pool = gPools; pool != nullptr; pool = pool->nextPool_)
    bytes += pool->live_ * pool->slotSize_;
  return bytes;
}

std::size_t AllocationGate::bytesHeld() { return gHeld; }

}  // namespace quarvel
