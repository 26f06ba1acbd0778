#pragma once

// The application's allocator policy. glibc maps large blocks on their own
// until the first of them is freed, then raises its threshold and serves
// them from per-thread arenas, which keep what is freed: over many
// connections memory grew. Under the policy the threshold stays at its
// ceiling, so the link's and its decoders' buffers always come from the
// arenas and are reused there while the link lives, and what the arenas hold
// free goes back to the system after each link.
namespace Memory {

// Sets the policy; called first in main, before any thread starts.
void configureAllocator();

// Gives the memory the allocator holds free back to the system; called
// after a link and its decoders are released. Does nothing in a program
// that did not set the policy.
void releaseFreeMemory();

// True once configureAllocator() has run.
bool allocatorConfigured();

}  // namespace Memory
