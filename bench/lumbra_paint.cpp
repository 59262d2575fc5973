// ImageBtn's repaint: the library's (through IViewObject::Draw, the way a container asks for
// it) against a reference repaint that builds the transparent-colour mask with one GetPixel
// and one SetPixel per pixel, both with a 64 x 64 picture that has a transparent colour; then
// one full repaint of a 120 x 40 button, and the size of the library file. The mask step alone
// is also timed against the library's own mask builder (linked in from its sources).
//
//   lumbra_paint.exe [path\to\lumbra.ocx] [--rounds=N]
//
// The library is loaded from its file and asked for its class object directly: nothing is
// registered.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "painter.h"
#include "unique_resource.h"

namespace {

using corva::win::com_ptr;
using corva::win::select_object;
using corva::win::unique_hbitmap;
using corva::win::unique_hbrush;
using corva::win::unique_hdc;

const CLSID kClsid = {0x382caabc, 0xac6c, 0x4c43, {0xad, 0xf4, 0xd1, 0x7a, 0xec, 0x34, 0x79, 0x8f}};
constexpr COLORREF kKey = RGB(255, 0, 255);
constexpr COLORREF kBack = RGB(212, 208, 200);

double Now() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

// A picture with a ring of the transparent colour and a diagonal pattern inside.
HBITMAP MakeBitmap(int size) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = size;
  bi.bmiHeader.biHeight = -size;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  const int stride = (size * 3 + 3) / 4 * 4;
  auto* p = static_cast<unsigned char*>(bits);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const int dx = x - size / 2, dy = y - size / 2;
      const bool key = dx * dx + dy * dy > (size / 2 - 2) * (size / 2 - 2) || (x + y) % 7 == 0;
      const COLORREF c = key ? kKey : RGB(x * 4, y * 4, 128);
      unsigned char* px = p + y * stride + x * 3;
      px[0] = GetBValue(c);
      px[1] = GetGValue(c);
      px[2] = GetRValue(c);
    }
  }
  return bitmap;
}

// The designed mask: one GetPixel and one SetPixel per pixel.
void ReferenceMask(HDC source, HDC mask, int pic) {
  for (int py = 0; py < pic; ++py) {
    for (int px = 0; px < pic; ++px) {
      const bool key = ::GetPixel(source, px, py) == kKey;
      ::SetPixel(mask, px, py, key ? RGB(255, 255, 255) : RGB(0, 0, 0));
    }
  }
}

// The designed paint of a button with a normal picture, left aligned, thin border, enabled,
// with the mask built pixel by pixel.
void ReferencePaint(HDC target, int w, int h, HBITMAP picture, int pic) {
  unique_hdc mem(::CreateCompatibleDC(target));
  unique_hbitmap bitmap(::CreateCompatibleBitmap(target, w, h));
  select_object sel_bitmap(mem.get(), bitmap.get());
  RECT r{0, 0, w, h};
  {
    unique_hbrush brush(::CreateSolidBrush(kBack));
    ::FillRect(mem.get(), &r, brush.get());
  }
  const int x = 10, y = static_cast<int>(std::nearbyint((h - pic) / 2.0));
  unique_hdc source(::CreateCompatibleDC(mem.get()));
  unique_hdc mask_dc(::CreateCompatibleDC(mem.get()));
  unique_hdc work_dc(::CreateCompatibleDC(mem.get()));
  unique_hbitmap mask(::CreateBitmap(pic, pic, 1, 1, nullptr));
  unique_hbitmap work(::CreateCompatibleBitmap(mem.get(), pic, pic));
  {
    select_object s1(source.get(), picture);
    select_object s2(mask_dc.get(), mask.get());
    select_object s3(work_dc.get(), work.get());
    ReferenceMask(source.get(), mask_dc.get(), pic);
    ::SetBkColor(work_dc.get(), RGB(255, 255, 255));
    ::SetTextColor(work_dc.get(), RGB(0, 0, 0));
    ::BitBlt(work_dc.get(), 0, 0, pic, pic, mask_dc.get(), 0, 0, SRCCOPY);
    ::BitBlt(work_dc.get(), 0, 0, pic, pic, source.get(), 0, 0, SRCPAINT);
    ::SetBkColor(mem.get(), RGB(255, 255, 255));
    ::SetTextColor(mem.get(), RGB(0, 0, 0));
    ::BitBlt(mem.get(), x, y, pic, pic, mask_dc.get(), 0, 0, MERGEPAINT);
    ::BitBlt(mem.get(), x, y, pic, pic, work_dc.get(), 0, 0, SRCAND);
  }
  ::DrawEdge(mem.get(), &r, BDR_RAISEDINNER, BF_RECT);
  ::BitBlt(target, 0, 0, w, h, mem.get(), 0, 0, SRCCOPY);
}

