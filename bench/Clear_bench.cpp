// Clear after a reply of each kind, against a plain overwrite of the same
// amount of memory: a fully written 64 MiB byte buffer, a 64 Mi-character
// reply text, and a 2 GiB single-read buffer that received 5 bytes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "bench/BenchSupport.h"
#include "control/Testing.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::test {
namespace {

constexpr std::size_t k64MiB = std::size_t{64} << 20;
constexpr double kMiB = 1024.0 * 1024.0;

// Fills the control through a transfer, then measures Clear alone. A clock that
// moves a second per read skips the transfer's pause; Clear seeds from it too,
// and uses the built-in generator.
void ClearAfterTransfer(benchmark::State& state, std::size_t replySize, Long receiveBufferSize) {
  FakeInternet net;
  FakeClock clock(std::chrono::seconds(1));
  net.reply.assign(replySize, 'x');
  double residentBefore = 0, residentAfter = 0, peakRise = 0;
  for (auto _ : state) {
    state.PauseTiming();
    net.Restart();
    vizADAVU control =
        detail::Testing::Make(nullptr, nullptr, platform::Services{&net, &clock, nullptr});
    control.URL(u"http://127.0.0.1/");
    control.ReceiveBufferSize = receiveBufferSize;
    control.Action(1);
    const long before = bench::Resident();
    bench::ResetPeakResident();
    state.ResumeTiming();
    control.Clear();
    state.PauseTiming();
    residentBefore = static_cast<double>(before) / kMiB;
    residentAfter = static_cast<double>(bench::Resident()) / kMiB;
    peakRise = static_cast<double>(bench::PeakResident() - before) / kMiB;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(static_cast<std::size_t>(state.iterations()) * replySize));
  // Resident memory just before and just after the last Clear, and how far the
  // resident high-water mark rose above "before" during it.
  state.counters["rss_before_MiB"] = residentBefore;
  state.counters["rss_after_MiB"] = residentAfter;
  state.counters["peak_rise_MiB"] = peakRise;
}

void BM_ClearSingleRead64MiB(benchmark::State& state) {
  ClearAfterTransfer(state, k64MiB, static_cast<Long>(k64MiB));
}
BENCHMARK(BM_ClearSingleRead64MiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// 64 Mi characters of reply text (128 MiB of storage).
void BM_ClearChunkedText64Mi(benchmark::State& state) {
  ClearAfterTransfer(state, k64MiB, -1);
}
BENCHMARK(BM_ClearChunkedText64Mi)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The largest single read the host can ask for, of which the server sent 5 bytes.
void BM_ClearHugeBuffer5Bytes(benchmark::State& state) {
  ClearAfterTransfer(state, 5, Long{2147483647});
}
BENCHMARK(BM_ClearHugeBuffer5Bytes)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

void BM_Memset64MiB(benchmark::State& state) {
  std::vector<unsigned char> buffer(k64MiB, 'x');
  for (auto _ : state) {
    std::memset(buffer.data(), 0, buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(static_cast<std::size_t>(state.iterations()) * k64MiB));
}
BENCHMARK(BM_Memset64MiB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vizadavu::test
