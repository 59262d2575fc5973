// ImageBtn's rules without a window: property sets and their notifications, the bag it reads
// and writes, its paint geometry, the interaction rows and the tooltip placement.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <variant>
#include <vector>

#include "image_btn.h"
#include "image_btn_paint.h"
#include "tooltip_layout.h"

namespace lumbra {
namespace {

class FakePicture : public Picture {
 public:
  FakePicture(int w, int h, bool icon = false) : w_(w), h_(h), icon_(icon) {}
  bool IsIcon() const override { return icon_; }
  int WidthPx() const override { return w_; }
  int HeightPx() const override { return h_; }

 private:
  int w_, h_;
  bool icon_;
};

PictureRef Pic(int w, int h) { return std::make_shared<FakePicture>(w, h); }

// Records what the button asks of its container and window, in order.
class FakeHost : public ImageBtnHost {
 public:
  Status PropertyChanged(Prop p) override {
    log.push_back("notify " + std::string(PropName(p)));
    return kOk;
  }
  OleColor AmbientForeColor() override { return ambient_fore; }
  bool AmbientUserMode() override { return user_mode; }
  bool HasExtender() override { return extender; }
  std::wstring ToolTipText() override { return tooltip_text; }
  Status SetToolTipText(const std::wstring& t) override {
    tooltip_text = t;
    return kOk;
  }
  void RaiseEvent(Event e, std::int16_t button, std::int16_t, float, float) override {
    static const char* kNames[] = {"", "Click", "MouseLeave", "MouseMove", "MouseDown", "MouseUp"};
    std::string name = kNames[static_cast<int>(e)];
    if (e != Event::Click && e != Event::MouseLeave) {
      name += ' ';
      name += std::to_string(button);
    }
    log.push_back(name);
    if (e == Event::MouseUp && close_on_mouse_up) window = false;
  }
  Status Repaint() override {
    log.push_back("paint");
    return kOk;
  }
  void DoEvents() override { log.push_back("doevents"); }
  void SetWindowEnabled(bool e) override { log.push_back(e ? "window on" : "window off"); }
  void SetCapture() override { capture = true; }
  void ReleaseCapture() override { capture = false; }
  bool HoldsCapture() override { return capture; }
  bool HasWindow() override { return window; }
  void StartToolTipTimer() override { timer = true; }
  void StopToolTipTimer() override { timer = false; }
  void ShowToolTip(const std::wstring& t) override { shown = t; }
  void HideToolTip() override { shown.reset(); }

  std::vector<std::string> Take() { return std::exchange(log, {}); }

  std::vector<std::string> log;
  OleColor ambient_fore = kSysButtonText;
  bool user_mode = true;
  bool extender = true;
  bool window = true;
  bool close_on_mouse_up = false;  // a MouseUp handler that closes the control
  std::wstring tooltip_text;  // the extender's, or the control's own without one
  bool capture = false;
  bool timer = false;
  std::optional<std::wstring> shown;
};

// A bag as a name -> value map, with the order of reads and writes kept.
class FakeBag : public PropertyBagPort {
 public:
  using Value = std::variant<std::wstring, std::int32_t, bool, PictureRef>;

  Status ReadText(std::string_view n, std::optional<std::wstring>& out) override {
    return Read(n, out);
  }
  Status ReadLong(std::string_view n, std::optional<std::int32_t>& out) override {
    return Read(n, out);
  }
  Status ReadBool(std::string_view n, std::optional<bool>& out) override { return Read(n, out); }
  Status ReadPicture(std::string_view n, std::optional<PictureRef>& out) override {
    return Read(n, out);
  }
  Status ReadFont(std::string_view n) override {
    reads.emplace_back(n);
    return kOk;
  }
  Status WriteText(std::string_view n, const std::wstring& v) override { return Write(n, v); }
  Status WriteLong(std::string_view n, std::int32_t v) override { return Write(n, v); }
  Status WriteBool(std::string_view n, bool v) override { return Write(n, v); }
  Status WritePicture(std::string_view n, const PictureRef& v) override { return Write(n, v); }
  Status WriteFont(std::string_view n) override { return Write(n, std::wstring(L"<font>")); }

