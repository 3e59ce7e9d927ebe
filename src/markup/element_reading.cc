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
                  listed(Element::kDiv, u"rightmargin") && listed(Element::kDiv, kWrapAttribute) &&
                  listed(Element::kDiv, u"widths") && listed(Element::kDiv, u"linebreak") &&
                  listed(Element::kQuarvel, kWrapAttribute) &&
                  listed(Element::kQuarvel, u"widths") && listed(Element::kQuarvel, u"linebreak"),
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

  // The value of `name` among `values` (exact names, in the order of
  // `Setting`'s values); anything else is reported as `unknown` and ignored.
  template <typename Setting, std::size_t N>
  std::optional<Setting> choice(std::u16string_view name, const std::u16string_view (&values)[N],
                                ReadingIssue::Kind unknown) {
    const std::optional<std::u16string> value = node_.getAttribute(name);
    if (!value) return std::nullopt;
    for (std::size_t i = 0; i < N; ++i)
      if (*value == values[i]) return static_cast<Setting>(i);
    if (sink_) sink_(ReadingIssue{unknown, name, *value});
    return std::nullopt;
  }

  void readBlockSettings(ElementSettings& settings) {
    static constexpr std::u16string_view kWidths[] = {u"fixed", u"unicode"};
    static constexpr std::u16string_view kLineBreaks[] = {u"normal", u"strict"};
    settings.wrap = wrap();
    settings.widths = choice<Widths>(u"widths", kWidths, ReadingIssue::Kind::kUnknownWidths);
    settings.linebreak =
        choice<LineBreak>(u"linebreak", kLineBreaks, ReadingIssue::Kind::kUnknownLineBreak);
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
  if (widths) style.widths = *widths;
  if (linebreak) style.linebreak = *linebreak;
  if (pre) style.pre = 1;
}

ElementSettings readElement(const XmlNode& node, Element kind, const ReadingSink& sink) {
  if (kind == Element::kOther) return {};
  const bool nestedRoot = kind == Element::kQuarvel && !node.isDocumentElement();
  if (sink) {
    const ElementEntry& entry = kElements[static_cast<std::size_t>(kind)];
    for (std::uint32_t i = 0; i < node.attributeCount(); ++i) {
      const std::u16string_view name = node.attributeName(i);
      if (readByTheLoader(name)) continue;
      if (!readsAttribute(entry, name))
        sink(ReadingIssue{ReadingIssue::Kind::kUnreadAttribute, name, {}, 0, i});
      else if (nestedRoot)
        sink(ReadingIssue{ReadingIssue::Kind::kNotDocumentElement, name, {}, 0, i});
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
      reader.readBlockSettings(settings);
      break;
    case Element::kPre:
      settings.pre = true;
      settings.align = kAlignLeft;
      break;
    case Element::kQuarvel:
      if (!nestedRoot) reader.readBlockSettings(settings);
      break;
    case Element::kBr:
    case Element::kNonbreak:
    case Element::kPar:
    case Element::kOther:
      break;
  }
  return settings;
}

}  // namespace quarvel
