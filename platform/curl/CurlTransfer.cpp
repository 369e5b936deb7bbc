#include "platform/curl/CurlTransfer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "platform/SecureMemory.h"
#include "platform/curl/CurlErrors.h"
#include "platform/curl/CurlMemory.h"

namespace vizadavu::platform {
namespace {

constexpr std::uint32_t kNoLimit = std::numeric_limits<std::uint32_t>::max();
// The longest single wait in the poll loop; time-outs are checked at least this often.
constexpr int kMaxPollMs = 1000;
// How often a blocked call aims to call its wait callback: half the promised
// interval, so a slow round of libcurl work still keeps within it.
constexpr auto kWaitCallbackPeriod = inet::kWaitCallbackInterval / 2;

// Calls a wait callback every kWaitCallbackPeriod of a blocked call and
// shortens the next wait so that the following call comes on time.
class WaitTicker {
 public:
  using Clock = std::chrono::steady_clock;
  explicit WaitTicker(const WaitCallback& callback) : callback_(callback), last_(Clock::now()) {}

  // False once the callback asked to stop.
  bool Tick(int& waitMs) {
    if (!callback_) return true;
    auto now = Clock::now();
    if (now - last_ >= kWaitCallbackPeriod) {
      bool goOn = false;
      try {
        goOn = callback_();
      } catch (...) {  // a callback must not throw; one that does stops the call
      }
      if (!goOn) return false;
      last_ = now = Clock::now();
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(kWaitCallbackPeriod - (now - last_)).count();
    waitMs = std::min(waitMs, static_cast<int>(std::max<long long>(left, 0)));
    return true;
  }

 private:
  const WaitCallback& callback_;
  Clock::time_point last_;
};

}  // namespace

CurlTransfer::~CurlTransfer() {
  if (multi_ != nullptr && easy_ != nullptr) curl_multi_remove_handle(multi_, easy_);
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
  curl_slist_free_all(headers_);
  ReleaseStage();
}

void CurlTransfer::ReleaseStage() noexcept {
  if (stage_ != nullptr) {
    SecureWipe(stage_, stageCap_);
    memory_->Free(stage_);
  }
  stage_ = nullptr;
  stageCap_ = stageBegin_ = stageEnd_ = 0;
}

// Moves staged bytes into the read buffer.
void CurlTransfer::DrainStage() {
  const std::size_t take = std::min(stageEnd_ - stageBegin_, dstCap_ - dstLen_);
  if (take == 0) return;
  Prefault(dstLen_ + take);
  std::memcpy(dst_ + dstLen_, stage_ + stageBegin_, take);
  dstLen_ += take;
  stageBegin_ += take;
  if (stageBegin_ == stageEnd_) stageBegin_ = stageEnd_ = 0;
}

// A long read's buffer has its pages made present a step at a time ahead of
// the bytes arriving (through the first step boundary at or past `end`),
// instead of faulted in one by one by the copies into it.
void CurlTransfer::Prefault(std::size_t end) noexcept {
  if (dstCap_ < kPrefaultStep || end <= dstReady_) return;
  const std::size_t ready = std::min(dstCap_, (end / kPrefaultStep + 1) * kPrefaultStep);
  memory_->Prefault(dst_ + dstReady_, ready - dstReady_);
  dstReady_ = ready;
}

// The error of a finished transfer: one of our own callbacks' if one failed it.
ErrorCode CurlTransfer::FinalError() const {
  if (error_ != codes::None) return error_;
  CurlFailure f;
  f.code = result_;
  curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &f.osErrno);
  curl_easy_getinfo(easy_, CURLINFO_SSL_VERIFYRESULT, &f.verifyResult);
  curl_easy_getinfo(easy_, CURLINFO_HEADER_SIZE, &f.headerBytes);
  f.phase = !connected_    ? CurlPhase::kConnecting
            : headersDone_ ? CurlPhase::kReplyBody
                           : CurlPhase::kReplyHeaders;
  f.badSignature = tls_.badServerSignature;
  f.leafDatesInvalid = tls_.leafDatesInvalid;
  f.certificateRequested = tls_.certificateRequested;
  return ErrorForCurl(f);
}

// Over TLS, a body that only the close ends (no Content-Length, not chunked,
// a status that has a body) is whole only when the server said so with its
// close_notify; a bare close may be an attacker cutting the reply short.
bool CurlTransfer::CutBeforeCloseNotify() const {
  if (!secure_ || !headersDone_ || tls_.closeNotify || framing_.LengthKnown()) return false;
  long status = 0;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  return status >= 200 && status != 204 && status != 304;
}

// Makes room for `bytes` more staged bytes at the stage's end; false when they
// do not fit. The stage is allocated the first time a delivery does not fit the
// read in progress, and kept for the rest of the transfer; `refused` tells
// that its memory could not be had.
bool CurlTransfer::ReserveStage(std::size_t bytes, bool& refused) {
  refused = false;
  if (stage_ == nullptr) {
    stage_ = static_cast<std::uint8_t*>(memory_->Allocate(kStageBytes, false));
    if (stage_ == nullptr) {
      refused = true;
      return false;
    }
    stageCap_ = kStageBytes;
  }
  if (stageEnd_ + bytes <= stageCap_) return true;
  if (stageBegin_ == 0 || stageEnd_ - stageBegin_ + bytes > stageCap_) return false;
  std::memmove(stage_, stage_ + stageBegin_, stageEnd_ - stageBegin_);
  stageEnd_ -= stageBegin_;
  stageBegin_ = 0;
  return true;
}

// libcurl delivers each piece of body at most once per call and re-delivers it
// after a pause, so a piece is taken whole or not at all. One round of
// libcurl's work hands over every piece its socket reads brought (16 KiB each);
// what does not fit the read in progress is staged, and only a piece that no
// longer fits the stage pauses the transfer, so that libcurl, which keeps a
// paused piece in a buffer of its own and hands it over again, rarely has to.
std::size_t CurlTransfer::OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<CurlTransfer*>(user);
  const std::size_t n = size * count;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
  // Staged bytes go out first: nothing more reaches the read before them.
  const std::size_t taken = t.Staged() ? 0 : std::min(n, t.dstCap_ - t.dstLen_);
  const std::size_t rest = n - taken;
  if (rest > 0) {
    bool refused = false;
    if (!t.ReserveStage(rest, refused)) {
      if (refused) {
        t.error_ = codes::NotEnoughMemory;
        return 0;  // fails the transfer with CURLE_WRITE_ERROR
      }
      t.paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
  }
  if (taken > 0) {
    t.Prefault(t.dstLen_ + taken);
    std::memcpy(t.dst_ + t.dstLen_, bytes, taken);
    t.dstLen_ += taken;
  }
  if (rest > 0) {
    std::memcpy(t.stage_ + t.stageEnd_, bytes + taken, rest);
    t.stageEnd_ += rest;
  }
  t.lastActivity_ = SteadyClock::now();
  return n;
}

std::size_t CurlTransfer::OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<CurlTransfer*>(user);
  const std::size_t n = size * count;
  t.lastActivity_ = SteadyClock::now();
  const std::string_view line(data, n);
  if (t.framing_.AtStatusLine()) {
    // This client never asks to switch protocols: a 101 reply is invalid.
    long status = 0;
    curl_easy_getinfo(t.easy_, CURLINFO_RESPONSE_CODE, &status);
    if (status == 101) {
      t.error_ = codes::InvalidServerResponse;
      return 0;  // fails the transfer with CURLE_WRITE_ERROR
    }
  }
  // libcurl ends the header section at any line that starts with CR or LF
  // ("\rx\r\n" included), which other parsers read as a header: ambiguous
  // framing, refused like a bad Content-Length. Left alone, the body that
  // followed would arrive while this side still waited for the headers.
  const bool blank = (n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n');
  const bool endsHeaders = n > 0 && (data[0] == '\r' || data[0] == '\n');
  if ((endsHeaders && !blank) || !t.framing_.Line(line)) {
    t.error_ = codes::InvalidServerResponse;
    return 0;
  }
  if (blank && !t.headersDone_) {
    long status = 0;
    curl_easy_getinfo(t.easy_, CURLINFO_RESPONSE_CODE, &status);
    if (status < 100 || status >= 200) {
      t.headersDone_ = true;
    } else {
      t.framing_.InterimEnded();  // 1xx: the reply's own head follows
    }
  }
  return n;
}

int CurlTransfer::OnProgress(void* user, curl_off_t, curl_off_t dlNow, curl_off_t,
                             curl_off_t ulNow) {
  auto& t = *static_cast<CurlTransfer*>(user);
  if (dlNow != t.dlNow_ || ulNow != t.ulNow_) {
    t.dlNow_ = dlNow;
    t.ulNow_ = ulNow;
    t.lastActivity_ = SteadyClock::now();
  }
  return 0;
}

int CurlTransfer::OnPrereq(void* user, char*, char*, int, int) {
  auto& t = *static_cast<CurlTransfer*>(user);
  t.connected_ = true;
  t.lastActivity_ = SteadyClock::now();
  return CURL_PREREQFUNC_OK;
}

ErrorCode CurlTransfer::Failure(ErrorCode error) {
  if (CurlAllocationRefused()) refused_ = true;
  return error != codes::None && refused_ ? codes::NotEnoughMemory : error;
}

// Runs the transfer until `satisfied` holds or it ends. The wait for progress
// starts now: time the transfer sat idle between calls is not counted.
ErrorCode CurlTransfer::Drive(bool (*satisfied)(const CurlTransfer&)) {
  lastActivity_ = SteadyClock::now();
  WaitTicker ticker(waitCallback_);
  for (;;) {
    if (satisfied(*this) || done_) return codes::None;
    int running = 0;
    CURLMcode mc = curl_multi_perform(multi_, &running);
    if (mc != CURLM_OK) return MultiErrorForCurl(mc);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_) {
        done_ = true;
        result_ = msg->data.result;
        // Reported as libcurl reports a body shorter than its Content-Length.
        if (result_ == CURLE_OK && CutBeforeCloseNotify()) result_ = CURLE_PARTIAL_FILE;
      }
    }
    if (satisfied(*this) || done_) return codes::None;

