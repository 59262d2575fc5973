#pragma once
// Where the shared tooltip window goes and how long a text it shows: placed in twips on the
// primary screen a third of the way along the button and 8 pixels below it, kept on the
// screen, and shortened to 80 % of the screen width.

#include <string>

#include "image_btn_types.h"

namespace lumbra {

struct ScreenTwips {
  double tppx = 15;  // twips per pixel, horizontally and vertically
  double tppy = 15;
  double width = 0;  // the primary screen's size in twips
  double height = 0;
};

struct PixelRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// Text size in the tooltip window's font, in twips.
class ToolTipMeasure {
 public:
  virtual ~ToolTipMeasure() = default;
  virtual double TextWidth(const std::wstring& text) = 0;
  virtual double TextHeight(const std::wstring& text) = 0;
};

struct ToolTipPlacement {
  std::int32_t left = 0, top = 0, width = 0, height = 0;  // twips
  std::wstring text;  // as shown, after shortening
};

// `button` is the control window's rectangle on the screen in pixels. Fails (and the tooltip
// is not shown) when a width does not fit the 16-bit number it is held in.
Status PlaceToolTip(const PixelRect& button, const ScreenTwips& screen, ToolTipMeasure& measure,
                    std::wstring text, ToolTipPlacement& out);

}  // namespace lumbra
