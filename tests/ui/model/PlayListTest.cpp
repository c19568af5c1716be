#include "ui/model/PlayList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/Settings.h"
#include "tests/TempDir.h"

using namespace brellin;
using brellin::testing::TempDir;

namespace {

// Records what the play list asked of the player.
class RecordingHost : public PlayListHost {
public:
    void startPlayback() override {
        ++starts;
        playing = true;
    }
    void stopPlayback() override {
        ++stops;
        playing = false;
    }
    bool isPlaying() const override { return playing; }
    void showTitle(const char* title) override { titles.push_back(title); }
    void rebuildRecentMenus(const TextBuffer*) override { ++menuRebuilds; }

    bool playing = false;
    int starts = 0;
    int stops = 0;
    int menuRebuilds = 0;
    std::vector<std::string> titles;
};

struct Fixture {
    Settings settings;
    RecordingHost host;
    PlayList list{settings, host};

    std::vector<std::string> entries() {
        std::vector<std::string> result;
        auto locked = list.lockEntries();
        for (std::uint32_t i = 0; i < locked->count(); ++i) result.push_back(locked->at(i)->text());
        return result;
    }
    void add(std::initializer_list<const char*> paths) {
        for (const char* path : paths) list.lockEntries()->append(path);
    }
};

std::string title(const char* path) {
    char text[MAX_PATH_LENGTH + 1];
    PlayList::titleOf(path, text);
    return text;
}

}  // namespace

TEST(PlayListNames, MidiFileNames) {
    EXPECT_TRUE(PlayList::isMidiFileName("a.mid"));
    EXPECT_TRUE(PlayList::isMidiFileName("x.MIDI"));
    EXPECT_TRUE(PlayList::isMidiFileName("/songs/Song.Rmi"));
    EXPECT_TRUE(PlayList::isMidiFileName("/karaoke/Twinkle.KAR"));
    EXPECT_FALSE(PlayList::isMidiFileName(".kar"));
    EXPECT_FALSE(PlayList::isMidiFileName(".mid"));
    EXPECT_FALSE(PlayList::isMidiFileName(".midi"));
    EXPECT_FALSE(PlayList::isMidiFileName("x.mid "));
    EXPECT_FALSE(PlayList::isMidiFileName("list.brl"));
    EXPECT_FALSE(PlayList::isMidiFileName("mid"));
    EXPECT_FALSE(PlayList::isMidiFileName(""));
}

TEST(PlayListNames, TitleIsTheNameWithoutFolderAndExtension) {
    EXPECT_EQ(title("/music/Song One.mid"), "Song One");
    EXPECT_EQ(title("song.tar.mid"), "song.tar");
    EXPECT_EQ(title("/music.d/readme"), "readme");  // the dot lies in the folder
    EXPECT_EQ(title("/music/.mid"), "");
    EXPECT_EQ(title("plain"), "plain");
    std::string longName = "/" + std::string(400, 'n') + ".mid";
    EXPECT_EQ(title(longName.c_str()), std::string(259, 'n'));
}

TEST(PlayListOpen, MidiFilesAreAddedOnceByteForByte) {
    Fixture f;
    f.list.openPath("/c/a.mid");
    f.list.openPath("/C/A.MID");
    EXPECT_EQ(f.entries(), (std::vector<std::string>{"/c/a.mid", "/C/A.MID"}));
    EXPECT_EQ(f.list.currentIndex, 1);
    f.list.openPath("/c/a.mid");
    EXPECT_EQ(f.list.entryCount(), 2u);
    EXPECT_EQ(f.list.currentIndex, 0);
    EXPECT_STREQ(f.list.currentFile, "/c/a.mid");
    EXPECT_EQ(f.host.titles.back(), "a");
    EXPECT_EQ(f.host.starts + f.host.stops, 0);  // opening never plays
}

TEST(PlayListOpen, OpeningAMidiFileForgetsThePlayListFile) {
    TempDir dir;
    Fixture f;
    std::string brl = dir.write("l.brl", "/x/one.mid\n");
    f.list.openPath(brl.c_str());
    EXPECT_STREQ(f.list.playListPath, brl.c_str());
    EXPECT_STREQ(f.list.lastPlayed(), brl.c_str());
    f.settings.settingsChanged = false;
    f.list.openPath("/x/two.mid");
    EXPECT_STREQ(f.list.playListPath, "");
    EXPECT_STREQ(f.list.lastPlayed(), "/x/two.mid");
    EXPECT_TRUE(f.settings.settingsChanged);
}

