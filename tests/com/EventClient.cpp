// com_events: the control's events as a COM host that knows only IDispatch
// sees them (wine's script host delivers none): the source interface from
// IProvideClassInfo2, a sink advised on its connection point (both
// enumerators listing them), the events in order, Action and Clear refused
// from inside the handlers, and the host's last reference released from
// EndTransfer. Against the loopback server of
// VIZADAVU_PORTS_FILE; prints "events-ok" when every case passed.
#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Invokes `name` on `object` (a property put when `arg` is given with
// DISPATCH_PROPERTYPUT); returns the HRESULT, or the scode of an exception.
HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* arg = nullptr) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{arg, arg && flags == DISPATCH_PROPERTYPUT ? &put : nullptr, arg ? 1u : 0u,
                    arg && flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
  EXCEPINFO exception{};
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, nullptr, &exception,
                      nullptr);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return hr == DISP_E_EXCEPTION ? exception.scode : hr;
}

HRESULT Put(IDispatch* object, const wchar_t* name, VARIANT value) {
  return Call(object, name, DISPATCH_PROPERTYPUT, &value);
}

VARIANT Long(LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

enum class During { kNothing, kAction, kClear, kRelease };

// Writes each event into `log`; does what `during` says from its handlers.
class Sink final : public IDispatch {
 public:
  IID events = IID_NULL;
  IDispatch* control = nullptr;
  During during = During::kNothing;
  std::string log;
  LONG references = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != events) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    char text[64];
    if (id == 2 && params->cArgs == 2 && V_VT(&params->rgvarg[1]) == VT_I4) {
      std::snprintf(text, sizeof text, "status %ld ", V_I4(&params->rgvarg[1]));
    } else if (id == 3 && params->cArgs == 1 && V_VT(&params->rgvarg[0]) == VT_BSTR) {
      std::snprintf(text, sizeof text, "error %ls ", V_BSTR(&params->rgvarg[0]));
    } else {
      std::snprintf(text, sizeof text, id == 1 ? "end " : "event %ld ", id);
    }
    log += text;
    HRESULT hr = S_OK;
    if (during == During::kAction && id == 2) hr = Put(control, L"Action", Long(1));
    if (during == During::kClear && id == 1) hr = Call(control, L"Clear", DISPATCH_METHOD);
    if (during == During::kRelease && id == 1) log += control->Release() == 0 ? "gone " : "held ";
    if (hr != S_OK) std::snprintf(text, sizeof text, "[%08lX] ", hr), log += text;
    return S_OK;
  }
};

// Whether the container's enumerator lists `point` alone and the point's lists
// the one connection `cookie`.
bool Enumerates(IConnectionPointContainer* container, IConnectionPoint* point, DWORD cookie) {
  IEnumConnectionPoints* points = nullptr;
  IConnectionPoint* found = nullptr;
  IEnumConnections* connections = nullptr;
  CONNECTDATA data[2] = {};
  ULONG count = 0;
  bool ok = SUCCEEDED(container->EnumConnectionPoints(&points)) &&
            points->Next(2, &found, &count) == S_FALSE && count == 1 && found == point &&
            SUCCEEDED(point->EnumConnections(&connections)) &&
            connections->Next(2, data, &count) == S_FALSE && count == 1 &&
            data[0].dwCookie == cookie;
  for (IUnknown* held : {static_cast<IUnknown*>(found), data[0].pUnk,
                         static_cast<IUnknown*>(points), static_cast<IUnknown*>(connections)})
    if (held != nullptr) held->Release();
  return ok;
}

std::string Port(const char* name) {
  const char* path = std::getenv("VIZADAVU_PORTS_FILE");
  std::ifstream ports(path ? path : "");
  std::string key, port;
  while (ports >> key >> port)
    if (key == name) return port;
  return "0";
}

}  // namespace

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"vizADAVU.Control", &clsid))) return std::puts("no ProgID"), 1;
  const std::string plain = "http://127.0.0.1:" + Port("plain") + "/";
  const std::string refused = "http://127.0.0.1:" + Port("refused") + "/";
  const struct {
    const char* name;
    const std::string& url;
    During during;
    const char* want;
  } cases[] = {
      {"POST", plain, During::kNothing, "status 21 status 30 end "},
      {"refused port", refused, During::kNothing, "status 21 error 12029 "},
      {"Action from Status", plain, During::kAction,
       "status 21 [80040201] status 30 [80040201] end "},
      {"Clear from EndTransfer", plain, During::kClear, "status 21 status 30 end [80040201] "},
      {"released in EndTransfer", plain, During::kRelease, "status 21 status 30 end held "},
  };
  int failures = 0;
  for (const auto& c : cases) {
    Sink sink;
    IDispatch* control = nullptr;
    IProvideClassInfo2* info = nullptr;
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&control))) ||
        FAILED(control->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info))) ||
        FAILED(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &sink.events)) ||
        FAILED(control->QueryInterface(IID_IConnectionPointContainer,
                                       reinterpret_cast<void**>(&container))) ||
        FAILED(container->FindConnectionPoint(sink.events, &point)) ||
        FAILED(point->Advise(&sink, &cookie)) || !Enumerates(container, point, cookie)) {
      return std::printf("%s: no connection point\n", c.name), 1;
    }
    info->Release();
    container->Release();
    const std::wstring url(c.url.begin(), c.url.end());
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(url.c_str());
    Put(control, L"URL", v);
    VariantClear(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = VARIANT_TRUE;
    Put(control, L"Secure_Mode_Off", v);
    sink.control = control;
    sink.during = c.during;
    // The connection point holds the control too: released before the
    // transfer when the handler is to let go of the last reference.
    if (c.during == During::kRelease) point->Release();
    const HRESULT hr = Put(control, L"Action", Long(1));
    if (c.during != During::kRelease) {
      point->Unadvise(cookie);
      point->Release();
      control->Release();
    }
    // Every reference the control took on the sink is given back once it is gone.
    if (hr != S_OK || sink.log != c.want || sink.references != 0) {
      std::printf("FAIL %s: %08lX [%s] sink references %ld, want [%s]\n", c.name, hr,
                  sink.log.c_str(), sink.references, c.want);
      ++failures;
    }
  }
  CoUninitialize();
  if (failures == 0) std::puts("events-ok");
  return failures == 0 ? 0 : 1;
}
