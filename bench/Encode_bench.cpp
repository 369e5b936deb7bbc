// URLEncode of 1 MiB of mixed text against curl_easy_escape of the same bytes.
#include <curl/curl.h>

#include "bench/BenchSupport.h"
#include "control/Testing.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::bench {
namespace {

// ASCII words, spaces, punctuation and Latin-1 letters.
const Text& MixedText() {
  static const Text text = [] {
    const Text pieces[] = {u"form",
                           u" ",
                           u"value",
                           u"&",
                           u"50%",
                           u"caf\u00e9",
                           u"=",
                           u"-_.",
                           u"Z\u00fcrich",
                           u"(x)",
                           u"\u00c5ngstr\u00f6m",
                           u"a+b",
                           u"/path?q"};
    Text t;
    std::uint32_t x = 7;
    while (t.size() < kMiB) {
      x = x * 1103515245u + 12345u;
      t += pieces[(x >> 16) % std::size(pieces)];
    }
    t.resize(kMiB);
    return t;
  }();
  return text;
}

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
