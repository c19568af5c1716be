// Feeds arbitrary bytes to the INI reader, checks the field limits of every
// entry, and checks that a save read back gives the same sections and keys.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "settings/IniFile.h"

namespace {

std::string temporaryPath() {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder && folder[0] ? folder : "/tmp") + "/brellin-ini-fuzz-" + std::to_string(::getpid());
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    brellin::IniFile ini;
    check(ini.loadText(data, size));
    for (std::uint32_t i = 0; i < ini.count(); ++i) {
        const brellin::IniEntry* entry = ini.entry(i);
        check(std::strlen(entry->section) < brellin::INI_TEXT_SIZE);
        check(std::strlen(entry->key) < brellin::INI_TEXT_SIZE);
        check(std::strlen(entry->value) < brellin::INI_TEXT_SIZE);
        check(std::strchr(entry->value, '\r') == nullptr && std::strchr(entry->value, '\n') == nullptr);
        ini.getInt(entry->section, entry->key, 0);
    }
    ini.setString("SoundSetting", "SoundFontName", "x.brf");

    if (size > 2048) return 0;
    // What the writer wrote, the reader reads back: same count, same
    // sections (the empty one reads as "NoName") and keys in the same order.
    std::string path = temporaryPath();
    if (ini.save(path.c_str())) {
        brellin::IniFile again;
        check(again.load(path.c_str()));
        check(again.count() == ini.count());
        for (std::uint32_t i = 0; i < ini.count(); ++i) {
            const brellin::IniEntry* written = ini.entry(i);
            const brellin::IniEntry* read = again.entry(i);
            const char* section = written->section[0] ? written->section : "NoName";
            check(std::strcmp(read->section, section) == 0);
            check(std::strcmp(read->key, written->key) == 0);
        }
    }
    ::unlink(path.c_str());
    return 0;
}
