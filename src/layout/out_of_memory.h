// The one reaction to a failed allocation: say so on standard error and
// abandon the formatting run (or the loading, when memory runs out there).
#ifndef QUARVEL_LAYOUT_OUT_OF_MEMORY_H_
#define QUARVEL_LAYOUT_OUT_OF_MEMORY_H_

namespace quarvel {

// Thrown only by reportOutOfMemory, caught only by the formatting run.
class CaException {};

// Writes "kestrown: Out of Memory, Process Terminated\n" to standard error.
// Allocates nothing. Whoever catches an allocation failure that did not come
// through reportOutOfMemory (std::bad_alloc) writes the message with this.
void writeOutOfMemoryMessage();

// Writes the message and throws CaException.
[[noreturn]] void reportOutOfMemory();

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_OUT_OF_MEMORY_H_
