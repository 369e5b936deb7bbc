#include "tests/support/FakeInternet.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace vizadavu::test {
namespace {

std::string H(platform::Handle h) {
  std::string out = std::to_string(h);
  out.insert(out.begin(), 'h');
  return out;
}

std::string Hex(std::uint32_t v) {
  std::ostringstream out;
  out << "0x" << std::uppercase << std::hex << v;
  return out.str();
}

std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

void FakeInternet::FailOn(const std::string& method, platform::ErrorCode code, int occurrence,
                          std::uint32_t partialBytes) {
  failures_.emplace(method, Failure{code, occurrence, partialBytes});
}

void FakeInternet::WaitIn(const std::string& method, int times, int occurrence) {
  waits_[{method, occurrence}] = times;
}

bool FakeInternet::Wait(const std::string& method) {
  const auto it = waits_.find({method, counts_[method]});
  if (it == waits_.end()) return true;
  for (int i = 0; i < it->second; ++i) {
    if (clock != nullptr) clock->Advance(waitStep);
    if (!waitCallback_) continue;
    ++waitCallbacks;
    if (!waitCallback_()) {
      lastError_ = platform::codes::Cancelled;
      return false;
    }
  }
  return true;
}

void FakeInternet::Restart() {
  calls.clear();
  counts_.clear();
  open_.clear();
  closeCounts.clear();
  next_ = 1;
  readPos_ = 0;
  sent = false;
  sentBody.reset();
  waitCallback_ = nullptr;
}

int FakeInternet::OpenHandles() const {
  return static_cast<int>(
      std::count_if(open_.begin(), open_.end(), [](const auto& entry) { return entry.second; }));
}

std::optional<FakeInternet::Failure> FakeInternet::Record(const std::string& method,
                                                          const std::string& args) {
  const std::string call = method + "(" + args + ")";
  calls.push_back(call);
  const int n = ++counts_[method];
  if (onCall) onCall(call);
  auto [first, last] = failures_.equal_range(method);
  for (auto it = first; it != last; ++it) {
    if (it->second.occurrence == n) {
      lastError_ = it->second.code;
      return it->second;
    }
  }
  return std::nullopt;
}

platform::Handle FakeInternet::Open(const std::string& method, const std::string& args) {
  if (Record(method, args)) return platform::kNullHandle;
  const platform::Handle h = next_++;
  open_[h] = true;
  return h;
}

platform::Handle FakeInternet::OpenSession(std::string_view agent, std::uint32_t accessType) {
  return Open("OpenSession", std::string(agent) + ", " + std::to_string(accessType));
}

platform::Handle FakeInternet::Connect(platform::Handle session, std::string_view serverName,
                                       std::uint16_t port, std::string_view userName,
                                       std::string_view password, std::uint32_t service) {
  return Open("Connect", H(session) + ", " + std::string(serverName) + ", " + std::to_string(port) +
                             ", \"" + std::string(userName) + "\", \"" + std::string(password) +
                             "\", " + std::to_string(service));
}

platform::Handle FakeInternet::OpenRequest(platform::Handle connection, std::string_view verb,
                                           std::string_view objectName, std::string_view version,
                                           std::uint32_t flags) {
  return Open("OpenRequest", H(connection) + ", " + std::string(verb) + ", " +
                                 std::string(objectName) + ", " + std::string(version) + ", " +
                                 Hex(flags));
}

bool FakeInternet::AddRequestHeaders(platform::Handle request, std::string_view headers,
                                     std::uint32_t modifiers) {
  return !Record("AddRequestHeaders", H(request) + ", " + Escape(headers) + ", " +
                                          std::to_string(headers.size()) + ", " + Hex(modifiers));
}

bool FakeInternet::SetOption(platform::Handle request, std::uint32_t option, std::uint32_t value) {
  return !Record("SetOption",
                 H(request) + ", " + std::to_string(option) + ", " + std::to_string(value));
}

bool FakeInternet::SendRequest(platform::Handle request, std::optional<std::string_view> body) {
  const std::string shown =
      body ? std::string(*body) + ", " + std::to_string(body->size()) : "none, 0";
  if (Record("SendRequest", H(request) + ", " + shown)) return false;
  if (!Wait("SendRequest")) return false;
  sent = true;
  sentBody = body ? std::optional<std::string>(std::string(*body)) : std::nullopt;
  return true;
}

bool FakeInternet::ReadFile(platform::Handle request, std::uint8_t* buffer, std::uint32_t wanted,
                            std::uint32_t& bytesRead) {
  bytesRead = 0;
  const auto failure = Record("ReadFile", H(request) + ", " + std::to_string(wanted));
  if (!Wait("ReadFile")) return false;
  const std::size_t left = reply.size() - readPos_;
  std::size_t n = std::min<std::size_t>(wanted, left);
  if (failure) n = std::min<std::size_t>(n, failure->partialBytes);
  std::memcpy(buffer, reply.data() + readPos_, n);
  readPos_ += n;
  bytesRead = static_cast<std::uint32_t>(n);
  return !failure;
}

bool FakeInternet::SetWaitCallback(platform::Handle request, platform::WaitCallback callback) {
  if (Record("SetWaitCallback", H(request) + (callback ? ", set" : ", none"))) return false;
  waitCallback_ = std::move(callback);
  return true;
}

bool FakeInternet::QueryInfo(platform::Handle request, std::uint32_t infoLevel,
                             std::uint32_t& value) {
  value = 0;
  if (Record("QueryInfo", H(request) + ", " + Hex(infoLevel))) return false;
  if (statusCode == 0) {
    lastError_ = platform::codes::HeaderNotFound;
    return false;
  }
  value = statusCode;
  return true;
}

bool FakeInternet::CloseHandle(platform::Handle handle) {
  ++closeCounts[handle];
  const bool wasOpen = open_[handle];
  open_[handle] = false;
  if (Record("CloseHandle", H(handle))) return false;
  if (!wasOpen) {
    lastError_ = platform::codes::InvalidHandle;
    return false;
  }
  return true;
}

}  // namespace vizadavu::test
