// One sent request on libcurl's multi interface: the easy handle in a multi
// handle of its own, the body callbacks and the loop that drives them.
//
// SendRequest drives the transfer until the final reply headers are in; each
// read drives it until the caller's buffer is full or the body ends. The body
// callback copies straight into the buffer of the read in progress and keeps
// whatever does not fit in a staging buffer of one delivery; once that is
// occupied the callback pauses the transfer, so nothing more is taken off the
// connection until a read asks for it.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CurlSecurity.h"
#include "platform/CurlServices.h"
#include "platform/ErrorCodes.h"
#include "platform/Internet.h"
#include "platform/Memory.h"
#include "platform/ReplyFraming.h"

namespace vizadavu::platform {

// libcurl's receive buffer, and so the most body one delivery carries: larger
// than its 16 KiB default, so a long reply takes fewer receive calls and fewer
// rounds of the transfer loop, yet under the C allocator's mapping threshold
// (128 KiB), so it comes from the heap, which reuses it: a buffer of its own
// mapping had every page faulted in by the wipe when freed, which cost a small
// transfer about a millisecond and 256 KiB of resident memory.
inline constexpr std::size_t kReceiveBufferBytes = std::size_t{64} << 10;

// Milliseconds; 0 or 0xFFFFFFFF means no limit.
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
  WaitCallback waitCallback;  // called while a send or read blocks; may be empty
  Memory* memory = nullptr;   // where reply bytes wait ahead of a read; null: the system's
  // The staging buffer to start with. A delivery larger than it (up to
  // kReceiveBufferBytes) grows it; reads into the caller's buffer and
  // ReadChunks stage nothing as long as the caller keeps reading.
  std::size_t stageBytes = CURL_MAX_WRITE_SIZE;
  CurlServices* curl = nullptr;  // adds the handle to the multi handle; null: the real one
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
  // Runs the loop of ChunkSink (platform/Internet.h), copying each delivery
  // straight into the sink's buffer; what a stopping sink leaves of a delivery
  // is staged for a later read. `failed` tells whether the last read the sink
  // saw failed; the code is then returned. An exception from the sink stops
  // the loop and comes back in `thrown`.
  ErrorCode ReadChunks(ChunkSink& sink, bool& failed, std::exception_ptr& thrown);
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
  bool ReserveStage(std::size_t bytes);
  std::size_t FeedSink(const std::uint8_t* data, std::size_t n);
  void EndChunk(bool ok) noexcept;
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
  std::uint32_t* readCount_ = nullptr;  // the caller's count, kept current while waiting

  // The chunk loop in progress (sink_ null outside ReadChunks): its buffer and
  // how much of it the current read has filled.
  ChunkSink* sink_ = nullptr;
  std::uint8_t* chunk_ = nullptr;
  std::size_t chunkCap_ = 0;
  std::size_t chunkLen_ = 0;
  bool sinkStopped_ = false;  // the sink said stop, or threw
  bool chunkFailed_ = false;  // the last read the sink saw failed
  std::exception_ptr sinkThrew_;

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
