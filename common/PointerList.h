// PointerList: a doubly linked list of pointer-sized items around an embedded
// sentinel node.
//
// The list owns its nodes, never its items: the IniFile, the DirectoryListing
// and the play list keep their records in one and free them themselves. Its
// six virtual operations are append, insert, remove, clear, count and at,
// so that StringList can replace them. Positions are zero-based; `insert`, `remove` and `at` walk from
// the front when the position is at most half the count and from the back
// otherwise. A list belongs to one thread at a time.
#pragma once

#include <cstdint>

#include "common/ResultCode.h"

namespace brellin {

class PointerList {
public:
    PointerList();
    virtual ~PointerList();
    PointerList(const PointerList&) = delete;
    PointerList& operator=(const PointerList&) = delete;

    // False with RESULT_OUT_OF_MEMORY when no node can be allocated.
    virtual bool append(void* item);
    // A position at or past the end appends; otherwise the new item takes
    // the position, in front of the item that held it.
    virtual bool insert(std::uint32_t position, void* item);
    // Unlinks and frees the node (not the item). False with RESULT_NOT_FOUND
    // when the position is not below the count.
    virtual bool remove(std::uint32_t position);
    // Frees every node (not the items).
    virtual void clear();
    virtual std::uint32_t count() const;
    // The item slot at the position, through which the item can be read or
    // replaced; null with RESULT_NOT_FOUND when out of range.
    virtual void** at(std::uint32_t position);

    // Reorders the items by `less` (strict weak order), keeping the relative
    // order of equal items. A merge sort on the links: nothing is allocated.
    void sortStable(bool (*less)(const void* a, const void* b));

    // Calls visit(item) front to back until it returns false; the result is
    // the position where it stopped, or the count when it never did.
    template <class Visit>
    std::uint32_t visit(Visit&& visitItem) const {
        std::uint32_t position = 0;
        for (const Node* node = sentinel.next; node != &sentinel; node = node->next, ++position) {
            if (!visitItem(node->item)) return position;
        }
        return position;
    }

    ResultCode lastError = RESULT_OK;

protected:
    struct Node {
        Node* previous;
        Node* next;
        void* item;
    };

    // The node at a position below the count, found by the walking rule.
    Node* nodeAt(std::uint32_t position);
    void unlinkAll();

    Node sentinel;
    std::uint32_t itemCount = 0;
};

}  // namespace brellin
