// The libcurl internet boundary driven call by call against in-process servers.
#include "platform/CurlInternet.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Proxy.h"
#include "tests/support/Loopback.h"
#include "tests/support/TestPki.h"
#include "tests/support/TlsFaults.h"

namespace vizadavu::platform {
namespace {

using namespace std::chrono_literals;
using test::Connection;
using test::LoopbackServer;
using test::ScopedEnv;
using test::TestPki;
using test::Trickle;
using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t kPlainFlags = 0x84200000;
constexpr std::uint32_t kTlsFlags = 0x84A03000;
constexpr std::uint32_t kTlsStrictFlags = 0x84A00000;  // without the ignore-date/name flags
constexpr const char* kEngineHeaders[] = {"Accept-Language: en\r\n", "Connection: Keep-Alive\r\n",
                                          "Content-Type: application/x-www-form-urlencoded\r\n"};

// The first line of an echoed request.
std::string FirstLine(const std::string& echoed) {
  return echoed.substr(0, echoed.find("\r\n"));
}

long long MsSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

class CurlInternetTest : public ::testing::Test {
 protected:
  // Opens a request the way the transfer engine does.
  Handle Open(std::uint16_t port, std::string_view verb, std::string_view object,
              std::uint32_t flags = kPlainFlags, std::string_view host = "127.0.0.1",
              std::uint32_t access = inet::kOpenTypePreconfig) {
    session_ = net_.OpenSession("Tormelo/1.0", access);
    EXPECT_NE(session_, kNullHandle);
    const Handle connection = net_.Connect(session_, host, port, "", "", inet::kServiceHttp);
    EXPECT_NE(connection, kNullHandle) << net_.LastError();
    const Handle request = net_.OpenRequest(connection, verb, object, "HTTP/1.0", flags);
    EXPECT_NE(request, kNullHandle) << net_.LastError();
    for (const char* header : kEngineHeaders) {
      EXPECT_TRUE(net_.AddRequestHeaders(request, header, 0xA0000000));
    }
    return request;
  }

  // Reads to the end of the body in chunks; fails the test on a read error.
  std::string ReadAll(Handle request, std::uint32_t chunk = 2048) {
    std::string all;
    std::vector<std::uint8_t> buffer(chunk);
    for (std::uint32_t got = 1; got != 0;) {
      if (!net_.ReadFile(request, buffer.data(), chunk, got)) {
        ADD_FAILURE() << "read failed with " << net_.LastError();
        break;
      }
      all.append(reinterpret_cast<const char*>(buffer.data()), got);
    }
    return all;
  }

  // Sends and reads the whole body.
  std::string Exchange(Handle request, std::optional<std::string_view> body = std::nullopt) {
    EXPECT_TRUE(net_.SendRequest(request, body)) << net_.LastError();
    return ReadAll(request);
  }