    int waitMs = kMaxPollMs;
    if (connected_) {  // before that, CURLOPT_CONNECTTIMEOUT_MS is in charge
      const std::uint32_t limit = Sending() ? timeouts_.sendMs : timeouts_.receiveMs;
      if (limit != 0 && limit != kNoLimit) {
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() -
                                                                                lastActivity_)
                              .count();
        if (idle >= static_cast<long long>(limit)) return codes::Timeout;
        waitMs = static_cast<int>(std::min<long long>(waitMs, limit - idle));
      }
    }
    // A plain read shows its count so far to the wait callback's caller.
    if (readCount_ != nullptr) *readCount_ = static_cast<std::uint32_t>(dstLen_);
    if (!ticker.Tick(waitMs)) return codes::Cancelled;
    // Bytes arriving (or the socket taking more of the request) count as
    // activity even when they complete nothing libcurl reports: part of a
    // header line or chunk-size line, part of a TLS record.
    int events = 0;
    mc = curl_multi_poll(multi_, nullptr, 0, waitMs, &events);
    if (mc != CURLM_OK) return MultiErrorForCurl(mc);
    if (events > 0) lastActivity_ = SteadyClock::now();
  }
}

// With the staging empty, lets a paused transfer re-deliver what libcurl
// holds, then runs it until `satisfied` holds or it ends; a failure lands in
// error_.
void CurlTransfer::Continue(bool (*satisfied)(const CurlTransfer&)) {
  if (paused_) {
    paused_ = false;
    const CURLcode rc = curl_easy_pause(easy_, CURLPAUSE_CONT);
    if (rc != CURLE_OK) error_ = Failure(SetupErrorForCurl(rc));
  }
  if (error_ == codes::None) error_ = Failure(Drive(satisfied));
}

