// Memory for the layout records (glyphs, lines, column arrays).
//
// Allocation here never throws: when memory can't be had it yields nullptr
// and the caller stops the run with reportOutOfMemory(). On Linux a plain
// allocation seldom fails (the kernel kills the process instead), so every
// allocation is also charged against a fixed budget; past the budget the
// allocation yields nullptr as if memory had run out.
//
// Small records are served from per-size pools that keep freed slots for
// reuse; budget, counters and test hooks apply to each record alike, and a
// pool takes a new chunk only while the chunks fit the budget too.
#ifndef QUARVEL_LAYOUT_ALLOCATION_H_
#define QUARVEL_LAYOUT_ALLOCATION_H_

#include <cstddef>
#include <cstdint>

namespace quarvel {

// Bytes of layout records that may be live at once, and also the bytes that
// records may take from the system (pool chunks, kept for reuse until the
// process ends, plus live large records): 1 GiB, well under the memory of
// the machines quarvel runs on. A run stopped by it peaks at about 1.07 GB
// resident in all (1.35 GB under AddressSanitizer).
inline constexpr std::size_t kDefaultAllocationBudget = std::size_t{1} << 30;

// Returns `size` bytes, or nullptr when the budget is spent, the system has no
// memory left, or a test asked this allocation to fail.
void* allocateRecord(std::size_t size) noexcept;
// Returns memory from allocateRecord(`size`) and gives its bytes back to the
// budget. Null is ignored.
void releaseRecord(void* memory, std::size_t size) noexcept;

// Test and tuning hooks. Not thread-safe: quarvel lays out on one thread.
class AllocationGate {
 public:
  static void setBudget(std::size_t bytes);
  // The n-th allocation from now (1 = the next one) yields nullptr, once.
  // 0 disarms.
  static void failAt(std::uint64_t n);
  // Budget back to the default, no failure armed, counters cleared.
  static void reset();
  static std::uint64_t allocationCount();
  static std::size_t bytesInUse();
  static std::size_t peakBytesInUse();
  // Bytes taken from the system for records: pool chunks and live large
  // records. Never more than the budget.
  static std::size_t bytesHeld();
};

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_ALLOCATION_H_
