// The loopback servers' HTTP/1 request parser on arbitrary bytes: it always ends in one
// of its three results; a complete request is a prefix of the input that parses alone
// to the same request, its body is bounded, and the parse is stable under more input
// (a prefix that completes completes the same way in the whole); a request asking for
// more leaves the output untouched; a rejection says why.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "tools/loopback/RequestParser.h"

namespace {

constexpr const char* kTarget = "fuzz_request_parser";

using vizadavu::loopback::ParseRequest;
using vizadavu::loopback::ParseResult;
using vizadavu::loopback::ReceivedRequest;

bool Same(const ReceivedRequest& a, const ReceivedRequest& b) {
  return a.raw == b.raw && a.method == b.method && a.target == b.target && a.version == b.version &&
         a.headers == b.headers && a.body == b.body;
}

ParseResult Check(std::string_view input, ReceivedRequest& request) {
  request = ReceivedRequest{};
  request.method = "untouched";
  const ParseResult result = ParseRequest(input, request);
  switch (result.status) {
    case ParseResult::kComplete:
      FUZZ_CHECK(result.consumed > 0 && result.consumed <= input.size());
      FUZZ_CHECK(request.raw == input.substr(0, result.consumed));
      FUZZ_CHECK(!request.method.empty() && !request.target.empty() && !request.version.empty());
      FUZZ_CHECK(request.body.size() <= vizadavu::loopback::kMaxBodyBytes);
      FUZZ_CHECK(request.body.size() < request.raw.size());
      FUZZ_CHECK(result.error.empty());
      break;
    case ParseResult::kNeedMore:
      FUZZ_CHECK(request.method == "untouched" && request.raw.empty());
      FUZZ_CHECK(result.consumed == 0 && result.error.empty());
      break;
    case ParseResult::kMalformed:
      FUZZ_CHECK(request.method == "untouched");
      FUZZ_CHECK(!result.error.empty() && !result.wantsContinue);
      break;
    default:
      ::vizadavu::fuzz::Fail(kTarget, "a status out of range");
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  ReceivedRequest whole;
  const ParseResult result = Check(input, whole);

  if (result.status == ParseResult::kComplete) {
    ReceivedRequest alone;
    const ParseResult again = Check(input.substr(0, result.consumed), alone);
    FUZZ_CHECK(again.status == ParseResult::kComplete && again.consumed == result.consumed);
    FUZZ_CHECK(again.wantsContinue == result.wantsContinue);
    FUZZ_CHECK(Same(alone, whole));
    ReceivedRequest part;
    FUZZ_CHECK(Check(input.substr(0, result.consumed - 1), part).status == ParseResult::kNeedMore);
  }

  // Split where the input's first byte says: what completes early completes the same.
  const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
  ReceivedRequest early;
  const ParseResult first = Check(input.substr(0, split), early);
  if (first.status == ParseResult::kComplete) {
    FUZZ_CHECK(result.status == ParseResult::kComplete && result.consumed == first.consumed);
    FUZZ_CHECK(Same(early, whole));
  } else if (first.status == ParseResult::kMalformed) {
    FUZZ_CHECK(result.status == ParseResult::kMalformed);
  }
  return 0;
}
