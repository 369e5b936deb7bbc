// The Control object: its interfaces, IDispatch through the type library, and
// each member of IvizADAVU on the C++ control.
#include "com/Control.h"

#include <new>

#include "com/Errors.h"
#include "com/Module.h"
#include "com/Text.h"

namespace vizadavu::com {
namespace {

// Runs `get` for an out parameter: E_POINTER for none, its exception as an
// HRESULT otherwise.
template <class T, class Get>
HRESULT Out(T* result, Get&& get) noexcept {
  if (result == nullptr) return E_POINTER;
  return Guarded([&] { *result = get(); });
}

// A text result as a new BSTR; the copy made on the way is wiped.
template <class Get>
HRESULT OutText(BSTR* result, Get&& get) noexcept {
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  return Guarded([&] {
    const WipedText copy(get());
    *result = NewBstr(copy.text);
  });
}

// A text argument as the control's Text, wiped once the control has its copy.
template <class Put>
HRESULT InText(BSTR text, Put&& put) noexcept {
  return Guarded([&] {
    const WipedText copy(Text(View(text)));
    put(copy.text);
  });
}

VARIANT_BOOL AsVariantBool(bool value) noexcept {
  return value ? VARIANT_TRUE : VARIANT_FALSE;
}

}  // namespace

HRESULT Control::Create(REFIID riid, void** object) noexcept {
  ITypeInfo* info = nullptr;
  HRESULT hr = LoadTypeInfo(IID_IvizADAVU, &info);
  if (FAILED(hr)) return hr;
  Control* control = nullptr;
  try {
    control = new Control(info);
  } catch (...) {
    info->Release();
    return E_OUTOFMEMORY;
  }
  hr = control->QueryInterface(riid, object);
  control->Release();
  return hr;
}

Control::Control(ITypeInfo* info) : info_(info) {
  ObjectCreated();
}

Control::~Control() {
  info_->Release();
  ObjectDestroyed();
}

STDMETHODIMP Control::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IvizADAVU) {
    *object = static_cast<IvizADAVU*>(this);
  } else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2) {
    *object = static_cast<IProvideClassInfo2*>(this);
  } else if (riid == IID_ISupportErrorInfo) {
    *object = static_cast<ISupportErrorInfo*>(this);
  } else if (riid == IID_IConnectionPointContainer) {
    *object = static_cast<IConnectionPointContainer*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) Control::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&references_));
}

STDMETHODIMP_(ULONG) Control::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP Control::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP Control::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  info_->AddRef();
  *info = info_;
  return S_OK;
}

STDMETHODIMP Control::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  return DispGetIDsOfNames(info_, names, count, ids);
}

STDMETHODIMP Control::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  return DispInvoke(static_cast<IvizADAVU*>(this), info_, id, flags, params, result, exception,
                    argumentError);
}

STDMETHODIMP Control::put_Action(long a_Action) {
  // An event handler may release the last reference to this object; it goes
  // once the transfer has returned.
  AddRef();
  const HRESULT hr = Guarded([&] { control_.Action(a_Action); });
  Release();
  return hr;
}

STDMETHODIMP Control::get_URL(BSTR* Result) {
  return OutText(Result, [&] { return control_.URL(); });
}

STDMETHODIMP Control::put_URL(BSTR NewURL) {
  return InText(NewURL, [&](const Text& text) { control_.URL(text); });
}

STDMETHODIMP Control::get_ReceiveBufferB(long ByteNum, unsigned char* Result) {
  return Out(Result, [&] { return control_.ReceiveBufferB(ByteNum); });
}

STDMETHODIMP Control::get_ReceiveBuffer(BSTR* Result) {
  if (Result == nullptr) return E_POINTER;
  *Result = nullptr;
  // Straight from the control's reply text: no copy of it on the way.
  return Guarded([&] { *Result = NewBstr(control_.ReceiveBufferView()); });
}

STDMETHODIMP Control::get_StringB(BSTR* Result) {
  return OutText(Result, [&] { return control_.StringB(); });
}

