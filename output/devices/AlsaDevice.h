// AlsaDevice: real playback through ALSA's PCM "default" (which reaches
// PipeWire or PulseAudio on desktops).
//
// The device thread writes each queued buffer with snd_pcm_writei, waiting
// for room with poll, and recovers
// from underruns with snd_pcm_recover. ALSA's period is one ring buffer
// (704/11025 s) and its buffer four periods, half the ring. The device thread
// polls ALSA's descriptors together with an eventfd, so a close interrupts
// it at once. The rate is asked
// for with set_rate_near and refused when ALSA grants another one, rather
// than playing at the wrong pitch. Closing drops whatever is queued.
#pragma once

#include <cstdint>
#include <string>

#include "output/devices/QueuedAudioDevice.h"

typedef struct _snd_pcm snd_pcm_t;

namespace brellin {

class AlsaDevice : public QueuedAudioDevice {
public:
    static constexpr std::uint32_t PERIODS_PER_ALSA_BUFFER = 4;

    // `pcmName` is the ALSA PCM to open; the player always uses "default".
    explicit AlsaDevice(std::string pcmName = "default");
    ~AlsaDevice() override;
    bool open(const AudioFormat& format, std::uint32_t bufferBytes, std::uint32_t bufferCount, DeviceCallback callback,
              void* context) override;
    void close() override;
    const char* name() const override { return "alsa"; }

protected:
    bool starvedCounts() const override { return false; }
    void playBuffer(const std::uint8_t* data, std::uint32_t length) override;
    void dropPlayback() override;
    void interruptPlayback() override;

private:
    bool fail(const char* what, int alsaError);
    // Waits until ALSA can take more frames or a stop is requested.
    void waitForRoom();

    std::string pcmName;
    snd_pcm_t* pcm = nullptr;
    int stopFd = -1;      // eventfd that interrupts the device thread's poll at close
    bool broken = false;  // device thread: ALSA could not recover; buffers are discarded in real time
};

}  // namespace brellin
