// The control against raw libcurl on the same loopback server and data: chunked
// and single reads of 1, 16 and 256 MiB, and a small form POST. The control's
// one-second pause is skipped with a fake clock.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <curl/curl.h>
#include <malloc.h>

#include <map>
#include <stdexcept>
#include <utility>

#include "bench/BenchSupport.h"
#include "control/Testing.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::bench {
namespace {

struct Events : vizADAVUEvents {
  bool ended = false;
  void EndTransfer() override { ended = true; }
};

std::size_t AppendToString(char* data, std::size_t, std::size_t size, void* out) {
  static_cast<std::string*>(out)->append(data, size);
  return size;
}

// Gives raw libcurl its best case: every family runs in a process of its own
// (bench/run), and here the std::string's blocks stay on glibc's heap and are
// reused from one iteration to the next instead of being mapped, faulted in and
// zeroed afresh.
void WarmHeapForRawCurl() {
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

// The raw alternative: one easy transfer of the URL into a std::string.
std::string RawCurl(const std::string& url, const std::string* postBody = nullptr) {
  CURL* easy = curl_easy_init();
  std::string reply;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, AppendToString);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply);
  if (postBody != nullptr) {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, postBody->c_str());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody->size()));
  }
  const CURLcode rc = curl_easy_perform(easy);
  curl_easy_cleanup(easy);
  if (rc != CURLE_OK) throw std::runtime_error(curl_easy_strerror(rc));
  return reply;
}

void Report(benchmark::State& state, std::size_t bytes, long peak, long faults) {
  state.SetBytesProcessed(
      static_cast<std::int64_t>(static_cast<std::size_t>(state.iterations()) * bytes));
  state.counters["faults"] =
      benchmark::Counter(static_cast<double>(faults), benchmark::Counter::kAvgIterations);
  state.counters["peak_MiB"] = static_cast<double>(peak) / static_cast<double>(kMiB);
}

void ControlRead(benchmark::State& state, bool chunked) {
  ReplyBytes();  // made before timing starts
  const auto bytes = static_cast<std::size_t>(state.range(0)) * kMiB;
  const Text url = Utf8ToText(UrlFor(bytes));
  test::FakeClock clock;
  Events events;
  long peak = 0;
  const long faults = PageFaults();
  for (auto _ : state) {
    vizADAVU control =
        detail::Testing::Make(&events, nullptr, platform::Services{nullptr, &clock, nullptr});
    control.Secure_Mode_Off = true;
    control.URL(url);
    control.ReceiveBufferSize = chunked ? -1 : static_cast<Long>(bytes);
    const long before = Resident();
    ResetPeakResident();
    control.Action(0);
    // Measured cold, on the first transfer of its kind in the process: later
    // ones reuse released memory that is already resident.
    static std::map<std::pair<bool, std::size_t>, long> coldPeak;
    coldPeak.try_emplace({chunked, bytes}, PeakResident() - before);
    peak = coldPeak[{chunked, bytes}];
    if (!events.ended) state.SkipWithError("transfer failed");
    state.PauseTiming();
    control.ReceiveBufferSize = -1;  // release without the random overwrite
    control.Clear();
    state.ResumeTiming();
  }
  Report(state, bytes, peak, PageFaults() - faults);
}

void BM_ChunkedRead_Control(benchmark::State& state) {
  ControlRead(state, true);
}
void BM_SingleRead_Control(benchmark::State& state) {
  ControlRead(state, false);
}

void BM_Read_RawCurl(benchmark::State& state) {
  WarmHeapForRawCurl();
  ReplyBytes();
  const auto bytes = static_cast<std::size_t>(state.range(0)) * kMiB;
  const std::string url = UrlFor(bytes);
  long peak = 0;
  const long faults = PageFaults();
  for (auto _ : state) {
    const long before = Resident();
    ResetPeakResident();
    std::string reply = RawCurl(url);
    peak = std::max(peak, PeakResident() - before);
    if (reply.size() != bytes) state.SkipWithError("short reply");
  }
  Report(state, bytes, peak, PageFaults() - faults);
}

BENCHMARK(BM_ChunkedRead_Control)->Arg(1)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SingleRead_Control)->Arg(1)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read_RawCurl)->Arg(1)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);

double CpuSeconds(const rusage& usage) {
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Ten fields, the same body on both sides; the server answers with 0 bytes.
void BM_FormPost_Control(benchmark::State& state) {
  test::FakeClock clock;
  Events events;
  vizADAVU control =
      detail::Testing::Make(&events, nullptr, platform::Services{nullptr, &clock, nullptr});
  const Text url = Utf8ToText(UrlFor(0));
  for (auto _ : state) {
    control.Secure_Mode_Off = true;
    control.URL(url);
    control.FormVarCount(10);
    for (Long i = 1; i <= 10; ++i) {
      control.FormVarNames(i, u"field" + Text(1, static_cast<char16_t>(u'0' + i % 10)));
      control.FormVarValues(i, u"value with spaces & symbols");
    }
    control.Action(1);
    control.Clear();
  }
}

void BM_FormPost_RawCurl(benchmark::State& state) {
  WarmHeapForRawCurl();
  std::string body;
  for (int i = 1; i <= 10; ++i) {
    if (i > 1) body += '&';
    body += "field" + std::to_string(i % 10) + "=value+with+spaces+%26+symbols";
  }
  const std::string url = UrlFor(0);
  for (auto _ : state) benchmark::DoNotOptimize(RawCurl(url, &body));
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
BENCHMARK(BM_FormPost_Control)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FormPost_RawCurl)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vizadavu::bench
