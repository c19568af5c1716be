// FileBrowserDialog: the program's own file browser. One folder at a time in
// a list view ("Go up", folders, then the files matching `patterns`, in
// browser order) with a name field. Open mode (template 102, ADD / NEW,
// several files) gathers the chosen files into `selections`; save mode
// (template 112, Ok) accepts a typed name and leaves the chosen path in `path`.
//
// The caller fills `patterns`, `defaultExtension`, the two flags and the
// starting path (setStartPath), runs doModal with the template and reads
// `result`, `path` and `selections`. Lives on the stack of the command that
// runs it; user-interface thread only.
//
// Paths are composed from the listing's raw name bytes, never from the
// decoded text the list shows, and never longer than MAX_PATH_LENGTH: a
// choice whose path would not fit is refused rather than cut.
#pragma once

#include <cstdint>
#include <string>

#include "common/DirectoryListing.h"
#include "common/StringList.h"
#include "ui/dialogs/ListViewControl.h"
#include "ui/framework/Dialog.h"

namespace brellin {

class FileBrowserDialog : public Dialog {
public:
    enum Result : std::int32_t { CANCELLED = 0, ADD_OR_OK = 1, NEW_LIST = 2 };

    explicit FileBrowserDialog(WindowSystem& system);

    // `path` = the starting file (its folder is shown). A relative path is
    // taken relative to the working folder; an empty one starts in
    // firstFolder(); one that does not fit starts at the root.
    void setStartPath(const char* start);
    // Where a browser without a file to start from begins, ending in '/':
    // the XDG music folder (XDG_MUSIC_DIR of user-dirs.dirs, else ~/Music)
    // when it exists, else the home folder, else the root.
    static std::string firstFolder();

    LResult onInitDialog() override;
    LResult onMessage(MessageId msg, WParam wParam, LParam lParam) override;
    LResult onCommand(std::uint16_t code, std::uint16_t id, LParam lParam) override;
    LResult onNotify(WParam controlId, LParam header) override;
    LResult onClose() override;

    // Lists the folder of `path` into the list view; falls back to the root.
    void refresh();

    DirectoryListing listing;
    // The item whose state changed last in the folder shown now; -1 after
    // every refresh, so nothing of a previous folder can be acted on.
    std::int32_t focusedIndex = -1;
    bool acceptsTypedName = false;
    bool collectsSelection = false;
    std::int32_t result = CANCELLED;
    // Starting path in; chosen folder and name out. Always absolute.
    char path[MAX_PATH_LENGTH + 1] = "/";
    std::string patterns;
    std::string defaultExtension;
    StringList selections;

private:
    // `path` through its last '/' ("/" when there is none).
    std::string folderPrefix() const;
    void setPath(const std::string& value);
    void itemChanged(std::int32_t item);
    void choose(std::uint16_t id);
    // The path of a typed name, or empty when the name is refused.
    std::string typedPath(const std::string& text) const;
    void enterFolder(const DirectoryEntry& folder);
    void gather();
    void closeDialog();

    ListViewControl listControl;
    // What selecting a file put into the name field, and the raw name it
    // stands for: Ok on an untouched field uses the raw bytes.
    std::string shownName;
    std::string rawName;
};

}  // namespace brellin
