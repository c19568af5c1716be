#include "player/LiveInput.h"

namespace brellin {

namespace {

// Data bytes after a channel status: two, except program change and channel pressure.
std::uint32_t channelMessageLength(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 2 : 3;
}

}  // namespace

LiveInput::LiveInput(std::uint32_t queueBytes)
    : queue(queueBytes), message(new std::uint8_t[MessageQueue::MAX_MESSAGE]) {}

LiveInput::~LiveInput() { detach(); }

LiveMessage LiveInput::classify(const std::uint8_t* bytes, std::uint32_t length) {
    if (!bytes || length == 0) return LiveMessage::Malformed;
    const std::uint8_t status = bytes[0];
    if (status < 0x80) return LiveMessage::Malformed;
    if (status < 0xF0) {
        if (length != channelMessageLength(status)) return LiveMessage::Malformed;
        for (std::uint32_t i = 1; i < length; ++i)
            if (bytes[i] & 0x80) return LiveMessage::Malformed;
        return LiveMessage::Channel;
    }
    if (status == 0xF0) {
        if (length < 2 || length > MAX_SYSTEM_EXCLUSIVE || bytes[length - 1] != 0xF7) return LiveMessage::Malformed;
        for (std::uint32_t i = 1; i + 1 < length; ++i)
            if (bytes[i] & 0x80) return LiveMessage::Malformed;
        return LiveMessage::SystemExclusive;
    }
    return LiveMessage::Ignored;
}

bool LiveInput::attach(SynthesizerInterface& synthesizer) {
    if (target.load() == &synthesizer) return true;
    detach();
    target.store(&synthesizer);
    handle = synthesizer.addSliceClient(&LiveInput::sliceCall, this, SliceOrder::Live);
    if (handle != 0) return true;
    target.store(nullptr);
    return false;
}

void LiveInput::detach() {
    SynthesizerInterface* synthesizer = target.exchange(nullptr);
    if (!synthesizer) return;
    synthesizer->removeSliceClient(handle);
    handle = 0;
}

bool LiveInput::deliver(const std::uint8_t* bytes, std::uint32_t length) {
    const LiveMessage kind = classify(bytes, length);
    if (kind == LiveMessage::Ignored) return false;
    if (kind == LiveMessage::Malformed) {
        refusedCount.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    if (kind == LiveMessage::Channel) usedChannels = static_cast<std::uint16_t>(usedChannels | (1u << (bytes[0] & 15)));
    return queue.push(bytes, length, 0);
}

void LiveInput::releaseHeldNotes() {
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        if (!(usedChannels & (1u << channel))) continue;
        const std::uint8_t allNotesOff[3] = {static_cast<std::uint8_t>(0xB0 | channel), 123, 0};
        const std::uint8_t sustainOff[3] = {static_cast<std::uint8_t>(0xB0 | channel), 64, 0};
        queue.push(sustainOff, 3, 0);
        queue.push(allNotesOff, 3, 0);
    }
    usedChannels = 0;
}

void LiveInput::play(SynthesizerInterface& synthesizer, const std::uint8_t* bytes, std::uint32_t length) noexcept {
    NoteOnListener* listener = noteOnListener.load(std::memory_order_relaxed);
    if (listener && (bytes[0] & 0xF0) == 0x90) {
        listener->channel = bytes[0] & 0x0F;
        listener->note = bytes[1];
        listener->level = bytes[2];
        listener->notify();
    }
    synthesizer.sendMidi(bytes, length);
}

void LiveInput::playQueued() noexcept {
    SynthesizerInterface* synthesizer = target.load(std::memory_order_acquire);
    if (!synthesizer) return;
    std::uint64_t count = 0;
    // At most MAX_PER_SLICE messages: a producer that keeps up a flood
    // cannot hold the render thread here; the rest plays in the next slices.
    std::uint32_t length;
    std::uint64_t stamp;
    std::uint32_t budget = MAX_PER_SLICE;
    while (budget-- > 0 && (length = queue.pop(message.get(), MessageQueue::MAX_MESSAGE, &stamp)) != 0) {
        play(*synthesizer, message.get(), length);
        ++count;
    }
    if (count) playedCount.fetch_add(count, std::memory_order_relaxed);
}

void LiveInput::receive(const std::uint8_t* bytes, std::size_t size) noexcept {
    SynthesizerInterface* synthesizer = target.load(std::memory_order_acquire);
    if (!synthesizer || size > MAX_SYSTEM_EXCLUSIVE) {
        if (synthesizer) refusedCount.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const auto length = static_cast<std::uint32_t>(size);
    const LiveMessage kind = classify(bytes, length);
    if (kind == LiveMessage::Ignored) return;
    if (kind == LiveMessage::Malformed) {
        refusedCount.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    // A flood within one slice is cut off here; the next slice plays again.
    if (directBudget == 0) {
        directDropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    --directBudget;
    if (kind == LiveMessage::Channel)
        directChannels = static_cast<std::uint16_t>(directChannels | (1u << (bytes[0] & 15)));
    play(*synthesizer, bytes, length);
    playedCount.fetch_add(1, std::memory_order_relaxed);
}

void LiveInput::sourceGone() noexcept {
    SynthesizerInterface* synthesizer = target.load(std::memory_order_acquire);
    if (!synthesizer) return;
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        if (!(directChannels & (1u << channel))) continue;
        const std::uint8_t sustainOff[3] = {static_cast<std::uint8_t>(0xB0 | channel), 64, 0};
        const std::uint8_t allNotesOff[3] = {static_cast<std::uint8_t>(0xB0 | channel), 123, 0};
        synthesizer->sendMidi(sustainOff, 3);
        synthesizer->sendMidi(allNotesOff, 3);
    }
    directChannels = 0;
}

void LiveInput::sliceCall(void* self) noexcept {
    auto* input = static_cast<LiveInput*>(self);
    input->directBudget = MAX_PER_SLICE;
    input->playQueued();
}

}  // namespace brellin
