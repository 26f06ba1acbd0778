#pragma once
#include <chrono>
#include <functional>
#include <string>

// Console log of fixed English phrases. Every module writes through here so
// that tests can capture what was said.
//
// A peer can make lines repeat without end, so output is bounded twice: each
// distinct line (its text as printed) shows at most a few times a second, and
// all ordinary lines together at most a fixed number a second. What is held
// back is counted and summarised with its text, "last message repeated N more
// times: <text>", once its second is over (at the next line logged, at
// vlogFlush, or when the process ends through exit). Should too many
// different lines be held back at once, the rest is counted in one line that
// says how many lines and kinds were not shown.
void vlog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// For why a connection ended or an operation failed: never folded into other
// lines nor held back by their flood; only its own repeats are summarised.
void vlogFailure(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Prints every summary still owed, whether its second is over or not.
void vlogFlush();

// Replaces the console writer; an empty function restores it. Returns the
// previous sink. Repeat counts start afresh.
using LogSink = std::function<void(const std::string&)>;
LogSink setLogSink(LogSink sink);

// The clock the log's one-second windows read (for tests); nullptr restores
// the steady clock. Returns the previous one.
using LogClock = std::chrono::steady_clock::time_point (*)();
LogClock setLogClock(LogClock clock);
