#include "ui/qt/QtDialogHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <cmath>
#include <map>

#include "ui/framework/ListView.h"
#include "ui/qt/ProgramIcon.h"
#include "ui/qt/QtMessageSink.h"
#include "ui/qt/VirtualKeys.h"

namespace brellin {

namespace {

// Notification codes carried in the high word of WM_COMMAND, and the track
// bar's WM_HSCROLL code.
constexpr std::uint16_t BN_CLICKED = 0;
constexpr std::uint16_t EN_CHANGE = 0x0300;
constexpr std::uint16_t LBN_SELCHANGE = 1;  // also CBN_SELCHANGE
constexpr std::uint16_t LBN_DBLCLK = 2;
constexpr WParam TB_THUMBTRACK = 5;

// A one-line edit that selects its text only when Tab brings the focus (as
// the dialog manager does), not when the dialog opens with the focus in it.
class EditLine : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent* event) override {
        QLineEdit::focusInEvent(event);
        if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason) return;
        if (hasSelectedText() && selectedText() == text()) {
            deselect();
            setCursorPosition(0);  // the start of a text longer than the field
        }
    }
};

// The style's standard icons, made once for the application and shared by
// every dialog. A standard icon made anew brings pixmaps of its own, and Qt
// files each scaled copy it paints in its pixmap cache under the pixmap's
// key: icons made per row left about a kilobyte per row in that cache at
// every opening of a file dialog, until the cache's 10 MB were full. The set
// is a child of the application, so it goes with it; a new style makes a new set.
class StandardIcons : public QObject {
public:
    static QIcon get(QStyle* style, QStyle::StandardPixmap which) {
        static QPointer<StandardIcons> icons;
        if (icons && icons->madeBy != style) delete icons.data();
        if (!icons) icons = new StandardIcons(style);
        auto found = icons->made.find(which);
        if (found == icons->made.end()) found = icons->made.emplace(which, style->standardIcon(which)).first;
        return found->second;
    }

private:
    explicit StandardIcons(QStyle* style) : QObject(QCoreApplication::instance()), madeBy(style) {}
    QStyle* madeBy;
    std::map<QStyle::StandardPixmap, QIcon> made;
};

int roundedMulDiv(int value, int multiplier, int divisor) {
    // MulDiv: value * multiplier / divisor rounded half away from zero.
    long long product = static_cast<long long>(value) * multiplier;
    long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor : (product - half) / divisor);
}

}  // namespace

QRect dialogUnitsToPixels(const DialogUnitRect& rect, int averageCharWidth, int lineHeight) {
    return QRect(roundedMulDiv(rect.x, averageCharWidth, 4), roundedMulDiv(rect.y, lineHeight, 8),
                 roundedMulDiv(rect.width, averageCharWidth, 4), roundedMulDiv(rect.height, lineHeight, 8));
}

// ---- child controls ----

QtControlHost::QtControlHost(QtDialogHost& owner, QWidget* widget, const ControlTemplate& layout)
    : dialog(owner), view(widget), controlId(layout.id), controlClass(layout.controlClass) {}

void QtControlHost::setWindowProcedure(WindowProcedure newProcedure) {
    bool filtered = procedure != &QtControlHost::ownProcedure;
    procedure = newProcedure ? newProcedure : &QtControlHost::ownProcedure;
    bool filter = procedure != &QtControlHost::ownProcedure;
    // A list's mouse events arrive at its viewport, not at the list itself.
    auto* area = qobject_cast<QAbstractScrollArea*>(view);
    if (filter && !filtered) {
        view->installEventFilter(this);
        if (area) area->viewport()->installEventFilter(this);
    }
    if (!filter && filtered) {
        view->removeEventFilter(this);
        if (area) area->viewport()->removeEventFilter(this);
    }
}

LResult QtControlHost::ownProcedure(ControlHost* handle, MessageId, WParam, LParam) {
    static_cast<QtControlHost*>(handle)->passedOn = true;
    return 0;
}

LResult QtControlHost::defaultProcedure(MessageId msg, WParam wParam, LParam lParam) {
    return ownProcedure(this, msg, wParam, lParam);
}

