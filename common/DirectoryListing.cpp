#include "common/DirectoryListing.h"

#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brellin {

namespace {

void fillEntry(DirectoryEntry& entry, const struct stat& info, const char* name) {
    bool folder = S_ISDIR(info.st_mode);
    entry.attributes = folder ? ATTRIBUTE_DIRECTORY : 0;
    if ((info.st_mode & S_IWUSR) == 0) entry.attributes |= ATTRIBUTE_READONLY;
    if (entry.attributes == 0) entry.attributes = ATTRIBUTE_NORMAL;
    entry.size = folder ? 0 : static_cast<std::uint64_t>(info.st_size);
    struct tm parts {};
    time_t seconds = info.st_mtim.tv_sec;
    if (gmtime_r(&seconds, &parts) != nullptr) {
        entry.lastWriteTime.year = static_cast<std::uint16_t>(parts.tm_year + 1900);
        entry.lastWriteTime.month = static_cast<std::uint16_t>(parts.tm_mon + 1);
        entry.lastWriteTime.dayOfWeek = static_cast<std::uint16_t>(parts.tm_wday);
        entry.lastWriteTime.day = static_cast<std::uint16_t>(parts.tm_mday);
        entry.lastWriteTime.hour = static_cast<std::uint16_t>(parts.tm_hour);
        entry.lastWriteTime.minute = static_cast<std::uint16_t>(parts.tm_min);
        entry.lastWriteTime.second = static_cast<std::uint16_t>(parts.tm_sec);
        entry.lastWriteTime.millisecond = static_cast<std::uint16_t>(info.st_mtim.tv_nsec / 1000000);
    }
    std::strncpy(entry.name, name, MAX_PATH_LENGTH);
    entry.name[MAX_PATH_LENGTH] = '\0';
}

unsigned char foldCase(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

// Bytes of the UTF-8 character at p (a stray byte counts alone).
std::size_t characterLength(const unsigned char* p) {
    std::size_t length = 1;
    if (*p >= 0xC0) {
        while (length < 4 && (p[length] & 0xC0) == 0x80) ++length;
    }
    return length;
}

}  // namespace

// The wildcard lookup of the file system: "*" stands for any run of
// characters, "?" for one character, every other character for itself
// without regard to ASCII case; "*.*" matches every name, with or without a
// dot. Brackets and backslashes have no special meaning.
bool DirectoryListing::matches(const char* pattern, const char* name) {
    if (std::strcmp(pattern, "*.*") == 0) return true;
    const auto* p = reinterpret_cast<const unsigned char*>(pattern);
    const auto* n = reinterpret_cast<const unsigned char*>(name);
    const unsigned char* starPattern = nullptr;
    const unsigned char* starName = nullptr;
    while (*n != 0) {
        if (*p == '*') {
            starPattern = ++p;
            starName = n;
        } else if (*p == '?') {
            ++p;
            n += characterLength(n);
        } else if (*p != 0 && foldCase(*p) == foldCase(*n)) {
            ++p, ++n;
        } else if (starPattern != nullptr) {
            // Let the last star take one more character and try again.
            p = starPattern;
            starName += characterLength(starName);
            n = starName;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == 0;
}

DirectoryListing::~DirectoryListing() { clear(); }

void DirectoryListing::clear() {
    visit([](void* item) {
        delete static_cast<DirectoryEntry*>(item);
        return true;
    });
    PointerList::clear();
}

bool DirectoryListing::remove(std::uint32_t position) {
    void** slot = at(position);
    if (slot == nullptr) return false;
    delete static_cast<DirectoryEntry*>(*slot);
    return PointerList::remove(position);
}

DirectoryEntry* DirectoryListing::entry(std::uint32_t position) {
    void** slot = at(position);
    return slot ? static_cast<DirectoryEntry*>(*slot) : nullptr;
}

bool DirectoryListing::addMatches(const char* folder, const char* pattern, bool folders) {
    // The folder as the system names it: the empty text stands for the root.
    DIR* directory = ::opendir(folder[0] != '\0' ? folder : "/");
    if (directory == nullptr) return true;
    bool atRoot = folder[0] == '\0';
    int handle = ::dirfd(directory);
    bool ok = true;
    while (struct dirent* found = ::readdir(directory)) {
        const char* name = found->d_name;
        if (folders) {
            if (std::strcmp(name, ".") == 0) continue;
            // The root has no parent to go up to.
            if (atRoot && std::strcmp(name, "..") == 0) continue;
        }
        if (!folders && !DirectoryListing::matches(pattern, name)) continue;
        struct stat info;
        if (::fstatat(handle, name, &info, 0) != 0 && ::fstatat(handle, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;  // vanished while listing
        }
        if (S_ISDIR(info.st_mode) != folders) continue;
        if (std::strlen(name) > MAX_PATH_LENGTH) continue;  // cannot be named in a path field
        auto* entry = new (std::nothrow) DirectoryEntry;
        if (entry == nullptr) {
            lastError = RESULT_OUT_OF_MEMORY;
            ok = false;
            break;
        }
        fillEntry(*entry, info, name);
        if (!append(entry)) {
            delete entry;
            ok = false;
            break;
        }
    }
    ::closedir(directory);
    return ok;
}

bool DirectoryListing::scan(const char* folder, const char* patterns) {
    clear();
    std::string base = folder ? folder : "";
    if (!base.empty() && base.back() == '/') base.pop_back();
    std::string list = patterns ? patterns : "";
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t stop = list.find(';', start);
        if (stop == std::string::npos) stop = list.size();
        std::string pattern = list.substr(start, stop - start);
        start = stop + 1;
        if (pattern.empty()) continue;
        if (base.size() + 1 + pattern.size() > MAX_PATH_LENGTH) {
            lastError = RESULT_OUT_OF_MEMORY;
            return false;
        }
        if (!addMatches(base.c_str(), pattern.c_str(), false)) return false;
    }
    if (base.size() + 4 > MAX_PATH_LENGTH) {  // folder + "/*.*"
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    return addMatches(base.c_str(), "*.*", true);
}

int DirectoryListing::compareNames(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    while (*x != 0 && *x == *y) ++x, ++y;
    if (*x == *y) return 0;
    if (*x == 0) return -1;  // a ended first
    if (*y == 0) return 1;
    if (*x == '.') return -1;
    if (*y == '.') return 1;
    return *x < *y ? -1 : 1;
}

void DirectoryListing::sort() {
    sortStable([](const void* a, const void* b) {
        const auto* x = static_cast<const DirectoryEntry*>(a);
        const auto* y = static_cast<const DirectoryEntry*>(b);
        if (x->isFolder() != y->isFolder()) return x->isFolder();
        return compareNames(x->name, y->name) < 0;
    });
}

}  // namespace brellin
