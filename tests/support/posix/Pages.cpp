#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
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

void* MapPages(std::size_t size) {
  void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return map == MAP_FAILED ? nullptr : map;
}

void UnmapPages(void* pages, std::size_t size) {
  munmap(pages, size);
}

std::vector<std::pair<std::uintptr_t, std::uintptr_t>> WritableRegions(const void* except) {
  const auto self = reinterpret_cast<std::uintptr_t>(except);
  std::vector<std::pair<std::uintptr_t, std::uintptr_t>> regions;
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    unsigned long begin = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line.c_str(), "%lx-%lx %4s", &begin, &end, perms) != 3) continue;
    if (perms[0] != 'r' || perms[1] != 'w' || (begin <= self && self < end)) continue;
    regions.emplace_back(begin, end);
  }
  return regions;
}

std::size_t ReadOwnMemory(std::uintptr_t at, void* out, std::size_t n) {
  static const int mem = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
  const ssize_t got = mem < 0 ? -1 : pread(mem, out, n, static_cast<off_t>(at));
  return got > 0 ? static_cast<std::size_t>(got) : 0;  // a guard page, a device
}

}  // namespace vizadavu::test
