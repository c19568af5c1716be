#include "ui/qt/QtWindowHost.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimerEvent>
#include <QToolTip>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/ExecutablePath.h"
#include "display/Surface.h"
#include "ui/framework/Menu.h"
#include "ui/framework/Window.h"
#include "ui/qt/ProgramIcon.h"
#include "ui/qt/QtMessageSink.h"
#include "ui/qt/QtWindowSystem.h"
#include "ui/qt/VirtualKeys.h"
#include "ui/qt/XcbPresenter.h"
#include "ui/window/Resources.h"

namespace brellin {

// The widget of one host: forwards its events to the host while the host
// lives; after `destroy` it only waits for Qt to delete it.
class QtWindowHost::Widget : public SurfaceWidget {
public:
    explicit Widget(QtWindowHost* owner) : host(owner) {
        setMouseTracking(true);  // moves without a button held are messages too
        setFocusPolicy(Qt::StrongFocus);
        setWindowTitle(QStringLiteral("Brellin"));
        setAcceptDrops(true);  // files and play lists from a file manager
    }

    QtWindowHost* host;
    QPointer<QWindow> watched;  // the window whose exposes are watched

    // Expose events of the widget's window (the widget itself never sees
    // them): where pixels were put directly, the backing store Qt flushes
    // on an expose is old, so the whole window is painted anew first.
    void watchExposures() {
        QWindow* handle = windowHandle();
        if (handle == nullptr || handle == watched) return;
        if (watched) watched->removeEventFilter(this);
        watched = handle;
        handle->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Expose && object == watched && host && host->storeBehind) {
            host->storeBehind = false;
            // Marked dirty here, painted by the expose's own sync of the
            // backing store before it flushes.
            update();
        }
        return false;
    }
    void paintEvent(QPaintEvent* event) override {
        if (!host) return;
        if (QRegion(rect()).subtracted(event->region()).isEmpty()) host->storeBehind = false;
        QPainter paint(this);
        host->painter = &paint;
        host->updateRegion = event->region();
        host->updateRect = host->updateRegion.boundingRect();
        host->deliver(WM_PAINT, 0, 0);
        host->painter = nullptr;
    }
    void mousePressEvent(QMouseEvent* event) override { mouse(event, true); }
    void mouseReleaseEvent(QMouseEvent* event) override { mouse(event, false); }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!host) return;
        host->deliver(WM_MOUSEMOVE, keyState(event), pointOf(event));
    }
    void wheelEvent(QWheelEvent* event) override {
        if (!host) return;
        // Vertical turns only; a wheel tilted sideways is not a volume knob.
        const int delta = event->angleDelta().y();
        if (delta == 0) {
            event->ignore();
            return;
        }
        const QPointF p = event->position();
        WParam keys = 0;
        if (event->buttons() & Qt::LeftButton) keys |= MK_LBUTTON;
        if (event->buttons() & Qt::RightButton) keys |= MK_RBUTTON;
        if (event->modifiers() & Qt::ShiftModifier) keys |= MK_SHIFT;
        if (event->modifiers() & Qt::ControlModifier) keys |= MK_CONTROL;
        host->deliver(WM_MOUSEWHEEL, makeWheelWParam(std::clamp(delta, -32768, 32767), keys),
                      makePointLParam(static_cast<std::int32_t>(std::floor(p.x())),
                                      static_cast<std::int32_t>(std::floor(p.y()))));
    }
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ToolTip && host && host->window != nullptr) {
            auto* help = static_cast<QHelpEvent*>(event);
            const std::string tip = host->window->toolTipAt(help->pos().x(), help->pos().y());
            if (tip.empty()) {
                QToolTip::hideText();
                event->ignore();
            } else {
                QToolTip::showText(help->globalPos(), QString::fromUtf8(tip.c_str()), this);
            }
            return true;
        }
        return SurfaceWidget::event(event);
    }
    void keyPressEvent(QKeyEvent* event) override { key(event, true); }
    void keyReleaseEvent(QKeyEvent* event) override { key(event, false); }
    void closeEvent(QCloseEvent* event) override {
        // The window decides: WM_CLOSE reaches onClose, which destroys it or not.
        event->ignore();
        if (host) host->deliver(WM_CLOSE, 0, 0);
    }
    void resizeEvent(QResizeEvent*) override {
        if (!host) return;
        host->deliver(WM_SIZE, SIZE_RESTORED, makePointLParam(width(), height()));
    }
    void timerEvent(QTimerEvent* event) override {
        if (!host) return;
        for (auto& [id, timer] : host->timers) {
            if (timer->timerId() == event->timerId()) {
                host->deliver(WM_TIMER, id, 0);
                return;
            }
        }
    }
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (!localPaths(event->mimeData()).empty()) event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override {
        if (event->mimeData() != nullptr && event->mimeData()->hasUrls()) event->acceptProposedAction();
    }
    void dropEvent(QDropEvent* event) override {
        if (!host) return;
        const std::vector<std::string> paths = localPaths(event->mimeData());
        if (paths.empty()) return;
        std::vector<const char*> pointers;
        pointers.reserve(paths.size());
        for (const std::string& path : paths) pointers.push_back(path.c_str());
        DropFilesRecord record;
        record.count = pointers.size();
        record.paths = pointers.data();
        event->acceptProposedAction();
        host->deliver(WM_DROPFILES, 0, reinterpret_cast<LParam>(&record));
    }
    // Tab is a key like the others here, not focus navigation.
    bool focusNextPrevChild(bool) override { return false; }

