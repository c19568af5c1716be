// PlayListEntries: the play list's entries as the play-list dialog reaches
// them, behind the play-list lock.
//
// The dialog's title checker reads entries on its own thread while the
// user-interface thread edits them; every access by either holds the lock
// (lock / unlock, so std::lock_guard works). `list` may be used only while
// the lock is held. The lock is not recursive: whoever holds it calls no
// operation of the PlayList until it lets go.
#pragma once

#include <optional>
#include <utility>

#include "common/StringList.h"
#include "ui/model/PlayList.h"

namespace brellin {

class PlayListEntries {
public:
    virtual ~PlayListEntries() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
    virtual StringList& list() = 0;
};

// The entries of a PlayList under its own entry lock.
class PlayListLockedEntries : public PlayListEntries {
public:
    explicit PlayListLockedEntries(PlayList& list) : playList(list) {}
    // The user-interface thread and the title checker share this object:
    // `held` is written only while the lock is held, so the guard leaves it
    // first and releases the lock from a local.
    void lock() override { held.emplace(playList.lockEntries()); }
    void unlock() override {
        std::optional<PlayList::LockedEntries> leaving(std::move(held));
        held.reset();
    }
    StringList& list() override { return **held; }

private:
    PlayList& playList;
    std::optional<PlayList::LockedEntries> held;
};

}  // namespace brellin
