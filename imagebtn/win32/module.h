#pragma once
// The in-process server's module state: its instance handle, the count of live objects and
// locks that DllCanUnloadNow answers from, and the library's own type library.

#include <windows.h>
#include <oaidl.h>

namespace lumbra::win {

HINSTANCE ModuleInstance();
void ModuleAddRef();
void ModuleRelease();
// The type info of `guid` from the type library built into this file (not the registry).
HRESULT GetLibraryTypeInfo(REFGUID guid, ITypeInfo** info);

}  // namespace lumbra::win
