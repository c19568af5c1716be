#include "common/MessageQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace brellin {
namespace {

// The n-th message of the stream: 1 to 3 bytes, or now and then a long
// system exclusive message, its bytes made from n so the reader can check them.
std::vector<std::uint8_t> message(std::uint32_t n) {
    const std::uint32_t length = n % 97 == 0 ? 200 + n % 1000 : 1 + n % 3;
    std::vector<std::uint8_t> bytes(length);
    for (std::uint32_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(n * 31 + i);
    return bytes;
}

// One reader thread, one writer thread that tries again whenever the small
// ring is full: every message arrives whole, in order, with its stamp.
TEST(MessageQueue, WholeMessagesArriveInOrderAcrossThreads) {
    MessageQueue queue(1);  // the smallest ring, so that it wraps and fills often
    constexpr std::uint32_t COUNT = 100000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (std::uint32_t n = 0; n < COUNT; ++n) {
            const std::vector<std::uint8_t> bytes = message(n);
            while (!queue.push(bytes.data(), static_cast<std::uint32_t>(bytes.size()), n)) std::this_thread::yield();
        }
        done.store(true, std::memory_order_release);
    });
    std::vector<std::uint8_t> out(MessageQueue::MAX_MESSAGE);
    std::uint32_t received = 0;
    std::uint64_t last = 0;
    bool ordered = true, whole = true;
    for (;;) {
        const bool finished = done.load(std::memory_order_acquire);
        std::uint64_t stamp = 0;
        const std::uint32_t length = queue.pop(out.data(), static_cast<std::uint32_t>(out.size()), &stamp);
        if (length == 0) {
            if (finished) break;  // the writer had ended before this look found the queue empty
            std::this_thread::yield();
            continue;
        }
        if (received > 0 && stamp <= last) ordered = false;
        const std::vector<std::uint8_t> expected = message(static_cast<std::uint32_t>(stamp));
        if (length != expected.size() || !std::equal(expected.begin(), expected.end(), out.begin())) whole = false;
        last = stamp;
        ++received;
    }
    writer.join();
    EXPECT_TRUE(ordered);
    EXPECT_TRUE(whole);
    EXPECT_EQ(received, COUNT);
    std::printf("%u messages through; the ring was full %llu times\n", received,
                static_cast<unsigned long long>(queue.dropped()));
}

TEST(MessageQueue, RefusesWhatItCannotHoldWhole) {
    MessageQueue queue(1);
    std::vector<std::uint8_t> big(MessageQueue::MAX_MESSAGE + 1, 0xF0);
    EXPECT_FALSE(queue.push(big.data(), static_cast<std::uint32_t>(big.size()), 1));
    EXPECT_FALSE(queue.push(big.data(), 0, 1));
    EXPECT_FALSE(queue.push(nullptr, 3, 1));
    std::uint64_t stamp = 0;
    EXPECT_FALSE(queue.peek(stamp));
    EXPECT_EQ(queue.pop(big.data(), 3), 0u);
    // Full after a few of the longest; nothing of the refused one shows.
    int taken = 0;
    while (queue.push(big.data(), MessageQueue::MAX_MESSAGE, static_cast<std::uint64_t>(taken))) ++taken;
    EXPECT_GE(taken, 2);
    EXPECT_EQ(queue.dropped(), 1u);
    ASSERT_TRUE(queue.peek(stamp));
    EXPECT_EQ(stamp, 0u);
    std::uint8_t head[2] = {};
    EXPECT_EQ(queue.pop(head, 2), MessageQueue::MAX_MESSAGE) << "a short buffer gets the start of a long message";
    EXPECT_EQ(head[0], 0xF0);
}

}  // namespace
}  // namespace brellin
