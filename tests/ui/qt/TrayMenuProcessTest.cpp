// brellin's tray icon as a StatusNotifierItem, the kind of tray KDE, GNOME's
// AppIndicator extension and most Wayland panels show: on an X server
// (xvfb-run) with a private session bus (dbus-run-session) whose watcher is a
// stand-in (sni-watcher), the item registers, the menu it exports holds the
// tray popup's items, and "Display window" chosen there shows the hidden
// window, after which the menu offers "Undisplay window".
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"

namespace {

using brellin::testing::TempDir;
namespace fs = std::filesystem;
namespace midi = brellin::testing;

bool onPath(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string section(const std::string& output, const std::string& name) {
    const std::string mark = "== " + name + "\n";
    const std::size_t begin = output.find(mark);
    if (begin == std::string::npos) return std::string();
    const std::size_t from = begin + mark.size();
    const std::size_t end = output.find("\n==", from);
    return output.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// The labels of a dbusmenu layout, in order, one a line; the id of the item
// labelled "Display window"; whether the window is visible before and after
// that item is clicked.
const char* const script = R"SH(
cd "$ROOT"
export QT_QPA_PLATFORM=xcb BRELLIN_AUDIO_DEVICE=null XDG_RUNTIME_DIR="$ROOT/run"
"$WATCHER" > items.txt 2> watcher.log &
WATCHER_PID=$!
for i in $(seq 100); do gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher ProtocolVersion >/dev/null 2>&1 && break; sleep 0.1; done
./app/brellin a.mid iconplay > player.log 2>&1 &
PLAYER=$!
for i in $(seq 300); do test -s items.txt && break; sleep 0.1; done
ITEM=$(head -1 items.txt)
echo "== registered"; test -n "$ITEM" && echo yes
MENU=$(gdbus call --session -d "$ITEM" -o /StatusNotifierItem -m org.freedesktop.DBus.Properties.Get \
    org.kde.StatusNotifierItem Menu | sed -E "s/.*'(\/[^']*)'.*/\1/")
LAYOUT="gdbus call --session -d $ITEM -o $MENU -m com.canonical.dbusmenu.GetLayout -- 0 -1 ['label']"
echo "== hidden menu"; $LAYOUT | grep -oE "'label': <'[^']*'>" | sed -E "s/'label': <'(.*)'>/\1/"
echo "== visible before"; xdotool search --onlyvisible --name '^Brellin$' | wc -l
ID=$($LAYOUT | grep -oE "\(([0-9]+), \{[^}]*'label': <'Display window'>" | grep -oE "^\([0-9]+" | tr -d '(')
gdbus call --session -d "$ITEM" -o "$MENU" -m com.canonical.dbusmenu.Event -- "$ID" clicked "<0>" 0 > /dev/null
for i in $(seq 100); do test "$(xdotool search --onlyvisible --name '^Brellin$' | wc -l)" -gt 0 && break; sleep 0.1; done
echo "== visible after"; xdotool search --onlyvisible --name '^Brellin$' | wc -l
for i in $(seq 100); do $LAYOUT | grep -q "Undisplay window" && break; sleep 0.1; done
echo "== shown menu"; $LAYOUT | grep -oE "'label': <'[^']*'>" | sed -E "s/'label': <'(.*)'>/\1/"
kill $PLAYER
wait $PLAYER
echo "== exit"; echo $?
kill $WATCHER_PID
echo "== log"; cat player.log
)SH";

TEST(TrayMenuProcess, TheStatusNotifierItemExportsTheTrayPopupAndItsItemsRunTheirCommands) {
    for (const char* tool : {"xvfb-run", "dbus-run-session", "gdbus", "xdotool"}) {
        if (!onPath(tool)) GTEST_SKIP() << tool << " missing";
    }
    TempDir root;
    fs::create_directory(root.path("app"));
    fs::create_directory(root.path("run"));
    fs::permissions(root.path("run"), fs::perms::owner_all, fs::perm_options::replace);
    const fs::path build = BRELLIN_BINARY_DIR;
    fs::copy_file(build / "brellin", root.path("app/brellin"));
    for (const auto& entry : fs::directory_iterator(build)) {
        const std::string name = entry.path().filename().string();
        const bool picture = name.rfind("Brellin", 0) == 0 && entry.path().extension() == ".bmp";
        if (picture || name == "Brellin.ini" || name == "small.brf" || name.rfind("brellin-", 0) == 0) {
            if (entry.is_regular_file() && name != "brellin") fs::copy_file(entry.path(), root.path("app/" + name));
        }
    }
    const std::string body = midi::noteOn(0, 0, 60, 100) + midi::noteOff(96 * 60, 0, 60) + midi::endOfTrack();
    root.write("a.mid", midi::header(0, 1, 96) + midi::track(body));
    root.write("session.sh", script);

    const std::string command = "ROOT='" + root.root.string() + "' WATCHER='" + (build / "tests/sni-watcher").string() +
                                "' timeout 120 xvfb-run -a -s '-screen 0 800x600x24' dbus-run-session -- sh '" +
                                root.path("session.sh") + "' > '" + root.path("out.txt") + "' 2>&1";
    const int status = std::system(command.c_str());
    const std::string output = root.read("out.txt");
    ASSERT_TRUE(WIFEXITED(status)) << output;

    EXPECT_EQ(section(output, "registered"), "yes") << output;
    // Hidden ("iconplay"): the tray's popup 1, ending in "Display window".
    EXPECT_EQ(section(output, "hidden menu"),
              "Exit\nNext\nPrevious\nPlay/Stop\nPause/Resume\nRecently opened PlayList\nnone\nOpen files...\n"
              "Display play list...\nDisplay window")
        << output;
    EXPECT_EQ(section(output, "visible before"), "0") << output;
    EXPECT_EQ(section(output, "visible after"), "1") << output;
    // Shown: popup 2, whose last item hides the window again.
    const std::string shown = section(output, "shown menu");
    EXPECT_EQ(shown.substr(shown.rfind('\n') + 1), "Undisplay window") << output;
    EXPECT_EQ(section(output, "exit"), "0") << output;
}

}  // namespace
