// lumbra.ocx as a third-party program sees it: registered with regsvr32, hosted in Wine's ATL
// host window (a container nobody here wrote), scripted through IDispatch by dispatch id, its
// Click received through the connection point, its bag saved and loaded, its type library read
// back, its paint checked pixel by pixel, and its GDI use counted.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <psapi.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "accessible.h"
#include "gdi_count.h"
#include "image_btn_host.h"
#include <initguid.h>  // defines the library's GUIDs here
#include "lumbra_h.h"
#include "tooltip_window.h"
#include "unique_resource.h"

namespace {

using corva::win::com_ptr;
using corva::win::unique_bstr;
using corva::win::unique_hbitmap;
using corva::win::unique_hdc;
using corva::win::unique_hwnd;
using corva::win::unique_variant;

const CLSID kClsid = {0x382caabc, 0xac6c, 0x4c43, {0xad, 0xf4, 0xd1, 0x7a, 0xec, 0x34, 0x79, 0x8f}};
const IID kDefaultIid = {0x2039e675, 0xddab, 0x47c6, {0xa2, 0x1f, 0xab, 0x09, 0x77, 0xad, 0x5b, 0xf0}};
const IID kEventsIid = {0xf9445b7c, 0x5674, 0x45e3, {0xb4, 0x13, 0x60, 0x29, 0xf4, 0xf2, 0x15, 0xb1}};

enum : DISPID {
  kToolTipText = 0x68030012,
  kHwnd = 0x68030010,
  kGrabBG = 0x6803000F,
  kHAlign = 0x6803000E,
  kFont = 0x6803000B,
  kBorderOffset = 0x6803000C,
  kStyle = 0x6803000A,
  kPicture = 0x68030009,
  kPictureDown = 0x68030008,
  kPictureHov = 0x68030007,
  kBGPicture = 0x68030006,
  kCaption = 0x68030005,
  kEnabled = 0x68030004,
  kForeColor = 0x68030003,
  kBackColor = 0x68030002,
  kHighlightColor = 0x68030001,
  kTransparentColor = 0x68030000,
  kRefresh = 0x60030015,
};

std::wstring LibraryPath() {
  // tests/win/lumbra_tests.exe -> imagebtn/win32/lumbra.ocx in the same build tree.
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  for (int i = 0; i < 3; ++i) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) break;
    path.erase(slash);
  }
  path.append(L"\\imagebtn\\win32\\lumbra.ocx");
  return path;
}

int RunAndWait(std::wstring command);

// regsvr32 [options] "library"
int RunRegsvr32(const wchar_t* options) {
  std::wstring command = L"regsvr32.exe ";
  command.append(options).append(L" \"").append(LibraryPath()).append(L"\"");
  return RunAndWait(command);
}

int RunAndWait(std::wstring command) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
    return -1;
  corva::win::unique_handle process(pi.hProcess), thread(pi.hThread);
  ::WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 1;
  ::GetExitCodeProcess(pi.hProcess, &code);
  return static_cast<int>(code);
}

void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// ---- dispatch by id

HRESULT Put(IDispatch* d, DISPID id, VARIANT value, WORD how = DISPATCH_PROPERTYPUT) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  return d->Invoke(id, IID_NULL, 0, how, &params, nullptr, nullptr, nullptr);
}
HRESULT PutLong(IDispatch* d, DISPID id, LONG v) {
  VARIANT value{};
  value.vt = VT_I4;
  value.lVal = v;
  return Put(d, id, value);
}
HRESULT PutBool(IDispatch* d, DISPID id, bool v) {
  VARIANT value{};
  value.vt = VT_BOOL;
  value.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
  return Put(d, id, value);
}
HRESULT PutText(IDispatch* d, DISPID id, const wchar_t* text) {
  unique_variant value;
  value.vt = VT_BSTR;
  value.bstrVal = ::SysAllocString(text);
  return Put(d, id, value);
}
HRESULT PutObject(IDispatch* d, DISPID id, IDispatch* object) {
  VARIANT value{};
  value.vt = VT_DISPATCH;
  value.pdispVal = object;
  return Put(d, id, value, DISPATCH_PROPERTYPUTREF);
}
HRESULT Get(IDispatch* d, DISPID id, VARIANT& out) {
  DISPPARAMS none{};
  return d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &out, nullptr, nullptr);
}
std::wstring GetText(IDispatch* d, DISPID id) {
  unique_variant v;
  if (FAILED(Get(d, id, v)) || v.vt != VT_BSTR) return L"<none>";
  return v.bstrVal ? v.bstrVal : L"";
}
LONG GetLong(IDispatch* d, DISPID id) {
  unique_variant v;
  if (FAILED(Get(d, id, v)) || FAILED(::VariantChangeType(&v, &v, 0, VT_I4))) return -12345;
  return v.lVal;
}

// ---- a solid (or keyed) picture object

com_ptr<IDispatch> MakePicture(int w, int h, COLORREF color, COLORREF key = CLR_INVALID,
                               int key_columns = 0) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  auto* px = static_cast<std::uint32_t*>(bits);
  auto dib = [](COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[y * w + x] = dib(x < key_columns ? key : color);
  PICTDESC desc{};
  desc.cbSizeofstruct = sizeof(desc);
  desc.picType = PICTYPE_BITMAP;
  desc.bmp.hbitmap = bitmap;
  com_ptr<IDispatch> picture;
  ::OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, picture.put_void());
  return picture;
}

// ---- event sink and property bag of the test's own

class EventSink final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kEventsIid) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    char e[32];
    if (p->cArgs == 4 && p->rgvarg[3].vt == (VT_I2 | VT_BYREF)) {
      std::snprintf(e, sizeof(e), "%ld(%d)", static_cast<long>(id), *p->rgvarg[3].piVal);
    } else {
      std::snprintf(e, sizeof(e), "%ld", static_cast<long>(id));  // with its Button argument
    }
    events.emplace_back(e);
    if (on_event) on_event(id);
    return S_OK;
  }
  ULONG refs = 1;
  std::vector<std::string> events;
  std::function<void(DISPID)> on_event;  // a handler of the test's
};

class TestBag final : public IPropertyBag {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
      *out = static_cast<IPropertyBag*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* v, IErrorLog*) override {
    auto it = values.find(name);
    if (it == values.end()) return E_INVALIDARG;
    return ::VariantCopy(v, it->second.get());
  }
  STDMETHODIMP Write(LPCOLESTR name, VARIANT* v) override {
    order.emplace_back(name);
    auto stored = std::make_shared<unique_variant>();
    ::VariantCopy(stored.get(), v);
    values[name] = stored;
    return S_OK;
  }
  std::map<std::wstring, std::shared_ptr<unique_variant>> values;
  std::vector<std::wstring> order;
};

