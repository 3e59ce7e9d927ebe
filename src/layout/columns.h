// Columns set side by side: the kept lines of several Formatters printed
// row by row, each column padded to its width, and the array of records
// they are held in.
#ifndef QUARVEL_LAYOUT_COLUMNS_H_
#define QUARVEL_LAYOUT_COLUMNS_H_

#include <cstddef>
#include <cstdint>
#include <new>

#include "layout/allocation.h"
#include "layout/formatter.h"
#include "layout/out_of_memory.h"
#include "platform/text_output.h"

namespace quarvel {

// An array of `count` value-initialised records from the layout allocator;
// stops the run (reportOutOfMemory) when it can't be had, and destroys its
// elements with it. Never copied.
template <typename T>
class RecordArray {
 public:
  explicit RecordArray(std::size_t count) : count_(count) {
    if (count == 0) return;
    void* memory = count > SIZE_MAX / sizeof(T) ? nullptr : allocateRecord(count * sizeof(T));
    if (memory == nullptr) reportOutOfMemory();
    items_ = static_cast<T*>(memory);
    for (std::size_t i = 0; i < count; ++i) new (&items_[i]) T();
  }
  ~RecordArray() {
    for (std::size_t i = 0; i < count_; ++i) items_[i].~T();
    releaseRecord(items_, count_ * sizeof(T));
  }
  RecordArray(const RecordArray&) = delete;
  RecordArray& operator=(const RecordArray&) = delete;

  T& operator[](std::size_t i) { return items_[i]; }
  std::size_t size() const { return count_; }

 private:
  T* items_ = nullptr;
  std::size_t count_;
};

// Prints the kept lines of `columns` to `out`, one output row per line
// index: each column's line padded to the column's maxWidth, a column whose
// lines ran out as that many spaces, and the row ended with CR LF after the
// last column that still has a line. The lines stay the columns'. Time is
// linear in the lines and the bytes written.
void printColumns(RecordArray<Formatter>& columns, TextEncoder& out);

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_COLUMNS_H_