  std::map<std::string, Value, std::less<>> values;
  std::vector<std::string> reads, writes;

 private:
  template <typename T>
  Status Read(std::string_view n, std::optional<T>& out) {
    reads.emplace_back(n);
    out.reset();
    auto it = values.find(n);
    if (it == values.end()) return kOk;
    if (!std::holds_alternative<T>(it->second)) return kTypeMismatch;
    out = std::get<T>(it->second);
    return kOk;
  }
  Status Write(std::string_view n, Value v) {
    writes.emplace_back(n);
    values[std::string(n)] = std::move(v);
    return kOk;
  }
};

class ImageBtnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    btn.InitNew();
    host.Take();
  }
  FakeHost host;
  ImageBtn btn{host};
};

using Log = std::vector<std::string>;

// ---- property sets

TEST_F(ImageBtnTest, SetOnChangePropertiesNotifyAndRepaintOnlyOnARealChange) {
  btn.SetStyle(2);
  btn.SetImageOffset(10);
  btn.SetBorderOffset(10);
  btn.SetHAlign(0);
  btn.SetGrabBG(false);
  btn.SetForeColor(kSysMenuText);
  btn.SetBackColor(kSysButtonFace);
  btn.SetHighlightColor(kSysHighlight);
  btn.SetTransparentColor(0);
  btn.SetCaption(L"ImageBtn");
  EXPECT_EQ(host.Take(), Log{});

  btn.SetStyle(48);
  btn.SetBackColor(0xFF);
  EXPECT_EQ(host.Take(), (Log{"notify Style", "paint", "notify BackColor", "paint"}));
  EXPECT_EQ(btn.fields().style, 48);
}

TEST_F(ImageBtnTest, CaptionComparesExactlyAndLetsMessagesRunBeforeItsRepaint) {
  btn.SetCaption(L"imagebtn");  // only the case differs from "ImageBtn"
  EXPECT_EQ(host.Take(), (Log{"notify Caption", "doevents", "paint"}));
  EXPECT_EQ(btn.fields().caption, L"imagebtn");
}

TEST_F(ImageBtnTest, EnabledAlwaysReachesTheWindowButNotifiesOnlyOnChange) {
  btn.SetEnabled(true);
  EXPECT_EQ(host.Take(), Log{"window on"});
  btn.SetEnabled(false);
  EXPECT_EQ(host.Take(), (Log{"notify Enabled", "doevents", "paint", "window off"}));
}

TEST_F(ImageBtnTest, PicturesAndTooltipPropertiesHaveNoChangeCheck) {
  auto p = Pic(16, 16);
  btn.SetPicture(PictureSlot::PictureHov, p);
  btn.SetPicture(PictureSlot::PictureHov, p);
  btn.SetToolTipBackColor(kSysInfoBackground);  // its current value: still notified, no paint
  EXPECT_EQ(host.Take(), (Log{"notify PictureHov", "paint", "notify PictureHov", "paint",
                              "notify ToolTipBackColor"}));
  EXPECT_EQ(p.use_count(), 2);  // the button holds a shared reference
  btn.ReleasePictures();
  EXPECT_EQ(p.use_count(), 1);
}

TEST_F(ImageBtnTest, ToolTipTextGoesToTheContainerAndIsSavedButNotAsTheSavedCopy) {
  btn.SetToolTipText(L"Cerrar");
  EXPECT_EQ(host.Take(), Log{"notify ToolTipText"});
  EXPECT_EQ(host.tooltip_text, L"Cerrar");
  EXPECT_EQ(btn.fields().SavedToolTipText, L"");
  FakeBag bag;
  btn.WriteProperties(bag);
  EXPECT_EQ(std::get<std::wstring>(bag.values["ToolTipText"]), L"Cerrar");
}

// ---- persistence

