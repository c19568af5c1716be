// WavRecorderDevice: plays in real time as the null device does, paced by
// its own clock, and keeps every buffer it plays in a WAV file. It is the
// device of "wav:PATH" for a player that runs in real time (the window, or
// brellin-render without -o), so a song takes as long to record as to hear
// and the window's clock, meter and song steps behave as on a sound card.
// Offline renders use WavFileDevice, which runs as fast as the machine allows.
//
// The file is written on the device thread, never on the render thread. The
// header gets its sizes when the device closes; a file that reaches the WAV
// format's 4 GiB limit stops growing and the device goes on playing.
#pragma once

#include <string>

#include "common/FileObject.h"
#include "output/devices/QueuedAudioDevice.h"

namespace brellin {

class WavRecorderDevice : public QueuedAudioDevice {
public:
    explicit WavRecorderDevice(std::string path);
    ~WavRecorderDevice() override;

    bool open(const AudioFormat& format, std::uint32_t bufferBytes, std::uint32_t bufferCount, DeviceCallback callback,
              void* context) override;
    // Completes the file. A failed write shows in `errorText()`.
    void close() override;
    const char* name() const override { return "wav"; }

    // Bytes of sound in the file so far (device thread; read after close).
    std::uint64_t recordedBytes() const { return dataBytes; }

protected:
    void playBuffer(const std::uint8_t* data, std::uint32_t length) override;

private:
    std::string path;
    FileObject file;
    std::uint64_t dataBytes = 0;
    std::uint64_t dataLimit = 0;
    bool isOpen = false;
    bool writeFailed = false;
};

}  // namespace brellin
