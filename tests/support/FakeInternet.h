// A recording, scriptable internet boundary and a fake clock, so the transfer
// engine can be driven without sockets and the one-second pause costs nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Internet.h"
#include "platform/Memory.h"

namespace vizadavu::test {

class FakeInternet : public platform::Internet {
 public:
  // Every call in order, as text: "OpenSession(Tormelo/1.0, 0)". Handles are
  // written hN (h0 is the null handle), flags in hex, header CR LF as \r\n.
  std::vector<std::string> calls;

  // The reply body ReadFile serves: each read delivers min(wanted, what is left).
  std::string reply;
  // The body SendRequest was given (nullopt: sent without a body).
  std::optional<std::string> sentBody;
  bool sent = false;

  // Makes the `occurrence`-th call (1-based) of `method` fail with `code`.
  // For ReadFile, `partialBytes` of the reply are delivered with the failure.
  void FailOn(const std::string& method, platform::ErrorCode code, int occurrence = 1,
              std::uint32_t partialBytes = 0);

  // Forgets the calls and restarts handle numbering and the reply, for the next transfer.
  void Restart();

  // Called after each call is recorded (before it returns), e.g. to re-enter.
  std::function<void(const std::string& call)> onCall;

  // Makes the `occurrence`-th call of `method` (SendRequest or ReadFile) wait:
  // the wait callback, when set, is called `times` times, the clock (when set)
  // moving `waitStep` before each; a callback returning false fails the call
  // with 12017.
  void WaitIn(const std::string& method, int times, int occurrence = 1);
  class FakeClock* clock = nullptr;
  std::chrono::nanoseconds waitStep = platform::inet::kWaitCallbackInterval;
  int waitCallbacks = 0;  // how often the callback was called
  // The status code QueryInfo reports (0: no status line, the query fails).
  std::uint32_t statusCode = 200;

  // Handles opened and not yet closed; CloseHandle counts per handle.
  int OpenHandles() const;
  std::map<platform::Handle, int> closeCounts;

  platform::Handle OpenSession(std::string_view agent, std::uint32_t accessType) override;
  platform::Handle Connect(platform::Handle session, std::string_view serverName,
                           std::uint16_t port, std::string_view userName, std::string_view password,
                           std::uint32_t service) override;
  platform::Handle OpenRequest(platform::Handle connection, std::string_view verb,
                               std::string_view objectName, std::string_view version,
                               std::uint32_t flags) override;
  bool AddRequestHeaders(platform::Handle request, std::string_view headers,
                         std::uint32_t modifiers) override;
  bool SetOption(platform::Handle request, std::uint32_t option, std::uint32_t value) override;
  bool SendRequest(platform::Handle request, std::optional<std::string_view> body) override;
  bool ReadFile(platform::Handle request, std::uint8_t* buffer, std::uint32_t wanted,
                std::uint32_t& bytesRead) override;
  bool SetWaitCallback(platform::Handle request, platform::WaitCallback callback) override;
  bool QueryInfo(platform::Handle request, std::uint32_t infoLevel, std::uint32_t& value) override;
  bool CloseHandle(platform::Handle handle) override;
  platform::ErrorCode LastError() const override { return lastError_; }

 private:
  struct Failure {
    platform::ErrorCode code;
    int occurrence;
    std::uint32_t partialBytes;
  };
  // Records the call; returns the failure to inject, if any.
  std::optional<Failure> Record(const std::string& method, const std::string& args);
  // Runs the scripted wait of this call of `method`; false when it was cancelled.
  bool Wait(const std::string& method);
  platform::Handle Open(const std::string& method, const std::string& args);

