// Servers that misbehave: every way a reply can break off, stall or come out
// malformed, against the control over the real libcurl layer. (The receive
// time-out itself is the libcurl layer's contract: tests/platform/CurlInternet_test.cpp.)
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "control/Testing.h"
#include "platform/Services.h"
#include "tests/support/CodePage1252.h"
#include "tests/support/FakeInternet.h"
#include "tests/support/Process.h"
#include "tests/support/Recorder.h"
#include "tests/support/TestPki.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
using Events = std::vector<std::string>;

constexpr Long kChunked = -1;
constexpr Long kSingle = 1 << 20;
constexpr Long kBothModes = -2;  // a case run once in each read mode

enum class End { kClose, kReset, kCut };  // kCut: FIN without TLS close_notify

// Reads the request (unless `readRequest` is false), writes `bytes`, then
// closes or resets the connection.
Handler Script(std::string bytes, End end = End::kClose, bool readRequest = true) {
  return [=](Connection& c) {
    ReceivedRequest request;
    if (readRequest && !c.ReadRequest(request)) return;
    if (!bytes.empty()) c.Write(bytes);
    end == End::kClose ? c.Close() : end == End::kReset ? c.Reset() : c.CloseWithoutNotify();
  };
}

// Takes the first bytes the client sends (a TLS ClientHello, or the start of a
// request), then answers with `bytes` and ends the connection.
Handler FirstBytes(std::string bytes, End end = End::kClose) {
  return [=](Connection& c) {
    c.ReadSome(1 << 16, 5s);
    if (!bytes.empty()) c.Write(bytes);
    end == End::kClose ? c.Close() : c.Reset();
  };
}

std::string Headers(int count) {
  std::string head = "HTTP/1.0 200 OK\r\n";
  for (int i = 0; i < count; ++i) head += "X-H" + std::to_string(i) + ": v\r\n";
  return head + "Content-Length: 2\r\n\r\nok";
}

const std::string kHead10 = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n";
const std::string kHeadOpen = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
const std::string kHeadChunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
const std::string kBig(3000, 'p');

struct Case {
  const char* fault;
  Handler handler;
  Long mode;        // kChunked, a single-read size, or kBothModes
  bool sent;        // the reply's headers arrived: Status 30 is raised
  const char* end;  // the last event
  std::string kept;
  bool tls = false;
  bool bigBody = false;    // a 4 MiB form value, so the request is still going out
  bool tlsServer = false;  // the server speaks TLS with a certificate the client trusts
};

