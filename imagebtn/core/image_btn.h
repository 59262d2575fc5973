#pragma once
// ImageBtn's rules: its fields, what each property set does, how a new instance starts, how it
// reads and writes its property bag, and how mouse, keys, focus and the tooltip timer move its
// VisualState. The COM layer (imagebtn/win32) turns container calls and window messages into
// calls here and implements the two ports below.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "image_btn_types.h"

namespace lumbra {

// A picture object shared with whoever gave it to the button.
class Picture {
 public:
  virtual ~Picture() = default;
  virtual bool IsIcon() const = 0;
  virtual int WidthPx() const = 0;  // the picture's size, HIMETRIC converted to pixels
  virtual int HeightPx() const = 0;
};
using PictureRef = std::shared_ptr<Picture>;

// HIMETRIC (0.01 mm) to pixels at `dpi` pixels per inch, rounded halves to even.
int HimetricToPixels(double himetric, int dpi);

// What the button needs from its container and its own control window.
class ImageBtnHost {
 public:
  virtual ~ImageBtnHost() = default;
  // Container services.
  virtual Status PropertyChanged(Prop property) = 0;
  virtual OleColor AmbientForeColor() = 0;
  virtual bool AmbientUserMode() = 0;
  // The extender's ToolTipText; the control's own copy when the container offers no extender.
  virtual bool HasExtender() = 0;
  virtual std::wstring ToolTipText() = 0;
  virtual Status SetToolTipText(const std::wstring& text) = 0;
  virtual void RaiseEvent(Event event, std::int16_t button = 0, std::int16_t shift = 0,
                          float x = 0, float y = 0) = 0;
  // Control window.
  virtual Status Repaint() = 0;  // the whole paint, at once
  virtual void DoEvents() = 0;
  virtual void SetWindowEnabled(bool enabled) = 0;
  virtual void SetCapture() = 0;
  virtual void ReleaseCapture() = 0;
  virtual bool HoldsCapture() = 0;  // GetCapture() is this control's window
  // The control still has its window: an event handler may have closed the control.
  virtual bool HasWindow() = 0;
  // tmrToolTip and the shared tooltip window.
  virtual void StartToolTipTimer() = 0;
  virtual void StopToolTipTimer() = 0;
  virtual void ShowToolTip(const std::wstring& text) = 0;
  virtual void HideToolTip() = 0;
};

// The property bag the container hands over for reading or writing. A read leaves `out` empty
// when the name is absent; a value that cannot be converted is a failure.
class PropertyBagPort {
 public:
  virtual ~PropertyBagPort() = default;
  virtual Status ReadText(std::string_view name, std::optional<std::wstring>& out) = 0;
  virtual Status ReadLong(std::string_view name, std::optional<std::int32_t>& out) = 0;
  virtual Status ReadBool(std::string_view name, std::optional<bool>& out) = 0;
  virtual Status ReadPicture(std::string_view name, std::optional<PictureRef>& out) = 0;
  // Replaces the control window's font when the name is present.
  virtual Status ReadFont(std::string_view name) = 0;
  virtual Status WriteText(std::string_view name, const std::wstring& value) = 0;
  virtual Status WriteLong(std::string_view name, std::int32_t value) = 0;
  virtual Status WriteBool(std::string_view name, bool value) = 0;
  virtual Status WritePicture(std::string_view name, const PictureRef& value) = 0;
  virtual Status WriteFont(std::string_view name) = 0;  // always stored
};

struct ImageBtnFields {
  std::wstring caption;
  PictureRef picture;
  PictureRef hover_picture;
  PictureRef pressed_picture;
  PictureRef background_picture;
  std::int32_t style = lcsThinBorder;
  std::int16_t VisualState = kStateNormal;
  bool grab_bg = false;
  std::int32_t alignment = lcaLeft;
  std::int16_t image_offset = 10;
  std::int16_t border_offset = 10;
  bool enabled = true;
  bool HasFocus = false;
  OleColor fore_color = kSysMenuText;
  OleColor back_color = kSysButtonFace;
  OleColor highlight_color = kSysHighlight;
  OleColor transparent_color = 0;
  OleColor tooltip_back_color = 0;
  OleColor tooltip_fore_color = 0;
  std::wstring SavedToolTipText;
};

enum class PictureSlot { Picture, PictureDown, PictureHov, BGPicture };

class ImageBtn {
 public:
  explicit ImageBtn(ImageBtnHost& host) : host_(host) {}

  const ImageBtnFields& fields() const { return f_; }

  // ---- persistence
  void InitNew();
  Status ReadProperties(PropertyBagPort& bag);
  Status WriteProperties(PropertyBagPort& bag) const;

  // ---- property sets (the gets are the fields)
  Status SetToolTipBackColor(OleColor c);
  Status SetToolTipForeColor(OleColor c);
  Status SetToolTipText(const std::wstring& text);
  Status SetGrabBG(bool v);
  Status SetHAlign(std::int32_t v);
  Status SetImageOffset(std::int16_t v);
  Status SetBorderOffset(std::int16_t v);
  Status SetStyle(std::int32_t v);
  Status SetPicture(PictureSlot slot, PictureRef picture);
  Status SetCaption(const std::wstring& text);
  Status SetEnabled(bool v);
  Status SetForeColor(OleColor c);
  Status SetBackColor(OleColor c);
  Status SetHighlightColor(OleColor c);
  Status SetTransparentColor(OleColor c);
  // The control window's font was replaced.
  Status FontChanged();
  Status Refresh() { return host_.Repaint(); }
  const PictureRef& GetPicture(PictureSlot slot) const;

  // ---- interaction (container notifications and the tooltip timer)
  Status OnMouseDown(std::int16_t button, std::int16_t shift, float x, float y);
  Status OnMouseUp(std::int16_t button, std::int16_t shift, float x, float y);
  // `width` and `height` are the control's size in the same units as x and y.
  Status OnMouseMove(std::int16_t button, std::int16_t shift, float x, float y, float width,
                     float height);
  Status OnClick();
  // A mouse button as the control window gets it. The release raises MouseUp; a left press
  // released over the control (0 <= x < width, 0 <= y < height) then makes the click, unless
  // the press was cancelled (dragged out, or the capture went elsewhere) or a MouseUp handler
  // closed the control.
  Status OnButtonDown(std::int16_t button, std::int16_t shift, float x, float y);
  Status OnButtonUp(std::int16_t button, std::int16_t shift, float x, float y, float width,
                    float height);
  void OnCaptureLost() { down_buttons_ = 0; }
  Status OnKeyDown(std::int16_t key_code, std::int16_t shift);
  Status OnKeyUp(std::int16_t key_code, std::int16_t shift);
  Status OnGotFocus();
  Status OnLostFocus();
  void OnToolTipTimer();
  // The tooltip timer's Tag: the text the next tick shows.
  const std::wstring& ToolTipTag() const { return tooltip_tag_; }

  // Removes every picture reference (the control is being destroyed).
  void ReleasePictures();

 private:
  template <typename T>
  Status SetOnChange(T& field, T value, Prop property);
  Status SetState(std::int16_t state);
  void ArmToolTip(const std::wstring& text);
  void StopToolTip();
  PictureRef& Slot(PictureSlot slot);

  ImageBtnHost& host_;
  ImageBtnFields f_;
  std::wstring tooltip_tag_;
  std::int16_t down_buttons_ = 0;  // buttons pressed on the control: their release may click
};

}  // namespace lumbra
