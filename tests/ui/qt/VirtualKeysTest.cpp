#include "ui/qt/VirtualKeys.h"

#include <gtest/gtest.h>

#include <Qt>

using brellin::virtualKeyFromQt;

// The nine default key settings must come out of the keys a user presses.
TEST(VirtualKeys, DefaultPlayerKeys) {
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Left, false), 37);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Up, false), 38);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Right, false), 39);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Down, false), 40);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Return, false), 13);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Enter, true), 13);  // keypad Enter is Enter too
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Escape, false), 27);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Space, false), 32);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Comma, false), 188);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Period, false), 190);
    // With Shift held Qt reports the character; the key is still the same.
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Less, false), 188);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Greater, false), 190);
}

TEST(VirtualKeys, LettersDigitsFunctionKeysAndKeypad) {
    for (int i = 0; i < 26; ++i) EXPECT_EQ(virtualKeyFromQt(Qt::Key_A + i, false), 'A' + i);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(virtualKeyFromQt(Qt::Key_0 + i, false), '0' + i);
        EXPECT_EQ(virtualKeyFromQt(Qt::Key_0 + i, true), 96 + i);  // keypad digits
    }
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_F1, false), 112);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_F12, false), 123);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_F24, false), 135);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Plus, true), 107);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Minus, true), 109);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Minus, false), 189);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Exclam, false), '1');
    // Keypad arrows (Num Lock off) stay arrows.
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Left, true), 37);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_MediaTogglePlayPause, false), 179);
    // Lower-case letter codes and keys without a number give 0, never a
    // number that could match a setting by accident.
    EXPECT_EQ(virtualKeyFromQt('a', false), 0);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_unknown, false), 0);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Eacute, false), 0);
}
