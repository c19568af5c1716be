// Application: the program's shell. It makes sure one player runs per user,
// hands a second start's command line to the first, starts the player
// (settings, engine, window, skin, tray icon, play list, the file to open),
// runs the message loop and shuts everything down in a fixed order.
//
// It knows no toolkit: the window system, the owner-less start-up message
// boxes, one pass of the message loop and the watching of file descriptors
// come from an ApplicationPlatform (Qt in the program, fakes in the tests).
// Everything here runs on the user-interface thread; the instance channel's
// reader thread and the signal handlers only announce work on descriptors
// the platform's event loop watches.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/Messages.h"
#include "input/LiveMidiPorts.h"
#include "ui/framework/Host.h"
#include "ui/shell/InstanceChannel.h"
#include "ui/shell/ShutdownSignals.h"
#include "ui/window/MainWindow.h"

namespace brellin {

class ApplicationPlatform {
public:
    virtual ~ApplicationPlatform() = default;
    virtual WindowSystem& windowSystem() = 0;
    // Owner-less message boxes above other windows, for the numbered
    // start-up messages (shown before and without the display window).
    virtual MessageSink& startupMessages() = 0;
    // A new MainWindow with its engine's output device chosen; null when
    // it cannot be made.
    virtual std::unique_ptr<MainWindow> createMainWindow() = 0;
    // One pass of the message loop; false once the quit message arrived.
    virtual bool pumpMessage() = 0;
    // Runs the whole loop where the toolkit has one of its own (it must end
    // on the quit message); false: the application pumps instead.
    virtual bool runMessageLoop() { return false; }
    // Ends a start-up message box that waits for OK: the user asked the
    // program to end (a signal) before it had a window to close.
    virtual void dismissStartupMessage() {}
    // From now on, calls `readable` on the user-interface thread whenever
    // `fd` can be read, until unwatch(fd).
    virtual void watch(int fd, std::function<void()> readable) = 0;
    virtual void unwatch(int fd) = 0;
    // One line for the terminal or the session's log, beside the messages
    // the user sees: what exactly went wrong. Default: stderr, "brellin: ".
    virtual void reportProblem(const std::string& line);
};

class Application {
public:
    static constexpr const char* SETTINGS_FILE = "Brellin.cfg";

    Application(ApplicationPlatform& platform, std::string commandLine);
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The three operations of the shell: start, end, one pass of the loop.
    virtual bool initInstance();
    virtual void exitInstance();
    virtual bool pumpMessage();

    // The entry point's work: initInstance, the loop while it succeeded,
    // exitInstance always. Returns the process's exit status: 0, or 1 when
    // a second start could not hand its command line over or the settings
    // could not be saved.
    int run();

    // A second instance's record is waiting (the channel's descriptor).
    void onHandOverReady();
    // SIGTERM, SIGINT or SIGHUP arrived (the signal pipe).
    void onShutdownSignal();
    // The Exit path from outside the window: the end of the desktop session,
    // a signal. Stops playback, keeps the position, ends the loop. Idempotent.
    void requestExit();

    // "[%04d] : %s" captioned "Brellin Message", owner-less and topmost.
    void showMessage(const char* text, int number);

    MainWindow* window() { return mainWindow.get(); }
    // True when initInstance ended because another instance took the command line.
    bool handedOver() const { return secondInstance; }

    // Where the instance lock and socket live; empty: the user's folder.
    std::string instanceFolder;
    // The settings file as a full path; empty: "Brellin.cfg" beside the program.
    std::string settingsPath;
    // How long a second start keeps trying to reach a first that is still
    // starting, and waits for its acknowledgement.
    std::chrono::milliseconds handOverRetry{3000};
    std::chrono::milliseconds handOverWait{5000};

    InstanceChannel channel;
    ShutdownSignals shutdownSignals;

private:
    void seedRandomGenerators(std::uint32_t tick);

    ApplicationPlatform& platform;
    const std::string commandLine;
    std::unique_ptr<MainWindow> mainWindow;
    // The MIDI input port other programs play into while the window runs.
    LiveMidiPorts livePorts;
    bool secondInstance = false;
    HandOverResult handOverOutcome = HandOverResult::Acknowledged;
    bool settingsUnsaved = false;
    bool exitRequested = false;
    bool quitFromOutside = false;  // requestExit: a signal or the session's end
    bool watchingChannel = false;
    bool watchingSignals = false;
};

}  // namespace brellin
