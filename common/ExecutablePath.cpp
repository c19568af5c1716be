#include "common/ExecutablePath.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace brellin {

namespace {

bool put(const std::string& text, char* out, std::size_t size) {
    if (size == 0) return false;
    if (text.size() + 1 > size) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

bool folderWritable(const char* folder) { return ::access(folder, W_OK) == 0; }

// mkdir -p for a folder ending in "/".
bool makeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
        std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

bool folderOfPath(const char* path, char* out, std::size_t size) {
    std::string text = path ? path : "";
    std::size_t slash = text.rfind('/');
    return put(slash == std::string::npos ? std::string("/") : text.substr(0, slash + 1), out, size);
}

bool executableFolder(char* out, std::size_t size) {
    char path[4096];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        if (size > 0) out[0] = '\0';
        return false;
    }
    path[length] = '\0';
    return folderOfPath(path, out, size);
}

bool configFolderFromEnvironment(const char* xdgConfigHome, const char* home, char* out, std::size_t size) {
    std::string folder;
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        folder = xdgConfigHome;
    } else if (home != nullptr && home[0] != '\0') {
        folder = home;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        folder += "/.config";
    } else {
        if (size > 0) out[0] = '\0';
        return false;
    }
    if (folder.back() != '/') folder += '/';
    folder += "brellin/";
    return put(folder, out, size);
}

bool installDataFolder(const char* programFolder, char* out, std::size_t size) {
    std::string folder = programFolder ? programFolder : "";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::size_t slash = folder.rfind('/');
    std::string prefix = slash == std::string::npos ? std::string() : folder.substr(0, slash);
    return put(prefix + "/share/brellin/", out, size);
}

bool isInstalledFolder(const char* programFolder) {
    if (programFolder == nullptr || programFolder[0] == '\0') return false;
    if (!folderWritable(programFolder)) return true;
    // Writable, yet laid out as an installation: root runs /usr/bin/brellin
    // (access() grants root everything), or a prefix in the user's home.
    std::string folder = programFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.size() < 4 || folder.compare(folder.size() - 4, 4, "/bin") != 0) return false;
    char data[4096];
    struct stat info {};
    return installDataFolder(programFolder, data, sizeof data) && ::stat(data, &info) == 0 && S_ISDIR(info.st_mode);
}

bool settingsFolder(char* out, std::size_t size, bool create) {
    char folder[4096];
    if (!executableFolder(folder, sizeof folder)) {
        if (size > 0) out[0] = '\0';
        return false;
    }
    if (!isInstalledFolder(folder)) return put(folder, out, size);
    if (!configFolderFromEnvironment(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), out, size)) return false;
    if (create) makeFolders(out);
    return true;
}

bool dataFolder(char* out, std::size_t size) {
    char folder[4096];
    if (!executableFolder(folder, sizeof folder)) {
        if (size > 0) out[0] = '\0';
        return false;
    }
    if (!isInstalledFolder(folder)) return put(folder, out, size);
    return installDataFolder(folder, out, size);
}

}  // namespace brellin
