// Clear of a 64 MiB reply, against a plain overwrite of the same amount of memory.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::test {
namespace {

constexpr std::size_t k64MiB = std::size_t{64} << 20;

// Fills the control through a transfer, then measures Clear alone. The control
// uses its built-in clock and generator, so each iteration also spends the
// transfer's one-second pause outside the timed region.
void ClearAfterTransfer(benchmark::State& state, Long receiveBufferSize) {
  FakeInternet net;
  net.reply.assign(k64MiB, 'x');
  for (auto _ : state) {
    state.PauseTiming();
    net.Restart();
    vizADAVU control(nullptr, nullptr, platform::Services{&net, nullptr, nullptr});
    control.URL(u"http://127.0.0.1/");
    control.ReceiveBufferSize = receiveBufferSize;
    control.Action(1);
    state.ResumeTiming();
    control.Clear();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * k64MiB));
}

void BM_ClearSingleRead64MiB(benchmark::State& state) {
  ClearAfterTransfer(state, static_cast<Long>(k64MiB));
}
BENCHMARK(BM_ClearSingleRead64MiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// 64 Mi characters of reply text (128 MiB of storage).
void BM_ClearChunkedText64Mi(benchmark::State& state) {
  ClearAfterTransfer(state, -1);
}
BENCHMARK(BM_ClearChunkedText64Mi)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Memset64MiB(benchmark::State& state) {
  std::vector<unsigned char> buffer(k64MiB, 'x');
  for (auto _ : state) {
    std::memset(buffer.data(), 0, buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * k64MiB));
}
BENCHMARK(BM_Memset64MiB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vizadavu::test
