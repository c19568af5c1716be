#include "ui/dialogs/FileBrowserDialog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/dialogs/DialogText.h"
#include "ui/dialogs/FileDialogTemplates.h"
#include "ui/framework/ListView.h"

namespace brellin {

namespace {

bool endsWithIgnoringCase(const std::string& text, const std::string& suffix) {
    if (suffix.size() > text.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char a = text[text.size() - suffix.size() + i];
        char b = suffix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
        if (a != b) return false;
    }
    return true;
}

bool hasControlCharacter(const std::string& text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

// Whether any '/'-separated part of the text is "..".
bool hasParentStep(const std::string& text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t stop = text.find('/', start);
        if (stop == std::string::npos) stop = text.size();
        if (text.compare(start, stop - start, "..") == 0) return true;
        start = stop + 1;
    }
    return false;
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// XDG_MUSIC_DIR of user-dirs.dirs: a quoted path, absolute or "$HOME/...".
std::string musicFolderOf(const std::string& home) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string file = config != nullptr && config[0] == '/' ? std::string(config) : home + "/.config";
    file += "/user-dirs.dirs";
    std::FILE* in = std::fopen(file.c_str(), "r");
    if (in == nullptr) return {};
    std::string found;
    char line[1024];
    while (std::fgets(line, sizeof line, in) != nullptr) {
        std::string text = line;
        const std::string key = "XDG_MUSIC_DIR=\"";
        if (text.compare(0, key.size(), key) != 0) continue;
        const std::size_t end = text.find('"', key.size());
        if (end == std::string::npos) continue;
        std::string value = text.substr(key.size(), end - key.size());
        if (value.compare(0, 6, "$HOME/") == 0 || value == "$HOME") value = home + value.substr(5);
        if (!value.empty() && value[0] == '/') found = value;
    }
    std::fclose(in);
    return found;
}

}  // namespace

std::string FileBrowserDialog::firstFolder() {
    const char* homeVariable = std::getenv("HOME");
    std::string home = homeVariable != nullptr && homeVariable[0] == '/' ? std::string(homeVariable) : std::string();
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (home.empty()) return "/";
    std::string music = musicFolderOf(home);
    while (music.size() > 1 && music.back() == '/') music.pop_back();
    if (!isFolder(music)) music = home + "/Music";
    if (isFolder(music) && music.size() < MAX_PATH_LENGTH) return music + "/";
    if (isFolder(home) && home.size() < MAX_PATH_LENGTH) return home == "/" ? home : home + "/";
    return "/";
}

FileBrowserDialog::FileBrowserDialog(WindowSystem& windowSystem) : Dialog(windowSystem), listControl(*this) {
    // The browser's list takes Home, End, the page keys and type-ahead.
    listControl.browsingKeys = true;
}

void FileBrowserDialog::setStartPath(const char* start) {
    std::string value = start ? start : "";
    if (!value.empty() && value[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) {
            std::string base = cwd;
            if (base.empty() || base.back() != '/') base += '/';
            value = base + value;
        } else {
            value.clear();
        }
    }
    // Nothing played yet: the user's music folder (or home), not the root.
    if (value.empty()) value = firstFolder();
    if (value.size() > MAX_PATH_LENGTH) value = "/";
    setPath(value);
}

void FileBrowserDialog::setPath(const std::string& value) {
    std::size_t n = value.size() > MAX_PATH_LENGTH ? MAX_PATH_LENGTH : value.size();
    std::memcpy(path, value.data(), n);
    path[n] = '\0';
}

std::string FileBrowserDialog::folderPrefix() const {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return "/";
    return std::string(path, static_cast<std::size_t>(slash - path) + 1);
}

LResult FileBrowserDialog::onInitDialog() {
    result = CANCELLED;
    if (hwnd == nullptr) return 0;
    listControl.attach(hwnd->item(IDC_FILE_LIST));
    listControl.subclass();
    hwnd->setFocus(IDC_FILE_LIST);
    hwnd->postMessage(WM_DIALOG_REFRESH, 0, 0);
    return 0;
}

LResult FileBrowserDialog::onMessage(MessageId msg, WParam wParam, LParam lParam) {
    if (msg == WM_DIALOG_REFRESH) {
        refresh();
        return 1;
    }
    return Dialog::onMessage(msg, wParam, lParam);
}

void FileBrowserDialog::refresh() {
    focusedIndex = -1;
    if (hwnd != nullptr) hwnd->clearListView(IDC_FILE_LIST);
    for (int pass = 0; pass < 2; ++pass) {
        std::string folder = folderPrefix();
        if (folder.size() > 1) folder.pop_back();  // the folder without its final '/'
        if (!listing.scan(folder.c_str(), patterns.c_str())) {
            // What is listed and the folder that paths are built in stay the same one.
            setPath("/");
            listing.scan("/", patterns.c_str());
            folder = "/";
        }
        listing.sort();
        if (listing.count() != 0 || folder == "/") break;
        setPath("/");
    }
    if (hwnd == nullptr) return;
    {
        std::string folder = folderPrefix();
        if (folder.size() > 1) folder.pop_back();
        hwnd->setItemText(IDC_BROWSER_FOLDER, displayText(folder).c_str());
    }
    for (std::uint32_t i = 0; i < listing.count(); ++i) {
        const DirectoryEntry* entry = listing.entry(i);
        if (!entry->isFolder()) {
            hwnd->addListViewItem(IDC_FILE_LIST, displayText(entry->name, std::strlen(entry->name)).c_str(),
                                  LIST_ICON_FILE);
        } else if (std::strcmp(entry->name, "..") == 0) {
            hwnd->addListViewItem(IDC_FILE_LIST, "Go up", LIST_ICON_GO_UP);
        } else {
            hwnd->addListViewItem(IDC_FILE_LIST, displayText(entry->name, std::strlen(entry->name)).c_str(),
                                  LIST_ICON_FOLDER);
        }
    }
}

LResult FileBrowserDialog::onNotify(WParam, LParam header) {
    const auto* notify = reinterpret_cast<const NotifyHeader*>(header);
    if (notify == nullptr || notify->code != LVN_ITEMCHANGED || notify->id != IDC_FILE_LIST) return 1;
    itemChanged(reinterpret_cast<const ListViewNotify*>(header)->item);
    return 1;
}

void FileBrowserDialog::itemChanged(std::int32_t item) {
    focusedIndex = item;
    if (item < 0) return;
    const DirectoryEntry* entry = listing.entry(static_cast<std::uint32_t>(item));
    if (entry == nullptr || hwnd == nullptr) return;
    if (entry->isFolder()) {
        hwnd->setItemText(IDC_BROWSER_NAME, "");
        shownName.clear();
        rawName.clear();
        return;
    }
    const std::string composed = folderPrefix() + entry->name;
    if (composed.size() <= MAX_PATH_LENGTH) setPath(composed);
    rawName = entry->name;
    shownName = displayText(rawName);
    hwnd->setItemText(IDC_BROWSER_NAME, shownName.c_str());
}

LResult FileBrowserDialog::onCommand(std::uint16_t, std::uint16_t id, LParam) {
    switch (id) {
        case IDOK:
        case IDC_BROWSER_NEW: choose(id); return 1;
        case IDCANCEL: closeDialog(); return 1;
        default: return 0;
    }
}

std::string FileBrowserDialog::typedPath(const std::string& text) const {
    std::string name = text == shownName && !rawName.empty() ? rawName : text;
    if (hasControlCharacter(name) || hasParentStep(name)) return {};
    std::string full;
    if (name[0] == '/') {
        full = name;  // an absolute name stands for itself
    } else {
        if (name.find('/') != std::string::npos || name == ".") return {};
        full = folderPrefix() + name;
    }
    if (full.back() == '/') return {};
    if (!endsWithIgnoringCase(full, defaultExtension)) full += defaultExtension;
    if (full.size() > MAX_PATH_LENGTH) return {};
    return full;
}

void FileBrowserDialog::choose(std::uint16_t id) {
    const std::int32_t chosen = id == IDC_BROWSER_NEW ? NEW_LIST : ADD_OR_OK;
    if (acceptsTypedName && hwnd != nullptr) {
        const std::string text = hwnd->itemText(IDC_BROWSER_NAME);
        if (!text.empty()) {
            const std::string full = typedPath(text);
            if (full.empty()) return;  // refused: the dialog stays open with the text as typed
            setPath(full);
            result = chosen;
            gather();
            closeDialog();
            return;
        }
    }
    if (focusedIndex < 0) return;
    const DirectoryEntry* entry = listing.entry(static_cast<std::uint32_t>(focusedIndex));
    if (entry == nullptr) return;
    if (entry->isFolder()) {
        enterFolder(*entry);
        return;
    }
    const std::string composed = folderPrefix() + entry->name;
    if (composed.size() > MAX_PATH_LENGTH) return;
    setPath(composed);
    result = chosen;
    gather();
    if (collectsSelection && selections.count() == 0) {
        // The focused file was deselected and nothing else is: closing now
        // would let NEW empty the play list for nothing.
        result = CANCELLED;
        return;
    }
    closeDialog();
}

void FileBrowserDialog::enterFolder(const DirectoryEntry& folder) {
    std::string next;
    // Going up, the folder just left is the one selected in its parent.
    std::string left;
    if (std::strcmp(folder.name, "..") == 0) {
        std::string current = path;
        std::size_t last = current.rfind('/');
        current = last == std::string::npos ? std::string() : current.substr(0, last);
        std::size_t before = current.rfind('/');
        next = before == std::string::npos ? std::string("/") : current.substr(0, before + 1);
        if (before != std::string::npos) left = current.substr(before + 1);
    } else {
        next = folderPrefix() + folder.name + "/";
        if (next.size() > MAX_PATH_LENGTH) return;  // cannot be shown: stay where we are
    }
    setPath(next);
    shownName.clear();
    rawName.clear();
    if (hwnd != nullptr) hwnd->setItemText(IDC_BROWSER_NAME, "");
    refresh();
    if (left.empty() || hwnd == nullptr) return;
    for (std::uint32_t i = 0; i < listing.count(); ++i) {
        const DirectoryEntry* entry = listing.entry(i);
        if (entry->isFolder() && left == entry->name) {
            hwnd->selectListViewItem(IDC_FILE_LIST, static_cast<int>(i), true, true);
            break;
        }
    }
}

void FileBrowserDialog::gather() {
    if (!collectsSelection || hwnd == nullptr) return;
    const std::string prefix = folderPrefix();
    const int items = hwnd->listViewCount(IDC_FILE_LIST);
    for (int i = 0; i < items; ++i) {
        if (!hwnd->isListViewItemSelected(IDC_FILE_LIST, i)) continue;
        const DirectoryEntry* entry = listing.entry(static_cast<std::uint32_t>(i));
        if (entry == nullptr || entry->isFolder()) continue;
        const std::string full = prefix + entry->name;
        if (full.size() <= MAX_PATH_LENGTH) selections.append(full.c_str());
    }
}

LResult FileBrowserDialog::onClose() {
    closeDialog();
    return 1;
}

void FileBrowserDialog::closeDialog() {
    listing.clear();
    listControl.restore();
    Dialog::onClose();
}

}  // namespace brellin
