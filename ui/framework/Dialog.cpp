#include "ui/framework/Dialog.h"

#include "ui/framework/Routing.h"

namespace brellin {

Dialog* Dialog::openingDialog = nullptr;

Dialog::Dialog(WindowSystem& windowSystem) : system(windowSystem) {}

Dialog::~Dialog() {
    control.restore();
    if (openingDialog == this) openingDialog = nullptr;
}

bool Dialog::create() {
    lastError = RESULT_UNSUPPORTED_DATA;
    return false;
}

void Dialog::invalidate() {
    if (hwnd != nullptr) hwnd->invalidateAll();
}

LResult Dialog::onMessage(MessageId msg, WParam wParam, LParam lParam) { return routeMessage(msg, wParam, lParam); }

LResult Dialog::show() {
    if (hwnd != nullptr) hwnd->showWindow();
    return 1;
}

LResult Dialog::onDestroy() {
    hwnd = nullptr;
    return 1;
}

LResult Dialog::onCommand(std::uint16_t, std::uint16_t id, LParam) {
    if (id == IDOK) {
        onClose();
        return 1;
    }
    return 0;
}

LResult Dialog::onLButtonDown(WParam, std::int32_t, std::int32_t) { return 1; }
LResult Dialog::onLButtonUp(WParam, std::int32_t, std::int32_t) { return 1; }
LResult Dialog::onRButtonDown(WParam, std::int32_t, std::int32_t) { return 1; }
LResult Dialog::onRButtonUp(WParam, std::int32_t, std::int32_t) { return 1; }
LResult Dialog::onMouseMove(WParam, std::int32_t, std::int32_t) { return 1; }
LResult Dialog::onMouseWheel(WParam, std::int32_t, std::int32_t, std::int32_t) { return 1; }
LResult Dialog::onKeyDown(WParam, LParam) { return 1; }
LResult Dialog::onKeyUp(WParam, LParam) { return 1; }

LResult Dialog::onClose() {
    endDialog();
    hwnd = nullptr;
    return 1;
}

LResult Dialog::onPaint() { return 0; }
LResult Dialog::onTimer(std::uintptr_t) { return 1; }
LResult Dialog::onSize(WParam, std::uint32_t, std::uint32_t) { return 1; }
LResult Dialog::onNotify(WParam, LParam) { return 1; }

bool Dialog::doModal(ControlHost* parentHandle, std::uint16_t id) {
    parent = parentHandle;
    templateId = id;
    openingDialog = this;
    system.dialogBox(id, parentHandle);
    if (openingDialog == this) openingDialog = nullptr;
    return true;
}

LResult Dialog::onInitDialog() { return 0; }

void Dialog::endDialog() {
    if (hwnd != nullptr) hwnd->endDialog(0);
}

LResult Dialog::routeMessage(MessageId msg, WParam wParam, LParam lParam) {
    return routeToHandler(*this, msg, wParam, lParam);
}

LResult Dialog::dialogProcedure(ControlHost* handle, MessageId msg, WParam wParam, LParam lParam) {
    auto* host = static_cast<DialogHost*>(handle);
    if (host == nullptr) return 0;
    if (msg == WM_INITDIALOG) {
        Dialog* dialog = openingDialog;
        openingDialog = nullptr;
        if (dialog == nullptr) return 0;
        host->setDialogData(dialog);
        dialog->hwnd = host;
        dialog->control.attach(host);
        dialog->onInitDialog();
        // Zero: the system sets no default focus; onInitDialog sets it.
        return 0;
    }
    Dialog* dialog = host->dialogData();
    return dialog != nullptr ? dialog->onMessage(msg, wParam, lParam) : 0;
}

}  // namespace brellin
