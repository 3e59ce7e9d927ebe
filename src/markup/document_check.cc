#include "markup/document_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "base/utf16.h"
#include "markup/element_reading.h"
#include "markup/vocabulary.h"

namespace quarvel {
namespace {

// Names and values are quoted and compared from their first this many code
// units: a hostile name may be megabytes long.
constexpr std::size_t kQuotedUnits = 40;
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

// The message for what reading an element found.
std::u16string issueMessage(std::u16string_view element, const ElementEntry& entry,
                            const ReadingIssue& issue) {
  const std::u16string value = quoted(issue.value);
  const std::u16string attribute = u"attribute " + quoted(issue.attribute) + u" value " + value;
  switch (issue.kind) {
    case ReadingIssue::Kind::kUnreadAttribute:
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
      add(at,
          [&] { return withSuggestion(u"unknown element " + quoted(name), nearestElement(name)); });
    } else {
      const ElementSettings settings = readElement(node, entry->kind, [&](const ReadingIssue& i) {
        add(at, [&] { return issueMessage(name, *entry, i); });
      });
      if (settings.pre) context.pre = true;
      if (settings.wrap) context.wordWrap = *settings.wrap == Wrap::kWord;
      if (entry->kind == Element::kNonbreak) {
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
