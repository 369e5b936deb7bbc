// Memory failures in the libcurl boundary: the wiping allocator itself, every
// allocation libcurl makes for an exchange refused in turn, our own allocations
// refused, and a body delivery larger than the staging buffer.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/curl/CurlInternet.h"
#include "platform/curl/CurlMemory.h"
#include "platform/curl/CurlTransfer.h"
#include "tests/support/FailingNew.h"
#include "tests/support/FakeInternet.h"
#include "tools/loopback/LoopbackServer.h"

namespace vizadavu::platform {
namespace {

using loopback::LoopbackServer;

constexpr std::uint32_t kPlainFlags = 0x84200000;

// libcurl refusing: on the thread that set `successes`, the allocation after
// that many more fails, once (negative: none). This program initialises libcurl
// with the boundary's allocator wrapped in the refusal before any test runs, so
// the boundary's own initialisation keeps it.
thread_local int t_successes = -1;
bool Refuse(bool allocates) {
  if (!allocates || t_successes < 0 || t_successes-- != 0) return false;
  NoteRefusedAllocation();
  return true;
}
void* RefusingRealloc(void* block, std::size_t n) {
  return Refuse(n > (block != nullptr ? malloc_usable_size(block) : 0)) ? nullptr
                                                                        : WipingRealloc(block, n);
}
const bool kRefusingAllocator =
    curl_global_init_mem(
        CURL_GLOBAL_DEFAULT, [](std::size_t n) { return Refuse(true) ? nullptr : CurlMalloc(n); },
        WipingFree, RefusingRealloc,
        [](const char* text) { return Refuse(true) ? nullptr : CurlStrdup(text); },
        [](std::size_t n, std::size_t size) {
          return Refuse(true) ? nullptr : CurlCalloc(n, size);
        }) == CURLE_OK;

// Adding a handle fails with `addRefusal` (CURLM_OK: never).
struct FailingCurl : CurlLibrary {
  int& successes = t_successes;
  CURLMcode addRefusal = CURLM_OK;
  bool Pending() const { return successes >= 0; }
  CURLMcode AddHandle(CURLM* multi, CURL* easy) override {
    return addRefusal != CURLM_OK ? addRefusal : CurlLibrary::AddHandle(multi, easy);
  }
};

TEST(CurlMemory, ReallocMovesWipesAndFailsLikeRealloc) {
  struct Case {
    const char* what;
    std::size_t from;  // 0: no block yet
    std::size_t to;
    bool refuse;  // the new block cannot be had
    bool same;    // the block stays where it is
    bool null;    // the result is nullptr
  } cases[] = {
      {"no block yet", 0, 40, false, false, false},
      {"shrinks in place", 100, 10, false, true, false},
      {"grows by moving", 10, 1000, false, false, false},
      {"size 0 frees", 100, 0, false, false, true},
      {"growth refused keeps the block", 10, 1000, true, false, true},
  };
  ASSERT_TRUE(kRefusingAllocator);
  FailingCurl curl;
  const CurlAllocationScope scope;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    void* block = c.from > 0 ? WipingRealloc(nullptr, c.from) : nullptr;
    if (block != nullptr) std::memset(block, 'k', c.from);
    if (c.refuse) curl.successes = 0;
    void* result = RefusingRealloc(block, c.to);
    EXPECT_FALSE(curl.Pending());
    EXPECT_EQ(result == nullptr, c.null);
    if (c.same) {
      EXPECT_EQ(result, block);
    }
    if (result != nullptr && block != nullptr) {
      // What the old block held comes along.
      const std::size_t kept = std::min(c.from, c.to);
      EXPECT_EQ(std::string(static_cast<char*>(result), kept), std::string(kept, 'k'));
    }
    if (c.refuse) {
      EXPECT_EQ(static_cast<char*>(block)[0], 'k');  // still valid, untouched
      WipingFree(block);
    }
    WipingFree(result);
  }
}

class CurlFaults : public ::testing::Test {
 protected:
  Handle Open(std::uint16_t port) {
    session_ = net_.OpenSession("Tormelo/1.0", inet::kOpenTypeDirect);
    EXPECT_NE(session_, kNullHandle);
    const Handle connection = net_.Connect(session_, "127.0.0.1", port, "", "", 3);
    const Handle request = net_.OpenRequest(connection, "POST", "/f", "HTTP/1.0", kPlainFlags);
    EXPECT_TRUE(net_.AddRequestHeaders(request, "X-Test: 1\r\n", 0));
    return request;
  }
  void TearDown() override {
    if (session_ != kNullHandle) net_.CloseHandle(session_);
  }

