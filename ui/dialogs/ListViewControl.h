// ListViewControl: the subclass of the list view 1002 in the file browser
// and the play-list dialog.
//
// Only the up and down arrows reach the list view; every other key goes to
// the dialog's onMessage instead (which ignores it), so typing never jumps
// the selection. A left double click is the dialog's command 1 (ADD, Ok, or
// playing the chosen entry). Everything else is the list view's own
// handling. User-interface thread only; lives inside its dialog.
#pragma once

#include "ui/framework/Control.h"
#include "ui/framework/Dialog.h"

namespace brellin {

class ListViewControl : public Control {
public:
    // Virtual-key codes of the arrows that stay with the list view.
    static constexpr WParam VK_UP = 38;
    static constexpr WParam VK_DOWN = 40;

    explicit ListViewControl(Dialog& owner) : dialog(owner) {}

    LResult windowProc(MessageId msg, WParam wParam, LParam lParam) override;

private:
    Dialog& dialog;
};

}  // namespace brellin
