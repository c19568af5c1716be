// The Qt hosts with small windows and dialogs of the test's own, on Qt's
// offscreen platform: events in as the framework's messages, requests out
// as Qt calls.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <thread>
#include <vector>

#include "tests/ui/qt/QtTestApp.h"
#include "ui/framework/Dialog.h"
#include "ui/framework/Menu.h"
#include "ui/framework/Window.h"
#include "ui/qt/QtDialogHost.h"
#include "ui/qt/QtWindowHost.h"
#include "ui/qt/QtWindowSystem.h"
#include "ui/window/Resources.h"

using namespace brellin;

namespace {

struct Message {
    MessageId msg;
    WParam wParam;
    LParam lParam;
};

// Records every message; draws a red block on a click; keeps its window
// when asked to close (unless allowed).
class RecordingWindow : public Window {
public:
    using Window::Window;
    std::vector<Message> messages;
    bool allowClose = false;

    LResult preCreate(CreationRecord& record) override {
        record.style = WS_POPUP;
        record.x = 40;
        record.y = 30;
        record.width = 120;
        record.height = 60;
        return 1;
    }
    LResult onMessage(MessageId msg, WParam wParam, LParam lParam) override {
        if (msg != WM_PAINT) messages.push_back({msg, wParam, lParam});
        return Window::onMessage(msg, wParam, lParam);
    }
    LResult onLButtonDown(WParam, std::int32_t x, std::int32_t y) override {
        backBuffer->fillRect(x, y, x + 8, y + 4, Colour{255, 0, 0});
        invalidate();
        return 1;
    }
    LResult onClose() override { return allowClose ? Window::onClose() : 1; }

    std::vector<Message> taken(MessageId msg) const {
        std::vector<Message> out;
        for (const Message& m : messages) {
            if (m.msg == msg) out.push_back(m);
        }
        return out;
    }
};

QWidget* widgetOf(Window& window) { return static_cast<QtWindowHost*>(window.hwnd)->widget(); }

bool shows(QWidget* widget, const Surface& surface) {
    QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB555);
    if (image.width() != surface.width() || image.height() != surface.height()) return false;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((row[x] & 0x7fff) != surface.pixel(x, y)) return false;
        }
    }
    return true;
}

}  // namespace

// Mouse and keys arrive as the window's messages, in client coordinates and
// virtual-key numbers; the picture on screen is the back buffer.
TEST(QtWindowHost, MouseKeysAndPaint) {
    brellin::testing::qtApp();
    QtWindowSystem system;
    RecordingWindow window(system);
    ASSERT_TRUE(window.create());
    QWidget* widget = widgetOf(window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget));
    EXPECT_EQ(widget->geometry(), QRect(40, 30, 120, 60));
    EXPECT_TRUE(widget->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window.backBuffer->width(), 120);

    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, QPoint(17, 9));
    QTest::mouseMove(widget, QPoint(30, 20));
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, QPoint(31, 21));
    auto down = window.taken(WM_LBUTTONDOWN);
    auto up = window.taken(WM_LBUTTONUP);
    ASSERT_EQ(down.size(), 1u);
    ASSERT_EQ(up.size(), 1u);
    EXPECT_EQ(signedLowWord(static_cast<std::uintptr_t>(down[0].lParam)), 17);
    EXPECT_EQ(signedHighWord(static_cast<std::uintptr_t>(down[0].lParam)), 9);
    EXPECT_TRUE(down[0].wParam & MK_LBUTTON);
    EXPECT_EQ(signedLowWord(static_cast<std::uintptr_t>(up[0].lParam)), 31);
    EXPECT_FALSE(window.taken(WM_MOUSEMOVE).empty());
    QTest::mouseClick(widget, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(window.taken(WM_RBUTTONDOWN).size(), 1u);
    EXPECT_EQ(window.taken(WM_RBUTTONUP).size(), 1u);

    // The click drew into the back buffer; only that reaches the screen.
    QCoreApplication::processEvents();
    EXPECT_EQ(window.backBuffer->pixel(17, 9), (Colour{255, 0, 0}.toPixel()));
    EXPECT_TRUE(shows(widget, *window.backBuffer));

    window.messages.clear();
    QTest::keyClick(widget, Qt::Key_Return);
    QTest::keyClick(widget, Qt::Key_Comma);
    QTest::keyClick(widget, Qt::Key_Period);
    QTest::keyClick(widget, Qt::Key_Left);
    QTest::keyClick(widget, Qt::Key_Q);
    QTest::keyClick(widget, Qt::Key_F5);
    auto keys = window.taken(WM_KEYDOWN);
    std::vector<WParam> codes;
    for (const Message& m : keys) codes.push_back(m.wParam);
    EXPECT_EQ(codes, (std::vector<WParam>{13, 188, 190, 37, 'Q', 116}));
    EXPECT_EQ(window.taken(WM_KEYUP).size(), 6u);

    // A held key: X11 sends release/press pairs marked auto-repeat. Each
    // press repeats the action; the releases are not real.
    window.messages.clear();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), false);
    QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier, QString(), true);
    QKeyEvent repeatPress(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier, QString(), false);
    for (QKeyEvent* event : {&press, &repeatRelease, &repeatPress, &repeatRelease, &repeatPress, &release}) {
        QCoreApplication::sendEvent(widget, event);
    }
    auto held = window.taken(WM_KEYDOWN);
    ASSERT_EQ(held.size(), 3u);
    EXPECT_EQ(held[0].wParam, 39u);
    EXPECT_EQ(held[0].lParam & (LParam{1} << 30), 0);  // the first press: not a repeat
    EXPECT_NE(held[1].lParam & (LParam{1} << 30), 0);
    EXPECT_EQ(window.taken(WM_KEYUP).size(), 1u);
}