TEST(PlayListBrl, ReadingRules) {
    TempDir dir;
    Fixture f;
    std::string brl = dir.write("l.brl",
                                "/s/one.mid\r\n"
                                "/s/two.mid  \n"  // trailing blanks: not a MIDI name
                                "notes\n"
                                "rel/three.MIDI\n"
                                "/s/one.mid\n"   // duplicate
                                "/k/sing.kar\n"  // a karaoke MIDI file
                                "/s/four.rmi");  // last line without a line feed
    f.list.openPath(brl.c_str());
    EXPECT_EQ(f.entries(), (std::vector<std::string>{"/s/one.mid", "rel/three.MIDI", "/k/sing.kar", "/s/four.rmi"}));
    EXPECT_EQ(f.list.currentIndex, 0);
    EXPECT_STREQ(f.list.currentFile, "/s/one.mid");
    EXPECT_STREQ(f.settings.recent[0].text(), brl.c_str());
}

TEST(PlayListBrl, AnOverLongLineEndsTheReading) {
    TempDir dir;
    Fixture f;
    std::string fits = "/" + std::string(254, 'f') + ".mid";     // 259 bytes
    std::string tooLong = "/" + std::string(255, 'g') + ".mid";  // 260 bytes
    std::string brl = dir.write("l.brl", fits + "\n" + tooLong + "\n/s/after.mid\n");
    f.list.openPath(brl.c_str());
    EXPECT_EQ(f.entries(), (std::vector<std::string>{fits}));
    // Carriage returns count towards the limit.
    Fixture g;
    std::string withCr = "/" + std::string(254, 'h') + ".mid\r";  // 259 + CR = 260 bytes
    brl = dir.write("cr.brl", withCr + "\n/s/after.mid\n");
    g.list.openPath(brl.c_str());
    EXPECT_EQ(g.list.entryCount(), 0u);
}

TEST(PlayListBrl, NoValidLineLeavesTheListAndSelectsEntryZero) {
    TempDir dir;
    Fixture f;
    f.add({"/k/first.mid", "/k/second.mid"});
    f.list.currentIndex = 1;
    std::string brl = dir.write("l.brl", "nothing\nhere.txt\n");
    f.list.openPath(brl.c_str());
    EXPECT_EQ(f.list.entryCount(), 2u);
    EXPECT_EQ(f.list.currentIndex, 0);
    EXPECT_STREQ(f.list.currentFile, "/k/first.mid");
    Fixture empty;
    empty.list.openPath(brl.c_str());
    EXPECT_EQ(empty.list.currentIndex, 0);
    EXPECT_TRUE(empty.host.titles.empty());
}

TEST(PlayListBrl, MergedListMakesItsFirstValidLineCurrent) {
    TempDir dir;
    Fixture f;
    f.add({"/k/a.mid", "/k/b.mid", "/k/c.mid"});
    std::string brl = dir.write("l.brl", "junk\n/k/b.mid\n/k/d.mid\n");
    f.list.openPath(brl.c_str());
    EXPECT_EQ(f.entries(), (std::vector<std::string>{"/k/a.mid", "/k/b.mid", "/k/c.mid", "/k/d.mid"}));
    EXPECT_EQ(f.list.currentIndex, 1);
    EXPECT_STREQ(f.list.currentFile, "/k/b.mid");
}

