// One sent request on libcurl's multi interface: the easy handle in a multi
// handle of its own, the body callbacks and the loop that drives them.
//
// SendRequest drives the transfer until the final reply headers are in; each
// read drives it until the caller's buffer is full or the body ends. The body
// callback copies straight into the buffer of the read in progress and keeps
// whatever does not fit in a staging buffer (kStageBytes); once that is full
// the callback pauses the transfer, so nothing more is taken off the
// connection until a read asks for it. Callbacks only move bytes and note
// state: whatever the caller supplies (the wait callback) runs from the
// driving loop, between libcurl's calls.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/Internet.h"
#include "platform/Memory.h"
#include "platform/curl/CurlLibrary.h"
#include "platform/curl/CurlSecurity.h"
#include "platform/curl/ReplyFraming.h"

namespace vizadavu::platform {

// libcurl's receive buffer, and so the most body one delivery carries: far
// larger than its 16 KiB default, so a long reply takes fewer receive calls and
// fewer rounds of the transfer loop, yet under the C allocator's mapping
// threshold (128 KiB, libcurl's one byte more and the block's header included),
// so it comes from the heap, which reuses it: a buffer of its own mapping had
// every page faulted in by the wipe when freed, which cost a small transfer
// about a millisecond and 256 KiB of resident memory. Against 64 KiB, a warm
// 16 MiB single read was faster in 9 of 10 interleaved rounds (median 14 %);
// 256 KiB was no faster than this.
inline constexpr std::size_t kReceiveBufferBytes = (std::size_t{128} << 10) - 1024;

// The most body held between two reads: what one round of libcurl's work may
// deliver beyond the read in progress (it reads the socket while data waits)
// before the transfer pauses. Allocated when first needed, wiped when freed.
inline constexpr std::size_t kStageBytes = std::size_t{256} << 10;

// Milliseconds; 0 or 0xFFFFFFFF means no limit. These are the boundary's own
// defaults, for a caller that sets none, as WinINet has defaults of its own; the
// control always sets all three to its values (30 s connect, 120 s receive,
// 60 s send) before it sends, so they never apply to a transfer of the control.
struct Timeouts {
  std::uint32_t connectMs = 60000;
  std::uint32_t sendMs = 30000;
  std::uint32_t receiveMs = 30000;
};

// Everything a transfer is built from, as the handle table holds it.
struct TransferSetup {
  std::string_view agent;  // empty: no User-Agent
  bool direct = false;     // no proxy, whatever the environment says
  std::string_view host;   // as it goes into a URL
  std::uint16_t port = 0;
  bool post = false;  // POST, else GET
  std::string_view target;
  long httpVersion = CURL_HTTP_VERSION_1_1;
  std::uint32_t flags = 0;
  const std::vector<std::string>* headers = nullptr;  // "Name: value"
  Timeouts timeouts;
  WaitCallback waitCallback;    // called while a send or read blocks; may be empty
  Memory* memory = nullptr;     // where reply bytes wait ahead of a read; null: the system's
  CurlLibrary* curl = nullptr;  // adds the handle to the multi handle; null: the real one
};

class CurlTransfer {
 public:
  // Builds the transfer; nothing is sent yet. Throws std::bad_alloc.
  // `error` is codes::None on success.
  static std::unique_ptr<CurlTransfer> Start(const TransferSetup& setup,
                                             std::optional<std::string_view> body,
                                             ErrorCode& error);
  ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  // Sends the request and waits for the final reply headers.
  ErrorCode AwaitHeaders();
  // Reads up to `wanted` body bytes into `buffer`; bytesRead counts them even
  // when the read fails. A failure is reported once every good byte before it
  // has been handed out, and then on every later read.
  ErrorCode Read(std::uint8_t* buffer, std::uint32_t wanted, std::uint32_t& bytesRead);
  // One call at a time drives a transfer: Claim is false while another holds it.
  bool Claim() noexcept { return !busy_.exchange(true); }
  void Release() noexcept { busy_.store(false); }
  bool Busy() const noexcept { return busy_.load(); }
  // Whether a wait of this transfer calls the caller's wait callback.
  bool CallsBack() const noexcept { return static_cast<bool>(waitCallback_); }
  // The status code of the final reply headers; 0 before them.
  std::uint32_t StatusCode() const;

 private:
  using SteadyClock = std::chrono::steady_clock;
  CurlTransfer() = default;

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user);
  static int OnProgress(void* user, curl_off_t, curl_off_t dlNow, curl_off_t, curl_off_t ulNow);
  static int OnPrereq(void* user, char*, char*, int, int);

  ErrorCode Configure(const TransferSetup& setup, std::optional<std::string_view> body);
  ErrorCode Drive(bool (*satisfied)(const CurlTransfer&));
  void Continue(bool (*satisfied)(const CurlTransfer&));
  ErrorCode FinalError() const;
  bool CutBeforeCloseNotify() const;
  // `error`, or 8 when libcurl was refused memory during this transfer: it
  // reports some refusals as something else (12004, 12007, 12152).
  ErrorCode Failure(ErrorCode error);
  void ReleaseStage() noexcept;
  bool Staged() const { return stageEnd_ > stageBegin_; }
  void DrainStage();
  void Prefault(std::size_t end) noexcept;
  bool ReserveStage(std::size_t bytes, bool& refused);
  bool Sending() const { return connected_ && !done_ && ulNow_ < uploadSize_; }

  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  Timeouts timeouts_;
  WaitCallback waitCallback_;

  // Body bytes delivered by libcurl but not yet read: [stageBegin_, stageEnd_).
  Memory* memory_ = nullptr;  // the staging buffer's, wiped before it goes back
  std::uint8_t* stage_ = nullptr;
  std::size_t stageCap_ = 0;
  std::size_t stageBegin_ = 0;
  std::size_t stageEnd_ = 0;

  // The buffer of the read in progress (null between reads).
  std::uint8_t* dst_ = nullptr;
  std::size_t dstCap_ = 0;
  std::size_t dstLen_ = 0;
  std::size_t dstReady_ = 0;            // bytes from its start made present ahead of the data
  std::uint32_t* readCount_ = nullptr;  // the caller's count, kept current while waiting

  std::atomic<bool> busy_{false};
  bool secure_ = false;       // TLS
  bool paused_ = false;       // the write callback returned CURL_WRITEFUNC_PAUSE
  bool refused_ = false;      // an allocation of libcurl's was refused
  bool connected_ = false;    // connection (and TLS) set up, request about to go out
  bool headersDone_ = false;  // final reply headers received
  bool done_ = false;         // libcurl finished the transfer with `result_`
  CURLcode result_ = CURLE_OK;
  ErrorCode error_ = codes::None;  // sticky error, reported once the data is out

  TlsWatch tls_;
  ReplyFraming framing_;

  curl_off_t uploadSize_ = 0;
  curl_off_t ulNow_ = 0;
  curl_off_t dlNow_ = 0;
  SteadyClock::time_point lastActivity_{};
};

}  // namespace vizadavu::platform
