#include "image_btn_paint.h"

#include <cstdint>
#include <limits>

namespace lumbra {

namespace {

bool Has(const ImageBtnFields& f, int flag) { return (f.style & flag) != 0; }
bool Thin(const ImageBtnFields& f) { return Has(f, lcsThinBorder); }

template <typename T>
bool AddOverflows(std::int64_t a, std::int64_t b) {
  const std::int64_t sum = a + b;
  return sum < std::numeric_limits<T>::min() || sum > std::numeric_limits<T>::max();
}

int Round(double v) { return static_cast<int>(RoundHalfEven(v)); }

int RaisedEdge(const ImageBtnFields& f) { return Thin(f) ? kRaisedInner : kRaisedBoth; }

int BorderEdge(const ImageBtnFields& f) {
  if (Has(f, lcsNoBorder)) return kEdgeNone;
  if (Has(f, lcsPopupBorder) && f.VisualState == kStateNormal) return kEdgeNone;
  if (f.VisualState == kStatePressed) return Thin(f) ? kSunkenInner : kSunkenBoth;
  return RaisedEdge(f);
}

}  // namespace

int ImageShift(const ImageBtnFields& f) {
  return f.VisualState == kStatePressed && Thin(f) ? 1 : 0;
}

int CaptionShift(const ImageBtnFields& f) {
  if (f.VisualState != kStatePressed) return 0;
  return Thin(f) ? 1 : 2;
}

Status PlanPaint(const ImageBtnFields& f, double w, double h, int text_w, int text_h,
                 PaintPlan& plan) {
  plan = PaintPlan{};
  plan.bitmap_w = Round(w);
  plan.bitmap_h = Round(h);
  plan.shift = CaptionShift(f);  // 1 thin, 2 thick, while pressed

  // Background: the first rule that applies.
  if (f.VisualState == kStateHover && Has(f, lcsHighlightBG)) {
    plan.background = Background::Highlight;
  } else if (!f.background_picture && f.grab_bg) {
    plan.background = Background::Grab;
  } else if (!f.background_picture) {
    plan.background = Background::BackColor;
  } else {
    plan.background = Background::Tile;
  }

  // DrawPicture.
  if (f.hover_picture || f.picture) {
    if (f.VisualState == kStateHover && f.hover_picture) {
      plan.image_slot = PictureSlot::PictureHov;
      plan.image = f.hover_picture.get();
    } else if (f.VisualState == kStatePressed && f.pressed_picture) {
      plan.image_slot = PictureSlot::PictureDown;
      plan.image = f.pressed_picture.get();
    } else if (f.picture) {
      plan.image_slot = PictureSlot::Picture;
      plan.image = f.picture.get();
    }
  }
  if (plan.image) {
    const int pic_w = plan.image->WidthPx();
    const int pic_h = plan.image->HeightPx();
    plan.image_y = Round((h - pic_h) / 2);
    switch (f.alignment) {
      case lcaLeft: plan.image_x = f.border_offset; break;
      case lcaRight:
        if (AddOverflows<std::int16_t>(f.border_offset, f.image_offset)) return kOverflow;
        plan.image_x = Round(w - text_w - f.border_offset - f.image_offset - pic_w);
        break;
      case lcaCenter:
        if (AddOverflows<std::int32_t>(f.image_offset, pic_w) ||
            AddOverflows<std::int32_t>(std::int64_t{f.image_offset} + pic_w, text_w))
          return kOverflow;
        plan.image_x = Round((w - (f.image_offset + pic_w + text_w)) / 2);
        break;
      default: plan.image_x = 0; break;
    }
    plan.image_x += ImageShift(f);
    plan.image_y += ImageShift(f);
  }

  // DrawCaption: the pressed picture never takes part in the layout.
  const Picture* layout = nullptr;
  if (f.VisualState == kStateHover && f.hover_picture) {
    layout = f.hover_picture.get();
  } else if (f.picture) {
    layout = f.picture.get();
  }
  const int layout_w = layout ? layout->WidthPx() : 0;
  plan.caption_y = Round((h - text_h) / 2);
  switch (f.alignment) {
    case lcaLeft:
      if (!layout) {
        plan.caption_x = f.border_offset;
      } else {
        if (AddOverflows<std::int16_t>(f.border_offset, f.image_offset)) return kOverflow;
        plan.caption_x = Round(static_cast<double>(f.border_offset) + f.image_offset + layout_w);
      }
      break;
    case lcaRight: plan.caption_x = Round(w - text_w - f.border_offset); break;
    case lcaCenter:
      plan.caption_x = layout ? Round((w - text_w + f.image_offset + layout_w) / 2)
                              : Round((w - text_w) / 2);
      break;
    default: plan.caption_x = 0; break;
  }
  plan.caption_x += CaptionShift(f);
  plan.caption_y += CaptionShift(f);
  plan.caption_in_highlight = Has(f, lcsTextColor) && f.VisualState == kStateHover;

  plan.border = BorderEdge(f);

  // DrawFocus.
  if (f.HasFocus) {
    if (Has(f, lcsPopupBorder) && f.VisualState == kStateNormal) plan.focus_edge = RaisedEdge(f);
    if (!(f.hover_picture && Has(f, lcsNoFocusRect))) {
      plan.focus_rect = true;
      plan.focus_inset = Has(f, lcsNoFocusRect) ? 0 : 3;
    }
  }
  return kOk;
}

}  // namespace lumbra