TEST(PlayListBrl, LargeMergedListsFindEveryRepeatAtItsFirstPosition) {
    TempDir dir;
    Fixture f;
    // Entries put in from outside may repeat; the first of them is the one found.
    f.add({"/k/a.mid", "/k/b.mid", "/k/b.mid"});
    f.list.openPlayListText("/l/first.brl", "/k/b.mid\n/k/n.mid\n", 18);
    EXPECT_EQ(f.list.currentIndex, 1);
    EXPECT_EQ(f.list.entryCount(), 4u);

    // 30,000 songs, each listed twice, the repeats in reverse order, with the
    // list's own entries and case variants in between.
    std::string text;
    for (int i = 0; i < 30000; ++i) text += "/big/" + std::to_string(i) + ".mid\n";
    text += "/k/n.mid\n/K/A.MID\n/k/a.mid\n";
    for (int i = 29999; i >= 0; --i) text += "/big/" + std::to_string(i) + ".mid\r\n";
    std::string brl = dir.write("big.brl", text);
    f.list.openPath(brl.c_str());

    const std::vector<std::string> entries = f.entries();
    ASSERT_EQ(entries.size(), 4u + 30000u + 1u);
    EXPECT_EQ(f.list.currentIndex, 4);
    EXPECT_EQ(entries[4], "/big/0.mid");
    EXPECT_EQ(entries[4 + 29999], "/big/29999.mid");
    EXPECT_EQ(entries.back(), "/K/A.MID");

    // A second reading adds nothing and makes the first line's entry current.
    f.list.openPath(brl.c_str());
    EXPECT_EQ(f.list.entryCount(), entries.size());
    EXPECT_EQ(f.list.currentIndex, 4);
    // A list's first line that the list already held, far down.
    f.list.openPlayListText("/l/last.brl", "/big/29999.mid\n", 15);
    EXPECT_EQ(f.list.currentIndex, 4 + 29999);
    EXPECT_STREQ(f.list.currentFile, "/big/29999.mid");
}

TEST(PlayListBrl, UnreadableFileChangesNothingButThePath) {
    TempDir dir;
    Fixture f;
    f.add({"/k/a.mid"});
    f.list.makeCurrent("/k/a.mid");
    f.list.openPath(dir.path("missing.brl").c_str());
    EXPECT_EQ(f.list.entryCount(), 1u);
    EXPECT_STREQ(f.list.currentFile, "/k/a.mid");
    EXPECT_STREQ(f.list.playListPath, dir.path("missing.brl").c_str());
    EXPECT_TRUE(f.settings.recent[0].empty());
}

TEST(PlayListBrl, WrittenFileReadsBackInOrder) {
    TempDir dir;
    Fixture f;
    f.add({"/k/b.mid", "/k/a.mid", "rel/c.rmi"});
    ASSERT_TRUE(f.list.savePlayList(dir.path("out.brl").c_str()));
    EXPECT_EQ(dir.read("out.brl"), "/k/b.mid\n/k/a.mid\nrel/c.rmi\n");
    EXPECT_STREQ(f.list.playListPath, dir.path("out.brl").c_str());
    EXPECT_STREQ(f.settings.recent[0].text(), dir.path("out.brl").c_str());
    EXPECT_TRUE(PlayList::playListFileExists(dir.path("out.brl").c_str()));
    EXPECT_FALSE(PlayList::playListFileExists(dir.path("other.brl").c_str()));
    // The name is not a pattern, and case counts: none of these is out.brl.
    EXPECT_FALSE(PlayList::playListFileExists(dir.path("o*.brl").c_str()));
    EXPECT_FALSE(PlayList::playListFileExists(dir.path("ou?.brl").c_str()));
    EXPECT_FALSE(PlayList::playListFileExists(dir.path("OUT.brl").c_str()));

    Fixture g;
    g.list.openPath(dir.path("out.brl").c_str());
    EXPECT_EQ(g.entries(), f.entries());

    Fixture empty;
    ASSERT_TRUE(empty.list.writePlayList(dir.path("empty.brl").c_str()));
    EXPECT_EQ(dir.read("empty.brl"), "");
    EXPECT_FALSE(empty.list.savePlayList(dir.root.c_str()));  // a folder cannot be written
    EXPECT_EQ(empty.list.lastError, RESULT_CANNOT_OPEN_FILE);
    EXPECT_STREQ(empty.list.playListPath, "");
}

