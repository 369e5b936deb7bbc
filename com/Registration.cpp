// DllRegisterServer, DllUnregisterServer and DllInstall: the class, its two
// ProgIDs and the type library, per machine (HKLM\Software\Classes,
// RegisterTypeLib) or per user (HKCU\Software\Classes,
// RegisterTypeLibForUser; `regsvr32 /n /i:user vizadavu_com.dll`).
// Unregistering removes what registering wrote and nothing else: a ProgID
// that names another class stays.
#include <olectl.h>

#include <cwchar>
#include <string>

#include "com/Module.h"
#include "vizADAVU_h.h"

// Declared by Windows' oleauto.h (Vista and later), not by mingw-w64's.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib*, OLECHAR*, OLECHAR*);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID, WORD, WORD, LCID, SYSKIND);
}

namespace vizadavu::com {
namespace {

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// Registry keys under HKLM or HKCU \Software\Classes.
class Classes {
 public:
  explicit Classes(bool user) : hive_(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE) {}

  // Sets `name` (nullptr: the default value) of `key` to `value`.
  bool Set(const std::wstring& key, const wchar_t* name, const std::wstring& value) const {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(hive_, (kRoot + key).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const LSTATUS status = RegSetValueExW(handle, name, 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
  }

  // The default value of `key`, or "" when there is none.
  std::wstring Get(const std::wstring& key) const {
    wchar_t value[128] = {};
    DWORD bytes = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(hive_, (kRoot + key).c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &bytes) != ERROR_SUCCESS) {
      return {};
    }
    return value;
  }

  // Removes `key` with everything under it; true when it is gone.
  bool Remove(const std::wstring& key) const {
    const LSTATUS status = RegDeleteTreeW(hive_, (kRoot + key).c_str());
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    // RegDeleteTreeW may leave the key itself.
    const LSTATUS last = RegDeleteKeyW(hive_, (kRoot + key).c_str());
    return last == ERROR_SUCCESS || last == ERROR_FILE_NOT_FOUND;
  }

  bool Exists(const std::wstring& key) const {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(hive_, (kRoot + key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(handle);
    return true;
  }

 private:
  static inline const std::wstring kRoot = L"Software\\Classes\\";
  HKEY hive_;
};

HRESULT Unregister(bool user) noexcept;

HRESULT Register(bool user) noexcept {
  try {
    const std::wstring path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    const Classes classes(user);
    const std::wstring clsid = GuidText(CLSID_Control);
    const std::wstring key = L"CLSID\\" + clsid;
    struct Entry {
      std::wstring key;
      const wchar_t* name;
      std::wstring value;
    };
    const Entry entries[] = {
        {key, nullptr, kDisplayName},
        {key + L"\\InprocServer32", nullptr, path},
        {key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {key + L"\\ProgID", nullptr, kVersionedProgId},
        {key + L"\\VersionIndependentProgID", nullptr, kProgId},
        {key + L"\\TypeLib", nullptr, GuidText(LIBID_vizADAVULib)},
        {key + L"\\Version", nullptr, L"1.0"},
        {kVersionedProgId, nullptr, kDisplayName},
        {std::wstring(kVersionedProgId) + L"\\CLSID", nullptr, clsid},
        {kProgId, nullptr, kDisplayName},
        {std::wstring(kProgId) + L"\\CLSID", nullptr, clsid},
        {std::wstring(kProgId) + L"\\CurVer", nullptr, kVersionedProgId},
    };
    for (const Entry& entry : entries) {
      if (!classes.Set(entry.key, entry.name, entry.value)) {
        Unregister(user);
        return SELFREG_E_CLASS;
      }
    }
    ITypeLib* library = nullptr;
    HRESULT hr = LoadOwnTypeLib(&library);
    if (SUCCEEDED(hr)) {
      std::wstring file = path;
      hr = user ? RegisterTypeLibForUser(library, file.data(), nullptr)
                : RegisterTypeLib(library, file.data(), nullptr);
      library->Release();
    }
    if (FAILED(hr)) {
      Unregister(user);
      return SELFREG_E_TYPELIB;
    }
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT Unregister(bool user) noexcept {
  try {
    const Classes classes(user);
    const std::wstring clsid = GuidText(CLSID_Control);
    HRESULT result = S_OK;
    // The type library first, while its registration can still be found. Its
    // failure counts only when its key stays (nothing registered: no failure).
    ITypeLib* library = nullptr;
    HRESULT hr = LoadOwnTypeLib(&library);
    if (SUCCEEDED(hr)) {
      TLIBATTR* attributes = nullptr;
      hr = library->GetLibAttr(&attributes);
      if (SUCCEEDED(hr)) {
        const TLIBATTR a = *attributes;
        library->ReleaseTLibAttr(attributes);
        hr = user ? UnRegisterTypeLibForUser(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid,
                                             a.syskind)
                  : UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
      }
      library->Release();
    }
    if (FAILED(hr) && classes.Exists(L"TypeLib\\" + GuidText(LIBID_vizADAVULib))) {
      result = SELFREG_E_TYPELIB;
    }
    for (const wchar_t* progId : {kVersionedProgId, kProgId}) {
      const std::wstring name = progId;
      if (classes.Get(name + L"\\CLSID") == clsid && !classes.Remove(name)) {
        result = SELFREG_E_CLASS;
      }
    }
    if (!classes.Remove(L"CLSID\\" + clsid)) result = SELFREG_E_CLASS;
    return result;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

// DllInstall's command line: "user" per user; "machine" or none per machine.
bool ForUser(LPCWSTR command, bool& user) noexcept {
  if (command == nullptr || *command == L'\0' || _wcsicmp(command, L"machine") == 0) {
    user = false;
    return true;
  }
  if (_wcsicmp(command, L"user") == 0) {
    user = true;
    return true;
  }
  return false;
}

}  // namespace
}  // namespace vizadavu::com

using namespace vizadavu::com;

STDAPI DllRegisterServer() {
  return Register(false);
}

STDAPI DllUnregisterServer() {
  return Unregister(false);
}

extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR command) {
  bool user = false;
  if (!ForUser(command, user)) return E_INVALIDARG;
  return install ? Register(user) : Unregister(user);
}
