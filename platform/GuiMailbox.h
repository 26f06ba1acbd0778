#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class QObject;

// Hands work from worker threads to the thread of a receiver object without
// letting it pile up there. Everything waiting sits in one list that one
// posted event takes whole, so a peer that repeats a report costs at most
// one waiting job per kind:
// - a keyed job replaces the waiting job of the same key (the newest wins,
//   in the place of the first);
// - ordered jobs run in the order posted and count against a budget of jobs
//   and bytes; past it post() queues nothing and answers false.
// Jobs run one at a time: while one runs, also inside an event loop of its
// own (a modal dialog), no other job of the mailbox starts; what waits and
// what is posted meanwhile runs after it returns, in order.
// A closed mailbox drops what waits and everything posted later.
class GuiMailbox {
public:
    struct Budget {
        int jobs = 64;
        size_t bytes = size_t(2) << 20;
    };

    explicit GuiMailbox(QObject* receiver);
    GuiMailbox(QObject* receiver, Budget budget);
    ~GuiMailbox();
    GuiMailbox(const GuiMailbox&) = delete;
    GuiMailbox& operator=(const GuiMailbox&) = delete;

    void postLatest(uint64_t key, std::function<void()> job);
    // A job always fits when nothing ordered waits, whatever its size.
    bool post(std::function<void()> job, size_t bytes = 0);
    // Whether post() would take an ordered job of this many bytes now.
    bool hasRoom(size_t bytes) const;
    // Ends all delivery: once it returns, no job starts. On the receiver's
    // thread, also inside a job, it returns at once. From another thread it
    // waits for the job that runs (which may be showing a modal dialog), so
    // call it there holding nothing a job waits for.
    void close();

    // What waits now (tests and benchmarks).
    int waitingJobs() const;
    size_t waitingBytes() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};
