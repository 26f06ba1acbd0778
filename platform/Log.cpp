#include "platform/Log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;
using Time = Clock::time_point;

constexpr auto kWindow = std::chrono::seconds(1);
// Lines a second: of one distinct line, of all ordinary lines together (their
// summaries included) and of all failure lines together.
constexpr int kLineBurst = 10;
constexpr int kOrdinaryBurst = 100;
constexpr int kFailureBurst = 100;
// Distinct lines whose repeats are counted one by one.
constexpr int kTracked = 128;
// Kinds counted exactly among lines that found no room in that table.
constexpr int kKindSlots = 1024;
constexpr int kKindLimit = kKindSlots * 3 / 4;

struct Line {
    bool used = false;
    bool failure = false;
    uint64_t key = 0;
    std::string text;
    Time windowStart;
    int printed = 0;  // shown in the current window
    long held = 0;    // not shown since the last summary
    Time dueAt;       // when the summary of what is held may be written
    Time lastUse;
};

// Lines allowed within a window of one second.
struct Budget {
    int limit = 0;
    bool started = false;
    Time start;
    int used = 0;

    void roll(Time now)
    {
        if (!started || now - start >= kWindow) {
            started = true;
            start = now;
            used = 0;
        }
    }
    bool take()
    {
        if (used >= limit)
            return false;
        ++used;
        return true;
    }
    Time end() const { return start + kWindow; }
};

struct State {
    std::mutex mutex;
    LogSink sink;
    LogClock clock = nullptr;
    Line lines[kTracked];
    int cursor = 0;         // the scan for due summaries starts here
    Time nextDue = Time::max();
    Budget ordinary{kOrdinaryBurst, false, Time(), 0};
    Budget failures{kFailureBurst, false, Time(), 0};
    // Lines held back while the table was full of lines owing a summary.
    long untracked = 0;
    int untrackedKinds = 0;
    bool kindsSaturated = false;
    uint64_t kinds[kKindSlots] = {};
    Time untrackedDueAt;
    std::string out;  // reused for every line written
};

void flushAtExit()
{
    vlogFlush();
}

// Never destroyed, so that the flush at process end finds it whatever the
// order of static destructors.
State& state()
{
    static State* s = [] {
        auto* made = new State;
        std::atexit(flushAtExit);
        return made;
    }();
    return *s;
}

uint64_t lineKey(const char* text, size_t len, bool failure)
{
    uint64_t h = failure ? 0x84222325cbf29ce4ull : 0xcbf29ce484222325ull;
    for (size_t i = 0; i < len; ++i) {
        h ^= uint8_t(text[i]);
        h *= 0x100000001b3ull;
    }
    return h ? h : 1;
}

void writeLocked(State& s)
{
    if (s.sink) {
        s.sink(s.out);
        return;
    }
    std::fputs(s.out.c_str(), stderr);
    if (s.out.empty() || s.out.back() != '\n')
        std::fputc('\n', stderr);
}

void summariseLocked(State& s, Line& l)
{
    char head[64];
    int n = std::snprintf(head, sizeof head, "last message repeated %ld more times: ", l.held);
    s.out.assign(head, size_t(n));
    size_t len = l.text.size();
    while (len > 0 && (l.text[len - 1] == '\n' || l.text[len - 1] == '\r'))
        --len;
    s.out.append(l.text, 0, len);
    l.held = 0;
    writeLocked(s);
}

void summariseUntrackedLocked(State& s)
{
    char buf[160];
    int n = std::snprintf(buf, sizeof buf, "%ld more lines not shown, %s%d kinds: too many different lines at once",
                          s.untracked, s.kindsSaturated ? "over " : "", s.untrackedKinds);
    s.out.assign(buf, size_t(n));
    s.untracked = 0;
    s.untrackedKinds = 0;
    s.kindsSaturated = false;
    std::memset(s.kinds, 0, sizeof s.kinds);
    writeLocked(s);
}

void countUntrackedLocked(State& s, uint64_t key, long lines)
{
    if (s.untracked == 0)
        s.untrackedDueAt = s.ordinary.end();
    s.untracked += lines;
    if (s.kindsSaturated)
        return;
    for (int i = int(key % kKindSlots);; i = (i + 1) % kKindSlots) {
        if (s.kinds[i] == key)
            return;
        if (s.kinds[i] == 0) {
            if (s.untrackedKinds >= kKindLimit) {
                s.kindsSaturated = true;
                return;
            }
            s.kinds[i] = key;
            ++s.untrackedKinds;
            return;
        }
    }
}

