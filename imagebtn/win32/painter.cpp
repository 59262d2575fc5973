#include "painter.h"

#include <olectl.h>

#include <string>
#include <vector>

namespace lumbra::win {

using corva::win::com_ptr;
using corva::win::select_object;
using corva::win::unique_hbitmap;
using corva::win::unique_hbrush;
using corva::win::unique_hdc;
using corva::win::unique_hfont;
using corva::win::window_dc;

namespace {

int ScreenDpi() {
  window_dc screen(nullptr);
  return ::GetDeviceCaps(screen.get(), LOGPIXELSX);
}

// DrawState flags.
constexpr UINT kDrawPrefixText = 0x0002;  // DST_PREFIXTEXT
constexpr UINT kDrawIcon = 0x0003;        // DST_ICON
constexpr UINT kDrawBitmap = 0x0004;      // DST_BITMAP
constexpr UINT kDisabled = 0x0020;        // DSS_DISABLED

void DrawPicture(HDC mem, const PaintPlan& plan, const ImageBtnFields& f) {
  const auto* picture = dynamic_cast<const ComPicture*>(plan.image);
  if (!picture) return;
  const int x = plan.image_x, y = plan.image_y;
  const int w = picture->WidthPx(), h = picture->HeightPx();
  if (picture->IsIcon()) {
    auto icon = static_cast<HICON>(picture->Handle());
    if (f.enabled) {
      ::DrawIcon(mem, x, y, icon);
    } else {
      ::DrawStateW(mem, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, x, y, 0, 0,
                   kDrawIcon | kDisabled);
    }
    return;
  }
  auto bitmap = static_cast<HBITMAP>(picture->Handle());
  if (!bitmap || w <= 0 || h <= 0) return;
  const COLORREF transparent = f.transparent_color;  // compared raw, never translated

  unique_hdc source_dc(::CreateCompatibleDC(mem));
  unique_hbitmap mask = BuildTransparencyMask(mem, bitmap, w, h, transparent);
  unique_hdc mask_dc(::CreateCompatibleDC(mem));
  unique_hdc work_dc(::CreateCompatibleDC(mem));
  unique_hbitmap work(::CreateCompatibleBitmap(mem, w, h));
  {
    select_object sel_source(source_dc.get(), bitmap);
    select_object sel_mask(mask_dc.get(), mask.get());
    select_object sel_work(work_dc.get(), work.get());
    // Work = mask, then OR the picture in: transparent pixels white, the rest the picture.
    ::SetBkColor(work_dc.get(), RGB(255, 255, 255));
    ::SetTextColor(work_dc.get(), RGB(0, 0, 0));
    ::BitBlt(work_dc.get(), 0, 0, w, h, mask_dc.get(), 0, 0, SRCCOPY);
    ::BitBlt(work_dc.get(), 0, 0, w, h, source_dc.get(), 0, 0, SRCPAINT);
    if (f.enabled) {
      const COLORREF old_bk = ::SetBkColor(mem, RGB(255, 255, 255));
      const COLORREF old_text = ::SetTextColor(mem, RGB(0, 0, 0));
      ::BitBlt(mem, x, y, w, h, mask_dc.get(), 0, 0, MERGEPAINT);  // whiten the opaque part
      ::BitBlt(mem, x, y, w, h, work_dc.get(), 0, 0, SRCAND);
      ::SetBkColor(mem, old_bk);
      ::SetTextColor(mem, old_text);
      return;
    }
  }
  // Disabled: the work bitmap embossed, with the transparent colour as the background.
  const COLORREF old_bk = ::SetBkColor(mem, transparent);
  ::DrawStateW(mem, nullptr, nullptr, reinterpret_cast<LPARAM>(work.get()), 0, x, y, w, h,
               kDrawBitmap | kDisabled);
  ::SetBkColor(mem, old_bk);
}

void DrawCaption(HDC mem, const PaintPlan& plan, const PaintSource& s) {
  const ImageBtnFields& f = s.fields;
  if (f.caption.empty()) return;
  TEXTMETRICW tm{};
  LOGFONTW lf{};
  {
    select_object sel(mem, s.font ? s.font : ::GetStockObject(DEFAULT_GUI_FONT));
    ::GetTextMetricsW(mem, &tm);
  }
  ::GetObjectW(s.font ? static_cast<HGDIOBJ>(s.font) : ::GetStockObject(DEFAULT_GUI_FONT),
               sizeof(lf), &lf);
  unique_hfont font(::CreateFontW(tm.tmHeight, 0, 0, 0, tm.tmWeight, lf.lfItalic, lf.lfUnderline,
                                  lf.lfStrikeOut, 0, OUT_DEFAULT_PRECIS, 0x10, DEFAULT_QUALITY,
                                  DEFAULT_PITCH | FF_DONTCARE, lf.lfFaceName));
  select_object sel(mem, font.get());
  ::SetTextColor(mem, ToRgb(plan.caption_in_highlight ? f.highlight_color : f.fore_color));
  ::SetBkMode(mem, TRANSPARENT);
  ::DrawStateW(mem, nullptr, nullptr, reinterpret_cast<LPARAM>(f.caption.c_str()),
               static_cast<WPARAM>(f.caption.size()), plan.caption_x, plan.caption_y, 0, 0,
               kDrawPrefixText | (f.enabled ? 0 : kDisabled));
}

}  // namespace

HRESULT ComPicture::Create(IUnknown* unknown, PictureRef& out) {
  out.reset();
  if (!unknown) return S_OK;
  auto p = std::make_shared<ComPicture>();
  HRESULT hr = unknown->QueryInterface(IID_IPicture, p->picture_.put_void());
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  OLE_XSIZE_HIMETRIC w = 0;
  OLE_YSIZE_HIMETRIC h = 0;
  p->picture_->get_Type(&p->type_);
  p->picture_->get_Width(&w);
  p->picture_->get_Height(&h);
  const int dpi = ScreenDpi();
  p->width_ = HimetricToPixels(w, dpi);
  p->height_ = HimetricToPixels(h, dpi);
  out = std::move(p);
  return S_OK;
}

HGDIOBJ ComPicture::Handle() const {
  OLE_HANDLE handle = 0;
  picture_->get_Handle(&handle);
  return reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(handle));
}

