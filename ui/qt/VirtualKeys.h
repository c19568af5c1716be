// VirtualKeys: Qt key codes as the Windows virtual-key numbers that the
// settings file keeps ("KeyCodeForPlay=13" and so on) and the main window
// compares against.
//
// Pure functions, any thread.
#pragma once

#include <cstdint>

namespace brellin {

// The virtual-key number of a Qt key (`Qt::Key` value): 13 Enter (both
// Return and the keypad's Enter), 27 Esc, 32 space, 37-40 the arrows, 188
// comma, 190 full stop, letters and digits as their ASCII capitals, F1-F24
// as 112-135, and so on. `keypad` is true when Qt reports the key with the
// keypad modifier: the keypad's digits and operators have numbers of their
// own (96-111). Characters typed with Shift map to the key that carries them
// on a US keyboard ('<' is the comma key, '!' the 1 key), as Windows reports
// the key, not the character. 0 for a key without a virtual-key number.
std::int32_t virtualKeyFromQt(int qtKey, bool keypad);

}  // namespace brellin