// Writes the summaries whose second is over, as far as the budgets allow.
void flushDueLocked(State& s, Time now)
{
    s.ordinary.roll(now);
    s.failures.roll(now);
    if (s.untracked > 0 && now >= s.untrackedDueAt && s.ordinary.take())
        summariseUntrackedLocked(s);
    if (now < s.nextDue)
        return;
    Time next = Time::max();
    int blocked = -1;
    for (int i = 0; i < kTracked; ++i) {
        const int at = (s.cursor + i) % kTracked;
        Line& l = s.lines[at];
        if (!l.used || l.held == 0)
            continue;
        Budget& budget = l.failure ? s.failures : s.ordinary;
        if (now >= l.dueAt) {
            if (budget.take()) {
                summariseLocked(s, l);
                continue;
            }
            // Waits for the next window; the scan resumes here then.
            if (blocked < 0)
                blocked = at;
            next = std::min(next, budget.end());
        } else {
            next = std::min(next, l.dueAt);
        }
    }
    s.nextDue = next;
    if (blocked >= 0)
        s.cursor = blocked;
}

// Which slot a new line takes, lowest first: a free one, an ordinary line
// owing nothing, then for a failure an ordinary line owing a summary (its
// count goes to the aggregate) before a failure line owing nothing. A line
// owing a summary is never taken by an ordinary one.
int evictRank(const Line& l, bool forFailure)
{
    if (!l.used)
        return 0;
    if (l.held == 0)
        return l.failure ? (forFailure ? 3 : 2) : 1;
    return forFailure && !l.failure ? 2 : -1;
}

// The tracked line with this text, or a slot for it (nullptr when none).
Line* findLocked(State& s, uint64_t key, bool failure, const char* text, size_t len, Time now)
{
    Line* spare = nullptr;
    int spareRank = 0;
    for (Line& l : s.lines) {
        if (l.used && l.key == key && l.failure == failure && l.text.size() == len &&
            std::memcmp(l.text.data(), text, len) == 0)
            return &l;
        const int rank = evictRank(l, failure);
        if (rank < 0)
            continue;
        if (!spare || rank < spareRank || (rank == spareRank && l.lastUse < spare->lastUse)) {
            spare = &l;
            spareRank = rank;
        }
    }
    if (!spare)
        return nullptr;
    if (spare->used && spare->held > 0)
        countUntrackedLocked(s, spare->key, spare->held);
    spare->used = true;
    spare->failure = failure;
    spare->key = key;
    spare->text.assign(text, len);
    spare->windowStart = now;
    spare->printed = 0;
    spare->held = 0;
    spare->lastUse = now;
    return spare;
}

void logLine(bool failure, const char* fmt, va_list ap)
{
    char buf[1024];
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    if (n < 0)
        return;
    const size_t len = std::min(size_t(n), sizeof buf - 1);
    const uint64_t key = lineKey(buf, len, failure);

    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const Time now = s.clock ? s.clock() : Clock::now();
    flushDueLocked(s, now);
    Budget& budget = failure ? s.failures : s.ordinary;
    Line* l = findLocked(s, key, failure, buf, len, now);
    if (!l) {
        if (!budget.take()) {
            countUntrackedLocked(s, key, 1);
            return;
        }
    } else {
        l->lastUse = now;
        if (now - l->windowStart >= kWindow) {
            l->windowStart = now;
            l->printed = 0;
        }
        if (l->printed >= kLineBurst || !budget.take()) {
            if (l->held++ == 0) {
                l->dueAt = l->windowStart + kWindow;
                s.nextDue = std::min(s.nextDue, l->dueAt);
            }
            return;
        }
        ++l->printed;
    }
    s.out.assign(buf, len);
    writeLocked(s);
}

void resetLocked(State& s)
{
    for (Line& l : s.lines) {
        l.used = false;
        l.held = 0;
        l.text.clear();
    }
    s.cursor = 0;
    s.nextDue = Time::max();
    s.ordinary.started = false;
    s.failures.started = false;
    s.untracked = 0;
    s.untrackedKinds = 0;
    s.kindsSaturated = false;
    std::memset(s.kinds, 0, sizeof s.kinds);
}

}  // namespace

void vlog(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    logLine(false, fmt, ap);
    va_end(ap);
}

void vlogFailure(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    logLine(true, fmt, ap);
    va_end(ap);
}

void vlogFlush()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (int i = 0; i < kTracked; ++i) {
        Line& l = s.lines[(s.cursor + i) % kTracked];
        if (l.used && l.held > 0)
            summariseLocked(s, l);
    }
    if (s.untracked > 0)
        summariseUntrackedLocked(s);
    s.nextDue = Time::max();
}

LogSink setLogSink(LogSink sink)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    LogSink old = std::move(s.sink);
    s.sink = std::move(sink);
    resetLocked(s);
    return old;
}

LogClock setLogClock(LogClock clock)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    LogClock old = s.clock;
    s.clock = clock;
    resetLocked(s);
    return old;
}
