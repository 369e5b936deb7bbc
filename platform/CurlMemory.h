// libcurl's allocations through functions that wipe every block they free.
#pragma once

namespace vizadavu::platform {

// Initialises libcurl (curl_global_init_mem with `flags`) so that every block it
// frees or outgrows is overwritten first: its receive and upload buffers, the
// request it builds (a small body goes out inside it) and its copy of the body.
// When libcurl was initialised already, by the host or by another library in
// the process, its allocator is the one chosen then and this only counts one
// more initialisation. Returns the CURLcode as an int; 0 is success.
int InitCurlWithWipingMemory(long flags);

}  // namespace vizadavu::platform
