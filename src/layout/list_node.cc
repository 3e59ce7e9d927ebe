#include "layout/list_node.h"

#include <cassert>

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

void NodeList::moveTailToFront(ListNode* from, NodeList& target) {
  assert(&target != this && !empty());
  assert(from != nullptr && from != &head && from != &tail && from->prev != nullptr);
  ListNode* const last = tail.prev;
  ListNode* const before = from->prev;
  before->next = &tail;
  tail.prev = before;
  ListNode* const oldFirst = target.head.next;
  target.head.next = from;
  from->prev = &target.head;
  last->next = oldFirst;
  oldFirst->prev = last;
}

void NodeList::moveAllToBack(NodeList& target) {
  assert(&target != this);
  if (empty()) return;
  ListNode* const first = head.next;
  ListNode* const last = tail.prev;
  head.next = &tail;
  tail.prev = &head;
  ListNode* const oldLast = target.tail.prev;
  oldLast->next = first;
  first->prev = oldLast;
  last->next = &target.tail;
  target.tail.prev = last;
}

NodeList::~NodeList() {
  while (head.next != &tail) delete head.next;
  // The sentinels are destroyed tail first, which unlinks them from each other.
}

}  // namespace quarvel
