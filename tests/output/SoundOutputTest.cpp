// The render loop: buffer geometry in all twelve formats, the clock and its
// callback, silence, the catch-up rule, open and close, the source list.
#include "output/SoundOutput.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/output/OutputTestSupport.h"

namespace brellin {
namespace {

using testing::ConstantSource;
using testing::isSilence;
using testing::ScriptedDevice;

struct Format {
    std::uint32_t rate, bits, channels, bufferBytes, samplesPerSlice, reverbLast;
};

// The table of buffer sizes, with slice length and delay line per format.
const Format formats[] = {
    {11025, 8, 1, 704, 44, 511},
    {11025, 8, 2, 1408, 44, 1023},
    {11025, 16, 1, 1408, 44, 511},
    {11025, 16, 2, 2816, 44, 1023},
    {22050, 8, 1, 1408, 88, 1023},
    {22050, 8, 2, 2816, 88, 2047},
    {22050, 16, 1, 2816, 88, 1023},
    {22050, 16, 2, 5632, 88, 2047},
    {44100, 8, 1, 2816, 176, 2047},
    {44100, 8, 2, 5632, 176, 4095},
    {44100, 16, 1, 5632, 176, 2047},
    {44100, 16, 2, 11264, 176, 4095},
    // Other rates: slices to the nearest frame, the delay line still 46.4 ms.
    {48000, 16, 2, 12288, 192, 4457},
    {32000, 8, 1, 2048, 128, 1485},
};

class Fixture {
public:
    Fixture() {
        auto owned = std::make_unique<ScriptedDevice>();
        device = owned.get();
        output.setDevice(std::move(owned));
    }
    SoundOutput output;
    ScriptedDevice* device;
};

// ---- every format ----

class RenderLoopFormat : public ::testing::TestWithParam<Format> {};

TEST_P(RenderLoopFormat, GeometryOpeningSilenceAndRenderedBuffers) {
    const Format f = GetParam();
    Fixture fx;
    ASSERT_TRUE(fx.output.open(f.bits, f.rate, f.channels));
    EXPECT_TRUE(fx.output.isRunning());
    EXPECT_EQ(fx.output.bufferBytes(), f.bufferBytes);
    EXPECT_EQ(fx.output.samplesPerSlice, f.samplesPerSlice);
    EXPECT_EQ(fx.output.reverbLast, f.reverbLast);
    EXPECT_EQ(fx.device->format.sampleRate, f.rate);
    EXPECT_EQ(fx.device->format.bitsPerSample, f.bits);
    EXPECT_EQ(fx.device->format.channels, f.channels);
    EXPECT_EQ(fx.device->bufferBytes, f.bufferBytes);
    EXPECT_EQ(fx.device->bufferCount, 8u);
    EXPECT_EQ(fx.device->restarts, 1);

    // Eight buffers of silence were queued while the device was paused.
    auto opening = fx.device->written();
    ASSERT_EQ(opening.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_TRUE(fx.device->writtenWhilePaused[i]);
        ASSERT_EQ(opening[i].size(), f.bufferBytes);
        EXPECT_TRUE(isSilence(opening[i].data(), opening[i].size(), f.bits)) << "opening buffer " << i;
    }

    const std::int32_t scale = f.bits == 8 ? 1 : 256;
    ConstantSource source(10 * scale, -20 * scale, f.channels);
    ASSERT_TRUE(fx.output.attachSource(&source, f.channels));
    const std::uint32_t clockBefore = fx.output.clock.load();

    fx.device->handBack(8);
    ASSERT_TRUE(fx.device->waitWrites(16));
    EXPECT_EQ(fx.output.clock.load() - clockBefore, 8u * 64u);
    EXPECT_EQ(source.mixCalls.load(), 8u * 16u);
    EXPECT_EQ(source.lastFrames.load(), f.samplesPerSlice);

    const auto all = fx.device->written();
    for (std::size_t b = 8; b < 16; ++b) {
        ASSERT_EQ(all[b].size(), f.bufferBytes);
        for (std::size_t i = 0; i < all[b].size();) {
            for (std::uint32_t c = 0; c < f.channels; ++c) {
                const std::int32_t v = c == 0 ? 10 : -20;
                if (f.bits == 8) {
                    ASSERT_EQ(all[b][i], 128 + v) << "buffer " << b << " byte " << i;
                    i += 1;
                } else {
                    ASSERT_EQ(static_cast<std::int16_t>(all[b][i] | (all[b][i + 1] << 8)), v * 256)
                        << "buffer " << b << " byte " << i;
                    i += 2;
                }
            }
        }
    }
    fx.output.close();
    EXPECT_FALSE(fx.output.isRunning());
}

TEST_P(RenderLoopFormat, SilenceWithoutSourcesAndTheClockStillAdvances) {
    const Format f = GetParam();
    Fixture fx;
    ASSERT_TRUE(fx.output.open(f.bits, f.rate, f.channels));
    fx.device->handBack(8);
    ASSERT_TRUE(fx.device->waitWrites(16));
    EXPECT_EQ(fx.output.clock.load(), 8u * 64u);
    const auto all = fx.device->written();
    for (std::size_t b = 8; b < 16; ++b) EXPECT_TRUE(isSilence(all[b].data(), all[b].size(), f.bits)) << b;
}

INSTANTIATE_TEST_SUITE_P(AllTwelve, RenderLoopFormat, ::testing::ValuesIn(formats),
                         [](const ::testing::TestParamInfo<Format>& testInfo) {
                             return std::to_string(testInfo.param.rate) + "Hz" + std::to_string(testInfo.param.bits) +
                                    "bit" + (testInfo.param.channels == 2 ? "Stereo" : "Mono");
                         });

// ---- the clock and its callback ----

struct CallbackLog {
    SoundOutput* output = nullptr;
    ConstantSource* source = nullptr;
    std::vector<std::uint32_t> callbackClocks;
    std::vector<std::uint32_t> mixCallsAtCallback;
};

void logCallback(void* argument) {
    auto* log = static_cast<CallbackLog*>(argument);
    log->callbackClocks.push_back(log->output->clock.load());
    log->mixCallsAtCallback.push_back(log->source ? log->source->mixCalls.load() : 0);
}

TEST(RenderLoopClock, CallbackRunsBeforeEverySliceAfterTheClockAdvanced) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(16, 22050, 2));
    ConstantSource source(1, 1, 2);
    ASSERT_TRUE(fx.output.attachSource(&source, 0));
    CallbackLog log;
    log.output = &fx.output;
    log.source = &source;
    const SliceClientHandle client = fx.output.addSliceClient(logCallback, &log, SliceOrder::Song);
    fx.device->handBack(2);
    ASSERT_TRUE(fx.device->waitWrites(10));
    fx.output.removeSliceClient(client);
    ASSERT_EQ(log.callbackClocks.size(), 32u);
    for (std::size_t i = 0; i < 32; ++i) {
        EXPECT_EQ(log.callbackClocks[i], 4u * (i + 1)) << "slice " << i;
        EXPECT_EQ(log.mixCallsAtCallback[i], i) << "the callback of slice " << i << " comes before its mixing";
    }
    EXPECT_EQ(fx.output.clock.load(), 128u);
}