// ---- Wine's ATL host

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxCreateControlFn = HRESULT(WINAPI*)(LPCOLESTR, HWND, IStream*, IUnknown**);
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

template <typename F>
F Proc(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

class LumbraEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::OleInitialize(nullptr);
    registered = RunRegsvr32(L"/s");
    atl = ::LoadLibraryW(L"atl.dll");
    // Registers the host window class, once per process.
    auto init = atl ? Proc<AtlAxWinInitFn>(atl, "AtlAxWinInit") : nullptr;
    atl_ready = init && init();
  }
  void TearDown() override {
    RunRegsvr32(L"/s /u");
    ::OleUninitialize();
  }
  static inline int registered = -1;
  static inline HMODULE atl = nullptr;
  static inline bool atl_ready = false;
};

LRESULT CALLBACK FormProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  return ::DefWindowProcW(h, m, w, l);
}

class LumbraTest : public ::testing::Test {
 protected:
  static constexpr int kW = 120, kH = 40;

  void SetUp() override {
    ASSERT_EQ(LumbraEnvironment::registered, 0) << "regsvr32 failed";
    ASSERT_NE(LumbraEnvironment::atl, nullptr);
    auto create = Proc<AtlAxCreateControlFn>(LumbraEnvironment::atl, "AtlAxCreateControl");
    auto get = Proc<AtlAxGetControlFn>(LumbraEnvironment::atl, "AtlAxGetControl");
    ASSERT_TRUE(create && get);
    ASSERT_TRUE(LumbraEnvironment::atl_ready);
    WNDCLASSW wc{};
    wc.lpfnWndProc = FormProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"LumbraTestForm";
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    ::RegisterClassW(&wc);
    form_.reset(::CreateWindowExW(0, L"LumbraTestForm", L"form", WS_OVERLAPPEDWINDOW | WS_VISIBLE |
                                  WS_CLIPCHILDREN, 50, 50, 300, 200, nullptr, nullptr,
                                  wc.hInstance, nullptr));
    host_.reset(::CreateWindowExW(0, L"AtlAxWin", L"", WS_CHILD | WS_VISIBLE, 10, 10, kW, kH,
                                  form_.get(), nullptr, wc.hInstance, nullptr));
    ASSERT_TRUE(host_);
    com_ptr<IUnknown> container;
    ASSERT_EQ(create(L"Lumbra.ImageBtn", host_.get(), nullptr, container.put()), S_OK);
    com_ptr<IUnknown> control;
    ASSERT_EQ(get(host_.get(), control.put()), S_OK);
    disp_ = control.query<IDispatch>();
    ASSERT_TRUE(disp_);
    button_ = reinterpret_cast<HWND>(static_cast<LONG_PTR>(GetLong(disp_.get(), kHwnd)));
    ASSERT_TRUE(::IsWindow(button_));
    Pump();
  }
  void TearDown() override {
    disp_.reset();
    host_.reset();
    form_.reset();
    Pump();
  }

  DWORD Advise(EventSink& sink) {
    com_ptr<IConnectionPointContainer> cpc = disp_.query<IConnectionPointContainer>();
    com_ptr<IConnectionPoint> cp;
    DWORD cookie = 0;
    if (!cpc || FAILED(cpc->FindConnectionPoint(kEventsIid, cp.put()))) return 0;
    cp->Advise(&sink, &cookie);
    return cookie;
  }

  // The control painted off screen through IViewObject::Draw, as 0x00RRGGBB pixels.
  std::vector<std::uint32_t> Render() {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = kW;
    bi.bmiHeader.biHeight = -kH;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    unique_hdc dc(::CreateCompatibleDC(nullptr));
    unique_hbitmap dib(::CreateDIBSection(dc.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    corva::win::select_object sel(dc.get(), dib.get());
    com_ptr<IViewObject> view = disp_.query<IViewObject>();
    RECTL bounds{0, 0, kW, kH};
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc.get(), &bounds,
                         nullptr, nullptr, 0), S_OK);
    ::GdiFlush();
    const auto* p = static_cast<const std::uint32_t*>(bits);
    std::vector<std::uint32_t> out(p, p + kW * kH);
    for (auto& v : out) v &= 0xFFFFFF;
    return out;
  }
  static std::uint32_t Rgb(COLORREF c) {
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
  }
  void Send(UINT msg, WPARAM wp, int x, int y) {
    ::SendMessageW(button_, msg, wp, MAKELPARAM(x, y));
  }

  unique_hwnd form_;
  unique_hwnd host_;
  com_ptr<IDispatch> disp_;
  HWND button_ = nullptr;
};

// ---- registration and type library

TEST_F(LumbraTest, RegisteredUnderItsProgIdAndHostedAtTheHostsSize) {
  CLSID clsid{};
  ASSERT_EQ(::CLSIDFromProgID(L"Lumbra.ImageBtn", &clsid), S_OK);
  EXPECT_TRUE(::IsEqualCLSID(clsid, kClsid));
  RECT r{};
  ::GetClientRect(button_, &r);
  EXPECT_EQ(r.right, kW);
  EXPECT_EQ(r.bottom, kH);
  // The window's text is the caption; a new instance's caption is its class name.
  wchar_t text[64] = {};
  ::GetWindowTextW(button_, text, 64);
  EXPECT_STREQ(text, L"ImageBtn");
  com_ptr<ITypeLib> registered;
  EXPECT_EQ(::LoadRegTypeLib(LIBID_Lumbra, 1, 0, 0x409, registered.put()), S_OK);
}

