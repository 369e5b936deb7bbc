#include "com/Errors.h"

#include <oleauto.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

#include "com/Module.h"
#include "vizADAVU_h.h"

namespace vizadavu::com {
namespace {

// The library's messages are English, ASCII or UTF-8.
std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(std::min<std::size_t>(text.size(), 4096));
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), size);
  wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  return wide;
}

}  // namespace

HRESULT Fail(HRESULT hr, std::string_view description) noexcept {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return hr;
  try {
    std::wstring text = Widen(description);
    create->SetGUID(IID_IvizADAVU);
    create->SetSource(const_cast<LPOLESTR>(kProgId));
    create->SetDescription(text.data());
  } catch (const std::bad_alloc&) {
    // The code alone then.
  }
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
  return hr;
}

HRESULT FromCurrentException() noexcept {
  try {
    throw;
  } catch (const std::out_of_range& e) {
    return Fail(kSubscriptOutOfRange, e.what());
  } catch (const std::overflow_error& e) {
    return Fail(kOverflow, e.what());
  } catch (const std::invalid_argument& e) {
    return Fail(kInvalidArgument, e.what());
  } catch (const std::length_error&) {
    return Fail(E_OUTOFMEMORY, "out of memory");
  } catch (const std::bad_alloc&) {
    return Fail(E_OUTOFMEMORY, "out of memory");
  } catch (const std::logic_error& e) {
    // The control's only other logic errors: Action or Clear during a transfer.
    return Fail(kTransferRunning, e.what());
  } catch (const std::exception& e) {
    return Fail(E_FAIL, e.what());
  } catch (...) {
    return Fail(E_UNEXPECTED, "unexpected failure");
  }
}

}  // namespace vizadavu::com
