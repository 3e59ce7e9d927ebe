#include "layout/allocation.h"

#include <cstdlib>

namespace quarvel {
namespace {

std::size_t gBudget = kDefaultAllocationBudget;
std::size_t gInUse = 0;
std::size_t gPeak = 0;
std::uint64_t gCount = 0;
std::uint64_t gFailAt = 0;

}  // namespace

void* allocateRecord(std::size_t size) noexcept {
  ++gCount;
  if (gFailAt != 0 && gCount == gFailAt) {
    gFailAt = 0;
    return nullptr;
  }
  if (size > gBudget - gInUse) return nullptr;
  void* memory = std::malloc(size);
  if (memory == nullptr) return nullptr;
  gInUse += size;
  if (gInUse > gPeak) gPeak = gInUse;
  return memory;
}

void releaseRecord(void* memory, std::size_t size) noexcept {
  if (memory == nullptr) return;
  std::free(memory);
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

}  // namespace quarvel
