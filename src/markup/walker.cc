#include "markup/walker.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

#include "base/utf16.h"
#include "markup/column_paragraph.h"
#include "markup/integer_rule.h"
#include "markup/vocabulary.h"

namespace quarvel {
namespace {

// The attributes read below are the ones the vocabulary lists.
constexpr bool listed(Element element, std::u16string_view attribute) {
  for (std::u16string_view name : kElements[static_cast<std::size_t>(element)].attributes)
    if (name == attribute) return true;
  return false;
}
static_assert(listed(Element::kUnderline, u"char") && listed(Element::kSpace, u"repeat") &&
                  listed(Element::kDiv, u"width") && listed(Element::kDiv, u"leftmargin") &&
                  listed(Element::kDiv, u"rightmargin") && listed(Element::kDiv, u"wrap"),
              "an attribute the walker reads is missing from kElements");

Element elementFor(std::u16string_view name) {
  const ElementEntry* entry = findElement(name);
  return entry != nullptr ? entry->kind : Element::kOther;
}

bool endsBlock(Element element) {
  return element != Element::kOther && kElements[static_cast<std::size_t>(element)].endsBlock;
}

int32_t saturate(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

void putSpaces(FormatState& state, const XmlNode& element) {
  std::optional<std::u16string> repeat = element.getAttribute(u"repeat");
  const int32_t count = repeat ? readInteger(*repeat) : 1;
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

void startDiv(FormatState& state, const XmlNode& element) {
  LineStyle& style = state.style;
  state.formatter.finishBlock(style);
  if (auto v = element.getAttribute(u"width")) style.width = readInteger(*v);
  if (auto v = element.getAttribute(u"leftmargin")) style.leftMargin = readInteger(*v);
  if (auto v = element.getAttribute(u"rightmargin")) style.rightMargin = readInteger(*v);
  if (auto v = element.getAttribute(kWrapAttribute)) {
    if (*v == u"word") style.wrap = Wrap::kWord;
    if (*v == u"char") style.wrap = Wrap::kChar;
  }
  const int32_t extent =
      saturate(static_cast<int64_t>(style.leftMargin) + style.width + style.rightMargin);
  state.formatter.maxWidth = std::max(state.formatter.maxWidth, extent);
}

// Places the text of the whole subtree as one run: it goes onto the current
// line when the line stays within width + rightMargin, otherwise whole onto
// the next line, with no further width test.
void placeRun(FormatState& state, const XmlNode& element) {
  std::u16string storage;
  const std::u16string_view text = element.text(storage);
  Formatter& f = state.formatter;
  const LineStyle& style = state.style;
  if (style.pre != 0) {
    f.putText(text, style);
    return;
  }
  int64_t runWidth = 0;
  for (char16_t ch : text) runWidth += displayWidth(ch);
  const int64_t limit = static_cast<int64_t>(style.width) + style.rightMargin;
  if (f.current == nullptr) {
    f.current = newLine(style);
  } else if (f.current->lineWidth() + runWidth > limit) {
    f.breakLine(style);
    if (f.current == nullptr) f.current = newLine(style);
  }
  {
    GlyphList::Appender appender(f.current->glyphs);
    RecordPool::Run glyphs(Glyph::pool);
    for (char16_t ch : text) appender.add(newGlyph(glyphs, ch, style.underline));
  }
  // No word that follows reaches back into the run.
  f.current->glyphs.closeWordAfterRun(
      static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX)));
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
    switch (*element) {
      case Element::kLeft:
      case Element::kRight:
      case Element::kCenter:
        f.finishBlock(style);
        style.align = *element == Element::kLeft    ? kAlignLeft
                      : *element == Element::kRight ? kAlignRight
                                                    : kAlignCenter;
        break;
      case Element::kUnderline: {
        std::optional<std::u16string> ch = node.getAttribute(u"char");
        style.underline = ch ? (*ch)[0] : u'-';
        // An underline cell holds one code unit, which half a pair is not:
        // such a character is drawn as U+FFFD, as wide as the half was.
        if (isSurrogate(style.underline)) style.underline = 0xFFFD;
        break;
      }
      case Element::kBr:
        f.breakLine(style);
        break;
      case Element::kSpace:
        putSpaces(state, node);
        break;
      case Element::kDiv:
        startDiv(state, node);
        break;
      case Element::kPre:
        f.finishBlock(style);
        style.pre = 1;
        style.align = kAlignLeft;
        break;
      case Element::kNonbreak:
        placeRun(state, node);
        return;
      case Element::kPar:
        formatColumnParagraph(f, style, node);
        return;
      case Element::kQuarvel:
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

  if (element && endsBlock(*element)) f.finishBlock(style);
}

}  // namespace quarvel
