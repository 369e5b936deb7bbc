// Cancel, YieldWhileWaiting and HttpStatusCode against the recording internet
// boundary and a fake clock, so the pause and the waiting cadence are exact.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "control/Testing.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "tests/support/Recorder.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::test {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

class CancelTest : public ::testing::Test {
 protected:
  CancelTest()
      : control(detail::Testing::Make(&recorder, &recorder,
                                      platform::Services{&net, &clock, nullptr})) {
    control.URL(u"http://example.test/form");
    control.Secure_Mode_Off = true;
    net.clock = &clock;
    net.reply = std::string(5000, 'r');
  }

  bool Called(const std::string& prefix) const {
    for (const auto& call : net.calls) {
      if (call.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& call : net.calls) n += call.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }

  FakeInternet net;
  FakeClock clock{10ms};
  Recorder recorder;
  vizADAVU control;
};

// Cancel from the host's loop or an event handler at each stage of a transfer:
// the transfer ends in Error 12017 at the control's next chance, the handles
// close, nothing more is sent or read, and what arrived stays readable. Destroyed
// there, the control stops without a further event and Action returns normally
// (ASan sees any touch of it); Cancel in the last event's handler does nothing.
TEST_F(CancelTest, CancelAtEachStage) {
  struct Case {
    const char* name;
    bool yieldWhileWaiting;
    Long bufferSize;
    const char* cancelOn;  // the event (or nth DoEvents) that cancels
    int doEventsNumber;    // with cancelOn == "DoEvents": which one
    const char* waitIn;    // scripted network wait, or nullptr
    bool sent;             // the request went out
    int reads;             // ReadFile calls made
    std::size_t kept;      // characters of the reply kept
    std::string last = "Error 12017";
  } cases[] = {
      {"pause", false, -1, "DoEvents", 3, nullptr, false, 0, 0},
      {"pause, waiting in the loop", false, -1, "Wait 100", 0, nullptr, false, 0, 0},
      {"Status 21 handler", false, -1, "Status 21", 0, nullptr, false, 0, 0},
      {"Status 30 handler", false, -1, "Status 30", 0, nullptr, true, 0, 0},
      {"after the first chunk", false, -1, "DoEvents", 0, nullptr, true, 1, 2048},
      {"waiting for headers", true, -1, "DoEvents", 0, "SendRequest", true, 0, 0},
      {"waiting for body bytes", true, -1, "DoEvents", 0, "ReadFile", true, 1, 0},
      {"single read", true, 100, "DoEvents", 0, "ReadFile", true, 1, 0},
      {"EndTransfer", false, -1, "EndTransfer", 0, nullptr, true, 4, 5000, "EndTransfer"},
      {"Error", false, -1, "Error 12029", 0, nullptr, true, 0, 0, "Error 12029"},
  };
  for (std::size_t run = 0; run < 2 * std::size(cases); ++run) {
    const Case& c = cases[run % std::size(cases)];
    const bool destroy = run >= std::size(cases);
    SCOPED_TRACE(std::string(c.name) + (destroy ? ", destroyed" : ""));
    std::unique_ptr<vizADAVU> own;
    if (destroy) own = detail::Testing::New(&recorder, &recorder, {&net, &clock, nullptr});
    vizADAVU& target = own ? *own : control;
    target.URL(control.URL());
    target.YieldWhileWaiting = c.yieldWhileWaiting;
    target.ReceiveBufferSize = c.bufferSize;
    const auto stop = [&] { destroy ? own.reset() : target.Cancel(); };
    recorder.events.clear();
    net = FakeInternet{};
    net.clock = &clock;
    net.reply = std::string(5000, 'r');
    if (c.waitIn != nullptr) net.WaitIn(c.waitIn, 10);
    if (c.last == "Error 12029") net.FailOn("SendRequest", 12029);
    bool inWait = false;
    net.onCall = [&](const std::string& call) {
      inWait = c.waitIn != nullptr && call.rfind(c.waitIn, 0) == 0;
    };
    int doEvents = 0;
    recorder.recordDoEvents = true;
    recorder.onWait = nullptr;
    if (std::string(c.cancelOn).rfind("Wait", 0) == 0) recorder.onWait = [](auto) {};
    recorder.onEvent = [&](const std::string& event) {
      if (event != c.cancelOn) return;
      if (event != "DoEvents") return stop();
      ++doEvents;
      if (c.waitIn != nullptr) {  // the third call of the wait callback
        if (inWait && net.waitCallbacks == 3) stop();
      } else if (c.doEventsNumber > 0 ? doEvents == c.doEventsNumber : Called("ReadFile")) {
        stop();
      }
    };
    target.Action(0);
    EXPECT_EQ(recorder.events.back(), destroy ? c.cancelOn : c.last);
    EXPECT_EQ(Called("SendRequest"), c.sent);
    EXPECT_EQ(Count("ReadFile"), c.reads);
    EXPECT_EQ(net.OpenHandles(), 0);
    EXPECT_EQ(destroy ? c.kept : target.ReceiveBuffer().size(), c.kept);
    if (c.waitIn != nullptr) {
      EXPECT_EQ(net.waitCallbacks, 3);  // stopped at the third
    }
  }
  // Once cancelled the control takes a new transfer, which runs to its end. The
  // hooks above refer to the loop's locals, so they go first.
  recorder.onEvent = nullptr;
  recorder.onWait = nullptr;
  net.onCall = nullptr;
  control.ReceiveBufferSize = -1;
  control.Action(0);
  EXPECT_EQ(recorder.events.back(), "EndTransfer");
  EXPECT_EQ(control.ReceiveBuffer().size(), 5000u);
}

// Outside a transfer Cancel does nothing, and a cancel does not outlive its transfer.
TEST_F(CancelTest, CancelOutsideATransferDoesNothing) {
  control.Cancel();
  control.Action(0);
  EXPECT_EQ(recorder.events, (Calls{"Status 21", "Status 30", "EndTransfer"}));
  control.Cancel();
  recorder.events.clear();
  control.Action(0);
  EXPECT_EQ(recorder.events, (Calls{"Status 21", "Status 30", "EndTransfer"}));
}

// With YieldWhileWaiting the host's loop runs once per wait callback, which the
// boundary calls every 20 ms of waiting; without it no callback is set and the
// yields are those of the pause, Status and the chunks only.
TEST_F(CancelTest, YieldWhileWaitingServicesTheLoopWhileBlocked) {
  for (const bool on : {false, true}) {
    SCOPED_TRACE(on);
    net = FakeInternet{};
    net.clock = &clock;
    net.reply = "ok";
    net.WaitIn("SendRequest", 150);  // 3 s of silence before the headers
    net.WaitIn("ReadFile", 5);
    control.YieldWhileWaiting = on;
    recorder.doEvents = 0;
    recorder.recordDoEvents = true;
    recorder.events.clear();
    net.onCall = [&](const std::string& call) { recorder.events.push_back(call.substr(0, 8)); };
    control.Action(0);
    EXPECT_EQ(recorder.events.back(), "EndTransfer");
    EXPECT_EQ(Called("SetWaitCallback(h3, set)"), on);
    EXPECT_EQ(net.waitCallbacks, on ? 155 : 0);
    // Between the send and its return: one DoEvents per 20 ms of waiting.
    std::size_t send = 0;
    while (recorder.events[send] != "SendRequ") ++send;
    int during = 0;
    for (std::size_t i = send + 1; recorder.events[i] == "DoEvents"; ++i) ++during;
    EXPECT_EQ(during, on ? 150 : 0);
  }
  control.Clear();
  EXPECT_FALSE(control.YieldWhileWaiting);
}

// A host exception thrown from DoEvents while the control waits on the network
// stops the wait, closes the handles and reaches the caller of Action.
TEST_F(CancelTest, HostExceptionWhileWaitingPropagates) {
  net.WaitIn("SendRequest", 10);
  control.YieldWhileWaiting = true;
  recorder.recordDoEvents = true;
  bool sending = false;
  net.onCall = [&](const std::string& call) { sending = call.rfind("SendRequest", 0) == 0; };
  recorder.onEvent = [&](const std::string& event) {
    if (event == "DoEvents" && sending) throw std::runtime_error("host");
  };
  EXPECT_THROW(control.Action(0), std::runtime_error);
  EXPECT_EQ(net.waitCallbacks, 1);
  EXPECT_EQ(net.OpenHandles(), 0);
}

// HttpStatusCode: the reply's status code, 0 before any reply, when there was
// no status line, and after Clear. A 404 is still delivered.
TEST_F(CancelTest, HttpStatusCodeFollowsTheLastReply) {
  EXPECT_EQ(control.HttpStatusCode(), 0);
  struct Case {
    std::uint32_t status;
    const char* failSend;  // nullptr: the send succeeds
    Long expected;
    const char* last;
  } cases[] = {
      {200, nullptr, 200, "EndTransfer"},
      {404, nullptr, 404, "EndTransfer"},
      {0, nullptr, 0, "EndTransfer"},
      {200, "SendRequest", 0, "Error 12152"},
  };
  for (const Case& c : cases) {
    net = FakeInternet{};
    net.statusCode = c.status;
    if (c.failSend != nullptr) net.FailOn(c.failSend, 12152);
    Long seenAtStatus30 = -1;
    recorder.onEvent = [&](const std::string& event) {
      if (event == "Status 30") seenAtStatus30 = control.HttpStatusCode();
    };
    control.Action(0);
    EXPECT_EQ(recorder.events.back(), c.last);
    EXPECT_EQ(control.HttpStatusCode(), c.expected);
    if (c.failSend == nullptr) {
      EXPECT_EQ(seenAtStatus30, c.expected);
    }
  }
  recorder.onEvent = nullptr;  // it refers to the loop's locals
  net = FakeInternet{};
  net.statusCode = 500;
  control.Action(0);
  EXPECT_EQ(control.HttpStatusCode(), 500);
  control.Clear();
  EXPECT_EQ(control.HttpStatusCode(), 0);
}

}  // namespace
}  // namespace vizadavu::test
