// The engine against the recording internet boundary and a fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "control/Testing.h"
#include "platform/Services.h"
#include "tests/support/CodePage1252.h"
#include "tests/support/FailingNew.h"
#include "tests/support/FakeInternet.h"
#include "tests/support/Recorder.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::test {
namespace {

using Calls = std::vector<std::string>;

class TransferTest : public ::testing::Test {
 protected:
  TransferTest()
      : control(detail::Testing::Make(&recorder, &recorder,
                                      platform::Services{&net, &clock, nullptr})) {
    control.URL(u"https://example.test/form?x=1");
  }

  void Fill(std::initializer_list<std::pair<const char16_t*, const char16_t*>> fields) {
    control.FormVarCount(static_cast<Long>(fields.size()));
    Long i = 1;
    for (const auto& [name, value] : fields) {
      control.FormVarNames(i, name);
      control.FormVarValues(i++, value);
    }
  }

  FakeInternet net;
  FakeClock clock;
  Recorder recorder;
  vizADAVU control;
};

const Calls kPrelude = {
    "OpenSession(Tormelo/1.0, 0)",
    "Connect(h1, example.test, 443, \"\", \"\", 3)",
    "OpenRequest(h2, POST, /form?x=1, HTTP/1.0, 0x84A03000)",
    "AddRequestHeaders(h3, Accept-Language: en\\r\\n, 21, 0xA0000000)",
    "AddRequestHeaders(h3, Connection: Keep-Alive\\r\\n, 24, 0xA0000000)",
    "AddRequestHeaders(h3, Content-Type: application/x-www-form-urlencoded\\r\\n, 49, 0xA0000000)",
    "SetOption(h3, 2, 30000)",
    "SetOption(h3, 6, 120000)",
    "SetOption(h3, 5, 60000)",
};

TEST_F(TransferTest, PostRunsEveryStepInOrder) {
  Fill({{u"a", u"x y"}, {u"", u"z"}, {u"c", u"   "}});
  net.reply = "ok";
  control.Action(1);

  Calls expected = kPrelude;
  expected.insert(expected.end(),
                  {"SendRequest(h3, a=x+y, 5)", "QueryInfo(h3, 0x20000013)", "ReadFile(h3, 2048)",
                   "ReadFile(h3, 2048)", "CloseHandle(h3)", "CloseHandle(h2)", "CloseHandle(h1)"});
  EXPECT_EQ(net.calls, expected);
  EXPECT_EQ(recorder.events, (Calls{"Status 21", "Status 30", "EndTransfer"}));
  EXPECT_EQ(control.ReceiveBuffer(), u"ok");
  EXPECT_EQ(net.OpenHandles(), 0);
}

TEST_F(TransferTest, VerbPortAndFlagsFollowActionAndMode) {
  struct Case {
    Long action;
    bool plain;
    bool strict;  // StrictCertificates: no ignore flags, and nothing over plain HTTP
    const char16_t* url;
    const char* connect;
    const char* open;
  } cases[] = {
      {1, false, false, u"https://example.test/form?x=1",
       "Connect(h1, example.test, 443, \"\", \"\", 3)",
       "OpenRequest(h2, POST, /form?x=1, HTTP/1.0, 0x84A03000)"},
      {0, true, true, u"http://example.test", "Connect(h1, example.test, 80, \"\", \"\", 3)",
       "OpenRequest(h2, GET, , HTTP/1.0, 0x84200000)"},
      {2, true, false, u"http://127.0.0.1:8080/p", "Connect(h1, 127.0.0.1, 8080, \"\", \"\", 3)",
       "OpenRequest(h2, GET, /p, HTTP/1.0, 0x84200000)"},
      {-1, false, false, u"[::1]:9/q r", "Connect(h1, ::1, 9, \"\", \"\", 3)",
       "OpenRequest(h2, GET, /q r, HTTP/1.0, 0x84A03000)"},
      {-32768, false, true, u"example.test", "Connect(h1, example.test, 443, \"\", \"\", 3)",
       "OpenRequest(h2, GET, , HTTP/1.0, 0x84A00000)"},
  };
  for (const Case& c : cases) {
    net.Restart();
    control.Secure_Mode_Off = c.plain;
    control.StrictCertificates = c.strict;
    control.URL(c.url);
    control.Action(c.action);
    ASSERT_GE(net.calls.size(), 3u);
    EXPECT_EQ(net.calls[1], c.connect);
    EXPECT_EQ(net.calls[2], c.open);
  }
  control.Clear();  // after a strict row
  EXPECT_FALSE(control.StrictCertificates);
}

TEST_F(TransferTest, ActionOutsideIntegerRangeRunsNothing) {
  for (Long bad : {40000, 32768, -32769}) {
    EXPECT_THROW(control.Action(bad), std::overflow_error);
  }
  EXPECT_TRUE(net.calls.empty());
  EXPECT_TRUE(recorder.events.empty());
}

TEST_F(TransferTest, BodyFollowsFormTableNotVerb) {
  // A GET with a filled table carries the body; an empty table sends none,
  // even on POST; a table with no filled entry sends none too.
  Fill({{u"q", u"a&b=c"}, {u"n", u"1"}});
  control.Action(0);
  EXPECT_EQ(net.sentBody, "q=a%26b%3Dc&n=1");
  EXPECT_EQ(recorder.events.back(), "EndTransfer");

  for (Long count : {0, -1}) {
    net.Restart();
    EXPECT_NO_THROW(control.FormVarCount(0));
    if (count < 0) {
      EXPECT_THROW(control.FormVarCount(count), std::out_of_range);
    }
    control.Action(1);
    EXPECT_TRUE(net.sent);
    EXPECT_EQ(net.sentBody, std::nullopt) << count;
  }

  net.Restart();
  recorder.events.clear();
  Fill({{u"", u"a"}, {u"b", u"  "}});
  control.Action(0);
  EXPECT_EQ(net.sentBody, std::nullopt);
  EXPECT_EQ(recorder.events, (Calls{"Status 21", "Status 30", "EndTransfer"}));
}

TEST_F(TransferTest, PauseYieldsOnEveryPass) {
  using std::chrono::milliseconds;
  struct Case {
    const char* loop;
    milliseconds clockStep;  // per reading of the fake clock
    milliseconds waited;     // of each wait in the loop; -1: the loop cannot wait
    int passes;              // each a DoEvents, then a wait when the loop can
    milliseconds slept;      // the rests
  };
  const Case cases[] = {
      // A pass a millisecond, each resting 1 ms.
      {"cannot wait", milliseconds(0), milliseconds(-1), 1000, milliseconds(1000)},
      // A wait that lasted 1 ms or more needs no rest.
      {"waits 50 ms", milliseconds(100), milliseconds(50), 4, milliseconds(0)},
      // A wait that ends at once (a message waiting) still makes the pass last 1 ms.
      {"has a message at once", milliseconds(0), milliseconds(0), 1000, milliseconds(1000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.loop);
    clock = FakeClock{c.clockStep};
    recorder.events.clear();
    recorder.recordDoEvents = true;
    recorder.onWait = nullptr;
    if (c.waited.count() >= 0) recorder.onWait = [&](milliseconds) { clock.Advance(c.waited); };
    net.Restart();
    net.onCall = [this](const std::string& call) {
      if (call.rfind("SendRequest", 0) == 0) recorder.events.push_back("Send");
    };
    control.Action(0);
    const auto status21 = std::find(recorder.events.begin(), recorder.events.end(), "Status 21");
    const Calls pause(recorder.events.begin(), status21), rest(status21, recorder.events.end());
    const std::size_t perPass = c.waited.count() >= 0 ? 2 : 1;
    ASSERT_EQ(pause.size(), perPass * static_cast<std::size_t>(c.passes));
    for (std::size_t i = 0; i < pause.size(); i += perPass) {
      EXPECT_EQ(pause[i], "DoEvents") << i;
      if (perPass == 1) continue;
      // Never longer than 100 ms (a Cancel from another thread is seen), nor past the second.
      const int timeout = std::stoi(pause[i + 1].substr(5));
      EXPECT_TRUE(pause[i + 1].rfind("Wait ", 0) == 0 && timeout >= 1 && timeout <= 100) << i;
    }
    EXPECT_EQ(rest, (Calls{"Status 21", "DoEvents", "Send", "Status 30", "DoEvents", "DoEvents",
                           "EndTransfer"}));
    EXPECT_EQ(clock.slept, c.slept);
  }
  recorder.onWait = nullptr;
}

TEST_F(TransferTest, ChunkedReadOf5000Bytes) {
  std::string reply;
  for (int i = 0; i < 5000; ++i) reply.push_back(static_cast<char>(i * 7 + i / 256));
  net.reply = reply;
  recorder.recordDoEvents = true;
  control.Action(1);

  Calls reads;
  for (const auto& call : net.calls) {
    if (call.rfind("ReadFile", 0) == 0) reads.push_back(call);
  }
  EXPECT_EQ(reads, Calls(4, "ReadFile(h3, 2048)"));
  EXPECT_EQ(control.ReceiveBuffer(), Cp1252ToText(reply));
  EXPECT_EQ(control.ReceiveBufferArraySize(), -1);
  EXPECT_EQ(control.StringB(), u"");
  // The chunk buffer holds the last chunk, then what the chunk before left.
  for (Long i : {0, 903})
    EXPECT_EQ(control.ReceiveBufferB(i), Byte(reply[static_cast<std::size_t>(4096 + i)]));
  for (Long i : {904, 2047})
    EXPECT_EQ(control.ReceiveBufferB(i), Byte(reply[static_cast<std::size_t>(2048 + i)]));
  EXPECT_THROW(control.ReceiveBufferB(2048), std::out_of_range);
  // One yield after every read, the last (empty) one included.
  const auto tail = Calls(recorder.events.end() - 5, recorder.events.end());
  EXPECT_EQ(tail, (Calls{"DoEvents", "DoEvents", "DoEvents", "DoEvents", "EndTransfer"}));
}

TEST_F(TransferTest, SingleReadFillsAZeroedBufferOneLarger) {
  net.reply = std::string(3000, 'r');
  control.ReceiveBufferSize = 5000;
  control.Action(1);
  EXPECT_EQ(std::count(net.calls.begin(), net.calls.end(), "ReadFile(h3, 5000)"), 1);
  EXPECT_EQ(control.ReceiveBufferArraySize(), 2999);
  EXPECT_EQ(control.ReceiveBuffer(), u"");
  EXPECT_EQ(control.StringB(), Text(3000, u'r'));
  EXPECT_EQ(control.ReceiveBufferB(2999), 'r');
  EXPECT_EQ(control.ReceiveBufferB(3000), 0);
  EXPECT_EQ(control.ReceiveBufferB(5000), 0);
  EXPECT_THROW(control.ReceiveBufferB(5001), std::out_of_range);
  EXPECT_EQ(recorder.events.back(), "EndTransfer");

  net.Restart();
  control.ReceiveBufferSize = 0;
  control.Action(1);
  EXPECT_EQ(control.ReceiveBufferArraySize(), -1);
  EXPECT_EQ(control.ReceiveBufferB(0), 0);
  EXPECT_THROW(control.ReceiveBufferB(1), std::out_of_range);
}

TEST_F(TransferTest, FailurePathAtEveryStepClosesInReverseOrder) {
  struct Case {
    const char* method;
    int occurrence;
    std::uint32_t code;
    Calls closes;
    Calls events;
  } cases[] = {
      {"OpenSession",
       1,
       12004,
       {"CloseHandle(h0)", "CloseHandle(h0)", "CloseHandle(h0)"},
       {"Error 12004"}},
      {"Connect",
       1,
       12007,
       {"CloseHandle(h0)", "CloseHandle(h0)", "CloseHandle(h1)"},
       {"Error 12007"}},
      {"OpenRequest",
       1,
       87,
       {"CloseHandle(h0)", "CloseHandle(h2)", "CloseHandle(h1)"},
       {"Error 87"}},
      {"SetOption",
       1,
       12018,
       {"CloseHandle(h3)", "CloseHandle(h2)", "CloseHandle(h1)"},
       {"Error 12018"}},
      {"SetOption", 3, 6, {"CloseHandle(h3)", "CloseHandle(h2)", "CloseHandle(h1)"}, {"Error 6"}},
      {"SetWaitCallback",
       1,
       12004,
       {"CloseHandle(h3)", "CloseHandle(h2)", "CloseHandle(h1)"},
       {"Error 12004"}},
      {"SendRequest",
       1,
       12029,
       {"CloseHandle(h3)", "CloseHandle(h2)", "CloseHandle(h1)"},
       {"Status 21", "Error 12029"}},
      {"ReadFile",
       2,
       12031,
       {"CloseHandle(h3)", "CloseHandle(h2)", "CloseHandle(h1)"},
       {"Status 21", "Status 30", "Error 12031"}},
  };
  for (const Case& c : cases) {
    FakeInternet fresh;
    fresh.reply = std::string(5000, 'x');
    fresh.FailOn(c.method, static_cast<platform::ErrorCode>(c.code), c.occurrence);
    Recorder events;
    vizADAVU v =
        detail::Testing::Make(&events, nullptr, platform::Services{&fresh, &clock, nullptr});
    v.URL(u"https://example.test/");
    v.YieldWhileWaiting = true;
    v.Action(1);
    const Calls tail(fresh.calls.end() - 3, fresh.calls.end());
    EXPECT_EQ(tail, c.closes) << c.method;
    EXPECT_EQ(events.events, c.events) << c.method;
    EXPECT_EQ(fresh.OpenHandles(), 0) << c.method;
    // A failed time-out stops the later ones; a failed header is ignored.
    if (std::string(c.method) == "SetOption") {
      EXPECT_EQ(std::count_if(fresh.calls.begin(), fresh.calls.end(),
                              [](const std::string& s) { return s.rfind("SetOption", 0) == 0; }),
                c.occurrence);
    }
  }
}

TEST_F(TransferTest, HeaderFailuresAreIgnored) {
  net.FailOn("AddRequestHeaders", 12150, 1);
  net.FailOn("AddRequestHeaders", 12150, 3);
  control.Action(1);
  EXPECT_EQ(recorder.events, (Calls{"Status 21", "Status 30", "EndTransfer"}));
}

TEST_F(TransferTest, BadUrlsFailWithInvalidUrl) {
  // Refused before a connection is asked for: no server, a bad port, or a host
  // or object name that would change the request (a space, a delimiter, a
  // control byte, a character the code page lacks), or a control byte anywhere.
  for (const char16_t* url :
       {u"", u"http://", u"http:/", u"https://:443/x", u"http://h:99999/", u"http://a b/",
        u"http://h\r\nX: y/", u"http://h\\x/", u"http://h%41/", u"http://\u4e2d.test/",
        u"http://h/a\r\nb", u"http://h/\x7f", u"http://h/\t", u"ht\r\ntp://h/", u"http://h/#\n"}) {
    net.Restart();
    recorder.events.clear();
    control.URL(url);
    control.Action(1);
    EXPECT_EQ(recorder.events, Calls{"Error 12005"}) << TextToUtf8(url);
    EXPECT_EQ(net.calls.front(), "OpenSession(Tormelo/1.0, 0)");
    EXPECT_EQ(net.calls.size(), 4u) << TextToUtf8(url);  // session, then the three closes
  }
}

TEST_F(TransferTest, ReadFailureKeepsWhatArrivedAndReportsError) {
  // Chunked: 2048 bytes, then a failure that still delivers 100.
  net.reply = std::string(5000, 'a');
  net.FailOn("ReadFile", 12030, 2, 100);
  control.Action(1);
  EXPECT_EQ(recorder.events.back(), "Error 12030");
  EXPECT_EQ(control.ReceiveBuffer().size(), 2148u);
  // The count of the last read does not outlive the chunked loop.
  EXPECT_EQ(control.ReceiveBufferArraySize(), -1);
  EXPECT_EQ(control.StringB(), u"");

  // Single read: a truncated read is never reported as EndTransfer.
  net.Restart();
  net.FailOn("ReadFile", 12002, 1, 10);
  recorder.events.clear();
  control.ReceiveBufferSize = 100;
  control.Action(1);
  EXPECT_EQ(recorder.events.back(), "Error 12002");
  EXPECT_EQ(control.StringB(), Text(10, u'a'));
}

TEST_F(TransferTest, FailureBeforeReadKeepsPreviousBytes) {
  net.reply = "hello";
  control.ReceiveBufferSize = 10;
  control.Action(1);
  net.Restart();
  net.FailOn("SendRequest", 12029);
  control.Action(1);
  EXPECT_EQ(recorder.events.back(), "Error 12029");
  EXPECT_EQ(control.StringB(), u"hello");
  EXPECT_EQ(control.ReceiveBufferArraySize(), 4);
  EXPECT_EQ(control.ReceiveBuffer(), u"");
}

TEST_F(TransferTest, HugeSingleReadThatCannotBeAllocatedIsError8) {
  // An address-space-sized request fails cleanly rather than crashing.
  control.ReceiveBufferSize = 2147483647;
  net.reply = "x";
  control.Action(1);
  const std::string last = recorder.events.back();
  EXPECT_TRUE(last == "EndTransfer" || last == "Error 8") << last;
  EXPECT_EQ(net.OpenHandles(), 0);
}

// Every allocation a transfer makes, refused in turn, ends in Error 8 with the
// handles closed and what arrived before it still readable.
TEST_F(TransferTest, EachRefusedAllocationEndsInError8) {
  std::string reply(1100000, ' ');
  for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<char>('a' + i % 26);
  struct Case {
    const char* what;
    Long receiveBufferSize;
    int failAt;
    const char* allocation;
    std::size_t textChars;  // characters of the reply text afterwards
    bool misplace = false;  // the mapping is had, but the text cannot move into it
  } cases[] = {
      {"single-read buffer", 5000, 1, "Allocate 5001", 0},
      {"single-read mapping", 1000000, 1, "Map 2097152", 0},
      {"chunk buffer", -1, 1, "Allocate 2048", 0},
      {"reply text, first block", -1, 2, "Allocate 4096", 0},
      {"reply text growth, heap", -1, 3, "Allocate 8192", 2048},
      {"reply text growth, last heap block", -1, 6, "Allocate 65536", 16384},
      {"reply text growth into a mapping", -1, 7, "Map 2097152", 32768},
      {"reply text growth, mapping", -1, 8, "Map 4194304", 1048576},
      {"reply text growth, mapping it cannot move into", -1, 8, "Map 4194304", 1048576, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeInternet fresh;
    FailingMemory memory;
    Recorder events;
    vizADAVU v = detail::Testing::Make(&events, nullptr,
                                       platform::Services{&fresh, &clock, nullptr, &memory});
    v.URL(u"https://example.test/");
    // A previous reply, replaced by what this transfer gets before it fails.
    fresh.reply = "earlier";
    v.ReceiveBufferSize = 10;
    v.Action(1);
    fresh.Restart();
    fresh.reply = reply;
    events.events.clear();
    memory.log.clear();
    memory.failAt = c.failAt;
    memory.misplace = c.misplace;
    v.ReceiveBufferSize = c.receiveBufferSize;
    v.Action(1);

    ASSERT_EQ(memory.log.size(), static_cast<std::size_t>(c.failAt));
    EXPECT_EQ(memory.log.back(), c.allocation);
    EXPECT_EQ(events.events, (Calls{"Status 21", "Status 30", "Error 8"}));
    EXPECT_EQ(Calls(fresh.calls.end() - 3, fresh.calls.end()),
              (Calls{"CloseHandle(h3)", "CloseHandle(h2)", "CloseHandle(h1)"}));
    EXPECT_EQ(fresh.OpenHandles(), 0);
    EXPECT_EQ(v.ReceiveBufferArraySize(), -1);
    EXPECT_EQ(v.StringB(), u"");
    EXPECT_EQ(v.ReceiveBuffer(), Cp1252ToText(reply.substr(0, c.textChars)));
    if (c.failAt == 1) {
      EXPECT_THROW(v.ReceiveBufferB(0), std::out_of_range);  // no buffer was had
    } else {
      // The chunk whose characters found no room is still in the chunk buffer.
      EXPECT_EQ(v.ReceiveBufferB(0), Byte(reply[c.textChars]));
      EXPECT_EQ(v.ReceiveBufferB(2047), Byte(reply[c.textChars + 2047]));
    }
    // The control is whole: the next transfer gets the reply.
    fresh.Restart();
    fresh.reply = "after";
    memory.failAt = 0;
    v.Action(1);
    EXPECT_EQ(c.receiveBufferSize < 0 ? v.ReceiveBuffer() : v.StringB(), u"after");
  }
}

// The encoder's memory, and exceptions of the control's own steps that are not
// about memory (here from the internet layer), take the failure path too.
TEST_F(TransferTest, ExceptionsOfItsOwnStepsAreErrors) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> onEvent;
    std::function<void(const std::string&)> onCall;
    Calls events;
    bool sent;
  } cases[] = {
      {"encoded body",
       [](const std::string& e) {
         if (e == "Status 21") FailNextNew();
       },
       nullptr,
       {"Status 21", "Error 8"},
       false},
      {"bad_alloc while reading",
       nullptr,
       [](const std::string& call) {
         if (call.rfind("ReadFile", 0) == 0) throw std::bad_alloc();
       },
       {"Status 21", "Status 30", "Error 8"},
       true},
      {"other exception while reading",
       nullptr,
       [](const std::string& call) {
         if (call.rfind("ReadFile", 0) == 0) throw std::length_error("too long");
       },
       {"Status 21", "Status 30", "Error 12004"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    net.Restart();
    recorder.events.clear();
    Fill({{u"password", u"secret value"}});
    recorder.onEvent = c.onEvent;
    net.onCall = c.onCall;
    control.Action(1);
    FailNextNew(false);
    EXPECT_EQ(recorder.events, c.events);
    EXPECT_EQ(net.sent, c.sent);
    EXPECT_EQ(Calls(net.calls.end() - 3, net.calls.end()),
              (Calls{"CloseHandle(h3)", "CloseHandle(h2)", "CloseHandle(h1)"}));
    EXPECT_EQ(net.OpenHandles(), 0);
  }
  recorder.onEvent = nullptr;
  net.onCall = nullptr;
}

// While a transfer runs (here, from its event handlers) Action and Clear are
// refused and the transfer goes on; Cancel is let through and ends it.
TEST_F(TransferTest, ReentryIsRefusedAndTheTransferGoesOn) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel);
    net.Restart();
    recorder.events.clear();
    int refused = 0;
    recorder.onEvent = [&](const std::string& event) {
      if (event != "Status 21" && event != "Status 30") return;
      try {
        control.Action(1);
      } catch (const std::logic_error&) {
        ++refused;
      }
      try {
        control.Clear();
      } catch (const std::logic_error&) {
        ++refused;
      }
      if (cancel && event == "Status 30") control.Cancel();
    };
    net.reply = "reply";
    control.Action(1);
    EXPECT_EQ(refused, 4);
    if (cancel) {
      EXPECT_EQ(recorder.events, (Calls{"Status 21", "Status 30", "Error 12017"}));
      for (const std::string& call : net.calls) EXPECT_NE(call.rfind("ReadFile", 0), 0u) << call;
    } else {
      EXPECT_EQ(recorder.events, (Calls{"Status 21", "Status 30", "EndTransfer"}));
      EXPECT_EQ(control.ReceiveBuffer(), u"reply");
    }
  }
  // Once it has ended the control takes a new transfer.
  recorder.onEvent = nullptr;
  control.Action(1);
  EXPECT_EQ(recorder.events.back(), "EndTransfer");
}

TEST_F(TransferTest, HostExceptionClosesHandlesAndPropagates) {
  // From an event handler, and from the message loop (servicing it, waiting in it).
  for (const char* thrower : {"Status 30", "DoEvents", "Wait 100"}) {
    net.Restart();
    recorder.recordDoEvents = std::string(thrower) == "DoEvents";
    recorder.onWait = nullptr;
    if (std::string(thrower) == "Wait 100") recorder.onWait = [](std::chrono::milliseconds) {};
    recorder.onEvent = [thrower](const std::string& event) {
      if (event == thrower) throw std::runtime_error("host handler failed");
    };
    EXPECT_THROW(control.Action(1), std::runtime_error) << thrower;
    EXPECT_EQ(net.OpenHandles(), 0);
    for (const auto& [handle, count] : net.closeCounts) EXPECT_EQ(count, 1) << handle;
  }
  recorder.recordDoEvents = false;
  recorder.onEvent = nullptr;
  recorder.onWait = nullptr;
  recorder.events.clear();
  control.Action(1);  // the control is usable again
  EXPECT_EQ(recorder.events.back(), "EndTransfer");
}

}  // namespace
}  // namespace vizadavu::test
