// A handle of the WinINet boundary's table, and moving a request to WinINet's
// asynchronous mode.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/HandleTable.h"
#include "platform/wininet/WinInetRequest.h"

namespace vizadavu::platform::wininet {

using Kind = HandleKind;

// One handle of the table. A node keeps its parent alive, and closes its
// WinINet handles when the last reference goes: after its children, and after
// a call still running on it has returned.
struct Node {
  explicit Node(Kind k) : kind(k) {}
  ~Node() {
    if (exchange.handle != nullptr) InternetCloseHandle(exchange.handle);
    if (exchange.async != nullptr) exchange.async->Release();
    if (twin != nullptr) InternetCloseHandle(twin);
    if (handle != nullptr) InternetCloseHandle(handle);
  }
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  Kind kind;
  std::shared_ptr<Node> parent;
  HINTERNET handle = nullptr;                    // a session's or connection's synchronous handle
  HINTERNET twin = nullptr;                      // its asynchronous twin, opened on first need
  std::vector<std::pair<DWORD, DWORD>> options;  // as set, in order
  // Session.
  std::string agent;
  DWORD access = 0;
  // Connection.
  std::string host;
  std::uint16_t port = 0;
  // Request.
  std::string verb, target, version;
  DWORD flags = 0;
  std::vector<std::pair<std::string, DWORD>> headers;  // as added
  Exchange exchange;
  bool busy = false;  // a send or read runs on it
  std::uint32_t statusCode = 0;
};

// Moves a request to its session's asynchronous twin (INTERNET_FLAG_ASYNC),
// opening the twins of the session and connection on first need, and applies
// the request's headers and options again.
ErrorCode MoveToAsyncTwin(Node& request);

}  // namespace vizadavu::platform::wininet
