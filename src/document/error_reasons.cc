#include "document/error_reasons.h"

#include <algorithm>
#include <iterator>

#include "base/ascii.h"

namespace quarvel {
namespace {

constexpr std::size_t kQuotedBytes = 40;

// The entities of HTML that documents bring along most often, by name, with
// the code point each stands for.
struct HtmlEntity {
  std::string_view name;
  std::uint32_t codePoint;
};
constexpr HtmlEntity kHtmlEntities[] = {
    {"nbsp", 160},    {"iexcl", 161},  {"cent", 162},    {"pound", 163},  {"yen", 165},
    {"sect", 167},    {"copy", 169},   {"laquo", 171},   {"shy", 173},    {"reg", 174},
    {"deg", 176},     {"plusmn", 177}, {"micro", 181},   {"para", 182},   {"middot", 183},
    {"raquo", 187},   {"frac12", 189}, {"iquest", 191},  {"times", 215},  {"divide", 247},
    {"ensp", 8194},   {"emsp", 8195},  {"thinsp", 8201}, {"ndash", 8211}, {"mdash", 8212},
    {"lsquo", 8216},  {"rsquo", 8217}, {"ldquo", 8220},  {"rdquo", 8221}, {"bull", 8226},
    {"hellip", 8230}, {"prime", 8242}, {"euro", 8364},   {"trade", 8482}, {"larr", 8592},
    {"uarr", 8593},   {"rarr", 8594},  {"darr", 8595},   {"auml", 228},   {"ouml", 246},
    {"uuml", 252},    {"eacute", 233}, {"egrave", 232},  {"agrave", 224}, {"ccedil", 231},
};

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

std::string quotedName(std::string_view name) {
  if (name.size() <= kQuotedBytes) return std::string(name);
  std::size_t end = kQuotedBytes;
  while (end > 0 && isContinuation(static_cast<unsigned char>(name[end]))) --end;
  return std::string(name.substr(0, end)) + "...";
}

std::string mismatchedTagReason(std::string_view parserReason, std::string_view open,
                                std::uint32_t openLine, std::string_view closing) {
  return std::string(parserReason) + ": </" + quotedName(closing) + "> does not close <" +
         quotedName(open) + ">, opened on line " + std::to_string(openLine);
}

std::string undefinedEntityReason(std::string_view name) {
  // The name whole: a message that grows too long is cut as it is written.
  std::string reason = "undefined entity '" + std::string(name) + "'";
  const auto html = std::find_if(std::begin(kHtmlEntities), std::end(kHtmlEntities),
                                 [name](const HtmlEntity& entity) { return entity.name == name; });
  if (html != std::end(kHtmlEntities)) {
    reason += ", which is HTML's, not XML's: write &#" + std::to_string(html->codePoint) +
              "; or the character itself";
  }
  return reason;
}

const char* likelyEncoding(std::string_view bytes, std::string_view avoid) {
  const auto at = [&](std::size_t i) -> unsigned {
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
  };
  const unsigned lead = at(0);
  const unsigned trail = at(1);
  const bool shiftJisTrail = (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC);
  // A whole UTF-8 sequence of two to four bytes.
  std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (lead >= 0xF5) length = 0;
  bool utf8 = length > 0 && bytes.size() >= length;
  for (std::size_t i = 1; utf8 && i < length; ++i) utf8 = isContinuation(at(i));
  const char* likely = "ISO-8859-1";
  if (utf8) {
    likely = "UTF-8";
  } else if (lead >= 0x81 && lead <= 0x9F && lead != 0x8E && shiftJisTrail) {
    likely = "Shift_JIS";
  } else if ((lead >= 0xA1 && lead <= 0xFE && trail >= 0xA1 && trail <= 0xFE) ||
             (lead == 0x8E && trail >= 0xA1 && trail <= 0xDF)) {
    likely = "EUC-JP";
  } else if (lead >= 0xE0 && lead <= 0xFC && shiftJisTrail) {
    likely = "Shift_JIS";
  }
  if (!equalIgnoringAsciiCase(avoid, likely)) return likely;
  return utf8 ? "ISO-8859-1" : "UTF-8";
}

std::string withEncoding(std::string_view reason, const EncodingInForce& encoding,
                         const char* likely) {
  std::string text(reason);
  text += ", " + quotedName(encoding.name);
  switch (encoding.source) {
    case EncodingSource::kAssumed:
      text += " (assumed: it has no encoding declaration)";
      break;
    case EncodingSource::kDeclaration:
      text += " (from its XML declaration)";
      break;
    case EncodingSource::kByteOrderMark:
      return text + " (from its byte-order mark)";
    case EncodingSource::kFirstCharacters:
      return text + " (from its first characters)";
  }
  return text + "; declare the one it is saved in, for example <?xml version=\"1.0\" encoding=\"" +
         likely + "\"?>";
}

}  // namespace quarvel
