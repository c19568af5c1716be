// CommandLine: the player's command line as one text and its tokens.
//
// A second start hands its whole command line to the running player as one
// text, so both ends read it the same way. The program's arguments are joined
// with single spaces, each argument that holds a space or a tab wrapped in
// double quotes (joinArguments). The tokenizer then splits that text: white
// space (space, tab, line feed, vertical tab, form feed, carriage return)
// separates tokens; a token that begins with a double quote runs to the next
// double quote (the quotes are not part of it) or to the end of the text; any
// other token runs to the next space (only 0x20 ends it, a tab does not) or
// to the end. A fetched token is cut to 259 bytes, the size of a path field.
//
// Plain functions on byte strings; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brellin {

// The tag of a handed-over command line, in the record a second start sends
// and in the WM_COPYDATA record the window receives: 'B' 'R' 'L' 'N', the
// first character in the most significant byte.
constexpr std::uint32_t HAND_OVER_TAG = 0x42524C4E;

// Room for one token with its terminating zero.
constexpr std::size_t COMMAND_TOKEN_SIZE = 260;

enum class CommandWord {
    None,
    Play,  // "play" or "iconplay"
    Stop,
    Previous,
    Next,
};

// argv[1..argc-1] joined as the player's command line.
std::string joinArguments(int argc, const char* const* argv);

// `name` as a path from the root: a relative name is put after `folder`;
// an empty or absolute name, or an empty folder, is returned as it is.
// Nothing is resolved or checked on disk.
std::string absoluteFileName(const std::string& name, const std::string& folder);
// The folder the process runs in; empty when it cannot be read.
std::string currentFolder();

// The number of tokens in `text` (null: none).
int countTokens(const char* text);
// Copies token `index` (from 0) into `out` (COMMAND_TOKEN_SIZE bytes), cut
// to 259 bytes. False, with `out` empty, when there is no such token.
bool fetchToken(const char* text, int index, char* out);

// ASCII letters compared without regard to case.
bool equalsIgnoringCase(const char* a, const char* b);
// The remote-control word a token names, without regard to case.
CommandWord classifyCommandWord(const char* token);

}  // namespace brellin
