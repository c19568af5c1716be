// The Configure and Play mode dialogs against a fake dialog host and a
// temporary program folder, and the main window's commands 40002 and 40003
// with a real engine on the null audio device.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "output/devices/AudioDevices.h"
#include "soundfont/SoundFontWriter.h"
#include "tests/TempDir.h"
#include "tests/TestSoundFont.h"
#include "tests/display/BmpBuilder.h"
#include "tests/midi/MidiBytes.h"
#include "tests/ui/FakeHost.h"
#include "ui/dialogs/ConfigureDialog.h"
#include "ui/dialogs/PlayModeDialog.h"
#include "ui/dialogs/SettingsCommands.h"
#include "ui/dialogs/SettingsTemplates.h"

namespace brellin::test {
namespace {

using brellin::testing::TempDir;
namespace midi = brellin::testing;

// A child control of the fake dialog: a handle whose procedure can be
// replaced, counting what reaches its own handling.
class FakeControlHost : public ControlHost {
public:
    WindowProcedure windowProcedure() const override { return procedure; }
    void setWindowProcedure(WindowProcedure p) override { procedure = p; }
    Control* controlData() const override { return control; }
    void setControlData(Control* c) override { control = c; }
    LResult defaultProcedure(MessageId, WParam, LParam) override { return 0; }
    LResult deliver(MessageId msg, WParam wParam = 0, LParam lParam = 0) {
        return procedure(this, msg, wParam, lParam);
    }

    static LResult own(ControlHost* handle, MessageId, WParam, LParam) {
        ++static_cast<FakeControlHost*>(handle)->handled;
        return 0;
    }
    WindowProcedure procedure = &FakeControlHost::own;
    Control* control = nullptr;
    int handled = 0;
};

// The fake dialog with track-bar ranges, message boxes and child handles.
class DialogRig : public FakeDialogHost {
public:
    void setTrackRange(int id, int minimum, int maximum) override { ranges[id] = {minimum, maximum}; }
    int messageBox(const char* text, const char* caption, std::uint32_t flags) override {
        boxes.push_back({text, caption, flags});
        return IDOK;
    }
    ControlHost* item(int id) override { return &controls[id]; }

    // Opens `dialog` on this host as the dialog manager would.
    void open(Dialog& dialog) {
        Dialog::openingDialog = &dialog;
        deliver(WM_INITDIALOG);
    }
    void command(int id, std::uint16_t code = 0) {
        deliver(WM_COMMAND, makeCommandWParam(code, static_cast<std::uint16_t>(id)), 0);
    }
    int indexOf(int id, const std::string& text) const {
        for (int i = 0; i < itemCount(id); ++i)
            if (itemString(id, i) == text) return i;
        return -1;
    }

