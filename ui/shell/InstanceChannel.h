// InstanceChannel: one player per user, and the hand-over of a second
// start's command line to the first.
//
// The first instance holds an exclusive lock (flock) on "instance.lock" in
// the user's instance folder for its whole life and serves a Unix-domain
// socket. A second start finds the lock taken, connects, sends one record
// and waits for the first to acknowledge it, then ends.
//
// Where: with a runtime folder of our own ($XDG_RUNTIME_DIR) the folder is
// $XDG_RUNTIME_DIR/brellin and the socket "instance.socket" in it. Without
// one the folder is "brellin" in the user's cache folder ($XDG_CACHE_HOME,
// else ~/.cache), which no other user can create first, and the socket is
// not a file: it takes a name of the abstract namespace the system picks
// (autobind, so no one can hold it beforehand) and the first publishes that
// name in its lock file, where only the user can read it. A shared folder
// such as /tmp is never used. The folder is created 0700 and refused when it
// is not a folder, belongs to another user or is open to others.
//
// Record: tag (32 bits, HAND_OVER_TAG), length (32 bits, the bytes that
// follow), the command-line text with its terminating zero; both numbers in
// the machine's byte order (both ends run on the same machine). The answer is
// one byte, HAND_OVER_ACK, sent once the first instance has handled it.
//
// Threads: the first instance reads its peers on a small thread of its own,
// with non-blocking sockets, a size limit and a deadline per peer, and only
// accepts peers of the same user (SO_PEERCRED); a complete record is queued
// and announced on notifyFd(), which the user-interface thread's event loop
// watches. take(), acknowledge() and close() belong to the user-interface
// thread. Nothing a peer sends or withholds can stop or block that thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/ResultCode.h"
#include "ui/model/CommandLine.h"

namespace brellin {

constexpr unsigned char HAND_OVER_ACK = 0x06;
// The largest text a record may carry (with its zero).
constexpr std::uint32_t HAND_OVER_MAX_TEXT = 64 * 1024;

// One record received from a second instance, waiting for its acknowledgement.
struct HandOver {
    int connection = -1;  // owned until acknowledge()
    std::string text;     // without the terminating zero
};

enum class InstanceRole {
    First,   // the lock is ours: run the player and serve the socket
    Second,  // another instance holds the lock: hand over and end
    Failed,  // no usable instance folder or lock file
};

enum class HandOverResult {
    Acknowledged,
    NoFirstInstance,  // nobody answered on the socket within the retry time
    NotAcknowledged,  // sent, but no acknowledgement within the wait
};

class InstanceChannel {
public:
    // Peers a first instance keeps at once; a ninth takes the place of the
    // one that has waited longest (silent ones first), which may try again.
    static constexpr std::size_t MAX_PEERS = 8;
    // A peer must deliver its whole record within this time.
    static constexpr std::chrono::milliseconds PEER_DEADLINE{2000};

    InstanceChannel() = default;
    ~InstanceChannel();
    InstanceChannel(const InstanceChannel&) = delete;
    InstanceChannel& operator=(const InstanceChannel&) = delete;

    // The user's instance folder, created if missing; empty (with the reason
    // in `error`, and in words naming the folder in `problem`) when it cannot
    // be made or is not safe to use. `abstractSocket`: the socket takes an
    // abstract name (no runtime folder).
    static std::string prepareFolder(ResultCode* error = nullptr, std::string* problem = nullptr,
                                     bool* abstractSocket = nullptr);
    // Whether `path` is a real folder (not a link) owned by this user and
    // closed to group and others; else why not, in words, in `problem`.
    static bool isPrivateFolder(const char* path, std::string* problem = nullptr);
    // The rule for a connecting peer: only the user the player runs as.
    static bool acceptsPeer(uid_t peer, uid_t self) { return peer == self; }
    // SO_PEERCRED of a connected socket against this process's user.
    static bool peerIsSameUser(int socket);

    // Takes the lock in `folder` (an empty folder: prepareFolder(), which
    // also decides `abstractSocket`). Failed: `lastProblem` says why.
    InstanceRole acquire(const std::string& folder = {}, bool abstractSocket = false);
    // First instance: replaces a stale socket (or publishes the abstract
    // name), listens, starts the reader.
    bool listen();
    bool listening() const { return listenSocket >= 0; }
    // Readable while hand-overs wait for take(); -1 when not listening.
    int notifyFd() const { return notifyRead; }
    // The records received so far (drains the notification).
    std::vector<HandOver> take();
    // Answers a handled record and closes its connection (never blocks).
    static void acknowledge(HandOver& handOver);
    // Drops a record without an answer.
    static void drop(HandOver& handOver);
    // Stops the reader, removes the socket, releases the lock. Idempotent.
    void close();

    const std::string& folderPath() const { return folder; }
    // The socket's file; for an abstract socket "@" and its name.
    std::string socketPath() const;

    // Second instance: sends `text` to the first. Until `retryFor` has passed
    // it tries again when nobody listens yet (the first is still starting)
    // and when the first closes the record without an answer (it was full);
    // the acknowledgement of a delivered record is awaited for `ackFor`.
    static HandOverResult handOver(const std::string& folder, const std::string& text,
                                   std::chrono::milliseconds retryFor = std::chrono::milliseconds(3000),
                                   std::chrono::milliseconds ackFor = std::chrono::milliseconds(5000));

    ResultCode lastError = RESULT_OK;
    // Why acquire() failed, in words naming the folder or file.
    std::string lastProblem;

private:
    void serve();

    std::string folder;
    bool abstractSocket = false;
    std::string abstractName;  // the bound name, without its leading zero
    int lockFile = -1;
    int listenSocket = -1;
    int notifyRead = -1;
    int notifyWrite = -1;
    int stopRead = -1;
    int stopWrite = -1;
    std::thread reader;
    std::mutex queueLock;
    std::vector<HandOver> queue;
};

}  // namespace brellin
