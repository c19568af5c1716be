// The file dialogs on the Qt dialog host (offscreen): the widgets come from
// the templates, a double click and Enter in the list choose, Esc closes,
// keys other than the arrows do not reach the list, and the title checker's
// title reaches the edit through a posted message.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"
#include "tests/ui/qt/QtTestApp.h"
#include "ui/dialogs/FileBrowserDialog.h"
#include "ui/dialogs/FileDialogTemplates.h"
#include "ui/dialogs/FileInformationDialog.h"
#include "ui/dialogs/PlayListDialog.h"
#include "ui/qt/QtWindowSystem.h"

namespace brellin {
namespace {

using brellin::testing::TempDir;
namespace midi = brellin::testing;

// Acts on the open modal dialog once its list shows `rows` rows (-1: a
// dialog without a list), polling from the dialog's own event loop.
class Driver {
public:
    Driver(int rows, std::function<void(QDialog*, QListWidget*)> act) {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this, rows, act] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            QListWidget* list = dialog->findChild<QListWidget*>();
            if (rows >= 0 && (list == nullptr || list->count() < rows)) return;
            timer.stop();
            acted = true;
            act(dialog, list);
        });
        timer.start();
    }
    QTimer timer;
    bool acted = false;
};

QPoint rowCentre(QListWidget* list, int row) { return list->visualItemRect(list->item(row)).center(); }

std::vector<std::string> chosen(FileBrowserDialog& dialog) {
    std::vector<std::string> out;
    dialog.selections.visit([&](const TextBuffer& text) {
        out.emplace_back(text.text());
        return true;
    });
    return out;
}

struct QtDialogs : ::testing::Test {
    void SetUp() override {
        brellin::testing::qtApp();
        registerFileDialogTemplates();
        root = dir.root.string() + "/";
        for (const char* name : {"a.mid", "b.mid"}) dir.write(name, "x");
        std::filesystem::create_directory(dir.root / "Zed");
    }
    void openMode(FileBrowserDialog& dialog) {
        dialog.patterns = "*.MID;*.MIDI;*.RMI;*.BRL";
        dialog.defaultExtension = ".mid";
        dialog.collectsSelection = true;
        dialog.setStartPath((root + "a.mid").c_str());
    }
    TempDir dir;
    std::string root;
    QtWindowSystem system;
};

TEST_F(QtDialogs, BrowserDoubleClickEnterAndEsc) {
    {
        // A click and a double click on a file is ADD.
        FileBrowserDialog dialog(system);
        openMode(dialog);
        std::vector<QString> rows;
        Driver driver(4, [&](QDialog* widget, QListWidget* list) {
            EXPECT_EQ(widget->windowTitle(), "Open file (MID/BRL)");
            EXPECT_EQ(widget->findChildren<QPushButton*>().size(), 2);
            for (int i = 0; i < list->count(); ++i) rows.push_back(list->item(i)->text());
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCentre(list, 2));
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowCentre(list, 2));
        });
        dialog.doModal(nullptr, IDD_OPEN_FILE);
        EXPECT_TRUE(driver.acted);
        EXPECT_EQ(rows, (std::vector<QString>{"Go up", "Zed", "a.mid", "b.mid"}));
        EXPECT_EQ(dialog.result, FileBrowserDialog::ADD_OR_OK);
        EXPECT_EQ(chosen(dialog), std::vector<std::string>{root + "a.mid"});
    }
    {
        // Typing a name's first letter jumps to it, Home and End go to the
        // ends; Enter in the list is ADD.
        FileBrowserDialog dialog(system);
        openMode(dialog);
        Driver driver(4, [&](QDialog*, QListWidget* list) {
            list->setFocus();
            list->setCurrentRow(3);
            QTest::keyClick(list, Qt::Key_Z);
            EXPECT_EQ(list->currentRow(), 1) << "Zed";
            QTest::keyClick(list, Qt::Key_Home);
            EXPECT_EQ(list->currentRow(), 0);
            QTest::keyClick(list, Qt::Key_End);
            EXPECT_EQ(list->currentRow(), 3);
            QTest::keyClick(list, Qt::Key_Return);
        });
        dialog.doModal(nullptr, IDD_OPEN_FILE);
        EXPECT_EQ(dialog.result, FileBrowserDialog::ADD_OR_OK);
        EXPECT_EQ(chosen(dialog), std::vector<std::string>{root + "b.mid"});
    }
    {
        // Esc in the list closes without a choice.
        FileBrowserDialog dialog(system);
        openMode(dialog);
        Driver driver(4, [&](QDialog*, QListWidget* list) {
            list->setCurrentRow(2);
            QTest::keyClick(list, Qt::Key_Escape);
        });
        dialog.doModal(nullptr, IDD_OPEN_FILE);
        EXPECT_TRUE(driver.acted);
        EXPECT_EQ(dialog.result, FileBrowserDialog::CANCELLED);
        EXPECT_EQ(dialog.selections.count(), 0u);
    }
}

