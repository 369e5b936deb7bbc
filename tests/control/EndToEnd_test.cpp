// The control over the real libcurl layer against in-process loopback servers: the
// happy paths and the bytes on the wire. (Misbehaving servers, statuses, the request
// bytes and the certificate categories: the protocol cases, tests/cases/.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "control/Testing.h"
#include "platform/SecureMemory.h"
#include "platform/Services.h"
#include "tests/support/CodePage1252.h"
#include "tests/support/FakeInternet.h"
#include "tests/support/Loopback.h"
#include "tests/support/LoopbackProxy.h"
#include "tests/support/Recorder.h"
#include "tests/support/TestPki.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::test {
namespace {

using Events = std::vector<std::string>;
const Events kSuccess = {"Status 21", "Status 30", "EndTransfer"};

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  std::uint32_t x = 12345;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

Text Url(const std::string& scheme, const LoopbackServer& server, const std::string& path) {
  return Utf8ToText(scheme + "://" + server.HostPort() + path);
}

class EndToEndTest : public ::testing::Test {
 protected:
  // The pause is skipped with a fake clock; the internet layer is the real one.
  FakeClock clock{std::chrono::milliseconds(500)};
  Recorder recorder;
  WatchedMemory memory;  // sees the staging buffer and the reply's storage
  vizADAVU control = detail::Testing::Make(&recorder, &recorder,
                                           platform::Services{nullptr, &clock, nullptr, &memory});

