#pragma once
// An IPropertyBag held in memory: values as VARIANTs, names found without regard to case, kept
// in the order they were first written. The container fills one from a saved description to
// load a control; the control saves into one for its stream form.

#include <windows.h>
#include <ocidl.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "unique_resource.h"

namespace corva::win {

class MemoryPropertyBag final : public IPropertyBag {
 public:
  struct Entry {
    std::wstring name;
    unique_variant value;
  };

  // A new bag with one reference, the caller's.
  static com_ptr<MemoryPropertyBag> Create() {
    return com_ptr<MemoryPropertyBag>::attach(new (std::nothrow) MemoryPropertyBag());
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
      *out = static_cast<IPropertyBag*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  // A value asked for as VT_EMPTY comes as stored; otherwise converted to the type asked for.
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* var, IErrorLog*) override {
    if (!name || !var) return E_POINTER;
    for (const auto& e : entries_) {
      if (::lstrcmpiW(e->name.c_str(), name) != 0) continue;
      if (var->vt == VT_EMPTY) return ::VariantCopy(var, &e->value);
      return ::VariantChangeType(var, &e->value, 0, var->vt);
    }
    return E_INVALIDARG;
  }
  // Replaces the value of a name already there, or adds the name at the end.
  STDMETHODIMP Write(LPCOLESTR name, VARIANT* var) override {
    if (!name || !var) return E_POINTER;
    try {
      for (auto& e : entries_) {
        if (::lstrcmpiW(e->name.c_str(), name) == 0) {
          e->value.reset();
          return ::VariantCopy(&e->value, var);
        }
      }
      auto e = std::make_unique<Entry>();
      e->name = name;
      const HRESULT hr = ::VariantCopy(&e->value, var);
      if (SUCCEEDED(hr)) entries_.push_back(std::move(e));
      return hr;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  const std::vector<std::unique_ptr<Entry>>& entries() const { return entries_; }

 private:
  MemoryPropertyBag() = default;
  ~MemoryPropertyBag() = default;
  std::vector<std::unique_ptr<Entry>> entries_;
  ULONG refs_ = 1;
};

}  // namespace corva::win
