#pragma once
// The geometry of one ImageBtn repaint: which background rule applies, which picture is drawn
// and where, where the caption goes and in which colour, which edge the border takes and how
// the focus is shown. The Win32 painter carries the plan out with GDI.

#include "image_btn.h"

namespace lumbra {

enum class Background { Highlight, Grab, BackColor, Tile };

// DrawEdge flags of the border table.
enum EdgeFlags : int {
  kEdgeNone = 0,
  kRaisedInner = 4,
  kRaisedBoth = 5,
  kSunkenInner = 8,
  kSunkenBoth = 10,
};

struct PaintPlan {
  int bitmap_w = 0;  // the off-screen bitmap: W and H rounded
  int bitmap_h = 0;
  int shift = 0;  // pressed-state displacement of the tile origin and grabbed background
  Background background = Background::BackColor;
  PictureSlot image_slot = PictureSlot::Picture;
  const Picture* image = nullptr;  // none: no image drawn
  int image_x = 0;
  int image_y = 0;
  int caption_x = 0;
  int caption_y = 0;
  bool caption_in_highlight = false;  // HighlightColor instead of ForeColor
  int border = kEdgeNone;
  int focus_edge = kEdgeNone;  // the raised edge a focused pop-up button shows first
  bool focus_rect = false;
  int focus_inset = 0;  // 0: along the outer edge; 3: R shrunk by 3 pixels
};

// W and H in pixels; text_w is the caption's width (0 when empty), text_h its height.
// Fails with kOverflow where the offsets and sizes overflow their integer types.
Status PlanPaint(const ImageBtnFields& f, double w, double h, int text_w, int text_h,
                 PaintPlan& plan);

// The pressed-state displacement of the image and of the caption.
int ImageShift(const ImageBtnFields& f);
int CaptionShift(const ImageBtnFields& f);

}  // namespace lumbra
