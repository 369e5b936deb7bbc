// How much of a range of memory is resident, for the tests of what Clear touches,
// and the process's own memory as the memory scan reads it.
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

// Pages of their own (not in any heap), for the scan's buffer.
void* MapPages(std::size_t size);
void UnmapPages(void* pages, std::size_t size);
// The readable, writable regions of this process, [begin, end), but the one
// holding `except`.
std::vector<std::pair<std::uintptr_t, std::uintptr_t>> WritableRegions(const void* except);
// Reads up to `n` bytes at `at` of this process; 0 where they cannot be read.
std::size_t ReadOwnMemory(std::uintptr_t at, void* out, std::size_t n);

}  // namespace vizadavu::test
