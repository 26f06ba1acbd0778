#include "platform/GuiMailbox.h"

#include <QMetaObject>
#include <QObject>
#include <mutex>
#include <vector>

namespace {

constexpr uint64_t kOrdered = ~uint64_t(0);

struct Job {
    uint64_t key;
    std::function<void()> run;
    size_t bytes;
};

}  // namespace

struct GuiMailbox::State {
    mutable std::mutex lock;
    QObject* receiver = nullptr;  // cleared by close()
    Budget budget;
    std::vector<Job> waiting;
    int orderedJobs = 0;
    size_t orderedBytes = 0;
    bool scheduled = false;

    // Under lock.
    bool fits(size_t bytes) const
    {
        return orderedJobs == 0 || (orderedJobs < budget.jobs && orderedBytes + bytes <= budget.bytes);
    }

    // Under lock: one posted event takes the whole list.
    void scheduleLocked(const std::shared_ptr<State>& self)
    {
        if (scheduled || !receiver)
            return;
        scheduled = true;
        QMetaObject::invokeMethod(receiver, [self] { self->deliver(); }, Qt::QueuedConnection);
    }

    // Receiver's thread.
    void deliver()
    {
        std::vector<Job> jobs;
        {
            std::lock_guard<std::mutex> guard(lock);
            scheduled = false;
            jobs.swap(waiting);
            orderedJobs = 0;
            orderedBytes = 0;
        }
        for (Job& j : jobs) {
            {
                std::lock_guard<std::mutex> guard(lock);
                if (!receiver)
                    return;
            }
            j.run();
        }
    }
};

GuiMailbox::GuiMailbox(QObject* receiver) : GuiMailbox(receiver, Budget()) {}

GuiMailbox::GuiMailbox(QObject* receiver, Budget budget) : m_state(std::make_shared<State>())
{
    m_state->receiver = receiver;
    m_state->budget = budget;
}

GuiMailbox::~GuiMailbox()
{
    close();
}

void GuiMailbox::postLatest(uint64_t key, std::function<void()> job)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    if (!m_state->receiver)
        return;
    for (Job& j : m_state->waiting) {
        if (j.key == key) {
            j.run = std::move(job);
            return;
        }
    }
    m_state->waiting.push_back(Job{key, std::move(job), 0});
    m_state->scheduleLocked(m_state);
}

bool GuiMailbox::post(std::function<void()> job, size_t bytes)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    State& s = *m_state;
    if (!s.receiver)
        return true;  // nobody listens: taken and dropped
    if (!s.fits(bytes))
        return false;
    s.waiting.push_back(Job{kOrdered, std::move(job), bytes});
    ++s.orderedJobs;
    s.orderedBytes += bytes;
    s.scheduleLocked(m_state);
    return true;
}

bool GuiMailbox::hasRoom(size_t bytes) const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return !m_state->receiver || m_state->fits(bytes);
}

void GuiMailbox::close()
{
    std::vector<Job> dropped;
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->receiver = nullptr;
    dropped.swap(m_state->waiting);
    m_state->orderedJobs = 0;
    m_state->orderedBytes = 0;
}

int GuiMailbox::waitingJobs() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return int(m_state->waiting.size());
}

size_t GuiMailbox::waitingBytes() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->orderedBytes;
}
