#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "settings/IniFile.h"
#include "tests/TempDir.h"

using namespace brellin;
using brellin::testing::TempDir;

namespace {

Settings loadFrom(const TempDir& dir, const std::string& text, ScreenSize screen = NO_SCREEN) {
    std::string path = dir.write("Brellin.cfg", text);
    Settings settings;
    settings.loadSettingsFrom(path.c_str(), nullptr, 0, screen);
    return settings;
}

const char* const DEFAULT_FILE =
    "[File]\n"
    "RecentlyOpend0=\n"
    "RecentlyOpend1=\n"
    "RecentlyOpend2=\n"
    "RecentlyOpend3=\n"
    "RecentlyOpend4=\n"
    "[PlaySetting]\n"
    "DisplayMode=0\n"
    "KeyCodeForDisplayOn=32\n"
    "KeyCodeForFaster=221\n"
    "KeyCodeForFileOpen=38\n"
    "KeyCodeForKeyDown=189\n"
    "KeyCodeForKeyUp=187\n"
    "KeyCodeForMenuPopup=27\n"
    "KeyCodeForNext=39\n"
    "KeyCodeForPause=80\n"
    "KeyCodeForPlay=13\n"
    "KeyCodeForPlayList=40\n"
    "KeyCodeForPrevious=37\n"
    "KeyCodeForSlower=219\n"
    "KeyCodeForVolumeDown=188\n"
    "KeyCodeForVolumeUp=190\n"
    "PlayMode=0\n"
    "TimerMode=0\n"
    "TrayIconMode=0\n"
    "Volume=128\n"
    "fAlwaysOnTop=0\n"
    "fResumeOnStart=1\n"
    "[SkinSetting]\n"
    "SkinFileName=Brellin.ini\n"
    "[SoundSetting]\n"
    "BitRate=8\n"
    "InitializePositionId=0\n"
    "InitializePositionX=0\n"
    "InitializePositionY=0\n"
    "LastPlayEntry=0\n"
    "LastPlayFileName=/\n"
    "LastPlayPosition=-1\n"
    "Latency=32\n"
    "MaxChannels=32\n"
    "MidiOut=\n"
    "ReverbLevel=4\n"
    "SampleRate=22050\n"
    "SoundFontName=small.brf\n"
    "fLiveMidiInput=1\n"
    "fLowPassFilter=0\n"
    "fMidiOutGmReset=1\n"
    "fReverb=0\n"
    "fShowVolume=1\n"
    "fStereo=1\n";

}  // namespace

TEST(SettingsDefaults, NoFileGivesTheDefaults) {
    TempDir dir;
    Settings settings;
    settings.SampleRate = 2;  // values of the record are overwritten by the defaults
    settings.settingsChanged = true;
    char startFile[260] = "unchanged";
    settings.loadSettingsFrom(dir.path("Brellin.cfg").c_str(), startFile, sizeof startFile, NO_SCREEN);
    EXPECT_EQ(settings.sampleRateHz(), 22050);
    EXPECT_EQ(settings.bitsPerSample(), 8);
    EXPECT_EQ(settings.channelCount(), 2);
    EXPECT_EQ(settings.MaxChannels, 32);
    EXPECT_EQ(settings.InitializePositionId, 0);
    EXPECT_EQ(settings.fReverb, 0);
    EXPECT_EQ(settings.ReverbLevel, 4);
    EXPECT_EQ(settings.fLowPassFilter, 0);
    EXPECT_STREQ(settings.SoundFontName, "small.brf");
    EXPECT_EQ(settings.PlayMode, 0);
    EXPECT_EQ(settings.DisplayMode, 0);
    EXPECT_EQ(settings.TimerMode, 0);
    EXPECT_EQ(settings.fAlwaysOnTop, 0);
    EXPECT_EQ(settings.Volume, 128);
    EXPECT_EQ(settings.fShowVolume, 1);
    EXPECT_STREQ(settings.SkinFileName, "Brellin.ini");
    for (int k = 0; k < RECENT_COUNT; ++k) EXPECT_TRUE(settings.recent[k].empty());
    EXPECT_EQ(settings.KeyCodeForPlay, 13);
    EXPECT_EQ(settings.KeyCodeForVolumeUp, 190);
    EXPECT_STREQ(startFile, "/");
    EXPECT_FALSE(settings.settingsChanged);
}

