// TEMPORARY placeholder until the WinINet boundary lands: every call fails with
// ERROR_INTERNET_INTERNAL_ERROR, so the library links and the unit suite (which
// uses the fake boundary) runs. Deleted before this branch is merged.
#include "platform/BuiltIn.h"

namespace vizadavu::platform {
namespace {

class UnavailableInternet final : public Internet {
 public:
  Handle OpenSession(std::string_view, std::uint32_t) override { return kNullHandle; }
  Handle Connect(Handle, std::string_view, std::uint16_t, std::string_view, std::string_view,
                 std::uint32_t) override {
    return kNullHandle;
  }
  Handle OpenRequest(Handle, std::string_view, std::string_view, std::string_view,
                     std::uint32_t) override {
    return kNullHandle;
  }
  bool AddRequestHeaders(Handle, std::string_view, std::uint32_t) override { return false; }
  bool SetOption(Handle, std::uint32_t, std::uint32_t) override { return false; }
  bool SendRequest(Handle, std::optional<std::string_view>) override { return false; }
  bool ReadFile(Handle, std::uint8_t*, std::uint32_t, std::uint32_t& bytesRead) override {
    bytesRead = 0;
    return false;
  }
  bool SetWaitCallback(Handle, WaitCallback) override { return false; }
  bool QueryInfo(Handle, std::uint32_t, std::uint32_t&) override { return false; }
  bool CloseHandle(Handle) override { return false; }
  ErrorCode LastError() const override { return codes::InternalError; }
};

}  // namespace

std::unique_ptr<Internet> MakeBuiltInInternet(Memory&) {
  return std::make_unique<UnavailableInternet>();
}

std::string BuiltInProxy(std::string_view, bool) {
  return {};
}

}  // namespace vizadavu::platform
