// The libcurl internet boundary call by call: the request bytes it sends, what
// it refuses, proxies in the way, handles and the status code.
#include "tests/platform/curl/CurlInternetFixture.h"

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

#include "tests/support/Loopback.h"
#include "tests/support/TestPki.h"
#include "tests/support/TlsFaults.h"

namespace vizadavu::platform {
namespace {

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