private:
    // The local files among dropped URLs, as the file system's own bytes: a
    // file URL percent-encodes each byte of the name, so a name that is not
    // UTF-8 comes through unchanged (a QString round trip would lose it).
    static std::vector<std::string> localPaths(const QMimeData* data) {
        std::vector<std::string> paths;
        if (data == nullptr || !data->hasUrls()) return paths;
        for (const QUrl& url : data->urls()) {
            if (!url.isLocalFile()) continue;
            const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
            if (bytes.isEmpty() || bytes.contains('\0')) continue;
            paths.emplace_back(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        }
        return paths;
    }
    static WParam keyState(const QMouseEvent* event) {
        WParam keys = 0;
        if (event->buttons() & Qt::LeftButton) keys |= MK_LBUTTON;
        if (event->buttons() & Qt::RightButton) keys |= MK_RBUTTON;
        if (event->modifiers() & Qt::ShiftModifier) keys |= MK_SHIFT;
        if (event->modifiers() & Qt::ControlModifier) keys |= MK_CONTROL;
        return keys;
    }
    static LParam pointOf(const QMouseEvent* event) {
        QPointF p = event->position();  // logical pixels, whatever the device pixel ratio
        return makePointLParam(static_cast<std::int32_t>(std::floor(p.x())),
                               static_cast<std::int32_t>(std::floor(p.y())));
    }
    void mouse(QMouseEvent* event, bool press) {
        if (!host) return;
        MessageId msg = 0;
        if (event->button() == Qt::LeftButton) msg = press ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        if (event->button() == Qt::RightButton) msg = press ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        if (msg == 0) return;
        host->deliver(msg, keyState(event), pointOf(event));
    }
    void key(QKeyEvent* event, bool press) {
        if (!host) return;
        // X11 reports a held key as release/press pairs; the releases are not real.
        if (!press && event->isAutoRepeat()) return;
        std::int32_t virtualKey = virtualKeyFromQt(event->key(), (event->modifiers() & Qt::KeypadModifier) != 0);
        if (virtualKey == 0) {
            event->ignore();
            return;
        }
        // lParam as Windows has it: repeat count 1, bit 30 "the key was down
        // before" (auto-repeat, and every release), bit 31 on release.
        LParam lParam = 1;
        if (!press || event->isAutoRepeat()) lParam |= LParam{1} << 30;
        if (!press) lParam |= LParam{1} << 31;
        host->deliver(press ? WM_KEYDOWN : WM_KEYUP, static_cast<WParam>(virtualKey), lParam);
    }
};

