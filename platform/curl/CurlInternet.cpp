// The internet boundary over libcurl: the table of session, connection and
// request handles and the checks on what a caller hands each call. The transfer
// itself is CurlTransfer's.
#include "platform/curl/CurlInternet.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Ascii.h"
#include "platform/BuiltIn.h"
#include "platform/HandleTable.h"
#include "platform/RequestText.h"
#include "platform/curl/CurlMemory.h"
#include "platform/curl/CurlTransfer.h"

namespace vizadavu::platform {
namespace {

std::once_flag gCurlInitOnce;
CURLcode gCurlInitResult = CURLE_FAILED_INIT;

bool CurlReady() {
  std::call_once(gCurlInitOnce, [] {
    gCurlInitResult = static_cast<CURLcode>(InitCurlWithWipingMemory(CURL_GLOBAL_DEFAULT));
  });
  return gCurlInitResult == CURLE_OK;
}

using Kind = HandleKind;

struct Node {
  Kind kind;
  Handle parent = kNullHandle;
  Timeouts timeouts;

  // Session.
  std::string agent;
  bool direct = false;
  // Connection.
  std::string host;  // as it goes into a URL
  std::uint16_t port = 0;
  // Request.
  bool post = false;
  std::string target;
  long httpVersion = CURL_HTTP_VERSION_1_1;
  std::uint32_t flags = 0;
  std::vector<std::string> headers;  // "Name: value", in the order added
  WaitCallback waitCallback;
  std::uint32_t statusCode = 0;            // of the final reply to the last send; 0: none
  std::shared_ptr<CurlTransfer> transfer;  // held by a running call too

  explicit Node(Kind k) : kind(k) {}
};

}  // namespace

struct CurlInternet::Impl : HandleTable<Node> {
  Impl(Memory& memory_, CurlLibrary& curl_) : memory(memory_), curl(curl_) {}
  Memory& memory;  // staging buffers for reply bytes
  CurlLibrary& curl;

  // Runs one boundary call under the lock. The call returns codes::None or the
  // code it fails with; a failure (an exception included) is recorded as the
  // last error and returned as the null handle or false. A failure after an
  // allocation of libcurl's was refused is 8, whatever libcurl called it.
  template <class R, class F>
  R Call(F&& body) {
    const std::lock_guard lock(mutex);
    const CurlAllocationScope allocations;
    return Record<R>([&](R& result) {
      const ErrorCode error = RunCall([&] { return body(result); });
      // libcurl reports some allocations it could not have as something else
      // (a name that cannot be resolved, a header line too long, ...).
      return error != codes::None && allocations.refused() ? codes::NotEnoughMemory : error;
    });
  }

