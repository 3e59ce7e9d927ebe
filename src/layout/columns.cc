#include "layout/columns.h"

#include "layout/line.h"
#include "layout/line_writer.h"

namespace quarvel {

void printColumns(RecordArray<Formatter>& columns, TextEncoder& out) {
  const std::size_t count = columns.size();
  // One cursor per column: the next kept line to print, or the list's end.
  // Kept lists hold Lines only.
  RecordArray<const ListNode*> cursors(count);
  for (std::size_t i = 0; i < count; ++i) cursors[i] = columns[i].kept().first();

  // The columns a row visits, chained in order: every column with a line
  // left, and every exhausted one that still pads its field. An exhausted
  // column whose field is 0 or less wide writes nothing and leaves the chain,
  // so each visit either prints a line or writes bytes. `count` ends it.
  RecordArray<std::size_t> nextVisited(count);
  std::size_t firstVisited = count;
  for (std::size_t i = count; i-- > 0;) {
    if (cursors[i]->isEnd() && columns[i].maxWidth() <= 0) continue;
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

  while (last > 0) {
    std::size_t* link = &firstVisited;
    for (std::size_t i = firstVisited; i < last; i = *link) {
      const int32_t field = columns[i].maxWidth();
      if (cursors[i]->isEnd()) {
        writeSpaces(field, out);
        link = &nextVisited[i];
        continue;
      }
      print(*static_cast<const Line*>(cursors[i]), out, i == last - 1 ? -1 : field);
      cursors[i] = cursors[i]->next;
      if (cursors[i]->isEnd() && field <= 0)
        *link = nextVisited[i];
      else
        link = &nextVisited[i];
    }
    findLast();
  }
}

}  // namespace quarvel
