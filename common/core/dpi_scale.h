#pragma once
// How the skinned windows follow the screen's DPI. Plain rules, no windows.h.
//
// The artwork comes at three scales, each drawn at its size by tools/art: 100 %, 150 % and
// 200 %. A window takes the art scale nearest to its monitor's DPI and lays out everything at
// that scale (places, fonts, hit areas), so every picture fills its place pixel for pixel and
// nothing is ever stretched. Layouts are kept in 96-DPI units and scaled with ScaleBy.
//
// The bitmap of resource N at 150 % is N + 1000, at 200 % N + 2000.

namespace corva::dpi {

inline constexpr int kBaseDpi = 96;
inline constexpr int kArtScales[] = {100, 150, 200};  // percent
inline constexpr int kScaledIdStep = 1000;            // id offset per art scale above 100 %

// The art scale (percent) nearest to `dpi`; a tie goes to the larger art, and anything at or
// below 96 DPI (or an unknown 0) to 100 %.
constexpr int ArtScaleForDpi(int dpi) {
  if (dpi <= kBaseDpi) return 100;
  const long percent2 = 200L * dpi / kBaseDpi;  // twice the exact percentage, no rounding loss
  int best = kArtScales[0];
  long best_distance = -1;
  for (int scale : kArtScales) {
    long d = percent2 - 2L * scale;
    if (d < 0) d = -d;
    if (best_distance < 0 || d <= best_distance) {
      best = scale;
      best_distance = d;
    }
  }
  return best;
}

// The resource id of `id`'s picture at `art_scale` (one of kArtScales).
constexpr int ScaledResourceId(int id, int art_scale) {
  return art_scale >= 200 ? id + 2 * kScaledIdStep : art_scale >= 150 ? id + kScaledIdStep : id;
}

// value * numerator / denominator rounded to the nearest whole number, halves away from zero,
// as Win32's MulDiv does; the 64-bit product cannot overflow. A zero denominator answers -1,
// as MulDiv does.
constexpr int MulDivRound(int value, int numerator, int denominator) {
  if (denominator == 0) return -1;
  long long p = static_cast<long long>(value) * numerator;
  long long d = denominator;
  if (d < 0) {
    p = -p;
    d = -d;
  }
  const long long q = p >= 0 ? (p + d / 2) / d : -((-p + d / 2) / d);
  return static_cast<int>(q);
}

// A length in 96-DPI units at `percent` (an art scale): the same rule the art generator draws
// with, so a scaled place and its picture agree to the pixel.
constexpr int ScaleBy(int value, int percent) { return MulDivRound(value, percent, 100); }

// A length in 96-DPI units at `dpi` exactly (for what has no picture, e.g. system metrics).
constexpr int ScaleForDpi(int value, int dpi) { return MulDivRound(value, dpi, kBaseDpi); }

// A rectangle in 96-DPI units at `percent`: origin and size are scaled each on its own, so the
// size is exactly the size of the picture the art generator drew for it.
struct ScaledRect {
  int x, y, w, h;
};
constexpr ScaledRect ScaleRect(int x, int y, int w, int h, int percent) {
  return {ScaleBy(x, percent), ScaleBy(y, percent), ScaleBy(w, percent), ScaleBy(h, percent)};
}

}  // namespace corva::dpi
