// The program's operating-system services on POSIX systems.
#include "tools/vizadavu/System.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include "tools/vizadavu/Cli.h"

namespace vizadavu::cli {

std::string CreateFileBeside(const std::string& path, std::string& why) {
  std::string name = path + ".XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    why = std::strerror(errno);
    return {};
  }
  close(fd);
  return name;
}

bool MoveOver(const std::string& from, const std::string& to, std::string& why) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  why = std::strerror(errno);
  return false;
}

Long MachineReadSize() {
  std::ifstream policy("/proc/sys/vm/overcommit_memory");
  int overcommit = 0;  // stays 0 (heuristic) when the file cannot be read
  policy >> overcommit;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  const std::uint64_t memory = pages > 0 && pageSize > 0 ? static_cast<std::uint64_t>(pages) *
                                                               static_cast<std::uint64_t>(pageSize)
                                                         : 0;
  rlimit limit{};
  std::uint64_t addressSpace = std::numeric_limits<std::uint64_t>::max();
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    addressSpace = static_cast<std::uint64_t>(limit.rlim_cur);
  }
  return DefaultReadSize(overcommit, memory, addressSpace);
}

}  // namespace vizadavu::cli
