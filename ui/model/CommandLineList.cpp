#include "ui/model/CommandLineList.h"

#include <cstring>
#include <utility>

#include <unistd.h>

#include "common/FileObject.h"
#include "settings/Settings.h"
#include "ui/model/PlayList.h"

namespace brellin {

namespace {

// A terminal has no title area, no menus and no transport of its own here:
// the caller plays the order it is given.
class SilentHost : public PlayListHost {
public:
    void startPlayback() override {}
    void stopPlayback() override {}
    bool isPlaying() const override { return false; }
    void showTitle(const char*) override {}
    void rebuildRecentMenus(const TextBuffer*) override {}
};

bool isPlayListName(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return tail == ".brl";
}

// Songs only MIDI-named (a saved list holds nothing else), or any name.
void fill(PlayList& list, const std::vector<std::string>& files, std::vector<std::string>* unreadable,
          bool onlyMidiNames) {
    for (const std::string& file : files) {
        if (isPlayListName(file)) {
            FileObject probe;
            if (!probe.open(file.c_str(), FileAccess::Read)) {
                if (unreadable) unreadable->push_back(file);
                continue;
            }
            probe.close();
            std::uint32_t before = list.entryCount();
            list.openPath(file.c_str());
            // A terminal is not started in the list's folder: the songs the
            // list added by relative paths are taken from the list's folder.
            std::size_t slash = file.rfind('/');
            if (slash != std::string::npos) {
                std::string folder = file.substr(0, slash + 1);
                auto entries = list.lockEntries();
                // One walk over the links: a position at a time would walk them once per song.
                std::uint32_t position = 0;
                entries->visit([&](TextBuffer& song) {
                    if (position++ >= before && song.text()[0] != '/') song.assign((folder + song.text()).c_str());
                    return true;
                });
            }
        } else if (onlyMidiNames && !PlayList::isMidiFileName(file.c_str())) {
            continue;
        } else {
            // Any other name is a song: the player says when it cannot play it.
            auto entries = list.lockEntries();
            if (entries->find(file.c_str()) < 0) entries->append(file.c_str());
        }
    }
}

}  // namespace

PlayOrder buildPlayOrder(const std::vector<std::string>& files, bool random, std::uint32_t seed) {
    Settings settings;
    SilentHost host;
    PlayList list(settings, host);
    PlayOrder order;
    fill(list, files, &order.unreadableLists, false);
    std::vector<std::string> songs;
    list.lockEntries()->visit([&](const TextBuffer& text) {
        songs.emplace_back(text.text());
        return true;
    });
    if (!random) {
        order.songs = std::move(songs);
        return order;
    }
    // The picks index the copy: the list's own positions are a walk along its links each.
    list.random.seed(seed);
    list.currentIndex = 0;
    for (std::size_t i = 0; i < songs.size(); ++i) {
        list.pickRandom();
        order.songs.push_back(songs[static_cast<std::size_t>(list.currentIndex)]);
    }
    return order;
}

bool saveCommandLineList(const char* path, const std::vector<std::string>& files, ResultCode* error) {
    Settings settings;
    SilentHost host;
    PlayList list(settings, host);
    // Paths are stored absolute, so that the list plays from any folder.
    std::vector<std::string> absolute;
    char folder[4096];
    const char* here = ::getcwd(folder, sizeof folder);
    for (const std::string& file : files) {
        absolute.push_back(file.empty() || file[0] == '/' || here == nullptr ? file : std::string(here) + "/" + file);
    }
    fill(list, absolute, nullptr, true);
    if (list.writePlayList(path)) return true;
    if (error) *error = list.lastError;
    return false;
}

}  // namespace brellin
