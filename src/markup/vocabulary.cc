#include "markup/vocabulary.h"

#include <algorithm>

#include "base/ascii.h"

namespace quarvel {
bool sameNameIgnoringCase(std::u16string_view name, std::u16string_view expected) {
  return equalIgnoringAsciiCase(name, expected);
}

const ElementEntry* findElement(std::u16string_view name) {
  for (const ElementEntry& entry : kElements)
    if (sameNameIgnoringCase(name, entry.name)) return &entry;
  return nullptr;
}

bool keepsBlanksWithin(std::string_view qualifiedName) {
  return std::equal(qualifiedName.begin(), qualifiedName.end(), kWrapAttribute.begin(),
                    kWrapAttribute.end());
}

bool readsAttribute(const ElementEntry& entry, std::u16string_view name) {
  return !name.empty() && std::find(entry.attributes.begin(), entry.attributes.end(), name) !=
                              entry.attributes.end();
}

}  // namespace quarvel