TEST(PlayListSteps, NextAndPreviousWrapAndNeedTwoEntries) {
    Fixture f;
    f.list.next();
    f.list.previous();
    EXPECT_EQ(f.list.currentIndex, 0);
    f.add({"/k/only.mid"});
    f.list.next();
    EXPECT_EQ(f.list.currentIndex, 0);
    EXPECT_TRUE(f.host.titles.empty());
    f.add({"/k/two.mid", "/k/three.mid"});
    f.list.previous();
    EXPECT_EQ(f.list.currentIndex, 2);
    EXPECT_STREQ(f.list.currentFile, "/k/three.mid");
    f.list.next();
    EXPECT_EQ(f.list.currentIndex, 0);
    EXPECT_EQ(f.host.starts, 0);  // not playing: no start
    f.host.playing = true;
    f.list.next();
    EXPECT_EQ(f.list.currentIndex, 1);
    EXPECT_EQ(f.host.starts, 1);
}

TEST(PlayListModes, NormalLoops) {
    Fixture f;
    f.add({"/k/a.mid", "/k/b.mid", "/k/c.mid"});
    f.host.playing = true;
    f.list.currentIndex = 2;
    f.list.advanceAfterSong();
    EXPECT_EQ(f.list.currentIndex, 0);
    EXPECT_STREQ(f.list.currentFile, "/k/a.mid");
    EXPECT_EQ(f.host.starts, 1);
}

TEST(PlayListModes, NormalWithoutLoopStopsAfterTheLastAndShowsTheFirst) {
    Fixture f;
    f.list.setMode(PlayMode::NormalNoLoop);
    f.add({"/k/a.mid", "/k/b.mid"});
    f.host.playing = true;
    f.list.advanceAfterSong();
    EXPECT_EQ(f.list.currentIndex, 1);
    EXPECT_EQ(f.host.starts, 1);
    f.list.advanceAfterSong();
    EXPECT_EQ(f.list.currentIndex, 0);
    EXPECT_EQ(f.host.stops, 1);
    EXPECT_EQ(f.host.starts, 1);  // stopped: nothing restarts
    EXPECT_EQ(f.host.titles.back(), "a");
}

TEST(PlayListModes, RandomModesPickAnotherEntry) {
    for (PlayMode mode : {PlayMode::Random, PlayMode::RandomAfterSecond}) {
        Fixture f;
        f.list.setMode(mode);
        f.list.random.seed(12345);
        f.add({"/k/a.mid", "/k/b.mid", "/k/c.mid", "/k/d.mid"});
        f.host.playing = true;
        for (int i = 0; i < 50; ++i) {
            std::int32_t before = f.list.currentIndex;
            f.list.advanceAfterSong();
            EXPECT_GE(f.list.currentIndex, 0);
            EXPECT_LT(f.list.currentIndex, 4);
            // Only a draw of 32767 from entry 0 lands where it started.
            if (f.list.currentIndex == before) {
                EXPECT_EQ(before, 0);
            }
        }
        EXPECT_EQ(f.host.starts, 50);
    }
}

TEST(PlayListModes, EmptyListLeavesTheNoticePending) {
    Fixture f;
    f.host.playing = true;
    for (PlayMode mode : {PlayMode::Normal, PlayMode::Random, PlayMode::NormalNoLoop, PlayMode::RandomAfterSecond}) {
        f.list.setMode(mode);
        f.list.advanceAfterSong();
    }
    EXPECT_EQ(f.host.starts + f.host.stops, 0);
    EXPECT_TRUE(f.host.titles.empty());
}

TEST(PlayListRandom, PickRule) {
    Fixture f;
    f.add({"/k/only.mid"});
    for (std::int32_t r : {0, 16000, 32767}) {
        f.list.pickRandomWith(r);
        EXPECT_EQ(f.list.currentIndex, 0);
    }
    f.add({"/k/two.mid"});
    f.list.currentIndex = 0;
    for (std::int32_t r : {0, 100, 16383, 32766}) {
        f.list.currentIndex = 0;
        f.list.pickRandomWith(r);
        EXPECT_EQ(f.list.currentIndex, 1) << r;
    }
    f.list.currentIndex = 0;
    f.list.pickRandomWith(32767);  // i = c wraps to 0
    EXPECT_EQ(f.list.currentIndex, 0);
    f.add({"/k/three.mid"});
    f.list.currentIndex = 1;
    f.list.pickRandomWith(16383);  // 3 × 16383 / 32767 = 1, the current one: step on
    EXPECT_EQ(f.list.currentIndex, 2);
}

