#pragma once

// The application's allocator policy. When a link is released its decoders
// free their large picture buffers; glibc then raises its mapping threshold
// to their size and serves later buffers of that size from its arenas, one
// per thread, which keep what is freed. Under the policy large blocks stay
// mapped and go back to the system when freed, and what the arenas hold free
// is given back after each link.
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