QtWindowHost::QtWindowHost(QtWindowSystem& windowSystem, WindowProcedure classProcedure, const CreationRecord& record)
    : system(windowSystem), procedure(classProcedure) {
    view = new Widget(this);
    view->setWindowIcon(programIcon());
    if (record.x != CW_USEDEFAULT && record.y != CW_USEDEFAULT) view->move(record.x, record.y);
    if (record.width != CW_USEDEFAULT && record.height != CW_USEDEFAULT && record.width > 0 && record.height > 0) {
        view->resize(record.width, record.height);
    }
    serial = system.enroll(this);
    // Invalidated rectangles are painted once a loop pass, just before the
    // loop waits (nested loops of menus and message boxes included). The
    // widget is the connection's context: it ends with the widget, and a
    // widget whose host is gone does nothing.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        Widget* owner = view;
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, view, [owner] {
            if (owner->host) owner->host->paintPending();
        });
    }
}

QtWindowHost::~QtWindowHost() {
    if (view) destroy();
}

QWidget* QtWindowHost::widget() const { return view; }

LResult QtWindowHost::deliver(MessageId msg, WParam wParam, LParam lParam) {
    return procedure ? procedure(this, msg, wParam, lParam) : defaultProcedure(msg, wParam, lParam);
}

LResult QtWindowHost::defaultProcedure(MessageId msg, WParam, LParam) {
    // Nobody painted: the window stays black rather than showing garbage
    // (on the direct path paintPending hands the region to Qt for that).
    if (msg == WM_PAINT && painter) painter->fillRect(updateRect, Qt::black);
    return 0;
}

void QtWindowHost::invalidateRect(const Rect& rect) {
    if (!view || rect.isEmpty()) return;
    const QRect area(rect.left, rect.top, rect.width(), rect.height());
    // Collected for paintPending, which decides once for all of them
    // whether the direct path serves (else it hands them to Qt then).
    if (system.presenter() != nullptr && !painter && !paintingDirectly && view->isVisible()) {
        pendingPaint += area;
    } else {
        view->update(area);
    }
}

bool QtWindowHost::canPaintDirectly() const {
    if (!view || painter || paintingDirectly || !view->isVisible()) return false;
    // A scaled window (device pixel ratio above 1) is Qt's to paint.
    const QWindow* handle = view->windowHandle();
    if (handle == nullptr || handle->devicePixelRatio() != 1.0) return false;
    XcbPresenter* presenter = system.presenter();
    return presenter && presenter->canPresent(static_cast<std::uint32_t>(handle->winId()));
}

void QtWindowHost::paintPending() {
    if (pendingPaint.isEmpty() || !view) return;
    const QRegion region = std::exchange(pendingPaint, QRegion());
    if (!canPaintDirectly()) {
        view->update(region);
        return;
    }
    view->watchExposures();
    paintingDirectly = true;
    copiedDirectly = false;
    updateRegion = region;
    updateRect = region.boundingRect();
    const std::shared_ptr<const bool> alive = lifeToken;
    deliver(WM_PAINT, 0, 0);
    if (!*alive) return;  // destroyed (and deleted) by its own WM_PAINT
    paintingDirectly = false;
    if (!copiedDirectly) {
        view->update(region);
        return;
    }
    storeBehind = true;
    system.presenter()->flush();
    ++directPaintCount;
}

void QtWindowHost::showWindow(bool visible) {
    if (view) view->setVisible(visible);
}

void QtWindowHost::updateWindow() {
    paintPending();
    if (view && view->isVisible() && !painter) view->repaint();
}

void QtWindowHost::setWindowPos(std::int32_t x, std::int32_t y, bool move, bool topmost) {
    if (!view) return;
    if (move) view->move(x, y);
    bool isTop = view->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    if (isTop == topmost) return;
    if (QWindow* handle = view->windowHandle()) {
        // On a shown window, change the platform window's flag only:
        // QWidget::setWindowFlags would hide and re-create it.
        handle->setFlag(Qt::WindowStaysOnTopHint, topmost);
        view->overrideWindowFlags(handle->flags());
    } else {
        view->setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
    }
}

