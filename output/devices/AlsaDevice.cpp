#include "output/devices/AlsaDevice.h"

#include <alsa/asoundlib.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace brellin {

namespace {

// alsa-lib prints its own "ALSA lib ..." lines on stderr for every failed
// lookup; the device reports one message of its own naming the PCM and the
// ALSA error instead.
void quietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

AlsaDevice::AlsaDevice(std::string name) : pcmName(std::move(name)) {
    static const bool quieted = [] {
        snd_lib_error_set_handler(quietAlsaErrors);
        return true;
    }();
    (void)quieted;
}

AlsaDevice::~AlsaDevice() { close(); }

bool AlsaDevice::fail(const char* what, int alsaError) {
    char text[512];
    std::snprintf(text, sizeof text, "%s ALSA PCM \"%s\": %s", what, pcmName.c_str(), snd_strerror(alsaError));
    error = text;
    lastError = RESULT_DEVICE_ERROR;
    if (pcm) {
        snd_pcm_close(pcm);
        pcm = nullptr;
    }
    return false;
}

bool AlsaDevice::open(const AudioFormat& newFormat, std::uint32_t bufferBytes, std::uint32_t bufferCount,
                      DeviceCallback onBufferDone, void* callbackContext) {
    close();
    error.clear();
    broken = false;

    // Non-blocking: a device held by another program fails at once instead of hanging.
    int result = snd_pcm_open(&pcm, pcmName.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (result < 0) {
        pcm = nullptr;
        fail("cannot open", result);
        error += " (is there a sound device? On PipeWire desktops the ALSA route needs the pipewire-alsa package)";
        return false;
    }

    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    const snd_pcm_format_t sampleFormat = newFormat.bitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    if ((result = snd_pcm_hw_params_any(pcm, hw)) < 0) return fail("cannot query", result);
    snd_pcm_hw_params_set_rate_resample(pcm, hw, 1);
    if ((result = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
        return fail("no interleaved access on", result);
    if ((result = snd_pcm_hw_params_set_format(pcm, hw, sampleFormat)) < 0)
        return fail(newFormat.bitsPerSample == 8 ? "no 8-bit unsigned samples on" : "no 16-bit samples on", result);
    if ((result = snd_pcm_hw_params_set_channels(pcm, hw, newFormat.channels)) < 0)
        return fail(newFormat.channels == 1 ? "no mono on" : "no stereo on", result);
    unsigned int rate = newFormat.sampleRate;
    if ((result = snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr)) < 0) return fail("no rate on", result);
    if (rate != newFormat.sampleRate) {
        char text[256];
        std::snprintf(text, sizeof text, "ALSA PCM \"%s\" offers %u Hz instead of %u Hz", pcmName.c_str(), rate,
                      newFormat.sampleRate);
        snd_pcm_close(pcm);
        pcm = nullptr;
        error = text;
        lastError = RESULT_DEVICE_ERROR;
        return false;
    }
    // One ALSA period is one ring buffer; ALSA holds half the ring.
    snd_pcm_uframes_t period = bufferBytes / newFormat.blockSize();
    if ((result = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, nullptr)) < 0)
        return fail("cannot set the period size of", result);
    snd_pcm_uframes_t size = period * PERIODS_PER_ALSA_BUFFER;
    if ((result = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &size)) < 0)
        return fail("cannot set the buffer size of", result);
    if ((result = snd_pcm_hw_params(pcm, hw)) < 0) return fail("cannot configure", result);

    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if ((result = snd_pcm_sw_params_current(pcm, sw)) < 0) return fail("cannot query", result);
    snd_pcm_sw_params_set_start_threshold(pcm, sw, period);
    snd_pcm_sw_params_set_avail_min(pcm, sw, period);
    if ((result = snd_pcm_sw_params(pcm, sw)) < 0) return fail("cannot configure", result);
    if ((result = snd_pcm_prepare(pcm)) < 0) return fail("cannot prepare", result);

    stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (stopFd < 0) return fail("no event descriptor for", -errno);
    if (!startQueue(newFormat, bufferCount, onBufferDone, callbackContext)) {
        close();
        return false;
    }
    return true;
}

void AlsaDevice::close() {
    stopQueue();
    if (pcm) {
        snd_pcm_drop(pcm);  // stopping is immediate
        snd_pcm_close(pcm);
        pcm = nullptr;
    }
    if (stopFd >= 0) {
        ::close(stopFd);
        stopFd = -1;
    }
    dropQueued();
}

void AlsaDevice::interruptPlayback() {
    if (stopFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t sent = ::write(stopFd, &one, sizeof one);
    }
}

void AlsaDevice::waitForRoom() {
    // ALSA's own descriptors (a handful; a plugin chain rarely needs more) and the stop eventfd.
    constexpr int maxDescriptors = 15;
    pollfd fds[maxDescriptors + 1];
    int count = snd_pcm_poll_descriptors_count(pcm);
    if (count <= 0 || count > maxDescriptors) {
        snd_pcm_wait(pcm, 20);  // bounded, so that a stop request is seen
        return;
    }
    count = snd_pcm_poll_descriptors(pcm, fds, static_cast<unsigned>(count));
    fds[count].fd = stopFd;
    fds[count].events = POLLIN;
    fds[count].revents = 0;
    if (poll(fds, static_cast<nfds_t>(count + 1), 1000) <= 0) return;
    unsigned short events = 0;
    snd_pcm_poll_descriptors_revents(pcm, fds, static_cast<unsigned>(count), &events);
}

void AlsaDevice::dropPlayback() {
    if (pcm) {
        snd_pcm_drop(pcm);
        snd_pcm_prepare(pcm);
    }
}

void AlsaDevice::playBuffer(const std::uint8_t* data, std::uint32_t length) {
    const std::uint32_t block = format.blockSize();
    snd_pcm_uframes_t frames = length / block;
    while (frames > 0 && !stopRequested()) {
        if (broken) {
            paceLike(static_cast<std::uint32_t>(frames * block));
            return;
        }
        const snd_pcm_sframes_t n = snd_pcm_writei(pcm, data, frames);
        if (n == -EAGAIN || n == 0) {
            waitForRoom();
            continue;
        }
        if (n < 0) {
            // Underrun (-EPIPE) or suspend (-ESTRPIPE): prepare again and go on.
            if (n == -EPIPE) underruns.fetch_add(1, std::memory_order_relaxed);
            if (snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0) broken = true;
            continue;
        }
        data += static_cast<std::size_t>(n) * block;
        frames -= static_cast<snd_pcm_uframes_t>(n);
    }
}

}  // namespace brellin
