// The application shell against a fake window system and a real engine on
// the null audio device: start-up from the command line, the numbered
// start-up messages, hand-overs from a second Application on another thread
// through the real socket, the tray rule and the Exit path of a signal, also
// while a dialog, a message box or a menu is open.
#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "output/devices/AudioDevices.h"
#include "soundfont/SoundFontWriter.h"
#include "tests/TempDir.h"
#include "tests/TestSoundFont.h"
#include "tests/midi/MidiBytes.h"
#include "tests/ui/FakeHost.h"
#include "ui/dialogs/FileDialogCommands.h"
#include "ui/dialogs/FileDialogTemplates.h"
#include "ui/dialogs/SettingsCommands.h"
#include "ui/dialogs/SettingsTemplates.h"
#include "ui/model/CommandLine.h"
#include "ui/shell/Application.h"

namespace brellin::test {
namespace {

using brellin::testing::TempDir;
namespace midi = brellin::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void writeFont(const std::string& path) { ASSERT_TRUE(brellin::testing::writeTestSoundFont(path)); }

// One note of about 20 s (96 ticks a beat at 120 bpm): it plays through every test.
std::string longSong() {
    const std::string body = midi::noteOn(0, 0, 60, 100) + midi::noteOff(96 * 40, 0, 60) + midi::endOfTrack();
    return midi::header(0, 1, 96) + midi::track(body);
}

// Accepts only 11025 Hz, 8 bit, mono.
class FallbackOnlyDevice : public AudioDevice {
public:
    bool open(const AudioFormat& format, std::uint32_t bytes, std::uint32_t count, DeviceCallback callback,
              void* context) override {
        if (format.sampleRate != 11025 || format.bitsPerSample != 8 || format.channels != 1) {
            lastError = RESULT_DEVICE_ERROR;
            return false;
        }
        return inner->open(format, bytes, count, callback, context);
    }
    void pause() override { inner->pause(); }
    void restart() override { inner->restart(); }
    bool write(WaveHeader* header) noexcept override { return inner->write(header); }
    void reset() override { inner->reset(); }
    void close() override { inner->close(); }
    const char* name() const override { return "fallback-only"; }

private:
    std::unique_ptr<AudioDevice> inner = createAudioDevice("null");
};

struct RecordingSink : MessageSink {
    void showMessageBox(const char* text, const char* caption) override {
        shown.emplace_back(std::string(caption) + "|" + text);
        if (whileShown) whileShown();
    }
    std::vector<std::string> shown;
    std::function<void()> whileShown;  // what happens while the box waits for OK
};

// The main window with the commands that run its dialogs, as the program has it.
class DialogWindow : public MainWindow {
public:
    explicit DialogWindow(WindowSystem& windowSystem)
        : MainWindow(windowSystem), fileDialogs(windowSystem, playList), settingsDialogs(windowSystem) {
        fileDialogs.addTo(dialogs);
        settingsDialogs.addTo(dialogs);
        updateMenuState();
    }

private:
    FileDialogCommands fileDialogs;
    SettingsCommands settingsDialogs;
};

class FakePlatform : public ApplicationPlatform {
public:
    WindowSystem& windowSystem() override { return system; }
    MessageSink& startupMessages() override { return messages; }
    std::unique_ptr<MainWindow> createMainWindow() override {
        if (!canMakeWindow) return nullptr;
        auto window = withDialogs ? std::make_unique<DialogWindow>(system) : std::make_unique<MainWindow>(system);
        if (fallbackOnly) {
            window->engine.output.setDevice(std::make_unique<FallbackOnlyDevice>());
        } else {
            window->engine.output.setDevice(createAudioDevice("null"));
        }
        window->engine.setSoundFontFolder(fontFolder.c_str());
        return window;
    }
    // Posted messages, then 10 ms of watching the descriptors.
    bool pumpMessage() override {
        if (eachPass) eachPass();
        if (system.quitPosts == 0 && !system.windows.empty()) system.windows[0]->pumpPosted();
        pumpDescriptors();
        return system.quitPosts == 0;
    }
    void pumpDescriptors() {
        std::vector<pollfd> fds;
        for (const auto& entry : watched) fds.push_back(pollfd{entry.first, POLLIN, 0});
        ::poll(fds.data(), fds.size(), 10);
        for (const pollfd& fd : fds) {
            auto found = watched.find(fd.fd);
            if (fd.revents != 0 && found != watched.end()) found->second();
        }
    }
    void dismissStartupMessage() override { ++dismissed; }
    void watch(int fd, std::function<void()> readable) override { watched[fd] = std::move(readable); }
    void unwatch(int fd) override { watched.erase(fd); }
    void reportProblem(const std::string& line) override { problems.push_back(line); }

