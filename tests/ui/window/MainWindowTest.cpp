// The main window's logic against a fake window system and a real engine
// on the null audio device. Time is the fake system's tick count; only the
// engine's own threads run in real time (a song's notes and its end).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/TextDecoder.h"
#include "output/devices/AudioDevices.h"
#include "soundfont/SoundFontWriter.h"
#include "tests/TempDir.h"
#include "tests/TestSoundFont.h"
#include "tests/midi/MidiBytes.h"
#include "tests/ui/FakeHost.h"
#include "ui/framework/DialogTemplate.h"
#include "ui/window/MainWindow.h"

namespace brellin::test {
namespace {

using brellin::testing::TempDir;
namespace midi = brellin::testing;

void writeFont(const std::string& path) { ASSERT_TRUE(brellin::testing::writeTestSoundFont(path)); }

// Format 0, 96 ticks a beat at 120 bpm (a tick is 5.2 ms): the title as the
// sequence name, one note on channel 0 lasting `ticks`.
std::string song(const std::string& title, std::uint32_t ticks) {
    std::string body;
    if (!title.empty()) body += midi::meta(0, 3, title);
    body += midi::noteOn(0, 0, 60, 100) + midi::noteOff(ticks, 0, 60) + midi::endOfTrack();
    return midi::header(0, 1, 96) + midi::track(body);
}

// Waits for something the engine's threads do (bounded; never a fixed sleep).
template <class Condition>
bool waitFor(Condition condition) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct Rig {
    TempDir dir;
    FakeWindowSystem system;
    MainWindow window{system};
    FakeWindowHost* host = nullptr;

    explicit Rig(bool withEngine = true) {
        EXPECT_TRUE(window.create());
        host = system.windows.at(0);
        // No skin description in the folder: the built-in 240 x 32 display.
        window.loadSkinAndPlace((dir.root.string() + "/").c_str());
        if (withEngine) {
            writeFont(dir.path("small.brf"));
            window.engine.output.setDevice(createAudioDevice("null"));
            window.engine.setSoundFontFolder((dir.root.string() + "/").c_str());
            EXPECT_EQ(window.engine.startEngine(), RESULT_OK);
        }
    }
    ~Rig() { window.engine.shutdown(); }

    std::string addSong(const std::string& name, const std::string& bytes) {
        std::string path = dir.write(name, bytes);
        window.playList.openPath(path.c_str());
        return path;
    }
    void click(std::int32_t x, std::int32_t y) {
        host->deliver(WM_LBUTTONDOWN, MK_LBUTTON, makePointLParam(x, y));
        host->deliver(WM_LBUTTONUP, 0, makePointLParam(x, y));
    }
    void key(int virtualKey) { host->deliver(WM_KEYDOWN, static_cast<WParam>(virtualKey), 0); }
    void tick(std::uint32_t ms = 100) {
        system.tick += ms;
        host->deliver(WM_TIMER, DISPLAY_TIMER_ID, 0);
    }
    // Which frame of the meter strip bar `channel` shows; -1 for none.
    int meterFrame(int channel) {
        const Skin& skin = window.skin;
        const SkinRect bar = skin.meterBar(channel);
        for (int k = 0; k < METER_FRAMES; ++k) {
            const SkinRect frame = skin.meterFrame(k);
            bool same = true;
            for (int y = 0; y < bar.height && same; ++y)
                for (int x = 0; x < bar.width && same; ++x)
                    same = skin.display.pixel(bar.left + x, bar.top + y) ==
                           skin.meterStrip.pixel(frame.left + x, frame.top + y);
            if (same) return k;
        }
        return -1;
    }
    bool playButtonPressed() {
        const SkinRect play = window.skin.buttonRect(SKIN_BUTTON_PLAY);
        return window.skin.display.pixel(play.left, play.top) == window.skin.pressed[SKIN_BUTTON_PLAY].pixel(0, 0) &&
               window.skin.display.pixel(play.left, play.top) != window.skin.background.pixel(play.left, play.top);
    }
};

// Built-in display: buttons 36 x 12 at top 16 (Close 207, Previous 59, Play 96,
// Next 133, Eject 170); title and menu area (59, 3) 177 x 12; meter at (7, 16).
constexpr std::int32_t nextX = 140, nextY = 20;
constexpr std::int32_t emptyX = 2, emptyY = 2;

TEST(MainWindowMouse, ThePressPointDecidesAndTheMenuAreaOpensPopupZero) {
    Rig rig(false);
    for (const char* name : {"a.mid", "b.mid", "c.mid"}) rig.window.playList.openPath(rig.dir.path(name).c_str());
    rig.window.playList.currentIndex = 0;
    EXPECT_EQ(rig.host->x, (1024 - 240) / 2);
    EXPECT_EQ(rig.host->y, (768 - 32) / 2);

    // Press on Next, leave it, release elsewhere: Next runs, the window stays.
    rig.host->deliver(WM_LBUTTONDOWN, MK_LBUTTON, makePointLParam(nextX, nextY));
    EXPECT_TRUE(rig.host->captured);
    rig.system.tick += 500;
    rig.host->deliver(WM_MOUSEMOVE, MK_LBUTTON, makePointLParam(emptyX, emptyY));
    rig.host->deliver(WM_LBUTTONUP, 0, makePointLParam(emptyX, emptyY));
    EXPECT_FALSE(rig.host->captured);
    EXPECT_EQ(rig.window.playList.currentIndex, 1);
    EXPECT_TRUE(rig.host->moves.empty());
    const SkinRect next = rig.window.skin.buttonRect(SKIN_BUTTON_NEXT);
    EXPECT_EQ(rig.window.skin.display.pixel(next.left, next.top), rig.window.skin.background.pixel(next.left, next.top))
        << "Next is drawn released again";

    // Press outside the buttons, release on Next: nothing.
    rig.click(emptyX, emptyY);
    rig.host->deliver(WM_LBUTTONDOWN, MK_LBUTTON, makePointLParam(emptyX, emptyY));
    rig.host->deliver(WM_LBUTTONUP, 0, makePointLParam(nextX, nextY));
    EXPECT_EQ(rig.window.playList.currentIndex, 1);
    EXPECT_TRUE(rig.host->popups.empty());
    // A release without a press on the window does nothing.
    rig.host->deliver(WM_LBUTTONUP, 0, makePointLParam(nextX, nextY));
    EXPECT_EQ(rig.window.playList.currentIndex, 1);

    // A quick click in the menu area: popup 0 at the area's corner, no move.
    rig.click(100, 8);
    ASSERT_EQ(rig.host->popups.size(), 1u);
    EXPECT_EQ(rig.host->popups[0].name, "MainMenu");
    EXPECT_EQ(rig.host->popups[0].at.x, rig.host->x + 59);
    EXPECT_EQ(rig.host->popups[0].at.y, rig.host->y + 3);
    EXPECT_EQ(rig.host->popups[0].alignment, TPM_LEFTALIGN | TPM_TOPALIGN);
    EXPECT_TRUE(rig.host->moves.empty());

    // Dialog commands without their dialogs show disabled; the rest enabled.
    const MenuPopup popup{rig.host->popups[0].name, rig.host->popups[0].items};
    EXPECT_FALSE(popup.find(IDM_CONFIGURE)->enabled);
    EXPECT_TRUE(popup.find(IDM_VERSION)->enabled);
    EXPECT_FALSE(popup.find(IDM_OPEN_FILES)->enabled);
    EXPECT_FALSE(popup.find(IDM_HIDE_WINDOW)->enabled) << "no tray icon to bring the window back";
    EXPECT_TRUE(popup.find(IDM_EXIT)->enabled);

    // A click in the meter area switches the meter.
    const std::int32_t before = rig.window.settings.fShowVolume;
    rig.window.settings.settingsChanged = false;
    rig.click(10, 20);
    EXPECT_NE(rig.window.settings.fShowVolume, before);
    EXPECT_TRUE(rig.window.settings.settingsChanged);
}

TEST(MainWindowMouse, DragStartsAfter100MsAndStaysOnTheScreen) {
    Rig rig(false);
    const std::int32_t startX = rig.host->x, startY = rig.host->y;
    rig.host->deliver(WM_LBUTTONDOWN, MK_LBUTTON, makePointLParam(emptyX, emptyY));
    rig.system.tick += 99;
    rig.host->deliver(WM_MOUSEMOVE, MK_LBUTTON, makePointLParam(emptyX + 10, emptyY + 5));
    EXPECT_TRUE(rig.host->moves.empty()) << "99 ms after the press";
    rig.system.tick += 1;
    rig.host->deliver(WM_MOUSEMOVE, MK_LBUTTON, makePointLParam(emptyX + 10, emptyY + 5));
    ASSERT_EQ(rig.host->moves.size(), 1u);
    EXPECT_EQ(rig.host->x, startX + 10);
    EXPECT_EQ(rig.host->y, startY + 5);
    EXPECT_FALSE(rig.host->topmost);

    rig.window.settings.fAlwaysOnTop = 1;
    rig.host->deliver(WM_MOUSEMOVE, MK_LBUTTON, makePointLParam(3000, 3000));
    EXPECT_EQ(rig.host->x, 1024 - 240);
    EXPECT_EQ(rig.host->y, 768 - 32);
    EXPECT_TRUE(rig.host->topmost);
    rig.host->deliver(WM_MOUSEMOVE, MK_LBUTTON, makePointLParam(-32768, -32768));
    EXPECT_EQ(rig.host->x, 0);
    EXPECT_EQ(rig.host->y, 0);
    // A window larger than the screen still never goes negative.
    rig.system.screen = Point{200, 20};
    rig.host->deliver(WM_MOUSEMOVE, MK_LBUTTON, makePointLParam(500, 500));
    EXPECT_EQ(rig.host->x, 0);
    EXPECT_EQ(rig.host->y, 0);
    rig.host->deliver(WM_LBUTTONUP, 0, makePointLParam(500, 500));
    const std::size_t moved = rig.host->moves.size();
    rig.system.tick += 1000;
    rig.host->deliver(WM_MOUSEMOVE, 0, makePointLParam(50, 50));
    EXPECT_EQ(rig.host->moves.size(), moved) << "no drag after the release";

    // Where the window cannot place itself, the compositor takes the drag.
    rig.host->positionable = false;
    rig.host->deliver(WM_LBUTTONDOWN, MK_LBUTTON, makePointLParam(emptyX, emptyY));
    rig.system.tick += 100;
    rig.host->deliver(WM_MOUSEMOVE, MK_LBUTTON, makePointLParam(emptyX + 10, emptyY));
    EXPECT_EQ(rig.host->systemMoves, 1);
    EXPECT_EQ(rig.host->moves.size(), moved);
}

TEST(MainWindowKeys, FirstMatchingKeyWinsAndVolumeStaysInRange) {
    Rig rig;
    for (const char* name : {"a.mid", "b.mid", "c.mid"}) rig.window.playList.openPath(rig.dir.path(name).c_str());
    rig.window.playList.currentIndex = 0;
    rig.window.settings.KeyCodeForNext = rig.window.settings.KeyCodeForPrevious;
    rig.key(rig.window.settings.KeyCodeForPrevious);
    EXPECT_EQ(rig.window.playList.currentIndex, 2) << "only Previous ran";

    rig.window.settings.Volume = 128;
    rig.key(190);
    EXPECT_EQ(rig.window.settings.Volume, 128);
    EXPECT_EQ(rig.window.engine.sequencer->volume.load(), 127);
    EXPECT_EQ(rig.window.engine.synthesizer.userVolumeValue(), 127);
    EXPECT_TRUE(rig.window.settings.playSettingsChanged);
    rig.key(188);
    EXPECT_EQ(rig.window.settings.Volume, 127);
    EXPECT_EQ(rig.window.engine.synthesizer.userVolumeValue(), 127);
    rig.key(188);
    EXPECT_EQ(rig.window.engine.synthesizer.userVolumeValue(), 126);
    rig.window.settings.Volume = 0;
    rig.key(188);
    EXPECT_EQ(rig.window.settings.Volume, 0);
    EXPECT_EQ(rig.window.engine.synthesizer.userVolumeValue(), 0);

    // Esc opens popup 0 at the menu area.
    rig.key(27);
    ASSERT_EQ(rig.host->popups.size(), 1u);
    EXPECT_EQ(rig.host->popups[0].at.x, rig.host->x + 59);
}

TEST(MainWindowTransport, PlaysStopsAndShowsUnsupportedData) {
    Rig rig;
    rig.window.startPlayback();
    EXPECT_FALSE(rig.window.playing) << "nothing to play";

    rig.addSong("bad.mid", "MThd but not really a MIDI file");
    rig.window.startPlayback();
    EXPECT_FALSE(rig.window.playing);
    EXPECT_EQ(rig.window.titleShown, "Unsupported data.");
    EXPECT_FALSE(rig.playButtonPressed());
    EXPECT_TRUE(rig.host->messageBoxes.empty());

    rig.window.playList.clear();
    rig.addSong("Good Song.mid", song("", 96 * 600));
    EXPECT_EQ(rig.window.titleShown, "Good Song");
    // The Play button: toggles on, the key variant toggles off.
    rig.click(100, 20);
    EXPECT_TRUE(rig.window.playing);
    EXPECT_TRUE(rig.window.engine.sequencer->playing);
    EXPECT_TRUE(rig.playButtonPressed());
    rig.key(13);
    EXPECT_FALSE(rig.window.playing);
    EXPECT_FALSE(rig.window.engine.sequencer->playing);
    EXPECT_FALSE(rig.playButtonPressed());
    EXPECT_FALSE(rig.window.engine.songEnded.pending()) << "the stop's own end notice is cleared";
    EXPECT_EQ(rig.window.titleShown, "Good Song");

    // "OFF when playing" without display power control: plays, all commands stay.
    rig.window.settings.DisplayMode = 1;
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_PLAY_STOP));
    EXPECT_TRUE(rig.window.playing);
    EXPECT_TRUE(rig.window.displayIsOn);
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_PLAY_STOP));
    EXPECT_FALSE(rig.window.playing);

    // With it: the display goes off; a click then only switches it on.
    rig.system.dpmsSupported = true;
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_PLAY_STOP));
    EXPECT_FALSE(rig.window.displayIsOn);
    EXPECT_EQ(rig.system.powerCalls, std::vector<bool>{false});
    rig.click(100, 20);
    EXPECT_TRUE(rig.window.displayIsOn);
    EXPECT_TRUE(rig.window.playing) << "the click did not reach the Play button";
    EXPECT_FALSE(rig.host->captured);
    EXPECT_EQ(rig.system.powerCalls, (std::vector<bool>{false, true}));
}