TEST(SettingsReadRules, OutputFormat) {
    TempDir dir;
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nSampleRate=48000\n").sampleRateHz(), 22050);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nSampleRate=11025\n").SampleRate, 0);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nSampleRate=44100\n").SampleRate, 2);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nSampleRate=abc\n").SampleRate, 1);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nBitRate=24\n").BitRate, 0);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nBitRate=16\n").BitRate, 1);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nfStereo=0\n").fStereo, 0);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nfStereo=-3\n").fStereo, 1);
}

TEST(SettingsReadRules, VoicesAndEffectsAreClamped) {
    TempDir dir;
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nMaxChannels=2\n").MaxChannels, 4);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nMaxChannels=64\n").MaxChannels, 32);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nMaxChannels=abc\n").MaxChannels, 4);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nReverbLevel=-3\n").ReverbLevel, 0);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nReverbLevel=9\n").ReverbLevel, 6);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nfReverb=5\nfLowPassFilter=1\n").fReverb, 1);
}

TEST(SettingsReadRules, PlaySettingsAreMaskedOrClamped) {
    TempDir dir;
    EXPECT_EQ(loadFrom(dir, "[PlaySetting]\nPlayMode=6\n").PlayMode, 2);
    EXPECT_EQ(loadFrom(dir, "[PlaySetting]\nPlayMode=-1\n").PlayMode, 3);
    EXPECT_EQ(loadFrom(dir, "[PlaySetting]\nDisplayMode=3\n").DisplayMode, 1);
    EXPECT_EQ(loadFrom(dir, "[PlaySetting]\nTimerMode=2\n").TimerMode, 0);
    EXPECT_EQ(loadFrom(dir, "[PlaySetting]\nVolume=200\n").Volume, 128);
    EXPECT_EQ(loadFrom(dir, "[PlaySetting]\nVolume=-1\n").Volume, 0);
    EXPECT_EQ(loadFrom(dir, "[PlaySetting]\nKeyCodeForNext=-77\n").KeyCodeForNext, -77);
}

TEST(SettingsReadRules, LevelMeterIsOnOnlyForExactlyOne) {
    TempDir dir;
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nfShowVolume=2\n").fShowVolume, 0);
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nfShowVolume=1\n").fShowVolume, 1);
}

TEST(SettingsReadRules, WindowPositionAndTrayMode) {
    TempDir dir;
    ScreenSize screen{1024, 768};
    Settings far = loadFrom(dir,
                            "[SoundSetting]\nInitializePositionId=7\nInitializePositionX=5000\nInitializePositionY=-4\n"
                            "[PlaySetting]\nTrayIconMode=1\n",
                            screen);
    EXPECT_EQ(far.InitializePositionId, 3);
    EXPECT_EQ(far.InitializePositionX, 1023);
    EXPECT_EQ(far.InitializePositionY, 0);
    EXPECT_EQ(far.TrayIconMode, 1);
    Settings centred = loadFrom(dir, "[SoundSetting]\nInitializePositionId=0\n[PlaySetting]\nTrayIconMode=1\n", screen);
    EXPECT_EQ(centred.TrayIconMode, 0);  // the window starts shown
    EXPECT_EQ(loadFrom(dir, "[SoundSetting]\nInitializePositionId=-2\n").InitializePositionId, 0);
}

TEST(SettingsReadRules, TextsAndTheStartFile) {
    TempDir dir;
    std::string path =
        dir.write("Brellin.cfg",
                  "[SoundSetting]\nLastPlayFileName=/music/long-name.brl\nSoundFontName=big.brf\n"
                  "[SkinSetting]\nSkinFileName=Other.ini\n[File]\nRecentlyOpend0=/a.brl\nRecentlyOpend4=/e.brl\n");
    Settings settings;
    char startFile[8];
    settings.loadSettingsFrom(path.c_str(), startFile, sizeof startFile, NO_SCREEN);
    EXPECT_STREQ(startFile, "/music/");  // cut to the field
    EXPECT_STREQ(settings.SoundFontName, "big.brf");
    EXPECT_STREQ(settings.SkinFileName, "Other.ini");
    EXPECT_STREQ(settings.recent[0].text(), "/a.brl");
    EXPECT_STREQ(settings.recent[4].text(), "/e.brl");
    EXPECT_TRUE(settings.recent[1].empty());
}