TEST(RenderLoopClock, KeptAcrossCloseAndOpen) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(8, 11025, 1));
    fx.device->handBack(3);
    ASSERT_TRUE(fx.device->waitWrites(11));
    EXPECT_EQ(fx.output.clock.load(), 192u);
    fx.output.close();
    EXPECT_EQ(fx.output.clock.load(), 192u);
    ASSERT_TRUE(fx.output.open(16, 44100, 2));
    EXPECT_EQ(fx.output.clock.load(), 192u);
    fx.device->handBack(1);
    ASSERT_TRUE(fx.device->waitWrites(9));
    EXPECT_EQ(fx.output.clock.load(), 256u);
}

// A client that takes itself out on its first call, and with it a client of
// the same slice that was added after it: neither is called again.
struct SelfRemoving {
    SoundOutput* output = nullptr;
    SliceClientHandle self = 0;
    SliceClientHandle other = 0;
    int calls = 0;
};

void removeItself(void* argument) {
    auto* state = static_cast<SelfRemoving*>(argument);
    ++state->calls;
    state->output->removeSliceClient(state->self);
    state->output->removeSliceClient(state->other);
}

void countCall(void* argument) { ++*static_cast<int*>(argument); }

TEST(RenderLoopClock, AClientMayRemoveItselfAndOthers) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(8, 11025, 1));
    SelfRemoving state{&fx.output};
    int laterCalls = 0;
    state.self = fx.output.addSliceClient(removeItself, &state, SliceOrder::Song);
    state.other = fx.output.addSliceClient(countCall, &laterCalls, SliceOrder::Watch);
    fx.device->handBack(2);
    ASSERT_TRUE(fx.device->waitWrites(10));
    EXPECT_EQ(state.calls, 1);
    EXPECT_LE(laterCalls, 1) << "taken out during the slice it was copied for: that one call at most";
    EXPECT_EQ(fx.output.sliceClientCount(), 0u);
}