void QtWindowHost::moveWindow(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
    if (!view) return;
    view->move(x, y);
    if (width > 0 && height > 0) view->resize(width, height);
}

Rect QtWindowHost::windowRect() const {
    if (!view) return Rect{};
    QRect frame = view->frameGeometry();
    return Rect{frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()};
}

Rect QtWindowHost::clientRect() const {
    if (!view) return Rect{};
    return Rect{0, 0, view->width(), view->height()};
}

Point QtWindowHost::clientToScreen(Point client) const {
    if (!view) return client;
    QPoint p = view->mapToGlobal(QPoint(client.x, client.y));
    return Point{p.x(), p.y()};
}

bool QtWindowHost::canPositionWindow() const {
    // A Wayland client can neither read nor set its window's position.
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void QtWindowHost::startSystemMove() {
    if (view && view->windowHandle()) view->windowHandle()->startSystemMove();
}

void QtWindowHost::setTimer(std::uintptr_t id, std::uint32_t ms) {
    if (!view) return;
    auto& timer = timers[id];
    if (!timer) timer = std::make_unique<QBasicTimer>();
    // A coarse timer may fire up to 5% late, which the display does not notice
    // and which lets the system batch wake-ups.
    timer->start(static_cast<int>(ms), Qt::CoarseTimer, view);
}

void QtWindowHost::killTimer(std::uintptr_t id) {
    auto found = timers.find(id);
    if (found == timers.end()) return;
    found->second->stop();
    timers.erase(found);
}

void QtWindowHost::postMessage(MessageId msg, WParam wParam, LParam lParam) {
    system.post(serial, msg, wParam, lParam);
}

LResult QtWindowHost::sendMessage(MessageId msg, WParam wParam, LParam lParam) { return deliver(msg, wParam, lParam); }

void QtWindowHost::setForeground() {
    if (!view) return;
    view->raise();
    view->activateWindow();
}

namespace {

void fillMenu(QMenu& menu, const std::vector<MenuItem>& items) {
    for (const MenuItem& item : items) {
        switch (item.kind) {
            case MenuItemKind::Separator: menu.addSeparator(); break;
            case MenuItemKind::Submenu: {
                QMenu* sub = menu.addMenu(QString::fromUtf8(item.text.c_str()));
                sub->setEnabled(item.enabled);
                fillMenu(*sub, item.submenu);
                break;
            }
            case MenuItemKind::Command: {
                QAction* action = menu.addAction(QString::fromUtf8(item.text.c_str()));
                action->setData(static_cast<int>(item.id));
                action->setEnabled(item.enabled);
                break;
            }
        }
    }
}

}  // namespace

void QtWindowHost::trackPopupMenu(const MenuPopup& popup, Point screen, std::uint32_t alignment) {
    if (!view) return;
    // On the heap as the widget's child: should the window be destroyed while
    // the menu runs (a posted message in the menu's own loop), the menu goes
    // with the widget and this host may be gone too; `alive` tells.
    QPointer<QMenu> menu = new QMenu(view);
    fillMenu(*menu, popup.items);
    QPoint at(screen.x, screen.y);
    QSize size = menu->sizeHint();
    if (alignment & TPM_RIGHTALIGN) at.rx() -= size.width();
    if (alignment & TPM_BOTTOMALIGN) at.ry() -= size.height();
    std::shared_ptr<const bool> alive = lifeToken;
    WindowSystem::NestedLoop loop(system, [menu] {
        if (menu) menu->close();
    });
    if (loop.refused()) {
        delete menu;
        return;
    }
    QAction* chosen = menu->exec(at);
    if (!*alive || !menu) return;
    if (loop.closed()) chosen = nullptr;
    int id = chosen && chosen->data().isValid() ? chosen->data().toInt() : -1;
    delete menu;
    // The choice arrives later, as a chosen item's WM_COMMAND does.
    if (id >= 0) system.post(serial, WM_COMMAND, makeCommandWParam(0, static_cast<std::uint16_t>(id)), 0);
}

int QtWindowHost::messageBox(const char* text, const char* caption, std::uint32_t flags) {
    return showQtMessageBox(&system, view, text, caption, flags);
}

bool QtWindowHost::addTrayIcon(const char* tip) {
    if (!view || !QSystemTrayIcon::isSystemTrayAvailable()) return false;
    if (!trayIcon) {
        trayIcon = std::make_unique<QSystemTrayIcon>(programIcon());
        QtWindowSystem* owner = &system;
        std::uint64_t windowSerial = serial;
        QSystemTrayIcon* icon = trayIcon.get();
        QObject::connect(trayIcon.get(), &QSystemTrayIcon::activated, trayIcon.get(),
                         [owner, windowSerial, icon](QSystemTrayIcon::ActivationReason reason) {
                             // With a menu of its own the icon shows that on a right click.
                             if (reason == QSystemTrayIcon::Context && icon->contextMenu() != nullptr) return;
                             LParam mouse = 0;
                             if (reason == QSystemTrayIcon::Trigger) mouse = WM_LBUTTONDOWN;
                             if (reason == QSystemTrayIcon::Context) mouse = WM_RBUTTONDOWN;
                             if (mouse == 0) return;
                             owner->post(windowSerial, WM_COMMAND, makeCommandWParam(0, IDM_TRAY_ICON), mouse);
                         });
    }
    if (tip && *tip) trayIcon->setToolTip(QString::fromUtf8(tip));
    trayIcon->show();
    return true;
}

void QtWindowHost::removeTrayIcon() {
    trayIcon.reset();
    trayMenu.reset();
}

void QtWindowHost::setTrayMenu(const MenuPopup& popup) {
    if (!trayIcon) return;
    auto menu = std::make_unique<QMenu>();
    fillMenu(*menu, popup.items);
    QtWindowSystem* owner = &system;
    const std::uint64_t windowSerial = serial;
    QObject::connect(menu.get(), &QMenu::triggered, menu.get(), [owner, windowSerial](QAction* chosen) {
        if (chosen == nullptr || !chosen->data().isValid()) return;
        owner->post(windowSerial, WM_COMMAND, makeCommandWParam(0, static_cast<std::uint16_t>(chosen->data().toInt())),
                    0);
    });
    trayIcon->setContextMenu(menu.get());
    // The old menu may be open right now: it goes once its event is over.
    if (trayMenu) trayMenu.release()->deleteLater();
    trayMenu = std::move(menu);
}

Rect QtWindowHost::beginPaint() {
    if (!painter && !paintingDirectly) return Rect{};
    return Rect{updateRect.left(), updateRect.top(), updateRect.left() + updateRect.width(),
                updateRect.top() + updateRect.height()};
}

void QtWindowHost::copyToScreen(const Surface& surface, const Rect& rect) {
    if (!view || rect.isEmpty()) return;
    // Only the parts of the window that changed are copied and converted,
    // not the box around them (the clock and the meter are far apart).
    const QRegion wanted = updateRegion.intersected(QRect(rect.left, rect.top, rect.width(), rect.height()));
    if (paintingDirectly) {
        XcbPresenter* presenter = system.presenter();
        const auto windowId = static_cast<std::uint32_t>(view->winId());
        for (const QRect& part : wanted) {
            if (presenter->put(windowId, surface, part.x(), part.y(), part.width(), part.height()))
                copiedDirectly = true;
        }
        return;
    }
    if (!painter) return;
    for (const QRect& part : wanted) view->drawSurface(*painter, surface, part);
}

void QtWindowHost::endPaint() {}

void QtWindowHost::destroy() {
    if (!view) return;
    system.leave(serial);
    for (auto& [id, timer] : timers) timer->stop();
    timers.clear();
    trayIcon.reset();
    trayMenu.reset();
    *lifeToken = false;
    pendingPaint = QRegion();
    view->host = nullptr;
    view->hide();
    view->deleteLater();
    view = nullptr;
}

}  // namespace brellin
