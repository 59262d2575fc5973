#include "image_btn_host.h"

#include <olectl.h>

#include <map>
#include <new>

#include "dpi.h"
#include "form_description.h"
#include "memory_property_bag.h"
#include "text.h"

namespace corva::win {

namespace {

const CLSID kImageBtnClsid = {0x382caabc, 0xac6c, 0x4c43,
                              {0xad, 0xf4, 0xd1, 0x7a, 0xec, 0x34, 0x79, 0x8f}};
const IID kImageBtnEvents = {0xf9445b7c, 0x5674, 0x45e3,
                             {0xb4, 0x13, 0x60, 0x29, 0xf4, 0xf2, 0x15, 0xb1}};
constexpr DISPID kClickEvent = 1;
constexpr OLE_COLOR kAmbientForeColor = 0x80000012;  // the system button-text colour

// Places are kept in 96-DPI pixels, where a pixel is 15 twips at every scale.
constexpr int kTwipsPerBasePixel = 15;

// The description's picture and offset properties, by dispatch id: the container loads them at
// the owner's art scale and loads them again when that changes.
struct ScaledProperty {
  const char* name;
  DISPID dispid;
};
constexpr ScaledProperty kPictureProperties[] = {{"picture", 0x68030009},
                                                 {"picturedown", 0x68030008},
                                                 {"picturehov", 0x68030007},
                                                 {"bgpicture", 0x68030006}};
constexpr ScaledProperty kOffsetProperties[] = {{"imageoffset", 0x6803000d},
                                                {"borderoffset", 0x6803000c}};
constexpr DISPID kDispidFont = 0x6803000b;
constexpr LONG kHimetricPerInch = 2540;

template <std::size_t N>
DISPID DispidOf(const ScaledProperty (&table)[N], const std::string& name) {
  for (const ScaledProperty& p : table)
    if (::lstrcmpiA(p.name, name.c_str()) == 0) return p.dispid;
  return DISPID_UNKNOWN;
}

HRESULT PutProperty(IDispatch* control, DISPID dispid, VARIANT& value, WORD how) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  return control->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, how, &params, nullptr, nullptr,
                         nullptr);
}

// A picture object owning the bitmap of resource `id` at `art_scale`.
HRESULT LoadScaledPicture(HINSTANCE resources, int id, int art_scale, IPictureDisp** out) {
  unique_hbitmap bitmap = LoadArtBitmap(resources, id, art_scale);
  if (!bitmap) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
  const HRESULT hr = MakePicture(bitmap.get(), true, out);
  if (SUCCEEDED(hr)) bitmap.release();  // the picture owns it now
  return hr;
}

}  // namespace

HRESULT MakePicture(HBITMAP bitmap, bool owned, IPictureDisp** out) {
  if (!out) return E_POINTER;
  PICTDESC desc{};
  desc.cbSizeofstruct = sizeof(desc);
  desc.picType = PICTYPE_BITMAP;
  desc.bmp.hbitmap = bitmap;
  return ::OleCreatePictureIndirect(&desc, IID_IPictureDisp, owned, reinterpret_cast<void**>(out));
}