// Clients are called by rank, those of one rank in the order added, and a
// removal out of that order leaves the others as they were.
TEST(RenderLoopClock, ClientsRunInRankOrderAndLeaveInAnyOrder) {
    SliceClientList list;
    std::vector<int> calls;
    struct Mark {
        std::vector<int>* calls;
        int id;
    };
    Mark marks[SliceClientList::CAPACITY + 1];
    auto record = [](void* argument) {
        auto* mark = static_cast<Mark*>(argument);
        mark->calls->push_back(mark->id);
    };
    const SliceOrder ranks[] = {SliceOrder::Watch, SliceOrder::Song, SliceOrder::Live, SliceOrder::Song};
    SliceClientHandle handles[4];
    for (int i = 0; i < 4; ++i) {
        marks[i] = Mark{&calls, i};
        handles[i] = list.add(record, &marks[i], ranks[i]);
        EXPECT_NE(handles[i], 0u);
    }
    list.callAll();
    EXPECT_EQ(calls, (std::vector<int>{1, 3, 2, 0}));

    calls.clear();
    EXPECT_TRUE(list.remove(handles[1]));
    EXPECT_FALSE(list.remove(handles[1])) << "a handle names its client once";
    EXPECT_FALSE(list.remove(0));
    list.callAll();
    EXPECT_EQ(calls, (std::vector<int>{3, 2, 0}));

    // Full: the ninth is refused, and so is a null routine.
    for (std::uint32_t i = list.count(); i < SliceClientList::CAPACITY; ++i) {
        EXPECT_NE(list.add(record, &marks[SliceClientList::CAPACITY], SliceOrder::Live), 0u);
    }
    EXPECT_EQ(list.add(record, &marks[SliceClientList::CAPACITY], SliceOrder::Song), 0u);
    EXPECT_TRUE(list.remove(handles[0]));
    EXPECT_EQ(list.add(nullptr, nullptr, SliceOrder::Song), 0u);
    EXPECT_NE(list.add(record, &marks[0], SliceOrder::Song), 0u);
}

TEST(RenderLoopClock, ClientsSurviveCloseAndOpen) {
    Fixture fx;
    int calls = 0;
    fx.output.addSliceClient(countCall, &calls, SliceOrder::Song);
    ASSERT_TRUE(fx.output.open(8, 11025, 1));
    fx.output.close();
    ASSERT_TRUE(fx.output.open(8, 11025, 1));
    fx.device->handBack(1);
    ASSERT_TRUE(fx.device->waitWrites(9));
    EXPECT_EQ(calls, 16);
}

