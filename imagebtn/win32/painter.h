#pragma once
// The whole ImageBtn repaint with GDI: composed in an off-screen bitmap and copied to the
// target in one transfer. Every DC, bitmap, brush and font it makes is freed before it returns.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "image_btn.h"
#include "image_btn_paint.h"
#include "unique_resource.h"

namespace lumbra::win {

// A picture object given to the button, shared with whoever gave it.
class ComPicture final : public lumbra::Picture {
 public:
  // Fails when `picture` is not a picture object.
  static HRESULT Create(IUnknown* picture, PictureRef& out);
  bool IsIcon() const override { return type_ == PICTYPE_ICON; }
  int WidthPx() const override { return width_; }
  int HeightPx() const override { return height_; }
  HGDIOBJ Handle() const;
  IPicture* get() const { return picture_.get(); }

 private:
  corva::win::com_ptr<IPicture> picture_;
  SHORT type_ = PICTYPE_NONE;
  int width_ = 0;
  int height_ = 0;
};

struct PaintSource {
  const ImageBtnFields& fields;
  double width = 0;  // the control's size in pixels
  double height = 0;
  HFONT font = nullptr;  // the control font (owned by the font object)
  // The container's window the background is grabbed from and the control's position in it.
  HWND grab_window = nullptr;
  POINT grab_origin{};
};

// Paints the whole button at (x, y) of `target`.
Status PaintImageBtn(HDC target, int x, int y, const PaintSource& source);

// Marks in a monochrome bitmap (white) exactly the pixels of `picture` equal to `transparent`,
// reading the pixels once with GetDIBits. `picture` must not be selected into a DC.
corva::win::unique_hbitmap BuildTransparencyMask(HDC dc, HBITMAP picture, int width, int height,
                                                 COLORREF transparent);

COLORREF ToRgb(OleColor color);

}  // namespace lumbra::win
