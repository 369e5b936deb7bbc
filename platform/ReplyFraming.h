// The Content-Length header lines of one reply, checked as they arrive. A reply
// whose length is stated ambiguously is invalid rather than guessed at: every
// Content-Length line (and every element of a comma-separated list in one) must
// be a decimal number that fits in 63 bits, and all must be the same number.
// It also tells whether the body's end is marked at all (a length or chunked
// coding) or only by the connection's close.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vizadavu::platform {

class ReplyFraming {
 public:
  // A header line as libcurl hands it over (with its line end). A status line
  // starts a new reply. False when the line makes the framing ambiguous.
  bool Line(std::string_view line);
  // True when the reply so far carries Content-Length or a chunked
  // Transfer-Encoding (as libcurl reads it: "chunked" anywhere in the list).
  bool LengthKnown() const { return length_.has_value() || chunked_; }

 private:
  std::optional<std::uint64_t> length_;
  bool chunked_ = false;
};

}  // namespace vizadavu::platform