TEST(SettingsSave, ExactFileWithDefaults) {
    TempDir dir;
    Settings settings;
    settings.settingsChanged = true;
    ASSERT_TRUE(settings.saveSettingsTo(dir.path("Brellin.cfg").c_str(), "/"));
    EXPECT_EQ(dir.read("Brellin.cfg"), DEFAULT_FILE);
    EXPECT_FALSE(std::filesystem::exists(dir.path("Brellin.cfg.tmp")));
}

TEST(SettingsSave, ValuesAreWrittenInTheirFileForm) {
    TempDir dir;
    Settings settings =
        loadFrom(dir, "[SoundSetting]\nSampleRate=48000\nBitRate=16\nfReverb=9\n[File]\nRecentlyOpend2=/x.brl\n");
    settings.playSettingsChanged = true;
    ASSERT_TRUE(settings.saveSettingsTo(dir.path("Brellin.cfg").c_str(), "/songs/list.brl"));
    IniFile written;
    ASSERT_TRUE(written.load(dir.path("Brellin.cfg").c_str()));
    EXPECT_EQ(written.getInt("SoundSetting", "SampleRate", 0), 22050);
    EXPECT_EQ(written.getInt("SoundSetting", "BitRate", 0), 16);
    EXPECT_EQ(written.getInt("SoundSetting", "fReverb", 0), 1);
    EXPECT_STREQ(written.getString("SoundSetting", "LastPlayFileName", ""), "/songs/list.brl");
    EXPECT_STREQ(written.getString("File", "RecentlyOpend2", ""), "/x.brl");
}

TEST(SettingsSave, UnknownKeysAndCommentsAreGone) {
    TempDir dir;
    Settings settings = loadFrom(dir, "; my notes\n[SoundSetting]\nMystery=1\n[Other]\nx=1\n");
    settings.settingsChanged = true;
    ASSERT_TRUE(settings.saveSettingsTo(dir.path("Brellin.cfg").c_str(), "/"));
    std::string text = dir.read("Brellin.cfg");
    EXPECT_EQ(text.find("Mystery"), std::string::npos);
    EXPECT_EQ(text.find("notes"), std::string::npos);
    EXPECT_EQ(text.find("[Other]"), std::string::npos);
}

TEST(SettingsSave, NothingIsWrittenWithoutAChange) {
    TempDir dir;
    Settings settings = loadFrom(dir, "[SoundSetting]\nMaxChannels=16\n");
    ASSERT_TRUE(settings.saveSettingsTo(dir.path("Brellin.cfg").c_str(), "/"));
    EXPECT_EQ(dir.read("Brellin.cfg"), "[SoundSetting]\nMaxChannels=16\n");
    // Position mode 3 always writes (the window's place is remembered).
    settings.InitializePositionId = 3;
    ASSERT_TRUE(settings.saveSettingsTo(dir.path("Brellin.cfg").c_str(), "/"));
    EXPECT_NE(dir.read("Brellin.cfg").find("InitializePositionId=3"), std::string::npos);
}

TEST(SettingsSave, OldFileSurvivesWhenTheNewOneCannotBeCreated) {
    TempDir dir;
    const std::string old = "[SoundSetting]\nMaxChannels=16\n";
    dir.write("Brellin.cfg", old);
    // Something that is not a file stands where the new settings are written.
    std::filesystem::create_directory(dir.path("Brellin.cfg.tmp"));
    Settings settings;
    settings.settingsChanged = true;
    EXPECT_FALSE(settings.saveSettingsTo(dir.path("Brellin.cfg").c_str(), "/"));
    EXPECT_EQ(settings.saveError, EISDIR);
    EXPECT_EQ(settings.savePath, dir.path("Brellin.cfg")) << "the file the user knows, named in the message";
    EXPECT_EQ(dir.read("Brellin.cfg"), old);
}

