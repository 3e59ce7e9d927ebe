#include "document/document_store.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "base/utf.h"

namespace quarvel {

std::string_view keptPrefix(std::string_view utf8, std::size_t limit) {
  if (utf8.size() <= limit) return utf8;
  std::size_t end = limit;
  // Back to the first byte of the character that the cut falls in.
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
  return utf8.substr(0, end);
}

// ---------------------------------------------------------------------------
// Names.

std::size_t DocumentStore::slotOf(std::string_view qualifiedName) const {
  assert(!nameIndex_.empty());
  const std::size_t mask = nameIndex_.size() - 1;
  std::size_t slot = std::hash<std::string_view>()(qualifiedName) & mask;
  while (nameIndex_[slot] != kNoNode && nameUtf8(nameIndex_[slot]) != qualifiedName) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

void DocumentStore::growNameIndex() {
  std::vector<std::uint32_t> old(std::max<std::size_t>(64, 2 * nameIndex_.size()), kNoNode);
  old.swap(nameIndex_);
  for (const std::uint32_t name : old) {
    if (name != kNoNode) nameIndex_[slotOf(nameUtf8(name))] = name;
  }
}

std::uint32_t DocumentStore::intern(std::string_view qualifiedName) {
  if (2 * (nameSpans_.size() + 1) > nameIndex_.size()) growNameIndex();
  const std::size_t slot = slotOf(qualifiedName);
  if (nameIndex_[slot] != kNoNode) return nameIndex_[slot];
  if (nameSpans_.size() >= kNoNode - 1 || namesUtf8_.size() > UINT32_MAX - qualifiedName.size()) {
    throw std::bad_alloc();
  }
  if (namesUtf16_.size() > UINT32_MAX - qualifiedName.size()) throw std::bad_alloc();
  // Converted in place: a name may be megabytes long. A failure part way
  // leaves unused units behind, never a span without them.
  const std::size_t utf16Offset = namesUtf16_.size();
  namesUtf16_.resize(utf16Offset + qualifiedName.size());
  const std::size_t utf16Length = writeUtf16(qualifiedName, namesUtf16_.data() + utf16Offset);
  namesUtf16_.resize(utf16Offset + utf16Length);
  const NameSpan span{static_cast<std::uint32_t>(namesUtf8_.size()),
                      static_cast<std::uint32_t>(qualifiedName.size()),
                      static_cast<std::uint32_t>(utf16Offset),
                      static_cast<std::uint32_t>(utf16Length)};
  namesUtf8_.append(qualifiedName);
  nameSpans_.push_back(span);
  const auto index = static_cast<std::uint32_t>(nameSpans_.size() - 1);
  nameIndex_[slot] = index;
  return index;
}

std::uint32_t DocumentStore::find(std::string_view qualifiedName) const {
  if (nameIndex_.empty()) return kNoNode;
  return nameIndex_[slotOf(qualifiedName)];
}

std::string_view DocumentStore::nameUtf8(std::uint32_t name) const {
  const NameSpan& span = nameSpans_[name];
  return std::string_view(namesUtf8_).substr(span.utf8Offset, span.utf8Length);
}

std::u16string_view DocumentStore::nameUtf16(std::uint32_t name) const {
  const NameSpan& span = nameSpans_[name];
  return std::u16string_view(namesUtf16_).substr(span.utf16Offset, span.utf16Length);
}

// ---------------------------------------------------------------------------
// Attributes.

void DocumentStore::addAttribute(std::uint32_t name, std::string_view value) {
  if (attributes.size() >= kNoNode - 1) throw std::bad_alloc();
  const std::string_view kept = keptPrefix(value);
  attributes.push_back({name, static_cast<std::uint32_t>(kept.size()), values.size()});
  values.append(kept);
}

std::optional<std::string_view> DocumentStore::specifiedValue(std::uint32_t first,
                                                              std::uint32_t count,
                                                              std::uint32_t name) const {
  for (std::uint32_t i = first; i != first + count; ++i) {
    const Attribute& attribute = attributes[i];
    if (attribute.name == name) {
      return std::string_view(values).substr(attribute.value, attribute.length);
    }
  }
  return std::nullopt;
}

bool DocumentStore::declareDefault(std::uint32_t element, std::uint32_t attribute,
                                   std::string_view value) {
  const std::string_view kept = keptPrefix(value);
  const auto [where, added] =
      defaults_.try_emplace(defaultKey(element, attribute),
                            Default{values.size(), static_cast<std::uint32_t>(kept.size())});
  if (added) {
    try {
      values.append(kept);
    } catch (...) {
      defaults_.erase(where);
      throw;
    }
  }
  return added;
}

std::optional<std::string_view> DocumentStore::declaredDefault(std::uint32_t element,
                                                               std::uint32_t attribute) const {
  const auto found = defaults_.find(defaultKey(element, attribute));
  if (found == defaults_.end()) return std::nullopt;
  return std::string_view(values).substr(found->second.value, found->second.length);
}

// ---------------------------------------------------------------------------
// Character data.

char16_t* DocumentStore::textRoom(std::size_t units) {
  if (!inLarge_ && units <= room_ - open_) return free_ + open_;
  if (units > SIZE_MAX / 4 - open_) throw std::bad_alloc();
  const std::size_t needed = open_ + units;
  if (needed <= kBlockUnits / 4 && !inLarge_) {
    // A fresh block; the rest of the old one stays unused.
    blocks_.push_back(allocateLargeBlock(kBlockUnits * sizeof(char16_t),
                                         blocks_.empty() ? Pages::kSmall : Pages::kHuge));
    auto* block = static_cast<char16_t*>(blocks_.back().get());
    if (open_ != 0) std::memcpy(block, free_, open_ * sizeof(char16_t));
    free_ = block;
    room_ = kBlockUnits;
    return free_ + open_;
  }
  // A large text is kept in blocks of its own, each twice the last, so that
  // it is copied less than once on average; the open block stays open.
  if (needed > largeUnits_) {
    const std::size_t grown = std::max(needed, std::max(2 * largeUnits_, kBlockUnits));
    LargeBlock block = allocateLargeBlock(grown * sizeof(char16_t));
    const char16_t* from = inLarge_ ? static_cast<const char16_t*>(large_.back().get()) : free_;
    if (open_ != 0) std::memcpy(block.get(), from, open_ * sizeof(char16_t));
    if (inLarge_) {
      large_.back() = std::move(block);
    } else {
      large_.push_back(std::move(block));
    }
    largeUnits_ = grown;
    inLarge_ = true;
  }
  return static_cast<char16_t*>(large_.back().get()) + open_;
}

const char16_t* DocumentStore::closeText() {
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

void DocumentStore::dropText() {
  if (inLarge_) large_.pop_back();
  inLarge_ = false;
  largeUnits_ = 0;
  open_ = 0;
}

}  // namespace quarvel
