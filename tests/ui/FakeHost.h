// A window system without a screen for the framework's tests: windows and
// dialogs record what they were asked to do, the tick count is set by the
// test, and messages are delivered by calling the window procedure.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "display/Surface.h"
#include "ui/framework/Dialog.h"
#include "ui/framework/Host.h"
#include "ui/framework/ListView.h"
#include "ui/framework/Menu.h"
#include "ui/framework/Window.h"

namespace brellin::test {

struct DefaultCall {
    MessageId msg;
    WParam wParam;
    LParam lParam;
};

struct PopupCall {
    std::string name;
    std::vector<MenuItem> items;
    Point at;
    std::uint32_t alignment;
};

struct MessageBoxCall {
    std::string text;
    std::string caption;
    std::uint32_t flags;
};

struct PostedMessage {
    MessageId msg;
    WParam wParam;
    LParam lParam;
};

// The posted messages of a fake window or dialog: any thread posts, the
// test's "message loop" takes them in order.
class PostedQueue {
public:
    void push(const PostedMessage& m) {
        std::lock_guard<std::mutex> guard(lock);
        queue.push_back(m);
        ++count;
    }
    bool pop(PostedMessage& m) {
        std::lock_guard<std::mutex> guard(lock);
        if (queue.empty()) return false;
        m = queue.front();
        queue.pop_front();
        return true;
    }
    bool empty() {
        std::lock_guard<std::mutex> guard(lock);
        return queue.empty();
    }
    // Messages posted so far.
    int total() {
        std::lock_guard<std::mutex> guard(lock);
        return count;
    }

private:
    std::mutex lock;
    std::deque<PostedMessage> queue;
    int count = 0;
};

class FakeWindowSystem;

class FakeWindowHost : public WindowHost {
public:
    FakeWindowHost(FakeWindowSystem& owner, const CreationRecord& record, WindowProcedure procedure);
    ~FakeWindowHost() override;

    WindowProcedure windowProcedure() const override { return procedure; }
    void setWindowProcedure(WindowProcedure p) override { procedure = p; }
    Control* controlData() const override { return controlObject; }
    void setControlData(Control* c) override { controlObject = c; }
    LResult defaultProcedure(MessageId msg, WParam wParam, LParam lParam) override {
        defaultCalls.push_back({msg, wParam, lParam});
        return 0;
    }

    Window* windowData() const override { return windowObject; }
    void setWindowData(Window* w) override { windowObject = w; }
    void invalidateRect(const Rect& rect) override { invalidated.push_back(rect); }
    void showWindow(bool v) override { visible = v; }
    void updateWindow() override { ++updates; }
    void setWindowPos(std::int32_t nx, std::int32_t ny, bool move, bool top) override {
        if (move) {
            x = nx;
            y = ny;
            moves.push_back(Point{nx, ny});
        }
        topmost = top;
        ++zOrderCalls;
    }
    void moveWindow(std::int32_t nx, std::int32_t ny, std::int32_t w, std::int32_t h) override {
        x = nx;
        y = ny;
        width = w;
        height = h;
    }
    Rect windowRect() const override { return Rect{x, y, x + width, y + height}; }
    Rect clientRect() const override { return Rect{0, 0, width, height}; }
    Point clientToScreen(Point p) const override { return Point{p.x + x, p.y + y}; }
    bool canPositionWindow() const override { return positionable; }
    void startSystemMove() override { ++systemMoves; }
    void setTimer(std::uintptr_t id, std::uint32_t ms) override { timers[id] = ms; }
    void killTimer(std::uintptr_t id) override { timers.erase(id); }
    void postMessage(MessageId msg, WParam wParam, LParam lParam) override { posted.push({msg, wParam, lParam}); }
    LResult sendMessage(MessageId msg, WParam wParam, LParam lParam) override {
        return procedure(this, msg, wParam, lParam);
    }
    void setCapture() override { captured = true; }
    void releaseCapture() override { captured = false; }
    void setForeground() override { ++foregroundCalls; }
    void trackPopupMenu(const MenuPopup& popup, Point at, std::uint32_t alignment) override;
    int messageBox(const char* text, const char* caption, std::uint32_t flags) override;
    bool addTrayIcon(const char*) override {
        trayIcon = trayHostPresent;
        return trayIcon;
    }
    void removeTrayIcon() override { trayIcon = false; }
    void setTrayMenu(const MenuPopup& popup) override { trayMenuName = popup.name; }
    Rect beginPaint() override {
        Rect r = paintRect;
        paintRect = Rect{};
        return r;
    }
    void copyToScreen(const Surface& surface, const Rect& rect) override;
    void endPaint() override { ++paints; }
    void destroy() override { destroyed = true; }

