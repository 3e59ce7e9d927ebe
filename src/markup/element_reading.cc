#include "markup/element_reading.h"

#include <string>

#include "base/utf16.h"
#include "markup/integer_rule.h"

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
                  listed(Element::kDiv, u"rightmargin") && listed(Element::kDiv, kWrapAttribute),
              "an attribute read here is missing from kElements");

bool readByTheLoader(std::u16string_view name) {
  return name == u"xml:space" || name == u"xmlns" || name.starts_with(u"xmlns:");
}

class Reader {
 public:
  Reader(const XmlNode& node, const ReadingSink& sink) : node_(node), sink_(sink) {}

  std::optional<int32_t> integer(std::u16string_view name) {
    const std::optional<std::u16string> value = node_.getAttribute(name);
    if (!value) return std::nullopt;
    const IntegerReading reading = readInteger(*value);
    if (sink_ && (!reading.wellFormed || reading.saturates)) {
      sink_(ReadingIssue{
          reading.wellFormed ? ReadingIssue::Kind::kOutOfRange : ReadingIssue::Kind::kNotAnInteger,
          name, *value, reading.value});
    }
    return reading.value;
  }

  std::optional<Wrap> wrap() {
    const std::optional<std::u16string> value = node_.getAttribute(kWrapAttribute);
    if (!value) return std::nullopt;
    if (*value == u"word") return Wrap::kWord;
    if (*value == u"char") return Wrap::kChar;
    if (sink_) sink_(ReadingIssue{ReadingIssue::Kind::kUnknownWrap, kWrapAttribute, *value});
    return std::nullopt;
  }

  char16_t underline() {
    const std::optional<std::u16string> value = node_.getAttribute(u"char");
    if (!value) return u'-';
    const char16_t first = value->empty() ? u'\0' : (*value)[0];
    if (sink_) {
      const bool pair =
          value->size() == 2 && isHighSurrogate((*value)[0]) && isLowSurrogate((*value)[1]);
      if (value->size() > 1 && !pair)
        sink_(ReadingIssue{ReadingIssue::Kind::kLongChar, u"char", *value});
      else if (isSurrogate(first))
        sink_(ReadingIssue{ReadingIssue::Kind::kCharBeyondCell, u"char", *value});
    }
    // An underline cell holds one code unit, which half a pair is not: such
    // a character is drawn as U+FFFD, as wide as the half was.
    return isSurrogate(first) ? char16_t{0xFFFD} : first;
  }

 private:
  const XmlNode& node_;
  const ReadingSink& sink_;
};

}  // namespace

void ElementSettings::applyTo(LineStyle& style) const {
  if (align) style.align = *align;
  if (underline) style.underline = *underline;
  if (width) style.width = *width;
  if (leftMargin) style.leftMargin = *leftMargin;
  if (rightMargin) style.rightMargin = *rightMargin;
  if (wrap) style.wrap = *wrap;
  if (pre) style.pre = 1;
}

ElementSettings readElement(const XmlNode& node, Element kind, const ReadingSink& sink) {
  if (kind == Element::kOther) return {};
  if (sink) {
    const ElementEntry& entry = kElements[static_cast<std::size_t>(kind)];
    for (std::uint32_t i = 0; i < node.attributeCount(); ++i) {
      const std::u16string_view name = node.attributeName(i);
      if (!readByTheLoader(name) && !readsAttribute(entry, name))
        sink(ReadingIssue{ReadingIssue::Kind::kUnreadAttribute, name, {}});
    }
  }
  Reader reader(node, sink);
  ElementSettings settings;
  switch (kind) {
    case Element::kLeft:
      settings.align = kAlignLeft;
      break;
    case Element::kRight:
      settings.align = kAlignRight;
      break;
    case Element::kCenter:
      settings.align = kAlignCenter;
      break;
    case Element::kUnderline:
      settings.underline = reader.underline();
      break;
    case Element::kSpace:
      settings.repeat = reader.integer(u"repeat").value_or(1);
      break;
    case Element::kDiv:
      settings.width = reader.integer(u"width");
      settings.leftMargin = reader.integer(u"leftmargin");
      settings.rightMargin = reader.integer(u"rightmargin");
      settings.wrap = reader.wrap();
      break;
    case Element::kPre:
      settings.pre = true;
      settings.align = kAlignLeft;
      break;
    case Element::kQuarvel:
    case Element::kBr:
    case Element::kNonbreak:
    case Element::kPar:
    case Element::kOther:
      break;
  }
  return settings;
}

}  // namespace quarvel
