// Resources over many transfers, handle discipline, and controls on many threads.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

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

TEST(Resources, ThousandTransfersLeaveDescriptorsAndMemoryFlat) {
  LoopbackServer server(LoopbackServer::FormEcho());
  FakeClock clock;
  Recorder recorder;
  vizADAVU control =
      detail::Testing::Make(&recorder, nullptr, platform::Services{nullptr, &clock, nullptr});
  const Text url = Utf8ToText("http://" + server.HostPort() + "/r");
  auto transfer = [&](int i) {
    control.Secure_Mode_Off = true;
    control.URL(url);
    control.FormVarCount(1);
    control.FormVarNames(1, u"i");
    control.FormVarValues(1, Utf8ToText(std::to_string(i)));
    control.ReceiveBufferSize = (i % 2 == 0) ? -1 : 4096;
    control.Action(1);
    control.Clear();
  };
  for (int i = 0; i < 100; ++i) transfer(i);  // warm up allocator and libcurl
  // The in-process server's threads close their side of each connection on
  // their own schedule, so descriptor counts are read once they settle.
  const auto settled = [](auto done) {
    for (int wait = 0; wait < 200 && !done(); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  int descriptors = OpenDescriptors();
  settled([&] {
    const int now = OpenDescriptors();
    const bool same = now == descriptors;
    descriptors = now;
    return same;
  });
  [[maybe_unused]] const long resident = ResidentKiB();
  recorder.events.clear();
  for (int i = 0; i < 1000; ++i) transfer(i);
  EXPECT_EQ(std::count(recorder.events.begin(), recorder.events.end(), "EndTransfer"), 1000);
  settled([&] { return OpenDescriptors() <= descriptors; });
  EXPECT_LE(OpenDescriptors(), descriptors) << "descriptors leaked";
#if !defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer holds freed memory in quarantine, so resident memory means
  // nothing there; its leak checker covers that build instead.
  EXPECT_LT(ResidentKiB() - resident, 4096) << "resident memory grew";
#endif
}

TEST(Resources, ClearGivesLargeReplyStorageBack) {
  // Released mappings kept for the next reply still count as resident, so
  // only small ones are kept: after Clear the control holds at most 64 MiB.
  FakeInternet net;
  FakeClock clock;
  vizADAVU control =
      detail::Testing::Make(nullptr, nullptr, platform::Services{&net, &clock, nullptr});
  control.URL(u"http://example.com/form");
  net.reply = std::string(std::size_t{40} << 20, 'x');
  [[maybe_unused]] const long before = ResidentKiB();
  for (const Long mode : {Long{-1}, Long{40} << 20, Long{-1}}) {
    net.Restart();
    net.reply.assign(std::size_t{40} << 20, 'x');
    control.ReceiveBufferSize = mode;
    control.Action(1);
    control.Clear();
  }
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(ResidentKiB() - before, 64 << 10) << "storage of a released reply kept resident";
#endif
}

TEST(Resources, EveryHandleClosedExactlyOnceWhateverFails) {
  const char* methods[] = {"OpenSession", "Connect",  "OpenRequest",      "SetOption",
                           "SendRequest", "ReadFile", "AddRequestHeaders"};
  std::mt19937 random(7);
  FakeClock clock;
  Recorder recorder;
  for (int round = 0; round < 300; ++round) {
    FakeInternet net;
    net.reply = std::string(random() % 6000, 'x');
    net.FailOn(methods[random() % std::size(methods)],
               static_cast<platform::ErrorCode>(12000 + random() % 200),
               1 + static_cast<int>(random() % 3), static_cast<std::uint32_t>(random() % 100));
    vizADAVU control =
        detail::Testing::Make(&recorder, nullptr, platform::Services{&net, &clock, nullptr});
    control.URL(u"http://example.test/");
    control.ReceiveBufferSize = (round % 3 == 0) ? 100 : -1;
    recorder.events.clear();
    control.Action(1);
    EXPECT_EQ(net.OpenHandles(), 0);
    for (const auto& [handle, closes] : net.closeCounts) {
      if (handle != platform::kNullHandle) {
        EXPECT_EQ(closes, 1) << "handle " << handle;
      }
    }
    const long ends = std::count(recorder.events.begin(), recorder.events.end(), "EndTransfer");
    const long errors =
        std::count_if(recorder.events.begin(), recorder.events.end(),
                      [](const std::string& e) { return e.rfind("Error", 0) == 0; });
    EXPECT_EQ(ends + errors, 1) << ::testing::PrintToString(recorder.events);
  }
}

TEST(Resources, ControlsOnSeveralThreadsRunIndependently) {
  LoopbackServer server(LoopbackServer::FormEcho());
  const std::string url = "http://" + server.HostPort() + "/t";
  constexpr int kThreads = 4, kTransfers = 25;
  std::vector<int> good(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      FakeClock clock;
      Recorder recorder;
      vizADAVU control =
          detail::Testing::Make(&recorder, nullptr, platform::Services{nullptr, &clock, nullptr});
      for (int i = 0; i < kTransfers; ++i) {
        control.Secure_Mode_Off = true;
        control.URL(Utf8ToText(url));
        control.FormVarCount(1);
        control.FormVarNames(1, u"who");
        const std::string who = std::to_string(t) + "-" + std::to_string(i);
        control.FormVarValues(1, Utf8ToText(who));
        control.Action(1);
        if (control.ReceiveBuffer() == Cp1252ToText("who = " + who + "\n"))
          ++good[static_cast<std::size_t>(t)];
        control.Clear();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good, std::vector<int>(kThreads, kTransfers));
}

}  // namespace
}  // namespace vizadavu::test
