#include "common/DirectoryListing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ExecutablePath.h"
#include "tests/TempDir.h"

using namespace brellin;
using brellin::testing::TempDir;

namespace {

std::vector<std::string> names(DirectoryListing& listing) {
    std::vector<std::string> result;
    for (std::uint32_t i = 0; i < listing.count(); ++i) result.push_back(listing.entry(i)->name);
    return result;
}

}  // namespace

TEST(DirectoryListingScan, FilesPerPatternThenFoldersWithParentButNotDot) {
    TempDir dir;
    dir.write("b.mid", "x");
    dir.write("a.MID", "xy");
    dir.write("list.brl", "");
    dir.write("notes.txt", "");
    std::filesystem::create_directory(dir.root / "Zed");
    DirectoryListing listing;
    ASSERT_TRUE(listing.scan(dir.root.c_str(), "*.brl;*.mid"));
    std::vector<std::string> found = names(listing);
    ASSERT_EQ(found.size(), 5u);
    EXPECT_EQ(found[0], "list.brl");  // the first pattern's files come first
    EXPECT_TRUE((found[1] == "a.MID" && found[2] == "b.mid") || (found[1] == "b.mid" && found[2] == "a.MID"));
    EXPECT_TRUE(listing.entry(3)->isFolder());
    EXPECT_TRUE(listing.entry(4)->isFolder());
    std::vector<std::string> folders = {found[3], found[4]};
    EXPECT_NE(std::find(folders.begin(), folders.end(), ".."), folders.end());
    EXPECT_NE(std::find(folders.begin(), folders.end(), "Zed"), folders.end());
    EXPECT_EQ(listing.entry(0)->size, 0u);
    for (std::uint32_t i = 0; i < listing.count(); ++i) {
        if (std::string(listing.entry(i)->name) == "a.MID") {
            EXPECT_EQ(listing.entry(i)->size, 2u);
        }
    }
}

TEST(DirectoryListingScan, PatternsIgnoreCaseAndAFolderNamedLikeAPatternIsAFolder) {
    TempDir dir;
    dir.write("small.brf", "BRF0");
    std::filesystem::create_directory(dir.root / "fonts.brf");
    DirectoryListing listing;
    ASSERT_TRUE(listing.scan((dir.root.string() + "/").c_str(), "*.BRF"));
    ASSERT_EQ(listing.count(), 3u);
    EXPECT_STREQ(listing.entry(0)->name, "small.brf");
    EXPECT_FALSE(listing.entry(0)->isFolder());
    int folderHits = 0;
    for (std::uint32_t i = 1; i < 3; ++i) {
        EXPECT_TRUE(listing.entry(i)->isFolder());
        if (std::string(listing.entry(i)->name) == "fonts.brf") ++folderHits;
    }
    EXPECT_EQ(folderHits, 1);  // listed once, among the folders
}

TEST(DirectoryListingScan, MissingFolderIsAnEmptySuccess) {
    TempDir dir;
    DirectoryListing listing;
    EXPECT_TRUE(listing.scan(dir.path("nowhere").c_str(), "*.MID"));
    EXPECT_EQ(listing.count(), 0u);
}

TEST(DirectoryListingScan, TooLongPathFailsWithOutOfMemory) {
    DirectoryListing listing;
    std::string folder = "/" + std::string(250, 'f');
    EXPECT_TRUE(listing.scan(folder.c_str(), "*.MID"));  // 250 + 1 + 1 + 5 = 257 fits
    std::string longer = "/" + std::string(254, 'f');
    EXPECT_FALSE(listing.scan(longer.c_str(), "*.MID"));
    EXPECT_EQ(listing.lastError, RESULT_OUT_OF_MEMORY);
}

TEST(DirectoryListingScan, RescanReplacesTheEntries) {
    TempDir dir;
    dir.write("one.mid", "");
    DirectoryListing listing;
    ASSERT_TRUE(listing.scan(dir.root.c_str(), "*.mid"));
    ASSERT_TRUE(listing.scan(dir.root.c_str(), "*.mid"));
    EXPECT_EQ(listing.count(), 2u);  // one.mid and ..
}

TEST(DirectoryListingMatch, WildcardsAreStarAndQuestionMarkOnly) {
    EXPECT_TRUE(DirectoryListing::matches("*.BRF", "small.brf"));
    EXPECT_FALSE(DirectoryListing::matches("*.BRF", "small.brf.bak"));
    EXPECT_TRUE(DirectoryListing::matches("*.*", "README"));
    EXPECT_TRUE(DirectoryListing::matches("s?all.*", "Small.Brf"));
    EXPECT_TRUE(DirectoryListing::matches("song[1].brl", "song[1].brl"));
    EXPECT_FALSE(DirectoryListing::matches("song[1].brl", "song1.brl"));
    EXPECT_TRUE(DirectoryListing::matches("?.mid", "\xC3\xA9.mid"));  // one UTF-8 character
    EXPECT_TRUE(DirectoryListing::matches("*a*b*c", "xxaxxbxxbcc"));
    EXPECT_FALSE(DirectoryListing::matches("*a*b*c", "xxaxxcxxb"));
}

