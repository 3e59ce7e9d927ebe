#include "document/xml_document.h"

#include <libxml/catalog.h>
#include <libxml/encoding.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "document/japanese_encodings.h"
#include "document/large_block.h"
#include "document/utf.h"

namespace quarvel {
namespace {

// External subsets, entities and XInclude are never loaded, and entity
// expansion keeps libxml2's default amplification and size limits (no
// XML_PARSE_HUGE). Defaults declared in the DTD are not copied into every
// element (no XML_PARSE_DTDATTR): getAttribute reads them from their one
// declaration, so a long default on many elements costs nothing per element.
constexpr int kParseOptions = XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR |
                              XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES;

std::string_view view(const xmlChar* s) {
  return s == nullptr ? std::string_view() : std::string_view(reinterpret_cast<const char*>(s));
}

// At most the first `limit` bytes of `s`, without measuring the rest.
std::string_view prefixView(const xmlChar* s, size_t limit) {
  if (s == nullptr) return {};
  const char* text = reinterpret_cast<const char*>(s);
  return std::string_view(text, strnlen(text, limit));
}

std::string withLineEnd(std::string text) {
  if (text.empty() || text.back() != '\n') text.push_back('\n');
  return text;
}

// ---------------------------------------------------------------------------
// Parsing.

xmlParserInputPtr refuseExternalResource(const char*, const char*, xmlParserCtxtPtr) {
  return nullptr;
}

// The external subset is skipped without libxml2 even looking for its file.
xmlParserInputPtr refuseExternalEntity(void*, const xmlChar*, const xmlChar*) { return nullptr; }

void ignoreGenericError(void*, const char*, ...) {}

// Set when an allocation by libxml2 on this thread failed. libxml2 reports
// most failures as XML_ERR_NO_MEMORY, but some only as the error they cause
// next (a name it could not store becomes an invalid name).
thread_local bool xmlAllocationFailed = false;

void* noteFailure(void* memory) {
  if (memory == nullptr) xmlAllocationFailed = true;
  return memory;
}
void* xmlAllocate(size_t size) { return noteFailure(std::malloc(size)); }
void* xmlReallocate(void* memory, size_t size) { return noteFailure(std::realloc(memory, size)); }
char* xmlDuplicate(const char* text) { return static_cast<char*>(noteFailure(strdup(text))); }
void xmlRelease(void* memory) { std::free(memory); }

// Throws std::bad_alloc when memory runs out; the next call tries again.
void initialiseXml() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Before any other call into libxml2, as it requires.
    xmlMemSetup(xmlRelease, xmlAllocate, xmlReallocate, xmlDuplicate);
    xmlInitParser();
    // Backstop for every path on which libxml2 would open a resource.
    xmlSetExternalEntityLoader(refuseExternalResource);
    // Catalog processing instructions in a document are ignored too.
    xmlCatalogSetDefaults(XML_CATA_ALLOW_NONE);
    // libxml2 does not check every allocation that registering makes, so
    // any failure undoes it all (the built-in handlers come back by
    // themselves).
    xmlAllocationFailed = false;
    if (!registerJapaneseEncodings() || xmlAllocationFailed) {
      xmlCleanupCharEncodingHandlers();
      throw std::bad_alloc();
    }
  });
}

// Mutes libxml2's generic error handler, which prints to stderr, on the
// calling thread for the length of one parse.
class SilencedGenericErrors {
 public:
  SilencedGenericErrors() : handler_(xmlGenericError), context_(xmlGenericErrorContext) {
    xmlSetGenericErrorFunc(nullptr, ignoreGenericError);
  }
  ~SilencedGenericErrors() { xmlSetGenericErrorFunc(context_, handler_); }
  SilencedGenericErrors(const SilencedGenericErrors&) = delete;
  SilencedGenericErrors& operator=(const SilencedGenericErrors&) = delete;

 private:
  xmlGenericErrorFunc handler_;
  void* context_;
};

// libxml2 2.9.14 counts entity references in content toward its expansion
// limit, but neither what they copy nor anything expanded in attribute
// values. Every entity lookup therefore charges the entity's replacement
// text, and the parse stops once the total passes this many times the bytes
// of the document read so far, plus the allowance.
constexpr uint64_t kExpansionFactor = 10;
constexpr uint64_t kExpansionAllowance = uint64_t{1} << 20;

// libxml2 2.9.14 compares every attribute of a start tag with every other
// one (declared defaults included) and appends each to the element's list
// by walking it, so one start tag costs the square of its attributes.
// Elements are capped, and the squares of all start tags together are held
// to this many per byte read, plus the allowance (one element at the cap).
constexpr int kMaxAttributesPerElement = 1000;
constexpr uint64_t kAttributeWorkFactor = 1000;
constexpr uint64_t kAttributeWorkAllowance =
    uint64_t{kMaxAttributesPerElement} * kMaxAttributesPerElement;

class StoreBuilder;

struct FirstError {
  xmlParserCtxtPtr document = nullptr;  // not that of an entity's content
  StoreBuilder* builder = nullptr;      // where the content goes
  bool recorded = false;
  int code = 0;
  int line = 0;
  int column = 0;
  std::string message;
  // An allocation failed somewhere during the parse, in libxml2 or here.
  bool outOfMemory = false;
  // Bytes of replacement text charged by entity lookups.
  uint64_t expanded = 0;
  // The sum of the squares of the attribute counts of the start tags.
  uint64_t attributeWork = 0;
  // A limit of ours stopped the parse: the reader then feeds no more.
  bool stopped = false;
};