TEST_F(QtDialogs, PlayListTitleArrivesAndEnterOrEscEnds) {
    StringList entries;
    entries.append((root + "a.mid").c_str());
    entries.append((root + "b.mid").c_str());
    struct Entries : PlayListEntries {
        explicit Entries(StringList& l) : entries(l) {}
        void lock() override { mutex.lock(); }
        void unlock() override { mutex.unlock(); }
        StringList& list() override { return entries; }
        std::mutex mutex;
        StringList& entries;
    } locked(entries);
    auto title = [](const std::string& path, std::string& out) { out = "T " + path.substr(path.rfind('/') + 1); };
    {
        PlayListDialog dialog(system, locked, title);
        QString shown;
        Driver driver(2, [&](QDialog* widget, QListWidget* list) {
            EXPECT_EQ(widget->windowTitle(), "Play list");
            list->setCurrentRow(1);
            auto* edit = widget->findChild<QLineEdit*>();
            for (int i = 0; i < 2000 && edit->text() != "T b.mid"; ++i) QTest::qWait(1);
            shown = edit->text();
            QTest::keyClick(list, Qt::Key_Return);
        });
        dialog.doModal(nullptr, IDD_PLAYLIST);
        EXPECT_EQ(shown, "T b.mid");
        EXPECT_TRUE(dialog.playChosen);
        EXPECT_EQ(dialog.chosenIndex, 1);
    }
    {
        PlayListDialog dialog(system, locked, title);
        Driver driver(2, [&](QDialog*, QListWidget* list) {
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowCentre(list, 0));
        });
        dialog.doModal(nullptr, IDD_PLAYLIST);
        EXPECT_TRUE(dialog.playChosen);
        EXPECT_EQ(dialog.chosenIndex, 0);
    }
    {
        PlayListDialog dialog(system, locked, title);
        Driver driver(2, [&](QDialog*, QListWidget* list) { QTest::keyClick(list, Qt::Key_Escape); });
        dialog.doModal(nullptr, IDD_PLAYLIST);
        EXPECT_TRUE(driver.acted);
        EXPECT_FALSE(dialog.playChosen);
    }
}

TEST_F(QtDialogs, FileInformationShowsTheSongAndEscCloses) {
    std::string body =
        midi::meta(0, 3, "Song") + midi::noteOn(0, 0, 60, 100) + midi::noteOff(96, 0, 60) + midi::endOfTrack();
    const std::string song = dir.write("song.mid", midi::header(0, 1, 96) + midi::track(body));
    FileInformationDialog dialog(system, song, 0, 2);
    std::vector<QString> fields;
    Driver driver(-1, [&](QDialog* widget, QListWidget*) {
        EXPECT_EQ(widget->windowTitle(), "File Information");
        for (QLineEdit* edit : widget->findChildren<QLineEdit*>()) fields.push_back(edit->text());
        QTest::keyClick(widget, Qt::Key_Escape);
    });
    dialog.doModal(nullptr, IDD_FILE_INFORMATION);
    EXPECT_TRUE(driver.acted);
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[1], "Song");
    EXPECT_TRUE(fields[3].endsWith("byte)"));
}

}  // namespace
}  // namespace brellin
