// brellin: the player window.
//
// Start-up until the application shell exists: the locale, Qt, the settings
// (with the real screen size), the engine with its one fallback and its
// numbered messages as message boxes, then the window, which loads the skin
// and the file or play list named on the command line, and the message loop.
// The output device is chosen by BRELLIN_AUDIO_DEVICE: "null", "wav:PATH" or
// an ALSA PCM name (default "default").
#include <QApplication>
#include <QScreen>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/Engine.h"
#include "output/AlsaDevice.h"
#include "output/AudioDevice.h"
#include "output/WavFileDevice.h"
#include "settings/Settings.h"
#include "ui/qt/QtMessageSink.h"
#include "ui/qt/QtWindowSystem.h"

using namespace brellin;

namespace {

// The device named by BRELLIN_AUDIO_DEVICE.
std::unique_ptr<AudioDevice> deviceFromEnvironment() {
    const char* name = std::getenv("BRELLIN_AUDIO_DEVICE");
    if (!name || !*name) return std::make_unique<AlsaDevice>("default");
    if (std::strcmp(name, "null") == 0) return createAudioDevice(AudioBackend::Null);
    if (std::strncmp(name, "wav:", 4) == 0) return std::make_unique<WavFileDevice>(name + 4);
    return std::make_unique<AlsaDevice>(name);
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // Whole-number scale factors only: a picture of a 1.5 screen would have
    // uneven pixels, one of 2 or more is shown at that integer multiple.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Floor);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Brellin"));

    QtWindowSystem system;
    QtMessageSink messages;
    Settings settings;
    ScreenSize screen;
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        screen.width = primary->geometry().width();
        screen.height = primary->geometry().height();
    }
    settings.loadSettings("Brellin.cfg", nullptr, 0, screen);

    Engine engine(settings, messages);
    engine.output.setDevice(deviceFromEnvironment());
    if (!engine.startAtProgramStart()) return 1;
    return 0;
}
