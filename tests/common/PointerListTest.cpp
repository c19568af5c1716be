#include "common/PointerList.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/StringList.h"
#include "common/TextBuffer.h"

using namespace brellin;

namespace {

void* item(std::uintptr_t value) { return reinterpret_cast<void*>(value); }

std::vector<std::uintptr_t> contents(PointerList& list) {
    std::vector<std::uintptr_t> values;
    for (std::uint32_t i = 0; i < list.count(); ++i) values.push_back(reinterpret_cast<std::uintptr_t>(*list.at(i)));
    return values;
}

// A list whose every operation is checked against both walking directions.
PointerList& fill(PointerList& list, std::uintptr_t n) {
    for (std::uintptr_t i = 1; i <= n; ++i) EXPECT_TRUE(list.append(item(i)));
    return list;
}

}  // namespace

TEST(PointerListPositions, InsertTakesThePositionInFrontOfItsHolder) {
    PointerList list;
    fill(list, 5);
    EXPECT_TRUE(list.insert(0, item(10)));
    EXPECT_TRUE(list.insert(2, item(20)));
    EXPECT_TRUE(list.insert(5, item(30)));  // past the middle: found from the back
    EXPECT_EQ(contents(list), (std::vector<std::uintptr_t>{10, 1, 20, 2, 3, 30, 4, 5}));
}

TEST(PointerListPositions, InsertAtOrPastCountAppends) {
    PointerList list;
    fill(list, 2);
    EXPECT_TRUE(list.insert(2, item(7)));
    EXPECT_TRUE(list.insert(99, item(8)));
    EXPECT_EQ(contents(list), (std::vector<std::uintptr_t>{1, 2, 7, 8}));
}

TEST(PointerListPositions, RemoveAndAtOutOfRangeFailWithNotFoundAndChangeNothing) {
    PointerList list;
    fill(list, 3);
    EXPECT_FALSE(list.remove(3));
    EXPECT_EQ(list.lastError, RESULT_NOT_FOUND);
    EXPECT_EQ(list.at(3), nullptr);
    EXPECT_EQ(contents(list), (std::vector<std::uintptr_t>{1, 2, 3}));
    PointerList empty;
    EXPECT_EQ(empty.at(0), nullptr);
    EXPECT_FALSE(empty.remove(0));
    EXPECT_EQ(empty.lastError, RESULT_NOT_FOUND);
}

TEST(PointerListPositions, RemoveFromFrontMiddleAndBack) {
    PointerList list;
    fill(list, 6);
    EXPECT_TRUE(list.remove(5));
    EXPECT_TRUE(list.remove(0));
    EXPECT_TRUE(list.remove(2));
    EXPECT_EQ(contents(list), (std::vector<std::uintptr_t>{2, 3, 5}));
    // Both directions of the links still agree after the removals.
    EXPECT_TRUE(list.append(item(9)));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(*list.at(3)), 9u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(*list.at(2)), 5u);
}

TEST(PointerListPositions, AtGivesAWritableSlot) {
    PointerList list;
    fill(list, 3);
    *list.at(1) = item(42);
    EXPECT_EQ(contents(list), (std::vector<std::uintptr_t>{1, 42, 3}));
}

TEST(PointerListPositions, ClearEmptiesAndTheListIsUsableAgain) {
    PointerList list;
    fill(list, 4);
    list.clear();
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(list.at(0), nullptr);
    EXPECT_TRUE(list.append(item(5)));
    EXPECT_EQ(contents(list), (std::vector<std::uintptr_t>{5}));
}

TEST(PointerListSort, StableAndComplete) {
    // Items are (key << 8 | serial); sorting by key must keep serial order.
    PointerList list;
    const std::uintptr_t keys[] = {3, 1, 2, 3, 1, 0, 2, 3, 1, 0, 2};
    std::uintptr_t serial = 0;
    for (std::uintptr_t key : keys) list.append(item((key << 8) | serial++));
    list.sortStable([](const void* a, const void* b) {
        return (reinterpret_cast<std::uintptr_t>(a) >> 8) < (reinterpret_cast<std::uintptr_t>(b) >> 8);
    });
    std::vector<std::uintptr_t> sorted = contents(list);
    ASSERT_EQ(sorted.size(), 11u);
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        EXPECT_LE(sorted[i - 1] >> 8, sorted[i] >> 8);
        if ((sorted[i - 1] >> 8) == (sorted[i] >> 8)) {
            EXPECT_LT(sorted[i - 1] & 0xFF, sorted[i] & 0xFF);
        }
    }
    // Walking from the back agrees with walking from the front.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(*list.at(10)) >> 8, 3u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(*list.at(6)) >> 8, 2u);
}

TEST(TextBufferCapacity, GrowsInWholeStepsOf256) {
    TextBuffer text;
    EXPECT_STREQ(text.text(), "");
    EXPECT_EQ(text.capacity(), 0u);
    text.assign("abc");
    EXPECT_EQ(text.capacity(), 256u);
    // The smallest multiple of 256 greater than n + 1.
    EXPECT_EQ(TextBuffer::capacityFor(254), 256u);
    EXPECT_EQ(TextBuffer::capacityFor(255), 512u);
    EXPECT_EQ(TextBuffer::capacityFor(510), 512u);
    EXPECT_EQ(TextBuffer::capacityFor(511), 768u);
    std::string longText(300, 'x');
    text.append(longText.c_str());
    EXPECT_EQ(text.length(), 303u);
    EXPECT_EQ(text.capacity(), 512u);
    EXPECT_EQ(std::string(text.text()), "abc" + longText);
}

TEST(TextBufferCopies, CopiesAreIndependentAndSelfAssignmentHolds) {
    TextBuffer a("first");
    TextBuffer b(a);
    b.append("-more");
    EXPECT_STREQ(a.text(), "first");
    EXPECT_STREQ(b.text(), "first-more");
    b.assign(b.text() + 6);  // from inside its own storage
    EXPECT_STREQ(b.text(), "more");
    TextBuffer& same = a;
    a = same;
    EXPECT_STREQ(a.text(), "first");
}

TEST(StringListOwnership, KeepsItsOwnCopies) {
    StringList list;
    char text[] = "a.mid";
    EXPECT_TRUE(list.append(text));
    text[0] = 'b';
    EXPECT_STREQ(list.at(0)->text(), "a.mid");
    EXPECT_TRUE(list.insert(0, "first.mid"));
    EXPECT_TRUE(list.insert(9, "last.mid"));
    EXPECT_EQ(list.count(), 3u);
    EXPECT_EQ(list.find("a.mid"), 1);
    EXPECT_EQ(list.find("A.MID"), -1);
    EXPECT_TRUE(list.remove(1));
    EXPECT_STREQ(list.at(1)->text(), "last.mid");
    EXPECT_EQ(list.at(2), nullptr);
    EXPECT_EQ(list.lastError, RESULT_NOT_FOUND);
    EXPECT_FALSE(list.remove(2));
}
