// How deep internal entity references nest, known from the declarations
// alone. expat expands a reference inside another entity's replacement text
// by recursing (before 2.7, a few hundred bytes of stack a level), so a chain
// of entities that each name the next overflows the stack after some tens of
// thousands of levels; the driver refuses a chain long before that, whatever
// expat it runs on.
//
// The depth of an entity is 1 plus the deepest entity its replacement text
// names. A general entity names others by "&name;", which expat reads where
// the text is expanded, in content or in an attribute value; a parameter
// entity also by "%name;", read where its text is parsed as declarations.
// Names are found by scanning the text as stored, after character references
// were replaced (a "&#38;" becomes a reference once expanded): a name that a
// CDATA section or a comment inside the text hides still counts, which only
// ever overstates a depth. A text may name an entity that is declared later;
// its depth then grows when that one is declared.
#ifndef QUARVEL_DOCUMENT_ENTITY_NESTING_H_
#define QUARVEL_DOCUMENT_ENTITY_NESTING_H_

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarvel {

// The deepest that internal entity references may nest, an entity whose text
// names no other counted as 1.
inline constexpr std::uint32_t kMaxEntityDepth = 256;

class EntityNesting {
 public:
  enum class Kind : std::uint8_t { kGeneral, kParameter };

  // Names are told as indices of the caller's own (interned names), so that
  // each distinct name is counted against the caller's bound on names.
  // `id(name)` returns that index for a name found in a replacement text.
  struct Declaration {
    Kind kind;
    std::uint32_t name;
    std::string_view text;  // the replacement text as stored
  };

  // Records the first declaration of an entity (later ones are ignored, as
  // the parser ignores them) and returns the depth of the deepest entity
  // whose depth it changed, itself included; at most kMaxEntityDepth + 1.
  // Adds to `work` one per link followed, so that the caller can bound the
  // time spent: a link is followed again only when the depth behind it grew.
  template <typename Id>
  std::uint32_t declare(const Declaration& declaration, Id id, std::uint64_t& work) {
    const std::uint32_t self = entity(declaration.kind, declaration.name);
    if (entities_[self].declared) return 0;
    entities_[self].declared = true;
    std::uint32_t deepest = 0;
    forEachReference(declaration, [&](Kind kind, std::string_view name) {
      const std::uint32_t named = entity(kind, id(name));
      std::vector<std::uint32_t>& users = entities_[named].usedBy;
      if (users.empty() || users.back() != self) users.push_back(self);
      if (entities_[named].declared) deepest = std::max(deepest, entities_[named].depth);
      ++work;
    });
    entities_[self].depth = std::min(deepest + 1, kMaxEntityDepth + 1);
    return propagate(self, work);
  }

 private:
  struct Entity {
    std::uint32_t depth = 0;
    bool declared = false;
    std::vector<std::uint32_t> usedBy;  // entities whose text names this one
  };

  std::uint32_t entity(Kind kind, std::uint32_t name);
  // Calls `found(kind, name)` for each reference in the declaration's text.
  template <typename Found>
  static void forEachReference(const Declaration& declaration, Found found);
  std::uint32_t propagate(std::uint32_t from, std::uint64_t& work);

  std::unordered_map<std::uint64_t, std::uint32_t> index_;
  std::vector<Entity> entities_;
};

template <typename Found>
void EntityNesting::forEachReference(const Declaration& declaration, Found found) {
  const std::string_view text = declaration.text;
  // Ends a name: white space and the characters that XML names never hold.
  const auto ends = [](char c) {
    return c == ';' || c == '&' || c == '%' || c == '<' || c == '>' || c == '"' || c == '\'' ||
           c == '=' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '&' && !(c == '%' && declaration.kind == Kind::kParameter)) continue;
    std::size_t end = i + 1;
    while (end < text.size() && !ends(text[end])) ++end;
    if (end == text.size() || text[end] != ';' || end == i + 1 || text[i + 1] == '#') continue;
    found(c == '&' ? Kind::kGeneral : Kind::kParameter, text.substr(i + 1, end - i - 1));
    i = end;
  }
}

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_ENTITY_NESTING_H_
