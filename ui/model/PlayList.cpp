#include "ui/model/PlayList.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>

#include "common/FileObject.h"
#include "common/MemoryLineReader.h"

namespace brellin {

namespace {

// A BRL line is read with a limit of 260 bytes: 259 and its line feed.
constexpr std::uint32_t BRL_LINE_LIMIT = MAX_PATH_LENGTH + 1;

void copyPath(char* field, const char* text) {
    std::size_t length = std::strlen(text ? text : "");
    if (length > MAX_PATH_LENGTH) length = MAX_PATH_LENGTH;
    std::memmove(field, text ? text : "", length);
    field[length] = '\0';
}

bool endsWithIgnoringCase(const char* name, std::size_t length, const char* suffix) {
    std::size_t n = std::strlen(suffix);
    if (length < n) return false;
    const char* tail = name + length - n;
    for (std::size_t i = 0; i < n; ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != suffix[i]) return false;
    }
    return true;
}

}  // namespace

const char* playModeText(PlayMode mode) {
    switch (mode) {
        case PlayMode::Normal: return "Normal";
        case PlayMode::Random: return "Random";
        case PlayMode::NormalNoLoop: return "Normal without loop";
        case PlayMode::RandomAfterSecond: return "Random after the 2nd";
    }
    return "Normal";
}

int recentMenuItems(const TextBuffer* recent, RecentMenuItem* items) {
    int count = 0;
    for (int k = 0; k < RECENT_COUNT; ++k) {
        if (recent[k].empty()) continue;
        items[count++] = RecentMenuItem{RECENT_COMMAND_BASE + k, recent[k].text()};
    }
    if (count == 0) items[count++] = RecentMenuItem{RECENT_COMMAND_BASE, "none"};
    return count;
}

PlayList::PlayList(Settings& settingsRecord, PlayListHost& playerHost) : settings(settingsRecord), host(playerHost) {}

bool PlayList::isMidiFileName(const char* name) {
    if (name == nullptr) return false;
    std::size_t n = std::strlen(name);
    if (n < 5) return false;
    if (endsWithIgnoringCase(name, n, ".mid") || endsWithIgnoringCase(name, n, ".rmi") ||
        endsWithIgnoringCase(name, n, ".kar"))
        return true;
    if (n < 6) return false;
    return endsWithIgnoringCase(name, n, ".midi");
}

void PlayList::titleOf(const char* path, char* title) {
    if (path == nullptr) path = "";
    const char* slash = std::strrchr(path, '/');
    const char* begin = slash ? slash + 1 : path;
    const char* dot = std::strrchr(path, '.');
    const char* end = (dot != nullptr && dot >= begin) ? dot : path + std::strlen(path);
    std::size_t length = static_cast<std::size_t>(end - begin);
    if (length > MAX_PATH_LENGTH) length = MAX_PATH_LENGTH;
    std::memmove(title, begin, length);
    title[length] = '\0';
}

void PlayList::makeCurrent(const char* path) {
    // The path may be currentFile itself or an entry: take the title first.
    char title[MAX_PATH_LENGTH + 1];
    titleOf(path, title);
    copyPath(currentFile, path);
    host.showTitle(title);
}

std::uint32_t PlayList::entryCount() {
    std::lock_guard<std::mutex> guard(entryLock);
    return entries.count();
}

void PlayList::makeIndexCurrent() {
    if (currentIndex < 0) return;
    // Copied under the lock, shown without it: makeCurrent calls the host.
    char path[MAX_PATH_LENGTH + 1];
    {
        std::lock_guard<std::mutex> guard(entryLock);
        const TextBuffer* text = entries.at(static_cast<std::uint32_t>(currentIndex));
        if (text == nullptr) return;
        copyPath(path, text->text());
    }
    makeCurrent(path);
}

std::int32_t PlayList::addOrFind(const char* path) {
    std::lock_guard<std::mutex> guard(entryLock);
    std::int32_t found = entries.find(path);
    if (found >= 0) return found;
    if (!entries.append(path)) {
        lastError = entries.lastError;
        return -1;
    }
    return static_cast<std::int32_t>(entries.count()) - 1;
}

std::int32_t PlayList::addOrFind(const char* path, EntryIndex& index) {
    std::lock_guard<std::mutex> guard(entryLock);
    // The first of equal entries keeps its position, as a scan from the front finds it.
    const auto [slot, added] = index.try_emplace(path, static_cast<std::int32_t>(entries.count()));
    if (!added) return slot->second;
    if (!entries.append(path)) {
        index.erase(slot);
        lastError = entries.lastError;
        return -1;
    }
    return slot->second;
}

template <class Source>
void PlayList::readPlayList(Source& source, const char* path) {
    addRecent(path);
    currentIndex = -1;
    // Each line is looked up by its text, not by a scan of the list: a list of
    // 100,000 songs would otherwise hold the window for minutes. Nothing else
    // edits the entries while the user-interface thread reads a list.
    EntryIndex index;
    {
        std::lock_guard<std::mutex> guard(entryLock);
        std::int32_t position = 0;
        entries.visit([&](const TextBuffer& text) {
            index.try_emplace(text.text(), position++);
            return true;
        });
    }
    char line[BRL_LINE_LIMIT + 1];
    for (;;) {
        bool more = source.readLine(line, BRL_LINE_LIMIT);
        // A line that does not fit a path field ends the reading unread.
        if (!more && source.lastError == RESULT_OUT_OF_MEMORY) break;
        line[BRL_LINE_LIMIT] = '\0';
        if (isMidiFileName(line)) {
            std::int32_t position = addOrFind(line, index);
            if (currentIndex == -1) currentIndex = position;
        }
        if (!more) break;
    }
    if (currentIndex < 0 || static_cast<std::uint32_t>(currentIndex) >= entryCount()) currentIndex = 0;
    makeIndexCurrent();
}

