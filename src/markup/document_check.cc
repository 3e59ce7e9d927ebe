#include "markup/document_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "markup/integer_rule.h"
#include "markup/vocabulary.h"

namespace quarvel {
namespace {

// Names and values are quoted and compared from their first this many code
// units: a hostile name may be megabytes long.
constexpr std::size_t kQuotedUnits = 40;
// A name is offered as "did you mean" within this many edits.
constexpr std::size_t kNearEdits = 2;

char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

// `text` cut to kQuotedUnits (never inside a pair), control characters as
// '?', in single quotes.
std::u16string quoted(std::u16string_view text) {
  std::size_t length = std::min(text.size(), kQuotedUnits);
  if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 && text[length - 1] < 0xDC00)
    --length;
  std::u16string out = u"'";
  for (char16_t c : text.substr(0, length)) out.push_back(c < 0x20 || c == 0x7F ? u'?' : c);
  if (length < text.size()) out += u"...";
  out += u"'";
  return out;
}

// Edit distance ignoring ASCII case; both sides are at most kQuotedUnits long.
std::size_t editDistance(std::u16string_view a, std::u16string_view b) {
  std::array<std::size_t, kQuotedUnits + 1> row{};
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const std::size_t substitute = diagonal + (asciiLower(a[i - 1]) != asciiLower(b[j - 1]));
      row[j] = std::min({above + 1, row[j - 1] + 1, substitute});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The nearest of `candidates` within kNearEdits edits of `name`, or none.
template <typename Names>
std::optional<std::u16string_view> nearest(std::u16string_view name, const Names& candidates) {
  if (name.size() > kQuotedUnits) return std::nullopt;
  std::optional<std::u16string_view> best;
  std::size_t bestDistance = kNearEdits + 1;
  for (std::u16string_view candidate : candidates) {
    if (candidate.empty() || candidate.size() > kQuotedUnits) continue;
    const std::size_t distance = editDistance(name, candidate);
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

bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// What integer_rule makes of a value, and whether the value says it plainly:
// optional white space and sign, digits, optional white space.
struct IntegerReading {
  bool wellFormed;
  bool saturates;
};

IntegerReading readIntegerValue(std::u16string_view value) {
  std::size_t i = 0;
  while (i < value.size() && isSpace(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == u'+' || value[i] == u'-')) negative = value[i++] == u'-';
  const std::size_t digitsFrom = i;
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  int64_t magnitude = 0;
  for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i)
    magnitude = std::min<int64_t>(magnitude * 10 + (value[i] - u'0'), kMax + 2);
  const bool digits = i > digitsFrom;
  while (i < value.size() && isSpace(value[i])) ++i;
  return {digits && i == value.size(), magnitude > (negative ? kMax + 1 : kMax)};
}

std::u16string decimal(int64_t value) {
  const std::string digits = std::to_string(value);
  return {digits.begin(), digits.end()};
}

// The state the walker would be in: inside pre, word wrapped, inside a par.
struct Context {
  bool pre = false;
  bool wordWrap = false;
  bool inPar = false;
};

class Checker {
 public:
  explicit Checker(const FindingSink& sink) : sink_(sink) {}

  void element(XmlNode node, Context context) {
    const NodePosition at = node.position().value_or(NodePosition{0, 0});
    const std::u16string_view name = node.nodeName().value_or(u"");
    const ElementEntry* entry = findElement(name);
    if (entry == nullptr) {
      add(at,
          [&] { return withSuggestion(u"unknown element " + quoted(name), nearestElement(name)); });
    } else {
      attributes(node, *entry, at, context);
      if (entry->kind == Element::kPre) context.pre = true;
      if (entry->kind == Element::kPar) {
        if (context.inPar)
          add(at, [] { return u"par inside a par: its rows print before the outer par's"; });
        par(node, at, context);
        return;
      }
    }
    children(node, at, context);
  }

 private:
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

  void attributes(XmlNode node, const ElementEntry& entry, NodePosition at, Context& context) {
    const std::u16string_view element = node.nodeName().value_or(u"");
    for (std::uint32_t i = 0; i < node.attributeCount(); ++i) {
      const std::u16string_view name = node.attributeName(i);
      if (name == u"xml:space" || name == u"xmlns" || name.starts_with(u"xmlns:")) continue;
      if (!readsAttribute(entry, name)) {
        add(at, [&] {
          return withSuggestion(
              u"element " + quoted(element) + u" does not read attribute " + quoted(name),
              nearest(name, entry.attributes));
        });
      }
    }
    for (std::u16string_view name : entry.attributes) {
      if (name.empty()) continue;
      const std::optional<std::u16string> value = node.getAttribute(name);
      if (!value) continue;
      if (name == u"wrap") {
        if (*value == u"word")
          context.wordWrap = true;
        else if (*value == u"char")
          context.wordWrap = false;
        else
          add(at, [&] {
            return u"attribute 'wrap' value " + quoted(*value) +
                   u" is neither 'word' nor 'char' (ignored)";
          });
      } else if (name == u"char") {
        const bool pair = value->size() == 2 && (*value)[0] >= 0xD800 && (*value)[0] < 0xDC00 &&
                          (*value)[1] >= 0xDC00 && (*value)[1] < 0xE000;
        if (value->size() > 1 && !pair)
          add(at, [&] {
            return u"attribute 'char' value " + quoted(*value) +
                   u" is more than one character (only the first is drawn)";
          });
      } else {
        const IntegerReading reading = readIntegerValue(*value);
        if (!reading.wellFormed || reading.saturates) {
          add(at, [&] {
            return u"attribute " + quoted(name) + u" value " + quoted(*value) +
                   (reading.wellFormed ? u" is out of range (read as "
                                       : u" is not an integer (read as ") +
                   decimal(readInteger(*value)) + u")";
          });
        }
      }
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

  void children(XmlNode node, NodePosition at, const Context& context) {
    bool lineEndReported = false;
    for (XmlNode child = node.firstChild(); child; child = child.nextSibling()) {
      const int type = child.nodeType();
      if (type == kElementNode) {
        element(child, context);
      } else if ((type == kTextNode || type == kCDataSectionNode) && !context.pre &&
                 !context.wordWrap && !lineEndReported) {
        const std::u16string_view text = child.nodeValue().value_or(u"");
        if (text.find_first_of(u"\r\n") != std::u16string_view::npos) {
          add(at, [] {
            return u"text holds line ends, which vanish here (words they alone separate run "
                   u"together); use pre, or wrap=\"word\" on a div";
          });
          lineEndReported = true;
        }
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
