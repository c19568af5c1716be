#include "ui/shell/Application.h"

#include <cstdio>
#include <cstring>

#include "ui/model/CommandLine.h"

namespace brellin {

void ApplicationPlatform::reportProblem(const std::string& line) {
    std::fprintf(stderr, "brellin: %s\n", line.c_str());
    std::fflush(stderr);
}

Application::Application(ApplicationPlatform& p, std::string line) : platform(p), commandLine(std::move(line)) {}

Application::~Application() {
    if (mainWindow) exitInstance();
}

void Application::showMessage(const char* text, int number) {
    brellin::showMessage(platform.startupMessages(), text, number);
}

int Application::run() {
    if (initInstance() && !platform.runMessageLoop()) {
        while (pumpMessage()) {
        }
    }
    exitInstance();
    return (secondInstance && handOverOutcome != HandOverResult::Acknowledged) || settingsUnsaved ? 1 : 0;
}

bool Application::pumpMessage() { return platform.pumpMessage(); }

void Application::seedRandomGenerators(std::uint32_t tick) {
    // The one seeding of the program's random numbers: the play list's
    // random modes and the engine's random pan.
    mainWindow->playList.random.seed(tick);
    mainWindow->engine.seedRandom(tick);
}

bool Application::initInstance() {
    // One player per user; a second start hands its command line over.
    switch (channel.acquire(instanceFolder)) {
        case InstanceRole::Failed:
            platform.reportProblem("no single-instance lock: " + channel.lastProblem);
            showMessage(TEXT_NOT_ENOUGH_MEMORY, 3);
            return false;
        case InstanceRole::Second:
            secondInstance = true;
            handOverOutcome = InstanceChannel::handOver(channel.folderPath(), commandLine, handOverRetry, handOverWait);
            if (handOverOutcome == HandOverResult::NoFirstInstance) {
                platform.reportProblem("another Brellin holds the lock in " + channel.folderPath() +
                                       " but did not take the command line (it is not answering)");
            } else if (handOverOutcome == HandOverResult::NotAcknowledged) {
                platform.reportProblem("the running Brellin did not confirm that it took the command line");
            }
            return false;
        case InstanceRole::First: break;
    }
    // A signal from now on takes the Exit path once the loop runs.
    if (shutdownSignals.install()) {
        platform.watch(shutdownSignals.fd(), [this] { onShutdownSignal(); });
        watchingSignals = true;
    }

    // The tick count seeds the random numbers once the window holding them exists.
    WindowSystem& system = platform.windowSystem();
    const std::uint32_t seed = system.tickCount();

    // The window object, with its engine and play list.
    mainWindow = platform.createMainWindow();
    if (!mainWindow) {
        showMessage(TEXT_NOT_ENOUGH_MEMORY, 0);
        return false;
    }
    MainWindow& window = *mainWindow;
    window.startupMessages = &platform.startupMessages();
    seedRandomGenerators(seed);

    // The command line, then the settings with the real screen size.
    char startFile[COMMAND_TOKEN_SIZE] = {};
    const int tokens = countTokens(commandLine.c_str());
    bool play = false;
    bool iconPlay = false;
    const Point screenPoint = system.screenSize();
    const ScreenSize screen{screenPoint.x, screenPoint.y};
    Settings& settings = window.settings;
    if (tokens >= 1) {
        if (tokens >= 2) {
            char word[COMMAND_TOKEN_SIZE];
            fetchToken(commandLine.c_str(), 1, word);
            play = equalsIgnoringCase(word, "play");
            iconPlay = equalsIgnoringCase(word, "iconplay");
        }
        fetchToken(commandLine.c_str(), 0, startFile);
        if (settingsPath.empty()) {
            settings.loadSettings(SETTINGS_FILE, nullptr, 0, screen);
        } else {
            settings.loadSettingsFrom(settingsPath.c_str(), nullptr, 0, screen);
        }
    } else if (settingsPath.empty()) {
        settings.loadSettings(SETTINGS_FILE, startFile, sizeof startFile, screen);
    } else {
        settings.loadSettingsFrom(settingsPath.c_str(), startFile, sizeof startFile, screen);
    }
    window.windowHidden = settings.TrayIconMode != 0;
    // After loading, so that it wins over "TrayIconMode".
    if (iconPlay) window.windowHidden = true;

    // The engine, with one fallback to 11K/8bit/mono/8ch and messages 4, 2, 3.
    if (!window.engine.startAtProgramStart()) return false;

    // The window, sized and placed by its skin.
    if (!window.create()) {
        showMessage(TEXT_NOT_ENOUGH_MEMORY, 5);
        return false;
    }
    window.loadSkinAndPlace();

    // The live MIDI input ports, unless the settings turn them off: the
    // sequencer port, and JACK's MIDI input when the sound goes to JACK.
    // Where one cannot be offered (no sequencer) one line on stderr says
    // why and the player runs on.
    livePorts.input().setNoteOnListener(window.engine.listeners.noteOn);
    if (window.settings.fLiveMidiInput) {
        livePorts.open(window.engine.synthesizer, "Brellin", window.engine.output.device());
        if (!livePorts.error().empty()) std::fprintf(stderr, "brellin: %s\n", livePorts.error().c_str());
    }

    // The tray icon. Without a tray host the window must stay reachable.
    window.trayIconShown = window.hwnd != nullptr && window.hwnd->addTrayIcon(nullptr);
    if (!window.trayIconShown) window.windowHidden = false;
    window.updateMenuState();

    // loadSkinAndPlace composed the background and the empty title.
    // From here on a second start can reach this one.
    if (channel.listen()) {
        platform.watch(channel.notifyFd(), [this] { onHandOverReady(); });
        watchingChannel = true;
    }

    // An empty list, the recent menus, the file to open.
    window.playList.clear();
    window.playList.currentIndex = 0;
    window.playList.rebuildRecentMenus();
    window.playList.openPath(startFile);

    // "play" and "iconplay" start the song at once. A start without a file
    // comes back to where the last run left off (fResumeOnStart).
    if (play || iconPlay) window.startPlayback();
    if (tokens == 0) window.resumeAtStart();

    // The level-meter toggle flips the setting back and draws the meter.
    settings.fShowVolume = settings.fShowVolume ? 0 : 1;
    window.toggleLevelMeter();

    // The display timer, and the window above others if the settings say so.
    window.startDisplayTimer();
    if (window.hwnd != nullptr) window.hwnd->setWindowPos(0, 0, false, settings.fAlwaysOnTop != 0);

    // Hidden at start where the settings or "iconplay" say so.
    if (window.windowHidden) window.onCommand(0, IDM_HIDE_WINDOW, 0);
    window.invalidate();
    // Asked to end during start-up (a signal while a message box waited).
    if (exitRequested) requestExit();
    return true;
}

void Application::onHandOverReady() {
    for (HandOver& handOver : channel.take()) {
        MainWindow* window = mainWindow.get();
        if (window == nullptr || window->hwnd == nullptr) {
            // Shutting down: the second start ends without an answer.
            InstanceChannel::drop(handOver);
            continue;
        }
        CopyDataRecord record;
        record.data = HAND_OVER_TAG;
        record.size = static_cast<std::uint32_t>(handOver.text.size() + 1);
        record.bytes = handOver.text.c_str();
        window->hwnd->sendMessage(WM_COPYDATA, 0, reinterpret_cast<LParam>(&record));
        // The window may have gone while handling it (nothing in the
        // hand-over closes it today, but the check costs nothing).
        if (countTokens(handOver.text.c_str()) >= 2 && window->hwnd != nullptr && !window->windowHidden) {
            window->hwnd->setForeground();
        }
        InstanceChannel::acknowledge(handOver);
    }
}

void Application::onShutdownSignal() {
    if (shutdownSignals.takeRequest()) requestExit();
}

void Application::requestExit() {
    quitFromOutside = true;
    MainWindow* window = mainWindow.get();
    if (window != nullptr && window->hwnd != nullptr) {
        window->hwnd->sendMessage(WM_COMMAND, makeCommandWParam(0, IDM_EXIT), 0);
        return;
    }
    // No window yet: a start-up message may be waiting for OK. End it; a
    // start that goes on anyway closes its window as soon as it has one.
    exitRequested = true;
    platform.dismissStartupMessage();
}

void Application::exitInstance() {
    if (watchingChannel) {
        platform.unwatch(channel.notifyFd());
        watchingChannel = false;
    }
    if (mainWindow) {
        MainWindow& window = *mainWindow;
        // The live input stops first: nothing plays into an engine that is going.
        livePorts.close();
        // The engine stops before anything it calls goes (the song
        // first, its end notice dropped, then output, voices, Sequencer).
        window.engine.shutdown();
        // The settings: written only when something changed, through a temporary file.
        if (window.trayIconShown) window.settings.TrayIconMode = window.windowHidden ? 1 : 0;
        const bool saved = settingsPath.empty()
                               ? window.settings.saveSettings(SETTINGS_FILE, window.playList.lastPlayed())
                               : window.settings.saveSettingsTo(settingsPath.c_str(), window.playList.lastPlayed());
        // Said once, on stderr and in a box (the platform's start-up
        // messages do both): the user would otherwise find the old settings
        // at the next start without knowing why.
        // A quit from outside (a signal, the session's end) may have nobody
        // to press OK: there the line goes to stderr alone.
        if (!saved) {
            settingsUnsaved = true;
            const std::string text = "Cannot save the settings to " + window.settings.savePath + ": " +
                                     std::strerror(window.settings.saveError) + ". The file was not changed.";
            if (quitFromOutside) {
                platform.reportProblem(text);
            } else {
                platform.startupMessages().showMessageBox(text.c_str(), MESSAGE_CAPTION);
            }
        }
        // The window goes; the menu is part of the window object.
        mainWindow.reset();
    }
    // The lock goes, and with it the socket.
    channel.close();
    if (watchingSignals) {
        platform.unwatch(shutdownSignals.fd());
        watchingSignals = false;
    }
    shutdownSignals.uninstall();
}

}  // namespace brellin