TEST(MainWindowTransport, DroppedFilesMergeAndPlayOnOnlyIfPlaying) {
    Rig rig;
    const std::string first = rig.addSong("first.mid", song("First Song", 96 * 600));
    const std::string second = rig.dir.write("second.mid", song("", 96 * 600));
    const std::string listed = rig.dir.write("listed.mid", song("", 96 * 600));
    const std::string list = rig.dir.write("drop.brl", listed + "\n" + first + "\n");

    // Nothing usable dropped: nothing opened.
    DropFilesRecord none;
    rig.host->deliver(WM_DROPFILES, 0, reinterpret_cast<LParam>(&none));
    const char* empty[] = {"", nullptr};
    DropFilesRecord blanks{2, empty};
    rig.host->deliver(WM_DROPFILES, 0, reinterpret_cast<LParam>(&blanks));
    EXPECT_EQ(rig.window.playList.entryCount(), 1u);

    // Stopped: the list merged (first.mid only once), the last file current,
    // nothing starts.
    const char* paths[] = {list.c_str(), second.c_str()};
    DropFilesRecord record{2, paths};
    rig.host->deliver(WM_DROPFILES, 0, reinterpret_cast<LParam>(&record));
    EXPECT_EQ(rig.window.playList.entryCount(), 3u);
    EXPECT_EQ(std::string(rig.window.playList.currentFile), second);
    EXPECT_FALSE(rig.window.playing);

    // Playing: the song goes on with the dropped file, from its beginning
    // (its sequence name, which only the engine reads, reaches the title).
    rig.window.startPlayback();
    ASSERT_TRUE(rig.window.playing);
    rig.host->pumpPosted();
    const char* again[] = {first.c_str()};
    DropFilesRecord one{1, again};
    rig.host->deliver(WM_DROPFILES, 0, reinterpret_cast<LParam>(&one));
    EXPECT_EQ(std::string(rig.window.playList.currentFile), first);
    EXPECT_TRUE(rig.window.playing);
    ASSERT_TRUE(rig.window.engine.sequencer);
    EXPECT_TRUE(rig.window.engine.sequencer->playing);
    EXPECT_EQ(rig.window.playList.entryCount(), 3u);
    EXPECT_TRUE(waitFor([&] {
        rig.host->pumpPosted();
        return rig.window.titleShown == "First Song";
    })) << rig.window.titleShown;
}