const Case kCases[] = {
    {"closes before sending anything", Script(""), kBothModes, false, "Error 12152", ""},
    {"closes without reading the request", Script("", End::kClose, false), kBothModes, false,
     "Error 12152", ""},
    {"resets before sending anything", Script("", End::kReset), kBothModes, false, "Error 12031",
     ""},
    {"resets while the request is still being sent", FirstBytes("", End::kReset), kBothModes, false,
     "Error 12031", "", false, true},
    {"closes after a partial status line", Script("HTTP/1.0 20"), kBothModes, false, "Error 12152",
     ""},
    {"closes inside the headers, with Content-Length",
     Script("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n"), kBothModes, false, "Error 12030", ""},
    {"closes inside the headers, no Content-Length", Script("HTTP/1.0 200 OK\r\nX-A: b\r\n"),
     kBothModes, false, "Error 12030", ""},
    {"closes between the CR and LF of the status line", Script("HTTP/1.0 200 OK\r"), kBothModes,
     false, "Error 12152", ""},
    {"closes after the headers, with Content-Length", Script(kHead10), kBothModes, true,
     "Error 12030", ""},
    {"closes after the headers, no Content-Length", Script(kHeadOpen), kBothModes, true,
     "EndTransfer", ""},
    {"closes mid-body, with Content-Length", Script(kHead10 + "abcd"), kBothModes, true,
     "Error 12030", "abcd"},
    {"closes mid-body, no Content-Length (body ends at close)", Script(kHeadOpen + kBig),
     kBothModes, true, "EndTransfer", kBig},
    {"Content-Length larger than the body", Script(kHead10 + "0123456"), kBothModes, true,
     "Error 12030", "0123456"},
    {"resets mid-body", Script(kHead10 + "abcd", End::kReset), kBothModes, true, "Error 12031",
     "abcd"},
    {"resets mid-body after more than a chunk", Script(kHeadOpen + kBig, End::kReset), kBothModes,
     true, "Error 12031", kBig},
    {"resets mid-body, single read smaller than what arrived",
     Script(kHeadOpen + kBig, End::kReset), 100, true, "EndTransfer", kBig.substr(0, 100)},
    {"garbage instead of a status line", Script("GARBAGE \x01\x02\xFF\r\n\r\nmore"), kBothModes,
     false, "Error 12152", ""},
    {"HTTP/0.9-style reply without headers", Script("<html>hello</html>\n"), kBothModes, false,
     "Error 12152", ""},
    {"a 1 MiB header line",
     Script("HTTP/1.0 200 OK\r\nX-Big: " + std::string(1 << 20, 'h') +
            "\r\nContent-Length: 2\r\n\r\nok"),
     kBothModes, false, "Error 12152", ""},
    {"10,000 headers", Script(Headers(10000)), kBothModes, true, "EndTransfer", "ok"},
    {"a header line starting with CR (libcurl's end of headers), then two chunks",
     Script("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\rx\r\n5\r\nhello\r\n7\r\n, "
            "world\r\n0\r\n\r\n"),
     kBothModes, false, "Error 12152", ""},
    {"two different Content-Length values",
     Script("HTTP/1.0 200 OK\r\nContent-Length: 2\r\nContent-Length: 5\r\n\r\nhello"), kBothModes,
     false, "Error 12152", ""},
    {"two different Content-Length values around a header line starting with HTTP/",
     Script("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nHTTP/x: y\r\n"
            "Content-Length: 5\r\n\r\nhelloworld"),
     kBothModes, false, "Error 12152", ""},
    {"a 100 reply's Content-Length, then the reply's own",
     Script("HTTP/1.1 100 Continue\r\nContent-Length: 9\r\n\r\n" + kHead10 + "helloworld"),
     kBothModes, true, "EndTransfer", "helloworld"},
    {"a Content-Length list of different values",
     Script("HTTP/1.0 200 OK\r\nContent-Length: 5, 2\r\n\r\nhello"), kBothModes, false,
     "Error 12152", ""},
    {"a Content-Length that is not a number",
     Script("HTTP/1.0 200 OK\r\nContent-Length: 5x\r\n\r\nhello"), kBothModes, false, "Error 12152",
     ""},
    {"a Content-Length that overflows",
     Script("HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nhello"), kBothModes,
     false, "Error 12152", ""},
    {"the same Content-Length twice, once as a list",
     Script("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 5 , 5\r\n\r\nhello"),
     kBothModes, true, "EndTransfer", "hello"},
    {"a header block larger than accepted", Script(Headers(40000)), kBothModes, false,
     "Error 12152", ""},
    {"a 101 reply nobody asked for",
     Script("HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\nConnection: upgrade\r\n\r\nhello"),
     kBothModes, false, "Error 12152", ""},
    {"bad chunk size", Script(kHeadChunked + "5\r\nhello\r\nzz\r\nnope\r\n0\r\n\r\n"), kBothModes,
     true, "Error 12030", "hello"},
    {"chunked body cut off inside a chunk", Script(kHeadChunked + "a\r\nhello"), kBothModes, true,
     "Error 12030", "hello"},
    {"chunked body without its last chunk", Script(kHeadChunked + "5\r\nhello\r\n"), kBothModes,
     true, "Error 12030", "hello"},
    {"TLS: resets while the request is still being sent", FirstBytes("", End::kReset), kBothModes,
     false, "Error 12031", "", true, true, true},
    {"TLS: plain server writes garbage", FirstBytes("garbage, not a TLS handshake\r\n"), kBothModes,
     false, "Error 12157", "", true},
    {"TLS: a handshake record of garbage",
     FirstBytes(std::string("\x16\x03\x03\x00\x10", 5) + std::string(16, '\xEE')), kBothModes,
     false, "Error 12157", "", true},
    {"TLS: server closes mid-handshake", FirstBytes(""), kBothModes, false, "Error 12157", "",
     true},
    {"TLS: server resets mid-handshake", FirstBytes("", End::kReset), kBothModes, false,
     "Error 12157", "", true},
    {"TLS: no Content-Length, close without close_notify", Script(kHeadOpen + kBig, End::kCut),
     kBothModes, true, "Error 12030", kBig, true, false, true},
    {"TLS: no Content-Length, close_notify", Script(kHeadOpen + kBig), kBothModes, true,
     "EndTransfer", kBig, true, false, true},
    {"TLS: Content-Length, close without close_notify", Script(kHead10 + "0123456789", End::kCut),
     kBothModes, true, "EndTransfer", "0123456789", true, false, true},
    {"TLS: chunked, close without close_notify",
     Script(kHeadChunked + "5\r\nhello\r\n0\r\n\r\n", End::kCut), kBothModes, true, "EndTransfer",
     "hello", true, false, true},
    {"TLS: 204, close without close_notify", Script("HTTP/1.0 204 No Content\r\n\r\n", End::kCut),
     kBothModes, true, "EndTransfer", "", true, false, true},
};