struct Surface {
  Surface(int width, int height) : w(width), h(height) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    dc.reset(::CreateCompatibleDC(nullptr));
    dib.reset(::CreateDIBSection(dc.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    old = ::SelectObject(dc.get(), dib.get());
  }
  ~Surface() { ::SelectObject(dc.get(), old); }
  std::vector<std::uint32_t> Pixels() const {
    ::GdiFlush();
    const auto* p = static_cast<const std::uint32_t*>(bits);
    std::vector<std::uint32_t> out(p, p + w * h);
    for (auto& v : out) v &= 0xFFFFFF;
    return out;
  }
  int w, h;
  unique_hdc dc;
  unique_hbitmap dib;
  void* bits = nullptr;
  HGDIOBJ old = nullptr;
};

template <typename F>
double MedianSeconds(int rounds, F&& body) {
  std::vector<double> t;
  t.reserve(rounds);
  for (int i = 0; i < rounds; ++i) {
    const double start = Now();
    body();
    t.push_back(Now() - start);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

HRESULT PutRef(IDispatch* d, DISPID id, IDispatch* object) {
  VARIANT v{};
  v.vt = VT_DISPATCH;
  v.pdispVal = object;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&v, &named, 1, 1};
  return d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUTREF, &params, nullptr, nullptr, nullptr);
}
HRESULT PutLong(IDispatch* d, DISPID id, LONG value, VARTYPE vt = VT_I4) {
  VARIANT v{};
  v.vt = vt;
  v.lVal = value;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&v, &named, 1, 1};
  return d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}
