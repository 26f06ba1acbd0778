#include "platform/Log.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// Lines of one format printed within a second before the rest are counted.
constexpr int kBurst = 10;
constexpr auto kWindow = std::chrono::seconds(1);
constexpr int kTracked = 64;

// Repeats of one format string (by address: every call site has its own).
struct Repeats {
    const char* fmt = nullptr;
    Clock::time_point windowStart;
    int printed = 0;
    long suppressed = 0;
    Clock::time_point lastUse;
};

std::mutex g_logMutex;
LogSink g_sink;
Repeats g_repeats[kTracked];

void writeLocked(const std::string& line)
{
    if (g_sink) {
        g_sink(line);
        return;
    }
    std::fputs(line.c_str(), stderr);
    if (line.empty() || line.back() != '\n')
        std::fputc('\n', stderr);
}

// The format without its line ends, for the summary.
std::string formatText(const char* fmt)
{
    std::string s(fmt);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

void summariseLocked(Repeats& r)
{
    if (r.suppressed <= 0)
        return;
    char head[96];
    std::snprintf(head, sizeof head, "last message repeated %ld more times: ", r.suppressed);
    writeLocked(head + formatText(r.fmt));
    r.suppressed = 0;
}

// Summaries of every format whose second is over.
void flushDueLocked(Clock::time_point now)
{
    for (Repeats& r : g_repeats) {
        if (r.fmt && r.suppressed > 0 && now - r.windowStart >= kWindow)
            summariseLocked(r);
    }
}

Repeats& trackLocked(const char* fmt, Clock::time_point now)
{
    Repeats* oldest = &g_repeats[0];
    for (Repeats& r : g_repeats) {
        if (r.fmt == fmt)
            return r;
        if (!r.fmt || r.lastUse < oldest->lastUse)
            oldest = &r;
        if (!r.fmt)
            break;
    }
    summariseLocked(*oldest);
    *oldest = Repeats();
    oldest->fmt = fmt;
    oldest->windowStart = now;
    return *oldest;
}

}  // namespace

void vlog(const char* fmt, ...)
{
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        flushDueLocked(now);
        Repeats& r = trackLocked(fmt, now);
        r.lastUse = now;
        if (now - r.windowStart >= kWindow) {
            r.windowStart = now;
            r.printed = 0;
        }
        if (r.printed >= kBurst) {
            ++r.suppressed;
            return;
        }
        ++r.printed;
    }
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    std::string line(buf, n < int(sizeof buf) ? size_t(n) : sizeof buf - 1);
    std::lock_guard<std::mutex> lock(g_logMutex);
    writeLocked(line);
}

void vlogFlush()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    for (Repeats& r : g_repeats)
        if (r.fmt)
            summariseLocked(r);
}

LogSink setLogSink(LogSink sink)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    LogSink old = std::move(g_sink);
    g_sink = std::move(sink);
    for (Repeats& r : g_repeats)
        r = Repeats();
    return old;
}
