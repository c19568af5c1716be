// DialogRegistry: the main window's commands whose work is a dialog. A dialog
// registers itself once: the command that opens it, the templates it is built
// from and the function that runs it, so a new dialog is its own files and
// one registration line. The window guards a registered command with
// `modalOpen` and shows the command items nobody registered disabled.
//
// User-interface thread only; register before the window's menu is first
// shown (the templates become known to findDialogTemplate at once).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "ui/framework/DialogTemplate.h"

namespace brellin {

class MainWindow;

class DialogRegistry {
public:
    // Runs the dialog flow of the command (modalOpen is already set).
    using Run = std::function<void(MainWindow& window)>;

    // Registers `command`, replacing an earlier registration of it, and
    // makes its templates known to findDialogTemplate.
    void add(std::uint16_t command, std::initializer_list<const DialogTemplate*> templates, Run run);

    bool provides(std::uint16_t command) const;
    // Runs the command's dialog; false (and nothing happens) if none is registered.
    bool run(std::uint16_t command, MainWindow& window) const;

private:
    struct Entry {
        std::uint16_t command;
        Run run;
    };
    const Entry* find(std::uint16_t command) const;

    std::vector<Entry> entries;
};

}  // namespace brellin
