// ListViewControl: the subclass of the list view 1002 in the file browser
// and the play-list dialog.
//
// Only the up and down arrows reach the list view; every other key goes to
// the dialog's onMessage instead (which ignores it), so typing never jumps
// the selection. A browser of folders sets `browsingKeys`: then Home, End,
// Page Up, Page Down and the keys of letters, digits and punctuation reach
// the list view too (the last ones jump to the first name they begin). A left double click is the dialog's command 1
// (ADD, Ok, or playing the chosen entry). Everything else is the list view's own handling. User-interface thread only;
// lives inside its dialog.
#pragma once

#include "ui/framework/Control.h"
#include "ui/framework/Dialog.h"

namespace brellin {

class ListViewControl : public Control {
public:
    // Virtual-key codes of the arrows that stay with the list view.
    static constexpr WParam VK_UP = 38;
    static constexpr WParam VK_DOWN = 40;
    static constexpr WParam VK_PRIOR = 33;  // Page Up
    static constexpr WParam VK_HOME = 36;

    // Whether the list view takes the browsing keys (see above).
    bool browsingKeys = false;
    // Whether `virtualKey` goes to the list view.
    bool passesToList(WParam virtualKey) const;

    explicit ListViewControl(Dialog& owner) : dialog(owner) {}

    LResult windowProc(MessageId msg, WParam wParam, LParam lParam) override;

private:
    Dialog& dialog;
};

}  // namespace brellin
