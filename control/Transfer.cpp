// The transfer engine: one complete exchange per assignment of Action, driven
// step by step through the internet boundary, reporting only through events.
#include <chrono>
#include <exception>
#include <new>
#include <span>
#include <string>

#include "control/Encoding.h"
#include "control/State.h"
#include "control/Url.h"
#include "platform/CodePage.h"

namespace vizadavu::detail {
namespace {

namespace inet = platform::inet;
using platform::Handle;

constexpr std::string_view kAgent = "Tormelo/1.0";
constexpr std::string_view kVersion = "HTTP/1.0";
constexpr std::string_view kHeaders[] = {
    "Accept-Language: en\r\n",
    "Connection: Keep-Alive\r\n",
    "Content-Type: application/x-www-form-urlencoded\r\n",
};
constexpr std::uint32_t kHeaderFlags = inet::kAddReqFlagReplace | inet::kAddReqFlagAdd;
constexpr std::uint32_t kPlainFlags =
    inet::kFlagReload | inet::kFlagNoCacheWrite | inet::kFlagNoAutoRedirect;
// StrictCertificates drops the two ignore flags: the server certificate's
// dates and name are then checked like its chain.
constexpr std::uint32_t kStrictSecureFlags = kPlainFlags | inet::kFlagSecure;
constexpr std::uint32_t kSecureFlags =
    kStrictSecureFlags | inet::kFlagIgnoreCertDateInvalid | inet::kFlagIgnoreCertCnInvalid;
struct Option {
  std::uint32_t number;
  std::uint32_t milliseconds;
};
constexpr Option kTimeouts[] = {
    {inet::kOptionConnectTimeout, 30000},
    {inet::kOptionReceiveTimeout, 120000},
    {inet::kOptionSendTimeout, 60000},
};
constexpr std::chrono::seconds kPause{1};
// The shortest pass of the pause, and the longest rest between two passes
// with a loop that cannot wait for its messages.
constexpr std::chrono::milliseconds kPauseRest{1};
// The longest wait in a loop that can: a Cancel from another thread, which
// posts nothing to the host's loop, is seen within it.
constexpr std::chrono::milliseconds kPauseWait{100};
constexpr std::uint32_t kChunkSize = 2048;

// Thrown past the engine's own error handling when a host handler throws, so
// that the host's exception reaches the caller of Action after the handles close.
struct HostAbort {};
// Thrown past it when the host destroyed the control from a handler or its loop:
// the handles close and the transfer ends without another event.
struct ControlGone {};

class Transfer {
 public:
  Transfer(vizADAVU& control, State& s) : control_(control), s_(s) {
    s_.HttpStatusCode = 0;
    s_.run = State::Run::Running;
  }
  ~Transfer() {
    CloseHandles();
    s_.run = State::Run::Idle;
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  void Run(Integer action) {
    platform::ErrorCode code = platform::codes::None;
    try {
      code = Steps(action);
    } catch (const HostAbort&) {
      CloseHandles();
      std::rethrow_exception(hostException_);
    } catch (const ControlGone&) {
      CloseHandles();
      return;
    } catch (const std::bad_alloc&) {
      // A buffer or text of the control's own that cannot be had: what arrived
      // so far stays, and the transfer fails like any other step.
      code = Failed(errors::NotEnoughMemory);
    } catch (const std::exception&) {
      code = Failed(errors::InternalError);
    }
    CloseHandles();
    // The handles are closed, so a host exception from here on simply propagates.
    if (s_.events == nullptr || s_.abandoned) return;
    if (failed_) {
      const std::string text = std::to_string(code);
      s_.events->Error(Text(text.begin(), text.end()));
    } else {
      s_.events->EndTransfer();
    }
  }

 private:
  // Runs the exchange up to the read; returns the error code once failed_ is set.
  platform::ErrorCode Steps(Integer action) {
    platform::Internet& net = s_.internet;
    s_.ReceiveText.Wipe();
    s_.bytesReceived = 0;

    session_ = net.OpenSession(kAgent, inet::kOpenTypePreconfig);
    if (session_ == platform::kNullHandle) return Failed(net.LastError());

    const auto parts = SplitUrl(s_.URL);
    if (!parts || HasControlCharacter(s_.URL)) return Failed(errors::InvalidUrl);
    s_.ServerName = parts->ServerName;
    s_.ObjectName = parts->ObjectName;
    const auto address = AddressOf(*parts, control_.Secure_Mode_Off);
    if (!address) return Failed(errors::InvalidUrl);

    connection_ = net.Connect(session_, address->host, address->port, "", "", inet::kServiceHttp);
    if (connection_ == platform::kNullHandle) return Failed(net.LastError());

    const std::string_view verb = action == 1 ? "POST" : "GET";
    const std::uint32_t flags = control_.Secure_Mode_Off      ? kPlainFlags
                                : control_.StrictCertificates ? kStrictSecureFlags
                                                              : kSecureFlags;
    request_ = net.OpenRequest(connection_, verb, address->object, kVersion, flags);
    if (request_ == platform::kNullHandle) return Failed(net.LastError());

    for (std::string_view header : kHeaders) net.AddRequestHeaders(request_, header, kHeaderFlags);
    for (const Option& option : kTimeouts) {
      if (!net.SetOption(request_, option.number, option.milliseconds)) {
        return Failed(net.LastError());
      }
    }

    if (control_.YieldWhileWaiting &&
        !net.SetWaitCallback(request_, [this] { return WhileWaiting(); })) {
      return Failed(net.LastError());
    }

    if (!Pause()) return Failed(errors::Cancelled);
    RaiseStatus(status::SendingRequest);
    if (CancelRequested()) return Failed(errors::Cancelled);  // the request never goes out

    std::optional<platform::SecretString> body;
    const Long count = control_.FormVarCount();
    if (count >= 1 && s_.FormVars) body = EncodeFormBody(*s_.FormVars, count);
    const bool sent =
        net.SendRequest(request_, body ? std::optional<std::string_view>(*body) : std::nullopt);
    if (CancelRequested()) return Failed(errors::Cancelled);
    if (!sent) return Failed(net.LastError());
    std::uint32_t status = 0;
    if (net.QueryInfo(request_, inet::kQueryStatusCode | inet::kQueryFlagNumber, status)) {
      s_.HttpStatusCode = static_cast<Long>(status);
    }
    RaiseStatus(status::RequestSent);
    if (CancelRequested()) return Failed(errors::Cancelled);

    const bool read = control_.ReceiveBufferSize < 0 ? ChunkedRead() : SingleRead();
    if (CancelRequested()) return Failed(errors::Cancelled);
    if (!read) return Failed(net.LastError());
    return 0;
  }

  // The one-second pause before the request goes out. Each pass services the
  // host's loop, then waits in it for the next message when the loop can
  // (at most kPauseWait), and in any case lasts at least 1 ms (never past the
  // end of the second), so the loop stays live without spinning a core. False
  // when cancelled.
  bool Pause() {
    const std::chrono::nanoseconds end = s_.clock.Now() + kPause;
    for (std::chrono::nanoseconds now = s_.clock.Now(); now < end; now = s_.clock.Now()) {
      Yield();
      if (CancelRequested()) return false;
      const auto left = std::chrono::floor<std::chrono::milliseconds>(end - s_.clock.Now());
      if (left.count() > 0 && WaitForEvents(std::min(left, kPauseWait)) && CancelRequested())
        return false;
      s_.clock.SleepUntil(std::min<std::chrono::nanoseconds>(now + kPauseRest, end));
    }
    return true;
  }

  // The host's loop waits for its next message; false when it cannot.
  bool WaitForEvents(std::chrono::milliseconds timeout) {
    if (s_.loop == nullptr) return false;
    LookForTheControl();
    bool waited = false;
    CallHost([&] { waited = s_.loop->WaitForEvents(timeout); });
    return waited;
  }

  // The wait callback: services the host's loop while the network keeps the
  // control waiting. A host exception stops the wait and is rethrown once the
  // blocked call has returned.
  // A control destroyed there stops the wait too, and its loop is not called again.
  bool WhileWaiting() noexcept {
    if (s_.abandoned) return false;
    if (singleCount_ != nullptr) s_.bytesReceived = *singleCount_;
    try {
      s_.Yield();
    } catch (...) {
      hostException_ = std::current_exception();
      return false;
    }
    return !s_.abandoned && !s_.CancelRequested();
  }

  // Whether the host asked to stop; rethrows a host exception caught while
  // waiting, and ends the transfer if the host destroyed the control meanwhile.
  bool CancelRequested() {
    if (hostException_) throw HostAbort{};
    LookForTheControl();
    return s_.CancelRequested();
  }

  // Called around every call into the host's code: from here on nothing of a
  // control the host destroyed (its public variables, its sink, its loop) is touched.
  void LookForTheControl() const {
    if (s_.abandoned) throw ControlGone{};
  }

  // Appends the reply in 2048-byte reads until the body ends, yielding to the
  // host's loop after each read. A failed read keeps what arrived and fails
  // the transfer; when cancelled, what arrived stays and nothing more is read.
  // However the loop ends, BytesRead is 0 afterwards: the reply is in the
  // text, not in the chunk buffer.
  bool ChunkedRead() {
    struct ZeroAtEnd {
      Long& bytesRead;
      ~ZeroAtEnd() { bytesRead = 0; }
    } zeroAtEnd{s_.BytesRead};
    s_.ReceiveBytes.emplace(kChunkSize, s_.memory);
    for (;;) {
      std::uint32_t count = 0;
      const bool ok = s_.internet.ReadFile(request_, s_.ReceiveBytes->data(), kChunkSize, count);
      s_.ReceiveBytes->NoteWritten(count);
      s_.BytesRead = static_cast<Long>(count);
      s_.bytesReceived += count;
      if (count > 0) {
        platform::AnsiToChars(s_.ReceiveBytes->data(), count, s_.ReceiveText.Extend(count));
      }
      Yield();
      if (!ok || count == 0 || CancelRequested()) return ok;
    }
  }

  // One read of ReceiveBufferSize bytes into a buffer one byte larger; what the
  // reply holds beyond it is not fetched.
  bool SingleRead() {
    const auto wanted = static_cast<std::uint32_t>(control_.ReceiveBufferSize);
    // The count read goes with the buffer it counted.
    s_.ReceiveBytes.reset();
    s_.BytesRead = 0;
    s_.ReceiveBytes.emplace(std::size_t{wanted} + 1, s_.memory);
    std::uint32_t count = 0;
    // The boundary may keep count current while it waits: BytesReceived shows it.
    struct Shown {
      const std::uint32_t*& at;
      ~Shown() { at = nullptr; }
    } shown{singleCount_ = &count};
    const bool ok = s_.internet.ReadFile(request_, s_.ReceiveBytes->data(), wanted, count);
    s_.ReceiveBytes->NoteWritten(count);
    s_.BytesRead = static_cast<Long>(count);
    s_.bytesReceived = count;
    return ok;
  }

  platform::ErrorCode Failed(platform::ErrorCode code) {
    failed_ = true;
    return code;
  }

  // Closes request, connection and session in that order, exactly once; a
  // handle never opened goes as the null handle.
  void CloseHandles() {
    if (closed_) return;
    closed_ = true;
    s_.internet.CloseHandle(request_);
    s_.internet.CloseHandle(connection_);
    s_.internet.CloseHandle(session_);
  }

  // Runs host code: its exception ends the transfer (rethrown once the handles
  // are closed), and a control it destroyed is seen at once.
  template <class F>
  void CallHost(F&& call) {
    try {
      call();
    } catch (...) {
      hostException_ = std::current_exception();
      throw HostAbort{};
    }
    LookForTheControl();
  }

  template <class F>
  void Raise(F&& call) {
    if (s_.events == nullptr) return;
    CallHost(call);
  }

  void RaiseStatus(Long code) {
    Raise([&] { s_.events->Status(code, Text()); });
    Yield();
  }

  // Looks first as well: a wait callback may have seen the control destroyed.
  void Yield() {
    LookForTheControl();
    CallHost([&] { s_.Yield(); });
  }

  vizADAVU& control_;
  State& s_;
  Handle session_ = platform::kNullHandle;
  Handle connection_ = platform::kNullHandle;
  Handle request_ = platform::kNullHandle;
  const std::uint32_t* singleCount_ = nullptr;  // the single read's count, while it runs
  bool closed_ = false;
  bool failed_ = false;
  std::exception_ptr hostException_;
};

}  // namespace

void RunTransfer(vizADAVU& control, State& s, Integer action) {
  // A control destroyed during its transfer left its state to the transfer
  // (~vizADAVU); it goes once the transfer has closed its handles, however
  // Run ends.
  struct Reclaim {
    State& s;
    ~Reclaim() {
      if (s.abandoned) delete &s;
    }
  } reclaim{s};
  Transfer transfer(control, s);
  transfer.Run(action);
}

}  // namespace vizadavu::detail
