// The Content-Length header lines of one reply, checked as they arrive. A reply
// whose length is stated ambiguously is invalid rather than guessed at: every
// Content-Length line (and every element of a comma-separated list in one) must
// be a decimal number that fits in 63 bits, and all must be the same number.
// Only a status line starts a new reply: the first line of all, and the first
// line after an interim (1xx) reply's head. A header line that merely starts
// with "HTTP/" is an ordinary header line, as it is to libcurl. It also tells
// whether the body's end is marked at all (a length or chunked coding) or only
// by the connection's close.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vizadavu::platform {

class ReplyFraming {
 public:
  // A header line as libcurl hands it over (with its line end). False when the
  // line makes the framing ambiguous.
  bool Line(std::string_view line);
  // True when the reply so far carries Content-Length or a chunked
  // Transfer-Encoding (as libcurl reads it: "chunked" anywhere in the list).
  bool LengthKnown() const { return length_.has_value() || chunked_; }

  // Whether the next line is a status line.
  bool AtStatusLine() const { return atStatusLine_; }

  // The head that just ended (its blank line given to Line) was an interim
  // reply's: what it said is forgotten, and a status line comes next.
  void InterimEnded();

 private:
  std::optional<std::uint64_t> length_;
  bool chunked_ = false;
  bool atStatusLine_ = true;
};

}  // namespace vizadavu::platform
