// QtWindowSystem: the window framework's platform on Qt 6 Widgets. It
// creates the top-level windows (QtWindowHost) and runs the dialogs
// (QtDialogHost) from their template tables, keeps the window classes,
// carries posted messages from any thread to the user-interface thread, and
// runs the message loop.
//
// Messages posted from engine threads go through QCoreApplication::postEvent
// to the system's mailbox, a QObject that lives as long as the system; it
// looks the window up by its serial number on the user-interface thread and
// drops the message when the window is gone. So a listener may post while
// the window closes without touching a dead widget.
//
// Needs a QApplication; one per program, made on the user-interface thread.
// The program's QApplication must not quit when its last window closes
// (QApplication::setQuitOnLastWindowClosed(false)): only postQuitMessage ends
// the loop, as only the main window's destruction does.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "ui/framework/Host.h"
#include "ui/qt/DisplayPower.h"

namespace brellin {

class QtWindowHost;
class XcbPresenter;

class QtWindowSystem : public WindowSystem {
public:
    QtWindowSystem();
    ~QtWindowSystem() override;

    bool registerWindowClass(const char* className, WindowProcedure procedure) override;
    WindowHost* createWindow(const CreationRecord& record) override;
    std::intptr_t dialogBox(std::uint16_t templateId, ControlHost* owner) override;
    void postQuitMessage(int exitCode) override;
    std::uint32_t tickCount() const override;
    Point screenSize() const override;
    Point cursorPos() const override;
    bool displayPowerSupported() override;
    bool setDisplayPower(bool on) override;

    // The message loop: returns the exit code once postQuitMessage was called
    // (at once if it already was).
    int run();
    bool quitPosted() const { return quitRequested; }

    // Any thread: queues a message for the window with that serial number.
    void post(std::uint64_t windowSerial, MessageId msg, WParam wParam, LParam lParam);
    // User-interface thread: a host joins or leaves the delivery of posted messages.
    std::uint64_t enroll(QtWindowHost* host);
    void leave(std::uint64_t windowSerial);
    // The direct path to the X server's windows, shared by all hosts; null
    // on other platforms (made on first use).
    XcbPresenter* presenter();

private:
    class Mailbox : public QObject {
    public:
        explicit Mailbox(QtWindowSystem& owner) : system(owner) {}
        bool event(QEvent* event) override;

    private:
        QtWindowSystem& system;
    };

    std::map<std::string, WindowProcedure> classes;
    std::map<std::uint64_t, QtWindowHost*> liveWindows;
    std::uint64_t nextSerial = 1;
    Mailbox mailbox;
    bool quitRequested = false;
    bool running = false;  // inside run()
    int exitCode = 0;
    DisplayPower displayPower;
    std::unique_ptr<XcbPresenter> xcbPresenter;
    bool presenterChecked = false;
};

}  // namespace brellin
