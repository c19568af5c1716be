#include "ui/model/CommandLineList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/TempDir.h"

using namespace brellin;
using brellin::testing::TempDir;

TEST(CommandLineListOrder, ListsExpandInOrderAndEachSongOnce) {
    TempDir dir;
    std::string brl = dir.write("a.BRL", "/s/two.mid\n/s/one.mid\nnotes.txt\n/s/three.rmi\n");
    PlayOrder order = buildPlayOrder({"/s/one.mid", brl, "/s/other.kar", "/s/two.mid"}, false, 1);
    EXPECT_EQ(order.songs, (std::vector<std::string>{"/s/one.mid", "/s/two.mid", "/s/three.rmi", "/s/other.kar"}));
    EXPECT_TRUE(order.unreadableLists.empty());
}

TEST(CommandLineListOrder, RelativeSongsOfAListAreTakenFromItsFolder) {
    TempDir dir;
    std::string brl = dir.write("l.brl", "s.mid\r\n" + dir.path("s.mid") + "\nsub/t.mid\n");
    PlayOrder order = buildPlayOrder({"rel.mid", brl}, false, 1);
    EXPECT_EQ(order.songs,
              (std::vector<std::string>{"rel.mid", dir.path("s.mid"), dir.path("s.mid"), dir.path("sub/t.mid")}));
}

TEST(CommandLineListOrder, UnreadablePlayListIsReported) {
    TempDir dir;
    PlayOrder order = buildPlayOrder({dir.path("missing.brl"), "/s/x.mid"}, false, 1);
    EXPECT_EQ(order.songs, (std::vector<std::string>{"/s/x.mid"}));
    EXPECT_EQ(order.unreadableLists, (std::vector<std::string>{dir.path("missing.brl")}));
}

TEST(CommandLineListOrder, RandomPicksAsManyAsThereAreEntriesAndRepeatsWithTheSeed) {
    std::vector<std::string> files = {"/s/a.mid", "/s/b.mid", "/s/c.mid", "/s/d.mid", "/s/e.mid"};
    PlayOrder first = buildPlayOrder(files, true, 99);
    PlayOrder again = buildPlayOrder(files, true, 99);
    ASSERT_EQ(first.songs.size(), files.size());
    EXPECT_EQ(first.songs, again.songs);
    std::set<std::string> known(files.begin(), files.end());
    for (std::size_t i = 0; i < first.songs.size(); ++i) {
        EXPECT_EQ(known.count(first.songs[i]), 1u);
        // A pick never stays on the entry it started from (except r = 32767 at 0).
        if (i > 0 && first.songs[i] == first.songs[i - 1]) {
            EXPECT_EQ(first.songs[i], files[0]);
        }
    }
    bool differs = false;
    for (std::uint32_t seed = 1; seed < 20 && !differs; ++seed)
        differs = buildPlayOrder(files, true, seed).songs != first.songs;
    EXPECT_TRUE(differs);
}

TEST(CommandLineListSave, WritesTheMidiFilesAsAbsolutePaths) {
    TempDir dir;
    std::string brl = dir.write("in.brl", "/s/from-list.mid\n");
    std::string previous = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.root);
    bool saved =
        saveCommandLineList(dir.path("out.brl").c_str(), {"rel.mid", brl, "/s/abs.MIDI", "readme.txt", "rel.mid"});
    std::filesystem::current_path(previous);
    ASSERT_TRUE(saved);
    std::string here = std::filesystem::canonical(dir.root).string();
    EXPECT_EQ(dir.read("out.brl"), here + "/rel.mid\n/s/from-list.mid\n/s/abs.MIDI\n");
    ResultCode error = RESULT_OK;
    EXPECT_FALSE(saveCommandLineList(dir.root.c_str(), {"/s/a.mid"}, &error));
    EXPECT_EQ(error, RESULT_CANNOT_OPEN_FILE);
}