TEST_F(ImageBtnTest, ANewInstanceSavesOnlyTheFontAndTooltipColoursThatDifferFromTheAmbient) {
  FakeBag bag;
  host.ambient_fore = 0x000000FF;
  btn.WriteProperties(bag);
  EXPECT_EQ(bag.writes, (std::vector<std::string>{"Font", "ToolTipBackColor", "ToolTipForeColor"}));
  EXPECT_EQ(std::get<std::int32_t>(bag.values["ToolTipBackColor"]),
            static_cast<std::int32_t>(kSysInfoBackground));

  FakeBag same;
  host.ambient_fore = kSysButtonText;  // equal to the tooltip fore colour: not stored
  btn.WriteProperties(same);
  EXPECT_EQ(same.writes, (std::vector<std::string>{"Font", "ToolTipBackColor"}));
}

TEST_F(ImageBtnTest, ATooltipColourEqualToTheAmbientForeColourComesBackAfterALoad) {
  // Written against the ambient fore colour, so it is not stored; it must not come back as 0.
  host.ambient_fore = 0x00123456;
  btn.SetToolTipForeColor(0x00123456);
  btn.SetToolTipBackColor(0x00123456);
  FakeBag bag;
  btn.WriteProperties(bag);
  EXPECT_EQ(bag.values.count("ToolTipForeColor"), 0u);

  ImageBtn loaded(host);
  ASSERT_EQ(loaded.ReadProperties(bag), kOk);
  EXPECT_EQ(loaded.fields().tooltip_fore_color, 0x00123456u);
  EXPECT_EQ(loaded.fields().tooltip_back_color, 0x00123456u);
}

TEST_F(ImageBtnTest, EveryPropertyRoundTripsThroughABagInTheDesignedOrder) {
  auto normal = Pic(8, 8), down = Pic(9, 9), hov = Pic(10, 10), bg = Pic(4, 4);
  btn.SetCaption(L"&Aceptar");
  btn.SetStyle(112 | 0x1000);  // bits outside the flag set are kept
  btn.SetPicture(PictureSlot::Picture, normal);
  btn.SetPicture(PictureSlot::PictureDown, down);
  btn.SetPicture(PictureSlot::PictureHov, hov);
  btn.SetPicture(PictureSlot::BGPicture, bg);
  btn.SetImageOffset(-3);
  btn.SetBorderOffset(4);
  btn.SetHAlign(7);
  btn.SetGrabBG(true);
  btn.SetEnabled(false);
  btn.SetForeColor(0x11);
  btn.SetBackColor(0x22);
  btn.SetHighlightColor(0x33);
  btn.SetTransparentColor(0xFF00FF);
  btn.SetToolTipBackColor(0x44);
  btn.SetToolTipForeColor(0x55);
  host.tooltip_text = L"Sonido";
  FakeBag bag;
  ASSERT_EQ(btn.WriteProperties(bag), kOk);
  EXPECT_EQ(bag.writes,
            (std::vector<std::string>{"Caption", "Style", "Picture", "PictureDown", "PictureHov",
                                      "BGPicture", "Font", "ImageOffset", "BorderOffset", "HAlign",
                                      "GrabBG", "Enabled", "ForeColor", "BackColor",
                                      "HighlightColor", "TransparentColor", "ToolTipBackColor",
                                      "ToolTipForeColor", "ToolTipText"}));

  FakeHost other;
  ImageBtn loaded(other);
  ASSERT_EQ(loaded.ReadProperties(bag), kOk);
  EXPECT_EQ(bag.reads,
            (std::vector<std::string>{"Caption", "Style", "PictureHov", "Picture", "PictureDown",
                                      "BGPicture", "Font", "ImageOffset", "BorderOffset", "HAlign",
                                      "GrabBG", "Enabled", "ForeColor", "BackColor",
                                      "HighlightColor", "TransparentColor", "ToolTipBackColor",
                                      "ToolTipForeColor", "ToolTipText"}));
  const auto& f = loaded.fields();
  EXPECT_EQ(f.caption, L"&Aceptar");
  EXPECT_EQ(f.style, 112 | 0x1000);
  EXPECT_EQ(f.picture, normal);
  EXPECT_EQ(f.pressed_picture, down);
  EXPECT_EQ(f.hover_picture, hov);
  EXPECT_EQ(f.background_picture, bg);
  EXPECT_EQ(f.image_offset, -3);
  EXPECT_EQ(f.border_offset, 4);
  EXPECT_EQ(f.alignment, 7);
  EXPECT_TRUE(f.grab_bg);
  EXPECT_FALSE(f.enabled);
  EXPECT_EQ(f.fore_color, 0x11u);
  EXPECT_EQ(f.back_color, 0x22u);
  EXPECT_EQ(f.highlight_color, 0x33u);
  EXPECT_EQ(f.transparent_color, 0xFF00FFu);
  EXPECT_EQ(f.tooltip_back_color, 0x44u);
  EXPECT_EQ(f.tooltip_fore_color, 0x55u);
  EXPECT_EQ(f.SavedToolTipText, L"Sonido");
  EXPECT_EQ(other.Take(), Log{});  // reading neither paints nor touches the window
}

