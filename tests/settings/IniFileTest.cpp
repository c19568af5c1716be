#include "settings/IniFile.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/TempDir.h"

using namespace brellin;
using brellin::testing::TempDir;

namespace {

// Loads the text through a real file and checks that the in-memory reader
// gives the same entries.
std::string loadBoth(IniFile& ini, const std::string& text) {
    TempDir dir;
    std::string path = dir.write("t.ini", text);
    EXPECT_TRUE(ini.load(path.c_str()));
    IniFile fromMemory;
    EXPECT_TRUE(fromMemory.loadText(text.data(), text.size()));
    std::string described;
    for (std::uint32_t i = 0; i < ini.count(); ++i) {
        const IniEntry* e = ini.entry(i);
        described += std::string("[") + e->section + "]" + e->key + "=" + e->value + "|";
    }
    std::string fromMemoryDescribed;
    for (std::uint32_t i = 0; i < fromMemory.count(); ++i) {
        const IniEntry* e = fromMemory.entry(i);
        fromMemoryDescribed += std::string("[") + e->section + "]" + e->key + "=" + e->value + "|";
    }
    EXPECT_EQ(described, fromMemoryDescribed);
    return described;
}

}  // namespace

TEST(IniFileGrammar, KeysWithAndWithoutEquals) {
    IniFile ini;
    EXPECT_EQ(loadBoth(ini, "[S]\nName value\nName-x=1\n=v\nBare\nKey = Value  \n"),
              "[S]Name=value|[S]Name=-x=1|[S]=v|[S]Bare=|[S]Key=Value  |");
}

TEST(IniFileGrammar, CommentsBlankLinesAndNoTrailingComments) {
    IniFile ini;
    EXPECT_EQ(loadBoth(ini, "  ; comment\n\n   \t\nkey=value ; note\n"), "[NoName]key=value ; note|");
}

TEST(IniFileGrammar, SectionNames) {
    IniFile ini;
    EXPECT_EQ(loadBoth(ini, "[Sound Setting]\na=1\n[Sound\nb=2\n[]\nc=3\n[X] trailing\nd=4\n  [Indented]\ne=5\n"),
              "[Sound Setting]a=1|[Sound]b=2|[]c=3|[X]d=4|[Indented]e=5|");
    // A non-printable character ends the name.
    EXPECT_EQ(loadBoth(ini, "[Ab\tcd]\nk=v\n"), "[Ab]k=v|");
}

TEST(IniFileGrammar, CarriageReturnsAndTheLastLine) {
    IniFile crlf;
    EXPECT_EQ(loadBoth(crlf, "[S]\r\nA=1\r\nB=2"), "[S]A=1|[S]B=2|");
    IniFile empty;
    EXPECT_EQ(loadBoth(empty, ""), "");
    EXPECT_EQ(empty.count(), 0u);
}

TEST(IniFileGrammar, LongNamesAndValuesAreCut) {
    std::string key(150, 'K');
    std::string value(200, 'v');
    std::string section(200, 's');
    IniFile ini;
    loadBoth(ini, "[" + section + "]\n" + key + "=" + value.substr(0, 100) + "\n");
    ASSERT_EQ(ini.count(), 1u);
    EXPECT_EQ(std::string(ini.entry(0)->section), section.substr(0, 127));
    // The whole run of key characters is taken; the value is what follows "=".
    EXPECT_EQ(std::string(ini.entry(0)->key), key.substr(0, 127));
    EXPECT_EQ(std::string(ini.entry(0)->value), value.substr(0, 100));
    IniFile longValue;
    loadBoth(longValue, "k=" + value + "\n");
    EXPECT_EQ(std::string(longValue.entry(0)->value), value.substr(0, 127));
}

TEST(IniFileGrammar, A256ByteLineWithoutLineFeedIsTheLastLine) {
    // 250 bytes of value; the line passes 256 bytes without a line feed.
    std::string text = "k=" + std::string(300, 'x') + "\nafter=1\n";
    IniFile ini;
    EXPECT_EQ(loadBoth(ini, text), "[NoName]k=" + std::string(127, 'x') + "|");
    // A line of 255 bytes and its line feed is an ordinary line.
    IniFile fits;
    EXPECT_EQ(loadBoth(fits, "k=" + std::string(253, 'x') + "\nafter=1\n"),
              "[NoName]k=" + std::string(127, 'x') + "|[NoName]after=1|");
}

TEST(IniFileLookup, FirstDuplicateWinsAndNamesAreCaseSensitive) {
    IniFile ini;
    loadBoth(ini, "[PlaySetting]\nA=1\nA=2\nPlayMode=3\n");
    EXPECT_EQ(ini.getInt("PlaySetting", "A", 9), 1);
    EXPECT_EQ(ini.getInt("PlaySetting", "playmode", 7), 7);
    EXPECT_EQ(ini.getInt("playsetting", "PlayMode", 7), 7);
    EXPECT_EQ(ini.getInt("PlaySetting", "PlayMode", 7), 3);
}