  void Submit(const Text& url, Long action = 1) {
    recorder.events.clear();
    control.URL(url);
    control.Action(action);
  }
};

TEST_F(EndToEndTest, LargeRepliesArriveIntactInBothModes) {
  const std::string body = Pattern(3 << 20);
  LoopbackServer server(LoopbackServer::Respond(200, body));
  control.Secure_Mode_Off = true;
  Submit(Url("http", server, "/big"));
  EXPECT_EQ(recorder.events, kSuccess);
  EXPECT_EQ(TextToCp1252(control.ReceiveBuffer()), body);

  control.ReceiveBufferSize = static_cast<Long>(body.size());
  Submit(Url("http", server, "/big"));
  EXPECT_EQ(recorder.events, kSuccess);
  ASSERT_EQ(control.ReceiveBufferArraySize(), static_cast<Long>(body.size()) - 1);
  EXPECT_EQ(TextToCp1252(control.StringB()), body);
  EXPECT_EQ(control.ReceiveBufferB(static_cast<Long>(body.size())), 0);
}

// A single read shows its count so far to the host's loop while it waits.
TEST_F(EndToEndTest, SingleReadShowsItsCountWhileItWaits) {
  using namespace std::chrono_literals;
  LoopbackServer server(Trickle({"HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nabc", "def"}, 200ms));
  control.Secure_Mode_Off = true;
  control.YieldWhileWaiting = true;
  control.ReceiveBufferSize = 100;
  recorder.recordDoEvents = true;
  std::vector<std::uint64_t> seen;
  recorder.onEvent = [&](const std::string& event) {
    if (event == "DoEvents") seen.push_back(control.BytesReceived());
  };
  Submit(Url("http", server, "/"));
  EXPECT_EQ(recorder.events.back(), "EndTransfer");
  EXPECT_EQ(control.BytesReceived(), 6u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_NE(std::find(seen.begin(), seen.end(), 3u), seen.end());
}

// A watchdog thread keeps cancelling a transfer stalled on a silent server (a TSan case).
TEST_F(EndToEndTest, CancelFromAWatchdogThread) {
  LoopbackServer server(Trickle({"HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nsome"}, {}));
  control.Secure_Mode_Off = control.YieldWhileWaiting = true;
  std::atomic<bool> over{false};
  std::thread watchdog([&] {
    while (server.Requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    while (!over) control.Cancel();
  });
  Submit(Url("http", server, "/"));
  over = true;
  watchdog.join();
  EXPECT_EQ(recorder.events.back(), "Error 12017");
}

// What a chunked read raised and left: every event and yield, the text, the
// whole chunk buffer, and the host exception that ended it, if any.
struct ChunkedOutcome {
  Events events;
  Text text;
  std::vector<Byte> chunk;
  Long arraySize = 0;
  std::string thrown;
  bool operator==(const ChunkedOutcome&) const = default;
};

// A chunked read of `url` over `net` (null: the libcurl boundary). The host's
// loop cancels, or throws, at its `stopAt`-th yield from Status 30 on.
ChunkedOutcome ReadChunked(platform::Internet* net, const Text& url, int stopAt, bool cancel) {
  FakeClock clock{std::chrono::milliseconds(500)};
  Recorder recorder;
  recorder.recordDoEvents = true;
  vizADAVU control =
      detail::Testing::Make(&recorder, &recorder, platform::Services{net, &clock, nullptr});
  int yields = -1;
  recorder.onEvent = [&](const std::string& event) {
    if (event == "Status 30") yields = 0;
    if (event != "DoEvents" || yields < 0 || ++yields != stopAt) return;
    if (cancel) {
      control.Cancel();
    } else {
      throw std::runtime_error("host loop failed");
    }
  };
  control.Secure_Mode_Off = true;
  control.URL(url);
  ChunkedOutcome out;
  try {
    control.Action(1);
  } catch (const std::runtime_error& e) {
    out.thrown = e.what();
  }
  out.events = recorder.events;
  out.text = control.ReceiveBuffer();
  for (Long i = 0; i < 2048; ++i) out.chunk.push_back(control.ReceiveBufferB(i));
  out.arraySize = control.ReceiveBufferArraySize();
  return out;
}

TEST(EndToEndChunks, LibcurlBoundaryReadsExactlyAsTheReadFileLoop) {
  // The libcurl boundary fills the chunk buffer from where the bytes arrive and
  // stages the rest of a delivery; the fake serves exactly the reads asked for.
  // Both must leave the same reads, yields,
  // text and chunk buffer (last chunk first, then what the one before left),
  // also when the host stops the loop in the middle of a delivery.
  struct Case {
    std::size_t size;
    int stopAt;  // 0: never
    bool cancel;
  } cases[] = {
      {0, 0, true},
      {1, 0, true},
      {2048, 0, true},
      {5000, 0, true},
      {(3 << 20) + 904, 0, true},
      {5000, 3, true},
      {(1 << 20) + 7, 5, true},
      {(1 << 20) + 7, 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes, stop at " + std::to_string(c.stopAt));
    const std::string body = Pattern(c.size);
    LoopbackServer server(LoopbackServer::Respond(200, body));
    FakeInternet fake;
    fake.reply = body;
    const Text url = Url("http", server, "/c");
    const ChunkedOutcome real = ReadChunked(nullptr, url, c.stopAt, c.cancel);
    const ChunkedOutcome plain = ReadChunked(&fake, url, c.stopAt, c.cancel);
    EXPECT_EQ(real.events.size(), plain.events.size());
    EXPECT_TRUE(real == plain);  // no dump of megabytes on failure
    EXPECT_EQ(real.arraySize, -1);
    if (c.stopAt == 0) {
      EXPECT_TRUE(TextToCp1252(real.text) == body);
    }
  }
}

std::vector<std::string> g_freed;

TEST_F(EndToEndTest, NoFreedBlockKeepsTheReplyAfterClear) {
  std::string body;
  while (body.size() < (1 << 20)) body += "S3cr3t-r3ply!";
  LoopbackServer server(LoopbackServer::Respond(200, body));
  control.Secure_Mode_Off = true;
  g_freed.clear();
  memory.onFree = [](const void* data, std::size_t size) {
    g_freed.emplace_back(static_cast<const char*>(data), size);
  };
  Submit(Url("http", server, "/"));
  control.Clear();
  memory.onFree = nullptr;
  EXPECT_EQ(recorder.events, kSuccess);
  EXPECT_GT(g_freed.size(), 3u);  // the staging buffer and the blocks the text outgrew
  for (const std::string& block : g_freed) {
    EXPECT_EQ(block.find("S3cr3t-r3ply!"), std::string::npos);
    EXPECT_EQ(block.find(std::string("S\0003\0c\0r\0", 8)), std::string::npos);
  }
}

// How the URL becomes the request line, directly and through a proxy.
TEST_F(EndToEndTest, UrlsBecomeTheRequestTargetWithOrWithoutAProxy) {
  ScopedEnv noProxy("no_proxy", nullptr);
  control.Secure_Mode_Off = true;
  struct Case {
    const char* path;    // after "http://127.0.0.1:PORT"
    const char* target;  // what the server is asked for
  } cases[] = {
      {"/p?x=1#sec", "/p?x=1"},
      {"?q=1", "/?q=1"},
      {"#top", "/"},
      {"/caf\xC3\xA9?a=%41#x", "/caf\xE9?a=%41"},  // the code-page byte, as given
  };
  for (const Case& c : cases) {
    LoopbackServer server(LoopbackServer::Respond(200, "ok"));
    Submit(Utf8ToText("http://" + server.HostPort() + c.path));
    EXPECT_EQ(recorder.events, kSuccess) << c.path;
    ASSERT_EQ(server.Requests().size(), 1u) << c.path;
    EXPECT_EQ(server.Requests()[0].target, c.target) << c.path;

    // Through a proxy the target is the same bytes after the origin.
    LoopbackServer proxy(ProxyHandler());
    ScopedEnv httpProxy("http_proxy", ("http://" + proxy.HostPort()).c_str());
    Submit(Utf8ToText("http://" + server.HostPort() + c.path));
    EXPECT_EQ(recorder.events, kSuccess) << c.path;
    ASSERT_EQ(proxy.Requests().size(), 1u) << c.path;
    EXPECT_EQ(proxy.Requests()[0].target, "http://" + server.HostPort() + c.target) << c.path;
  }

  // An international name is looked up in its ASCII form (here by the proxy).
  LoopbackServer proxy(ProxyHandler());
  ScopedEnv httpProxy("http_proxy", ("http://" + proxy.HostPort()).c_str());
  Submit(u"http://b\u00fccher.invalid/s");
  EXPECT_EQ(recorder.events, kSuccess);
  EXPECT_EQ(control.ReceiveBuffer(), u"proxied http://xn--bcher-kva.invalid/s");

  // User information is refused before anything is sent.
  Submit(Utf8ToText("http://user:pass@" + proxy.HostPort() + "/"));
  EXPECT_EQ(recorder.events, (Events{"Error 12005"}));
  EXPECT_EQ(proxy.Connections(), 1);
}

class TlsTest : public EndToEndTest {
 protected:
  void SetUp() override { setenv("SSL_CERT_FILE", pki.CaFile().c_str(), 1); }
  void TearDown() override { unsetenv("SSL_CERT_FILE"); }

  std::string Outcome(const Pem& identity) {
    LoopbackServer server(LoopbackServer::Respond(200, "secret"), identity.Identity());
    Submit(Url("https", server, "/s"));
    return recorder.events.back();
  }
  TestPki pki;
};

TEST_F(TlsTest, HttpsGoesThroughAConnectTunnel) {
  LoopbackServer server(LoopbackServer::Respond(200, "tunnelled"),
                        pki.Issue("127.0.0.1").Identity());
  LoopbackServer proxy(ProxyHandler());
  ScopedEnv httpsProxy("https_proxy", ("http://" + proxy.HostPort()).c_str());
  ScopedEnv noProxy("no_proxy", nullptr);
  Submit(Url("https", server, "/s#frag"));
  EXPECT_EQ(recorder.events, kSuccess);
  EXPECT_EQ(control.ReceiveBuffer(), u"tunnelled");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].method, "CONNECT");
  EXPECT_EQ(proxy.Requests()[0].target, server.HostPort());
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].target, "/s");
}

// The real one-second pause, with the host's loop serviced all through it.
TEST(EndToEndPause, RealPauseKeepsTheLoopRunning) {
  LoopbackServer server(LoopbackServer::Respond(200, "ok"));
  Recorder recorder;
  vizADAVU control(&recorder, &recorder);
  control.Secure_Mode_Off = true;
  control.URL(Url("http", server, "/"));
  const auto start = std::chrono::steady_clock::now();
  control.Action(1);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(recorder.events, kSuccess);
  EXPECT_GE(elapsed, std::chrono::seconds(1));
  EXPECT_GT(recorder.doEvents, 100);  // services the loop about once a millisecond
  control.Clear();
  control.Secure_Mode_Off = true;
  control.Action(1);
  EXPECT_EQ(recorder.events.back(), "EndTransfer");
}

}  // namespace
}  // namespace vizadavu::test
