#include "document/document_parser.h"

#include <expat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/utf.h"
#include "base/utf16.h"
#include "document/entity_nesting.h"
#include "document/error_reasons.h"
#include "document/input_encoding.h"
#include "document/store_builder.h"

namespace quarvel {
namespace {

using namespace std::string_view_literals;

// Entity expansion is bounded by expat's own protection: once the bytes that
// entities produce pass the threshold, they may be at most this many times
// the document's bytes.
constexpr float kMaximumAmplification = 10.0f;
constexpr unsigned long long kAmplificationThreshold = 1ull << 20;

// Work that no byte of the document pays for as it is done, each piece
// charged as it happens; the charges together may be at most this many per
// byte read, plus the allowance:
// - expat walks every attribute that the internal subset declares for an
//   element type on each start tag of that type, and applies each default by
//   its name and value (a prefixed name hashed, a namespace value copied):
//   each tag is charged 1 per declaration of its type plus the bytes of the
//   name and value of each default;
// - expat compares a new declaration with the ones before it of its element
//   type when it has a default or is an ID: 1 per 16 declarations before it;
// - following the references between entity declarations (EntityNesting);
// - a namespace URI beyond kFreeNamespaceBytes, in front of an expanded name.
constexpr std::uint64_t kUnpaidWorkFactor = 8;
constexpr std::uint64_t kUnpaidWorkAllowance = std::uint64_t{1} << 20;

// What internal entities build (elements, text, attributes) has no bytes of
// its own to pay for the store it fills: expat's amplification limit lets a
// 3-byte reference become 30 bytes of "<b/>", 32 bytes of store each (63
// bytes of memory per byte read, where an ordinary document takes under 2).
// The store that entities build may hold at most this many bytes per byte
// read, plus the allowance.
constexpr std::uint64_t kEntityStoreBytesPerByte = 1;
constexpr std::uint64_t kEntityStoreAllowance = std::uint64_t{8} << 20;

// A namespace URI lies in front of every name that expat expands with it,
// and finding the name after it costs its length each time. Names are
// charged for their URI beyond this many bytes, which no real URI reaches.
constexpr std::size_t kFreeNamespaceBytes = 512;

// Every distinct name costs expat an entry in its tables for the whole parse
// (about 120 bytes and a microsecond or two; a million names in 9 MB took
// seconds), and the store one more; so does every attribute declaration,
// which expat keeps in a list of its element type: distinct element,
// attribute, target and entity names and attribute declarations may be at
// most this many plus one per so many bytes read. A
// document of quarvel's own vocabulary uses a few dozen.
constexpr std::uint64_t kNameAllowance = 10'000;
constexpr std::uint64_t kBytesPerName = 128;

// Bytes handed to expat at a time, at least. expat scans a token that is
// still incomplete again from its start each time bytes arrive, so while a
// long one is pending (a 40 MB comment or attribute value) the next piece is
// made half as long as what is pending: the rescans then add up to a few
// times the token instead of its square over the piece size.
constexpr int kChunkBytes = 64 << 10;
constexpr int kLargestChunkBytes = 256 << 20;  // decoded, still within an int

constexpr const char kInvalidBytes[] =
    "the document holds bytes that are not valid in its encoding";

// Separates the namespace URI, local name and prefix in the names expat
// hands out: a byte that UTF-8 never holds, so no name or URI contains it.
constexpr char kSeparator = '\xFF';
constexpr std::string_view kXmlSpace = "http://www.w3.org/XML/1998/namespace\xFFspace\xFFxml";

// A string from expat, read no further than the kept prefix of a value.
std::string_view keptValue(const XML_Char* value) {
  return keptPrefix(std::string_view(value, strnlen(value, kAttributeValueKeptBytes + 1)));
}

// Counts lines and columns over the UTF-8 that a decoder hands the parser,
// or over the UTF-16 that it reads itself, to place an encoding error as the
// parser would place an error there.
class PositionCounter {
 public:
  void advance(std::string_view utf8) {
    for (const char c : utf8) {
      if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) character(static_cast<unsigned char>(c));
    }
  }
  void character(char32_t c) {
    if (c == '\n') {
      if (!afterCarriageReturn_) newLine();
      afterCarriageReturn_ = false;
    } else if (c == '\r') {
      newLine();
      afterCarriageReturn_ = true;
    } else {
      afterCarriageReturn_ = false;
      ++column_;
    }
  }
  int line() const { return static_cast<int>(std::min<std::uint64_t>(line_, INT32_MAX)); }
  int column() const { return static_cast<int>(std::min<std::uint64_t>(column_ + 1, INT32_MAX)); }

 private:
  void newLine() {
    ++line_;
    column_ = 0;
  }
  std::uint64_t line_ = 1;
  std::uint64_t column_ = 0;
  bool afterCarriageReturn_ = false;
};

// Checks UTF-16 that expat reads itself before expat sees it: some expat
// releases take a high surrogate and whatever unit follows it for a pair,
// turning "<" after a lone surrogate into part of a character.
class Utf16Check {
 public:
  explicit Utf16Check(bool bigEndian) : bigEndian_(bigEndian) {}