TEST(IniFileLookup, IntegerReading) {
    IniFile ini;
    loadBoth(ini, "a=abc\nb=12abc\nc=-5\nd=  +42\ne=99999999999\nf=-99999999999\ng=\n");
    EXPECT_EQ(ini.getInt("NoName", "a", 8), 0);
    EXPECT_EQ(ini.getInt("NoName", "b", 8), 12);
    EXPECT_EQ(ini.getInt("NoName", "c", 8), -5);
    EXPECT_EQ(ini.getInt("NoName", "d", 8), 42);
    EXPECT_EQ(ini.getInt("NoName", "e", 8), 2147483647);
    EXPECT_EQ(ini.getInt("NoName", "f", 8), -2147483647 - 1);
    EXPECT_EQ(ini.getInt("NoName", "g", 8), 0);
    EXPECT_EQ(ini.getInt("NoName", "missing", 8), 8);
}

TEST(IniFileLookup, StringDefaultIsTheGivenPointer) {
    IniFile ini;
    const char* fallback = "fallback";
    EXPECT_EQ(ini.getString("S", "k", fallback), fallback);
    ini.setString("S", "k", "v");
    EXPECT_STREQ(ini.getString("S", "k", fallback), "v");
    std::string tooLong(128, 'k');
    EXPECT_EQ(ini.getString("S", tooLong.c_str(), fallback), fallback);
}

TEST(IniFileSet, ReplacesTheFirstOrAppendsAndCutsAt127) {
    IniFile ini;
    loadBoth(ini, "[S]\nA=1\nA=2\n");
    EXPECT_TRUE(ini.setInt("S", "A", -7));
    EXPECT_EQ(ini.count(), 2u);
    EXPECT_STREQ(ini.entry(0)->value, "-7");
    EXPECT_STREQ(ini.entry(1)->value, "2");
    EXPECT_TRUE(ini.setString("S", "Long", std::string(200, 'z').c_str()));
    EXPECT_EQ(std::string(ini.getString("S", "Long", "")), std::string(127, 'z'));
}

TEST(IniFileLoad, MissingFileKeepsTheEntries) {
    TempDir dir;
    IniFile ini;
    ini.setInt("S", "k", 1);
    EXPECT_FALSE(ini.load(dir.path("missing.cfg").c_str()));
    EXPECT_EQ(ini.lastError, RESULT_CANNOT_OPEN_FILE);
    EXPECT_EQ(ini.getInt("S", "k", 0), 1);
    EXPECT_FALSE(ini.load(dir.root.c_str()));  // a folder is not a file
}

TEST(IniFileSave, SortedStableWithOneHeaderPerSection) {
    TempDir dir;
    IniFile ini;
    ini.setInt("PlaySetting", "Volume", 100);
    ini.setString("File", "A", "x");
    ini.setInt("PlaySetting", "DisplayMode", 1);
    ASSERT_TRUE(ini.save(dir.path("out.ini").c_str()));
    EXPECT_EQ(dir.read("out.ini"), "[File]\nA=x\n[PlaySetting]\nDisplayMode=1\nVolume=100\n");
}

TEST(IniFileSave, DuplicatesKeepTheirOrderAndCodeOrderDecides) {
    TempDir dir;
    IniFile ini;
    loadBoth(ini, "[S]\nb=1\nA=1\nA=2\n_x=0\n[]\nfirst=1\n");
    ASSERT_TRUE(ini.save(dir.path("out.ini").c_str()));
    // Empty section first without a header; upper case before "_" before lower case.
    EXPECT_EQ(dir.read("out.ini"), "first=1\n[S]\nA=1\nA=2\n_x=0\nb=1\n");
    // The list itself is left sorted.
    EXPECT_STREQ(ini.entry(0)->key, "first");
}

TEST(IniFileSave, BytesAboveAsciiSortAsSignedCharacters) {
    TempDir dir;
    IniFile ini;
    ini.setInt("S", "b", 1);
    ini.setInt("S", "\xC3\xA9", 2);  // a UTF-8 key: its first byte is negative as a signed char
    ASSERT_TRUE(ini.save(dir.path("out.ini").c_str()));
    EXPECT_EQ(dir.read("out.ini"), "[S]\n\xC3\xA9=2\nb=1\n");
}

TEST(IniFileSave, FileThatCannotBeCreatedFails) {
    TempDir dir;
    IniFile ini;
    ini.setInt("S", "k", 1);
    EXPECT_FALSE(ini.save(dir.root.c_str()));
    EXPECT_EQ(ini.lastError, RESULT_CANNOT_OPEN_FILE);
    EXPECT_EQ(ini.getInt("S", "k", 0), 1);
}

TEST(IniFileSave, WrittenFileReadsBackTheSame) {
    TempDir dir;
    IniFile ini;
    loadBoth(ini, "[B]\nz=last\ny = spaced  \n[A]\nk=v\n");
    ASSERT_TRUE(ini.save(dir.path("out.ini").c_str()));
    IniFile again;
    ASSERT_TRUE(again.load(dir.path("out.ini").c_str()));
    EXPECT_STREQ(again.getString("B", "y", ""), "spaced  ");
    EXPECT_STREQ(again.getString("A", "k", ""), "v");
    EXPECT_EQ(again.count(), 3u);
}
