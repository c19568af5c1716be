// Messages: the numbers of the window messages the framework routes and the
// flags of the host calls that take Windows-style flags (message boxes, popup
// menus, window placement). The program's own command and resource numbers
// are in its resources (ui/window/Resources.h).
//
// The numbers are the Win32 ones, kept as our own constants: the Qt hosts
// translate their events into them.
#pragma once

#include <cstdint>

namespace brellin {

// The three words of a message. WParam and LParam are pointer-sized, as the
// messages that carry a pointer (WM_NOTIFY, WM_COPYDATA) put it in lParam.
using MessageId = std::uint32_t;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
// A handler's result: nonzero means "handled".
using LResult = std::intptr_t;

// Window messages.
constexpr MessageId WM_DESTROY = 0x0002;
constexpr MessageId WM_SIZE = 0x0005;
constexpr MessageId WM_PAINT = 0x000F;
constexpr MessageId WM_CLOSE = 0x0010;
constexpr MessageId WM_QUIT = 0x0012;
constexpr MessageId WM_COPYDATA = 0x004A;
constexpr MessageId WM_NOTIFY = 0x004E;
constexpr MessageId WM_KEYDOWN = 0x0100;
constexpr MessageId WM_KEYUP = 0x0101;
constexpr MessageId WM_INITDIALOG = 0x0110;
constexpr MessageId WM_COMMAND = 0x0111;
constexpr MessageId WM_TIMER = 0x0113;
constexpr MessageId WM_HSCROLL = 0x0114;
constexpr MessageId WM_VSCROLL = 0x0115;
constexpr MessageId WM_MOUSEMOVE = 0x0200;
constexpr MessageId WM_LBUTTONDOWN = 0x0201;
constexpr MessageId WM_LBUTTONUP = 0x0202;
constexpr MessageId WM_LBUTTONDBLCLK = 0x0203;
constexpr MessageId WM_RBUTTONDOWN = 0x0204;
constexpr MessageId WM_RBUTTONUP = 0x0205;
// The wheel turned: wParam's high word the signed distance (WHEEL_DELTA a
// notch, up or away from the user positive), its low word the key state;
// lParam the client coordinates of the pointer.
constexpr MessageId WM_MOUSEWHEEL = 0x020A;
constexpr MessageId WM_DROPFILES = 0x0233;
constexpr MessageId WM_USER = 0x0400;

// Mouse key state of the mouse messages' wParam.
constexpr WParam MK_LBUTTON = 0x0001;
constexpr WParam MK_RBUTTON = 0x0002;
constexpr WParam MK_SHIFT = 0x0004;
constexpr WParam MK_CONTROL = 0x0008;

// One notch of a mouse wheel; finer wheels and touch pads send parts of it.
constexpr std::int32_t WHEEL_DELTA = 120;

// WM_SIZE types (wParam).
constexpr WParam SIZE_RESTORED = 0;
constexpr WParam SIZE_MINIMIZED = 1;

// The words of WM_COMMAND and of the mouse messages' lParam.
// A wheel message's wParam from its signed distance and key state.
constexpr WParam makeWheelWParam(std::int32_t delta, WParam keys) {
    return (static_cast<WParam>(static_cast<std::uint16_t>(static_cast<std::int16_t>(delta))) << 16) | (keys & 0xFFFF);
}
constexpr WParam makeCommandWParam(std::uint16_t code, std::uint16_t id) {
    return (static_cast<WParam>(code) << 16) | id;
}
// Client coordinates into a mouse message's lParam (each as 16 bits).
constexpr LParam makePointLParam(std::int32_t x, std::int32_t y) {
    return static_cast<LParam>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(y)) << 16) |
                               static_cast<std::uint16_t>(x));
}
constexpr std::uint16_t lowWord(std::uintptr_t v) { return static_cast<std::uint16_t>(v & 0xFFFF); }
constexpr std::uint16_t highWord(std::uintptr_t v) { return static_cast<std::uint16_t>((v >> 16) & 0xFFFF); }
// Mouse coordinates are signed 16-bit numbers (a captured mouse left of or
// above the window gives negative ones).
constexpr std::int32_t signedLowWord(std::uintptr_t v) { return static_cast<std::int16_t>(lowWord(v)); }
constexpr std::int32_t signedHighWord(std::uintptr_t v) { return static_cast<std::int16_t>(highWord(v)); }

// The record of WM_COPYDATA (lParam points to it while the message is sent).
struct CopyDataRecord {
    std::uintptr_t data = 0;  // the sender's tag
    std::uint32_t size = 0;   // bytes at `bytes`
    const void* bytes = nullptr;
};

// The record of WM_DROPFILES: the local paths dropped on a window, in the
// order they were dropped (lParam points to it while the message is sent;
// the paths belong to the sender).
struct DropFilesRecord {
    std::size_t count = 0;
    const char* const* paths = nullptr;
};

// The head of every WM_NOTIFY record (lParam points to it).
struct NotifyHeader {
    void* from = nullptr;    // the control's host handle
    std::uintptr_t id = 0;   // the control's identifier
    std::uint32_t code = 0;  // the notification (negative numbers as in Win32, stored unsigned)
};

// Message boxes: buttons, icons and default button, combined by '|'.
constexpr std::uint32_t MB_OK = 0x0000;
constexpr std::uint32_t MB_OKCANCEL = 0x0001;
constexpr std::uint32_t MB_YESNO = 0x0004;
constexpr std::uint32_t MB_ICONERROR = 0x0010;
constexpr std::uint32_t MB_ICONQUESTION = 0x0020;
constexpr std::uint32_t MB_ICONWARNING = 0x0030;
constexpr std::uint32_t MB_ICONINFORMATION = 0x0040;
constexpr std::uint32_t MB_DEFBUTTON1 = 0x0000;
constexpr std::uint32_t MB_DEFBUTTON2 = 0x0100;
constexpr std::uint32_t MB_BUTTON_MASK = 0x000F;
constexpr std::uint32_t MB_ICON_MASK = 0x00F0;
constexpr std::uint32_t MB_DEFBUTTON_MASK = 0x0F00;

// Results of message boxes and dialog buttons; IDOK and IDCANCEL are also the
// control ids of a dialog's OK and Cancel buttons.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Popup-menu alignment: the point is the menu's top-left corner by default.
constexpr std::uint32_t TPM_LEFTALIGN = 0x0000;
constexpr std::uint32_t TPM_TOPALIGN = 0x0000;
constexpr std::uint32_t TPM_RIGHTALIGN = 0x0008;
constexpr std::uint32_t TPM_BOTTOMALIGN = 0x0020;

// The main window's 100-ms display timer.
constexpr std::uintptr_t DISPLAY_TIMER_ID = 10;
constexpr std::uint32_t DISPLAY_TIMER_MS = 100;

// Window styles of the creation record.
constexpr std::uint32_t WS_POPUP = 0x80000000u;
constexpr std::uint32_t WS_VISIBLE = 0x10000000u;
constexpr std::uint32_t WS_BORDER = 0x00800000u;
constexpr std::uint32_t WS_SYSMENU = 0x00080000u;
// "Let the system choose" for a position or size.
constexpr std::int32_t CW_USEDEFAULT = static_cast<std::int32_t>(0x80000000u);

}  // namespace brellin
