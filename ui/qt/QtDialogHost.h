// QtDialogHost: one running modal dialog built from its template table, and
// QtControlHost, the handle of one of its child controls.
//
// The widgets are made from the table in the template's order (which is
// also the Tab order), placed in pixels converted from dialog units with the
// dialog font's average character width and line height, as Windows does.
// Buttons, check boxes and radio buttons send WM_COMMAND with their id;
// track bars send WM_HSCROLL. The dialog manager's keys are handled here,
// not by QDialog: Enter sends WM_COMMAND with the focused button's id, else
// IDOK (1), and Esc sends WM_COMMAND IDCANCEL (2), both through the dialog's
// procedure, so the dialog object decides whether it closes. Qt's own
// reject() paths (the window manager's close) go the same way.
//
// Made on the stack of QtWindowSystem::dialogBox and destroyed when the
// modal run has ended. User-interface thread only.
#pragma once

#include <QDialog>
#include <QObject>
#include <cstdint>
#include <memory>
#include <vector>

#include "ui/framework/DialogTemplate.h"
#include "ui/framework/Host.h"
#include "ui/qt/QtMessageSink.h"

namespace brellin {

class QtDialogHost;

// Pixels of a dialog-unit rectangle for a font with that average character
// width and line height: x * width / 4, y * height / 8, rounded.
QRect dialogUnitsToPixels(const DialogUnitRect& rect, int averageCharWidth, int lineHeight);

class QtControlHost : public QObject, public ControlHost {
public:
    QtControlHost(QtDialogHost& owner, QWidget* widget, const ControlTemplate& layout);

    WindowProcedure windowProcedure() const override { return procedure; }
    // Another procedure than the control's own puts an event filter on the widget.
    void setWindowProcedure(WindowProcedure newProcedure) override;
    Control* controlData() const override { return control; }
    void setControlData(Control* data) override { control = data; }
    LResult defaultProcedure(MessageId msg, WParam wParam, LParam lParam) override;

    QWidget* widget() const { return view; }
    int id() const { return controlId; }
    ControlClass kind() const { return controlClass; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The control's own handling: the event goes on to the Qt widget.
    static LResult ownProcedure(ControlHost* handle, MessageId msg, WParam wParam, LParam lParam);

    QtDialogHost& dialog;
    QWidget* view;
    int controlId;
    ControlClass controlClass;
    WindowProcedure procedure = &QtControlHost::ownProcedure;
    Control* control = nullptr;
    bool passedOn = false;
};

class QtDialogHost : public DialogHost {
public:
    // `system` keeps the books of the nested loops the dialog's message
    // boxes run (none: they run unaccounted, as in a test of one dialog).
    QtDialogHost(const DialogTemplate& layout, QWidget* owner, WindowProcedure procedure,
                 WindowSystem* system = nullptr);
    ~QtDialogHost() override;

    // WM_INITDIALOG, the modal run, WM_DESTROY; returns the endDialog result.
    std::intptr_t run();
    // Ends the dialog from outside as its Cancel button would: the Cancel
    // command through the dialog's procedure, and IDCANCEL should the
    // dialog stay open.
    void cancel();
    QDialog* widget() const { return view.get(); }

    // ControlHost
    WindowProcedure windowProcedure() const override { return procedure; }
    void setWindowProcedure(WindowProcedure newProcedure) override { procedure = newProcedure; }
    Control* controlData() const override { return control; }
    void setControlData(Control* data) override { control = data; }
    LResult defaultProcedure(MessageId msg, WParam wParam, LParam lParam) override;

    // DialogHost
    Dialog* dialogData() const override { return dialog; }
    void setDialogData(Dialog* data) override { dialog = data; }
    void endDialog(std::intptr_t value) override;
    ControlHost* item(int id) override;
    void setItemText(int id, const char* text) override;
    std::string itemText(int id) const override;
    void setFocus(int id) override;
    void enableItem(int id, bool enabled) override;
    void setChecked(int id, bool checked) override;
    bool isChecked(int id) const override;
    void resetItems(int id) override;
    int addItem(int id, const char* text) override;
    int itemCount(int id) const override;
    int selectedItem(int id) const override;
    void selectItem(int id, int index) override;
    std::string itemString(int id, int index) const override;
    void setTrackRange(int id, int minimum, int maximum) override;
    void setTrackPosition(int id, int position) override;
    int trackPosition(int id) const override;
    void invalidateAll() override;
    void showWindow() override;
    int messageBox(const char* text, const char* caption, std::uint32_t flags) override;
    // List views are QListWidgets; every change of the current item or of
    // the selection is WM_NOTIFY LVN_ITEMCHANGED for the current item.
    void clearListView(int id) override;
    int addListViewItem(int id, const char* text, int icon) override;
    int listViewCount(int id) const override;
    bool isListViewItemSelected(int id, int index) const override;
    void selectListViewItem(int id, int index, bool selected, bool focus) override;
    // Queued to the dialog widget (thread-safe); dropped once the dialog has
    // ended or its widget is gone.
    void postMessage(MessageId msg, WParam wParam, LParam lParam) override;
    void setBusyCursor(bool value) override;

    // Through the dialog's procedure.
    LResult deliver(MessageId msg, WParam wParam, LParam lParam);
    // The dialog manager's Enter and Esc.
    void enterPressed();
    void escapePressed();

private:
    class View;

    QtControlHost* find(int id) const;
    void build(const DialogTemplate& layout);
    void notifyItemChanged(int id, QtControlHost* control);

    std::unique_ptr<QDialog> view;
    std::vector<std::unique_ptr<QtControlHost>> controls;
    WindowProcedure procedure;
    WindowSystem* windowSystem = nullptr;
    Control* control = nullptr;
    Dialog* dialog = nullptr;
    std::intptr_t result = 0;
    bool ended = false;
    BusyCursor cursor;
};

}  // namespace brellin
