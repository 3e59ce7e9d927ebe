// quarvel's vocabulary: every element the walker knows and the attributes
// each one reads, in one table that the walker and the document check
// share, and that a test holds schema/quarvel.rng to.
#ifndef QUARVEL_MARKUP_VOCABULARY_H_
#define QUARVEL_MARKUP_VOCABULARY_H_

#include <array>
#include <cstddef>
#include <string_view>

namespace quarvel {

enum class Element {
  kQuarvel,
  kLeft,
  kRight,
  kCenter,
  kUnderline,
  kBr,
  kSpace,
  kDiv,
  kPre,
  kNonbreak,
  kPar,
  kOther,
};

inline constexpr std::size_t kMostAttributes = 6;

// An element's name (matched ignoring ASCII case), its kind, whether its end
// finishes the block it started, and the attributes it reads (exact names,
// the unused places empty and last).
struct ElementEntry {
  std::u16string_view name;
  Element kind;
  bool endsBlock;
  std::array<std::u16string_view, kMostAttributes> attributes;
};

inline constexpr ElementEntry kElements[] = {
    {u"quarvel", Element::kQuarvel, false, {u"wrap", u"widths", u"linebreak"}},
    {u"left", Element::kLeft, true, {}},
    {u"right", Element::kRight, true, {}},
    {u"center", Element::kCenter, true, {}},
    {u"underline", Element::kUnderline, false, {u"char"}},
    {u"br", Element::kBr, false, {}},
    {u"space", Element::kSpace, false, {u"repeat"}},
    {u"div",
     Element::kDiv,
     true,
     {u"width", u"leftmargin", u"rightmargin", u"wrap", u"widths", u"linebreak"}},
    {u"pre", Element::kPre, true, {}},
    {u"nonbreak", Element::kNonbreak, false, {}},
    {u"par", Element::kPar, false, {}},
};

// The attribute that turns word mode on or off: the one reader of the white
// space between tags. The document element reads it too, with `widths` and
// `linebreak`; a quarvel element anywhere else reads none of them.
inline constexpr std::u16string_view kWrapAttribute = u"wrap";

namespace vocabulary_detail {
// The table lists each kind but kOther once, at the kind's own index, and
// each element's attributes once, with no gap before the last.
constexpr bool tableIsWellFormed() {
  if (std::size(kElements) != static_cast<std::size_t>(Element::kOther)) return false;
  for (std::size_t i = 0; i < std::size(kElements); ++i) {
    if (static_cast<std::size_t>(kElements[i].kind) != i) return false;
    const auto& names = kElements[i].attributes;
    for (std::size_t a = 0; a < names.size(); ++a) {
      if (names[a].empty()) {
        for (std::size_t b = a; b < names.size(); ++b)
          if (!names[b].empty()) return false;
        break;
      }
      for (std::size_t b = 0; b < a; ++b)
        if (names[a] == names[b]) return false;
    }
  }
  return true;
}
}  // namespace vocabulary_detail
static_assert(vocabulary_detail::tableIsWellFormed(),
              "kElements must list every Element but kOther in order, attributes once each");
static_assert(kElements[static_cast<std::size_t>(Element::kDiv)].attributes[3] == kWrapAttribute);

// Whether an element with the attribute `qualifiedName` may have word mode
// read the white space between its tags (`wrap`), so that loading keeps it
// there and within (LoadSettings::keepsBlanksWithin).
bool keepsBlanksWithin(std::string_view qualifiedName);

// True when `name` equals `expected` ignoring ASCII letter case.
bool sameNameIgnoringCase(std::u16string_view name, std::u16string_view expected);

// The entry whose name `name` is, ignoring ASCII case; nullptr for none.
const ElementEntry* findElement(std::u16string_view name);

// Whether `entry`'s element reads the attribute named exactly `name`.
bool readsAttribute(const ElementEntry& entry, std::u16string_view name);

}  // namespace quarvel

#endif  // QUARVEL_MARKUP_VOCABULARY_H_
