#include "engine/Engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/Messages.h"
#include "output/devices/AudioDevices.h"
#include "soundfont/SoundFontWriter.h"
#include "tests/TempDir.h"
#include "tests/TestSoundFont.h"
#include "tests/midi/MidiBytes.h"
#include "ui/model/PlayList.h"

using namespace brellin;
using brellin::testing::TempDir;

namespace {

struct Shown {
    std::string text;
    std::string caption;
};

class RecordingSink : public MessageSink {
public:
    void showMessageBox(const char* text, const char* caption) override { shown.push_back({text, caption}); }
    void setBusy(bool busy) override { busyCalls.push_back(busy); }
    std::vector<Shown> shown;
    std::vector<bool> busyCalls;
};

// A null device that accepts only the formats it is told to.
class PickyDevice : public AudioDevice {
public:
    explicit PickyDevice(bool acceptOnlyFallback, bool acceptNothing = false)
        : inner(createAudioDevice("null")), onlyFallback(acceptOnlyFallback), nothing(acceptNothing) {}
    bool open(const AudioFormat& format, std::uint32_t bufferBytes, std::uint32_t bufferCount, DeviceCallback callback,
              void* context) override {
        bool fallback = format.sampleRate == 11025 && format.bitsPerSample == 8 && format.channels == 1;
        if (nothing || (onlyFallback && !fallback)) {
            lastError = RESULT_DEVICE_ERROR;
            error = "format refused";
            return false;
        }
        return inner->open(format, bufferBytes, bufferCount, callback, context);
    }
    void pause() override { inner->pause(); }
    void restart() override { inner->restart(); }
    bool write(WaveHeader* header) noexcept override { return inner->write(header); }
    void reset() override { inner->reset(); }
    void close() override { inner->close(); }
    const char* name() const override { return "picky"; }

private:
    std::unique_ptr<AudioDevice> inner;
    bool onlyFallback;
    bool nothing;
};

void writeFont(const std::string& path) { ASSERT_TRUE(brellin::testing::writeTestSoundFont(path)); }

struct Rig {
    Settings settings;
    RecordingSink sink;
    Engine engine{settings, sink};
    TempDir dir;

    explicit Rig(std::unique_ptr<AudioDevice> device = createAudioDevice("null")) {
        engine.output.setDevice(std::move(device));
        engine.setSoundFontFolder((dir.root.string() + "/").c_str());
    }
};

}  // namespace

TEST(EngineStart, BuildsTheConfiguredEngine) {
    Rig rig;
    writeFont(rig.dir.path("small.brf"));
    rig.settings.SampleRate = 2;
    rig.settings.BitRate = 1;
    rig.settings.MaxChannels = 12;
    rig.settings.fReverb = 1;
    rig.settings.ReverbLevel = 0;
    ASSERT_EQ(rig.engine.startEngine(), RESULT_OK);
    EXPECT_TRUE(rig.engine.output.isRunning());
    EXPECT_EQ(rig.engine.output.sampleRate, 44100u);
    EXPECT_EQ(rig.engine.output.bitsPerSample, 16u);
    EXPECT_EQ(rig.engine.output.channels, 2u);
    EXPECT_EQ(rig.engine.synthesizer.voiceTotal(), 12u);
    EXPECT_EQ(rig.engine.output.sourceCount(), 12u);
    ASSERT_NE(rig.engine.sequencer, nullptr);
    EXPECT_FALSE(rig.engine.sequencer->playing);
    // Reverb level 0 runs at 1; the setting keeps its 0.
    EXPECT_TRUE(rig.engine.output.reverbOn);
    EXPECT_EQ(rig.engine.output.reverbLevel.load(), 1);
    EXPECT_EQ(rig.settings.ReverbLevel, 0);
    // Volume 128 gives the Sequencer and the Synthesizer 127.
    EXPECT_EQ(rig.engine.sequencer->volume.load(), 127);
    EXPECT_EQ(rig.engine.synthesizer.userVolumeValue(), 127);
    EXPECT_TRUE(rig.sink.shown.empty());
    EXPECT_EQ(rig.engine.failedStage, EngineStage::None);
    EXPECT_EQ(rig.sink.busyCalls, (std::vector<bool>{true, false}));
}

