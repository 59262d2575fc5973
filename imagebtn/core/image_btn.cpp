#include "image_btn.h"

#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace lumbra {

namespace {

struct PropEntry {
  Prop id;
  std::string_view name;
};
constexpr std::array<PropEntry, 21> kProps{{
    {Prop::ToolTipBackColor, "ToolTipBackColor"}, {Prop::ToolTipForeColor, "ToolTipForeColor"},
    {Prop::ToolTipText, "ToolTipText"},           {Prop::Tag, "Tag"},
    {Prop::hwnd, "hwnd"},                         {Prop::GrabBG, "GrabBG"},
    {Prop::HAlign, "HAlign"},                     {Prop::ImageOffset, "ImageOffset"},
    {Prop::BorderOffset, "BorderOffset"},         {Prop::Font, "Font"},
    {Prop::Style, "Style"},                       {Prop::Picture, "Picture"},
    {Prop::PictureDown, "PictureDown"},           {Prop::PictureHov, "PictureHov"},
    {Prop::BGPicture, "BGPicture"},               {Prop::Caption, "Caption"},
    {Prop::Enabled, "Enabled"},                   {Prop::ForeColor, "ForeColor"},
    {Prop::BackColor, "BackColor"},               {Prop::HighlightColor, "HighlightColor"},
    {Prop::TransparentColor, "TransparentColor"},
}};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Reads `name` into an int16 field: absent keeps the default, out of range is an overflow.
Status ReadShort(PropertyBagPort& bag, std::string_view name, std::int16_t fallback,
                 std::int16_t& field) {
  std::optional<std::int32_t> v;
  if (Status s = bag.ReadLong(name, v); Failed(s)) return s;
  if (!v) {
    field = fallback;
    return kOk;
  }
  if (*v < std::numeric_limits<std::int16_t>::min() || *v > std::numeric_limits<std::int16_t>::max())
    return kOverflow;
  field = static_cast<std::int16_t>(*v);
  return kOk;
}

template <typename T>
Status ReadNumber(PropertyBagPort& bag, std::string_view name, T fallback, T& field) {
  std::optional<std::int32_t> v;
  if (Status s = bag.ReadLong(name, v); Failed(s)) return s;
  field = v ? static_cast<T>(*v) : fallback;
  return kOk;
}

}  // namespace

std::string_view PropName(Prop p) {
  for (const auto& e : kProps)
    if (e.id == p) return e.name;
  return {};
}

std::optional<Prop> PropFromName(std::string_view name) {
  for (const auto& e : kProps)
    if (EqualsNoCase(e.name, name)) return e.id;
  return std::nullopt;
}

std::int64_t RoundHalfEven(double v) { return static_cast<std::int64_t>(std::nearbyint(v)); }

int HimetricToPixels(double himetric, int dpi) {
  return static_cast<int>(RoundHalfEven(himetric * dpi / 2540.0));
}

// ---- persistence

void ImageBtn::InitNew() {
  f_.caption = std::wstring(kClassName);
  f_.style = lcsThinBorder;
  f_.hover_picture.reset();
  f_.picture.reset();
  f_.background_picture.reset();
  f_.image_offset = 10;
  f_.border_offset = 10;
  f_.alignment = lcaLeft;
  f_.grab_bg = false;
  f_.enabled = true;
  f_.fore_color = kSysMenuText;
  f_.back_color = kSysButtonFace;
  f_.highlight_color = kSysHighlight;
  f_.transparent_color = 0;
  // The tooltip window's hidden label carries these two defaults.
  f_.tooltip_back_color = kSysInfoBackground;
  f_.tooltip_fore_color = kSysButtonText;
  f_.SavedToolTipText = host_.ToolTipText();
}