TEST(DirectoryListingSort, BrowserOrder) {
    TempDir dir;
    dir.write("b.mid", "");
    dir.write("a.mid", "");
    std::filesystem::create_directory(dir.root / "Zed");
    DirectoryListing listing;
    ASSERT_TRUE(listing.scan(dir.root.c_str(), "*.mid"));
    listing.sort();
    EXPECT_EQ(names(listing), (std::vector<std::string>{"..", "Zed", "a.mid", "b.mid"}));
}

TEST(DirectoryListingSort, DotSortsBeforeOtherBytesAndCaseMatters) {
    EXPECT_LT(DirectoryListing::compareNames("a.mid", "a1.mid"), 0);
    EXPECT_LT(DirectoryListing::compareNames("a.mid", "ab.mid"), 0);
    EXPECT_LT(DirectoryListing::compareNames("B.mid", "a.mid"), 0);
    EXPECT_LT(DirectoryListing::compareNames("a", "a.mid"), 0);      // a name that ends first
    EXPECT_GT(DirectoryListing::compareNames("a!", "a."), 0);        // '.' before '!' although '!' < '.'
    EXPECT_LT(DirectoryListing::compareNames("a\x7F", "a\xC3"), 0);  // unsigned bytes
    EXPECT_EQ(DirectoryListing::compareNames("same", "same"), 0);
}

TEST(ExecutablePathFolders, FolderOfPathKeepsTheLastSlash) {
    char folder[32];
    ASSERT_TRUE(folderOfPath("/opt/brellin/brellin", folder, sizeof folder));
    EXPECT_STREQ(folder, "/opt/brellin/");
    ASSERT_TRUE(folderOfPath("brellin", folder, sizeof folder));
    EXPECT_STREQ(folder, "/");
    EXPECT_FALSE(folderOfPath("/a/very/long/folder/name/that/does/not/fit/x", folder, sizeof folder));
    EXPECT_STREQ(folder, "");
}

TEST(ExecutablePathFolders, TheTestProgramLivesInTheTestsFolder) {
    char folder[4096];
    ASSERT_TRUE(executableFolder(folder, sizeof folder));
    std::string expected = std::filesystem::canonical(BRELLIN_BINARY_DIR "/tests").string() + "/";
    EXPECT_EQ(std::string(folder), expected);
}

TEST(ExecutablePathFolders, ConfigAndDataFoldersForAnInstalledCopy) {
    char folder[256];
    ASSERT_TRUE(configFolderFromEnvironment("/xdg/config", "/home/u", folder, sizeof folder));
    EXPECT_STREQ(folder, "/xdg/config/brellin/");
    ASSERT_TRUE(configFolderFromEnvironment("relative", "/home/u", folder, sizeof folder));
    EXPECT_STREQ(folder, "/home/u/.config/brellin/");
    ASSERT_TRUE(configFolderFromEnvironment(nullptr, "/home/u/", folder, sizeof folder));
    EXPECT_STREQ(folder, "/home/u/.config/brellin/");
    EXPECT_FALSE(configFolderFromEnvironment("", "", folder, sizeof folder));
    ASSERT_TRUE(installDataFolder("/usr/bin/", folder, sizeof folder));
    EXPECT_STREQ(folder, "/usr/share/brellin/");

    // A writable prefix/bin is an installation once prefix/share/brellin
    // exists (root may write /usr/bin); a plain writable folder is portable.
    brellin::testing::TempDir dir;
    std::filesystem::create_directories(dir.path("p/bin"));
    std::filesystem::create_directories(dir.path("build"));
    EXPECT_FALSE(isInstalledFolder((dir.path("p/bin") + "/").c_str()));
    EXPECT_FALSE(isInstalledFolder((dir.path("build") + "/").c_str()));
    std::filesystem::create_directories(dir.path("p/share/brellin"));
    EXPECT_TRUE(isInstalledFolder((dir.path("p/bin") + "/").c_str()));
    EXPECT_TRUE(isInstalledFolder(dir.path("p/bin").c_str()));
    EXPECT_FALSE(isInstalledFolder((dir.path("p/share") + "/").c_str()));
    EXPECT_FALSE(isInstalledFolder(""));
}

TEST(DirectoryListingScan, TheRootHasNoParentEntry) {
    DirectoryListing listing;
    ASSERT_TRUE(listing.scan("/", "*.no-such-extension"));
    for (std::uint32_t i = 0; i < listing.count(); ++i) {
        EXPECT_STRNE(listing.entry(i)->name, "..");
        EXPECT_STRNE(listing.entry(i)->name, ".");
        EXPECT_TRUE(listing.entry(i)->isFolder());
    }
    EXPECT_GT(listing.count(), 0u);
}
