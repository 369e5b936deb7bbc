// URLEncode of 1 MiB of mixed text against curl_easy_escape of the same bytes.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include "bench/BenchSupport.h"
#include "control/Testing.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::bench {
namespace {

void BM_URLEncode_Control(benchmark::State& state) {
  test::FakeInternet net;
  vizADAVU control =
      detail::Testing::Make(nullptr, nullptr, platform::Services{&net, nullptr, nullptr});
  for (auto _ : state) benchmark::DoNotOptimize(control.URLEncode(MixedText()));
  state.SetBytesProcessed(
      static_cast<std::int64_t>(static_cast<std::size_t>(state.iterations()) * kMiB));
}

void BM_URLEncode_CurlEscape(benchmark::State& state) {
  const std::string bytes = TextToAnsi(MixedText());
  CURL* easy = curl_easy_init();
  for (auto _ : state) {
    char* escaped = curl_easy_escape(easy, bytes.data(), static_cast<int>(bytes.size()));
    benchmark::DoNotOptimize(escaped);
    curl_free(escaped);
  }
  curl_easy_cleanup(easy);
  state.SetBytesProcessed(
      static_cast<std::int64_t>(static_cast<std::size_t>(state.iterations()) * kMiB));
}

BENCHMARK(BM_URLEncode_Control)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_URLEncode_CurlEscape)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vizadavu::bench
