#include <windows.h>
// after windows.h
#include <psapi.h>

#include <cstdint>
#include <vector>

#include "tests/support/Pages.h"

namespace vizadavu::test {

std::size_t PageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

std::optional<std::size_t> ResidentPages(const void* data, std::size_t size) {
  const std::size_t page = PageSize();
  const auto start = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
  const std::size_t count =
      (reinterpret_cast<std::uintptr_t>(data) + size - start + page - 1) / page;
  std::vector<PSAPI_WORKING_SET_EX_INFORMATION> pages(count);
  for (std::size_t i = 0; i < count; ++i)
    pages[i].VirtualAddress = reinterpret_cast<void*>(start + i * page);
  if (!QueryWorkingSetEx(GetCurrentProcess(), pages.data(),
                         static_cast<DWORD>(count * sizeof pages[0]))) {
    return std::nullopt;
  }
  std::size_t resident = 0;
  for (const auto& p : pages) resident += p.VirtualAttributes.Valid;
  return resident;
}

void* MapPages(std::size_t size) {
  return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void UnmapPages(void* pages) {
  VirtualFree(pages, 0, MEM_RELEASE);
}

// Committed, writable, guard pages aside: heaps, stacks, the modules' data and
// the mappings the library and WinINet make.
std::vector<std::pair<std::uintptr_t, std::uintptr_t>> WritableRegions(const void* except) {
  MEMORY_BASIC_INFORMATION own{};
  VirtualQuery(except, &own, sizeof own);
  constexpr DWORD kWritable =
      PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  std::vector<std::pair<std::uintptr_t, std::uintptr_t>> regions;
  MEMORY_BASIC_INFORMATION info{};
  for (auto* at = static_cast<const char*>(nullptr); VirtualQuery(at, &info, sizeof info) != 0;
       at = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
    const auto begin = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
    if (info.State == MEM_COMMIT && (info.Protect & kWritable) && !(info.Protect & PAGE_GUARD) &&
        info.AllocationBase != own.AllocationBase) {
      regions.emplace_back(begin, begin + info.RegionSize);
    }
  }
  return regions;
}

std::size_t ReadOwnMemory(std::uintptr_t at, void* out, std::size_t n) {
  SIZE_T got = 0;  // what was read, also when the call fails part way
  ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(at), out, n, &got);
  return got;
}

}  // namespace vizadavu::test