  std::multimap<std::string, Failure> failures_;
  std::map<std::pair<std::string, int>, int> waits_;  // (method, occurrence) -> times
  platform::WaitCallback waitCallback_;
  std::map<std::string, int> counts_;
  std::map<platform::Handle, bool> open_;
  platform::Handle next_ = 1;
  std::size_t readPos_ = 0;
  platform::ErrorCode lastError_ = 0;
};

// Each Now() moves time forward by `step`; counts how often it was read.
class FakeClock : public platform::Clock {
 public:
  explicit FakeClock(std::chrono::nanoseconds step = std::chrono::milliseconds(100))
      : step_(step) {}
  std::chrono::nanoseconds Now() override {
    ++reads;
    now_ += step_;
    return now_;
  }
  void SleepUntil(std::chrono::nanoseconds deadline) override {
    ++sleeps;
    if (deadline > now_) {
      slept += deadline - now_;
      now_ = deadline;
    }
  }
  void Advance(std::chrono::nanoseconds by) { now_ += by; }
  int reads = 0;
  int sleeps = 0;
  std::chrono::nanoseconds slept{0};

 private:
  std::chrono::nanoseconds step_;
  std::chrono::nanoseconds now_{0};
};

// The system memory, with a log of every allocation ("Allocate 4096",
// "Map 2097152") and the `failAt`-th one (1-based; 0: none) refused. With
// `misplace`, that allocation is a mapping one byte off its page instead, which
// the system refuses to move another mapping into.
class FailingMemory : public platform::Memory {
 public:
  std::vector<std::string> log;
  int failAt = 0;
  bool misplace = false;

  void* Allocate(std::size_t bytes, bool zeroed) noexcept override {
    if (Refuse("Allocate " + std::to_string(bytes))) return nullptr;
    return platform::SystemMemory().Allocate(bytes, zeroed);
  }
  void Free(void* block) noexcept override { platform::SystemMemory().Free(block); }
  void* Map(std::size_t& bytes) noexcept override {
    if (!Refuse("Map " + std::to_string(bytes))) return platform::SystemMemory().Map(bytes);
    if (!misplace) return nullptr;
    misplaced_ = static_cast<char*>(platform::SystemMemory().Map(bytes)) + 1;
    return misplaced_;
  }
  void Unmap(void* map, std::size_t bytes) noexcept override {
    if (map != nullptr && map == misplaced_) {
      map = misplaced_ - 1;
      misplaced_ = nullptr;
    }
    platform::SystemMemory().Unmap(map, bytes);
  }

 private:
  bool Refuse(std::string what) noexcept {
    try {
      log.push_back(std::move(what));
    } catch (...) {
    }
    return static_cast<int>(log.size()) == failAt;
  }
  char* misplaced_ = nullptr;
};

// The system memory, showing every block to `onFree` just before it goes back,
// after its owner wiped it: a heap block with the size it was allocated with,
// a mapping with its mapped size; and every range it is asked to prefault to
// `onPrefault`.
class WatchedMemory : public platform::Memory {
 public:
  std::function<void(const void* block, std::size_t bytes)> onFree;
  std::function<void(const void* at, std::size_t bytes)> onPrefault;

  void* Allocate(std::size_t bytes, bool zeroed) noexcept override {
    void* block = platform::SystemMemory().Allocate(bytes, zeroed);
    const std::lock_guard lock(mutex_);
    if (block != nullptr) sizes_[block] = bytes;
    return block;
  }
  void Free(void* block) noexcept override {
    {
      const std::lock_guard lock(mutex_);
      const auto it = sizes_.find(block);
      if (it != sizes_.end()) {
        if (onFree) onFree(block, it->second);
        sizes_.erase(it);
      }
    }
    platform::SystemMemory().Free(block);
  }
  void* Map(std::size_t& bytes) noexcept override { return platform::SystemMemory().Map(bytes); }
  void Unmap(void* map, std::size_t bytes) noexcept override {
    {
      const std::lock_guard lock(mutex_);
      if (onFree) onFree(map, bytes);
    }
    platform::SystemMemory().Unmap(map, bytes);
  }
  void Prefault(void* at, std::size_t bytes) noexcept override {
    if (onPrefault) onPrefault(at, bytes);
    platform::SystemMemory().Prefault(at, bytes);
  }

 private:
  std::mutex mutex_;
  std::map<const void*, std::size_t> sizes_;
};

}  // namespace vizadavu::test
