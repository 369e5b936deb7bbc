// The reply views after each kind of transfer, and Clear.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <stdexcept>

#include "control/RandomFill.h"
#include "control/ReplyStorage.h"
#include "control/Testing.h"
#include "platform/CodePage.h"
#include "platform/SecureMemory.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "tests/support/Pages.h"
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
  WatchedMemory memory;
  vizADAVU control =
      detail::Testing::Make(&recorder, nullptr, platform::Services{&net, &clock, &random, &memory});
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
  // The views show the same without a copy: the bytes as they came.
  const vizADAVU::ByteView bytes = control.StringBView();
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "\xE9\x80");
  EXPECT_TRUE(control.ReceiveBufferView().empty());
  EXPECT_EQ(control.BytesReceived(), 2u);
}

TEST_F(ReceiveTest, ChunkedViewsAndTheCountSoFar) {
  // The count grows read by read while the transfer runs.
  struct Loop : MessageLoop {
    const vizADAVU* control = nullptr;
    std::vector<std::uint64_t> seen;
    void DoEvents() override { seen.push_back(control->BytesReceived()); }
  } loop;
  vizADAVU observed =
      detail::Testing::Make(&recorder, &loop, platform::Services{&net, &clock, &random, &memory});
  loop.control = &observed;
  observed.URL(u"http://example.test/");
  net.reply = std::string(5000, 'x') + "\xE9";
  observed.Action(1);
  EXPECT_EQ(observed.ReceiveBufferView(), observed.ReceiveBuffer());
  EXPECT_EQ(observed.ReceiveBufferView().size(), 5001u);
  EXPECT_EQ(observed.ReceiveBufferView().back(), u'\u00e9');
  EXPECT_EQ(observed.StringBView().size, 0u);
  EXPECT_EQ(observed.BytesReceived(), 5001u);
  ASSERT_FALSE(loop.seen.empty());
  EXPECT_TRUE(std::is_sorted(loop.seen.begin(), loop.seen.end()));
  EXPECT_EQ(loop.seen.back(), 5001u);
  EXPECT_NE(std::find(loop.seen.begin(), loop.seen.end(), 2048u), loop.seen.end());
  observed.Clear();
  EXPECT_TRUE(observed.ReceiveBufferView().empty());
  EXPECT_EQ(observed.BytesReceived(), 0u);
}

TEST_F(ReceiveTest, LongTextIsMadePresentJustAheadOfItself) {
  // From the start of its mapping (also after each move) to within a step of its end.
  std::size_t ready = 0;
  const char* end = nullptr;
  memory.onPrefault = [&](const void* at, std::size_t bytes) {
    ready += bytes;
    end = static_cast<const char*>(at) + bytes;
  };
  Transfer(std::string(std::size_t{3} << 20, 'x'), -1);
  const std::u16string_view text = control.ReceiveBufferView();
  ASSERT_EQ(text.size(), std::size_t{3} << 20);
  const auto* textEnd = reinterpret_cast<const char*>(text.data() + text.size());
  EXPECT_GE(ready, text.size() * 2);
  EXPECT_LE(ready, text.size() * 2 + platform::kPrefaultStep);
  EXPECT_GE(end, textEnd);
  EXPECT_LE(end, textEnd + platform::kPrefaultStep);
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
    EXPECT_EQ(control.StringBView().data, nullptr);
  }
}

TEST_F(ReceiveTest, ClearSeedsOnceAndDrawsOncePerBlock) {
  struct Case {
    std::size_t replySize;
    Long receiveBufferSize;
    std::size_t draws;  // one per block of the bytes written, one per block of text
  } cases[] = {
      {3, 4, 1},                          // single read: the 3 bytes written
      {0, 100, 0},                        // nothing written: nothing drawn, no seed
      {8, -1, 2},                         // chunk buffer and reply text
      {detail::kRandomBlock + 1, -1, 3},  // chunk buffer, text of two blocks
      {detail::kRandomBlock * 2, detail::kRandomBlock * 3, 2},  // single read of two blocks
  };
  for (const Case& c : cases) {
    Transfer(std::string(c.replySize, 'r'), c.receiveBufferSize);
    random.log.clear();
    const int readsBefore = clock.reads;
    control.Clear();
    std::vector<std::string> expected;
    // The seed is the clock's reading: 100 ms per read plus the pause's rests.
    const long long seed = (readsBefore + 1) * 100000000ll + clock.slept.count();
    if (c.draws > 0) expected.push_back("seed " + std::to_string(seed));
    expected.insert(expected.end(), c.draws, "draw");
    EXPECT_EQ(random.log, expected) << c.replySize << " " << c.receiveBufferSize;
    EXPECT_EQ(clock.reads, readsBefore + (c.draws > 0 ? 1 : 0));
  }
}

