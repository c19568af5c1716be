#include "output/devices/NullDevice.h"

namespace brellin {

NullDevice::~NullDevice() { close(); }

bool NullDevice::open(const AudioFormat& newFormat, std::uint32_t bufferBytes, std::uint32_t bufferCount,
                      DeviceCallback onBufferDone, void* callbackContext) {
    (void)bufferBytes;
    close();
    error.clear();
    return startQueue(newFormat, bufferCount, onBufferDone, callbackContext);
}

void NullDevice::close() {
    stopQueue();
    dropQueued();
}

void NullDevice::playBuffer(const std::uint8_t* data, std::uint32_t length) {
    (void)data;
    paceLike(length);
}

}  // namespace brellin
