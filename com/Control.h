// The Control coclass: one vizadavu::vizADAVU behind the dual interface
// IvizADAVU, its events sent to every sink advised on the connection point
// for _vizADAVUEvents. Apartment-threaded: every call comes on the thread
// that created it, as the C++ control requires (Cancel excepted).
#pragma once

#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <utility>
#include <vector>

#include "vizADAVU_h.h"
#include "vizadavu/vizADAVU.h"
#include "vizadavu/win32/MessageLoop.h"

namespace vizadavu::com {

class Control final : public IvizADAVU,
                      public IProvideClassInfo2,
                      public ISupportErrorInfo,
                      public IConnectionPointContainer {
 public:
  // A new object's `riid` in `object`, or the failure.
  static HRESULT Create(REFIID riid, void** object) noexcept;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch, through the type library.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override;

  // IvizADAVU
  STDMETHODIMP put_Action(long a_Action) override;
  STDMETHODIMP get_URL(BSTR* Result) override;
  STDMETHODIMP put_URL(BSTR NewURL) override;
  STDMETHODIMP get_ReceiveBufferB(long ByteNum, unsigned char* Result) override;
  STDMETHODIMP get_ReceiveBuffer(BSTR* Result) override;
  STDMETHODIMP get_StringB(BSTR* Result) override;
  STDMETHODIMP get_ReceiveBufferArraySize(long* Result) override;
  STDMETHODIMP get_FormVarNames(long Index, BSTR* Result) override;
  STDMETHODIMP put_FormVarNames(long Index, BSTR NewData) override;
  STDMETHODIMP get_FormVarValues(long Index, BSTR* Result) override;
  STDMETHODIMP put_FormVarValues(long Index, BSTR NewData) override;
  STDMETHODIMP get_FormVarCount(short* Result) override;
  STDMETHODIMP put_FormVarCount(long Count) override;
  STDMETHODIMP Clear() override;
  STDMETHODIMP URLEncode(BSTR sRawURL, BSTR* Result) override;
  STDMETHODIMP get_Secure_Mode_Off(VARIANT_BOOL* Result) override;
  STDMETHODIMP put_Secure_Mode_Off(VARIANT_BOOL Value) override;
  STDMETHODIMP get_SecurityFlags(long* Result) override;
  STDMETHODIMP put_SecurityFlags(long Value) override;
  STDMETHODIMP get_ReceiveBufferSize(long* Result) override;
  STDMETHODIMP put_ReceiveBufferSize(long Value) override;
  STDMETHODIMP get_YieldWhileWaiting(VARIANT_BOOL* Result) override;
  STDMETHODIMP put_YieldWhileWaiting(VARIANT_BOOL Value) override;
  STDMETHODIMP get_StrictCertificates(VARIANT_BOOL* Result) override;
  STDMETHODIMP put_StrictCertificates(VARIANT_BOOL Value) override;
  STDMETHODIMP Cancel() override;
  STDMETHODIMP get_HttpStatusCode(long* Result) override;

  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

 private:
  // The connection point for _vizADAVUEvents: part of the control, whose
  // reference count it shares.
  class EventPoint final : public IConnectionPoint {
   public:
    explicit EventPoint(Control& owner) : owner_(owner) {}
    ~EventPoint();
    EventPoint(const EventPoint&) = delete;
    EventPoint& operator=(const EventPoint&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return owner_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_.Release(); }
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

    // Invokes `id` with `args` (in reverse order) on every sink advised when
    // it is called; a sink's failure is its own. Throws std::bad_alloc.
    void Raise(DISPID id, VARIANTARG* args, UINT count);

   private:
    Control& owner_;
    std::vector<std::pair<DWORD, IDispatch*>> sinks_;
    DWORD nextCookie_ = 1;
  };

  // The C++ control's event sink: each event to the connection point.
  class Events final : public vizadavu::vizADAVUEvents {
   public:
    explicit Events(EventPoint& point) : point_(point) {}
    void EndTransfer() override;
    void Status(Long StatusCode, const Text& Description) override;
    void Error(const Text& ErrorMessage) override;

   private:
    EventPoint& point_;
  };

  explicit Control(ITypeInfo* info);
  ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  LONG references_ = 1;
  ITypeInfo* info_;
  EventPoint point_{*this};
  Events events_{point_};
  vizadavu::win32::MessageLoop loop_;
  vizadavu::vizADAVU control_{&events_, &loop_};
};

}  // namespace vizadavu::com