TEST_F(ImageBtnTest, AnEmptyBagGivesTheDefaultsAndAnUnfitValueFailsTheRead) {
  FakeBag empty;
  host.tooltip_text = L"de la extensión";
  ImageBtn loaded(host);
  ASSERT_EQ(loaded.ReadProperties(empty), kOk);
  const auto& f = loaded.fields();
  EXPECT_EQ(f.caption, L"ImageBtn");
  EXPECT_EQ(f.style, 2);
  EXPECT_EQ(f.image_offset, 10);
  EXPECT_TRUE(f.enabled);
  EXPECT_EQ(f.fore_color, kSysMenuText);
  EXPECT_EQ(f.back_color, kSysButtonFace);
  EXPECT_EQ(f.highlight_color, kSysHighlight);
  EXPECT_EQ(f.SavedToolTipText, L"de la extensión");

  FakeBag bad;
  bad.values["ImageOffset"] = std::int32_t{4};
  bad.values["BorderOffset"] = std::int32_t{40000};  // does not fit 16 bits
  bad.values["HAlign"] = std::int32_t{2};
  ImageBtn overflowed(host);
  EXPECT_EQ(overflowed.ReadProperties(bad), kOverflow);
  EXPECT_EQ(overflowed.fields().image_offset, 4);  // read before the failure: kept
  EXPECT_EQ(overflowed.fields().border_offset, 10);
  EXPECT_EQ(overflowed.fields().alignment, lcaLeft);  // after it: never read
}

TEST_F(ImageBtnTest, WithoutAnExtenderTheControlKeepsItsTooltipTextThroughSaveAndLoad) {
  host.extender = false;
  btn.SetToolTipText(L"Cerrar");
  FakeBag first;
  ASSERT_EQ(btn.WriteProperties(first), kOk);

  FakeHost second_host;
  second_host.extender = false;
  ImageBtn second(second_host);
  ASSERT_EQ(second.ReadProperties(first), kOk);
  EXPECT_EQ(second_host.tooltip_text, L"Cerrar");  // what its tooltip shows
  FakeBag again;  // saved once more, unchanged since its load: still stored
  ASSERT_EQ(second.WriteProperties(again), kOk);
  EXPECT_EQ(std::get<std::wstring>(again.values["ToolTipText"]), L"Cerrar");

  // With an extender the container restores the text itself: only a change is stored.
  FakeHost third_host;
  third_host.tooltip_text = L"Cerrar";
  ImageBtn third(third_host);
  ASSERT_EQ(third.ReadProperties(again), kOk);
  FakeBag unchanged;
  ASSERT_EQ(third.WriteProperties(unchanged), kOk);
  EXPECT_EQ(unchanged.values.count("ToolTipText"), 0u);
}

// ---- interaction

