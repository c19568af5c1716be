#include "ui/window/DialogRegistry.h"

#include <utility>

namespace brellin {

void DialogRegistry::add(std::uint16_t command, std::initializer_list<const DialogTemplate*> templates, Run run) {
    for (const DialogTemplate* dialogTemplate : templates) registerDialogTemplate(*dialogTemplate);
    for (Entry& entry : entries) {
        if (entry.command == command) {
            entry.run = std::move(run);
            return;
        }
    }
    entries.push_back(Entry{command, std::move(run)});
}

bool DialogRegistry::provides(std::uint16_t command) const {
    const Entry* entry = find(command);
    return entry != nullptr && entry->run;
}

bool DialogRegistry::run(std::uint16_t command, MainWindow& window) const {
    if (!provides(command)) return false;
    find(command)->run(window);
    return true;
}

const DialogRegistry::Entry* DialogRegistry::find(std::uint16_t command) const {
    for (const Entry& entry : entries) {
        if (entry.command == command) return &entry;
    }
    return nullptr;
}

}  // namespace brellin
