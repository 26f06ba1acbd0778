#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "platform/GuiMailbox.h"

// What a reporter of one link needs to post its reports into a receiver's
// mailbox: each report runs on the receiver's thread only while that link
// is still the current one (current() is asked there, at delivery).
// Reports that matter only by their newest value wait once per kind.
template <typename Target>
class MailboxReporter {
public:
    MailboxReporter(std::shared_ptr<GuiMailbox> box, Target* target, uint64_t epoch, std::function<bool()> current)
        : m_box(std::move(box)),
          m_target(target),
          m_epoch(epoch),
          m_current(std::make_shared<const std::function<bool()>>(std::move(current)))
    {
    }

    // A job that calls fn(target) if the link is still current.
    template <typename Fn>
    std::function<void()> wrap(Fn fn) const
    {
        return [target = m_target, current = m_current, fn = std::move(fn)]() {
            if ((*current)())
                fn(*target);
        };
    }

    // Waits once per kind of this link; the newest value wins.
    template <typename Fn>
    void latest(uint64_t kind, Fn fn) const
    {
        m_box->postLatest(key(kind), wrap(std::move(fn)));
    }

    // In posting order; past the mailbox's budget only the newest of them
    // waits, under the overflow kind.
    template <typename Fn>
    void inOrder(uint64_t overflowKind, Fn fn) const
    {
        std::function<void()> job = wrap(std::move(fn));
        if (!m_box->post(job))
            m_box->postLatest(key(overflowKind), std::move(job));
    }

    // In posting order within the budget; false when it was full.
    template <typename Fn>
    bool inOrderOrDrop(Fn fn, size_t bytes) const
    {
        return m_box->post(wrap(std::move(fn)), bytes);
    }

    bool hasRoom(size_t bytes) const { return m_box->hasRoom(bytes); }

private:
    uint64_t key(uint64_t kind) const { return m_epoch << 8 | kind; }

    std::shared_ptr<GuiMailbox> m_box;
    Target* m_target;
    uint64_t m_epoch;
    std::shared_ptr<const std::function<bool()>> m_current;
};
