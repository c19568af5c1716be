// The single-instance lock and the hand-over socket, with real sockets in a
// temporary folder: the first instance's reader thread against well-formed,
// malformed, silent and foreign peers.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/TempDir.h"
#include "ui/shell/InstanceChannel.h"

namespace brellin {
namespace {

using brellin::testing::TempDir;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Waits (bounded) for records on the channel's descriptor, as the event loop would.
std::vector<HandOver> waitForHandOvers(InstanceChannel& channel, std::chrono::milliseconds limit = 5000ms) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        pollfd wait{channel.notifyFd(), POLLIN, 0};
        ::poll(&wait, 1, 20);
        std::vector<HandOver> got = channel.take();
        if (!got.empty()) return got;
    }
    return {};
}

// A raw peer: connects to the channel's socket.
int connectRaw(const std::string& socketPath) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string record(std::uint32_t tag, std::uint32_t length, const std::string& text) {
    std::string bytes(8, '\0');
    std::memcpy(&bytes[0], &tag, 4);
    std::memcpy(&bytes[4], &length, 4);
    return bytes + text;
}

// True when the server closed the peer without an acknowledgement within `limit`.
bool closedWithoutAnswer(int fd, std::chrono::milliseconds limit) {
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, static_cast<int>(limit.count())) <= 0) return false;
    char byte = 0;
    return ::recv(fd, &byte, 1, 0) <= 0;
}

struct Channel {
    TempDir dir;
    std::string folder = dir.root.string();
    InstanceChannel first;

    Channel() {
        EXPECT_EQ(first.acquire(folder), InstanceRole::First);
        EXPECT_TRUE(first.listen());
    }
};

