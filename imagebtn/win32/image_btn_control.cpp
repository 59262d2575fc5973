// The ImageBtn control object: the COM interfaces a container uses to embed, activate, persist
// and script it, its connection points, and its control window. Every decision is taken by
// lumbra::ImageBtn; this file only translates.

#include "image_btn_control.h"

#include <ocidl.h>
#include <olectl.h>
#include <windowsx.h>

#include <new>
#include <string>
#include <vector>

#include "accessible.h"
#include "image_btn.h"
#include "lumbra_h.h"
#include "module.h"
#include "painter.h"
#include "property_bag.h"
#include "tooltip_window.h"
#include "unique_resource.h"

namespace lumbra::win {

using corva::win::com_ptr;
using corva::win::paint_dc;
using corva::win::unique_bstr;
using corva::win::unique_hwnd;
using corva::win::unique_variant;
using corva::win::window_dc;


namespace {

constexpr wchar_t kWindowClass[] = L"LumbraImageBtn";
constexpr UINT_PTR kTimerToolTip = 1;  // tmrToolTip
constexpr UINT kToolTipIntervalMs = 500;

// HIMETRIC of the default 1335 x 960 twips.
constexpr LONG kDefaultExtentX = kDefaultWidthTwips * 2540 / 1440;
constexpr LONG kDefaultExtentY = kDefaultHeightTwips * 2540 / 1440;

constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                              OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                              OLEMISC_SETCLIENTSITEFIRST;

// Runs `body`, turning any exception into a result code: none crosses a COM method.
template <typename F>
HRESULT Guard(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

std::int16_t ShiftState() {
  std::int16_t shift = 0;
  if (::GetKeyState(VK_SHIFT) < 0) shift |= 1;
  if (::GetKeyState(VK_CONTROL) < 0) shift |= 2;
  if (::GetKeyState(VK_MENU) < 0) shift |= 4;
  return shift;
}

std::int16_t ButtonsOf(WPARAM wp) {
  std::int16_t b = 0;
  if (wp & MK_LBUTTON) b |= 1;
  if (wp & MK_RBUTTON) b |= 2;
  if (wp & MK_MBUTTON) b |= 4;
  return b;
}

// ---- connection points

class ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(IConnectionPointContainer* owner, REFIID iid) : owner_(owner), iid_(iid) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
      *out = static_cast<IConnectionPoint*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Lives inside the control: counts on the control.
  STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override {
    if (!out) return E_POINTER;
    *out = owner_;
    owner_->AddRef();
    return S_OK;
  }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    if (!sink || !cookie) return E_POINTER;
    return Guard([&]() -> HRESULT {
      com_ptr<IUnknown> typed;
      if (FAILED(sink->QueryInterface(iid_, typed.put_void()))) return CONNECT_E_CANNOTCONNECT;
      sinks_.push_back({++last_cookie_, typed});
      *cookie = last_cookie_;
      return S_OK;
    });
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
      if (it->cookie == cookie) {
        sinks_.erase(it);
        return S_OK;
      }
    }
    return CONNECT_E_NOCONNECTION;
  }
  STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  // A copy, so that a sink may unadvise while being called.
  std::vector<com_ptr<IUnknown>> Sinks() const {
    std::vector<com_ptr<IUnknown>> out;
    for (const auto& s : sinks_) out.push_back(s.sink);
    return out;
  }
  void Clear() { sinks_.clear(); }

 private:
  struct Sink {
    DWORD cookie;
    com_ptr<IUnknown> sink;
  };
  IConnectionPointContainer* owner_;
  IID iid_;
  std::vector<Sink> sinks_;
  DWORD last_cookie_ = 0;
};

// ---- the control

