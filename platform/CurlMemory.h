// libcurl's allocations through functions that wipe every block they free.
#pragma once

#include <cstddef>

namespace vizadavu::platform {

// Initialises libcurl (curl_global_init_mem with `flags`) so that every block it
// frees or outgrows is overwritten first: its receive and upload buffers, the
// request it builds (a small body goes out inside it) and its copy of the body.
// When libcurl was initialised already, by the host or by another library in
// the process, its allocator is the one chosen then and this only counts one
// more initialisation. Returns the CURLcode as an int; 0 is success.
int InitCurlWithWipingMemory(long flags);

// The allocator's reallocation and release, as libcurl gets them.
void* WipingRealloc(void* block, std::size_t size);
void WipingFree(void* block);

// For tests: after `successes` more allocations by libcurl on this thread, the
// next one fails (once); a negative count disarms. Effective only when libcurl
// runs on this allocator. Returns whether a failure is still pending.
void FailCurlAllocationAfter(int successes) noexcept;
bool CurlAllocationFailurePending() noexcept;

}  // namespace vizadavu::platform
