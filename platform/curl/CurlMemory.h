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

// The allocator's functions, as libcurl gets them. A block that cannot be had
// is noted in the running call's scope.
void* CurlMalloc(std::size_t size);
void* CurlCalloc(std::size_t count, std::size_t size);
char* CurlStrdup(const char* text);
void* WipingRealloc(void* block, std::size_t size);
void WipingFree(void* block);
// Notes in the running call's scope that an allocation of libcurl's could not
// be had (for an allocator that wraps the functions above).
void NoteRefusedAllocation() noexcept;

// While one lives, it notes any allocation of libcurl's on this thread that
// could not be had (scopes nest; the innermost notes), so that the call can
// report running out of memory rather than whatever libcurl made of it.
// libcurl's allocator takes no context of its own, so this is how a boundary
// call learns of it.
class CurlAllocationScope {
 public:
  CurlAllocationScope() noexcept;
  ~CurlAllocationScope();
  CurlAllocationScope(const CurlAllocationScope&) = delete;
  CurlAllocationScope& operator=(const CurlAllocationScope&) = delete;

  // Whether an allocation of libcurl's failed on this thread in this scope.
  bool refused() const noexcept { return refused_; }
  void NoteRefusal() noexcept { refused_ = true; }

 private:
  CurlAllocationScope* previous_;
  bool refused_ = false;
};

// Whether the innermost scope on this thread noted a refused allocation.
bool CurlAllocationRefused() noexcept;

}  // namespace vizadavu::platform