bool QtControlHost::eventFilter(QObject* watched, QEvent* event) {
    auto* area = qobject_cast<QAbstractScrollArea*>(view);
    if (watched != view && !(area && watched == area->viewport())) return false;
    if (event->type() == QEvent::KeyPress) {
        // The dialog manager sees Enter, Esc and Tab before any control.
        switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter: dialog.enterPressed(); return true;
            case Qt::Key_Escape: dialog.escapePressed(); return true;
            case Qt::Key_Tab:
            case Qt::Key_Backtab: return false;
            default: break;
        }
    }
    MessageId msg = 0;
    WParam wParam = 0;
    LParam lParam = 0;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            bool press = event->type() == QEvent::MouseButtonPress;
            if (event->type() == QEvent::MouseMove) {
                msg = WM_MOUSEMOVE;
            } else if (event->type() == QEvent::MouseButtonDblClick) {
                if (mouse->button() != Qt::LeftButton) return false;
                msg = WM_LBUTTONDBLCLK;
            } else if (mouse->button() == Qt::LeftButton) {
                msg = press ? WM_LBUTTONDOWN : WM_LBUTTONUP;
            } else if (mouse->button() == Qt::RightButton) {
                msg = press ? WM_RBUTTONDOWN : WM_RBUTTONUP;
            } else {
                return false;
            }
            if (mouse->buttons() & Qt::LeftButton) wParam |= MK_LBUTTON;
            if (mouse->buttons() & Qt::RightButton) wParam |= MK_RBUTTON;
            QPointF p = mouse->position();
            lParam = makePointLParam(static_cast<std::int32_t>(std::floor(p.x())),
                                     static_cast<std::int32_t>(std::floor(p.y())));
            break;
        }
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* key = static_cast<QKeyEvent*>(event);
            bool press = event->type() == QEvent::KeyPress;
            if (!press && key->isAutoRepeat()) return false;
            std::int32_t virtualKey = virtualKeyFromQt(key->key(), (key->modifiers() & Qt::KeypadModifier) != 0);
            if (virtualKey == 0) return false;
            msg = press ? WM_KEYDOWN : WM_KEYUP;
            wParam = static_cast<WParam>(virtualKey);
            lParam = 1;
            if (!press || key->isAutoRepeat()) lParam |= LParam{1} << 30;
            if (!press) lParam |= LParam{1} << 31;
            break;
        }
        default: return false;
    }
    passedOn = false;
    procedure(this, msg, wParam, lParam);
    // Handled by the subclassing Control unless it passed the message on.
    return !passedOn;
}

// ---- the dialog ----

class QtDialogHost::View : public QDialog {
public:
    View(QtDialogHost& owner, QWidget* parent) : QDialog(parent), host(owner) {}

    void reject() override { host.escapePressed(); }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter: host.enterPressed(); return;
            case Qt::Key_Escape: host.escapePressed(); return;
            default: QWidget::keyPressEvent(event); return;
        }
    }
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        // WM_CLOSE to the dialog; unhandled, it becomes IDCANCEL.
        if (host.deliver(WM_CLOSE, 0, 0) == 0) host.defaultProcedure(WM_CLOSE, 0, 0);
    }

private:
    QtDialogHost& host;
};

QtDialogHost::QtDialogHost(const DialogTemplate& layout, QWidget* owner, WindowProcedure dialogProcedure,
                           WindowSystem* system)
    : procedure(dialogProcedure), windowSystem(system) {
    view = std::make_unique<View>(*this, owner);
    build(layout);
}

QtDialogHost::~QtDialogHost() {
    setBusyCursor(false);
    controls.clear();
    view.reset();
}

