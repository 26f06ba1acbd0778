#include <gtest/gtest.h>

#include <thread>

#include "output/RingBuffer.h"

namespace {

template <typename Q>
void fillAndWrap()
{
    Q q;
    constexpr int n = Q::capacity();
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

TEST(RingBuffer, FillsToOneLessThanSlotsAndWraps)
{
    fillAndWrap<RingBuffer>();
    fillAndWrap<RingBufferA>();
}

TEST(RingBuffer, ResetEmptiesAndRestartsAtSlotZero)
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

TEST(RingBuffer, SlotTakenBeforeResetIsNotPublishedAfterIt)
{
    RingBuffer q;
    ASSERT_NE(q.tryGetWriteBuffer(), nullptr);
    q.reset();
    q.putWriteBuffer();  // stale: must not make a slot look ready
    EXPECT_EQ(q.tryGetReadBuffer(), nullptr);

    ASSERT_NE(q.tryGetWriteBuffer(), nullptr);
    q.putWriteBuffer();
    ASSERT_NE(q.tryGetReadBuffer(), nullptr);
    q.reset();
    q.putReadBuffer();  // stale release is ignored too
    EXPECT_EQ(q.getReadIndex(), 0);
    ASSERT_NE(q.tryGetWriteBuffer(), nullptr);
    q.putWriteBuffer();
    EXPECT_EQ(q.count(), 1);
}

TEST(RingBuffer, ProducerAndConsumerKeepOrder)
{
    RingBufferA q;
    constexpr uint32_t kBlocks = 20000;
    std::thread producer([&] {
        for (uint32_t i = 0; i < kBlocks;) {
            if (auto* s = q.tryGetWriteBuffer()) {
                s->time = i++;
                q.putWriteBuffer();
            } else {
                std::this_thread::yield();
            }
        }
    });
    uint32_t expect = 0;
    while (expect < kBlocks) {
        if (auto* s = q.tryGetReadBuffer()) {
            ASSERT_EQ(s->time, expect);
            ++expect;
            q.putReadBuffer();
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
}

}  // namespace