class ImageBtnControl final : public _ImageBtn,
                              public IOleObject,
                              public IOleInPlaceObject,
                              public IOleControl,
                              public IViewObject2,
                              public IPersistPropertyBag,
                              public IPersistStreamInit,
                              public IConnectionPointContainer,
                              public IProvideClassInfo2,
                              private ImageBtnHost {
 public:
  ImageBtnControl()
      : events_(this, DIID___ImageBtn), notify_(this, IID_IPropertyNotifySink) {
    ModuleAddRef();
  }
  ~ImageBtnControl() {
    DestroyControlWindow();
    core_.ReleasePictures();
    ModuleRelease();
  }

  HRESULT Init() {
    HRESULT hr = GetLibraryTypeInfo(IID__ImageBtn, type_info_.put());
    if (FAILED(hr)) return hr;
    return ResetFont();
  }

  // ---- IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__ImageBtn)
      *out = static_cast<_ImageBtn*>(this);
    else if (riid == IID_IOleObject)
      *out = static_cast<IOleObject*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
      *out = static_cast<IOleInPlaceObject*>(this);
    else if (riid == IID_IOleControl)
      *out = static_cast<IOleControl*>(this);
    else if (riid == IID_IViewObject || riid == IID_IViewObject2)
      *out = static_cast<IViewObject2*>(this);
    else if (riid == IID_IPersistPropertyBag)
      *out = static_cast<IPersistPropertyBag*>(this);
    else if (riid == IID_IPersistStreamInit)
      *out = static_cast<IPersistStreamInit*>(this);
    else if (riid == IID_IPersist)
      *out = static_cast<IPersistPropertyBag*>(this);
    else if (riid == IID_IConnectionPointContainer)
      *out = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2)
      *out = static_cast<IProvideClassInfo2*>(this);
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

  // ---- IDispatch, through the type library
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    if (index != 0) return DISP_E_BADINDEX;
    *info = type_info_.get();
    type_info_->AddRef();
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                             DISPID* ids) override {
    return ::DispGetIDsOfNames(type_info_.get(), names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* arg_err) override {
    return ::DispInvoke(static_cast<_ImageBtn*>(this), type_info_.get(), id, flags, params,
                        result, excep, arg_err);
  }

  // ---- _ImageBtn
  STDMETHODIMP get_ToolTipBackColor(OLE_COLOR* v) override { return Get(v, F().tooltip_back_color); }
  STDMETHODIMP put_ToolTipBackColor(OLE_COLOR v) override {
    return Guard([&] { return core_.SetToolTipBackColor(v); });
  }
  STDMETHODIMP get_ToolTipForeColor(OLE_COLOR* v) override { return Get(v, F().tooltip_fore_color); }
  STDMETHODIMP put_ToolTipForeColor(OLE_COLOR v) override {
    return Guard([&] { return core_.SetToolTipForeColor(v); });
  }
  STDMETHODIMP get_ToolTipText(BSTR* v) override {
    if (!v) return E_POINTER;
    return Guard([&] { return Bstr(ToolTipText(), v); });
  }
  STDMETHODIMP put_ToolTipText(BSTR v) override {
    return Guard([&] { return core_.SetToolTipText(std::wstring(v ? v : L"", ::SysStringLen(v))); });
  }
  STDMETHODIMP put_Tag(VARIANT v) override {
    com_ptr<IDispatch> ext = Extender();
    if (ext) return ExtenderPut(ext.get(), L"Tag", v);
    tag_.reset();
    return ::VariantCopy(&tag_, &v);
  }
  STDMETHODIMP get_Tag(VARIANT* v) override {
    if (!v) return E_POINTER;
    ::VariantInit(v);
    com_ptr<IDispatch> ext = Extender();
    if (ext) return ExtenderGet(ext.get(), L"Tag", v);
    return ::VariantCopy(v, &tag_);
  }
  STDMETHODIMP get_hwnd(long* v) override {
    if (!v) return E_POINTER;
    *v = static_cast<long>(reinterpret_cast<LONG_PTR>(hwnd_.get()));
    return S_OK;
  }
  STDMETHODIMP put_GrabBG(VARIANT_BOOL v) override {
    return Guard([&] { return core_.SetGrabBG(v != VARIANT_FALSE); });
  }
  STDMETHODIMP get_GrabBG(VARIANT_BOOL* v) override { return GetBool(v, F().grab_bg); }
  STDMETHODIMP put_HAlign(::lcHorizAlign v) override {
    return Guard([&] { return core_.SetHAlign(static_cast<std::int32_t>(v)); });
  }
  STDMETHODIMP get_HAlign(::lcHorizAlign* v) override {
    if (!v) return E_POINTER;
    *v = static_cast<::lcHorizAlign>(F().alignment);
    return S_OK;
  }
  STDMETHODIMP put_ImageOffset(short v) override {
    return Guard([&] { return core_.SetImageOffset(v); });
  }
  STDMETHODIMP get_ImageOffset(short* v) override { return Get(v, F().image_offset); }
  STDMETHODIMP put_BorderOffset(short v) override {
    return Guard([&] { return core_.SetBorderOffset(v); });
  }
  STDMETHODIMP get_BorderOffset(short* v) override { return Get(v, F().border_offset); }
  STDMETHODIMP putref_Font(IFontDisp* v) override {
    return Guard([&]() -> HRESULT {
      com_ptr<IFont> font;
      if (v && FAILED(v->QueryInterface(IID_IFont, font.put_void()))) return DISP_E_TYPEMISMATCH;
      font_ = font;
      if (!font_) ResetFont();
      return core_.FontChanged();
    });
  }
  STDMETHODIMP get_Font(IFontDisp** v) override {
    if (!v) return E_POINTER;
    *v = nullptr;
    if (!font_) return S_OK;
    return font_->QueryInterface(IID_IFontDisp, reinterpret_cast<void**>(v));
  }
  STDMETHODIMP put_Style(long v) override { return Guard([&] { return core_.SetStyle(v); }); }
  STDMETHODIMP get_Style(long* v) override { return Get(v, F().style); }
  STDMETHODIMP putref_Picture(IPictureDisp* v) override { return SetPic(PictureSlot::Picture, v); }
  STDMETHODIMP get_Picture(IPictureDisp** v) override { return GetPic(PictureSlot::Picture, v); }
  STDMETHODIMP putref_PictureDown(IPictureDisp* v) override {
    return SetPic(PictureSlot::PictureDown, v);
  }
  STDMETHODIMP get_PictureDown(IPictureDisp** v) override {
    return GetPic(PictureSlot::PictureDown, v);
  }
  STDMETHODIMP putref_PictureHov(IPictureDisp* v) override {
    return SetPic(PictureSlot::PictureHov, v);
  }
  STDMETHODIMP get_PictureHov(IPictureDisp** v) override {
    return GetPic(PictureSlot::PictureHov, v);
  }
  STDMETHODIMP putref_BGPicture(IPictureDisp* v) override {
    return SetPic(PictureSlot::BGPicture, v);
  }
  STDMETHODIMP get_BGPicture(IPictureDisp** v) override {
    return GetPic(PictureSlot::BGPicture, v);
  }
  STDMETHODIMP put_Caption(BSTR v) override {
    return Guard([&]() -> HRESULT {
      HRESULT hr = core_.SetCaption(std::wstring(v ? v : L"", ::SysStringLen(v)));
      // The window's text is the caption, as a standard button's is.
      if (hwnd_) ::SetWindowTextW(hwnd_.get(), F().caption.c_str());
      return hr;
    });
  }
  STDMETHODIMP get_Caption(BSTR* v) override {
    if (!v) return E_POINTER;
    return Guard([&] { return Bstr(F().caption, v); });
  }
  STDMETHODIMP put_Enabled(VARIANT_BOOL v) override {
    return Guard([&] { return core_.SetEnabled(v != VARIANT_FALSE); });
  }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override { return GetBool(v, F().enabled); }
  STDMETHODIMP put_ForeColor(OLE_COLOR v) override {
    return Guard([&] { return core_.SetForeColor(v); });
  }
  STDMETHODIMP get_ForeColor(OLE_COLOR* v) override { return Get(v, F().fore_color); }
  STDMETHODIMP put_BackColor(OLE_COLOR v) override {
    return Guard([&] { return core_.SetBackColor(v); });
  }
  STDMETHODIMP get_BackColor(OLE_COLOR* v) override { return Get(v, F().back_color); }
  STDMETHODIMP put_HighlightColor(OLE_COLOR v) override {
    return Guard([&] { return core_.SetHighlightColor(v); });
  }
  STDMETHODIMP get_HighlightColor(OLE_COLOR* v) override { return Get(v, F().highlight_color); }
  STDMETHODIMP put_TransparentColor(OLE_COLOR v) override {
    return Guard([&] { return core_.SetTransparentColor(v); });
  }
  STDMETHODIMP get_TransparentColor(OLE_COLOR* v) override {
    return Get(v, F().transparent_color);
  }
  STDMETHODIMP Refresh() override { return Guard([&] { return core_.Refresh(); }); }

  // ---- IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override {
    site_ = com_ptr<IOleClientSite>(site);
    if (!site) DestroyControlWindow();
    return S_OK;
  }
  STDMETHODIMP GetClientSite(IOleClientSite** site) override {
    if (!site) return E_POINTER;
    *site = site_.get();
    if (*site) (*site)->AddRef();
    return S_OK;
  }
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP Close(DWORD) override {
    InPlaceDeactivate();
    return S_OK;
  }
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) override {
    if (site && !site_) site_ = com_ptr<IOleClientSite>(site);
    switch (verb) {
      case OLEIVERB_PRIMARY:
      case OLEIVERB_SHOW:
      case OLEIVERB_INPLACEACTIVATE:
      case OLEIVERB_UIACTIVATE: return Guard([&] { return InPlaceActivate(); });
      case OLEIVERB_HIDE:
        if (hwnd_) ::ShowWindow(hwnd_.get(), SW_HIDE);
        return S_OK;
      default: return OLEOBJ_S_INVALIDVERB;
    }
  }
  STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return OLEOBJ_E_NOVERBS; }
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP GetUserClassID(CLSID* clsid) override { return GetClassID(clsid); }
  STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return OLE_S_USEREG; }
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    extent_ = *size;
    return S_OK;
  }
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    *size = extent_;
    return S_OK;
  }
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* cookie) override {
    if (!advise_holder_ && FAILED(::CreateOleAdviseHolder(advise_holder_.put())))
      return E_OUTOFMEMORY;
    return advise_holder_->Advise(sink, cookie);
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    return advise_holder_ ? advise_holder_->Unadvise(cookie) : OLE_E_NOCONNECTION;
  }
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** e) override {
    if (!e) return E_POINTER;
    *e = nullptr;
    return advise_holder_ ? advise_holder_->EnumAdvise(e) : S_OK;
  }
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override {
    if (!status) return E_POINTER;
    *status = aspect == DVASPECT_CONTENT ? kMiscStatus : 0;
    return S_OK;
  }
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // ---- IOleInPlaceObject
  STDMETHODIMP GetWindow(HWND* hwnd) override {
    if (!hwnd) return E_POINTER;
    *hwnd = hwnd_.get();
    return hwnd_ ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP InPlaceDeactivate() override {
    if (!in_place_) return S_OK;
    DestroyControlWindow();
    in_place_ = false;
    if (com_ptr<IOleInPlaceSite> ips = site_.query<IOleInPlaceSite>()) ips->OnInPlaceDeactivate();
    return S_OK;
  }
  STDMETHODIMP UIDeactivate() override { return S_OK; }
  STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT) override {
    if (!pos) return E_POINTER;
    pos_ = *pos;
    if (hwnd_) {
      ::MoveWindow(hwnd_.get(), pos->left, pos->top, pos->right - pos->left,
                   pos->bottom - pos->top, TRUE);
    }
    return S_OK;
  }
  STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

  // ---- IOleControl
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override {
    if (!info) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
  }
  STDMETHODIMP OnMnemonic(MSG*) override { return S_OK; }
  STDMETHODIMP OnAmbientPropertyChange(DISPID) override {
    return Guard([&] { return core_.Refresh(); });
  }
  STDMETHODIMP FreezeEvents(BOOL freeze) override {
    freeze ? ++frozen_ : (frozen_ > 0 ? --frozen_ : 0);
    return S_OK;
  }

  // ---- IViewObject2
  STDMETHODIMP Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                    LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc || !bounds) return E_INVALIDARG;
    return Guard([&]() -> HRESULT {
      return PaintImageBtn(dc, bounds->left, bounds->top,
                           Source(bounds->right - bounds->left, bounds->bottom - bounds->top));
    });
  }
  STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override {
    view_sink_ = com_ptr<IAdviseSink>(sink);
    view_aspects_ = aspects;
    view_flags_ = flags;
    return S_OK;
  }
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override {
    if (aspects) *aspects = view_aspects_;
    if (flags) *flags = view_flags_;
    if (sink) {
      *sink = view_sink_.get();
      if (*sink) (*sink)->AddRef();
    }
    return S_OK;
  }
  STDMETHODIMP GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override {
    return GetExtent(aspect, size);
  }

  // ---- IPersist, IPersistPropertyBag, IPersistStreamInit
  STDMETHODIMP GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_ImageBtn;
    return S_OK;
  }
  STDMETHODIMP InitNew() override {
    return Guard([&]() -> HRESULT {
      core_.InitNew();
      dirty_ = false;
      return S_OK;
    });
  }
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override {
    if (!bag) return E_POINTER;
    return Guard([&]() -> HRESULT {
      BagPort port(bag, log, font_);
      HRESULT hr = core_.ReadProperties(port);
      if (!font_) ResetFont();
      if (hwnd_) ::SetWindowTextW(hwnd_.get(), F().caption.c_str());
      dirty_ = false;
      return hr;
    });
  }
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clear_dirty, BOOL) override {
    if (!bag) return E_POINTER;
    return Guard([&]() -> HRESULT {
      BagPort port(bag, nullptr, font_);
      HRESULT hr = core_.WriteProperties(port);
      if (SUCCEEDED(hr) && clear_dirty) dirty_ = false;
      return hr;
    });
  }
  STDMETHODIMP IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  STDMETHODIMP Load(LPSTREAM stream) override {
    if (!stream) return E_POINTER;
    return Guard([&]() -> HRESULT {
      com_ptr<IPropertyBag> bag;
      HRESULT hr = LoadMemoryBag(stream, bag.put());
      return FAILED(hr) ? hr : Load(bag.get(), nullptr);
    });
  }
  STDMETHODIMP Save(LPSTREAM stream, BOOL clear_dirty) override {
    if (!stream) return E_POINTER;
    return Guard([&]() -> HRESULT {
      com_ptr<IPropertyBag> bag;
      HRESULT hr = CreateMemoryBag(bag.put());
      if (SUCCEEDED(hr)) hr = Save(bag.get(), clear_dirty, TRUE);
      if (SUCCEEDED(hr)) hr = SaveMemoryBag(bag.get(), stream);
      return hr;
    });
  }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

  // ---- IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == DIID___ImageBtn) {
      *out = &events_;
    } else if (riid == IID_IPropertyNotifySink) {
      *out = &notify_;
    } else {
      return CONNECT_E_NOCONNECTION;
    }
    (*out)->AddRef();
    return S_OK;
  }

  // ---- IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override {
    if (!info) return E_POINTER;
    return GetLibraryTypeInfo(CLSID_ImageBtn, info);
  }
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = DIID___ImageBtn;
    return S_OK;
  }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

 private:
  const ImageBtnFields& F() const { return core_.fields(); }

  template <typename T, typename U>
  static HRESULT Get(T* out, U value) {
    if (!out) return E_POINTER;
    *out = static_cast<T>(value);
    return S_OK;
  }
  static HRESULT GetBool(VARIANT_BOOL* out, bool value) {
    if (!out) return E_POINTER;
    *out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  static HRESULT Bstr(const std::wstring& text, BSTR* out) {
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT SetPic(PictureSlot slot, IPictureDisp* v) {
    return Guard([&]() -> HRESULT {
      PictureRef picture;
      if (HRESULT hr = ComPicture::Create(v, picture); FAILED(hr)) return hr;
      return core_.SetPicture(slot, std::move(picture));
    });
  }
  HRESULT GetPic(PictureSlot slot, IPictureDisp** v) {
    if (!v) return E_POINTER;
    *v = nullptr;
    const auto* picture = dynamic_cast<const ComPicture*>(core_.GetPicture(slot).get());
    if (!picture) return S_OK;
    return picture->get()->QueryInterface(IID_IPictureDisp, reinterpret_cast<void**>(v));
  }
  HRESULT ResetFont() {
    FONTDESC desc{sizeof(desc), const_cast<LPOLESTR>(L"MS Sans Serif"), {{82500, 0}},
                  FW_NORMAL, ANSI_CHARSET, FALSE, FALSE, FALSE};
    return ::OleCreateFontIndirect(&desc, IID_IFont, font_.put_void());
  }

  // ---- the container's extender and ambient properties
  com_ptr<IDispatch> Extender() {
    com_ptr<IOleControlSite> control_site = site_.query<IOleControlSite>();
    com_ptr<IDispatch> ext;
    if (control_site) control_site->GetExtendedControl(ext.put());
    return ext;
  }
  static HRESULT ExtenderGet(IDispatch* d, const wchar_t* name, VARIANT* out) {
    DISPID id = 0;
    LPOLESTR n = const_cast<LPOLESTR>(name);
    if (HRESULT hr = d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr))
      return hr;
    DISPPARAMS none{};
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, out, nullptr,
                     nullptr);
  }
  static HRESULT ExtenderPut(IDispatch* d, const wchar_t* name, VARIANT value) {
    DISPID id = 0;
    LPOLESTR n = const_cast<LPOLESTR>(name);
    if (HRESULT hr = d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr))
      return hr;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &put, 1, 1};
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                     nullptr, nullptr);
  }
  bool Ambient(DISPID id, VARIANT& out) {
    com_ptr<IDispatch> ambient = site_.query<IDispatch>();
    if (!ambient) return false;
    DISPPARAMS none{};
    return SUCCEEDED(ambient->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                     &none, &out, nullptr, nullptr));
  }

  // ---- ImageBtnHost
  Status PropertyChanged(Prop p) override {
    dirty_ = true;
    for (const auto& sink : notify_.Sinks()) {
      static_cast<IPropertyNotifySink*>(sink.get())->OnChanged(static_cast<DISPID>(p));
    }
    return kOk;
  }
  OleColor AmbientForeColor() override {
    unique_variant v;
    if (Ambient(DISPID_AMBIENT_FORECOLOR, v) && SUCCEEDED(::VariantChangeType(&v, &v, 0, VT_I4)))
      return static_cast<OleColor>(v.lVal);
    return kSysButtonText;  // what a container without ambient properties would offer
  }
  bool AmbientUserMode() override {
    unique_variant v;
    if (Ambient(DISPID_AMBIENT_USERMODE, v) && SUCCEEDED(::VariantChangeType(&v, &v, 0, VT_BOOL)))
      return v.boolVal != VARIANT_FALSE;
    return true;  // a host without the ambient runs its controls
  }
  bool HasExtender() override { return static_cast<bool>(Extender()); }
  std::wstring ToolTipText() override {
    if (com_ptr<IDispatch> ext = Extender()) {
      unique_variant v;
      if (SUCCEEDED(ExtenderGet(ext.get(), L"ToolTipText", &v)) &&
          SUCCEEDED(::VariantChangeType(&v, &v, 0, VT_BSTR)))
        return std::wstring(v.bstrVal ? v.bstrVal : L"", ::SysStringLen(v.bstrVal));
    }
    return tooltip_text_;
  }
  Status SetToolTipText(const std::wstring& text) override {
    if (com_ptr<IDispatch> ext = Extender()) {
      unique_variant v;
      v.vt = VT_BSTR;
      v.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (SUCCEEDED(ExtenderPut(ext.get(), L"ToolTipText", v))) return kOk;
    }
    tooltip_text_ = text;
    return kOk;
  }
  void RaiseEvent(Event e, std::int16_t button, std::int16_t shift, float x, float y) override {
    if (frozen_ > 0) return;
    com_ptr<IUnknown> self(static_cast<_ImageBtn*>(this));  // a handler may release us
    VARIANT args[4];
    const bool mouse = e == Event::MouseMove || e == Event::MouseDown || e == Event::MouseUp;
    if (mouse) {  // by reference, last argument first
      args[3].vt = VT_I2 | VT_BYREF;
      args[3].piVal = &button;
      args[2].vt = VT_I2 | VT_BYREF;
      args[2].piVal = &shift;
      args[1].vt = VT_R4 | VT_BYREF;
      args[1].pfltVal = &x;
      args[0].vt = VT_R4 | VT_BYREF;
      args[0].pfltVal = &y;
    }
    DISPPARAMS params{mouse ? args : nullptr, nullptr, mouse ? 4u : 0u, 0};
    for (const auto& sink : events_.Sinks()) {
      unique_variant result;
      static_cast<IDispatch*>(sink.get())
          ->Invoke(static_cast<DISPID>(e), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                   &params, &result, nullptr, nullptr);
    }
  }
  Status Repaint() override {
    if (!hwnd_) return kOk;
    window_dc dc(hwnd_.get());
    RECT r;
    ::GetClientRect(hwnd_.get(), &r);
    return PaintImageBtn(dc.get(), 0, 0, Source(r.right, r.bottom));
  }
  void DoEvents() override {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  void SetWindowEnabled(bool enabled) override {
    if (hwnd_) ::EnableWindow(hwnd_.get(), enabled);
  }
  void SetCapture() override {
    if (hwnd_) ::SetCapture(hwnd_.get());
  }
  void ReleaseCapture() override { ::ReleaseCapture(); }
  bool HoldsCapture() override { return hwnd_ && ::GetCapture() == hwnd_.get(); }
  bool HasWindow() override { return static_cast<bool>(hwnd_); }
  void StartToolTipTimer() override {
    if (hwnd_) ::SetTimer(hwnd_.get(), kTimerToolTip, kToolTipIntervalMs, nullptr);
  }
  void StopToolTipTimer() override {
    if (hwnd_) ::KillTimer(hwnd_.get(), kTimerToolTip);
  }
  void ShowToolTip(const std::wstring& text) override {
    if (hwnd_) win::ShowToolTip(hwnd_.get(), text, F().tooltip_back_color, F().tooltip_fore_color);
  }
  void HideToolTip() override { win::HideToolTip(); }

  PaintSource Source(double width, double height) {
    PaintSource s{F()};
    s.width = width;
    s.height = height;
    HFONT font = nullptr;
    if (font_) font_->get_hFont(&font);
    s.font = font;
    if (hwnd_) {
      s.grab_window = ::GetParent(hwnd_.get());
      RECT r;
      ::GetWindowRect(hwnd_.get(), &r);
      ::MapWindowPoints(nullptr, s.grab_window, reinterpret_cast<POINT*>(&r), 2);
      s.grab_origin = {r.left, r.top};
    }
    return s;
  }

  // ---- the control window
  HRESULT InPlaceActivate() {
    if (!site_) return E_UNEXPECTED;
    com_ptr<IOleInPlaceSite> ips = site_.query<IOleInPlaceSite>();
    if (!ips) return E_NOINTERFACE;
    if (!in_place_) {
      if (ips->CanInPlaceActivate() != S_OK) return E_FAIL;
      ips->OnInPlaceActivate();
      in_place_ = true;
    }
    HWND parent = nullptr;
    if (FAILED(ips->GetWindow(&parent))) return E_FAIL;
    com_ptr<IOleInPlaceFrame> frame;
    com_ptr<IOleInPlaceUIWindow> doc;
    RECT pos{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof(info);
    if (SUCCEEDED(ips->GetWindowContext(frame.put(), doc.put(), &pos, &clip, &info))) pos_ = pos;
    if (!hwnd_) {
      if (!RegisterWindowClass()) return HRESULT_FROM_WIN32(::GetLastError());
      HWND hwnd = ::CreateWindowExW(0, kWindowClass, F().caption.c_str(),
                                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS,
                                    pos_.left, pos_.top, pos_.right - pos_.left,
                                    pos_.bottom - pos_.top, parent, nullptr, ModuleInstance(),
                                    this);
      if (!hwnd) return HRESULT_FROM_WIN32(::GetLastError());
      hwnd_.reset(hwnd);
      // A disabled control keeps its window enabled: its own handlers ignore the input.
    } else {
      ::ShowWindow(hwnd_.get(), SW_SHOW);
    }
    return S_OK;
  }

  // The window procedure hides this control's tooltip when the window goes.
  void DestroyControlWindow() {
    if (!hwnd_) return;
    if (HoldsCapture()) ::ReleaseCapture();
    hwnd_.reset();
  }

  static bool RegisterWindowClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (::GetClassInfoExW(ModuleInstance(), kWindowClass, &wc)) return true;
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = ModuleInstance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    return ::RegisterClassExW(&wc) != 0;
  }

  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);

  ULONG refs_ = 1;
  ImageBtn core_{*this};
  com_ptr<ITypeInfo> type_info_;
  com_ptr<IFont> font_;
  com_ptr<IOleClientSite> site_;
  com_ptr<IOleAdviseHolder> advise_holder_;
  com_ptr<IAdviseSink> view_sink_;
  DWORD view_aspects_ = 0;
  DWORD view_flags_ = 0;
  ConnectionPoint events_;
  ConnectionPoint notify_;
  unique_hwnd hwnd_;
  RECT pos_{};
  SIZEL extent_{kDefaultExtentX, kDefaultExtentY};
  bool in_place_ = false;
  bool dirty_ = false;
  int frozen_ = 0;
  // Kept by the control when the container offers no extender.
  unique_variant tag_;
  std::wstring tooltip_text_;
};

