// DirectoryListing: the files of one folder that match a set of patterns,
// followed by its sub-folders.
//
// The engine start looks for a sound font with it, the play-list writer asks
// it whether a file exists, and the file browser and the configure dialogs
// fill their lists from it. Patterns match names without regard to case
// ("*.BRF" finds small.brf). The listing owns its DirectoryEntry records;
// `remove`, `clear` and the destructor free them. Used on one thread.
#pragma once

#include <cstdint>

#include "common/PointerList.h"

namespace brellin {

// Attribute bit of a folder.
constexpr std::uint32_t ATTRIBUTE_DIRECTORY = 0x10;
constexpr std::uint32_t ATTRIBUTE_READONLY = 0x01;
constexpr std::uint32_t ATTRIBUTE_NORMAL = 0x80;

// Paths live in fields of 260 bytes: at most 259 characters.
constexpr std::uint32_t MAX_PATH_LENGTH = 259;

struct DirectoryTime {
    std::uint16_t year, month, dayOfWeek, day, hour, minute, second, millisecond;
};

struct DirectoryEntry {
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    DirectoryTime lastWriteTime{};  // as reported (UTC), not converted to local time
    char name[MAX_PATH_LENGTH + 1] = {};

    bool isFolder() const { return (attributes & ATTRIBUTE_DIRECTORY) != 0; }
};

class DirectoryListing : public PointerList {
public:
    DirectoryListing() = default;
    ~DirectoryListing() override;

    // Lists folder/pattern for each ';'-separated pattern in order (files
    // only, in the order the system reports them), then every sub-folder but
    // "." (".." included). A single trailing "/" of the folder is ignored.
    // True also when nothing matched or the folder does not exist; false with
    // RESULT_OUT_OF_MEMORY when a composed path would pass 259 characters or
    // an entry cannot be allocated (the entries listed so far stay).
    bool scan(const char* folder, const char* patterns);

    // Browser order: folders before files, each group by name (a '.' sorts
    // before any other byte, then unsigned bytes, shorter first); stable.
    void sort();

    // The entry at the position, or null with RESULT_NOT_FOUND.
    DirectoryEntry* entry(std::uint32_t position);

    bool remove(std::uint32_t position) override;
    void clear() override;

    // The name order of `sort`: negative, zero or positive.
    static int compareNames(const char* a, const char* b);

    // The wildcard rule of `scan`: "*" any run of characters, "?" one
    // character, the rest literally without regard to ASCII case.
    static bool matches(const char* pattern, const char* name);

private:
    bool addMatches(const char* folder, const char* pattern, bool folders);
};

}  // namespace brellin