HRESULT PutText(IDispatch* d, DISPID id, const wchar_t* text) {
  VARIANT v{};
  v.vt = VT_BSTR;
  v.bstrVal = ::SysAllocString(text);
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&v, &named, 1, 1};
  HRESULT hr = d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
  ::SysFreeString(v.bstrVal);
  return hr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring path = L"lumbra.ocx";
  int rounds = 200;
  for (int i = 1; i < argc; ++i) {
    if (std::wcsncmp(argv[i], L"--rounds=", 9) == 0) rounds = std::max(5, _wtoi(argv[i] + 9));
    else path = argv[i];
  }
  ::OleInitialize(nullptr);
  HMODULE lib = ::LoadLibraryW(path.c_str());
  if (!lib) {
    std::fprintf(stderr, "cannot load %ls\n", path.c_str());
    return 1;
  }
  using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  auto get_class = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void (*)()>(::GetProcAddress(lib, "DllGetClassObject")));
  com_ptr<IClassFactory> factory;
  if (!get_class || FAILED(get_class(kClsid, IID_IClassFactory, factory.put_void()))) return 1;

  auto make_button = [&](int pic_size, const wchar_t* caption) {
    com_ptr<IDispatch> d;
    factory->CreateInstance(nullptr, IID_IDispatch, d.put_void());
    d.query<IPersistStreamInit>()->InitNew();
    PICTDESC desc{};
    desc.cbSizeofstruct = sizeof(desc);
    desc.picType = PICTYPE_BITMAP;
    desc.bmp.hbitmap = MakeBitmap(pic_size);
    com_ptr<IDispatch> picture;
    ::OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, picture.put_void());
    PutRef(d.get(), 0x68030009, picture.get());
    PutLong(d.get(), 0x68030000, kKey);                     // TransparentColor
    PutLong(d.get(), 0x68030002, kBack);                    // BackColor
    PutText(d.get(), 0x68030005, caption);                  // Caption
    return d;
  };
  // ---- the mask: 64 x 64 picture on an 84 x 80 button, no caption
  const int pic = 64, w = 84, h = 80;
  com_ptr<IDispatch> button = make_button(pic, L"");
  com_ptr<IViewObject> view = button.query<IViewObject>();
  Surface lib_surface(w, h), ref_surface(w, h);
  RECTL bounds{0, 0, w, h};
  auto library_paint = [&] {
    view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, lib_surface.dc.get(), &bounds,
               nullptr, nullptr, 0);
  };
  unique_hbitmap reference_picture(MakeBitmap(pic));
  auto reference_paint = [&] { ReferencePaint(ref_surface.dc.get(), w, h, reference_picture.get(), pic); };
  library_paint();
  reference_paint();
  const auto a = lib_surface.Pixels(), b = ref_surface.Pixels();
  const long differing = static_cast<long>(
      std::inner_product(a.begin(), a.end(), b.begin(), 0L, std::plus<>(),
                         [](std::uint32_t x, std::uint32_t y) { return x != y ? 1L : 0L; }));
  const double ref_s = MedianSeconds(std::max(5, rounds / 10), reference_paint);
  const double lib_s = MedianSeconds(rounds * 10, library_paint);

  // ---- the mask alone, each into a new monochrome bitmap
  const double ref_mask_s = MedianSeconds(rounds, [&] {
    unique_hdc source(::CreateCompatibleDC(nullptr));
    unique_hdc mask_dc(::CreateCompatibleDC(nullptr));
    unique_hbitmap mask(::CreateBitmap(pic, pic, 1, 1, nullptr));
    select_object s1(source.get(), reference_picture.get());
    select_object s2(mask_dc.get(), mask.get());
    ReferenceMask(source.get(), mask_dc.get(), pic);
  });
  const double lib_mask_s = MedianSeconds(rounds * 10, [&] {
    unique_hbitmap mask = lumbra::win::BuildTransparencyMask(lib_surface.dc.get(),
                                                             reference_picture.get(), pic, pic, kKey);
  });

  // ---- one full repaint of a 120 x 40 button with a 32 x 32 picture and a caption
  com_ptr<IDispatch> small = make_button(32, L"Aceptar");
  com_ptr<IViewObject> small_view = small.query<IViewObject>();
  Surface s120(120, 40);
  RECTL b120{0, 0, 120, 40};
  const double full_s = MedianSeconds(rounds * 10, [&] {
    small_view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, s120.dc.get(), &b120,
                     nullptr, nullptr, 0);
  });

  WIN32_FILE_ATTRIBUTE_DATA attr{};
  ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attr);
  const unsigned long long size =
      (static_cast<unsigned long long>(attr.nFileSizeHigh) << 32) | attr.nFileSizeLow;

  std::printf("64x64 picture with a transparent colour, %dx%d button (median of each):\n", w, h);
  std::printf("  reference repaint, GetPixel/SetPixel mask: %10.1f us\n", ref_s * 1e6);
  std::printf("  library repaint, one GetDIBits mask:       %10.1f us\n", lib_s * 1e6);
  std::printf("  speed-up:                                  %10.1f x\n", ref_s / lib_s);
  std::printf("  pixels that differ between the two:        %10ld\n", differing);
  std::printf("the mask alone: per pixel %.1f us, the library's %.1f us: %.1f x\n",
              ref_mask_s * 1e6, lib_mask_s * 1e6, ref_mask_s / lib_mask_s);
  std::printf("120x40 button, 32x32 picture and caption, one full repaint: %.1f us\n",
              full_s * 1e6);
  std::printf("lumbra.ocx: %llu bytes\n", size);
  return differing == 0 ? 0 : 3;
}
