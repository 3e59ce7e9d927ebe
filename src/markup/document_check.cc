#include "markup/document_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "base/edit_distance.h"
#include "base/utf16.h"
#include "layout/glyph.h"
#include "layout/text_measure.h"
#include "markup/element_reading.h"
#include "markup/integer_rule.h"
#include "markup/vocabulary.h"

namespace quarvel {
namespace {

// Names and values are quoted and compared from their first this many code
// units: a hostile name may be megabytes long.
constexpr std::size_t kQuotedUnits = 40;
static_assert(kQuotedUnits <= kMaxEditedUnits);
// A name is offered as "did you mean" within this many edits.
constexpr std::size_t kNearEdits = 2;

// `text` cut to kQuotedUnits (never inside a pair), control characters as
// '?', in single quotes.
std::u16string quoted(std::u16string_view text) {
  const std::size_t length = keptUnits(text, kQuotedUnits);
  std::u16string out = u"'";
  for (char16_t c : text.substr(0, length)) out.push_back(c < 0x20 || c == 0x7F ? u'?' : c);
  if (length < text.size()) out += u"...";
  out += u"'";
  return out;
}

// Names are near one another ignoring ASCII case.
bool sameIgnoringCase(char16_t a, char16_t b) { return asciiLower(a) == asciiLower(b); }

// The nearest of `candidates` within kNearEdits edits of `name`, or none.
template <typename Names>
std::optional<std::u16string_view> nearest(std::u16string_view name, const Names& candidates) {
  if (name.size() > kQuotedUnits) return std::nullopt;
  std::optional<std::u16string_view> best;
  std::size_t bestDistance = kNearEdits + 1;
  for (std::u16string_view candidate : candidates) {
    if (candidate.empty() || candidate.size() > kQuotedUnits) continue;
    const std::size_t distance = editDistance(name, candidate, sameIgnoringCase);
    if (distance < bestDistance && distance < name.size()) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

std::u16string withSuggestion(std::u16string message, std::optional<std::u16string_view> near) {
  if (near) message += u"; did you mean " + quoted(*near) + u"?";
  return message;
}

std::u16string decimal(int64_t value) {
  const std::string digits = std::to_string(value);
  return {digits.begin(), digits.end()};
}

// The state the walker would be in: inside pre, word wrapped, inside a par,
// and the settings of the block in force.
struct Context {
  bool pre = false;
  bool wordWrap = false;
  bool inPar = false;
  int32_t align = LineStyle{}.align;
  int32_t width = LineStyle{}.width;
  int32_t rightMargin = LineStyle{}.rightMargin;
  Widths widths = LineStyle{}.widths;
};

// A width, margin or repeat count beyond this many columns makes rows that
// no page or screen shows (and a huge value, gigabytes of spaces).
constexpr int32_t kMostColumns = 10'000;

// Where HTML habits point in quarvel's vocabulary: an element name (lower
// case) and what to write instead.
struct HtmlHabit {
  std::u16string_view name;
  std::u16string_view instead;
};
constexpr HtmlHabit kHtmlElements[] = {
    {u"p", u"a paragraph is 'left' (or 'div' for its own width and margins)"},
    {u"b", u"there is no bold; 'underline' marks text"},
    {u"strong", u"there is no bold; 'underline' marks text"},
    {u"i", u"there are no italics; 'underline' marks text"},
    {u"em", u"there are no italics; 'underline' marks text"},
    {u"u", u"underlined text is 'underline'"},
    {u"hr", u"a rule is an 'underline' of spaces, <underline><space repeat=\"62\"/></underline>"},
    {u"table", u"columns side by side are a 'par' holding a 'div' for each column"},
    {u"tr", u"a row of columns is a 'par'"},
    {u"td", u"a column is a 'div' inside a 'par'"},
    {u"centre", u"did you mean 'center'?"},
};
constexpr std::u16string_view kHtmlAlign =
    u"alignment is an element: put the text in 'left', 'right' or 'center'";

const HtmlHabit* htmlHabit(std::u16string_view name) {
  for (const HtmlHabit& habit : kHtmlElements)
    if (equalIgnoringAsciiCase(name, habit.name)) return &habit;
  return nullptr;
}

bool isPrefixed(std::u16string_view name) { return name.find(u':') != std::u16string_view::npos; }

// Columns that `text` takes under `widths`, as the layout measures it
// (saturating).
int64_t columnsOf(std::u16string_view text, Widths widths) {
  int64_t columns = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (widths == Widths::kFixed) {
      columns += displayWidth(unit);
      continue;
    }
    char32_t c = unit;
    if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    columns += unicodeWidth(c);
  }
  return columns;
}

// The message for what reading an element found.
std::u16string issueMessage(std::u16string_view element, const ElementEntry& entry,
                            const ReadingIssue& issue) {
  const std::u16string value = quoted(issue.value);
  const std::u16string attribute = u"attribute " + quoted(issue.attribute) + u" value " + value;
  switch (issue.kind) {
    case ReadingIssue::Kind::kUnreadAttribute:
      if (isPrefixed(issue.attribute)) {
        return u"attribute " + quoted(issue.attribute) +
               u" has a prefix, and prefixed names are not read (ignored)";
      }
      if (issue.attribute == u"align") {
        return u"element " + quoted(element) + u" does not read attribute 'align'; " +
               std::u16string(kHtmlAlign);
      }
      return withSuggestion(
          u"element " + quoted(element) + u" does not read attribute " + quoted(issue.attribute),
          nearest(issue.attribute, entry.attributes));
    case ReadingIssue::Kind::kNotAnInteger:
      return attribute + u" is not an integer (read as " + decimal(issue.readAs) + u")";
    case ReadingIssue::Kind::kOutOfRange:
      return attribute + u" is out of range (read as " + decimal(issue.readAs) + u")";
    case ReadingIssue::Kind::kUnknownWrap:
      return attribute + u" is neither 'word' nor 'char' (ignored)";
    case ReadingIssue::Kind::kUnknownWidths:
      return attribute + u" is neither 'fixed' nor 'unicode' (ignored)";
    case ReadingIssue::Kind::kUnknownLineBreak:
      return attribute + u" is neither 'normal' nor 'strict' (ignored)";
    case ReadingIssue::Kind::kNotDocumentElement:
      return u"attribute " + quoted(issue.attribute) +
             u" is read only on the document element (ignored on a nested " + quoted(element) +
             u")";
    case ReadingIssue::Kind::kLongChar:
      return attribute + u" is more than one character (only the first is drawn)";
    case ReadingIssue::Kind::kCharBeyondCell:
      // Not quoted: a message in a code page without it would show "??".
      return u"attribute " + quoted(issue.attribute) +
             u" is a character beyond U+FFFF, which does not fit an underline cell (drawn as "
             u"U+FFFD)";
  }
  return {};
}

class Checker {
 public:
  explicit Checker(const FindingSink& sink) : sink_(sink) {}

  void element(XmlNode node, Context context) {
    const NodePosition at = node.position().value_or(NodePosition{0, 0});
    const std::u16string_view name = node.nodeName().value_or(u"");
    const ElementEntry* entry = findElement(name);
    if (entry == nullptr) {
      add(at, [&] { return unknownElement(name); });
    } else {
      const ElementSettings settings = readElement(node, entry->kind, [&](const ReadingIssue& i) {
        add(attributeAt(node, i.attribute, i.index, at),
            [&] { return issueMessage(name, *entry, i); });
      });
      columnCounts(node, settings, at);
      if (settings.pre) context.pre = true;
      if (settings.wrap) context.wordWrap = *settings.wrap == Wrap::kWord;
      if (settings.align) context.align = *settings.align;
      if (settings.width) context.width = *settings.width;
      if (settings.rightMargin) context.rightMargin = *settings.rightMargin;
      if (settings.widths) context.widths = *settings.widths;
      if (entry->kind == Element::kNonbreak) {
        nonbreakWidth(node, at, context);
        nonbreak(node);
        return;
      }
      if (entry->kind == Element::kPar) {
        if (context.inPar)
          add(at, [] { return u"par inside a par: its rows print before the outer par's"; });
        par(node, at, context);
        return;
      }
    }
    children(node, at, context, entry != nullptr && entry->endsBlock);
  }

 private:
  std::u16string unknownElement(std::u16string_view name) {
    if (isPrefixed(name)) {
      return u"element " + quoted(name) +
             u" has a prefix, and prefixed names are not read (a plain container)";
    }
    if (const HtmlHabit* habit = htmlHabit(name)) {
      return u"unknown element " + quoted(name) + u"; " + std::u16string(habit->instead);
    }
    return withSuggestion(u"unknown element " + quoted(name), nearestElement(name));
  }

  // Where the attribute `name` (the `index`-th, when known) stands in its
  // tag; `at`, its element's position, when that is not recorded.
  static NodePosition attributeAt(const XmlNode& node, std::u16string_view name,
                                  std::uint32_t index, NodePosition at) {
    if (index == ReadingIssue::kNoIndex) {
      // A read attribute: one of a few names, looked up once each.
      for (std::uint32_t i = 0; i < node.attributeCount(); ++i) {
        if (node.attributeName(i) == name) {
          index = i;
          break;
        }
      }
    }
    if (index == ReadingIssue::kNoIndex) return at;
    return node.attributePosition(index).value_or(at);
  }

  // Widths below 1, negative margins and counts, and any of them beyond
  // kMostColumns (values that are no integer or out of range are reported
  // by the reading already).
  void columnCounts(const XmlNode& node, const ElementSettings& settings, NodePosition at) {
    const std::pair<std::u16string_view, std::optional<int32_t>> counts[] = {
        {u"width", settings.width},
        {u"leftmargin", settings.leftMargin},
        {u"rightmargin", settings.rightMargin},
        {u"repeat", node.getAttribute(u"repeat") ? std::optional(settings.repeat) : std::nullopt},
    };
    for (const auto& count : counts) {
      // Not a structured binding: the message lambda below captures it.
      const std::u16string_view name = count.first;
      const std::optional<int32_t>& value = count.second;
      if (!value) continue;
      const std::optional<std::u16string> text = node.getAttribute(name);
      if (!text) continue;
      const IntegerReading reading = readInteger(*text);
      if (!reading.wellFormed || reading.saturates) continue;
      std::u16string problem;
      if (name == u"width" && *value < 1) {
        problem = u" is below 1 (every row then holds one character)";
      } else if (*value < 0) {
        problem = name == u"repeat" ? u" is negative (no space is put)"
                                    : u" is negative (read as 0 columns)";
      } else if (*value > kMostColumns) {
        problem = u" is more than 10,000 columns (rows that long, spaces and all, are written)";
      }
      if (problem.empty()) continue;
      add(attributeAt(node, name, ReadingIssue::kNoIndex, at),
          [&] { return u"attribute " + quoted(name) + u" value " + quoted(*text) + problem; });
    }
  }

  // A nonbreak's text is placed whole: wider than its block's width and
  // right margin, it runs past the block (in a par, into the next column).
  void nonbreakWidth(const XmlNode& node, NodePosition at, const Context& context) {
    if (context.pre) return;
    std::u16string storage;
    const int64_t columns = columnsOf(node.text(storage), context.widths);
    const int64_t room = std::max<int64_t>(context.width, 1) + std::max(context.rightMargin, 0);
    if (columns <= room) return;
    add(at, [&] {
      return u"nonbreak text is " + decimal(columns) + u" columns wide, more than its block's " +
             decimal(room) + u" (width and right margin): it runs past the block";
    });
  }

  // Hands the finding at `at` to the sink; `message()` makes its message
  // only while the sink reads them.
  template <typename Message>
  void add(NodePosition at, const Message& message) {
    messages_ = sink_(Finding{at, messages_ ? std::u16string(message()) : std::u16string()});
  }

  std::optional<std::u16string_view> nearestElement(std::u16string_view name) {
    std::array<std::u16string_view, std::size(kElements)> names;
    std::transform(std::begin(kElements), std::end(kElements), names.begin(),
                   [](const ElementEntry& e) { return e.name; });
    return nearest(name, names);
  }

  // The walker places the text of a nonbreak's subtree as one run, line
  // ends and all, and never walks the elements within.
  void nonbreak(XmlNode node) {
    for (XmlNode child = node.firstChild(); child; child = child.nextSibling()) {
      if (child.nodeType() != kElementNode) continue;
      const NodePosition at = child.position().value_or(NodePosition{0, 0});
      add(at, [&] {
        return u"element " + quoted(child.nodeName().value_or(u"")) +
               u" inside a nonbreak has no effect (only its text is placed)";
      });
      nonbreak(child);
    }
  }

  void par(XmlNode node, NodePosition at, Context context) {
    context.inPar = true;
    for (XmlNode child = node.firstChild(); child; child = child.nextSibling()) {
      const int type = child.nodeType();
      if (type == kElementNode) {
        const std::u16string_view name = child.nodeName().value_or(u"");
        const ElementEntry* entry = findElement(name);
        if (entry != nullptr && entry->kind == Element::kDiv) {
          element(child, context);
        } else {
          add(child.position().value_or(at), [&] {
            return u"par holds element " + quoted(name) + u", which is not a div (ignored)";
          });
        }
      } else if (type == kTextNode || type == kCDataSectionNode) {
        add(at, [] { return u"par holds text outside its divs (ignored)"; });
      }
    }
  }

  void children(XmlNode node, NodePosition at, const Context& context, bool endsBlock) {
    bool lineEndReported = false;
    bool controlReported = false;
    for (XmlNode child = node.firstChild(); child; child = child.nextSibling()) {
      const int type = child.nodeType();
      if (type == kElementNode) {
        element(child, context);
        continue;
      }
      if ((type != kTextNode && type != kCDataSectionNode) || context.pre) continue;
      const std::u16string_view text = child.nodeValue().value_or(u"");
      // Before a br or the block's end, white space stays as trailing
      // spaces in char mode, and a right or centred line ends short.
      const XmlNode next = child.nextSibling();
      const bool beforeBreak =
          next ? next.nodeType() == kElementNode &&
                     equalIgnoringAsciiCase(next.nodeName().value_or(u""), u"br")
               : endsBlock;
      const std::size_t kept = text.find_last_not_of(u" \t\r\n");
      const std::u16string_view tail =
          text.substr(kept == std::u16string_view::npos ? 0 : kept + 1);
      const bool trailing = !context.wordWrap && beforeBreak && context.align != kAlignLeft &&
                            tail.find(u' ') != std::u16string_view::npos;
      if (trailing) {
        add(next ? next.position().value_or(at) : at, [&] {
          return std::u16string(next ? u"white space before a br"
                                     : u"white space before the block's end") +
                 u" stays as trailing spaces, so the " +
                 (context.align == kAlignRight ? u"right-aligned line ends short"
                                               : u"centred line sits left of the centre") +
                 u"; end the text right at the tag";
        });
      }
      const std::u16string_view inner = trailing ? text.substr(0, text.size() - tail.size()) : text;
      if (!context.wordWrap && !lineEndReported &&
          inner.find_first_of(u"\r\n") != std::u16string_view::npos) {
        add(at, [] {
          return u"text holds line ends, which vanish here (words they alone separate run "
                 u"together); use pre, or wrap=\"word\" on a div";
        });
        lineEndReported = true;
      }
      const auto control = std::find_if(text.begin(), text.end(), [&](char16_t c) {
        return c < 0x20 && c != u'\r' && c != u'\n' && (c != u'\t' || !context.wordWrap);
      });
      if (control != text.end() && !controlReported) {
        add(at, [&] {
          return *control == u'\t'
                     ? std::u16string(
                           u"text holds a tab, which vanishes here (outside pre); use "
                           u"space repeat=\"N\", or pre")
                     : u"text holds the control character U+00" +
                           std::u16string{u"0123456789ABCDEF"[*control >> 4],
                                          u"0123456789ABCDEF"[*control & 0xF]} +
                           u", which vanishes here (outside pre)";
        });
        controlReported = true;
      }
    }
  }

  const FindingSink& sink_;
  bool messages_ = true;  // whether the sink still reads the messages
};

}  // namespace

void checkDocument(XmlNode root, const FindingSink& sink) {
  Checker checker(sink);
  if (root) checker.element(root, Context{});
}

}  // namespace quarvel
