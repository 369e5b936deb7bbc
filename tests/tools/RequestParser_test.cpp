// The loopback servers' HTTP/1 request parser over byte buffers, without sockets.
#include "tools/loopback/RequestParser.h"

#include <gtest/gtest.h>

namespace vizadavu::loopback {
namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Accepted {
  const char* name;
  std::string request;
  std::string next;  // bytes of a next request after it
  std::string line;  // "method|target|version"
  Headers headers;
  std::string body;
  bool wantsContinue;
};

const std::string kChunked =
    "POST /c HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\nContent-Length: 99\r\n\r\n"
    "3\r\nabc\r\n2;ext=1\r\nde\r\n0\r\nTrailer: t\r\n\r\n";

const Accepted kAccepted[] = {
    {"bare GET", "GET / HTTP/1.0\r\n\r\n", "", "GET|/|HTTP/1.0", {}, "", false},
    {"bare LF and trimmed values",
     "POST /s?x=1 HTTP/1.1\nHost:  a b \t\nContent-Length: 3\n\nxyz",
     "NEXT",
     "POST|/s?x=1|HTTP/1.1",
     {{"Host", "a b"}, {"Content-Length", "3"}},
     "xyz",
     false},
    {"chunked overrides Content-Length, trailer kept in raw only",
     kChunked,
     "GET",
     "POST|/c|HTTP/1.1",
     {{"Transfer-Encoding", "gzip, chunked"}, {"Content-Length", "99"}},
     "abcde",
     false},
    {"repeated equal lengths",
     "PUT /p HTTP/1.1\r\nContent-Length: 1\r\ncontent-length: 1\r\n\r\nz",
     "",
     "PUT|/p|HTTP/1.1",
     {{"Content-Length", "1"}, {"content-length", "1"}},
     "z",
     false},
    {"expect with a body",
     "POST / HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 1\r\n\r\nq",
     "",
     "POST|/|HTTP/1.1",
     {{"Expect", "100-Continue"}, {"Content-Length", "1"}},
     "q",
     true},
    {"expect without a body",
     "POST / HTTP/1.1\r\nExpect: 100-continue\r\n\r\n",
     "",
     "POST|/|HTTP/1.1",
     {{"Expect", "100-continue"}},
     "",
     false},
    {"expect over HTTP/1.0",
     "POST / HTTP/1.0\r\nExpect: 100-continue\r\nContent-Length: 1\r\n\r\nq",
     "",
     "POST|/|HTTP/1.0",
     {{"Expect", "100-continue"}, {"Content-Length", "1"}},
     "q",
     false},
};

TEST(RequestParser, AcceptsWellFormedRequestsWhole) {
  for (const Accepted& c : kAccepted) {
    SCOPED_TRACE(c.name);
    ReceivedRequest request;
    const ParseResult result = ParseRequest(c.request + c.next, request);
    ASSERT_EQ(result.status, ParseResult::kComplete) << result.error;
    EXPECT_EQ(result.consumed, c.request.size());
    EXPECT_EQ(request.raw, c.request);
    EXPECT_EQ(request.method + "|" + request.target + "|" + request.version, c.line);
    EXPECT_EQ(request.headers, c.headers);
    EXPECT_EQ(request.body, c.body);
    EXPECT_EQ(result.wantsContinue, c.wantsContinue);
  }
}

// Every proper prefix of a request asks for more and fills nothing, and the invitation
// to send the body is known as soon as the header section is.
TEST(RequestParser, EveryPrefixNeedsMore) {
  for (const Accepted& c : kAccepted) {
    SCOPED_TRACE(c.name);
    const std::size_t lf = c.request.find("\n\n"), crlf = c.request.find("\r\n\r\n");
    const std::size_t headerEnd = std::min(lf == std::string::npos ? lf : lf + 2, crlf + 4);
    for (std::size_t n = 0; n < c.request.size(); ++n) {
      ReceivedRequest request;
      request.method = "untouched";
      const ParseResult result = ParseRequest(std::string_view(c.request).substr(0, n), request);
      ASSERT_EQ(result.status, ParseResult::kNeedMore) << n;
      EXPECT_EQ(request.method, "untouched");
      EXPECT_EQ(result.wantsContinue, c.wantsContinue && n >= headerEnd) << n;
    }
  }
}

TEST(RequestParser, RejectsHostileInputWithAReason) {
  const struct {
    std::string input;
    const char* error;
  } cases[] = {
      {"GET /\r\n\r\n", "malformed request line"},
      {"GET  / HTTP/1.1\r\n\r\n", "malformed request line"},
      {" GET / HTTP/1.1\r\n\r\n", "malformed request line"},
      {"GET / HTTP/1.1 x\r\n\r\n", "malformed request line"},
      {"GET / \r\n\r\n", "malformed request line"},
      {"GET / HTTP/1.1\r\nNoColon\r\n\r\n", "malformed header line"},
      {"GET / HTTP/1.1\r\n: empty\r\n\r\n", "malformed header line"},
      {"GET / HTTP/1.1\r\n folded: x\r\n\r\n", "malformed header line"},
      {"GET / HTTP/1.1\r\nName : x\r\n\r\n", "malformed header line"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", "unsupported Transfer-Encoding"},
      {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "bad or conflicting Content-Length"},
      {"POST / HTTP/1.1\r\nContent-Length: \r\n\r\n", "bad or conflicting Content-Length"},
      {"POST / HTTP/1.1\r\nContent-Length: 1 2\r\n\r\n", "bad or conflicting Content-Length"},
      {"POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
       "bad or conflicting Content-Length"},
      {"POST / HTTP/1.1\r\nContent-Length: 268435457\r\n\r\n", "bad or conflicting Content-Length"},
      {"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
       "bad or conflicting Content-Length"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", "bad chunk size line"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n\r\n", "bad chunk size line"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1x\r\n", "bad chunk size line"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n123456789\r\n", "bad chunk size line"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n10000001\r\n", "bad chunk size line"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nab\r\n",
       "chunk data longer than its size"},
      {"GET / HTTP/1.1\r\nX: " + std::string(kMaxHeaderBytes + 1, 'a'), "line too long"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 80));
    ReceivedRequest request;
    const ParseResult result = ParseRequest(c.input, request);
    EXPECT_EQ(result.status, ParseResult::kMalformed);
    EXPECT_EQ(result.error.substr(0, std::string_view(c.error).size()), c.error);
    EXPECT_TRUE(request.method.empty());
  }
}

TEST(RequestParser, BoundsHeaderAndTrailerSectionsAcrossManyShortLines) {
  const struct {
    std::string start;
    std::string error;
  } cases[] = {
      {"GET / HTTP/1.1\r\n", "request header too large"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\n",
       "request trailer too large"},
  };
  for (const auto& c : cases) {
    std::string input = c.start;
    while (input.size() <= c.start.size() + kMaxHeaderBytes + 64) {
      input += "X-Filler: 0123456789abcdef\r\n";
    }
    ReceivedRequest request;
    const ParseResult result = ParseRequest(input, request);
    EXPECT_EQ(result.status, ParseResult::kMalformed) << c.error;
    EXPECT_EQ(result.error, c.error);
  }
}

}  // namespace
}  // namespace vizadavu::loopback
