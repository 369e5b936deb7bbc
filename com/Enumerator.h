// IEnumConnectionPoints and IEnumConnections: an enumerator over a snapshot of
// the items taken when it is made, holding a reference to each item's object
// for its own lifetime; each item it hands out is AddRef'd for the caller.
#pragma once

#include <ocidl.h>
#include <windows.h>

#include <new>
#include <utility>
#include <vector>

namespace vizadavu::com {

inline IUnknown* UnknownOf(IConnectionPoint* point) noexcept {
  return point;
}
inline IUnknown* UnknownOf(const CONNECTDATA& connection) noexcept {
  return connection.pUnk;
}

template <class Interface, class Item>
class Enumerator final : public Interface {
 public:
  // A new enumerator of `items` at `position` in `result`.
  static HRESULT Create(const std::vector<Item>& items, Interface** result,
                        std::size_t position = 0) noexcept {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    try {
      *result = new Enumerator(items, position);
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid != IID_IUnknown && riid != __uuidof(Interface)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
  }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
    if (out == nullptr) return E_POINTER;
    // Without a count of what came, a caller may ask for one only.
    if (fetched == nullptr && count != 1) return E_INVALIDARG;
    ULONG n = 0;
    for (; n < count && position_ < items_.size(); ++n, ++position_) {
      out[n] = items_[position_];
      UnknownOf(out[n])->AddRef();
    }
    if (fetched != nullptr) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const std::size_t left = items_.size() - position_;
    position_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Interface** result) override { return Create(items_, result, position_); }

 private:
  Enumerator(const std::vector<Item>& items, std::size_t position)
      : items_(items), position_(position) {
    for (const Item& item : items_) UnknownOf(item)->AddRef();
  }
  ~Enumerator() {
    for (const Item& item : items_) UnknownOf(item)->Release();
  }
  Enumerator(const Enumerator&) = delete;
  Enumerator& operator=(const Enumerator&) = delete;

  LONG references_ = 1;
  std::vector<Item> items_;
  std::size_t position_;
};

}  // namespace vizadavu::com