// The parse running on this thread. libxml2 calls back into plain C
// functions, and a parse never starts another one.
thread_local FirstError* currentParse = nullptr;

class ParseScope {
 public:
  explicit ParseScope(FirstError* first) { currentParse = first; }
  ~ParseScope() { currentParse = nullptr; }
  ParseScope(const ParseScope&) = delete;
  ParseScope& operator=(const ParseScope&) = delete;
};

void record(xmlParserCtxtPtr where, int code, int line, int column,
            std::string_view message) noexcept {
  FirstError* first = currentParse;
  if (first == nullptr || first->recorded) return;
  // Errors inside an entity's replacement text are parsed by a context of
  // their own that counts lines from the entity's start; the reference's
  // place in the document is more useful.
  if (where != first->document && first->document != nullptr && first->document->input != nullptr) {
    line = first->document->input->line;
    column = first->document->input->col;
  }
  try {
    first->message.assign(message);
  } catch (const std::bad_alloc&) {
    first->message.clear();
    first->outOfMemory = true;
  }
  first->recorded = true;
  first->code = code;
  first->line = line;
  first->column = column;
}

// Warnings never make a document unusable. Besides the fatal errors, so do
// namespace errors, the "huge text node" stop (reported as out of memory at
// error level) and references to undeclared entities, which libxml2 lets
// pass when an external subset that was not read might declare them.
bool makesDocumentUnusable(const xmlError& error) {
  if (error.level == XML_ERR_FATAL) return true;
  if (error.level != XML_ERR_ERROR) return false;
  return error.domain == XML_FROM_NAMESPACE || error.code == XML_ERR_NO_MEMORY ||
         error.code == XML_WAR_UNDECLARED_ENTITY;
}

// libxml2 reports a failed allocation and its own "huge text node" stop with
// the same code; only the latter is a verdict on the document.
bool isAllocationFailure(const xmlError& error) {
  return error.code == XML_ERR_NO_MEMORY &&
         (error.message == nullptr || std::strstr(error.message, "huge text node") == nullptr);
}

void recordStructuredError(void*, xmlErrorPtr error) {
  if (error != nullptr && isAllocationFailure(*error) && currentParse != nullptr) {
    currentParse->outOfMemory = true;
  }
  if (error == nullptr || !makesDocumentUnusable(*error)) return;
  record(static_cast<xmlParserCtxtPtr>(error->ctxt), error->code, error->line, error->int2,
         view(reinterpret_cast<const xmlChar*>(error->message)));
}

// `parts` joined; empty when memory runs out, which is noted for the parse.
// For messages made inside libxml2's callbacks, which must not throw.
std::string joined(std::initializer_list<std::string_view> parts) noexcept {
  std::string text;
  try {
    for (const std::string_view part : parts) text += part;
  } catch (const std::bad_alloc&) {
    text.clear();
    if (currentParse != nullptr) currentParse->outOfMemory = true;
  }
  return text;
}

// Records a stop of our own at the current place and makes `ctxt` (and the
// document's context, when `ctxt` parses an entity's content) stop building
// as after a fatal error; libxml2 then only scans the rest.
void stopParse(xmlParserCtxtPtr ctxt, int code, std::string_view message) noexcept {
  const int line = ctxt->input != nullptr ? ctxt->input->line : 0;
  const int column = ctxt->input != nullptr ? ctxt->input->col : 0;
  record(ctxt, code, line, column, message);
  if (currentParse != nullptr) currentParse->stopped = true;
  for (xmlParserCtxtPtr stopped : {ctxt, currentParse != nullptr ? currentParse->document : ctxt}) {
    if (stopped == nullptr) continue;
    stopped->errNo = code;
    stopped->wellFormed = 0;
    stopped->disableSAX = 1;
  }
}

// Bytes of the document that the parser has read so far, as UTF-8.
uint64_t documentBytesRead() {
  const xmlParserCtxtPtr document = currentParse != nullptr ? currentParse->document : nullptr;
  if (document == nullptr || document->inputNr < 1 || document->inputTab[0] == nullptr) return 0;
  const xmlParserInputPtr input = document->inputTab[0];
  return input->consumed + static_cast<uint64_t>(input->cur - input->base);
}

// Charges an entity's replacement text to the parse; false once the parse
// has been stopped for expanding too much.
bool chargeExpansion(xmlParserCtxtPtr ctxt, const xmlEntity* entity) {
  FirstError* first = currentParse;
  if (first == nullptr || entity == nullptr || entity->length <= 0) return true;
  first->expanded += static_cast<uint64_t>(entity->length);
  if (first->expanded <= kExpansionFactor * documentBytesRead() + kExpansionAllowance) return true;
  stopParse(ctxt, XML_ERR_ENTITY_LOOP,
            joined({"Entity '", view(entity->name),
                    "' expands the document beyond 10 times the bytes read plus 1 MiB"}));
  return false;
}

bool expansionStopped() {
  return currentParse != nullptr &&
         currentParse->expanded > kExpansionFactor * documentBytesRead() + kExpansionAllowance;
}

void noteEntityStart();

// Looks an entity up without loading it: a reference to an external parsed
// entity stops the parse, as its content is never read. Every lookup, also
// the nested ones made while an attribute value or an entity is decoded,
// charges the replacement text.
xmlEntityPtr getEntityWithoutLoading(void* context, const xmlChar* name) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
  if (expansionStopped()) return nullptr;
  const xmlEntityPtr declared =
      ctxt->myDoc != nullptr ? xmlGetDocEntity(ctxt->myDoc, name) : nullptr;
  if (declared == nullptr || declared->etype != XML_EXTERNAL_GENERAL_PARSED_ENTITY) {
    const xmlEntityPtr entity = xmlSAX2GetEntity(context, name);
    if (entity != nullptr && entity->length > 0 && currentParse != nullptr &&
        currentParse->builder != nullptr) {
      noteEntityStart();
    }
    return chargeExpansion(ctxt, entity) ? entity : nullptr;
  }
  stopParse(ctxt, XML_ERR_ENTITY_IS_EXTERNAL,
            joined({"Entity '", view(name), "' is external and is not loaded"}));
  return nullptr;
}

