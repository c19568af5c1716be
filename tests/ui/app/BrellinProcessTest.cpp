// Real brellin processes. Each test installs a copy of the program with the
// build's sound font and skin into a temporary folder (the program keeps its
// settings beside itself, so the build's own Brellin.cfg is never touched),
// and runs it with QT_QPA_PLATFORM=offscreen, BRELLIN_AUDIO_DEVICE=null and
// a temporary XDG_RUNTIME_DIR; the test that opens a dialog runs it on a
// private Xvfb server instead and types into it with xdotool, and one more
// runs it on Wayland, in a weston compositor shown on such a server.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"

namespace {

using brellin::testing::TempDir;
namespace fs = std::filesystem;
namespace midi = brellin::testing;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string longSong() {
    const std::string body = midi::noteOn(0, 0, 60, 100) + midi::noteOff(96 * 60, 0, 60) + midi::endOfTrack();
    return midi::header(0, 1, 96) + midi::track(body);
}

bool canConnect(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

struct Exit {
    bool exited = false;
    int status = -1;
    std::chrono::milliseconds took{0};
};

class Install {
public:
    explicit Install(bool withFont = true) {
        fs::create_directory(root.path("app"));
        fs::create_directory(root.path("run"));
        ::chmod(root.path("run").c_str(), 0700);
        const fs::path build = BRELLIN_BINARY_DIR;
        fs::copy_file(build / "brellin", root.path("app/brellin"));
        for (const auto& entry : fs::directory_iterator(build)) {
            const std::string name = entry.path().filename().string();
            const bool skin =
                name == "Brellin.ini" || (name.rfind("Brellin", 0) == 0 && entry.path().extension() == ".bmp");
            const bool icon = name.rfind("brellin-", 0) == 0 && entry.path().extension() == ".png";
            if (skin || icon || (withFont && name == "small.brf"))
                fs::copy_file(entry.path(), root.path("app/" + name));
        }
    }

    pid_t start(const std::vector<std::string>& args, const std::string& log) {
        const std::string program = root.path("app/brellin");
        const std::string runtime = root.path("run");
        const std::string logPath = root.path(log);
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("BRELLIN_AUDIO_DEVICE", "null", 1);
            ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
            int out = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }

    static Exit waitExit(pid_t pid, std::chrono::milliseconds limit) {
        Exit result;
        const auto begin = Clock::now();
        while (Clock::now() - begin < limit) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                result.exited = true;
                result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            std::this_thread::sleep_for(1ms);
        }
        result.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
        if (!result.exited) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        return result;
    }

    // Runs a second instance to its end.
    Exit second(const std::vector<std::string>& args) { return waitExit(start(args, "second.log"), 10s); }

    std::string socketFolder() const { return root.path("run/brellin"); }
    std::string socketPath() const { return socketFolder() + "/instance.socket"; }

    bool waitForFile(const std::string& path, std::chrono::milliseconds limit = 15s) {
        const auto until = Clock::now() + limit;
        while (Clock::now() < until) {
            if (fs::exists(path)) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    TempDir root;
    // Set for the programs started from now on, over the defaults above.
    std::vector<std::pair<std::string, std::string>> environment;
};

// A private X server (Xvfb) on a free display number, for the tests that
// type into the window with xdotool; empty display when none can start.
class PrivateXServer {
public:
    PrivateXServer() {
        int ends[2];
        if (::pipe(ends) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::close(ends[0]);
            const std::string fd = std::to_string(ends[1]);
            int quiet = ::open("/dev/null", O_WRONLY);
            if (quiet >= 0) ::dup2(quiet, 2);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ends[1]);
        char number[16] = {};
        std::size_t got = 0;
        while (got + 1 < sizeof number) {
            const ssize_t n = ::read(ends[0], number + got, 1);
            if (n <= 0 || number[got] == '\n') break;
            ++got;
        }
        ::close(ends[0]);
        number[got] = 0;
        if (got > 0) display = std::string(":") + number;
    }
    ~PrivateXServer() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    // Runs xdotool with these arguments on this display; its output.
    std::string xdotool(const std::string& arguments) const {
        const std::string command = "DISPLAY=" + display + " xdotool " + arguments + " 2>/dev/null";
        std::string output;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
            ::pclose(pipe);
        }
        return output;
    }

    pid_t pid = -1;
    std::string display;
};

bool onPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(BrellinProcess, SecondInstancesHandOverAndSigtermSavesAndExits) {
    Install install;
    const std::string songA = install.root.write("a.mid", longSong());
    const std::string songB = install.root.write("b song.mid", longSong());
    const std::string songC = install.root.write("c.mid", longSong());

    const pid_t first = install.start({songA, "play"}, "first.log");
    ASSERT_TRUE(install.waitForFile(install.socketPath())) << install.root.read("first.log");
    struct stat folder {};
    ASSERT_EQ(::lstat(install.socketFolder().c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    std::printf("socket folder %s: mode %03o\n", install.socketFolder().c_str(), folder.st_mode & 0777);

    // FILE play: taken by the first; the second ends at once and quietly.
    Exit handed = install.second({songB, "play"});
    EXPECT_TRUE(handed.exited);
    EXPECT_EQ(handed.status, 0);
    EXPECT_LT(handed.took, 3000ms);
    EXPECT_EQ(install.root.read("second.log"), "");
    EXPECT_FALSE(fs::exists(install.root.path("app/Brellin.cfg"))) << "a second start writes no settings";

    // next: from b (current) to a. The second ends once the first has
    // handled it, so its run time bounds the time to the next song.
    Exit next = install.second({"next"});
    EXPECT_EQ(next.status, 0);
    std::printf("second instance 'next' until acknowledged: %lld ms\n", static_cast<long long>(next.took.count()));

    // A single path opens nothing.
    EXPECT_EQ(install.second({songC}).status, 0);

    ASSERT_EQ(::kill(first, SIGTERM), 0);
    Exit ended = Install::waitExit(first, 5s);
    EXPECT_TRUE(ended.exited);
    EXPECT_EQ(ended.status, 0) << install.root.read("first.log");
    EXPECT_LT(ended.took, 1000ms);
    std::printf("SIGTERM to exit: %lld ms\n", static_cast<long long>(ended.took.count()));

    const std::string saved = install.root.read("app/Brellin.cfg");
    EXPECT_NE(saved.find("LastPlayFileName=" + songA + "\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find(songC), std::string::npos);
    EXPECT_NE(saved.find("InitializePositionX="), std::string::npos);
    EXPECT_FALSE(fs::exists(install.socketPath()));
    for (const auto& entry : fs::directory_iterator(install.root.path("app"))) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find("Brellin.cfg."), std::string::npos) << "temporary file left: " << name;
    }
}

TEST(BrellinProcess, StaleSocketIsReplacedAndAMissingSoundFontIsMessageTwo) {
    {
        Install install;
        fs::create_directory(install.socketFolder());
        ::chmod(install.socketFolder().c_str(), 0700);
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, install.socketPath().c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);  // a dead instance's socket, still on disk: nobody answers there
        EXPECT_FALSE(canConnect(install.socketPath()));

        const pid_t first = install.start({}, "first.log");
        const auto until = Clock::now() + 15s;
        while (Clock::now() < until && !canConnect(install.socketPath())) std::this_thread::sleep_for(5ms);
        EXPECT_TRUE(canConnect(install.socketPath())) << "the stale socket was not replaced";
        EXPECT_EQ(install.second({"stop"}).status, 0);
        ::kill(first, SIGTERM);
        EXPECT_EQ(Install::waitExit(first, 5s).status, 0);
    }
    {
        // Message 2 waits for OK; SIGTERM ends it and the program.
        Install install(false);
        const pid_t first = install.start({}, "first.log");
        const auto until = Clock::now() + 15s;
        while (Clock::now() < until && install.root.read("first.log").find("[0002]") == std::string::npos) {
            std::this_thread::sleep_for(5ms);
        }
        const std::string output = install.root.read("first.log");
        EXPECT_NE(output.find("Brellin Message: [0002] : Not found a Sound font.\n"), std::string::npos) << output;
        ::kill(first, SIGTERM);
        Exit ended = Install::waitExit(first, 5s);
        EXPECT_TRUE(ended.exited);
        EXPECT_EQ(ended.status, 0);
        EXPECT_FALSE(fs::exists(install.socketPath()));
    }
}

// Told to end while the file browser is open (its own loop running), the
// player closes the browser as Cancel would, then exits through the Exit
// path: status 0 within a second, the settings saved.
TEST(BrellinProcess, SigtermWithTheFileBrowserOpenClosesItSavesAndExits) {
    if (!onPath("Xvfb") || !onPath("xdotool")) GTEST_SKIP() << "Xvfb and xdotool are needed to open a dialog";
    PrivateXServer x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start";
    Install install;
    install.environment = {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", x.display}};
    const std::string song = install.root.write("a.mid", longSong());
    const pid_t player = install.start({song, "play"}, "first.log");
    ASSERT_TRUE(install.waitForFile(install.socketPath())) << install.root.read("first.log");

    const std::string pid = std::to_string(player);
    std::string windows;
    const auto until = Clock::now() + 15s;
    while (Clock::now() < until && (windows = x.xdotool("search --onlyvisible --pid " + pid)).empty()) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_FALSE(windows.empty()) << "the display window did not show";
    const std::string window = windows.substr(0, windows.find('\n'));
    // Up opens the file browser: a second window of the player shows.
    std::size_t shown = 1;
    for (int attempt = 0; attempt < 5 && shown < 2; ++attempt) {
        x.xdotool("windowfocus --sync " + window + " key Up");
        const auto wait = Clock::now() + 3s;
        while (Clock::now() < wait && shown < 2) {
            const std::string now = x.xdotool("search --onlyvisible --pid " + pid);
            shown = static_cast<std::size_t>(std::count(now.begin(), now.end(), '\n'));
            std::this_thread::sleep_for(20ms);
        }
    }
    ASSERT_GE(shown, 2u) << "the file browser did not open";

    ASSERT_EQ(::kill(player, SIGTERM), 0);
    Exit ended = Install::waitExit(player, 5s);
    EXPECT_TRUE(ended.exited);
    EXPECT_EQ(ended.status, 0) << install.root.read("first.log");
    EXPECT_LT(ended.took, 1000ms);
    std::printf("SIGTERM with the file browser open to exit: %lld ms\n", static_cast<long long>(ended.took.count()));
    const std::string saved = install.root.read("app/Brellin.cfg");
    EXPECT_NE(saved.find("LastPlayFileName=" + song + "\n"), std::string::npos) << saved;
    EXPECT_FALSE(fs::exists(install.socketPath()));
}

// The number of nearly white pixels on the X server's screen: a dialog's
// face and list are, the wallpaper, the panel and the display window are not.
long lightPixels(const PrivateXServer& x) {
    const std::string command = "import -display " + x.display +
                                " -window root png:- 2>/dev/null | convert png:- -colorspace Gray -threshold 88% "
                                "-format '%[fx:round(mean*w*h)]' info:";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[64];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        ::pclose(pipe);
    }
    return output.empty() ? -1 : std::atol(output.c_str());
}

// On Wayland: weston (its X11 backend, so that xdotool can type into it)
// runs the player as a Wayland client. It plays, opens the file browser,
// takes a second instance's command while the browser is open, and ends
// cleanly on SIGTERM.
TEST(BrellinProcess, OnWaylandItPlaysOpensADialogTakesAHandOverAndQuits) {
    for (const char* tool : {"weston", "Xvfb", "xdotool", "import"})
        if (!onPath(tool)) GTEST_SKIP() << tool << " is needed (scripts/install-deps.sh test installs it)";
    PrivateXServer x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start";
    Install install;
    const std::string runtime = install.root.path("run");
    const pid_t weston = ::fork();
    if (weston == 0) {
        ::setenv("DISPLAY", x.display.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        int out = ::open(install.root.path("weston.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execlp("weston", "weston", "--backend=x11-backend.so", "--width=640", "--height=480",
                 "--socket=wayland-brellin", "--idle-time=0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    struct Stop {
        pid_t pid;
        ~Stop() {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    } stopWeston{weston};
    if (!install.waitForFile(runtime + "/wayland-brellin", 10s))
        GTEST_SKIP() << "weston did not start here:\n" << install.root.read("weston.log");

    const std::string recording = install.root.path("played.wav");
    install.environment = {{"QT_QPA_PLATFORM", "wayland"},
                           {"WAYLAND_DISPLAY", "wayland-brellin"},
                           {"DISPLAY", ""},
                           {"BRELLIN_AUDIO_DEVICE", "wav:" + recording}};
    const std::string song = install.root.write("a.mid", longSong());
    const pid_t player = install.start({song, "play"}, "first.log");
    ASSERT_TRUE(install.waitForFile(install.socketPath())) << install.root.read("first.log");
    std::this_thread::sleep_for(1500ms);
    const long before = lightPixels(x);
    ASSERT_GE(before, 0) << "no screenshot";

    // Up opens the file browser, a large light dialog. Weston hands the
    // keyboard to the window it mapped last: the player's.
    const std::string weston_window = x.xdotool("search --class weston");
    ASSERT_FALSE(weston_window.empty()) << "weston's window is not on the X server";
    const std::string window = weston_window.substr(0, weston_window.find('\n'));
    long after = before;
    for (int attempt = 0; attempt < 5 && after < before + 20000; ++attempt) {
        x.xdotool("key --window " + window + " Up");
        std::this_thread::sleep_for(1s);
        after = lightPixels(x);
    }
    EXPECT_GE(after, before + 20000) << "the file browser did not show (" << before << " light pixels, then " << after
                                     << ")";

    // A second instance hands over while the browser is open.
    EXPECT_EQ(install.second({"stop"}).status, 0) << install.root.read("second.log");

    ASSERT_EQ(::kill(player, SIGTERM), 0);
    const Exit ended = Install::waitExit(player, 5s);
    EXPECT_TRUE(ended.exited);
    EXPECT_EQ(ended.status, 0) << install.root.read("first.log");
    // It played: the recording holds sound.
    std::error_code error;
    EXPECT_GT(fs::file_size(recording, error), 44u * 1024) << install.root.read("first.log");
    const std::string saved = install.root.read("app/Brellin.cfg");
    EXPECT_NE(saved.find("LastPlayFileName=" + song + "\n"), std::string::npos) << saved;
}

}  // namespace
