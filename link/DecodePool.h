#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "decode/CoDecoder.h"

class RingBuffer;
struct tag_FrameV_Orgin;

// The decoding threads of one link. Each job is one coded picture of one
// channel with its own copy of the coded bytes and the queue it is to be
// decoded into. Jobs of one channel run one at a time, in the order they
// were submitted; jobs of different channels run in parallel, the channels
// taking turns. Threads start with the first job.
class DecodePool {
public:
    static constexpr int kChannels = 16;
    // Zeroed bytes kept after the coded data: the decoder reads past it.
    static constexpr int kMargin = 64;
    // Coded bytes held by queued and running jobs; past this a new job is
    // refused unless the pool is idle.
    static constexpr size_t kMaxPendingBytes = 32u << 20;
    // A finished job keeps its buffer for the next one up to this size.
    static constexpr size_t kKeepBytes = 1u << 20;

    struct Job {
        tagNxPacket pk;  // inbuff points into data
        std::vector<uint8_t> data;
        RingBuffer* queue = nullptr;
        tag_FrameV_Orgin* slot = nullptr;  // taken ahead, or when the decode starts
        // Decoded only for the pictures after it: its picture is not shown.
        bool hidden = false;
        int stream = 0;  // what the link streamed when it was handed over
        size_t bytes = 0;
        Job* next = nullptr;
    };
    using Handler = std::function<void(Job&)>;

    // run decodes a job on a pool thread; drop gives back the slot of a job
    // that was cancelled before it ran.
    DecodePool(Handler run, Handler drop, int threads = defaultThreads());
    ~DecodePool();
    DecodePool(const DecodePool&) = delete;
    DecodePool& operator=(const DecodePool&) = delete;

    // Thread count; takes effect only before the first job. With 0 every
    // job runs at once on the thread that submits it.
    void setThreads(int threads);
    int threads() const;
    static int defaultThreads();

    // A job holding a copy of the packet and its coded bytes (inbuff,
    // insize), or null when the pending bytes would pass the bound.
    Job* makeJob(const tagNxPacket& pk);
    // Queues a job made by makeJob for its channel (pk.ch, 0..15).
    void submit(Job* job);
    // Gives back a job that was made but is not to be submitted.
    void discard(Job* job);

    // Jobs of a channel queued or running.
    int pending(int ch) const;
    void waitIdle();
    // Drops every queued job (through drop) and waits for the running ones;
    // answers the channels that lost jobs, bit n for channel n.
    uint16_t cancel();

private:
    struct Channel {
        Job* head = nullptr;
        Job* tail = nullptr;
        int count = 0;  // queued and running
        bool running = false;
        bool scheduled = false;  // in the run queue
    };

    void startThreads();  // caller holds m_lock
    void threadMain();
    void schedule(int ch);  // caller holds m_lock
    Job* popJob(int ch);    // caller holds m_lock
    void recycle(Job* job);  // caller holds m_lock
    bool idleLocked() const;

    Handler m_run;
    Handler m_drop;
    int m_threadCount;
    mutable std::mutex m_lock;
    std::condition_variable m_work;
    std::condition_variable m_done;
    Channel m_ch[kChannels];
    int m_runQueue[kChannels] = {};
    int m_runHead = 0;
    int m_runCount = 0;
    int m_running = 0;
    size_t m_pendingBytes = 0;
    bool m_stop = false;
    std::vector<std::unique_ptr<Job>> m_jobs;
    std::vector<Job*> m_free;
    std::vector<std::thread> m_threads;
};