Status ImageBtn::ReadProperties(PropertyBagPort& bag) {
  Status s = kOk;
  std::optional<std::wstring> text;
  if (Failed(s = bag.ReadText("Caption", text))) return s;
  f_.caption = text ? *text : std::wstring(kClassName);
  if (Failed(s = ReadNumber<std::int32_t>(bag, "Style", lcsThinBorder, f_.style))) return s;
  const std::pair<std::string_view, PictureRef*> pictures[] = {
      {"PictureHov", &f_.hover_picture},
      {"Picture", &f_.picture},
      {"PictureDown", &f_.pressed_picture},
      {"BGPicture", &f_.background_picture},
  };
  for (const auto& [name, field] : pictures) {
    std::optional<PictureRef> pic;
    if (Failed(s = bag.ReadPicture(name, pic))) return s;
    *field = pic ? *pic : nullptr;
  }
  if (Failed(s = bag.ReadFont("Font"))) return s;
  if (Failed(s = ReadShort(bag, "ImageOffset", 10, f_.image_offset))) return s;
  if (Failed(s = ReadShort(bag, "BorderOffset", 10, f_.border_offset))) return s;
  if (Failed(s = ReadNumber<std::int32_t>(bag, "HAlign", lcaLeft, f_.alignment))) return s;
  std::optional<bool> flag;
  if (Failed(s = bag.ReadBool("GrabBG", flag))) return s;
  f_.grab_bg = flag.value_or(false);
  if (Failed(s = bag.ReadBool("Enabled", flag))) return s;
  f_.enabled = flag.value_or(true);
  if (Failed(s = ReadNumber<OleColor>(bag, "ForeColor", kSysMenuText, f_.fore_color))) return s;
  if (Failed(s = ReadNumber<OleColor>(bag, "BackColor", kSysButtonFace, f_.back_color))) return s;
  if (Failed(s = ReadNumber<OleColor>(bag, "HighlightColor", kSysHighlight, f_.highlight_color)))
    return s;
  if (Failed(s = ReadNumber<OleColor>(bag, "TransparentColor", 0, f_.transparent_color))) return s;
  // Both tooltip colours are written against the ambient fore colour, so an absent one means
  // "equal to the ambient fore colour" and is read back against that same value.
  const OleColor ambient = host_.AmbientForeColor();
  if (Failed(s = ReadNumber<OleColor>(bag, "ToolTipBackColor", ambient, f_.tooltip_back_color)))
    return s;
  if (Failed(s = ReadNumber<OleColor>(bag, "ToolTipForeColor", ambient, f_.tooltip_fore_color)))
    return s;
  if (Failed(s = bag.ReadText("ToolTipText", text))) return s;
  f_.SavedToolTipText = text ? *text : host_.ToolTipText();
  // Without an extender nobody else keeps the text: the control takes it back itself.
  if (text && !host_.HasExtender()) return host_.SetToolTipText(*text);
  return kOk;
}

Status ImageBtn::WriteProperties(PropertyBagPort& bag) const {
  Status s = kOk;
  auto write_long = [&](std::string_view name, std::int32_t v, std::int32_t def) {
    return v == def ? kOk : bag.WriteLong(name, v);
  };
  auto write_color = [&](std::string_view name, OleColor v, OleColor def) {
    return v == def ? kOk : bag.WriteLong(name, static_cast<std::int32_t>(v));
  };
  auto write_picture = [&](std::string_view name, const PictureRef& p) {
    return p ? bag.WritePicture(name, p) : kOk;
  };
  if (f_.caption != kClassName && Failed(s = bag.WriteText("Caption", f_.caption))) return s;
  if (Failed(s = write_long("Style", f_.style, lcsThinBorder))) return s;
  if (Failed(s = write_picture("Picture", f_.picture))) return s;
  if (Failed(s = write_picture("PictureDown", f_.pressed_picture))) return s;
  if (Failed(s = write_picture("PictureHov", f_.hover_picture))) return s;
  if (Failed(s = write_picture("BGPicture", f_.background_picture))) return s;
  if (Failed(s = bag.WriteFont("Font"))) return s;
  if (Failed(s = write_long("ImageOffset", f_.image_offset, 10))) return s;
  if (Failed(s = write_long("BorderOffset", f_.border_offset, 10))) return s;
  if (Failed(s = write_long("HAlign", f_.alignment, lcaLeft))) return s;
  if (f_.grab_bg && Failed(s = bag.WriteBool("GrabBG", true))) return s;
  if (!f_.enabled && Failed(s = bag.WriteBool("Enabled", false))) return s;
  if (Failed(s = write_color("ForeColor", f_.fore_color, kSysMenuText))) return s;
  if (Failed(s = write_color("BackColor", f_.back_color, kSysButtonFace))) return s;
  if (Failed(s = write_color("HighlightColor", f_.highlight_color, kSysHighlight))) return s;
  if (Failed(s = write_color("TransparentColor", f_.transparent_color, 0))) return s;
  const OleColor ambient = host_.AmbientForeColor();
  if (Failed(s = write_color("ToolTipBackColor", f_.tooltip_back_color, ambient))) return s;
  if (Failed(s = write_color("ToolTipForeColor", f_.tooltip_fore_color, ambient))) return s;
  // The container restores its extender's text itself, so only a change is stored; a text the
  // control keeps itself is stored whenever there is one, like its other properties.
  const std::wstring tip = host_.ToolTipText();
  const std::wstring& unchanged = host_.HasExtender() ? f_.SavedToolTipText : std::wstring();
  if (tip != unchanged && Failed(s = bag.WriteText("ToolTipText", tip))) return s;
  return kOk;
}

