// Where the player looks for the session bus: the environment's address, else
// the user's bus socket, else nowhere (never the D-Bus library's autolaunch).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/TempDir.h"
#include "ui/mpris/SessionBusAddress.h"

namespace brellin::test {
namespace {

using brellin::testing::TempDir;

// Sets or unsets an environment variable for one scope, then puts it back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : variable(name) {
        const char* old = std::getenv(name);
        if (old != nullptr) saved = old;
        had = old != nullptr;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (had) {
            ::setenv(variable, saved.c_str(), 1);
        } else {
            ::unsetenv(variable);
        }
    }

private:
    const char* variable;
    std::string saved;
    bool had = false;
};

// A listening unix socket at `path` for as long as this lives.
struct BusSocket {
    int fd = -1;
    std::string where;
    explicit BusSocket(const std::string& path) : where(path) {
        fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
    }
    ~BusSocket() {
        ::close(fd);
        ::unlink(where.c_str());
    }
};

TEST(SessionBusAddress, TheEnvironmentThenTheUserSocketThenNoBusAtAll) {
    TempDir runtime;
    ScopedVariable runtimeDir("XDG_RUNTIME_DIR", runtime.root.c_str());
    bool fromEnvironment = true;
    {
        // An X11 desktop without a bus: nothing, rather than an autolaunched one.
        ScopedVariable address("DBUS_SESSION_BUS_ADDRESS", nullptr);
        EXPECT_EQ(sessionBusAddress(&fromEnvironment), "");
        EXPECT_FALSE(fromEnvironment);
        // A file that is not a socket is no bus either.
        runtime.write("bus", "");
        EXPECT_EQ(sessionBusAddress(), "");
        ::unlink(runtime.path("bus").c_str());
        BusSocket bus(runtime.path("bus"));
        EXPECT_EQ(sessionBusAddress(&fromEnvironment), "unix:path=" + runtime.path("bus"));
        EXPECT_FALSE(fromEnvironment);
    }
    {
        ScopedVariable address("DBUS_SESSION_BUS_ADDRESS", "");
        EXPECT_EQ(sessionBusAddress(&fromEnvironment), "") << "an empty address is none";
        EXPECT_FALSE(fromEnvironment);
    }
    {
        ScopedVariable address("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus");
        EXPECT_EQ(sessionBusAddress(&fromEnvironment), "unix:path=/run/user/1000/bus");
        EXPECT_TRUE(fromEnvironment);
    }
    {
        // A runtime folder whose name needs escaping in an address.
        TempDir odd;
        const std::string folder = odd.path("a b,c");
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        ScopedVariable address("DBUS_SESSION_BUS_ADDRESS", nullptr);
        ScopedVariable oddRuntime("XDG_RUNTIME_DIR", folder.c_str());
        BusSocket bus(folder + "/bus");
        EXPECT_EQ(sessionBusAddress(), "unix:path=" + odd.root.string() + "/a%20b%2cc/bus");
    }
}

}  // namespace
}  // namespace brellin::test