TEST_F(ImageBtnTest, AMouseClickRunsHoverPressHoverNormalAndHoverPaintsOnce) {
  host.tooltip_text = L"Cerrar";
  btn.OnMouseMove(0, 0, 5, 5, 100, 40);
  btn.OnMouseMove(0, 0, 6, 5, 100, 40);
  EXPECT_EQ(host.Take(), (Log{"paint", "MouseMove 0", "MouseMove 0"}));
  EXPECT_TRUE(host.capture);
  EXPECT_TRUE(host.timer);
  btn.OnMouseDown(1, 0, 6, 5);
  EXPECT_EQ(btn.fields().VisualState, kStatePressed);
  btn.OnMouseUp(1, 0, 6, 5);
  EXPECT_EQ(btn.fields().VisualState, kStateHover);
  btn.OnClick();
  EXPECT_EQ(btn.fields().VisualState, kStateNormal);
  EXPECT_EQ(host.Take(), (Log{"paint", "MouseDown 1", "paint", "MouseUp 1", "paint", "Click"}));
}

TEST_F(ImageBtnTest, TheEdgeRowAndColumnAreOutsideAndADragOutLeavesWithoutClick) {
  btn.OnMouseMove(0, 0, 5, 5, 100, 40);
  btn.OnButtonDown(1, 0, 5, 5);
  host.Take();
  btn.OnMouseMove(1, 0, 0, 5, 100, 40);  // left column: outside
  EXPECT_EQ(btn.fields().VisualState, kStateNormal);
  EXPECT_FALSE(host.capture);
  EXPECT_EQ(host.Take(), (Log{"paint", "MouseLeave"}));
  // A drag that re-enters with the left button down shows no hover.
  btn.OnMouseMove(1, 0, 50, 20, 100, 40);
  EXPECT_EQ(btn.fields().VisualState, kStateNormal);
  EXPECT_EQ(host.Take(), Log{"MouseMove 1"});
  btn.OnMouseMove(0, 0, 50, 40, 100, 40);  // bottom row is outside too
  EXPECT_EQ(host.Take(), (Log{"paint", "MouseLeave"}));
  // Released back over the button: the press was dragged out, so no Click.
  btn.OnMouseMove(1, 0, 50, 20, 100, 40);
  host.Take();
  btn.OnButtonUp(1, 0, 50, 20, 100, 40);
  EXPECT_EQ(host.Take(), (Log{"paint", "MouseUp 1"}));
}

TEST_F(ImageBtnTest, OnlyALeftPressReleasedOverTheOpenControlClicks) {
  btn.OnButtonDown(1, 0, 5, 5);
  btn.OnButtonUp(1, 0, 0, 0, 100, 40);  // the top left pixel is the control's
  EXPECT_EQ(host.Take(), (Log{"paint", "MouseDown 1", "paint", "MouseUp 1", "paint", "Click"}));

  btn.OnButtonDown(1, 0, 5, 5);
  btn.OnButtonUp(1, 0, 100, 5, 100, 40);  // released past the right edge, capture still held
  btn.OnButtonDown(2, 0, 5, 5);
  btn.OnButtonUp(2, 0, 5, 5, 100, 40);  // the right button never clicks
  btn.OnButtonDown(1, 0, 5, 5);
  btn.OnCaptureLost();  // taken by another window
  btn.OnButtonUp(1, 0, 5, 5, 100, 40);
  for (const auto& entry : host.Take()) EXPECT_NE(entry, "Click");

  // A MouseUp handler closes the control: no Click on a closed control.
  host.close_on_mouse_up = true;
  btn.OnButtonDown(1, 0, 5, 5);
  btn.OnButtonUp(1, 0, 5, 5, 100, 40);
  EXPECT_EQ(host.Take(), (Log{"paint", "MouseDown 1", "paint", "MouseUp 1"}));
}

