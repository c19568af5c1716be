#include "ui/dialogs/FileInformationDialog.h"

#include <cstdio>
#include <utility>

#include "midi/MidiFileInfo.h"
#include "ui/dialogs/DialogText.h"
#include "ui/dialogs/FileDialogTemplates.h"

namespace brellin {

FileInformationDialog::FileInformationDialog(WindowSystem& windowSystem, std::string file, std::int32_t at,
                                             std::int32_t entries)
    : Dialog(windowSystem), path(std::move(file)), position(at), count(entries) {}

std::string FileInformationDialog::sizeText(std::uint32_t playingTime, std::uint32_t fileSize) {
    char text[64];
    std::snprintf(text, sizeof text, "%u:%02u (%ubyte)", playingTime / 60000, (playingTime / 1000) % 60, fileSize);
    return text;
}

LResult FileInformationDialog::onInitDialog() {
    if (hwnd == nullptr) return 0;
    hwnd->setItemText(IDC_INFO_FILE_NAME, displayText(path).c_str());
    hwnd->setItemText(IDC_INFO_TITLE, "Unknown");
    hwnd->setItemText(IDC_INFO_COPYRIGHT, "Unknown");
    hwnd->setItemText(IDC_INFO_SIZE, "Unknown");
    char where[32];
    std::snprintf(where, sizeof where, "%d/%d", position + 1, count);
    hwnd->setItemText(IDC_INFO_POSITION, where);

    MidiFileInfo info;
    if (!scanMidiFile(path.c_str(), info)) {
        hwnd->messageBox(info.errorText, "ERROR", MB_OK | MB_ICONWARNING | MB_TOPMOST_BOX);
    }
    if (info.fileSize > 8) hwnd->setItemText(IDC_INFO_SIZE, sizeText(info.playingTime, info.fileSize).c_str());
    hwnd->setItemText(IDC_INFO_COPYRIGHT, displayText(fieldText(info.copyright, info.copyrightLength)).c_str());
    hwnd->setItemText(IDC_INFO_TITLE, displayText(fieldText(info.title, info.titleLength)).c_str());
    return 0;
}

LResult FileInformationDialog::onCommand(std::uint16_t, std::uint16_t id, LParam) {
    // Esc (IDCANCEL) and Enter (IDOK, the dialog has no buttons) close it.
    if (id == IDOK || id == IDCANCEL) {
        onClose();
        return 1;
    }
    return 0;
}

}  // namespace brellin
