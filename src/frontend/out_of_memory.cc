#include "frontend/out_of_memory.h"

#include <cstdio>

namespace quarvel {

void reportOutOfMemory() {
  std::fputs("kestrown: Out of Memory, Process Terminated\n", stderr);
  std::fflush(stderr);
  throw CaException();
}

}  // namespace quarvel
