// The edit distance between two short words, for "did you mean" hints: the
// command line's options and the document's element and attribute names.
#ifndef QUARVEL_BASE_EDIT_DISTANCE_H_
#define QUARVEL_BASE_EDIT_DISTANCE_H_

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <string_view>
#include <type_traits>

namespace quarvel {

// The longest word editDistance takes.
inline constexpr std::size_t kMaxEditedUnits = 64;

// Insertions, deletions and substitutions that turn `a` into `b`, `same`
// telling which characters are equal; both are at most kMaxEditedUnits long.
template <typename Char, typename Same>
std::size_t editDistance(std::basic_string_view<Char> a,
                         std::type_identity_t<std::basic_string_view<Char>> b, Same same) {
  assert(a.size() <= kMaxEditedUnits && b.size() <= kMaxEditedUnits);
  std::array<std::size_t, kMaxEditedUnits + 1> row{};
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + !same(a[i - 1], b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace quarvel

#endif  // QUARVEL_BASE_EDIT_DISTANCE_H_
