// libxml2 with iconv: the names become aliases of glibc's converters, which
// libxml2 then opens for each document that uses them. A libxml2 built
// without iconv on a system other than Windows would refuse these names.
#include "document/japanese_encodings.h"

namespace quarvel {

bool registerJapaneseEncodings() { return addJapaneseEncodingAliases(); }

}  // namespace quarvel
