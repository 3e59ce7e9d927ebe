#include "document/entity_nesting.h"

#include <algorithm>

namespace quarvel {

std::uint32_t EntityNesting::entity(Kind kind, std::uint32_t name) {
  const std::uint64_t key = std::uint64_t{name} << 1 | (kind == Kind::kParameter ? 1 : 0);
  const auto [found, added] = index_.try_emplace(key, static_cast<std::uint32_t>(entities_.size()));
  if (added) entities_.emplace_back();
  return found->second;
}

// Raises the depth of every declared entity that names `from`, directly or
// through others, to what `from` now gives it. A depth only grows and stops
// at kMaxEntityDepth + 1, so each entity is raised a bounded number of
// times. A cycle of references passes through `from` (the one declared
// last closes it): it is not followed back into `from`, so the depths of an
// entity that names itself stay finite; expat refuses such a reference where
// it is used.
std::uint32_t EntityNesting::propagate(std::uint32_t from, std::uint64_t& work) {
  std::uint32_t deepest = entities_[from].depth;
  std::vector<std::uint32_t> raised{from};
  while (!raised.empty()) {
    const std::uint32_t named = raised.back();
    raised.pop_back();
    const std::uint32_t depth = std::min(entities_[named].depth + 1, kMaxEntityDepth + 1);
    for (const std::uint32_t user : entities_[named].usedBy) {
      ++work;
      Entity& entity = entities_[user];
      if (user == from || !entity.declared || entity.depth >= depth) continue;
      entity.depth = depth;
      deepest = std::max(deepest, depth);
      raised.push_back(user);
    }
  }
  return deepest;
}

}  // namespace quarvel