// An external parameter entity is skipped like an external subset that is
// not read; libxml2 would otherwise look for its file. Internal ones charge
// their replacement text like general entities.
xmlEntityPtr getParameterEntityWithoutLoading(void* context, const xmlChar* name) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
  if (expansionStopped()) return nullptr;
  const xmlEntityPtr entity = xmlSAX2GetParameterEntity(context, name);
  if (entity != nullptr && entity->etype == XML_EXTERNAL_PARAMETER_ENTITY) {
    // As after any parameter entity reference, an undeclared general entity
    // is then no longer a well-formedness error in libxml2's eyes.
    ctxt->hasPErefs = 1;
    return nullptr;
  }
  return chargeExpansion(ctxt, entity) ? entity : nullptr;
}

bool attributeWorkExceeded(uint64_t work) {
  return work > kAttributeWorkFactor * documentBytesRead() + kAttributeWorkAllowance;
}

// The default that the internal subset of `doc` declares for attribute
// `name` (a qualified name) of the element named `elementName`, or null.
// libxml2 files a declaration under the element's name as written and the
// attribute's prefix and local name; required and implied attributes have
// no default.
const xmlChar* declaredDefault(const xmlDoc* doc, const std::string& elementName,
                               const std::string& name) {
  if (doc == nullptr || doc->intSubset == nullptr || doc->intSubset->attributes == nullptr) {
    return nullptr;
  }
  const size_t colon = name.find(':');
  const xmlAttribute* declaration = nullptr;
  if (colon != std::string::npos && colon > 0 && colon + 1 < name.size() &&
      name.find(':', colon + 1) == std::string::npos) {
    const std::string prefix = name.substr(0, colon);
    declaration = xmlGetDtdQAttrDesc(doc->intSubset, BAD_CAST elementName.c_str(),
                                     BAD_CAST name.c_str() + colon + 1, BAD_CAST prefix.c_str());
  } else {
    declaration = xmlGetDtdQAttrDesc(doc->intSubset, BAD_CAST elementName.c_str(),
                                     BAD_CAST name.c_str(), nullptr);
  }
  if (declaration == nullptr ||
      (declaration->def != XML_ATTRIBUTE_NONE && declaration->def != XML_ATTRIBUTE_FIXED)) {
    return nullptr;
  }
  return declaration->defaultValue;
}

// ---------------------------------------------------------------------------
// The document store.

constexpr uint32_t kNoNode = UINT32_MAX;

}  // namespace

// Every node of one document in one vector, in document order, linked by
// indices; character data converted once to UTF-16 and kept in large
// blocks; element names interned; attributes as specified (namespace
// declarations included) in one flat array. Defaults declared in the
// internal subset are read from the DTD, which libxml2 keeps in `dtdHolder`.
class DocumentStore {
 public:
  struct ElementFields {
    uint32_t firstAttribute;
    uint32_t end;  // one past the last node of the element's subtree
  };
  struct Node {
    union {
      const char16_t* text;  // text, CDATA, comment, processing instruction
      ElementFields element;
    };
    uint32_t length = 0;  // code units of `text`; attributes of an element
    uint32_t firstChild = kNoNode;
    uint32_t nextSibling = kNoNode;
    uint32_t name = 0;  // interned: an element's qualified name, a PI's target
    uint8_t type = 0;
  };
  static_assert(sizeof(Node) <= 32);

  struct Attribute {
    uint32_t name;
    uint32_t length;  // bytes of UTF-8
    uint64_t value;   // offset into values
  };

  struct Name {
    std::string utf8;
    std::u16string utf16;
  };

  BlockArray<Node> nodes;
  std::vector<Attribute> attributes;
  std::string values;  // attribute values, UTF-8 as libxml2 gives them
  std::vector<Name> names;
  std::unordered_map<std::string, uint32_t> nameIndex;
  uint32_t root = kNoNode;
  // libxml2's document without a tree: the internal subset with its entity
  // and attribute declarations.
  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> dtdHolder{nullptr, xmlFreeDoc};

  uint32_t intern(std::string qualifiedName) {
    const auto found = nameIndex.find(qualifiedName);
    if (found != nameIndex.end()) return found->second;
    if (names.size() >= kNoNode) throw std::bad_alloc();
    const auto index = static_cast<uint32_t>(names.size());
    std::u16string utf16 = toUtf16(qualifiedName);
    names.push_back({qualifiedName, std::move(utf16)});
    nameIndex.emplace(std::move(qualifiedName), index);
    return index;
  }

  // The name's index, or kNoNode when no node or attribute has it.
  uint32_t find(const std::string& qualifiedName) const {
    const auto found = nameIndex.find(qualifiedName);
    return found == nameIndex.end() ? kNoNode : found->second;
  }

  // Character data, written straight into blocks that never move, so that
  // nodes keep plain pointers and growing the store never copies text
  // already held. One text is open at a time: the data of the node being
  // built, which grows at its end until closed (kept) or dropped.