// ---- property sets

template <typename T>
Status ImageBtn::SetOnChange(T& field, T value, Prop property) {
  if (field == value) return kOk;
  field = value;
  if (Status s = host_.PropertyChanged(property); Failed(s)) return s;
  return host_.Repaint();
}

Status ImageBtn::SetToolTipBackColor(OleColor c) {
  f_.tooltip_back_color = c;
  host_.PropertyChanged(Prop::ToolTipBackColor);  // a refused notification changes nothing
  return kOk;
}

Status ImageBtn::SetToolTipForeColor(OleColor c) {
  f_.tooltip_fore_color = c;
  host_.PropertyChanged(Prop::ToolTipForeColor);
  return kOk;
}

Status ImageBtn::SetToolTipText(const std::wstring& text) {
  if (Status s = host_.SetToolTipText(text); Failed(s)) return s;
  return host_.PropertyChanged(Prop::ToolTipText);
}

Status ImageBtn::SetGrabBG(bool v) { return SetOnChange(f_.grab_bg, v, Prop::GrabBG); }
Status ImageBtn::SetHAlign(std::int32_t v) { return SetOnChange(f_.alignment, v, Prop::HAlign); }
Status ImageBtn::SetImageOffset(std::int16_t v) {
  return SetOnChange(f_.image_offset, v, Prop::ImageOffset);
}
Status ImageBtn::SetBorderOffset(std::int16_t v) {
  return SetOnChange(f_.border_offset, v, Prop::BorderOffset);
}
Status ImageBtn::SetStyle(std::int32_t v) { return SetOnChange(f_.style, v, Prop::Style); }
Status ImageBtn::SetForeColor(OleColor c) { return SetOnChange(f_.fore_color, c, Prop::ForeColor); }
Status ImageBtn::SetBackColor(OleColor c) { return SetOnChange(f_.back_color, c, Prop::BackColor); }
Status ImageBtn::SetHighlightColor(OleColor c) {
  return SetOnChange(f_.highlight_color, c, Prop::HighlightColor);
}
Status ImageBtn::SetTransparentColor(OleColor c) {
  return SetOnChange(f_.transparent_color, c, Prop::TransparentColor);
}

PictureRef& ImageBtn::Slot(PictureSlot slot) {
  switch (slot) {
    case PictureSlot::Picture: return f_.picture;
    case PictureSlot::PictureDown: return f_.pressed_picture;
    case PictureSlot::PictureHov: return f_.hover_picture;
    case PictureSlot::BGPicture: break;
  }
  return f_.background_picture;
}

const PictureRef& ImageBtn::GetPicture(PictureSlot slot) const {
  return const_cast<ImageBtn*>(this)->Slot(slot);
}

Status ImageBtn::SetPicture(PictureSlot slot, PictureRef picture) {
  static constexpr Prop kIds[] = {Prop::Picture, Prop::PictureDown, Prop::PictureHov,
                                  Prop::BGPicture};
  Slot(slot) = std::move(picture);
  if (Status s = host_.PropertyChanged(kIds[static_cast<int>(slot)]); Failed(s)) return s;
  return host_.Repaint();
}

Status ImageBtn::FontChanged() {
  if (Status s = host_.PropertyChanged(Prop::Font); Failed(s)) return s;
  return host_.Repaint();
}

Status ImageBtn::SetCaption(const std::wstring& text) {
  if (text == f_.caption) return kOk;  // exact: a change of letter case is a change
  f_.caption = text;
  if (Status s = host_.PropertyChanged(Prop::Caption); Failed(s)) return s;
  host_.DoEvents();
  return host_.Repaint();
}

Status ImageBtn::SetEnabled(bool v) {
  if (v != f_.enabled) {
    f_.enabled = v;
    if (Status s = host_.PropertyChanged(Prop::Enabled); Failed(s)) return s;
    host_.DoEvents();
    if (Status s = host_.Repaint(); Failed(s)) return s;
  }
  host_.SetWindowEnabled(v);  // changed or not
  return kOk;
}

