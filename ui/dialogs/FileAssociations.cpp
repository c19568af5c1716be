#include "ui/dialogs/FileAssociations.h"

#include "ui/dialogs/MimePackageText.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brellin {

namespace {

// A well-formed UTF-8 text (no overlong forms, no surrogates, at most U+10FFFF).
bool isUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length;
        std::uint32_t code;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto trail = static_cast<unsigned char>(text[i + k]);
            if ((trail & 0xC0) != 0x80) return false;
            code = (code << 6) | (trail & 0x3Fu);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
            return false;
        }
        i += length;
    }
    return true;
}

bool hasControlCharacter(const std::string& text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return true;
    }
    return false;
}

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// mkdir -p; new folders are the user's alone, as XDG asks of its base folders.
bool makeFolders(const std::string& folder) {
    std::string path;
    std::size_t start = 0;
    while (start <= folder.size()) {
        std::size_t slash = folder.find('/', start);
        if (slash == std::string::npos) slash = folder.size();
        path = folder.substr(0, slash);
        if (!path.empty() && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
        start = slash + 1;
    }
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Reads a whole file; a file that does not exist reads as empty. False when
// it exists but cannot be read (then it must not be replaced).
bool readWholeFile(const std::string& path, std::string& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > (1 << 24)) {
        ::close(fd);
        return false;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

// Writes `text` under a temporary name in the file's folder, then renames it
// over the file: readers see the old file or the new one, never a part.
bool replaceFile(const std::string& path, const std::string& text) {
    const std::size_t slash = path.rfind('/');
    std::string pattern = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + ".brellin-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0644) == 0;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(name.data(), path.c_str()) == 0;
    if (!ok) ::unlink(name.data());
    return ok;
}

std::string findInPath(const char* tool) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr && path[0] != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t colon = folders.find(':', start);
        if (colon == std::string::npos) colon = folders.size();
        const std::string folder = folders.substr(start, colon - start);
        if (!folder.empty() && folder[0] == '/') {
            const std::string candidate = folder + "/" + tool;
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        start = colon + 1;
    }
    return std::string();
}

std::string homeFolder(const char* home) {
    if (home != nullptr && home[0] == '/') return home;
    if (const passwd* user = ::getpwuid(::getuid());
        user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
        return user->pw_dir;
    }
    return std::string();
}

// "a;b;" into its non-empty items.
std::vector<std::string> splitList(const std::string& value) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t semicolon = value.find(';', start);
        if (semicolon == std::string::npos) semicolon = value.size();
        std::string item = trim(value.substr(start, semicolon - start));
        if (!item.empty()) items.push_back(item);
        start = semicolon + 1;
    }
    return items;
}

bool isSectionHeader(const std::string& line) {
    const std::string text = trim(line);
    return !text.empty() && text.front() == '[';
}

// Makes `entry` the first of each type's list in `section`, keeping the
// other lines and the type's other programs after it.
void mergeSection(std::vector<std::string>& lines, const std::string& section, const std::vector<std::string>& types,
                  const std::string& entry) {
    const std::string header = "[" + section + "]";
    std::size_t begin = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (trim(lines[i]) == header) {
            begin = i;
            break;
        }
    }
    if (begin == lines.size()) {
        if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
        lines.push_back(header);
        begin = lines.size() - 1;
    }
    for (const std::string& type : types) {
        std::size_t end = begin + 1;
        while (end < lines.size() && !isSectionHeader(lines[end])) ++end;
        std::size_t found = end;
        std::string value;
        for (std::size_t i = begin + 1; i < end;) {
            const std::size_t equals = lines[i].find('=');
            if (equals != std::string::npos && trim(lines[i].substr(0, equals)) == type) {
                if (found == end) {
                    found = i;
                    value = lines[i].substr(equals + 1);
                    ++i;
                } else {
                    // A later line of the same type would override ours.
                    value += ";" + lines[i].substr(equals + 1);
                    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
                    --end;
                }
            } else {
                ++i;
            }
        }
        std::string merged = type + "=" + entry + ";";
        for (const std::string& item : splitList(value)) {
            if (item != entry && merged.find(";" + item + ";") == std::string::npos) merged += item + ";";
        }
        if (found != end) {
            lines[found] = merged;
        } else {
            std::size_t at = end;
            while (at > begin + 1 && trim(lines[at - 1]).empty()) --at;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), merged);
        }
    }
}

}  // namespace

bool FileAssociations::quoteExecArgument(const std::string& path, std::string& out) {
    out.clear();
    if (path.empty() || !isUtf8(path) || hasControlCharacter(path)) return false;
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '%') {
            quoted += "%%";
        } else {
            quoted += c;
        }
    }
    quoted += '"';
    // The key's own string escapes are undone before the quoting is read.
    for (char c : quoted) {
        if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return true;
}