  // Room for `units` more code units right after the open text; wrote()
  // then says how many were written there. May move the open text (not
  // the kept ones).
  char16_t* textRoom(size_t units) {
    if (!inLarge_ && units <= room_ - open_) return free_ + open_;
    if (units > SIZE_MAX / 4 - open_) throw std::bad_alloc();
    const size_t needed = open_ + units;
    if (needed <= kBlockUnits / 4 && !inLarge_) {
      // A fresh block; the rest of the old one stays unused.
      blocks_.push_back(allocateLargeBlock(kBlockUnits * sizeof(char16_t)));
      auto* block = static_cast<char16_t*>(blocks_.back().get());
      if (open_ != 0) std::memcpy(block, free_, open_ * sizeof(char16_t));
      free_ = block;
      room_ = kBlockUnits;
      return free_ + open_;
    }
    // A large text is kept in blocks of its own, each twice the last, so
    // that it is copied less than once on average; the open block stays
    // open.
    if (needed > largeUnits_) {
      const size_t units = std::max(needed, std::max(2 * largeUnits_, kBlockUnits));
      LargeBlock block = allocateLargeBlock(units * sizeof(char16_t));
      const char16_t* from = inLarge_ ? static_cast<const char16_t*>(large_.back().get()) : free_;
      if (open_ != 0) std::memcpy(block.get(), from, open_ * sizeof(char16_t));
      if (inLarge_) {
        large_.back() = std::move(block);
      } else {
        large_.push_back(std::move(block));
      }
      largeUnits_ = units;
      inLarge_ = true;
    }
    return static_cast<char16_t*>(large_.back().get()) + open_;
  }
  void wrote(size_t units) {
    open_ += units;
    assert(inLarge_ ? open_ <= largeUnits_ : open_ <= room_);
  }
  size_t openLength() const { return open_; }

  // Keeps the open text; its first unit, or nullptr when it is empty.
  const char16_t* closeText() {
    const char16_t* kept = nullptr;
    if (inLarge_) {
      kept = static_cast<const char16_t*>(large_.back().get());
      inLarge_ = false;
      largeUnits_ = 0;
    } else if (open_ != 0) {
      kept = free_;
      free_ += open_;
      room_ -= open_;
    }
    open_ = 0;
    return kept;
  }
  void dropText() {
    if (inLarge_) large_.pop_back();
    inLarge_ = false;
    largeUnits_ = 0;
    open_ = 0;
  }

  // Keeps a text that is complete already.
  const char16_t* keep(std::u16string_view text) {
    assert(open_ == 0);
    if (text.empty()) return nullptr;
    std::memcpy(textRoom(text.size()), text.data(), text.size() * sizeof(char16_t));
    wrote(text.size());
    return closeText();
  }

 private:
  static constexpr size_t kBlockUnits = kLargeBlockBytes / sizeof(char16_t);
  std::vector<LargeBlock> blocks_;
  std::vector<LargeBlock> large_;  // large texts, one block each
  size_t largeUnits_ = 0;          // units that the open large text's block holds
  char16_t* free_ = nullptr;       // the open text's first unit in the open block
  size_t room_ = 0;                // units from free_ to the open block's end
  size_t open_ = 0;                // units of the open text
  bool inLarge_ = false;           // the open text is large_.back()
};

namespace {

// libxml2 refuses to open an element while more than xmlParserMaxDepth are
// open, so a plain document nests at most one level more; but the content of
// each entity is parsed from a depth of its own, so entities stack deeper.
size_t maximumDepth() { return size_t{xmlParserMaxDepth} + 1; }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Fills a DocumentStore from libxml2's SAX2 callbacks, which come from the
// document's parser context and, for the content of each entity reference,
// from a context of the entity's own (libxml2 parses the replacement text
// again at every reference when no tree keeps it). Pieces of character data
// that follow each other form one node, as in libxml2's own tree: text with
// text, CDATA with CDATA, across entity boundaries; a node is judged (kept,
// or dropped when whitespace-only and not preserved) once complete.
class StoreBuilder {
 public:
  explicit StoreBuilder(DocumentStore& store) : store_(store) {
    open_.push_back({kNoNode, kNoNode, false});
  }

  void startElement(xmlParserCtxtPtr ctxt, const xmlChar* localName, const xmlChar* prefix,
                    int namespaceCount, const xmlChar** namespaces, int attributeCount,
                    int defaultedCount, const xmlChar** attributes) {
    completeText();
    // Prolog and DTD nodes are no part of what the document layer shows.
    const size_t depth = open_.size();  // of the new element; the root's is 1
    if (depth > maximumDepth() && tooDeepLine_ == 0) {
      // The line libxml2's tree would give the element: a context parsing an
      // entity's content counts no lines.
      const int line = ctxt->linenumbers != 0 && ctxt->input != nullptr ? ctxt->input->line : 0;
      tooDeepLine_ = std::max(line, 1);
    }
    DocumentStore::Node node;
    node.type = kElementNode;
    node.name = internQualified(prefix, localName);
    node.element.firstAttribute = attributeIndex();
    node.element.end = kNoNode;
    bool preserve = open_.back().preserve;
    bool spaceGiven = false;
    // Specified attributes come first; libxml2 appends the declared defaults,
    // which getAttribute reads from their declaration instead.
    const int specified = attributeCount - defaultedCount;
    for (int i = 0; i < specified; ++i) {
      const xmlChar** attribute = attributes + 5 * i;
      const std::string_view value(reinterpret_cast<const char*>(attribute[3]),
                                   static_cast<size_t>(attribute[4] - attribute[3]));
      addAttribute(internQualified(attribute[1], attribute[0]), value);
      if (attribute[1] != nullptr && view(attribute[1]) == "xml" && view(attribute[0]) == "space") {
        spaceGiven = true;
        preserve = value == "preserve";
      }
    }
    // Namespace declarations are attributes to the DOM, not to libxml2.
    for (int i = 0; i < namespaceCount; ++i) {
      const xmlChar* declared = namespaces[2 * i];
      const uint32_t name = declared == nullptr
                                ? internName("xmlns")
                                : internName("xmlns:" + std::string(view(declared)));
      addAttribute(name, view(namespaces[2 * i + 1]));
    }
    node.length = attributeIndex() - node.element.firstAttribute;
    if (!spaceGiven) {
      // The DTD is libxml2's document while the parse runs.
      const xmlChar* value =
          declaredDefault(ctxt->myDoc, store_.names[node.name].utf8, "xml:space");
      if (value != nullptr) preserve = prefixView(value, sizeof "preserve") == "preserve";
    }
    const uint32_t index = append(node);
    if (open_.size() == 1 && store_.root == kNoNode) store_.root = index;
    open_.push_back({index, kNoNode, preserve});
  }

