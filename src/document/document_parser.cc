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

#include "document/input_encoding.h"
#include "document/store_builder.h"
#include "document/utf.h"

namespace quarvel {
namespace {

// Entity expansion is bounded by expat's own protection: once the bytes that
// entities produce pass the threshold, they may be at most this many times
// the document's bytes.
constexpr float kMaximumAmplification = 10.0f;
constexpr unsigned long long kAmplificationThreshold = 1ull << 20;

// expat hands every start tag the attribute defaults that the internal
// subset declares for its element, and binds a defaulted namespace
// declaration afresh on every tag by copying its value: work that no byte of
// the tag pays for (1,000 defaults on each of 50,000 tags of four bytes, or
// a 1 MB namespace default on each). Each defaulted attribute and each byte
// of a defaulted namespace value is charged, and the charges together may be
// at most this many per byte read, plus the allowance.
constexpr std::uint64_t kDefaultsWorkFactor = 8;
constexpr std::uint64_t kDefaultsWorkAllowance = std::uint64_t{1} << 20;

// Every distinct name costs expat an entry in its tables for the whole parse
// (about 120 bytes and a microsecond or two; a million names in 9 MB took
// seconds), and the store one more: distinct element, attribute and target
// names may be at most this many plus one per so many bytes read. A
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

// Separates the namespace URI, local name and prefix in the names expat
// hands out: a byte that UTF-8 never holds, so no name or URI contains it.
constexpr char kSeparator = '\xFF';
constexpr std::string_view kXmlSpace = "http://www.w3.org/XML/1998/namespace\xFFspace\xFFxml";

// A string from expat, read no further than the kept prefix of a value.
std::string_view keptValue(const XML_Char* value) {
  return keptPrefix(std::string_view(value, strnlen(value, kAttributeValueKeptBytes + 1)));
}

// Counts lines and columns over the UTF-8 that a decoder hands the parser,
// to place a decoding error as the parser would place an error there.
class PositionCounter {
 public:
  void advance(std::string_view utf8) {
    for (const char c : utf8) {
      if (c == '\n') {
        if (!afterCarriageReturn_) newLine();
        afterCarriageReturn_ = false;
      } else if (c == '\r') {
        newLine();
        afterCarriageReturn_ = true;
      } else {
        afterCarriageReturn_ = false;
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++column_;
      }
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

// One parse: expat's parser, its callbacks, the bounds they keep and the
// first error; the store is filled through a StoreBuilder.
class Parse {
 public:
  Parse(DocumentStore& store, const char* encoding, Positions positions)
      : store_(store), builder_(store), recordPositions_(positions == Positions::kRecord) {
    parser_ = XML_ParserCreateNS(encoding, kSeparator);
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

  // Ends the parse with an error of ours at `line` and `column`.
  void fail(std::int32_t code, int line, int column, std::string reason) {
    if (failed_) return;
    failed_ = true;
    error_ = {code, line, column, std::move(reason)};
  }

  struct Failure {
    std::int32_t code = 0;
    int line = 0;
    int column = 0;
    std::string reason;
  };
  bool failed() const { return failed_; }
  const Failure& error() const { return error_; }

 private:
  static Parse& of(void* data) { return *static_cast<Parse*>(data); }

  // After XML_Parse or XML_ParseBuffer: turns expat's verdict into ours.
  bool settle(XML_Status status) {
    if (outOfMemory_) throw std::bad_alloc();
    if (status != XML_STATUS_ERROR) return !failed_;
    if (failed_) return false;  // an error of ours stopped the parser
    const XML_Error code = XML_GetErrorCode(parser_);
    if (code == XML_ERROR_NO_MEMORY) throw std::bad_alloc();
    fail(-static_cast<std::int32_t>(code), currentLine(), currentColumn(), XML_ErrorString(code));
    return false;
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
  void stop(std::int32_t code, std::string reason) {
    fail(code, currentLine(), currentColumn(), std::move(reason));
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

  // The qualified name, as written, of a name that expat hands out as
  // "URI SEP local SEP prefix", "URI SEP local" or "local".
  std::string_view qualified(const XML_Char* expanded) {
    const std::string_view name(expanded);
    const std::size_t uriEnd = name.find(kSeparator);
    if (uriEnd == std::string_view::npos) return name;
    const std::string_view rest = name.substr(uriEnd + 1);
    const std::size_t localEnd = rest.find(kSeparator);
    if (localEnd == std::string_view::npos) return rest;
    name_.assign(rest.substr(localEnd + 1));
    name_.push_back(':');
    name_.append(rest.substr(0, localEnd));
    return name_;
  }

  // Bytes of the document up to the end of the event being reported (a whole
  // start tag, with all its attributes).
  std::uint64_t bytesRead() const {
    return static_cast<std::uint64_t>(std::max<XML_Index>(XML_GetCurrentByteIndex(parser_), 0)) +
           static_cast<std::uint64_t>(std::max(XML_GetCurrentByteCount(parser_), 0));
  }

  // The name's index in the store; a name beyond kNameAllowance stops the
  // parse (and is still interned, for the caller to finish its step).
  std::uint32_t intern(std::string_view qualifiedName) {
    const std::uint32_t name = store_.intern(qualifiedName);
    if (name >= kNameAllowance && name >= kNameAllowance + bytesRead() / kBytesPerName &&
        !failed_) {
      stop(kParserLimit,
           "More distinct names than the document's size allows: more than 10,000 "
           "plus 1 per 128 bytes read");
    }
    return name;
  }

  void chargeDefaults(std::uint64_t work, std::uint32_t element) {
    work_ += work;
    if (work_ <= kDefaultsWorkFactor * bytesRead() + kDefaultsWorkAllowance) return;
    stop(kParserLimit,
         "Declared attribute defaults cost too much for the document's size at element '" +
             std::string(store_.nameUtf8(element)) +
             "': each default applied, and each byte of a defaulted namespace, counts; more "
             "than 8 per byte read plus 1 MiB");
  }

  static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** atts) {
    guarded(data, [&](Parse& parse) { parse.startElement(name, atts); });
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
    int count = 0;
    for (; atts[count] != nullptr; count += 2) {
      const std::string_view attribute(atts[count]);
      if (count < specified) {
        store_.addAttribute(intern(qualified(atts[count])), keptValue(atts[count + 1]));
      }
      if (attribute == kXmlSpace) whiteSpace.preserve = keptValue(atts[count + 1]) == "preserve";
      // Word mode, the one reader of blanks, is asked for by `wrap`.
      if (attribute == "wrap") whiteSpace.keepBlanks = true;
    }
    std::uint64_t work = static_cast<std::uint64_t>(count - std::min(count, specified)) / 2;
    // Namespace declarations are attributes to the DOM, not to expat. One
    // whose value is that of a declared default needs no copy: the store
    // reads the default.
    for (const auto& [prefix, uri] : namespaces_) {
      std::string qualifiedName = prefix == nullptr ? "xmlns" : "xmlns:" + std::string(prefix);
      const std::uint32_t attribute = intern(qualifiedName);
      const std::string_view value = keptValue(uri);
      if (store_.declaredDefault(element, attribute) == value) {
        const auto found = namespaceDefaultBytes_.find(defaultKey(element, attribute));
        if (found != namespaceDefaultBytes_.end()) work += 1 + found->second;
        continue;
      }
      store_.addAttribute(attribute, value);
    }
    namespaces_.clear();
    const std::uint32_t index = builder_.startElement(element, firstAttribute, whiteSpace);
    if (recordPositions_) {
      if (store_.positions.size() <= index) store_.positions.resize(index + 1);
      store_.positions[index] = {static_cast<std::uint32_t>(currentLine()),
                                 static_cast<std::uint32_t>(currentColumn())};
    }
    if (work != 0) chargeDefaults(work, element);
  }

  static void XMLCALL onEnd(void* data, const XML_Char*) {
    guarded(data, [](Parse& parse) { parse.builder_.endElement(); });
  }

  static void XMLCALL onCharacters(void* data, const XML_Char* text, int length) {
    guarded(data, [&](Parse& parse) {
      parse.builder_.characters(
          std::string_view(text, static_cast<std::size_t>(std::max(length, 0))));
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
    builder_.otherNode(type, target != nullptr ? intern(target) : 0, text);
  }

  // Called for each namespace declaration of a start tag, those defaulted
  // included, before the tag itself; the strings live until its end.
  static void XMLCALL onNamespace(void* data, const XML_Char* prefix, const XML_Char* uri) {
    guarded(data, [&](Parse& parse) {
      if (uri != nullptr) parse.namespaces_.emplace_back(prefix, uri);
    });
  }

  static void XMLCALL onAttlist(void* data, const XML_Char* element, const XML_Char* attribute,
                                const XML_Char*, const XML_Char* value, int) {
    if (value == nullptr) return;  // required or implied: no default
    guarded(data, [&](Parse& parse) {
      const std::uint32_t elementName = parse.intern(element);
      const std::uint32_t attributeName = parse.intern(attribute);
      if (!parse.store_.declareDefault(elementName, attributeName, keptValue(value))) return;
      const std::string_view name(attribute);
      if (name == "xmlns" || name.starts_with("xmlns:")) {
        parse.namespaceDefaultBytes_.emplace(defaultKey(elementName, attributeName),
                                             std::strlen(value));
      }
    });
  }

  // External general entities are remembered by their system identifier, to
  // name them when a reference stops the parse.
  static void XMLCALL onEntity(void* data, const XML_Char* name, int isParameter, const XML_Char*,
                               int, const XML_Char*, const XML_Char* systemId, const XML_Char*,
                               const XML_Char*) {
    if (isParameter || systemId == nullptr) return;
    guarded(data, [&](Parse& parse) { parse.externalNames_.try_emplace(systemId, name); });
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
      parse.stop(-XML_ERROR_UNDEFINED_ENTITY, "undefined entity '" + std::string(name) + "'");
    });
  }

  XML_Parser parser_;
  DocumentStore& store_;
  StoreBuilder builder_;
  std::vector<std::pair<const XML_Char*, const XML_Char*>> namespaces_;
  // The whole length of each namespace default, by element and attribute.
  std::unordered_map<std::uint64_t, std::uint64_t> namespaceDefaultBytes_;
  std::unordered_map<const XML_Char*, std::string> externalNames_;
  std::string name_;
  std::uint64_t work_ = 0;
  std::uint64_t fed_ = 0;  // bytes handed to expat
  bool recordPositions_;
  bool failed_ = false;
  bool outOfMemory_ = false;
  Failure error_;
};

}  // namespace

ParseResult parseDocument(LocationReader& reader, Positions positions) {
  ParseResult result;
  auto fail = [&result](std::int32_t code, int line, int column, std::string reason) {
    result.store.reset();
    result.error.errorCode = code;
    result.error.line = line;
    result.error.linepos = column;
    result.error.reason = reasonWithLineEnd(reason);
    return std::move(result);
  };
  auto readFailure = [&]() -> std::optional<ReadFailure> { return reader.failure(); };

  // The start of the document tells its encoding.
  std::string head(kEncodingHeadBytes, '\0');
  std::size_t headLength = 0;
  while (headLength < head.size()) {
    const int n = reader.read(head.data() + headLength, static_cast<int>(head.size() - headLength));
    if (n <= 0) break;
    headLength += static_cast<std::size_t>(n);
  }
  head.resize(headLength);
  if (std::optional<ReadFailure> failure = readFailure()) {
    return fail(failure->code, 0, 0, std::move(failure->reason));
  }
  EncodingChoice choice = chooseEncoding(head);
  if (!choice.error.empty()) {
    const bool unsupported = choice.error.starts_with("Unsupported encoding");
    return fail(unsupported ? -XML_ERROR_UNKNOWN_ENCODING : -XML_ERROR_INCORRECT_ENCODING, 1, 1,
                std::move(choice.error));
  }

  result.store = std::make_unique<DocumentStore>();
  Parse parse(*result.store, choice.parserEncoding, positions);
  const std::string_view start = std::string_view(head).substr(choice.byteOrderMark);
  const bool shortDocument = headLength < kEncodingHeadBytes;
  if (!choice.decoder) {
    // expat reads the bytes itself, straight from its own buffer.
    bool going = parse.feed(start, shortDocument);
    while (going && !shortDocument) {
      const int chunk = parse.nextChunk();
      const int n = reader.read(static_cast<char*>(parse.buffer(chunk)), chunk);
      if (n < 0) break;
      going = parse.feedBuffer(n, n == 0) && n != 0;
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
                   "the document holds bytes that are not valid in its encoding");
        break;
      }
      if (final) break;
      pending.erase(0, step.consumed);
      raw.resize(static_cast<std::size_t>(parse.nextChunk()));
      const int n = reader.read(raw.data(), static_cast<int>(raw.size()));
      if (n < 0) break;
      if (n == 0) final = true;
      pending.append(raw.data(), static_cast<std::size_t>(n));
    }
  }

  if (std::optional<ReadFailure> failure = readFailure()) {
    return fail(failure->code, 0, 0, std::move(failure->reason));
  }
  if (parse.failed()) {
    const auto& error = parse.error();
    return fail(error.code, std::max(error.line, 1), std::max(error.column, 1), error.reason);
  }
  if (result.store->root == kNoNode) {
    return fail(kNoDocumentElement, 1, 1, "the document has no root element");
  }
  return result;
}

}  // namespace quarvel
