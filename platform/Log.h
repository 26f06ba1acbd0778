#pragma once
#include <functional>
#include <string>

// Console log of fixed English phrases. Every module writes through here so
// that tests can capture what was said.
void vlog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Replaces the console writer; an empty function restores it. Returns the
// previous sink.
using LogSink = std::function<void(const std::string&)>;
LogSink setLogSink(LogSink sink);