  void endElement() {
    completeText();
    if (open_.size() <= 1) return;
    store_.nodes[open_.back().element].element.end = nodeCount();
    open_.pop_back();
  }

  // `type` is kTextNode or kCDataSectionNode.
  void characters(xmlParserCtxtPtr ctxt, int type, const xmlChar* bytes, int length) {
    // libxml2 delivers no character data outside the root element.
    if (open_.size() <= 1) return;
    const std::string_view utf8(reinterpret_cast<const char*>(bytes),
                                static_cast<size_t>(std::max(length, 0)));
    // libxml2's tree joins the CDATA that begins an entity's content to
    // nothing before it.
    const bool joins = !(type == kCDataSectionNode && entityStarts_);
    entityStarts_ = false;
    if (openText_ != kNoNode && store_.nodes[openText_].type == type && joins) {
      // The limit that libxml2's tree builder puts on one text node, with
      // its message and place, checked where it checks it: as pieces join.
      if (textBytes_ + utf8.size() > XML_MAX_TEXT_LENGTH) {
        hugeTextNode(ctxt);
        return;
      }
    } else {
      completeText();
      DocumentStore::Node node;
      node.type = static_cast<uint8_t>(type);
      node.text = nullptr;
      previousOfText_ = open_.back().lastChild;
      openText_ = append(node);
      blank_ = true;
    }
    textBytes_ += utf8.size();
    if (blank_) blank_ = std::all_of(utf8.begin(), utf8.end(), isSpace);
    store_.wrote(writeUtf16(utf8, store_.textRoom(utf8.size())));
  }

  // Comments and processing instructions of the document (not of the DTD),
  // within the root element or after it.
  void otherNode(xmlParserCtxtPtr ctxt, int type, const xmlChar* target, const xmlChar* data) {
    if (ctxt->inSubset != 0 || store_.root == kNoNode) return;
    completeText();
    DocumentStore::Node node;
    node.type = static_cast<uint8_t>(type);
    node.name = target != nullptr ? internQualified(nullptr, target) : 0;
    std::u16string value = toUtf16(view(data));
    node.length = checkedLength(value.size());
    node.text = store_.keep(value);
    append(node);
  }

  // An entity reference in content is about to deliver the entity's content.
  void entityStarts() { entityStarts_ = true; }

  // After the parse: the line of the first element nested deeper than a
  // plain document may be, or 0.
  int tooDeepLine() const { return tooDeepLine_; }

 private:
  struct Open {
    uint32_t element;    // kNoNode for the document level
    uint32_t lastChild;  // kNoNode before the first
    bool preserve;       // xml:space="preserve" in force
  };

  uint32_t nodeCount() const { return static_cast<uint32_t>(store_.nodes.size()); }
  uint32_t attributeIndex() const { return static_cast<uint32_t>(store_.attributes.size()); }

  static uint32_t checkedLength(size_t length) {
    if (length >= kNoNode) throw std::bad_alloc();
    return static_cast<uint32_t>(length);
  }

  // Appends `node` as the last child of the innermost open element.
  uint32_t append(const DocumentStore::Node& node) {
    if (store_.nodes.size() >= kNoNode - 1) throw std::bad_alloc();
    const uint32_t index = nodeCount();
    store_.nodes.push_back(node);
    Open& parent = open_.back();
    if (parent.lastChild != kNoNode) {
      store_.nodes[parent.lastChild].nextSibling = index;
    } else if (parent.element != kNoNode) {
      store_.nodes[parent.element].firstChild = index;
    }
    parent.lastChild = index;
    return index;
  }

  void addAttribute(uint32_t name, std::string_view value) {
    if (store_.attributes.size() >= kNoNode - 1) throw std::bad_alloc();
    store_.attributes.push_back({name, checkedLength(value.size()), store_.values.size()});
    store_.values.append(value);
  }

  // Keeps the character data node being built, or drops it when it is only
  // whitespace that xml:space does not preserve. Nothing follows it in the
  // store yet, so dropping takes it off the end.
  void completeText() {
    entityStarts_ = false;
    if (openText_ == kNoNode) return;
    DocumentStore::Node& node = store_.nodes[openText_];
    Open& parent = open_.back();
    if (node.type == kTextNode && blank_ && !parent.preserve) {
      assert(openText_ + 1 == store_.nodes.size() && parent.lastChild == openText_);
      store_.nodes.pop_back();
      store_.dropText();
      parent.lastChild = previousOfText_;
      if (previousOfText_ != kNoNode) {
        store_.nodes[previousOfText_].nextSibling = kNoNode;
      } else {
        store_.nodes[parent.element].firstChild = kNoNode;
      }
    } else {
      node.length = checkedLength(store_.openLength());
      node.text = store_.closeText();
    }
    openText_ = kNoNode;
    textBytes_ = 0;
  }

