#include "ui/shell/InstanceChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace brellin {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t HEADER_SIZE = 8;
constexpr const char* LOCK_NAME = "/instance.lock";
constexpr const char* SOCKET_NAME = "/instance.socket";

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A runtime folder we may put our own folder in: absolute, a real folder of ours.
bool usableRuntimeFolder(const char* path) {
    if (path == nullptr || path[0] != '/') return false;
    struct stat info;
    if (::lstat(path, &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

// The user's cache folder: $XDG_CACHE_HOME when it is absolute, else .cache
// in the home folder ($HOME, else the password database's); empty if none.
// A folder the environment names counts only when it is this user's (or,
// for XDG_CACHE_HOME, not there yet): after su, HOME and XDG_CACHE_HOME may
// still name the other user's, who could have put anything there first.
std::string userCacheFolder() {
    const uid_t self = ::geteuid();
    auto owner = [](const char* path, uid_t& uid) {
        struct stat info;
        if (::stat(path, &info) != 0) return false;
        uid = info.st_uid;
        return true;
    };
    uid_t uid = 0;
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/' && (!owner(cache, uid) || uid == self)) return cache;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/' || !owner(home, uid) || uid != self) {
        const passwd* entry = ::getpwuid(self);
        home = entry != nullptr ? entry->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/') return {};
    return std::string(home) + "/.cache";
}

std::string systemError(int code) { return std::strerror(code); }

// The first publishes its abstract socket name in the lock file as one line,
// "abstract " and the name's bytes in hexadecimal.
constexpr const char* PUBLISHED_PREFIX = "abstract ";

std::string publishedLine(const std::string& name) {
    std::string line = PUBLISHED_PREFIX;
    char digits[3];
    for (const char ch : name) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(ch));
        line += digits;
    }
    return line + "\n";
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

enum class Published { Nothing, Name, Unreadable };

// What the first instance published in the lock file of `folder`: nothing
// (the socket is the file in the folder, or the first has not listened
// yet; also without a lock file to read), an abstract name in `address` and
// `size`, or a line still being written.
Published readPublished(const std::string& folder, sockaddr_un& address, socklen_t& size) {
    const int fd = ::open((folder + LOCK_NAME).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Published::Nothing;
    char text[2 * sizeof address.sun_path + 16];
    const ssize_t got = ::read(fd, text, sizeof text);
    ::close(fd);
    if (got == 0) return Published::Nothing;
    const std::size_t prefix = std::strlen(PUBLISHED_PREFIX);
    if (got < 0 || static_cast<std::size_t>(got) <= prefix + 1 || static_cast<std::size_t>(got) == sizeof text ||
        std::memcmp(text, PUBLISHED_PREFIX, prefix) != 0 || text[got - 1] != '\n') {
        return Published::Unreadable;
    }
    const std::size_t digits = static_cast<std::size_t>(got) - prefix - 1;
    const std::size_t length = digits / 2;
    if (digits % 2 != 0 || length == 0 || length + 1 > sizeof address.sun_path) return Published::Unreadable;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    for (std::size_t i = 0; i < length; ++i) {
        const int high = hexValue(text[prefix + 2 * i]);
        const int low = hexValue(text[prefix + 2 * i + 1]);
        if (high < 0 || low < 0) return Published::Unreadable;
        address.sun_path[1 + i] = static_cast<char>(high * 16 + low);
    }
    size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    return Published::Name;
}

// One peer that is still sending its record.
struct Peer {
    int fd = -1;
    Clock::time_point deadline;
    unsigned char header[HEADER_SIZE] = {};
    std::size_t got = 0;  // bytes received, header included
    std::uint32_t tag = 0;
    std::uint32_t length = 0;
    std::string text;
};

enum class ReadState { More, Complete, Refused };

ReadState readFrom(Peer& peer) {
    for (;;) {
        if (peer.got < HEADER_SIZE) {
            ssize_t n = ::recv(peer.fd, peer.header + peer.got, HEADER_SIZE - peer.got, MSG_DONTWAIT);
            if (n == 0) return ReadState::Refused;
            if (n < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? ReadState::More : ReadState::Refused;
            peer.got += static_cast<std::size_t>(n);
            if (peer.got < HEADER_SIZE) continue;
            std::memcpy(&peer.tag, peer.header, 4);
            std::memcpy(&peer.length, peer.header + 4, 4);
            if (peer.tag != HAND_OVER_TAG || peer.length == 0 || peer.length > HAND_OVER_MAX_TEXT) {
                return ReadState::Refused;
            }
            peer.text.resize(peer.length);
        }
        const std::size_t have = peer.got - HEADER_SIZE;
        if (have == peer.length) {
            // The text must end with its zero; anything after an inner zero is not part of it.
            if (peer.text.back() != '\0') return ReadState::Refused;
            peer.text.resize(std::strlen(peer.text.c_str()));
            return ReadState::Complete;
        }
        ssize_t n = ::recv(peer.fd, &peer.text[have], peer.length - have, MSG_DONTWAIT);
        if (n == 0) return ReadState::Refused;
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? ReadState::More : ReadState::Refused;
        peer.got += static_cast<std::size_t>(n);
    }
}

bool sendAll(int fd, const void* bytes, std::size_t size) {
    const auto* p = static_cast<const char*>(bytes);
    while (size > 0) {
        ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void setTimeouts(int fd, std::chrono::milliseconds wait) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(wait.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((wait.count() % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
}

}  // namespace

InstanceChannel::~InstanceChannel() { close(); }

bool InstanceChannel::isPrivateFolder(const char* path, std::string* problem) {
    auto refuse = [&](const std::string& why) {
        if (problem) *problem = std::string(path) + " " + why;
        return false;
    };
    // What is opened is what is checked: no link is followed, nothing is
    // looked at twice.
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        const int reason = errno;
        if (fd >= 0) ::close(fd);
        struct stat what;
        if (::lstat(path, &what) == 0 && S_ISLNK(what.st_mode)) return refuse("is a symbolic link, not a folder");
        if (::lstat(path, &what) == 0 && !S_ISDIR(what.st_mode)) return refuse("is not a folder");
        return refuse("cannot be opened: " + systemError(reason));
    }
    ::close(fd);
    if (info.st_uid != ::geteuid()) {
        return refuse("belongs to user " + std::to_string(info.st_uid) + ", not to this user (" +
                      std::to_string(::geteuid()) + ")");
    }
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return refuse(std::string("is open to other users (mode ") + mode + "; it must be 0700)");
    }
    return true;
}

std::string InstanceChannel::prepareFolder(ResultCode* error, std::string* problem, bool* abstract) {
    auto fail = [&](const std::string& why) {
        if (error) *error = RESULT_CANNOT_OPEN_FILE;
        if (problem) *problem = why;
        return std::string();
    };
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const bool inRuntime = usableRuntimeFolder(runtime);
    std::string path;
    if (inRuntime) {
        path = std::string(runtime) + "/brellin";
        sockaddr_un probe;
        if (!fillAddress(path + SOCKET_NAME, probe)) return fail(path + SOCKET_NAME + " is too long a socket name");
    } else {
        // Not a shared folder such as /tmp, where another user could put
        // something in our place first: the user's own cache folder, and a
        // socket that is no file at all.
        const std::string cache = userCacheFolder();
        if (cache.empty())
            return fail("no folder for the instance lock: XDG_RUNTIME_DIR, XDG_CACHE_HOME and HOME are unset");
        // A new account may have no cache folder yet.
        if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) {
            return fail(cache + " cannot be made: " + systemError(errno));
        }
        path = cache + "/brellin";
    }
    if (abstract) *abstract = !inRuntime;
    // mkdir never follows a link at the last step and never changes an
    // existing folder: what is there already is checked, not trusted.
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return fail(path + " cannot be made: " + systemError(errno));
    std::string why;
    if (!isPrivateFolder(path.c_str(), &why)) return fail(why);
    return path;
}

bool InstanceChannel::peerIsSameUser(int socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) {
        return false;
    }
    return acceptsPeer(credentials.uid, ::geteuid());
}

InstanceRole InstanceChannel::acquire(const std::string& givenFolder, bool abstract) {
    close();
    lastProblem.clear();
    abstractSocket = abstract;
    folder = givenFolder.empty() ? prepareFolder(&lastError, &lastProblem, &abstractSocket) : givenFolder;
    if (folder.empty()) return InstanceRole::Failed;
    const std::string lockPath = folder + LOCK_NAME;
    lockFile = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFile < 0) {
        lastError = RESULT_CANNOT_OPEN_FILE;
        lastProblem = lockPath + " cannot be opened: " + systemError(errno);
        return InstanceRole::Failed;
    }
    if (::flock(lockFile, LOCK_EX | LOCK_NB) == 0) {
        // A name published by an instance that died is no longer ours.
        if (::ftruncate(lockFile, 0) != 0) {
            // Harmless when it stays: a second start checks whose socket it reaches.
        }
        return InstanceRole::First;
    }
    const int reason = errno;
    closeFd(lockFile);
    if (reason == EWOULDBLOCK) return InstanceRole::Second;
    lastError = RESULT_CANNOT_OPEN_FILE;
    lastProblem = lockPath + " cannot be locked: " + systemError(reason);
    return InstanceRole::Failed;
}

std::string InstanceChannel::socketPath() const { return abstractSocket ? "@" + abstractName : folder + SOCKET_NAME; }

bool InstanceChannel::listen() {
    if (lockFile < 0) return false;
    if (listenSocket >= 0) return true;
    int pipeEnds[2];
    int stopEnds[2];
    if (abstractSocket) {
        // Binding the family alone makes the system choose an unused
        // abstract name; a second start learns it from the lock file.
        listenSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un bound{};
        bound.sun_family = AF_UNIX;
        socklen_t size = sizeof bound;
        const auto nameStart = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1);
        bool ok = listenSocket >= 0 &&
                  ::bind(listenSocket, reinterpret_cast<sockaddr*>(&bound), sizeof(sa_family_t)) == 0 &&
                  ::getsockname(listenSocket, reinterpret_cast<sockaddr*>(&bound), &size) == 0 && size > nameStart &&
                  size <= sizeof bound && bound.sun_path[0] == '\0' && ::listen(listenSocket, 16) == 0;
        if (ok) {
            abstractName.assign(bound.sun_path + 1, size - nameStart);
            const std::string line = publishedLine(abstractName);
            ok = ::ftruncate(lockFile, 0) == 0 &&
                 ::pwrite(lockFile, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size());
        }
        if (!ok) {
            closeFd(listenSocket);
            abstractName.clear();
            lastError = RESULT_DEVICE_ERROR;
            return false;
        }
    } else {
        sockaddr_un address;
        if (!fillAddress(socketPath(), address)) {
            lastError = RESULT_OUT_OF_MEMORY;
            return false;
        }
        // The lock is ours, so whatever socket is there belongs to a dead instance.
        ::unlink(address.sun_path);
        listenSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (listenSocket < 0 || ::bind(listenSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::chmod(address.sun_path, 0600) != 0 || ::listen(listenSocket, 16) != 0) {
            closeFd(listenSocket);
            lastError = RESULT_DEVICE_ERROR;
            return false;
        }
    }
    if (::pipe2(pipeEnds, O_NONBLOCK | O_CLOEXEC) != 0) {
        closeFd(listenSocket);
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    if (::pipe2(stopEnds, O_NONBLOCK | O_CLOEXEC) != 0) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        closeFd(listenSocket);
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    notifyRead = pipeEnds[0];
    notifyWrite = pipeEnds[1];
    stopRead = stopEnds[0];
    stopWrite = stopEnds[1];
    reader = std::thread([this] { serve(); });
    return true;
}

void InstanceChannel::serve() {
    std::vector<Peer> peers;
    std::vector<pollfd> watched;
    for (;;) {
        const Clock::time_point now = Clock::now();
        int timeout = -1;
        for (const Peer& peer : peers) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(peer.deadline - now).count();
            const int ms = static_cast<int>(std::clamp<long long>(left + 1, 0, 60000));
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        }
        watched.clear();
        watched.push_back(pollfd{stopRead, POLLIN, 0});
        watched.push_back(pollfd{listenSocket, POLLIN, 0});
        for (const Peer& peer : peers) watched.push_back(pollfd{peer.fd, POLLIN, 0});
        if (::poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR) break;
        if (watched[0].revents != 0) break;

        // Data first: the peers of this round are those the poll watched.
        std::vector<HandOver> complete;
        for (std::size_t i = 0; i < peers.size(); ++i) {
            if (watched[i + 2].revents == 0) continue;
            Peer& peer = peers[i];
            switch (readFrom(peer)) {
                case ReadState::More: break;
                case ReadState::Complete:
                    complete.push_back(HandOver{peer.fd, std::move(peer.text)});
                    peer.fd = -1;
                    break;
                case ReadState::Refused: closeFd(peer.fd); break;
            }
        }
        const Clock::time_point after = Clock::now();
        for (Peer& peer : peers) {
            if (peer.fd >= 0 && after >= peer.deadline) closeFd(peer.fd);
        }
        peers.erase(std::remove_if(peers.begin(), peers.end(), [](const Peer& p) { return p.fd < 0; }), peers.end());

        if (watched[1].revents != 0) {
            for (;;) {
                int fd = ::accept4(listenSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) break;
                if (!peerIsSameUser(fd)) {
                    ::close(fd);
                    continue;
                }
                if (peers.size() >= MAX_PEERS) {
                    // Full: the peer that has waited longest gives way, a
                    // silent one before one that has sent part of a record.
                    // A real second start sends its record as soon as it is
                    // connected, and one that is closed unanswered tries again.
                    auto oldest = std::min_element(peers.begin(), peers.end(), [](const Peer& a, const Peer& b) {
                        if ((a.got == 0) != (b.got == 0)) return a.got == 0;
                        return a.deadline < b.deadline;
                    });
                    closeFd(oldest->fd);
                    peers.erase(oldest);
                }
                Peer peer;
                peer.fd = fd;
                peer.deadline = after + PEER_DEADLINE;
                peers.push_back(std::move(peer));
            }
        }

        if (!complete.empty()) {
            std::lock_guard<std::mutex> guard(queueLock);
            for (HandOver& handOver : complete) {
                // A user-interface thread that does not take them (still
                // starting, or busy in a dialog) does not make the queue grow.
                if (queue.size() >= MAX_PEERS) {
                    drop(handOver);
                } else {
                    queue.push_back(std::move(handOver));
                }
            }
            const char one = 1;
            [[maybe_unused]] ssize_t ignored = ::write(notifyWrite, &one, 1);
        }
    }
    for (Peer& peer : peers) closeFd(peer.fd);
}

std::vector<HandOver> InstanceChannel::take() {
    std::vector<HandOver> taken;
    if (notifyRead < 0) return taken;
    char sink[64];
    while (::read(notifyRead, sink, sizeof sink) > 0) {
    }
    std::lock_guard<std::mutex> guard(queueLock);
    taken.swap(queue);
    return taken;
}

void InstanceChannel::acknowledge(HandOver& handOver) {
    if (handOver.connection < 0) return;
    [[maybe_unused]] ssize_t ignored = ::send(handOver.connection, &HAND_OVER_ACK, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    closeFd(handOver.connection);
}

void InstanceChannel::drop(HandOver& handOver) { closeFd(handOver.connection); }

void InstanceChannel::close() {
    if (reader.joinable()) {
        const char one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(stopWrite, &one, 1);
        reader.join();
    }
    {
        std::lock_guard<std::mutex> guard(queueLock);
        for (HandOver& handOver : queue) drop(handOver);
        queue.clear();
    }
    if (listenSocket >= 0) {
        closeFd(listenSocket);
        if (abstractSocket) {
            // The name goes with the socket; the lock file stays, empty.
            if (lockFile >= 0 && ::ftruncate(lockFile, 0) != 0) {
                // A name left behind is harmless: a second start checks
                // whose socket it reaches.
            }
            abstractName.clear();
        } else {
            ::unlink(socketPath().c_str());
        }
    }
    closeFd(notifyRead);
    closeFd(notifyWrite);
    closeFd(stopRead);
    closeFd(stopWrite);
    closeFd(lockFile);
}

namespace {

enum class Attempt {
    Acknowledged,
    Unanswered,    // delivered, no answer within the wait: the first has it
    Closed,        // the first closed it without an answer: send it again
    NotListening,  // nobody to talk to yet: try again
    Hopeless,      // waiting will not change it
};

Attempt attemptHandOver(const std::string& folder, const std::string& text, std::chrono::milliseconds ackFor) {
    sockaddr_un address;
    socklen_t size = sizeof address;
    switch (readPublished(folder, address, size)) {
        case Published::Name: break;
        case Published::Unreadable: return Attempt::NotListening;
        case Published::Nothing:
            if (!fillAddress(folder + SOCKET_NAME, address)) return Attempt::Hopeless;
            size = sizeof address;
            break;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Attempt::Hopeless;
    // Bounds connecting to a full listening queue, sending and the answer.
    setTimeouts(fd, ackFor);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), size) != 0) {
        const int reason = errno;
        closeFd(fd);
        // Not there yet, or the listening queue is full: the first is
        // starting or busy. Anything else will not change by waiting.
        const bool worthRetrying = reason == ENOENT || reason == ECONNREFUSED || reason == EAGAIN || reason == EINTR ||
                                   reason == ETIMEDOUT || reason == EINPROGRESS;
        return worthRetrying ? Attempt::NotListening : Attempt::Hopeless;
    }
    // Our command line goes only to a player of our own user (an abstract
    // name left in a dead instance's lock file may be anyone's by now).
    if (!InstanceChannel::peerIsSameUser(fd)) {
        closeFd(fd);
        return Attempt::NotListening;
    }
    unsigned char header[HEADER_SIZE];
    const std::uint32_t tag = HAND_OVER_TAG;
    const auto length = static_cast<std::uint32_t>(text.size() + 1);
    std::memcpy(header, &tag, 4);
    std::memcpy(header + 4, &length, 4);
    Attempt result = Attempt::Closed;
    if (sendAll(fd, header, sizeof header) && sendAll(fd, text.c_str(), length)) {
        result = Attempt::Unanswered;
        const Clock::time_point until = Clock::now() + ackFor;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0) break;
            pollfd wait{fd, POLLIN, 0};
            const int ready = ::poll(&wait, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break;
            unsigned char answer = 0;
            const ssize_t got = ::recv(fd, &answer, 1, 0);
            if (got == 1) {
                if (answer == HAND_OVER_ACK) result = Attempt::Acknowledged;
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                result = Attempt::Closed;
            }
            break;
        }
    }
    closeFd(fd);
    return result;
}

}  // namespace

HandOverResult InstanceChannel::handOver(const std::string& folder, const std::string& text,
                                         std::chrono::milliseconds retryFor, std::chrono::milliseconds ackFor) {
    if (text.size() + 1 > HAND_OVER_MAX_TEXT) return HandOverResult::NotAcknowledged;
    const Clock::time_point giveUp = Clock::now() + retryFor;
    bool reached = false;  // a first instance took a record and closed it unanswered
    for (;;) {
        switch (attemptHandOver(folder, text, ackFor)) {
            case Attempt::Acknowledged: return HandOverResult::Acknowledged;
            case Attempt::Unanswered: return HandOverResult::NotAcknowledged;
            case Attempt::Closed: reached = true; break;
            case Attempt::NotListening: break;
            case Attempt::Hopeless: return reached ? HandOverResult::NotAcknowledged : HandOverResult::NoFirstInstance;
        }
        if (Clock::now() >= giveUp) {
            return reached ? HandOverResult::NotAcknowledged : HandOverResult::NoFirstInstance;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace brellin