TEST(MainWindowTransport, AnEndedSongStepsToTheNextEntryOnTheNextTick) {
    Rig rig;
    rig.addSong("first.mid", song("", 2));
    const std::string second = rig.addSong("second.mid", song("", 96 * 600));
    rig.window.playList.currentIndex = 0;
    rig.window.playList.makeCurrent(rig.dir.path("first.mid").c_str());
    rig.window.startPlayback();
    ASSERT_TRUE(rig.window.playing);
    ASSERT_TRUE(waitFor([&] { return rig.window.engine.songEnded.pending(); }));
    EXPECT_EQ(rig.window.playList.currentIndex, 0);
    rig.tick();
    EXPECT_EQ(rig.window.playList.currentIndex, 1);
    EXPECT_STREQ(rig.window.playList.currentFile, second.c_str());
    EXPECT_TRUE(rig.window.playing);
    EXPECT_FALSE(rig.window.engine.songEnded.pending());

    // Closing the window while a song plays stops it first.
    rig.host->deliver(WM_CLOSE);
    EXPECT_FALSE(rig.window.engine.sequencer->playing);
    EXPECT_EQ(rig.window.hwnd, nullptr);
    EXPECT_EQ(rig.system.quitPosts, 1);
}

// Plays a song whose sequence name is `title` and hands the posted title
// command to the window.
void playWithTitle(Rig& rig, const std::string& title) {
    rig.window.playList.clear();
    rig.addSong("t.mid", song(title, 96 * 600));
    rig.window.startPlayback();
    ASSERT_TRUE(rig.window.playing);
    ASSERT_TRUE(waitFor([&] { return !rig.host->posted.empty(); }));
    EXPECT_EQ(rig.host->pumpPosted(), 1);
}

TEST(MainWindowTitle, ScrollsOnlyWhenWiderThanItsArea) {
    Rig rig;
    const std::string title = "Scrolling Title";
    const std::int32_t width = rig.window.skin.title.measureText(title.c_str()).width;
    ASSERT_GT(width, 20);

    rig.window.skin.displayRect.width = width;
    playWithTitle(rig, title + "   ");
    EXPECT_EQ(rig.window.titleShown, title) << "trailing spaces removed";
    EXPECT_EQ(rig.window.scrollPos, -1);
    for (int i = 0; i < 60; ++i) rig.tick();
    EXPECT_EQ(rig.window.titleOffset, 0);

    rig.window.skin.displayRect.width = width - 1;
    playWithTitle(rig, title);
    EXPECT_EQ(rig.window.scrollPos, 0);
    EXPECT_EQ(rig.window.scrollLimit, 21);
    std::vector<std::int32_t> offsets;
    for (int i = 0; i < 60; ++i) {
        rig.tick();
        offsets.push_back(rig.window.titleOffset);
    }
    // Rests 20 ticks, moves one pixel, rests 30, jumps back.
    EXPECT_EQ(offsets[19], 0);
    EXPECT_EQ(offsets[20], 1);
    EXPECT_EQ(offsets[50], 1);
    EXPECT_EQ(offsets[51], 0);
    EXPECT_EQ(*std::max_element(offsets.begin(), offsets.end()), 1);
}

TEST(MainWindowTitle, ALongShiftJisTitleCutInsideACharacterStaysJapanese) {
    Rig rig;
    std::string title;
    for (int i = 0; i < 150; ++i) title += "\x82\xA0";  // "あ" in Shift-JIS, 300 bytes
    playWithTitle(rig, title);
    std::string expected;
    for (int i = 0; i < 127; ++i) expected += "\xE3\x81\x82";  // 127 × "あ" in UTF-8
    EXPECT_EQ(rig.window.titleShown, expected);
}

