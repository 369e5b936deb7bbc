// The internet boundary over libcurl (multi interface, OpenSSL back end).
//
// Behaviour worth knowing:
// - Connect and OpenRequest only record what they are given; name lookup,
//   connection, TLS and the request itself happen in SendRequest, which returns
//   once the final (non-1xx) reply headers have arrived.
// - The body is pulled off the connection only as ReadFile asks for it: at most
//   kStageBytes (256 KiB) of it is held between reads, so memory stays bounded
//   whatever the size of the reply. Held bytes are overwritten before release.
// - A send or read that waits calls the wait callback from its own loop,
//   between libcurl's calls and with no lock held; meanwhile another call on
//   the same request fails with 12019, and closing it takes effect once the
//   waiting call has returned.
// - A read that meets an error returns FALSE with the good bytes it gathered
//   before the error (often none); every later read fails with 0 bytes.
// - Time-outs (milliseconds): connect bounds connection set-up (lookup, TCP,
//   TLS); send and receive bound each wait for the request to move or for reply
//   bytes to arrive while a call is blocked (any byte arriving counts, even one
//   that completes no header line or chunk). None limits a whole transfer; time
//   spent between calls never counts. 0 or 0xFFFFFFFF means no limit (for
//   connect: libcurl's own 300 s).
// - TLS (1.2 or later) always verifies the chain against libcurl's CA bundle
//   and directory (SSL_CERT_FILE / SSL_CERT_DIR replace one each); a server
//   certificate outside its validity period is accepted only with
//   kFlagIgnoreCertDateInvalid (an issuer's never), a name mismatch only with
//   kFlagIgnoreCertCnInvalid. Key logging is off; sockets are close-on-exec.
// - Content-Length values that differ or do not parse, and a 101 reply, fail
//   the send with 12152.
// - The object name goes out as given (no decoding, no dot-segment removal,
//   bytes >= 0x80 kept), with a leading "/" added when missing and spaces sent
//   as %20; control bytes in it or in the server name fail with 12005. A plain
//   HTTP request that may go through a proxy from the environment carries the
//   whole URL instead, and libcurl then percent-encodes bytes >= 0x80 in the path.
// - AddRequestHeaders takes "Name: value" lines separated by CR LF; each replaces
//   a header of the same name (case-insensitive) or is added, an empty value
//   removes it. A line with a bare CR or LF, without a ':' or naming
//   Content-Length or Transfer-Encoding (framing is this layer's) fails with 87
//   and changes nothing. libcurl's own Accept, Expect and default Content-Type
//   are suppressed, so a request carries the added headers, User-Agent, Host and
//   (with a body, and always for POST) Content-Length.
// - Connect takes the host as the control split it: a name, an IPv4 address or
//   an IPv6 literal without brackets, and a port of 1..65535. It refuses a user
//   name or password (87): no authentication is done.
// - Only what the control uses is offered: OpenRequest takes GET (also for an
//   empty verb) and POST, anything else fails with 87; the access types are
//   preconfigured and direct; AddRequestHeaders ignores its modifiers. Header
//   removal (an empty value) and the direct access type are kept: both are
//   cheap, tested, and part of the boundary's model.
// - A wait callback set on a request is called about every 10 ms while
//   SendRequest or ReadFile blocks (within lookup, connect, TLS, sending and
//   waiting for bytes), with this object's lock held; when it returns false the
//   call fails with 12017 and the request can only be closed or sent again.
// - Handles are checked against the live handles of this object; a handle that
//   is unknown, closed, of the wrong kind or from another object fails with 6.
// - One object may be shared between threads (calls are serialised), but the
//   last error is per object, so a thread should own its object.
#pragma once

#include <memory>

#include "platform/Internet.h"
#include "platform/Memory.h"
#include "platform/curl/CurlLibrary.h"

namespace vizadavu::platform {

class CurlInternet final : public Internet {
 public:
  // Reply bytes that arrive ahead of a read wait in blocks from memory; what
  // libcurl is asked besides the transfer goes through curl.
  explicit CurlInternet(Memory& memory = SystemMemory(), CurlLibrary& curl = RealCurlLibrary());
  ~CurlInternet() override;
  CurlInternet(const CurlInternet&) = delete;
  CurlInternet& operator=(const CurlInternet&) = delete;

  Handle OpenSession(std::string_view agent, std::uint32_t accessType) override;
  Handle Connect(Handle session, std::string_view serverName, std::uint16_t port,
                 std::string_view userName, std::string_view password,
                 std::uint32_t service) override;
  Handle OpenRequest(Handle connection, std::string_view verb, std::string_view objectName,
                     std::string_view version, std::uint32_t flags) override;
  bool AddRequestHeaders(Handle request, std::string_view headers,
                         std::uint32_t modifiers) override;
  bool SetOption(Handle handle, std::uint32_t option, std::uint32_t value) override;
  bool SendRequest(Handle request, std::optional<std::string_view> body) override;
  bool ReadFile(Handle request, std::uint8_t* buffer, std::uint32_t wanted,
                std::uint32_t& bytesRead) override;
  bool SetWaitCallback(Handle request, WaitCallback callback) override;
  bool QueryInfo(Handle request, std::uint32_t infoLevel, std::uint32_t& value) override;
  bool CloseHandle(Handle handle) override;
  ErrorCode LastError() const override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vizadavu::platform
