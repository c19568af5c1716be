// IniFile: the program's reader and writer of INI-syntax text files.
//
// It holds a whole file in memory as IniEntry records (section, key, value),
// answers lookups by section and key, takes new or changed values, and saves
// everything sorted by section and key. The settings file and the skin
// descriptions are read through it; the settings file is written through it.
// An IniFile lives for one load or save on the user-interface thread.
//
// Names and values are cut at 127 characters; there are no comments at the
// ends of lines, no quoting and no escapes; duplicate keys are all kept and
// lookups find the first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/PointerList.h"
#include "common/ResultCode.h"

namespace brellin {

class MemoryLineReader;

// Names and values live in fields of 128 bytes: at most 127 characters.
constexpr std::size_t INI_TEXT_SIZE = 128;

struct IniEntry {
    char section[INI_TEXT_SIZE] = {};
    char key[INI_TEXT_SIZE] = {};
    char value[INI_TEXT_SIZE] = {};
};

class IniFile {
public:
    IniFile() = default;
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Replaces the contents with the entries of the file. False with
    // RESULT_CANNOT_OPEN_FILE (entries untouched) or RESULT_OUT_OF_MEMORY
    // (the entries read so far stay). A line of 256 bytes without a line feed
    // is the last one read.
    bool load(const char* path);
    // The same reader over bytes in memory.
    bool loadText(const void* data, std::size_t size);

    // The value read as a decimal integer when the entry exists (leading
    // white space, an optional sign, digits up to the first other character;
    // no digits give 0), else the default.
    std::int32_t getInt(const char* section, const char* key, std::int32_t defaultValue) const;
    // The stored value (valid until the entry changes or the file is
    // destroyed), else the default itself.
    const char* getString(const char* section, const char* key, const char* defaultValue) const;

    bool setInt(const char* section, const char* key, std::int32_t value);
    // The text is cut to its first 127 bytes.
    bool setString(const char* section, const char* key, const char* text);

    // Writes every entry sorted (stably) by section and then key, one
    // "[section]" line per section, "key=value" lines, line feeds only.
    // False with RESULT_CANNOT_OPEN_FILE or RESULT_FILE_IO_ERROR.
    bool save(const char* path);

    void clear();

    std::uint32_t count() const { return entries.count(); }
    // The entry at a position of the list, or null.
    const IniEntry* entry(std::uint32_t position) const;

    ResultCode lastError = RESULT_OK;

private:
    template <class Source>
    bool readFrom(Source& source);
    bool parseLine(const char* line, char* section);
    IniEntry* find(const char* section, const char* key) const;
    bool set(const char* section, const char* key, const char* value);

    // Owned IniEntry records, in file order (after `save`: sorted).
    mutable PointerList entries;
};

}  // namespace brellin
