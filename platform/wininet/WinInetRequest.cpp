// Sending a request and reading its body over WinINet, synchronously or, with a
// wait callback, in WinINet's asynchronous mode with the wait in slices.
#include "platform/wininet/WinInetRequest.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "platform/Ascii.h"

namespace vizadavu::platform::wininet {
namespace {

// The most one asynchronous read stages at a time.
constexpr DWORD kStageBytes = 64 * 1024;
// The most lines of one header name looked at (WinINet counts them up).
constexpr int kMaxLines = 64;

// A header's value as text, the `index`-th of its name; false when there is
// none. A value too long for the buffer comes back as "overlong", which no
// check takes.
bool QueryText(HINTERNET request, DWORD level, DWORD& index, std::string& value) {
  char buffer[128] = {};
  DWORD length = sizeof buffer - 1;
  if (HttpQueryInfoA(request, level, buffer, &length, &index)) {
    value.assign(buffer, std::min<DWORD>(length, sizeof buffer - 1));
    return true;
  }
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  value = "overlong";
  ++index;
  return true;
}

// The numbers of one Content-Length line ("5" or a list "5, 5"); false when an
// element is not a decimal number or overflows 63 bits.
bool ParseLengths(std::string_view text, std::optional<std::uint64_t>& length) {
  while (!text.empty()) {
    const std::size_t comma = std::min(text.find(','), text.size());
    std::string_view item = text.substr(0, comma);
    text.remove_prefix(std::min(comma + 1, text.size()));
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    if (item.empty()) return false;
    std::uint64_t value = 0;
    for (const char c : item) {
      if (c < '0' || c > '9') return false;
      const auto digit = static_cast<std::uint64_t>(c - '0');
      if (value > (std::uint64_t{1} << 62) / 5) return false;  // value * 10 past 2^63
      value = value * 10 + digit;
      if (value >= (std::uint64_t{1} << 63)) return false;
    }
    if (length && *length != value) return false;
    length = value;
  }
  return true;
}

bool IsChunked(HINTERNET request) {
  DWORD index = 0;
  std::string value;
  for (int line = 0;
       line < kMaxLines && QueryText(request, HTTP_QUERY_TRANSFER_ENCODING, index, value); ++line) {
    for (char& c : value) c = AsciiLower(c);
    if (value.find("chunked") != std::string::npos) return true;
  }
  return false;
}

// Waits for the pending asynchronous call of `exchange` to complete, calling the
// wait callback between slices of at most kWaitCallbackInterval. When the
// callback says stop, the request handle is closed (ending the call on
// Windows) and the wait fails with 12017; the state stays WinINet's until it
// reports the handle closing.
ErrorCode AwaitCompletion(Exchange& exchange) {
  AsyncState& state = *exchange.async;
  const DWORD slice =
      exchange.waitCallback
          ? static_cast<DWORD>(std::chrono::milliseconds(inet::kWaitCallbackInterval).count())
          : INFINITE;
  for (;;) {
    const DWORD waited = WaitForSingleObject(state.event, slice);
    if (waited == WAIT_OBJECT_0) break;
    if (waited != WAIT_TIMEOUT) return static_cast<ErrorCode>(GetLastError());
    if (!exchange.waitCallback()) {
      InternetCloseHandle(exchange.handle);
      exchange.handle = nullptr;
      return codes::Cancelled;
    }
  }
  // dwResult says whether the call succeeded; dwError is then its code, or for
  // a query of the data available the count (as wine gives it).
  if (state.result.load() != 0) return codes::None;
  const DWORD error = state.error.load();
  return error != 0 ? static_cast<ErrorCode>(error) : codes::InternalError;
}

// The outcome of a call that returned FALSE, waiting when it went pending.
ErrorCode Pending(Exchange& exchange) {
  if (exchange.async == nullptr || GetLastError() != ERROR_IO_PENDING) return LastWinError();
  return AwaitCompletion(exchange);
}

// Up to `wanted` bytes of what has arrived into `buffer`, waiting until some
// has or the body ends (0). It first waits with InternetQueryDataAvailable, so
// that the read takes only what is there: WinINet drops the bytes a read
// gathered when it then fails.
ErrorCode ReadOnce(Exchange& exchange, std::uint8_t* buffer, DWORD wanted, DWORD& got) {
  got = 0;
  if (exchange.async == nullptr) {
    DWORD available = 0;
    if (!InternetQueryDataAvailable(exchange.handle, &available, 0, 0)) return LastWinError();
    const DWORD ask = available > 0 ? std::min(wanted, available) : wanted;
    if (InternetReadFile(exchange.handle, buffer, ask, &got)) return codes::None;
    got = 0;
    return LastWinError();
  }
  // WinINet writes into the shared state, which outlives a cancelled read.
  AsyncState& state = *exchange.async;
  if (state.staging.size() < kStageBytes) state.staging.resize(kStageBytes);
  ResetEvent(state.event);
  ErrorCode error = codes::None;
  state.available = 0;
  state.error.store(0);
  if (!InternetQueryDataAvailable(exchange.handle, &state.available, 0, 0)) {
    error = Pending(exchange);
    // A completion may carry the count in dwError rather than in the variable.
    if (error == codes::None && state.available == 0) state.available = state.error.load();
  }
  if (error != codes::None) return error;
  // Wine completes an asynchronous read only once it is full, so it asks for
  // what is there when WinINet said.
  DWORD ask = std::min(wanted, kStageBytes);
  if (state.available > 0) ask = std::min(ask, state.available);
  state.bytesRead = 0;
  ResetEvent(state.event);
  if (!InternetReadFile(exchange.handle, state.staging.data(), ask, &state.bytesRead)) {
    error = Pending(exchange);
  }
  if (error != codes::None) return error;
  got = std::min(state.bytesRead, ask);
  std::memcpy(buffer, state.staging.data(), got);
  SecureWipe(state.staging.data(), got);
  return codes::None;
}

}  // namespace

ErrorCode CheckReply(HINTERNET request, ReplyFraming& framing) {
  framing = {};
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr) ||
      status < 100 || status > 999) {
    return codes::InvalidServerResponse;
  }
  // A switch of protocols leaves no HTTP body to read.
  if (status == 101) return codes::InvalidServerResponse;
  std::optional<std::uint64_t> length;
  DWORD index = 0;
  std::string value;
  for (int line = 0;
       line < kMaxLines && QueryText(request, HTTP_QUERY_CONTENT_LENGTH, index, value); ++line) {
    if (!ParseLengths(value, length)) return codes::InvalidServerResponse;
  }
  framing.statusCode = status;
  const bool bodiless = status < 200 || status == 204 || status == 304;
  if (length && !bodiless && !IsChunked(request)) framing.contentLength = length;
  return codes::None;
}