  // How many leading bytes of `bytes`, the next of the document, hold no
  // unit that breaks UTF-16: all of them, or those before the first lone or
  // reversed surrogate (0 when a high one passed in an earlier piece). With
  // `final` no bytes follow, and a high surrogate at the end is lone. Once
  // failed(), where() places the error.
  std::size_t valid(std::string_view bytes, bool final) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const auto byte = static_cast<unsigned char>(bytes[i]);
      if (!haveByte_) {
        firstByte_ = byte;
        haveByte_ = true;
        continue;
      }
      haveByte_ = false;
      const auto unit =
          static_cast<char16_t>(bigEndian_ ? firstByte_ << 8 | byte : byte << 8 | firstByte_);
      const std::size_t unitStart = i >= 1 ? i - 1 : 0;
      const bool low = isLowSurrogate(unit);
      if (highPending_) {
        if (!low) return fail(highStart_);
        highPending_ = false;
        position_.character(0x10000);  // the pair is one character
      } else if (low) {
        return fail(unitStart);
      } else if (isHighSurrogate(unit)) {
        highPending_ = true;
        highStart_ = unitStart;
      } else {
        position_.character(unit);
      }
    }
    if (highPending_ && final) return fail(highStart_);
    highStart_ = 0;  // a high surrogate still waiting lies before the next piece
    return bytes.size();
  }
  bool failed() const { return failed_; }
  const PositionCounter& where() const { return position_; }

 private:
  std::size_t fail(std::size_t at) {
    failed_ = true;
    return at;
  }

  bool bigEndian_;
  bool haveByte_ = false;
  unsigned firstByte_ = 0;
  bool highPending_ = false;
  std::size_t highStart_ = 0;  // in the piece being checked
  bool failed_ = false;
  PositionCounter position_;
};

