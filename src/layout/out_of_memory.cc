#include "layout/out_of_memory.h"

#include <cstdio>

namespace quarvel {

const char* CaException::what() const noexcept { return "layout allocation failed"; }

void writeOutOfMemoryMessage() {
  // Fixed byte for byte, "kestrown" included: scripts match it.
  std::fputs("kestrown: Out of Memory, Process Terminated\n", stderr);
  std::fflush(stderr);
}

void reportOutOfMemory() { throw CaException(); }

}  // namespace quarvel
