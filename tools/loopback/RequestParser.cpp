// The HTTP/1 request parser of the loopback servers. It is strict where a sloppy
// client would otherwise go unnoticed (request line, header syntax, conflicting
// lengths) and bounded everywhere, since the bytes come from the code under test.
#include "tools/loopback/RequestParser.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace vizadavu::loopback {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Walks a buffer line by line (LF-terminated, a CR before it stripped).
class Lines {
 public:
  explicit Lines(std::string_view buffer) : buffer_(buffer) {}

  enum Outcome { kLine, kNeedMore, kTooLong };
  Outcome Next(std::string_view& line) {
    const std::size_t newline = buffer_.find('\n', pos);
    if (newline == std::string_view::npos) {
      return buffer_.size() - pos > kMaxHeaderBytes ? kTooLong : kNeedMore;
    }
    line = buffer_.substr(pos, newline - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = newline + 1;
    return kLine;
  }
  std::size_t Available() const { return buffer_.size() - pos; }
  std::string_view Take(std::size_t n) {
    std::string_view bytes = buffer_.substr(pos, n);
    pos += n;
    return bytes;
  }

  std::size_t pos = 0;

 private:
  std::string_view buffer_;
};

ParseResult Malformed(std::string error) {
  ParseResult result;
  result.status = ParseResult::kMalformed;
  result.error = std::move(error);
  return result;
}

// Reads one line into `line`; otherwise false, with `result` still kNeedMore or now
// kMalformed: what the caller must return.
bool NextLine(Lines& lines, std::string_view& line, ParseResult& result) {
  const Lines::Outcome outcome = lines.Next(line);
  if (outcome == Lines::kTooLong) result = Malformed("line too long");
  return outcome == Lines::kLine;
}

bool ParseRequestLine(std::string_view line, ReceivedRequest& request) {
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos ||
      sp1 == 0 || sp2 == sp1 + 1 || sp2 + 1 == line.size()) {
    return false;
  }
  request.method = line.substr(0, sp1);
  request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  request.version = line.substr(sp2 + 1);
  return true;
}

// The size of a chunk-size line ("1a", "1a;ext"), or nullopt when malformed or when it
// would take the body past its limit.
std::optional<std::size_t> ChunkSize(std::string_view line, std::size_t bodySoFar) {
  std::size_t size = 0, digits = 0;
  for (char c : line) {
    const int v = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
    if (v < 0) break;
    size = size * 16 + static_cast<std::size_t>(v);
    if (++digits > 8 || bodySoFar + size > kMaxBodyBytes) break;
  }
  if (digits == 0 || digits > 8 || bodySoFar + size > kMaxBodyBytes ||
      (digits < line.size() && line[digits] != ';' && line[digits] != ' ' &&
       line[digits] != '\t')) {
    return std::nullopt;
  }
  return size;
}

}  // namespace

std::optional<std::string> ReceivedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCase(key, name)) return value;
  }
  return std::nullopt;
}

ParseResult ParseRequest(std::string_view buffer, ReceivedRequest& out) {
  ReceivedRequest request;
  Lines lines(buffer);
  ParseResult result;
  std::string_view line;

  if (!NextLine(lines, line, result)) return result;
  if (!ParseRequestLine(line, request)) {
    return Malformed("malformed request line: " + std::string(line));
  }
  for (;;) {
    if (lines.pos > kMaxHeaderBytes) return Malformed("request header too large");
    if (!NextLine(lines, line, result)) return result;
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos || line[0] == ' ' || line[0] == '\t' ||
        line[colon - 1] == ' ' || line[colon - 1] == '\t') {
      return Malformed("malformed header line: " + std::string(line));
    }
    request.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
  }

  std::optional<std::size_t> contentLength;
  bool chunked = false;
  for (const auto& [name, value] : request.headers) {
    if (EqualsIgnoreCase(name, "Transfer-Encoding")) {
      std::string_view codings = value;
      const std::size_t comma = codings.rfind(',');
      if (comma != std::string_view::npos) codings.remove_prefix(comma + 1);
      chunked = EqualsIgnoreCase(Trim(codings), "chunked");
      if (!chunked) return Malformed("unsupported Transfer-Encoding: " + value);
    } else if (EqualsIgnoreCase(name, "Content-Length")) {
      std::size_t length = 0;
      bool valid = !value.empty();
      for (char c : value) {
        valid = valid && c >= '0' && c <= '9' && length <= kMaxBodyBytes;
        if (!valid) break;
        length = length * 10 + static_cast<std::size_t>(c - '0');
      }
      if (!valid || length > kMaxBodyBytes || (contentLength && *contentLength != length)) {
        return Malformed("bad or conflicting Content-Length: " + value);
      }
      contentLength = length;
    }
  }

  const std::optional<std::string> expect = request.Header("Expect");
  result.wantsContinue = expect && EqualsIgnoreCase(*expect, "100-continue") &&
                         request.version == "HTTP/1.1" &&
                         (chunked || contentLength.value_or(0) > 0);

  if (chunked) {
    for (;;) {
      if (!NextLine(lines, line, result)) return result;
      const std::optional<std::size_t> size = ChunkSize(line, request.body.size());
      if (!size) return Malformed("bad chunk size line: " + std::string(line));
      if (*size == 0) break;
      if (lines.Available() < *size) return result;
      request.body.append(lines.Take(*size));
      if (!NextLine(lines, line, result)) return result;
      if (!line.empty()) return Malformed("chunk data longer than its size");
    }
    // The trailer section, kept only in raw, is bounded like the header
    // section, so a client cannot grow the buffer without end one short line
    // at a time.
    const std::size_t trailerStart = lines.pos;
    do {
      if (!NextLine(lines, line, result)) return result;
      if (lines.pos - trailerStart > kMaxHeaderBytes) return Malformed("request trailer too large");
    } while (!line.empty());
  } else if (contentLength) {
    if (lines.Available() < *contentLength) return result;
    request.body = lines.Take(*contentLength);
  }

  request.raw = buffer.substr(0, lines.pos);
  result.status = ParseResult::kComplete;
  result.consumed = lines.pos;
  out = std::move(request);
  return result;
}

}  // namespace vizadavu::loopback