TEST(MainWindowLyrics, TheLineDueShowsInTheTitleAreaAndTheTitleComesBackInAPause) {
    Rig rig;
    // 120 bpm, 96 ticks a beat (a tick is 5.2 ms): "Hello world" at 1.0 and
    // 1.25 s, "Second line" at 1.5 and 1.75 s, a pause, "Last" at 7 s.
    const std::string body = midi::meta(0, 3, "Sing") + midi::meta(0, 1, "@KMIDI KARAOKE FILE") +
                             midi::noteOn(0, 0, 60, 100) + midi::meta(192, 1, "\\Hello ") + midi::meta(48, 1, "world") +
                             midi::meta(48, 1, "/Second ") + midi::meta(48, 1, "line") + midi::meta(1008, 1, "/Last") +
                             midi::noteOff(96, 0, 60) + midi::endOfTrack();
    rig.addSong("sing.kar", midi::header(0, 1, 96) + midi::track(body));
    // The second line is wider than the title area by 10 pixels.
    const std::int32_t width = rig.window.skin.title.measureText("Second line").width;
    rig.window.skin.displayRect.width = width - 10;
    rig.window.startPlayback();
    ASSERT_TRUE(rig.window.playing);
    EXPECT_EQ(rig.window.mediaState().lyrics, "Hello world\nSecond line\nLast");
    ASSERT_TRUE(waitFor([&] { return !rig.host->posted.empty(); }));
    rig.host->pumpPosted();
    rig.tick();
    EXPECT_EQ(rig.window.titleShown, "Sing");
    // Half a second before its first syllable is due, the first line shows.
    rig.tick(300);
    EXPECT_EQ(rig.window.titleShown, "Sing");
    rig.tick(100);
    EXPECT_EQ(rig.window.titleShown, "Hello world");

    // The display follows the syllables playback reaches (here without the
    // window's clock moving): the second line, moved left as it is sung.
    std::vector<std::string> shown;
    std::vector<std::int32_t> offsets;
    ASSERT_TRUE(waitFor([&] {
        rig.tick(0);
        if (shown.empty() || shown.back() != rig.window.titleShown) shown.push_back(rig.window.titleShown);
        if (rig.window.titleShown == "Second line") offsets.push_back(rig.window.titleOffset);
        return rig.window.lyricSyllable == 3;
    }));
    EXPECT_EQ(shown, (std::vector<std::string>{"Hello world", "Second line"}));
    ASSERT_FALSE(offsets.empty());
    EXPECT_EQ(offsets.front(), 0) << "not sung yet";
    EXPECT_EQ(rig.window.titleOffset, 10) << "its end in view";
    EXPECT_TRUE(std::is_sorted(offsets.begin(), offsets.end()));

    // Three seconds after its last syllable the line gives way to the title,
    // which stays through the pause until the next line is half a second away.
    rig.tick(2900);
    EXPECT_EQ(rig.window.titleShown, "Second line");
    rig.tick(200);
    EXPECT_EQ(rig.window.titleShown, "Sing");
    rig.tick(1600);
    EXPECT_EQ(rig.window.titleShown, "Sing");
    rig.tick(100);
    EXPECT_EQ(rig.window.titleShown, "Last");

    // Another song, without words, has none to publish.
    rig.addSong("plain.mid", song("Plain", 96 * 600));
    rig.window.startPlayback();
    EXPECT_TRUE(rig.window.mediaState().lyrics.empty());
}

TEST(MainWindowDisplay, ClockAndMeter) {
    Rig rig;
    char text[24];
    MainWindow::formatClock(65000, text, sizeof text);
    EXPECT_STREQ(text, "1:05");
    MainWindow::formatClock(3725000, text, sizeof text);
    EXPECT_STREQ(text, "62:05");

    // Give the built-in display a clock left of the title.
    rig.window.skin.timerRect = SkinRect{0, 0, 58, 14};
    rig.window.skin.display.setFont("MS Gothic", 6, 12);
    rig.addSong("long.mid", song("", 96 * 600));
    rig.window.startPlayback();
    ASSERT_TRUE(rig.window.playing);
    const std::uint32_t start = rig.window.playStartTick;
    rig.system.tick = start + 65000 - 100;
    rig.tick();
    EXPECT_EQ(rig.window.clockShown, "1:05");
    rig.system.tick = start + 3725000 - 100;
    rig.tick();
    EXPECT_EQ(rig.window.clockShown, "1:05") << "every second pass";
    rig.tick(0);
    EXPECT_EQ(rig.window.clockShown, "62:05");

    rig.window.settings.TimerMode = 1;
    ASSERT_GT(rig.window.songLength, 2000);
    rig.system.tick = start + static_cast<std::uint32_t>(rig.window.songLength) - 1000;
    rig.tick(0);
    rig.tick(0);
    char remaining[24];
    MainWindow::formatClock(1000, remaining, sizeof remaining);
    EXPECT_EQ(rig.window.clockShown, remaining);
    rig.system.tick = start + static_cast<std::uint32_t>(rig.window.songLength) + 5000;
    rig.tick(0);
    rig.tick(0);
    EXPECT_EQ(rig.window.clockShown, "0:00");

    // The meter: levels 127 and 100 show frames 15 and 12, then 100 - 16 = 84 shows 10.
    if (!rig.window.settings.fShowVolume) rig.window.toggleLevelMeter();
    EXPECT_EQ(rig.meterFrame(9), 0);
    rig.window.levels[9] = 127;
    rig.window.levels[10] = 100;
    rig.tick();
    EXPECT_EQ(rig.meterFrame(9), 15);
    EXPECT_EQ(rig.meterFrame(10), 12);
    EXPECT_EQ(rig.window.levels[10].load(), 84);
    rig.tick();
    EXPECT_EQ(rig.meterFrame(10), 10);
    // Switched off, the meter area is the background again.
    rig.window.toggleLevelMeter();
    const SkinRect bar = rig.window.skin.meterBar(9);
    EXPECT_EQ(rig.window.skin.display.pixel(bar.left, bar.top), rig.window.skin.background.pixel(bar.left, bar.top));
}

// Notes from a keyboard while no song plays: the meter rises and falls back
// to its floor, then the timer leaves the display alone again.
TEST(MainWindowDisplay, LiveNotesLightTheMeterWhileStopped) {
    Rig rig;
    if (!rig.window.settings.fShowVolume) rig.window.toggleLevelMeter();
    ASSERT_FALSE(rig.window.playing);
    rig.window.levels[4] = 127;  // what the live input's note-on listener stores
    rig.tick();
    EXPECT_EQ(rig.meterFrame(4), 15);
    for (int i = 0; i < 10; ++i) rig.tick();
    EXPECT_EQ(rig.meterFrame(4), 0);
}

