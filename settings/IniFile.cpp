#include "settings/IniFile.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/FileObject.h"
#include "common/MemoryLineReader.h"

namespace brellin {

namespace {

// One line is read with a limit of 256 bytes, carriage returns included.
constexpr std::uint32_t LINE_LIMIT = 256;
constexpr std::size_t NAME_LIMIT = INI_TEXT_SIZE - 1;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool isKeyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool isPrintable(char c) { return c >= 0x20 && c <= 0x7E; }

// Copies at most 127 bytes and terminates.
void copyName(char* field, const char* text, std::size_t length) {
    if (length > NAME_LIMIT) length = NAME_LIMIT;
    std::memcpy(field, text, length);
    field[length] = '\0';
}

// Names compare byte by byte as signed characters; a prefix sorts first.
int compareSigned(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    auto x = static_cast<signed char>(*a);
    auto y = static_cast<signed char>(*b);
    return x < y ? -1 : x > y ? 1 : 0;
}

bool entryLess(const void* a, const void* b) {
    const auto* x = static_cast<const IniEntry*>(a);
    const auto* y = static_cast<const IniEntry*>(b);
    int bySection = compareSigned(x->section, y->section);
    if (bySection != 0) return bySection < 0;
    return compareSigned(x->key, y->key) < 0;
}

// Decimal reading with the runtime's rules: white space, a sign, digits up to
// the first other character. Values past the 32-bit range saturate.
std::int32_t readDecimal(const char* text) {
    while (isSpace(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<std::int32_t>(value);
}

}  // namespace

IniFile::~IniFile() { clear(); }

void IniFile::clear() {
    entries.visit([](void* item) {
        delete static_cast<IniEntry*>(item);
        return true;
    });
    entries.clear();
}

const IniEntry* IniFile::entry(std::uint32_t position) const {
    void** slot = entries.at(position);
    return slot ? static_cast<const IniEntry*>(*slot) : nullptr;
}

bool IniFile::parseLine(const char* line, char* section) {
    while (isSpace(*line)) ++line;
    if (*line == '\0' || *line == ';') return true;
    if (*line == '[') {
        const char* name = ++line;
        std::size_t length = 0;
        while (length < NAME_LIMIT && name[length] != ']' && isPrintable(name[length])) ++length;
        copyName(section, name, length);
        return true;
    }
    auto* entry = new (std::nothrow) IniEntry;
    if (entry == nullptr) {
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    std::strcpy(entry->section, section);
    // The whole run of key characters is consumed; a longer name is cut.
    const char* key = line;
    while (isKeyCharacter(*line)) ++line;
    copyName(entry->key, key, static_cast<std::size_t>(line - key));
    while (isSpace(*line)) ++line;
    if (*line == '=') {
        ++line;
        while (isSpace(*line)) ++line;
    }
    copyName(entry->value, line, std::strlen(line));
    if (!entries.append(entry)) {
        delete entry;
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    return true;
}

template <class Source>
bool IniFile::readFrom(Source& source) {
    clear();
    char section[INI_TEXT_SIZE] = "NoName";
    // One byte more than the limit keeps a full line terminated.
    char line[LINE_LIMIT + 1];
    for (;;) {
        bool more = source.readLine(line, LINE_LIMIT);
        line[LINE_LIMIT] = '\0';
        if (!parseLine(line, section)) return false;
        if (!more) return true;
    }
}

bool IniFile::load(const char* path) {
    FileObject file;
    if (!file.open(path, FileAccess::Read)) {
        lastError = RESULT_CANNOT_OPEN_FILE;
        return false;
    }
    return readFrom(file);
}

bool IniFile::loadText(const void* data, std::size_t size) {
    MemoryLineReader reader(data, size);
    return readFrom(reader);
}

IniEntry* IniFile::find(const char* section, const char* key) const {
    if (section == nullptr || key == nullptr) return nullptr;
    // A name longer than a field can hold is never found.
    if (std::strlen(section) > NAME_LIMIT || std::strlen(key) > NAME_LIMIT) return nullptr;
    IniEntry* found = nullptr;
    entries.visit([&](void* item) {
        auto* entry = static_cast<IniEntry*>(item);
        if (std::strcmp(entry->section, section) == 0 && std::strcmp(entry->key, key) == 0) {
            found = entry;
            return false;
        }
        return true;
    });
    return found;
}

std::int32_t IniFile::getInt(const char* section, const char* key, std::int32_t defaultValue) const {
    const IniEntry* entry = find(section, key);
    return entry ? readDecimal(entry->value) : defaultValue;
}

const char* IniFile::getString(const char* section, const char* key, const char* defaultValue) const {
    const IniEntry* entry = find(section, key);
    return entry ? entry->value : defaultValue;
}

bool IniFile::set(const char* section, const char* key, const char* value) {
    if (value == nullptr) value = "";
    if (IniEntry* entry = find(section, key)) {
        copyName(entry->value, value, std::strlen(value));
        return true;
    }
    auto* entry = new (std::nothrow) IniEntry;
    if (entry == nullptr) {
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    copyName(entry->section, section ? section : "", section ? std::strlen(section) : 0);
    copyName(entry->key, key ? key : "", key ? std::strlen(key) : 0);
    copyName(entry->value, value, std::strlen(value));
    if (!entries.append(entry)) {
        delete entry;
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    return true;
}

bool IniFile::setInt(const char* section, const char* key, std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return set(section, key, text);
}

bool IniFile::setString(const char* section, const char* key, const char* text) { return set(section, key, text); }

bool IniFile::save(const char* path) {
    FileObject file;
    if (!file.open(path, FileAccess::Write)) {
        lastError = RESULT_CANNOT_OPEN_FILE;
        return false;
    }
    entries.sortStable(entryLess);
    const char* previousSection = "";
    bool written = entries.visit([&](void* item) {
        auto* entry = static_cast<IniEntry*>(item);
        if (std::strcmp(entry->section, previousSection) != 0) {
            if (!file.writeFormatted("[%s]\n", entry->section)) return false;
            previousSection = entry->section;
        }
        return file.writeFormatted("%s=%s\n", entry->key, entry->value);
    }) == entries.count();
    // A write the system reports only at close is a failed write too.
    if (!file.close()) written = false;
    if (!written) {
        lastError = RESULT_FILE_IO_ERROR;
        return false;
    }
    return true;
}

}  // namespace brellin
