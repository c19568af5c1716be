// The play-list lock: a reader thread (as the play-list dialog's worker) reads
// the entries while the user-interface thread edits them and steps through
// them in every play mode, with a host that calls back into the play list.
#include "ui/model/PlayList.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "settings/Settings.h"

using namespace brellin;

namespace {

// A host like the main window's: in mode Random every start of playback picks
// a random entry first. Each call checks, from another thread, that the play
// list does not hold its lock while it calls the host.
class CheckingHost : public PlayListHost {
public:
    ~CheckingHost() override {
        for (std::thread& waiter : blockedWaiters) waiter.join();
    }

    void startPlayback() override {
        checkLockIsFree();
        if (list->mode() == PlayMode::Random) list->pickRandom();
        playing = true;
    }
    void stopPlayback() override {
        checkLockIsFree();
        playing = false;
    }
    bool isPlaying() const override { return playing; }
    void showTitle(const char*) override { checkLockIsFree(); }
    void rebuildRecentMenus(const TextBuffer*) override { checkLockIsFree(); }

    void checkLockIsFree() {
        ++calls;
        auto taken = std::make_shared<std::promise<void>>();
        std::future<void> done = taken->get_future();
        std::thread waiter([this, taken] {
            auto entries = list->lockEntries();
            taken->set_value();
        });
        if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
            waiter.join();
        } else {
            // Held by the caller: the waiter gets it once the call returns.
            ++callsUnderLock;
            blockedWaiters.push_back(std::move(waiter));
        }
    }

    PlayList* list = nullptr;
    bool playing = true;
    int calls = 0;
    int callsUnderLock = 0;
    std::vector<std::thread> blockedWaiters;
};

}  // namespace

TEST(PlayListLock, ReaderThreadSeesWholeEntriesWhileTheUserInterfaceEdits) {
    Settings settings;
    CheckingHost host;
    PlayList list(settings, host);
    host.list = &list;
    list.random.seed(7);

    std::atomic<bool> stop{false};
    std::atomic<long> entriesRead{0};
    std::atomic<int> badEntries{0};
    std::thread reader([&] {
        while (!stop.load()) {
            auto entries = list.lockEntries();
            for (std::uint32_t i = 0; i < entries->count(); ++i) {
                const TextBuffer* text = entries->at(i);
                if (text == nullptr || !PlayList::isMidiFileName(text->text())) ++badEntries;
                ++entriesRead;
            }
        }
    });

    const char brl[] = "/lists/a.mid\n/lists/b.mid\n/lists/c.rmi\n";
    for (int round = 0; round < 150; ++round) {
        char path[64];
        std::snprintf(path, sizeof path, "/songs/%d.mid", round % 40);
        list.openPath(path);
        list.setMode(static_cast<PlayMode>(round % 4));
        list.next();
        list.previous();
        list.advanceAfterSong();
        host.playing = true;
        {
            // The dialog's edits: delete the first entry, move the last one up.
            auto entries = list.lockEntries();
            if (round % 3 == 0) entries->remove(0);
            std::uint32_t count = entries->count();
            if (count >= 2) {
                std::string last = entries->at(count - 1)->text();
                entries->remove(count - 1);
                entries->insert(count - 2, last.c_str());
            }
        }
        if (round % 50 == 49) list.clear();
        if (round % 20 == 10) list.openPlayListText("/lists/x.brl", brl, sizeof brl - 1);
        std::uint32_t count = list.entryCount();
        if (list.currentIndex >= static_cast<std::int32_t>(count)) list.currentIndex = 0;
        list.makeIndexCurrent();
    }
    // Let the reader see the last state at least once.
    long seen = entriesRead.load();
    while (entriesRead.load() == seen && list.entryCount() > 0) std::this_thread::yield();
    stop = true;
    reader.join();

    EXPECT_EQ(badEntries.load(), 0);
    EXPECT_GT(entriesRead.load(), 0);
    EXPECT_GT(host.calls, 0);
    EXPECT_EQ(host.callsUnderLock, 0) << "the play list called its host while holding the play-list lock";
}
