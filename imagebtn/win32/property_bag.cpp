#include "property_bag.h"

#include <olectl.h>

#include <memory>
#include <string>
#include <vector>

#include "memory_property_bag.h"
#include "painter.h"
#include "property_stream.h"

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

// ---- the in-memory bag and its stream form (imagebtn/core/property_stream.h)

namespace {

using MemoryBag = corva::win::MemoryPropertyBag;

class StreamReader final : public ByteReader {
 public:
  explicit StreamReader(IStream* stream) : stream_(stream) {}
  Status Read(void* data, std::size_t size) override {
    ULONG n = 0;
    const HRESULT hr = stream_->Read(data, static_cast<ULONG>(size), &n);
    return FAILED(hr) ? hr : (n == size ? S_OK : STG_E_READFAULT);
  }

 private:
  IStream* stream_;
};

class StreamWriter final : public ByteWriter {
 public:
  explicit StreamWriter(IStream* stream) : stream_(stream) {}
  Status Write(const void* data, std::size_t size) override {
    ULONG n = 0;
    const HRESULT hr = stream_->Write(data, static_cast<ULONG>(size), &n);
    return FAILED(hr) ? hr : (n == size ? S_OK : STG_E_WRITEFAULT);
  }

 private:
  IStream* stream_;
};

// Puts what the stream holds into the bag. Each VARIANT owns its text or object from the moment
// it exists, so a failure anywhere leaves nothing behind.
class BagFiller final : public StreamValueSink {
 public:
  BagFiller(IStream* stream, IPropertyBag* bag) : stream_(stream), bag_(bag) {}
  Status Value(const std::wstring& name, const StreamValue& value) override {
    unique_variant v;
    switch (value.type) {
      case StreamType::Long:
        v.vt = VT_I4;
        v.lVal = value.number;
        break;
      case StreamType::Bool:
        v.vt = VT_BOOL;
        v.boolVal = static_cast<VARIANT_BOOL>(value.number);
        break;
      case StreamType::Text: {
        BSTR text = ::SysAllocStringLen(value.text.data(), static_cast<UINT>(value.text.size()));
        if (!text) return E_OUTOFMEMORY;
        v.vt = VT_BSTR;
        v.bstrVal = text;
        break;
      }
      default: break;  // empty
    }
    return bag_->Write(name.c_str(), &v);
  }
  Status Object(const std::wstring& name) override {
    com_ptr<IDispatch> object;
    if (HRESULT hr = ::OleLoadFromStream(stream_, IID_IDispatch, object.put_void()); FAILED(hr))
      return hr;
    unique_variant v;
    v.vt = VT_DISPATCH;
    v.pdispVal = object.detach();
    return bag_->Write(name.c_str(), &v);
  }

 private:
  IStream* stream_;
  IPropertyBag* bag_;
};

}  // namespace

HRESULT CreateMemoryBag(IPropertyBag** out) {
  if (!out) return E_POINTER;
  *out = MemoryBag::Create().detach();
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT SaveMemoryBag(IPropertyBag* bag, IStream* stream) {
  auto* memory = static_cast<MemoryBag*>(bag);
  StreamWriter out(stream);
  HRESULT hr = WriteStreamHeader(out, static_cast<std::uint32_t>(memory->entries().size()));
  for (const auto& e : memory->entries()) {
    if (FAILED(hr)) break;
    const VARIANT& v = e->value;
    StreamValue value;
    switch (v.vt) {
      case VT_I4:
        value.type = StreamType::Long;
        value.number = v.lVal;
        break;
      case VT_BOOL:
        value.type = StreamType::Bool;
        value.number = v.boolVal;
        break;
      case VT_BSTR:
        value.type = StreamType::Text;
        value.text.assign(v.bstrVal ? v.bstrVal : L"", ::SysStringLen(v.bstrVal));
        break;
      case VT_DISPATCH:
      case VT_UNKNOWN: value.type = StreamType::Object; break;
      case VT_EMPTY: break;
      default: return DISP_E_TYPEMISMATCH;
    }
    com_ptr<IPersistStream> persist;
    if (value.type == StreamType::Object &&
        (!v.punkVal || FAILED(v.punkVal->QueryInterface(IID_IPersistStream, persist.put_void()))))
      return E_UNEXPECTED;
    hr = WriteStreamValue(out, e->name, value);
    if (SUCCEEDED(hr) && persist) hr = ::OleSaveToStream(persist.get(), stream);
  }
  return hr;
}

HRESULT LoadMemoryBag(IStream* stream, IPropertyBag** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  com_ptr<IPropertyBag> bag;
  if (HRESULT hr = CreateMemoryBag(bag.put()); FAILED(hr)) return hr;
  HRESULT hr = S_OK;
  try {
    StreamReader in(stream);
    BagFiller filler(stream, bag.get());
    hr = ReadPropertyStream(in, filler);
  } catch (...) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  *out = bag.detach();
  return S_OK;
}

}  // namespace lumbra::win
