#include "document/input_encoding.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "base/ascii.h"

namespace quarvel {
namespace {

using namespace std::string_view_literals;

enum class Order { kEither, kLittle, kBig };

// What the first bytes of a document show about its code units.
struct Opening {
  std::string_view prefix;  // the bytes that show it
  std::size_t mark;         // how many of them are a byte-order mark
  const char* name;         // the encoding they show; null: one byte per unit
  std::size_t unitBytes;
  Order order;
};

// Tried in this order: a UTF-32 mark starts like a UTF-16 one. Without a
// mark, a document in UTF-16 or UTF-32 starts with "<" ("<?" for UTF-16,
// which has no way to tell its order otherwise).
constexpr Opening kOpenings[] = {
    {"\x00\x00\xFE\xFF"sv, 4, "UTF-32BE", 4, Order::kBig},
    {"\xFF\xFE\x00\x00"sv, 4, "UTF-32LE", 4, Order::kLittle},
    {"\xEF\xBB\xBF"sv, 3, "UTF-8", 1, Order::kEither},
    {"\xFE\xFF"sv, 2, "UTF-16BE", 2, Order::kBig},
    {"\xFF\xFE"sv, 2, "UTF-16LE", 2, Order::kLittle},
    {"\x00\x00\x00<"sv, 0, "UTF-32BE", 4, Order::kBig},
    {"<\x00\x00\x00"sv, 0, "UTF-32LE", 4, Order::kLittle},
    {"\x00<\x00?"sv, 0, "UTF-16BE", 2, Order::kBig},
    {"<\x00?\x00"sv, 0, "UTF-16LE", 2, Order::kLittle},
    {""sv, 0, nullptr, 1, Order::kEither},
};

// The names a declaration may give to code units of two or four bytes, each
// with the byte order it fixes. A name outside this table declares units of
// one byte.
struct WideName {
  std::string_view name;
  std::size_t unitBytes;
  Order order;
};

constexpr WideName kWideNames[] = {
    {"UTF-16", 2, Order::kEither},
    {"UTF-16LE", 2, Order::kLittle},
    {"UTF-16BE", 2, Order::kBig},
    {"ISO-10646-UCS-2", 2, Order::kEither},
    {"UCS-2", 2, Order::kEither},
    {"UCS-2LE", 2, Order::kLittle},
    {"UCS-2BE", 2, Order::kBig},
    {"UTF-32", 4, Order::kEither},
    {"UTF-32LE", 4, Order::kLittle},
    {"UTF-32BE", 4, Order::kBig},
    {"ISO-10646-UCS-4", 4, Order::kEither},
    {"UCS-4", 4, Order::kEither},
    {"UCS-4LE", 4, Order::kLittle},
    {"UCS-4BE", 4, Order::kBig},
};

// The one-byte encodings that expat reads itself, as it is told them.
constexpr const char* kParserEncodings[] = {"UTF-8", "ISO-8859-1", "US-ASCII"};

// `bytes` in the code units that `opening` shows, one character each, those
// outside ASCII as 0x80: an XML declaration is ASCII in every encoding.
std::string asAscii(std::string_view bytes, const Opening& opening) {
  if (opening.unitBytes == 1) return std::string(bytes);
  std::string units;
  units.reserve(bytes.size() / opening.unitBytes);
  for (std::size_t i = 0; i + opening.unitBytes <= bytes.size(); i += opening.unitBytes) {
    std::uint32_t unit = 0;
    for (std::size_t k = 0; k < opening.unitBytes; ++k) {
      const std::size_t at = opening.order == Order::kBig ? i + k : i + opening.unitBytes - 1 - k;
      unit = unit << 8 | static_cast<unsigned char>(bytes[at]);
    }
    units.push_back(unit < 0x80 ? static_cast<char>(unit) : '\x80');
  }
  return units;
}

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// An encoding name as XML spells it; the parser refuses a declaration with
// any other, and the name may then appear in a message.
bool isEncodingName(std::string_view name) {
  return !name.empty() && isLetter(name[0]) && std::all_of(name.begin(), name.end(), [](char c) {
    return isLetter(c) || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
  });
}

struct Declaration {
  enum class Kind {
    kNone,      // no declaration, none that can be read, or one without an encoding
    kName,      // `name` is the declared encoding
    kPastHead,  // the head ends before the encoding name does
  };
  Kind kind = Kind::kNone;
  std::string_view name;
};

// The encoding name of the XML declaration at the start of `text`. Read no
// more strictly than the parser reads it, in any order of pseudo-attributes:
// a declaration that the parser accepts must never lose its name here, one
// that it refuses may. `cut` is whether more of the document follows `text`.
Declaration readDeclaration(std::string_view text, bool cut) {
  using enum Declaration::Kind;
  constexpr std::string_view kStart = "<?xml";
  if (!text.starts_with(kStart) || text.size() == kStart.size() ||
      !isXmlSpace(text[kStart.size()])) {
    return {};
  }
  const auto skipSpace = [&](std::size_t i) {
    while (i < text.size() && isXmlSpace(text[i])) ++i;
    return i;
  };
  std::size_t i = kStart.size();
  for (;;) {
    i = skipSpace(i);
    if (i == text.size() || (text[i] == '?' && i + 1 == text.size())) break;
    if (text[i] == '?') return {};  // the end of the declaration, or something odd
    const std::size_t nameStart = i;
    while (i < text.size() && !isXmlSpace(text[i]) && text[i] != '=' && text[i] != '?') ++i;
    const std::string_view attribute = text.substr(nameStart, i - nameStart);
    i = skipSpace(i);
    if (i == text.size()) break;
    if (attribute.empty() || text[i] != '=') return {};
    i = skipSpace(i + 1);
    if (i == text.size()) break;
    const char quote = text[i];
    if (quote != '"' && quote != '\'') return {};
    const std::size_t close = text.find(quote, i + 1);
    if (close == std::string_view::npos) break;
    if (attribute == "encoding") {
      const std::string_view value = text.substr(i + 1, close - i - 1);
      if (!isEncodingName(value)) return {};
      return {kName, value};
    }
    i = close + 1;
  }
  return {cut ? kPastHead : kNone, {}};
}

// Why a document whose first bytes show `opening` cannot be in the encoding
// it declares, or empty when it can.
std::string contradiction(const Opening& opening, std::string_view declared) {
  const auto wide =
      std::find_if(std::begin(kWideNames), std::end(kWideNames),
                   [&](const WideName& entry) { return sameEncodingName(declared, entry.name); });
  const bool declaresWide = wide != std::end(kWideNames);
  bool agrees = false;
  if (opening.name == nullptr) {
    agrees = !declaresWide;
  } else if (opening.unitBytes == 1) {
    agrees = sameEncodingName(declared, opening.name);
  } else {
    agrees = declaresWide && wide->unitBytes == opening.unitBytes &&
             (wide->order == Order::kEither || wide->order == opening.order);
  }
  if (agrees) return {};
  const std::string said = " but the declaration says " + std::string(declared);
  if (opening.name == nullptr) {
    return "the first characters are one byte each" + said +
           "; to mend it, declare the encoding the document is saved in (UTF-8 when unsure), "
           "or save it in " +
           std::string(declared);
  }
  // What a declaration names the encoding that the start shows by.
  const std::string_view family = opening.unitBytes == 2   ? "UTF-16"
                                  : opening.unitBytes == 4 ? "UTF-32"
                                                           : opening.name;
  return (opening.mark > 0 ? std::string("the byte-order mark says ")
                           : std::string("the first characters are in ")) +
         opening.name + said + "; to mend it, declare encoding=\"" + std::string(family) +
         "\" (or leave the encoding out), or save the document in " + std::string(declared) +
         (opening.mark > 0 ? " without the byte-order mark" : "");
}

}  // namespace

bool sameEncodingName(std::string_view a, std::string_view b) {
  return equalIgnoringAsciiCase(a, b);
}

EncodingChoice chooseEncoding(std::string_view head) {
  const bool cut = head.size() >= kEncodingHeadBytes;
  head = head.substr(0, kEncodingHeadBytes);
  const Opening& opening =
      *std::find_if(std::begin(kOpenings), std::end(kOpenings),
                    [&](const Opening& entry) { return head.starts_with(entry.prefix); });
  EncodingChoice choice;
  choice.byteOrderMark = opening.mark;
  // expat reads the units after a UTF-8 or UTF-16 mark by what "<" looks
  // like there, whatever the mark said.
  if (opening.mark > 0 && opening.unitBytes <= 2) {
    const std::string_view rest = head.substr(opening.mark);
    const char* shown = rest.starts_with("<\x00"sv)   ? "UTF-16LE"
                        : rest.starts_with("\x00<"sv) ? "UTF-16BE"
                                                      : nullptr;
    if (shown != nullptr && std::string_view(shown) != opening.name) {
      choice.errorKind = EncodingError::kIncorrect;
      choice.error = std::string("the byte-order mark says ") + opening.name +
                     " but the first characters are in " + shown +
                     "; to mend it, save the document again in one encoding";
      return choice;
    }
  }
  const std::string text = asAscii(head.substr(opening.mark), opening);
  const Declaration declaration = readDeclaration(text, cut);
  if (declaration.kind == Declaration::Kind::kPastHead) {
    choice.errorKind = EncodingError::kIncorrect;
    choice.error = "the XML declaration does not end within the first " +
                   std::to_string(kEncodingHeadBytes) + " bytes";
    return choice;
  }
  const std::string_view declared = declaration.name;
  if (!declared.empty()) {
    choice.error = contradiction(opening, declared);
    if (!choice.error.empty()) {
      choice.errorKind = EncodingError::kIncorrect;
      return choice;
    }
  }
  if (opening.mark > 0) {
    choice.inForce = {opening.name, EncodingSource::kByteOrderMark};
  } else if (opening.name != nullptr) {
    choice.inForce = {opening.name, EncodingSource::kFirstCharacters};
  } else if (!declared.empty()) {
    choice.inForce = {std::string(declared), EncodingSource::kDeclaration};
  }
  if (opening.unitBytes == 2) {
    choice.parserEncoding = opening.name;
    return choice;
  }
  // UTF-32 is decoded by the name of the order it shows: the mark, if any,
  // is gone.
  const std::string_view decoded = opening.unitBytes == 4 ? opening.name : declared;
  if (decoded.empty()) return choice;
  const auto parsed =
      std::find_if(std::begin(kParserEncodings), std::end(kParserEncodings),
                   [&](const char* name) { return sameEncodingName(decoded, name); });
  if (parsed != std::end(kParserEncodings)) {
    choice.parserEncoding = *parsed;
    return choice;
  }
  choice.decoder = openDecoder(decoded);
  if (choice.decoder == nullptr) {
    choice.errorKind = EncodingError::kUnsupported;
    choice.error = "Unsupported encoding " + std::string(declared.empty() ? decoded : declared);
  }
  return choice;
}

}  // namespace quarvel
