// Memory for the layout records (glyphs, lines, column arrays).
//
// Allocation here never throws: when memory can't be had it yields nullptr
// and the caller stops the run with reportOutOfMemory(). On Linux a plain
// allocation seldom fails (the kernel kills the process instead), so the
// memory that records take from the system is charged against a fixed
// budget; past the budget an allocation yields nullptr as if memory had run
// out.
//
// Records come from pools of fixed-size slots: Glyph and Line each have
// their own, other small sizes share one pool per size. A freed slot goes
// back to its pool and is handed out again before new memory is taken. The
// budget is charged per chunk that a pool takes from the system (and per
// record larger than a pooled size), never per record, so that taking and
// giving a slot costs a few instructions. Every record still counts for the
// failure hook, so that a test can make any single allocation fail.
#ifndef QUARVEL_LAYOUT_ALLOCATION_H_
#define QUARVEL_LAYOUT_ALLOCATION_H_

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUARVEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARVEL_ADDRESS_SANITIZER 1
#endif
#endif

#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace quarvel {

// Bytes that records may take from the system at once: pool chunks, kept
// for reuse until the process ends, plus live records too large for a pool.
// 1 GiB, well under the memory of the machines quarvel runs on. A run
// stopped by it peaks at about 1.07 GB resident in all (1.35 GB under
// AddressSanitizer).
inline constexpr std::size_t kDefaultAllocationBudget = std::size_t{1} << 30;

// The budget for laying out a document of `documentBytes` bytes: linear in
// them, so that a few bytes of markup (a space repeated two billion times)
// cannot claim the whole default budget. Columns keep every glyph of theirs
// until the paragraph is printed, 32 bytes or more for a byte of text.
inline constexpr std::size_t kLayoutBytesPerByte = 48;
inline constexpr std::size_t kLayoutAllowance = std::size_t{64} << 20;
constexpr std::size_t layoutBudgetFor(std::uint64_t documentBytes) {
  constexpr std::uint64_t kLargest =
      (kDefaultAllocationBudget - kLayoutAllowance) / kLayoutBytesPerByte;
  return documentBytes >= kLargest ? kDefaultAllocationBudget
                                   : kLayoutAllowance + documentBytes * kLayoutBytesPerByte;
}

namespace allocation_detail {
// The failure hook: allocations counted since the last reset, and the count
// at which one fails (0: none armed).
struct Counters {
  std::uint64_t count = 0;
  std::uint64_t failAt = 0;
};
extern Counters counters;
}  // namespace allocation_detail

// The slot size of a pool for records of `bytes` bytes.
constexpr std::size_t poolSlotSize(std::size_t bytes) { return (bytes + 15) / 16 * 16; }

// Slots of one size. A pool is a global object that lives as long as the
// process; it takes chunks from the system only within the budget and keeps
// them. Not thread-safe: quarvel lays out on one thread.
class RecordPool {
 public:
  // `slotSize` is a poolSlotSize, at most a chunk's 64 KiB less 16. A free
  // slot holds the pointer to the next free slot at `linkOffset`: where the
  // records keep a link of their own, a list of them goes back whole with
  // giveChain().
  explicit constexpr RecordPool(std::size_t slotSize, std::size_t linkOffset = 0)
      : slotSize_(slotSize), linkOffset_(linkOffset) {}
  RecordPool(const RecordPool&) = delete;
  RecordPool& operator=(const RecordPool&) = delete;

