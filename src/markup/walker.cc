#include "markup/walker.h"

#include <optional>
#include <string>

#include "markup/column_paragraph.h"
#include "markup/element_reading.h"
#include "markup/vocabulary.h"

namespace quarvel {
namespace {

Element elementFor(std::u16string_view name) {
  const ElementEntry* entry = findElement(name);
  return entry != nullptr ? entry->kind : Element::kOther;
}

bool endsBlock(Element element) {
  return element != Element::kOther && kElements[static_cast<std::size_t>(element)].endsBlock;
}

void putSpaces(FormatState& state, int32_t count) {
  Formatter& f = state.formatter;
  for (int32_t i = 0; i < count; ++i) {
    // Once the output has failed nothing more can reach it; stop early rather
    // than spin through a huge count.
    if ((i & 0xFFFF) == 0xFFFF && state.style.direct != 0 && state.style.out->failed()) return;
    if (state.style.pre != 0)
      f.putUnwrapped(u' ', state.style);
    else
      f.putChar(u' ', state.style);
  }
}

void walkColumn(Formatter& column, const LineStyle& style, XmlNode div) {
  walkNode(FormatState{column, style}, div);
}

}  // namespace

void walkNode(FormatState state, XmlNode node) {
  const int type = node.nodeType();
  std::optional<Element> element;
  if (type == kElementNode) {
    if (std::optional<std::u16string_view> name = node.nodeName()) element = elementFor(*name);
  }

  Formatter& f = state.formatter;
  LineStyle& style = state.style;
  if (element) {
    const ElementSettings settings = readElement(node, *element);
    switch (*element) {
      case Element::kLeft:
      case Element::kRight:
      case Element::kCenter:
      case Element::kPre:
        f.finishBlock(style);
        settings.applyTo(style);
        break;
      case Element::kDiv:
        f.finishBlock(style);
        settings.applyTo(style);
        f.noteBlockExtent(style);
        break;
      case Element::kUnderline:
        settings.applyTo(style);
        break;
      case Element::kBr:
        f.breakLine(style);
        break;
      case Element::kSpace:
        putSpaces(state, settings.repeat);
        break;
      case Element::kNonbreak: {
        // The text of the whole subtree is one run; its elements do nothing.
        std::u16string storage;
        f.putRun(node.text(storage), style);
        return;
      }
      case Element::kPar:
        formatColumnParagraph(f, style, node, walkColumn);
        return;
      case Element::kQuarvel:
        settings.applyTo(style);
        break;
      case Element::kOther:
        break;
    }
  } else if (type == kTextNode || type == kCDataSectionNode) {
    if (std::optional<std::u16string_view> value = node.nodeValue()) f.putText(*value, style);
  }

  // Word mode reads the white space between elements too; `pre` and char
  // mode never see it.
  if (style.wrap == Wrap::kWord && style.pre == 0) {
    for (XmlNode child = node.firstChildKeepingBlanks(); child;
         child = child.nextSiblingKeepingBlanks())
      walkNode(FormatState{f, style}, child);
  } else {
    for (XmlNode child = node.firstChild(); child; child = child.nextSibling())
      walkNode(FormatState{f, style}, child);
  }

  // The document element's settings hold to the end, the final block end
  // included; the run's own finishBlock then finds nothing left.
  if (element &&
      (endsBlock(*element) || (*element == Element::kQuarvel && node.isDocumentElement())))
    f.finishBlock(style);
}

}  // namespace quarvel