    // Delivers a message as the platform would: through the current procedure.
    LResult deliver(MessageId msg, WParam wParam = 0, LParam lParam = 0) {
        return procedure(this, msg, wParam, lParam);
    }
    // Delivers every posted message (the message loop's turn), until one of
    // them closes the window (which deletes this host).
    int pumpPosted() {
        int count = 0;
        const std::shared_ptr<bool> alive = lifeToken;
        for (PostedMessage m; posted.pop(m);) {
            deliver(m.msg, m.wParam, m.lParam);
            ++count;
            if (!*alive) break;
        }
        return count;
    }

    FakeWindowSystem& system;
    std::shared_ptr<bool> lifeToken = std::make_shared<bool>(true);
    CreationRecord record;
    WindowProcedure procedure;
    Window* windowObject = nullptr;
    Control* controlObject = nullptr;
    std::vector<DefaultCall> defaultCalls;
    std::vector<Rect> invalidated;
    std::vector<Point> moves;
    std::vector<PopupCall> popups;
    std::vector<MessageBoxCall> messageBoxes;
    std::map<std::uintptr_t, std::uint32_t> timers;
    PostedQueue posted;
    std::vector<std::uint16_t> screen;  // what copyToScreen put there, width x height
    Rect paintRect;
    bool visible = false;
    bool topmost = false;
    bool captured = false;
    bool trayIcon = false;
    std::string trayMenuName;     // the popup last given as the tray host's own menu
    bool trayHostPresent = true;  // a desktop with a tray
    bool destroyed = false;
    bool positionable = true;
    int updates = 0;
    int zOrderCalls = 0;
    int systemMoves = 0;
    int foregroundCalls = 0;
    int paints = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// A child control of a fake dialog: its own procedure records what reaches
// the control's normal handling.
class FakeControlHost : public ControlHost {
public:
    WindowProcedure windowProcedure() const override { return procedure; }
    void setWindowProcedure(WindowProcedure p) override { procedure = p; }
    Control* controlData() const override { return controlObject; }
    void setControlData(Control* c) override { controlObject = c; }
    LResult defaultProcedure(MessageId msg, WParam wParam, LParam lParam) override {
        ownCalls.push_back({msg, wParam, lParam});
        return 0;
    }
    LResult deliver(MessageId msg, WParam wParam = 0, LParam lParam = 0) {
        return procedure(this, msg, wParam, lParam);
    }
    static LResult ownProcedure(ControlHost* handle, MessageId msg, WParam wParam, LParam lParam) {
        return handle->defaultProcedure(msg, wParam, lParam);
    }

    WindowProcedure procedure = &FakeControlHost::ownProcedure;
    Control* controlObject = nullptr;
    std::vector<DefaultCall> ownCalls;
};

struct FakeListView {
    std::vector<std::string> texts;
    std::vector<int> icons;
    std::vector<bool> selected;
    int focused = -1;
};

class FakeDialogHost : public DialogHost {
public:
    FakeDialogHost() = default;

