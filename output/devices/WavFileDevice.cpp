#include "output/devices/WavFileDevice.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace brellin {
namespace {

constexpr std::uint32_t STAGING_TARGET = 256 * 1024;  // bytes collected before one write to the file
constexpr std::uint64_t NO_FRAME_LIMIT = UINT64_MAX;

}  // namespace

WavFileDevice::WavFileDevice(std::string filePath) : WavFileDevice(std::move(filePath), Options{}) {}

WavFileDevice::WavFileDevice(std::string filePath, const Options& newOptions)
    : path(std::move(filePath)), options(newOptions) {}

WavFileDevice::~WavFileDevice() { close(); }

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
    // Two buffers stay behind (rounded to whole frames); the rest goes out
    // in writes of at least STAGING_TARGET bytes.
    holdBack = 2 * bufferBytes - 2 * bufferBytes % format.blockSize();
    stagingSize = std::max(STAGING_TARGET, bufferBytes) + holdBack;
    staging.reset(new (std::nothrow) std::uint8_t[stagingSize]);
    if (!kept || !staging) {
        lastError = RESULT_OUT_OF_MEMORY;
        error = "out of memory for the WAV file buffers";
        return false;
    }
    writer = createSoundFileWriter(options.type);
    if (!writer->open(path, format)) {
        lastError = writer->lastError ? writer->lastError : RESULT_CANNOT_OPEN_FILE;
        error = writer->errorText();
        writer.reset();
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
    writtenBytes = 0;
    limitFrames.store(options.frameLimit != 0 ? options.frameLimit : NO_FRAME_LIMIT, std::memory_order_release);
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

bool WavFileDevice::flush(std::uint32_t keep) noexcept {
    if (stagingUsed <= keep) return true;
    const std::uint32_t out = stagingUsed - keep;
    const bool ok = writer->write(staging.get(), out);
    std::memmove(staging.get(), staging.get() + out, keep);
    stagingUsed = keep;
    writtenBytes += out;
    if (!ok) {
        writeFailed = true;
        lastError = writer->lastError ? writer->lastError : RESULT_FILE_IO_ERROR;
    }
    return ok;
}

bool WavFileDevice::write(WaveHeader* header) noexcept {
    if (!isOpen || !header || keptCount >= capacity) return false;
    kept[keptCount++] = header;
    if (ended() || (paused && options.skipOpeningSilence)) return true;

    const std::uint32_t block = format.blockSize();
    std::uint64_t length = header->length;
    const std::uint64_t most = writer->maxDataBytes();
    std::uint64_t limit = most != 0 ? most - most % block : UINT64_MAX;
    const std::uint64_t frameLimit = limitFrames.load(std::memory_order_acquire);
    if (frameLimit != NO_FRAME_LIMIT) limit = std::min<std::uint64_t>(limit, frameLimit * block);
    bool last = finishRequested.load(std::memory_order_acquire);
    if (dataBytes + length >= limit) {
        length = limit > dataBytes ? limit - dataBytes : 0;
        last = true;
    }
    const std::uint8_t* data = header->data;
    std::uint64_t left = length;
    while (left > 0 && !writeFailed) {
        if (stagingUsed == stagingSize && !flush(holdBack)) break;
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

void WavFileDevice::finishAt(std::uint64_t frameCount) noexcept {
    limitFrames.store(frameCount, std::memory_order_release);
    finish();
}

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
    // What the file holds: everything taken, or up to the frame limit set afterwards.
    const std::uint32_t block = format.blockSize();
    std::uint64_t total = dataBytes;
    const std::uint64_t frameLimit = limitFrames.load(std::memory_order_acquire);
    if (frameLimit != NO_FRAME_LIMIT) total = std::min<std::uint64_t>(total, frameLimit * block);
    if (total < writtenBytes) total = writtenBytes;  // already out; a late limit cannot take it back
    stagingUsed = static_cast<std::uint32_t>(std::min<std::uint64_t>(stagingUsed, total - writtenBytes));
    if (!writeFailed) flush(0);
    const bool closed = writer->close();
    if (!writeFailed && !closed) lastError = writer->lastError ? writer->lastError : RESULT_FILE_IO_ERROR;
    if (writeFailed || !closed) error = writer->errorText();
    writer.reset();
    isOpen = false;
    callback = nullptr;
    context = nullptr;
    // A waiter learns that nothing more will come.
    endedFlag.store(true, std::memory_order_release);
    endedEvent.signal();
}

}  // namespace brellin
