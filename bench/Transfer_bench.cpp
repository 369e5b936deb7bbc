// One side at a time of each row bench/run compares (the control, raw libcurl),
// with the control's pause skipped by a fake clock; and the control's CPU per
// submission with the real pause.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <memory>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/Sides.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::bench {
namespace {

struct Events : vizADAVUEvents {
  bool ended = false;
  void EndTransfer() override { ended = true; }
};

// One side of a bench/run row, driven and timed by the side itself, for
// profiling one side at a time (bench/run compares them interleaved instead).
// Raw libcurl gets its best case, as in bench/run's warm rows.
void RunSide(benchmark::State& state, const Row& row, bool control) {
  KeepFreedBlocksOnTheHeap();
  ReplyBytes();  // made before timing starts
  const std::string base = ServerBase();
  const std::unique_ptr<Side> side = control ? MakeControl(row, base) : MakeCurl(row, base);
  long peak = 0;
  const long faults = PageFaults();
  for (auto _ : state) {
    const long before = Resident();
    ResetPeakResident();
    state.SetIterationTime(side->Once().result);
    peak = std::max(peak, PeakResident() - before);
    side->Release(false);
  }
  const std::size_t bytes = row.kind == Kind::UrlEncode ? kMiB : row.bytes;
  state.SetBytesProcessed(
      static_cast<std::int64_t>(static_cast<std::size_t>(state.iterations()) * bytes));
  state.counters["faults"] = benchmark::Counter(static_cast<double>(PageFaults() - faults),
                                                benchmark::Counter::kAvgIterations);
  state.counters["peak_MiB"] = static_cast<double>(peak) / static_cast<double>(kMiB);
}

// Side_Control/ROW for every row of bench/run's table, Side_RawCurl/ROW beside it.
const bool kRegistered = [] {
  for (const char* name : {"urlencode", "post", "chunked/1", "chunked/16", "chunked/256",
                           "single/1", "single/16", "single/256"}) {
    const Row row = *ParseRow(name);
    const auto unit = row.kind == Kind::Post ? benchmark::kMicrosecond : benchmark::kMillisecond;
    for (const bool control : {true, false}) {
      // Raw libcurl's read is one job whatever the control's mode: listed once.
      if (!control && row.kind == Kind::Single) continue;
      const std::string title = std::string(control ? "Side_Control/" : "Side_RawCurl/") + name;
      benchmark::RegisterBenchmark(title.c_str(), RunSide, row, control)
          ->UseManualTime()
          ->Unit(unit);
    }
  }
  return true;
}();

double CpuSeconds(const rusage& usage) {
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU time (user + system, this whole process) per plain loopback submission of
// a small reply, with the real one-second pause and a host loop to service.
void BM_Submission_Cpu(benchmark::State& state) {
  struct Loop : MessageLoop {
    void DoEvents() override { ++calls; }
    long calls = 0;
  } loop;
  Events events;
  vizADAVU control(&events, &loop);
  const Text url = Utf8ToText(UrlFor(0));
  benchmark::DoNotOptimize(ReplyBytes().data());  // the server's reply pattern, built once
  double cpu = 0;
  for (auto _ : state) {
    control.Secure_Mode_Off = true;
    control.URL(url);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    control.Action(1);
    getrusage(RUSAGE_SELF, &after);
    cpu += CpuSeconds(after) - CpuSeconds(before);
    control.Clear();
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["cpu_ms_per_transfer"] = cpu * 1e3 / n;
  state.counters["DoEvents_per_transfer"] = static_cast<double>(loop.calls) / n;
}

BENCHMARK(BM_Submission_Cpu)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vizadavu::bench
