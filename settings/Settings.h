// Settings: the user's settings, kept in Brellin.cfg beside the executable.
//
// The record is held by the main window (or the command-line player). It is
// read once at start-up, before the engine starts, and written once at exit,
// after the engine has stopped, both on the user-interface thread. Fields are
// named after their keys in the file; the memory form is the one the program
// works with (SampleRate is an index, flags are 0 or 1). Out-of-range values
// in the file are clamped or masked when read, so the record holds only
// valid values. The recent play lists are kept here and managed by the play
// list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/DirectoryListing.h"
#include "common/TextBuffer.h"

namespace brellin {

// Number of recent play lists shown and saved; one more slot receives the
// path pushed out of the last one.
constexpr int RECENT_COUNT = 5;

// Pixels of the primary screen; the window position is kept inside it.
struct ScreenSize {
    std::int32_t width;
    std::int32_t height;
};

// The screen of a program without a window (the command-line player): no
// position is clamped, and none is used.
constexpr ScreenSize NO_SCREEN{INT32_MAX, INT32_MAX};

struct Settings {
    // Latency's default: the smallest ring that played without an underrun
    // on an idle machine, with room to spare; and its largest value.
    static constexpr std::int32_t DEFAULT_LATENCY = 32;
    static constexpr std::int32_t MAX_LATENCY = 512;

    Settings();

    // "SoundSetting"
    std::int32_t SampleRate;            // index 0, 1, 2 for 11025, 22050, 44100 Hz
    std::int32_t BitRate;               // 0 = 8 bit, 1 = 16 bit
    std::int32_t fStereo;               // 0 = mono, 1 = stereo
    std::int32_t MaxChannels;           // 4..32 voices
    std::int32_t InitializePositionId;  // 0 centre, 1 top-left, 2 bottom-left, 3 last position
    std::int32_t InitializePositionX;
    std::int32_t InitializePositionY;
    char SoundFontName[MAX_PATH_LENGTH + 1];
    std::int32_t fReverb;
    std::int32_t ReverbLevel;  // 0..6
    std::int32_t fLowPassFilter;
    std::int32_t fLiveMidiInput;  // 1: the window offers its MIDI input port while it runs
    // Milliseconds of sound the output's ring holds, 0 … 512; 0 means the
    // full ring (512 ms). Small rings answer a keyboard quickly.
    std::int32_t Latency;
    // Where songs play: empty for the built-in synthesizer, else a MIDI port
    // outside ("128:0", "FLUID Synth", "jack:fluidsynth:midi_00").
    char MidiOut[MAX_PATH_LENGTH + 1];
    std::int32_t fMidiOutGmReset;  // 1: a General MIDI reset goes to that port before each song
    std::int32_t fShowVolume;
    char LastPlayFileName[MAX_PATH_LENGTH + 1];  // as read at start-up; saveSettings takes the current one
    // Where the last run left off: the entry of LastPlayFileName's list that
    // was current, and the song's position (ms) if it was playing, else -1.
    std::int32_t LastPlayEntry;
    std::int32_t LastPlayPosition;

    // "PlaySetting"
    std::int32_t DisplayMode;  // 0 "Always ON", 1 "OFF when playing"
    std::int32_t PlayMode;     // 0..3, see PlayMode of the play list
    std::int32_t TimerMode;    // 0 counts up, 1 counts down
    std::int32_t fAlwaysOnTop;
    // Windows virtual-key codes of the display window's hot keys.
    std::int32_t KeyCodeForPrevious;
    std::int32_t KeyCodeForPlay;
    std::int32_t KeyCodeForNext;
    std::int32_t KeyCodeForFileOpen;
    std::int32_t KeyCodeForPlayList;
    std::int32_t KeyCodeForMenuPopup;
    std::int32_t KeyCodeForDisplayOn;
    std::int32_t KeyCodeForVolumeDown;
    std::int32_t KeyCodeForVolumeUp;
    std::int32_t TrayIconMode;
    std::int32_t Volume;  // 0..128
    // Pause and song speed and key: their keys.
    std::int32_t KeyCodeForPause;
    std::int32_t KeyCodeForSlower;
    std::int32_t KeyCodeForFaster;
    std::int32_t KeyCodeForKeyDown;
    std::int32_t KeyCodeForKeyUp;
    // 1: a start without a file brings back the entry and the song position
    // the last run left off at (LastPlayEntry, LastPlayPosition).
    std::int32_t fResumeOnStart;

    // "SkinSetting"
    char SkinFileName[MAX_PATH_LENGTH + 1];

    // "File": recently opened play lists, most recent first; slot 5 only
    // receives the path pushed out of slot 4 and is not saved.
    TextBuffer recent[RECENT_COUNT + 1];

    // Change flags; none is stored in the file.
    bool settingsChanged = false;        // write the file at exit
    bool playSettingsChanged = false;    // write the file at exit
    bool engineSettingsChanged = false;  // the engine must be restarted

    // Why the last save failed: the system's error number (0 after a save
    // that worked or had nothing to write) and the file it was saving.
    int saveError = 0;
    std::string savePath;

    // Output format of the record.
    std::int32_t sampleRateHz() const;
    std::int32_t bitsPerSample() const { return BitRate ? 16 : 8; }
    std::int32_t channelCount() const { return fStereo ? 2 : 1; }

    // Reads `fileName` from the settings folder (beside the executable). When
    // `startFile` is not null, "LastPlayFileName" is copied into it (cut to
    // startFileSize - 1 characters). The stored window position is kept
    // inside `screen` (the primary screen in pixels; NO_SCREEN without a
    // window). Missing files and keys give defaults. False (and nothing read)
    // only when the folder cannot be found.
    bool loadSettings(const char* fileName, char* startFile, std::size_t startFileSize, ScreenSize screen);
    // The same from a full path.
    void loadSettingsFrom(const char* path, char* startFile, std::size_t startFileSize, ScreenSize screen);

    // Writes the file when settingsChanged or playSettingsChanged is set or
    // InitializePositionId is 3; `lastPlayed`, the play list's lastPlayed()
    // at exit, becomes "LastPlayFileName" (null writes it empty, never the
    // value read at start-up). The file is written under a temporary name in
    // the same folder and renamed over the old one, so a failed write leaves
    // the old settings in place. A symbolic link in place of the file stays:
    // the file it leads to is replaced (the temporary one in that file's
    // folder), and a replaced file keeps its permissions. True when the file
    // was written or nothing needed writing; false with saveError set.
    bool saveSettings(const char* fileName, const char* lastPlayed);
    bool saveSettingsTo(const char* path, const char* lastPlayed);

    // Switches to the fallback output format 11K/8bit/mono/8ch.
    void useFallbackFormat();
};

// The text "Cannot change to your setting. Changed to 11K/8bit/mono/8ch."
extern const char* const FALLBACK_FORMAT_NOTICE;

}  // namespace brellin
