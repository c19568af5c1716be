#include "settings/Settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/ExecutablePath.h"
#include "settings/IniFile.h"

namespace brellin {

const char* const FALLBACK_FORMAT_NOTICE = "Cannot change to your setting. Changed to 11K/8bit/mono/8ch.";

namespace {

constexpr const char* SOUND = "SoundSetting";
constexpr const char* PLAY = "PlaySetting";
constexpr const char* FILES = "File";
constexpr const char* SKIN = "SkinSetting";

// Defaults of the keys that have no obvious zero.
constexpr std::int32_t DEFAULT_MAX_CHANNELS = 32;
constexpr std::int32_t DEFAULT_REVERB_LEVEL = 4;
constexpr std::int32_t DEFAULT_VOLUME = 128;
constexpr const char* DEFAULT_SOUND_FONT = "small.brf";
constexpr const char* DEFAULT_SKIN = "Brellin.ini";
// The root folder: a start-up file that names no song.
constexpr const char* DEFAULT_LAST_PLAY = "/";

// Keys of pause, speed and key: P, [, ], - and = (Windows virtual-key codes).
constexpr std::int32_t DEFAULT_KEY_PAUSE = 80;
constexpr std::int32_t DEFAULT_KEY_SLOWER = 219;
constexpr std::int32_t DEFAULT_KEY_FASTER = 221;
constexpr std::int32_t DEFAULT_KEY_KEY_DOWN = 189;
constexpr std::int32_t DEFAULT_KEY_KEY_UP = 187;

// Sample rates of the three indexes of SampleRate.
constexpr std::int32_t RATES[3] = {11025, 22050, 44100};

// Copies at most size - 1 bytes and terminates.
void copyText(char* field, std::size_t size, const char* text) {
    if (size == 0) return;
    std::size_t length = std::strlen(text ? text : "");
    if (length > size - 1) length = size - 1;
    std::memcpy(field, text ? text : "", length);
    field[length] = '\0';
}

std::int32_t clamp(std::int32_t value, std::int32_t low, std::int32_t high) {
    return value < low ? low : value > high ? high : value;
}

// "RecentlyOpend0" … "RecentlyOpend4" (the key names are spelled so in the file).
void recentKey(char* key, std::size_t size, int k) { std::snprintf(key, size, "RecentlyOpend%d", k); }

bool pathInFolder(const char* fileName, bool create, std::string& path) {
    char folder[4096];
    if (!settingsFolder(folder, sizeof folder, create)) return false;
    path = std::string(folder) + (fileName ? fileName : "");
    return true;
}

// Best effort: makes a written file or a rename survive a crash of the system.
void syncPath(const char* path) {
    int handle = ::open(path, O_RDONLY | O_CLOEXEC);
    if (handle < 0) return;
    ::fsync(handle);
    ::close(handle);
}

// The file a save replaces: `path`, or where its symbolic links lead, so
// that a link kept in place of the settings file stays a link. A last link
// that leads nowhere names the file to create. False (errno ELOOP) for more
// links than the system itself follows.
bool fileBehindLinks(const char* path, std::string& target) {
    target = path;
    for (int links = 0; links < 40; ++links) {
        struct stat info;
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
        char next[4096];
        const ssize_t length = ::readlink(target.c_str(), next, sizeof next);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof next) {
            errno = length < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        std::string resolved(next, static_cast<std::size_t>(length));
        // A relative link is read from the folder the link is in.
        const std::size_t slash = target.rfind('/');
        if (resolved[0] != '/' && slash != std::string::npos) resolved = target.substr(0, slash + 1) + resolved;
        target = resolved;
    }
    errno = ELOOP;
    return false;
}

}  // namespace

Settings::Settings()
    : SampleRate(1),
      BitRate(0),
      fStereo(1),
      MaxChannels(DEFAULT_MAX_CHANNELS),
      InitializePositionId(0),
      InitializePositionX(0),
      InitializePositionY(0),
      SoundFontName(),
      fReverb(0),
      ReverbLevel(DEFAULT_REVERB_LEVEL),
      fLowPassFilter(0),
      fLiveMidiInput(1),
      Latency(DEFAULT_LATENCY),
      MidiOut(),
      fMidiOutGmReset(1),
      fShowVolume(1),
      LastPlayFileName(),
      LastPlayEntry(0),
      LastPlayPosition(-1),
      DisplayMode(0),
      PlayMode(0),
      TimerMode(0),
      fAlwaysOnTop(0),
      KeyCodeForPrevious(37),     // left arrow
      KeyCodeForPlay(13),         // Enter
      KeyCodeForNext(39),         // right arrow
      KeyCodeForFileOpen(38),     // up arrow
      KeyCodeForPlayList(40),     // down arrow
      KeyCodeForMenuPopup(27),    // Esc
      KeyCodeForDisplayOn(32),    // space
      KeyCodeForVolumeDown(188),  // comma key
      KeyCodeForVolumeUp(190),    // full-stop key
      TrayIconMode(0),
      Volume(DEFAULT_VOLUME),
      KeyCodeForPause(DEFAULT_KEY_PAUSE),
      KeyCodeForSlower(DEFAULT_KEY_SLOWER),
      KeyCodeForFaster(DEFAULT_KEY_FASTER),
      KeyCodeForKeyDown(DEFAULT_KEY_KEY_DOWN),
      KeyCodeForKeyUp(DEFAULT_KEY_KEY_UP),
      fResumeOnStart(1),
      SkinFileName() {
    copyText(SoundFontName, sizeof SoundFontName, DEFAULT_SOUND_FONT);
    copyText(LastPlayFileName, sizeof LastPlayFileName, DEFAULT_LAST_PLAY);
    copyText(SkinFileName, sizeof SkinFileName, DEFAULT_SKIN);
}

std::int32_t Settings::sampleRateHz() const { return RATES[clamp(SampleRate, 0, 2)]; }

void Settings::useFallbackFormat() {
    SampleRate = 0;
    BitRate = 0;
    fStereo = 0;
    MaxChannels = 8;
}

bool Settings::loadSettings(const char* fileName, char* startFile, std::size_t startFileSize, ScreenSize screen) {
    std::string path;
    if (!pathInFolder(fileName, false, path)) return false;
    loadSettingsFrom(path.c_str(), startFile, startFileSize, screen);
    return true;
}

void Settings::loadSettingsFrom(const char* path, char* startFile, std::size_t startFileSize, ScreenSize screen) {
    IniFile file;
    file.load(path);  // a missing or unreadable file leaves every key at its default

    MaxChannels = clamp(file.getInt(SOUND, "MaxChannels", DEFAULT_MAX_CHANNELS), 4, 32);
    std::int32_t rate = file.getInt(SOUND, "SampleRate", 22050);
    SampleRate = rate == 11025 ? 0 : rate == 44100 ? 2 : 1;
    BitRate = file.getInt(SOUND, "BitRate", 8) == 16 ? 1 : 0;
    fStereo = file.getInt(SOUND, "fStereo", 1) != 0 ? 1 : 0;
    settingsChanged = false;

    copyText(LastPlayFileName, sizeof LastPlayFileName, file.getString(SOUND, "LastPlayFileName", DEFAULT_LAST_PLAY));
    if (startFile != nullptr) copyText(startFile, startFileSize, LastPlayFileName);
    LastPlayEntry = std::max(file.getInt(SOUND, "LastPlayEntry", 0), 0);
    LastPlayPosition = std::max(file.getInt(SOUND, "LastPlayPosition", -1), -1);

    fShowVolume = file.getInt(SOUND, "fShowVolume", 1) == 1 ? 1 : 0;
    std::int32_t position = file.getInt(SOUND, "InitializePositionId", 0);
    InitializePositionId = position < 0 ? 0 : position >= 4 ? 3 : position;
    std::int32_t x = file.getInt(SOUND, "InitializePositionX", 0);
    InitializePositionX = x < 0 ? 0 : x >= screen.width ? std::max(screen.width - 1, 0) : x;
    std::int32_t y = file.getInt(SOUND, "InitializePositionY", 0);
    InitializePositionY = y < 0 ? 0 : y >= screen.height ? std::max(screen.height - 1, 0) : y;
    // The window may start hidden only where it also starts at its last place.
    TrayIconMode = InitializePositionId == 3 ? (file.getInt(PLAY, "TrayIconMode", 0) != 0 ? 1 : 0) : 0;
    fReverb = file.getInt(SOUND, "fReverb", 0) != 0 ? 1 : 0;
    ReverbLevel = clamp(file.getInt(SOUND, "ReverbLevel", DEFAULT_REVERB_LEVEL), 0, 6);
    fLowPassFilter = file.getInt(SOUND, "fLowPassFilter", 0) != 0 ? 1 : 0;
    fLiveMidiInput = file.getInt(SOUND, "fLiveMidiInput", 1) != 0 ? 1 : 0;
    Latency = clamp(file.getInt(SOUND, "Latency", DEFAULT_LATENCY), 0, MAX_LATENCY);
    copyText(MidiOut, sizeof MidiOut, file.getString(SOUND, "MidiOut", ""));
    fMidiOutGmReset = file.getInt(SOUND, "fMidiOutGmReset", 1) != 0 ? 1 : 0;
    copyText(SoundFontName, sizeof SoundFontName, file.getString(SOUND, "SoundFontName", DEFAULT_SOUND_FONT));

    DisplayMode = file.getInt(PLAY, "DisplayMode", 0) & 1;
    PlayMode = file.getInt(PLAY, "PlayMode", 0) & 3;
    TimerMode = file.getInt(PLAY, "TimerMode", 0) & 1;
    fAlwaysOnTop = file.getInt(PLAY, "fAlwaysOnTop", 0) != 0 ? 1 : 0;
    KeyCodeForPrevious = file.getInt(PLAY, "KeyCodeForPrevious", 37);
    KeyCodeForPlay = file.getInt(PLAY, "KeyCodeForPlay", 13);
    KeyCodeForNext = file.getInt(PLAY, "KeyCodeForNext", 39);
    KeyCodeForFileOpen = file.getInt(PLAY, "KeyCodeForFileOpen", 38);
    KeyCodeForPlayList = file.getInt(PLAY, "KeyCodeForPlayList", 40);
    KeyCodeForMenuPopup = file.getInt(PLAY, "KeyCodeForMenuPopup", 27);
    KeyCodeForDisplayOn = file.getInt(PLAY, "KeyCodeForDisplayOn", 32);
    KeyCodeForVolumeDown = file.getInt(PLAY, "KeyCodeForVolumeDown", 188);
    KeyCodeForVolumeUp = file.getInt(PLAY, "KeyCodeForVolumeUp", 190);
    Volume = clamp(file.getInt(PLAY, "Volume", DEFAULT_VOLUME), 0, 128);
    KeyCodeForPause = file.getInt(PLAY, "KeyCodeForPause", DEFAULT_KEY_PAUSE);
    KeyCodeForSlower = file.getInt(PLAY, "KeyCodeForSlower", DEFAULT_KEY_SLOWER);
    KeyCodeForFaster = file.getInt(PLAY, "KeyCodeForFaster", DEFAULT_KEY_FASTER);
    KeyCodeForKeyDown = file.getInt(PLAY, "KeyCodeForKeyDown", DEFAULT_KEY_KEY_DOWN);
    KeyCodeForKeyUp = file.getInt(PLAY, "KeyCodeForKeyUp", DEFAULT_KEY_KEY_UP);
    fResumeOnStart = file.getInt(PLAY, "fResumeOnStart", 1) != 0 ? 1 : 0;

    for (int k = 0; k < RECENT_COUNT; ++k) {
        char key[32];
        recentKey(key, sizeof key, k);
        recent[k].assign(file.getString(FILES, key, ""));
    }
    copyText(SkinFileName, sizeof SkinFileName, file.getString(SKIN, "SkinFileName", DEFAULT_SKIN));
}

bool Settings::saveSettings(const char* fileName, const char* lastPlayed) {
    saveError = 0;
    if (!settingsChanged && !playSettingsChanged && InitializePositionId != 3) return true;
    std::string path;
    errno = 0;
    if (!pathInFolder(fileName, true, path)) {
        saveError = errno != 0 ? errno : ENOENT;
        savePath = fileName ? fileName : "";
        return false;
    }
    return saveSettingsTo(path.c_str(), lastPlayed);
}

bool Settings::saveSettingsTo(const char* path, const char* lastPlayed) {
    saveError = 0;
    if (!settingsChanged && !playSettingsChanged && InitializePositionId != 3) return true;
    savePath = path;
    auto fail = [this](int reason) {
        saveError = reason != 0 ? reason : EIO;
        return false;
    };

    // A fresh file: keys and comments the program does not know are dropped.
    IniFile file;
    file.setInt(SOUND, "MaxChannels", MaxChannels);
    file.setInt(SOUND, "SampleRate", sampleRateHz());
    file.setInt(SOUND, "BitRate", bitsPerSample());
    file.setInt(SOUND, "fStereo", fStereo ? 1 : 0);
    file.setString(SOUND, "LastPlayFileName", lastPlayed ? lastPlayed : "");
    file.setInt(SOUND, "LastPlayEntry", LastPlayEntry);
    file.setInt(SOUND, "LastPlayPosition", LastPlayPosition);
    file.setInt(SOUND, "fShowVolume", fShowVolume ? 1 : 0);
    file.setInt(SOUND, "InitializePositionId", InitializePositionId);
    file.setInt(SOUND, "InitializePositionX", InitializePositionX);
    file.setInt(SOUND, "InitializePositionY", InitializePositionY);
    file.setInt(SOUND, "fReverb", fReverb ? 1 : 0);
    file.setInt(SOUND, "ReverbLevel", ReverbLevel);
    file.setInt(SOUND, "fLowPassFilter", fLowPassFilter ? 1 : 0);
    file.setInt(SOUND, "fLiveMidiInput", fLiveMidiInput ? 1 : 0);
    file.setInt(SOUND, "Latency", Latency);
    file.setString(SOUND, "MidiOut", MidiOut);
    file.setInt(SOUND, "fMidiOutGmReset", fMidiOutGmReset ? 1 : 0);
    file.setString(SOUND, "SoundFontName", SoundFontName);
    file.setInt(PLAY, "DisplayMode", DisplayMode);
    file.setInt(PLAY, "PlayMode", PlayMode);
    file.setInt(PLAY, "TimerMode", TimerMode);
    file.setInt(PLAY, "fAlwaysOnTop", fAlwaysOnTop ? 1 : 0);
    file.setInt(PLAY, "KeyCodeForPrevious", KeyCodeForPrevious);
    file.setInt(PLAY, "KeyCodeForPlay", KeyCodeForPlay);
    file.setInt(PLAY, "KeyCodeForNext", KeyCodeForNext);
    file.setInt(PLAY, "KeyCodeForFileOpen", KeyCodeForFileOpen);
    file.setInt(PLAY, "KeyCodeForPlayList", KeyCodeForPlayList);
    file.setInt(PLAY, "KeyCodeForMenuPopup", KeyCodeForMenuPopup);
    file.setInt(PLAY, "KeyCodeForDisplayOn", KeyCodeForDisplayOn);
    file.setInt(PLAY, "KeyCodeForVolumeDown", KeyCodeForVolumeDown);
    file.setInt(PLAY, "KeyCodeForVolumeUp", KeyCodeForVolumeUp);
    file.setInt(PLAY, "TrayIconMode", TrayIconMode ? 1 : 0);
    file.setInt(PLAY, "Volume", Volume);
    file.setInt(PLAY, "KeyCodeForPause", KeyCodeForPause);
    file.setInt(PLAY, "KeyCodeForSlower", KeyCodeForSlower);
    file.setInt(PLAY, "KeyCodeForFaster", KeyCodeForFaster);
    file.setInt(PLAY, "KeyCodeForKeyDown", KeyCodeForKeyDown);
    file.setInt(PLAY, "KeyCodeForKeyUp", KeyCodeForKeyUp);
    file.setInt(PLAY, "fResumeOnStart", fResumeOnStart ? 1 : 0);
    for (int k = 0; k < RECENT_COUNT; ++k) {
        char key[32];
        recentKey(key, sizeof key, k);
        file.setString(FILES, key, recent[k].text());
    }
    file.setString(SKIN, "SkinFileName", SkinFileName);
    if (file.lastError != RESULT_OK) return fail(ENOMEM);  // an entry could not be stored

    std::string target;
    if (!fileBehindLinks(path, target)) return fail(errno);
    struct stat old;
    const bool replacing = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    // Written beside the old file and renamed over it: the old settings stay
    // whole until the new ones are complete on disk.
    const std::string temporary = target + ".tmp";
    errno = 0;
    if (!file.save(temporary.c_str())) {
        const int reason = errno;
        ::unlink(temporary.c_str());
        return fail(reason);
    }
    syncPath(temporary.c_str());
    // The new file gets the old one's permissions (a file made read-only
    // stays read-only); a new file gets the usual ones. A folder that keeps
    // no permissions (a FAT stick) refuses, and the settings still count.
    if (replacing) ::chmod(temporary.c_str(), old.st_mode & 07777);
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int reason = errno;
        ::unlink(temporary.c_str());
        return fail(reason);
    }
    char folder[4096];
    if (target.find('/') != std::string::npos && folderOfPath(target.c_str(), folder, sizeof folder)) {
        syncPath(folder);
    }
    return true;
}

}  // namespace brellin