void PlayList::openPath(const char* path) {
    if (path == nullptr) path = "";
    // The path may be one of our own fields (recent, currentFile): copy it.
    std::string name(path);
    if (std::strcmp(playListPath, name.c_str()) != 0) settings.settingsChanged = true;
    if (isMidiFileName(name.c_str())) {
        playListPath[0] = '\0';
        std::int32_t position = addOrFind(name.c_str());
        currentIndex = position >= 0 ? position : static_cast<std::int32_t>(entryCount()) - 1;
        makeCurrent(name.c_str());
        return;
    }
    copyPath(playListPath, name.c_str());
    FileObject file;
    if (!file.open(name.c_str(), FileAccess::Read)) return;
    readPlayList(file, name.c_str());
    file.close();
}

void PlayList::openPlayListText(const char* path, const void* data, std::size_t size) {
    std::string name(path ? path : "");
    if (std::strcmp(playListPath, name.c_str()) != 0) settings.settingsChanged = true;
    copyPath(playListPath, name.c_str());
    MemoryLineReader reader(data, size);
    readPlayList(reader, name.c_str());
}

void PlayList::stepTo(std::int32_t index) {
    currentIndex = index;
    makeIndexCurrent();
    if (host.isPlaying()) host.startPlayback();
}

void PlayList::next() {
    auto count = static_cast<std::int32_t>(entryCount());
    if (count < 2) return;
    std::int32_t index = currentIndex + 1;
    stepTo(index >= count ? 0 : index);
}

void PlayList::previous() {
    auto count = static_cast<std::int32_t>(entryCount());
    if (count < 2) return;
    std::int32_t index = currentIndex - 1;
    stepTo(index < 0 ? count - 1 : index);
}

void PlayList::advanceAfterSong() {
    auto count = static_cast<std::int32_t>(entryCount());
    if (count == 0) return;  // the end-of-song notice stays pending
    switch (mode()) {
        case PlayMode::Normal: currentIndex = currentIndex + 1 >= count ? 0 : currentIndex + 1; break;
        case PlayMode::Random:
        case PlayMode::RandomAfterSecond: pickRandom(); break;
        case PlayMode::NormalNoLoop:
            if (currentIndex + 1 >= count) {
                currentIndex = 0;
                host.stopPlayback();
            } else {
                ++currentIndex;
            }
            break;
    }
    stepTo(currentIndex);
}

void PlayList::pickRandom() { pickRandomWith(random.next()); }

void PlayList::pickRandomWith(std::int32_t r) {
    std::uint64_t c = entryCount();
    // 64-bit arithmetic: c × r stays exact however long the list is.
    std::uint64_t i = (c * static_cast<std::uint64_t>(r)) / static_cast<std::uint64_t>(RandomGenerator::MAX);
    if (currentIndex >= 0 && i == static_cast<std::uint64_t>(currentIndex)) ++i;
    if (i >= c) i = 0;
    currentIndex = static_cast<std::int32_t>(i);
}

void PlayList::addRecent(const char* path) {
    TextBuffer text(path ? path : "");  // path may be one of the recent texts
    TextBuffer* slots = settings.recent;
    int k = 0;
    while (k < RECENT_COUNT && !sameText(slots[k].text(), text.text())) ++k;
    for (int j = k; j > 0; --j) slots[j] = std::move(slots[j - 1]);
    slots[0] = std::move(text);
    settings.settingsChanged = true;
    rebuildRecentMenus();
}

void PlayList::rebuildRecentMenus() { host.rebuildRecentMenus(settings.recent); }

void PlayList::openRecent(int k) {
    if (k < 0 || k >= RECENT_COUNT) return;
    std::string path(settings.recent[k].text());
    clear();
    openPath(path.c_str());
}

const char* PlayList::lastPlayed() const { return playListPath[0] != '\0' ? playListPath : currentFile; }

void PlayList::clear() {
    std::lock_guard<std::mutex> guard(entryLock);
    entries.clear();
    currentIndex = 0;
}

bool PlayList::writePlayList(const char* path) {
    FileObject file;
    if (!file.open(path, FileAccess::Write)) {
        lastError = RESULT_CANNOT_OPEN_FILE;
        return false;
    }
    // Each path and a line feed, written as they stand (no cut at a
    // formatting buffer's size).
    std::unique_lock<std::mutex> guard(entryLock);
    bool written = entries.visit([&](const TextBuffer& text) {
        return file.write(text.text(), static_cast<std::uint32_t>(text.length())) && file.write("\n", 1);
    }) == entries.count();
    guard.unlock();
    if (!file.close()) written = false;
    if (!written) {
        lastError = RESULT_FILE_IO_ERROR;
        return false;
    }
    return true;
}

bool PlayList::savePlayList(const char* path) {
    if (!writePlayList(path)) return false;
    copyPath(playListPath, path);
    addRecent(playListPath);
    return true;
}

bool PlayList::playListFileExists(const char* path) {
    std::string text(path ? path : "");
    std::size_t slash = text.rfind('/');
    std::string folder = slash == std::string::npos ? std::string("/") : text.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    if (name.empty()) return false;
    DirectoryListing listing;
    // The name is compared literally: as a pattern, "a*.brl" or "?.brl" would
    // find other files, and case-folding would find "LIST.brl" for "list.brl".
    listing.scan(folder.c_str(), "*");
    for (std::uint32_t i = 0; i < listing.count(); ++i) {
        const DirectoryEntry* entry = listing.entry(i);
        if (!entry->isFolder() && name == entry->name) return true;
    }
    return false;
}

}  // namespace brellin
