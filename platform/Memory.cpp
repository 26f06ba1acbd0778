#include "platform/Memory.h"

#include <malloc.h>

#include <atomic>

namespace Memory {

namespace {

// glibc's starting threshold; setting it also stops it from moving.
constexpr int kMmapThreshold = 128 * 1024;

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