void QtDialogHost::build(const DialogTemplate& layout) {
    view->setWindowTitle(QString::fromUtf8(layout.caption ? layout.caption : ""));
    view->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    QFont font = QApplication::font();
    if (layout.fontFace && *layout.fontFace) font.setFamilies({QString::fromUtf8(layout.fontFace), font.family()});
    if (layout.fontPointSize > 0) font.setPointSize(layout.fontPointSize);
    view->setFont(font);
    QFontMetrics metrics(view->font());
    // Windows' average character width: the 52 letters' width / 26, halved, rounded up.
    int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    int averageWidth = (letters / 26 + 1) / 2;
    int lineHeight = metrics.height();
    QRect client = dialogUnitsToPixels(layout.rect, averageWidth, lineHeight);
    view->setFixedSize(client.size());

    QButtonGroup* radios = nullptr;
    QWidget* previousTabStop = nullptr;
    for (int i = 0; i < layout.controlCount; ++i) {
        const ControlTemplate& entry = layout.controls[i];
        QString text = QString::fromUtf8(entry.text ? entry.text : "");
        QWidget* widget = nullptr;
        const int id = entry.id;
        switch (entry.controlClass) {
            case ControlClass::Button:
            case ControlClass::DefButton: {
                auto* button = new QPushButton(text, view.get());
                // No button is auto-default: Enter is the dialog manager's, below.
                button->setAutoDefault(false);
                button->setDefault(false);
                widget = button;
                break;
            }
            case ControlClass::CheckBox: widget = new QCheckBox(text, view.get()); break;
            case ControlClass::RadioButton: {
                auto* radio = new QRadioButton(text, view.get());
                // A group of radio buttons starts at one with the group style.
                if (!radios || (entry.style & STYLE_GROUP)) radios = new QButtonGroup(view.get());
                radios->addButton(radio);
                widget = radio;
                break;
            }
            case ControlClass::GroupBox: widget = new QGroupBox(text, view.get()); break;
            case ControlClass::Static:
            case ControlClass::StaticRight: {
                auto* label = new QLabel(text, view.get());
                label->setAlignment((entry.controlClass == ControlClass::StaticRight ? Qt::AlignRight : Qt::AlignLeft) |
                                    Qt::AlignTop);
                widget = label;
                break;
            }
            case ControlClass::Edit:
                if (entry.style & EDIT_MULTILINE) {
                    auto* edit = new QPlainTextEdit(text, view.get());
                    edit->setReadOnly(entry.style & EDIT_READONLY);
                    widget = edit;
                } else {
                    auto* edit = new EditLine(text, view.get());
                    edit->setReadOnly(entry.style & EDIT_READONLY);
                    widget = edit;
                }
                break;
            case ControlClass::ListBox:
            case ControlClass::ListView: {
                auto* list = new QListWidget(view.get());
                if (entry.style & LIST_MULTIPLE_SELECTION) list->setSelectionMode(QAbstractItemView::ExtendedSelection);
                if (entry.controlClass == ControlClass::ListView) {
                    const int side = QFontMetrics(view->font()).height();
                    list->setIconSize(QSize(side, side));
                    list->setUniformItemSizes(true);
                }
                widget = list;
                break;
            }
            case ControlClass::ComboBox: widget = new QComboBox(view.get()); break;
            case ControlClass::TrackBar:
                widget = new QSlider(entry.style & TRACKBAR_VERTICAL ? Qt::Vertical : Qt::Horizontal, view.get());
                break;
            case ControlClass::Icon: {
                auto* label = new QLabel(view.get());
                QRect pixels = dialogUnitsToPixels(entry.rect, averageWidth, lineHeight);
                int side = std::min(pixels.width(), pixels.height());
                label->setPixmap(programIcon().pixmap(side, side));
                widget = label;
                break;
            }
        }
        widget->setGeometry(dialogUnitsToPixels(entry.rect, averageWidth, lineHeight));
        if (entry.style & STYLE_DISABLED) widget->setEnabled(false);
        if (entry.style & STYLE_TABSTOP) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop) QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        } else if (widget->focusPolicy() != Qt::NoFocus) {
            widget->setFocusPolicy(Qt::ClickFocus);
        }
        auto host = std::make_unique<QtControlHost>(*this, widget, entry);
        LParam handle = reinterpret_cast<LParam>(static_cast<ControlHost*>(host.get()));
        auto command = [this, id, handle](std::uint16_t code) {
            deliver(WM_COMMAND, makeCommandWParam(code, static_cast<std::uint16_t>(id)), handle);
        };
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            QObject::connect(button, &QAbstractButton::clicked, view.get(), [command] { command(BN_CLICKED); });
        } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
            QObject::connect(line, &QLineEdit::textEdited, view.get(), [command] { command(EN_CHANGE); });
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            QObject::connect(combo, &QComboBox::activated, view.get(), [command] { command(LBN_SELCHANGE); });
        } else if (auto* list = qobject_cast<QListWidget*>(widget);
                   list && entry.controlClass == ControlClass::ListView) {
            QtControlHost* listHost = host.get();
            auto changed = [this, id, listHost] { notifyItemChanged(id, listHost); };
            QObject::connect(list, &QListWidget::currentRowChanged, view.get(), changed);
            QObject::connect(list, &QListWidget::itemSelectionChanged, view.get(), changed);
        } else if (auto* plainList = qobject_cast<QListWidget*>(widget)) {
            QObject::connect(plainList, &QListWidget::currentRowChanged, view.get(),
                             [command] { command(LBN_SELCHANGE); });
            QObject::connect(plainList, &QListWidget::itemDoubleClicked, view.get(),
                             [command] { command(LBN_DBLCLK); });
        } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
            QObject::connect(slider, &QSlider::valueChanged, view.get(), [this, handle](int position) {
                deliver(WM_HSCROLL, (static_cast<WParam>(static_cast<std::uint16_t>(position)) << 16) | TB_THUMBTRACK,
                        handle);
            });
        }
        controls.push_back(std::move(host));
    }
}

