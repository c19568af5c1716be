#include "ui/shell/InstanceChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
            if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? ReadState::More
                                                                                     : ReadState::Refused;
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
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? ReadState::More
                                                                                 : ReadState::Refused;
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

bool InstanceChannel::isPrivateFolder(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    const bool ok = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
                    (info.st_mode & 077) == 0;
    ::close(fd);
    return ok;
}

std::string InstanceChannel::prepareFolder(ResultCode* error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string path = usableRuntimeFolder(runtime)
                           ? std::string(runtime) + "/brellin"
                           : "/tmp/brellin-" + std::to_string(static_cast<unsigned long>(::geteuid()));
    sockaddr_un probe;
    // mkdir never follows a link at the last step and never changes an
    // existing folder: what is there already is checked, not trusted.
    if (!fillAddress(path + SOCKET_NAME, probe) || (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) ||
        !isPrivateFolder(path.c_str())) {
        if (error) *error = RESULT_CANNOT_OPEN_FILE;
        return {};
    }
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

InstanceRole InstanceChannel::acquire(const std::string& givenFolder) {
    close();
    folder = givenFolder.empty() ? prepareFolder(&lastError) : givenFolder;
    if (folder.empty()) return InstanceRole::Failed;
    lockFile = ::open((folder + LOCK_NAME).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFile < 0) {
        lastError = RESULT_CANNOT_OPEN_FILE;
        return InstanceRole::Failed;
    }
    if (::flock(lockFile, LOCK_EX | LOCK_NB) == 0) return InstanceRole::First;
    const bool held = errno == EWOULDBLOCK;
    closeFd(lockFile);
    if (held) return InstanceRole::Second;
    lastError = RESULT_CANNOT_OPEN_FILE;
    return InstanceRole::Failed;
}

bool InstanceChannel::listen() {
    if (lockFile < 0) return false;
    if (listenSocket >= 0) return true;
    sockaddr_un address;
    if (!fillAddress(socketPath(), address)) {
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    // The lock is ours, so whatever socket is there belongs to a dead instance.
    ::unlink(address.sun_path);
    int pipeEnds[2];
    int stopEnds[2];
    listenSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenSocket < 0 || ::bind(listenSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(address.sun_path, 0600) != 0 || ::listen(listenSocket, 16) != 0) {
        closeFd(listenSocket);
        lastError = RESULT_DEVICE_ERROR;
        return false;
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
        peers.erase(std::remove_if(peers.begin(), peers.end(), [](const Peer& p) { return p.fd < 0; }),
                    peers.end());

        if (watched[1].revents != 0) {
            for (;;) {
                int fd = ::accept4(listenSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) break;
                if (!peerIsSameUser(fd) || peers.size() >= MAX_PEERS) {
                    ::close(fd);
                    continue;
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
        ::unlink(socketPath().c_str());
    }
    closeFd(notifyRead);
    closeFd(notifyWrite);
    closeFd(stopRead);
    closeFd(stopWrite);
    closeFd(lockFile);
}

HandOverResult InstanceChannel::handOver(const std::string& folder, const std::string& text,
                                         std::chrono::milliseconds retryFor, std::chrono::milliseconds ackFor) {
    sockaddr_un address;
    if (!fillAddress(folder + SOCKET_NAME, address)) return HandOverResult::NoFirstInstance;
    if (text.size() + 1 > HAND_OVER_MAX_TEXT) return HandOverResult::NotAcknowledged;
    const Clock::time_point giveUp = Clock::now() + retryFor;
    int fd = -1;
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return HandOverResult::NoFirstInstance;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
        const int reason = errno;
        closeFd(fd);
        // Not there yet, or the listening queue is full: the first is
        // starting or busy. Anything else will not change by waiting.
        const bool worthRetrying = reason == ENOENT || reason == ECONNREFUSED || reason == EAGAIN || reason == EINTR;
        if (!worthRetrying || Clock::now() >= giveUp) return HandOverResult::NoFirstInstance;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Our command line goes only to a player of our own user.
    if (!peerIsSameUser(fd)) {
        closeFd(fd);
        return HandOverResult::NoFirstInstance;
    }
    setTimeouts(fd, ackFor);
    unsigned char header[HEADER_SIZE];
    const std::uint32_t tag = HAND_OVER_TAG;
    const auto length = static_cast<std::uint32_t>(text.size() + 1);
    std::memcpy(header, &tag, 4);
    std::memcpy(header + 4, &length, 4);
    HandOverResult result = HandOverResult::NotAcknowledged;
    if (sendAll(fd, header, sizeof header) && sendAll(fd, text.c_str(), length)) {
        const Clock::time_point until = Clock::now() + ackFor;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0) break;
            pollfd wait{fd, POLLIN, 0};
            const int ready = ::poll(&wait, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break;
            unsigned char answer = 0;
            if (::recv(fd, &answer, 1, 0) == 1 && answer == HAND_OVER_ACK) result = HandOverResult::Acknowledged;
            break;
        }
    }
    closeFd(fd);
    return result;
}

}  // namespace brellin
