// VersionDialog: "Version info. ...." of the main menu (template 106). It
// shows the version line and a second line in a read-only field that takes
// the focus; OK or Esc closes it. Lives on the stack of the command.
#pragma once

#include "ui/framework/Dialog.h"
#include "ui/window/DialogRegistry.h"

namespace brellin {

class VersionDialog : public Dialog {
public:
    using Dialog::Dialog;

    LResult onInitDialog() override;
    LResult onCommand(std::uint16_t code, std::uint16_t id, LParam lParam) override;
};

// Registers "Version info. ...." (40001) and its template.
void registerVersionDialog(DialogRegistry& registry, WindowSystem& system);

}  // namespace brellin