TEST(EngineStart, RestartReplacesVoicesAndSequencer) {
    Rig rig;
    writeFont(rig.dir.path("small.brf"));
    ASSERT_EQ(rig.engine.startEngine(), RESULT_OK);
    rig.settings.MaxChannels = 4;
    ASSERT_EQ(rig.engine.startEngine(), RESULT_OK);
    EXPECT_EQ(rig.engine.synthesizer.voiceTotal(), 4u);
    EXPECT_EQ(rig.engine.output.sourceCount(), 4u);
    EXPECT_NE(rig.engine.sequencer.get(), nullptr);
    EXPECT_TRUE(rig.engine.output.isRunning());
    rig.engine.shutdown();
    EXPECT_FALSE(rig.engine.output.isRunning());
    EXPECT_EQ(rig.engine.sequencer, nullptr);
}

TEST(EngineStart, ListenersAreGivenToTheNewSequencer) {
    struct End : SongEndListener {
        void notify() override {}
    } end;
    struct Note : NoteOnListener {
        void notify() override {}
    } note;
    Rig rig;
    writeFont(rig.dir.path("small.brf"));
    rig.engine.listeners = EngineListeners{&end, &note, nullptr};
    ASSERT_EQ(rig.engine.startEngine(), RESULT_OK);
    EXPECT_EQ(rig.engine.sequencer->songEndListener, &rig.engine.songEnded);
    EXPECT_EQ(rig.engine.songEnded.wake.load(), &end);
    EXPECT_EQ(rig.engine.sequencer->noteOnListener, &note);
    EXPECT_EQ(rig.engine.sequencer->textEventListener, nullptr);
    EXPECT_EQ(rig.engine.sequencer->synthesizer, &rig.engine.synthesizer);
}

TEST(EngineStart, ShutdownWhilePlayingEndsTheSongThroughTheRenderLoop) {
    struct End : SongEndListener {
        std::atomic<int> count{0};
        void notify() override { ++count; }
    } end;
    Rig rig;
    writeFont(rig.dir.path("small.brf"));
    rig.engine.listeners = EngineListeners{&end, nullptr, nullptr};
    ASSERT_EQ(rig.engine.startEngine(), RESULT_OK);
    ASSERT_TRUE(rig.engine.sequencer->load(BRELLIN_SOURCE_DIR "/assets/demo.mid"));
    ASSERT_TRUE(rig.engine.sequencer->play());
    // The song end is only told when the slice client could take itself
    // out, that is when the Sequencer stopped before the output closed.
    rig.engine.shutdown();
    EXPECT_EQ(end.count.load(), 1);
    EXPECT_FALSE(rig.engine.songEnded.pending());  // a stop, not the end of the song
    EXPECT_EQ(rig.engine.sequencer, nullptr);
}

namespace {

// The window's transport as far as the end of a song goes: startPlayback
// plays the current file and drops a notice its stop raised; the timer steps
// the play list when a notice is pending.
class Transport : public PlayListHost {
public:
    explicit Transport(Engine& player) : engine(player) {}
    void startPlayback() override {
        engine.sequencer->stop();
        engine.songEnded.clear();
        playing = engine.sequencer->load(list->currentFile) && engine.sequencer->play();
    }
    void stopPlayback() override {
        engine.sequencer->stop();
        engine.songEnded.clear();
        playing = false;
    }
    bool isPlaying() const override { return playing; }
    void showTitle(const char*) override {}
    void rebuildRecentMenus(const TextBuffer*) override {}
    void timerTick() {
        if (engine.songEnded.take()) list->advanceAfterSong();
    }

    Engine& engine;
    PlayList* list = nullptr;
    bool playing = false;
};

}  // namespace

