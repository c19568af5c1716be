// brellin: the player window.
//
// Start-up until the application shell exists: the locale, Qt, the command
// line, the settings (with the real screen size), the engine with its one
// fallback and its numbered start-up messages as message boxes, the window
// with its skin, the file or play list from the command line (else the one
// open at the end of the last run), the 100-ms display timer, and the
// message loop. At the end the engine stops and the settings are saved.
//
// The output device comes from BRELLIN_AUDIO_DEVICE: "null" (discard, paced
// in real time), "wav:PATH" (record into a WAV file) or an ALSA PCM name; by
// default ALSA's "default".
#include <QApplication>
#include <QScreen>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/Engine.h"
#include "engine/Messages.h"
#include "output/AlsaDevice.h"
#include "output/AudioDevice.h"
#include "output/WavFileDevice.h"
#include "settings/Settings.h"
#include "ui/dialogs/SettingsCommands.h"
#include "ui/qt/QtMessageSink.h"
#include "ui/qt/QtWindowSystem.h"
#include "ui/window/MainWindow.h"

using namespace brellin;

namespace {

constexpr std::size_t PATH_FIELD = 260;

// The device named by BRELLIN_AUDIO_DEVICE.
std::unique_ptr<AudioDevice> deviceFromEnvironment() {
    const char* name = std::getenv("BRELLIN_AUDIO_DEVICE");
    if (!name || !*name) return std::make_unique<AlsaDevice>("default");
    if (std::strcmp(name, "null") == 0) return createAudioDevice(AudioBackend::Null);
    if (std::strncmp(name, "wav:", 4) == 0) return std::make_unique<WavFileDevice>(name + 4);
    return std::make_unique<AlsaDevice>(name);
}

// The command line as one text: the arguments joined with single spaces,
// each one holding a space or a tab wrapped in double quotes.
std::string joinArguments(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        bool quote = std::strpbrk(argv[i], " \t") != nullptr;
        if (quote) line += '"';
        line += argv[i];
        if (quote) line += '"';
    }
    return line;
}

// The tokens of a command line: white space separates them; a token that
// begins with a double quote runs to the next double quote, any other to the
// next space. Each is cut to 259 bytes.
std::vector<std::string> commandLineTokens(const std::string& line) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::strchr(" \t\n\v\f\r", line[i]) && line[i] != '\0') ++i;
        if (i >= line.size()) break;
        std::size_t end;
        if (line[i] == '"') {
            ++i;
            end = line.find('"', i);
            if (end == std::string::npos) end = line.size();
            tokens.push_back(line.substr(i, end - i).substr(0, PATH_FIELD - 1));
            i = end < line.size() ? end + 1 : end;
        } else {
            end = line.find(' ', i);
            if (end == std::string::npos) end = line.size();
            tokens.push_back(line.substr(i, end - i).substr(0, PATH_FIELD - 1));
            i = end;
        }
    }
    return tokens;
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The main window whose start-up messages, shown before it has a window
// of its own, are owner-less "Brellin Message" boxes above other windows.
class PlayerWindow : public MainWindow {
public:
    using MainWindow::MainWindow;

    void showMessageBox(const char* text, const char* caption) override {
        if (hwnd == nullptr) {
            startupMessages.showMessageBox(text, caption);
        } else {
            MainWindow::showMessageBox(text, caption);
        }
    }
    void setBusy(bool busy) override { startupMessages.setBusy(busy); }

private:
    QtMessageSink startupMessages;
};

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // Whole-number scale factors only: on a screen of ratio 1.5 the picture
    // would get uneven pixels; at 2 or more it is shown at that multiple.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Floor);
    QApplication app(argc, argv);
    // Only the main window's destruction ends the loop, never the closing of
    // the last visible window (a dialog while the display is hidden).
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Brellin"));

    QtWindowSystem system;
    // "Configure..." and "Play mode..."; made before the window, which uses it.
    SettingsCommands settingsDialogs(system);
    auto window = std::make_unique<PlayerWindow>(system);
    window->dialogs = &settingsDialogs;
    Settings& settings = window->settings;

    ScreenSize screen;
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        screen.width = primary->geometry().width();
        screen.height = primary->geometry().height();
    }
    char startFile[PATH_FIELD] = {};
    bool play = false, iconPlay = false;
    std::vector<std::string> tokens = commandLineTokens(joinArguments(argc, argv));
    if (!tokens.empty()) {
        if (tokens.size() >= 2) {
            play = equalsIgnoringCase(tokens[1], "play");
            iconPlay = equalsIgnoringCase(tokens[1], "iconplay");
        }
        std::strncpy(startFile, tokens[0].c_str(), sizeof startFile - 1);
        settings.loadSettings("Brellin.cfg", nullptr, 0, screen);
        if (iconPlay) window->windowHidden = true;
    } else {
        settings.loadSettings("Brellin.cfg", startFile, sizeof startFile, screen);
    }

    window->engine.output.setDevice(deviceFromEnvironment());
    if (!window->engine.startAtProgramStart()) {
        window.reset();
        return 1;
    }
    if (!window->create()) {
        QtMessageSink messages;
        showMessage(messages, TEXT_NOT_ENOUGH_MEMORY, 5);
        window.reset();
        return 1;
    }
    window->loadSkinAndPlace();
    window->playList.clear();
    window->playList.currentIndex = 0;
    window->playList.openPath(startFile);
    if (play || iconPlay) window->startPlayback();
    // The level-meter toggle flips the setting back and draws the meter.
    settings.fShowVolume = !settings.fShowVolume;
    window->toggleLevelMeter();
    window->startDisplayTimer();
    if (window->windowHidden) window->onCommand(0, IDM_HIDE_WINDOW, 0);
    window->invalidate();

    int code = system.run();

    // The engine stops before anything it calls goes; the settings are
    // written only when something changed.
    window->engine.shutdown();
    window->settings.saveSettings("Brellin.cfg", window->playList.lastPlayed());
    window.reset();
    return code;
}