// One instance: its site in the owner window, its extender and the sink of its events.
class ImageBtnInstance final : public IOleClientSite,
                               public IOleInPlaceSite,
                               public IOleControlSite,
                               public IDispatch {  // the ambient properties
 public:
  ImageBtnInstance(ImageBtnContainer& container, const FormRecord& record, int art_scale)
      : container_(container),
        name_(Widen(record.name)),
        id_(record.id),
        base_{record.left, record.top, record.left + record.width, record.top + record.height},
        art_scale_(art_scale),
        rect_(Scaled(base_, art_scale)),
        tag_(Widen(record.tag)),
        tooltip_(Widen(record.tooltiptext)) {}

  static RECT Scaled(const RECT& base, int art_scale) {
    const dpi::ScaledRect r = dpi::ScaleRect(base.left, base.top, base.right - base.left,
                                             base.bottom - base.top, art_scale);
    return RECT{r.x, r.y, r.x + r.w, r.y + r.h};
  }

  // The description's pictures (resource ids) and offsets (96-DPI pixels), kept to be applied
  // again at another scale.
  std::vector<std::pair<DISPID, int>> pictures;
  std::vector<std::pair<DISPID, int>> offsets;

  // Moves the control to its place at `art_scale` and gives it the description's pictures and
  // offsets drawn for that scale.
  HRESULT Rescale(HINSTANCE resources, int art_scale) {
    art_scale_ = art_scale;
    rect_ = Scaled(base_, art_scale);
    if (auto ip = control_.query<IOleInPlaceObject>()) ip->SetObjectRects(&rect_, &rect_);
    if (hwnd_) {
      ::SetWindowPos(hwnd_, nullptr, rect_.left, rect_.top, rect_.right - rect_.left,
                     rect_.bottom - rect_.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (!dispatch_) return E_UNEXPECTED;
    HRESULT result = S_OK;
    for (const auto& [dispid, id] : pictures) {
      com_ptr<IPictureDisp> picture;
      HRESULT hr = LoadScaledPicture(resources, id, art_scale, picture.put());
      if (SUCCEEDED(hr)) {
        VARIANT value{};
        value.vt = VT_DISPATCH;
        value.pdispVal = picture.get();
        hr = PutProperty(dispatch_.get(), dispid, value, DISPATCH_PROPERTYPUTREF);
      }
      if (FAILED(hr)) result = hr;
    }
    ScaleFont();
    for (const auto& [dispid, base] : offsets) {
      VARIANT value{};
      value.vt = VT_I2;
      value.iVal = static_cast<SHORT>(dpi::ScaleBy(base, art_scale));
      if (HRESULT hr = PutProperty(dispatch_.get(), dispid, value, DISPATCH_PROPERTYPUT); FAILED(hr))
        result = hr;
    }
    ::InvalidateRect(hwnd_, nullptr, TRUE);
    return result;
  }

  // ---- IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
      *out = static_cast<IOleInPlaceSite*>(this);
    else if (riid == IID_IOleControlSite)
      *out = static_cast<IOleControlSite*>(this);
    else if (riid == IID_IDispatch)
      *out = static_cast<IDispatch*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  // ---- IOleClientSite
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override {
    if (m) *m = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    if (c) *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // ---- IOleInPlaceSite
  STDMETHODIMP GetWindow(HWND* hwnd) override {
    if (!hwnd) return E_POINTER;
    *hwnd = container_.owner();
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (frame) *frame = nullptr;
    if (doc) *doc = nullptr;
    if (pos) *pos = rect_;
    if (clip) *clip = rect_;
    if (info) {
      info->fMDIApp = FALSE;
      info->hwndFrame = container_.owner();
      info->haccel = nullptr;
      info->cAccelEntries = 0;
    }
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT pos) override {
    if (!pos) return E_POINTER;
    rect_ = *pos;
    base_ = RECT{dpi::MulDivRound(pos->left, 100, art_scale_), dpi::MulDivRound(pos->top, 100, art_scale_),
                 dpi::MulDivRound(pos->right, 100, art_scale_),
                 dpi::MulDivRound(pos->bottom, 100, art_scale_)};
    if (auto ip = control_.query<IOleInPlaceObject>()) ip->SetObjectRects(&rect_, &rect_);
    return S_OK;
  }

  // ---- IOleControlSite
  STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
  STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
  STDMETHODIMP GetExtendedControl(IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = &extender_;
    extender_.AddRef();
    return S_OK;
  }
  STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
  STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
  STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

  // ---- IDispatch: the ambient properties
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    if (!n) return E_POINTER;
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                      EXCEPINFO*, UINT*) override {
    if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
    ::VariantInit(result);
    switch (id) {
      case DISPID_AMBIENT_FORECOLOR:
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(kAmbientForeColor);
        return S_OK;
      case DISPID_AMBIENT_USERMODE:
        result->vt = VT_BOOL;
        result->boolVal = VARIANT_TRUE;
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

  // ---- life of the control
  HRESULT Create(IClassFactory* factory, IPropertyBag* bag) {
    com_ptr<IOleObject> object;
    HRESULT hr = factory->CreateInstance(nullptr, IID_IOleObject, object.put_void());
    if (FAILED(hr)) return hr;
    control_ = object;
    hr = object->SetClientSite(this);
    com_ptr<IPersistPropertyBag> persist = object.query<IPersistPropertyBag>();
    if (SUCCEEDED(hr)) hr = persist ? persist->Load(bag, nullptr) : E_NOINTERFACE;
    if (SUCCEEDED(hr)) {
      com_ptr<IConnectionPointContainer> cpc = object.query<IConnectionPointContainer>();
      if (cpc && SUCCEEDED(cpc->FindConnectionPoint(kImageBtnEvents, events_point_.put())))
        events_point_->Advise(&sink_, &events_cookie_);
    }
    if (SUCCEEDED(hr))
      hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, container_.owner(), &rect_);
    if (SUCCEEDED(hr)) {
      if (auto window = object.query<IOleInPlaceObject>()) window->GetWindow(&hwnd_);
      if (hwnd_) ::SetWindowLongPtrW(hwnd_, GWLP_ID, id_);
      dispatch_ = object.query<IDispatch>();
    }
    return hr;
  }

  // The caption's font at the art scale. An OLE font is realized at the screen's DPI unless given
  // another ratio of logical pixels to HIMETRIC: the one of the scale's DPI, so the caption grows
  // with the places and pictures, also on a monitor of another DPI.
  void ScaleFont() {
    if (!dispatch_) return;
    unique_variant value;
    DISPPARAMS none{};
    if (FAILED(dispatch_->Invoke(kDispidFont, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                 &none, value.put(), nullptr, nullptr)) ||
        value.vt != VT_DISPATCH || !value.pdispVal) {
      return;
    }
    com_ptr<IFont> font;
    if (SUCCEEDED(value.pdispVal->QueryInterface(IID_IFont, font.put_void())) && font)
      font->SetRatio(dpi::ScaleBy(dpi::kBaseDpi, art_scale_), kHimetricPerInch);
  }

  void Destroy() {
    if (events_point_) events_point_->Unadvise(events_cookie_);
    events_point_.reset();
    if (control_) {
      control_->Close(OLECLOSE_NOSAVE);
      control_->SetClientSite(nullptr);
    }
    control_.reset();
    dispatch_.reset();
    hwnd_ = nullptr;
  }

  const std::wstring& name() const { return name_; }
  int id() const { return id_; }
  HWND hwnd() const { return hwnd_; }
  IDispatch* dispatch() const { return dispatch_.get(); }

 private:
  // The extender: the container's own properties of the instance.
  class Extender final : public IDispatch {
   public:
    explicit Extender(ImageBtnInstance& owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
      if (!out) return E_POINTER;
      if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
      }
      *out = nullptr;
      return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_.Release(); }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
      if (!n) return E_POINTER;
      *n = 0;
      return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
      static const wchar_t* const kNames[] = {L"Name", L"Tag", L"ToolTipText", L"Left", L"Top",
                                              L"Parent", L"Visible"};
      HRESULT hr = S_OK;
      for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (int k = 0; k < 7; ++k)
          if (i == 0 && ::lstrcmpiW(names[i], kNames[k]) == 0) ids[i] = k + 1;
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
      }
      return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT*) override {
      if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        unique_variant v;
        switch (id) {
          case 2:
            owner_.tag_value_.reset();
            return ::VariantCopy(&owner_.tag_value_, &params->rgvarg[0]);
          case 3: {
            HRESULT hr = ::VariantChangeType(&v, &params->rgvarg[0], 0, VT_BSTR);
            if (FAILED(hr)) return hr;
            try {
              owner_.tooltip_.assign(v.bstrVal ? v.bstrVal : L"", ::SysStringLen(v.bstrVal));
            } catch (...) {
              return E_OUTOFMEMORY;  // nothing crosses a COM method
            }
            return S_OK;
          }
        }
        return DISP_E_MEMBERNOTFOUND;
      }
      if (!result) return E_POINTER;
      ::VariantInit(result);
      const int twips = kTwipsPerBasePixel;
      switch (id) {
        case 1: return Text(owner_.name_, result);
        case 2:
          if (owner_.tag_value_.vt != VT_EMPTY) return ::VariantCopy(result, &owner_.tag_value_);
          return Text(owner_.tag_, result);
        case 3: return Text(owner_.tooltip_, result);
        case 4: return Long(owner_.base_.left * twips, result);
        case 5: return Long(owner_.base_.top * twips, result);
        case 6:  // the owning window, by its handle
          return Long(static_cast<LONG>(reinterpret_cast<LONG_PTR>(owner_.container_.owner())),
                      result);
        case 7:
          result->vt = VT_BOOL;
          result->boolVal = owner_.hwnd_ && ::IsWindowVisible(owner_.hwnd_) ? VARIANT_TRUE
                                                                           : VARIANT_FALSE;
          return S_OK;
      }
      return DISP_E_MEMBERNOTFOUND;
    }

   private:
    static HRESULT Text(const std::wstring& s, VARIANT* out) {
      out->vt = VT_BSTR;
      out->bstrVal = ::SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
      return out->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT Long(LONG v, VARIANT* out) {
      out->vt = VT_I4;
      out->lVal = v;
      return S_OK;
    }
    ImageBtnInstance& owner_;
  };

  // The sink of __ImageBtn: Click goes to the owner as a button's BN_CLICKED.
  class Sink final : public IDispatch {
   public:
    explicit Sink(ImageBtnInstance& owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
      if (!out) return E_POINTER;
      if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kImageBtnEvents) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
      }
      *out = nullptr;
      return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_.Release(); }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
      if (!n) return E_POINTER;
      *n = 0;
      return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
      return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
      // Posted: the owner may destroy the button in its handler, after the event has returned.
      if (id == kClickEvent) {
        ::PostMessageW(owner_.container_.owner(), WM_COMMAND,
                       MAKEWPARAM(owner_.id_, BN_CLICKED),
                       reinterpret_cast<LPARAM>(owner_.hwnd_));
      }
      return S_OK;
    }

   private:
    ImageBtnInstance& owner_;
  };

  ULONG refs_ = 1;
  ImageBtnContainer& container_;
  std::wstring name_;
  int id_;
  RECT base_;  // 96-DPI pixels
  int art_scale_;
  RECT rect_;  // at art_scale_
  std::wstring tag_;
  unique_variant tag_value_;
  std::wstring tooltip_;
  Extender extender_{*this};
  Sink sink_{*this};
  com_ptr<IOleObject> control_;
  com_ptr<IDispatch> dispatch_;
  com_ptr<IConnectionPoint> events_point_;
  DWORD events_cookie_ = 0;
  HWND hwnd_ = nullptr;
};

