#include "ui/dialogs/SettingsBinding.h"

#include <algorithm>
#include <cstdio>

namespace brellin {

void fillChoiceList(DialogHost& host, int id, const char* const* texts, std::int32_t count, std::int32_t selected) {
    host.resetItems(id);
    for (std::int32_t i = 0; i < count; ++i) host.addItem(id, texts[i]);
    host.selectItem(id, std::clamp<std::int32_t>(selected, 0, count - 1));
}

void fillBoundControls(DialogHost& host, const Settings& settings, std::span<const SettingBinding> table) {
    for (const SettingBinding& binding : table) {
        const std::int32_t value = settings.*binding.field;
        if (binding.count == 0) {
            host.setChecked(binding.controlId, value != 0);
        } else if (binding.texts != nullptr) {
            fillChoiceList(host, binding.controlId, binding.texts, binding.count, value - binding.first);
        } else {
            host.resetItems(binding.controlId);
            for (std::int32_t i = 0; i < binding.count; ++i) {
                char text[16];
                std::snprintf(text, sizeof text, "%d", binding.first + i);
                host.addItem(binding.controlId, text);
            }
            host.selectItem(binding.controlId, std::clamp<std::int32_t>(value - binding.first, 0, binding.count - 1));
        }
    }
}

bool storeBoundControls(const DialogHost& host, Settings& settings, std::span<const SettingBinding> table) {
    bool changed = false;
    for (const SettingBinding& binding : table) {
        std::int32_t& field = settings.*binding.field;
        if (binding.count == 0) {
            const std::int32_t checked = host.isChecked(binding.controlId) ? 1 : 0;
            if (checked != (field != 0 ? 1 : 0)) changed = true;
            field = checked;
            continue;
        }
        const int position = host.selectedItem(binding.controlId);
        if (position < 0 || position >= binding.count) continue;
        const std::int32_t value = position + binding.first;
        if (value != field) changed = true;
        field = value;
    }
    return changed;
}

}  // namespace brellin
