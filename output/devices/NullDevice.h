// NullDevice: discards the sound but takes as long as playing it would,
// by its own clock, so the render loop runs in real time without a sound card.
#pragma once

#include "output/devices/QueuedAudioDevice.h"

namespace brellin {

class NullDevice : public QueuedAudioDevice {
public:
    ~NullDevice() override;
    bool open(const AudioFormat& format, std::uint32_t bufferBytes, std::uint32_t bufferCount, DeviceCallback callback,
              void* context) override;
    void close() override;
    const char* name() const override { return "null"; }

protected:
    void playBuffer(const std::uint8_t* data, std::uint32_t length) override;
};

}  // namespace brellin