// A tick whose clock text and meter frames are what the display already
// shows draws and repaints nothing; a changed bar repaints only itself; what
// is drawn over the clock or a bar brings it back on the next pass.
TEST(MainWindowDisplay, UnchangedTicksDrawNothingAndOverdrawnPartsComeBack) {
    Rig rig;
    rig.window.skin.timerRect = SkinRect{0, 0, 58, 14};
    rig.window.skin.display.setFont("MS Gothic", 6, 12);
    if (!rig.window.settings.fShowVolume) rig.window.toggleLevelMeter();
    rig.addSong("long.mid", song("", 96 * 600));
    rig.window.startPlayback();
    ASSERT_TRUE(rig.window.playing);
    ASSERT_TRUE(waitFor([&] { return rig.window.levels[0].load() > 0; }));
    const std::uint32_t start = rig.window.playStartTick;
    rig.system.tick = start + 65100;
    for (int i = 0; i < 10; ++i) rig.tick(0);  // the note's bar falls to the floor
    ASSERT_EQ(rig.window.clockShown, "1:05");
    ASSERT_EQ(rig.meterFrame(0), 0);

    const Surface& display = rig.window.skin.display;
    const std::vector<std::uint16_t> before(display.pixels(), display.pixels() + display.width() * display.height());
    rig.host->invalidated.clear();
    rig.tick();
    rig.tick();
    EXPECT_TRUE(rig.host->invalidated.empty());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), display.pixels()));

    rig.window.levels[3] = 127;
    rig.tick();
    ASSERT_EQ(rig.host->invalidated.size(), 1u);
    const SkinRect bar = rig.window.skin.meterBar(3);
    EXPECT_EQ(rig.host->invalidated[0].left, bar.left);
    EXPECT_EQ(rig.host->invalidated[0].top, bar.top);
    EXPECT_EQ(rig.host->invalidated[0].right, bar.left + bar.width);
    EXPECT_EQ(rig.host->invalidated[0].bottom, bar.top + bar.height);
    EXPECT_EQ(rig.meterFrame(3), 15);

    // The whole display composed again: the clock comes back with the same text.
    rig.window.loadSkinAndPlace((rig.dir.root.string() + "/").c_str());
    rig.window.skin.timerRect = SkinRect{0, 0, 58, 14};
    rig.window.skin.display.setFont("MS Gothic", 6, 12);
    rig.tick(0);
    rig.tick(0);
    ASSERT_EQ(rig.window.clockShown, "1:05");
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 240 * 14, display.pixels())) << "clock redrawn";

    // A clock wider than its area is repainted where its text reaches.
    rig.window.skin.timerRect = SkinRect{20, 0, 4, 14};
    ASSERT_TRUE(rig.window.skin.display.setTextScale(1));  // smoothed, as skins draw it
    rig.host->invalidated.clear();
    rig.system.tick += 2000;
    rig.tick(0);
    rig.tick(0);
    ASSERT_FALSE(rig.host->invalidated.empty());
    const Extent clock = rig.window.skin.display.measureText(rig.window.clockShown.c_str());
    EXPECT_LE(rig.host->invalidated[0].left, 22 - clock.width / 2);
    EXPECT_GE(rig.host->invalidated[0].right, 22 + clock.width / 2);

    // A clock laid over the meter: the bars it covers are drawn again after it.
    rig.window.skin.timerRect = rig.window.skin.meterRect();
    rig.window.startPlayback();
    rig.system.tick = rig.window.playStartTick + 5000;
    for (int i = 0; i < 4; ++i) {
        rig.tick(0);
        for (int channel = 0; channel < METER_BARS; ++channel) EXPECT_GE(rig.meterFrame(channel), 0) << channel;
    }
}

TEST(MainWindowCommands, WindowTrayDialogsAndExit) {
    Rig rig(false);
    // Without a tray icon nothing could show the window again: it stays.
    rig.host->visible = true;
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_HIDE_WINDOW));
    EXPECT_TRUE(rig.host->visible);
    EXPECT_FALSE(rig.window.windowHidden);
    rig.window.trayIconShown = true;
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_HIDE_WINDOW));
    EXPECT_FALSE(rig.host->visible);
    EXPECT_TRUE(rig.window.windowHidden);
    // The tray host's own menu is the popup a click on the icon shows now.
    EXPECT_EQ(rig.host->trayMenuName, "SubMenu1");
    rig.system.cursor = Point{1000, 760};
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_TRAY_ICON), WM_RBUTTONDOWN);
    ASSERT_EQ(rig.host->popups.size(), 1u);
    EXPECT_EQ(rig.host->popups[0].name, "SubMenu1");
    EXPECT_EQ(rig.host->popups[0].at.x, 1000);
    EXPECT_EQ(rig.host->popups[0].alignment, TPM_RIGHTALIGN | TPM_BOTTOMALIGN);
    EXPECT_FALSE(rig.host->visible) << "a hidden window stays hidden";
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_TRAY_ICON), WM_MOUSEMOVE);
    EXPECT_EQ(rig.host->popups.size(), 1u);
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_SHOW_WINDOW));
    EXPECT_EQ(rig.host->trayMenuName, "SubMenu2");
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_TRAY_ICON), WM_LBUTTONDOWN);
    ASSERT_EQ(rig.host->popups.size(), 2u);
    EXPECT_EQ(rig.host->popups[1].name, "SubMenu2");
    EXPECT_TRUE(rig.host->visible);

    // A dialog command without its dialog does nothing; an unknown id is left
    // to the default handling.
    const std::size_t defaults = rig.host->defaultCalls.size();
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_CONFIGURE));
    EXPECT_FALSE(rig.window.modalOpen);
    EXPECT_EQ(rig.host->defaultCalls.size(), defaults);
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_RECENT_PLACEHOLDER));
    EXPECT_EQ(rig.host->defaultCalls.size(), defaults + 1);

    // The version dialog: both lines, the focus on the second, Esc closes it.
    bool modalDuringDialog = false;
    rig.system.dialogScript = [&](FakeDialogHost& dialog) {
        modalDuringDialog = rig.window.modalOpen;
        rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_VERSION));  // guarded: no second dialog
        dialog.deliver(WM_COMMAND, makeCommandWParam(0, IDCANCEL));
    };
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_VERSION));
    EXPECT_EQ(rig.system.dialogTemplates, std::vector<std::uint16_t>{IDD_VERSION});
    EXPECT_EQ(rig.system.dialogOwners.back(), rig.host);
    EXPECT_TRUE(modalDuringDialog);
    EXPECT_TRUE(rig.system.lastDialogEnded);
    EXPECT_EQ(rig.system.lastDialogTexts[IDC_VERSION_LINE], versionLine);
    EXPECT_EQ(rig.system.lastDialogFocus, IDC_VERSION_DETAIL);
    EXPECT_FALSE(rig.window.modalOpen);
    rig.system.dialogScript = nullptr;

    // A provided dialog runs guarded.
    std::vector<std::uint16_t> ran;
    bool modalSeen = false;
    rig.window.dialogs.add(IDM_OPEN_FILES, {}, [&](MainWindow& w) {
        ran.push_back(IDM_OPEN_FILES);
        modalSeen = w.modalOpen;
    });
    rig.click(175, 20);  // Eject
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_OPEN_FILES));
    EXPECT_EQ(ran, (std::vector<std::uint16_t>{IDM_OPEN_FILES, IDM_OPEN_FILES}));
    EXPECT_TRUE(modalSeen);
    EXPECT_FALSE(rig.window.modalOpen);

    // The Close button: position kept, tray icon removed, loop ended.
    rig.host->x = 17;
    rig.host->y = 23;
    rig.host->trayIcon = true;
    FakeWindowHost* host = rig.host;
    host->deliver(WM_LBUTTONDOWN, MK_LBUTTON, makePointLParam(210, 20));
    host->deliver(WM_LBUTTONUP, 0, makePointLParam(210, 20));
    EXPECT_EQ(rig.window.settings.InitializePositionX, 17);
    EXPECT_EQ(rig.window.settings.InitializePositionY, 23);
    EXPECT_EQ(rig.window.hwnd, nullptr);
    EXPECT_EQ(rig.system.quitPosts, 1);
    EXPECT_TRUE(rig.system.windows.empty());
}

// What a desktop media controller is told, and when: every change of song,
// title, play state and volume reaches the observer, and compareMedia names
// exactly the groups that differ.
struct MediaLog : MediaObserver {
    explicit MediaLog(MainWindow& w) : window(w) {}
    void mediaChanged() override { states.push_back(window.mediaState()); }
    MainWindow& window;
    std::vector<MediaState> states;
};

