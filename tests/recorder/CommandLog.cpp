#include "recorder/CommandLog.h"

namespace testrec {

void CommandLog::add(ReceivedCommand c)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(std::move(c));
    }
    cv_.notify_all();
}

void CommandLog::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

std::vector<ReceivedCommand> CommandLog::all() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

std::vector<ReceivedCommand> CommandLog::withId(uint32_t id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ReceivedCommand> out;
    for (const auto& c : log_)
        if (c.id == id)
            out.push_back(c);
    return out;
}

size_t CommandLog::count(uint32_t id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& c : log_)
        n += c.id == id ? 1 : 0;
    return n;
}

size_t CommandLog::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_.size();
}

std::optional<ReceivedCommand> CommandLog::waitFor(uint32_t id, std::chrono::milliseconds timeout, size_t nth) const
{
    if (nth == 0)
        nth = 1;
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<ReceivedCommand> found;
    cv_.wait_for(lock, timeout, [&] {
        size_t seen = 0;
        for (const auto& c : log_)
            if (c.id == id && ++seen == nth) {
                found = c;
                return true;
            }
        return false;
    });
    return found;
}

std::optional<ReceivedCommand> CommandLog::waitForNext(size_t already, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return log_.size() > already; }))
        return std::nullopt;
    return log_[already];
}

}  // namespace testrec