std::uint32_t CurlTransfer::StatusCode() const {
  long status = 0;
  if (!headersDone_) return 0;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  return status > 0 ? static_cast<std::uint32_t>(status) : 0;
}

ErrorCode CurlTransfer::AwaitHeaders() {
  ErrorCode error = Drive([](const CurlTransfer& t) { return t.headersDone_; });
  // Once the headers are in, a failure later in the body is for the reads to
  // report, after the bytes that came before it. A transfer that ended before
  // the blank line closing the headers was cut short, however libcurl saw it.
  if (error == codes::None && !headersDone_) {
    if (result_ != CURLE_OK) {
      error = FinalError();
    } else {
      error = error_ != codes::None ? error_ : codes::ConnectionAborted;
    }
  }
  return Failure(error);
}

ErrorCode CurlTransfer::Read(std::uint8_t* buffer, std::uint32_t wanted, std::uint32_t& bytesRead) {
  dst_ = buffer;
  dstCap_ = wanted;
  dstLen_ = dstReady_ = 0;
  readCount_ = &bytesRead;
  DrainStage();
  if (error_ == codes::None && dstLen_ < dstCap_ && !done_) {
    Continue([](const CurlTransfer& t) { return t.dstLen_ == t.dstCap_; });
  }
  if (error_ == codes::None && done_ && result_ != CURLE_OK && !Staged())
    error_ = Failure(FinalError());
  bytesRead = static_cast<std::uint32_t>(dstLen_);
  readCount_ = nullptr;
  dst_ = nullptr;
  dstCap_ = dstLen_ = dstReady_ = 0;
  // A failure is reported once every good byte before it has been handed out;
  // bytesRead still holds those of this call.
  return Staged() ? codes::None : error_;
}

}  // namespace vizadavu::platform
