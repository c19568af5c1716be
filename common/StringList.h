// StringList: the list container of PointerList with texts held by value.
//
// `append` and `insert` store their own TextBuffer copy of the text; `remove`,
// `clear` and the destructor free the copies. It overrides PointerList's six
// operations and keeps their positions, the walking rule and the lastError
// codes (RESULT_OUT_OF_MEMORY, RESULT_NOT_FOUND).
#pragma once

#include <cstdint>

#include "common/PointerList.h"
#include "common/TextBuffer.h"

namespace brellin {

class StringList {
public:
    StringList() = default;
    virtual ~StringList();
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;

    virtual bool append(const char* text);
    virtual bool insert(std::uint32_t position, const char* text);
    virtual bool remove(std::uint32_t position);
    virtual void clear();
    virtual std::uint32_t count() const;
    // The stored text, or null with RESULT_NOT_FOUND when out of range.
    virtual TextBuffer* at(std::uint32_t position);

    // The first position holding a text byte-equal to `text`, or -1.
    std::int32_t find(const char* text);

    // Calls visit(const TextBuffer&) front to back until it returns false;
    // the result is the position where it stopped, or the count.
    template <class Visit>
    std::uint32_t visit(Visit&& visitText) const {
        return nodes.visit([&](void* item) { return visitText(*static_cast<const TextBuffer*>(item)); });
    }
    // The same with texts that may be changed in place.
    template <class Visit>
    std::uint32_t visit(Visit&& visitText) {
        return nodes.visit([&](void* item) { return visitText(*static_cast<TextBuffer*>(item)); });
    }

    ResultCode lastError = RESULT_OK;

private:
    bool add(std::uint32_t position, const char* text);
    PointerList nodes;
};

}  // namespace brellin
