#include "ui/framework/DialogTemplate.h"

#include <vector>

namespace brellin {

namespace {

std::vector<const DialogTemplate*>& registry() {
    static std::vector<const DialogTemplate*> templates;
    return templates;
}

}  // namespace

const DialogTemplate* findDialogTemplate(std::uint16_t id) {
    for (const DialogTemplate* entry : registry()) {
        if (entry->id == id) return entry;
    }
    return nullptr;
}

void registerDialogTemplate(const DialogTemplate& dialogTemplate) {
    for (const DialogTemplate*& entry : registry()) {
        if (entry->id == dialogTemplate.id) {
            entry = &dialogTemplate;
            return;
        }
    }
    registry().push_back(&dialogTemplate);
}

}  // namespace brellin
