// The one reading of an element of the vocabulary: what its attributes set
// for its content, and, for whoever asks, what of them it ignores or
// misreads. The walker lays out by it and the document check reports by it.
#ifndef QUARVEL_MARKUP_ELEMENT_READING_H_
#define QUARVEL_MARKUP_ELEMENT_READING_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "document/xml_document.h"
#include "layout/line_style.h"
#include "markup/vocabulary.h"

namespace quarvel {

// What an element sets; each setting that is not given leaves the style as
// it was.
struct ElementSettings {
  std::optional<int32_t> align;        // left, right, center, pre
  std::optional<char16_t> underline;   // underline
  std::optional<int32_t> width;        // div
  std::optional<int32_t> leftMargin;   // div
  std::optional<int32_t> rightMargin;  // div
  std::optional<Wrap> wrap;            // div, the document element
  std::optional<Widths> widths;        // div, the document element
  std::optional<LineBreak> linebreak;  // div, the document element
  bool pre = false;                    // pre
  int32_t repeat = 1;                  // space: how many spaces it puts

  // Gives `style` the settings above.
  void applyTo(LineStyle& style) const;
};

// One thing of an element's attributes that its reading ignores or misreads.
struct ReadingIssue {
  enum class Kind {
    kUnreadAttribute,     // the element does not read the attribute
    kNotAnInteger,        // read as `readAs` all the same
    kOutOfRange,          // saturated to `readAs`
    kUnknownWrap,         // neither "word" nor "char": ignored
    kUnknownWidths,       // neither "fixed" nor "unicode": ignored
    kUnknownLineBreak,    // neither "normal" nor "strict": ignored
    kNotDocumentElement,  // read by a quarvel element only as the document element
    kLongChar,            // more than one character: the first is drawn
    kCharBeyondCell,      // one character outside the BMP: drawn as U+FFFD
  };
  Kind kind;
  std::u16string_view attribute;
  std::u16string_view value;  // empty for kUnreadAttribute
  int32_t readAs = 0;         // for kNotAnInteger and kOutOfRange
  // The attribute's index on its element (XmlNode::attributeName) for
  // kUnreadAttribute and kNotDocumentElement; kNoIndex for the others.
  static constexpr std::uint32_t kNoIndex = UINT32_MAX;
  std::uint32_t index = kNoIndex;
};
// Receives each issue while the reading runs; the views last only as long
// as the call.
using ReadingSink = std::function<void(const ReadingIssue&)>;

// Reads `node`, an element of kind `kind` (not kOther); a quarvel element
// reads its attributes only when it is the document element. With a sink, first
// reports each attribute the element does not read (in document order;
// xml:space and namespace declarations are read by the loader), then each
// read attribute whose value is ignored or misread (in vocabulary order).
ElementSettings readElement(const XmlNode& node, Element kind, const ReadingSink& sink = {});

}  // namespace quarvel

#endif  // QUARVEL_MARKUP_ELEMENT_READING_H_