TEST(LumbraTypeLibrary, DispatchIdsOrderAndEnumerationsAreAsPublished) {
  com_ptr<ITypeLib> lib;
  ASSERT_EQ(::LoadTypeLib(LibraryPath().c_str(), lib.put()), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0x409u);
  lib->ReleaseTLibAttr(attr);
  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"Lumbra");
  EXPECT_STREQ(doc, L"Boton BRAX (Texto e Imagen tipo Lumbra)");
  ::SysFreeString(name);
  ::SysFreeString(doc);

  auto members = [&](REFGUID guid) {
    std::vector<std::pair<std::wstring, std::pair<MEMBERID, int>>> out;
    com_ptr<ITypeInfo> info;
    if (FAILED(lib->GetTypeInfoOfGuid(guid, info.put()))) return out;
    TYPEATTR* ta = nullptr;
    info->GetTypeAttr(&ta);
    for (UINT i = 0; i < ta->cFuncs; ++i) {
      FUNCDESC* fd = nullptr;
      info->GetFuncDesc(i, &fd);
      BSTR n = nullptr;
      info->GetDocumentation(fd->memid, &n, nullptr, nullptr, nullptr);
      if (fd->memid >= 0x60030000 || fd->memid < 0x100)  // ours, not IDispatch's
        out.push_back({n, {fd->memid, static_cast<int>(fd->invkind)}});
      ::SysFreeString(n);
      info->ReleaseFuncDesc(fd);
    }
    info->ReleaseTypeAttr(ta);
    return out;
  };
  const auto def = members(kDefaultIid);
  std::vector<std::wstring> names;
  for (const auto& m : def) names.push_back(m.first);
  const std::vector<std::wstring> expected = {
      L"ToolTipBackColor", L"ToolTipBackColor", L"ToolTipForeColor", L"ToolTipForeColor",
      L"ToolTipText", L"ToolTipText", L"Tag", L"Tag", L"hwnd", L"GrabBG", L"GrabBG", L"HAlign",
      L"HAlign", L"ImageOffset", L"ImageOffset", L"BorderOffset", L"BorderOffset", L"Font",
      L"Font", L"Style", L"Style", L"Picture", L"Picture", L"PictureDown", L"PictureDown",
      L"PictureHov", L"PictureHov", L"BGPicture", L"BGPicture", L"Caption", L"Caption",
      L"Enabled", L"Enabled", L"ForeColor", L"ForeColor", L"BackColor", L"BackColor",
      L"HighlightColor", L"HighlightColor", L"TransparentColor", L"TransparentColor", L"Refresh"};
  EXPECT_EQ(names, expected);
  ASSERT_EQ(def.size(), expected.size());
  EXPECT_EQ(def[0].second.first, 0x68030014);
  EXPECT_EQ(def[6].second, (std::pair<MEMBERID, int>{0x68030011, INVOKE_PROPERTYPUT}));  // Tag: let first
  EXPECT_EQ(def[17].second, (std::pair<MEMBERID, int>{0x6803000B, INVOKE_PROPERTYPUTREF}));  // Font: set
  EXPECT_EQ(def[21].second.first, 0x68030009);
  EXPECT_EQ(def[40].second.first, 0x68030000);
  EXPECT_EQ(def[41].second.first, 0x60030015);

  const auto events = members(kEventsIid);
  ASSERT_EQ(events.size(), 5u);
  const wchar_t* event_names[] = {L"Click", L"MouseLeave", L"MouseMove", L"MouseDown", L"MouseUp"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(events[i].first, event_names[i]);
    EXPECT_EQ(events[i].second.first, i + 1);
  }

  auto enum_values = [&](const wchar_t* type_name) {
    std::map<std::wstring, LONG> out;
    com_ptr<ITypeInfo> info;
    MEMBERID id = 0;
    USHORT found = 1;
    std::wstring n = type_name;
    if (FAILED(lib->FindName(n.data(), 0, info.put(), &id, &found)) || !found) return out;
    TYPEATTR* ta = nullptr;
    info->GetTypeAttr(&ta);
    for (UINT i = 0; i < ta->cVars; ++i) {
      VARDESC* vd = nullptr;
      info->GetVarDesc(i, &vd);
      BSTR vn = nullptr;
      info->GetDocumentation(vd->memid, &vn, nullptr, nullptr, nullptr);
      out[vn] = vd->lpvarValue->lVal;
      ::SysFreeString(vn);
      info->ReleaseVarDesc(vd);
    }
    info->ReleaseTypeAttr(ta);
    return out;
  };
  EXPECT_EQ(enum_values(L"lcStyle"),
            (std::map<std::wstring, LONG>{{L"lcsNone", 0}, {L"lcsPopupBorder", 1},
                                          {L"lcsThinBorder", 2}, {L"lcsThickBorder", 4},
                                          {L"lcsTextColor", 8}, {L"lcsNoBorder", 16},
                                          {L"lcsNoFocusRect", 32}, {L"lcsHighlightBG", 64}}));
  EXPECT_EQ(enum_values(L"lcHorizAlign"),
            (std::map<std::wstring, LONG>{{L"lcaLeft", 0}, {L"lcaCenter", 1}, {L"lcaRight", 2}}));
}

// ---- scripting and events

TEST_F(LumbraTest, PropertiesByDispatchIdAndClickThroughTheConnectionPoint) {
  ASSERT_EQ(PutText(disp_.get(), kCaption, L"&Cerrar"), S_OK);
  EXPECT_EQ(GetText(disp_.get(), kCaption), L"&Cerrar");
  wchar_t text[64] = {};
  ::GetWindowTextW(button_, text, 64);
  EXPECT_STREQ(text, L"&Cerrar");
  ASSERT_EQ(PutLong(disp_.get(), kStyle, 112 | 0x400), S_OK);
  EXPECT_EQ(GetLong(disp_.get(), kStyle), 112 | 0x400);
  ASSERT_EQ(PutText(disp_.get(), kToolTipText, L"Cerrar Corvamon"), S_OK);  // kept by the control
  EXPECT_EQ(GetText(disp_.get(), kToolTipText), L"Cerrar Corvamon");

  EventSink sink;
  ASSERT_NE(Advise(sink), 0u);
  Send(WM_MOUSEMOVE, 0, 10, 10);
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 10, 10);
  Send(WM_LBUTTONUP, 0, 10, 10);
  EXPECT_EQ(sink.events, (std::vector<std::string>{"3(0)", "4(1)", "5(1)", "1"}));
  sink.events.clear();
  // Pressed and dragged out: MouseLeave, and the press no longer clicks, even when the pointer
  // comes back and the release reaches the button.
  Send(WM_MOUSEMOVE, 0, 10, 10);
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 10, 10);
  Send(WM_MOUSEMOVE, MK_LBUTTON, 500, 10);
  Send(WM_MOUSEMOVE, MK_LBUTTON, 10, 10);
  Send(WM_LBUTTONUP, 0, 10, 10);
  EXPECT_EQ(sink.events, (std::vector<std::string>{"3(0)", "4(1)", "2", "3(1)", "5(1)"}));
  sink.events.clear();
  // Released outside while the button still holds the capture: no Click either.
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 10, 10);
  Send(WM_LBUTTONUP, 0, kW + 5, 10);
  EXPECT_EQ(sink.events, (std::vector<std::string>{"4(1)", "5(1)"}));
  sink.events.clear();
  Send(WM_KEYDOWN, VK_SPACE, 0, 0);
  Send(WM_KEYUP, VK_SPACE, 0, 0);
  EXPECT_EQ(sink.events, std::vector<std::string>{"1"});
  // In a dialog, Space and Enter stay with the button and Tab moves on.
  MSG key{button_, WM_KEYDOWN, VK_RETURN, 0, 0, {}};
  EXPECT_TRUE(::SendMessageW(button_, WM_GETDLGCODE, VK_RETURN, reinterpret_cast<LPARAM>(&key)) &
              DLGC_WANTMESSAGE);
  key.wParam = VK_TAB;
  EXPECT_FALSE(::SendMessageW(button_, WM_GETDLGCODE, VK_TAB, reinterpret_cast<LPARAM>(&key)) &
               DLGC_WANTMESSAGE);
  sink.events.clear();
  // A disabled button raises nothing.
  ASSERT_EQ(PutBool(disp_.get(), kEnabled, false), S_OK);
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 10, 10);
  Send(WM_LBUTTONUP, 0, 10, 10);
  EXPECT_TRUE(sink.events.empty());
}

