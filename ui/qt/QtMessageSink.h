// QtMessageSink: the engine's start-up messages as message boxes.
//
// Each message is a QMessageBox with the given caption and text, an OK
// button, no owner window and the stay-on-top flag; it is modal and returns
// when the user has pressed OK. `setBusy` shows the wait cursor while the
// sound font loads. User-interface thread only; needs a QApplication.
#pragma once

#include "engine/Messages.h"

namespace brellin {

class QtMessageSink : public MessageSink {
public:
    void showMessageBox(const char* text, const char* caption) override;
    void setBusy(bool busy) override;

private:
    bool busyShown = false;
};

}  // namespace brellin
