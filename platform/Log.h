#pragma once
#include <functional>
#include <string>

// Console log of fixed English phrases. Every module writes through here so
// that tests can capture what was said.
//
// A peer can make a line repeat without end, so each call site (its format
// string) prints at most a few lines a second; the rest are counted and
// summarised as "last message repeated N more times: <format>" once the
// second is over (at the next line logged, or at vlogFlush).
void vlog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Prints the summaries of every call site that has uncounted repeats.
void vlogFlush();

// Replaces the console writer; an empty function restores it. Returns the
// previous sink. Repeat counts start afresh.
using LogSink = std::function<void(const std::string&)>;
LogSink setLogSink(LogSink sink);
