// dialog-preview: opens one of the file dialogs on the screen, for looking at
// it (a screenshot under Xvfb at 96 and 192 dpi with QT_SCALE_FACTOR=2).
//
//   dialog-preview 102|112|113|115 FOLDER [SECONDS]
//
// 102 and 112 browse FOLDER; 113 lists its MIDI files as a play list with a
// title selected; 115 shows the first of them. The dialog closes itself
// after SECONDS (default 5), as Esc would.
#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "ui/dialogs/FileBrowserDialog.h"
#include "ui/dialogs/FileDialogTemplates.h"
#include "ui/dialogs/FileInformationDialog.h"
#include "ui/dialogs/PlayListDialog.h"
#include "ui/qt/QtWindowSystem.h"

using namespace brellin;

namespace {

struct Entries : PlayListEntries {
    void lock() override { mutex.lock(); }
    void unlock() override { mutex.unlock(); }
    StringList& list() override { return entries; }
    std::mutex mutex;
    StringList entries;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: dialog-preview 102|112|113|115 FOLDER [SECONDS]\n");
        return 2;
    }
    QApplication app(argc, argv);
    const int id = std::atoi(argv[1]);
    const std::string folder = std::string(argv[2]) + "/";
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 5;
    registerFileDialogTemplates();
    QtWindowSystem system;

    std::vector<std::string> songs;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.size() > 4 && (name.ends_with(".mid") || name.ends_with(".MID")))
            songs.push_back(folder + name);
    }
    std::sort(songs.begin(), songs.end());
    const std::string first = songs.empty() ? folder + "none.mid" : songs.front();

    QTimer::singleShot(seconds * 1000, [] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(dialog, &escape);
        }
    });
    if (id == IDD_OPEN_FILE || id == IDD_SAVE_FILE) {
        FileBrowserDialog dialog(system);
        dialog.patterns = id == IDD_OPEN_FILE ? "*.MID;*.MIDI;*.RMI;*.BRL" : "*.BRL";
        dialog.defaultExtension = id == IDD_OPEN_FILE ? ".mid" : ".brl";
        dialog.acceptsTypedName = id == IDD_SAVE_FILE;
        dialog.collectsSelection = id == IDD_OPEN_FILE;
        dialog.setStartPath(first.c_str());
        QTimer::singleShot(300, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                if (auto* list = modal->findChild<QListWidget*>(); list && list->count() > 2) list->setCurrentRow(2);
            }
        });
        dialog.doModal(nullptr, static_cast<std::uint16_t>(id));
    } else if (id == IDD_PLAYLIST) {
        Entries entries;
        for (const std::string& song : songs) entries.entries.append(song.c_str());
        PlayListDialog dialog(system, entries);
        dialog.chosenIndex = 0;
        QTimer::singleShot(300, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                if (auto* list = modal->findChild<QListWidget*>(); list && list->count() > 0) list->setCurrentRow(0);
            }
        });
        dialog.doModal(nullptr, IDD_PLAYLIST);
    } else if (id == IDD_FILE_INFORMATION) {
        FileInformationDialog dialog(system, first, 0, static_cast<std::int32_t>(songs.size()));
        dialog.doModal(nullptr, IDD_FILE_INFORMATION);
    } else {
        std::fprintf(stderr, "no such dialog: %d\n", id);
        return 2;
    }
    return 0;
}
