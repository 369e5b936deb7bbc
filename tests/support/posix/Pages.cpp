#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "tests/support/Pages.h"

namespace vizadavu::test {

std::size_t PageSize() {
  return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

std::optional<std::size_t> ResidentPages(const void* data, std::size_t size) {
  const std::size_t page = PageSize();
  const auto start = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
  const std::size_t length = reinterpret_cast<std::uintptr_t>(data) + size - start;
  std::vector<unsigned char> resident((length + page - 1) / page);
  if (mincore(reinterpret_cast<void*>(start), length, resident.data()) != 0) return std::nullopt;
  std::size_t pages = 0;
  for (unsigned char r : resident) pages += r & 1u;
  return pages;
}

}  // namespace vizadavu::test