std::string FileAssociations::desktopEntryText(const std::string& quotedProgram, const char* modeSuffix,
                                               const std::string& icon) {
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Version=1.0\n"
        "Name=Brellin\n"
        "GenericName=MIDI Player\n"
        "Comment=Plays MIDI files and Brellin play lists\n";
    text += "Exec=" + quotedProgram + " %f" + (modeSuffix ? modeSuffix : "") + "\n";
    if (!icon.empty()) {
        text += "Icon=";
        for (char c : icon) text += c == '\\' ? std::string("\\\\") : std::string(1, c);
        text += "\n";
    }
    text +=
        "Terminal=false\n"
        "Categories=AudioVideo;Audio;Player;\n"
        "MimeType=audio/midi;audio/x-midi;application/x-brellin-playlist;\n";
    return text;
}

std::string FileAssociations::mimePackageText() {
    // assets/install/brellin-mime.xml, the file an installation puts into
    // share/mime/packages/brellin.xml, built into the program.
    return MIME_PACKAGE_TEXT;
}

std::string FileAssociations::mergeMimeApps(const std::string& existing, const std::vector<std::string>& types,
                                            const std::string& desktopEntry) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < existing.size()) {
        std::size_t end = existing.find('\n', start);
        if (end == std::string::npos) end = existing.size();
        lines.push_back(existing.substr(start, end - start));
        start = end + 1;
    }
    mergeSection(lines, "Default Applications", types, desktopEntry);
    mergeSection(lines, "Added Associations", types, desktopEntry);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

bool FileAssociations::foldersFromEnvironment(const char* xdgDataHome, const char* xdgConfigHome, const char* home,
                                              std::string& data, std::string& config) {
    const std::string homePath = homeFolder(home);
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/')
        data = xdgDataHome;
    else if (!homePath.empty())
        data = homePath + "/.local/share";
    else
        data.clear();
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
        config = xdgConfigHome;
    else if (!homePath.empty())
        config = homePath + "/.config";
    else
        config.clear();
    return !data.empty() && !config.empty();
}

bool FileAssociations::fail(const std::string& step) {
    failedStep = step;
    return false;
}

bool FileAssociations::runTool(const char* tool, const std::string& folder) {
    const std::string program = findInPath(tool);
    if (program.empty()) return true;  // not installed: the desktop reads the files itself
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return fail(tool);
    // Their chatter (notes about search paths) means nothing to the user.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string argument0 = program, argument1 = folder;
    char* arguments[] = {argument0.data(), argument1.data(), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return fail(tool);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(toolTimeoutMs);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return fail(tool);
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return fail(std::string(tool) + " (timed out)");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return fail(tool);
    return true;
}

LinkResult FileAssociations::write(const LinkTypes& types, const char* modeSuffix) {
    failedStep.clear();
    std::string program = programPath;
    if (program.empty()) {
        char path[4096];
        const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
        if (length <= 0) return LinkResult::NoProgramPath;
        program.assign(path, static_cast<std::size_t>(length));
    }
    std::string quoted;
    if (!quoteExecArgument(program, quoted)) return LinkResult::NoProgramPath;
    if (!types.any()) return LinkResult::Written;

    std::string data = dataHome, config = configHome;
    if (data.empty() || config.empty()) {
        std::string envData, envConfig;
        foldersFromEnvironment(std::getenv("XDG_DATA_HOME"), std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"),
                               envData, envConfig);
        if (data.empty()) data = envData;
        if (config.empty()) config = envConfig;
    }
    if (data.empty() || config.empty()) {
        fail("no home folder");
        return LinkResult::Failed;
    }

    std::string icon = iconPath;
    if (icon.empty()) icon = program.substr(0, program.rfind('/') + 1) + "brellin-64.png";
    if (::access(icon.c_str(), R_OK) != 0 || !isUtf8(icon) || hasControlCharacter(icon)) icon.clear();

    const std::string applications = data + "/applications";
    const std::string packages = data + "/mime/packages";
    std::vector<std::string> mimeTypes;
    if (types.mid || types.midi || types.rmi) mimeTypes.push_back(MIDI_MIME_TYPE);
    if (types.brl) mimeTypes.push_back(PLAYLIST_MIME_TYPE);

    const std::string entryPath = applications + "/" + DESKTOP_ENTRY_NAME;
    const std::string packagePath = packages + "/brellin.xml";
    const std::string listPath = config + "/mimeapps.list";
    std::string list;
    const bool ok = (makeFolders(applications) || fail(applications)) &&
                    (replaceFile(entryPath, desktopEntryText(quoted, modeSuffix, icon)) || fail(entryPath)) &&
                    (makeFolders(packages) || fail(packages)) &&
                    (replaceFile(packagePath, mimePackageText()) || fail(packagePath)) &&
                    (makeFolders(config) || fail(config)) && (readWholeFile(listPath, list) || fail(listPath)) &&
                    (replaceFile(listPath, mergeMimeApps(list, mimeTypes, DESKTOP_ENTRY_NAME)) || fail(listPath)) &&
                    (!runTools || runTool("update-mime-database", data + "/mime")) &&
                    (!runTools || runTool("update-desktop-database", applications));
    return ok ? LinkResult::Written : LinkResult::Failed;
}

}  // namespace brellin
