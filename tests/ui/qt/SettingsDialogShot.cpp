// settings-dialog-shot TEMPLATE [SECONDS]: opens the Configure (118, 103) or
// Play mode (107) dialog over the build folder's sound fonts and skins and
// closes it with Esc after SECONDS (default 3), for a screenshot of the
// screen while it is open (xvfb-run ... & import -window root).
#include <QApplication>
#include <QTimer>
#include <cstdlib>

#include "ui/dialogs/ConfigureDialog.h"
#include "ui/dialogs/PlayModeDialog.h"
#include "ui/dialogs/SettingsTemplates.h"
#include "ui/qt/QtDialogHost.h"
#include "ui/qt/QtWindowSystem.h"

using namespace brellin;

namespace {

template <class Base>
class Timed : public Base {
public:
    using Base::Base;
    int seconds = 3;
    LResult onInitDialog() override {
        const LResult result = Base::onInitDialog();
        QDialog* widget = static_cast<QtDialogHost*>(this->hwnd)->widget();
        widget->move(20, 20);
        QTimer::singleShot(seconds * 1000, widget, [this] {
            this->hwnd->windowProcedure()(this->hwnd, WM_COMMAND, makeCommandWParam(0, IDCANCEL), 0);
        });
        return result;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) return 2;
    const auto layout = static_cast<std::uint16_t>(std::atoi(argv[1]));
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 3;
    registerSettingsTemplates();
    QtWindowSystem system;
    Settings settings;
    const std::string folder = BRELLIN_BINARY_DIR "/";
    if (layout == IDD_PLAY_MODE) {
        Timed<PlayModeDialog> dialog(system, settings, folder, nullptr);
        dialog.seconds = seconds;
        dialog.doModal(nullptr, layout);
    } else {
        Timed<ConfigureDialog> dialog(system, settings, folder);
        dialog.seconds = seconds;
        dialog.doModal(nullptr, layout);
    }
    return 0;
}
