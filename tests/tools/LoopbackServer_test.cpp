#include "tests/support/TestPki.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace vizadavu::test {
namespace {

using namespace std::chrono_literals;

struct Socket {
  explicit Socket(std::uint16_t port) : fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~Socket() { close(fd); }
  void Send(std::string_view bytes) const {
    EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  std::string ReadAll() const {  // until EOF
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) all.append(buffer, size_t(n));
    return all;
  }
  int fd;
};

template <typename Condition>
bool Eventually(Condition condition) {
  for (auto end = std::chrono::steady_clock::now() + 5s; !condition();) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// TLS client that trusts only the CA in `caFile` and checks the server for 127.0.0.1. Returns
// the reply to `request`, or "verify N" when the handshake fails with verify result N.
std::string TlsExchange(std::uint16_t port, const std::string& caFile, std::string_view request) {
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()),
                                                        SSL_CTX_free);
  EXPECT_EQ(SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr), 1);
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), SSL_free);
  X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), "127.0.0.1");
  Socket socket(port);
  SSL_set_fd(ssl.get(), socket.fd);
  if (SSL_connect(ssl.get()) != 1)
    return "verify " + std::to_string(SSL_get_verify_result(ssl.get()));
  SSL_write(ssl.get(), request.data(), int(request.size()));
  std::string reply;
  char buffer[4096];
  for (int n; (n = SSL_read(ssl.get(), buffer, sizeof buffer)) > 0;)
    reply.append(buffer, size_t(n));
  return reply;
}

TEST(LoopbackServer, RecordsSplitBareLfRequestExactlyAndEchoesIt) {
  LoopbackServer server(LoopbackServer::Echo());
  const std::string raw =
      "POST /submit?x=1 HTTP/1.1\r\nHost: 127.0.0.1\nX-Pad:  a b \r\nContent-Length: "
      "7\r\n\r\nname=va";
  Socket client(server.Port());
  client.Send(raw.substr(0, 20));
  std::this_thread::sleep_for(20ms);
  client.Send(raw.substr(20, 60));
  std::this_thread::sleep_for(20ms);
  client.Send(raw.substr(80) + "tail beyond the body");
  EXPECT_EQ(client.ReadAll(),
            "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(raw.size()) + "\r\n\r\n" + raw);

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const ReceivedRequest& r = requests[0];
  EXPECT_EQ(r.raw, raw);
  EXPECT_EQ(r.method + "|" + r.target + "|" + r.version, "POST|/submit?x=1|HTTP/1.1");
  using Headers = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(r.headers, (Headers{{"Host", "127.0.0.1"}, {"X-Pad", "a b"}, {"Content-Length", "7"}}));
  EXPECT_EQ(r.body, "name=va");
  EXPECT_EQ(r.Header("content-LENGTH"), "7");
  EXPECT_EQ(r.Header("Cookie"), std::nullopt);
  EXPECT_EQ(server.Connections(), 1);
}

TEST(LoopbackServer, KeepsPipelinedBytesDecodesChunkedBodiesAndSends100Continue) {
  LoopbackServer server([](Connection& c) {
    ReceivedRequest first, second;
    if (c.ReadRequest(first) && c.ReadRequest(second)) c.Write(first.body + "|" + second.target);
  });
  const std::string chunked =
      "POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\nExpect: 100-continue\r\n\r\n"
      "3\r\nabc\r\n2;x=1\r\nde\r\n0\r\n\r\n";
  Socket client(server.Port());
  client.Send(chunked + "GET /b HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadAll(), "HTTP/1.1 100 Continue\r\n\r\nabcde|/b");
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[0].raw, chunked);
}

TEST(LoopbackServer, RespondFramesTheReplyAndResetAborts) {
  LoopbackServer respond(LoopbackServer::Respond(404, "gone", {{"X-A", "1"}}));
  Socket client(respond.Port());
  client.Send("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(client.ReadAll(), "HTTP/1.0 404 Not Found\r\nX-A: 1\r\nContent-Length: 4\r\n\r\ngone");

  LoopbackServer reset([](Connection& c) {
    ReceivedRequest r;
    if (c.ReadRequest(r)) c.Reset();
  });
  Socket victim(reset.Port());
  victim.Send("GET / HTTP/1.0\r\n\r\n");
  char byte;
  ssize_t got = recv(victim.fd, &byte, 1, 0);
  int error = errno;
  EXPECT_EQ(got, -1);
  EXPECT_EQ(error, ECONNRESET);
}

TEST(LoopbackServer, TlsServesTrustingClientsAndCountsFailedHandshakes) {
  TestPki pki;
  LoopbackServer server(LoopbackServer::Respond(200, "secure"), pki.Issue("127.0.0.1").Identity());
  EXPECT_EQ(TlsExchange(server.Port(), pki.CaFile(), "GET / HTTP/1.1\r\n\r\n"),
            "HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nsecure");
  Socket plain(server.Port());
  plain.Send("GET / HTTP/1.1\r\n\r\n");
  plain.ReadAll();
  EXPECT_TRUE(Eventually([&] { return server.TlsHandshakeFailures() == 1; }));
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Connections(), 2);
}

TEST(LoopbackServer, TestPkiCertificatesFailVerificationAsMade) {
  TestPki pki;
  const struct {
    Pem pem;
    long verifyResult;
  } cases[] = {
      {pki.Issue("127.0.0.1", -48h, -24h), X509_V_ERR_CERT_HAS_EXPIRED},
      {pki.Issue("127.0.0.1", 1h, 48h), X509_V_ERR_CERT_NOT_YET_VALID},
      {pki.Issue("localhost"), X509_V_ERR_IP_ADDRESS_MISMATCH},
      {TestPki::SelfSigned("127.0.0.1"), X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT},
  };
  for (const auto& c : cases) {
    LoopbackServer server(LoopbackServer::Echo(), c.pem.Identity());
    EXPECT_EQ(TlsExchange(server.Port(), pki.CaFile(), ""),
              "verify " + std::to_string(c.verifyResult));
  }
}

TEST(LoopbackServer, DestructorUnblocksHandlersAndSurvivesThrowingOnes) {
  std::atomic<int> timedOut{0};
  auto start = std::chrono::steady_clock::now();
  std::optional<Socket> idle;  // outlives the server, so only the destructor can end its handler
  {
    LoopbackServer server([&](Connection& c) {
      ReceivedRequest r;
      if (c.ReadRequest(r, 60s)) throw std::runtime_error("handler failure (expected)");
      ++timedOut;
    });
    Socket thrower(server.Port());
    thrower.Send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(thrower.ReadAll(), "");
    idle.emplace(server.Port());
    ASSERT_TRUE(Eventually([&] { return server.Connections() == 2; }));
    start = std::chrono::steady_clock::now();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(timedOut, 1);
}

}  // namespace
}  // namespace vizadavu::test
