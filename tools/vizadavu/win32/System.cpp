// The program's operating-system services on Windows. File names arrive in
// UTF-8 and go to the wide (UTF-16) functions, so any name the file system
// takes works, whatever the ANSI code page.
#include "tools/vizadavu/System.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <system_error>

#include "tools/vizadavu/Cli.h"

namespace vizadavu::cli {
namespace {

std::string LastErrorText() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

}  // namespace

std::string CreateFileBeside(const std::string& path, std::string& why) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = path + ".";
    for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    // CREATE_NEW: never an existing file; the default security descriptor
    // gives the new file the directory's inherited access, as any file made
    // there would have.
    const HANDLE file = CreateFileW(PathOf(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return name;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  why = LastErrorText();
  return {};
}

bool MoveOver(const std::string& from, const std::string& to, std::string& why) {
  // rename() refuses an existing target on Windows; this replaces it.
  if (MoveFileExW(PathOf(from).c_str(), PathOf(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  why = LastErrorText();
  return false;
}

// Windows does not overcommit: the control's mapping of the read is charged
// to the commit limit at once. So the read is at most half of the commit
// still available as well as half of the memory and of the address space.
Long MachineReadSize() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return -1;  // unknown: read in chunks
  const std::uint64_t memory =
      std::min<std::uint64_t>(status.ullTotalPhys, status.ullAvailPageFile);
  return DefaultReadSize(0, memory, status.ullAvailVirtual);
}

int Demo(const Environment&) {
  throw UsageError(
      "--demo is not available on Windows (this build has no loopback server); "
      "run a form server and give its URL");
}

}  // namespace vizadavu::cli