TEST_F(LumbraTest, ScreenReadersSeeAPushButtonWhoseDefaultActionClicks) {
  PutText(disp_.get(), kCaption, L"&Silenciar");
  EXPECT_NE(::SendMessageW(button_, WM_GETOBJECT, 0, OBJID_CLIENT), 0);
  EXPECT_EQ(lumbra::win::StripMnemonics(L"&Silenciar"), L"Silenciar");
  EXPECT_EQ(lumbra::win::StripMnemonics(L"A&&B&"), L"A&B");
  com_ptr<IAccessible> acc;
  if (FAILED(::AccessibleObjectFromWindow(button_, OBJID_CLIENT, IID_IAccessible,
                                          acc.put_void()))) {
    // Wine cannot unmarshal an object handed over by WM_GETOBJECT: ask for the same object
    // the window hands out.
    ASSERT_EQ(lumbra::win::CreateButtonAccessible(button_, L"Silenciar", acc.put()), S_OK);
  }
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  unique_variant role;
  ASSERT_EQ(acc->get_accRole(self, &role), S_OK);
  EXPECT_EQ(role.lVal, ROLE_SYSTEM_PUSHBUTTON);
  BSTR name = nullptr;
  ASSERT_EQ(acc->get_accName(self, &name), S_OK);
  EXPECT_STREQ(name, L"Silenciar");
  ::SysFreeString(name);
  unique_variant state;
  acc->get_accState(self, &state);
  EXPECT_FALSE(state.lVal & STATE_SYSTEM_UNAVAILABLE);
  PutBool(disp_.get(), kEnabled, false);
  state.reset();
  acc->get_accState(self, &state);
  EXPECT_TRUE(state.lVal & STATE_SYSTEM_UNAVAILABLE);
  PutBool(disp_.get(), kEnabled, true);

  EventSink sink;
  Advise(sink);
  ASSERT_EQ(acc->accDoDefaultAction(self), S_OK);
  Pump();
  EXPECT_EQ(sink.events, std::vector<std::string>{"1"});
}

// ---- persistence

TEST_F(LumbraTest, APropertyBagRoundTripThroughTheHostedControl) {
  com_ptr<IPersistPropertyBag> persist = disp_.query<IPersistPropertyBag>();
  ASSERT_TRUE(persist);
  TestBag fresh;
  ASSERT_EQ(persist->Save(&fresh, TRUE, TRUE), S_OK);
  // No ambient fore colour here: it is the system button text, which the tooltip fore colour
  // equals; so a new instance stores only these two.
  EXPECT_EQ(fresh.order, (std::vector<std::wstring>{L"Font", L"ToolTipBackColor"}));

  PutText(disp_.get(), kCaption, L"Prueba");
  PutLong(disp_.get(), kBackColor, 0x123456);
  PutLong(disp_.get(), kHAlign, 2);
  PutObject(disp_.get(), kPicture, MakePicture(8, 8, RGB(255, 0, 0)).get());
  TestBag bag;
  ASSERT_EQ(persist->Save(&bag, TRUE, TRUE), S_OK);
  EXPECT_EQ(bag.order, (std::vector<std::wstring>{L"Caption", L"Picture", L"Font", L"HAlign",
                                                  L"BackColor", L"ToolTipBackColor"}));

  com_ptr<IPersistPropertyBag> other;
  ASSERT_EQ(::CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistPropertyBag,
                               other.put_void()),
            S_OK);
  ASSERT_EQ(other->Load(&bag, nullptr), S_OK);
  com_ptr<IDispatch> loaded = other.query<IDispatch>();
  EXPECT_EQ(GetText(loaded.get(), kCaption), L"Prueba");
  EXPECT_EQ(GetLong(loaded.get(), kBackColor), 0x123456);
  EXPECT_EQ(GetLong(loaded.get(), kHAlign), 2);
  EXPECT_EQ(GetLong(loaded.get(), 0x68030013), static_cast<LONG>(0x80000012));  // fore: ambient
  unique_variant picture;
  ASSERT_EQ(Get(loaded.get(), kPicture, picture), S_OK);
  EXPECT_EQ(picture.vt, VT_DISPATCH);
  EXPECT_NE(picture.pdispVal, nullptr);

  // The same through the control's stream form.
  com_ptr<IPersistStreamInit> stream_persist = disp_.query<IPersistStreamInit>();
  com_ptr<IStream> stream;
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
  ASSERT_EQ(stream_persist->Save(stream.get(), TRUE), S_OK);
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  com_ptr<IPersistStreamInit> third;
  ASSERT_EQ(::CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistStreamInit,
                               third.put_void()), S_OK);
  ASSERT_EQ(third->Load(stream.get()), S_OK);
  EXPECT_EQ(GetText(third.query<IDispatch>().get(), kCaption), L"Prueba");
}

// ---- pixels

TEST_F(LumbraTest, BackgroundRulesPictureChoiceAndTransparency) {
  const COLORREF back = RGB(10, 20, 30), highlight = RGB(200, 100, 50);
  PutText(disp_.get(), kCaption, L"");
  PutLong(disp_.get(), kStyle, 16 | 64);  // no border, highlight background on hover
  PutLong(disp_.get(), kBackColor, back);
  PutLong(disp_.get(), kHighlightColor, highlight);
  PutLong(disp_.get(), kTransparentColor, RGB(255, 0, 255));
  // 16 x 16 red, its left 4 columns magenta: transparent.
  PutObject(disp_.get(), kPicture, MakePicture(16, 16, RGB(255, 0, 0), RGB(255, 0, 255), 4).get());
  PutObject(disp_.get(), kPictureHov, MakePicture(16, 16, RGB(0, 255, 0)).get());
  // Left aligned at BorderOffset 10, centred vertically: the picture covers x 10..25, y 12..27.
  auto px = Render();
  EXPECT_EQ(px[2 * kW + 60], Rgb(back));
  EXPECT_EQ(px[20 * kW + 20], Rgb(RGB(255, 0, 0)));
  EXPECT_EQ(px[20 * kW + 11], Rgb(back)) << "a transparent pixel shows the background";
  EXPECT_EQ(px[20 * kW + 9], Rgb(back));

  Send(WM_MOUSEMOVE, 0, 60, 20);  // hover: the hover picture over the highlight colour
  px = Render();
  EXPECT_EQ(px[2 * kW + 60], Rgb(highlight));
  EXPECT_EQ(px[20 * kW + 20], Rgb(RGB(0, 255, 0)));

  Send(WM_LBUTTONDOWN, MK_LBUTTON, 60, 20);  // pressed, thick border: the normal picture, unmoved
  px = Render();
  EXPECT_EQ(px[20 * kW + 20], Rgb(RGB(255, 0, 0)));
  EXPECT_EQ(px[12 * kW + 14], Rgb(RGB(255, 0, 0)));
  EXPECT_EQ(px[11 * kW + 14], Rgb(back));
  PutLong(disp_.get(), kStyle, 16 | 2);  // thin: moved by one pixel
  px = Render();
  EXPECT_EQ(px[12 * kW + 16], Rgb(back));
  EXPECT_EQ(px[13 * kW + 16], Rgb(RGB(255, 0, 0)));
  EXPECT_EQ(px[13 * kW + 15], Rgb(RGB(255, 0, 0)));
  EXPECT_EQ(px[13 * kW + 14], Rgb(back)) << "the transparent columns are now x 11..14";
  Send(WM_LBUTTONUP, 0, 60, 20);

  PutBool(disp_.get(), kEnabled, false);  // embossed: the picture's shape in the shadow colour
  px = Render();
  EXPECT_EQ(px[20 * kW + 20], Rgb(::GetSysColor(COLOR_BTNSHADOW)));
  EXPECT_EQ(px[20 * kW + 11], Rgb(back)) << "the transparent pixels stay the background";
  EXPECT_EQ(px[2 * kW + 60], Rgb(back));
}

