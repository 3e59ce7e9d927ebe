// The reasons of parse errors that say more than the parser's own words:
// which tags a mismatch involves, which entity is undefined and what to
// write instead, which encoding was in force and how to declare the right
// one. Plain UTF-8 texts without a line end; names are cut to a bounded
// length.
#ifndef QUARVEL_DOCUMENT_ERROR_REASONS_H_
#define QUARVEL_DOCUMENT_ERROR_REASONS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel {

// How the encoding in force was chosen.
enum class EncodingSource { kAssumed, kDeclaration, kByteOrderMark, kFirstCharacters };

// The encoding the document was read in, and what said so.
struct EncodingInForce {
  std::string name = "UTF-8";
  EncodingSource source = EncodingSource::kAssumed;
};

// A name as a reason quotes it: at most 40 bytes of it (whole characters),
// then "..." when it was longer.
std::string quotedName(std::string_view name);

// "mismatched tag" with both tags: </closing> does not close <open>, the
// element opened on `openLine`.
std::string mismatchedTagReason(std::string_view parserReason, std::string_view open,
                                std::uint32_t openLine, std::string_view closing);

// "undefined entity 'NAME'", and for an entity that HTML defines, the
// numeric reference that stands for its character.
std::string undefinedEntityReason(std::string_view name);

// An encoding that bytes starting with `bytes` (the first ones the
// encoding in force could not read) may well be in: UTF-8, Shift_JIS,
// EUC-JP or ISO-8859-1; `avoid` is never the answer (UTF-8 then, or
// ISO-8859-1 when UTF-8 is to be avoided).
const char* likelyEncoding(std::string_view bytes, std::string_view avoid);

// `reason`, which ends by naming the document's encoding, followed by the
// encoding in force and what told it, and, when a declaration chose it or
// none did, how to declare `likely` instead.
std::string withEncoding(std::string_view reason, const EncodingInForce& encoding,
                         const char* likely);

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_ERROR_REASONS_H_
