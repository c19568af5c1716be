#include "output/WavFileDevice.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace brellin {
namespace {

constexpr std::uint32_t STAGING_TARGET = 256 * 1024;  // bytes collected before one write to the file
// RIFF sizes are 32-bit: the data chunk must leave room for the header and a pad byte.
constexpr std::uint64_t MAX_DATA_BYTES = 0xFFFFFFFFull - WAV_HEADER_BYTES;

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, v & 0xFFFFu);
    put16(p + 2, v >> 16);
}

}  // namespace

WavFileDevice::WavFileDevice(std::string filePath) : WavFileDevice(std::move(filePath), Options{}) {}

WavFileDevice::WavFileDevice(std::string filePath, const Options& newOptions)
    : path(std::move(filePath)), options(newOptions) {}

WavFileDevice::~WavFileDevice() { close(); }

void composeWavHeader(const AudioFormat& format, std::uint32_t dataSize, std::uint8_t (&h)[WAV_HEADER_BYTES]) {
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + dataSize + (dataSize & 1));  // the data chunk is padded to an even length
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);  // fmt chunk size
    put16(h + 20, 1);   // PCM
    put16(h + 22, format.channels);
    put32(h + 24, format.sampleRate);
    put32(h + 28, format.bytesPerSecond());
    put16(h + 32, format.blockSize());
    put16(h + 34, format.bitsPerSample);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, dataSize);
}

bool WavFileDevice::writeHeader(std::uint32_t dataSize) {
    std::uint8_t h[WAV_HEADER_BYTES];
    composeWavHeader(format, dataSize, h);
    return file.write(h, WAV_HEADER_BYTES);
}

bool WavFileDevice::open(const AudioFormat& newFormat, std::uint32_t bufferBytes, std::uint32_t bufferCount,
                         DeviceCallback newCallback, void* newContext) {
    close();
    error.clear();
    if (bufferCount == 0 || newFormat.blockSize() == 0) {
        lastError = RESULT_DEVICE_ERROR;
        error = "invalid buffer geometry";
        return false;
    }
    format = newFormat;
    kept.reset(new (std::nothrow) WaveHeader*[bufferCount]);
    stagingSize = std::max(STAGING_TARGET, bufferBytes);
    staging.reset(new (std::nothrow) std::uint8_t[stagingSize]);
    if (!kept || !staging) {
        lastError = RESULT_OUT_OF_MEMORY;
        error = "out of memory for the WAV file buffers";
        return false;
    }
    if (path.empty() || !file.open(path.c_str(), FileAccess::Write) || !writeHeader(0)) {
        lastError = file.lastError ? file.lastError : RESULT_CANNOT_OPEN_FILE;
        error = "cannot write the WAV file \"" + path + "\"";
        file.close();
        return false;
    }
    capacity = bufferCount;
    keptCount = 0;
    stagingUsed = 0;
    callback = newCallback;
    context = newContext;
    paused = false;
    writeFailed = false;
    dataBytes = 0;
    frames.store(0, std::memory_order_release);
    held.store(options.startHeld, std::memory_order_release);
    finishRequested.store(false, std::memory_order_release);
    endedFlag.store(false, std::memory_order_release);
    endedEvent.reset();
    isOpen = true;
    return true;
}

void WavFileDevice::pause() { paused = true; }

void WavFileDevice::restart() {
    paused = false;
    if (!held.load(std::memory_order_acquire) && !ended()) handBack();
}

bool WavFileDevice::flush() noexcept {
    if (stagingUsed == 0) return true;
    const bool ok = file.write(staging.get(), stagingUsed);
    stagingUsed = 0;
    if (!ok) {
        writeFailed = true;
        lastError = file.lastError;
    }
    return ok;
}

bool WavFileDevice::write(WaveHeader* header) noexcept {
    if (!isOpen || !header || keptCount >= capacity) return false;
    kept[keptCount++] = header;
    if (ended() || (paused && options.skipOpeningSilence)) return true;

    const std::uint32_t block = format.blockSize();
    std::uint64_t length = header->length;
    std::uint64_t limit = MAX_DATA_BYTES - MAX_DATA_BYTES % block;
    if (options.frameLimit != 0) limit = std::min<std::uint64_t>(limit, options.frameLimit * block);
    bool last = finishRequested.load(std::memory_order_acquire);
    if (dataBytes + length >= limit) {
        length = limit - dataBytes;
        last = true;
    }
    const std::uint8_t* data = header->data;
    std::uint64_t left = length;
    while (left > 0 && !writeFailed) {
        if (stagingUsed == stagingSize && !flush()) break;
        const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, stagingSize - stagingUsed));
        std::memcpy(staging.get() + stagingUsed, data, n);
        stagingUsed += n;
        data += n;
        left -= n;
    }
    dataBytes += length - left;
    frames.store(dataBytes / block, std::memory_order_release);
    if (last || writeFailed) {
        endedFlag.store(true, std::memory_order_release);
        endedEvent.signal();
    }
    return !writeFailed;
}

void WavFileDevice::handBack() noexcept {
    const std::uint32_t count = keptCount;
    keptCount = 0;
    for (std::uint32_t i = 0; i < count; ++i) kept[i]->done.store(true, std::memory_order_release);
    if (callback) {
        for (std::uint32_t i = 0; i < count; ++i) callback(context);
    }
}

void WavFileDevice::rendererWaiting() noexcept {
    if (!isOpen || held.load(std::memory_order_acquire) || ended()) return;
    handBack();
}

void WavFileDevice::release() {
    held.store(false, std::memory_order_release);
    // Wakes the render thread, which then finds nothing done and calls `rendererWaiting`.
    if (callback) callback(context);
}

void WavFileDevice::finish() noexcept { finishRequested.store(true, std::memory_order_release); }

bool WavFileDevice::waitEnded(std::uint32_t milliseconds) {
    const std::uint32_t start = tickCount();
    while (!ended()) {
        if (milliseconds == 0) {
            endedEvent.wait();
            continue;
        }
        const std::uint32_t spent = tickCount() - start;
        if (spent >= milliseconds) return ended();
        endedEvent.waitFor(milliseconds - spent);
    }
    return true;
}

void WavFileDevice::reset() {
    for (std::uint32_t i = 0; i < keptCount; ++i) kept[i]->done.store(true, std::memory_order_release);
    keptCount = 0;
}

void WavFileDevice::close() {
    if (!isOpen) return;
    reset();
    flush();
    const std::uint32_t dataSize = static_cast<std::uint32_t>(dataBytes);
    bool ok = !writeFailed;
    if (ok && (dataSize & 1)) {
        const std::uint8_t pad = 0;
        ok = file.write(&pad, 1);
    }
    ok = ok && file.seek(0, SeekOrigin::Begin) && writeHeader(dataSize);
    if (!ok && !writeFailed) {
        lastError = file.lastError;
        error = "cannot finish the WAV file \"" + path + "\"";
    }
    file.close();
    isOpen = false;
    callback = nullptr;
    context = nullptr;
    // A waiter learns that nothing more will come.
    endedFlag.store(true, std::memory_order_release);
    endedEvent.signal();
}

}  // namespace brellin
