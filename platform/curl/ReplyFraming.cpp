#include "platform/curl/ReplyFraming.h"

#include <limits>

namespace vizadavu::platform {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

// Case-insensitive comparison with a lower-case name.
bool Is(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != lower[i]) return false;
  }
  return true;
}

bool ListsChunked(std::string_view codings) {
  for (;;) {
    const std::size_t comma = codings.find(',');
    if (Is(Trim(codings.substr(0, comma)), "chunked")) return true;
    if (comma == std::string_view::npos) return false;
    codings.remove_prefix(comma + 1);
  }
}

// 1*DIGIT that fits in a curl_off_t (63 bits), or nullopt.
std::optional<std::uint64_t> Number(std::string_view text) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::int64_t>::max();
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kMax - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

void ReplyFraming::InterimEnded() {
  length_.reset();
  chunked_ = false;
  atStatusLine_ = true;
}

bool ReplyFraming::Line(std::string_view line) {
  if (atStatusLine_) {
    atStatusLine_ = false;
    return true;  // the status line carries no framing
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return true;
  std::string_view rest = line.substr(colon + 1);
  if (Is(line.substr(0, colon), "transfer-encoding")) {
    chunked_ = chunked_ || ListsChunked(rest);
    return true;
  }
  if (!Is(line.substr(0, colon), "content-length")) return true;
  for (;;) {
    const std::size_t comma = rest.find(',');
    const std::optional<std::uint64_t> value = Number(Trim(rest.substr(0, comma)));
    if (!value || (length_ && *length_ != *value)) return false;
    length_ = value;
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

}  // namespace vizadavu::platform
