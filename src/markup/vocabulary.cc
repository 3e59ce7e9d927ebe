#include "markup/vocabulary.h"

#include <algorithm>

namespace quarvel {
namespace {

char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

}  // namespace

bool sameNameIgnoringCase(std::u16string_view name, std::u16string_view expected) {
  if (name.size() != expected.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (asciiLower(name[i]) != asciiLower(expected[i])) return false;
  return true;
}

const ElementEntry* findElement(std::u16string_view name) {
  for (const ElementEntry& entry : kElements)
    if (sameNameIgnoringCase(name, entry.name)) return &entry;
  return nullptr;
}

bool keepsBlanksWithin(std::string_view qualifiedName) {
  return std::ranges::equal(qualifiedName, kWrapAttribute);
}

bool readsAttribute(const ElementEntry& entry, std::u16string_view name) {
  return !name.empty() && std::find(entry.attributes.begin(), entry.attributes.end(), name) !=
                              entry.attributes.end();
}

}  // namespace quarvel