TEST_F(ImageBtnTest, ARightButtonPressRaisesMouseDownWithoutThePressedLook) {
  btn.OnMouseDown(2, 0, 5, 5);
  EXPECT_EQ(btn.fields().VisualState, kStateNormal);
  EXPECT_EQ(host.Take(), Log{"MouseDown 2"});
  btn.OnMouseUp(2, 0, 5, 5);
  EXPECT_EQ(btn.fields().VisualState, kStateHover);
  EXPECT_EQ(host.Take(), (Log{"paint", "MouseUp 2"}));
}

TEST_F(ImageBtnTest, SpaceHeldPressesOnceAndEnterDuringAMousePressOnlyClicksOnRelease) {
  btn.OnKeyDown(32, 0);
  btn.OnKeyDown(32, 0);  // auto-repeat
  EXPECT_EQ(host.Take(), Log{"paint"});
  btn.OnKeyUp(32, 0);
  EXPECT_EQ(host.Take(), (Log{"paint", "Click"}));
  btn.OnKeyUp(32, 0);  // not pressed: nothing
  btn.OnKeyDown(65, 0);  // other keys: nothing
  EXPECT_EQ(host.Take(), Log{});

  btn.OnMouseDown(1, 0, 5, 5);
  host.Take();
  btn.OnKeyDown(13, 0);
  EXPECT_EQ(host.Take(), Log{});
  btn.OnKeyUp(13, 0);
  EXPECT_EQ(host.Take(), (Log{"paint", "Click"}));
}

TEST_F(ImageBtnTest, ADisabledButtonOnlyAnswersTheClickNotificationAndRaisesNothing) {
  btn.OnGotFocus();
  btn.SetEnabled(false);
  host.Take();
  btn.OnMouseMove(0, 0, 5, 5, 100, 40);
  btn.OnMouseDown(1, 0, 5, 5);
  btn.OnMouseUp(1, 0, 5, 5);
  btn.OnKeyDown(32, 0);
  btn.OnKeyUp(32, 0);
  btn.OnLostFocus();
  EXPECT_EQ(host.Take(), Log{});
  EXPECT_TRUE(btn.fields().HasFocus);  // kept
  btn.OnClick();
  EXPECT_EQ(host.Take(), Log{"paint"});
}

TEST_F(ImageBtnTest, AtDesignTimeThereIsNoHoverTrackingAtAll) {
  host.user_mode = false;
  host.tooltip_text = L"x";
  btn.OnMouseMove(0, 0, 5, 5, 100, 40);
  EXPECT_EQ(host.Take(), Log{});
  EXPECT_FALSE(host.capture);
  EXPECT_FALSE(host.timer);
}

TEST_F(ImageBtnTest, TheTooltipShowsWhileCaptureIsHeldAndAnEmptyTextHidesIt) {
  host.tooltip_text = L"Minimizar";
  btn.OnMouseMove(0, 0, 5, 5, 100, 40);
  btn.OnToolTipTimer();
  EXPECT_EQ(host.shown, std::optional<std::wstring>(L"Minimizar"));
  host.tooltip_text.clear();
  btn.OnMouseMove(0, 0, 6, 5, 100, 40);
  EXPECT_FALSE(host.shown);
  EXPECT_FALSE(host.timer);

  host.tooltip_text = L"Minimizar";
  btn.OnMouseMove(0, 0, 6, 5, 100, 40);
  btn.OnMouseMove(0, 0, 500, 5, 100, 40);  // leave: hidden at once, timer stops at its tick
  EXPECT_FALSE(host.shown);
  EXPECT_TRUE(host.timer);
  btn.OnToolTipTimer();
  EXPECT_FALSE(host.timer);
  EXPECT_FALSE(host.shown);
}

// ---- drawing geometry

struct Geometry : ::testing::Test {
  PaintPlan Plan(double w = 120, double h = 40, int text_w = 30, int text_h = 13) {
    PaintPlan p;
    EXPECT_EQ(PlanPaint(f, w, h, text_w, text_h, p), kOk);
    return p;
  }
  ImageBtnFields f;
};