std::intptr_t QtDialogHost::run() {
    // WM_INITDIALOG binds the Dialog object; its handler sets the focus.
    deliver(WM_INITDIALOG, 0, 0);
    if (!ended) {
        view->setModal(true);
        view->exec();
    }
    deliver(WM_DESTROY, 0, 0);
    dialog = nullptr;
    return result;
}

LResult QtDialogHost::deliver(MessageId msg, WParam wParam, LParam lParam) {
    return procedure ? procedure(this, msg, wParam, lParam) : defaultProcedure(msg, wParam, lParam);
}

LResult QtDialogHost::defaultProcedure(MessageId msg, WParam, LParam) {
    // The dialog manager turns an unhandled close into the Cancel command.
    if (msg == WM_CLOSE) deliver(WM_COMMAND, makeCommandWParam(BN_CLICKED, IDCANCEL), 0);
    return 0;
}

void QtDialogHost::enterPressed() {
    int id = IDOK;
    QWidget* focused = view->focusWidget();
    for (const auto& entry : controls) {
        if (entry->widget() == focused && qobject_cast<QPushButton*>(focused)) id = entry->id();
    }
    deliver(WM_COMMAND, makeCommandWParam(BN_CLICKED, static_cast<std::uint16_t>(id)), 0);
}

void QtDialogHost::cancel() {
    if (ended) return;
    deliver(WM_COMMAND, makeCommandWParam(BN_CLICKED, IDCANCEL), 0);
    if (!ended) endDialog(IDCANCEL);
}

void QtDialogHost::escapePressed() { deliver(WM_COMMAND, makeCommandWParam(BN_CLICKED, IDCANCEL), 0); }

void QtDialogHost::endDialog(std::intptr_t value) {
    result = value;
    ended = true;
    // QDialog::done on the base: it hides the dialog and ends exec().
    view->QDialog::done(static_cast<int>(value));
}

QtControlHost* QtDialogHost::find(int id) const {
    for (const auto& entry : controls) {
        if (entry->id() == id) return entry.get();
    }
    return nullptr;
}

ControlHost* QtDialogHost::item(int id) { return find(id); }

void QtDialogHost::setItemText(int id, const char* text) {
    QtControlHost* entry = find(id);
    if (!entry) return;
    QString value = QString::fromUtf8(text ? text : "");
    QWidget* widget = entry->widget();
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(value);
        // A line cut at its end (a deep folder's path) tells the whole of it.
        const bool cut = label->fontMetrics().horizontalAdvance(value) > label->contentsRect().width();
        label->setToolTip(cut ? value : QString());
    } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        line->setText(value);
        line->setCursorPosition(0);  // a text longer than the field shows its start
        // A read-only field too narrow for its text tells the whole of it.
        const bool cut = line->fontMetrics().horizontalAdvance(value) > line->contentsRect().width() - 4;
        line->setToolTip(line->isReadOnly() && cut ? value : QString());
    } else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget))
        edit->setPlainText(value);
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(value);
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        group->setTitle(value);
    else if (auto* combo = qobject_cast<QComboBox*>(widget))
        combo->setCurrentText(value);
}