TEST(MainWindowMedia, ReportsSongTitleLengthClockAndVolume) {
    Rig rig;
    MediaLog log(rig.window);
    rig.window.mediaObserver = &log;

    // A Latin-1 file name without a title event: the file's title in UTF-8.
    const std::string first = rig.addSong("caf\xe9 song.mid", song("", 96 * 600));
    ASSERT_FALSE(log.states.empty());
    MediaState stopped = rig.window.mediaState();
    EXPECT_EQ(stopped.title, "caf\xc3\xa9 song");
    EXPECT_EQ(stopped.path, first);
    EXPECT_FALSE(stopped.playing);
    EXPECT_EQ(stopped.lengthUs, 0) << "not scanned yet";

    rig.window.startPlayback();
    ASSERT_TRUE(rig.window.playing);
    rig.system.tick += 1500;
    MediaState playing = rig.window.mediaState();
    EXPECT_TRUE(playing.playing);
    EXPECT_EQ(playing.song, stopped.song) << "the same file is the same song";
    EXPECT_EQ(playing.lengthUs, static_cast<std::int64_t>(rig.window.songLength) * 1000);
    EXPECT_GT(playing.lengthUs, 20'000'000);
    EXPECT_EQ(playing.positionUs, 1'500'000);
    MediaChanges changes = compareMedia(stopped, playing);
    EXPECT_TRUE(changes.status && changes.metadata && !changes.volume);
    EXPECT_TRUE(log.states.back().playing) << "the start was reported";

    // Another file: a new song number; its own name replaces the file's
    // title once the title event is read, and is reported then.
    rig.window.stopPlayback();
    playWithTitle(rig, "Real Name");
    const MediaState named = log.states.back();
    EXPECT_EQ(named.title, "Real Name");
    EXPECT_NE(named.song, playing.song);
    EXPECT_TRUE(named.playing);
    EXPECT_NE(named.path, first);

    rig.window.stopPlayback();
    const MediaState after = log.states.back();
    EXPECT_FALSE(after.playing);
    EXPECT_EQ(after.positionUs, 0);
    changes = compareMedia(named, after);
    EXPECT_TRUE(changes.status && !changes.metadata && !changes.volume);

    rig.window.setVolume(300);
    EXPECT_EQ(log.states.back().volume, 128);
    rig.window.setVolume(-5);
    EXPECT_EQ(log.states.back().volume, 0);
    changes = compareMedia(after, log.states.back());
    EXPECT_TRUE(!changes.status && !changes.metadata && changes.volume);

    // A controller's Shuffle and LoopStatus become play modes, reported back.
    const MediaState before = log.states.back();
    rig.window.setPlayMode(modeForShuffle(rig.window.playList.mode(), true));
    EXPECT_EQ(rig.window.settings.PlayMode, static_cast<std::int32_t>(PlayMode::Random));
    EXPECT_TRUE(rig.window.settings.playSettingsChanged);
    changes = compareMedia(before, log.states.back());
    EXPECT_TRUE(changes.mode && !changes.volume && !changes.metadata);
    EXPECT_TRUE(shuffleOf(log.states.back().mode));
    EXPECT_STREQ(loopStatusOf(log.states.back().mode), "Playlist");
    PlayMode mode = PlayMode::Normal;
    ASSERT_TRUE(modeForLoopStatus(rig.window.playList.mode(), "None", &mode));
    rig.window.setPlayMode(mode);
    EXPECT_EQ(rig.window.playList.mode(), PlayMode::NormalNoLoop) << "no end without leaving the shuffle";
    EXPECT_FALSE(shuffleOf(log.states.back().mode));
    EXPECT_STREQ(loopStatusOf(log.states.back().mode), "None");
    ASSERT_TRUE(modeForLoopStatus(rig.window.playList.mode(), "Playlist", &mode));
    EXPECT_EQ(mode, PlayMode::Normal);
    EXPECT_FALSE(modeForLoopStatus(PlayMode::Normal, "Track", &mode)) << "no mode repeats one song";
    // "Random after the 2nd" is shuffled already and stays; off is Normal.
    EXPECT_EQ(modeForShuffle(PlayMode::RandomAfterSecond, true), PlayMode::RandomAfterSecond);
    EXPECT_EQ(modeForShuffle(PlayMode::RandomAfterSecond, false), PlayMode::Normal);
    ASSERT_TRUE(modeForLoopStatus(PlayMode::RandomAfterSecond, "Playlist", &mode));
    EXPECT_EQ(mode, PlayMode::RandomAfterSecond);
    rig.window.mediaObserver = nullptr;
}

TEST(MenuResource, PopupsHoldTheItemsAndTheRecentSubmenuAtPositionSix) {
    Menu menu{mainMenu()};
    for (int p = 0; p < MAIN_MENU_POPUP_COUNT; ++p) {
        const MenuItem& recent = menu.popup(p).items.at(RECENT_SUBMENU_POSITION);
        EXPECT_EQ(recent.kind, MenuItemKind::Submenu) << p;
        EXPECT_EQ(recent.text, "Recently opened PlayList");
        ASSERT_EQ(recent.submenu.size(), 1u);
        EXPECT_EQ(recent.submenu[0].id, IDM_RECENT_PLACEHOLDER);
        EXPECT_EQ(recent.submenu[0].text, "(Item)");
    }
    // The tray popups differ only in their last item.
    EXPECT_EQ(menu.popup(1).items.back().id, IDM_SHOW_WINDOW);
    EXPECT_EQ(menu.popup(2).items.back().id, IDM_HIDE_WINDOW);
    EXPECT_EQ(menu.popup(1).items.size(), menu.popup(2).items.size());
    EXPECT_EQ(menu.popup(0).name, "MainMenu");

    menu.enableCommand(IDM_OPEN_FILES, false);
    for (int p = 0; p < MAIN_MENU_POPUP_COUNT; ++p) EXPECT_FALSE(menu.popup(p).find(IDM_OPEN_FILES)->enabled);
    EXPECT_TRUE(menu.popup(0).find(IDM_EXIT)->enabled);

    menu.setRecentItems({MenuItem{MenuItemKind::Command, 8950, "/a.brl", true, {}}});
    EXPECT_NE(menu.popup(2).find(8950), nullptr);
    EXPECT_EQ(menu.popup(2).find(IDM_RECENT_PLACEHOLDER), nullptr);
}

TEST(DialogTemplates, VersionDialogHasItsControls) {
    registerDialogTemplate(VERSION_TEMPLATE);
    const DialogTemplate* version = findDialogTemplate(IDD_VERSION);
    ASSERT_NE(version, nullptr);
    bool line = false, detail = false, ok = false;
    for (int i = 0; i < version->controlCount; ++i) {
        const ControlTemplate& c = version->controls[i];
        line |= c.id == IDC_VERSION_LINE;
        detail |= c.id == IDC_VERSION_DETAIL && c.controlClass == ControlClass::Edit && (c.style & EDIT_READONLY);
        ok |= c.id == IDOK;
        EXPECT_LE(c.rect.x + c.rect.width, version->rect.width) << c.id;
        EXPECT_LE(c.rect.y + c.rect.height, version->rect.height) << c.id;
    }
    EXPECT_TRUE(line && detail && ok);
    EXPECT_EQ(findDialogTemplate(9999), nullptr);
}

