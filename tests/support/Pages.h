// How much of a range of memory is resident, for the tests of what Clear touches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace vizadavu::test {

std::size_t PageSize();
// The resident pages among those `size` bytes at `data` touch; nullopt when the
// system cannot tell.
std::optional<std::size_t> ResidentPages(const void* data, std::size_t size);

#ifdef _WIN32
// The memory scan's view of this process on Windows (on Linux it reads
// /proc/self): pages of their own, the readable and writable regions
// [begin, end) but the one holding `except`, and up to `n` bytes read at `at`.
void* MapPages(std::size_t size);
void UnmapPages(void* pages);
std::vector<std::pair<std::uintptr_t, std::uintptr_t>> WritableRegions(const void* except);
std::size_t ReadOwnMemory(std::uintptr_t at, void* out, std::size_t n);
#endif

}  // namespace vizadavu::test