COLORREF ToRgb(OleColor color) {
  COLORREF rgb = 0;
  if (FAILED(::OleTranslateColor(color, nullptr, &rgb))) return color & 0xFFFFFF;
  return rgb;
}

unique_hbitmap BuildTransparencyMask(HDC dc, HBITMAP picture, int width, int height,
                                     COLORREF transparent) {
  // The picture's pixels, read in one call as 32-bit top-down rows (0x00RRGGBB).
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  // The mask's rows as CreateBitmap takes them: 1 bit per pixel (1 white), padded to 16 bits.
  const int stride = (width + 15) / 16 * 2;
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(stride) * height, 0);
  const bool read =
      ::GetDIBits(dc, picture, 0, static_cast<UINT>(height), pixels.data(), &bi, DIB_RGB_COLORS) ==
      height;
  // A system colour never equals a pixel; a COLORREF is 0x00BBGGRR.
  if (read && (transparent & 0xFF000000) == 0) {
    const std::uint32_t key = ((transparent & 0xFF) << 16) | (transparent & 0xFF00) |
                              ((transparent >> 16) & 0xFF);
    for (int row = 0; row < height; ++row) {
      const std::uint32_t* in = pixels.data() + static_cast<std::ptrdiff_t>(row) * width;
      std::uint8_t* out = bits.data() + static_cast<std::ptrdiff_t>(row) * stride;
      for (int col = 0; col < width; ++col) {
        if ((in[col] & 0xFFFFFF) == key) out[col >> 3] |= static_cast<std::uint8_t>(0x80 >> (col & 7));
      }
    }
  }
  return unique_hbitmap(::CreateBitmap(width, height, 1, 1, bits.data()));
}

Status PaintImageBtn(HDC target, int x, int y, const PaintSource& s) {
  const ImageBtnFields& f = s.fields;
  // Caption size in the control font.
  SIZE text{};
  TEXTMETRICW tm{};
  {
    select_object sel(target, s.font ? s.font : ::GetStockObject(DEFAULT_GUI_FONT));
    if (!f.caption.empty()) {
      ::GetTextExtentPoint32W(target, f.caption.c_str(), static_cast<int>(f.caption.size()),
                              &text);
    }
    ::GetTextMetricsW(target, &tm);
  }
  PaintPlan plan;
  if (Status st = PlanPaint(f, s.width, s.height, text.cx, tm.tmHeight, plan); Failed(st))
    return st;
  const int w = plan.bitmap_w, h = plan.bitmap_h;
  if (w <= 0 || h <= 0) return kOk;

  unique_hdc mem(::CreateCompatibleDC(target));
  unique_hbitmap bitmap(::CreateCompatibleBitmap(target, w, h));
  select_object sel_bitmap(mem.get(), bitmap.get());
  RECT r{0, 0, w, h};

  switch (plan.background) {
    case Background::Highlight: {
      unique_hbrush brush(::CreateSolidBrush(ToRgb(f.highlight_color)));
      ::FillRect(mem.get(), &r, brush.get());
      break;
    }
    case Background::Grab: {
      window_dc form(s.grab_window);
      ::BitBlt(mem.get(), plan.shift, plan.shift, w, h, form.get(), s.grab_origin.x,
               s.grab_origin.y, SRCCOPY);
      break;
    }
    case Background::BackColor: {
      unique_hbrush brush(::CreateSolidBrush(ToRgb(f.back_color)));
      ::FillRect(mem.get(), &r, brush.get());
      break;
    }
    case Background::Tile: {
      const auto* bg = dynamic_cast<const ComPicture*>(f.background_picture.get());
      unique_hbrush brush(::CreatePatternBrush(static_cast<HBITMAP>(bg ? bg->Handle() : nullptr)));
      POINT old{};
      if (f.VisualState == kStatePressed)
        ::SetBrushOrgEx(mem.get(), plan.shift, plan.shift, &old);
      ::FillRect(mem.get(), &r, brush.get());
      ::SetBrushOrgEx(mem.get(), old.x, old.y, nullptr);
      break;
    }
  }
  DrawPicture(mem.get(), plan, f);
  DrawCaption(mem.get(), plan, s);
  if (plan.border != kEdgeNone) ::DrawEdge(mem.get(), &r, plan.border, BF_RECT);
  if (plan.focus_edge != kEdgeNone) ::DrawEdge(mem.get(), &r, plan.focus_edge, BF_RECT);
  if (plan.focus_rect) {
    RECT fr = r;
    ::InflateRect(&fr, -plan.focus_inset, -plan.focus_inset);
    ::SetTextColor(mem.get(), RGB(0, 0, 0));
    ::DrawFocusRect(mem.get(), &fr);
  }
  ::BitBlt(target, x, y, w, h, mem.get(), 0, 0, SRCCOPY);
  return kOk;
}

}  // namespace lumbra::win
