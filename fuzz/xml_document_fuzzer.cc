// libFuzzer target for the document layer alone: every input is loaded from
// memory into the document store, and the store is checked against what its
// header promises. A broken property is reported and aborts, so libFuzzer
// keeps the input like a crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "document/xml_document.h"

namespace {

[[noreturn]] void fail(const char* property) {
  std::fprintf(stderr, "xml_document_fuzzer: %s\n", property);
  std::abort();
}

void check(bool holds, const char* property) {
  if (!holds) fail(property);
}

bool isValidUtf16(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0xDC00 && text[i] <= 0xDFFF) return false;
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    }
  }
  return true;
}

// Checks every node of the tree below `root` without recursion and returns
// the subtree's text gathered node by node, with a trace of its shape.
std::u16string walk(quarvel::XmlNode root, std::u16string& shape) {
  std::u16string text;
  std::vector<quarvel::XmlNode> pending{root};
  while (!pending.empty()) {
    const quarvel::XmlNode node = pending.back();
    pending.pop_back();
    const int type = node.nodeType();
    check(type == quarvel::kElementNode || type == quarvel::kTextNode ||
              type == quarvel::kCDataSectionNode || type == quarvel::kCommentNode ||
              type == quarvel::kProcessingInstructionNode,
          "a node of a kind the store does not hold");
    const auto name = node.nodeName();
    const auto value = node.nodeValue();
    check(name && !name->empty() && isValidUtf16(*name), "a node without a valid name");
    check(value.has_value() == (type != quarvel::kElementNode), "a value where none belongs");
    shape += static_cast<char16_t>(u'0' + type);
    shape += *name;
    if (value) {
      check(isValidUtf16(*value), "a value that is not valid UTF-16");
      if (type == quarvel::kTextNode || type == quarvel::kCDataSectionNode) text += *value;
      shape += *value;
      check(!node.firstChild(), "children under character data");
      continue;
    }
    for (const std::u16string_view attribute : {u"width", u"xml:space", u"xmlns", u"a", u"x:a"}) {
      if (const auto found = node.getAttribute(attribute)) {
        check(!found->empty() && found->size() <= quarvel::kAttributeValueReadLimit &&
                  isValidUtf16(*found),
              "an attribute value outside its bounds");
        shape += *found;
      }
    }
    // Children are pushed last first, so that they come off in order.
    std::vector<quarvel::XmlNode> children;
    for (quarvel::XmlNode child = node.firstChild(); child; child = child.nextSibling())
      children.push_back(child);
    // The chain with the kept blanks is the same chain with blanks between.
    std::size_t seen = 0;
    for (quarvel::XmlNode child = node.firstChildKeepingBlanks(); child;
         child = child.nextSiblingKeepingBlanks()) {
      if (!child.isKeptBlank()) {
        check(seen < children.size() && child.nodeValue() == children[seen].nodeValue() &&
                  child.nodeName() == children[seen].nodeName(),
              "the chain with blanks differs from the chain without");
        ++seen;
        continue;
      }
      const auto blank = child.nodeValue();
      check(child.nodeType() == quarvel::kTextNode && blank && !blank->empty() &&
                blank->find_first_not_of(u" \t\r\n") == std::u16string_view::npos &&
                !child.firstChildKeepingBlanks(),
            "a kept blank that is not white space only");
    }
    check(seen == children.size(), "the chain with blanks misses a child");
    pending.insert(pending.end(), children.rbegin(), children.rend());
    shape += u'/';
  }
  return text;
}

std::u16string outcome(const quarvel::XmlDocument& document) {
  const quarvel::ParseError& error = document.parseError();
  if (error.errorCode != 0) {
    check(error.errorCode < 0 && error.line >= 1 && error.linepos >= 1,
          "a parse error without its place");
    check(!error.reason.empty() && error.reason.back() == u'\n', "a reason without a line end");
    check(error.url == u"doc.xml", "a parse error naming another location");
    check(!document.documentElement(), "a root element after a parse error");
    return error.reason;
  }
  const quarvel::XmlNode root = document.documentElement();
  check(root.nodeType() == quarvel::kElementNode, "a loaded document without a root element");
  std::u16string shape;
  check(walk(root, shape) == root.text(), "text() differs from the text nodes in order");
  for (quarvel::XmlNode after = root.nextSibling(); after; after = after.nextSibling()) {
    check(after.nodeType() == quarvel::kCommentNode ||
              after.nodeType() == quarvel::kProcessingInstructionNode,
          "an element or text beside the root");
  }
  return shape;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  quarvel::XmlDocument document;
  document.loadMemory(bytes, "doc.xml");
  const std::u16string first = outcome(document);
  // Loading again into the same document replaces the first load whole.
  document.loadMemory(bytes, "doc.xml");
  check(outcome(document) == first, "a second load differs from the first");
  return 0;
}