ImageBtnContainer::ImageBtnContainer(HWND owner, HINSTANCE resources, std::wstring library)
    : owner_(owner),
      resources_(resources),
      library_path_(std::move(library)),
      art_scale_(dpi::ArtScaleForDpi(DpiOfWindow(owner))) {
  if (library_path_.empty()) library_path_ = ProgramDirectory() + L"\\lumbra.ocx";
}

ImageBtnContainer::~ImageBtnContainer() {
  for (auto& instance : instances_) instance->Destroy();
  instances_.clear();
  factory_.reset();
  // The library stays loaded for the rest of the process: its window classes point into it.
}

HRESULT ImageBtnContainer::Load(std::string_view description) {
  try {
    const FormParseResult parsed = ParseFormDescription(description);
    if (!parsed.error.empty()) return E_INVALIDARG;
    if (!factory_) {
      if (!library_) library_ = ::LoadLibraryW(library_path_.c_str());
      if (!library_) return HRESULT_FROM_WIN32(::GetLastError());
      using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
      auto get_class = reinterpret_cast<GetClassObjectFn>(
          reinterpret_cast<void (*)()>(::GetProcAddress(library_, "DllGetClassObject")));
      if (!get_class) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
      HRESULT hr = get_class(kImageBtnClsid, IID_IClassFactory, factory_.put_void());
      if (FAILED(hr)) return hr;
    }
    for (const FormRecord& record : parsed.records) {
      // The saved properties of the instance, as its IPersistPropertyBag::Load reads them.
      com_ptr<MemoryPropertyBag> bag = MemoryPropertyBag::Create();
      if (!bag) return E_OUTOFMEMORY;
      com_ptr<ImageBtnInstance> instance =
          com_ptr<ImageBtnInstance>::attach(new ImageBtnInstance(*this, record, art_scale_));
      for (const auto& [name, value] : record.properties) {
        unique_variant stored;
        VARIANT* v = &stored;
        switch (value.kind) {
          case FormValue::Kind::Number:
            v->vt = VT_I4;
            v->lVal = value.number;
            if (const DISPID offset = DispidOf(kOffsetProperties, name); offset != DISPID_UNKNOWN) {
              instance->offsets.emplace_back(offset, value.number);
              v->lVal = dpi::ScaleBy(value.number, art_scale_);
            }
            break;
          case FormValue::Kind::Switch:
            v->vt = VT_BOOL;
            v->boolVal = value.flag ? VARIANT_TRUE : VARIANT_FALSE;
            break;
          case FormValue::Kind::Text: {
            const std::wstring text = Widen(value.text);
            v->vt = VT_BSTR;
            v->bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            break;
          }
          case FormValue::Kind::Picture: {
            IPictureDisp* picture = nullptr;
            if (HRESULT hr = LoadScaledPicture(resources_, value.number, art_scale_, &picture);
                FAILED(hr)) {
              return hr;
            }
            v->vt = VT_DISPATCH;
            v->pdispVal = picture;
            if (const DISPID dispid = DispidOf(kPictureProperties, name); dispid != DISPID_UNKNOWN)
              instance->pictures.emplace_back(dispid, value.number);
            break;
          }
        }
        if (HRESULT hr = bag->Write(Widen(name).c_str(), v); FAILED(hr)) return hr;
      }
      HRESULT hr = instance->Create(factory_.get(), bag.get());
      if (FAILED(hr)) {
        instance->Destroy();
        return hr;
      }
      instance->ScaleFont();
      instances_.push_back(instance);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ImageBtnContainer::LoadResource(int resource_id) {
  HRSRC found = ::FindResourceW(resources_, MAKEINTRESOURCEW(resource_id), MAKEINTRESOURCEW(10));
  if (!found) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
  HGLOBAL loaded = ::LoadResource(resources_, found);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data) return HRESULT_FROM_WIN32(::GetLastError());
  return Load(std::string_view(static_cast<const char*>(data), ::SizeofResource(resources_, found)));
}

HRESULT ImageBtnContainer::SetArtScale(int art_scale) {
  art_scale_ = art_scale;
  HRESULT result = S_OK;
  for (const auto& i : instances_) {
    if (HRESULT hr = i->Rescale(resources_, art_scale); FAILED(hr)) result = hr;
  }
  return result;
}

ImageBtnInstance* ImageBtnContainer::Find(std::wstring_view name) const {
  for (const auto& i : instances_)
    if (i->name() == name) return i.get();
  return nullptr;
}

IDispatch* ImageBtnContainer::Control(std::wstring_view name) const {
  ImageBtnInstance* i = Find(name);
  return i ? i->dispatch() : nullptr;
}

HWND ImageBtnContainer::Window(std::wstring_view name) const {
  ImageBtnInstance* i = Find(name);
  return i ? i->hwnd() : nullptr;
}

int ImageBtnContainer::Id(std::wstring_view name) const {
  ImageBtnInstance* i = Find(name);
  return i ? i->id() : 0;
}

HRESULT ImageBtnContainer::SetPicture(std::wstring_view name, DISPID dispid, HBITMAP bitmap) {
  IDispatch* control = Control(name);
  if (!control) return E_INVALIDARG;
  com_ptr<IPictureDisp> picture;
  // The caller keeps its bitmap: the picture borrows it.
  if (HRESULT hr = MakePicture(bitmap, false, picture.put()); FAILED(hr)) return hr;
  VARIANT value{};
  value.vt = VT_DISPATCH;
  value.pdispVal = picture.get();
  return PutProperty(control, dispid, value, DISPATCH_PROPERTYPUTREF);
}

void ImageBtnContainer::SetVisible(std::wstring_view name, bool visible) {
  if (HWND hwnd = Window(name)) ::ShowWindow(hwnd, visible ? SW_SHOW : SW_HIDE);
}

bool ImageBtnContainer::IsVisible(std::wstring_view name) const {
  HWND hwnd = Window(name);
  return hwnd && (::GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

}  // namespace corva::win