// One parse: expat's parser, its callbacks, the bounds they keep and the
// first error; the store is filled through a StoreBuilder.
class Parse {
 public:
  Parse(DocumentStore& store, const EncodingChoice& encoding, const LoadSettings& settings)
      : store_(store),
        builder_(store),
        parserEncoding_(encoding.parserEncoding),
        decoded_(encoding.decoder != nullptr),
        inForce_(encoding.inForce),
        keepsBlanksWithin_(settings.keepsBlanksWithin),
        recordPositions_(settings.recordPositions) {
    parser_ = XML_ParserCreateNS(parserEncoding_.data(), kSeparator);
    if (parser_ == nullptr) throw std::bad_alloc();
    XML_SetUserData(parser_, this);
    XML_SetReturnNSTriplet(parser_, XML_TRUE);
    // Internal parameter entities are expanded; external ones and the
    // external subset reach onExternalEntity, which reads nothing.
    XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_ALWAYS);
    if (!XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser_, kMaximumAmplification) ||
        !XML_SetBillionLaughsAttackProtectionActivationThreshold(parser_,
                                                                 kAmplificationThreshold)) {
      XML_ParserFree(parser_);
      throw std::bad_alloc();
    }
    XML_SetElementHandler(parser_, onStart, onEnd);
    XML_SetCharacterDataHandler(parser_, onCharacters);
    XML_SetCdataSectionHandler(parser_, onCdataStart, onCdataEnd);
    XML_SetCommentHandler(parser_, onComment);
    XML_SetProcessingInstructionHandler(parser_, onProcessingInstruction);
    XML_SetStartNamespaceDeclHandler(parser_, onNamespace);
    XML_SetAttlistDeclHandler(parser_, onAttlist);
    XML_SetEntityDeclHandler(parser_, onEntity);
    XML_SetExternalEntityRefHandler(parser_, onExternalEntity);
    XML_SetSkippedEntityHandler(parser_, onSkippedEntity);
  }
  ~Parse() { XML_ParserFree(parser_); }
  Parse(const Parse&) = delete;
  Parse& operator=(const Parse&) = delete;

  // Parses `bytes`, the last of the document when `final`. False once the
  // parse has failed; then error() says why.
  bool feed(std::string_view bytes, bool final) {
    if (failed_) return false;
    fed_ += bytes.size();
    const auto status = XML_Parse(parser_, bytes.data(), static_cast<int>(bytes.size()), final);
    return settle(status);
  }
  // The same, for `length` bytes that the caller wrote into buffer(length).
  void* buffer(int length) {
    void* buffer = XML_GetBuffer(parser_, length);
    if (buffer == nullptr) throw std::bad_alloc();
    return buffer;
  }
  bool feedBuffer(int length, bool final) {
    if (failed_) return false;
    fed_ += static_cast<std::uint64_t>(length);
    return settle(XML_ParseBuffer(parser_, length, final));
  }
  // How many bytes to hand over next: see kChunkBytes. Between calls, expat
  // places the current event at the start of the token it holds back.
  int nextChunk() const {
    const XML_Index start = XML_GetCurrentByteIndex(parser_);
    const std::uint64_t pending =
        start < 0 || static_cast<std::uint64_t>(start) > fed_ ? 0 : fed_ - start;
    return static_cast<int>(
        std::clamp<std::uint64_t>(pending / 2, kChunkBytes, kLargestChunkBytes));
  }

  // Ends the parse with an error of ours at `line` and `column`. Throws
  // std::bad_alloc when memory runs out.
  void fail(std::int32_t code, int line, int column, std::string_view reason) {
    if (failed_) return;
    error_ = errorAt(code, line, column, reason);
    failed_ = true;
  }

  bool failed() const { return failed_; }
  // The first error, once failed().
  const ParseError& error() const { return error_; }
  std::uint64_t fed() const { return fed_; }

 private:
  static Parse& of(void* data) { return *static_cast<Parse*>(data); }

  // After XML_Parse or XML_ParseBuffer: turns expat's verdict into ours.
  bool settle(XML_Status status) {
    if (outOfMemory_) throw std::bad_alloc();
    if (status != XML_STATUS_ERROR) return !failed_;
    if (failed_) return false;  // an error of ours stopped the parser
    const XML_Error code = XML_GetErrorCode(parser_);
    if (code == XML_ERROR_NO_MEMORY) throw std::bad_alloc();
    fail(-static_cast<std::int32_t>(code), currentLine(), currentColumn(), explained(code));
    return false;
  }

  // expat's reason for `code`, with what the document shows where the error
  // is: the tags of a mismatch, the name of an undefined entity, the
  // encoding in force when the bytes there do not belong to it.
  std::string explained(XML_Error code) const {
    const std::string_view reason = XML_ErrorString(code);
    const std::string_view here = inputHere();
    switch (code) {
      case XML_ERROR_TAG_MISMATCH:
        if (open_.empty()) break;
        return mismatchedTagReason(reason, store_.nameUtf8(open_.back().first), open_.back().second,
                                   nameIn(here, "</"));
      case XML_ERROR_UNDEFINED_ENTITY: {
        // In content the error is at the reference; in an attribute value
        // at the start tag, where the first reference to no predefined
        // entity names it.
        const std::string name = undefinedNameIn(inputHere(4096));
        if (!name.empty()) return undefinedEntityReason(name);
        break;
      }
      case XML_ERROR_INVALID_TOKEN:
      case XML_ERROR_PARTIAL_CHAR:
        // Bytes that expat itself reads as one byte per character, or as
        // UTF-8, and that do not belong there.
        if (!decoded_ && parserEncoding_ != "ISO-8859-1" &&
            parserEncoding_.find("16") == std::string_view::npos && !here.empty() &&
            static_cast<unsigned char>(here[0]) >= 0x80) {
          return withEncoding(std::string(reason) + ": bytes that are not valid in its encoding",
                              inForce_, likelyEncoding(here, inForce_.name));
        }
        break;
      default:
        break;
    }
    return std::string(reason);
  }

  // The document's bytes from where the event being reported begins, as
  // far as expat still holds them (a few hundred at most are looked at).
  std::string_view inputHere(int most = 256) const {
    int offset = 0;
    int size = 0;
    const char* context = XML_GetInputContext(parser_, &offset, &size);
    if (context == nullptr || offset < 0 || offset >= size) return {};
    return std::string_view(context + offset,
                            static_cast<std::size_t>(std::min(size - offset, most)));
  }

  // The name of the first reference in `raw` to an entity that is not
  // predefined (nor a character reference), or empty.
  std::string undefinedNameIn(std::string_view raw) const {
    const std::string_view ampersand = parserEncoding_ == "UTF-16LE"   ? "&\0"sv
                                       : parserEncoding_ == "UTF-16BE" ? "\0&"sv
                                                                       : "&"sv;
    for (std::size_t i = 0; i + ampersand.size() <= raw.size(); i += ampersand.size()) {
      if (raw.substr(i, ampersand.size()) != ampersand) continue;
      const std::string name = nameIn(raw.substr(i + ampersand.size()), "");
      if (!name.empty() && name[0] != '#' && name != "amp" && name != "lt" && name != "gt" &&
          name != "quot" && name != "apos") {
        return name;
      }
    }
    return {};
  }

  // The name that `raw` (bytes in the parser's encoding) starts with, after
  // `lead` when it starts with that, in UTF-8.
  std::string nameIn(std::string_view raw, std::string_view lead) const {
    const bool wide = parserEncoding_ == "UTF-16LE" || parserEncoding_ == "UTF-16BE";
    const bool little = parserEncoding_ == "UTF-16LE";
    const std::size_t unitBytes = wide ? 2 : 1;
    const auto unitAt = [&](std::size_t i) -> char32_t {
      const auto a = static_cast<unsigned char>(raw[i]);
      if (!wide) return a;
      const auto b = static_cast<unsigned char>(raw[i + 1]);
      return little ? (b << 8 | a) : (a << 8 | b);
    };
    std::size_t i = 0;
    for (const char c : lead) {
      if (i + unitBytes > raw.size() || unitAt(i) != static_cast<unsigned char>(c)) break;
      i += unitBytes;
    }
    std::string name;
    for (; i + unitBytes <= raw.size() && name.size() <= 64; i += unitBytes) {
      const char32_t c = unitAt(i);
      if (c <= 0x20 || c == '>' || c == '/' || c == ';' || c == '=' || c == '<' || c == '&') {
        break;
      }
      if (wide || parserEncoding_ == "ISO-8859-1") {
        appendUtf8(name, isSurrogateCodePoint(c) ? 0xFFFD : c);
      } else {
        name.push_back(raw[i]);
      }
    }
    return name;
  }

  int currentLine() const {
    return static_cast<int>(std::clamp<XML_Size>(XML_GetCurrentLineNumber(parser_), 1, INT32_MAX));
  }
  int currentColumn() const {
    return static_cast<int>(
               std::min<XML_Size>(XML_GetCurrentColumnNumber(parser_), INT32_MAX - 1)) +
           1;
  }

  // Stops expat from within a callback with an error of ours, placed where
  // the event being reported begins.
  void stop(std::int32_t code, std::string_view reason) {
    fail(code, currentLine(), currentColumn(), reason);
    XML_StopParser(parser_, XML_FALSE);
  }

  // Runs a step from expat's C frames, which must not throw: memory running
  // out stops the parse, and the driver then throws std::bad_alloc.
  template <typename Step>
  static void guarded(void* data, Step step) noexcept {
    Parse& parse = of(data);
    if (parse.failed_ || parse.outOfMemory_) return;  // expat may report a little after a stop
    try {
      step(parse);
    } catch (const std::bad_alloc&) {
      parse.outOfMemory_ = true;
      XML_StopParser(parse.parser_, XML_FALSE);
    }
  }

  // Where the namespace URI of a name that expat hands out ends: at the
  // first separator, or at its end when it has none. A scan past
  // kFreeNamespaceBytes is charged.
  std::size_t uriEnd(const XML_Char* name) {
    std::size_t i = 0;
    while (name[i] != '\0' && name[i] != kSeparator) ++i;
    if (i > kFreeNamespaceBytes) {
      charge(i - kFreeNamespaceBytes, [] { return "Long names or namespace URIs"; });
    }
    return i;
  }

  // The qualified name, as written, of a name that expat hands out as
  // "URI SEP local SEP prefix", "URI SEP local" or "local".
  std::string_view qualified(const XML_Char* expanded) {
    const std::size_t end = uriEnd(expanded);
    if (expanded[end] == '\0') return std::string_view(expanded, end);
    const std::string_view rest(expanded + end + 1);
    const std::size_t localEnd = rest.find(kSeparator);
    if (localEnd == std::string_view::npos) return rest;
    name_.assign(rest.substr(localEnd + 1));
    name_.push_back(':');
    name_.append(rest.substr(0, localEnd));
    return name_;
  }

  // Bytes of the document up to the end of the event being reported (a whole
  // start tag, with all its attributes; within an entity's replacement text,
  // the reference).
  std::uint64_t bytesRead() const {
    return static_cast<std::uint64_t>(std::max<XML_Index>(XML_GetCurrentByteIndex(parser_), 0)) +
           static_cast<std::uint64_t>(std::max(XML_GetCurrentByteCount(parser_), 0));
  }

  // The name's index in the store; a name beyond the bound on names stops
  // the parse (and is still interned, for the caller to finish its step).
  std::uint32_t intern(std::string_view qualifiedName) {
    const std::uint32_t name = store_.intern(qualifiedName);
    checkNames(std::uint64_t{name} + 1);
    return name;
  }
  void checkNames(std::uint64_t names) {
    const std::uint64_t counted = names + declarations_;
    if (counted <= kNameAllowance || counted <= kNameAllowance + bytesRead() / kBytesPerName ||
        failed_) {
      return;
    }
    stop(kParserLimit,
         "More distinct names and attribute declarations than the document's size allows: more "
         "than 10,000 plus 1 per 128 bytes read");
  }

  // Charges `work`; once the charges pass their bound, stops the parse
  // with the message that `what()` begins (made only then).
  template <typename What>
  void charge(std::uint64_t work, What what) {
    work_ += work;
    if (work_ <= kUnpaidWorkFactor * bytesRead() + kUnpaidWorkAllowance || failed_) return;
    stop(kParserLimit, std::string(what()) +
                           " cost too much for the document's size: more than 8 per byte read "
                           "plus 1 MiB");
  }

  // Bytes that the store holds, as the bound on what entities build counts
  // them.
  std::uint64_t storeBytes() const {
    return std::uint64_t{store_.nodes.size()} * sizeof(DocumentStore::Node) +
           store_.attributes.size() * sizeof(DocumentStore::Attribute) + store_.values.size() +
           (store_.positions.size() + store_.attributePositions.size()) *
               sizeof(DocumentStore::Position) +
           store_.textUnitsWritten() * sizeof(char16_t);
  }

  // Runs a step that fills the store for the event being reported, and
  // charges what it adds beyond what the event's own bytes pay for: all of
  // it within an entity's replacement text, where expat reports every event
  // at the reference that began the expansion (so the event repeats the
  // span of the one before it, which events of the document's own bytes
  // never do); for text, what passes a node and two bytes per byte.
  // `textBytes` is the UTF-8 that a text event adds (two bytes of store at
  // most for each), 0 for an element.
  template <typename Step>
  void building(std::size_t textBytes, Step step) {
    const XML_Index start = XML_GetCurrentByteIndex(parser_);
    const int count = XML_GetCurrentByteCount(parser_);
    const bool repeated = start == lastStart_ && count == lastCount_;
    lastStart_ = start;
    lastCount_ = count;
    const std::uint64_t paid =
        sizeof(DocumentStore::Node) + 2 * static_cast<std::uint64_t>(std::max(count, 0));
    if (!repeated && 2 * std::uint64_t{textBytes} <= paid) {
      step();
      return;
    }
    const std::uint64_t before = storeBytes();
    step();
    const std::uint64_t after = storeBytes();
    std::uint64_t built = after - std::min(after, before);
    if (!repeated) built = built > paid ? built - paid : 0;
    if (built == 0) return;
    entityBytes_ += built;
    if (entityBytes_ <= kEntityStoreBytesPerByte * bytesRead() + kEntityStoreAllowance || failed_) {
      return;
    }
    stop(kParserLimit,
         "Entities build more than the document's size allows: more than 1 byte of memory per "
         "byte read plus 8 MiB");
  }

  static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** atts) {
    guarded(data,
            [&](Parse& parse) { parse.building(0, [&] { parse.startElement(name, atts); }); });
  }
  void startElement(const XML_Char* name, const XML_Char** atts) {
    if (builder_.depth() >= static_cast<std::size_t>(kMaxElementDepth)) {
      stop(kParserLimit, "Elements nest more than " + std::to_string(kMaxElementDepth) + " deep");
      return;
    }
    const std::uint32_t element = intern(qualified(name));
    const auto firstAttribute = static_cast<std::uint32_t>(store_.attributes.size());
    WhiteSpace whiteSpace = builder_.whiteSpace();
    // Specified attributes come first, then the defaults, which the store
    // reads from their declaration.
    const int specified = XML_GetSpecifiedAttributeCount(parser_);
    for (int i = 0; atts[i] != nullptr; i += 2) {
      const XML_Char* attribute = atts[i];
      const std::string_view name = qualified(attribute);
      if (keepsBlanksWithin_ != nullptr && keepsBlanksWithin_(name)) whiteSpace.keepBlanks = true;
      if (std::strcmp(attribute, kXmlSpace.data()) == 0) {
        whiteSpace.preserve = keptValue(atts[i + 1]) == "preserve";
      }
      if (i < specified) store_.addAttribute(intern(name), keptValue(atts[i + 1]));
    }
    // Namespace declarations are attributes to the DOM, not to expat. One
    // whose value is that of a declared default needs no copy: the store
    // reads the default.
    for (const auto& [prefix, uri] : namespaces_) {
      std::string qualifiedName = prefix == nullptr ? "xmlns" : "xmlns:" + std::string(prefix);
      const std::uint32_t attribute = intern(qualifiedName);
      const std::string_view value = keptValue(uri);
      if (store_.declaredDefault(element, attribute) == value) continue;
      store_.addAttribute(attribute, value);
    }
    namespaces_.clear();
    const std::uint32_t index = builder_.startElement(element, firstAttribute, whiteSpace);
    open_.emplace_back(element, static_cast<std::uint32_t>(currentLine()));
    if (recordPositions_) {
      if (store_.positions.size() <= index) store_.positions.resize(index + 1);
      store_.positions[index] = {static_cast<std::uint32_t>(currentLine()),
                                 static_cast<std::uint32_t>(currentColumn())};
      placeAttributes(firstAttribute, store_.positions[index]);
    }
    if (!declaredTypes_.empty()) {
      const auto type = declaredTypes_.find(element);
      if (type != declaredTypes_.end()) {
        charge(type->second.everyTag, [&] {
          return "Declared attributes at element '" + std::string(store_.nameUtf8(element)) +
                 "' (1 per declaration on every tag, and the bytes of each prefixed default's "
                 "name and each namespace default)";
        });
      }
    }
  }

  // Reads bytes in the parser's encoding a character at a time, as the
  // parser counts them (a surrogate pair is one), keeping lines and columns.
  class TagReader {
   public:
    TagReader(std::string_view raw, std::string_view encoding, bool decoded,
              DocumentStore::Position at)
        : raw_(raw),
          wide_(encoding == "UTF-16LE" || encoding == "UTF-16BE"),
          little_(encoding == "UTF-16LE"),
          utf8_(decoded || encoding == "UTF-8"),
          at_(at) {
      read();
    }
    bool done() const { return done_; }
    char32_t peek() const { return current_; }
    DocumentStore::Position at() const { return at_; }
    void next() {
      if (current_ == U'\r' || (current_ == U'\n' && !crBefore_)) {
        ++at_.line;
        at_.column = 1;
      } else if (current_ != U'\n') {
        ++at_.column;
      }
      crBefore_ = current_ == U'\r';
      read();
    }

   private:
    void read() {
      const std::size_t unit = wide_ ? 2 : 1;
      if (offset_ + unit > raw_.size()) {
        done_ = true;
        return;
      }
      const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(raw_[i]); };
      if (wide_) {
        current_ = little_ ? (byte(offset_ + 1) << 8 | byte(offset_))
                           : (byte(offset_) << 8 | byte(offset_ + 1));
        offset_ += 2;
        if (isHighSurrogate(static_cast<char16_t>(current_)) && offset_ + 2 <= raw_.size()) {
          offset_ += 2;  // the pair is one character
          current_ = 0xFFFD;
        }
        return;
      }
      current_ = byte(offset_++);
      if (!utf8_ || current_ < 0x80) return;
      const std::size_t length = current_ >= 0xF0 ? 4 : current_ >= 0xE0 ? 3 : 2;
      current_ &= 0x3Fu >> (length - 1);
      for (std::size_t k = 1; k < length && offset_ < raw_.size(); ++k) {
        current_ = current_ << 6 | (byte(offset_++) & 0x3F);
      }
    }

    std::string_view raw_;
    bool wide_;
    bool little_;
    bool utf8_;
    DocumentStore::Position at_;
    std::size_t offset_ = 0;
    char32_t current_ = 0;
    bool crBefore_ = false;
    bool done_ = false;
  };

  // Gives each attribute from `first` on the position of its name in the
  // start tag that begins at `tag`, read from the tag's own bytes; one
  // that the bytes do not spell (the tag built by an entity, a declared
  // namespace default) gets the tag's position. Linear in the tag's length.
  void placeAttributes(std::uint32_t first, DocumentStore::Position tag) {
    const std::size_t count = store_.attributes.size();
    store_.attributePositions.resize(count, tag);
    if (first == count) return;
    TagReader text(inputHere(std::max(XML_GetCurrentByteCount(parser_), 0)), parserEncoding_,
                   decoded_, tag);
    if (text.done() || text.peek() != U'<') return;
    // The tag's attributes as spelt, each with where its name begins.
    std::vector<std::pair<std::string, DocumentStore::Position>> spelt;
    const auto isSpace = [](char32_t c) {
      return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r';
    };
    while (!text.done() && !isSpace(text.peek()) && text.peek() != U'>' && text.peek() != U'/') {
      text.next();
    }
    while (!text.done()) {
      while (!text.done() && isSpace(text.peek())) text.next();
      if (text.done() || text.peek() == U'>' || text.peek() == U'/') break;
      std::string name;
      const DocumentStore::Position start = text.at();
      while (!text.done() && !isSpace(text.peek()) && text.peek() != U'=') {
        appendUtf8(name, text.peek());
        text.next();
      }
      while (!text.done() && text.peek() != U'"' && text.peek() != U'\'') text.next();
      if (text.done()) break;
      const char32_t quote = text.peek();
      text.next();
      while (!text.done() && text.peek() != quote) text.next();
      if (!text.done()) text.next();
      spelt.emplace_back(std::move(name), start);
    }
    // The store holds the specified attributes, then the namespace
    // declarations, each kind in the order spelt: one cursor per kind.
    const auto isDeclaration = [](std::string_view name) {
      return name == "xmlns" || name.starts_with("xmlns:");
    };
    std::size_t next[2] = {0, 0};
    for (std::uint32_t a = first; a < count; ++a) {
      const std::string_view name = store_.nameUtf8(store_.attributes[a].name);
      std::size_t& k = next[isDeclaration(name) ? 1 : 0];
      while (k < spelt.size() && isDeclaration(spelt[k].first) != isDeclaration(name)) ++k;
      if (k < spelt.size() && spelt[k].first == name) {
        store_.attributePositions[a] = spelt[k++].second;
      }
    }
  }

  static void XMLCALL onEnd(void* data, const XML_Char*) {
    guarded(data, [](Parse& parse) {
      parse.builder_.endElement();
      if (!parse.open_.empty()) parse.open_.pop_back();
    });
  }

  static void XMLCALL onCharacters(void* data, const XML_Char* text, int length) {
    guarded(data, [&](Parse& parse) {
      parse.building(static_cast<std::size_t>(std::max(length, 0)), [&] {
        parse.builder_.characters(
            std::string_view(text, static_cast<std::size_t>(std::max(length, 0))));
      });
    });
  }
  static void XMLCALL onCdataStart(void* data) {
    guarded(data, [](Parse& parse) { parse.builder_.startCdata(); });
  }
  static void XMLCALL onCdataEnd(void* data) { of(data).builder_.endCdata(); }

  // Comments and processing instructions within the root element or after
  // it; those of the prolog and the DTD are no part of the document's tree.
  static void XMLCALL onComment(void* data, const XML_Char* text) {
    guarded(data, [&](Parse& parse) { parse.otherNode(kCommentNode, nullptr, text); });
  }
  static void XMLCALL onProcessingInstruction(void* data, const XML_Char* target,
                                              const XML_Char* text) {
    guarded(data, [&](Parse& parse) { parse.otherNode(kProcessingInstructionNode, target, text); });
  }
  void otherNode(std::uint8_t type, const XML_Char* target, const XML_Char* text) {
    if (!builder_.hasRoot()) return;
    building(std::strlen(text),
             [&] { builder_.otherNode(type, target != nullptr ? intern(target) : 0, text); });
  }

  // Called for each namespace declaration of a start tag, those defaulted
  // included, before the tag itself; the strings live until its end.
  static void XMLCALL onNamespace(void* data, const XML_Char* prefix, const XML_Char* uri) {
    guarded(data, [&](Parse& parse) {
      if (uri != nullptr) parse.namespaces_.emplace_back(prefix, uri);
    });
  }

  // Every attribute declaration, with a default or without.
  static void XMLCALL onAttlist(void* data, const XML_Char* element, const XML_Char* attribute,
                                const XML_Char* type, const XML_Char* value, int) {
    guarded(data, [&](Parse& parse) { parse.declareAttribute(element, attribute, type, value); });
  }
  void declareAttribute(const XML_Char* element, const XML_Char* attribute, const XML_Char* type,
                        const XML_Char* value) {
    const std::uint32_t elementName = intern(element);
    const std::uint32_t attributeName = intern(attribute);
    ++declarations_;
    checkNames(store_.nameCount());
    DeclaredType& declared = declaredTypes_[elementName];
    // expat looks for an earlier declaration of the same attribute among
    // those of the element type when this one has a default or is an ID: a
    // pointer compared with each, a sixteenth of what a tag pays for one.
    if (value != nullptr || std::strcmp(type, "ID") == 0) {
      charge(declared.declarations / 16, [] { return "Attribute declarations"; });
    }
    ++declared.declarations;
    ++declared.everyTag;
    if (value == nullptr) return;
    if (!store_.declareDefault(elementName, attributeName, keptValue(value))) return;
    // What expat does with a default on every tag beyond taking it: a
    // prefixed name is hashed, a namespace declaration's value copied.
    const std::string_view name(attribute);
    if (name == "xmlns" || name.starts_with("xmlns:")) {
      declared.everyTag += name.size() + std::strlen(value);
    } else if (name.find(':') != std::string_view::npos) {
      declared.everyTag += name.size();
    }
  }

  // Internal entities are followed through the references of their text, to
  // bound how deep they nest where they are expanded.
  static void XMLCALL onEntity(void* data, const XML_Char* name, int isParameter,
                               const XML_Char* value, int valueLength, const XML_Char*,
                               const XML_Char* systemId, const XML_Char*, const XML_Char*) {
    guarded(data, [&](Parse& parse) {
      if (value != nullptr) {
        parse.declareEntity(
            isParameter != 0 ? EntityNesting::Kind::kParameter : EntityNesting::Kind::kGeneral,
            name, std::string_view(value, static_cast<std::size_t>(valueLength)));
      } else if (!isParameter && systemId != nullptr) {
        parse.externalNames_.try_emplace(systemId, name);
      }
    });
  }
  void declareEntity(EntityNesting::Kind kind, const XML_Char* name, std::string_view text) {
    std::uint64_t work = 0;
    const std::uint32_t depth = nesting_.declare(
        {kind, intern(name), text}, [this](std::string_view named) { return intern(named); }, work);
    if (depth > kMaxEntityDepth) {
      stop(kParserLimit,
           "Entity references nest more than " + std::to_string(kMaxEntityDepth) + " deep");
      return;
    }
    charge(work, [] { return "References between entity declarations"; });
  }

  // Nothing outside the document is read. The external subset and external
  // parameter entities are skipped (declarations after them are then not
  // processed); a reference to an external general entity stops the parse.
  static int XMLCALL onExternalEntity(XML_Parser parser, const XML_Char* context, const XML_Char*,
                                      const XML_Char* systemId, const XML_Char*) {
    if (context == nullptr) return XML_STATUS_OK;
    guarded(XML_GetUserData(parser), [&](Parse& parse) {
      const auto found = parse.externalNames_.find(systemId);
      const std::string name = found != parse.externalNames_.end() ? found->second : "";
      parse.fail(-XML_ERROR_EXTERNAL_ENTITY_HANDLING, parse.currentLine(), parse.currentColumn(),
                 "Entity '" + name + "' is external and is not loaded");
    });
    return XML_STATUS_ERROR;
  }

  // expat lets a reference to an undeclared entity pass when declarations it
  // did not read might declare it; nothing is read, so it is an error.
  static void XMLCALL onSkippedEntity(void* data, const XML_Char* name, int isParameter) {
    if (isParameter) return;
    guarded(data, [&](Parse& parse) {
      parse.stop(-XML_ERROR_UNDEFINED_ENTITY, undefinedEntityReason(name));
    });
  }

  XML_Parser parser_;
  DocumentStore& store_;
  StoreBuilder builder_;
  std::string_view parserEncoding_;
  bool decoded_;  // whether a decoder stands in front of expat
  EncodingInForce inForce_;
  // The elements open at the event being reported: name and start line.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> open_;
  std::vector<std::pair<const XML_Char*, const XML_Char*>> namespaces_;
  // What the attribute declarations of an element type cost on every start
  // tag of that type, by its name.
  struct DeclaredType {
    std::uint64_t declarations = 0;
    std::uint64_t everyTag = 0;
  };
  std::unordered_map<std::uint32_t, DeclaredType> declaredTypes_;
  std::uint64_t declarations_ = 0;
  // External general entities by system identifier, to name them when a
  // reference stops the parse.
  std::unordered_map<const XML_Char*, std::string> externalNames_;
  EntityNesting nesting_;
  std::string name_;
  std::uint64_t work_ = 0;
  std::uint64_t entityBytes_ = 0;  // the store that entities built
  XML_Index lastStart_ = -1;       // the span of the last event that filled the store
  int lastCount_ = -1;
  std::uint64_t fed_ = 0;  // bytes handed to expat
  LoadSettings::BlankPolicy keepsBlanksWithin_;
  bool recordPositions_;
  bool failed_ = false;
  bool outOfMemory_ = false;
  ParseError error_;
};

}  // namespace