// ---- catch-up ----

TEST(RenderLoopCatchUp, FromTheTwelfthBufferInOneWakeUpSilenceWithoutClock) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(8, 22050, 1));
    ConstantSource source(50, 0, 1);
    ASSERT_TRUE(fx.output.attachSource(&source, 1));
    int calls = 0;
    const SliceClientHandle client = fx.output.addSliceClient(countCall, &calls, SliceOrder::Song);
    // The device returns the next 20 buffers at once, as an overloaded
    // machine would find them: one wake-up sees 28 buffers done in a row.
    fx.device->setAutoReturn(20);
    fx.device->handBack(8);
    ASSERT_TRUE(fx.device->waitWrites(8 + 28));
    ASSERT_TRUE(fx.device->waitIdles(1)) << "the wake-up has ended";
    const auto all = fx.device->written();
    for (std::size_t i = 0; i < 28; ++i) {
        const auto& buffer = all[8 + i];
        if (i < 12) {
            EXPECT_EQ(buffer[0], 128 + 50) << "buffer " << i << " of the wake-up is rendered";
        } else {
            EXPECT_TRUE(isSilence(buffer.data(), buffer.size(), 8)) << "buffer " << i << " of the wake-up is silence";
        }
    }
    EXPECT_EQ(fx.output.clock.load(), 12u * 64u);
    EXPECT_EQ(source.mixCalls.load(), 12u * 16u);
    fx.output.removeSliceClient(client);
    EXPECT_EQ(calls, 12 * 16);
    EXPECT_EQ(fx.device->writeCount(), 8u + 28u) << "the ring is full again";

    // The count starts again at the next wake-up.
    fx.device->handBack(1);
    ASSERT_TRUE(fx.device->waitWrites(8 + 29));
    EXPECT_EQ(fx.device->written().back()[0], 128 + 50);
    EXPECT_EQ(fx.output.clock.load(), 13u * 64u);
}

// ---- open and close ----

TEST(SoundOutputOpen, UnsupportedRatesFailWith80000001AndStayClosed) {
    for (std::uint32_t rate : {0u, 8000u, 11024u, 48001u, 96000u}) {
        Fixture fx;
        EXPECT_FALSE(fx.output.open(16, rate, 2)) << rate;
        EXPECT_EQ(fx.output.lastError, static_cast<ResultCode>(0x80000001u)) << rate;
        EXPECT_FALSE(fx.output.isRunning());
        EXPECT_EQ(fx.device->opens, 0);
        EXPECT_EQ(fx.output.bufferBytes(), 0u);
    }
}

TEST(SoundOutputOpen, DeviceFailureIs80000003AndCloseCleansUp) {
    Fixture fx;
    fx.device->failOpen = true;
    EXPECT_FALSE(fx.output.open(16, 44100, 2));
    EXPECT_EQ(fx.output.lastError, RESULT_DEVICE_ERROR);
    EXPECT_STREQ(fx.output.deviceErrorText(), "scripted failure");
    EXPECT_FALSE(fx.output.isRunning());
    fx.output.close();
    fx.device->failOpen = false;
    EXPECT_TRUE(fx.output.open(16, 44100, 2));
    EXPECT_EQ(fx.output.lastError, RESULT_OK);
}

TEST(SoundOutputOpen, AFailedBufferWriteReleasesEverything) {
    Fixture fx;
    fx.device->failWriteAt = 3;
    EXPECT_FALSE(fx.output.open(8, 11025, 1));
    EXPECT_EQ(fx.output.lastError, RESULT_DEVICE_ERROR);
    EXPECT_FALSE(fx.output.isRunning());
    EXPECT_EQ(fx.device->resets, 1);
    EXPECT_EQ(fx.device->closes, 1);
    EXPECT_EQ(fx.output.bufferBytes(), 0u);
}

