// The program's message boxes and wait cursor on Qt, in one place: the
// boxes windows and dialogs own (showQtMessageBox), the owner-less start-up
// messages (QtMessageSink) and the wait cursor both show while a sound font
// loads or a list is measured (BusyCursor).
//
// A start-up message is a QMessageBox with the given caption and text, an OK
// button, no owner window and the stay-on-top flag; it is modal and returns
// when the user has pressed OK. User-interface thread only; needs a QApplication.
#pragma once

#include <cstdint>

#include "engine/Messages.h"

class QWidget;

namespace brellin {

class WindowSystem;

// A message box over `owner` (may be null): MB_* flags in, IDOK, IDCANCEL,
// IDYES or IDNO out.
int showQtMessageBox(WindowSystem* system, QWidget* owner, const char* text, const char* caption, std::uint32_t flags);

// The wait cursor over the whole program while shown; set twice, shown once.
class BusyCursor {
public:
    ~BusyCursor() { show(false); }
    void show(bool busy);

private:
    bool shown = false;
};

class QtMessageSink : public MessageSink {
public:
    void showMessageBox(const char* text, const char* caption) override;
    void setBusy(bool busy) override { cursor.show(busy); }

private:
    BusyCursor cursor;
};

}  // namespace brellin
