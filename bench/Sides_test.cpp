// The benchmark plumbing that decides what is measured: row names, the reply
// server's targets, a wrong URL never passing for an empty reply, and every
// peer's chunked read ending with the control's own text.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <cstdlib>
#include <set>

#include "bench/BenchSupport.h"
#include "bench/Sides.h"

namespace vizadavu::bench {
namespace {

TEST(BenchRow, NamesParseIntoKindSizeAndBatch) {
  struct Case {
    const char* name;
    Kind kind;
    std::size_t bytes;
    int batch;
  } cases[] = {
      {"post", Kind::Post, 0, 20},
      {"urlencode", Kind::UrlEncode, 0, 10},
      {"chunked/1", Kind::Chunked, kMiB, 20},
      {"chunked/16", Kind::Chunked, 16 * kMiB, 4},
      {"single/256", Kind::Single, 256 * kMiB, 1},
      {"single/4096", Kind::Single, 4096 * kMiB, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<Row> row = ParseRow(c.name);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->kind, c.kind);
    EXPECT_EQ(row->bytes, c.bytes);
    EXPECT_EQ(row->batch, c.batch);
    EXPECT_EQ(row->name, c.name);
  }
  for (const char* bad : {"", "get", "post/1", "chunked", "chunked/", "chunked/0", "chunked/-1",
                          "single/16x", "single/4097", "single/ 1", "text/16", "urlencode/1"}) {
    EXPECT_FALSE(ParseRow(bad)) << bad;
  }
}

TEST(BenchReplyServer, TargetNamesTheSizeOrNothing) {
  EXPECT_EQ(ReplySize("/0"), std::size_t{0});
  EXPECT_EQ(ReplySize("/314572800"), std::size_t{314572800});
  for (const char* bad :
       {"", "/", "0", "/x", "/12x", "/12?a=1", "//5", "/-5", "/+5", "/99999999999999999999999"})
    EXPECT_FALSE(ReplySize(bad)) << bad;
}

std::size_t Discard(char*, std::size_t, std::size_t size, void*) {
  return size;
}

TEST(BenchReplyServer, UnknownTargetIsNotFound) {
  loopback::LoopbackServer server(ServeReply);
  CURL* easy = curl_easy_init();
  const std::string url = "http://" + server.HostPort() + "/nothing";
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Discard);
  ASSERT_EQ(curl_easy_perform(easy), CURLE_OK);
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(easy);
  EXPECT_EQ(status, 404);
}

TEST(BenchFormFields, TenDistinctFieldsNeedingEscapes) {
  const auto fields = FormFields();
  ASSERT_EQ(fields.size(), 10u);
  std::set<std::string> names;
  for (const auto& [name, value] : fields) {
    names.insert(name);
    EXPECT_NE(value.find(' '), std::string::npos);
    EXPECT_NE(value.find('&'), std::string::npos);
  }
  EXPECT_EQ(names.size(), 10u);
}

// A 1 MiB reply holds every byte value; each peer's widening must give the
// control's character for each, except that Qt's Latin-1 gives the byte's own
// value for 0x80-0x9F.
TEST(BenchSides, EveryPeerEndsWithTheControlsText) {
  setenv("no_proxy", "127.0.0.1", 1);
  const Row row = *ParseRow("chunked/1");
  const std::string_view reply(ReplyBytes().data(), row.bytes);
  ASSERT_EQ(std::set<char>(reply.begin(), reply.end()).size(), 256u);
  const std::u16string control = MakeControl(row, ServerBase())->TextOnce();
  ASSERT_EQ(control.size(), row.bytes);
  std::u16string latin1 = control;
  for (std::size_t i = 0; i < latin1.size(); ++i)
    if (const auto b = static_cast<unsigned char>(reply[i]); b >= 0x80 && b <= 0x9F) latin1[i] = b;
  ASSERT_NE(latin1, control);
  int argc = 1;
  char name[] = "vizadavu_bench_tests";
  char* argv[] = {name, nullptr};
  const struct {
    const char* peer;
    std::unique_ptr<Side> side;
    const std::u16string& expected;
  } peers[] = {
      {"raw libcurl", MakeCurl(row, ServerBase()), control},
      {"Qt Network", MakeQt(row, ServerBase(), argc, argv), latin1},
      {"requests", MakeRequests(row, ServerBase(), VIZADAVU_BENCH_DIR "/requests_peer.py"),
       control},
  };
  for (const auto& [peer, side, expected] : peers) {
    if (!side) continue;  // a build without Qt Network
    EXPECT_TRUE(side->TextOnce() == expected) << peer << "'s text differs";
  }
}

}  // namespace
}  // namespace vizadavu::bench
