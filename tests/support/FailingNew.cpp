// Replaces the scalar operator new and delete of the test program. Kept in a
// file of its own so that no call site sees new and free together.
#include "tests/support/FailingNew.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool g_failNext = false;
}  // namespace

namespace vizadavu::test {
void FailNextNew(bool fail) noexcept {
  g_failNext = fail;
}
}  // namespace vizadavu::test

void* operator new(std::size_t size) {
  if (g_failNext) {
    g_failNext = false;
    throw std::bad_alloc();
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