TEST_F(LumbraTest, GrabbedBackgroundIsWhatTheContainerShowsThere) {
  PutText(disp_.get(), kCaption, L"");
  PutLong(disp_.get(), kStyle, 16);
  PutLong(disp_.get(), kBackColor, RGB(200, 0, 0));
  ::UpdateWindow(form_.get());
  Pump();
  // On screen the button is red now; grabbing takes that, not the new back colour.
  PutBool(disp_.get(), kGrabBG, true);
  PutLong(disp_.get(), kBackColor, RGB(0, 0, 200));
  auto px = Render();
  EXPECT_EQ(px[20 * kW + 60], Rgb(RGB(200, 0, 0)));
  PutBool(disp_.get(), kGrabBG, false);
  px = Render();
  EXPECT_EQ(px[20 * kW + 60], Rgb(RGB(0, 0, 200)));
}

TEST_F(LumbraTest, TiledBackgroundMovesWithThePressedShift) {
  PutText(disp_.get(), kCaption, L"");
  PutLong(disp_.get(), kStyle, 16);  // thick (no thin flag), no border: shift 2
  // A 4 x 4 tile whose first column is blue and the rest white.
  PutObject(disp_.get(), kBGPicture,
            MakePicture(4, 4, RGB(255, 255, 255), RGB(0, 0, 255), 1).get());
  auto px = Render();
  EXPECT_EQ(px[5 * kW + 40], Rgb(RGB(0, 0, 255)));
  EXPECT_EQ(px[5 * kW + 41], Rgb(RGB(255, 255, 255)));
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 60, 20);
  px = Render();
  EXPECT_EQ(px[5 * kW + 42], Rgb(RGB(0, 0, 255)));
  EXPECT_EQ(px[5 * kW + 40], Rgb(RGB(255, 255, 255)));
  Send(WM_LBUTTONUP, 0, 60, 20);
}

TEST_F(LumbraTest, BorderTableAndFocusRules) {
  const COLORREF back = RGB(10, 20, 30);
  PutText(disp_.get(), kCaption, L"");
  PutLong(disp_.get(), kBackColor, back);
  const std::uint32_t light = Rgb(::GetSysColor(COLOR_BTNHIGHLIGHT));
  const std::uint32_t shadow = Rgb(::GetSysColor(COLOR_BTNSHADOW));
  const std::uint32_t dark = Rgb(::GetSysColor(COLOR_3DDKSHADOW));
  PutLong(disp_.get(), kStyle, 2);  // thin, normal: raised inner edge only
  auto px = Render();
  EXPECT_EQ(px[0], light);
  EXPECT_EQ(px[(kH - 1) * kW + 60], shadow);
  EXPECT_EQ(px[1 * kW + 60], Rgb(back));
  PutLong(disp_.get(), kStyle, 0);  // thick, normal: raised outer and inner
  px = Render();
  EXPECT_EQ(px[(kH - 1) * kW + 60], dark);
  EXPECT_EQ(px[(kH - 2) * kW + 60], shadow);
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 60, 20);  // thick, pressed: sunken both
  px = Render();
  EXPECT_EQ(px[0 * kW + 60], shadow);
  Send(WM_LBUTTONUP, 0, 60, 20);
  PutLong(disp_.get(), kStyle, 1 | 2);  // pop-up: no border while normal
  Send(WM_MOUSEMOVE, 0, 500, 500);
  ::SetFocus(form_.get());
  px = Render();
  EXPECT_EQ(px[0], Rgb(back));

  // Focus: a focused pop-up button shows its edge and the focus rectangle 3 pixels in.
  ::SetFocus(button_);
  ASSERT_EQ(::GetFocus(), button_);
  px = Render();
  EXPECT_EQ(px[0], light);
  int dots = 0;
  for (int x = 3; x < kW - 3; ++x) dots += px[3 * kW + x] != Rgb(back);
  EXPECT_GT(dots, 20);
  EXPECT_EQ(px[4 * kW + 60], Rgb(back));
  // lcsNoFocusRect without a hover picture: along the outer edge.
  PutLong(disp_.get(), kStyle, 16 | 32);
  px = Render();
  dots = 0;
  for (int x = 0; x < kW; ++x) dots += px[x] != Rgb(back);
  EXPECT_GT(dots, 20);
  int inner = 0;
  for (int x = 3; x < kW - 3; ++x) inner += px[3 * kW + x] != Rgb(back);
  EXPECT_EQ(inner, 0) << "no focus rectangle 3 pixels in";
  // ... and with a hover picture: none.
  PutObject(disp_.get(), kPictureHov, MakePicture(4, 4, RGB(0, 255, 0)).get());
  px = Render();
  for (int x = 0; x < kW; ++x) EXPECT_EQ(px[x], Rgb(back)) << x;
}

// ---- tooltip and leaks

TEST_F(LumbraTest, TooltipShowsBelowTheButtonAndHidesWhenTheMouseLeaves) {
  PutText(disp_.get(), kToolTipText, L"Minimizar");
  Send(WM_MOUSEMOVE, 0, 10, 10);
  ASSERT_EQ(::GetCapture(), button_);
  Send(WM_TIMER, 1, 0, 0);  // tmrToolTip's tick
  HWND tip = ::FindWindowW(L"LumbraToolTip", nullptr);
  ASSERT_NE(tip, nullptr);
  EXPECT_TRUE(::IsWindowVisible(tip));
  RECT tr{}, br{};
  ::GetWindowRect(tip, &tr);
  ::GetWindowRect(button_, &br);
  EXPECT_EQ(tr.top, br.bottom + 8);
  EXPECT_EQ(tr.left, br.left + kW / 3);
  Send(WM_MOUSEMOVE, 0, 500, 10);
  EXPECT_EQ(::FindWindowW(L"LumbraToolTip", nullptr), nullptr);
}