  // What libxml2's tree builder does on its "huge text node" stop.
  void hugeTextNode(xmlParserCtxtPtr ctxt) {
    const int line = ctxt->input != nullptr ? ctxt->input->line : 0;
    const int column = ctxt->input != nullptr ? ctxt->input->col : 0;
    record(ctxt, XML_ERR_NO_MEMORY, line, column, "xmlSAX2Characters: huge text node");
    ctxt->errNo = XML_ERR_NO_MEMORY;
    ctxt->instate = XML_PARSER_EOF;
    ctxt->disableSAX = 1;
  }

  // Qualified names from libxml2's dictionary, whose strings stay put for
  // the parse: the pair of pointers finds the interned name without
  // building it again.
  uint32_t internQualified(const xmlChar* prefix, const xmlChar* local) {
    const auto key = std::make_pair(prefix, local);
    const auto found = byPointers_.find(key);
    if (found != byPointers_.end()) return found->second;
    std::string name;
    if (prefix != nullptr) {
      name = view(prefix);
      name.push_back(':');
    }
    name += view(local);
    const uint32_t index = store_.intern(std::move(name));
    byPointers_.emplace(key, index);
    return index;
  }

  uint32_t internName(std::string name) { return store_.intern(std::move(name)); }

  struct PointerPairHash {
    size_t operator()(const std::pair<const xmlChar*, const xmlChar*>& key) const {
      return std::hash<const void*>()(key.first) * 31 + std::hash<const void*>()(key.second);
    }
  };

  DocumentStore& store_;
  std::vector<Open> open_;
  std::unordered_map<std::pair<const xmlChar*, const xmlChar*>, uint32_t, PointerPairHash>
      byPointers_;
  // The character data node being built (the last node), its code units so
  // far, its UTF-8 length and whether it is whitespace only.
  uint32_t openText_ = kNoNode;
  uint32_t previousOfText_ = kNoNode;
  size_t textBytes_ = 0;
  bool blank_ = true;
  bool entityStarts_ = false;
  int tooDeepLine_ = 0;
};

void noteEntityStart() { currentParse->builder->entityStarts(); }

// Runs a builder step from libxml2's C frames: memory running out stops the
// parse, and load() then throws std::bad_alloc.
template <typename Step>
void guarded(void* context, Step step) noexcept {
  FirstError* first = currentParse;
  if (first == nullptr || first->builder == nullptr) return;
  try {
    step(*first->builder, static_cast<xmlParserCtxtPtr>(context));
  } catch (const std::bad_alloc&) {
    first->outOfMemory = true;
    first->stopped = true;
    for (xmlParserCtxtPtr stopped : {static_cast<xmlParserCtxtPtr>(context), first->document}) {
      if (stopped == nullptr) continue;
      stopped->wellFormed = 0;
      stopped->disableSAX = 1;
    }
  }
}

// Stops an element with too many attributes, or one start tag too many that
// carries many, before the store takes them in.
void startElement(void* context, const xmlChar* localName, const xmlChar* prefix, const xmlChar*,
                  int namespaceCount, const xmlChar** namespaces, int attributeCount,
                  int defaultedCount, const xmlChar** attributes) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
  if (FirstError* first = currentParse) {
    const auto count = static_cast<uint64_t>(std::max(attributeCount, 0));
    first->attributeWork += count * count;
    if (attributeCount > kMaxAttributesPerElement) {
      stopParse(ctxt, XML_ERR_INTERNAL_ERROR,
                joined({"Too many attributes on element '", view(localName),
                        "': more than 1000, declared defaults included"}));
    } else if (attributeWorkExceeded(first->attributeWork)) {
      stopParse(ctxt, XML_ERR_INTERNAL_ERROR,
                joined({"Too many attributes for the document's size at element '", view(localName),
                        "': the squares of the counts per start tag pass 1000 per byte read plus "
                        "1,000,000"}));
    }
    if (first->stopped) {
      // Also the buffered rest of the document is not parsed: each further
      // start tag could cost as much again. A start element callback is
      // where libxml2 allows this.
      xmlStopParser(ctxt);
      return;
    }
  }
  guarded(context, [&](StoreBuilder& builder, xmlParserCtxtPtr c) {
    builder.startElement(c, localName, prefix, namespaceCount, namespaces, attributeCount,
                         defaultedCount, attributes);
  });
}

void endElement(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
  guarded(context, [](StoreBuilder& builder, xmlParserCtxtPtr) { builder.endElement(); });
}

void characters(void* context, const xmlChar* bytes, int length) {
  guarded(context, [&](StoreBuilder& builder, xmlParserCtxtPtr c) {
    builder.characters(c, kTextNode, bytes, length);
  });
}

void cdataBlock(void* context, const xmlChar* bytes, int length) {
  guarded(context, [&](StoreBuilder& builder, xmlParserCtxtPtr c) {
    builder.characters(c, kCDataSectionNode, bytes, length);
  });
}

void comment(void* context, const xmlChar* value) {
  guarded(context, [&](StoreBuilder& builder, xmlParserCtxtPtr c) {
    builder.otherNode(c, kCommentNode, nullptr, value);
  });
}

void processingInstruction(void* context, const xmlChar* target, const xmlChar* data) {
  guarded(context, [&](StoreBuilder& builder, xmlParserCtxtPtr c) {
    builder.otherNode(c, kProcessingInstructionNode, target, data);
  });
}

