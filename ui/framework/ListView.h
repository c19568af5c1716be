// The list-view control's notification and item states (Win32 numbers),
// as the dialogs that show files receive them through WM_NOTIFY.
#pragma once

#include <cstdint>

#include "ui/framework/Messages.h"

namespace brellin {

// LVN_ITEMCHANGED (-101): an item's state changed.
constexpr std::uint32_t LVN_ITEMCHANGED = static_cast<std::uint32_t>(-101);

// Item states (LVIS_*).
constexpr std::uint32_t LVIS_FOCUSED = 0x0001;
constexpr std::uint32_t LVIS_SELECTED = 0x0002;

// The record of LVN_ITEMCHANGED (the part of NMLISTVIEW the program reads).
struct ListViewNotify {
    NotifyHeader header;
    std::int32_t item = -1;
    std::uint32_t newState = 0;
    std::uint32_t oldState = 0;
};

// The icons of the file dialogs' image list (resources 109, 110, 111).
enum ListViewIcon : int {
    LIST_ICON_FILE = 0,
    LIST_ICON_FOLDER = 1,
    LIST_ICON_GO_UP = 2,
    // The play list's entry that is playing.
    LIST_ICON_PLAYING = 3,
};

}  // namespace brellin
