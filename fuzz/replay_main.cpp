// Replays inputs through a fuzz target without libFuzzer: every file named on
// the command line, and every regular file inside a directory named there
// (recursively, in sorted order), goes once through LLVMFuzzerTestOneInput.
// A failed invariant aborts the process (non-zero exit, naming the input); an
// unreadable path or a run with no input at all exits with status 1.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

// The input being run, for the abort handler; set before each run.
char g_current[4096];

extern "C" void OnAbort(int signal) {
  static const char kPrefix[] = "replay: input aborted: ";
  [[maybe_unused]] ssize_t a = ::write(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
  [[maybe_unused]] ssize_t b = ::write(STDERR_FILENO, g_current, std::strlen(g_current));
  [[maybe_unused]] ssize_t c = ::write(STDERR_FILENO, "\n", 1);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

bool Collect(const std::filesystem::path& path, std::vector<std::filesystem::path>& files) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path, error)) {
      if (entry.is_regular_file()) found.push_back(entry.path());
    }
    if (error) return false;
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
    return true;
  }
  if (std::filesystem::is_regular_file(path, error)) {
    files.push_back(path);
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    if (!Collect(argv[i], files)) {
      std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
      return 1;
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: %s FILE|DIRECTORY...  (no input found)\n", argv[0]);
    return 1;
  }
  std::signal(SIGABRT, OnAbort);
  for (const auto& file : files) {
    std::snprintf(g_current, sizeof g_current, "%s", file.c_str());
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "replay: cannot read %s\n", g_current);
      return 1;
    }
    static const std::uint8_t kEmpty = 0;  // libFuzzer never passes a null pointer
    LLVMFuzzerTestOneInput(
        bytes.empty() ? &kEmpty : reinterpret_cast<const std::uint8_t*>(bytes.data()),
        bytes.size());
  }
  std::printf("replay: %zu input(s) passed\n", files.size());
  return 0;
}
