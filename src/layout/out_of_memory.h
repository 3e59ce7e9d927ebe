// Running out of memory: one exception type for every way it happens, and
// the one place that says so, on standard error, and abandons the
// formatting run (or the loading, or the check).
#ifndef QUARVEL_LAYOUT_OUT_OF_MEMORY_H_
#define QUARVEL_LAYOUT_OUT_OF_MEMORY_H_

#include <new>

namespace quarvel {

// What the layout throws when its allocation gate yields nothing. It is a
// std::bad_alloc, so that one catch takes it and the failures of new alike.
class CaException : public std::bad_alloc {
 public:
  const char* what() const noexcept override;
};

// Throws CaException. Writes nothing: the message is written where the run
// is abandoned (completesOrRunsOut).
[[noreturn]] void reportOutOfMemory();

// Writes "kestrown: Out of Memory, Process Terminated\n" to standard error.
// Allocates nothing. For completesOrRunsOut only.
void writeOutOfMemoryMessage();

// Runs `work()` and returns true. When memory runs out in it (std::bad_alloc,
// CaException included), writes the out-of-memory message, the only place
// that does, and returns false. Other exceptions pass through.
template <typename Work>
bool completesOrRunsOut(Work&& work) {
  try {
    work();
    return true;
  } catch (const std::bad_alloc&) {
    writeOutOfMemoryMessage();
    return false;
  }
}

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_OUT_OF_MEMORY_H_
