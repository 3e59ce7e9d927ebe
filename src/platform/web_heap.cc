// The web build's malloc: the C library's own (dlmalloc, which emscripten
// also names emscripten_builtin_*), with every block counted by its usable
// size, so that a budget can bound one call (heap_budget.h). Linked into the
// module directly, so that it takes the place of the library's weak malloc.
#include <errno.h>
#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/heap_budget.h"

extern "C" {
void* emscripten_builtin_malloc(std::size_t size);
void emscripten_builtin_free(void* block);
void* emscripten_builtin_memalign(std::size_t alignment, std::size_t size);
}

namespace {

std::size_t inUse = 0;
std::size_t limit = SIZE_MAX;

bool fits(std::size_t size) { return size <= limit && inUse <= limit - size; }

void* counted(void* block) {
  if (block != nullptr)
    inUse += malloc_usable_size(block);
  else
    errno = ENOMEM;
  return block;
}

void* allocate(std::size_t alignment, std::size_t size) {
  if (!fits(size)) {
    errno = ENOMEM;
    return nullptr;
  }
  return counted(alignment == 0 ? emscripten_builtin_malloc(size)
                                : emscripten_builtin_memalign(alignment, size));
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) { return allocate(0, size); }

void free(void* block) {
  if (block == nullptr) return;
  inUse -= malloc_usable_size(block);
  emscripten_builtin_free(block);
}

void* calloc(std::size_t count, std::size_t size) {
  if (size != 0 && count > SIZE_MAX / size) {
    errno = ENOMEM;
    return nullptr;
  }
  void* block = allocate(0, count * size);
  if (block != nullptr) std::memset(block, 0, count * size);
  return block;
}

void* realloc(void* block, std::size_t size) {
  if (block == nullptr) return allocate(0, size);
  const std::size_t old = malloc_usable_size(block);
  if (size <= old) return block;
  void* moved = allocate(0, size);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, block, old);
  free(block);
  return moved;
}

void* memalign(std::size_t alignment, std::size_t size) { return allocate(alignment, size); }

void* aligned_alloc(std::size_t alignment, std::size_t size) { return allocate(alignment, size); }

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  void* block = allocate(alignment, size);
  if (block == nullptr) return ENOMEM;
  *result = block;
  return 0;
}

}  // extern "C"

namespace quarvel {

std::size_t heapInUse() { return inUse; }

void limitHeap(std::size_t bytes) { limit = bytes > SIZE_MAX - inUse ? SIZE_MAX : inUse + bytes; }

void unlimitHeap() { limit = SIZE_MAX; }

}  // namespace quarvel