TEST(SettingsSave, OldFileSurvivesADiskThatFillsUpMidWrite) {
    TempDir dir;
    const std::string old = "[SoundSetting]\nMaxChannels=16\n";
    dir.write("Brellin.cfg", old);
    Settings settings;
    settings.settingsChanged = true;
    // Files may grow to 100 bytes only: the write fails part-way through, as
    // on a full disk.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool written = settings.saveSettingsTo(dir.path("Brellin.cfg").c_str(), "/");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(settings.saveError, EFBIG);
    EXPECT_EQ(dir.read("Brellin.cfg"), old);
    EXPECT_FALSE(std::filesystem::exists(dir.path("Brellin.cfg.tmp")));
    // With room again the same save succeeds, and says nothing went wrong.
    EXPECT_TRUE(settings.saveSettingsTo(dir.path("Brellin.cfg").c_str(), "/"));
    EXPECT_EQ(settings.saveError, 0);
    EXPECT_EQ(dir.read("Brellin.cfg"), DEFAULT_FILE);
}

// Runs `work` in a child process and returns its exit status (-1: it did not
// exit). For what only a process of its own may do: drop root, mount.
int inChild(const std::function<int()>& work) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) ::_exit(work());
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// 0: the save failed with `expected` and the old file is intact; 1: it was
// written; 2: another error; 3: the old file changed.
int saveFailsWith(const std::string& folder, int expected) {
    const std::string path = folder + "/Brellin.cfg";
    Settings settings;
    settings.settingsChanged = true;
    if (settings.saveSettingsTo(path.c_str(), "/")) return 1;
    if (settings.saveError != expected) return 2;
    Settings again;
    again.loadSettingsFrom(path.c_str(), nullptr, 0, NO_SCREEN);
    return again.MaxChannels == 16 ? 0 : 3;
}

TEST(SettingsSave, ReadOnlyFolderAndFullDiskAreReportedAndTheOldFileStays) {
    TempDir dir;
    const std::string old = "[SoundSetting]\nMaxChannels=16\n";
    dir.write("Brellin.cfg", old);
    ::chmod(dir.root.c_str(), 0555);
    if (::geteuid() == 0) {
        // The superuser writes anywhere: the save runs as nobody, for whom
        // the folder (root's, 0555) is read-only all the same.
        EXPECT_EQ(
            inChild([&] { return ::setgid(65534) == 0 && ::setuid(65534) == 0 ? saveFailsWith(dir.root, EACCES) : 4; }),
            0)
            << "1 written, 2 another error, 3 old file changed, 4 cannot drop privileges";
    } else {
        EXPECT_EQ(saveFailsWith(dir.root, EACCES), 0) << "1 written, 2 another error, 3 old file changed";
    }
    ::chmod(dir.root.c_str(), 0700);
    EXPECT_EQ(dir.read("Brellin.cfg"), old);

    // A real full file system: a tmpfs of one page, mounted in a mount
    // namespace of the child's own, so nothing outside sees it. Out of
    // blocks, then out of inodes (only the folder's own is left).
    const std::string full = dir.path("full");
    std::filesystem::create_directory(full);
    for (const char* options : {"size=4k,nr_inodes=16", "size=1m,nr_inodes=2"}) {
        const int status = inChild([&] {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", full.c_str(), "tmpfs", 0, options) != 0) {
                return 5;
            }
            FILE* file = std::fopen((full + "/Brellin.cfg").c_str(), "w");
            if (file == nullptr || std::fputs(old.c_str(), file) < 0 || std::fclose(file) != 0) return 6;
            // Fills what is left of the blocks.
            if (FILE* filler = std::fopen((full + "/filler").c_str(), "w")) {
                const std::string page(4096, 'x');
                while (std::fwrite(page.data(), 1, page.size(), filler) == page.size() && std::fflush(filler) == 0) {
                }
                std::fclose(filler);
            }
            return saveFailsWith(full, ENOSPC);
        });
        if (status == 5) GTEST_SKIP() << "no mount namespace here (needs root): the full disk is not tried";
        EXPECT_EQ(status, 0) << options << ": 1 written, 2 another error, 3 old file changed, 6 no old file";
    }
}