TEST(DialogRegistry, ARegisteredCommandRunsItsDialogGuardedAndTheMenuFollows) {
    FakeWindowSystem system;
    MainWindow window(system);
    EXPECT_TRUE(window.menu.popup(0).find(IDM_VERSION)->enabled);
    EXPECT_FALSE(window.menu.popup(0).find(IDM_PLAY_MODE)->enabled);

    static constexpr ControlTemplate NO_CONTROLS[] = {{ControlClass::DefButton, IDOK, "OK", {0, 0, 10, 10}, 0}};
    static constexpr DialogTemplate PLAY_MODE{
        IDD_PLAY_MODE, "Play mode", {0, 0, 50, 50}, "MS Gothic", 9, NO_CONTROLS, 1};
    std::vector<bool> runs;  // modalOpen during each run
    window.dialogs.add(IDM_PLAY_MODE, {&PLAY_MODE}, [&](MainWindow& w) { runs.push_back(w.modalOpen); });
    EXPECT_EQ(findDialogTemplate(IDD_PLAY_MODE), &PLAY_MODE);
    window.updateMenuState();
    EXPECT_TRUE(window.menu.popup(0).find(IDM_PLAY_MODE)->enabled);
    EXPECT_FALSE(window.menu.popup(0).find(IDM_CONFIGURE)->enabled);

    EXPECT_EQ(window.onCommand(0, IDM_PLAY_MODE, 0), 1);
    EXPECT_EQ(runs, std::vector<bool>{true});
    EXPECT_FALSE(window.modalOpen);

    // Unknown and unregistered commands do nothing; only unknown ones are
    // left to the default handling.
    EXPECT_EQ(window.onCommand(0, 12345, 0), 0);
    EXPECT_EQ(window.onCommand(0, IDM_CONFIGURE, 0), 1);
    EXPECT_FALSE(window.modalOpen);
    EXPECT_FALSE(window.dialogs.run(IDM_CONFIGURE, window));
    EXPECT_EQ(runs.size(), 1u);
}

TEST(MainWindowVolume, KeysAndTheWheelShowTheVolumeForASecondThenTheTitleReturns) {
    Rig rig;
    rig.addSong("Quiet Song.mid", song("", 96 * 600));
    ASSERT_EQ(rig.window.titleShown, "Quiet Song");
    rig.window.settings.Volume = 100;
    rig.key(rig.window.settings.KeyCodeForVolumeDown);
    EXPECT_EQ(rig.window.titleShown, "Vol 99");
    // A title that arrives meanwhile waits for the volume's second.
    rig.window.showTitle("Other Song", 0);
    EXPECT_EQ(rig.window.titleShown, "Vol 99");
    for (int i = 1; i < MainWindow::VOLUME_SHOW_TICKS; ++i) rig.tick();
    EXPECT_EQ(rig.window.titleShown, "Vol 99");
    rig.tick();
    EXPECT_EQ(rig.window.titleShown, "Other Song");

    // Two notches up; half notches add up to one; down goes down.
    rig.host->deliver(WM_MOUSEWHEEL, makeWheelWParam(2 * WHEEL_DELTA, 0), makePointLParam(emptyX, emptyY));
    EXPECT_EQ(rig.window.settings.Volume, 99 + 2 * MainWindow::WHEEL_VOLUME_STEP);
    EXPECT_EQ(rig.window.titleShown, "Vol " + std::to_string(rig.window.settings.Volume));
    const std::int32_t before = rig.window.settings.Volume;
    rig.host->deliver(WM_MOUSEWHEEL, makeWheelWParam(-WHEEL_DELTA / 2, 0), makePointLParam(emptyX, emptyY));
    EXPECT_EQ(rig.window.settings.Volume, before);
    rig.host->deliver(WM_MOUSEWHEEL, makeWheelWParam(-WHEEL_DELTA / 2, 0), makePointLParam(emptyX, emptyY));
    EXPECT_EQ(rig.window.settings.Volume, before - MainWindow::WHEEL_VOLUME_STEP);
    EXPECT_EQ(rig.window.engine.synthesizer.userVolumeValue(), before - MainWindow::WHEEL_VOLUME_STEP);
    for (int i = 0; i < MainWindow::VOLUME_SHOW_TICKS; ++i) rig.tick();
    EXPECT_EQ(rig.window.titleShown, "Other Song") << "the title the volume covered";
}

TEST(MainWindowMouse, RightClickOpensTheMenuAtThePointerAndButtonsHaveTips) {
    Rig rig(false);
    rig.host->deliver(WM_RBUTTONDOWN, MK_RBUTTON, makePointLParam(20, 25));
    rig.host->deliver(WM_RBUTTONUP, 0, makePointLParam(20, 25));
    ASSERT_EQ(rig.host->popups.size(), 1u);
    EXPECT_EQ(rig.host->popups[0].name, "MainMenu");
    EXPECT_EQ(rig.host->popups[0].at.x, rig.host->x + 20);
    EXPECT_EQ(rig.host->popups[0].at.y, rig.host->y + 25);

    EXPECT_EQ(rig.window.toolTipAt(nextX, nextY), "Next");
    EXPECT_EQ(rig.window.toolTipAt(100, 20), "Play");
    rig.window.playing = true;
    EXPECT_EQ(rig.window.toolTipAt(100, 20), "Stop") << "what a click does now";
    rig.window.playing = false;
    EXPECT_EQ(rig.window.toolTipAt(210, 20), "Close");
    EXPECT_EQ(rig.window.toolTipAt(62, 20), "Previous");
    EXPECT_FALSE(rig.window.toolTipAt(172, 20).empty());
    EXPECT_TRUE(rig.window.toolTipAt(2, 30).empty());
}

TEST(MainWindowDisplay, AFirstStartSaysHowToOpenAFileAndAStoppedClockStartsAgain) {
    Rig rig;
    rig.window.playList.makeIndexCurrent();
    rig.window.playList.makeCurrent("");
    EXPECT_EQ(rig.window.titleShown, MainWindow::openHintText);
    EXPECT_TRUE(rig.window.mediaState().title.empty()) << "the hint is no song's title";

    rig.window.skin.timerRect = SkinRect{0, 0, 58, 14};
    rig.addSong("long.mid", song("", 96 * 600));
    EXPECT_EQ(rig.window.titleShown, "long");
    rig.window.startPlayback();
    ASSERT_TRUE(rig.window.playing);
    rig.system.tick = rig.window.playStartTick + 65000;
    rig.tick(0);
    ASSERT_EQ(rig.window.clockShown, "1:05");
    rig.window.stopPlayback();
    EXPECT_EQ(rig.window.clockShown, "0:00");

    // Counting down, a stopped song shows its whole length.
    rig.window.settings.TimerMode = 1;
    rig.window.startPlayback();
    rig.system.tick = rig.window.playStartTick + 5000;
    rig.tick(0);
    rig.tick(0);
    rig.window.stopPlayback();
    char length[24];
    MainWindow::formatClock(static_cast<std::uint32_t>(rig.window.songLength), length, sizeof length);
    EXPECT_EQ(rig.window.clockShown, length);

    rig.window.settings.TimerMode = 0;
    rig.window.startPlayback();
    rig.system.tick = rig.window.playStartTick + 65000;
    rig.tick(0);
    rig.tick(0);
    ASSERT_EQ(rig.window.clockShown, "1:05");
    rig.window.playList.clear();
    rig.addSong("bad.mid", "MThd but not really a MIDI file");
    rig.window.startPlayback();
    EXPECT_EQ(rig.window.titleShown, "Unsupported data.");
    EXPECT_EQ(rig.window.clockShown, "0:00");
}

