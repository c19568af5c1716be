// PlayList: the ordered list of MIDI files the player steps through.
//
// It keeps the current position and the file that Play starts, the BRL
// play-list file the list came from, and decides what follows a finished song
// by the play mode. The recent play lists and the play mode are kept in the
// Settings record (they are saved with it); the play list manages them and
// sets `settingsChanged` when they change. Starting and stopping songs and
// drawing go through the PlayListHost. Every operation runs on the thread that
// owns the player (the user-interface thread).
//
// The entries have a lock of their own, the play-list lock: the play-list
// dialog's worker thread reads entries while the user-interface thread edits
// them. Every access to the entries, inside the play list and from outside
// (through lockEntries), holds it. The play list never holds it while it calls
// the host, so a host that calls back into the play list (startPlayback in
// mode Random calls pickRandom) cannot deadlock. The lock is not recursive:
// whoever holds a LockedEntries calls no operation of the play list until it
// lets go.
//
// BRL files are plain text: one MIDI file path per line, written with a line
// feed after each; on reading, carriage returns are dropped, lines that do
// not name a MIDI file are skipped, and a line of more than 259 bytes ends
// the reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "common/DirectoryListing.h"
#include "common/ResultCode.h"
#include "common/StringList.h"
#include "settings/Settings.h"
#include "ui/model/PlayListHost.h"
#include "ui/model/RandomGenerator.h"

namespace brellin {

enum class PlayMode : std::int32_t {
    Normal = 0,
    Random = 1,
    NormalNoLoop = 2,
    RandomAfterSecond = 3,
};

// The text of a play mode as the play-mode dialog lists it.
const char* playModeText(PlayMode mode);

// Command identifiers of the recent submenu items: 8950 + k opens recent[k].
constexpr int RECENT_COMMAND_BASE = 8950;

struct RecentMenuItem {
    int command;
    const char* text;
};

// The items of a recent submenu from top to bottom: every non-empty path of
// recent[0..4] with its command, or the single item "none" (8950) when all are
// empty. Returns the number of items (1 to 5).
int recentMenuItems(const TextBuffer* recent, RecentMenuItem* items);

class PlayList {
public:
    PlayList(Settings& settings, PlayListHost& host);
    PlayList(const PlayList&) = delete;
    PlayList& operator=(const PlayList&) = delete;

    // A name of at least one character followed by ".mid", ".rmi", ".kar"
    // (a karaoke MIDI file) or ".midi", without regard to case.
    static bool isMidiFileName(const char* name);
    // The file name without folder and extension, at most 259 bytes, into a
    // field of 260 bytes.
    static void titleOf(const char* path, char* title);

    // `currentFile` = path (cut to 259 bytes); the host shows its title.
    void makeCurrent(const char* path);
    // Opens a MIDI file or a BRL play list into the list (merging; callers
    // that replace the list clear it first). Neither starts nor stops playback.
    void openPath(const char* path);
    // As openPath for a BRL file whose bytes are given instead of read.
    void openPlayListText(const char* path, const void* data, std::size_t size);

    // Commands Next and Previous: step with wrap-around, restart if playing.
    void next();
    void previous();
    // The step after a finished song, by the play mode.
    void advanceAfterSong();
    // currentIndex = a random position, never the one it held while there
    // are two entries or more (but see pickRandomWith).
    void pickRandom();
    // The pick for a given draw r from 0 to 32767.
    void pickRandomWith(std::int32_t r);

    void addRecent(const char* path);
    void rebuildRecentMenus();
    // Opens recent[k] into an emptied list (k from 0 to 4).
    void openRecent(int k);
    // playListPath if it is not empty, else currentFile.
    const char* lastPlayed() const;

    // Empties the entries; currentIndex 0.
    void clear();

    // The entries, held under the play-list lock for as long as this lives.
    class LockedEntries {
    public:
        StringList& operator*() const { return list; }
        StringList* operator->() const { return &list; }

    private:
        friend class PlayList;
        LockedEntries(std::mutex& lock, StringList& entries) : guard(lock), list(entries) {}
        std::unique_lock<std::mutex> guard;
        StringList& list;
    };
    LockedEntries lockEntries() { return LockedEntries(entryLock, entries); }
    // The number of entries (takes the lock briefly).
    std::uint32_t entryCount();
    // Makes the entry at currentIndex current (makeCurrent with its text);
    // nothing changes when there is no entry at that position. The main
    // window's transport (startPlayback, stopPlayback) and its commands use it.
    void makeIndexCurrent();

    // Writes the entries as a BRL file (replacing an existing one). False
    // with RESULT_CANNOT_OPEN_FILE or RESULT_FILE_IO_ERROR.
    bool writePlayList(const char* path);
    // writePlayList, then playListPath = path and addRecent(path).
    bool savePlayList(const char* path);
    // Whether a file (not a folder) of exactly that name exists, by listing
    // its folder (the name is not a pattern).
    static bool playListFileExists(const char* path);

    PlayMode mode() const { return static_cast<PlayMode>(settings.PlayMode & 3); }
    void setMode(PlayMode value) { settings.PlayMode = static_cast<std::int32_t>(value); }
    TextBuffer* recent() { return settings.recent; }

    // Position of the current entry; -1 only while a play list is being read.
    std::int32_t currentIndex = 0;
    char currentFile[MAX_PATH_LENGTH + 1] = {};
    // The BRL file the list was last read from or written to.
    char playListPath[MAX_PATH_LENGTH + 1] = {};
    RandomGenerator random;
    ResultCode lastError = RESULT_OK;

private:
    template <class Source>
    void readPlayList(Source& source, const char* path);
    void stepTo(std::int32_t index);
    std::int32_t addOrFind(const char* path);
    // The first position of each entry's text.
    using EntryIndex = std::unordered_map<std::string, std::int32_t>;
    // addOrFind through the index, which it keeps up to date.
    std::int32_t addOrFind(const char* path, EntryIndex& index);

    Settings& settings;
    PlayListHost& host;
    // File paths in play order; no two entries are byte-equal. Guarded by entryLock.
    StringList entries;
    std::mutex entryLock;
};

}  // namespace brellin