  // A slot of slotSize() bytes, or nullptr when the budget is spent, the
  // system has no memory left, or a test asked this allocation to fail.
  void* take() noexcept {
    allocation_detail::Counters& counters = allocation_detail::counters;
    if (++counters.count == counters.failAt) return failArmed();
    void* slot = free_;
    if (slot == nullptr) return carve();
    ASAN_UNPOISON_MEMORY_REGION(slot, slotSize_);
    free_ = link(slot);
    ++live_;
    return slot;
  }
  // Takes for one caller that appends many records in a row, with the
  // pool's free list and counts held in the run and written back when it
  // ends, which keeps the hot loop off shared memory. While a failure is
  // armed every take goes through take(), so the hook still fails exactly
  // the allocation it was asked to. Nothing else may use the pool while a
  // run is open.
  class Run {
   public:
    explicit Run(RecordPool& pool) noexcept
        : pool_(pool), counted_(allocation_detail::counters.failAt != 0), free_(pool.free_) {}
    ~Run() {
      if (!counted_) {
        pool_.free_ = free_;
        pool_.live_ += reused_;
      }
      allocation_detail::counters.count += taken_;
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // As take().
    void* take() noexcept {
      if (counted_) [[unlikely]]
        return pool_.take();
      ++taken_;
      void* slot = free_;
      if (slot == nullptr) return pool_.carve();
      ASAN_UNPOISON_MEMORY_REGION(slot, pool_.slotSize_);
      free_ = pool_.link(slot);
      ++reused_;
      return slot;
    }

   private:
    RecordPool& pool_;
    const bool counted_;
    void* free_;               // the pool's free list, while the run is open
    std::uint64_t taken_ = 0;  // for the failure hook
    std::size_t reused_ = 0;   // from the free list (carve() counts its own)
  };

  // Gives back a slot from take(). Null is ignored.
  void give(void* memory) noexcept {
    if (memory == nullptr) return;
    assert(live_ > 0);
    setLink(memory, free_);
    free_ = memory;
    --live_;
    ASAN_POISON_MEMORY_REGION(memory, slotSize_);
  }
  // Gives back `count` slots from take() at once, in constant time: `first`
  // to `last`, each of which points to the next at the link offset (the
  // link of `last` is overwritten).
  void giveChain(void* first, void* last, std::size_t count) noexcept {
    assert(first != nullptr && last != nullptr && count > 0 && live_ >= count);
    setLink(last, free_);
#ifdef QUARVEL_ADDRESS_SANITIZER
    for (void* slot = first; slot != free_;) {
      void* const next = link(slot);
      ASAN_POISON_MEMORY_REGION(slot, slotSize_);
      slot = next;
    }
#endif
    free_ = first;
    live_ -= count;
  }
  std::size_t slotSize() const { return slotSize_; }
  // Slots handed out and not given back.
  std::size_t live() const { return live_; }

 private:
  friend class AllocationGate;
  void* link(const void* slot) const noexcept {
    void* next;
    std::memcpy(&next, static_cast<const char*>(slot) + linkOffset_, sizeof next);
    return next;
  }
  void setLink(void* slot, void* next) const noexcept {
    std::memcpy(static_cast<char*>(slot) + linkOffset_, &next, sizeof next);
  }
  void* failArmed() noexcept;
  // A slot from the newest chunk, taking a new chunk when it is used up.
  void* carve() noexcept;

  void* free_ = nullptr;
  char* carve_ = nullptr;  // unused part of the newest chunk
  char* carveEnd_ = nullptr;
  std::size_t live_ = 0;
  std::size_t slotSize_;
  std::size_t linkOffset_;
  std::size_t nextChunk_ = 0;       // 0 until the first chunk
  RecordPool* nextPool_ = nullptr;  // pools that hold chunks, for the gate
};

// Returns `size` bytes, or nullptr when the budget is spent, the system has no
// memory left, or a test asked this allocation to fail. Sizes up to 128
// bytes come from a shared pool per size rounded up to 16.
void* allocateRecord(std::size_t size) noexcept;
// Returns memory from allocateRecord(`size`). Null is ignored.
void releaseRecord(void* memory, std::size_t size) noexcept;

// Test and tuning hooks. Not thread-safe: quarvel lays out on one thread.
class AllocationGate {
 public:
  static void setBudget(std::size_t bytes);
  // The n-th allocation from now (1 = the next one) yields nullptr, once.
  // 0 disarms.
  static void failAt(std::uint64_t n);
  // Budget back to the default, no failure armed, counter cleared.
  static void reset();
  static std::uint64_t allocationCount();
  // Bytes of the records that are live, counted in whole slots.
  static std::size_t bytesInUse();
  // Bytes taken from the system for records: pool chunks and live large
  // records. Never more than the budget.
  static std::size_t bytesHeld();
};

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_ALLOCATION_H_
