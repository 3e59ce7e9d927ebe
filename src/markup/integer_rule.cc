#include "markup/integer_rule.h"

#include <limits>

#include "base/ascii.h"

namespace quarvel {
IntegerReading readInteger(std::u16string_view value) {
  std::size_t i = 0;
  while (i < value.size() && isCSpace(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == u'+' || value[i] == u'-')) negative = value[i++] == u'-';
  // Accumulate toward the sign's bound so that -2147483648 is exact.
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  const int64_t bound = negative ? kMax + 1 : kMax;
  const std::size_t digitsFrom = i;
  int64_t magnitude = 0;
  bool saturates = false;
  for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i) {
    magnitude = magnitude * 10 + (value[i] - u'0');
    if (magnitude > bound) {
      magnitude = bound;
      saturates = true;
    }
  }
  const bool digits = i > digitsFrom;
  while (i < value.size() && isCSpace(value[i])) ++i;
  return {static_cast<int32_t>(negative ? -magnitude : magnitude), digits && i == value.size(),
          saturates};
}

}  // namespace quarvel
