#include "platform/Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
std::mutex g_logMutex;
LogSink g_sink;
}  // namespace

void vlog(const char* fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    std::string line(buf, n < int(sizeof buf) ? size_t(n) : sizeof buf - 1);
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_sink) {
        g_sink(line);
        return;
    }
    std::fputs(line.c_str(), stderr);
    if (line.empty() || line.back() != '\n')
        std::fputc('\n', stderr);
}

LogSink setLogSink(LogSink sink)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    LogSink old = std::move(g_sink);
    g_sink = std::move(sink);
    return old;
}
