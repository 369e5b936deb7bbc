// The machine's own limits for the table's rows, printed as notes by bench/run:
// how fast loopback TCP carries bytes between two plain sockets (a copy in, a
// copy out, no HTTP), what the first touch of fresh anonymous memory costs
// with 4 KiB pages, with transparent huge pages and made present a MiB at a
// time, and the CPU that a thousand sleeps of 1 ms cost, the floor of the plain
// loop's pause.
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Sends `total` bytes over a loopback TCP connection in 1 MiB writes and reads
// them in reads of `readSize` bytes (libcurl reads 16 KiB at a time).
double LoopbackBytesPerSecond(std::size_t total, std::size_t readSize) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("cannot listen on loopback");
  std::thread writer([&] {
    const int out = accept(listener, nullptr, nullptr);
    std::vector<char> block(kMiB, 'x');
    for (std::size_t sent = 0; sent < total;) {
      const ssize_t n = write(out, block.data(), std::min(block.size(), total - sent));
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    close(out);
  });
  const int in = socket(AF_INET, SOCK_STREAM, 0);
  if (connect(in, reinterpret_cast<sockaddr*>(&address), length) != 0)
    throw std::runtime_error("cannot connect on loopback");
  std::vector<char> block(readSize);
  const auto start = std::chrono::steady_clock::now();
  std::size_t received = 0;
  for (ssize_t n; (n = read(in, block.data(), block.size())) > 0;)
    received += static_cast<std::size_t>(n);
  const double seconds = Seconds(start);
  writer.join();
  close(in);
  close(listener);
  if (received != total) throw std::runtime_error("loopback copy came back short");
  return static_cast<double>(total) / seconds;
}

enum class Touch { kPages, kHugePages, kPopulated };

// Seconds to touch every page of a fresh anonymous mapping once; kPopulated
// first makes each MiB present with MADV_POPULATE_WRITE, as the control does.
double FirstTouchSeconds(std::size_t bytes, Touch how) {
  void* map = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) throw std::runtime_error("mmap failed");
  madvise(map, bytes, how == Touch::kHugePages ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
  auto* bytesOf = static_cast<volatile char*>(map);
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < bytes; i += 4096) {
    if (how == Touch::kPopulated && i % kMiB == 0)
      madvise(static_cast<char*>(map) + i, std::min(kMiB, bytes - i), MADV_POPULATE_WRITE);
    bytesOf[i] = 1;
  }
  const double seconds = Seconds(start);
  munmap(map, bytes);
  return seconds;
}

// Milliseconds of CPU (user + system) that 1000 sleeps of 1 ms cost.
double SleepsCpuMs() {
  const auto cpu = [] {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
  };
  const double before = cpu();
  for (int i = 0; i < 1000; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return cpu() - before;
}

}  // namespace

int main() {
  try {
    for (const std::size_t readSize : {16 * std::size_t{1024}, kMiB}) {
      const double rate = LoopbackBytesPerSecond(1024 * kMiB, readSize);
      std::printf("loopback TCP copy, %zu KiB reads: %.0f MB/s (256 MiB in %.0f ms)\n",
                  readSize / 1024, rate / 1e6, 256.0 * static_cast<double>(kMiB) / rate * 1e3);
    }
    std::printf(
        "first touch of 600 MiB fresh memory: %.2f s with 4 KiB pages, %.2f s with huge "
        "pages, %.2f s made present a MiB at a time\n",
        FirstTouchSeconds(600 * kMiB, Touch::kPages),
        FirstTouchSeconds(600 * kMiB, Touch::kHugePages),
        FirstTouchSeconds(600 * kMiB, Touch::kPopulated));
    std::printf("CPU of 1000 sleeps of 1 ms: %.1f ms\n", SleepsCpuMs());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vizadavu_bench_limits: %s\n", e.what());
    return 2;
  }
  return 0;
}
