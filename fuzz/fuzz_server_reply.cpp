// The input is the server's whole reply: a loopback server reads the request,
// writes the input and closes. The control fetches it through the real libcurl
// layer twice, once in chunked mode (GET) and once in single-read mode (POST
// without a table; the read size comes from the last input byte), reads its
// views and clears. Invariants: exactly one of EndTransfer and Error per
// transfer, an Error code the library documents, no hang; the reply text is no
// longer than the input and, when nothing in it mentions chunked framing, a
// slice of it; a single read delivers at most the bytes asked for, the rest of
// its buffer zero; Clear leaves nothing behind.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "control/Testing.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "tests/support/Loopback.h"
#include "tools/loopback/LoopbackServer.h"
#include "vizadavu/vizADAVU.h"

namespace {

constexpr const char* kTarget = "fuzz_server_reply";

// Read sizes for the single-read transfer, picked by the last input byte.
constexpr vizadavu::Long kReadSizes[8] = {4096, 0, 1, 5, 16, 100, 1024, 65536};

class Counter : public vizadavu::vizADAVUEvents {
 public:
  int ends = 0;
  int errors = 0;
  vizadavu::Long lastCode = 0;
  void EndTransfer() override { ++ends; }
  void Error(const vizadavu::Text& message) override {
    ++errors;
    lastCode = vizadavu::errors::CodeOf(message).value_or(-1);
  }
};

class Harness {
 public:
  Harness()
      : server_([this](vizadavu::loopback::Connection& c) { Serve(c); }),
        control_(vizadavu::detail::Testing::Make(
            &events, nullptr, vizadavu::platform::Services{nullptr, &clock_, nullptr})) {
    const std::string url = "http://" + server_.HostPort() + "/";
    control_.URL(vizadavu::Text(url.begin(), url.end()));
  }

  // The reply the server sends to the next request.
  void SetReply(std::string_view reply) {
    std::lock_guard lock(mutex_);
    reply_.assign(reply);
  }

  vizadavu::vizADAVU& control() { return control_; }
  Counter events;

 private:
  // Reads the request up to the end of its headers (the control's requests carry
  // no body here), writes the reply verbatim and closes.
  void Serve(vizadavu::loopback::Connection& connection) {
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
      const std::string more = connection.ReadSome(65536, std::chrono::seconds(10));
      if (more.empty()) break;
      request += more;
    }
    std::string reply;
    {
      std::lock_guard lock(mutex_);
      reply = reply_;
    }
    if (!reply.empty()) connection.Write(reply);
    connection.Close();
  }

  std::mutex mutex_;
  std::string reply_;
  vizadavu::loopback::LoopbackServer server_;
  vizadavu::test::FakeClock clock_;  // the one-second pause costs nothing
  vizadavu::vizADAVU control_;
};

Harness& TheHarness() {
  static Harness* harness = [] {
    // Only the loopback server may answer: no proxy from the environment.
    vizadavu::test::ClearProxyEnvironment();
    static Harness instance;
    return &instance;
  }();
  return *harness;
}

// VIZADAVU_FUZZ_VERBOSE=1 reports each transfer's outcome and size on stderr
// (never the reply itself), to see what a corpus exercises.
bool Verbose() {
  static const bool verbose = std::getenv("VIZADAVU_FUZZ_VERBOSE") != nullptr;
  return verbose;
}

// Runs one transfer and checks that it ended in exactly one event.
void RunTransfer(Harness& h, vizadavu::Long action) {
  h.events = Counter{};
  h.control().Action(action);
  if (Verbose()) {
    const vizadavu::vizADAVU& c = h.control();
    std::fprintf(stderr, "%s: %s, EndTransfer %d, Error %d (code %d), text %zu, bytes %d\n",
                 kTarget, action == 1 ? "single read" : "chunked", h.events.ends, h.events.errors,
                 h.events.lastCode, c.ReceiveBuffer().size(), c.ReceiveBufferArraySize() + 1);
  }
  FUZZ_CHECK(h.events.ends + h.events.errors == 1);
  if (h.events.errors == 1) {
    FUZZ_CHECK(vizadavu::errors::Describe(h.events.lastCode) != "unknown error");
  }
}

bool IsSlice(std::string_view whole, const std::string& part) {
  return whole.find(part) != std::string_view::npos;
}

void CheckCleared(vizadavu::vizADAVU& control) {
  FUZZ_CHECK(control.ReceiveBuffer().empty());
  FUZZ_CHECK(control.StringB().empty());
  FUZZ_CHECK(control.ReceiveBufferArraySize() == -1);
  bool threw = false;
  try {
    control.ReceiveBufferB(0);
  } catch (const std::out_of_range&) {
    threw = true;
  }
  FUZZ_CHECK(threw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  std::string lower(reply);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  // Without chunked framing the body is a contiguous part of the reply.
  const bool sliced = lower.find("chunked") == std::string::npos;

  Harness& h = TheHarness();
  vizadavu::vizADAVU& control = h.control();
  h.SetReply(reply);

  // Chunked mode.
  control.Secure_Mode_Off = true;
  control.ReceiveBufferSize = -1;
  RunTransfer(h, 0);
  const std::string text = vizadavu::test::TextToCp1252(control.ReceiveBuffer());
  FUZZ_CHECK(text.size() <= size);
  if (sliced) FUZZ_CHECK(IsSlice(reply, text));
  if (h.events.ends == 1) FUZZ_CHECK(control.ReceiveBufferArraySize() == -1);
  control.Clear();
  CheckCleared(control);

  // Single-read mode.
  const vizadavu::Long wanted = kReadSizes[size == 0 ? 0 : data[size - 1] % 8];
  control.Secure_Mode_Off = true;
  control.ReceiveBufferSize = wanted;
  RunTransfer(h, 1);
  const vizadavu::Long count = control.ReceiveBufferArraySize() + 1;
  FUZZ_CHECK(count >= 0 && count <= wanted);
  const std::string read = vizadavu::test::TextToCp1252(control.StringB());
  FUZZ_CHECK(read.size() == static_cast<std::size_t>(count));
  if (sliced) FUZZ_CHECK(IsSlice(reply, read));
  if (h.events.ends == 1) {
    // The buffer holds wanted + 1 bytes, zero beyond what was read.
    for (vizadavu::Long i = count; i <= wanted; ++i) FUZZ_CHECK(control.ReceiveBufferB(i) == 0);
    bool threw = false;
    try {
      control.ReceiveBufferB(wanted + 1);
    } catch (const std::out_of_range&) {
      threw = true;
    }
    FUZZ_CHECK(threw);
  }
  control.Clear();
  CheckCleared(control);
  return 0;
}
