// brellin: the player window.
//
// Wires the application shell to Qt: the window system of ui/qt, owner-less
// start-up message boxes, descriptors watched with QSocketNotifier (the
// hand-over socket's reader and the signal pipe), the desktop session's end
// and the application's quit taking the Exit path. Everything else, from the
// single-instance rule to the saved settings, is the shell's.
//
// The output device comes from BRELLIN_AUDIO_DEVICE (engine/AudioDeviceChoice):
// "null" (discard, paced in real time), "wav:PATH" (record into a WAV file)
// or an ALSA PCM name; by default ALSA's "default".
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QWidget>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/Messages.h"
#include "ui/dialogs/FileDialogCommands.h"
#include "ui/dialogs/SettingsCommands.h"
#include "ui/model/CommandLine.h"
#include "ui/mpris/MprisService.h"
#include "ui/qt/QtMessageSink.h"
#include "ui/qt/QtWindowSystem.h"
#include "ui/shell/Application.h"
#include "ui/window/MainWindow.h"

using namespace brellin;

namespace {

// Start-up messages: the box, and the same line on stderr for a terminal or
// a log that has no screen to look at.
class StartupMessages : public QtMessageSink {
public:
    void showMessageBox(const char* text, const char* caption) override {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        std::fflush(stderr);
        QtMessageSink::showMessageBox(text, caption);
    }
};

// The main window with the commands that run its dialogs, which live as long
// as the window does.
class PlayerWindow : public MainWindow {
public:
    explicit PlayerWindow(WindowSystem& windowSystem)
        : MainWindow(windowSystem), fileDialogs(windowSystem, playList), settingsDialogs(windowSystem) {
        fileDialogs.addTo(dialogs);
        settingsDialogs.addTo(dialogs);
        updateMenuState();
    }

private:
    FileDialogCommands fileDialogs;
    SettingsCommands settingsDialogs;
    // On the session bus for media keys and the desktop's player widget.
    MprisService mpris{*this};
};

// Qt starts only when the program is the first instance: a second start
// hands its command line over without ever connecting to the display.
class QtPlatform : public ApplicationPlatform {
public:
    QtPlatform(int& argc, char** argv, std::function<void()> exitRequest)
        : argumentCount(argc), arguments(argv), onExitRequest(std::move(exitRequest)) {}

    WindowSystem& windowSystem() override {
        startQt();
        return *system;
    }
    MessageSink& startupMessages() override {
        startQt();
        return messages;
    }

    std::unique_ptr<MainWindow> createMainWindow() override {
        // The engine opens the device BRELLIN_AUDIO_DEVICE names.
        return std::make_unique<PlayerWindow>(windowSystem());
    }

    bool pumpMessage() override {
        if (!system || system->quitPosted()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return !system->quitPosted();
    }
    bool runMessageLoop() override {
        startQt();
        system->run();
        return true;
    }
    void dismissStartupMessage() override {
        if (!qt) return;
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
    }

    void watch(int fd, std::function<void()> readable) override {
        startQt();
        auto notifier = std::make_unique<QSocketNotifier>(static_cast<qintptr>(fd), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                         [call = std::move(readable)] { call(); });
        notifiers[fd] = std::move(notifier);
    }
    void unwatch(int fd) override { notifiers.erase(fd); }

private:
    void startQt() {
        if (qt) return;
        // Whole-number scale factors only: on a screen of ratio 1.5 the
        // picture would get uneven pixels; at 2 or more it is shown at that multiple.
        QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Floor);
        qt = std::make_unique<QApplication>(argumentCount, arguments);
        // Only the main window's destruction ends the loop, never the closing
        // of the last visible window (a dialog while the display is hidden).
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::setApplicationName(QStringLiteral("Brellin"));
        // The end of the desktop session and a quit from elsewhere take the
        // Exit path: playback stops, the settings are saved, the socket goes.
        QObject::connect(qt.get(), &QGuiApplication::commitDataRequest, qt.get(),
                         [this](QSessionManager&) { onExitRequest(); });
        QObject::connect(qt.get(), &QCoreApplication::aboutToQuit, qt.get(), [this] { onExitRequest(); });
        system = std::make_unique<QtWindowSystem>();
    }

    int& argumentCount;
    char** arguments;
    std::function<void()> onExitRequest;
    std::unique_ptr<QApplication> qt;
    std::unique_ptr<QtWindowSystem> system;
    StartupMessages messages;
    std::map<int, std::unique_ptr<QSocketNotifier>> notifiers;
};

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    Application* running = nullptr;
    QtPlatform platform(argc, argv, [&running] {
        if (running) running->requestExit();
    });
    // A file named relative to the folder of this start is made absolute: a
    // second start hands it to a player running in another folder, and the
    // settings keep it as the file to open at the next start, from wherever
    // that happens. A bare word ("next", "stop") names no file and stays.
    std::vector<std::string> given(argv, argv + argc);
    if (argc > 1 && ::access(argv[1], F_OK) == 0) given[1] = absoluteFileName(given[1], currentFolder());
    std::vector<const char*> arguments;
    for (const std::string& argument : given) arguments.push_back(argument.c_str());
    Application application(platform, joinArguments(argc, arguments.data()));
    running = &application;
    const int status = application.run();
    running = nullptr;
    return status;
}
