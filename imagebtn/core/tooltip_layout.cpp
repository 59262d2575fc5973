#include "tooltip_layout.h"

#include <cstdint>

namespace lumbra {

namespace {

// A twips width as the signed 16-bit number it is held in.
Status ToShort(double v, std::int16_t& out) {
  const std::int64_t r = RoundHalfEven(v);
  if (r < -32768 || r > 32767) return kOverflow;
  out = static_cast<std::int16_t>(r);
  return kOk;
}

std::int32_t Round(double v) { return static_cast<std::int32_t>(RoundHalfEven(v)); }

}  // namespace

Status PlaceToolTip(const PixelRect& button, const ScreenTwips& screen, ToolTipMeasure& measure,
                    std::wstring text, ToolTipPlacement& out) {
  std::int32_t left =
      Round((static_cast<double>(button.right - button.left) / 3 + button.left) * screen.tppx);
  std::int32_t top = Round(screen.tppy * (button.bottom + 8));
  const std::int32_t margin_x = Round(screen.tppx * 10);
  const std::int32_t margin_y = Round(screen.tppy * 8);

  const float limit = static_cast<float>(screen.width * 80 / 100);
  for (;;) {
    std::int16_t w = 0;
    if (Status s = ToShort(measure.TextWidth(text), w); Failed(s)) return s;
    if (!(w > limit) || text.empty()) break;
    text.pop_back();
  }
  const std::int32_t width = Round(measure.TextWidth(text) + margin_x);
  const std::int32_t height = Round(measure.TextHeight(text) + margin_y);

  if (left < 0) {
    left = 0;
  } else if (screen.width < left + width) {
    left = static_cast<std::int32_t>(screen.width) - width;
  }
  if (screen.height < top + height) top = Round(screen.tppy * (button.top - 2) - height);

  out.left = left;
  out.top = top;
  out.width = width;
  out.height = height;
  out.text = std::move(text);
  return kOk;
}

}  // namespace lumbra
