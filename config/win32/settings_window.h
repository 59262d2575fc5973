#pragma once
// Principal: Corvaset's skinned configuration window. It owns its pictures, fonts, pages and
// controls, turns clicks into calls on the core (SettingsForm) and is the core's FormView.

#include <windows.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "image_btn_host.h"
#include "settings_form.h"
#include "unique_resource.h"
#include "window_procedure.h"

namespace corva::config::win {

class SettingsWindow final : public FormView {
 public:
  // Creates the window (hidden) and runs its start-up: the settings of `program_folder` are
  // loaded and, when no UPS is known, looked for (the locator shows before this window does).
  static std::unique_ptr<SettingsWindow> Create(HINSTANCE instance,
                                                const std::wstring& program_folder);
  ~SettingsWindow() override;

  HWND hwnd() const { return hwnd_; }
  void Show(int show_command);
  SettingsForm& core() { return *core_; }

  // FormView
  void ShowConnection(Connection picture) override;
  void SetPortLabel(std::string_view text) override;
  void SetControls(const FormControls& controls) override;
  FormControls Controls() const override;
  bool ConfirmSearch() override;
  void ShowSearchFailed() override;
  void DoEvents() override;
  bool AskRetrySave(std::string_view text) override;

 private:
  SettingsWindow(HINSTANCE instance, std::wstring program_folder);
  friend LRESULT CALLBACK corva::win::WindowProcedure<SettingsWindow>(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  // Messages a page passes up to the window: commands, drawing and colours of its controls.
  LRESULT FromPage(HWND page, UINT msg, WPARAM wp, LPARAM lp);

  // Pictures and fonts at art_scale_.
  bool LoadPictures();
  void CreateControls();
  // The window's art scale from its DPI (common/core/dpi_scale.h): pictures, fonts, the places
  // of the skin, pages and controls, and the window's size follow it. `suggested` is
  // WM_DPICHANGED's rectangle, whose position the window takes.
  void ApplyDpi(int dpi, const RECT* suggested);
  // Every control to its place at art_scale_, with its font.
  void PlaceControls();
  // A length of the 96-DPI layout at the window's scale.
  int Scaled(int length) const;
  // Keeps `control`'s place (96-DPI pixels) and font, and puts it there at the window's scale.
  HWND Place(HWND control, int x, int y, int w, int h, const corva::win::unique_hfont* font);
  void CreatePage0(HWND page);
  void CreatePage1(HWND page);
  void CreatePage2(HWND page);
  void CreatePage3(HWND page);
  HWND Label(HWND page, int id, const wchar_t* text, int x, int y, int w, int h,
             const corva::win::unique_hfont& font, DWORD style = SS_LEFT);
  HWND CheckBox(HWND page, int id, const wchar_t* text, int x, int y, int w, DWORD style);
  HWND Edit(HWND page, int id, int x, int y, int w, DWORD style = 0);
  // The buttons of a window from their saved description; where the button library cannot be
  // loaded, plain buttons of the window's own stand in, so that the program stays usable.
  void CreateButtons(std::size_t set, HWND owner, int description);
  HWND PageButton(HWND page, int id, const wchar_t* caption, int x, int y);
  void AddTooltip(HWND control, const wchar_t* text);
  void OnPaint();
  void OnCommand(int id, int code, HWND control);
  void ShowPage(int page);
  void Close();
  HWND Control(int id) const;

  HINSTANCE instance_;
  std::wstring program_folder_;
  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;
  std::array<HWND, 4> pages_{};
  std::unique_ptr<SettingsForm> core_;
  // The ImageBtn instances: the menu's on the window, the buttons of pages 0 and 1 on them.
  std::array<std::unique_ptr<corva::win::ImageBtnContainer>, 3> buttons_;
  bool closing_ = false;
  int art_scale_ = 100;
  // The controls with their places in 96-DPI pixels and their fonts (null: none of ours).
  struct Placed {
    HWND control;
    RECT base;
    const corva::win::unique_hfont* font;
  };
  std::vector<Placed> placed_;
  // Puts a kept control at its place at the window's scale, with its font.
  void ApplyPlace(const Placed& p) const;
  // The window's size: the skin's at the window's scale.
  SIZE WindowSize() const;
  // Buttons of the window's own, made where the button library could not be loaded: true for
  // the menu's look, false for the pages'.
  std::vector<std::pair<HWND, bool>> plain_buttons_;

  corva::win::unique_hbitmap top_l_, top_m_, top_dt_, corner_it_, corner_id_, corner_dd_, edge_im_,
      edge_dm_, edge_md_, menu_, bar_, info_;
  std::array<corva::win::unique_hbitmap, 3> menu_looks_, button_looks_;
  std::array<corva::win::unique_hbitmap, 4> conn_;  // [1] USB, [2] COM port, [3] not connected
  // The picture imgconn(0) shows, by its number: kept when the pictures are loaded anew at
  // another DPI.
  std::size_t conn_shown_ = 3;
  corva::win::unique_hfont font_, heading_font_, menu_font_, button_font_;
  corva::win::unique_hbrush page_brush_, frame_brush_;
};

}  // namespace corva::config::win
