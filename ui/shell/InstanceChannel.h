// InstanceChannel: one player per user, and the hand-over of a second
// start's command line to the first.
//
// The first instance holds an exclusive lock (flock) on "instance.lock" in
// the user's instance folder for its whole life and serves a Unix-domain
// socket "instance.socket" beside it. A second start finds the lock taken,
// connects, sends one record and waits for the first to acknowledge it, then
// ends. The folder is $XDG_RUNTIME_DIR/brellin when the runtime folder is
// ours, else /tmp/brellin-<uid>; it is created 0700 and refused when it is
// not a folder, belongs to another user or is open to others.
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

namespace brellin {

// 'B' 'R' 'L' 'N', the first character in the most significant byte.
constexpr std::uint32_t HAND_OVER_TAG = 0x42524C4E;
constexpr unsigned char HAND_OVER_ACK = 0x06;
// The largest text a record may carry (with its zero).
constexpr std::uint32_t HAND_OVER_MAX_TEXT = 64 * 1024;

// One record received from a second instance, waiting for its acknowledgement.
struct HandOver {
    int connection = -1;  // owned until acknowledge()
    std::string text;     // without the terminating zero
};

enum class InstanceRole {
    First,    // the lock is ours: run the player and serve the socket
    Second,   // another instance holds the lock: hand over and end
    Failed,   // no usable instance folder or lock file
};

enum class HandOverResult {
    Acknowledged,
    NoFirstInstance,  // nobody answered on the socket within the retry time
    NotAcknowledged,  // sent, but no acknowledgement within the wait
};

class InstanceChannel {
public:
    // Peers a first instance keeps at once; more are refused at once.
    static constexpr std::size_t MAX_PEERS = 8;
    // A peer must deliver its whole record within this time.
    static constexpr std::chrono::milliseconds PEER_DEADLINE{2000};

    InstanceChannel() = default;
    ~InstanceChannel();
    InstanceChannel(const InstanceChannel&) = delete;
    InstanceChannel& operator=(const InstanceChannel&) = delete;

    // The user's instance folder, created if missing; empty (with the reason
    // in `error`) when it cannot be made or is not safe to use.
    static std::string prepareFolder(ResultCode* error = nullptr);
    // Whether `folder` is a real folder (not a link) owned by this user and
    // closed to group and others.
    static bool isPrivateFolder(const char* folder);
    // The rule for a connecting peer: only the user the player runs as.
    static bool acceptsPeer(uid_t peer, uid_t self) { return peer == self; }
    // SO_PEERCRED of a connected socket against this process's user.
    static bool peerIsSameUser(int socket);

    // Takes the lock in `folder` (an empty folder: prepareFolder()).
    InstanceRole acquire(const std::string& folder = {});
    // First instance: replaces a stale socket, listens, starts the reader.
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
    std::string socketPath() const { return folder + "/instance.socket"; }

    // Second instance: sends `text` to the first. Connecting is retried for
    // `retryFor` (the first may still be starting and not yet listening);
    // the acknowledgement is awaited for `ackFor`.
    static HandOverResult handOver(const std::string& folder, const std::string& text,
                                   std::chrono::milliseconds retryFor = std::chrono::milliseconds(3000),
                                   std::chrono::milliseconds ackFor = std::chrono::milliseconds(5000));

    ResultCode lastError = RESULT_OK;

private:
    void serve();

    std::string folder;
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
