// How attribute values become integers: leading white space (U+0020 and
// U+0009 to U+000D) is skipped, one optional sign is taken, then decimal
// digits up to the first non-digit. No digits give 0; nothing is ever
// rejected ("12abc" is 12, "abc" is 0). A value beyond the signed 32-bit
// range saturates at its bound.
#ifndef QUARVEL_MARKUP_INTEGER_RULE_H_
#define QUARVEL_MARKUP_INTEGER_RULE_H_

#include <cstdint>
#include <string_view>

namespace quarvel {

struct IntegerReading {
  // The value as read above.
  int32_t value;
  // Whether the value says it plainly: white space, an optional sign, at
  // least one digit, white space, and nothing else.
  bool wellFormed;
  // Whether the digits are beyond the bound of their sign.
  bool saturates;
};

IntegerReading readInteger(std::u16string_view value);

}  // namespace quarvel

#endif  // QUARVEL_MARKUP_INTEGER_RULE_H_
