#include "ui/mpris/SessionBusAddress.h"

#include <sys/stat.h>

#include <cstdlib>

namespace brellin {

std::string sessionBusAddress(bool* fromEnvironment) {
    if (fromEnvironment != nullptr) *fromEnvironment = false;
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && address[0] != '\0') {
        if (fromEnvironment != nullptr) *fromEnvironment = true;
        return address;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') return {};
    const std::string socketPath = std::string(runtime) + "/bus";
    struct stat info {};
    if (::stat(socketPath.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return {};
    // D-Bus addresses escape every byte outside [-0-9A-Za-z_/.\*] as %XX.
    std::string escaped;
    static const char hex[] = "0123456789abcdef";
    for (const char ch : socketPath) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                           c == '_' || c == '/' || c == '.' || c == '\\' || c == '*';
        if (plain) {
            escaped += ch;
        } else {
            escaped += '%';
            escaped += hex[c >> 4];
            escaped += hex[c & 15];
        }
    }
    return "unix:path=" + escaped;
}

}  // namespace brellin
