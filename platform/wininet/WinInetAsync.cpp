// WinINet's asynchronous mode: the state a pending call shares with the status
// callback, and the asynchronous twin a request with a wait callback moves to.
#include <new>

#include "platform/wininet/WinInetNode.h"

namespace vizadavu::platform::wininet {
namespace {

bool ApplyOptions(HINTERNET handle, const Node& node) {
  for (auto [option, value] : node.options) {
    if (!InternetSetOptionA(handle, option, &value, sizeof value)) return false;
  }
  return true;
}

}  // namespace

AsyncState* AsyncState::Create() {
  auto* state = new (std::nothrow) AsyncState;
  if (state == nullptr) return nullptr;
  state->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (state->event == nullptr) {
    delete state;
    return nullptr;
  }
  return state;
}

void AsyncState::Release() noexcept {
  if (refs_.fetch_sub(1) == 1) delete this;
}

AsyncState::~AsyncState() {
  if (event != nullptr) ::CloseHandle(event);
}

void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                             DWORD infoLength) {
  auto* state = reinterpret_cast<AsyncState*>(context);
  if (state == nullptr) return;  // a session or connection handle
  if (status == INTERNET_STATUS_REQUEST_COMPLETE && info != nullptr &&
      infoLength >= sizeof(INTERNET_ASYNC_RESULT)) {
    const auto* outcome = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    state->error.store(outcome->dwError);
    state->result.store(static_cast<DWORD>(outcome->dwResult));
    SetEvent(state->event);
  } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    state->Release();  // WinINet's reference, taken when the request was opened
  }
}

ErrorCode MoveToAsyncTwin(Node& request) {
  Node& connection = *request.parent;
  Node& session = *connection.parent;
  if (session.twin == nullptr) {
    HINTERNET twin =
        InternetOpenA(session.agent.c_str(), session.access, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    if (twin == nullptr) return LastWinError();
    if (InternetSetStatusCallbackA(twin, StatusCallback) == INTERNET_INVALID_STATUS_CALLBACK ||
        !ApplyOptions(twin, session)) {
      const ErrorCode error = LastWinError();
      InternetCloseHandle(twin);
      return error;
    }
    session.twin = twin;
  }
  if (connection.twin == nullptr) {
    HINTERNET twin = InternetConnectA(session.twin, connection.host.c_str(), connection.port, "",
                                      "", INTERNET_SERVICE_HTTP, 0, 0);
    if (twin == nullptr) return LastWinError();
    if (!ApplyOptions(twin, connection)) {
      const ErrorCode error = LastWinError();
      InternetCloseHandle(twin);
      return error;
    }
    connection.twin = twin;
  }
  AsyncState* state = AsyncState::Create();
  if (state == nullptr) return codes::NotEnoughMemory;
  HINTERNET handle = HttpOpenRequestA(connection.twin, request.verb.c_str(), request.target.c_str(),
                                      request.version.c_str(), nullptr, nullptr, request.flags,
                                      reinterpret_cast<DWORD_PTR>(state));
  if (handle == nullptr) {
    const ErrorCode error = LastWinError();
    state->Release();
    return error;
  }
  state->Retain();  // WinINet's, given back when it reports the handle closing
  bool ok = ApplyOptions(handle, request);
  for (const auto& [text, modifiers] : request.headers) {
    ok = ok &&
         HttpAddRequestHeadersA(handle, text.c_str(), static_cast<DWORD>(text.size()), modifiers);
  }
  if (!ok) {
    const ErrorCode error = LastWinError();
    InternetCloseHandle(handle);
    state->Release();
    return error;
  }
  InternetCloseHandle(request.exchange.handle);
  request.exchange.handle = handle;
  request.exchange.async = state;
  return codes::None;
}

}  // namespace vizadavu::platform::wininet
