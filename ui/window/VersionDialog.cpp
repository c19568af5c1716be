#include "ui/window/VersionDialog.h"

#include "ui/window/MainWindow.h"
#include "ui/window/Resources.h"

namespace brellin {

LResult VersionDialog::onInitDialog() {
    if (hwnd != nullptr) {
        hwnd->setItemText(IDC_VERSION_LINE, versionLine);
        hwnd->setItemText(IDC_VERSION_DETAIL, versionDetail);
        hwnd->setFocus(IDC_VERSION_DETAIL);
    }
    return 0;
}

LResult VersionDialog::onCommand(std::uint16_t, std::uint16_t id, LParam) {
    // Esc arrives as IDCANCEL; both it and OK close the dialog.
    if (id == IDOK || id == IDCANCEL) {
        onClose();
        return 1;
    }
    return 0;
}

void registerVersionDialog(DialogRegistry& registry, WindowSystem& system) {
    registry.add(IDM_VERSION, {&VERSION_TEMPLATE}, [&system](MainWindow& window) {
        VersionDialog version(system);
        version.doModal(window.hwnd, IDD_VERSION);
    });
}

}  // namespace brellin
