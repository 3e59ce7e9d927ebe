#include "layout/list_node.h"

#include "layout/allocation.h"

namespace quarvel {

void* ListNode::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocateRecord(size);
}

void ListNode::operator delete(void* memory, std::size_t size) noexcept {
  releaseRecord(memory, size);
}

NodeList::NodeList() {
  head.next = &tail;
  tail.prev = &head;
}

NodeList::~NodeList() {
  while (!head.next->isEnd()) delete head.next;
  // The sentinels are destroyed tail first, which unlinks them from each other.
}

}  // namespace quarvel
