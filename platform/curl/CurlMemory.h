// libcurl's allocations through functions that wipe every block they free.
#pragma once

#include <cstddef>

#include "platform/curl/CurlLibrary.h"

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
// they may be had (scopes nest; the innermost asks) and it notes any that could
// not be had, so that the call can report running out of memory rather than
// whatever libcurl made of it. Without one, every allocation may. libcurl's
// allocator takes no context of its own, so this is how a boundary object's
// service reaches it.
class CurlAllocationScope {
 public:
  explicit CurlAllocationScope(CurlLibrary& services) noexcept;
  ~CurlAllocationScope();
  CurlAllocationScope(const CurlAllocationScope&) = delete;
  CurlAllocationScope& operator=(const CurlAllocationScope&) = delete;

  CurlLibrary& services() const noexcept { return services_; }
  // Whether an allocation of libcurl's failed on this thread in this scope.
  bool refused() const noexcept { return refused_; }
  void NoteRefusal() noexcept { refused_ = true; }

 private:
  CurlLibrary& services_;
  CurlAllocationScope* previous_;
  bool refused_ = false;
};

// Whether the innermost scope on this thread noted a refused allocation.
bool CurlAllocationRefused() noexcept;

}  // namespace vizadavu::platform