    std::map<int, std::pair<int, int>> ranges;
    std::vector<MessageBoxCall> boxes;
    std::map<int, FakeControlHost> controls;
};

std::vector<std::string> listOf(const FakeDialogHost& host, int id) {
    auto it = host.lists.find(id);
    return it == host.lists.end() ? std::vector<std::string>{} : it->second;
}

std::string folderOf(const TempDir& dir) { return dir.root.string() + "/"; }

void writeFont(const std::string& path) { ASSERT_TRUE(brellin::testing::writeTestSoundFont(path)); }

TEST(ProgramFiles, TheExactNameWinsOverALongerNameWithTheSamePrefix) {
    ProgramFiles files;
    files.names = {"alpha.brf", "small.brf", "small2.brf"};
    EXPECT_EQ(files.find("small"), 1);
    EXPECT_EQ(files.find("SMALL.BRF"), 1);
    EXPECT_EQ(files.find("small2"), 2);
    EXPECT_EQ(files.find("sma"), 1);
    EXPECT_EQ(files.find("missing.brf"), 0);
    EXPECT_EQ(files.find(""), 0);
    // "-" sorts before ".": the prefix alone would pick small-x.brf.
    files.names = {"small-x.brf", "small.brf"};
    EXPECT_EQ(files.find("small"), 1);
    files.names = {"small2.brf", "small22.brf"};
    EXPECT_EQ(files.find("small2.brf"), 0);
    files.names.clear();
    EXPECT_EQ(files.find("small"), -1);
    EXPECT_EQ(files.name(0), nullptr);
}

TEST(ConfigureDialog, OpensOnTheSettingsAndOnlyOkStoresTheChoices) {
    TempDir dir;
    for (const char* name : {"small2.brf", "Small.brf", "alpha.BRF", "notes.txt"}) dir.write(name, "x");
    std::filesystem::create_directory(dir.path("folder.brf"));
    Settings settings;
    settings.SampleRate = 2;
    settings.BitRate = 1;
    settings.fStereo = 0;
    settings.MaxChannels = 8;
    settings.InitializePositionId = 3;
    settings.fReverb = 1;
    settings.fLowPassFilter = 0;
    settings.ReverbLevel = 0;
    std::snprintf(settings.SoundFontName, sizeof settings.SoundFontName, "small");
    settings.engineSettingsChanged = true;
    settings.settingsChanged = false;

    FakeWindowSystem system;
    {
        ConfigureDialog dialog(system, settings, folderOf(dir));
        DialogRig host;
        host.open(dialog);
        // Opening forgets any earlier request for a restart.
        EXPECT_FALSE(settings.engineSettingsChanged);
        EXPECT_EQ(host.focus, IDOK);
        EXPECT_EQ(listOf(host, IDC_SAMPLE_RATE), (std::vector<std::string>{"11K", "22K", "44K"}));
        EXPECT_EQ(host.selectedItem(IDC_SAMPLE_RATE), 2);
        EXPECT_EQ(listOf(host, IDC_BIT_RATE), (std::vector<std::string>{"8bit", "16bit"}));
        EXPECT_EQ(host.selectedItem(IDC_BIT_RATE), 1);
        EXPECT_EQ(listOf(host, IDC_CHANNELS), (std::vector<std::string>{"Mono", "Stereo"}));
        EXPECT_EQ(host.selectedItem(IDC_CHANNELS), 0);
        ASSERT_EQ(host.itemCount(IDC_MAX_SOUNDS), 29);
        EXPECT_EQ(host.itemString(IDC_MAX_SOUNDS, 0), "4");
        EXPECT_EQ(host.itemString(IDC_MAX_SOUNDS, 28), "32");
        EXPECT_EQ(host.itemString(IDC_MAX_SOUNDS, host.selectedItem(IDC_MAX_SOUNDS)), "8");
        EXPECT_EQ(listOf(host, IDC_INITIAL_POSITION),
                  (std::vector<std::string>{"Center", "Top-Left", "Bottom-Left", "Last exec. pos."}));
        EXPECT_EQ(host.selectedItem(IDC_INITIAL_POSITION), 3);
        EXPECT_TRUE(host.isChecked(IDC_REVERB));
        EXPECT_FALSE(host.isChecked(IDC_LOW_PASS));
        // Level 0 from the file shows the track bar at its lowest step, 1.
        EXPECT_EQ(host.ranges[IDC_REVERB_LEVEL], std::make_pair(1, 6));
        EXPECT_EQ(host.trackPosition(IDC_REVERB_LEVEL), 1);
        // Sorted, files only; "small" is Small.brf, not small2.brf.
        EXPECT_EQ(listOf(host, IDC_SOUND_FONT), (std::vector<std::string>{"alpha.BRF", "Small.brf", "small2.brf"}));
        EXPECT_EQ(host.selectedItem(IDC_SOUND_FONT), 1);
        EXPECT_EQ(listOf(host, IDC_LINK_MODE), (std::vector<std::string>{"", "play", "iconplay"}));
        EXPECT_EQ(host.selectedItem(IDC_LINK_MODE), 0);
        EXPECT_FALSE(host.isChecked(IDC_LINK_BRL));

        // Changed and then cancelled (Esc): nothing stored, no restart.
        host.selectItem(IDC_SAMPLE_RATE, 0);
        host.command(IDCANCEL);
        EXPECT_TRUE(host.ended);
        EXPECT_EQ(settings.SampleRate, 2);
        EXPECT_FALSE(settings.engineSettingsChanged);
        EXPECT_FALSE(settings.settingsChanged);
    }
    {
        ConfigureDialog dialog(system, settings, folderOf(dir));
        DialogRig host;
        host.open(dialog);
        host.selectItem(IDC_MAX_SOUNDS, host.indexOf(IDC_MAX_SOUNDS, "12"));
        host.selectItem(IDC_SOUND_FONT, host.indexOf(IDC_SOUND_FONT, "small2.brf"));
        host.selectItem(IDC_SAMPLE_RATE, 0);
        host.selectItem(IDC_INITIAL_POSITION, 1);
        // The level slider follows the Reverb box.
        EXPECT_TRUE(host.enabled.at(IDC_REVERB_LEVEL));
        host.setChecked(IDC_REVERB, false);
        host.command(IDC_REVERB);
        EXPECT_FALSE(host.enabled.at(IDC_REVERB_LEVEL));
        host.setChecked(IDC_REVERB, true);
        host.command(IDC_REVERB);
        EXPECT_TRUE(host.enabled.at(IDC_REVERB_LEVEL));
        host.setChecked(IDC_REVERB, false);
        host.command(IDC_REVERB);
        host.setChecked(IDC_LOW_PASS, true);
        host.command(IDOK);
        EXPECT_TRUE(host.ended);
    }
    EXPECT_EQ(settings.MaxChannels, 12);
    EXPECT_STREQ(settings.SoundFontName, "small2.brf");
    EXPECT_EQ(settings.SampleRate, 0);
    EXPECT_EQ(settings.BitRate, 1);
    EXPECT_EQ(settings.InitializePositionId, 1);
    EXPECT_EQ(settings.fReverb, 0);
    EXPECT_EQ(settings.fLowPassFilter, 1);
    EXPECT_EQ(settings.ReverbLevel, 1);
    EXPECT_TRUE(settings.engineSettingsChanged);
    EXPECT_TRUE(settings.settingsChanged);
    {
        // Opened with the reverb off, the slider starts disabled.
        ConfigureDialog dialog(system, settings, folderOf(dir));
        DialogRig host;
        host.open(dialog);
        EXPECT_FALSE(host.enabled.at(IDC_REVERB_LEVEL));
        host.command(IDCANCEL);
    }
}

TEST(ConfigureDialog, AFailingSoundFontListingStillFillsModeAndKeepsTheName) {
    // A folder path longer than a path field cannot be listed.
    const std::string folder = "/tmp/" + std::string(300, 'f') + "/";
    Settings settings;
    settings.engineSettingsChanged = true;
    FakeWindowSystem system;
    ConfigureDialog dialog(system, settings, folder);
    DialogRig host;
    host.open(dialog);
    EXPECT_TRUE(dialog.soundFontListFailed);
    EXPECT_EQ(host.itemCount(IDC_SOUND_FONT), 0);
    EXPECT_EQ(listOf(host, IDC_LINK_MODE), (std::vector<std::string>{"", "play", "iconplay"}));
    EXPECT_EQ(host.selectedItem(IDC_LINK_MODE), 0);
    EXPECT_FALSE(settings.engineSettingsChanged);
    // The window's close: nothing stored, no restart asked.
    host.deliver(WM_CLOSE);
    EXPECT_TRUE(host.ended);
    EXPECT_FALSE(settings.engineSettingsChanged);

    // OK with the empty box keeps the name rather than storing "".
    ConfigureDialog again(system, settings, folder);
    DialogRig second;
    second.open(again);
    second.command(IDOK);
    EXPECT_STREQ(settings.SoundFontName, "small.brf");
    EXPECT_TRUE(settings.engineSettingsChanged);
}

TEST(PlayModeDialog, TheVolumeFollowsTheTrackBarAndClosingStoresOnlyWhatChanged) {
    TempDir dir;
    for (const char* name : {"Brellin.ini", "b.INI", "a.ini", "Brellin.cfg"}) dir.write(name, "[Skin]\n");
    std::filesystem::create_directory(dir.path("x.ini"));
    Settings settings;
    settings.PlayMode = 3;
    settings.DisplayMode = 1;
    settings.TimerMode = 0;
    settings.Volume = 100;
    settings.fAlwaysOnTop = 0;
    std::snprintf(settings.SkinFileName, sizeof settings.SkinFileName, "brellin.ini");
    settings.playSettingsChanged = false;
    std::vector<std::int32_t> applied;

    FakeWindowSystem system;
    {
        PlayModeDialog dialog(system, settings, folderOf(dir), [&] { applied.push_back(settings.Volume); });
        DialogRig host;
        host.open(dialog);
        EXPECT_EQ(listOf(host, IDC_PLAY_MODE),
                  (std::vector<std::string>{"Normal", "Random", "Normal without loop", "Random after the 2nd"}));
        EXPECT_EQ(host.selectedItem(IDC_PLAY_MODE), 3);
        EXPECT_EQ(host.focus, IDC_PLAY_MODE);
        EXPECT_EQ(listOf(host, IDC_LCD_MODE), (std::vector<std::string>{"Always ON", "OFF when playing"}));
        EXPECT_EQ(host.selectedItem(IDC_LCD_MODE), 1);
        EXPECT_EQ(listOf(host, IDC_CLOCK_MODE), (std::vector<std::string>{"Increment", "Decrement"}));
        EXPECT_EQ(host.selectedItem(IDC_CLOCK_MODE), 0);
        EXPECT_EQ(host.ranges[IDC_VOLUME], std::make_pair(0, 128));
        EXPECT_EQ(host.trackPosition(IDC_VOLUME), 100);
        EXPECT_EQ(listOf(host, IDC_SKIN), (std::vector<std::string>{"a.ini", "b.INI", "Brellin.ini"}));
        EXPECT_EQ(host.selectedItem(IDC_SKIN), 2);
        EXPECT_FALSE(host.isChecked(IDC_ALWAYS_ON_TOP));

        // Dragging: each move with the left button held applies the position
        // and then reaches the track bar itself; a move without it does nothing.
        FakeControlHost& trackBar = host.controls[IDC_VOLUME];
        host.setTrackPosition(IDC_VOLUME, 128);
        trackBar.deliver(WM_MOUSEMOVE, MK_LBUTTON, makePointLParam(5, 5));
        host.setTrackPosition(IDC_VOLUME, 90);
        trackBar.deliver(WM_MOUSEMOVE, 0, makePointLParam(6, 5));
        trackBar.deliver(WM_KEYDOWN, 37, 0);
        host.setTrackPosition(IDC_VOLUME, 64);
        host.deliver(WM_HSCROLL, 5, reinterpret_cast<LParam>(static_cast<ControlHost*>(&trackBar)));
        EXPECT_EQ(applied, (std::vector<std::int32_t>{128, 90, 64}));
        EXPECT_EQ(trackBar.handled, 3);
        EXPECT_EQ(settings.Volume, 64);
        EXPECT_TRUE(settings.playSettingsChanged);

        // Esc with the same choices leaves the flag as it was.
        settings.playSettingsChanged = false;
        host.command(IDCANCEL);
        EXPECT_TRUE(host.ended);
        EXPECT_FALSE(settings.playSettingsChanged);
        EXPECT_STREQ(settings.SkinFileName, "Brellin.ini");
        // The track bar has its own handling back.
        EXPECT_EQ(trackBar.procedure, &FakeControlHost::own);
        trackBar.deliver(WM_MOUSEMOVE, MK_LBUTTON, 0);
        EXPECT_EQ(applied.size(), 3u);
    }
    {
        // No skins in the folder: Enter applies the other choices, the skin stays.
        TempDir empty;
        PlayModeDialog dialog(system, settings, folderOf(empty), nullptr);
        DialogRig host;
        host.open(dialog);
        EXPECT_EQ(host.itemCount(IDC_SKIN), 0);
        host.selectItem(IDC_CLOCK_MODE, 1);
        host.setChecked(IDC_ALWAYS_ON_TOP, true);
        host.command(IDOK);
        EXPECT_TRUE(host.ended);
    }
    EXPECT_EQ(settings.TimerMode, 1);
    EXPECT_EQ(settings.PlayMode, 3);
    EXPECT_EQ(settings.fAlwaysOnTop, 1);
    EXPECT_STREQ(settings.SkinFileName, "Brellin.ini");
    EXPECT_TRUE(settings.playSettingsChanged);
}

// ---- the main window's commands ----

// Waits for something the engine's threads do (bounded).
template <class Condition>
bool waitFor(Condition condition) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A window system whose message boxes outlive the window that showed them
// (a failed engine start closes the window right after its message).
class RecordingWindowSystem : public FakeWindowSystem {
public:
    class Host : public FakeWindowHost {
    public:
        Host(RecordingWindowSystem& owner, const CreationRecord& creation, WindowProcedure handler)
            : FakeWindowHost(owner, creation, handler), recorder(owner) {}
        int messageBox(const char* text, const char* caption, std::uint32_t flags) override {
            recorder.boxes.push_back({text, caption, flags});
            return FakeWindowHost::messageBox(text, caption, flags);
        }
        RecordingWindowSystem& recorder;
    };
    WindowHost* createWindow(const CreationRecord& record) override {
        auto* host = new Host(*this, record, classProcedure);
        windows.push_back(host);
        return host;
    }
    std::vector<MessageBoxCall> boxes;
};

struct WindowRig {
    TempDir dir;
    RecordingWindowSystem system;
    MainWindow window{system};
    SettingsCommands commands{system, folderOf(dir)};
    FakeWindowHost* host = nullptr;

