// The in-process server's module: its path, its type library, and the count of
// objects and server locks that DllCanUnloadNow answers from.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <string>

namespace vizadavu::com {

inline constexpr wchar_t kProgId[] = L"vizADAVU.Control";
inline constexpr wchar_t kVersionedProgId[] = L"vizADAVU.Control.1";
inline constexpr wchar_t kDisplayName[] = L"vizADAVU Control";

void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;

// This DLL's full path; empty when Windows cannot say.
std::wstring ModulePath();

// The type library embedded in this DLL (TYPELIB 1), loaded without
// registering it, so that an object works whatever the registry holds.
HRESULT LoadOwnTypeLib(ITypeLib** library) noexcept;
// The description of `guid` (an interface or the coclass) from that library.
HRESULT LoadTypeInfo(REFGUID guid, ITypeInfo** info) noexcept;

}  // namespace vizadavu::com