TEST_F(Geometry, PictureChoiceFollowsTheStateAndNeedsANormalOrHoverPicture) {
  f.pressed_picture = Pic(5, 5);
  f.VisualState = kStatePressed;
  EXPECT_EQ(Plan().image, nullptr);  // a pressed picture alone shows nothing

  f.pressed_picture.reset();
  f.hover_picture = Pic(6, 6);
  f.VisualState = kStateNormal;
  EXPECT_EQ(Plan().image, nullptr);
  f.VisualState = kStateHover;
  EXPECT_EQ(Plan().image, f.hover_picture.get());

  f.picture = Pic(7, 7);
  f.VisualState = kStatePressed;  // no pressed picture: the normal one, not the hover one
  EXPECT_EQ(Plan().image_slot, PictureSlot::Picture);
}

TEST_F(Geometry, ImageAndCaptionPositionsForEachAlignment) {
  f.picture = Pic(16, 12);
  f.image_offset = 4;
  f.border_offset = 6;
  struct Row {
    std::int32_t align;
    int image_x, caption_x;
  } rows[] = {
      {lcaLeft, 6, 26},                    // caption at 6 + 4 + 16
      {lcaCenter, 35, 55},                 // (120 - 50) / 2 ; (120 - 30 + 20) / 2
      {lcaRight, 64, 84},                  // 120 - 30 - 6 - 4 - 16 ; 120 - 30 - 6
      {7, 0, 0},                           // anything else: x = 0
  };
  for (const auto& r : rows) {
    f.alignment = r.align;
    PaintPlan p = Plan();
    EXPECT_EQ(p.image_x, r.image_x) << r.align;
    EXPECT_EQ(p.caption_x, r.caption_x) << r.align;
    EXPECT_EQ(p.image_y, 14) << r.align;
    EXPECT_EQ(p.caption_y, 14) << r.align;  // (40 - 13) / 2 = 13.5 -> 14
  }
  f.alignment = lcaCenter;
  EXPECT_EQ(Plan(120, 40, 0).image_x, 50);  // empty caption: centred as width 0
  EXPECT_EQ(Plan(121, 40, 0).image_x, 50);  // (121 - 20) / 2 = 50.5 -> 50, halves to even
  EXPECT_EQ(Plan(123, 40, 0).image_x, 52);  // 51.5 -> 52
}

TEST_F(Geometry, PressedShiftsDependOnTheBorderThickness) {
  f.picture = Pic(16, 12);
  f.VisualState = kStatePressed;
  f.style = lcsThinBorder;
  PaintPlan thin = Plan();
  EXPECT_EQ(thin.shift, 1);
  EXPECT_EQ(thin.image_x, 11);
  EXPECT_EQ(thin.caption_x, 37);
  f.style = 0;
  PaintPlan thick = Plan();
  EXPECT_EQ(thick.shift, 2);
  EXPECT_EQ(thick.image_x, 10);  // the image does not move with thick borders
  EXPECT_EQ(thick.caption_x, 38);
  EXPECT_EQ(thick.caption_y, 16);
}

TEST_F(Geometry, BackgroundRulesInOrder) {
  f.style = lcsHighlightBG;
  f.VisualState = kStateHover;
  f.background_picture = Pic(4, 4);
  EXPECT_EQ(Plan().background, Background::Highlight);  // even over a tile
  f.VisualState = kStateNormal;
  EXPECT_EQ(Plan().background, Background::Tile);
  f.background_picture.reset();
  f.grab_bg = true;
  EXPECT_EQ(Plan().background, Background::Grab);
  f.grab_bg = false;
  EXPECT_EQ(Plan().background, Background::BackColor);
}

TEST_F(Geometry, BorderTable) {
  struct Row {
    std::int32_t style;
    std::int16_t state;
    int edge;
  } rows[] = {
      {lcsNoBorder | lcsThinBorder, kStateHover, kEdgeNone},
      {lcsPopupBorder, kStateNormal, kEdgeNone},
      {lcsPopupBorder, kStateHover, kRaisedBoth},
      {lcsPopupBorder | lcsThinBorder, kStatePressed, kSunkenInner},
      {lcsThinBorder, kStateNormal, kRaisedInner},
      {lcsThickBorder, kStateHover, kRaisedBoth},
      {0, kStatePressed, kSunkenBoth},
  };
  for (const auto& r : rows) {
    f.style = r.style;
    f.VisualState = r.state;
    EXPECT_EQ(Plan().border, r.edge) << r.style << " " << r.state;
  }
}

