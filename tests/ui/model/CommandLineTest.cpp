// The command line as both instances read it: the joined argv and the tokenizer.
#include <gtest/gtest.h>

#include <string>

#include "ui/model/CommandLine.h"

namespace brellin {
namespace {

std::string token(const std::string& text, int index) {
    char out[COMMAND_TOKEN_SIZE];
    fetchToken(text.c_str(), index, out);
    return out;
}

TEST(CommandLineTokens, SeparatorsQuotesAndOnlyTheSpaceEndingAPlainToken) {
    EXPECT_EQ(countTokens(nullptr), 0);
    EXPECT_EQ(countTokens(" \t\r\n\v\f"), 0);

    const std::string quoted = "\t \"/my songs/a b.mid\"  play\r\n";
    EXPECT_EQ(countTokens(quoted.c_str()), 2);
    EXPECT_EQ(token(quoted, 0), "/my songs/a b.mid");
    EXPECT_EQ(token(quoted, 1), "play\r\n") << "only 0x20 ends a plain token";

    // A tab inside a plain token belongs to it; a tab before a token separates.
    const std::string tabs = "a\tb c";
    EXPECT_EQ(countTokens(tabs.c_str()), 2);
    EXPECT_EQ(token(tabs, 0), "a\tb");

    // An unterminated quote runs to the end; a closing quote ends the token
    // even with text right after it; empty quotes are an empty token.
    EXPECT_EQ(token("\"open end", 0), "open end");
    EXPECT_EQ(countTokens("\"ab\"cd"), 2);
    EXPECT_EQ(token("\"ab\"cd", 1), "cd");
    EXPECT_EQ(countTokens("\"\" play"), 2);
    EXPECT_EQ(token("\"\" play", 0), "");

    char out[COMMAND_TOKEN_SIZE] = "stale";
    EXPECT_FALSE(fetchToken("one two", 2, out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(fetchToken("one", -1, out));
}

TEST(CommandLineTokens, TokensAreCutTo259BytesWithoutLosingTheNext) {
    const std::string longPlain(300, 'a');
    const std::string longQuoted = "\"" + std::string(400, 'b') + " \" next";
    EXPECT_EQ(token(longPlain, 0), std::string(259, 'a'));
    EXPECT_EQ(token(longQuoted, 0), std::string(259, 'b'));
    EXPECT_EQ(token(longQuoted, 1), "next");
    EXPECT_EQ(token(std::string(259, 'c'), 0).size(), 259u);
}

TEST(CommandLineJoin, ArgumentsWithBlanksAreQuotedAndReadBackUnchanged) {
    const char* argv[] = {"brellin", "/music/my song.mid", "PLAY", "tab\there"};
    const std::string line = joinArguments(4, argv);
    EXPECT_EQ(line, "\"/music/my song.mid\" PLAY \"tab\there\"");
    ASSERT_EQ(countTokens(line.c_str()), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(token(line, i), argv[i + 1]);
    EXPECT_EQ(joinArguments(1, argv), "");
}

TEST(CommandLineWords, CommandWordsInAnyCase) {
    EXPECT_EQ(classifyCommandWord("PlAy"), CommandWord::Play);
    EXPECT_EQ(classifyCommandWord("ICONPLAY"), CommandWord::Play);
    EXPECT_EQ(classifyCommandWord("Stop"), CommandWord::Stop);
    EXPECT_EQ(classifyCommandWord("PREV"), CommandWord::Previous);
    EXPECT_EQ(classifyCommandWord("next"), CommandWord::Next);
    EXPECT_EQ(classifyCommandWord("nexts"), CommandWord::None);
    EXPECT_EQ(classifyCommandWord("pla"), CommandWord::None);
    EXPECT_EQ(classifyCommandWord(""), CommandWord::None);
    EXPECT_EQ(classifyCommandWord("/music/next"), CommandWord::None);
}

// A second start hands its file to a player running in another folder.
TEST(CommandLineFiles, RelativeNamesGetTheStartFolderAndOthersStayAsTheyAre) {
    EXPECT_EQ(absoluteFileName("song.mid", "/home/u/music"), "/home/u/music/song.mid");
    EXPECT_EQ(absoluteFileName("./a b.mid", "/home/u/"), "/home/u/a b.mid");
    EXPECT_EQ(absoluteFileName("../x/song.mid", "/m"), "/m/../x/song.mid");
    EXPECT_EQ(absoluteFileName("/srv/song.mid", "/home/u"), "/srv/song.mid");
    EXPECT_EQ(absoluteFileName("song.mid", ""), "song.mid");
    EXPECT_EQ(absoluteFileName("", "/home/u"), "");
}

}  // namespace
}  // namespace brellin
