// vizADAVU: an embeddable, synchronous HTTP form-submission control.
//
// A host fills the numbered form-variable table, sets URL and the options and
// assigns Action; the control runs the whole exchange before the assignment
// returns and reports through the host's vizADAVUEvents sink. The README has
// one page per member (synopsis, default, units, example, errors).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "vizadavu/ErrorCodes.h"
#include "vizadavu/Export.h"

namespace vizadavu {

using Integer = std::int16_t;
using Byte = std::uint8_t;
using Text = std::u16string;

namespace errors {
// A short English description of a code ("cannot connect to the server"), or
// "unknown error" for a code this library never produces.
VIZADAVU_EXPORT std::string_view Describe(Long code) noexcept;

// The code an Error event's message carries: decimal digits with an optional
// leading '-', nothing else (no spaces, no sign '+'), within the range of Long.
// Anything else gives no code.
VIZADAVU_EXPORT std::optional<Long> CodeOf(const Text& ErrorMessage);
}  // namespace errors

// The codes of the Status event, in the order they are raised.
namespace status {
inline constexpr Long SendingRequest = 21;  // the form body is about to go out
inline constexpr Long RequestSent = 30;     // sent; the reply is read next
}  // namespace status

// The host's event sink. Events are raised synchronously from inside the
// assignment of Action, on the caller's thread.
class VIZADAVU_EXPORT vizADAVUEvents {
 public:
  virtual ~vizADAVUEvents() = default;
  // The transfer ended and the whole reply was read.
  virtual void EndTransfer() {}
  // Progress: status::SendingRequest, then status::RequestSent; Description
  // is empty.
  virtual void Status(Long StatusCode, const Text& Description) {
    (void)StatusCode;
    (void)Description;
  }
  // The transfer failed; ErrorMessage is the decimal error code (see errors,
  // errors::CodeOf).
  virtual void Error(const Text& ErrorMessage) { (void)ErrorMessage; }
};

// The form container's message loop. DoEvents processes every waiting message
// and returns at once when there is none.
class VIZADAVU_EXPORT MessageLoop {
 public:
  virtual ~MessageLoop() = default;
  virtual void DoEvents() = 0;
  // Optional: returns true once a message has arrived (it may process it, as
  // DoEvents would) or `timeout` has passed, whichever comes first. A loop
  // that can wait for its messages lets the control's one-second pause sleep
  // between them instead of waking every millisecond. The default returns
  // false at once: the pause then rests 1 ms between its passes.
  virtual bool WaitForEvents(std::chrono::milliseconds timeout) {
    (void)timeout;
    return false;
  }
};

namespace detail {
struct State;
}  // namespace detail

// Conversions for Linux hosts, which speak UTF-8. Invalid input (malformed
// UTF-8, unpaired surrogates) becomes U+FFFD; nothing is dropped silently.
VIZADAVU_EXPORT Text Utf8ToText(std::string_view utf8);
VIZADAVU_EXPORT std::string TextToUtf8(const Text& text);

// The control's code page (Windows-1252, lossless for all 256 byte values).
// TextToAnsi turns a character with no code into "?": one "?" for a character
// outside the Basic Multilingual Plane (a surrogate pair), and one for an
// unpaired surrogate.
VIZADAVU_EXPORT Text AnsiToText(std::string_view bytes);
VIZADAVU_EXPORT std::string TextToAnsi(const Text& text);

// The forward proxy the built-in internet service takes from the environment
// for a request to `host` (plain HTTP when secureModeOff, else TLS), as
// "scheme://host:port" as written there; "" when there is none or no_proxy
// names the host. The README's "Proxies" has the rules. For messages: a host
// that reports a failed transfer can say which proxy was in the way.
VIZADAVU_EXPORT std::string EnvironmentProxy(std::string_view host, bool secureModeOff);

class VIZADAVU_EXPORT vizADAVU {
 public:
  explicit vizADAVU(vizADAVUEvents* events = nullptr, MessageLoop* loop = nullptr);
  // May run from the control's own event handlers or DoEvents while its
  // transfer runs: the transfer then stops there (handles closed, no further
  // event, nothing of the control touched) and Action returns normally; its
  // caller must not touch the control afterwards.
  ~vizADAVU();
  vizADAVU(const vizADAVU&) = delete;
  vizADAVU& operator=(const vizADAVU&) = delete;

  // Public variables.
  bool Secure_Mode_Off = false;     // false: TLS to port 443; true: plain HTTP to port 80
  Long SecurityFlags = 0;           // held for the host; no request reads it
  Long ReceiveBufferSize = -1;      // < 0: chunked read into ReceiveBuffer; >= 0: one read
  bool YieldWhileWaiting = false;   // true: DoEvents at least every 20 ms of network waiting
  bool StrictCertificates = false;  // true: TLS also checks the server certificate's dates and name

  // Runs one transfer: 1 = POST, anything else = GET. Throws std::overflow_error
  // outside -32768..32767 (nothing runs), std::logic_error while a transfer runs.
  void Action(Long a_Action);

  Text URL() const;
  void URL(const Text& NewURL);

  // Index is range-checked as an Integer: std::overflow_error outside 16 bits,
  // std::out_of_range outside the table (or with no table).
  Text FormVarNames(Long Index) const;
  void FormVarNames(Long Index, const Text& NewData);
  Text FormVarValues(Long Index) const;
  void FormVarValues(Long Index, const Text& NewData);
  Integer FormVarCount() const;
  void FormVarCount(Long Count);

  Byte ReceiveBufferB(Long ByteNum) const;
  Text ReceiveBuffer() const;
  Text StringB() const;
  Long ReceiveBufferArraySize() const;

  // Read-only views of the reply, for hosts that pass big replies on without
  // copying them. Like a buffer libcurl hands to a callback, a view belongs to
  // the control: it stays valid until the next Action or Clear on this control
  // (or its destruction) and must not be used after that.
  struct ByteView {
    const Byte* data = nullptr;
    std::size_t size = 0;
    const Byte* begin() const noexcept { return data; }
    const Byte* end() const noexcept { return data + size; }
  };
  // The reply text: what ReceiveBuffer returns a copy of.
  std::u16string_view ReceiveBufferView() const noexcept;
  // The bytes the single read delivered (ReceiveBufferSize >= 0): what StringB
  // returns as text, ReceiveBufferArraySize + 1 bytes. Empty after a chunked read.
  ByteView StringBView() const noexcept;
  // Bytes of the reply body received so far by the transfer running, or by the
  // last one: a counter, cheap enough to read from every Status or DoEvents.
  // A chunked read moves it read by read; a single read moves it each time the
  // control yields while it waits (YieldWhileWaiting). 0 before the first
  // transfer and after Clear.
  std::uint64_t BytesReceived() const noexcept;

  void Clear();
  // Ends a running transfer at the control's next chance (Error 12017); does
  // nothing outside a transfer. Allowed from event handlers and DoEvents, and
  // the one member that may be called from any thread (the control must
  // outlive the call).
  void Cancel() noexcept;
  // The status code of the last reply's status line; 0 when there was none.
  Long HttpStatusCode() const;
  Text URLEncode(const Text& sRawURL) const;

  // The control's face on the host form, in pixels.
  static constexpr int Width() { return 32; }
  static constexpr int Height() { return 32; }

 private:
  std::unique_ptr<detail::State> state_;
};

}  // namespace vizadavu
