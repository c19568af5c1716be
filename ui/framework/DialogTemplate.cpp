#include "ui/framework/DialogTemplate.h"

#include <vector>

#include "ui/framework/Messages.h"

namespace brellin {

const char* const versionLine = "Brellin 0.1.0";
const char* const versionDetail = "MIDI file player with its own wavetable synthesizer";

namespace {

// Template 106: the version dialog. The icon and both lines on the left,
// the OK button at the right.
constexpr ControlTemplate VERSION_CONTROLS[] = {
    {ControlClass::Icon, IDC_STATIC, "", {7, 7, 20, 20}, 0},
    {ControlClass::Static, IDC_VERSION_LINE, "", {34, 8, 140, 10}, 0},
    {ControlClass::Edit, IDC_VERSION_DETAIL, "", {34, 22, 140, 12}, EDIT_READONLY | EDIT_AUTOHSCROLL | STYLE_TABSTOP},
    {ControlClass::DefButton, IDOK, "OK", {182, 7, 50, 14}, STYLE_TABSTOP | STYLE_GROUP},
};

constexpr DialogTemplate VERSION_TEMPLATE{
    IDD_VERSION, "Version info.", {0, 0, 239, 42}, "MS Gothic", 9,
    VERSION_CONTROLS, static_cast<std::int32_t>(sizeof VERSION_CONTROLS / sizeof VERSION_CONTROLS[0])};

std::vector<const DialogTemplate*>& registry() {
    static std::vector<const DialogTemplate*> templates{&VERSION_TEMPLATE};
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
