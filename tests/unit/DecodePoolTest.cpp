// The link's decoding threads: order and exclusion per channel, cancel, and
// the bound on coded bytes held.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "link/DecodePool.h"

namespace {

tagNxPacket packet(int ch, uint32_t time, const std::vector<uint8_t>& coded)
{
    tagNxPacket pk;
    pk.ch = int8_t(ch);
    pk.time = time;
    pk.inbuff = coded.data();
    pk.insize = int32_t(coded.size());
    return pk;
}

TEST(DecodePool, ChannelsRunInOrderOneJobAtATime)
{
    constexpr int kChannels = 8;
    constexpr uint32_t kJobs = 300;
    std::atomic<int> busy[kChannels] = {};
    std::atomic<int> overlaps{0}, badCopies{0};
    std::mutex m;
    std::vector<uint32_t> seen[kChannels];
    DecodePool pool(
        [&](DecodePool::Job& job) {
            const int ch = job.pk.ch;
            if (busy[ch].fetch_add(1) != 0)
                overlaps++;
            // The job has its own copy of the coded bytes, zeroed after them.
            const uint8_t* p = job.pk.inbuff;
            if (job.pk.insize != 3 || p[0] != uint8_t(ch) || p[2] != uint8_t(job.pk.time) || p[3] != 0 ||
                p[DecodePool::kMargin + 2] != 0)
                badCopies++;
            {
                std::lock_guard<std::mutex> lock(m);
                seen[ch].push_back(job.pk.time);
            }
            busy[ch].fetch_sub(1);
        },
        [](DecodePool::Job&) {}, 4);
    std::vector<uint8_t> coded(3);
    for (uint32_t t = 0; t < kJobs; ++t)
        for (int ch = 0; ch < kChannels; ++ch) {
            coded = {uint8_t(ch), 0xAA, uint8_t(t)};
            DecodePool::Job* job = pool.makeJob(packet(ch, t, coded));
            ASSERT_NE(job, nullptr);
            coded.assign(3, 0xFF);  // the caller's buffer is reused at once
            pool.submit(job);
        }
    pool.waitIdle();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(badCopies.load(), 0);
    for (int ch = 0; ch < kChannels; ++ch) {
        ASSERT_EQ(seen[ch].size(), size_t(kJobs)) << ch;
        for (uint32_t t = 0; t < kJobs; ++t)
            ASSERT_EQ(seen[ch][t], t) << ch;
        EXPECT_EQ(pool.pending(ch), 0);
    }
}

// A held job: cancel drops what is queued (through the drop handler), waits
// for the running job and names the channels that lost jobs. While jobs
// hold the byte bound, a new one is refused.
TEST(DecodePool, CancelAndByteBound)
{
    std::mutex m;
    std::condition_variable cv;
    bool hold = true, started = false;
    std::atomic<int> ran{0}, dropped{0};
    DecodePool pool(
        [&](DecodePool::Job&) {
            std::unique_lock<std::mutex> lock(m);
            started = true;
            cv.notify_all();
            cv.wait(lock, [&] { return !hold; });
            ran++;
        },
        [&](DecodePool::Job&) { dropped++; }, 1);
    const std::vector<uint8_t> big(DecodePool::kMaxPendingBytes / 4);
    for (int i = 0; i < 4; ++i) {
        DecodePool::Job* job = pool.makeJob(packet(i < 3 ? 2 : 5, uint32_t(i), big));
        ASSERT_NE(job, nullptr) << i;
        pool.submit(job);
    }
    EXPECT_EQ(pool.makeJob(packet(2, 9, std::vector<uint8_t>(1))), nullptr);
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return started; });
    }
    EXPECT_EQ(pool.pending(2), 3);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard<std::mutex> lock(m);
        hold = false;
        cv.notify_all();
    });
    const uint16_t lost = pool.cancel();
    releaser.join();
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(dropped.load(), 3);
    EXPECT_EQ(lost, uint16_t((1u << 2) | (1u << 5)));
    EXPECT_EQ(pool.pending(2), 0);
    DecodePool::Job* job = pool.makeJob(packet(2, 10, big));
    ASSERT_NE(job, nullptr);
    pool.submit(job);
    pool.waitIdle();
    EXPECT_EQ(ran.load(), 2);
}

// Without threads a job runs at once on the submitting thread.
TEST(DecodePool, NoThreadsRunsEachJobAsItIsSubmitted)
{
    int ran = 0;
    DecodePool pool([&](DecodePool::Job& job) { ran += int(job.pk.time); }, [](DecodePool::Job&) {}, 0);
    const std::vector<uint8_t> coded(8);
    pool.submit(pool.makeJob(packet(3, 5, coded)));
    EXPECT_EQ(ran, 5);
    EXPECT_EQ(pool.pending(3), 0);
    pool.waitIdle();
}

}  // namespace
