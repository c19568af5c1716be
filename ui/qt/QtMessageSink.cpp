#include "ui/qt/QtMessageSink.h"

#include <QApplication>
#include <QMessageBox>

namespace brellin {

void QtMessageSink::showMessageBox(const char* text, const char* caption) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption), QString::fromUtf8(text), QMessageBox::Ok);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

void QtMessageSink::setBusy(bool busy) {
    if (busy == busyShown) return;
    busyShown = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

}  // namespace brellin
