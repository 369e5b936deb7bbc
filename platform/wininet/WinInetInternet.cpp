// The internet boundary over WinINet: the table of session, connection and
// request handles, the checks on what a caller hands each call, and the
// asynchronous twin a request moves to when it has a wait callback. Sending and
// reading are WinInetRequest's.
#include "platform/wininet/WinInetInternet.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/HandleTable.h"
#include "platform/RequestText.h"
#include "platform/wininet/WinInetNode.h"

namespace vizadavu::platform {
namespace {

using wininet::Exchange;
using wininet::Kind;
using wininet::LastWinError;
using wininet::Node;

}  // namespace

struct WinInetInternet::Impl : HandleTable<Node> {
  // Runs one boundary call under the lock; the call returns codes::None or the
  // code it fails with, which becomes the last error.
  template <class R, class F>
  R Call(F&& body) {
    const std::lock_guard lock(mutex);
    return Record<R>(std::forward<F>(body));
  }
};

WinInetInternet::WinInetInternet() : impl_(std::make_unique<Impl>()) {}

WinInetInternet::~WinInetInternet() = default;

Handle WinInetInternet::OpenSession(std::string_view agent, std::uint32_t accessType) {
  return impl_->Call<Handle>([&](Handle& out) {
    if (accessType != inet::kOpenTypePreconfig && accessType != inet::kOpenTypeDirect) {
      return codes::InvalidParameter;
    }
    // The agent becomes a header line: no line breaks or other control bytes.
    if (!IsValidAgent(agent)) return codes::InvalidParameter;
    auto node = std::make_shared<Node>(Kind::kSession);
    node->agent = std::string(TrimSpace(agent));
    node->access = accessType;
    node->handle = InternetOpenA(node->agent.c_str(), accessType, nullptr, nullptr, 0);
    if (node->handle == nullptr) return LastWinError();
    out = impl_->Add(std::move(node), kNullHandle);
    return codes::None;
  });
}

Handle WinInetInternet::Connect(Handle session, std::string_view serverName, std::uint16_t port,
                                std::string_view userName, std::string_view password,
                                std::uint32_t service) {
  return impl_->Call<Handle>([&](Handle& out) {
    std::shared_ptr<Node> parent = impl_->Share(session, Kind::kSession);
    if (!parent) return codes::InvalidHandle;
    if (service != inet::kServiceHttp || port == 0) return codes::InvalidParameter;
    // No authentication is done: refuse credentials rather than drop them.
    if (!userName.empty() || !password.empty()) return codes::InvalidParameter;
    if (!IsValidHost(serverName)) return codes::InvalidUrl;
    auto node = std::make_shared<Node>(Kind::kConnection);
    node->host = std::string(serverName);
    node->port = port;
    node->handle = InternetConnectA(parent->handle, node->host.c_str(), port, "", "",
                                    INTERNET_SERVICE_HTTP, 0, 0);
    if (node->handle == nullptr) return LastWinError();
    node->parent = std::move(parent);
    out = impl_->Add(std::move(node), session);
    return codes::None;
  });
}

Handle WinInetInternet::OpenRequest(Handle connection, std::string_view verb,
                                    std::string_view objectName, std::string_view version,
                                    std::uint32_t flags) {
  return impl_->Call<Handle>([&](Handle& out) {
    std::shared_ptr<Node> parent = impl_->Share(connection, Kind::kConnection);
    if (!parent) return codes::InvalidHandle;
    if (!verb.empty() && verb != "GET" && verb != "POST") return codes::InvalidParameter;
    if (!IsValidAgent(version)) return codes::InvalidParameter;
    if (!IsValidObjectName(objectName)) return codes::InvalidUrl;
    auto node = std::make_shared<Node>(Kind::kRequest);
    node->verb = verb.empty() ? "GET" : std::string(verb);
    node->target = RequestTarget(objectName);
    node->version = std::string(version);
    node->flags = flags;
    node->exchange.handle = HttpOpenRequestA(
        parent->handle, node->verb.c_str(), node->target.c_str(),
        node->version.empty() ? nullptr : node->version.c_str(), nullptr, nullptr, flags, 0);
    if (node->exchange.handle == nullptr) return LastWinError();
    node->parent = std::move(parent);
    out = impl_->Add(std::move(node), connection);
    return codes::None;
  });
}

bool WinInetInternet::AddRequestHeaders(Handle request, std::string_view headers,
                                        std::uint32_t modifiers) {
  return impl_->Call<bool>([&](bool& out) {
    const std::shared_ptr<Node> node = impl_->Share(request, Kind::kRequest);
    if (!node) return codes::InvalidHandle;
    if (node->busy || node->exchange.handle == nullptr) return codes::IncorrectHandleState;
    if (!ParseHeaderLines(headers) || headers.size() > MAXDWORD) return codes::InvalidParameter;
    std::string text(headers);
    if (!HttpAddRequestHeadersA(node->exchange.handle, text.c_str(),
                                static_cast<DWORD>(text.size()), modifiers)) {
      return LastWinError();
    }
    node->headers.emplace_back(std::move(text), modifiers);
    out = true;
    return codes::None;
  });
}

bool WinInetInternet::SetOption(Handle handle, std::uint32_t option, std::uint32_t value) {
  return impl_->Call<bool>([&](bool& out) {
    Node* const found = impl_->FindAny(handle);
    if (found == nullptr) return codes::InvalidHandle;
    Node& node = *found;
    if (option != inet::kOptionConnectTimeout && option != inet::kOptionSendTimeout &&
        option != inet::kOptionReceiveTimeout) {
      return codes::InvalidParameter;
    }
    if (node.busy) return codes::IncorrectHandleState;
    HINTERNET target = node.kind == Kind::kRequest ? node.exchange.handle : node.handle;
    if (target == nullptr) return codes::IncorrectHandleState;
    DWORD number = value;
    if (!InternetSetOptionA(target, option, &number, sizeof number)) return LastWinError();
    // Handles opened later (an asynchronous twin included) take them too.
    if (node.twin != nullptr && !InternetSetOptionA(node.twin, option, &number, sizeof number)) {
      return LastWinError();
    }
    node.options.emplace_back(option, value);
    out = true;
    return codes::None;
  });
}

bool WinInetInternet::SendRequest(Handle request, std::optional<std::string_view> body) {
  std::shared_ptr<Node> node;
  const bool claimed = impl_->Call<bool>([&](bool& out) {
    node = impl_->Share(request, Kind::kRequest);
    if (!node) return codes::InvalidHandle;
    if (node->busy || node->exchange.handle == nullptr) return codes::IncorrectHandleState;
    if (node->exchange.waitCallback && node->exchange.async == nullptr) {
      const ErrorCode error = wininet::MoveToAsyncTwin(*node);
      if (error != codes::None) return error;
    }
    node->busy = true;
    node->statusCode = 0;
    Exchange& exchange = node->exchange;
    exchange.sent = exchange.failed = exchange.ended = false;
    exchange.delivered = 0;
    exchange.framing = {};
    out = true;
    return codes::None;
  });
  if (!claimed) return false;
  // The wait may call host code: no lock is held while it runs.
  const bool sent = impl_->Record<bool>([&](bool& out) {
    const ErrorCode error = wininet::Send(node->exchange, body);
    out = error == codes::None;
    return error;
  });
  const std::lock_guard lock(impl_->mutex);
  node->busy = false;
  node->exchange.sent = sent;
  if (sent) node->statusCode = node->exchange.framing.statusCode;
  return sent;
}

bool WinInetInternet::ReadFile(Handle request, std::uint8_t* buffer, std::uint32_t wanted,
                               std::uint32_t& bytesRead) {
  bytesRead = 0;
  std::shared_ptr<Node> node;
  const bool claimed = impl_->Call<bool>([&](bool& out) {
    node = impl_->Share(request, Kind::kRequest);
    if (!node) return codes::InvalidHandle;
    if (buffer == nullptr && wanted > 0) return codes::InvalidParameter;
    const Exchange& exchange = node->exchange;
    if (node->busy || !exchange.sent || exchange.failed || exchange.handle == nullptr) {
      return codes::IncorrectHandleState;
    }
    node->busy = true;
    out = true;
    return codes::None;
  });
  if (!claimed) return false;
  const bool read = impl_->Record<bool>([&](bool& out) {
    const ErrorCode error = wininet::Read(node->exchange, buffer, wanted, bytesRead);
    out = error == codes::None;
    return error;
  });
  const std::lock_guard lock(impl_->mutex);
  node->busy = false;
  if (!read) node->exchange.failed = true;
  return read;
}

bool WinInetInternet::SetWaitCallback(Handle request, WaitCallback callback) {
  return impl_->Call<bool>([&](bool& out) {
    const std::shared_ptr<Node> node = impl_->Share(request, Kind::kRequest);
    if (!node) return codes::InvalidHandle;
    if (node->busy) return codes::IncorrectHandleState;
    node->exchange.waitCallback = std::move(callback);
    out = true;
    return codes::None;
  });
}

bool WinInetInternet::QueryInfo(Handle request, std::uint32_t infoLevel, std::uint32_t& value) {
  value = 0;
  return impl_->Call<bool>([&](bool& out) {
    const ErrorCode error = impl_->StatusCode(request, infoLevel, value);
    out = error == codes::None;
    return error;
  });
}

bool WinInetInternet::CloseHandle(Handle handle) {
  std::vector<std::shared_ptr<Node>> closed;  // their WinINet handles close unlocked
  const bool ok = impl_->Call<bool>([&](bool& out) {
    closed = impl_->All();
    if (!impl_->Close(handle)) return codes::InvalidHandle;
    out = true;
    return codes::None;
  });
  closed.clear();
  return ok;
}

ErrorCode WinInetInternet::LastError() const {
  return impl_->lastError.load();
}

}  // namespace vizadavu::platform