TEST(InstanceFolder, PrivateFolderIsMadeAndAnUnsafeOneRefused) {
    TempDir runtime;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.root.c_str(), 1);

    const std::string folder = InstanceChannel::prepareFolder();
    EXPECT_EQ(folder, runtime.path("brellin"));
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(InstanceChannel::prepareFolder(), folder) << "an existing private folder is taken again";

    // A folder opened to others, or a link in its place, is refused, not
    // repaired, and the refusal names the folder and the reason.
    ::chmod(folder.c_str(), 0755);
    ResultCode error = RESULT_OK;
    std::string problem;
    EXPECT_EQ(InstanceChannel::prepareFolder(&error, &problem), "");
    EXPECT_EQ(error, RESULT_CANNOT_OPEN_FILE);
    EXPECT_EQ(problem, folder + " is open to other users (mode 0755; it must be 0700)");
    ::rmdir(folder.c_str());
    std::filesystem::create_directory(runtime.path("elsewhere"));
    ::chmod(runtime.path("elsewhere").c_str(), 0700);
    std::filesystem::create_directory_symlink(runtime.path("elsewhere"), folder);
    EXPECT_EQ(InstanceChannel::prepareFolder(nullptr, &problem), "");
    EXPECT_EQ(problem, folder + " is a symbolic link, not a folder");
    ::unlink(folder.c_str());
    runtime.write("brellin", "a file in its place");
    EXPECT_EQ(InstanceChannel::prepareFolder(nullptr, &problem), "");
    EXPECT_EQ(problem, folder + " is not a folder");

    if (saved) {
        ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

// Sets an environment variable (null: unsets it) for one scope.
class ScopedVariable {
public:
    ScopedVariable(const char* variable, const char* value) : name(variable) {
        const char* old = std::getenv(variable);
        if (old) saved = old;
        had = old != nullptr;
        if (value) {
            ::setenv(variable, value, 1);
        } else {
            ::unsetenv(variable);
        }
    }
    ~ScopedVariable() {
        if (had) {
            ::setenv(name, saved.c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

private:
    const char* name;
    std::string saved;
    bool had = false;
};

TEST(InstanceFolder, WithoutARuntimeFolderTheLockIsInTheCacheFolderAndTheSocketIsNoFile) {
    TempDir home;
    ScopedVariable runtime("XDG_RUNTIME_DIR", nullptr);
    ScopedVariable cache("XDG_CACHE_HOME", home.path("cache").c_str());

    // A new account: the cache folder itself is made, private.
    InstanceChannel first;
    ASSERT_EQ(first.acquire(), InstanceRole::First) << first.lastProblem;
    const std::string folder = home.path("cache/brellin");
    EXPECT_EQ(first.folderPath(), folder);
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_TRUE(first.listen());
    EXPECT_EQ(first.socketPath().front(), '@') << first.socketPath();
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) files.push_back(entry.path().filename());
    EXPECT_EQ(files, std::vector<std::string>{"instance.lock"}) << "no socket file anyone could stand in for";

    // A second start finds the socket through the lock file.
    InstanceChannel second;
    ASSERT_EQ(second.acquire(), InstanceRole::Second);
    auto sent = std::async(std::launch::async, [&] { return InstanceChannel::handOver(folder, "next"); });
    std::vector<HandOver> got = waitForHandOvers(first);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, "next");
    InstanceChannel::acknowledge(got[0]);
    EXPECT_EQ(sent.get(), HandOverResult::Acknowledged);

    // Once the first has ended its name is gone: nobody is reached.
    first.close();
    EXPECT_EQ(InstanceChannel::handOver(folder, "next", 0ms, 100ms), HandOverResult::NoFirstInstance);

    // The cache folder is not trusted either.
    ::chmod(folder.c_str(), 0777);
    EXPECT_EQ(first.acquire(), InstanceRole::Failed);
    EXPECT_EQ(first.lastProblem, folder + " is open to other users (mode 0777; it must be 0700)");

    // After su the environment may still name the other user's cache
    // folder: it is passed over for the one in this user's home.
    if (::geteuid() == 0) {
        TempDir other;
        ASSERT_EQ(::chown(other.root.c_str(), 65534, 65534), 0);
        ScopedVariable otherCache("XDG_CACHE_HOME", other.root.c_str());
        ScopedVariable ownHome("HOME", home.root.c_str());
        EXPECT_EQ(InstanceChannel::prepareFolder(), home.path(".cache/brellin"));
    }
}

TEST(InstanceHandOver, SecondInstanceIsAcknowledgedAfterTheFirstHandledIt) {
    Channel c;
    InstanceChannel second;
    EXPECT_EQ(second.acquire(c.folder), InstanceRole::Second);
    EXPECT_FALSE(second.listen()) << "only the lock holder serves the socket";

    auto sent =
        std::async(std::launch::async, [&] { return InstanceChannel::handOver(c.folder, "\"/music/a b.mid\" play"); });
    std::vector<HandOver> got = waitForHandOvers(c.first);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, "\"/music/a b.mid\" play");
    // Not answered yet: the second instance is still waiting.
    EXPECT_EQ(sent.wait_for(50ms), std::future_status::timeout);
    InstanceChannel::acknowledge(got[0]);
    EXPECT_EQ(sent.get(), HandOverResult::Acknowledged);

    // Unanswered, the second gives up after its bounded wait.
    auto unanswered =
        std::async(std::launch::async, [&] { return InstanceChannel::handOver(c.folder, "next", 1000ms, 200ms); });
    got = waitForHandOvers(c.first);
    EXPECT_EQ(unanswered.get(), HandOverResult::NotAcknowledged);
    ASSERT_EQ(got.size(), 1u);
    InstanceChannel::acknowledge(got[0]);  // to a peer that left: no signal, no error

    // Closing releases the lock and removes the socket.
    c.first.close();
    EXPECT_FALSE(std::filesystem::exists(c.folder + "/instance.socket"));
    EXPECT_EQ(second.acquire(c.folder), InstanceRole::First);
}

TEST(InstanceHandOver, MalformedSilentAndSurplusPeersNeverReachTheWindowNorBlockOthers) {
    Channel c;
    const std::string socketPath = c.first.socketPath();

    // Another tag, a zero length, an oversized length, a text without its zero.
    const std::string bad[] = {
        record(0x41424344, 5, std::string("next", 5)),
        record(HAND_OVER_TAG, 0, ""),
        record(HAND_OVER_TAG, HAND_OVER_MAX_TEXT + 1, "next"),
        record(HAND_OVER_TAG, 4, "next"),
    };
    for (const std::string& bytes : bad) {
        int fd = connectRaw(socketPath);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
        EXPECT_TRUE(closedWithoutAnswer(fd, 2000ms));
        ::close(fd);
    }

    // More idle peers than the first keeps: those that waited longest make
    // room at once, and a proper hand-over still goes through at once,
    // taking the place of another.
    std::vector<int> idle;
    for (std::size_t i = 0; i < InstanceChannel::MAX_PEERS + 2; ++i) idle.push_back(connectRaw(socketPath));
    int made = 0;
    for (int fd : idle) {
        if (closedWithoutAnswer(fd, 2000ms)) ++made;
        if (made == 2) break;
    }
    EXPECT_EQ(made, 2);
    auto stillOpen = [&] {
        std::vector<int> open;
        for (int fd : idle) {
            pollfd wait{fd, POLLIN, 0};
            if (::poll(&wait, 1, 0) == 0) open.push_back(fd);
        }
        return open;
    };
    std::vector<int> open = stillOpen();
    ASSERT_EQ(open.size(), InstanceChannel::MAX_PEERS);
    // One of them sends half a header and then nothing.
    ::send(open[0], "NLRB", 4, MSG_NOSIGNAL);

    const auto started = Clock::now();
    auto sent = std::async(std::launch::async, [&] { return InstanceChannel::handOver(c.folder, "stop"); });
    std::vector<HandOver> got = waitForHandOvers(c.first);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, "stop");
    InstanceChannel::acknowledge(got[0]);
    EXPECT_EQ(sent.get(), HandOverResult::Acknowledged);
    EXPECT_LT(Clock::now() - started, InstanceChannel::PEER_DEADLINE);
    EXPECT_EQ(stillOpen().size(), InstanceChannel::MAX_PEERS - 1) << "one idle peer made room";

    // The silent ones are dropped once their time is up.
    EXPECT_TRUE(closedWithoutAnswer(open[0], InstanceChannel::PEER_DEADLINE + 1000ms));
    for (int fd : idle) ::close(fd);
    EXPECT_TRUE(c.first.take().empty());
}