std::string QtDialogHost::itemText(int id) const {
    QtControlHost* entry = find(id);
    if (!entry) return std::string();
    QString value;
    QWidget* widget = entry->widget();
    if (auto* label = qobject_cast<QLabel*>(widget))
        value = label->text();
    else if (auto* line = qobject_cast<QLineEdit*>(widget))
        value = line->text();
    else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget))
        value = edit->toPlainText();
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        value = button->text();
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        value = group->title();
    else if (auto* combo = qobject_cast<QComboBox*>(widget))
        value = combo->currentText();
    return value.toUtf8().toStdString();
}

void QtDialogHost::setFocus(int id) {
    if (QtControlHost* entry = find(id)) entry->widget()->setFocus(Qt::OtherFocusReason);
}

void QtDialogHost::enableItem(int id, bool enabled) {
    if (QtControlHost* entry = find(id)) entry->widget()->setEnabled(enabled);
}

void QtDialogHost::setChecked(int id, bool checked) {
    QtControlHost* entry = find(id);
    if (!entry) return;
    if (auto* button = qobject_cast<QAbstractButton*>(entry->widget())) button->setChecked(checked);
}

bool QtDialogHost::isChecked(int id) const {
    QtControlHost* entry = find(id);
    if (!entry) return false;
    auto* button = qobject_cast<QAbstractButton*>(entry->widget());
    return button && button->isChecked();
}

void QtDialogHost::resetItems(int id) {
    QtControlHost* entry = find(id);
    if (!entry) return;
    if (auto* list = qobject_cast<QListWidget*>(entry->widget())) list->clear();
    if (auto* combo = qobject_cast<QComboBox*>(entry->widget())) combo->clear();
}

int QtDialogHost::addItem(int id, const char* text) {
    QtControlHost* entry = find(id);
    if (!entry) return -1;
    QString value = QString::fromUtf8(text ? text : "");
    if (auto* list = qobject_cast<QListWidget*>(entry->widget())) {
        list->addItem(value);
        return list->count() - 1;
    }
    if (auto* combo = qobject_cast<QComboBox*>(entry->widget())) {
        combo->addItem(value);
        return combo->count() - 1;
    }
    return -1;
}

int QtDialogHost::itemCount(int id) const {
    QtControlHost* entry = find(id);
    if (!entry) return 0;
    if (auto* list = qobject_cast<QListWidget*>(entry->widget())) return list->count();
    if (auto* combo = qobject_cast<QComboBox*>(entry->widget())) return combo->count();
    return 0;
}

int QtDialogHost::selectedItem(int id) const {
    QtControlHost* entry = find(id);
    if (!entry) return -1;
    if (auto* list = qobject_cast<QListWidget*>(entry->widget())) return list->currentRow();
    if (auto* combo = qobject_cast<QComboBox*>(entry->widget())) return combo->currentIndex();
    return -1;
}

void QtDialogHost::selectItem(int id, int index) {
    QtControlHost* entry = find(id);
    if (!entry) return;
    if (auto* list = qobject_cast<QListWidget*>(entry->widget())) {
        QSignalBlocker quiet(list);  // LB_SETCURSEL sends no notification
        list->setCurrentRow(index);
    }
    if (auto* combo = qobject_cast<QComboBox*>(entry->widget())) combo->setCurrentIndex(index);
}

std::string QtDialogHost::itemString(int id, int index) const {
    QtControlHost* entry = find(id);
    if (!entry) return std::string();
    if (auto* list = qobject_cast<QListWidget*>(entry->widget())) {
        QListWidgetItem* row = list->item(index);
        return row ? row->text().toUtf8().toStdString() : std::string();
    }
    if (auto* combo = qobject_cast<QComboBox*>(entry->widget())) {
        return index >= 0 && index < combo->count() ? combo->itemText(index).toUtf8().toStdString() : std::string();
    }
    return std::string();
}

