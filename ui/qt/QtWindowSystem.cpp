#include "ui/qt/QtWindowSystem.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QScreen>
#include <chrono>

#include "ui/framework/Dialog.h"
#include "ui/framework/DialogTemplate.h"
#include "ui/qt/QtDialogHost.h"
#include "ui/qt/QtWindowHost.h"
#include "ui/qt/XcbPresenter.h"

namespace brellin {

namespace {

// A message on its way from any thread to the user-interface thread.
class PostedMessage : public QEvent {
public:
    static QEvent::Type kind() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    PostedMessage(std::uint64_t window, MessageId message, WParam w, LParam l)
        : QEvent(kind()), windowSerial(window), msg(message), wParam(w), lParam(l) {}

    std::uint64_t windowSerial;
    MessageId msg;
    WParam wParam;
    LParam lParam;
};

}  // namespace

QtWindowSystem::QtWindowSystem() : mailbox(*this) {
    PostedMessage::kind();  // registered here, on the user-interface thread, not first by an engine thread
}

QtWindowSystem::~QtWindowSystem() = default;

bool QtWindowSystem::registerWindowClass(const char* className, WindowProcedure procedure) {
    if (!className || !procedure) return false;
    classes[className] = procedure;
    return true;
}

WindowHost* QtWindowSystem::createWindow(const CreationRecord& record) {
    auto found = classes.find(record.className ? record.className : "");
    if (found == classes.end()) return nullptr;
    return new QtWindowHost(*this, found->second, record);
}

std::intptr_t QtWindowSystem::dialogBox(std::uint16_t templateId, ControlHost* owner) {
    const DialogTemplate* layout = findDialogTemplate(templateId);
    if (!layout) return -1;
    QWidget* ownerWidget = nullptr;
    if (auto* window = dynamic_cast<QtWindowHost*>(owner)) ownerWidget = window->widget();
    if (auto* dialog = dynamic_cast<QtDialogHost*>(owner)) ownerWidget = dialog->widget();
    QtDialogHost host(*layout, ownerWidget, &Dialog::dialogProcedure, this);
    NestedLoop loop(*this, [&host] { host.cancel(); });
    if (loop.refused()) return IDCANCEL;
    return host.run();
}

void QtWindowSystem::postQuitMessage(int code) {
    quitRequested = true;
    exitCode = code;
    // Ends the running loop (and any modal loop inside it) once the current
    // event is done. Outside run() only the flag is left for run() to see:
    // QCoreApplication::exit there would make every later modal loop (a
    // message box at exit) return at once.
    if (running) QCoreApplication::exit(code);
}

int QtWindowSystem::run() {
    if (quitRequested) return exitCode;
    running = true;
    int code = QApplication::exec();
    running = false;
    return quitRequested ? exitCode : code;
}

std::uint32_t QtWindowSystem::tickCount() const {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

Point QtWindowSystem::screenSize() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return Point{};
    QRect geometry = screen->geometry();  // logical pixels
    return Point{geometry.width(), geometry.height()};
}

Point QtWindowSystem::cursorPos() const {
    QPoint p = QCursor::pos();
    return Point{p.x(), p.y()};
}

bool QtWindowSystem::displayPowerSupported() { return displayPower.available(); }

bool QtWindowSystem::setDisplayPower(bool on) { return displayPower.setOn(on); }

void QtWindowSystem::post(std::uint64_t windowSerial, MessageId msg, WParam wParam, LParam lParam) {
    // postEvent is thread-safe and the mailbox outlives every window.
    QCoreApplication::postEvent(&mailbox, new PostedMessage(windowSerial, msg, wParam, lParam));
}

std::uint64_t QtWindowSystem::enroll(QtWindowHost* host) {
    std::uint64_t serial = nextSerial++;
    liveWindows[serial] = host;
    return serial;
}

void QtWindowSystem::leave(std::uint64_t windowSerial) { liveWindows.erase(windowSerial); }

XcbPresenter* QtWindowSystem::presenter() {
    if (!presenterChecked) {
        presenterChecked = true;
        xcbPresenter = XcbPresenter::forApplication();
    }
    return xcbPresenter.get();
}

bool QtWindowSystem::Mailbox::event(QEvent* event) {
    if (event->type() != PostedMessage::kind()) return QObject::event(event);
    auto* posted = static_cast<PostedMessage*>(event);
    auto found = system.liveWindows.find(posted->windowSerial);
    // A window that is gone drops what was posted to it.
    if (found != system.liveWindows.end()) found->second->sendMessage(posted->msg, posted->wParam, posted->lParam);
    return true;
}

}  // namespace brellin
