// lumbra.ocx's four exports, its class-object table, its module reference count and its
// table-driven registration.

#include "module.h"

#include <olectl.h>
#include <ocidl.h>

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "image_btn_control.h"
// The library's own GUIDs are defined here, once.
#include <initguid.h>
#include "lumbra_h.h"
#include "unique_resource.h"

namespace lumbra::win {
namespace {

HINSTANCE g_instance = nullptr;
std::atomic<long> g_module_refs{0};

using corva::win::com_ptr;
using corva::win::unique_hkey;

// ---- class objects

using CreateFn = HRESULT (*)(IUnknown* outer, REFIID riid, void** out);

class ClassFactory final : public IClassFactory {
 public:
  explicit constexpr ClassFactory(CreateFn create) : create_(create) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Class objects are static: they hold the module instead of counting themselves.
  STDMETHODIMP_(ULONG) AddRef() override {
    ModuleAddRef();
    return 2;
  }
  STDMETHODIMP_(ULONG) Release() override {
    ModuleRelease();
    return 1;
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(outer, riid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    lock ? ModuleAddRef() : ModuleRelease();
    return S_OK;
  }

 private:
  CreateFn create_;
};

struct ClassEntry {
  const CLSID* clsid;
  ClassFactory* factory;
};
ClassFactory g_image_btn_factory{&CreateImageBtn};
const ClassEntry kClasses[] = {{&CLSID_ImageBtn, &g_image_btn_factory}};

// ---- registration

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  ::StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(g_instance, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

struct RegEntry {
  std::wstring key;    // under HKEY_CLASSES_ROOT
  std::wstring name;   // empty: the default value
  std::wstring value;
};

// What DllRegisterServer writes under HKEY_CLASSES_ROOT, besides the type library.
std::vector<RegEntry> RegistryTable() {
  const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_ImageBtn);
  const std::wstring path = ModulePath();
  const std::wstring misc = std::to_wstring(OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                                            OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                                            OLEMISC_SETCLIENTSITEFIRST);
  return {
      {clsid, L"", L"ImageBtn"},
      {clsid + L"\\InprocServer32", L"", path},
      {clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {clsid + L"\\ProgID", L"", L"Lumbra.ImageBtn"},
      {clsid + L"\\VersionIndependentProgID", L"", L"Lumbra.ImageBtn"},
      {clsid + L"\\Control", L"", L""},
      {clsid + L"\\Programmable", L"", L""},
      {clsid + L"\\ToolboxBitmap32", L"", path + L", 30000"},
      {clsid + L"\\TypeLib", L"", GuidText(LIBID_Lumbra)},
      {clsid + L"\\Version", L"", L"1.0"},
      {clsid + L"\\MiscStatus", L"", L"0"},
      {clsid + L"\\MiscStatus\\1", L"", misc},
      {clsid + L"\\Implemented Categories\\{40FC6ED4-2438-11CF-A3DB-080036F12502}", L"", L""},
      {L"Lumbra.ImageBtn", L"", L"ImageBtn"},
      {L"Lumbra.ImageBtn\\CLSID", L"", GuidText(CLSID_ImageBtn)},
  };
}

HRESULT WriteEntry(const RegEntry& e) {
  unique_hkey key;
  LONG rc = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, e.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, key.put(), nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  rc = ::RegSetValueExW(key.get(), e.name.empty() ? nullptr : e.name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(e.value.c_str()),
                        static_cast<DWORD>((e.value.size() + 1) * sizeof(wchar_t)));
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT Unregister() {
  const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_ImageBtn);
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, clsid.c_str());
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Lumbra.ImageBtn");
  // An absent type library registration is not a failure of unregistering.
  ::UnRegisterTypeLib(LIBID_Lumbra, 1, 0, 0x409, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  return S_OK;
}

}  // namespace

HINSTANCE ModuleInstance() { return g_instance; }
void ModuleAddRef() { ++g_module_refs; }
void ModuleRelease() { --g_module_refs; }

HRESULT GetLibraryTypeInfo(REFGUID guid, ITypeInfo** info) {
  com_ptr<ITypeLib> lib;
  HRESULT hr = ::LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, lib.put());
  if (FAILED(hr)) return hr;
  return lib->GetTypeInfoOfGuid(guid, info);
}

}  // namespace lumbra::win

using namespace lumbra::win;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_instance = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const auto& c : kClasses) {
    if (*c.clsid == clsid) return c.factory->QueryInterface(riid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return g_module_refs == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  try {
    for (const auto& e : RegistryTable()) {
      if (HRESULT hr = WriteEntry(e); FAILED(hr)) {
        Unregister();
        return SELFREG_E_CLASS;
      }
    }
    com_ptr<ITypeLib> lib;
    std::wstring path = ModulePath();
    HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
    if (SUCCEEDED(hr)) hr = ::RegisterTypeLib(lib.get(), path.data(), nullptr);
    if (FAILED(hr)) {
      Unregister();
      return SELFREG_E_TYPELIB;
    }
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

STDAPI DllUnregisterServer() {
  try {
    return Unregister();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