    WindowProcedure windowProcedure() const override { return procedure; }
    void setWindowProcedure(WindowProcedure p) override { procedure = p; }
    Control* controlData() const override { return controlObject; }
    void setControlData(Control* c) override { controlObject = c; }
    LResult defaultProcedure(MessageId msg, WParam wParam, LParam lParam) override {
        defaultCalls.push_back({msg, wParam, lParam});
        return 0;
    }
    Dialog* dialogData() const override { return dialogObject; }
    void setDialogData(Dialog* d) override { dialogObject = d; }
    void endDialog(std::intptr_t result) override {
        ended = true;
        endResult = result;
    }
    ControlHost* item(int id) override {
        auto& control = controls[id];
        if (!control) control = std::make_unique<FakeControlHost>();
        return control.get();
    }
    void setItemText(int id, const char* text) override { texts[id] = text ? text : ""; }
    std::string itemText(int id) const override {
        auto it = texts.find(id);
        return it == texts.end() ? std::string() : it->second;
    }
    void setFocus(int id) override { focus = id; }
    void enableItem(int id, bool enable) override { enabled[id] = enable; }
    void setChecked(int id, bool check) override { checked[id] = check; }
    bool isChecked(int id) const override {
        auto it = checked.find(id);
        return it != checked.end() && it->second;
    }
    void resetItems(int id) override { lists[id].clear(); }
    int addItem(int id, const char* text) override {
        lists[id].push_back(text ? text : "");
        return static_cast<int>(lists[id].size()) - 1;
    }
    int itemCount(int id) const override {
        auto it = lists.find(id);
        return it == lists.end() ? 0 : static_cast<int>(it->second.size());
    }
    int selectedItem(int id) const override {
        auto it = selection.find(id);
        return it == selection.end() ? -1 : it->second;
    }
    void selectItem(int id, int index) override { selection[id] = index; }
    std::string itemString(int id, int index) const override {
        auto it = lists.find(id);
        if (it == lists.end() || index < 0 || index >= static_cast<int>(it->second.size())) return {};
        return it->second[static_cast<std::size_t>(index)];
    }
    void setTrackRange(int, int, int) override {}
    void setTrackPosition(int id, int position) override { tracks[id] = position; }
    int trackPosition(int id) const override {
        auto it = tracks.find(id);
        return it == tracks.end() ? 0 : it->second;
    }
    void invalidateAll() override { ++invalidations; }
    void showWindow() override { visible = true; }
    int messageBox(const char* text, const char* caption, std::uint32_t flags) override;

    void clearListView(int id) override { listViews[id] = FakeListView{}; }
    int addListViewItem(int id, const char* text, int icon) override {
        FakeListView& view = listViews[id];
        view.texts.push_back(text ? text : "");
        view.icons.push_back(icon);
        view.selected.push_back(false);
        return static_cast<int>(view.texts.size()) - 1;
    }
    int listViewCount(int id) const override {
        auto it = listViews.find(id);
        return it == listViews.end() ? 0 : static_cast<int>(it->second.texts.size());
    }
    bool isListViewItemSelected(int id, int index) const override {
        auto it = listViews.find(id);
        if (it == listViews.end() || index < 0 || index >= static_cast<int>(it->second.selected.size())) return false;
        return it->second.selected[static_cast<std::size_t>(index)];
    }
    // Sets the state and notifies the dialog, as a list view does.
    void selectListViewItem(int id, int index, bool selected, bool focusIt) override {
        FakeListView& view = listViews[id];
        if (index < 0 || index >= static_cast<int>(view.selected.size())) return;
        view.selected[static_cast<std::size_t>(index)] = selected;
        if (focusIt) view.focused = index;
        ListViewNotify notify;
        notify.header.id = static_cast<std::uintptr_t>(id);
        notify.header.code = LVN_ITEMCHANGED;
        notify.item = index;
        notify.newState = (selected ? LVIS_SELECTED : 0) | (focusIt ? LVIS_FOCUSED : 0);
        deliver(WM_NOTIFY, static_cast<WParam>(id), reinterpret_cast<LParam>(&notify));
    }
    // A plain click on an item: it alone is selected and focused.
    void clickItem(int id, int index) {
        FakeListView& view = listViews[id];
        for (std::size_t i = 0; i < view.selected.size(); ++i) view.selected[i] = false;
        selectListViewItem(id, index, true, true);
    }
    // Ctrl+click: the item toggles and takes the focus; others stay.
    void ctrlClickItem(int id, int index) {
        bool now = isListViewItemSelected(id, index);
        selectListViewItem(id, index, !now, true);
    }
    void postMessage(MessageId msg, WParam wParam, LParam lParam) override { posted.push({msg, wParam, lParam}); }
    // Messages posted so far (from any thread).
    int posts() { return posted.total(); }
    void setBusyCursor(bool busy) override { busyCursor = busy; }