    WindowRig() {
        EXPECT_TRUE(window.create());
        host = system.windows.at(0);
        window.loadSkinAndPlace(folderOf(dir).c_str());
        commands.addTo(window.dialogs);
        writeFont(dir.path("small.brf"));
        window.engine.output.setDevice(createAudioDevice("null"));
        window.engine.setSoundFontFolder(folderOf(dir).c_str());
        EXPECT_EQ(window.engine.startEngine(), RESULT_OK);
    }
    ~WindowRig() { window.engine.shutdown(); }

    void playASong() {
        std::string body = midi::noteOn(0, 0, 60, 100) + midi::noteOff(4000, 0, 60) + midi::endOfTrack();
        const std::string path = dir.write("song.mid", midi::header(0, 1, 96) + midi::track(body));
        window.playList.openPath(path.c_str());
        window.startPlayback();
        ASSERT_TRUE(window.playing);
    }
};

TEST(SettingsCommands, ConfigureOkRestartsTheEngineAndTheSongWhileCancelLeavesThemAlone) {
    WindowRig rig;
    rig.playASong();
    EXPECT_FALSE(rig.window.isCommandAvailable(IDM_SAVE_PLAYLIST));
    EXPECT_TRUE(rig.window.isCommandAvailable(IDM_CONFIGURE));

    // A mark on the running engine that a new start does not carry over.
    rig.window.engine.sequencer->volume.store(3);
    rig.system.dialogScript = [](FakeDialogHost& dialog) {
        dialog.deliver(WM_COMMAND, makeCommandWParam(0, IDCANCEL));
    };
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_CONFIGURE));
    EXPECT_EQ(rig.system.dialogTemplates.back(), IDD_CONFIGURE);
    EXPECT_EQ(rig.window.engine.sequencer->volume.load(), 3);
    EXPECT_TRUE(rig.window.playing);