TEST(RandomFiller, OverwritesExactlyTheRangeWithValuesOfTheRange) {
  FakeClock clock;
  platform::SplitMixRandom random;
  detail::RandomFiller fill(clock, random);
  constexpr std::size_t kCount = 3 * detail::kRandomBlock + 5;  // blocks and a ragged end

  std::vector<std::uint8_t> bytes(kCount + 16, 0xA5);
  fill.Bytes(bytes.data() + 8, kCount);
  std::set<int> byteValues(bytes.begin() + 8, bytes.begin() + 8 + kCount);
  EXPECT_EQ(byteValues.size(), 256u);  // every value 0..255 occurs
  EXPECT_EQ(std::count(bytes.begin(), bytes.begin() + 8, 0xA5), 8);
  EXPECT_EQ(std::count(bytes.end() - 8, bytes.end(), 0xA5), 8);
  // Blocks are keyed by separate draws: no block repeats the one before it.
  EXPECT_FALSE(std::equal(bytes.begin() + 8, bytes.begin() + 8 + 64,
                          bytes.begin() + 8 + detail::kRandomBlock));

  std::vector<char16_t> text(kCount + 16, u'#');
  fill.Characters(text.data() + 8, kCount);
  std::set<char16_t> chars(text.begin() + 8, text.begin() + 8 + kCount);
  std::set<char16_t> codePage;
  for (int code = 0; code <= 254; ++code)
    codePage.insert(platform::AnsiToChar(static_cast<std::uint8_t>(code)));
  EXPECT_EQ(chars, codePage);  // codes 0..254, all of them, and nothing else
  EXPECT_EQ(std::count(text.begin(), text.begin() + 8, u'#'), 8);
  EXPECT_EQ(std::count(text.end() - 8, text.end(), u'#'), 8);
  EXPECT_EQ(clock.reads, 1);  // one seed for the whole filler
}

// Counts the pages of every freed block that are resident when it is freed.
struct ResidentPages {
  static inline std::size_t pages = 0;
  static inline std::size_t blockBytes = 0;
  static void Hook(const void* data, std::size_t size) {
    const auto resident = test::ResidentPages(data, size);
    if (!resident) return;
    blockBytes = std::max(blockBytes, size);
    pages += *resident;
  }
};

TEST_F(ReceiveTest, ClearLeavesCapacityThatHeldNothingUntouched) {
  // 1 GiB: a fresh mapping of its own, too large to be kept for reuse.
  Transfer("hello", Long{1} << 30);
  ResidentPages::pages = ResidentPages::blockBytes = 0;
  memory.onFree = &ResidentPages::Hook;
  control.Clear();
  memory.onFree = nullptr;
  EXPECT_GT(ResidentPages::blockBytes, std::size_t{1} << 30);
  // The written bytes' page, or the one huge page around them; never the rest.
  const std::size_t page = PageSize();
  EXPECT_GE(ResidentPages::pages, 1u);
  EXPECT_LE(ResidentPages::pages, (std::size_t{2} << 20) / page);
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
  memory.onFree = &FreedBlocks::Hook;
  const std::string marker = "S3cr3t-r3ply!";
  std::string reply;
  while (reply.size() < 300000) reply += marker;  // grows the text through many blocks

  Transfer(reply, -1);
  control.Clear();
  Transfer(reply, static_cast<Long>(reply.size()));
  Transfer("short", -1);  // replacing the byte buffer frees the old one
  control.Clear();
  memory.onFree = nullptr;

  EXPECT_GT(FreedBlocks::blocks.size(), 5u);
  EXPECT_FALSE(FreedBlocks::Holds(marker));
  EXPECT_FALSE(FreedBlocks::Holds(Utf16Bytes(marker)));
  EXPECT_FALSE(FreedBlocks::Holds(Utf16Bytes("short")));
}

}  // namespace
}  // namespace vizadavu::test