// The window manager's close is the window's decision; messages posted from
// other threads arrive on this one; timers carry their own ids; a window
// that is gone drops what is still posted to it.
TEST(QtWindowHost, CloseTimersAndPostedMessages) {
    brellin::testing::qtApp();
    QtWindowSystem system;
    RecordingWindow window(system);
    ASSERT_TRUE(window.create());
    QWidget* widget = widgetOf(window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget));

    EXPECT_FALSE(widget->close());  // refused: the window kept itself
    EXPECT_TRUE(widget->isVisible());
    EXPECT_EQ(window.taken(WM_CLOSE).size(), 1u);
    EXPECT_FALSE(system.quitPosted());

    window.hwnd->setTimer(7, 10);
    QTRY_VERIFY(window.taken(WM_TIMER).size() >= 2);
    EXPECT_EQ(window.taken(WM_TIMER)[0].wParam, 7u);
    window.hwnd->killTimer(7);
    QCoreApplication::processEvents();
    std::size_t ticks = window.taken(WM_TIMER).size();
    QTest::qWait(40);
    EXPECT_EQ(window.taken(WM_TIMER).size(), ticks);

    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&window, t] {
            for (int i = 0; i < 50; ++i) window.hwnd->postMessage(WM_COMMAND, makeCommandWParam(0, 9000), t * 100 + i);
        });
    }
    for (auto& poster : posters) poster.join();
    EXPECT_TRUE(window.taken(WM_COMMAND).empty());  // posted, not sent
    QCoreApplication::processEvents();
    EXPECT_EQ(window.taken(WM_COMMAND).size(), 200u);

    // Posted, then the window goes (the first window owns the loop: quit).
    WindowHost* host = window.hwnd;
    host->postMessage(WM_COMMAND, makeCommandWParam(0, 40004), 0);
    window.allowClose = true;
    window.messages.clear();
    QCloseEvent close;
    QCoreApplication::sendEvent(widget, &close);
    EXPECT_EQ(window.hwnd, nullptr);
    EXPECT_EQ(window.taken(WM_DESTROY).size(), 1u);
    EXPECT_TRUE(system.quitPosted());
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.taken(WM_COMMAND).empty());
}

// A message in the popup menu's own loop closes the window: the menu ends
// with it, and nothing touches the host that is gone (ASan watches).
TEST(QtWindowHost, WindowDestroyedWhileItsMenuRuns) {
    brellin::testing::qtApp();
    QtWindowSystem system;
    RecordingWindow window(system);
    window.allowClose = true;
    ASSERT_TRUE(window.create());
    WindowHost* host = window.hwnd;
    Menu menu{mainMenu()};
    bool menuShown = false;
    QTimer::singleShot(30, [&] {
        menuShown = QApplication::activePopupWidget() != nullptr;
        host->postMessage(WM_CLOSE, 0, 0);
    });
    QTimer::singleShot(80, [] {
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    });
    host->trackPopupMenu(menu.popup(0), Point{10, 10}, TPM_LEFTALIGN);
    EXPECT_TRUE(menuShown);
    EXPECT_EQ(window.hwnd, nullptr);
    EXPECT_EQ(window.taken(WM_DESTROY).size(), 1u);
    EXPECT_TRUE(window.taken(WM_COMMAND).empty());
}