TEST(EngineStart, RestartWhilePlayingDoesNotSkipToTheNextSong) {
    using namespace brellin::testing;
    struct Wake : SongEndListener {
        std::atomic<int> count{0};
        void notify() override { ++count; }
    } wake;
    Rig rig;
    writeFont(rig.dir.path("small.brf"));
    // 24 ticks at 96 per quarter note and 120 per minute: a quarter of a second.
    std::string shortSong =
        rig.dir.write("short.mid", header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + noteOff(24, 0, 60) + endOfTrack()));
    rig.engine.listeners = EngineListeners{&wake, nullptr, nullptr};
    ASSERT_EQ(rig.engine.startEngine(), RESULT_OK);
    Transport transport(rig.engine);
    PlayList list(rig.settings, transport);
    transport.list = &list;
    list.openPath(shortSong.c_str());
    list.openPath(BRELLIN_SOURCE_DIR "/assets/demo.mid");
    list.currentIndex = 0;
    list.makeIndexCurrent();
    transport.startPlayback();
    ASSERT_TRUE(transport.playing);

    // The Configure dialog's restart, while the song plays.
    ASSERT_EQ(rig.engine.startEngine(), RESULT_OK);
    EXPECT_EQ(wake.count.load(), 1);  // the stop told the listener
    transport.timerTick();
    EXPECT_EQ(list.currentIndex, 0);
    EXPECT_STREQ(list.currentFile, shortSong.c_str());

    // After the restart a song that really ends still moves the list on.
    transport.startPlayback();
    ASSERT_TRUE(transport.playing);
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!rig.engine.songEnded.pending() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(rig.engine.songEnded.pending());
    transport.timerTick();
    EXPECT_EQ(list.currentIndex, 1);
    EXPECT_STREQ(list.currentFile, BRELLIN_SOURCE_DIR "/assets/demo.mid");
    rig.engine.shutdown();
}

TEST(EngineStart, SequencerPlaysThroughAGivenRelay) {
    Rig rig;
    writeFont(rig.dir.path("small.brf"));
    SynthesizerInterface* relay = &rig.engine.synthesizer;  // any interface in front of it
    struct Relay : SynthesizerInterface {
        explicit Relay(SynthesizerInterface* to) : target(to) {}
        bool sendMidi(const std::uint8_t* bytes, std::uint32_t length) override {
            return target->sendMidi(bytes, length);
        }
        bool reset() override { return target->reset(); }
        std::uint32_t outputTime() override { return target->outputTime(); }
        SliceClientHandle addSliceClient(ClockCallback call, void* argument, SliceOrder order) override {
            return target->addSliceClient(call, argument, order);
        }
        void removeSliceClient(SliceClientHandle handle) override { target->removeSliceClient(handle); }
        void setSystemVolume(std::int32_t value) override { target->setSystemVolume(value); }
        void setUserVolume(std::int32_t value) override { target->setUserVolume(value); }
        SynthesizerInterface* target;
    } front(relay);
    rig.engine.sequencerTarget = &front;
    ASSERT_EQ(rig.engine.startEngine(), RESULT_OK);
    EXPECT_EQ(rig.engine.sequencer->synthesizer, &front);
}

TEST(EngineStart, OutputThatCannotOpenGivesUnsupportedData) {
    Rig rig(std::make_unique<PickyDevice>(false, true));
    writeFont(rig.dir.path("small.brf"));
    EXPECT_EQ(rig.engine.startEngine(), RESULT_UNSUPPORTED_DATA);
    EXPECT_EQ(rig.engine.failedStage, EngineStage::Output);
    EXPECT_EQ(rig.engine.sequencer, nullptr);
}

TEST(EngineFallback, RefusedFormatFallsBackAndTellsWithMessageFour) {
    Rig rig(std::make_unique<PickyDevice>(true));
    writeFont(rig.dir.path("small.brf"));
    rig.settings.SampleRate = 2;
    rig.settings.BitRate = 1;
    ASSERT_TRUE(rig.engine.startAtProgramStart());
    ASSERT_EQ(rig.sink.shown.size(), 1u);
    EXPECT_EQ(rig.sink.shown[0].text, "[0004] : Cannot change to your setting. Changed to 11K/8bit/mono/8ch.");
    EXPECT_EQ(rig.sink.shown[0].caption, "Brellin Message");
    EXPECT_EQ(rig.engine.output.sampleRate, 11025u);
    EXPECT_EQ(rig.engine.output.channels, 1u);
    EXPECT_EQ(rig.engine.synthesizer.voiceTotal(), 8u);
    // The fallback values stay in the Settings.
    EXPECT_EQ(rig.settings.SampleRate, 0);
    EXPECT_EQ(rig.settings.BitRate, 0);
    EXPECT_EQ(rig.settings.fStereo, 0);
    EXPECT_EQ(rig.settings.MaxChannels, 8);
}

