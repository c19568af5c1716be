#include "ui/qt/QtMessageSink.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <optional>

#include "ui/framework/Host.h"

namespace brellin {

void QtMessageSink::showMessageBox(const char* text, const char* caption) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption), QString::fromUtf8(text), QMessageBox::Ok);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

void BusyCursor::show(bool busy) {
    if (busy == shown) return;
    shown = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

int showQtMessageBox(WindowSystem* system, QWidget* owner, const char* text, const char* caption, std::uint32_t flags) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (flags & MB_ICON_MASK) {
        case MB_ICONERROR: icon = QMessageBox::Critical; break;
        case MB_ICONQUESTION: icon = QMessageBox::Question; break;
        case MB_ICONWARNING: icon = QMessageBox::Warning; break;
        case MB_ICONINFORMATION: icon = QMessageBox::Information; break;
        default: break;
    }
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton first = QMessageBox::Ok, second = QMessageBox::NoButton;
    switch (flags & MB_BUTTON_MASK) {
        case MB_OKCANCEL:
            buttons = QMessageBox::Ok | QMessageBox::Cancel;
            second = QMessageBox::Cancel;
            break;
        case MB_YESNO:
            buttons = QMessageBox::Yes | QMessageBox::No;
            first = QMessageBox::Yes;
            second = QMessageBox::No;
            break;
        default: break;
    }
    // On the heap as the owner's child: an owner destroyed while the box runs
    // takes the box with it, and the answer is Cancel.
    QPointer<QMessageBox> box = new QMessageBox(icon, QString::fromUtf8(caption ? caption : ""),
                                                QString::fromUtf8(text ? text : ""), buttons, owner);
    box->setDefaultButton((flags & MB_DEFBUTTON_MASK) == MB_DEFBUTTON2 && second != QMessageBox::NoButton ? second
                                                                                                          : first);
    // Closed from outside (the program is asked to end), the box answers as
    // its Esc key would: No where it asks yes or no, else Cancel.
    const int cancelled = (flags & MB_BUTTON_MASK) == MB_YESNO ? IDNO : IDCANCEL;
    std::optional<WindowSystem::NestedLoop> loop;
    if (system != nullptr) {
        loop.emplace(*system, [box] {
            if (box) box->done(QMessageBox::Cancel);
        });
        if (loop->refused()) {
            delete box;
            return cancelled;
        }
    }
    int answer = box->exec();
    if (!box) return IDCANCEL;
    delete box;
    if (loop && loop->closed()) return cancelled;
    switch (answer) {
        case QMessageBox::Yes: return IDYES;
        case QMessageBox::No: return IDNO;
        case QMessageBox::Cancel: return IDCANCEL;
        default: return IDOK;
    }
}

}  // namespace brellin