TEST(SettingsSave, LinkedFileIsWrittenThroughAndKeepsItsMode) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("kept"));
    std::filesystem::create_directory(dir.path("conf"));
    const std::string target = dir.write("kept/Brellin.cfg", "[SoundSetting]\nMaxChannels=16\n");
    ::chmod(target.c_str(), 0444);
    // A relative link, as a dotfiles folder would make it.
    std::filesystem::create_symlink("../kept/Brellin.cfg", dir.path("conf/Brellin.cfg"));

    Settings settings;
    settings.settingsChanged = true;
    ASSERT_TRUE(settings.saveSettingsTo(dir.path("conf/Brellin.cfg").c_str(), "/"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path("conf/Brellin.cfg"))) << "the link stays a link";
    EXPECT_EQ(std::filesystem::read_symlink(dir.path("conf/Brellin.cfg")), "../kept/Brellin.cfg");
    EXPECT_EQ(dir.read("kept/Brellin.cfg"), DEFAULT_FILE);
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
    EXPECT_FALSE(std::filesystem::exists(dir.path("kept/Brellin.cfg.tmp")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("conf/Brellin.cfg.tmp")));

    // A link to a file not made yet makes it there; a loop of links is an
    // error, and nothing is written in place of either link.
    std::filesystem::create_symlink(dir.path("kept/new.cfg"), dir.path("conf/new.cfg"));
    ASSERT_TRUE(settings.saveSettingsTo(dir.path("conf/new.cfg").c_str(), "/"));
    EXPECT_EQ(dir.read("kept/new.cfg"), DEFAULT_FILE);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path("conf/new.cfg")));
    std::filesystem::create_symlink("b.cfg", dir.path("conf/a.cfg"));
    std::filesystem::create_symlink("a.cfg", dir.path("conf/b.cfg"));
    EXPECT_FALSE(settings.saveSettingsTo(dir.path("conf/a.cfg").c_str(), "/"));
    EXPECT_EQ(settings.saveError, ELOOP);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path("conf/a.cfg")));
}

TEST(SettingsSave, SavedFileReadsBackToTheSameRecord) {
    TempDir dir;
    Settings settings;
    settings.SampleRate = 2;
    settings.BitRate = 1;
    settings.fStereo = 0;
    settings.MaxChannels = 12;
    settings.ReverbLevel = 0;
    settings.PlayMode = 3;
    settings.Volume = 77;
    settings.InitializePositionId = 3;
    settings.InitializePositionX = 50;
    settings.TrayIconMode = 1;
    settings.recent[1].assign("/b.brl");
    std::snprintf(settings.SoundFontName, sizeof settings.SoundFontName, "%s", "other.brf");
    ASSERT_TRUE(settings.saveSettingsTo(dir.path("Brellin.cfg").c_str(), "/"));
    Settings again;
    again.loadSettingsFrom(dir.path("Brellin.cfg").c_str(), nullptr, 0, NO_SCREEN);
    EXPECT_EQ(again.SampleRate, 2);
    EXPECT_EQ(again.BitRate, 1);
    EXPECT_EQ(again.fStereo, 0);
    EXPECT_EQ(again.MaxChannels, 12);
    EXPECT_EQ(again.ReverbLevel, 0);
    EXPECT_EQ(again.PlayMode, 3);
    EXPECT_EQ(again.Volume, 77);
    EXPECT_EQ(again.InitializePositionX, 50);
    EXPECT_EQ(again.TrayIconMode, 1);
    EXPECT_STREQ(again.recent[1].text(), "/b.brl");
    EXPECT_STREQ(again.SoundFontName, "other.brf");
}

TEST(SettingsResume, ResumeAndTheNewKeysHaveDefaultsAndReadBack) {
    // A file of an older version, without the keys: their defaults.
    TempDir dir;
    Settings old = loadFrom(dir, "[SoundSetting]\nLastPlayFileName=/a.brl\n[PlaySetting]\nVolume=90\n");
    EXPECT_EQ(old.fResumeOnStart, 1);
    EXPECT_EQ(old.LastPlayEntry, 0);
    EXPECT_EQ(old.LastPlayPosition, -1);
    EXPECT_EQ(old.KeyCodeForPause, 80);
    EXPECT_EQ(old.KeyCodeForSlower, 219);
    EXPECT_EQ(old.KeyCodeForFaster, 221);
    EXPECT_EQ(old.KeyCodeForKeyDown, 189);
    EXPECT_EQ(old.KeyCodeForKeyUp, 187);
    Settings settings;
    settings.settingsChanged = true;
    settings.fResumeOnStart = 0;
    settings.LastPlayEntry = 7;
    settings.LastPlayPosition = 61234;
    settings.KeyCodeForPause = 19;
    ASSERT_TRUE(settings.saveSettingsTo(dir.path("Brellin.cfg").c_str(), "/a.brl"));
    Settings again;
    again.loadSettingsFrom(dir.path("Brellin.cfg").c_str(), nullptr, 0, NO_SCREEN);
    EXPECT_EQ(again.fResumeOnStart, 0);
    EXPECT_EQ(again.LastPlayEntry, 7);
    EXPECT_EQ(again.LastPlayPosition, 61234);
    EXPECT_EQ(again.KeyCodeForPause, 19);
}

