// SoundSource: the element of the SoundOutput's list of sources.
//
// The render thread calls every attached source's `mix` once per slice; the
// source adds `frames` frames of its sound into the 32-bit accumulator
// (first channel first in stereo) on the scale of the output width
// (±128 for 8-bit, ±32768 for 16-bit). Sources only add; the conversion
// routine clips. The one kind of source the program creates is the Voice.
//
// A source is mixed through its `mix` routine pointer, chosen once when it
// attaches (a Voice picks one of its generated mix routines), not through a
// virtual call per slice.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/ResultCode.h"

namespace brellin {

class SoundOutput;
class SoundSource;

// The routine the render thread calls per slice: adds `frames` frames into `accumulator`.
using MixRoutine = void (*)(SoundSource* source, std::int32_t* accumulator, std::uint32_t frames) noexcept;

class SoundSource {
public:
    SoundSource() = default;
    SoundSource(const SoundSource&) = delete;
    SoundSource& operator=(const SoundSource&) = delete;
    virtual ~SoundSource() = default;

    // Joins the output's source list; false with RESULT_UNSUPPORTED_FORMAT when refused.
    virtual bool attach(SoundOutput& target);
    // Clears the stop request.
    virtual void resume() { stopRequest.store(false, std::memory_order_release); }
    // Raises the stop request and returns at once: the next pitched mix call
    // switches the source off instead of mixing.
    virtual void stop() { stopRequest.store(true, std::memory_order_release); }

    ResultCode lastError = RESULT_OK;
    SoundOutput* output = nullptr;
    std::uint32_t sampleRate = 11025;   // copied from the output at attach
    std::uint32_t bits = 8;             // 8 or 16, copied from the output at attach
    std::uint32_t channels = 1;         // a voice is always mono
    std::atomic<std::int32_t> pan{64};  // 0 … 127; 0 sends everything to the second (right) channel
    // Set before the source is linked into the list; the render thread calls it.
    std::atomic<MixRoutine> mix{nullptr};
    std::atomic<bool> stopRequest{false};

    // Links in the SoundOutput's source list, owned by the SoundOutput.
    SoundSource* prev = nullptr;
    SoundSource* next = nullptr;
};

}  // namespace brellin