TEST_F(LumbraTest, AMouseUpHandlerThatClosesTheControlGetsNoClick) {
  EventSink sink;
  ASSERT_NE(Advise(sink), 0u);
  com_ptr<IOleObject> object = disp_.query<IOleObject>();
  sink.on_event = [&](DISPID id) {
    if (id == 5) object->Close(OLECLOSE_NOSAVE);
  };
  Send(WM_MOUSEMOVE, 0, 10, 10);
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 10, 10);
  Send(WM_LBUTTONUP, 0, 10, 10);
  EXPECT_EQ(sink.events, (std::vector<std::string>{"3(0)", "4(1)", "5(1)"}));
  EXPECT_FALSE(::IsWindow(button_));
}

// Saved and loaded twice over, by a container that offers no extender (none here: no site).
TEST_F(LumbraTest, WithoutAnExtenderTheTooltipTextSurvivesBagAndStreamRoundTrips) {
  auto create = [](REFIID iid, void** out) {
    return ::CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
  };
  com_ptr<IDispatch> first;
  ASSERT_EQ(create(IID_IDispatch, first.put_void()), S_OK);
  ASSERT_EQ(PutText(first.get(), kToolTipText, L"Cerrar Corvamon"), S_OK);

  com_ptr<IDispatch> through_bag = first;
  for (int round = 0; round < 2; ++round) {
    TestBag bag;
    ASSERT_EQ(through_bag.query<IPersistPropertyBag>()->Save(&bag, TRUE, TRUE), S_OK);
    com_ptr<IPersistPropertyBag> next;
    ASSERT_EQ(create(IID_IPersistPropertyBag, next.put_void()), S_OK);
    ASSERT_EQ(next->Load(&bag, nullptr), S_OK);
    through_bag = next.query<IDispatch>();
    EXPECT_EQ(GetText(through_bag.get(), kToolTipText), L"Cerrar Corvamon") << round;
  }

  com_ptr<IDispatch> through_stream = first;
  for (int round = 0; round < 2; ++round) {
    com_ptr<IStream> stream;
    ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
    ASSERT_EQ(through_stream.query<IPersistStreamInit>()->Save(stream.get(), TRUE), S_OK);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    com_ptr<IPersistStreamInit> next;
    ASSERT_EQ(create(IID_IPersistStreamInit, next.put_void()), S_OK);
    ASSERT_EQ(next->Load(stream.get()), S_OK);
    through_stream = next.query<IDispatch>();
    EXPECT_EQ(GetText(through_stream.get(), kToolTipText), L"Cerrar Corvamon") << round;
  }
}

// The process's committed private memory (Wine fills PagefileUsage with it, not PrivateUsage).
SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PagefileUsage;
}

// A saved form can come from anywhere: a stream cut short or corrupt is refused, and whatever
// was read of it is freed. Each stream below names a text of 2 MiB that is not there; a leak
// of what was made for it would show as hundreds of MiB over the rounds.
TEST_F(LumbraTest, CorruptOrTruncatedStreamsAreRefusedWithoutALeak) {
  auto stream_of = [](const std::vector<std::uint8_t>& bytes) {
    com_ptr<IStream> stream;
    ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
    ULONG written = 0;
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
  };
  auto put32 = [](std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto put_text = [&](std::vector<std::uint8_t>& b, const wchar_t* text) {
    put32(b, static_cast<std::uint32_t>(::lstrlenW(text)));
    for (const wchar_t* c = text; *c; ++c) {
      b.push_back(static_cast<std::uint8_t>(*c));
      b.push_back(static_cast<std::uint8_t>(*c >> 8));
    }
  };
  auto header = [&](std::uint32_t count) {
    std::vector<std::uint8_t> b;
    put32(b, 0x4E54424C);
    put32(b, count);
    return b;
  };
  // "Caption" as a text of 1 Mi code units, of which a few bytes follow.
  std::vector<std::uint8_t> truncated_text = header(2);
  put_text(truncated_text, L"Style");
  truncated_text.insert(truncated_text.end(), {3, 0, 48, 0, 0, 0});
  put_text(truncated_text, L"Caption");
  truncated_text.insert(truncated_text.end(), {8, 0});
  put32(truncated_text, 1u << 20);
  truncated_text.insert(truncated_text.end(), 64, 'a');
  // A picture whose object stream is garbage, and an unknown type tag.
  std::vector<std::uint8_t> bad_object = header(1);
  put_text(bad_object, L"Picture");
  bad_object.insert(bad_object.end(), {9, 0, 1, 2, 3});
  std::vector<std::uint8_t> bad_tag = header(1);
  put_text(bad_tag, L"Style");
  bad_tag.insert(bad_tag.end(), {0x77, 0x77, 1, 2, 3, 4});
  std::vector<std::uint8_t> bad_magic = {'X', 'B', 'T', 'N', 0, 0, 0, 0};

  com_ptr<IPersistStreamInit> persist = disp_.query<IPersistStreamInit>();
  ASSERT_TRUE(persist);
  for (const auto* bytes : {&bad_object, &bad_tag, &bad_magic}) {
    EXPECT_TRUE(FAILED(persist->Load(stream_of(*bytes).get())));
  }
  EXPECT_TRUE(FAILED(persist->Load(stream_of(truncated_text).get())));  // warm up
  const SIZE_T before = PrivateBytes();
  ASSERT_GT(before, 0u);
  for (int i = 0; i < 64; ++i) {
    ASSERT_TRUE(FAILED(persist->Load(stream_of(truncated_text).get())));
    ASSERT_TRUE(FAILED(persist->Load(stream_of(bad_object).get())));
  }
  const SIZE_T after = PrivateBytes();
  EXPECT_LT(after, before + 16 * 1024 * 1024) << "grew by " << (after - before) / 1024 << " KiB";
  // The control still loads a good stream afterwards.
  com_ptr<IStream> good;
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, good.put()), S_OK);
  ASSERT_EQ(persist->Save(good.get(), TRUE), S_OK);
  LARGE_INTEGER zero{};
  good->Seek(zero, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(persist->Load(good.get()), S_OK);
}

