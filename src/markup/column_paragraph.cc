#include "markup/column_paragraph.h"

#include <cstddef>
#include <new>

#include "layout/allocation.h"
#include "layout/line_writer.h"
#include "layout/out_of_memory.h"
#include "markup/walker.h"

namespace quarvel {
namespace {

bool isColumn(const XmlNode& child) {
  if (child.nodeType() != kElementNode) return false;
  std::optional<std::u16string_view> name = child.nodeName();
  return name && sameNameIgnoringCase(*name, u"div");
}

// An array of records from the layout allocator; stops the run when it
// can't be had, and destroys its elements with it.
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

 private:
  T* items_ = nullptr;
  std::size_t count_;
};

}  // namespace

void formatColumnParagraph(Formatter& enclosing, LineStyle style, XmlNode par) {
  enclosing.finishBlock(style);

  std::size_t count = 0;
  for (XmlNode child = par.firstChild(); child; child = child.nextSibling())
    if (isColumn(child)) ++count;

  RecordArray<Formatter> columns(count);
  style.direct = 0;
  std::size_t k = 0;
  for (XmlNode child = par.firstChild(); child; child = child.nextSibling())
    if (isColumn(child)) walkNode(FormatState{columns[k++], style}, child);

  // One cursor per column: the next kept line to print, or the list's end.
  RecordArray<ListNode*> cursors(count);
  for (std::size_t i = 0; i < count; ++i) cursors[i] = columns[i].kept.first();

  // The columns a row visits, chained in order: every column with a line
  // left, and every exhausted one that still pads its field. An exhausted
  // column whose field is 0 or less wide writes nothing and leaves the chain,
  // so each visit either prints a line or writes bytes. `count` ends it.
  RecordArray<std::size_t> nextVisited(count);
  std::size_t firstVisited = count;
  for (std::size_t i = count; i-- > 0;) {
    if (cursors[i]->isEnd() && columns[i].maxWidth <= 0) continue;
    nextVisited[i] = firstVisited;
    firstVisited = i;
  }
  // One past the last column with a line left, which ends each row. Columns
  // only run out, so it only moves left: once past each column in all.
  std::size_t last = count;
  auto findLast = [&] {
    while (last > 0 && cursors[last - 1]->isEnd()) --last;
  };
  findLast();

  TextEncoder& out = *style.out;
  while (last > 0) {
    std::size_t* link = &firstVisited;
    for (std::size_t i = firstVisited; i < last; i = *link) {
      if (cursors[i]->isEnd()) {
        writeSpaces(columns[i].maxWidth, out);
        link = &nextVisited[i];
        continue;
      }
      print(*static_cast<Line*>(cursors[i]), out, i == last - 1 ? -1 : columns[i].maxWidth);
      cursors[i] = cursors[i]->next;
      if (cursors[i]->isEnd() && columns[i].maxWidth <= 0)
        *link = nextVisited[i];
      else
        link = &nextVisited[i];
    }
    findLast();
  }
}

}  // namespace quarvel
