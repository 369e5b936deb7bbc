// Hostile or extreme values from the host: every member at and past its bounds,
// and URLs, names and values that try to break the request.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "control/Testing.h"
#include "platform/Services.h"
#include "tests/support/CodePage1252.h"
#include "tests/support/FakeInternet.h"
#include "tests/support/Recorder.h"
#include "tests/support/TestPki.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::test {
namespace {

constexpr Long kLongMin = std::numeric_limits<Long>::min();
constexpr Long kLongMax = std::numeric_limits<Long>::max();

TEST(HostInput, MembersAtAndPastTheirBounds) {
  FakeInternet net;
  vizADAVU control =
      detail::Testing::Make(nullptr, nullptr, platform::Services{&net, nullptr, nullptr});
  for (Long bad : {32768, -32769, kLongMin, kLongMax}) {
    EXPECT_THROW(control.FormVarCount(bad), std::overflow_error) << bad;
    EXPECT_THROW(control.FormVarNames(bad), std::overflow_error) << bad;
    EXPECT_THROW(control.FormVarValues(bad, u"x"), std::overflow_error) << bad;
    EXPECT_THROW(control.Action(bad), std::overflow_error) << bad;
  }
  EXPECT_EQ(control.FormVarCount(), 0);
  EXPECT_THROW(control.FormVarCount(-32768), std::out_of_range);
  EXPECT_EQ(control.FormVarCount(), -32768);
  control.FormVarCount(32767);
  EXPECT_NO_THROW(control.FormVarValues(32767, u"last"));
  EXPECT_THROW(control.FormVarValues(-32768), std::out_of_range);
  for (Long index : {kLongMin, -1, 0, kLongMax}) {
    EXPECT_THROW(control.ReceiveBufferB(index), std::out_of_range) << index;
  }
  EXPECT_TRUE(net.calls.empty());
}

class HostInputTransfer : public ::testing::Test {
 protected:
  void Submit(const Text& url) {
    recorder.events.clear();
    control.Secure_Mode_Off = true;
    control.URL(url);
    control.Action(1);
  }
  // Every request the server saw carried exactly the control's headers.
  void ExpectNoInjection() {
    for (const auto& r : server.Requests()) {
      EXPECT_EQ(r.headers.size(), 6u) << r.raw;
      for (const auto& [name, value] : r.headers) {
        EXPECT_TRUE(name == "Host" || name == "User-Agent" || name == "Accept-Language" ||
                    name == "Connection" || name == "Content-Type" || name == "Content-Length")
            << r.raw;
        EXPECT_EQ(value.find_first_of("\r\n"), std::string::npos);
      }
    }
  }

  LoopbackServer server{LoopbackServer::FormEcho()};
  FakeClock clock;
  Recorder recorder;
  vizADAVU control =
      detail::Testing::Make(&recorder, nullptr, platform::Services{nullptr, &clock, nullptr});
  const std::string base = "http://" + server.HostPort();
};

TEST_F(HostInputTransfer, UrlsCannotInjectHeadersOrRequestLines) {
  const Text prefix = Utf8ToText(base);
  for (const Text& path :
       std::vector<Text>{u"/a\r\nX-Injected: 1", u"/a HTTP/1.1\r\nHost: evil\r\n\r\nGET /b",
                         u"/a\nb", Text(u"/a\0b", 4), u"/\x7f", u"/\t"}) {
    Submit(prefix + path);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"Error 12005"})) << TextToUtf8(path);
  }
  EXPECT_TRUE(server.Requests().empty());

  // A host part with CR LF or a space never reaches the wire either.
  Submit(u"http://127.0.0.1\r\nX: y/");
  EXPECT_EQ(recorder.events.back(), "Error 12005");
  Submit(u"http://127.0.0.1 evil/");
  EXPECT_EQ(recorder.events.back(), "Error 12005");
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(HostInputTransfer, SpacesLongAndNonAsciiPathsGoOutSafely) {
  const Text prefix = Utf8ToText(base);
  Submit(prefix + u"/a b?c d");
  EXPECT_EQ(recorder.events.back(), "EndTransfer");
  Submit(prefix + u"/caf\u00e9/\u4e2d/x?q=\u4e2d");
  EXPECT_EQ(recorder.events.back(), "EndTransfer");
  Submit(prefix + u"/" + Text(100000, u'x'));
  ASSERT_FALSE(recorder.events.empty());
  const auto requests = server.Requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/a%20b?c%20d");
  EXPECT_EQ(requests[1].target, "/caf\xE9/%3F/x?q=%3F");
  ExpectNoInjection();
}

TEST_F(HostInputTransfer, EveryCodePageCharacterArrivesExactly) {
  Text all;
  for (int b = 1; b < 256; ++b) all += Cp1252ToChar(static_cast<std::uint8_t>(b));
  const Text tricky = u"a&b=c\r\nX-Injected: 1%00+\u4e2d";
  control.FormVarCount(3);
  control.FormVarNames(1, u"all");
  control.FormVarValues(1, all);
  control.FormVarNames(2, tricky);
  control.FormVarValues(2, tricky);
  control.FormVarNames(3, all);
  control.FormVarValues(3, u"v");
  Submit(Utf8ToText(base) + u"/f");
  EXPECT_EQ(recorder.events.back(), "EndTransfer");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto fields = Cp1252Fields(loopback::DecodeFormBytes(requests[0].body));
  const Text trickySent = u"a&b=c\r\nX-Injected: 1%00+?";
  const std::vector<std::pair<Text, Text>> expected = {
      {u"all", all}, {trickySent, trickySent}, {all, u"v"}};
  EXPECT_EQ(fields, expected);
  ExpectNoInjection();
}

TEST_F(HostInputTransfer, HugeReadSizeIsAnErrorOrWorksNeverACrash) {
  control.ReceiveBufferSize = kLongMax;
  Submit(Utf8ToText(base) + u"/");
  const std::string last = recorder.events.back();
  EXPECT_TRUE(last == "EndTransfer" || last == "Error 8") << last;
  if (last == "EndTransfer") {
    EXPECT_EQ(control.ReceiveBufferArraySize(), -1);  // the server's reply to an empty form
  }
  // Chunked mode releases the buffer without the random overwrite of all 2 GiB.
  control.ReceiveBufferSize = kLongMin;  // any negative value reads in chunks
  Submit(Utf8ToText(base) + u"/");
  EXPECT_EQ(recorder.events.back(), "EndTransfer");
}

}  // namespace
}  // namespace vizadavu::test