  // Runs a transfer's wait (`body`, a send or a read) without the lock, so that
  // the wait callback, which may run host code, runs with no lock held. The
  // transfer was claimed under the lock: a second call on the request fails
  // meanwhile, and a close ends the transfer once this call returns.
  template <class F>
  bool Unlocked(CurlTransfer& transfer, F&& body) {
    ErrorCode error = codes::InternalError;
    {
      const CurlAllocationScope allocations;
      error = RunCall(body);
      if (error != codes::None && allocations.refused()) error = codes::NotEnoughMemory;
    }
    transfer.Release();
    if (error == codes::None) return true;
    lastError.store(error);
    return false;
  }
};

CurlInternet::CurlInternet(Memory& memory, CurlLibrary& curl)
    : impl_(std::make_unique<Impl>(memory, curl)) {}

CurlInternet::~CurlInternet() = default;

std::unique_ptr<Internet> MakeBuiltInInternet(Memory& memory) {
  return std::make_unique<CurlInternet>(memory);
}

Handle CurlInternet::OpenSession(std::string_view agent, std::uint32_t accessType) {
  return impl_->Call<Handle>([&](Handle& out) {
    if (!CurlReady()) return codes::InternalError;
    if (accessType != inet::kOpenTypePreconfig && accessType != inet::kOpenTypeDirect) {
      return codes::InvalidParameter;
    }
    // The agent becomes a header line: no line breaks or other control bytes.
    if (!IsValidAgent(agent)) return codes::InvalidParameter;
    auto node = std::make_shared<Node>(Kind::kSession);
    node->agent = std::string(TrimSpace(agent));
    node->direct = accessType == inet::kOpenTypeDirect;
    out = impl_->Add(std::move(node), kNullHandle);
    return codes::None;
  });
}

Handle CurlInternet::Connect(Handle session, std::string_view serverName, std::uint16_t port,
                             std::string_view userName, std::string_view password,
                             std::uint32_t service) {
  return impl_->Call<Handle>([&](Handle& out) {
    Node* parent = impl_->Find(session, Kind::kSession);
    if (parent == nullptr) return codes::InvalidHandle;
    if (service != inet::kServiceHttp || port == 0) return codes::InvalidParameter;
    // Credentials would only be used to answer an authentication challenge,
    // which this boundary does not do; refuse them rather than drop them.
    if (!userName.empty() || !password.empty()) return codes::InvalidParameter;
    // The control refuses such a host before it calls; this is the same rule,
    // for a caller that hands the boundary hostile input directly.
    std::optional<std::string> host = UrlHost(serverName);
    if (!host) return codes::InvalidUrl;
    auto node = std::make_shared<Node>(Kind::kConnection);
    node->parent = session;
    node->timeouts = parent->timeouts;
    node->host = std::move(*host);
    node->port = port;
    out = impl_->Add(std::move(node), session);
    return codes::None;
  });
}

Handle CurlInternet::OpenRequest(Handle connection, std::string_view verb,
                                 std::string_view objectName, std::string_view version,
                                 std::uint32_t flags) {
  return impl_->Call<Handle>([&](Handle& out) {
    Node* parent = impl_->Find(connection, Kind::kConnection);
    if (parent == nullptr) return codes::InvalidHandle;
    const bool post = verb == "POST";
    if (!post && !verb.empty() && verb != "GET") return codes::InvalidParameter;
    long httpVersion = 0;
    if (version.empty() || EqualsIgnoreCase(version, "HTTP/1.1")) {
      httpVersion = CURL_HTTP_VERSION_1_1;
    } else if (EqualsIgnoreCase(version, "HTTP/1.0")) {
      httpVersion = CURL_HTTP_VERSION_1_0;
    } else {
      return codes::InvalidParameter;
    }
    if (!IsValidObjectName(objectName)) return codes::InvalidUrl;
    auto node = std::make_shared<Node>(Kind::kRequest);
    node->parent = connection;
    node->timeouts = parent->timeouts;
    node->post = post;
    node->target = RequestTarget(objectName);
    node->httpVersion = httpVersion;
    node->flags = flags;
    out = impl_->Add(std::move(node), connection);
    return codes::None;
  });
}

bool CurlInternet::AddRequestHeaders(Handle request, std::string_view headers,
                                     std::uint32_t modifiers) {
  (void)modifiers;  // every line replaces a header of its name or is added
  return impl_->Call<bool>([&](bool& out) {
    Node* node = impl_->Find(request, Kind::kRequest);
    if (node == nullptr) return codes::InvalidHandle;
    // Every line is checked before anything changes.
    const std::optional<HeaderLines> lines = ParseHeaderLines(headers);
    if (!lines) return codes::InvalidParameter;
    auto& list = node->headers;
    for (const auto& [name, value] : *lines) {
      const std::string_view headerName = name;  // clang before 16 cannot capture a binding
      const auto it = std::find_if(list.begin(), list.end(), [&](const std::string& existing) {
        return EqualsIgnoreCase(NameOf(existing), headerName);
      });
      if (value.empty()) {  // an empty value removes the header
        if (it != list.end()) list.erase(it);
        continue;
      }
      std::string text = std::string(name) + ": " + std::string(value);
      if (it != list.end()) {
        *it = std::move(text);
      } else {
        list.push_back(std::move(text));
      }
    }
    out = true;
    return codes::None;
  });
}

bool CurlInternet::SetOption(Handle handle, std::uint32_t option, std::uint32_t value) {
  return impl_->Call<bool>([&](bool& out) {
    Node* const node = impl_->FindAny(handle);
    if (node == nullptr) return codes::InvalidHandle;
    Timeouts& timeouts = node->timeouts;  // requests opened later inherit them
    switch (option) {
      case inet::kOptionConnectTimeout:
        timeouts.connectMs = value;
        break;
      case inet::kOptionSendTimeout:
        timeouts.sendMs = value;
        break;
      case inet::kOptionReceiveTimeout:
        timeouts.receiveMs = value;
        break;
      default:
        return codes::InvalidParameter;
    }
    out = true;
    return codes::None;
  });
}

bool CurlInternet::SendRequest(Handle request, std::optional<std::string_view> body) {
  std::shared_ptr<CurlTransfer> transfer;
  const bool started = impl_->Call<bool>([&](bool& out) {
    Node* node = impl_->Find(request, Kind::kRequest);
    if (node == nullptr) return codes::InvalidHandle;
    if (node->transfer && node->transfer->Busy()) return codes::IncorrectHandleState;
    const Node& connection = *impl_->Find(node->parent, Kind::kConnection);
    const Node& session = *impl_->Find(connection.parent, Kind::kSession);

    node->transfer.reset();  // sending again starts a fresh exchange
    node->statusCode = 0;
    TransferSetup setup;
    setup.agent = session.agent;
    setup.direct = session.direct;
    setup.host = connection.host;
    setup.port = connection.port;
    setup.post = node->post;
    setup.target = node->target;
    setup.httpVersion = node->httpVersion;
    setup.flags = node->flags;
    setup.headers = &node->headers;
    setup.timeouts = node->timeouts;
    setup.waitCallback = node->waitCallback;
    setup.memory = &impl_->memory;
    setup.curl = &impl_->curl;
    ErrorCode error = codes::None;
    std::unique_ptr<CurlTransfer> made = CurlTransfer::Start(setup, body, error);
    if (error != codes::None) return error;
    made->Claim();
    transfer = node->transfer = std::move(made);
    out = true;
    return codes::None;
  });
  if (!started) return false;
  const bool sent = impl_->Unlocked(*transfer, [&] { return transfer->AwaitHeaders(); });
  const std::lock_guard lock(impl_->mutex);
  Node* node = impl_->Find(request, Kind::kRequest);
  if (node == nullptr || node->transfer != transfer) return sent;  // closed meanwhile
  if (sent) {
    node->statusCode = transfer->StatusCode();
  } else {
    node->transfer.reset();
  }
  return sent;
}

bool CurlInternet::ReadFile(Handle request, std::uint8_t* buffer, std::uint32_t wanted,
                            std::uint32_t& bytesRead) {
  bytesRead = 0;
  std::shared_ptr<CurlTransfer> waiting;  // a read whose wait calls back runs unlocked
  const bool done = impl_->Call<bool>([&](bool& out) {
    Node* node = impl_->Find(request, Kind::kRequest);
    if (node == nullptr) return codes::InvalidHandle;
    if (buffer == nullptr && wanted > 0) return codes::InvalidParameter;
    if (!node->transfer || !node->transfer->Claim()) return codes::IncorrectHandleState;
    out = true;
    if (node->transfer->CallsBack()) {
      waiting = node->transfer;
      return codes::None;
    }
    // Nothing of the caller's runs during this read: it goes on under the lock,
    // at the cost of one lookup per read.
    const struct Held {
      CurlTransfer& t;
      ~Held() { t.Release(); }
    } held{*node->transfer};
    return held.t.Read(buffer, wanted, bytesRead);
  });
  if (!waiting) return done;
  return done &&
         impl_->Unlocked(*waiting, [&] { return waiting->Read(buffer, wanted, bytesRead); });
}

bool CurlInternet::SetWaitCallback(Handle request, WaitCallback callback) {
  return impl_->Call<bool>([&](bool& out) {
    Node* node = impl_->Find(request, Kind::kRequest);
    if (node == nullptr) return codes::InvalidHandle;
    node->waitCallback = std::move(callback);
    out = true;
    return codes::None;
  });
}

bool CurlInternet::QueryInfo(Handle request, std::uint32_t infoLevel, std::uint32_t& value) {
  value = 0;
  return impl_->Call<bool>([&](bool& out) {
    const ErrorCode error = impl_->StatusCode(request, infoLevel, value);
    out = error == codes::None;
    return error;
  });
}

bool CurlInternet::CloseHandle(Handle handle) {
  return impl_->Call<bool>([&](bool& out) {
    if (!impl_->Close(handle)) return codes::InvalidHandle;
    out = true;
    return codes::None;
  });
}

ErrorCode CurlInternet::LastError() const {
  return impl_->lastError.load();
}

}  // namespace vizadavu::platform
