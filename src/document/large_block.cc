#include "document/large_block.h"

#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quarvel {

#if defined(__linux__)

LargeBlock allocateLargeBlock(std::size_t bytes, Pages pages) {
  // Huge pages serve only the aligned part of a mapping: map a huge page
  // more than needed and keep the aligned stretch.
  const std::size_t align = kLargeBlockBytes;
  if (bytes > SIZE_MAX - 2 * align) throw std::bad_alloc();
  bytes = (bytes + align - 1) / align * align;
  void* mapped =
      mmap(nullptr, bytes + align, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  auto* const start = static_cast<char*>(mapped);
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(start);
  const std::size_t head = (align - address % align) % align;
  if (head != 0) munmap(start, head);
  munmap(start + head + bytes, align - head);
  char* const block = start + head;
#ifdef MADV_HUGEPAGE
  // Only advice: where huge pages are off, the block is served in small
  // pages as before.
  if (pages == Pages::kHuge) madvise(block, bytes, MADV_HUGEPAGE);
#endif
  return LargeBlock(block, LargeBlockRelease{bytes});
}

void LargeBlockRelease::operator()(void* block) const { munmap(block, bytes); }

#else

LargeBlock allocateLargeBlock(std::size_t bytes, Pages) {
  return LargeBlock(::operator new(bytes), LargeBlockRelease{bytes});
}

void LargeBlockRelease::operator()(void* block) const { ::operator delete(block); }

#endif

}  // namespace quarvel