TEST(EngineFallback, NoSoundFontAnywhereIsMessageTwo) {
    Rig rig;
    EXPECT_FALSE(rig.engine.startAtProgramStart());
    EXPECT_EQ(rig.engine.lastStartCode, RESULT_NO_SOUND_FONT);
    EXPECT_EQ(rig.engine.failedStage, EngineStage::SoundFont);
    EXPECT_EQ(rig.engine.searchedFolder(), rig.dir.root.string() + "/");
    ASSERT_EQ(rig.sink.shown.size(), 1u);
    // The numbered line first, then where the player looked and how to make one.
    const std::string& shown = rig.sink.shown[0].text;
    const std::string folder = rig.dir.root.string() + "/";
    EXPECT_EQ(shown.rfind("[0002] : Not found a Sound font.\n", 0), 0u) << shown;
    EXPECT_NE(shown.find("'small.brf'"), std::string::npos) << shown;
    EXPECT_NE(shown.find("in " + folder), std::string::npos) << shown;
    EXPECT_NE(shown.find("brf-tool synth \"" + folder + "small.brf\""), std::string::npos) << shown;
}

TEST(EngineFallback, ADamagedSoundFontIsNamedAsDamagedNotAsADeviceFailure) {
    Rig rig;
    rig.dir.write("small.brf", "BRF1 but cut short");
    EXPECT_FALSE(rig.engine.startAtProgramStart());
    EXPECT_EQ(rig.engine.failedStage, EngineStage::SoundFont);
    EXPECT_EQ(rig.engine.damagedSoundFont(), rig.dir.path("small.brf"));
    ASSERT_EQ(rig.sink.shown.size(), 1u);
    const std::string& shown = rig.sink.shown[0].text;
    EXPECT_EQ(shown.rfind("[0005] : The sound font 'small.brf' is damaged and cannot be read.\n", 0), 0u) << shown;
    EXPECT_EQ(shown.find("SoundDevice"), std::string::npos) << shown;
    EXPECT_NE(shown.find("brf-tool info \"" + rig.dir.path("small.brf") + "\""), std::string::npos) << shown;
}

TEST(EngineFallback, DeviceRefusingEverythingIsMessageThree) {
    Rig rig(std::make_unique<PickyDevice>(false, true));
    writeFont(rig.dir.path("small.brf"));
    EXPECT_FALSE(rig.engine.startAtProgramStart());
    ASSERT_EQ(rig.sink.shown.size(), 1u);
    EXPECT_EQ(rig.sink.shown[0].text, "[0003] : Cannot open SoundDevice. Exit Brellin when push OK.");
}

TEST(EngineSoundFont, MissingFontFallsBackToTheFirstListedBrfAndSaysSo) {
    Rig rig;
    std::filesystem::create_directory(rig.dir.root / "aaa.brf");  // a folder is never a font
    writeFont(rig.dir.path("Other.BRF"));
    std::snprintf(rig.settings.SoundFontName, sizeof rig.settings.SoundFontName, "%s", "missing.brf");
    EXPECT_EQ(rig.engine.findSoundFont((rig.dir.root.string() + "/").c_str()), RESULT_OK);
    EXPECT_STREQ(rig.settings.SoundFontName, "Other.BRF");
    ASSERT_EQ(rig.sink.shown.size(), 1u);
    EXPECT_EQ(rig.sink.shown[0].text, "[0000] : Because 'missing.brf' was not found, read 'Other.BRF' instead.");
}

TEST(EngineSoundFont, FallbackIsTheFirstFileTheListingGives) {
    Rig rig;
    writeFont(rig.dir.path("one.brf"));
    writeFont(rig.dir.path("two.brf"));
    std::snprintf(rig.settings.SoundFontName, sizeof rig.settings.SoundFontName, "%s", "gone.brf");
    DirectoryListing listing;
    ASSERT_TRUE(listing.scan(rig.dir.root.c_str(), "*.BRF"));
    std::string first = listing.entry(0)->name;
    EXPECT_EQ(rig.engine.findSoundFont((rig.dir.root.string() + "/").c_str()), RESULT_OK);
    EXPECT_EQ(std::string(rig.settings.SoundFontName), first);
}