namespace {

// A dialog on the version template that records its commands and closes
// on IDCANCEL as the version dialog does.
class RecordingDialog : public Dialog {
public:
    explicit RecordingDialog(WindowSystem& windowSystem) : Dialog(windowSystem) {
        registerDialogTemplate(VERSION_TEMPLATE);
    }
    std::vector<std::uint16_t> commands;
    int focusId = IDC_VERSION_DETAIL;
    std::function<void(QDialog*)> whileOpen;

    LResult onInitDialog() override {
        hwnd->setItemText(IDC_VERSION_LINE, versionLine);
        hwnd->setItemText(IDC_VERSION_DETAIL, versionDetail);
        hwnd->setFocus(focusId);
        QDialog* widget = static_cast<QtDialogHost*>(hwnd)->widget();
        QTimer::singleShot(0, widget, [this, widget] { whileOpen(widget); });
        return 0;
    }
    LResult onCommand(std::uint16_t code, std::uint16_t id, LParam lParam) override {
        commands.push_back(id);
        if (id == IDCANCEL) return onClose();
        return Dialog::onCommand(code, id, lParam);
    }
};

}  // namespace

// Enter is the focused button's id or IDOK; Esc is IDCANCEL; both reach the
// dialog's own onCommand, which decides whether it closes.
TEST(QtDialogHost, EnterAndEscRouteThroughTheDialog) {
    brellin::testing::qtApp();
    QtWindowSystem system;
    {
        RecordingDialog dialog(system);
        dialog.whileOpen = [&dialog](QDialog* widget) {
            EXPECT_EQ(static_cast<QtDialogHost*>(dialog.hwnd)->itemText(IDC_VERSION_LINE), versionLine);
            QTest::keyClick(widget->focusWidget(), Qt::Key_Escape);  // from the read-only edit
        };
        ASSERT_TRUE(dialog.doModal(nullptr, IDD_VERSION));
        EXPECT_EQ(dialog.commands, (std::vector<std::uint16_t>{IDCANCEL}));
        EXPECT_EQ(dialog.hwnd, nullptr);
    }
    {
        // Enter in the edit: no button has the focus, so IDOK, which closes.
        RecordingDialog dialog(system);
        dialog.whileOpen = [](QDialog* widget) { QTest::keyClick(widget->focusWidget(), Qt::Key_Return); };
        dialog.doModal(nullptr, IDD_VERSION);
        EXPECT_EQ(dialog.commands, (std::vector<std::uint16_t>{IDOK}));
    }
    {
        // The window manager's close and Qt's reject() both become IDCANCEL.
        RecordingDialog dialog(system);
        dialog.whileOpen = [](QDialog* widget) { widget->reject(); };
        dialog.doModal(nullptr, IDD_VERSION);
        EXPECT_EQ(dialog.commands, (std::vector<std::uint16_t>{IDCANCEL}));
    }
    {
        // A click on OK; the dialog is sized from dialog units, not zero.
        RecordingDialog dialog(system);
        dialog.whileOpen = [](QDialog* widget) {
            EXPECT_GT(widget->width(), 200);
            EXPECT_GT(widget->height(), 40);
            auto buttons = widget->findChildren<QPushButton*>();
            ASSERT_EQ(buttons.size(), 1);
            EXPECT_FALSE(buttons[0]->isDefault());
            QTest::mouseClick(buttons[0], Qt::LeftButton);
        };
        dialog.doModal(nullptr, IDD_VERSION);
        EXPECT_EQ(dialog.commands, (std::vector<std::uint16_t>{IDOK}));
    }
    EXPECT_EQ(system.dialogBox(999, nullptr), -1);  // no such template
}

TEST(QtDialogHost, DialogUnitsBecomePixelsAsWindowsDoes) {
    // An 8 x 16 font: 2 pixels per horizontal unit, 2 per vertical unit.
    EXPECT_EQ(dialogUnitsToPixels({7, 7, 50, 14}, 8, 16), QRect(14, 14, 100, 28));
    // 6 x 13: 7 * 6 / 4 = 10.5 rounds to 11; 14 * 13 / 8 = 22.75 to 23.
    EXPECT_EQ(dialogUnitsToPixels({7, 0, 0, 14}, 6, 13), QRect(11, 0, 0, 23));
}