TEST(SettingsFallback, ElevenKilohertzEightBitMonoEightVoices) {
    Settings settings;
    settings.SampleRate = 2;
    settings.BitRate = 1;
    settings.useFallbackFormat();
    EXPECT_EQ(settings.sampleRateHz(), 11025);
    EXPECT_EQ(settings.bitsPerSample(), 8);
    EXPECT_EQ(settings.channelCount(), 1);
    EXPECT_EQ(settings.MaxChannels, 8);
}

TEST(SettingsFolder, FileNameIsLookedUpBesideTheExecutable) {
    // The test program's folder is writable, so the settings live beside it.
    std::string name = "SettingsTest-" + std::to_string(::getpid()) + ".cfg";
    std::string beside = std::string(BRELLIN_BINARY_DIR) + "/tests/" + name;
    Settings settings;
    settings.MaxChannels = 9;
    settings.settingsChanged = true;
    ASSERT_TRUE(settings.saveSettings(name.c_str(), "/songs/last.mid"));
    EXPECT_TRUE(std::filesystem::exists(beside));
    Settings again;
    char startFile[260] = {};
    ASSERT_TRUE(again.loadSettings(name.c_str(), startFile, sizeof startFile, NO_SCREEN));
    EXPECT_EQ(again.MaxChannels, 9);
    EXPECT_STREQ(startFile, "/songs/last.mid");
    std::filesystem::remove(beside);
}

// The screen and the last played file have no defaults: a caller that forgets
// them does not compile (a forgotten screen left every position unclamped; a
// forgotten last file wrote back the start-up one).
template <class S>
concept LoadsWithoutScreen = requires(S& s, char* file) {
    s.loadSettings("Brellin.cfg", file, 1);
};
template <class S>
concept LoadsFromWithoutScreen = requires(S& s) {
    s.loadSettingsFrom("/x/Brellin.cfg");
};
template <class S>
concept SavesWithoutLastFile = requires(S& s) {
    s.saveSettings("Brellin.cfg");
};
template <class S>
concept SavesToWithoutLastFile = requires(S& s) {
    s.saveSettingsTo("/x/Brellin.cfg");
};
static_assert(!LoadsWithoutScreen<Settings> && !LoadsFromWithoutScreen<Settings>);
static_assert(!SavesWithoutLastFile<Settings> && !SavesToWithoutLastFile<Settings>);

TEST(SettingsSave, LastPlayedIsTheGivenFileNeverTheStartUpOne) {
    TempDir dir;
    Settings settings = loadFrom(dir, "[SoundSetting]\nLastPlayFileName=/old/start.brl\n");
    settings.settingsChanged = true;
    std::string path = dir.path("Brellin.cfg");
    char startFile[260];

    ASSERT_TRUE(settings.saveSettingsTo(path.c_str(), "/new/song.mid"));
    Settings again;
    again.loadSettingsFrom(path.c_str(), startFile, sizeof startFile, NO_SCREEN);
    EXPECT_STREQ(startFile, "/new/song.mid");

    // No last file (a null from a careless caller) is written as none.
    ASSERT_TRUE(settings.saveSettingsTo(path.c_str(), nullptr));
    again.loadSettingsFrom(path.c_str(), startFile, sizeof startFile, NO_SCREEN);
    EXPECT_STREQ(startFile, "");
}

TEST(SettingsReadRules, PositionStaysOnAnEmptyScreen) {
    TempDir dir;
    Settings settings =
        loadFrom(dir, "[SoundSetting]\nInitializePositionX=300\nInitializePositionY=200\n", ScreenSize{0, 0});
    EXPECT_EQ(settings.InitializePositionX, 0);
    EXPECT_EQ(settings.InitializePositionY, 0);
}