ParseResult parseDocument(ByteSource& source, const LoadSettings& settings) {
  ParseResult result;
  auto fail = [&result](ParseError error) {
    result.store.reset();
    result.error = std::move(error);
    return std::move(result);
  };

  // The start of the document tells its encoding.
  std::string head(kEncodingHeadBytes, '\0');
  std::size_t headLength = 0;
  while (headLength < head.size()) {
    const int n = source.read(head.data() + headLength, static_cast<int>(head.size() - headLength));
    if (n <= 0) break;
    headLength += static_cast<std::size_t>(n);
  }
  head.resize(headLength);
  if (std::optional<ParseError> failure = source.failure()) return fail(*std::move(failure));
  EncodingChoice choice = chooseEncoding(head);
  if (choice.errorKind != EncodingError::kNone) {
    const bool unsupported = choice.errorKind == EncodingError::kUnsupported;
    return fail(errorAt(unsupported ? -XML_ERROR_UNKNOWN_ENCODING : -XML_ERROR_INCORRECT_ENCODING,
                        1, 1, choice.error));
  }

  result.store = std::make_unique<DocumentStore>();
  Parse parse(*result.store, choice, settings);
  const std::string_view start = std::string_view(head).substr(choice.byteOrderMark);
  const bool shortDocument = headLength < kEncodingHeadBytes;
  if (!choice.decoder) {
    // expat reads the bytes itself, straight from its own buffer; UTF-16 is
    // checked first, and only what precedes an error reaches expat.
    std::optional<Utf16Check> utf16;
    const std::string_view encoding = choice.parserEncoding;
    if (encoding == "UTF-16LE" || encoding == "UTF-16BE") utf16.emplace(encoding == "UTF-16BE");
    const auto checked = [&](std::string_view bytes, bool final) {
      return utf16 ? utf16->valid(bytes, final) : bytes.size();
    };
    const auto invalid = [&] { return utf16 && utf16->failed(); };
    // After the bytes before an error were parsed: the error, unless the
    // parser found one of its own in them.
    const auto failIfInvalid = [&] {
      if (!invalid()) return false;
      parse.fail(-XML_ERROR_INCORRECT_ENCODING, utf16->where().line(), utf16->where().column(),
                 withEncoding(kInvalidBytes, choice.inForce, "UTF-8"));
      return true;
    };
    const std::size_t headValid = checked(start, shortDocument);
    bool going =
        parse.feed(start.substr(0, headValid), shortDocument && !invalid()) && !failIfInvalid();
    while (going && !shortDocument) {
      const int chunk = parse.nextChunk();
      char* buffer = static_cast<char*>(parse.buffer(chunk));
      const int n = source.read(buffer, chunk);
      if (n < 0) break;
      const auto valid =
          static_cast<int>(checked(std::string_view(buffer, static_cast<std::size_t>(n)), n == 0));
      going = parse.feedBuffer(valid, n == 0 && !invalid()) && !failIfInvalid() && n != 0;
    }
  } else {
    // Decoded in front of the parser, which counts lines and columns in the
    // decoded text; a decoding error is placed where it would count them.
    Decoder& decoder = *choice.decoder;
    PositionCounter position;
    std::string pending(start);
    std::string decoded;
    std::string raw;
    bool final = shortDocument;
    while (true) {
      decoded.clear();
      const Decoder::Result step = decoder.decode(pending, final, decoded);
      position.advance(decoded);
      const bool fed = parse.feed(decoded, final && !step.invalid);
      if (!fed) break;
      if (step.invalid) {
        parse.fail(-XML_ERROR_INCORRECT_ENCODING, position.line(), position.column(),
                   withEncoding(kInvalidBytes, choice.inForce,
                                likelyEncoding(std::string_view(pending).substr(step.consumed),
                                               choice.inForce.name)));
        break;
      }
      if (final) break;
      pending.erase(0, step.consumed);
      raw.resize(static_cast<std::size_t>(parse.nextChunk()));
      const int n = source.read(raw.data(), static_cast<int>(raw.size()));
      if (n < 0) break;
      if (n == 0) final = true;
      pending.append(raw.data(), static_cast<std::size_t>(n));
    }
  }

  if (std::optional<ParseError> failure = source.failure()) return fail(*std::move(failure));
  if (parse.failed()) {
    ParseError error = parse.error();
    error.line = std::max(error.line, 1);
    error.linepos = std::max(error.linepos, 1);
    return fail(std::move(error));
  }
  if (result.store->root == kNoNode) {
    return fail(errorAt(kNoDocumentElement, 1, 1, "the document has no root element"));
  }
  result.store->bytesRead = parse.fed();
  return result;
}

}  // namespace quarvel