  FailingCurl curl_;
  CurlInternet net_{SystemMemory(), curl_};
  Handle session_ = kNullHandle;
};

// Each allocation libcurl makes for an exchange, from building the transfer to
// the end of the body, refused in turn: the send or a read fails with a code
// (never a crash, never a short body read as whole), and the next exchange on
// the same object gets the whole reply.
TEST_F(CurlFaults, EachRefusedLibcurlAllocationFailsTheExchangeCleanly) {
  const std::string body(40000, 'b');
  LoopbackServer server(LoopbackServer::Respond(200, body));
  {
    std::set<ErrorCode> codes;
    int n = 0;
    for (;; ++n) {
      ASSERT_LT(n, 2000) << "the exchange never ran without a refusal";
      const Handle request = Open(server.Port());
      curl_.successes = n;
      std::string got;
      bool ok = net_.SendRequest(request, std::string_view("a=1"));
      std::vector<std::uint8_t> buffer(3000);
      for (std::uint32_t count = 1; ok && count > 0;) {
        ok = net_.ReadFile(request, buffer.data(), 3000, count);
        got.append(reinterpret_cast<const char*>(buffer.data()), count);
      }
      const bool refused = !curl_.Pending();
      curl_.successes = -1;
      net_.CloseHandle(session_);
      session_ = kNullHandle;
      if (!refused) {
        ASSERT_TRUE(ok) << net_.LastError();
        EXPECT_EQ(got, body);
        break;
      }
      if (ok) {
        EXPECT_EQ(got, body) << n;  // a refusal libcurl recovered from
      } else {
        codes.insert(net_.LastError());
        EXPECT_LT(got.size(), body.size()) << n;
      }
    }
    EXPECT_GT(n, 10);
    // Always 8, although libcurl reports some refusals as something else: while
    // it resolves even a numeric address (12007), while it parses the reply
    // headers (its code for an over-long header line, 12152), and when resuming
    // a paused body (12004).
    EXPECT_EQ(codes, std::set<ErrorCode>{8});
  }
}

// A failed allocation of the boundary's own fails the call with 8 and leaves
// the request usable.
TEST_F(CurlFaults, RefusedOwnAllocationFailsTheCallWith8) {
  LoopbackServer server(LoopbackServer::Respond(200, "whole"));
  const Handle request = Open(server.Port());
  test::FailNextNew();
  EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
  test::FailNextNew(false);
  EXPECT_EQ(net_.LastError(), 8u);
  ASSERT_TRUE(net_.SendRequest(request, std::nullopt)) << net_.LastError();
  std::uint8_t buffer[16];
  std::uint32_t got = 0;
  ASSERT_TRUE(net_.ReadFile(request, buffer, sizeof buffer, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "whole");
}

// A transfer libcurl's multi handle refuses to take is never sent, and the
// request can be sent again once it would.
TEST_F(CurlFaults, RefusedMultiHandleFailsTheSend) {
  LoopbackServer server(LoopbackServer::Respond(200, "whole"));
  const Handle request = Open(server.Port());
  for (const auto& [refusal, code] :
       {std::pair{CURLM_OUT_OF_MEMORY, 8u}, std::pair{CURLM_INTERNAL_ERROR, 12004u}}) {
    curl_.addRefusal = refusal;
    EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
    curl_.addRefusal = CURLM_OK;
    EXPECT_EQ(net_.LastError(), code);
  }
  EXPECT_TRUE(server.Requests().empty());
  ASSERT_TRUE(net_.SendRequest(request, std::nullopt)) << net_.LastError();
}

// A delivery that does not fit the staging buffer grows it; when the larger
// buffer cannot be had, the read fails with 8 after the bytes that fitted.
TEST_F(CurlFaults, StagingADeliveryLargerThanTheReadOrFailingWith8) {
  const std::string body = [] {
    std::string b(20000, '\0');
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>('a' + i % 23);
    return b;
  }();
  LoopbackServer server(LoopbackServer::Respond(200, body));
  ASSERT_NE(net_.OpenSession("", inet::kOpenTypeDirect), kNullHandle);  // starts libcurl
  const std::vector<std::string> headers;
  TransferSetup setup;
  setup.direct = true;
  setup.host = "127.0.0.1";
  setup.port = server.Port();
  setup.target = "/";
  setup.headers = &headers;
  for (const bool refuse : {false, true}) {
    SCOPED_TRACE(refuse);
    test::FailingMemory memory;  // the stage is its only allocation
    memory.failAt = refuse ? 1 : 0;
    setup.memory = &memory;
    ErrorCode error = codes::None;
    auto transfer = CurlTransfer::Start(setup, std::nullopt, error);
    ASSERT_EQ(error, codes::None);
    ASSERT_EQ(transfer->AwaitHeaders(), codes::None);
    std::string got;
    std::vector<std::uint8_t> buffer(100);
    std::uint32_t count = 1;
    while (count > 0 && error == codes::None) {
      error = transfer->Read(buffer.data(), 100, count);
      got.append(reinterpret_cast<const char*>(buffer.data()), count);
    }
    if (refuse) {
      EXPECT_EQ(error, codes::NotEnoughMemory);
      EXPECT_EQ(got, "");  // the delivery that failed is not handed out in part
      EXPECT_EQ(transfer->Read(buffer.data(), 100, count), codes::NotEnoughMemory);
    } else {
      EXPECT_EQ(error, codes::None);
      EXPECT_EQ(got, body);
    }
  }
}

}  // namespace
}  // namespace vizadavu::platform