    // OK without a change still restarts; the song plays on the new engine.
    rig.system.dialogScript = [](FakeDialogHost& dialog) { dialog.deliver(WM_COMMAND, makeCommandWParam(0, IDOK)); };
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_CONFIGURE));
    ASSERT_NE(rig.window.engine.sequencer.get(), nullptr);
    EXPECT_EQ(rig.window.engine.sequencer->volume.load(), 127);
    EXPECT_TRUE(rig.window.playing);
    EXPECT_TRUE(waitFor([&] { return rig.window.levels[0].load() > 0; }));
    EXPECT_FALSE(rig.window.settings.engineSettingsChanged);
    EXPECT_TRUE(rig.system.boxes.empty());
    EXPECT_FALSE(rig.window.modalOpen);

    // A narrow screen gets the compact layout.
    rig.system.screen = Point{300, 200};
    rig.system.dialogScript = nullptr;
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_CONFIGURE));
    EXPECT_EQ(rig.system.dialogTemplates.back(), IDD_CONFIGURE_SMALL);
}

TEST(SettingsCommands, AnEngineThatCannotStartAfterConfigureEndsTheProgramWithTheMessage) {
    WindowRig rig;
    rig.playASong();
    std::filesystem::remove(rig.dir.path("small.brf"));
    rig.system.dialogScript = [](FakeDialogHost& dialog) { dialog.deliver(WM_COMMAND, makeCommandWParam(0, IDOK)); };
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_CONFIGURE));
    ASSERT_EQ(rig.system.boxes.size(), 1u);
    // The message, then where the player looked and what to do.
    const std::string& text = rig.system.boxes[0].text;
    EXPECT_EQ(text.substr(0, text.find('\n')), "Not found a Sound font.");
    EXPECT_NE(text.find("brf-tool synth"), std::string::npos) << text;
    EXPECT_EQ(rig.system.boxes[0].caption, "ERROR");
    EXPECT_EQ(rig.system.boxes[0].flags & MB_ICON_MASK, MB_ICONWARNING);
    // The window is gone, which ends the message loop.
    EXPECT_EQ(rig.window.hwnd, nullptr);
    EXPECT_TRUE(rig.system.windows.empty());
    EXPECT_EQ(rig.system.quitPosts, 1);
    EXPECT_FALSE(rig.window.playing);
    // The fallback format was tried and stays in the settings.
    EXPECT_EQ(rig.window.settings.SampleRate, 0);
    EXPECT_EQ(rig.window.settings.MaxChannels, 8);
}