ErrorCode Send(Exchange& exchange, std::optional<std::string_view> body) {
  if (body && body->size() > std::numeric_limits<DWORD>::max()) return codes::InvalidParameter;
  void* data = nullptr;
  DWORD length = 0;
  if (body && !body->empty()) {
    if (exchange.async != nullptr) {
      // The pending send reads the body after this call may have returned
      // (cancelled); WinINet reads a copy that is wiped when it is done.
      exchange.async->body.assign(body->begin(), body->end());
      data = exchange.async->body.data();
    } else {
      data = const_cast<char*>(body->data());
    }
    length = static_cast<DWORD>(body->size());
  }
  ErrorCode error = codes::None;
  if (exchange.async != nullptr) ResetEvent(exchange.async->event);
  if (!HttpSendRequestA(exchange.handle, nullptr, 0, data, length)) error = Pending(exchange);
  if (exchange.async != nullptr && exchange.handle != nullptr) {
    std::vector<char, WipingAllocator<char>>().swap(exchange.async->body);
  }
  if (error != codes::None) return error;
  return CheckReply(exchange.handle, exchange.framing);
}

ErrorCode Read(Exchange& exchange, std::uint8_t* buffer, std::uint32_t wanted,
               std::uint32_t& bytesRead) {
  while (bytesRead < wanted && !exchange.ended) {
    DWORD got = 0;
    const ErrorCode error = ReadOnce(exchange, buffer + bytesRead, wanted - bytesRead, got);
    if (error != codes::None) return error;
    if (got == 0) {
      exchange.ended = true;
      // WinINet ends a body cut short of its Content-Length as if it were whole.
      const auto& length = exchange.framing.contentLength;
      if (length && exchange.delivered < *length) return codes::ConnectionAborted;
      break;
    }
    bytesRead += got;
    exchange.delivered += got;
  }
  return codes::None;
}

}  // namespace vizadavu::platform::wininet