    LResult deliver(MessageId msg, WParam wParam = 0, LParam lParam = 0) {
        return procedure(this, msg, wParam, lParam);
    }
    // Delivers the posted messages (the modal loop's turn); dropped once the dialog ended.
    int pumpPosted() {
        int count = 0;
        for (PostedMessage m; posted.pop(m);) {
            if (ended) continue;
            deliver(m.msg, m.wParam, m.lParam);
            ++count;
        }
        return count;
    }
    FakeControlHost& control(int id) { return *static_cast<FakeControlHost*>(item(id)); }
    const FakeListView& listView(int id) { return listViews[id]; }

    WindowProcedure procedure = &Dialog::dialogProcedure;
    Dialog* dialogObject = nullptr;
    Control* controlObject = nullptr;
    std::vector<DefaultCall> defaultCalls;
    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    std::map<int, bool> checked;
    std::map<int, std::vector<std::string>> lists;
    std::map<int, int> selection;
    std::map<int, int> tracks;
    int focus = 0;
    int invalidations = 0;
    bool visible = false;
    bool ended = false;
    std::intptr_t endResult = -1;
    std::map<int, std::unique_ptr<FakeControlHost>> controls;
    std::map<int, FakeListView> listViews;
    std::vector<MessageBoxCall> messageBoxes;
    int messageBoxAnswer = IDOK;
    PostedQueue posted;
    bool busyCursor = false;
    FakeWindowSystem* system = nullptr;
};

class FakeWindowSystem : public WindowSystem {
public:
    bool registerWindowClass(const char* name, WindowProcedure procedure) override {
        ++registrations;
        registeredClass = name;
        classProcedure = procedure;
        return registerSucceeds;
    }
    WindowHost* createWindow(const CreationRecord& record) override {
        if (!createSucceeds) return nullptr;
        auto* host = new FakeWindowHost(*this, record, classProcedure);
        host->trayHostPresent = trayAvailable;
        windows.push_back(host);
        // The platform sends some messages while the window is being made,
        // before the framework has stored its object.
        host->deliver(WM_SIZE, SIZE_RESTORED, makePointLParam(host->width, host->height));
        return host;
    }
    // Runs the dialog: WM_INITDIALOG, then the test's script acting as the
    // user, until something ends the dialog.
    std::intptr_t dialogBox(std::uint16_t templateId, ControlHost* owner) override {
        dialogTemplates.push_back(templateId);
        dialogOwners.push_back(owner);
        FakeDialogHost host;
        host.messageBoxAnswer = messageBoxAnswer;
        host.system = this;
        // Closed from outside as its Cancel button would close it.
        NestedLoop loop(*this, [&host] {
            host.deliver(WM_COMMAND, makeCommandWParam(0, IDCANCEL));  // BN_CLICKED
            if (!host.ended) host.endDialog(IDCANCEL);
        });
        if (loop.refused()) {
            ++refusedLoops;
            return IDCANCEL;
        }
        host.deliver(WM_INITDIALOG);
        auto script = templateScripts.find(templateId);
        if (script != templateScripts.end()) {
            script->second(host);
        } else if (dialogScript) {
            dialogScript(host);
        }
        dialogTexts[templateId] = host.texts;
        dialogMessageBoxes[templateId] = host.messageBoxes;
        lastDialogEnded = host.ended;
        lastDialogTexts = host.texts;
        lastDialogFocus = host.focus;
        return host.ended ? host.endResult : -1;
    }
    void postQuitMessage(int code) override {
        ++quitPosts;
        exitCode = code;
    }
    std::uint32_t tickCount() const override { return tick; }
    Point screenSize() const override { return screen; }
    Point cursorPos() const override { return cursor; }
    bool displayPowerSupported() override { return dpmsSupported; }
    bool setDisplayPower(bool on) override {
        if (!dpmsSupported) return false;
        powerCalls.push_back(on);
        return true;
    }

