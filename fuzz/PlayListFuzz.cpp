// Feeds arbitrary bytes to the BRL reader twice (the second time merging into
// the list of the first) and checks the list's promises: every entry names a
// MIDI file, fits a path field, and appears once; the current entry exists.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "settings/Settings.h"
#include "ui/model/PlayList.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

class QuietHost : public brellin::PlayListHost {
public:
    void startPlayback() override { playing = true; }
    void stopPlayback() override { playing = false; }
    bool isPlaying() const override { return playing; }
    void showTitle(const char* title) override { check(std::strlen(title) <= brellin::MAX_PATH_LENGTH); }
    void rebuildRecentMenus(const brellin::TextBuffer*) override {}
    bool playing = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    brellin::Settings settings;
    QuietHost host;
    brellin::PlayList list(settings, host);
    list.openPlayListText("/lists/fuzz.brl", data, size);
    list.openPlayListText("/lists/again.brl", data, size / 2);
    std::set<std::string> seen;
    {
        auto entries = list.lockEntries();
        for (std::uint32_t i = 0; i < entries->count(); ++i) {
            const char* text = entries->at(i)->text();
            check(brellin::PlayList::isMidiFileName(text));
            check(std::strlen(text) <= brellin::MAX_PATH_LENGTH);
            check(seen.insert(text).second);
        }
    }
    check(list.currentIndex >= 0);
    if (list.entryCount() > 0) check(static_cast<std::uint32_t>(list.currentIndex) < list.entryCount());
    // Stepping through every mode never leaves the list.
    for (std::int32_t mode = 0; mode < 4; ++mode) {
        list.setMode(static_cast<brellin::PlayMode>(mode));
        list.advanceAfterSong();
        list.next();
        list.previous();
        if (list.entryCount() > 0) check(static_cast<std::uint32_t>(list.currentIndex) < list.entryCount());
    }
    check(std::strlen(list.currentFile) <= brellin::MAX_PATH_LENGTH);
    return 0;
}
