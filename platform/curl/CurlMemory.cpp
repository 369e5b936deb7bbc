#include "platform/curl/CurlMemory.h"

#include <curl/curl.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>

#include "platform/SecureMemory.h"

namespace vizadavu::platform {
namespace {

// The scope of the boundary call running on this thread; null: none.
thread_local CurlAllocationScope* t_scope = nullptr;

// An allocation's result, noted in the running call's scope when it is null.
void* Noted(void* block) noexcept {
  if (block == nullptr && t_scope != nullptr) t_scope->NoteRefusal();
  return block;
}

}  // namespace

void NoteRefusedAllocation() noexcept {
  if (t_scope != nullptr) t_scope->NoteRefusal();
}

void* CurlMalloc(std::size_t size) {
  return Noted(std::malloc(size));
}

void* CurlCalloc(std::size_t count, std::size_t size) {
  return Noted(std::calloc(count, size));
}

char* CurlStrdup(const char* text) {
  const std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(CurlMalloc(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

// The C allocator's own size of a block, so that the whole block is wiped,
// whatever libcurl asked for when it allocated it.
void WipingFree(void* block) {
  if (block == nullptr) return;
  SecureWipe(block, malloc_usable_size(block));
  std::free(block);
}

// Never grows in place: the data moves to a new block and the old one is wiped,
// so no copy stays behind in memory the C allocator hands out again.
void* WipingRealloc(void* block, std::size_t size) {
  if (block == nullptr) return CurlMalloc(size);
  const std::size_t old = malloc_usable_size(block);
  if (size <= old && size > 0) return block;  // still fits; wiped whole when freed
  if (size == 0) {
    WipingFree(block);
    return nullptr;
  }
  void* grown = CurlMalloc(size);
  if (grown == nullptr) return nullptr;  // the old block stays valid, as realloc leaves it
  std::memcpy(grown, block, old);
  WipingFree(block);
  return grown;
}

int InitCurlWithWipingMemory(long flags) {
  return curl_global_init_mem(flags, CurlMalloc, WipingFree, WipingRealloc, CurlStrdup, CurlCalloc);
}

CurlAllocationScope::CurlAllocationScope() noexcept : previous_(t_scope) {
  t_scope = this;
}

CurlAllocationScope::~CurlAllocationScope() {
  t_scope = previous_;
}

bool CurlAllocationRefused() noexcept {
  return t_scope != nullptr && t_scope->refused();
}

}  // namespace vizadavu::platform