TEST(SoundOutputOpen, OpenResetsTheEffectsAndChoosesThePlainRoutine) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(16, 22050, 2));
    fx.output.reverbOn = true;
    fx.output.lowPassOn = true;
    fx.output.chooseConverter();
    EXPECT_EQ(fx.output.converter.load(), selectConverter(16, true, true, 2));
    fx.output.reverbLine[17] = 99;
    fx.output.filterHistory[3] = 99;
    fx.output.reverbIndex = 5;
    fx.output.filterIndex = 6;
    ASSERT_TRUE(fx.output.open(8, 11025, 1));
    EXPECT_FALSE(fx.output.reverbOn);
    EXPECT_FALSE(fx.output.lowPassOn);
    EXPECT_EQ(fx.output.converter.load(), selectConverter(8, false, false, 1));
    EXPECT_EQ(fx.output.reverbLine[17], 0);
    EXPECT_EQ(fx.output.filterHistory[3], 0);
    EXPECT_EQ(fx.output.reverbIndex, 0u);
    EXPECT_EQ(fx.output.filterIndex, 0u);
}

TEST(SoundOutputOpen, ReverbSwitchedOnWhilePlayingIsUsedFromTheNextSlice) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(16, 11025, 1));
    ConstantSource source(1000, 0, 1);
    ASSERT_TRUE(fx.output.attachSource(&source, 1));
    fx.output.reverbOn = true;
    fx.output.chooseConverter();
    fx.device->handBack(1);
    ASSERT_TRUE(fx.device->waitWrites(9));
    const auto buffer = fx.device->written()[8];
    EXPECT_EQ(static_cast<std::int16_t>(buffer[0] | (buffer[1] << 8)), 500);  // the dry signal is halved
}

TEST(SoundOutputClose, ResetsTheFormatAndKeepsTheDevice) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(16, 44100, 2));
    fx.output.close();
    EXPECT_EQ(fx.output.bitsPerSample, 8u);
    EXPECT_EQ(fx.output.channels, 1u);
    EXPECT_EQ(fx.output.sampleRate, 11025u);
    EXPECT_EQ(fx.output.lastError, RESULT_OK);
    EXPECT_EQ(fx.device->resets, 1);
    EXPECT_EQ(fx.device->closes, 1);
    EXPECT_EQ(fx.output.device(), fx.device);
    fx.output.close();  // closing twice is harmless
    EXPECT_EQ(fx.device->closes, 1);
}

TEST(SoundOutputClose, DetachesEverySourceInListOrderAndStopsIt) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(8, 11025, 2));
    std::vector<SoundSource*> stops;
    ConstantSource a(1, 1, 2), b(2, 2, 2), c(3, 3, 2);
    for (ConstantSource* s : {&a, &b, &c}) {
        s->stopLog = &stops;
        ASSERT_TRUE(fx.output.attachSource(s, 1));
    }
    EXPECT_EQ(fx.output.sourceCount(), 3u);
    fx.output.close();
    EXPECT_EQ(fx.output.sourceCount(), 0u);
    EXPECT_EQ(stops, (std::vector<SoundSource*>{&a, &b, &c}));
    for (ConstantSource* s : {&a, &b, &c}) {
        EXPECT_TRUE(s->stopRequest.load());
        EXPECT_EQ(s->next, nullptr);
        EXPECT_EQ(s->prev, nullptr);
    }
}

// ---- the source list ----

TEST(SoundOutputSources, MonoJoinsStereoButStereoDoesNotJoinMono) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(16, 22050, 2));
    ConstantSource mono(1, 1, 2);
    EXPECT_TRUE(fx.output.attachSource(&mono, 1));
    EXPECT_EQ(mono.channels, 1u);
    ASSERT_TRUE(fx.output.open(16, 22050, 1));
    ConstantSource stereo(1, 1, 1);
    EXPECT_FALSE(fx.output.attachSource(&stereo, 2));
    EXPECT_EQ(fx.output.sourceCount(), 0u);
    EXPECT_TRUE(fx.output.attachSource(&stereo, 1));
}

