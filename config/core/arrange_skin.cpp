#include "arrange_skin.h"

namespace corva::config {

SkinPlacement ArrangeSkin(int W, int H, const SkinSizes& s) {
  SkinPlacement p;
  p.ImgIM = {0, 0, s.ImgIM_w, H};
  p.ImgDM = {W - s.ImgIM_w, 0, s.ImgIM_w, H};
  p.ImgMD = {0, H - s.ImgMD_h, W, s.ImgMD_h};
  p.ImgTopL = {0, 0, s.ImgTopL.w, s.ImgTopL.h};
  p.ImgTopM = {s.ImgTopL.w, 0, s.ImgTopM.w, s.ImgTopM.h};
  p.ImgIT = {0, s.ImgTopL.h, s.ImgIT.w, s.ImgIT.h};
  p.ImgDT = {W - s.ImgDT.w, 0, s.ImgDT.w, s.ImgDT.h};
  p.ImgID = {0, H - s.ImgID.h, s.ImgID.w, s.ImgID.h};
  p.ImgDD = {W - s.ImgDD.w, H - s.ImgDD.h, s.ImgDD.w, s.ImgDD.h};
  const int body = H - (s.ImgTopL.h + s.ImgMD_h);
  p.pbmenu = {s.ImgIT.w, s.ImgTopL.h, s.pbmenu_w, body};
  p.imgbarra = {p.pbmenu.x + p.pbmenu.w, p.pbmenu.y, s.imgbarra_w, body};
  // ArrangePages: every page right of the bar, keeping its size.
  p.page = {p.pbmenu.x + p.pbmenu.w + s.imgbarra_w, p.pbmenu.y, s.page.w, s.page.h};
  return p;
}

}  // namespace corva::config
