// SettingsBinding: the list boxes and check boxes of the settings dialogs as
// a table of the Settings fields they show. A dialog fills its controls from
// the table when it opens and stores them through it when its choices apply
// (Configure's OK, Play mode's close); nothing is stored before that.
#pragma once

#include <cstdint>
#include <span>

#include "settings/Settings.h"
#include "ui/framework/Host.h"

namespace brellin {

struct SettingBinding {
    int controlId;
    std::int32_t Settings::*field;
    // A list box: its texts, or null for the numbers first..first+count-1;
    // a check box: count 0.
    const char* const* texts;
    std::int32_t count;
    // The field's value of the list's first entry.
    std::int32_t first = 0;
};

// A drop-down list of `count` texts with entry `selected` (limited to the list) chosen.
void fillChoiceList(DialogHost& host, int id, const char* const* texts, std::int32_t count, std::int32_t selected);

void fillBoundControls(DialogHost& host, const Settings& settings, std::span<const SettingBinding> table);

// Stores the controls' state; a list without a selection keeps its field.
// Whether a field changed (a check box counts only a change between off and on).
bool storeBoundControls(const DialogHost& host, Settings& settings, std::span<const SettingBinding> table);

}  // namespace brellin
