// The WinINet boundary and the control over it against native servers: the reply checks
// WinINet does not make, both waits (plain and asynchronous), a cancel, and the
// handle table.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/wininet/WinInetInternet.h"
#include "tests/support/Recorder.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::platform {
namespace {

const std::string kBody = [] {
  std::string body(5000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
  return body;
}();

// A port of the native loopback servers (tools/loopback/server_main.cpp), by
// name, from the file named by VIZADAVU_PORTS_FILE.
std::uint16_t Port(const std::string& name) {
  std::ifstream ports(std::getenv("VIZADAVU_PORTS_FILE") ? std::getenv("VIZADAVU_PORTS_FILE") : "");
  std::string key;
  for (unsigned port = 0; ports >> key >> port;) {
    if (key == name) return static_cast<std::uint16_t>(port);
  }
  ADD_FAILURE() << "no port " << name << " in VIZADAVU_PORTS_FILE";
  return 0;
}

// Where an exchange goes: the server answers with the reply the request carries.
struct To {
  const char* server = "plain";
  std::uint32_t flags = 0;
  std::string path = "/f";  // /split/N/MS: the first N bytes, a pause, the rest
  std::uint32_t receiveTimeoutMs = 5000;
};

// One exchange: what the send and the reads gave.
struct Outcome {
  ErrorCode sendError = codes::None;
  std::uint32_t status = 0;
  std::string body;
  ErrorCode readError = codes::None;  // None: the body ended cleanly
};

Outcome Exchange(const std::string& reply, bool wait, const To& to = {},
                 std::uint32_t readSize = 2048, int cancelAfterMs = -1) {
  WinInetInternet net;
  Outcome outcome;
  const Handle session = net.OpenSession("Tormelo/1.0", inet::kOpenTypeDirect);
  const Handle connection =
      net.Connect(session, "localhost", Port(to.server), "", "", inet::kServiceHttp);
  const Handle request = net.OpenRequest(connection, "POST", to.path, "HTTP/1.0",
                                         inet::kFlagReload | inet::kFlagNoCacheWrite | to.flags);
  EXPECT_NE(request, kNullHandle);
  net.SetOption(request, inet::kOptionReceiveTimeout, to.receiveTimeoutMs);
  const auto start = std::chrono::steady_clock::now();
  if (wait) {
    net.SetWaitCallback(request, [&] {
      return cancelAfterMs < 0 ||
             std::chrono::steady_clock::now() - start < std::chrono::milliseconds(cancelAfterMs);
    });
  }
  if (!net.SendRequest(request, std::string_view(reply))) {
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
  constexpr ErrorCode kSome = -1;  // an error, whose code wine and Windows' documentation differ on
  constexpr std::uint32_t kTls = inet::kFlagSecure;
  constexpr std::uint32_t kLax =
      kTls | inet::kFlagIgnoreCertDateInvalid | inet::kFlagIgnoreCertCnInvalid;
  const std::string kLength = Head("Content-Length: 5000\r\n") + kBody;
  const auto matches = [](ErrorCode want, ErrorCode got) {
    return want == kSome ? got != codes::None : got == want;
  };
  using namespace codes;
  struct Case {
    const char* name;
    std::string reply;
    ErrorCode sendError;
    std::size_t bodyBytes;
    ErrorCode readError;
    To to = {};
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
      {"no reply in time", kLength, kSome, 0, None, {"plain", 0, "/split/0/3000", 500}},
      {"stalled body", kLength, None, 1000, kSome, {"plain", 0, "/split/1060/3000", 500}},
      {"tls", kLength, None, 5000, None, {"tls", kTls}},
      {"tls chunked",
       Head("Transfer-Encoding: chunked\r\n") + Chunked(),
       None,
       5000,
       None,
       {"tls-intermediate", kTls}},
      {"unknown ca", kLength, kSome, 0, None, {"tls-unknown-ca", kLax}},
      {"self-signed", kLength, InvalidCa, 0, None, {"tls-self-signed", kLax}},
      {"expired", kLength, CertDateInvalid, 0, None, {"tls-expired", kTls}},
      {"expired, allowed", kLength, None, 5000, None, {"tls-expired", kLax}},
      {"not yet valid", kLength, CertDateInvalid, 0, None, {"tls-not-yet-valid", kTls}},
      {"wrong name", kLength, CertCnInvalid, 0, None, {"tls-wrong-name", kTls}},
      {"wrong name, allowed", kLength, None, 5000, None, {"tls-wrong-name", kLax}},
  };
  for (const Case& c : cases) {
    for (const bool wait : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (wait ? " (asynchronous)" : ""));
      const Outcome outcome = Exchange(c.reply, wait, c.to);
      EXPECT_PRED2(matches, c.sendError, outcome.sendError);
      EXPECT_EQ(outcome.body, kBody.substr(0, c.bodyBytes));
      EXPECT_PRED2(matches, c.readError, outcome.readError);
      EXPECT_EQ(outcome.status, c.sendError == codes::None ? 200u : 0u);
    }
  }
}

TEST(WinInetInternetTest, WaitsKeepWhatArrivedAndCancelCloses) {
  const std::string reply = Head("Content-Length: 5000\r\n") + kBody;
  const To paused{"plain", 0, "/split/1060/1500"};  // the head and 1000 bytes, then a pause
  // A 4000-byte read waits through the pause and fills; the body then ends.
  Outcome outcome = Exchange(reply, true, paused, 4000);
  EXPECT_EQ(outcome.body, kBody);
  EXPECT_EQ(outcome.readError, codes::None);
  // Cancelled in the pause: the bytes before it stay, within a few slices.
  const auto start = std::chrono::steady_clock::now();
  outcome = Exchange(reply, true, paused, 4000, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1200));
  EXPECT_EQ(outcome.body, kBody.substr(0, 1000));
  EXPECT_EQ(outcome.readError, codes::Cancelled);
}

TEST(WinInetInternetTest, HandleTable) {
  const std::uint16_t refused = Port("refused");
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

// The whole control over WinINet: certificates, the status code, both read modes.
TEST(WinInetControl, CertificatesStatusCodeAndReadModes) {
  const std::tuple<const char*, bool, Long, const char*> cases[] = {
      {"tls", true, -1, "EndTransfer"},
      {"tls-intermediate", true, 4000, "EndTransfer"},
      {"tls-expired", false, -1, "EndTransfer"},
      {"tls-expired", true, -1, "Error 12037"},
      {"tls-wrong-name", false, 4000, "EndTransfer"},
      {"tls-wrong-name", true, -1, "Error 12038"},
      {"refused", false, -1, "Error 12029"},
  };
  for (const auto& [server, strict, receiveBufferSize, last] : cases) {
    SCOPED_TRACE(std::string(server) + (strict ? " (strict)" : ""));
    test::Recorder recorder;
    vizADAVU control(&recorder, &recorder);
    control.StrictCertificates = strict;
    control.ReceiveBufferSize = receiveBufferSize;
    control.FormVarCount(1);
    control.FormVarNames(1, u"reply");
    control.FormVarValues(1, u"HTTP/1.0 404 Not Found\r\nContent-Length: 5\r\n\r\nhello");
    control.URL(Utf8ToText("https://localhost:" + std::to_string(Port(server)) + "/f"));
    control.Action(1);
    const bool ended = recorder.events.back() == "EndTransfer";
    EXPECT_EQ(recorder.events.back(), last);
    EXPECT_EQ(control.HttpStatusCode(), ended ? 404 : 0);
    EXPECT_EQ(receiveBufferSize < 0 ? control.ReceiveBuffer() : control.StringB(),
              ended ? u"hello" : u"");
  }
}

}  // namespace
}  // namespace vizadavu::platform