TEST(MainWindowPlayList, ABadEntryIsNamedAndTheListGoesOnButAWholeBadRoundStops) {
    Rig rig;
    rig.addSong("bad.mid", "MThd but not really a MIDI file");
    rig.addSong("good.mid", song("", 96 * 600));
    rig.addSong("worse.mid", "not even close");
    rig.window.playList.currentIndex = 0;
    rig.window.playList.makeIndexCurrent();
    rig.window.startPlayback();
    EXPECT_EQ(rig.window.titleShown, "Unsupported data. bad.mid");
    EXPECT_TRUE(rig.window.playing) << "the list is still going";
    EXPECT_TRUE(rig.host->messageBoxes.empty());
    for (int i = 1; i < MainWindow::SKIP_TICKS; ++i) rig.tick();
    EXPECT_EQ(rig.window.playList.currentIndex, 0) << "named for a while first";
    rig.tick();
    EXPECT_EQ(rig.window.playList.currentIndex, 1);
    EXPECT_TRUE(rig.window.engine.sequencer->playing);
    EXPECT_EQ(rig.window.failedInRow, 0);

    // Stop during the pause ends the list there.
    rig.window.playList.currentIndex = 2;
    rig.window.playList.makeIndexCurrent();
    rig.window.startPlayback();
    EXPECT_EQ(rig.window.titleShown, "Unsupported data. worse.mid");
    rig.window.stopPlayback();
    for (int i = 0; i < MainWindow::SKIP_TICKS; ++i) rig.tick();
    EXPECT_FALSE(rig.window.playing);
    EXPECT_EQ(rig.window.playList.currentIndex, 2);

    // Every entry bad: one round, then it stops with the plain message.
    rig.window.playList.clear();
    rig.addSong("bad.mid", "MThd but not really a MIDI file");
    rig.addSong("worse.mid", "not even close");
    rig.window.playList.currentIndex = 0;
    rig.window.playList.makeIndexCurrent();
    rig.window.startPlayback();
    for (int i = 0; i < 3 * MainWindow::SKIP_TICKS && rig.window.playing; ++i) rig.tick();
    EXPECT_FALSE(rig.window.playing);
    EXPECT_EQ(rig.window.titleShown, "Unsupported data.");
    EXPECT_EQ(rig.window.playList.currentIndex, 1) << "each entry tried once";
    EXPECT_FALSE(rig.playButtonPressed());
}

TEST(MainWindowSkin, ASkinThatFailsToLoadIsNamedOnceOnStderr) {
    TempDir dir;
    FakeWindowSystem system;
    MainWindow window{system};
    ASSERT_TRUE(window.create());
    dir.write("Broken.ini", "[Skin]\nBackGroundImage=missing.bmp\n");
    std::snprintf(window.settings.SkinFileName, sizeof window.settings.SkinFileName, "Broken.ini");
    const std::string folder = dir.root.string() + "/";
    ::testing::internal::CaptureStderr();
    window.loadSkinAndPlace(folder.c_str());
    window.loadSkinAndPlace(folder.c_str());
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(window.skin.builtIn);
    EXPECT_NE(said.find("'Broken.ini' in " + folder), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
}

}  // namespace
}  // namespace brellin::test

namespace brellin::test {
namespace {

// The Sequencer's own position: the render thread takes a seek at its next slice.
bool sequencerReaches(Rig& rig, std::uint32_t ms) {
    return waitFor([&] { return rig.window.engine.songPosition() >= ms; });
}

}  // namespace

TEST(MainWindowPause, PauseBlinksTheClockSeekSpeedAndKeyMoveTheSongAndStopStops) {
    Rig rig;
    // Give the built-in display a clock left of the title.
    rig.window.skin.timerRect = SkinRect{0, 0, 58, 14};
    rig.window.skin.display.setFont("MS Gothic", 6, 12);
    rig.addSong("long.mid", song("Long", 96 * 240));  // two minutes
    rig.key(13);
    ASSERT_TRUE(rig.window.isPlaying());
    rig.tick(1000);

    // P pauses: the song's clock stands, the clock blinks, the button stays.
    rig.key(80);
    EXPECT_TRUE(rig.window.isPaused());
    EXPECT_TRUE(rig.window.engine.songPaused());
    EXPECT_EQ(rig.window.songPosition(), 1000u);
    std::vector<std::string> shown;
    for (int i = 0; i < 8; ++i) {
        rig.tick(500);
        shown.push_back(rig.window.clockShown);
    }
    EXPECT_EQ(rig.window.songPosition(), 1000u);
    EXPECT_EQ(rig.window.mediaState().positionUs, 1'000'000);
    EXPECT_TRUE(rig.window.mediaState().paused);
    EXPECT_NE(std::find(shown.begin(), shown.end(), ""), shown.end());
    EXPECT_NE(std::find(shown.begin(), shown.end(), "0:01"), shown.end()) << ::testing::PrintToString(shown);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), ""), 4) << "blank every other drawing";
    EXPECT_EQ(rig.window.toolTipAt(100, 20), "Resume");

    // Play resumes at the same place.
    rig.key(13);
    EXPECT_TRUE(rig.window.isPlaying());
    EXPECT_FALSE(rig.window.isPaused());
    EXPECT_FALSE(rig.window.engine.songPaused());
    rig.tick(2000);
    EXPECT_EQ(rig.window.songPosition(), 3000u);

    // Shift with Next and Previous: 10 s forward and back, never before 0.
    rig.key(16);
    rig.key(39);
    EXPECT_EQ(rig.window.songPosition(), 13000u);
    EXPECT_TRUE(sequencerReaches(rig, 13000));
    EXPECT_EQ(rig.window.mediaState().seeks, 1u);
    rig.key(37);
    rig.key(37);
    EXPECT_EQ(rig.window.songPosition(), 0u);
    rig.host->deliver(WM_KEYUP, 16, 0);
    EXPECT_EQ(rig.window.playList.currentIndex, 0) << "no step in the list";

    // ] is faster, - a semitone down: the value shows for a second.
    const std::string title = rig.window.titleShown;
    rig.key(221);
    EXPECT_EQ(rig.window.titleShown, "Speed 110%");
    EXPECT_EQ(rig.window.engine.sequencer->speedPercent(), 110);
    rig.tick(1000);
    EXPECT_EQ(rig.window.songPosition(), 1100u);
    EXPECT_EQ(rig.window.mediaState().speed, 110);
    rig.key(189);
    EXPECT_EQ(rig.window.titleShown, "Key -1");
    EXPECT_EQ(rig.window.engine.sequencer->transposition(), -1);
    for (int i = 0; i < 12; ++i) rig.tick();
    EXPECT_EQ(rig.window.titleShown, title);
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_NORMAL_SPEED_KEY));
    EXPECT_EQ(rig.window.titleShown, "Speed 100% Key 0");
    EXPECT_EQ(rig.window.engine.speed(), 100);
    EXPECT_EQ(rig.window.engine.transpose(), 0);

    // The tray's Pause/Resume, then the media controller's Stop while paused.
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_PAUSE));
    EXPECT_TRUE(rig.window.isPaused());
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_STOP));
    EXPECT_FALSE(rig.window.isPlaying());
    EXPECT_FALSE(rig.window.isPaused());
    EXPECT_EQ(rig.window.mediaState().positionUs, 0);
}

}  // namespace brellin::test
