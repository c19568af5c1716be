#include "ui/model/CommandLine.h"

#include <cstring>

#include <unistd.h>

namespace brellin {

namespace {

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Walks the tokens of `text`: calls `visit(begin, length)` for each until it
// returns false. Returns the number of tokens visited.
template <class Visit>
int walkTokens(const char* text, Visit visit) {
    int count = 0;
    if (text == nullptr) return 0;
    const char* p = text;
    for (;;) {
        while (*p != '\0' && isSeparator(*p)) ++p;
        if (*p == '\0') return count;
        const char* begin;
        const char* end;
        if (*p == '"') {
            begin = p + 1;
            end = begin;
            while (*end != '\0' && *end != '"') ++end;
            p = *end == '"' ? end + 1 : end;
        } else {
            begin = p;
            end = p;
            while (*end != '\0' && *end != ' ') ++end;
            p = end;
        }
        ++count;
        if (!visit(begin, static_cast<std::size_t>(end - begin))) return count;
    }
}

}  // namespace

std::string joinArguments(int argc, const char* const* argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) continue;
        if (i > 1) line += ' ';
        const bool quote = std::strpbrk(argv[i], " \t") != nullptr;
        if (quote) line += '"';
        line += argv[i];
        if (quote) line += '"';
    }
    return line;
}

std::string absoluteFileName(const std::string& name, const std::string& folder) {
    if (name.empty() || name[0] == '/' || folder.empty()) return name;
    std::string path = folder;
    if (path.back() != '/') path += '/';
    // "./song.mid" names the file in the folder itself.
    path.append(name, name.compare(0, 2, "./") == 0 ? 2 : 0, std::string::npos);
    return path;
}

std::string currentFolder() {
    char folder[4096];
    return ::getcwd(folder, sizeof folder) != nullptr ? std::string(folder) : std::string();
}

int countTokens(const char* text) {
    return walkTokens(text, [](const char*, std::size_t) { return true; });
}

bool fetchToken(const char* text, int index, char* out) {
    out[0] = '\0';
    if (index < 0) return false;
    int seen = 0;
    bool found = false;
    walkTokens(text, [&](const char* begin, std::size_t length) {
        if (seen++ < index) return true;
        if (length > COMMAND_TOKEN_SIZE - 1) length = COMMAND_TOKEN_SIZE - 1;
        std::memcpy(out, begin, length);
        out[length] = '\0';
        found = true;
        return false;
    });
    return found;
}

bool equalsIgnoringCase(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return false;
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (lower(*a) != lower(*b)) return false;
    }
    return *a == *b;
}

CommandWord classifyCommandWord(const char* token) {
    if (equalsIgnoringCase(token, "play") || equalsIgnoringCase(token, "iconplay")) return CommandWord::Play;
    if (equalsIgnoringCase(token, "stop")) return CommandWord::Stop;
    if (equalsIgnoringCase(token, "prev")) return CommandWord::Previous;
    if (equalsIgnoringCase(token, "next")) return CommandWord::Next;
    return CommandWord::None;
}

}  // namespace brellin
