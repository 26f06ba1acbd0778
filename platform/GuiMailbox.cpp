#include "platform/GuiMailbox.h"

#include <QMetaObject>
#include <QObject>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#define VESK_TSAN_HANDOVER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VESK_TSAN_HANDOVER 1
#endif
#endif
#ifdef VESK_TSAN_HANDOVER
#include <sanitizer/tsan_interface.h>
#endif

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
    std::condition_variable idle;  // deliver() has stopped running jobs
    QObject* receiver = nullptr;   // cleared by close()
    Budget budget;
    std::vector<Job> waiting;
    int orderedJobs = 0;
    size_t orderedBytes = 0;
    bool scheduled = false;  // an event is on its way
    bool running = false;    // deliver() runs jobs on `runner`
    std::thread::id runner;

    // Under lock.
    bool fits(size_t bytes) const
    {
        return orderedJobs == 0 || (orderedJobs < budget.jobs && orderedBytes + bytes <= budget.bytes);
    }

    // The posted functor. Qt hands it to the receiver's thread under a lock
    // of its own that ThreadSanitizer does not see, as Qt is not built with
    // it; the functor tells the checker about that hand-over itself (made
    // before it is posted, used and freed after), so no suppression has to
    // cover a stack that every job runs on.
    struct Courier {
        std::shared_ptr<State> state;

        explicit Courier(std::shared_ptr<State> s) : state(std::move(s)) { published(); }
        Courier(Courier&& other) noexcept : state(std::move(other.state)) { published(); }
        Courier(const Courier&) = delete;
        ~Courier() { received(); }
        void operator()()
        {
            received();
            state->deliver();
        }

    private:
        void published()
        {
#ifdef VESK_TSAN_HANDOVER
            __tsan_release(this);
#endif
        }
        void received()
        {
#ifdef VESK_TSAN_HANDOVER
            __tsan_acquire(this);
#endif
        }
    };

    // Under lock: one posted event takes the whole list. While deliver()
    // runs it takes what comes meanwhile itself, so nothing is posted.
    void scheduleLocked(const std::shared_ptr<State>& self)
    {
        if (scheduled || running || !receiver)
            return;
        scheduled = true;
        QMetaObject::invokeMethod(receiver, Courier(self), Qt::QueuedConnection);
    }

    // Receiver's thread. Runs one job at a time until nothing waits; a
    // delivery reached from an event loop inside a job leaves everything to
    // the one already running.
    void deliver()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            scheduled = false;
            if (running)
                return;
            running = true;
            runner = std::this_thread::get_id();
        }
        for (;;) {
            std::vector<Job> batch;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (!receiver || waiting.empty()) {
                    running = false;
                    idle.notify_all();
                    return;
                }
                batch.swap(waiting);
                orderedJobs = 0;
                orderedBytes = 0;
            }
            for (Job& j : batch) {
                {
                    std::lock_guard<std::mutex> guard(lock);
                    if (!receiver)
                        break;
                }
                j.run();
            }
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
    std::vector<Job> dropped;  // freed after the lock is let go
    std::unique_lock<std::mutex> guard(m_state->lock);
    State& s = *m_state;
    s.receiver = nullptr;
    dropped.swap(s.waiting);
    s.orderedJobs = 0;
    s.orderedBytes = 0;
    // On the receiver's thread (also inside a job) nothing else can start a
    // job; another thread waits for the one that runs.
    const auto self = std::this_thread::get_id();
    s.idle.wait(guard, [&s, self] { return !s.running || s.runner == self; });
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