TEST(SoundOutputSources, AttachCopiesTheFormatAndCentresThePan) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(16, 44100, 2));
    ConstantSource source(0, 0, 2);
    source.pan = 3;
    ASSERT_TRUE(fx.output.attachSource(&source, 0));  // 0: the output's channel count
    EXPECT_EQ(source.sampleRate, 44100u);
    EXPECT_EQ(source.bits, 16u);
    EXPECT_EQ(source.channels, 2u);
    EXPECT_EQ(source.pan.load(), 64);
    EXPECT_EQ(source.output, &fx.output);
}

TEST(SoundOutputSources, RefusesMissingAndAlreadyListedSources) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(8, 11025, 1));
    EXPECT_FALSE(fx.output.attachSource(nullptr, 1));
    ConstantSource source(0, 0, 1);
    EXPECT_TRUE(fx.output.attachSource(&source, 1));
    EXPECT_FALSE(fx.output.attachSource(&source, 1));
    EXPECT_EQ(fx.output.sourceCount(), 1u);
    // The source's own attach reports a refusal as an unsupported format.
    EXPECT_FALSE(source.attach(fx.output));
    EXPECT_EQ(source.lastError, RESULT_UNSUPPORTED_FORMAT);
    fx.output.detachSource(&source);
    EXPECT_EQ(fx.output.sourceCount(), 0u);
    EXPECT_TRUE(source.attach(fx.output));
    EXPECT_EQ(source.channels, 1u);
}

TEST(SoundOutputSources, DetachOfAnUnlistedSourceChangesNothing) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(8, 11025, 1));
    ConstantSource listed(0, 0, 1), stranger(0, 0, 1);
    ASSERT_TRUE(fx.output.attachSource(&listed, 1));
    fx.output.detachSource(&stranger);
    fx.output.detachSource(nullptr);
    EXPECT_EQ(fx.output.sourceCount(), 1u);
    EXPECT_FALSE(stranger.stopRequest.load());
}

TEST(SoundOutputSources, AllSourcesAddUpAndADetachedOneIsNoLongerMixed) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(8, 11025, 1));
    ConstantSource a(10, 0, 1), b(20, 0, 1), c(40, 0, 1);
    ASSERT_TRUE(fx.output.attachSource(&a, 1));
    ASSERT_TRUE(fx.output.attachSource(&b, 1));
    ASSERT_TRUE(fx.output.attachSource(&c, 1));
    fx.device->handBack(1);
    ASSERT_TRUE(fx.device->waitWrites(9));
    EXPECT_EQ(fx.device->written()[8][0], 128 + 70);
    fx.output.detachSource(&b);
    const std::uint32_t callsOfB = b.mixCalls.load();
    fx.device->handBack(1);
    ASSERT_TRUE(fx.device->waitWrites(10));
    EXPECT_EQ(fx.device->written()[9][0], 128 + 50);
    EXPECT_EQ(b.mixCalls.load(), callsOfB);
}

struct DetachAt {
    SoundOutput* output;
    SoundSource* source;
    std::uint32_t clock;
};

void detachWhenDue(void* argument) {
    auto* at = static_cast<DetachAt*>(argument);
    if (at->output->clock.load() == at->clock) at->output->detachSource(at->source);
}

TEST(SoundOutputSources, ASliceClientMayDetachASource) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(8, 11025, 1));
    ConstantSource source(10, 0, 1);
    ASSERT_TRUE(fx.output.attachSource(&source, 1));
    // Slice 4 of the first buffer sees clock 20; its callback removes the source.
    DetachAt at{&fx.output, &source, 20};
    const SliceClientHandle client = fx.output.addSliceClient(detachWhenDue, &at, SliceOrder::Song);
    fx.device->handBack(1);
    ASSERT_TRUE(fx.device->waitWrites(9));
    fx.output.removeSliceClient(client);
    EXPECT_EQ(source.mixCalls.load(), 4u);
    EXPECT_EQ(fx.output.sourceCount(), 0u);
    const auto buffer = fx.device->written()[8];
    EXPECT_EQ(buffer[4 * 44 - 1], 128 + 10);
    EXPECT_EQ(buffer[4 * 44], 128);
}