TEST(EngineSoundFont, OnlyAFolderNamedLikeAFontIsNoSoundFont) {
    Rig rig;
    std::filesystem::create_directory(rig.dir.root / "small.brf");
    EXPECT_EQ(rig.engine.findSoundFont((rig.dir.root.string() + "/").c_str()), RESULT_NO_SOUND_FONT);
    EXPECT_STREQ(rig.settings.SoundFontName, "small.brf");
    EXPECT_TRUE(rig.sink.shown.empty());
}

TEST(EngineSoundFont, BadNamedFontLeadsToTheSearchAndABadCandidateIsTheLoadersCode) {
    Rig rig;
    rig.dir.write("small.brf", "XXXX not a sound font");
    // The named font is bad, and the only other candidate (itself, listed
    // first) is bad too: its load error is returned and nothing is shown.
    ResultCode code = rig.engine.findSoundFont((rig.dir.root.string() + "/").c_str());
    EXPECT_TRUE(failed(code));
    EXPECT_NE(code, RESULT_NO_SOUND_FONT);
    EXPECT_EQ(code, rig.engine.synthesizer.lastError);
    EXPECT_TRUE(rig.sink.shown.empty());
}

TEST(EngineSoundFont, LongNamesInTheNoteDoNotOverflowTheMessage) {
    Rig rig;
    std::string longName = std::string(200, 'n') + ".brf";
    writeFont(rig.dir.path(longName));
    std::snprintf(rig.settings.SoundFontName, sizeof rig.settings.SoundFontName, "%s", std::string(250, 'm').c_str());
    EXPECT_EQ(rig.engine.findSoundFont((rig.dir.root.string() + "/").c_str()), RESULT_OK);
    ASSERT_EQ(rig.sink.shown.size(), 1u);
    EXPECT_EQ(rig.sink.shown[0].text.size(), 127u);
    EXPECT_EQ(rig.sink.shown[0].text.rfind("[0000] : Because 'mmm", 0), 0u);
    EXPECT_EQ(std::string(rig.settings.SoundFontName), longName);
}

TEST(EngineMessages, ComposeNumberedAndCut) {
    char out[MESSAGE_SIZE];
    composeMessage(out, "Not found a Sound font.", 2);
    EXPECT_STREQ(out, "[0002] : Not found a Sound font.");
    composeMessage(out, "x", 12345);
    EXPECT_STREQ(out, "[12345] : x");
    std::string text(300, 'a');
    composeMessage(out, text.c_str(), 0);
    EXPECT_EQ(std::string(out).size(), 127u);
    // A two-byte character that would be split at the end is left out whole.
    std::string accents = std::string(117, 'b') + "\xC3\xA9\xC3\xA9";  // 9 + 117 = 126, then é at 126..127
    composeMessage(out, accents.c_str(), 0);
    EXPECT_EQ(std::string(out), "[0000] : " + std::string(117, 'b'));
    EXPECT_EQ(std::string(Engine::failureText(RESULT_DEVICE_ERROR)), TEXT_CANNOT_OPEN_DEVICE);
}

TEST(EngineStart, FromASettingsFileAsThePlayerBuildsIt) {
    Rig rig;
    writeFont(rig.dir.path("mine.brf"));
    std::string cfg = rig.dir.write("Brellin.cfg",
                                    "[SoundSetting]\nSampleRate=11025\nBitRate=16\nfStereo=0\nMaxChannels=6\n"
                                    "fLowPassFilter=1\nfReverb=1\nReverbLevel=9\nSoundFontName=mine.brf\n"
                                    "[PlaySetting]\nVolume=40\n");
    rig.settings.loadSettingsFrom(cfg.c_str(), nullptr, 0, NO_SCREEN);
    ASSERT_EQ(rig.engine.startEngine(), RESULT_OK);
    EXPECT_EQ(rig.engine.output.sampleRate, 11025u);
    EXPECT_EQ(rig.engine.output.bitsPerSample, 16u);
    EXPECT_EQ(rig.engine.output.channels, 1u);
    EXPECT_TRUE(rig.engine.output.lowPassOn);
    EXPECT_EQ(rig.engine.output.reverbLevel.load(), 6);
    EXPECT_EQ(rig.engine.synthesizer.voiceTotal(), 6u);
    EXPECT_EQ(rig.engine.sequencer->volume.load(), 40);
    EXPECT_TRUE(rig.sink.shown.empty());  // the named font was found
}
