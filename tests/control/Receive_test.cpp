// The reply views after each kind of transfer, and Clear.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "control/Random.h"
#include "control/Wipe.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "tests/support/Recorder.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::test {
namespace {

// Records every reseed and draw; yields the values it is given in turn.
class ScriptedRandom : public platform::Random {
 public:
  std::vector<std::string> log;
  std::vector<double> values{0.0};
  void Reseed(std::uint64_t seed) override { log.push_back("seed " + std::to_string(seed)); }
  double Next() override {
    log.push_back("draw");
    return values[draws++ % values.size()];
  }
  std::size_t draws = 0;
};

class ReceiveTest : public ::testing::Test {
 protected:
  ReceiveTest() { control.URL(u"http://example.test/"); }

  void Transfer(std::string reply, Long receiveBufferSize) {
    net.Restart();
    net.reply = std::move(reply);
    control.ReceiveBufferSize = receiveBufferSize;
    control.Action(1);
  }

  FakeInternet net;
  FakeClock clock{std::chrono::milliseconds(100)};
  ScriptedRandom random;
  Recorder recorder;
  vizADAVU control{&recorder, nullptr, platform::Services{&net, &clock, &random}};
};

TEST_F(ReceiveTest, SingleReadViews) {
  Transfer("hello", 5000);
  EXPECT_EQ(control.ReceiveBufferArraySize(), 4);
  EXPECT_EQ(control.StringB(), u"hello");
  EXPECT_EQ(control.ReceiveBufferB(4), 'o');
  EXPECT_EQ(control.ReceiveBufferB(5), 0);
  EXPECT_EQ(control.ReceiveBufferB(5000), 0);
  EXPECT_THROW(control.ReceiveBufferB(5001), std::out_of_range);
  EXPECT_THROW(control.ReceiveBufferB(-1), std::out_of_range);
  // Bytes become characters through the code page.
  Transfer("\xE9\x80", 2);
  EXPECT_EQ(control.StringB(), u"\u00e9\u20ac");
}

TEST_F(ReceiveTest, ClearOnNewControlChangesNothingVisible) {
  control.Clear();
  EXPECT_EQ(control.URL(), u"http://example.test/");
  EXPECT_EQ(control.ReceiveBufferArraySize(), -1);
  EXPECT_EQ(control.ReceiveBufferSize, -1);
  EXPECT_TRUE(random.log.empty());
}

TEST_F(ReceiveTest, ClearResetsEverythingButUrl) {
  for (Long mode : {-1, 10}) {
    control.URL(u"http://example.test/");
    control.FormVarCount(2);
    control.SecurityFlags = 7;
    control.Secure_Mode_Off = true;
    Transfer("reply", mode);
    control.Clear();
    EXPECT_EQ(control.ReceiveBuffer(), u"");
    EXPECT_EQ(control.ReceiveBufferArraySize(), -1);
    EXPECT_EQ(control.ReceiveBufferSize, -1);
    EXPECT_EQ(control.FormVarCount(), 0);
    EXPECT_EQ(control.SecurityFlags, 0);
    EXPECT_FALSE(control.Secure_Mode_Off);
    EXPECT_EQ(control.URL(), u"http://example.test/");
    EXPECT_THROW(control.ReceiveBufferB(0), std::out_of_range);
    EXPECT_THROW(control.FormVarNames(0), std::out_of_range);
    EXPECT_EQ(control.StringB(), u"");
  }
}

TEST_F(ReceiveTest, ClearReseedsFromTheClockBeforeEveryDraw) {
  Transfer("abc", 4);  // 5-byte buffer
  random.log.clear();
  const int readsBefore = clock.reads;
  control.Clear();
  ASSERT_EQ(random.log.size(), 10u);
  for (std::size_t i = 0; i < 10; i += 2) {
    EXPECT_EQ(random.log[i], "seed " + std::to_string((readsBefore + 1 + i / 2) * 100000000ll));
    EXPECT_EQ(random.log[i + 1], "draw");
  }
  // Chunked mode: no byte overwrite, one draw per reply character.
  Transfer("12345678", -1);
  random.log.clear();
  control.Clear();
  EXPECT_EQ(std::count(random.log.begin(), random.log.end(), "draw"), 8);
}

TEST_F(ReceiveTest, RandomValueRanges) {
  // Bytes: r x 255 rounded half to even covers 0..255; text codes 0..254.
  EXPECT_EQ(detail::RoundHalfEven(0.0), 0.0);
  EXPECT_EQ(detail::RoundHalfEven(0.5), 0.0);
  EXPECT_EQ(detail::RoundHalfEven(1.5), 2.0);
  EXPECT_EQ(detail::RoundHalfEven(254.5), 254.0);
  EXPECT_EQ(detail::RoundHalfEven(0.99999999 * 255.0), 255.0);
  EXPECT_EQ(static_cast<int>(0.99999999 * 255.0), 254);
}

TEST_F(ReceiveTest, ClearWithoutBufferInSingleReadModeStillResets) {
  control.ReceiveBufferSize = 100;
  control.FormVarCount(3);
  EXPECT_NO_THROW(control.Clear());
  EXPECT_EQ(control.ReceiveBufferSize, -1);
  EXPECT_EQ(control.FormVarCount(), 0);

  // After a single-read transfer that failed before its read.
  net.Restart();
  net.FailOn("SendRequest", 12029);
  control.ReceiveBufferSize = 100;
  control.Action(1);
  EXPECT_NO_THROW(control.Clear());
  EXPECT_EQ(control.ReceiveBufferSize, -1);
}

TEST_F(ReceiveTest, ClearOfLongChunkedReplyWipesAndResets) {
  Transfer(std::string(40000, 'q'), -1);
  EXPECT_EQ(control.ReceiveBuffer().size(), 40000u);
  control.Clear();
  EXPECT_EQ(control.ReceiveBuffer(), u"");
  EXPECT_EQ(control.ReceiveBufferSize, -1);
}

TEST_F(ReceiveTest, FailedTransferKeepsPreviousReadVisible) {
  Transfer("hello", 10);
  net.Restart();
  net.FailOn("OpenRequest", 12005);
  control.Action(1);
  EXPECT_EQ(control.StringB(), u"hello");
  EXPECT_EQ(control.ReceiveBufferB(0), 'h');
  EXPECT_EQ(control.ReceiveBufferArraySize(), 4);
}

TEST_F(ReceiveTest, SecondTransferAfterClearBehavesLikeTheFirst) {
  control.URL(u"http://example.test/p");
  auto run = [&] {
    control.FormVarCount(1);
    control.FormVarNames(1, u"a");
    control.FormVarValues(1, u"b");
    recorder.events.clear();
    Transfer("reply", -1);
    return std::make_tuple(net.calls, recorder.events, control.ReceiveBuffer());
  };
  const auto first = run();
  control.Clear();
  EXPECT_EQ(run(), first);
}

// Collects every block the control frees and checks it for the reply.
struct FreedBlocks {
  static inline std::vector<std::string> blocks;
  static void Hook(const void* data, std::size_t size) {
    blocks.emplace_back(static_cast<const char*>(data), size);
  }
  static bool Holds(std::string_view needle) {
    return std::any_of(blocks.begin(), blocks.end(),
                       [&](const std::string& b) { return b.find(needle) != std::string::npos; });
  }
};

std::string Utf16Bytes(std::string_view ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out;
}

TEST_F(ReceiveTest, NothingFreedStillHoldsTheReply) {
  FreedBlocks::blocks.clear();
  platform::g_freedBlockHook = &FreedBlocks::Hook;
  const std::string marker = "S3cr3t-r3ply!";
  std::string reply;
  while (reply.size() < 300000) reply += marker;  // grows the text through many blocks

  Transfer(reply, -1);
  control.Clear();
  Transfer(reply, static_cast<Long>(reply.size()));
  Transfer("short", -1);  // replacing the byte buffer frees the old one
  control.Clear();
  platform::g_freedBlockHook = nullptr;

  EXPECT_GT(FreedBlocks::blocks.size(), 5u);
  EXPECT_FALSE(FreedBlocks::Holds(marker));
  EXPECT_FALSE(FreedBlocks::Holds(Utf16Bytes(marker)));
  EXPECT_FALSE(FreedBlocks::Holds(Utf16Bytes("short")));
}

}  // namespace
}  // namespace vizadavu::test
