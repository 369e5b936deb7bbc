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

}  // namespace vizadavu::test
