#include "property_bag.h"

#include <olectl.h>

#include <memory>
#include <string>
#include <vector>

#include "memory_property_bag.h"
#include "painter.h"

namespace lumbra::win {

using corva::win::com_ptr;
using corva::win::unique_bstr;
using corva::win::unique_variant;

namespace {

std::wstring Wide(std::string_view s) { return std::wstring(s.begin(), s.end()); }

// Names a bag does not hold come back as one of these.
bool IsAbsent(HRESULT hr) { return hr == E_INVALIDARG || hr == E_FAIL; }

}  // namespace

HRESULT BagPort::Read(std::string_view name, VARTYPE type, VARIANT& out, bool& found) {
  found = false;
  unique_variant raw;
  const std::wstring wide = Wide(name);
  HRESULT hr = bag_->Read(wide.c_str(), &raw, log_);
  if (IsAbsent(hr)) return S_OK;
  if (FAILED(hr)) return hr;
  if (raw.vt == VT_EMPTY) return S_OK;
  found = true;
  if (type == VT_EMPTY) return ::VariantCopy(&out, &raw);
  return ::VariantChangeType(&out, &raw, 0, type);
}

Status BagPort::ReadText(std::string_view name, std::optional<std::wstring>& out) {
  unique_variant v;
  bool found = false;
  out.reset();
  if (HRESULT hr = Read(name, VT_BSTR, v, found); FAILED(hr)) return hr;
  if (found) out = std::wstring(v.bstrVal ? v.bstrVal : L"", ::SysStringLen(v.bstrVal));
  return kOk;
}

Status BagPort::ReadLong(std::string_view name, std::optional<std::int32_t>& out) {
  unique_variant v;
  bool found = false;
  out.reset();
  // Colours above 0x7FFFFFFF may come back unsigned.
  if (HRESULT hr = Read(name, VT_EMPTY, v, found); FAILED(hr)) return hr;
  if (!found) return kOk;
  if (v.vt == VT_UI4 || v.vt == VT_UINT) {
    out = static_cast<std::int32_t>(v.ulVal);
    return kOk;
  }
  if (HRESULT hr = ::VariantChangeType(&v, &v, 0, VT_I4); FAILED(hr)) return hr;
  out = v.lVal;
  return kOk;
}

Status BagPort::ReadBool(std::string_view name, std::optional<bool>& out) {
  unique_variant v;
  bool found = false;
  out.reset();
  if (HRESULT hr = Read(name, VT_BOOL, v, found); FAILED(hr)) return hr;
  if (found) out = v.boolVal != VARIANT_FALSE;
  return kOk;
}

Status BagPort::ReadPicture(std::string_view name, std::optional<PictureRef>& out) {
  unique_variant v;
  bool found = false;
  out.reset();
  if (HRESULT hr = Read(name, VT_EMPTY, v, found); FAILED(hr)) return hr;
  if (!found || v.vt == VT_NULL) return kOk;
  if (v.vt != VT_DISPATCH && v.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  PictureRef picture;
  if (HRESULT hr = ComPicture::Create(v.punkVal, picture); FAILED(hr)) return hr;
  out = std::move(picture);
  return kOk;
}

Status BagPort::ReadFont(std::string_view name) {
  unique_variant v;
  bool found = false;
  if (HRESULT hr = Read(name, VT_EMPTY, v, found); FAILED(hr)) return hr;
  if (!found) return kOk;
  if ((v.vt != VT_DISPATCH && v.vt != VT_UNKNOWN) || !v.punkVal) return DISP_E_TYPEMISMATCH;
  com_ptr<IFont> font;
  if (HRESULT hr = v.punkVal->QueryInterface(IID_IFont, font.put_void()); FAILED(hr))
    return DISP_E_TYPEMISMATCH;
  // The control keeps its own font object, as a fresh copy of the one stored.
  com_ptr<IFont> copy;
  if (SUCCEEDED(font->Clone(copy.put()))) font = copy;
  font_ = font;
  return kOk;
}

HRESULT BagPort::Write(std::string_view name, VARIANT& value) {
  const std::wstring wide = Wide(name);
  return bag_->Write(wide.c_str(), &value);
}

Status BagPort::WriteText(std::string_view name, const std::wstring& value) {
  unique_variant v;
  v.vt = VT_BSTR;
  v.bstrVal = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  return Write(name, v);
}

Status BagPort::WriteLong(std::string_view name, std::int32_t value) {
  unique_variant v;
  v.vt = VT_I4;
  v.lVal = value;
  return Write(name, v);
}

Status BagPort::WriteBool(std::string_view name, bool value) {
  unique_variant v;
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return Write(name, v);
}

Status BagPort::WritePicture(std::string_view name, const PictureRef& value) {
  const auto* picture = dynamic_cast<const ComPicture*>(value.get());
  if (!picture) return kOk;
  unique_variant v;
  v.vt = VT_DISPATCH;
  if (HRESULT hr = picture->get()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&v.pdispVal));
      FAILED(hr)) {
    v.vt = VT_EMPTY;
    return hr;
  }
  return Write(name, v);
}

