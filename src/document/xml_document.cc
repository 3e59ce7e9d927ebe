#include "document/xml_document.h"

#include <utility>

#include "base/utf.h"
#include "document/document_parser.h"
#include "document/document_store.h"
#include "document/location.h"

namespace quarvel {
namespace {

// Takes over the outcome of a parse of the document from `url`.
void adopt(ParseResult result, std::string_view url, std::unique_ptr<DocumentStore>& store,
           ParseError& error) {
  store = std::move(result.store);
  error = std::move(result.error);
  if (error.errorCode != 0) error.url = toUtf16(url);
}

}  // namespace

XmlDocument::XmlDocument() = default;

XmlDocument::~XmlDocument() = default;

void XmlDocument::load(std::string_view location, const LoadSettings& settings) {
  store_.reset();
  error_ = ParseError{};
  OpenedLocation opened = openLocation(location, settings);
  if (opened.source == nullptr) {
    error_ = std::move(opened.error);
    error_.url = toUtf16(location);
    return;
  }
  adopt(parseDocument(*opened.source, settings), location, store_, error_);
}

void XmlDocument::loadMemory(std::string_view bytes, std::string_view url,
                             const LoadSettings& settings) {
  store_.reset();
  error_ = ParseError{};
  MemorySource source(bytes);
  adopt(parseDocument(source, settings), url, store_, error_);
}

std::uint64_t XmlDocument::bytesRead() const { return store_ != nullptr ? store_->bytesRead : 0; }

XmlNode XmlDocument::documentElement() const {
  return store_ != nullptr ? XmlNode(store_.get(), store_->root) : XmlNode();
}

}  // namespace quarvel
