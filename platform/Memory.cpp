#include "platform/Memory.h"

#include <malloc.h>

#include <atomic>

namespace Memory {

namespace {

// glibc's ceiling for the threshold on 64-bit; setting it also stops the
// threshold from moving. Only the video queue is mapped on its own. A low
// fixed threshold (128 KiB) kept memory as flat, but mapped and faulted in
// large buffers anew while a link lived: more page faults and CPU time.
constexpr int kMmapThreshold = 32 * 1024 * 1024;

std::atomic<bool> g_configured{false};

}  // namespace

void configureAllocator()
{
    mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
    g_configured = true;
}

void releaseFreeMemory()
{
    if (g_configured)
        malloc_trim(0);
}

bool allocatorConfigured()
{
    return g_configured;
}

}  // namespace Memory