TEST(PlayListRandom, GeneratorGivesFifteenBitsAndRepeatsWithItsSeed) {
    RandomGenerator a(7), b(7);
    bool sawHigh = false;
    for (int i = 0; i < 1000; ++i) {
        std::int32_t x = a.next();
        EXPECT_EQ(x, b.next());
        EXPECT_GE(x, 0);
        EXPECT_LE(x, 32767);
        if (x > 30000) sawHigh = true;
    }
    EXPECT_TRUE(sawHigh);
    RandomGenerator c(1);
    EXPECT_EQ(c.next(), 41);  // the classic runtime generator's first number for seed 1
}

TEST(PlayListRecent, AddRecentShiftsDown) {
    Fixture f;
    const char* paths[] = {"/r/0.brl", "/r/1.brl", "/r/2.brl", "/r/3.brl", "/r/4.brl"};
    for (int k = 0; k < 5; ++k) f.settings.recent[k].assign(paths[k]);
    f.list.addRecent("/r/3.brl");
    EXPECT_STREQ(f.settings.recent[0].text(), "/r/3.brl");
    EXPECT_STREQ(f.settings.recent[1].text(), "/r/0.brl");
    EXPECT_STREQ(f.settings.recent[2].text(), "/r/1.brl");
    EXPECT_STREQ(f.settings.recent[3].text(), "/r/2.brl");
    EXPECT_STREQ(f.settings.recent[4].text(), "/r/4.brl");
    EXPECT_TRUE(f.settings.settingsChanged);
    EXPECT_EQ(f.host.menuRebuilds, 1);

    f.list.addRecent("/r/new.brl");
    EXPECT_STREQ(f.settings.recent[0].text(), "/r/new.brl");
    EXPECT_STREQ(f.settings.recent[4].text(), "/r/2.brl");
    EXPECT_STREQ(f.settings.recent[5].text(), "/r/4.brl");  // pushed out, not shown

    f.list.addRecent(f.settings.recent[1].text());  // a path from the list itself
    EXPECT_STREQ(f.settings.recent[0].text(), "/r/3.brl");
    EXPECT_STREQ(f.settings.recent[1].text(), "/r/new.brl");
}

TEST(PlayListRecent, MenuItems) {
    TextBuffer recent[RECENT_COUNT + 1];
    RecentMenuItem items[RECENT_COUNT];
    ASSERT_EQ(recentMenuItems(recent, items), 1);
    EXPECT_EQ(items[0].command, 8950);
    EXPECT_STREQ(items[0].text, "none");
    recent[1].assign("/r/1.brl");
    recent[3].assign("/r/3.brl");
    ASSERT_EQ(recentMenuItems(recent, items), 2);
    EXPECT_EQ(items[0].command, 8951);
    EXPECT_STREQ(items[0].text, "/r/1.brl");
    EXPECT_EQ(items[1].command, 8953);
}

TEST(PlayListRecent, OpenRecentReplacesTheList) {
    TempDir dir;
    Fixture f;
    std::string brl = dir.write("r.brl", "/n/x.mid\n");
    f.settings.recent[2].assign(brl.c_str());
    f.add({"/o/old.mid"});
    f.host.playing = true;
    f.list.openRecent(2);
    EXPECT_EQ(f.entries(), (std::vector<std::string>{"/n/x.mid"}));
    EXPECT_STREQ(f.settings.recent[0].text(), brl.c_str());
    EXPECT_EQ(f.host.starts + f.host.stops, 0);  // a running song goes on

    // "none": the list and the play-list path empty, the current file stays.
    Fixture g;
    g.add({"/o/old.mid"});
    g.list.makeCurrent("/o/old.mid");
    g.list.openRecent(0);
    EXPECT_EQ(g.list.entryCount(), 0u);
    EXPECT_STREQ(g.list.playListPath, "");
    EXPECT_STREQ(g.list.currentFile, "/o/old.mid");
}

TEST(PlayListModes, ModeTexts) {
    EXPECT_STREQ(playModeText(PlayMode::NormalNoLoop), "Normal without loop");
    EXPECT_STREQ(playModeText(PlayMode::RandomAfterSecond), "Random after the 2nd");
}
