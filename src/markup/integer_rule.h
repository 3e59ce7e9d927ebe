// How attribute values become integers: leading white space is skipped, one
// optional sign is taken, then decimal digits up to the first non-digit. No
// digits give 0; nothing is ever rejected ("12abc" is 12, "abc" is 0). A value
// beyond the signed 32-bit range saturates at its bound.
#ifndef QUARVEL_MARKUP_INTEGER_RULE_H_
#define QUARVEL_MARKUP_INTEGER_RULE_H_

#include <cstdint>
#include <string_view>

namespace quarvel {

int32_t readInteger(std::u16string_view value);

}  // namespace quarvel

#endif  // QUARVEL_MARKUP_INTEGER_RULE_H_
