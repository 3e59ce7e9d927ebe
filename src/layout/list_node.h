// The intrusive doubly linked list that holds the glyphs of a line and the
// kept lines of a formatter, closed by two sentinel nodes.
#ifndef QUARVEL_LAYOUT_LIST_NODE_H_
#define QUARVEL_LAYOUT_LIST_NODE_H_

#include <cassert>
#include <cstddef>
#include <new>

namespace quarvel {

// Base of every list element and of the two sentinels. Destroying a node
// unlinks it from its neighbours, so deleting an element removes it from the
// list that holds it. Elements live on the heap and come from
// `new (std::nothrow)`, which yields nullptr when memory can't be had.
class ListNode {
 public:
  ListNode() = default;
  ListNode(const ListNode&) = delete;
  ListNode& operator=(const ListNode&) = delete;
  virtual bool isEnd() const { return false; }
  virtual ~ListNode() {
    if (prev != nullptr) prev->next = next;
    if (next != nullptr) next->prev = prev;
  }

  // Links the free node `p` directly after this one. This node must have a
  // successor (it is not a list's tail) and `p` must be in no list.
  ListNode* insertAfter(ListNode* p) {
    assert(next != nullptr && p != nullptr && p != this);
    assert(p->prev == nullptr && p->next == nullptr);
    p->prev = this;
    p->next = next;
    next->prev = p;
    next = p;
    return p;
  }

  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* memory, std::size_t size) noexcept;

  ListNode* prev = nullptr;
  ListNode* next = nullptr;
};

// The sentinel at either end of a NodeList.
class ListEnd final : public ListNode {
 public:
  bool isEnd() const override { return true; }
};

// Owns its elements and deletes them, first to last, when destroyed. Never
// copied or moved: its sentinels point at each other.
class NodeList {
 public:
  NodeList();
  ~NodeList();
  NodeList(const NodeList&) = delete;
  NodeList& operator=(const NodeList&) = delete;

  void append(ListNode* p) { tail.prev->insertAfter(p); }
  // Unlinks the elements from `from` (an element of this list) to the last
  // and links them, in their order, in front of the first element of
  // `target` (another list), in constant time.
  void moveTailToFront(ListNode* from, NodeList& target);
  // Unlinks every element and links them, in their order, after the last
  // element of `target` (another list), in constant time.
  void moveAllToBack(NodeList& target);
  ListNode* first() const { return head.next; }
  // The last element, or nullptr when the list is empty.
  ListNode* last() const { return tail.prev == &head ? nullptr : tail.prev; }
  bool empty() const { return head.next == &tail; }

  ListEnd head;
  ListEnd tail;
};

// Where `next` lies in a node, and so in any element: a ListNode is the only
// base of each, at its start. (offsetof on a class with virtual functions is
// conditionally supported; the compilers quarvel is built with support it.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
inline constexpr std::size_t kListNodeNextOffset = offsetof(ListNode, next);
#pragma GCC diagnostic pop

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_LIST_NODE_H_