STDMETHODIMP Control::get_ReceiveBufferArraySize(long* Result) {
  return Out(Result, [&] { return control_.ReceiveBufferArraySize(); });
}

STDMETHODIMP Control::get_FormVarNames(long Index, BSTR* Result) {
  return OutText(Result, [&] { return control_.FormVarNames(Index); });
}

STDMETHODIMP Control::put_FormVarNames(long Index, BSTR NewData) {
  return InText(NewData, [&](const Text& text) { control_.FormVarNames(Index, text); });
}

STDMETHODIMP Control::get_FormVarValues(long Index, BSTR* Result) {
  return OutText(Result, [&] { return control_.FormVarValues(Index); });
}

STDMETHODIMP Control::put_FormVarValues(long Index, BSTR NewData) {
  return InText(NewData, [&](const Text& text) { control_.FormVarValues(Index, text); });
}

STDMETHODIMP Control::get_FormVarCount(short* Result) {
  return Out(Result, [&] { return control_.FormVarCount(); });
}

STDMETHODIMP Control::put_FormVarCount(long Count) {
  return Guarded([&] { control_.FormVarCount(Count); });
}

STDMETHODIMP Control::Clear() {
  return Guarded([&] { control_.Clear(); });
}

STDMETHODIMP Control::URLEncode(BSTR sRawURL, BSTR* Result) {
  if (Result == nullptr) return E_POINTER;
  *Result = nullptr;
  return Guarded([&] {
    const WipedText raw(Text(View(sRawURL)));
    const WipedText encoded(control_.URLEncode(raw.text));
    *Result = NewBstr(encoded.text);
  });
}

STDMETHODIMP Control::get_Secure_Mode_Off(VARIANT_BOOL* Result) {
  return Out(Result, [&] { return AsVariantBool(control_.Secure_Mode_Off); });
}

STDMETHODIMP Control::put_Secure_Mode_Off(VARIANT_BOOL Value) {
  control_.Secure_Mode_Off = Value != VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP Control::get_SecurityFlags(long* Result) {
  return Out(Result, [&] { return control_.SecurityFlags; });
}

STDMETHODIMP Control::put_SecurityFlags(long Value) {
  control_.SecurityFlags = Value;
  return S_OK;
}

STDMETHODIMP Control::get_ReceiveBufferSize(long* Result) {
  return Out(Result, [&] { return control_.ReceiveBufferSize; });
}

STDMETHODIMP Control::put_ReceiveBufferSize(long Value) {
  control_.ReceiveBufferSize = Value;
  return S_OK;
}

STDMETHODIMP Control::get_YieldWhileWaiting(VARIANT_BOOL* Result) {
  return Out(Result, [&] { return AsVariantBool(control_.YieldWhileWaiting); });
}

STDMETHODIMP Control::put_YieldWhileWaiting(VARIANT_BOOL Value) {
  control_.YieldWhileWaiting = Value != VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP Control::get_StrictCertificates(VARIANT_BOOL* Result) {
  return Out(Result, [&] { return AsVariantBool(control_.StrictCertificates); });
}

STDMETHODIMP Control::put_StrictCertificates(VARIANT_BOOL Value) {
  control_.StrictCertificates = Value != VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP Control::Cancel() {
  control_.Cancel();
  return S_OK;
}

STDMETHODIMP Control::get_HttpStatusCode(long* Result) {
  return Out(Result, [&] { return control_.HttpStatusCode(); });
}

STDMETHODIMP Control::GetClassInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  return LoadTypeInfo(CLSID_Control, info);
}

STDMETHODIMP Control::GetGUID(DWORD kind, GUID* guid) {
  if (guid == nullptr) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = DIID__vizADAVUEvents;
  return S_OK;
}

STDMETHODIMP Control::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_IvizADAVU ? S_OK : S_FALSE;
}

STDMETHODIMP Control::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (riid != DIID__vizADAVUEvents) return CONNECT_E_NOCONNECTION;
  point_.AddRef();
  *point = &point_;
  return S_OK;
}

}  // namespace vizadavu::com