TEST(SoundOutputSources, ASourceWithoutMixRoutineIsSkipped) {
    Fixture fx;
    ASSERT_TRUE(fx.output.open(8, 11025, 1));
    ConstantSource a(10, 0, 1);
    SoundSource bare;  // mix not set yet
    ASSERT_TRUE(fx.output.attachSource(&bare, 1));
    ASSERT_TRUE(fx.output.attachSource(&a, 1));
    fx.device->handBack(1);
    ASSERT_TRUE(fx.device->waitWrites(9));
    EXPECT_EQ(fx.device->written()[8][0], 128 + 10);
    fx.output.close();  // `bare` has no destructor that leaves the list
}

// ---- a device that pulls (a sound server) ----

struct PulledRender {
    std::vector<std::uint8_t> bytes;
    std::uint32_t sliceCalls = 0;
    std::uint32_t clock = 0;
};

// Renders `frames` frames of a CountingSource in pieces from `pieces` (cycled).
PulledRender pull(std::uint32_t frames, const std::vector<std::uint32_t>& pieces, bool effects) {
    SoundOutput output;
    auto owned = std::make_unique<testing::PullingDevice>();
    testing::PullingDevice* device = owned.get();
    output.setDevice(std::move(owned));
    PulledRender result;
    EXPECT_TRUE(output.open(8, 22050, 1));
    EXPECT_EQ(output.sampleRate, 48000u);
    EXPECT_EQ(output.bufferBytes(), 0u);
    output.reverbOn = effects;
    output.lowPassOn = effects;
    output.chooseConverter();
    testing::CountingSource source(2, 256);
    EXPECT_TRUE(output.attachSource(&source, 2));
    output.addSliceClient([](void* calls) noexcept { ++*static_cast<std::uint32_t*>(calls); }, &result.sliceCalls,
                          SliceOrder::Watch);
    const std::uint32_t before = output.clock.load();
    result.bytes.resize(static_cast<std::size_t>(frames) * 4);
    std::uint32_t done = 0;
    for (std::size_t i = 0; done < frames; ++i) {
        const std::uint32_t piece = std::min(pieces[i % pieces.size()], frames - done);
        device->renderer->renderFrames(result.bytes.data() + done * 4, piece);
        done += piece;
    }
    result.clock = output.clock.load() - before;
    output.detachSource(&source);
    return result;
}

TEST(PullingDevice, PiecesOfAnySizeRenderWhatWholeSlicesRender) {
    // 32 slices of 192 frames at the server's 48000 Hz, in periods and odd
    // pieces: the same bytes as the render loop's, the slice clients and
    // the clock at each slice's first frame, the effects carried across pieces.
    const std::uint32_t frames = 32 * 192;
    const std::vector<std::uint32_t> odd = {64, 1, 191, 7, 256, 3, 500, 64, 128};
    const PulledRender reference = pull(frames, {192}, false);
    EXPECT_EQ(reference.bytes, testing::referenceRender(16, 48000, 2, 2));
    const PulledRender pieces = pull(frames, odd, false);
    EXPECT_EQ(pieces.bytes, reference.bytes);
    EXPECT_EQ(pieces.sliceCalls, 32u);
    EXPECT_EQ(pieces.clock, 32u * SoundOutput::CLOCK_PER_SLICE);
    EXPECT_EQ(pull(frames, odd, true).bytes, pull(frames, {192}, true).bytes);
    // One frame into the next slice starts it.
    EXPECT_EQ(pull(frames + 1, odd, false).sliceCalls, 33u);
}

}  // namespace
}  // namespace brellin
