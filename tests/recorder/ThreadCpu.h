#pragma once
// CPU time a test peer's own thread has used.

#include <pthread.h>
#include <time.h>

#include <thread>

namespace testrec {

// Seconds of CPU the thread has used; 0 when it does not run.
inline double threadCpuSeconds(const std::thread& t)
{
    clockid_t id;
    timespec ts{};
    if (!t.joinable() || pthread_getcpuclockid(const_cast<std::thread&>(t).native_handle(), &id) != 0 ||
        clock_gettime(id, &ts) != 0)
        return 0;
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

}  // namespace testrec