TEST(InstanceHandOver, StaleSocketIsReplacedAndAStartingFirstIsWaitedFor) {
    TempDir dir;
    const std::string folder = dir.root.string();
    // A socket left by an instance that died: bound, never unlinked.
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, (folder + "/instance.socket").c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    // Nobody listens there: without retrying a second start finds no one.
    EXPECT_EQ(InstanceChannel::handOver(folder, "next", 0ms, 100ms), HandOverResult::NoFirstInstance);

    InstanceChannel first;
    ASSERT_EQ(first.acquire(folder), InstanceRole::First);
    // The first starts listening only after a while (its start-up); the
    // second keeps trying meanwhile.
    auto sent = std::async(std::launch::async, [&] { return InstanceChannel::handOver(folder, "next", 3000ms); });
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(first.listen());
    std::vector<HandOver> got = waitForHandOvers(first);
    ASSERT_EQ(got.size(), 1u);
    InstanceChannel::acknowledge(got[0]);
    EXPECT_EQ(sent.get(), HandOverResult::Acknowledged);
}

// A first instance of its own making: reads each record and closes it
// unanswered `refusals` times, then acknowledges.
struct RefusingFirst {
    explicit RefusingFirst(const std::string& folder, int refusals) {
        listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, (folder + "/instance.socket").c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener, 4), 0);
        server = std::thread([this, refusals] {
            for (;;) {
                pollfd wait{listener, POLLIN, 0};
                if (::poll(&wait, 1, 20) <= 0) {
                    if (stop) return;
                    continue;
                }
                const int fd = ::accept(listener, nullptr, nullptr);
                if (fd < 0) continue;
                // The whole record, as the real first reads it.
                char header[8];
                std::uint32_t length = 0;
                char text[64];
                if (::recv(fd, header, sizeof header, MSG_WAITALL) == sizeof header &&
                    (std::memcpy(&length, header + 4, 4), length <= sizeof text) &&
                    ::recv(fd, text, length, MSG_WAITALL) == static_cast<ssize_t>(length)) {
                    if (++records > refusals) ::send(fd, &HAND_OVER_ACK, 1, MSG_NOSIGNAL);
                }
                ::close(fd);
            }
        });
    }
    ~RefusingFirst() {
        stop = true;
        server.join();
        ::close(listener);
    }
    int listener = -1;
    std::atomic<bool> stop{false};
    std::atomic<int> records{0};
    std::thread server;
};

TEST(InstanceHandOver, ARecordClosedUnansweredIsSentAgainUntilTheTimeIsUp) {
    {
        TempDir dir;
        RefusingFirst first(dir.root.string(), 2);
        EXPECT_EQ(InstanceChannel::handOver(dir.root.string(), "next", 5000ms, 1000ms), HandOverResult::Acknowledged);
        EXPECT_EQ(first.records, 3);
    }
    {
        TempDir dir;
        RefusingFirst first(dir.root.string(), 1000000);
        EXPECT_EQ(InstanceChannel::handOver(dir.root.string(), "next", 200ms, 1000ms), HandOverResult::NotAcknowledged);
        EXPECT_GE(first.records, 2);
    }
}

TEST(InstancePeers, OnlyTheSameUserIsServed) {
    EXPECT_TRUE(InstanceChannel::acceptsPeer(1000, 1000));
    EXPECT_FALSE(InstanceChannel::acceptsPeer(1001, 1000));
    EXPECT_FALSE(InstanceChannel::acceptsPeer(0, 1000)) << "not even the superuser";
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    EXPECT_TRUE(InstanceChannel::peerIsSameUser(pair[0]));
    ::close(pair[0]);
    ::close(pair[1]);

    if (::geteuid() != 0) GTEST_SKIP() << "another user's connection needs root to drop privileges";
    // Open the folder and the socket to everyone, so that only the
    // credential check stands between another user and the player.
    Channel c;
    ::chmod(c.folder.c_str(), 0755);
    ::chmod(c.first.socketPath().c_str(), 0777);
    const std::string bytes = record(HAND_OVER_TAG, 5, std::string("next", 5));
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        int fd = connectRaw(c.first.socketPath());
        if (fd < 0) ::_exit(4);
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        ::_exit(closedWithoutAnswer(fd, 3000ms) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: cannot drop privileges, 4: cannot connect, 1: was answered";
    EXPECT_TRUE(c.first.take().empty());
}

}  // namespace
}  // namespace brellin
