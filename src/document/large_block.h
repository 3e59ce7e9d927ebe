// Memory for the document store, which grows by large fixed blocks that live
// as long as the document: asked of the system directly, and on Linux as
// transparent huge pages, so that filling a block faults a few times instead
// of once every 4 KiB.
#ifndef QUARVEL_DOCUMENT_LARGE_BLOCK_H_
#define QUARVEL_DOCUMENT_LARGE_BLOCK_H_

#include <cassert>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

namespace quarvel {

struct LargeBlockRelease {
  std::size_t bytes = 0;
  void operator()(void* block) const;
};
using LargeBlock = std::unique_ptr<void, LargeBlockRelease>;

// Whether a block is worth huge pages: the first block of a kind is not, so
// that a small document touches only the small pages it fills (a huge page is
// 2 MiB of memory, cleared, on its first touch).
enum class Pages { kSmall, kHuge };

// `bytes` (> 0) of uninitialised memory aligned for any object. Throws
// std::bad_alloc when the system refuses.
LargeBlock allocateLargeBlock(std::size_t bytes, Pages pages = Pages::kHuge);

// The size of block that huge pages serve best.
inline constexpr std::size_t kLargeBlockBytes = std::size_t{2} << 20;

// A growing array of plain records kept in large blocks: appending never
// moves or copies what the array holds, and items stay where they are until
// popped or destroyed.
template <typename T>
class BlockArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
  static constexpr std::size_t kShift = 16;
  static constexpr std::size_t kPerBlock = std::size_t{1} << kShift;
  static_assert(sizeof(T) * kPerBlock <= 2 * kLargeBlockBytes);

 public:
  std::size_t size() const { return size_; }

  T& operator[](std::size_t i) {
    assert(i < size_);
    return static_cast<T*>(blocks_[i >> kShift].get())[i & (kPerBlock - 1)];
  }
  const T& operator[](std::size_t i) const {
    assert(i < size_);
    return static_cast<const T*>(blocks_[i >> kShift].get())[i & (kPerBlock - 1)];
  }

  void push_back(const T& item) {
    if ((size_ >> kShift) == blocks_.size())
      blocks_.push_back(allocateLargeBlock(sizeof(T) * kPerBlock,
                                           blocks_.empty() ? Pages::kSmall : Pages::kHuge));
    std::memcpy(&static_cast<T*>(blocks_[size_ >> kShift].get())[size_ & (kPerBlock - 1)], &item,
                sizeof(T));
    ++size_;
  }

  void pop_back() {
    assert(size_ > 0);
    --size_;
  }

 private:
  std::vector<LargeBlock> blocks_;
  std::size_t size_ = 0;
};

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_LARGE_BLOCK_H_
