// FileInformationDialog: "File Information" (template 115) for one file of
// the play list: its path, title, copyright, playing time and size, and its
// place in the list ("%d/%d"). No buttons: the close box or Esc closes it.
//
// Opened by the play-list dialog's Info button with a copy of the entry's
// path (the play-list lock is not held while it is open). Measures the file
// with scanMidiFile on the user-interface thread when it opens.
#pragma once

#include <cstdint>
#include <string>

#include "ui/framework/Dialog.h"

namespace brellin {

// MB_TOPMOST: the box stays above other windows.
constexpr std::uint32_t MB_TOPMOST_BOX = 0x00040000u;

class FileInformationDialog : public Dialog {
public:
    // The entry `file` at `at` (0-based) of a list of `entries`.
    FileInformationDialog(WindowSystem& system, std::string file, std::int32_t at, std::int32_t entries);

    LResult onInitDialog() override;
    LResult onCommand(std::uint16_t code, std::uint16_t id, LParam lParam) override;

    // "%d:%02d (%dbyte)" of a playing time in ms and a size in bytes.
    static std::string sizeText(std::uint32_t playingTime, std::uint32_t fileSize);

private:
    std::string path;
    std::int32_t position;
    std::int32_t count;
};

}  // namespace brellin