TEST_F(LumbraTest, RepaintsAndTooltipsLeaveTheGdiObjectCountUnchanged) {
  PutLong(disp_.get(), kStyle, 8 | 2);
  PutLong(disp_.get(), kTransparentColor, RGB(255, 0, 255));
  PutObject(disp_.get(), kPicture, MakePicture(16, 16, RGB(255, 0, 0), RGB(255, 0, 255), 4).get());
  PutObject(disp_.get(), kBGPicture, MakePicture(4, 4, RGB(0, 0, 255)).get());
  PutText(disp_.get(), kToolTipText, L"Prueba de la alarma");
  DISPPARAMS none{};
  // Warm up: first uses create lasting objects (classes, caches).
  disp_->Invoke(kRefresh, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
  Send(WM_MOUSEMOVE, 0, 10, 10);
  Send(WM_TIMER, 1, 0, 0);
  Send(WM_MOUSEMOVE, 0, 500, 10);
  Pump();
  const int before = corva::test::LiveGdiObjects();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 10000; ++i) {
    ASSERT_EQ(disp_->Invoke(kRefresh, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr,
                            nullptr), S_OK);
  }
  for (int i = 0; i < 1000; ++i) {
    Send(WM_MOUSEMOVE, 0, 10, 10);
    Send(WM_TIMER, 1, 0, 0);
    ASSERT_NE(::FindWindowW(L"LumbraToolTip", nullptr), nullptr);
    Send(WM_MOUSEMOVE, 0, 500, 10);
  }
  Pump();
  EXPECT_EQ(corva::test::LiveGdiObjects(), before);
}

// ---- the programs' own container

// What the README tells a third party for a per-user registration: HKEY_CLASSES_ROOT redirected
// to the user's own classes while DllRegisterServer runs.
HRESULT RegisterForUser(HMODULE library, const char* entry) {
  using Fn = HRESULT(STDAPICALLTYPE*)();
  auto call = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(library, entry)));
  if (!call) return E_NOTIMPL;
  corva::win::unique_hkey classes;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, classes.put(), nullptr) != ERROR_SUCCESS) {
    return E_ACCESSDENIED;
  }
  if (::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes.get()) != ERROR_SUCCESS) return E_FAIL;
  const HRESULT hr = call();
  ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  return hr;
}

std::wstring UserClassValue(const std::wstring& key) {
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof(value);
  const std::wstring path = L"Software\\Classes\\" + key;
  if (::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS) {
    return L"(none)";
  }
  return value;
}

TEST(LumbraPerUser, RegistersInTheUsersOwnClassesAndUnregistersCleanly) {
  ASSERT_EQ(RunRegsvr32(L"/s /u"), 0);  // nothing for the whole machine
  HMODULE library = ::LoadLibraryW(LibraryPath().c_str());
  ASSERT_NE(library, nullptr);
  wchar_t clsid_text[40] = {};
  ::StringFromGUID2(kClsid, clsid_text, 40);
  const std::wstring clsid = std::wstring(L"CLSID\\") + clsid_text;
  ASSERT_EQ(RegisterForUser(library, "DllRegisterServer"), S_OK);
  EXPECT_EQ(UserClassValue(L"Lumbra.ImageBtn\\CLSID"), clsid_text);
  EXPECT_EQ(UserClassValue(clsid + L"\\InprocServer32"), LibraryPath());
  wchar_t libid_text[40] = {};
  ::StringFromGUID2(LIBID_Lumbra, libid_text, 40);
  const std::wstring typelib = std::wstring(L"TypeLib\\") + libid_text + L"\\1.0\\409\\win64";
  EXPECT_EQ(UserClassValue(typelib), LibraryPath());
  // Windows reads HKEY_CLASSES_ROOT as the user's classes over the machine's, so a program of
  // this user then creates it by its ProgID. Wine keeps the two apart: that part is not checked.
  ASSERT_EQ(RegisterForUser(library, "DllUnregisterServer"), S_OK);
  EXPECT_EQ(UserClassValue(L"Lumbra.ImageBtn\\CLSID"), L"(none)");
  EXPECT_EQ(UserClassValue(clsid + L"\\InprocServer32"), L"(none)");
  EXPECT_EQ(UserClassValue(typelib), L"(none)");
  ::FreeLibrary(library);
  ASSERT_EQ(RunRegsvr32(L"/s"), 0);
}

std::vector<WPARAM> g_commands;
LRESULT CALLBACK OwnerProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_COMMAND) g_commands.push_back(w);
  return ::DefWindowProcW(h, m, w, l);
}

