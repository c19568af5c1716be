// PlayListEntries: the play list's entries as the play-list dialog reaches
// them, behind the play-list lock.
//
// The dialog's title checker reads entries on its own thread while the
// user-interface thread edits them; every access by either holds the lock
// (lock / unlock, so std::lock_guard works). `list` may be used only while
// the lock is held. The lock is not recursive.
#pragma once

#include <mutex>

#include "common/StringList.h"

namespace brellin {

class PlayListEntries {
public:
    virtual ~PlayListEntries() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
    virtual StringList& list() = 0;
};

// A StringList with a mutex of its own as the lock.
class MutexPlayListEntries : public PlayListEntries {
public:
    explicit MutexPlayListEntries(StringList& entries) : entries(entries) {}
    void lock() override { mutex.lock(); }
    void unlock() override { mutex.unlock(); }
    StringList& list() override { return entries; }
    // For tests and callers that must not wait: false when the lock is held.
    bool tryLock() { return mutex.try_lock(); }

private:
    std::mutex mutex;
    StringList& entries;
};

}  // namespace brellin
