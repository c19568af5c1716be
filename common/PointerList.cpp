#include "common/PointerList.h"

#include <new>

namespace brellin {

PointerList::PointerList() {
    sentinel.previous = &sentinel;
    sentinel.next = &sentinel;
    sentinel.item = nullptr;
}

PointerList::~PointerList() { unlinkAll(); }

void PointerList::unlinkAll() {
    Node* node = sentinel.next;
    while (node != &sentinel) {
        Node* following = node->next;
        delete node;
        node = following;
    }
    sentinel.previous = &sentinel;
    sentinel.next = &sentinel;
    itemCount = 0;
}

bool PointerList::append(void* item) {
    Node* node = new (std::nothrow) Node;
    if (node == nullptr) {
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    node->item = item;
    node->next = &sentinel;
    node->previous = sentinel.previous;
    sentinel.previous->next = node;
    sentinel.previous = node;
    ++itemCount;
    return true;
}

bool PointerList::insert(std::uint32_t position, void* item) {
    if (position >= itemCount) return PointerList::append(item);
    Node* node = new (std::nothrow) Node;
    if (node == nullptr) {
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    Node* holder = nodeAt(position);
    node->item = item;
    node->next = holder;
    node->previous = holder->previous;
    holder->previous->next = node;
    holder->previous = node;
    ++itemCount;
    return true;
}

bool PointerList::remove(std::uint32_t position) {
    if (position >= itemCount) {
        lastError = RESULT_NOT_FOUND;
        return false;
    }
    Node* node = nodeAt(position);
    node->previous->next = node->next;
    node->next->previous = node->previous;
    delete node;
    --itemCount;
    return true;
}

void PointerList::clear() { unlinkAll(); }

std::uint32_t PointerList::count() const { return itemCount; }

void** PointerList::at(std::uint32_t position) {
    if (position >= itemCount) {
        lastError = RESULT_NOT_FOUND;
        return nullptr;
    }
    return &nodeAt(position)->item;
}

PointerList::Node* PointerList::nodeAt(std::uint32_t position) {
    if (position <= itemCount / 2) {
        Node* node = sentinel.next;
        for (std::uint32_t i = 0; i < position; ++i) node = node->next;
        return node;
    }
    Node* node = sentinel.previous;
    for (std::uint32_t i = itemCount - 1; i > position; --i) node = node->previous;
    return node;
}

void PointerList::sortStable(bool (*less)(const void* a, const void* b)) {
    if (itemCount < 2) return;
    // Bottom-up merge sort over the forward links; the backward links and
    // the sentinel are rebuilt at the end.
    Node* head = sentinel.next;
    sentinel.previous->next = nullptr;
    for (std::uint32_t width = 1;; width *= 2) {
        Node* remaining = head;
        Node* mergedHead = nullptr;
        Node** tail = &mergedHead;
        std::uint32_t merges = 0;
        while (remaining != nullptr) {
            ++merges;
            Node* left = remaining;
            std::uint32_t leftSize = 0;
            Node* right = remaining;
            while (right != nullptr && leftSize < width) right = right->next, ++leftSize;
            std::uint32_t rightSize = width;
            while (leftSize > 0 || (rightSize > 0 && right != nullptr)) {
                Node* taken;
                // Taking from the left on ties keeps equal items in order.
                if (leftSize == 0) {
                    taken = right, right = right->next, --rightSize;
                } else if (rightSize == 0 || right == nullptr || !less(right->item, left->item)) {
                    taken = left, left = left->next, --leftSize;
                } else {
                    taken = right, right = right->next, --rightSize;
                }
                *tail = taken;
                tail = &taken->next;
            }
            remaining = right;
        }
        *tail = nullptr;
        head = mergedHead;
        if (merges <= 1) break;
        if (width > itemCount) break;
    }
    Node* previous = &sentinel;
    for (Node* node = head; node != nullptr; node = node->next) {
        node->previous = previous;
        previous->next = node;
        previous = node;
    }
    previous->next = &sentinel;
    sentinel.previous = previous;
}

}  // namespace brellin
