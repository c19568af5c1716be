#include "common/StringList.h"

#include <new>

namespace brellin {

StringList::~StringList() { StringList::clear(); }

bool StringList::add(std::uint32_t position, const char* text) {
    auto* copy = new (std::nothrow) TextBuffer;
    if (copy == nullptr || !copy->assign(text)) {
        delete copy;
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    if (!nodes.insert(position, copy)) {
        delete copy;
        lastError = nodes.lastError;
        return false;
    }
    return true;
}

bool StringList::append(const char* text) { return add(nodes.count(), text); }

bool StringList::insert(std::uint32_t position, const char* text) { return add(position, text); }

bool StringList::remove(std::uint32_t position) {
    void** slot = nodes.at(position);
    if (slot == nullptr) {
        lastError = RESULT_NOT_FOUND;
        return false;
    }
    delete static_cast<TextBuffer*>(*slot);
    nodes.remove(position);
    return true;
}

void StringList::clear() {
    nodes.visit([](void* item) {
        delete static_cast<TextBuffer*>(item);
        return true;
    });
    nodes.clear();
}

std::uint32_t StringList::count() const { return nodes.count(); }

TextBuffer* StringList::at(std::uint32_t position) {
    void** slot = nodes.at(position);
    if (slot == nullptr) {
        lastError = RESULT_NOT_FOUND;
        return nullptr;
    }
    return static_cast<TextBuffer*>(*slot);
}

std::int32_t StringList::find(const char* text) {
    std::uint32_t position =
        nodes.visit([text](void* item) { return !sameText(static_cast<TextBuffer*>(item)->text(), text); });
    return position < nodes.count() ? static_cast<std::int32_t>(position) : -1;
}

}  // namespace brellin