void ImageBtn::ReleasePictures() {
  f_.picture.reset();
  f_.hover_picture.reset();
  f_.pressed_picture.reset();
  f_.background_picture.reset();
}

// ---- interaction

Status ImageBtn::SetState(std::int16_t state) {
  f_.VisualState = state;
  return host_.Repaint();
}

Status ImageBtn::OnMouseDown(std::int16_t button, std::int16_t shift, float x, float y) {
  if (!f_.enabled) return kOk;
  if (button == 1) {
    if (Status s = SetState(kStatePressed); Failed(s)) return s;
  }
  host_.RaiseEvent(Event::MouseDown, button, shift, x, y);
  return kOk;
}

Status ImageBtn::OnMouseUp(std::int16_t button, std::int16_t shift, float x, float y) {
  if (!f_.enabled) return kOk;
  if (Status s = SetState(kStateHover); Failed(s)) return s;
  host_.RaiseEvent(Event::MouseUp, button, shift, x, y);
  return kOk;
}

Status ImageBtn::OnMouseMove(std::int16_t button, std::int16_t shift, float x, float y,
                             float width, float height) {
  if (!f_.enabled || !host_.AmbientUserMode()) return kOk;
  const bool inside = 0 < x && x < width && 0 < y && y < height;
  if (inside) {
    host_.SetCapture();
    if (button != 1 && f_.VisualState != kStateHover) {
      if (Status s = SetState(kStateHover); Failed(s)) return s;
    }
    ArmToolTip(host_.ToolTipText());
    host_.RaiseEvent(Event::MouseMove, button, shift, x, y);
    return kOk;
  }
  host_.HideToolTip();  // the timer stops itself at its next tick
  host_.ReleaseCapture();
  down_buttons_ = 0;  // a press dragged out is no longer a click
  if (Status s = SetState(kStateNormal); Failed(s)) return s;
  host_.RaiseEvent(Event::MouseLeave);
  return kOk;
}

Status ImageBtn::OnClick() {
  if (Status s = SetState(kStateNormal); Failed(s)) return s;
  if (f_.enabled) host_.RaiseEvent(Event::Click);
  return kOk;
}

Status ImageBtn::OnButtonDown(std::int16_t button, std::int16_t shift, float x, float y) {
  down_buttons_ = static_cast<std::int16_t>(down_buttons_ | button);
  return OnMouseDown(button, shift, x, y);
}

Status ImageBtn::OnButtonUp(std::int16_t button, std::int16_t shift, float x, float y,
                            float width, float height) {
  const bool was_down = (down_buttons_ & button) != 0;
  down_buttons_ = static_cast<std::int16_t>(down_buttons_ & ~button);
  if (Status s = OnMouseUp(button, shift, x, y); Failed(s)) return s;
  if (!host_.HasWindow()) return kOk;  // closed by a MouseUp handler: nothing more happens
  const bool inside = 0 <= x && x < width && 0 <= y && y < height;
  if (button == 1 && was_down && inside) return OnClick();
  return kOk;
}

Status ImageBtn::OnKeyDown(std::int16_t key_code, std::int16_t) {
  if (!f_.enabled || (key_code != 32 && key_code != 13) || f_.VisualState == kStatePressed)
    return kOk;
  return SetState(kStatePressed);
}

Status ImageBtn::OnKeyUp(std::int16_t key_code, std::int16_t) {
  if (!f_.enabled || (key_code != 32 && key_code != 13) || f_.VisualState != kStatePressed)
    return kOk;
  if (Status s = SetState(kStateNormal); Failed(s)) return s;
  host_.RaiseEvent(Event::Click);
  return kOk;
}

Status ImageBtn::OnGotFocus() {
  if (!f_.enabled) return kOk;
  f_.HasFocus = true;
  return host_.Repaint();
}

Status ImageBtn::OnLostFocus() {
  if (!f_.enabled) return kOk;
  f_.HasFocus = false;
  return host_.Repaint();
}

void ImageBtn::ArmToolTip(const std::wstring& text) {
  if (text.empty()) {
    host_.HideToolTip();
    host_.StopToolTipTimer();
    return;
  }
  host_.StartToolTipTimer();
  tooltip_tag_ = text;
}

void ImageBtn::StopToolTip() {
  host_.StopToolTipTimer();
  host_.HideToolTip();
}

void ImageBtn::OnToolTipTimer() {
  if (!host_.HoldsCapture()) {
    StopToolTip();
    return;
  }
  host_.ShowToolTip(tooltip_tag_);
}

}  // namespace lumbra
