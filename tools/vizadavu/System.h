// What the vizadavu program asks of the operating system beside the control:
// files named in UTF-8, the replacement of an output file, and the size of the
// default read. tools/vizadavu/posix/ and tools/vizadavu/win32/ implement it.
#pragma once

#include <filesystem>
#include <string>

namespace vizadavu::cli {

// A file name given in UTF-8 (as every argument is, on every platform).
inline std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Creates a new, empty file beside `path`, with a name of its own, that only
// this user may read (mode 0600 on POSIX); returns its name, or "" with the
// reason in `why`.
std::string CreateFileBeside(const std::string& path, std::string& why);

// Moves `from` over `to`, replacing a file already there; false with the
// reason in `why`.
bool MoveOver(const std::string& from, const std::string& to, std::string& why);

}  // namespace vizadavu::cli
