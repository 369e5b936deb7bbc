// The built-in internet boundary with its time-outs cut short, so that a stall
// ends in its time-out error within a test's time; the values the control asked
// for are kept for checking.
#pragma once

#include <algorithm>
#include <map>
#include <memory>

#include "platform/BuiltIn.h"

namespace vizadavu::test {

class ShortTimeouts final : public platform::Internet {
 public:
  using Handle = platform::Handle;
  explicit ShortTimeouts(std::uint32_t limitMs)
      : n_(platform::MakeBuiltInInternet(platform::SystemMemory())), limit_(limitMs) {}
  std::map<std::uint32_t, std::uint32_t> asked;  // option -> the value the control set
  int open = 0;                                  // handles opened and not yet closed

  Handle OpenSession(std::string_view a, std::uint32_t t) override {
    return Count(n_->OpenSession(a, t));
  }
  Handle Connect(Handle s, std::string_view h, std::uint16_t p, std::string_view u,
                 std::string_view w, std::uint32_t v) override {
    return Count(n_->Connect(s, h, p, u, w, v));
  }
  Handle OpenRequest(Handle c, std::string_view v, std::string_view o, std::string_view h,
                     std::uint32_t f) override {
    return Count(n_->OpenRequest(c, v, o, h, f));
  }
  bool AddRequestHeaders(Handle r, std::string_view h, std::uint32_t m) override {
    return n_->AddRequestHeaders(r, h, m);
  }
  bool SetOption(Handle r, std::uint32_t o, std::uint32_t v) override {
    asked[o] = v;
    return n_->SetOption(r, o, std::min(v, limit_));
  }
  bool SendRequest(Handle r, std::optional<std::string_view> b) override {
    return n_->SendRequest(r, b);
  }
  bool ReadFile(Handle r, std::uint8_t* b, std::uint32_t w, std::uint32_t& n) override {
    return n_->ReadFile(r, b, w, n);
  }
  bool SetWaitCallback(Handle r, platform::WaitCallback c) override {
    return n_->SetWaitCallback(r, std::move(c));
  }
  bool QueryInfo(Handle r, std::uint32_t l, std::uint32_t& v) override {
    return n_->QueryInfo(r, l, v);
  }
  bool CloseHandle(Handle h) override {
    const bool closed = n_->CloseHandle(h);
    open -= closed ? 1 : 0;
    return closed;
  }
  platform::ErrorCode LastError() const override { return n_->LastError(); }

 private:
  Handle Count(Handle h) {
    open += h != platform::kNullHandle ? 1 : 0;
    return h;
  }
  std::unique_ptr<platform::Internet> n_;
  std::uint32_t limit_;
};

}  // namespace vizadavu::test