LRESULT ImageBtnControl::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  HWND hwnd = hwnd_.get();
  const float x = static_cast<float>(GET_X_LPARAM(lp));
  const float y = static_cast<float>(GET_Y_LPARAM(lp));
  switch (msg) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
      paint_dc dc(hwnd);
      RECT r;
      ::GetClientRect(hwnd, &r);
      PaintImageBtn(dc.get(), 0, 0, Source(r.right, r.bottom));
      return 0;
    }
    case WM_SIZE: core_.Refresh(); return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK: {
      const std::int16_t button = (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK) ? 1
                                  : (msg == WM_RBUTTONDOWN || msg == WM_RBUTTONDBLCLK) ? 2
                                                                                       : 4;
      if (::GetFocus() != hwnd) ::SetFocus(hwnd);
      core_.OnButtonDown(button, ShiftState(), x, y);
      return 0;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      const std::int16_t button = msg == WM_LBUTTONUP ? 1 : msg == WM_RBUTTONUP ? 2 : 4;
      // The size before MouseUp: its handler may close the control and take the window along.
      RECT r{};
      ::GetClientRect(hwnd, &r);
      core_.OnButtonUp(button, ShiftState(), x, y, static_cast<float>(r.right),
                       static_cast<float>(r.bottom));
      return 0;
    }
    case WM_MOUSEMOVE: {
      RECT r;
      ::GetClientRect(hwnd, &r);
      core_.OnMouseMove(ButtonsOf(wp), ShiftState(), x, y, static_cast<float>(r.right),
                        static_cast<float>(r.bottom));
      return 0;
    }
    case WM_CAPTURECHANGED:
      // A press whose capture went elsewhere is no longer a click.
      if (reinterpret_cast<HWND>(lp) != hwnd) core_.OnCaptureLost();
      return 0;
    case WM_KEYDOWN:
      core_.OnKeyDown(static_cast<std::int16_t>(wp), ShiftState());
      return 0;
    case WM_KEYUP:
      core_.OnKeyUp(static_cast<std::int16_t>(wp), ShiftState());
      return 0;
    case WM_GETDLGCODE: {
      // A button in a dialog: Space and Enter are its own, Tab and the arrows move on.
      const auto* m = reinterpret_cast<const MSG*>(lp);
      const bool own_key = m && (m->message == WM_KEYDOWN || m->message == WM_KEYUP) &&
                           (m->wParam == VK_SPACE || m->wParam == VK_RETURN);
      return DLGC_BUTTON | (own_key ? DLGC_WANTMESSAGE : 0);
    }
    case WM_SETFOCUS:
      if (com_ptr<IOleControlSite> cs = site_.query<IOleControlSite>()) cs->OnFocus(TRUE);
      core_.OnGotFocus();
      return 0;
    case WM_KILLFOCUS:
      if (com_ptr<IOleControlSite> cs = site_.query<IOleControlSite>()) cs->OnFocus(FALSE);
      core_.OnLostFocus();
      return 0;
    case WM_TIMER:
      if (wp == kTimerToolTip) {
        core_.OnToolTipTimer();
        return 0;
      }
      break;
    case WM_GETOBJECT: {
      if (static_cast<LONG>(lp) != OBJID_CLIENT) break;
      std::wstring name = StripMnemonics(F().caption);
      if (name.empty()) name = ToolTipText();
      return AccessibleResult(hwnd, wp, name);
    }
    case kMsgAccessibleState:
      return (F().enabled ? kAccessibleEnabled : 0) | (F().HasFocus ? kAccessibleFocused : 0);
    case kMsgAccessiblePress:
    case BM_CLICK:  // what tools send a standard button to press it
      core_.OnClick();
      return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK ImageBtnControl::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  try {
    if (msg == WM_NCCREATE) {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<ImageBtnControl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_DESTROY) {
      // Whoever destroys the window (the control, or a parent taking its children along), the
      // tooltip it shows goes with it.
      ::KillTimer(hwnd, kTimerToolTip);
      win::HideToolTipOf(hwnd);
    }
    if (msg == WM_NCDESTROY) {
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      if (self && self->hwnd_.get() == hwnd) self->hwnd_.release();
    }
    if (self && self->hwnd_.get() == hwnd) {
      com_ptr<IUnknown> hold(static_cast<_ImageBtn*>(self));  // events may release the control
      return self->OnMessage(msg, wp, lp);
    }
  } catch (...) {
    // Nothing crosses the window procedure.
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

HRESULT CreateImageBtn(IUnknown* outer, REFIID riid, void** out) {
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* control = new (std::nothrow) ImageBtnControl();
  if (!control) return E_OUTOFMEMORY;
  HRESULT hr = control->Init();
  if (SUCCEEDED(hr)) hr = control->QueryInterface(riid, out);
  control->Release();
  return hr;
}

}  // namespace lumbra::win