TEST_F(Geometry, FocusRules) {
  f.HasFocus = true;
  f.style = lcsPopupBorder | lcsThinBorder;
  PaintPlan popup = Plan();
  EXPECT_EQ(popup.focus_edge, kRaisedInner);
  EXPECT_TRUE(popup.focus_rect);
  EXPECT_EQ(popup.focus_inset, 3);

  f.style = lcsNoFocusRect;
  PaintPlan outer = Plan();
  EXPECT_TRUE(outer.focus_rect);
  EXPECT_EQ(outer.focus_inset, 0);
  f.hover_picture = Pic(4, 4);
  EXPECT_FALSE(Plan().focus_rect);

  f.HasFocus = false;
  f.style = lcsPopupBorder;
  EXPECT_EQ(Plan().focus_edge, kEdgeNone);
  EXPECT_FALSE(Plan().focus_rect);
}

TEST_F(Geometry, OffsetsThatOverflowFailTheRepaint) {
  f.picture = Pic(16, 12);
  f.image_offset = 30000;
  f.border_offset = 30000;
  f.alignment = lcaRight;
  PaintPlan p;
  EXPECT_EQ(PlanPaint(f, 120, 40, 30, 13, p), kOverflow);
}

// ---- tooltip placement

class CharMeasure : public ToolTipMeasure {  // 75 twips (5 px) per character, 195 twips high
 public:
  double TextWidth(const std::wstring& t) override { return 75.0 * t.size(); }
  double TextHeight(const std::wstring&) override { return 195; }
};

struct ToolTipTest : ::testing::Test {
  ToolTipPlacement Place(PixelRect r, std::wstring text = L"Cerrar") {
    ToolTipPlacement p;
    EXPECT_EQ(PlaceToolTip(r, screen, measure, std::move(text), p), kOk);
    return p;
  }
  ScreenTwips screen{15, 15, 1024 * 15, 768 * 15};
  CharMeasure measure;
};

TEST_F(ToolTipTest, PlacedAThirdAlongAndEightPixelsBelow) {
  ToolTipPlacement p = Place({100, 200, 130, 220});
  EXPECT_EQ(p.left, 1650);  // (30 / 3 + 100) * 15
  EXPECT_EQ(p.top, 3420);   // (220 + 8) * 15
  EXPECT_EQ(p.width, 600);  // 6 * 75 + 150
  EXPECT_EQ(p.height, 315);  // 195 + 120
}

TEST_F(ToolTipTest, KeptOnTheScreenAtTheRightBottomAndLeftEdges) {
  ToolTipPlacement right = Place({1010, 100, 1020, 120});
  EXPECT_EQ(right.left + right.width, 1024 * 15);
  ToolTipPlacement bottom = Place({100, 740, 130, 760});
  EXPECT_EQ(bottom.top, (740 - 2) * 15 - 315);  // 2 pixels above the button
  ToolTipPlacement left = Place({-90, 100, -30, 120});
  EXPECT_EQ(left.left, 0);
}

TEST_F(ToolTipTest, ALongTextLosesOneCharacterAtATimeUntilItFits) {
  // 80 % of 15360 twips is 12288: 163 characters (12225) fit, 164 (12300) do not.
  ToolTipPlacement p = Place({100, 100, 130, 120}, std::wstring(300, L'a'));
  EXPECT_EQ(p.text.size(), 163u);
  ToolTipPlacement too_wide;
  EXPECT_EQ(PlaceToolTip({0, 0, 10, 10}, screen, measure, std::wstring(500, L'a'), too_wide),
            kOverflow);  // 37500 twips do not fit the 16-bit width
}

}  // namespace
}  // namespace lumbra
