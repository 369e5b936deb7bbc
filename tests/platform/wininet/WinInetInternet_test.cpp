// The WinINet boundary against a Winsock server on 127.0.0.1: the reply checks
// WinINet does not make, both waits (plain and asynchronous), a cancel, and the
// handle table.
#include <winsock2.h>
//
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/wininet/WinInetInternet.h"

namespace vizadavu::platform {
namespace {

const std::string kBody = [] {
  std::string body(5000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
  return body;
}();

// Answers every connection with `head`, then after `pauseMs` with `tail`, then
// closes.
class Server {
 public:
  explicit Server(std::string head, int pauseMs = 0, std::string tail = "")
      : head_(std::move(head)), tail_(std::move(tail)), pauseMs_(pauseMs) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 8);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Server() {
    closesocket(listener_);
    thread_.join();
  }
  std::uint16_t Port() const { return port_; }

 private:
  void Serve() {
    for (SOCKET client; (client = accept(listener_, nullptr, nullptr)) != INVALID_SOCKET;) {
      std::string request;
      char buffer[4096];
      int got = 0;
      while (request.find("\r\n\r\n") == std::string::npos &&
             (got = recv(client, buffer, sizeof buffer, 0)) > 0) {
        request.append(buffer, static_cast<std::size_t>(got));
      }
      send(client, head_.data(), static_cast<int>(head_.size()), 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs_));
      send(client, tail_.data(), static_cast<int>(tail_.size()), 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      closesocket(client);
    }
  }
  std::string head_, tail_;
  int pauseMs_;
  SOCKET listener_;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

// One exchange: what the send and the reads gave.
struct Outcome {
  ErrorCode sendError = codes::None;
  std::uint32_t status = 0;
  std::string body;
  ErrorCode readError = codes::None;  // None: the body ended cleanly
};

Outcome Exchange(std::uint16_t port, bool wait, std::uint32_t readSize = 2048,
                 int cancelAfterMs = -1) {
  WinInetInternet net;
  Outcome outcome;
  const Handle session = net.OpenSession("Tormelo/1.0", inet::kOpenTypeDirect);
  const Handle connection = net.Connect(session, "127.0.0.1", port, "", "", inet::kServiceHttp);
  const Handle request = net.OpenRequest(connection, "POST", "/f", "HTTP/1.0",
                                         inet::kFlagReload | inet::kFlagNoCacheWrite);
  EXPECT_NE(request, kNullHandle);
  net.SetOption(request, inet::kOptionReceiveTimeout, 5000);
  const auto start = std::chrono::steady_clock::now();
  if (wait) {
    net.SetWaitCallback(request, [&] {
      return cancelAfterMs < 0 ||
             std::chrono::steady_clock::now() - start < std::chrono::milliseconds(cancelAfterMs);
    });
  }
  if (!net.SendRequest(request, std::string_view("a=1"))) {
    outcome.sendError = net.LastError();
  } else {
    EXPECT_TRUE(
        net.QueryInfo(request, inet::kQueryStatusCode | inet::kQueryFlagNumber, outcome.status));
    std::vector<std::uint8_t> buffer(readSize);
    for (;;) {
      std::uint32_t got = 0;
      const bool ok = net.ReadFile(request, buffer.data(), readSize, got);
      outcome.body.append(reinterpret_cast<const char*>(buffer.data()), got);
      if (!ok) outcome.readError = net.LastError();
      if (!ok || got == 0) break;
    }
  }
  EXPECT_TRUE(net.CloseHandle(session));
  return outcome;
}

std::string Head(const char* headers) {
  return std::string("HTTP/1.1 200 OK\r\nConnection: close\r\n") + headers + "\r\n";
}

std::string Chunked() {
  return "bb8\r\n" + kBody.substr(0, 3000) + "\r\n7d0\r\n" + kBody.substr(3000) + "\r\n0\r\n\r\n";
}

TEST(WinInetInternetTest, ReplyFramingAndFaults) {
  struct Case {
    const char* name;
    std::string reply;
    ErrorCode sendError;
    std::size_t bodyBytes;
    ErrorCode readError;
  };
  const Case cases[] = {
      {"content-length", Head("Content-Length: 5000\r\n") + kBody, codes::None, 5000, codes::None},
      {"chunked", Head("Transfer-Encoding: chunked\r\n") + Chunked(), codes::None, 5000,
       codes::None},
      {"close-delimited", Head("") + kBody, codes::None, 5000, codes::None},
      {"short body", Head("Content-Length: 5000\r\n") + kBody.substr(0, 3000), codes::None, 3000,
       codes::ConnectionAborted},
      {"nothing at all", "", codes::InvalidServerResponse, 0, codes::None},
      {"two lengths", Head("Content-Length: 5000\r\nContent-Length: 4000\r\n") + kBody,
       codes::InvalidServerResponse, 0, codes::None},
      {"length not a number", Head("Content-Length: 12x\r\n") + kBody, codes::InvalidServerResponse,
       0, codes::None},
      {"101", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n" + kBody,
       codes::InvalidServerResponse, 0, codes::None},
  };
  for (const Case& c : cases) {
    Server server(c.reply);
    for (const bool wait : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (wait ? " (asynchronous)" : ""));
      const Outcome outcome = Exchange(server.Port(), wait);
      EXPECT_EQ(outcome.sendError, c.sendError);
      EXPECT_EQ(outcome.body, kBody.substr(0, c.bodyBytes));
      EXPECT_EQ(outcome.readError, c.readError);
      EXPECT_EQ(outcome.status, c.sendError == codes::None ? 200u : 0u);
    }
  }
}

TEST(WinInetInternetTest, WaitsKeepWhatArrivedAndCancelCloses) {
  Server server(Head("Content-Length: 5000\r\n") + kBody.substr(0, 1000), 1500, kBody.substr(1000));
  // A 4000-byte read waits through the pause and fills; the body then ends.
  Outcome outcome = Exchange(server.Port(), true, 4000);
  EXPECT_EQ(outcome.body, kBody);
  EXPECT_EQ(outcome.readError, codes::None);
  // Cancelled in the pause: the bytes before it stay, within a few slices.
  const auto start = std::chrono::steady_clock::now();
  outcome = Exchange(server.Port(), true, 4000, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1200));
  EXPECT_EQ(outcome.body, kBody.substr(0, 1000));
  EXPECT_EQ(outcome.readError, codes::Cancelled);
}

TEST(WinInetInternetTest, HandleTable) {
  const std::uint16_t refused = Server("").Port();  // free again once the server is gone
  WinInetInternet net;
  EXPECT_FALSE(net.CloseHandle(kNullHandle));
  EXPECT_EQ(net.LastError(), codes::InvalidHandle);
  const Handle session = net.OpenSession("Tormelo/1.0", inet::kOpenTypeDirect);
  const Handle connection = net.Connect(session, "127.0.0.1", refused, "", "", inet::kServiceHttp);
  const Handle request = net.OpenRequest(connection, "GET", "/", "HTTP/1.0", 0);
  EXPECT_EQ(net.Connect(request, "127.0.0.1", 80, "", "", inet::kServiceHttp), kNullHandle);
  EXPECT_EQ(net.LastError(), codes::InvalidHandle);
  std::uint8_t byte = 0;
  std::uint32_t got = 7;
  EXPECT_FALSE(net.ReadFile(request, &byte, 1, got));
  EXPECT_EQ(net.LastError(), codes::IncorrectHandleState);
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(net.SendRequest(request, std::nullopt));
  EXPECT_EQ(net.LastError(), codes::CannotConnect);
  EXPECT_TRUE(net.CloseHandle(session));
  EXPECT_FALSE(net.SetOption(request, inet::kOptionConnectTimeout, 1));  // closed with it
  EXPECT_EQ(net.LastError(), codes::InvalidHandle);
}

}  // namespace
}  // namespace vizadavu::platform
