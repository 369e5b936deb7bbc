// The connection point for _vizADAVUEvents and the C++ control's event sink
// that feeds it: each event is an IDispatch::Invoke on every advised sink,
// synchronously, from inside Action.
#include <new>

#include "com/Control.h"
#include "com/Enumerator.h"
#include "com/Text.h"

namespace vizadavu::com {
namespace {

// The sinks advised when an event is raised, each held for the length of the
// call: a handler may Unadvise (itself or another) or Advise meanwhile.
class SinkSnapshot {
 public:
  explicit SinkSnapshot(const std::vector<std::pair<DWORD, IDispatch*>>& sinks) {
    sinks_.reserve(sinks.size());
    for (const auto& entry : sinks) {
      entry.second->AddRef();
      sinks_.push_back(entry.second);
    }
  }
  ~SinkSnapshot() {
    for (IDispatch* sink : sinks_) sink->Release();
  }
  SinkSnapshot(const SinkSnapshot&) = delete;
  SinkSnapshot& operator=(const SinkSnapshot&) = delete;
  const std::vector<IDispatch*>& sinks() const { return sinks_; }

 private:
  std::vector<IDispatch*> sinks_;
};

// A BSTR argument, freed after the event.
class BstrArgument {
 public:
  explicit BstrArgument(VARIANTARG& arg, const Text& text) : arg_(arg) {
    BSTR value = NewBstr(text);
    VariantInit(&arg_);
    V_VT(&arg_) = VT_BSTR;
    V_BSTR(&arg_) = value;
  }
  ~BstrArgument() { VariantClear(&arg_); }
  BstrArgument(const BstrArgument&) = delete;
  BstrArgument& operator=(const BstrArgument&) = delete;

 private:
  VARIANTARG& arg_;
};

}  // namespace

Control::EventPoint::~EventPoint() {
  for (auto& entry : sinks_) entry.second->Release();
}

STDMETHODIMP Control::EventPoint::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP Control::EventPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = DIID__vizADAVUEvents;
  return S_OK;
}

STDMETHODIMP Control::EventPoint::GetConnectionPointContainer(
    IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  owner_.AddRef();
  *container = &owner_;
  return S_OK;
}

STDMETHODIMP Control::EventPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (sink == nullptr) return E_POINTER;
  // A script engine's sink often answers IDispatch only.
  IDispatch* dispatch = nullptr;
  if (FAILED(sink->QueryInterface(DIID__vizADAVUEvents, reinterpret_cast<void**>(&dispatch))) &&
      FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  try {
    sinks_.emplace_back(nextCookie_, dispatch);
  } catch (const std::bad_alloc&) {
    dispatch->Release();
    return E_OUTOFMEMORY;
  }
  *cookie = nextCookie_++;
  return S_OK;
}

STDMETHODIMP Control::EventPoint::Unadvise(DWORD cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->first == cookie) {
      IDispatch* sink = it->second;
      sinks_.erase(it);
      sink->Release();
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP Control::EventPoint::EnumConnections(IEnumConnections** connections) {
  if (connections == nullptr) return E_POINTER;
  *connections = nullptr;
  try {
    std::vector<CONNECTDATA> list;
    list.reserve(sinks_.size());
    for (const auto& [cookie, sink] : sinks_) list.push_back({sink, cookie});
    return Enumerator<IEnumConnections, CONNECTDATA>::Create(list, connections);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void Control::EventPoint::Raise(DISPID id, VARIANTARG* args, UINT count) {
  if (sinks_.empty()) return;
  const SinkSnapshot snapshot(sinks_);
  for (IDispatch* sink : snapshot.sinks()) {
    DISPPARAMS params{args, nullptr, count, 0};
    sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                 nullptr);
  }
}

void Control::Events::EndTransfer() {
  point_.Raise(1, nullptr, 0);
}

void Control::Events::Status(Long StatusCode, const Text& Description) {
  // In reverse order: Description, then StatusCode.
  VARIANTARG args[2];
  const BstrArgument description(args[0], Description);
  VariantInit(&args[1]);
  V_VT(&args[1]) = VT_I4;
  V_I4(&args[1]) = StatusCode;
  point_.Raise(2, args, 2);
}

void Control::Events::Error(const Text& ErrorMessage) {
  VARIANTARG args[1];
  const BstrArgument message(args[0], ErrorMessage);
  point_.Raise(3, args, 1);
}

STDMETHODIMP Control::EnumConnectionPoints(IEnumConnectionPoints** points) {
  try {
    return Enumerator<IEnumConnectionPoints, IConnectionPoint*>::Create({&point_}, points);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace vizadavu::com