void QtDialogHost::setTrackRange(int id, int minimum, int maximum) {
    QtControlHost* entry = find(id);
    if (!entry) return;
    if (auto* slider = qobject_cast<QSlider*>(entry->widget())) {
        QSignalBlocker quiet(slider);
        slider->setRange(minimum, maximum);
    }
}

void QtDialogHost::setTrackPosition(int id, int position) {
    QtControlHost* entry = find(id);
    if (!entry) return;
    if (auto* slider = qobject_cast<QSlider*>(entry->widget())) {
        QSignalBlocker quiet(slider);  // TBM_SETPOS sends no notification
        slider->setValue(position);
    }
}

int QtDialogHost::trackPosition(int id) const {
    QtControlHost* entry = find(id);
    if (!entry) return 0;
    auto* slider = qobject_cast<QSlider*>(entry->widget());
    return slider ? slider->value() : 0;
}

void QtDialogHost::invalidateAll() { view->update(); }

void QtDialogHost::showWindow() { view->show(); }

int QtDialogHost::messageBox(const char* text, const char* caption, std::uint32_t flags) {
    return showQtMessageBox(windowSystem, view.get(), text, caption, flags);
}

// ---- list views ----

void QtDialogHost::notifyItemChanged(int id, QtControlHost* listHost) {
    auto* list = qobject_cast<QListWidget*>(listHost->widget());
    if (!list || list->currentRow() < 0) return;
    ListViewNotify notify;
    notify.header.from = static_cast<ControlHost*>(listHost);
    notify.header.id = static_cast<std::uintptr_t>(id);
    notify.header.code = LVN_ITEMCHANGED;
    notify.item = list->currentRow();
    notify.newState = LVIS_FOCUSED | (list->currentItem()->isSelected() ? LVIS_SELECTED : 0);
    deliver(WM_NOTIFY, static_cast<WParam>(id), reinterpret_cast<LParam>(&notify));
}

namespace {

QListWidget* listOf(QtControlHost* entry) { return entry ? qobject_cast<QListWidget*>(entry->widget()) : nullptr; }

}  // namespace

void QtDialogHost::clearListView(int id) {
    if (QListWidget* list = listOf(find(id))) {
        QSignalBlocker quiet(list);  // emptying is no item change
        list->clear();
    }
}

int QtDialogHost::addListViewItem(int id, const char* text, int icon) {
    QListWidget* list = listOf(find(id));
    if (!list) return -1;
    static constexpr QStyle::StandardPixmap icons[] = {QStyle::SP_FileIcon, QStyle::SP_DirIcon,
                                                       QStyle::SP_FileDialogToParent, QStyle::SP_MediaPlay};
    QSignalBlocker quiet(list);
    auto* row = new QListWidgetItem(QString::fromUtf8(text ? text : ""), list);
    if (icon >= 0 && icon < 4) row->setIcon(StandardIcons::get(list->style(), icons[icon]));
    // A new list has no focused item until the user picks one.
    list->setCurrentItem(nullptr, QItemSelectionModel::NoUpdate);
    return list->count() - 1;
}

int QtDialogHost::listViewCount(int id) const {
    QListWidget* list = listOf(find(id));
    return list ? list->count() : 0;
}

bool QtDialogHost::isListViewItemSelected(int id, int index) const {
    QListWidget* list = listOf(find(id));
    QListWidgetItem* row = list ? list->item(index) : nullptr;
    return row && row->isSelected();
}

void QtDialogHost::selectListViewItem(int id, int index, bool selected, bool focus) {
    QListWidget* list = listOf(find(id));
    QListWidgetItem* row = list ? list->item(index) : nullptr;
    if (!row) return;
    if (focus) {
        list->setCurrentItem(row, QItemSelectionModel::NoUpdate);
        list->scrollToItem(row);
    }
    row->setSelected(selected);
}

void QtDialogHost::postMessage(MessageId msg, WParam wParam, LParam lParam) {
    QMetaObject::invokeMethod(
        view.get(),
        [this, msg, wParam, lParam] {
            if (!ended) deliver(msg, wParam, lParam);
        },
        Qt::QueuedConnection);
}

void QtDialogHost::setBusyCursor(bool value) { cursor.show(value); }

}  // namespace brellin
