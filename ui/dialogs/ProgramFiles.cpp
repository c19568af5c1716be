#include "ui/dialogs/ProgramFiles.h"

#include <algorithm>
#include <cstring>

#include "common/DirectoryListing.h"

namespace brellin {

namespace {

unsigned char fold(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

int compareFolded(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool equalFolded(const std::string& a, const char* b, std::size_t length) {
    if (a.size() != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

bool startsFolded(const std::string& name, const char* prefix, std::size_t length) {
    return name.size() >= length && equalFolded(name.substr(0, length), prefix, length);
}

}  // namespace

bool ProgramFiles::scan(const char* folder, const char* pattern) {
    names.clear();
    DirectoryListing listing;
    if (!listing.scan(folder, pattern)) return false;
    for (std::uint32_t i = 0; i < listing.count(); ++i) {
        const DirectoryEntry* entry = listing.entry(i);
        if (entry != nullptr && !entry->isFolder()) names.emplace_back(entry->name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int folded = compareFolded(a, b);
        return folded != 0 ? folded < 0 : a < b;
    });
    return true;
}

int ProgramFiles::find(const char* wanted) const {
    if (names.empty()) return -1;
    if (wanted == nullptr || wanted[0] == '\0') return 0;
    const std::size_t length = std::strlen(wanted);
    const int count = static_cast<int>(names.size());
    for (int i = 0; i < count; ++i) {
        if (equalFolded(names[static_cast<std::size_t>(i)], wanted, length)) return i;
    }
    for (int i = 0; i < count; ++i) {
        const std::string& name = names[static_cast<std::size_t>(i)];
        const std::size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot == length && startsFolded(name, wanted, length)) return i;
    }
    for (int i = 0; i < count; ++i) {
        if (startsFolded(names[static_cast<std::size_t>(i)], wanted, length)) return i;
    }
    return 0;
}

const char* ProgramFiles::name(int position) const {
    if (position < 0 || position >= static_cast<int>(names.size())) return nullptr;
    return names[static_cast<std::size_t>(position)].c_str();
}

}  // namespace brellin
