#include "output/devices/WavRecorderDevice.h"

#include <algorithm>

#include "output/devices/WavFileDevice.h"

namespace brellin {

WavRecorderDevice::WavRecorderDevice(std::string filePath) : path(std::move(filePath)) {}

WavRecorderDevice::~WavRecorderDevice() { close(); }

bool WavRecorderDevice::open(const AudioFormat& newFormat, std::uint32_t bufferBytes, std::uint32_t bufferCount,
                             DeviceCallback newCallback, void* newContext) {
    (void)bufferBytes;
    close();
    error.clear();
    std::uint8_t header[WAV_HEADER_BYTES];
    composeWavHeader(newFormat, 0, header);
    if (path.empty() || newFormat.blockSize() == 0 || !file.open(path.c_str(), FileAccess::Write) ||
        !file.write(header, WAV_HEADER_BYTES)) {
        lastError = file.lastError ? file.lastError : RESULT_CANNOT_OPEN_FILE;
        error = "cannot write the WAV file \"" + path + "\"";
        file.close();
        return false;
    }
    // RIFF sizes are 32-bit: room for the header and a pad byte, whole frames only.
    const std::uint64_t room = 0xFFFFFFFFull - WAV_HEADER_BYTES;
    dataLimit = room - room % newFormat.blockSize();
    dataBytes = 0;
    writeFailed = false;
    isOpen = true;
    if (!startQueue(newFormat, bufferCount, newCallback, newContext)) {
        file.close();
        isOpen = false;
        return false;
    }
    return true;
}

void WavRecorderDevice::playBuffer(const std::uint8_t* data, std::uint32_t length) {
    if (!writeFailed && dataBytes < dataLimit) {
        const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, dataLimit - dataBytes));
        if (file.write(data, n)) {
            dataBytes += n;
        } else {
            writeFailed = true;
        }
    }
    paceLike(length);
}

void WavRecorderDevice::close() {
    stopQueue();
    dropQueued();
    if (!isOpen) return;
    const std::uint32_t dataSize = static_cast<std::uint32_t>(dataBytes);
    std::uint8_t header[WAV_HEADER_BYTES];
    composeWavHeader(format, dataSize, header);
    const std::uint8_t pad = 0;
    bool ok = !writeFailed && (!(dataSize & 1) || file.write(&pad, 1));
    ok = ok && file.seek(0, SeekOrigin::Begin) && file.write(header, WAV_HEADER_BYTES);
    if (!ok) {
        lastError = file.lastError ? file.lastError : RESULT_FILE_IO_ERROR;
        error = "cannot finish the WAV file \"" + path + "\"";
    }
    file.close();
    isOpen = false;
}

}  // namespace brellin