// What one transfer raised and kept.
struct Outcome {
  Events events;
  std::string kept;
  std::chrono::milliseconds elapsed;
};

Outcome Submit(const LoopbackServer& server, Long mode, bool tls, bool bigBody) {
  FakeClock clock{500ms};  // skips the one-second pause
  Recorder recorder;
  vizADAVU control =
      detail::Testing::Make(&recorder, &recorder, platform::Services{nullptr, &clock, nullptr});
  control.Secure_Mode_Off = !tls;
  control.ReceiveBufferSize = mode;
  control.URL(Utf8ToText((tls ? "https://" : "http://") + server.HostPort() + "/form"));
  control.FormVarCount(1);
  control.FormVarNames(1, u"a");
  control.FormVarValues(1, bigBody ? Text(4 << 20, u'v') : Text(u"1"));
  const auto start = SteadyClock::now();
  control.Action(1);
  Outcome run{recorder.events, "",
              std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start)};
  if (mode < 0) {
    run.kept = TextToCp1252(control.ReceiveBuffer());
  } else {
    run.kept = TextToCp1252(control.StringB());
    EXPECT_EQ(control.ReceiveBufferArraySize(), static_cast<Long>(run.kept.size()) - 1);
    EXPECT_TRUE(control.ReceiveBuffer().empty());
  }
  control.Clear();
  return run;
}

TEST(Faults, EachFaultEndsInExactlyOneEventWithItsCodeAndKeepsWhatArrived) {
  TestPki pki;
  const Pem identity = pki.Issue("127.0.0.1");
  setenv("SSL_CERT_FILE", pki.CaFile().c_str(), 1);
  const int descriptors = OpenDescriptors();
  for (const Case& c : kCases) {
    LoopbackServer server(c.handler,
                          c.tlsServer ? std::optional(identity.Identity()) : std::nullopt);
    const std::vector<Long> modes =
        c.mode == kBothModes ? std::vector<Long>{kChunked, kSingle} : std::vector<Long>{c.mode};
    for (const Long mode : modes) {
      SCOPED_TRACE(std::string(c.fault) + (mode < 0 ? ", chunked read" : ", single read"));
      const Outcome run = Submit(server, mode, c.tls, c.bigBody);
      Events expected = {"Status 21"};
      if (c.sent) expected.push_back("Status 30");
      expected.push_back(c.end);
      EXPECT_EQ(run.events, expected);
      EXPECT_EQ(run.kept.size(), c.kept.size());
      EXPECT_TRUE(run.kept == c.kept);  // no dump of reply bytes on failure
      EXPECT_LT(run.elapsed, 3s);
    }
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);  // every socket closed
  unsetenv("SSL_CERT_FILE");
}

}  // namespace
}  // namespace vizadavu::test
