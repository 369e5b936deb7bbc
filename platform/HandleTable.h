// The table of an internet boundary's session, connection and request handles,
// shared by the boundaries over libcurl and over WinINet, with the object's
// lock and last error.
//
// - Handles are unique across every table in the process, so a handle from one
//   object is never mistaken for a live handle of another.
// - A handle that is unknown, closed or of the wrong kind is not found (the
//   call then fails with 6).
// - Closing a handle takes its children (a session's connections, a
//   connection's requests) out of the table with it; what a node holds goes
//   when its last reference does.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/Internet.h"

namespace vizadavu::platform {

enum class HandleKind { kSession, kConnection, kRequest };

// A call's outcome as the handle or flag it returns.
template <class R>
constexpr R FailureValue() {
  if constexpr (std::is_same_v<R, bool>) {
    return false;
  } else {
    return kNullHandle;
  }
}

// Runs `body`, which returns codes::None or the code it fails with; an
// exception is that code too: 8 for a refused allocation, else the internal error.
template <class F>
ErrorCode RunCall(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return codes::NotEnoughMemory;
  } catch (...) {
    return codes::InternalError;
  }
}

inline std::atomic<Handle> gNextHandle{0x1000};

// Node: a boundary's handle, with a `kind` of HandleKind.
template <class Node>
class HandleTable {
 public:
  std::mutex mutex;
  std::atomic<ErrorCode> lastError{codes::None};

  // Runs one call's body(result); a failure is recorded as the last error and
  // returned as the null handle or false. The caller holds the lock or not.
  template <class R, class F>
  R Record(F&& body) {
    R result = FailureValue<R>();
    const ErrorCode error = RunCall([&] { return body(result); });
    if (error == codes::None) return result;
    lastError.store(error);
    return FailureValue<R>();
  }

  // The node of a live handle of that kind, or null.
  Node* Find(Handle handle, HandleKind kind) const { return Share(handle, kind).get(); }
  std::shared_ptr<Node> Share(Handle handle, HandleKind kind) const {
    const auto it = nodes_.find(handle);
    if (it == nodes_.end() || it->second.node->kind != kind) return nullptr;
    return it->second.node;
  }
  // The node of a live handle of any kind, or null.
  Node* FindAny(Handle handle) const {
    const auto it = nodes_.find(handle);
    return it == nodes_.end() ? nullptr : it->second.node.get();
  }

  Handle Add(std::shared_ptr<Node> node, Handle parent) {
    const Handle handle = gNextHandle.fetch_add(1);
    nodes_.emplace(handle, Entry{std::move(node), parent});
    return handle;
  }

  // Takes a live handle and its children out of the table; false for any other.
  bool Close(Handle handle) {
    if (nodes_.find(handle) == nodes_.end()) return false;
    std::vector<Handle> children;
    for (const auto& [h, entry] : nodes_) {
      if (entry.parent == handle) children.push_back(h);
    }
    for (const Handle child : children) Close(child);
    nodes_.erase(handle);
    return true;
  }

  // What QueryInfo answers: the status code of the final reply to a request's
  // last send (Node::statusCode, 0 for none: 12150).
  ErrorCode StatusCode(Handle request, std::uint32_t infoLevel, std::uint32_t& value) const {
    const Node* node = Find(request, HandleKind::kRequest);
    if (node == nullptr) return codes::InvalidHandle;
    if (infoLevel != (inet::kQueryStatusCode | inet::kQueryFlagNumber)) {
      return codes::InvalidParameter;
    }
    if (node->statusCode == 0) return codes::HeaderNotFound;
    value = node->statusCode;
    return codes::None;
  }

  // A reference to every node, to let them go after the lock is released.
  std::vector<std::shared_ptr<Node>> All() const {
    std::vector<std::shared_ptr<Node>> all;
    all.reserve(nodes_.size());
    for (const auto& [h, entry] : nodes_) all.push_back(entry.node);
    return all;
  }

 private:
  struct Entry {
    std::shared_ptr<Node> node;
    Handle parent;
  };
  std::map<Handle, Entry> nodes_;
};

}  // namespace vizadavu::platform
