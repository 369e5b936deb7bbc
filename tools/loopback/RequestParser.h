// A pure HTTP/1 request parser over a byte buffer: no sockets, no clock, no state
// between calls. The connection feeds it everything received so far and asks again
// after each read, so a request split anywhere parses the same as one in one piece.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Ascii.h"
#include "tools/loopback/LoopbackServer.h"

namespace vizadavu::loopback {

inline constexpr std::size_t kMaxHeaderBytes = 1 << 20;
inline constexpr std::size_t kMaxBodyBytes = 256u << 20;

struct ParseResult {
  enum Status {
    kNeedMore,   // the buffer ends inside the request: read more and parse again
    kComplete,   // `request` holds it; `consumed` bytes of the buffer belong to it
    kMalformed,  // not a request this server accepts; `error` says why
  } status = kNeedMore;
  std::size_t consumed = 0;
  std::string error;
  // The header section is complete and the client holds its body back for an
  // HTTP/1.1 "Expect: 100-continue": the server should invite it now.
  bool wantsContinue = false;
};

// Parses the request at the start of `buffer`: request line, header lines (CRLF or
// bare LF), then a Content-Length body or a chunked one (decoded into `body`, framing
// kept in `raw`; Transfer-Encoding overrides Content-Length). `request` is filled only
// when the result is kComplete. Limits: kMaxHeaderBytes for the header section, the
// trailer section and any line, kMaxBodyBytes for a body.
ParseResult ParseRequest(std::string_view buffer, ReceivedRequest& request);

using platform::EqualsIgnoreCase;

}  // namespace vizadavu::loopback
