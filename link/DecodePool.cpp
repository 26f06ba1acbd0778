#include "link/DecodePool.h"

#include <algorithm>
#include <cstring>

DecodePool::DecodePool(Handler run, Handler drop, int threads)
    : m_run(std::move(run)), m_drop(std::move(drop)), m_threadCount(std::clamp(threads, 0, kChannels))
{
}

DecodePool::~DecodePool()
{
    cancel();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_work.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

int DecodePool::defaultThreads()
{
    // Half the cores, at most four: enough for sixteen channels of 1080p,
    // and the rest stays for the view and the other threads.
    int cores = int(std::thread::hardware_concurrency());
    return std::clamp(cores / 2, 1, 4);
}

void DecodePool::setThreads(int threads)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_threads.empty())
        m_threadCount = std::clamp(threads, 0, kChannels);
}

int DecodePool::threads() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_threadCount;
}

void DecodePool::startThreads()
{
    if (!m_threads.empty())
        return;
    for (int i = 0; i < m_threadCount; ++i)
        m_threads.emplace_back([this] { threadMain(); });
}

DecodePool::Job* DecodePool::makeJob(const tagNxPacket& pk)
{
    size_t n = pk.insize > 0 && pk.inbuff ? size_t(pk.insize) : 0;
    Job* job;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_pendingBytes > 0 && m_pendingBytes + n > kMaxPendingBytes)
            return nullptr;
        if (m_free.empty()) {
            m_jobs.push_back(std::make_unique<Job>());
            m_free.push_back(m_jobs.back().get());
        }
        job = m_free.back();
        m_free.pop_back();
        m_pendingBytes += n;
    }
    job->bytes = n;
    job->data.resize(n + kMargin);
    if (n > 0)
        std::memcpy(job->data.data(), pk.inbuff, n);
    std::memset(job->data.data() + n, 0, kMargin);
    job->pk = pk;
    job->pk.inbuff = job->data.data();
    job->pk.insize = int32_t(n);
    // The received frame is not kept.
    job->pk.raw_ptr = nullptr;
    job->queue = nullptr;
    job->slot = nullptr;
    job->hidden = false;
    job->stream = 0;
    job->next = nullptr;
    return job;
}

void DecodePool::recycle(Job* job)
{
    m_pendingBytes -= std::min(m_pendingBytes, job->bytes);
    job->bytes = 0;
    job->slot = nullptr;
    job->queue = nullptr;
    if (job->data.capacity() > kKeepBytes)
        std::vector<uint8_t>().swap(job->data);
    m_free.push_back(job);
}

void DecodePool::discard(Job* job)
{
    if (!job)
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    recycle(job);
}

void DecodePool::submit(Job* job)
{
    if (!job)
        return;
    int ch = job->pk.ch;
    if (ch < 0 || ch >= kChannels) {
        m_drop(*job);
        discard(job);
        return;
    }
    if (threads() == 0) {
        m_run(*job);
        discard(job);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        startThreads();
        Channel& c = m_ch[ch];
        job->next = nullptr;
        if (c.tail)
            c.tail->next = job;
        else
            c.head = job;
        c.tail = job;
        c.count++;
        if (!c.running)
            schedule(ch);
    }
    m_work.notify_one();
}

void DecodePool::schedule(int ch)
{
    Channel& c = m_ch[ch];
    if (c.scheduled || !c.head)
        return;
    c.scheduled = true;
    m_runQueue[(m_runHead + m_runCount) % kChannels] = ch;
    m_runCount++;
}

DecodePool::Job* DecodePool::popJob(int ch)
{
    Channel& c = m_ch[ch];
    Job* job = c.head;
    if (job) {
        c.head = job->next;
        if (!c.head)
            c.tail = nullptr;
        job->next = nullptr;
    }
    return job;
}

void DecodePool::threadMain()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_work.wait(lock, [this] { return m_stop || m_runCount > 0; });
        if (m_runCount == 0)
            return;  // stopping, nothing left
        int ch = m_runQueue[m_runHead];
        m_runHead = (m_runHead + 1) % kChannels;
        m_runCount--;
        Channel& c = m_ch[ch];
        c.scheduled = false;
        Job* job = popJob(ch);
        if (!job)
            continue;
        c.running = true;
        m_running++;
        lock.unlock();
        m_run(*job);
        lock.lock();
        recycle(job);
        c.count--;
        c.running = false;
        m_running--;
        // One job per turn, so that every channel keeps up.
        schedule(ch);
        if (m_runCount > 0)
            m_work.notify_one();
        if (idleLocked() || m_running == 0)
            m_done.notify_all();
    }
}

bool DecodePool::idleLocked() const
{
    return m_running == 0 && m_runCount == 0;
}

int DecodePool::pending(int ch) const
{
    if (ch < 0 || ch >= kChannels)
        return 0;
    std::lock_guard<std::mutex> lock(m_lock);
    return m_ch[ch].count;
}

void DecodePool::waitIdle()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_done.wait(lock, [this] { return idleLocked(); });
}

uint16_t DecodePool::cancel()
{
    std::vector<Job*> dropped;
    uint16_t lost = 0;
    std::unique_lock<std::mutex> lock(m_lock);
    for (int ch = 0; ch < kChannels; ++ch) {
        Channel& c = m_ch[ch];
        while (Job* job = popJob(ch)) {
            dropped.push_back(job);
            c.count--;
            lost = uint16_t(lost | (1u << ch));
        }
        c.scheduled = false;
    }
    m_runHead = 0;
    m_runCount = 0;
    lock.unlock();
    for (Job* job : dropped)
        m_drop(*job);
    lock.lock();
    for (Job* job : dropped)
        recycle(job);
    m_done.wait(lock, [this] { return m_running == 0; });
    m_done.notify_all();
    return lost;
}
