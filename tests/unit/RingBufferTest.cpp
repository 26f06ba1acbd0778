#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "output/RingBuffer.h"

namespace {

TEST(RingBuffer, AudioQueueFillsToOneLessThanSlotsAndWraps)
{
    RingBufferA q;
    constexpr int n = RingBufferA::capacity();
    EXPECT_EQ(q.tryGetReadBuffer(), nullptr);
    for (int i = 0; i < n - 1; ++i) {
        ASSERT_NE(q.tryGetWriteBuffer(), nullptr) << i;
        q.putWriteBuffer();
    }
    EXPECT_EQ(q.tryGetWriteBuffer(), nullptr);
    EXPECT_EQ(q.count(), n - 1);
    // Drain one and write one: the write index wraps to 0.
    ASSERT_EQ(q.tryGetReadBuffer(), q.slot(0));
    q.putReadBuffer();
    ASSERT_EQ(q.tryGetWriteBuffer(), q.slot(n - 1));
    q.putWriteBuffer();
    EXPECT_EQ(q.getWriteIndex(), 0);
    for (int i = 1; i < n; ++i) {
        ASSERT_EQ(q.tryGetReadBuffer(), q.slot(i));
        q.putReadBuffer();
    }
    EXPECT_EQ(q.getReadIndex(), 0);
    EXPECT_EQ(q.tryGetReadBuffer(), nullptr);
}

TEST(RingBuffer, AudioResetEmptiesAndRestartsAtSlotZero)
{
    RingBufferA q;
    for (int i = 0; i < 39; ++i) {
        q.tryGetWriteBuffer();
        q.putWriteBuffer();
    }
    q.reset();
    EXPECT_EQ(q.tryGetReadBuffer(), nullptr);
    EXPECT_EQ(q.tryGetWriteBuffer(), q.slot(0));
}

// Every slot can be taken; pictures come out in the order they were
// committed, whatever the order they were taken in; a slot given back is
// free again.
TEST(RingBuffer, VideoSlotsComeOutInCommitOrder)
{
    RingBuffer q;
    constexpr int n = RingBuffer::capacity();
    EXPECT_EQ(q.tryGetReadBuffer(), nullptr);
    std::vector<tag_FrameV_Orgin*> taken;
    for (int i = 0; i < n; ++i) {
        taken.push_back(q.tryGetWriteBuffer());
        ASSERT_NE(taken.back(), nullptr) << i;
    }
    EXPECT_EQ(taken.front(), q.slot(0));
    EXPECT_EQ(q.tryGetWriteBuffer(), nullptr);
    for (int i = n - 1; i >= 1; --i) {
        taken[size_t(i)]->time = uint32_t(100 + i);
        q.putWriteBuffer(taken[size_t(i)]);
    }
    q.cancelWriteBuffer(taken[0]);
    EXPECT_EQ(q.count(), n - 1);
    EXPECT_EQ(q.freeCount(), 1);
    for (int i = n - 1; i >= 1; --i) {
        tag_FrameV_Orgin* s = q.tryGetReadBuffer();
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(q.tryGetReadBuffer(), s);  // the same until released
        EXPECT_EQ(s->time, uint32_t(100 + i));
        q.putReadBuffer();
    }
    EXPECT_EQ(q.tryGetReadBuffer(), nullptr);
    EXPECT_EQ(q.freeCount(), n);
    EXPECT_EQ(q.committedCount(), uint64_t(n - 1));
    EXPECT_EQ(q.releasedCount(), uint64_t(n - 1));
    // The slot freed last is handed out first.
    EXPECT_EQ(q.tryGetWriteBuffer(), taken[1]);
}

// Pictures that a newer one of their channel follows are let go at once,
// oldest first; the newest of each channel stays queued in order.
TEST(RingBuffer, SupersededVideoSlotsAreReleasedAndTheNewestStay)
{
    RingBuffer q;
    auto commit = [&q](int ch, uint32_t t) {
        tag_FrameV_Orgin* s = q.tryGetWriteBuffer();
        ASSERT_NE(s, nullptr);
        s->ch = int8_t(ch);
        s->time = t;
        q.putWriteBuffer(s);
    };
    commit(0, 1);
    ASSERT_NE(q.tryGetReadBuffer(), nullptr);  // in the consumer's hands: untouched
    commit(0, 2);
    commit(1, 3);
    commit(0, 4);
    commit(2, 5);
    commit(1, 6);
    commit(0, 7);
    std::vector<uint32_t> seen;
    EXPECT_EQ(q.releaseSuperseded([&](const tag_FrameV_Orgin& f) { seen.push_back(f.time); }), 3);
    EXPECT_EQ(seen, (std::vector<uint32_t>{2, 3, 4}));
    EXPECT_EQ(q.count(), 4);  // three queued and the one in hand
    EXPECT_EQ(q.releasedCount(), 3u);
    EXPECT_EQ(q.releaseSuperseded({}), 0);
    std::vector<uint32_t> order;
    while (tag_FrameV_Orgin* s = q.tryGetReadBuffer()) {
        order.push_back(s->time);
        q.putReadBuffer();
    }
    EXPECT_EQ(order, (std::vector<uint32_t>{1, 5, 6, 7}));
    EXPECT_EQ(q.freeCount(), RingBuffer::capacity());
}

TEST(RingBuffer, VideoSlotTakenBeforeResetIsNotPublishedAfterIt)
{
    RingBuffer q;
    tag_FrameV_Orgin* a = q.tryGetWriteBuffer();
    ASSERT_NE(a, nullptr);
    q.reset();
    q.putWriteBuffer(a);  // stale: must not make a slot look ready
    EXPECT_EQ(q.tryGetReadBuffer(), nullptr);
    EXPECT_EQ(q.freeCount(), RingBuffer::capacity());

    ASSERT_NE(q.tryGetWriteBuffer(), nullptr);
    q.putWriteBuffer();
    tag_FrameV_Orgin* held = q.tryGetReadBuffer();
    ASSERT_NE(held, nullptr);
    tag_FrameV_Orgin* b = q.tryGetWriteBuffer();
    q.putWriteBuffer(b);
    q.reset();
    EXPECT_EQ(q.count(), 0);
    // A picture committed after the reset is not released by the stale
    // release of the one held across it.
    tag_FrameV_Orgin* c = q.tryGetWriteBuffer();
    ASSERT_NE(c, held);
    q.putWriteBuffer(c);
    q.putReadBuffer();
    EXPECT_EQ(q.count(), 1);
    EXPECT_EQ(q.tryGetReadBuffer(), c);
    q.putReadBuffer();
    EXPECT_EQ(q.freeCount(), RingBuffer::capacity());
}

// Producers on several threads, one consumer: nothing is lost and each
// producer's pictures come out in its own order.
TEST(RingBuffer, VideoProducersKeepTheirOwnOrder)
{
    RingBuffer q;
    constexpr int kProducers = 4;
    constexpr uint32_t kEach = 3000;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&q, p] {
            for (uint32_t i = 0; i < kEach;) {
                tag_FrameV_Orgin* s = q.tryGetWriteBuffer();
                if (!s) {
                    std::this_thread::yield();
                    continue;
                }
                s->ch = int8_t(p);
                s->time = i;
                if (i % 7 == 3) {
                    q.cancelWriteBuffer(s);  // no picture: not counted
                } else {
                    q.putWriteBuffer(s);
                }
                ++i;
            }
        });
    }
    uint32_t next[kProducers] = {};
    uint32_t got = 0;
    const uint32_t want = kProducers * (kEach - (kEach + 3) / 7);
    while (got < want) {
        tag_FrameV_Orgin* s = q.tryGetReadBuffer();
        if (!s) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_GE(s->ch, 0);
        ASSERT_LT(s->ch, kProducers);
        ASSERT_GE(s->time, next[s->ch]);
        ASSERT_NE(s->time % 7, 3u);
        next[s->ch] = s->time + 1;
        ++got;
        q.putReadBuffer();
    }
    for (auto& t : producers)
        t.join();
    EXPECT_EQ(q.tryGetReadBuffer(), nullptr);
    EXPECT_EQ(q.freeCount(), RingBuffer::capacity());
}

[[maybe_unused]] long residentKiB()
{
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return -1;
    int n = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return n == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// The slots' pixel memory is mapped only as pictures are written.
TEST(RingBuffer, VideoSlotsNeverUsedCostNoMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizer allocators map memory their own way";
#else
    const long before = residentKiB();
    ASSERT_GT(before, 0);
    auto q = std::make_unique<RingBuffer>();
    for (int i = 0; i < 100; ++i) {
        tag_FrameV_Orgin* s = q->tryGetWriteBuffer();
        std::memset(s->outbuff, 0x40, 704 * 480 * 4);
        q->putWriteBuffer(s);
        q->tryGetReadBuffer();
        q->putReadBuffer();
    }
    const long slotKiB = long(sizeof(tag_FrameV_Orgin) / 1024);
    EXPECT_LT(residentKiB() - before, 2 * slotKiB);
#endif
}

}  // namespace