    // The window hosts still alive, in creation order.
    std::vector<FakeWindowHost*> windows;
    WindowProcedure classProcedure = nullptr;
    std::string registeredClass;
    int registrations = 0;
    bool registerSucceeds = true;
    bool createSucceeds = true;
    bool trayAvailable = true;
    int quitPosts = 0;
    int exitCode = -1;
    std::uint32_t tick = 1000;
    Point screen{1024, 768};
    Point cursor{0, 0};
    bool dpmsSupported = false;
    std::vector<bool> powerCalls;
    std::function<void(FakeDialogHost&)> dialogScript;
    // Scripts of particular templates (a nested dialog has its own); they
    // take precedence over dialogScript.
    std::map<std::uint16_t, std::function<void(FakeDialogHost&)>> templateScripts;
    // Per template, the texts and message boxes of its last run.
    std::map<std::uint16_t, std::map<int, std::string>> dialogTexts;
    std::map<std::uint16_t, std::vector<MessageBoxCall>> dialogMessageBoxes;
    std::vector<std::uint16_t> dialogTemplates;
    std::vector<ControlHost*> dialogOwners;
    bool lastDialogEnded = false;
    std::map<int, std::string> lastDialogTexts;
    int lastDialogFocus = 0;
    // Answer of the next message boxes.
    int messageBoxAnswer = IDOK;
    // What happens while a message box or popup menu waits (the user, or
    // the program being asked to end); a dialog has its script instead.
    std::function<void()> whileNestedLoop;
    // Nested loops that answered Cancel at once, as the program was ending.
    int refusedLoops = 0;
};

// A message box as a nested loop: closed from outside or refused, it answers
// as its Esc key would.
inline int fakeMessageBox(FakeWindowSystem& system, std::vector<MessageBoxCall>& calls, const char* text,
                          const char* caption, std::uint32_t flags, int answer) {
    const int cancelled = (flags & MB_BUTTON_MASK) == MB_YESNO ? IDNO : IDCANCEL;
    WindowSystem::NestedLoop loop(system, nullptr);
    if (loop.refused()) {
        ++system.refusedLoops;
        return cancelled;
    }
    calls.push_back({text ? text : "", caption ? caption : "", flags});
    if (system.whileNestedLoop) system.whileNestedLoop();
    return loop.closed() ? cancelled : answer;
}

inline void FakeWindowHost::trackPopupMenu(const MenuPopup& popup, Point at, std::uint32_t alignment) {
    WindowSystem::NestedLoop loop(system, nullptr);
    if (loop.refused()) {
        ++system.refusedLoops;
        return;
    }
    popups.push_back({popup.name, popup.items, at, alignment});
    if (system.whileNestedLoop) system.whileNestedLoop();
}

inline int FakeDialogHost::messageBox(const char* text, const char* caption, std::uint32_t flags) {
    if (system == nullptr) {
        messageBoxes.push_back({text ? text : "", caption ? caption : "", flags});
        return messageBoxAnswer;
    }
    return fakeMessageBox(*system, messageBoxes, text, caption, flags, messageBoxAnswer);
}

inline FakeWindowHost::FakeWindowHost(FakeWindowSystem& owner, const CreationRecord& r, WindowProcedure p)
    : system(owner), record(r), procedure(p) {
    x = r.x == CW_USEDEFAULT ? 0 : r.x;
    y = r.y == CW_USEDEFAULT ? 0 : r.y;
    width = r.width == CW_USEDEFAULT ? 100 : r.width;
    height = r.height == CW_USEDEFAULT ? 100 : r.height;
}

inline FakeWindowHost::~FakeWindowHost() {
    *lifeToken = false;
    auto& list = system.windows;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it == this) {
            list.erase(it);
            break;
        }
    }
}

inline int FakeWindowHost::messageBox(const char* text, const char* caption, std::uint32_t flags) {
    return fakeMessageBox(system, messageBoxes, text, caption, flags, system.messageBoxAnswer);
}

inline void FakeWindowHost::copyToScreen(const Surface& surface, const Rect& rect) {
    screen.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (std::int32_t py = rect.top; py < rect.bottom && py < height; ++py) {
        for (std::int32_t px = rect.left; px < rect.right && px < width; ++px) {
            if (px < 0 || py < 0) continue;
            screen[static_cast<std::size_t>(py) * static_cast<std::size_t>(width) + static_cast<std::size_t>(px)] =
                surface.pixel(px, py);
        }
    }
}

}  // namespace brellin::test
