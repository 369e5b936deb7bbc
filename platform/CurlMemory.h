// libcurl's allocations through functions that wipe every block they free.
#pragma once

#include <cstddef>

#include "platform/CurlServices.h"

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

// While one lives, libcurl's allocations on this thread ask `services` whether
// they may be had (scopes nest; the innermost asks). Without one, every
// allocation may. libcurl's allocator takes no context of its own, so this is
// how a boundary object's service reaches it.
class CurlAllocationScope {
 public:
  explicit CurlAllocationScope(CurlServices& services) noexcept;
  ~CurlAllocationScope();
  CurlAllocationScope(const CurlAllocationScope&) = delete;
  CurlAllocationScope& operator=(const CurlAllocationScope&) = delete;

 private:
  CurlServices* previous_;
};

}  // namespace vizadavu::platform