  // A failing read: FALSE, 0 bytes, and the error code.
  std::uint32_t ReadError(Handle request) {
    std::uint8_t buffer[64];
    std::uint32_t got = 99;
    EXPECT_FALSE(net_.ReadFile(request, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);
    return static_cast<std::uint32_t>(net_.LastError());
  }

  void TearDown() override {
    if (session_ != kNullHandle) net_.CloseHandle(session_);
  }

  CurlInternet net_;
  Handle session_ = kNullHandle;
};

std::string Head(std::string_view line, std::uint16_t port, std::string_view extra = "") {
  return std::string(line) + "\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nUser-Agent: Tormelo/1.0\r\nAccept-Language: en\r\nConnection: Keep-Alive\r\n"
         "Content-Type: application/x-www-form-urlencoded\r\n" +
         std::string(extra) + "\r\n";
}

TEST_F(CurlInternetTest, SendsExactlyTheRequestBytes) {
  LoopbackServer server(LoopbackServer::Echo());
  const std::uint16_t port = server.Port();
  struct Case {
    const char* verb;
    std::optional<std::string_view> body;
    std::string expected;
  };
  const Case cases[] = {
      {"POST", "a=1&b=2", Head("POST /f?x=1 HTTP/1.0", port, "Content-Length: 7\r\n") + "a=1&b=2"},
      {"POST", std::nullopt, Head("POST /f?x=1 HTTP/1.0", port, "Content-Length: 0\r\n")},
      {"GET", "a=1", Head("GET /f?x=1 HTTP/1.0", port, "Content-Length: 3\r\n") + "a=1"},
      {"GET", std::nullopt, Head("GET /f?x=1 HTTP/1.0", port)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const Handle request = Open(port, c.verb, "/f?x=1");
    EXPECT_EQ(Exchange(request, c.body), c.expected);  // the echo is the request as received
    net_.CloseHandle(session_);
  }
  ASSERT_EQ(server.Requests().size(), 4u);
  EXPECT_EQ(server.Requests()[0].raw, cases[0].expected);
}

TEST_F(CurlInternetTest, ObjectNameGoesOutAsGivenWithoutInjection) {
  LoopbackServer server(LoopbackServer::Echo());
  // No decoding, no dot-segment removal, high bytes kept, space escaped.
  Handle request = Open(server.Port(), "GET", "/a/../b/./c d%zz\xE9\xFF?q=\xE9#f");
  EXPECT_EQ(FirstLine(Exchange(request)), "GET /a/../b/./c%20d%zz\xE9\xFF?q=\xE9#f HTTP/1.0");
  net_.CloseHandle(session_);

  request = Open(server.Port(), "GET", "");
  EXPECT_EQ(FirstLine(Exchange(request)), "GET / HTTP/1.0");

  // Control bytes in the object or the server name are an invalid URL.
  const Handle connection = net_.Connect(session_, "127.0.0.1", server.Port(), "", "", 3);
  for (std::string_view object : {std::string_view("/a\r\nX: y"), std::string_view("/a\nb"),
                                  std::string_view("/a\0b", 4), std::string_view("/\x7F")}) {
    EXPECT_EQ(net_.OpenRequest(connection, "GET", object, "HTTP/1.0", kPlainFlags), kNullHandle);
    EXPECT_EQ(net_.LastError(), 12005u);
  }
  for (std::string_view host :
       {"", "a\r\nb", "evil.example/x?", "user@host", "[]", "[::1]", "::1%"}) {
    EXPECT_EQ(net_.Connect(session_, host, 80, "", "", 3), kNullHandle) << host;
    EXPECT_EQ(net_.LastError(), 12005u);
  }
  EXPECT_EQ(net_.OpenRequest(connection, "GE T", "/", "HTTP/1.0", kPlainFlags), kNullHandle);
  EXPECT_EQ(net_.LastError(), 87u);
  EXPECT_EQ(server.Connections(), 2);
}

TEST_F(CurlInternetTest, AddedHeadersReplaceByNameAndRejectInjection) {
  LoopbackServer server(LoopbackServer::Echo());
  const Handle request = Open(server.Port(), "GET", "/");
  EXPECT_TRUE(net_.AddRequestHeaders(request, "accept-language: fr\r\nX-One: 1\r\nX-Two:  2 \r\n",
                                     0xA0000000));
  EXPECT_TRUE(net_.AddRequestHeaders(request, "X-One:\r\n", 0xA0000000));  // removes it
  for (std::string_view bad : {"X-A: 1\nX-B: 2", "X-A: 1\rX-B: 2", "NoColon", "X-A: 1\r\nBad",
                               ": empty name", "Content-Length: 5", "\r\n"}) {
    EXPECT_FALSE(net_.AddRequestHeaders(request, bad, 0xA0000000)) << bad;
    EXPECT_EQ(net_.LastError(), 87u);
  }
  EXPECT_EQ(Exchange(request), "GET / HTTP/1.0\r\nHost: " + server.HostPort() +
                                   "\r\nUser-Agent: Tormelo/1.0\r\naccept-language: fr\r\n"
                                   "Connection: Keep-Alive\r\n"
                                   "Content-Type: application/x-www-form-urlencoded\r\n"
                                   "X-Two: 2\r\n\r\n");
}

TEST_F(CurlInternetTest, ConnectContactsNoServerAndSendReturnsWhileBodyStalls) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  LoopbackServer server([released](Connection& connection) {
    test::ReceivedRequest request;
    if (!connection.ReadRequest(request)) return;
    connection.Write("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhello");
    released.wait_for(5s);
    connection.Write("world");
    connection.Close();
  });
  const Handle request = Open(server.Port(), "POST", "/");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(server.Connections(), 0);

  const auto start = SteadyClock::now();
  ASSERT_TRUE(net_.SendRequest(request, "x=1"));
  std::uint8_t buffer[5];
  std::uint32_t got = 0;
  ASSERT_TRUE(net_.ReadFile(request, buffer, 5, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "hello");
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_EQ(server.Connections(), 1);
  release.set_value();
  EXPECT_EQ(ReadAll(request), "world");
}

TEST_F(CurlInternetTest, ReadsInTheSizesAsked) {
  std::string body(5000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 % 251);
  LoopbackServer server(LoopbackServer::Respond(200, body));
  const Handle request = Open(server.Port(), "GET", "/");
  ASSERT_TRUE(net_.SendRequest(request, std::nullopt));
  std::string all;
  std::uint8_t buffer[2048];
  for (std::uint32_t expected : {2048u, 2048u, 904u, 0u, 0u}) {
    std::uint32_t got = 12345;
    ASSERT_TRUE(net_.ReadFile(request, buffer, sizeof buffer, got));
    EXPECT_EQ(got, expected);
    all.append(reinterpret_cast<char*>(buffer), got);
  }
  EXPECT_EQ(all, body);
}

TEST_F(CurlInternetTest, OneLargeReadGetsAMultiMegabyteBodyIntact) {
  std::string body(6 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 131) >> 3);
  LoopbackServer server(LoopbackServer::Respond(200, body));
  const Handle request = Open(server.Port(), "GET", "/");
  ASSERT_TRUE(net_.SendRequest(request, std::nullopt));
  std::vector<std::uint8_t> buffer(body.size() + 1000);
  std::uint32_t got = 0;
  ASSERT_TRUE(
      net_.ReadFile(request, buffer.data(), static_cast<std::uint32_t>(buffer.size()), got));
  ASSERT_EQ(got, body.size());
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + got), body);
  EXPECT_TRUE(net_.ReadFile(request, buffer.data(), 10, got));
  EXPECT_EQ(got, 0u);
}

TEST_F(CurlInternetTest, TakesTheBodyOffTheConnectionOnlyAsReadsAskForIt) {
  // Far more than socket buffers hold: the server can finish writing only if the
  // client takes the body off the connection ahead of its reads.
  const std::size_t size = 48 * 1024 * 1024;
  std::atomic<bool> allWritten{false};
  LoopbackServer server([&](Connection& connection) {
    test::ReceivedRequest request;
    if (!connection.ReadRequest(request)) return;
    std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
    reply.resize(reply.size() + size, 'b');
    allWritten = connection.Write(reply);
  });
  const Handle request = Open(server.Port(), "GET", "/");
  ASSERT_TRUE(net_.SendRequest(request, std::nullopt));
  std::uint8_t buffer[2048];
  std::uint32_t got = 0;
  ASSERT_TRUE(net_.ReadFile(request, buffer, sizeof buffer, got));
  EXPECT_EQ(got, sizeof buffer);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(allWritten);
  EXPECT_TRUE(net_.CloseHandle(request));
}

TEST_F(CurlInternetTest, ChunkedBodiesAreDecodedAndBadChunksFailAfterTheData) {
  LoopbackServer good(
      LoopbackServer::Reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: "
                            "chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"));
  EXPECT_EQ(Exchange(Open(good.Port(), "GET", "/")), "hello world");
  net_.CloseHandle(session_);

