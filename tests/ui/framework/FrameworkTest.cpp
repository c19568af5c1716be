#include <gtest/gtest.h>

#include "tests/ui/FakeHost.h"
#include "ui/framework/DialogTemplate.h"

namespace brellin::test {
namespace {

// A window that records what reached its slots; onCommand's result is chosen
// by the test.
class RecordingWindow : public Window {
public:
    using Window::Window;
    LResult onCommand(std::uint16_t code, std::uint16_t id, LParam lParam) override {
        commands.push_back({code, id, lParam});
        return commandResult;
    }
    LResult onLButtonDown(WParam keys, std::int32_t x, std::int32_t y) override {
        presses.push_back({x, y});
        lastKeys = keys;
        return 1;
    }
    LResult onSize(WParam type, std::uint32_t width, std::uint32_t height) override {
        sizes.push_back({type, width, height});
        return 1;
    }
    LResult onDestroy() override {
        ++destroys;
        return Window::onDestroy();
    }
    LResult preCreate(CreationRecord& record) override {
        seenStyle = record.style;
        seenName = record.windowName;
        seenClass = record.className;
        if (changeRecord) {
            record.style = WS_POPUP;
            record.x = 5;
            record.y = 6;
            record.width = 240;
            record.height = 32;
        }
        return 1;
    }
    struct Command {
        std::uint16_t code, id;
        LParam lParam;
    };
    struct Size {
        WParam type;
        std::uint32_t width, height;
    };
    std::vector<Command> commands;
    std::vector<Point> presses;
    std::vector<Size> sizes;
    WParam lastKeys = 0;
    LResult commandResult = 1;
    int destroys = 0;
    bool changeRecord = false;
    std::uint32_t seenStyle = 0;
    std::string seenName, seenClass;
};

TEST(WindowFramework, CreateRoutesMessagesAndFallsBackToDefaultHandling) {
    FakeWindowSystem system;
    RecordingWindow window(system);
    window.changeRecord = true;
    ASSERT_TRUE(window.create());
    EXPECT_EQ(window.lastError, RESULT_OK);
    ASSERT_EQ(system.windows.size(), 1u);
    FakeWindowHost& host = *system.windows[0];
    EXPECT_EQ(window.hwnd, &host);
    EXPECT_EQ(window.control.hwnd, &host);
    EXPECT_FALSE(window.control.isSubclassed());
    EXPECT_EQ(system.registeredClass, "AppBase");

    // The record as filled before preCreate, and preCreate's changes applied.
    EXPECT_EQ(window.seenStyle, 0x90880000u);
    EXPECT_EQ(window.seenName, "Application Window");
    EXPECT_EQ(window.seenClass, "AppBase");
    EXPECT_EQ(host.record.style, WS_POPUP);
    EXPECT_EQ(host.record.x, 5);

    // The message sent during creation found no object.
    ASSERT_EQ(host.defaultCalls.size(), 1u);
    EXPECT_EQ(host.defaultCalls[0].msg, WM_SIZE);
    EXPECT_TRUE(window.sizes.empty());

    // show: visible, back buffer sized to the client area, all of it invalidated.
    EXPECT_TRUE(host.visible);
    EXPECT_EQ(window.backBuffer->width(), 240);
    EXPECT_EQ(window.backBuffer->height(), 32);
    ASSERT_FALSE(host.invalidated.empty());
    EXPECT_EQ(host.invalidated.back().right, 240);
    EXPECT_EQ(host.invalidated.back().bottom, 32);

    // A handled message returns 0 to the sender and skips the default handling.
    EXPECT_EQ(host.deliver(WM_COMMAND, makeCommandWParam(1, 40010), 77), 0);
    ASSERT_EQ(window.commands.size(), 1u);
    EXPECT_EQ(window.commands[0].code, 1);
    EXPECT_EQ(window.commands[0].id, 40010);
    EXPECT_EQ(window.commands[0].lParam, 77);
    EXPECT_EQ(host.defaultCalls.size(), 1u);

    // A handler that returns 0, and a message no slot takes, reach the default.
    window.commandResult = 0;
    host.deliver(WM_COMMAND, makeCommandWParam(0, 40018), 0);
    host.deliver(WM_LBUTTONDBLCLK, 0, 0);
    ASSERT_EQ(host.defaultCalls.size(), 3u);
    EXPECT_EQ(host.defaultCalls[1].msg, WM_COMMAND);
    EXPECT_EQ(host.defaultCalls[2].msg, WM_LBUTTONDBLCLK);

    // Mouse coordinates are signed 16-bit words; sizes are unsigned.
    host.deliver(WM_LBUTTONDOWN, MK_LBUTTON, makePointLParam(-5, -32768));
    ASSERT_EQ(window.presses.size(), 1u);
    EXPECT_EQ(window.presses[0].x, -5);
    EXPECT_EQ(window.presses[0].y, -32768);
    EXPECT_EQ(window.lastKeys, MK_LBUTTON);
    host.deliver(WM_SIZE, SIZE_RESTORED, makePointLParam(65535, 40000));
    ASSERT_EQ(window.sizes.size(), 1u);
    EXPECT_EQ(window.sizes[0].width, 65535u);
    EXPECT_EQ(window.sizes[0].height, 40000u);

    // Slots without an override answer "handled" (1) and so return 0.
    for (MessageId msg :
         {WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MOUSEMOVE, WM_KEYDOWN, WM_KEYUP, WM_TIMER, WM_NOTIFY}) {
        EXPECT_EQ(window.onMessage(msg, 0, 0), 1) << msg;
    }
    EXPECT_EQ(host.defaultCalls.size(), 3u);
}

TEST(WindowFramework, OnlyTheFirstWindowEndsTheMessageLoop) {
    FakeWindowSystem system;
    RecordingWindow first(system);
    RecordingWindow second(system);
    ASSERT_TRUE(first.create());
    ASSERT_TRUE(second.create());
    EXPECT_EQ(system.registrations, 1);
    EXPECT_TRUE(first.ownsMessageLoop);
    EXPECT_FALSE(second.ownsMessageLoop);

    // WM_CLOSE destroys: WM_DESTROY reaches the object, the handle goes.
    static_cast<FakeWindowHost*>(second.hwnd)->deliver(WM_CLOSE);
    EXPECT_EQ(second.destroys, 1);
    EXPECT_EQ(second.hwnd, nullptr);
    EXPECT_EQ(system.quitPosts, 0);
    EXPECT_EQ(system.windows.size(), 1u);

    static_cast<FakeWindowHost*>(first.hwnd)->deliver(WM_CLOSE);
    EXPECT_EQ(first.destroys, 1);
    EXPECT_EQ(system.quitPosts, 1);
    EXPECT_EQ(system.exitCode, 0);
    EXPECT_TRUE(system.windows.empty());
    // Closing again (a second WM_CLOSE cannot arrive, but onClose can be called) is harmless.
    first.onClose();
    EXPECT_EQ(system.quitPosts, 1);
}

TEST(WindowFramework, CreationFailuresLeaveNoWindow) {
    FakeWindowSystem system;
    system.registerSucceeds = false;
    RecordingWindow window(system);
    EXPECT_FALSE(window.create());
    EXPECT_EQ(window.lastError, RESULT_UNSUPPORTED_FORMAT);
    EXPECT_EQ(window.hwnd, nullptr);
    EXPECT_FALSE(window.ownsMessageLoop);

    system.registerSucceeds = true;
    system.createSucceeds = false;
    EXPECT_FALSE(window.create());
    EXPECT_EQ(window.lastError, RESULT_DEVICE_ERROR);
    EXPECT_EQ(window.hwnd, nullptr);
    // The class stayed registered: a later window does not register again.
    system.createSucceeds = true;
    EXPECT_TRUE(window.create());
    EXPECT_EQ(system.registrations, 2);
    EXPECT_TRUE(window.ownsMessageLoop);
}

TEST(WindowFramework, InvalidateSendsTheDirtyRectangleAndPaintCopiesTheUpdate) {
    FakeWindowSystem system;
    RecordingWindow window(system);
    window.changeRecord = true;
    ASSERT_TRUE(window.create());
    FakeWindowHost& host = *system.windows[0];
    host.invalidated.clear();

    window.backBuffer->resetDirtyRect();
    window.invalidate();
    EXPECT_TRUE(host.invalidated.empty()) << "nothing drawn, nothing to repaint";

    window.backBuffer->fillRect(10, 4, 20, 8, Colour{255, 0, 0});
    window.invalidate();
    ASSERT_EQ(host.invalidated.size(), 1u);
    // Only what was drawn is repainted, not everything from the window's corner.
    EXPECT_EQ(host.invalidated[0].left, 10);
    EXPECT_EQ(host.invalidated[0].top, 4);
    EXPECT_EQ(host.invalidated[0].right, 20);
    EXPECT_EQ(host.invalidated[0].bottom, 8);
    EXPECT_TRUE(Rect{}.isEmpty());
    DirtyRect after = window.backBuffer->dirtyRect();
    EXPECT_EQ(after.right - after.left, 0);

    host.paintRect = Rect{12, 5, 14, 6};
    EXPECT_EQ(host.deliver(WM_PAINT), 0);
    EXPECT_EQ(host.paints, 1);
    const std::uint16_t red = Colour{255, 0, 0}.toPixel();
    EXPECT_EQ(host.screen[5 * 240 + 12], red);
    EXPECT_EQ(host.screen[5 * 240 + 14], 0) << "outside the update rectangle";
}

// A dialog with no handlers of its own: the defaults decide everything.
class PlainDialog : public Dialog {
public:
    using Dialog::Dialog;
    LResult onInitDialog() override {
        initialised = true;
        hwndAtInit = hwnd;
        return Dialog::onInitDialog();
    }
    bool initialised = false;
    DialogHost* hwndAtInit = nullptr;
};

TEST(DialogFramework, OkClosesDialogsWithoutTheirOwnCommandsAndPaintIsLeftToTheSystem) {
    FakeWindowSystem system;
    PlainDialog dialog(system);
    EXPECT_FALSE(dialog.create());
    EXPECT_EQ(dialog.lastError, RESULT_UNSUPPORTED_DATA);

    LResult paintResult = -1, cancelResult = -1, okResult = -1, timerResult = -1;
    DialogHost* afterCancel = nullptr;
    system.dialogScript = [&](FakeDialogHost& host) {
        paintResult = host.deliver(WM_PAINT);
        timerResult = host.deliver(WM_TIMER, 3);
        cancelResult = host.deliver(WM_COMMAND, makeCommandWParam(0, IDCANCEL));
        afterCancel = dialog.hwnd;
        okResult = host.deliver(WM_COMMAND, makeCommandWParam(0, IDOK));
    };
    FakeWindowHost owner(system, CreationRecord{}, nullptr);
    EXPECT_TRUE(dialog.doModal(&owner, 106));
    EXPECT_TRUE(dialog.initialised);
    EXPECT_NE(dialog.hwndAtInit, nullptr);
    EXPECT_EQ(dialog.templateId, 106);
    EXPECT_EQ(dialog.parent, &owner);
    EXPECT_EQ(system.dialogOwners.back(), &owner);
    EXPECT_EQ(Dialog::openingDialog, nullptr);

    EXPECT_EQ(paintResult, 0);
    EXPECT_EQ(timerResult, 1);
    EXPECT_EQ(cancelResult, 0) << "Cancel is not handled by default";
    EXPECT_EQ(afterCancel, dialog.hwndAtInit) << "Cancel does not close";
    EXPECT_EQ(okResult, 1);
    EXPECT_TRUE(system.lastDialogEnded);
    EXPECT_EQ(dialog.hwnd, nullptr);
}

TEST(DialogFramework, MessagesOfADialogHandleWithoutDialogAreNotHandled) {
    FakeDialogHost host;
    Dialog::openingDialog = nullptr;
    EXPECT_EQ(host.deliver(WM_INITDIALOG), 0);
    EXPECT_EQ(host.deliver(WM_COMMAND, makeCommandWParam(0, IDOK)), 0);
    EXPECT_FALSE(host.ended);
}

// A control that sees messages first and passes on all but one.
class Filter : public Control {
public:
    LResult windowProc(MessageId msg, WParam wParam, LParam lParam) override {
        seen.push_back(msg);
        if (msg == WM_KEYDOWN) return 42;
        return Control::windowProc(msg, wParam, lParam);
    }
    std::vector<MessageId> seen;
};

std::vector<MessageId> originalSeen;
LResult originalProcedure(ControlHost*, MessageId msg, WParam, LParam) {
    originalSeen.push_back(msg);
    return 7;
}

TEST(ControlFramework, SubclassTwiceKeepsTheOriginalProcedure) {
    originalSeen.clear();
    FakeDialogHost handle;
    handle.procedure = &originalProcedure;
    {
        Filter filter;
        filter.attach(&handle);
        filter.subclass();
        filter.subclass();
        EXPECT_EQ(filter.savedProc, &originalProcedure);
        EXPECT_EQ(handle.deliver(WM_KEYDOWN, 13), 42);
        EXPECT_EQ(handle.deliver(WM_KEYUP, 13), 7);
        EXPECT_EQ(filter.seen.size(), 2u);
        ASSERT_EQ(originalSeen.size(), 1u);
        EXPECT_EQ(originalSeen[0], WM_KEYUP);

        filter.restore();
        EXPECT_EQ(handle.procedure, &originalProcedure);
        EXPECT_EQ(handle.deliver(WM_KEYDOWN, 13), 7);
        EXPECT_EQ(filter.seen.size(), 2u);

        // Attaching elsewhere and destroying put the procedure back too.
        filter.subclass();
        EXPECT_NE(handle.procedure, &originalProcedure);
    }
    EXPECT_EQ(handle.procedure, &originalProcedure);
    EXPECT_EQ(handle.controlObject, nullptr);
    // The control procedure with no Control in the handle's data: the default.
    EXPECT_EQ(Control::controlProcedure(&handle, WM_KEYDOWN, 0, 0), 0);
    EXPECT_EQ(handle.defaultCalls.size(), 1u);
}

}  // namespace
}  // namespace brellin::test