// Passes the reader's bytes on, but refuses to go on reading a start tag
// that has far more attributes than an element may have: libxml2 would
// compare them all with each other before anything else sees the tag.
struct WatchedReader {
  LocationReader* reader;
  xmlParserCtxtPtr ctxt;

  static int read(void* context, char* buffer, int length) {
    auto* watched = static_cast<WatchedReader*>(context);
    if (currentParse != nullptr && currentParse->stopped) return 0;
    // libxml2 keeps five pointers per attribute of the largest start tag so
    // far and grows that array to twice what it needs; this is past doubt.
    if (watched->ctxt->maxatts > 5 * 4 * kMaxAttributesPerElement) {
      stopParse(watched->ctxt, XML_ERR_INTERNAL_ERROR,
                "Too many attributes on one element: more than 1000, declared defaults included");
      return -1;
    }
    // libxml2 reads the XML declaration from what the first reads bring
    // and fails on one cut short, as a slow pipe or server would cut it:
    // the buffer is filled unless the input ends first.
    int filled = 0;
    while (filled < length) {
      const int n = watched->reader->read(buffer + filled, length - filled);
      if (n < 0) return n;
      if (n == 0) break;
      filled += n;
    }
    return filled;
  }
};

struct ParseResult {
  std::unique_ptr<DocumentStore> store;
  ParseError error;
};

ParseResult parse(LocationReader& reader) {
  initialiseXml();
  ParseResult result;
  auto fail = [&result](int32_t code, int line, int column, std::string reason) {
    result.store.reset();
    result.error.errorCode = code;
    result.error.line = line;
    result.error.linepos = column;
    result.error.reason = toUtf16(withLineEnd(std::move(reason)));
    return std::move(result);
  };

  const SilencedGenericErrors silenced;
  xmlAllocationFailed = false;
  const std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> ctxt(xmlNewParserCtxt(),
                                                                          xmlFreeParserCtxt);
  if (!ctxt || ctxt->sax == nullptr || xmlAllocationFailed) throw std::bad_alloc();
  // libxml2's own handlers still build the DTD (entities, attribute
  // declarations and defaults) and report errors; the content goes to the
  // store. Blanks take the same way as other text, so libxml2 never guesses
  // which ones are ignorable.
  xmlSAXHandler* sax = ctxt->sax;
  sax->serror = recordStructuredError;
  sax->resolveEntity = refuseExternalEntity;
  sax->getEntity = getEntityWithoutLoading;
  sax->getParameterEntity = getParameterEntityWithoutLoading;
  sax->startElementNs = startElement;
  sax->endElementNs = endElement;
  sax->characters = characters;
  sax->ignorableWhitespace = characters;
  sax->cdataBlock = cdataBlock;
  sax->comment = comment;
  sax->processingInstruction = processingInstruction;

  result.store = std::make_unique<DocumentStore>();
  StoreBuilder builder(*result.store);
  FirstError first;
  first.document = ctxt.get();
  first.builder = &builder;
  WatchedReader watched{&reader, ctxt.get()};
  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(nullptr, xmlFreeDoc);
  {
    const ParseScope scope(&first);
    // Fed through a reader rather than as one memory block: libxml2 copies a
    // memory block whole before parsing, but consumes a reader's input in
    // chunks that it frees as it goes, which keeps a large document from
    // being held twice.
    doc.reset(xmlCtxtReadIO(ctxt.get(), WatchedReader::read, nullptr, &watched, nullptr, nullptr,
                            kParseOptions));
  }

  if (std::optional<ReadFailure> failure = reader.failure()) {
    return fail(failure->code, 0, 0, std::move(failure->reason));
  }
  // Whatever libxml2 made of it (often some other error, or none), a failed
  // allocation is not a verdict on the document. xmlCtxtReadIO gives no
  // document and no error only when it could not set up its input.
  if (first.outOfMemory || xmlAllocationFailed || (!doc && !first.recorded && ctxt->errNo == 0)) {
    throw std::bad_alloc();
  }

  // libxml2 keeps a document whose namespaces are wrong, and one whose parse
  // was stopped at a size limit, so its own verdict is not enough.
  const bool wellFormed =
      doc && ctxt->wellFormed && ctxt->nsWellFormed && ctxt->disableSAX == 0 && !first.recorded;
  if (!wellFormed) {
    if (first.recorded) {
      return fail(first.code != 0 ? -first.code : -1, std::max(first.line, 1),
                  std::max(first.column, 1), first.message);
    }
    const xmlParserInputPtr input = ctxt->input;
    return fail(ctxt->errNo > 0 ? -ctxt->errNo : -1,
                input != nullptr ? std::max(input->line, 1) : 1,
                input != nullptr ? std::max(input->col, 1) : 1, "the document is not well formed");
  }
  if (result.store->root == kNoNode) {
    return fail(kNoDocumentElement, 1, 1, "the document has no root element");
  }
  if (const int line = builder.tooDeepLine(); line != 0) {
    return fail(-XML_ERR_INTERNAL_ERROR, line, 1,
                "Excessive depth in document: entities nest elements more than " +
                    std::to_string(maximumDepth()) + " deep");
  }
  result.store->dtdHolder = std::move(doc);
  return result;
}

// Takes over the outcome of a parse of the document from `url`.
void adopt(ParseResult result, std::string_view url, std::unique_ptr<DocumentStore>& store,
           ParseError& error) {
  store = std::move(result.store);
  error = std::move(result.error);
  if (error.errorCode != 0) error.url = toUtf16(url);
}

}  // namespace

// ---------------------------------------------------------------------------

int XmlNode::nodeType() const { return store_ != nullptr ? store_->nodes[index_].type : 0; }

