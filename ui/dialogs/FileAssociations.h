// FileAssociations: makes Brellin the program that opens MIDI files and its
// own play lists, the way the desktop finds it (XDG):
//
//   $XDG_DATA_HOME/applications/brellin.desktop   the program and its command
//                                                 line: "P" %f plus the mode word
//   $XDG_DATA_HOME/mime/packages/brellin.xml      application/x-brellin-playlist
//                                                 for *.brl, and *.rmi and *.kar as
//                                                 audio/midi
//   $XDG_CONFIG_HOME/mimeapps.list                brellin.desktop as the default
//                                                 for the chosen types
//
// then update-mime-database and update-desktop-database on those folders
// when they are installed. mimeapps.list is merged line by line (what other
// programs wrote there stays) and every file is written under a temporary
// name and renamed, so a failure never leaves half a file. The first step
// that fails ends the work; what was written before stays.
//
// Runs on the user-interface thread (the Configure dialog's "Set links to
// registory"); it waits for the two tools, each for at most toolTimeoutMs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace brellin {

// The texts the Configure dialog shows for the outcome.
constexpr const char* TEXT_LINKS_WRITTEN = "Registed to registory.";
constexpr const char* TEXT_LINKS_FAILED = "Cannot access to registory.";
constexpr const char* TEXT_NO_PROGRAM_PATH = "Cannot get pathname Brellin.exe.";

constexpr const char* PLAYLIST_MIME_TYPE = "application/x-brellin-playlist";
constexpr const char* MIDI_MIME_TYPE = "audio/midi";
constexpr const char* DESKTOP_ENTRY_NAME = "brellin.desktop";

// Which file types the user ticked.
struct LinkTypes {
    bool mid = false;
    bool midi = false;
    bool rmi = false;
    bool brl = false;

    bool any() const { return mid || midi || rmi || brl; }
};

enum class LinkResult {
    Written,        // everything written (or nothing was ticked)
    NoProgramPath,  // the program's path cannot be had or cannot be written into a command line
    Failed,         // a folder, a file or a tool failed; see failedStep
};

class FileAssociations {
public:
    // Empty fields are found when writing: the program's path from
    // /proc/self/exe; the folders from XDG_DATA_HOME / XDG_CONFIG_HOME, else
    // ~/.local/share and ~/.config of HOME (or the user's home folder).
    std::string programPath;
    std::string dataHome;
    std::string configHome;
    // The program's icon for the desktop entry; left out when the file does
    // not exist. Empty: brellin-64.png beside the program.
    std::string iconPath;
    // False: skip the two database tools (tests of the files alone).
    bool runTools = true;
    std::uint32_t toolTimeoutMs = 30000;

    // Writes the associations of `types` with the command-line word
    // `modeSuffix` ("", " play" or " iconplay").
    LinkResult write(const LinkTypes& types, const char* modeSuffix);

    // Where the last write stopped (a path or a tool), for diagnostics.
    std::string failedStep;

    // The program's path as one argument of a desktop entry's Exec key:
    // in double quotes with '"', '`', '$' and '\' escaped by a backslash and
    // '%' doubled, then the backslashes doubled once more for the key's
    // string escapes. False for a path that cannot stand in a desktop entry:
    // empty, not UTF-8, or holding a control character (a newline would end
    // the line and start a key of its own).
    static bool quoteExecArgument(const std::string& path, std::string& out);

    // The text of mimeapps.list after making `desktopEntry` the first choice
    // of each type in [Default Applications] and adding it to [Added
    // Associations]. Every other line stays as it was; the entry's other
    // programs of a type follow it.
    static std::string mergeMimeApps(const std::string& existing, const std::vector<std::string>& types,
                                     const std::string& desktopEntry);

    // The desktop entry's and the MIME package's text.
    static std::string desktopEntryText(const std::string& quotedProgram, const char* modeSuffix,
                                        const std::string& icon);
    static std::string mimePackageText();

    // The XDG folders from the environment's values (either may be null);
    // relative values are ignored as XDG says. False without any home.
    static bool foldersFromEnvironment(const char* xdgDataHome, const char* xdgConfigHome, const char* home,
                                       std::string& data, std::string& config);

private:
    bool fail(const std::string& step);
    bool runTool(const char* tool, const std::string& folder);
};

}  // namespace brellin
