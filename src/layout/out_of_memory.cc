#include "layout/out_of_memory.h"

#include <cstdio>

namespace quarvel {

void writeOutOfMemoryMessage() {
  std::fputs("kestrown: Out of Memory, Process Terminated\n", stderr);
  std::fflush(stderr);
}

void reportOutOfMemory() {
  writeOutOfMemoryMessage();
  throw CaException();
}

}  // namespace quarvel