Status BagPort::WriteFont(std::string_view name) {
  unique_variant v;
  if (font_) {
    v.vt = VT_DISPATCH;
    if (FAILED(font_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&v.pdispVal))))
      v.vt = VT_EMPTY;
  }
  return Write(name, v);
}

// ---- the in-memory bag and its stream form

namespace {

constexpr std::uint32_t kStreamMagic = 0x4E54424C;  // "LBTN"

using MemoryBag = corva::win::MemoryPropertyBag;

template <typename T>
HRESULT Put(IStream* s, const T& v) {
  ULONG n = 0;
  HRESULT hr = s->Write(&v, sizeof(v), &n);
  return FAILED(hr) ? hr : (n == sizeof(v) ? S_OK : STG_E_WRITEFAULT);
}
template <typename T>
HRESULT Get(IStream* s, T& v) {
  ULONG n = 0;
  HRESULT hr = s->Read(&v, sizeof(v), &n);
  return FAILED(hr) ? hr : (n == sizeof(v) ? S_OK : STG_E_READFAULT);
}
HRESULT PutText(IStream* s, const wchar_t* text, std::uint32_t length) {
  if (HRESULT hr = Put(s, length); FAILED(hr)) return hr;
  ULONG n = 0;
  const ULONG bytes = length * sizeof(wchar_t);
  HRESULT hr = s->Write(text, bytes, &n);
  return FAILED(hr) ? hr : (n == bytes ? S_OK : STG_E_WRITEFAULT);
}
HRESULT GetText(IStream* s, std::wstring& text) {
  std::uint32_t length = 0;
  if (HRESULT hr = Get(s, length); FAILED(hr)) return hr;
  if (length > 1u << 20) return STG_E_READFAULT;
  text.assign(length, L'\0');
  ULONG n = 0;
  const ULONG bytes = length * sizeof(wchar_t);
  HRESULT hr = s->Read(text.data(), bytes, &n);
  return FAILED(hr) ? hr : (n == bytes ? S_OK : STG_E_READFAULT);
}

}  // namespace

HRESULT CreateMemoryBag(IPropertyBag** out) {
  if (!out) return E_POINTER;
  *out = MemoryBag::Create().detach();
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT SaveMemoryBag(IPropertyBag* bag, IStream* stream) {
  auto* memory = static_cast<MemoryBag*>(bag);
  HRESULT hr = Put(stream, kStreamMagic);
  if (SUCCEEDED(hr)) hr = Put(stream, static_cast<std::uint32_t>(memory->entries().size()));
  for (const auto& e : memory->entries()) {
    if (FAILED(hr)) break;
    hr = PutText(stream, e->name.c_str(), static_cast<std::uint32_t>(e->name.size()));
    const VARIANT& v = e->value;
    if (SUCCEEDED(hr)) hr = Put(stream, v.vt);
    if (FAILED(hr)) break;
    switch (v.vt) {
      case VT_I4: hr = Put(stream, v.lVal); break;
      case VT_BOOL: hr = Put(stream, v.boolVal); break;
      case VT_BSTR: hr = PutText(stream, v.bstrVal, ::SysStringLen(v.bstrVal)); break;
      case VT_DISPATCH:
      case VT_UNKNOWN: {
        com_ptr<IPersistStream> persist;
        if (!v.punkVal || FAILED(v.punkVal->QueryInterface(IID_IPersistStream, persist.put_void())))
          return E_UNEXPECTED;
        hr = ::OleSaveToStream(persist.get(), stream);
        break;
      }
      case VT_EMPTY: break;
      default: return DISP_E_TYPEMISMATCH;
    }
  }
  return hr;
}

HRESULT LoadMemoryBag(IStream* stream, IPropertyBag** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  com_ptr<IPropertyBag> bag;
  if (HRESULT hr = CreateMemoryBag(bag.put()); FAILED(hr)) return hr;
  std::uint32_t magic = 0, count = 0;
  HRESULT hr = Get(stream, magic);
  if (SUCCEEDED(hr) && magic != kStreamMagic) hr = STG_E_INVALIDHEADER;
  if (SUCCEEDED(hr)) hr = Get(stream, count);
  try {
    for (std::uint32_t i = 0; SUCCEEDED(hr) && i < count; ++i) {
      std::wstring name;
      VARTYPE vt = VT_EMPTY;
      hr = GetText(stream, name);
      if (SUCCEEDED(hr)) hr = Get(stream, vt);
      if (FAILED(hr)) break;
      unique_variant v;
      switch (vt) {
        case VT_I4: hr = Get(stream, v.lVal); break;
        case VT_BOOL: hr = Get(stream, v.boolVal); break;
        case VT_BSTR: {
          std::wstring text;
          hr = GetText(stream, text);
          v.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
          break;
        }
        case VT_DISPATCH:
        case VT_UNKNOWN:
          hr = ::OleLoadFromStream(stream, IID_IDispatch, reinterpret_cast<void**>(&v.pdispVal));
          vt = VT_DISPATCH;
          break;
        case VT_EMPTY: break;
        default: hr = STG_E_READFAULT; break;
      }
      if (FAILED(hr)) break;
      v.vt = vt;
      hr = bag->Write(name.c_str(), &v);
    }
  } catch (...) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  *out = bag.detach();
  return S_OK;
}

}  // namespace lumbra::win