  LoopbackServer bad(LoopbackServer::Reply(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\nnope\r\n"));
  const Handle request = Open(bad.Port(), "GET", "/");
  ASSERT_TRUE(net_.SendRequest(request, std::nullopt));
  std::uint8_t buffer[100];
  std::uint32_t got = 0;
  // The failing read still hands over the good bytes that came before the failure.
  EXPECT_FALSE(net_.ReadFile(request, buffer, sizeof buffer, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "hello");
  EXPECT_EQ(net_.LastError(), 12030u);
  EXPECT_EQ(ReadError(request), 12030u);  // the error stays
}

TEST_F(CurlInternetTest, ErrorStatusBodiesAreDeliveredAndRedirectsNotFollowed) {
  LoopbackServer missing(LoopbackServer::Respond(404, "no such page"));
  EXPECT_EQ(Exchange(Open(missing.Port(), "GET", "/")), "no such page");
  net_.CloseHandle(session_);

  LoopbackServer moved(LoopbackServer::Respond(301, "moved", {{"Location", "/elsewhere"}}));
  EXPECT_EQ(Exchange(Open(moved.Port(), "POST", "/"), "a=1"), "moved");
  EXPECT_EQ(moved.Connections(), 1);
  EXPECT_EQ(moved.Requests().size(), 1u);
}

TEST_F(CurlInternetTest, ConnectionFailuresMapToWindowsCodes) {
  std::uint16_t closedPort = 0;
  {
    LoopbackServer gone(LoopbackServer::Echo());
    closedPort = gone.Port();
  }
  Handle request = Open(closedPort, "GET", "/");
  EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
  EXPECT_EQ(net_.LastError(), 12029u);
  EXPECT_EQ(ReadError(request), 12019u);  // never sent
  net_.CloseHandle(session_);

  // An IPv6 literal (without brackets) makes a valid URL (nothing listens there).
  for (std::string_view host : {"::1"}) {
    request = Open(closedPort, "GET", "/", kPlainFlags, host);
    EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
    EXPECT_EQ(net_.LastError(), 12029u);
    net_.CloseHandle(session_);
  }

  for (const char* reply : {"GARBAGE\r\n\r\n", "HTTP/1.0 abc\r\n\r\n", ""}) {
    LoopbackServer server(LoopbackServer::Reply(reply));
    request = Open(server.Port(), "GET", "/");
    EXPECT_FALSE(net_.SendRequest(request, std::nullopt)) << reply;
    EXPECT_EQ(net_.LastError(), 12152u) << reply;
    net_.CloseHandle(session_);
  }
}

TEST_F(CurlInternetTest, BrokenBodiesDeliverWhatArrivedThenFail) {
  // Reset after part of the body, while the client is waiting for more.
  LoopbackServer reset([](Connection& connection) {
    test::ReceivedRequest request;
    if (!connection.ReadRequest(request)) return;
    connection.Write("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(300, 'r'));
    std::this_thread::sleep_for(150ms);
    connection.Reset();
  });
  Handle request = Open(reset.Port(), "GET", "/");
  ASSERT_TRUE(net_.SendRequest(request, std::nullopt));
  std::vector<std::uint8_t> buffer(2048);
  std::uint32_t got = 0;
  EXPECT_FALSE(net_.ReadFile(request, buffer.data(), 2048, got));
  EXPECT_EQ(got, 300u);
  EXPECT_EQ(net_.LastError(), 12031u);
  EXPECT_EQ(ReadError(request), 12031u);
  net_.CloseHandle(session_);

  // Orderly close before Content-Length bytes have come.
  LoopbackServer shortBody(LoopbackServer::Reply("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" +
                                                 std::string(40, 's')));
  request = Open(shortBody.Port(), "GET", "/");
  ASSERT_TRUE(net_.SendRequest(request, std::nullopt));
  EXPECT_FALSE(net_.ReadFile(request, buffer.data(), 2048, got));
  EXPECT_EQ(got, 40u);
  EXPECT_EQ(net_.LastError(), 12030u);
}

// The receive time-out, short enough to test.
class CurlInternetTimeout : public CurlInternetTest {
 protected:
  static constexpr std::uint32_t kTimeoutMs = 200;

  // Sends a GET, then reads `size` bytes at a time until the body ends or a read
  // fails. Returns the error (0 when the body ended) and appends what arrived.
  platform::ErrorCode Exchange(const LoopbackServer& server, std::uint32_t size,
                               std::string& body) {
    const Handle request = Open(server.Port(), "GET", "/");
    EXPECT_TRUE(net_.SetOption(request, inet::kOptionReceiveTimeout, kTimeoutMs));
    if (!net_.SendRequest(request, std::nullopt)) return net_.LastError();
    std::vector<std::uint8_t> buffer(size);
    for (;;) {
      std::uint32_t got = 0;
      const bool ok = net_.ReadFile(request, buffer.data(), size, got);
      body.append(reinterpret_cast<const char*>(buffer.data()), got);
      if (!ok) return net_.LastError();
      if (got == 0) return 0;
    }
  }
};

const std::string kHead10 = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n";
const std::string kHeadOpen = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
const std::string kHeadChunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

TEST_F(CurlInternetTimeout, SilenceBeforeOrInsideTheHeadersOrBodyTimesOut) {
  const std::string big(3000, 'p');
  struct Stall {
    const char* fault;
    std::string sent;  // what the server writes before falling silent
    std::uint32_t readSize;
    std::string kept;
  };
  const Stall stalls[] = {
      {"before the headers", "", 2048, ""},
      {"inside the headers", "HTTP/1.0 200 OK\r\nContent-Len", 2048, ""},
      {"after the headers, chunked reads", kHead10, 2048, ""},
      {"after the headers, one large read", kHead10, 1 << 20, ""},
      {"inside a Content-Length body", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nabc", 100,
       "abc"},
      {"inside a chunked body", kHeadChunked + "5\r\nhello\r\n", 2048, "hello"},
      {"after more than a read's worth", kHeadOpen + big, 2048, big},
  };
  for (const Stall& s : stalls) {
    SCOPED_TRACE(s.fault);
    LoopbackServer server(Trickle(
        s.sent.empty() ? std::vector<std::string>{} : std::vector<std::string>{s.sent}, 0ms));
    std::string body;
    const auto start = SteadyClock::now();
    EXPECT_EQ(Exchange(server, s.readSize, body), 12002u);
    EXPECT_TRUE(body == s.kept) << body.size();
    EXPECT_GE(MsSince(start), kTimeoutMs - 20);
    EXPECT_LT(MsSince(start), 2000);
    net_.CloseHandle(session_);
    session_ = kNullHandle;
  }
}

TEST_F(CurlInternetTimeout, SteadyTrickleThroughHeadersAndChunkFramingNeverTimesOut) {
  // Three bytes every 40 ms: no header line or chunk line is complete within
  // the time-out, and the whole reply takes about four times as long.
  const std::string reply = kHeadChunked + "4\r\nabcd\r\n3\r\nefg\r\n0\r\n\r\n";
  std::vector<std::string> pieces;
  for (std::size_t i = 0; i < reply.size(); i += 3) pieces.push_back(reply.substr(i, 3));
  for (const std::uint32_t readSize : {2048u, 1u << 20}) {
    SCOPED_TRACE(readSize);
    LoopbackServer server(Trickle(pieces, 40ms));
    std::string body;
    const auto start = SteadyClock::now();
    EXPECT_EQ(Exchange(server, readSize, body), 0u);
    EXPECT_EQ(body, "abcdefg");
    EXPECT_GE(MsSince(start), 3 * kTimeoutMs);
    net_.CloseHandle(session_);
    session_ = kNullHandle;
  }
}

TEST_F(CurlInternetTimeout, CountsSilenceWhileWaitingOnly) {
  std::uint8_t buffer[100];
  std::uint32_t got = 0;
  // A steady trickle for longer than the time-out is fine.
  LoopbackServer slow(Trickle(
      {"HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\n", "1", "2", "3", "4", "5", "6"}, 60ms));
  Handle request = Open(slow.Port(), "GET", "/");
  ASSERT_TRUE(net_.SetOption(request, inet::kOptionReceiveTimeout, 200));
  ASSERT_TRUE(net_.SendRequest(request, std::nullopt));
  ASSERT_TRUE(net_.ReadFile(request, buffer, sizeof buffer, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "123456");
  net_.CloseHandle(session_);

  // So is a pause between reads longer than the time-out.
  LoopbackServer later(Trickle({"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nab", "cd"}, 300ms));
  request = Open(later.Port(), "GET", "/");
  ASSERT_TRUE(net_.SetOption(request, inet::kOptionReceiveTimeout, 200));
  ASSERT_TRUE(net_.SendRequest(request, std::nullopt));
  ASSERT_TRUE(net_.ReadFile(request, buffer, 2, got));
  std::this_thread::sleep_for(250ms);
  EXPECT_EQ(ReadAll(request, 100), "cd");
}

TEST_F(CurlInternetTest, ConnectionSocketsAreCloseOnExec) {
  TestPki pki;
  ScopedEnv trust("SSL_CERT_FILE", pki.CaFile().c_str());
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "plain");
    const auto identity = tls ? std::optional(pki.Issue("127.0.0.1").Identity()) : std::nullopt;
    LoopbackServer server(Trickle({"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhello"}, 0ms),
                          identity);
    const Handle request = Open(server.Port(), "GET", "/", tls ? kTlsFlags : kPlainFlags);
    ASSERT_TRUE(net_.SendRequest(request, std::nullopt));
    // Mid-transfer: every descriptor connected to the server is close-on-exec.
    const std::vector<int> sockets = test::SocketsConnectedTo(server.Port());
    EXPECT_EQ(sockets.size(), 1u);
    for (const int fd : sockets) EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << fd;
    net_.CloseHandle(session_);
    session_ = kNullHandle;
  }
}

TEST_F(CurlInternetTest, ClosingARequestMidBodyEndsTheTransfer) {
  LoopbackServer server(Trickle(
      {"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(50000, 'x')}, 0ms));
  const Handle request = Open(server.Port(), "GET", "/");
  ASSERT_TRUE(net_.SendRequest(request, std::nullopt));
  std::uint8_t buffer[100];
  std::uint32_t got = 0;
  ASSERT_TRUE(net_.ReadFile(request, buffer, sizeof buffer, got));
  const auto start = SteadyClock::now();
  EXPECT_TRUE(net_.CloseHandle(request));
  EXPECT_FALSE(net_.ReadFile(request, buffer, sizeof buffer, got));
  EXPECT_EQ(net_.LastError(), 6u);
  EXPECT_LT(MsSince(start), 1000);
}

class CurlInternetTls : public CurlInternetTest {
 protected:
  // Sends a GET over TLS to a server using `identity`; the error, or 0 with the body read.
  std::uint32_t Fetch(const test::Pem& identity, std::uint32_t flags = kTlsFlags) {
    LoopbackServer server(LoopbackServer::Respond(200, "secret"), identity.Identity());
    const Handle request = Open(server.Port(), "GET", "/", flags);
    std::uint32_t error = 0;
    if (!net_.SendRequest(request, std::nullopt)) {
      error = static_cast<std::uint32_t>(net_.LastError());
    } else {
      EXPECT_EQ(ReadAll(request), "secret");
    }
    net_.CloseHandle(session_);
    session_ = kNullHandle;
    return error;
  }

  TestPki pki_;
  ScopedEnv trust_{"SSL_CERT_FILE", pki_.CaFile().c_str()};
};

TEST_F(CurlInternetTls, AcceptsDateAndNameProblemsButNotUntrustedIssuers) {
  EXPECT_EQ(Fetch(pki_.Issue("127.0.0.1")), 0u);
  EXPECT_EQ(Fetch(pki_.Issue("127.0.0.1", -48h, -24h)), 0u);  // expired
  EXPECT_EQ(Fetch(pki_.Issue("127.0.0.1", 24h, 48h)), 0u);    // not yet valid
  EXPECT_EQ(Fetch(pki_.Issue("other.example")), 0u);          // wrong name
  EXPECT_EQ(Fetch(pki_.IssueViaIntermediate("127.0.0.1", -1h, 24h)), 0u);
  // The dates of an issuer are never forgiven.
  EXPECT_EQ(Fetch(pki_.IssueViaIntermediate("127.0.0.1", -48h, -24h)), 12169u);
  EXPECT_EQ(Fetch(pki_.IssueViaIntermediate("127.0.0.1", 24h, 48h)), 12169u);
  {
    TestPki expiredRoot(-48h, -24h);
    ScopedEnv trust("SSL_CERT_FILE", expiredRoot.CaFile().c_str());
    EXPECT_EQ(Fetch(expiredRoot.Issue("127.0.0.1", -1h, 1h)), 12169u);
  }
  EXPECT_EQ(Fetch(TestPki::SelfSigned("127.0.0.1")), 12045u);
  TestPki stranger;
  EXPECT_EQ(Fetch(stranger.Issue("127.0.0.1")), 12045u);
  // Without the ignore flags, date and name are checked too.
  EXPECT_EQ(Fetch(pki_.Issue("127.0.0.1", -48h, -24h), kTlsStrictFlags), 12169u);
  EXPECT_EQ(Fetch(pki_.Issue("other.example"), kTlsStrictFlags), 12169u);
}

TEST_F(CurlInternetTls, RefusesProtocolsBeforeTls12) {
  for (const int version : {TLS1_VERSION, TLS1_1_VERSION}) {
    SCOPED_TRACE(version);
    test::Pem old = pki_.Issue("127.0.0.1");
    test::TlsIdentity identity = old.Identity();
    identity.maxVersion = version;
    identity.securityLevel = 0;  // lets OpenSSL 3 offer TLS 1.0 and 1.1 at all
    LoopbackServer server(LoopbackServer::Respond(200, "secret"), identity);
    const Handle request = Open(server.Port(), "GET", "/", kTlsFlags);
    EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
    EXPECT_EQ(net_.LastError(), 12157u);
    EXPECT_TRUE(server.Requests().empty());
    net_.CloseHandle(session_);
    session_ = kNullHandle;
  }
}

TEST_F(CurlInternetTls, ForgedServerSignatureIsACertificateFailure) {
  test::TlsIdentity identity = pki_.Issue("127.0.0.1").Identity();
  identity.maxVersion = TLS1_2_VERSION;  // the key exchange signature travels in the clear
  LoopbackServer server(LoopbackServer::Respond(200, "secret"), identity);
  LoopbackServer forger(test::CorruptingRelay(server.Port()));
  const Handle request = Open(forger.Port(), "GET", "/", kTlsFlags);
  EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
  EXPECT_EQ(net_.LastError(), 12169u);
  EXPECT_TRUE(server.Requests().empty());
}

// Run by ctest with SSLKEYLOGFILE set before libcurl starts, and with an OpenSSL
// configuration that allows TLS 1.0 (tests/support/legacy-openssl.cnf).
TEST_F(CurlInternetTls, WritesNoKeyLogWhateverTheEnvironment) {
  const char* keyLog = std::getenv("SSLKEYLOGFILE");
  if (keyLog == nullptr)
    GTEST_SKIP() << "needs SSLKEYLOGFILE from the start (ctest tls_environment)";
  EXPECT_EQ(Fetch(pki_.Issue("127.0.0.1")), 0u);
  std::error_code absent;
  EXPECT_EQ(std::filesystem::file_size(keyLog, absent), absent ? std::uintmax_t(-1) : 0u);
}

// SSL_CERT_DIR replaces the CA directory: a hashed copy of the CA there is trusted.
TEST_F(CurlInternetTls, TrustsACaDirectoryFromTheEnvironment) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vizadavu-ca-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  FILE* pem = std::fopen(pki_.CaFile().c_str(), "r");
  ASSERT_NE(pem, nullptr);
  X509* ca = PEM_read_X509(pem, nullptr, nullptr, nullptr);
  std::fclose(pem);
  ASSERT_NE(ca, nullptr);
  char name[32];
  std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(ca));
  X509_free(ca);
  std::filesystem::copy_file(pki_.CaFile(), dir / name);
  {
    ScopedEnv noFile("SSL_CERT_FILE", "");
    EXPECT_EQ(Fetch(pki_.Issue("127.0.0.1"), kTlsStrictFlags), 12045u);
    ScopedEnv trustDir("SSL_CERT_DIR", dir.c_str());
    EXPECT_EQ(Fetch(pki_.Issue("127.0.0.1"), kTlsStrictFlags), 0u);
  }
  std::filesystem::remove_all(dir);
}

TEST_F(CurlInternetTls, PlainServerIsASecureChannelError) {
  LoopbackServer plain(LoopbackServer::Reply("HTTP/1.0 200 OK\r\n\r\n"));
  const Handle request = Open(plain.Port(), "GET", "/", kTlsFlags);
  EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
  EXPECT_EQ(net_.LastError(), 12157u);
}

TEST_F(CurlInternetTest, PreconfiguredProxyCarriesTheSameTargetDirectIgnoresIt) {
  LoopbackServer proxy(LoopbackServer::Echo());
  const std::string proxyUrl = "http://" + proxy.HostPort();
  ScopedEnv httpProxy("http_proxy", proxyUrl.c_str());
  ScopedEnv noProxy("no_proxy", nullptr);
  // The target's bytes are the ones a direct request carries, after the origin.
  Handle request = Open(8080, "GET", "/a b#c\xE9?%41", kPlainFlags, "site.invalid");
  EXPECT_EQ(FirstLine(Exchange(request)), "GET http://site.invalid:8080/a%20b#c\xE9?%41 HTTP/1.0");
  request = Open(80, "GET", "x", kPlainFlags, "site.invalid");
  EXPECT_EQ(FirstLine(Exchange(request)), "GET http://site.invalid/x HTTP/1.0");
  // An international name goes to the proxy in its ASCII form.
  request = Open(80, "GET", "/", kPlainFlags,
                 "b\xFC"
                 "cher.invalid");
  EXPECT_EQ(FirstLine(Exchange(request)), "GET http://xn--bcher-kva.invalid/ HTTP/1.0");
  net_.CloseHandle(session_);

  LoopbackServer origin(LoopbackServer::Echo());
  request = Open(origin.Port(), "GET", "/a", kPlainFlags, "127.0.0.1", inet::kOpenTypeDirect);
  EXPECT_EQ(FirstLine(Exchange(request)), "GET /a HTTP/1.0");
  {
    ScopedEnv loopbackDirect("no_proxy", "example.test, 127.0.0.0/8");
    request = Open(origin.Port(), "GET", "/b", kPlainFlags, "127.0.0.1");
    EXPECT_EQ(FirstLine(Exchange(request)), "GET /b HTTP/1.0");
  }
  EXPECT_EQ(proxy.Connections(), 3);
}

TEST(NoProxy, ListsMatchLikeLibcurl) {
  struct Case {
    const char* host;
    const char* list;
    bool matches;
  } cases[] = {
      {"example.test", "*", true},
      {"example.test", "", false},
      {"example.test", "example.test", true},
      {"www.Example.TEST", "example.test", true},
      {"www.example.test", ".example.test", true},
      {"badexample.test", "example.test", false},
      {"example.test.", "other, example.test.", true},
      {"example.test", "a b\texample.test", true},
      {"example.test", "*.example.test", false},
      {"127.0.0.1", "localhost,127.0.0.1", true},
      {"127.0.0.2", "127.0.0.0/8", true},
      {"128.0.0.1", "127.0.0.0/8", false},
      {"127.0.0.1", "127.0.0.0", false},
      {"[::1]", "::1", true},
      {"::1", "::/127", true},
      {"::2", "::/127", false},
      {"::1", "127.0.0.1", false},
      {"127.0.0.1", "127.0.0.1.example", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NoProxyMatches(c.host, c.list), c.matches) << c.host << " in " << c.list;
  }
  ScopedEnv https("https_proxy", nullptr);
  ScopedEnv httpsUpper("HTTPS_PROXY", "http://upper.invalid:1");
  ScopedEnv http("http_proxy", nullptr);
  ScopedEnv httpUpper("HTTP_PROXY", "http://never.invalid:1");  // ignored, as libcurl does
  ScopedEnv all("all_proxy", "");
  ScopedEnv none("no_proxy", "skip.test");
  EXPECT_EQ(EnvironmentProxy("https", "h.test"), "http://upper.invalid:1");
  EXPECT_EQ(EnvironmentProxy("https", "a.skip.test"), "");
  EXPECT_EQ(EnvironmentProxy("http", "h.test"), "");  // all_proxy set but empty
}

TEST_F(CurlInternetTest, VersionsAndAccessTypesBeyondTheControlsOwn) {
  LoopbackServer server(LoopbackServer::Echo());
  for (const char* version : {"", "HTTP/1.1", "http/1.1"}) {
    session_ = net_.OpenSession("Tormelo/1.0", inet::kOpenTypeDirect);
    const Handle connection = net_.Connect(session_, "127.0.0.1", server.Port(), "", "", 3);
    const Handle request = net_.OpenRequest(connection, "", "/v", version, kPlainFlags);
    EXPECT_EQ(FirstLine(Exchange(request)), "GET /v HTTP/1.1") << version;
    EXPECT_EQ(net_.OpenRequest(connection, "GET", "/", "HTTP/2", kPlainFlags), kNullHandle);
    EXPECT_EQ(net_.LastError(), 87u);
    net_.CloseHandle(session_);
  }
  session_ = kNullHandle;
  EXPECT_EQ(net_.OpenSession("Tormelo/1.0", 3), kNullHandle);  // a named proxy
  EXPECT_EQ(net_.LastError(), 87u);
}

TEST_F(CurlInternetTest, InvalidHandlesFailWithoutHarm) {
  EXPECT_FALSE(net_.CloseHandle(kNullHandle));
  EXPECT_EQ(net_.LastError(), 6u);
  const Handle request = Open(80, "GET", "/");
  std::uint8_t buffer[4];
  std::uint32_t got = 7;
  // Wrong kinds.
  EXPECT_FALSE(net_.ReadFile(session_, buffer, 4, got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(net_.LastError(), 6u);
  EXPECT_EQ(net_.Connect(request, "h", 80, "", "", 3), kNullHandle);
  EXPECT_EQ(net_.LastError(), 6u);
  EXPECT_FALSE(net_.SendRequest(session_, std::nullopt));
  EXPECT_EQ(net_.LastError(), 6u);
  // Options.
  EXPECT_FALSE(net_.SetOption(request, 99, 1));
  EXPECT_EQ(net_.LastError(), 87u);
  EXPECT_FALSE(net_.SetOption(123456, inet::kOptionReceiveTimeout, 1));
  EXPECT_EQ(net_.LastError(), 6u);
  // Another object's handles are not ours.
  CurlInternet other;
  EXPECT_FALSE(other.CloseHandle(request));
  EXPECT_EQ(other.LastError(), 6u);
  // Closing the session closes its children; a second close fails.
  EXPECT_TRUE(net_.CloseHandle(session_));
  EXPECT_FALSE(net_.AddRequestHeaders(request, "X: y", 0));
  EXPECT_EQ(net_.LastError(), 6u);
  EXPECT_FALSE(net_.CloseHandle(session_));
  session_ = kNullHandle;
}

}  // namespace
}  // namespace vizadavu::platform

namespace vizadavu::platform {
namespace {

// A handler that reads the request, writes `head` and then stays silent until
// released (or 5 s pass), so a client waits on a live connection.
loopback::Handler SilentAfter(std::string head, std::shared_ptr<std::atomic<bool>> release) {
  return [head = std::move(head), release](Connection& c) {
    loopback::ReceivedRequest request;
    if (!c.ReadRequest(request)) return;
    if (!head.empty()) c.Write(head);
    const auto until = SteadyClock::now() + 5s;
    while (!release->load() && SteadyClock::now() < until) std::this_thread::sleep_for(5ms);
  };
}

// The wait callback while a server is silent before its headers and in the
// middle of its body: called every 20 ms or sooner, and a false answer ends the
// call with 12017 at once, keeping the body bytes that arrived.
TEST_F(CurlInternetTest, WaitCallbackCadenceAndCancel) {
  struct Case {
    const char* name;
    std::string head;
    bool cancelInSend;
  } cases[] = {
      {"silent before the headers", "", true},
      {"silent mid-body", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto release = std::make_shared<std::atomic<bool>>(false);
    LoopbackServer server(SilentAfter(c.head, release));
    const Handle request = Open(server.Port(), "GET", "/");
    std::vector<SteadyClock::time_point> calls;
    ASSERT_TRUE(net_.SetWaitCallback(request, [&] {
      calls.push_back(SteadyClock::now());
      return calls.size() < 25;  // about half a second of waiting
    }));
    const auto start = SteadyClock::now();
    const bool sent = net_.SendRequest(request, std::nullopt);
    EXPECT_EQ(sent, !c.cancelInSend);
    if (sent) {
      std::uint8_t buffer[100];
      std::uint32_t got = 99;
      EXPECT_FALSE(net_.ReadFile(request, buffer, sizeof buffer, got));
      EXPECT_EQ(got, 10u);  // what arrived before the cancel stays
      EXPECT_FALSE(net_.ReadFile(request, buffer, sizeof buffer, got));
    }
    EXPECT_EQ(net_.LastError(), codes::Cancelled);
    ASSERT_EQ(calls.size(), 25u);
    auto longest = calls.front() - start;
    for (std::size_t i = 1; i < calls.size(); ++i)
      longest = std::max(longest, calls[i] - calls[i - 1]);
    RecordProperty(
        "longest_gap_us",
        std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(longest).count()));
    EXPECT_LE(longest, 60ms);  // promised: 20 ms; generous for a loaded machine
    EXPECT_LT(MsSince(calls.back()), 50);
    release->store(true);
    EXPECT_TRUE(net_.CloseHandle(session_));
  }
}

// A wait callback that throws stops the call as a false answer would.
TEST_F(CurlInternetTest, ThrowingWaitCallbackCancels) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  LoopbackServer server(SilentAfter("", release));
  const Handle request = Open(server.Port(), "GET", "/");
  ASSERT_TRUE(net_.SetWaitCallback(request, []() -> bool { throw std::runtime_error("host"); }));
  EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
  EXPECT_EQ(net_.LastError(), codes::Cancelled);
  release->store(true);
}

// The status code of the final reply, and none for a reply without a status line.
TEST_F(CurlInternetTest, QueryInfoGivesTheStatusCode) {
  constexpr std::uint32_t kStatus = inet::kQueryStatusCode | inet::kQueryFlagNumber;
  for (const int status : {200, 404, 503}) {
    LoopbackServer server(LoopbackServer::Respond(status, "page"));
    const Handle request = Open(server.Port(), "GET", "/");
    std::uint32_t value = 1;
    EXPECT_FALSE(net_.QueryInfo(request, kStatus, value));  // not sent yet
    EXPECT_EQ(net_.LastError(), codes::HeaderNotFound);
    ASSERT_TRUE(net_.SendRequest(request, std::nullopt));
    EXPECT_TRUE(net_.QueryInfo(request, kStatus, value));
    EXPECT_EQ(value, static_cast<std::uint32_t>(status));
    EXPECT_FALSE(net_.QueryInfo(request, inet::kQueryStatusCode, value));
    EXPECT_EQ(net_.LastError(), codes::InvalidParameter);
    EXPECT_TRUE(net_.CloseHandle(session_));
  }
  LoopbackServer server(LoopbackServer::Reply("no status line here\r\n"));
  const Handle request = Open(server.Port(), "GET", "/");
  EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
  std::uint32_t value = 1;
  EXPECT_FALSE(net_.QueryInfo(request, kStatus, value));
  EXPECT_EQ(value, 0u);
  EXPECT_FALSE(net_.QueryInfo(kNullHandle, kStatus, value));
  EXPECT_EQ(net_.LastError(), codes::InvalidHandle);
}

}  // namespace
}  // namespace vizadavu::platform
