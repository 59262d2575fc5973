#pragma once
// Where the configuration window puts the pieces of its skin, its menu panel and its pages for
// a window of a given size: the frame images along the edges, the menu panel and the bar below
// the title, and every page right of them.

namespace corva::config {

struct Size {
  int w = 0, h = 0;
};
struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};

// The pictures' own sizes (the edges' lengths and the panels' heights are set by the window).
struct SkinSizes {
  Size ImgTopL, ImgTopM, ImgDT, ImgIT, ImgID, ImgDD;
  int ImgIM_w = 0, ImgMD_h = 0;
  int pbmenu_w = 0, imgbarra_w = 0;
  Size page;
};

struct SkinPlacement {
  Rect ImgIM, ImgDM, ImgMD, ImgTopL, ImgTopM, ImgIT, ImgDT, ImgID, ImgDD, pbmenu, imgbarra;
  Rect page;  // every PbTab
};

SkinPlacement ArrangeSkin(int width, int height, const SkinSizes& sizes);

}  // namespace corva::config