TEST(ImageBtnContainer, CreatesTheDescribedButtonsWithoutRegistrationAndDeliversClick) {
  // Unregistered: the container loads the library from its path and asks it directly.
  ASSERT_EQ(RunRegsvr32(L"/s /u"), 0);
  WNDCLASSW wc{};
  wc.lpfnWndProc = OwnerProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"LumbraOwner";
  ::RegisterClassW(&wc);
  unique_hwnd owner(::CreateWindowExW(0, L"LumbraOwner", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                      0, 0, 300, 200, nullptr, nullptr, wc.hInstance, nullptr));
  // The pictures come from the library's own resources here: its toolbox bitmap, 30000.
  HMODULE resources = ::LoadLibraryW(LibraryPath().c_str());
  ASSERT_NE(resources, nullptr);
  {
    corva::win::ImageBtnContainer container(owner.get(), resources, LibraryPath());
    ASSERT_EQ(container.Load("[IBMute]\nid = 1003\nleft = 10\ntop = 12\nwidth = 40\n"
                             "height = 30\ntooltiptext = \"Sonido\"\nstyle = 48\n"
                             "picture = res:30000\ncaption = \"\"\n"
                             "[IBTest]\nid = 1004\nleft = 60\ntop = 12\nwidth = 40\nheight = 30\n"
                             "caption = \"&Prueba\"\nborderoffset = 4\n"),
              S_OK);
    HWND mute = container.Window(L"IBMute");
    ASSERT_NE(mute, nullptr);
    EXPECT_EQ(::GetDlgCtrlID(mute), 1003);
    EXPECT_EQ(::GetDlgItem(owner.get(), 1004), container.Window(L"IBTest"));
    RECT r{};
    ::GetWindowRect(mute, &r);
    ::MapWindowPoints(nullptr, owner.get(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 12);
    EXPECT_EQ(r.right - r.left, 40);
    EXPECT_EQ(r.bottom - r.top, 30);

    IDispatch* control = container.Control(L"IBMute");
    EXPECT_EQ(GetText(control, kToolTipText), L"Sonido");  // read through the extender
    EXPECT_EQ(GetLong(control, kStyle), 48);
    unique_variant picture;
    ASSERT_EQ(Get(control, kPicture, picture), S_OK);
    EXPECT_NE(picture.pdispVal, nullptr);
    EXPECT_EQ(GetText(container.Control(L"IBTest"), kCaption), L"&Prueba");

    g_commands.clear();
    ::SendMessageW(mute, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ::SendMessageW(mute, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    Pump();
    EXPECT_EQ(g_commands, std::vector<WPARAM>{MAKEWPARAM(1003, BN_CLICKED)});

    unique_hbitmap green(::CreateBitmap(4, 4, 1, 32, nullptr));
    EXPECT_EQ(container.SetPicture(L"IBMute", kPictureHov, green.get()), S_OK);
    unique_variant hov;
    ASSERT_EQ(Get(control, kPictureHov, hov), S_OK);
    EXPECT_NE(hov.pdispVal, nullptr);
    // At 200 %: places and offsets doubled, and the caption's font drawn twice as high.
    const auto caption_height = [&] {
      unique_variant font;
      if (FAILED(Get(container.Control(L"IBTest"), kFont, font)) || font.vt != VT_DISPATCH)
        return 0L;
      com_ptr<IFont> ifont;
      font.pdispVal->QueryInterface(IID_IFont, ifont.put_void());
      HFONT hfont = nullptr;
      LOGFONTW logfont{};
      if (!ifont || FAILED(ifont->get_hFont(&hfont)) ||
          !::GetObjectW(hfont, sizeof(logfont), &logfont)) {
        return 0L;
      }
      return logfont.lfHeight < 0 ? -logfont.lfHeight : logfont.lfHeight;
    };
    const long height_100 = caption_height();
    ASSERT_GT(height_100, 0);
    ASSERT_EQ(container.SetArtScale(200), S_OK);
    ::GetWindowRect(container.Window(L"IBTest"), &r);
    ::MapWindowPoints(nullptr, owner.get(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 120);
    EXPECT_EQ(r.top, 24);
    EXPECT_EQ(r.right - r.left, 80);
    EXPECT_EQ(r.bottom - r.top, 60);
    EXPECT_EQ(GetLong(container.Control(L"IBTest"), kBorderOffset), 8);
    EXPECT_NEAR(caption_height(), 2 * height_100, 1);
    ASSERT_EQ(container.SetArtScale(100), S_OK);
    EXPECT_EQ(caption_height(), height_100);

    container.SetVisible(L"IBTest", false);
    EXPECT_FALSE(container.IsVisible(L"IBTest"));
    EXPECT_EQ(container.Load("[Bad]\nstyle = \"x\"\n"), DISP_E_TYPEMISMATCH);
  }
  EXPECT_EQ(::GetDlgItem(owner.get(), 1003), nullptr);  // the container took its buttons along
  ASSERT_EQ(RunRegsvr32(L"/s"), 0);
}

TEST(ImageBtnContainer, AnOwnerClosedUnderAShownTooltipTakesTheTooltipAlong) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = OwnerProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"LumbraOwner";
  ::RegisterClassW(&wc);
  unique_hwnd owner(::CreateWindowExW(0, L"LumbraOwner", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                      0, 0, 300, 200, nullptr, nullptr, wc.hInstance, nullptr));
  HMODULE resources = ::LoadLibraryW(LibraryPath().c_str());
  ASSERT_NE(resources, nullptr);
  corva::win::ImageBtnContainer container(owner.get(), resources, LibraryPath());
  ASSERT_EQ(container.Load("[IBMute]\nid = 1003\nleft = 10\ntop = 12\nwidth = 40\n"
                           "height = 30\ntooltiptext = \"Sonido\"\n"),
            S_OK);
  HWND mute = container.Window(L"IBMute");
  ::SendMessageW(mute, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  ::SendMessageW(mute, WM_TIMER, 1, 0);  // tmrToolTip's tick
  HWND tip = ::FindWindowW(L"LumbraToolTip", nullptr);
  ASSERT_NE(tip, nullptr);
  ASSERT_TRUE(::IsWindowVisible(tip));
  owner.reset();  // the buttons' windows go with their owner, before the container lets go
  EXPECT_FALSE(::IsWindow(tip));
}

struct OtherUiThread {
  corva::win::unique_handle shown{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  corva::win::unique_handle checked{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HWND window = nullptr;
  DWORD thread = 0;
  bool hidden = false;

  static DWORD WINAPI Run(void* p) {
    auto* o = static_cast<OtherUiThread*>(p);
    unique_hwnd own(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 300, 100, 60, 20,
                                      nullptr, nullptr, nullptr, nullptr));
    lumbra::win::ShowToolTip(own.get(), L"Otro", 0x80000018, 0x80000012);
    o->window = lumbra::win::ToolTipWindow();
    o->thread = ::GetCurrentThreadId();
    ::SetEvent(o->shown.get());
    ::WaitForSingleObject(o->checked.get(), 30000);
    lumbra::win::HideToolTipOf(own.get());
    o->hidden = lumbra::win::ToolTipWindow() == nullptr && !::IsWindow(o->window);
    return 0;
  }
};

// The library's own tooltip code, linked into this test: its windows and the module count that
// DllCanUnloadNow answers from.
TEST(LumbraToolTipWindow, EachUiThreadHasItsOwnAndALiveOneHoldsTheLibrary) {
  ASSERT_EQ(::DllCanUnloadNow(), S_OK);
  unique_hwnd anchor(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 100, 100, 60, 20,
                                       nullptr, nullptr, nullptr, nullptr));
  lumbra::win::ShowToolTip(anchor.get(), L"Prueba", 0x80000018, 0x80000012);
  HWND mine = lumbra::win::ToolTipWindow();
  ASSERT_NE(mine, nullptr);
  EXPECT_TRUE(::IsWindowVisible(mine));
  EXPECT_EQ(::DllCanUnloadNow(), S_FALSE) << "its window procedure is in the library";

  // A second UI thread shows and hides its own tooltip meanwhile.
  OtherUiThread other;
  corva::win::unique_handle thread(::CreateThread(
      nullptr, 0, OtherUiThread::Run, &other, 0, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_EQ(::WaitForSingleObject(other.shown.get(), 30000), WAIT_OBJECT_0);
  EXPECT_NE(other.window, nullptr);
  EXPECT_NE(other.window, mine);
  EXPECT_EQ(::GetWindowThreadProcessId(other.window, nullptr), other.thread);
  EXPECT_EQ(::GetWindowThreadProcessId(mine, nullptr), ::GetCurrentThreadId());
  ::SetEvent(other.checked.get());
  ASSERT_EQ(::WaitForSingleObject(thread.get(), 30000), WAIT_OBJECT_0);
  EXPECT_TRUE(other.hidden);
  EXPECT_TRUE(::IsWindowVisible(mine)) << "the other thread's hiding leaves this one's alone";
  EXPECT_EQ(lumbra::win::ToolTipWindow(), mine);

  lumbra::win::HideToolTipOf(nullptr);  // shown for another window: stays
  EXPECT_TRUE(::IsWindow(mine));
  lumbra::win::HideToolTipOf(anchor.get());
  EXPECT_FALSE(::IsWindow(mine));
  EXPECT_EQ(::DllCanUnloadNow(), S_OK);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new LumbraEnvironment);
  return RUN_ALL_TESTS();
}