    FakeWindowSystem system;
    RecordingSink messages;
    std::string fontFolder;
    bool fallbackOnly = false;
    bool canMakeWindow = true;
    bool withDialogs = false;
    int dismissed = 0;
    std::map<int, std::function<void()>> watched;
    std::vector<std::string> problems;  // the lines for stderr
    std::function<void()> eachPass;     // runs at the start of every pass of the loop
};

struct Player {
    TempDir dir;
    std::string folder = dir.root.string() + "/";
    FakePlatform platform;
    std::unique_ptr<Application> app;

    explicit Player(const std::vector<std::string>& args, bool withFont = true) {
        if (withFont) writeFont(dir.path("small.brf"));
        std::filesystem::create_directory(dir.path("run"));
        platform.fontFolder = folder;
        std::vector<const char*> argv{"brellin"};
        for (const std::string& arg : args) argv.push_back(arg.c_str());
        app = std::make_unique<Application>(platform, joinArguments(static_cast<int>(argv.size()), argv.data()));
        app->instanceFolder = dir.path("run");
        app->settingsPath = dir.path("Brellin.cfg");
    }
    FakeWindowHost* host() { return platform.system.windows.empty() ? nullptr : platform.system.windows[0]; }
    MainWindow& window() { return *app->window(); }

    // A second start with `args` on another thread; this one pumps meanwhile.
    // Returns (its initInstance result, handed over, windows it registered).
    std::tuple<bool, bool, int> secondStart(const std::vector<std::string>& args) {
        auto second = std::async(std::launch::async, [&] {
            FakePlatform other;
            std::vector<const char*> argv{"brellin"};
            for (const std::string& arg : args) argv.push_back(arg.c_str());
            Application start(other, joinArguments(static_cast<int>(argv.size()), argv.data()));
            start.instanceFolder = dir.path("run");
            const bool started = start.initInstance();
            start.exitInstance();
            return std::make_tuple(started, start.handedOver(), other.system.registrations);
        });
        const auto until = Clock::now() + 10s;
        while (second.wait_for(0s) != std::future_status::ready && Clock::now() < until) platform.pumpMessage();
        return second.get();
    }
};

TEST(ApplicationStart, CommandLineFilePlaysAndASignalTakesTheExitPath) {
    TempDir songs;
    const std::string song = songs.write("my song.mid", longSong());
    Player player({song, "PLAY"});
    ASSERT_TRUE(player.app->initInstance());
    MainWindow& window = player.window();
    FakeWindowHost* host = player.host();
    ASSERT_NE(host, nullptr);
    EXPECT_TRUE(player.platform.messages.shown.empty());
    EXPECT_STREQ(window.playList.currentFile, song.c_str());
    EXPECT_TRUE(window.playing);
    EXPECT_EQ(host->timers.at(DISPLAY_TIMER_ID), DISPLAY_TIMER_MS);
    EXPECT_TRUE(host->trayIcon);
    EXPECT_TRUE(window.trayIconShown);
    EXPECT_GE(host->zOrderCalls, 1);
    EXPECT_TRUE(std::filesystem::exists(player.dir.path("run/instance.socket")));
    EXPECT_EQ(window.menu.popup(1).items[RECENT_SUBMENU_POSITION].submenu.at(0).text, "none");

    host->x = 31;
    host->y = 41;
    ASSERT_EQ(std::raise(SIGTERM), 0);
    const auto until = Clock::now() + 5s;
    while (player.app->pumpMessage() && Clock::now() < until) {
    }
    EXPECT_EQ(player.platform.system.quitPosts, 1) << "the signal ends the message loop";
    EXPECT_FALSE(window.playing);
    player.app->exitInstance();
    EXPECT_EQ(player.app->window(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(player.dir.path("run/instance.socket")));

    // Position and last file saved, through a temporary file that is gone again.
    const std::string saved = player.dir.read("Brellin.cfg");
    EXPECT_NE(saved.find("InitializePositionX=31"), std::string::npos) << saved;
    EXPECT_NE(saved.find("InitializePositionY=41"), std::string::npos);
    EXPECT_NE(saved.find("LastPlayFileName=" + song), std::string::npos);
    for (const auto& entry : std::filesystem::directory_iterator(player.dir.root)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "Brellin.cfg" || name == "small.brf" || name == "run") << name;
    }
}

TEST(ApplicationStart, AStartWithoutAFileResumesTheSongWhereTheLastRunLeftOff) {
    TempDir songs;
    const std::string song = songs.write("my song.mid", longSong());
    std::string saved;
    {
        Player player({song, "play"});
        ASSERT_TRUE(player.app->initInstance());
        player.platform.system.tick += 7000;
        ASSERT_EQ(std::raise(SIGTERM), 0);
        const auto until = Clock::now() + 5s;
        while (player.app->pumpMessage() && Clock::now() < until) {
        }
        player.app->exitInstance();
        saved = player.dir.read("Brellin.cfg");
    }
    EXPECT_NE(saved.find("LastPlayPosition=7000"), std::string::npos) << saved;
    EXPECT_NE(saved.find("LastPlayEntry=0"), std::string::npos) << saved;
    Player player({});
    player.dir.write("Brellin.cfg", saved);
    ASSERT_TRUE(player.app->initInstance());
    MainWindow& window = player.window();
    EXPECT_STREQ(window.playList.currentFile, song.c_str());
    EXPECT_TRUE(window.playing);
    EXPECT_EQ(window.songPosition(), 7000u);
    player.app->exitInstance();
}

TEST(ApplicationStart, FailuresShowTheirNumberedMessagesAndTheFallbackPlays) {
    {
        Player player({}, false);
        EXPECT_FALSE(player.app->initInstance());
        player.app->exitInstance();
        ASSERT_EQ(player.platform.messages.shown.size(), 1u);
        const std::string& shown = player.platform.messages.shown[0];
        EXPECT_EQ(shown.substr(0, shown.find('\n')), "Brellin Message|[0002] : Not found a Sound font.");
        EXPECT_EQ(player.platform.system.registrations, 0) << "no window without an engine";
    }
    {
        TempDir songs;
        Player player({songs.write("a.mid", longSong()), "play"});
        player.platform.fallbackOnly = true;
        ASSERT_TRUE(player.app->initInstance());
        EXPECT_EQ(player.platform.messages.shown,
                  std::vector<std::string>{
                      "Brellin Message|[0004] : Cannot change to your setting. Changed to 11K/8bit/mono/8ch."});
        EXPECT_EQ(player.window().settings.MaxChannels, 8);
        EXPECT_TRUE(player.window().playing);
        player.app->exitInstance();
    }
    {
        // A signal while message 4 waits for OK: the box is dismissed and
        // the window, once made, takes the Exit path.
        Player player({});
        player.platform.fallbackOnly = true;
        player.platform.messages.whileShown = [&] {
            std::raise(SIGHUP);
            player.app->onShutdownSignal();
        };
        EXPECT_TRUE(player.app->initInstance());
        EXPECT_EQ(player.platform.dismissed, 1);
        EXPECT_EQ(player.platform.system.quitPosts, 1);
        EXPECT_FALSE(player.app->pumpMessage());
        player.app->exitInstance();
    }
    {
        Player player({});
        player.platform.system.createSucceeds = false;
        EXPECT_FALSE(player.app->initInstance());
        player.app->exitInstance();
        EXPECT_EQ(player.platform.messages.shown,
                  std::vector<std::string>{"Brellin Message|[0005] : Not enough memory. Please, retry after reboot."});
    }
    {
        Player player({});
        player.platform.canMakeWindow = false;
        EXPECT_FALSE(player.app->initInstance());
        EXPECT_EQ(player.platform.messages.shown,
                  std::vector<std::string>{"Brellin Message|[0000] : Not enough memory. Please, retry after reboot."});
    }
    {
        Player player({});
        player.app->instanceFolder = player.dir.path("missing");
        EXPECT_FALSE(player.app->initInstance());
        EXPECT_EQ(player.platform.messages.shown,
                  std::vector<std::string>{"Brellin Message|[0003] : Not enough memory. Please, retry after reboot."});
        // Beside the designed message, what really is wrong.
        EXPECT_EQ(player.platform.problems,
                  std::vector<std::string>{"no single-instance lock: " + player.dir.path("missing/instance.lock") +
                                           " cannot be opened: No such file or directory"});
    }
}

TEST(ApplicationHandOver, SecondStartsRemoteControlTheFirstWithoutAWindowOfTheirOwn) {
    TempDir songs;
    const std::string first = songs.write("first.mid", longSong());
    const std::string second = songs.write("second song.mid", longSong());
    const std::string third = songs.write("third.mid", longSong());
    Player player({first});
    ASSERT_TRUE(player.app->initInstance());
    MainWindow& window = player.window();
    FakeWindowHost* host = player.host();
    EXPECT_FALSE(window.playing);

    // FILE play: added, made current, played, brought to the front.
    EXPECT_EQ(player.secondStart({second, "play"}), std::make_tuple(false, true, 0));
    EXPECT_EQ(window.playList.entryCount(), 2u);
    EXPECT_STREQ(window.playList.currentFile, second.c_str());
    EXPECT_TRUE(window.playing);
    EXPECT_EQ(host->foregroundCalls, 1);

    // A single word steps the first; one token does not raise its window.
    EXPECT_EQ(player.secondStart({"NEXT"}), std::make_tuple(false, true, 0));
    EXPECT_STREQ(window.playList.currentFile, first.c_str());
    EXPECT_TRUE(window.playing);
    EXPECT_EQ(host->foregroundCalls, 1);

    // A single path opens nothing (the playing song restarts).
    EXPECT_EQ(player.secondStart({third}), std::make_tuple(false, true, 0));
    EXPECT_EQ(window.playList.entryCount(), 2u);
    EXPECT_STREQ(window.playList.currentFile, first.c_str());

    EXPECT_EQ(player.secondStart({"stop"}), std::make_tuple(false, true, 0));
    EXPECT_FALSE(window.playing);

    // A record with another tag is not a hand-over: it goes on to the default handling.
    const std::string text = "\"" + third + "\" play";
    CopyDataRecord foreign;
    foreign.data = 0x12345678;
    foreign.size = static_cast<std::uint32_t>(text.size() + 1);
    foreign.bytes = text.c_str();
    const std::size_t defaults = host->defaultCalls.size();
    host->deliver(WM_COPYDATA, 0, reinterpret_cast<LParam>(&foreign));
    EXPECT_EQ(window.playList.entryCount(), 2u);
    EXPECT_FALSE(window.playing);
    EXPECT_EQ(host->defaultCalls.size(), defaults + 1);
    // The right tag with a text that lacks its zero within `size`.
    CopyDataRecord unterminated{HAND_OVER_TAG, 4, "next and more"};
    host->deliver(WM_COPYDATA, 0, reinterpret_cast<LParam>(&unterminated));
    EXPECT_STREQ(window.playList.currentFile, second.c_str()) << "\"next\" within the four bytes";
    player.app->exitInstance();
}

TEST(ApplicationHandOver, ASecondStartThatCannotHandOverSaysSoAndFails) {
    Player player({});
    // A first that holds the lock but never listens (stuck in its start-up),
    // then one that listens but never answers.
    InstanceChannel first;
    ASSERT_EQ(first.acquire(player.dir.path("run")), InstanceRole::First);
    for (bool listening : {false, true}) {
        if (listening) {
            ASSERT_TRUE(first.listen());
        }
        FakePlatform other;
        Application second(other, "next");
        second.instanceFolder = player.dir.path("run");
        second.handOverRetry = 200ms;
        second.handOverWait = 200ms;
        EXPECT_EQ(second.run(), 1);
        EXPECT_TRUE(second.handedOver());
        EXPECT_EQ(other.system.registrations, 0);
        EXPECT_TRUE(other.messages.shown.empty());
        const std::string expected = listening ? "the running Brellin did not confirm that it took the command line"
                                               : "another Brellin holds the lock in " + player.dir.path("run") +
                                                     " but did not take the command line (it is not answering)";
        EXPECT_EQ(other.problems, std::vector<std::string>{expected});
    }
    for (HandOver& handOver : first.take()) InstanceChannel::drop(handOver);
}

// Asked by the user (Exit), the player says so in a box; told to end from
// outside (a signal, the session's end), where nobody may be there to press
// OK, it says so on stderr only.
TEST(ApplicationExit, SettingsThatCannotBeSavedAreReportedOnceAndTheExitStatusSaysSo) {
    for (bool fromOutside : {false, true}) {
        Player player({});
        player.app->settingsPath = player.dir.path("gone/Brellin.cfg");
        // The user changes a setting and ends the player.
        player.platform.eachPass = [&] {
            player.window().settings.settingsChanged = true;
            if (fromOutside) {
                player.app->requestExit();
            } else {
                player.host()->deliver(WM_COMMAND, makeCommandWParam(0, IDM_EXIT));
            }
        };
        EXPECT_EQ(player.app->run(), 1);
        player.app.reset();
        const std::string text = "Cannot save the settings to " + player.dir.path("gone/Brellin.cfg") +
                                 ": No such file or directory. The file was not changed.";
        if (fromOutside) {
            EXPECT_TRUE(player.platform.messages.shown.empty());
            EXPECT_EQ(player.platform.problems, std::vector<std::string>{text});
        } else {
            EXPECT_EQ(player.platform.messages.shown, std::vector<std::string>{"Brellin Message|" + text});
        }
    }
}

TEST(ApplicationTray, IconPlayHidesTheWindowOnlyWhereATrayCanBringItBack) {
    TempDir songs;
    const std::string song = songs.write("a.mid", longSong());
    for (bool tray : {true, false}) {
        Player player({song, "iconplay"});
        player.platform.system.trayAvailable = tray;
        ASSERT_TRUE(player.app->initInstance());
        EXPECT_TRUE(player.window().playing);
        EXPECT_EQ(player.window().windowHidden, tray);
        EXPECT_EQ(player.host()->visible, !tray);
        // The second round is also a desktop where the window cannot read its
        // own position (Wayland): Exit keeps the stored one.
        player.host()->positionable = tray;
        player.host()->x = 77;
        player.app->requestExit();
        EXPECT_EQ(player.platform.system.quitPosts, 1);
        player.app->exitInstance();
        // The hidden state is remembered only where a tray exists.
        const std::string saved = player.dir.read("Brellin.cfg");
        EXPECT_NE(saved.find(tray ? "TrayIconMode=1" : "TrayIconMode=0"), std::string::npos) << saved;
        EXPECT_NE(saved.find(tray ? "InitializePositionX=77" : "InitializePositionX=0"), std::string::npos) << saved;
    }
}

// A quit that arrives while a dialog, a message box or a menu runs its own
// loop: the loop closes as Cancel would, the window stays until control is
// back in the main loop, then the Exit path runs once and saves what was
// applied, never what the open dialog still held.
TEST(ApplicationExit, AQuitWhileANestedLoopRunsClosesItFirstThenExitsOnce) {
    TempDir songs;
    const std::string song = songs.write("a.mid", longSong());
    enum Route { SIGNAL, SESSION_END, POSTED_EXIT };
    enum Opening { FILE_BROWSER, PLAY_LIST, CONFIGURE, BOX_IN_PLAY_LIST, TRAY_MENU };
    for (Route route : {SIGNAL, SESSION_END, POSTED_EXIT}) {
        for (Opening opening : {FILE_BROWSER, PLAY_LIST, CONFIGURE, BOX_IN_PLAY_LIST, TRAY_MENU}) {
            SCOPED_TRACE(::testing::Message() << "route " << route << ", opening " << opening);
            Player player({song, "play"});
            player.platform.withDialogs = true;
            ASSERT_TRUE(player.app->initInstance());
            FakeWindowSystem& system = player.platform.system;
            FakeWindowHost* host = player.host();
            host->x = 31;
            int quits = 0;
            // The quit, as each route brings it into a running nested loop.
            auto quit = [&] {
                ++quits;
                if (route == SIGNAL) {
                    ASSERT_EQ(std::raise(SIGTERM), 0);
                    player.platform.pumpDescriptors();
                } else if (route == SESSION_END) {
                    player.app->requestExit();
                } else {
                    host->postMessage(WM_COMMAND, makeCommandWParam(0, IDM_EXIT), 0);
                    host->pumpPosted();
                }
                EXPECT_EQ(system.quitPosts, 0) << "the window went while the loop ran";
            };
            auto quitInDialog = [&](FakeDialogHost& dialog) {
                quit();
                EXPECT_TRUE(dialog.ended);
                // Whatever the dialog's code opens now answers at once.
                EXPECT_EQ(dialog.messageBox("late", "REPORT", MB_YESNO), IDNO);
            };
            switch (opening) {
                case FILE_BROWSER:
                    system.templateScripts[IDD_OPEN_FILE] = quitInDialog;
                    host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_OPEN_FILES));
                    break;
                case PLAY_LIST:
                    system.templateScripts[IDD_PLAYLIST] = quitInDialog;
                    host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_PLAYLIST));
                    break;
                case CONFIGURE:
                    for (std::uint16_t id : {IDD_CONFIGURE, IDD_CONFIGURE_SMALL}) {
                        system.templateScripts[id] = [&](FakeDialogHost& dialog) {
                            dialog.setChecked(IDC_LOW_PASS, true);  // changed, not applied
                            quitInDialog(dialog);
                        };
                    }
                    host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_CONFIGURE));
                    break;
                case BOX_IN_PLAY_LIST:
                    // Yes would remove the missing entry; the closed box says No.
                    player.window().playList.lockEntries()->append(songs.path("gone.mid").c_str());
                    system.messageBoxAnswer = IDYES;
                    system.whileNestedLoop = quit;
                    system.templateScripts[IDD_PLAYLIST] = [&](FakeDialogHost& dialog) {
                        dialog.deliver(WM_COMMAND, makeCommandWParam(0, IDC_PLAYLIST_CHECK));
                        EXPECT_EQ(dialog.messageBoxes.size(), 1u);
                    };
                    host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_PLAYLIST));
                    EXPECT_EQ(player.window().playList.entryCount(), 2u) << "the closed box answered Yes";
                    break;
                case TRAY_MENU:
                    system.whileNestedLoop = quit;
                    host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_TRAY_ICON), WM_RBUTTONDOWN);
                    EXPECT_EQ(host->popups.size(), 1u);
                    break;
            }
            ASSERT_EQ(quits, 1);
            EXPECT_EQ(system.nestedLoopDepth(), 0);
            EXPECT_EQ(system.quitPosts, 0);
            ASSERT_NE(player.app->window(), nullptr);
            EXPECT_GE(system.refusedLoops, opening <= CONFIGURE ? 1 : 0);

            const auto until = Clock::now() + 5s;
            while (player.app->pumpMessage() && Clock::now() < until) {
            }
            EXPECT_EQ(system.quitPosts, 1) << "the Exit path ran once, from the main loop";
            EXPECT_FALSE(player.window().playing);
            player.app->exitInstance();
            const std::string saved = player.dir.read("Brellin.cfg");
            EXPECT_NE(saved.find("InitializePositionX=31"), std::string::npos) << saved;
            EXPECT_NE(saved.find("LastPlayFileName=" + song), std::string::npos) << saved;
            EXPECT_NE(saved.find("fLowPassFilter=0"), std::string::npos) << saved;
        }
    }
}

}  // namespace
}  // namespace brellin::test