TEST(SettingsCommands, PlayModeAppliesTheVolumeAndTheOrderAndLoadsAChangedSkin) {
    WindowRig rig;
    // A 300 x 60 skin beside the program.
    testing::BmpBuilder back;
    back.width = 300;
    back.height = 60;
    testing::BmpBuilder parts;
    parts.width = 200;
    parts.height = 40;
    std::string ini =
        "[Skin]\r\nBackGroundImage=big.bmp\r\nPartImage=parts.bmp\r\nLeftOfDisplay=10\r\nTopOfDisplay=5\r\n"
        "WidthOfDisplay=200\r\nHeightOfDisplay=15\r\nLeftOfVolumeOnDisplay=10\r\nTopOfVolumeOnDisplay=45\r\n"
        "LeftOfVolumeBarGroup=0\r\nTopOfVolumeBarGroup=20\r\nWidthOfVolumeBar=4\r\nHeightOfVolumeBar=10\r\n";
    for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        const std::string name = SKIN_BUTTON_NAMES[i];
        ini += "LeftOf" + name + "=" + std::to_string(10 + 30 * i) + "\r\nTopOf" + name + "=30\r\nWidthOf" + name +
               "=20\r\nHeightOf" + name + "=10\r\nLeftOfPressed" + name + "=" + std::to_string(20 * i) +
               "\r\nTopOfPressed" + name + "=0\r\n";
    }
    rig.dir.write("Big.ini", ini);
    rig.dir.write("big.bmp", back.build());
    rig.dir.write("parts.bmp", parts.build());
    ASSERT_EQ(rig.host->width, 240);
    rig.window.settings.playSettingsChanged = false;

    rig.system.dialogScript = [](FakeDialogHost& dialog) {
        ASSERT_EQ(dialog.itemCount(IDC_SKIN), 1);
        dialog.selectItem(IDC_SKIN, 0);
        dialog.setChecked(IDC_ALWAYS_ON_TOP, true);
        // What the watched track bar sends while it is dragged to the top.
        dialog.setTrackPosition(IDC_VOLUME, 128);
        dialog.deliver(WM_COMMAND, makeCommandWParam(0, IDC_VOLUME));
        dialog.deliver(WM_CLOSE);
    };
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_PLAY_MODE));
    EXPECT_EQ(rig.system.dialogTemplates.back(), IDD_PLAY_MODE);
    EXPECT_EQ(rig.window.settings.Volume, 128);
    EXPECT_EQ(rig.window.engine.sequencer->volume.load(), 127);
    EXPECT_TRUE(rig.host->topmost);
    EXPECT_STREQ(rig.window.settings.SkinFileName, "Big.ini");
    EXPECT_TRUE(rig.window.settings.playSettingsChanged);
    EXPECT_EQ(rig.host->width, 300);
    EXPECT_EQ(rig.host->height, 60);
}

TEST(SettingsCommands, RegisterTheirTwoDialogsAndTemplates) {
    FakeWindowSystem system;
    MainWindow window(system);
    SettingsCommands commands(system, "/nonexistent/");
    commands.addTo(window.dialogs);
    EXPECT_TRUE(window.dialogs.provides(IDM_CONFIGURE));
    EXPECT_TRUE(window.dialogs.provides(IDM_PLAY_MODE));
    EXPECT_FALSE(window.dialogs.provides(IDM_OPEN_FILES));
    EXPECT_NE(findDialogTemplate(IDD_CONFIGURE), nullptr);
    EXPECT_NE(findDialogTemplate(IDD_CONFIGURE_SMALL), nullptr);
    EXPECT_NE(findDialogTemplate(IDD_PLAY_MODE), nullptr);
}

}  // namespace
}  // namespace brellin::test