std::optional<std::u16string_view> XmlNode::nodeName() const {
  if (store_ == nullptr) return std::nullopt;
  const DocumentStore::Node& node = store_->nodes[index_];
  switch (node.type) {
    case kElementNode:
    case kProcessingInstructionNode:
      return store_->names[node.name].utf16;
    case kTextNode:
      return u"#text";
    case kCDataSectionNode:
      return u"#cdata-section";
    case kCommentNode:
      return u"#comment";
    default:
      return std::nullopt;
  }
}

std::optional<std::u16string_view> XmlNode::nodeValue() const {
  if (store_ == nullptr) return std::nullopt;
  const DocumentStore::Node& node = store_->nodes[index_];
  if (node.type == kElementNode) return std::nullopt;
  return std::u16string_view(node.text, node.length);
}

XmlNode XmlNode::firstChild() const {
  if (store_ == nullptr) return {};
  const DocumentStore::Node& node = store_->nodes[index_];
  if (node.type != kElementNode || node.firstChild == kNoNode) return {};
  return {store_, node.firstChild};
}

XmlNode XmlNode::nextSibling() const {
  if (store_ == nullptr) return {};
  const uint32_t next = store_->nodes[index_].nextSibling;
  return next == kNoNode ? XmlNode() : XmlNode(store_, next);
}

namespace {

bool isCharacterData(const DocumentStore::Node& node) {
  return node.type == kTextNode || node.type == kCDataSectionNode;
}

}  // namespace

std::u16string XmlNode::text() const {
  if (store_ == nullptr) return {};
  const DocumentStore::Node& node = store_->nodes[index_];
  if (node.type != kElementNode) {
    if (!isCharacterData(node)) return {};
    return std::u16string(node.text, node.length);
  }
  // The subtree is the run of nodes up to `end`, in document order; a
  // loaded document has every element closed.
  assert(node.element.end != kNoNode && node.element.end <= store_->nodes.size());
  const auto& nodes = store_->nodes;
  size_t length = 0;
  for (uint32_t i = index_ + 1; i != node.element.end; ++i)
    if (isCharacterData(nodes[i])) length += nodes[i].length;
  std::u16string text;
  text.reserve(length);
  for (uint32_t i = index_ + 1; i != node.element.end; ++i)
    if (isCharacterData(nodes[i])) text.append(nodes[i].text, nodes[i].length);
  return text;
}

std::u16string_view XmlNode::text(std::u16string& storage) const {
  // A subtree whose character data is one node: that node's text itself.
  if (store_ != nullptr && store_->nodes[index_].type == kElementNode) {
    const auto& nodes = store_->nodes;
    const DocumentStore::Node* only = nullptr;
    for (uint32_t i = index_ + 1; i != nodes[index_].element.end; ++i) {
      if (!isCharacterData(nodes[i])) continue;
      if (only != nullptr) {
        only = nullptr;  // more than one
        break;
      }
      only = &nodes[i];
    }
    if (only != nullptr) return {only->text, only->length};
  }
  storage = text();
  return storage;
}

std::optional<std::u16string> XmlNode::getAttribute(std::u16string_view name) const {
  if (store_ == nullptr) return std::nullopt;
  const DocumentStore::Node& node = store_->nodes[index_];
  if (node.type != kElementNode) return std::nullopt;
  const std::optional<std::string> wanted = toUtf8(name);
  if (!wanted) return std::nullopt;
  // kAttributeValueReadLimit code units never take more than three bytes
  // each, so this many bytes always hold them (and a cut never falls inside
  // them).
  constexpr size_t kBytes = 3 * kAttributeValueReadLimit + 4;
  auto prefixUnlessEmpty = [](std::string_view utf8) -> std::optional<std::u16string> {
    if (utf8.empty()) return std::nullopt;
    return toUtf16(utf8.substr(0, kBytes), kAttributeValueReadLimit);
  };
  if (const uint32_t id = store_->find(*wanted); id != kNoNode) {
    const auto first = store_->attributes.begin() + node.element.firstAttribute;
    for (auto attribute = first; attribute != first + node.length; ++attribute) {
      if (attribute->name != id) continue;
      return prefixUnlessEmpty(
          std::string_view(store_->values).substr(attribute->value, attribute->length));
    }
  }
  // A declared default for a namespace declaration is a namespace
  // declaration too: it is on the element only when libxml2 passed it on.
  if (*wanted == "xmlns" || wanted->starts_with("xmlns:")) return std::nullopt;
  return prefixUnlessEmpty(prefixView(
      declaredDefault(store_->dtdHolder.get(), store_->names[node.name].utf8, *wanted), kBytes));
}

XmlDocument::XmlDocument() = default;

XmlDocument::~XmlDocument() = default;

void XmlDocument::load(std::string_view location, const LoadSettings& settings) {
  store_.reset();
  error_ = ParseError{};
  LocationReader reader;
  if (const std::optional<ReadFailure> failure = reader.open(location, settings)) {
    error_.errorCode = failure->code;
    error_.url = toUtf16(location);
    error_.reason = toUtf16(withLineEnd(failure->reason));
    return;
  }
  adopt(parse(reader), location, store_, error_);
}

void XmlDocument::loadMemory(std::string_view bytes, std::string_view url) {
  store_.reset();
  error_ = ParseError{};
  LocationReader reader;
  reader.openMemory(bytes);
  adopt(parse(reader), url, store_, error_);
}

XmlNode XmlDocument::documentElement() const {
  return store_ != nullptr ? XmlNode(store_.get(), store_->root) : XmlNode();
}

}  // namespace quarvel
