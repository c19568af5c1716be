// PlayListDialog: the play list in a list view (template 113, "Play list")
// with Up, Down, Info, Del and Check, a title line filled by a worker thread,
// and double click or Enter to play the chosen entry.
//
// The caller gives the entries and `chosenIndex` (the current entry) and runs
// doModal; afterwards `playChosen` says whether the user chose an entry and
// `chosenIndex` which one. Lives on the stack of the command that runs it.
//
// Threads: the dialog runs on the user-interface thread. The title checker
// runs on its own thread from onInitDialog to the close: it copies the
// selected entry's path under the play-list lock, measures the file outside
// any lock and posts the title with the entry's index and path; the dialog
// shows it only if that entry is still selected and still holds that path.
// The checker never touches a widget. Its state is shared (TitleCheck) and
// stays alive for as long as the thread runs: a close waits at most
// `titleCheckerWait` ms for the thread and then leaves it to end by itself;
// once the quit flag is set (under the state's lock) it neither reads the
// entries nor posts again.
//
// The list shown is a snapshot of the entries taken at each refresh. The
// buttons act on the entries by their paths, so a list changed behind the
// dialog (a second instance's hand-over, a recent play list opened from the
// tray) is refreshed and never loses the wrong entry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialogs/ListViewControl.h"
#include "ui/dialogs/PlayListEntries.h"
#include "ui/framework/Dialog.h"

namespace brellin {

// Posted by the title checker when a title is ready (no parameters; the
// title waits in the shared state).
constexpr MessageId WM_TITLE_READY = 0x8001;

// Measures the file at `path` and gives its title bytes (already cut to the
// 256-byte field). Runs on the title checker's thread.
using TitleScan = std::function<void(const std::string& path, std::string& title)>;

// The title of a MIDI file as scanMidiFile finds it, in a 256-byte field.
void scanTitle(const std::string& path, std::string& title);

class PlayListDialog : public Dialog {
public:
    PlayListDialog(WindowSystem& system, PlayListEntries& entries, TitleScan scan = scanTitle);
    ~PlayListDialog() override;

    LResult onInitDialog() override;
    LResult onMessage(MessageId msg, WParam wParam, LParam lParam) override;
    LResult onCommand(std::uint16_t code, std::uint16_t id, LParam lParam) override;
    LResult onNotify(WParam controlId, LParam header) override;
    LResult onClose() override;
    // Runs the dialog; whatever ended it, the title checker is stopped
    // before the host that it posts to is gone.
    bool doModal(ControlHost* parent, std::uint16_t templateId) override;

    // Re-reads the entries into the list view (no selection shown).
    void refresh();

    std::int32_t selectedIndex = -1;
    std::int32_t chosenIndex = 0;
    bool playChosen = false;
    // The file that is playing, marked in the list wherever it moves; empty: none.
    std::string playingPath;
    // The paths the list view shows, in order, as of the last refresh.
    std::vector<std::string> shown;

    // How long a close waits for the title checker (ms).
    std::uint32_t titleCheckerWait = 5000;
    // True once a close had to leave the checker running.
    bool titleCheckerLeft = false;

    // The state shared with the title checker's thread; it expires when the
    // thread has ended and the dialog has let go of it.
    struct TitleCheck;
    std::weak_ptr<TitleCheck> titleCheckState() const { return check; }

private:
    void select(std::int32_t item);
    // Under the lock: whether the entries are still what the list shows.
    bool unchanged(StringList& list) const;
    void move(std::int32_t step);
    void deleteSelected();
    void removeMissing();
    void showInformation();
    void showTitle();
    void stopTitleChecker();
    void closeDialog();

    PlayListEntries& entries;
    TitleScan scan;
    std::shared_ptr<TitleCheck> check;
    std::thread checker;
    ListViewControl listControl;
};

}  // namespace brellin
