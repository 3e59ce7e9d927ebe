#include "markup/column_paragraph.h"

#include <cstddef>

#include "layout/columns.h"
#include "markup/vocabulary.h"

namespace quarvel {
namespace {

bool isColumn(const XmlNode& child) {
  if (child.nodeType() != kElementNode) return false;
  std::optional<std::u16string_view> name = child.nodeName();
  return name && sameNameIgnoringCase(*name, u"div");
}

}  // namespace

void formatColumnParagraph(Formatter& enclosing, LineStyle style, XmlNode par, ColumnWalk walk) {
  enclosing.finishBlock(style);

  std::size_t count = 0;
  for (XmlNode child = par.firstChild(); child; child = child.nextSibling())
    if (isColumn(child)) ++count;

  RecordArray<Formatter> columns(count);
  style.direct = 0;
  std::size_t k = 0;
  for (XmlNode child = par.firstChild(); child; child = child.nextSibling())
    if (isColumn(child)) walk(columns[k++], style, child);

  printColumns(columns, *style.out);
}

}  // namespace quarvel
