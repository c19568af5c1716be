// The file browser against a fake dialog host and a temporary folder tree:
// what the list shows, which paths come out, and what is refused.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/TempDir.h"
#include "tests/ui/FakeHost.h"
#include "ui/dialogs/FileBrowserDialog.h"
#include "ui/dialogs/FileDialogTemplates.h"

namespace brellin::test {
namespace {

using brellin::testing::TempDir;

// "テスト.mid" in Shift-JIS and "曲.mid" in UTF-8.
const std::string shiftJisName = "\x83\x65\x83\x58\x83\x67.mid";
const std::string utf8Name = "\xE6\x9B\xB2.mid";

std::vector<std::string> selectionsOf(FileBrowserDialog& dialog) {
    std::vector<std::string> out;
    dialog.selections.visit([&](const TextBuffer& text) {
        out.emplace_back(text.text());
        return true;
    });
    return out;
}

struct Tree {
    TempDir dir;
    std::string root;
    Tree() {
        root = dir.root.string() + "/";
        for (const std::string& name : {std::string("b.mid"), std::string("a.mid"), std::string("Song With Spaces.MID"),
                                        std::string("list.BRL"), std::string("readme.txt"), shiftJisName, utf8Name}) {
            dir.write(name, "x");
        }
        std::filesystem::create_directory(dir.root / "Zed");
        dir.write("Zed/inner.mid", "x");
    }
};

void openMode(FileBrowserDialog& dialog) {
    dialog.patterns = "*.MID;*.MIDI;*.RMI;*.BRL";
    dialog.defaultExtension = ".mid";
    dialog.collectsSelection = true;
}

void saveMode(FileBrowserDialog& dialog) {
    dialog.patterns = "*.BRL";
    dialog.defaultExtension = ".brl";
    dialog.acceptsTypedName = true;
}

TEST(FileBrowserDialog, OpenModeListsInBrowserOrderAndGathersRawPaths) {
    Tree tree;
    FakeWindowSystem system;
    FileBrowserDialog dialog(system);
    openMode(dialog);
    dialog.setStartPath((tree.root + "a.mid").c_str());
    std::vector<std::string> shown;
    std::vector<int> icons;
    system.dialogScript = [&](FakeDialogHost& host) {
        EXPECT_EQ(host.focus, IDC_FILE_LIST);
        host.pumpPosted();
        shown = host.listView(IDC_FILE_LIST).texts;
        icons = host.listView(IDC_FILE_LIST).icons;
        // Three files, the focus on the last one clicked; NEW.
        host.clickItem(IDC_FILE_LIST, 3);      // a.mid
        host.ctrlClickItem(IDC_FILE_LIST, 6);  // the Shift-JIS name
        host.ctrlClickItem(IDC_FILE_LIST, 4);  // b.mid
        host.deliver(WM_COMMAND, makeCommandWParam(0, IDC_BROWSER_NEW));
    };
    dialog.doModal(nullptr, IDD_OPEN_FILE);

    EXPECT_EQ(shown, (std::vector<std::string>{"Go up", "Zed", "Song With Spaces.MID", "a.mid", "b.mid", "list.BRL",
                                               "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.mid", utf8Name}));
    EXPECT_EQ(icons, (std::vector<int>{LIST_ICON_GO_UP, LIST_ICON_FOLDER, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(system.lastDialogEnded);
    EXPECT_EQ(dialog.result, FileBrowserDialog::NEW_LIST);
    // In list order, built from the bytes on disk (the Shift-JIS file exists under that name).
    const std::vector<std::string> chosen = selectionsOf(dialog);
    ASSERT_EQ(chosen, (std::vector<std::string>{tree.root + "a.mid", tree.root + "b.mid", tree.root + shiftJisName}));
    EXPECT_TRUE(std::filesystem::exists(chosen[2]));
}

TEST(FileBrowserDialog, FoldersResetTheFocusAndNothingGatheredKeepsTheDialogOpen) {
    Tree tree;
    FakeWindowSystem system;
    FileBrowserDialog dialog(system);
    openMode(dialog);
    dialog.setStartPath((tree.root + "a.mid").c_str());
    system.dialogScript = [&](FakeDialogHost& host) {
        host.pumpPosted();
        FakeControlHost& list = host.control(IDC_FILE_LIST);
        // The arrows, Home, End, the page keys and typed names reach the list
        // view; Enter, Esc and the function keys are the dialog's.
        EXPECT_EQ(host.texts[IDC_BROWSER_FOLDER], tree.root.substr(0, tree.root.size() - 1));
        for (WParam key : {WParam{'A'}, WParam{13}, WParam{27}, WParam{112}, ListViewControl::VK_DOWN, WParam{36},
                           WParam{35}, WParam{34}, WParam{'7'}, WParam{190}})
            list.deliver(WM_KEYDOWN, key);
        std::vector<WParam> listKeys;
        for (const auto& call : list.ownCalls) listKeys.push_back(call.wParam);
        EXPECT_EQ(listKeys, (std::vector<WParam>{'A', ListViewControl::VK_DOWN, 36, 35, 34, '7', 190}));

        // A file's name goes into the field; a folder clears it.
        host.clickItem(IDC_FILE_LIST, 4);
        EXPECT_EQ(host.texts[IDC_BROWSER_NAME], "b.mid");
        host.clickItem(IDC_FILE_LIST, 1);
        EXPECT_EQ(host.texts[IDC_BROWSER_NAME], "");

        // A double click on Zed enters it; the focus of the old folder is gone,
        // so ADD and a double click on empty space do nothing there.
        list.deliver(WM_LBUTTONDBLCLK);
        EXPECT_EQ(host.listView(IDC_FILE_LIST).texts, (std::vector<std::string>{"Go up", "inner.mid"}));
        EXPECT_EQ(dialog.focusedIndex, -1);
        host.deliver(WM_COMMAND, makeCommandWParam(0, IDOK));
        list.deliver(WM_LBUTTONDBLCLK);
        EXPECT_FALSE(host.ended);
        EXPECT_EQ(selectionsOf(dialog).size(), 0u);

        // "Go up" returns to the parent, on the folder it came from.
        EXPECT_EQ(host.texts[IDC_BROWSER_FOLDER], tree.root + "Zed");
        host.clickItem(IDC_FILE_LIST, 0);
        host.deliver(WM_COMMAND, makeCommandWParam(0, IDOK));
        EXPECT_EQ(host.listView(IDC_FILE_LIST).texts.size(), 8u);
        EXPECT_EQ(std::string(dialog.path), tree.root);
        EXPECT_EQ(host.listView(IDC_FILE_LIST).focused, 1);
        EXPECT_EQ(dialog.focusedIndex, 1);
        EXPECT_TRUE(host.isListViewItemSelected(IDC_FILE_LIST, 1)) << "Zed";

        // NEW with the focused file deselected gathers nothing: the dialog stays.
        host.clickItem(IDC_FILE_LIST, 3);
        host.ctrlClickItem(IDC_FILE_LIST, 3);
        host.deliver(WM_COMMAND, makeCommandWParam(0, IDC_BROWSER_NEW));
        EXPECT_FALSE(host.ended);
        EXPECT_EQ(dialog.result, FileBrowserDialog::CANCELLED);

        host.deliver(WM_COMMAND, makeCommandWParam(0, IDCANCEL));
    };
    dialog.doModal(nullptr, IDD_OPEN_FILE);
    EXPECT_TRUE(system.lastDialogEnded);
    EXPECT_EQ(dialog.result, FileBrowserDialog::CANCELLED);
    EXPECT_EQ(dialog.listing.count(), 0u);
}

// Runs the save dialog from `start`, types `typed` and presses Ok; returns
// the path when the dialog closed, "" when it stayed open.
std::string saveAs(const std::string& start, const std::string& typed) {
    FakeWindowSystem system;
    FileBrowserDialog dialog(system);
    saveMode(dialog);
    dialog.setStartPath(start.c_str());
    bool closed = false;
    system.dialogScript = [&](FakeDialogHost& host) {
        host.pumpPosted();
        host.texts[IDC_BROWSER_NAME] = typed;
        host.deliver(WM_COMMAND, makeCommandWParam(0, IDOK));
        closed = host.ended;
        if (!closed) host.deliver(WM_CLOSE);
    };
    dialog.doModal(nullptr, IDD_SAVE_FILE);
    if (!closed) {
        EXPECT_EQ(dialog.result, FileBrowserDialog::CANCELLED) << typed;
        return "";
    }
    EXPECT_EQ(dialog.result, FileBrowserDialog::ADD_OR_OK);
    EXPECT_EQ(dialog.selections.count(), 0u);
    return dialog.path;
}

TEST(FileBrowserDialog, SaveModeTakesTypedNamesSafely) {
    Tree tree;
    const std::string start = tree.root + "a.mid";
    EXPECT_EQ(saveAs(start, "list"), tree.root + "list.brl");
    EXPECT_EQ(saveAs(start, "list.BRL"), tree.root + "list.BRL");
    EXPECT_EQ(saveAs(start, "my list"), tree.root + "my list.brl");
    EXPECT_EQ(saveAs(start, "/tmp/elsewhere"), "/tmp/elsewhere.brl");  // absolute stays absolute
    // Refused: a parent step, a relative sub-path, control characters, a folder, too long.
    EXPECT_EQ(saveAs(start, "../escape"), "");
    EXPECT_EQ(saveAs(start, "/tmp/../etc/x"), "");
    EXPECT_EQ(saveAs(start, "sub/x"), "");
    EXPECT_EQ(saveAs(start, "a\nb"), "");
    EXPECT_EQ(saveAs(start, "tab\there"), "");
    EXPECT_EQ(saveAs(start, "/tmp/"), "");
    EXPECT_EQ(saveAs(start, std::string(300, 'n')), "");
    EXPECT_EQ(saveAs(start, std::string(259 - tree.root.size() - 4, 'n')).size(), 259u);

    // A Shift-JIS play list chosen from the list keeps its bytes, though the
    // field shows it decoded.
    const std::string sjisList = "\x83\x65\x83\x58\x83\x67.brl";
    tree.dir.write(sjisList, "");
    FakeWindowSystem system;
    FileBrowserDialog dialog(system);
    saveMode(dialog);
    dialog.setStartPath(start.c_str());
    system.dialogScript = [&](FakeDialogHost& host) {
        host.pumpPosted();
        ASSERT_EQ(host.listView(IDC_FILE_LIST).texts.size(), 4u);  // Go up, Zed, list.BRL, the Shift-JIS list
        host.clickItem(IDC_FILE_LIST, 3);
        EXPECT_EQ(host.texts[IDC_BROWSER_NAME], "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.brl");
        host.deliver(WM_COMMAND, makeCommandWParam(0, IDOK));
    };
    dialog.doModal(nullptr, IDD_SAVE_FILE);
    EXPECT_EQ(std::string(dialog.path), tree.root + sjisList);
}

TEST(FileBrowserDialog, StartingPathsAndFoldersThatCannotBeShown) {
    Tree tree;
    // A relative start is taken from the working folder.
    {
        FakeWindowSystem system;
        FileBrowserDialog dialog(system);
        const std::string cwd = std::filesystem::current_path().string();
        dialog.setStartPath("song.mid");
        EXPECT_EQ(std::string(dialog.path), (cwd == "/" ? std::string() : cwd) + "/song.mid");
    }
    // Nothing to start from: the music folder of user-dirs.dirs, else ~/Music,
    // else home; never the root while there is a home.
    {
        TempDir homeDir;
        const std::string home = homeDir.root.string();
        std::filesystem::create_directories(home + "/.config");
        std::filesystem::create_directories(home + "/Songs");
        std::filesystem::create_directories(home + "/Music");
        homeDir.write(".config/user-dirs.dirs",
                      "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_MUSIC_DIR=\"$HOME/Songs\"\n");
        const char* oldHome = std::getenv("HOME");
        const std::string savedHome = oldHome != nullptr ? oldHome : "";
        const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
        const std::string savedConfig = oldConfig != nullptr ? oldConfig : "";
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        FakeWindowSystem system;
        FileBrowserDialog dialog(system);
        dialog.setStartPath("");
        EXPECT_EQ(std::string(dialog.path), home + "/Songs/");
        std::filesystem::remove(home + "/Songs");
        dialog.setStartPath("");
        EXPECT_EQ(std::string(dialog.path), home + "/Music/") << "the named folder is gone";
        std::filesystem::remove(home + "/Music");
        dialog.setStartPath("");
        EXPECT_EQ(std::string(dialog.path), home + "/");
        if (oldHome != nullptr) ::setenv("HOME", savedHome.c_str(), 1);
        if (oldConfig != nullptr) ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    }
    // A folder that does not exist falls back to the root.
    {
        FakeWindowSystem system;
        FileBrowserDialog dialog(system);
        openMode(dialog);
        dialog.setStartPath((tree.root + "gone/x.mid").c_str());
        system.dialogScript = [&](FakeDialogHost& host) {
            host.pumpPosted();
            host.deliver(WM_CLOSE);
        };
        dialog.doModal(nullptr, IDD_OPEN_FILE);
        EXPECT_EQ(std::string(dialog.path), "/");
    }
    // A sub-folder whose path would pass 259 bytes is listed but not entered.
    {
        const std::string longName(259 - tree.root.size() + 1, 'd');
        std::filesystem::create_directory(tree.dir.root / longName);
        FakeWindowSystem system;
        FileBrowserDialog dialog(system);
        openMode(dialog);
        dialog.setStartPath((tree.root + "a.mid").c_str());
        system.dialogScript = [&](FakeDialogHost& host) {
            host.pumpPosted();
            ASSERT_EQ(host.listView(IDC_FILE_LIST).texts[2], longName);
            host.clickItem(IDC_FILE_LIST, 2);
            host.deliver(WM_COMMAND, makeCommandWParam(0, IDOK));
            EXPECT_FALSE(host.ended);
            EXPECT_EQ(host.listView(IDC_FILE_LIST).texts.size(), 9u);
            host.deliver(WM_COMMAND, makeCommandWParam(0, IDCANCEL));
        };
        dialog.doModal(nullptr, IDD_OPEN_FILE);
        EXPECT_EQ(std::string(dialog.path), tree.root + "a.mid");
    }
}

}  // namespace
}  // namespace brellin::test
