#pragma once
// Principal: Corvamon's skinned, borderless main window. It owns its child controls, timers,
// pictures and serial ports, turns window messages into calls on the core (corva::Principal)
// and carries out the core's requests as the MainView.

#include <windows.h>

#include <array>
#include <memory>
#include <optional>
#include <set>

#include "principal.h"
#include "systray.h"
#include "image_btn_host.h"
#include "unique_resource.h"
#include "window_procedure.h"

namespace corva::win {

class PrincipalWindow final : public MainView {
 public:
  // The links the window works with; they outlive it. Without a tray of its own the window
  // makes its notification-area icon itself.
  struct Links {
    UsbLink& usb;
    ShellTray* tray;
    SerialPort& MSComm1;
    SerialPort& MSComm2;
    LogFile& log;
    Platform& platform;
    SystemShutdown& shutdown;
    OfficeSaver& office;
    // The modules beside the monitor (the network server); none unless the settings ask.
    std::vector<MonitorListener*> listeners = {};
  };

  // Creates the window (hidden) and runs the start-up with the settings file of
  // `program_directory`. Answers null when the window cannot be created.
  static std::unique_ptr<PrincipalWindow> Create(HINSTANCE instance, Links links,
                                                 const std::wstring& program_directory);
  ~PrincipalWindow() override;

  HWND hwnd() const { return hwnd_; }
  // Ends the program through the window's unload, with this exit code, as soon as no event of
  // the window is under way (a device error asks for it from deep inside one).
  void EndProgram(DWORD exit_code);
  void Show(int show_command);
  Principal& core() { return *core_; }

  // MainView
  void SetText(Control control, std::string_view text) override;
  void SetVisible(Control control, bool visible) override;
  void EnableTimer(Timer timer, bool enabled) override;
  bool TimerEnabled(Timer timer) const override;
  void SetMutePictures(bool sound_on) override;
  void SetLinkPicture(LinkPicture picture) override;
  void SetGauge(int member) override;
  bool IsVisible(Control control) const override;
  void BringWindowToFront() override;
  void ShowMessage(std::string_view text, std::string_view title) override;
  void DoEvents() override;
  void Pause(int ms) override;
  bool WaitWhile(const std::function<bool()>& busy, int timeout_ms) override;
  void Restore() override;
  void HideToTray() override;
  void Minimize() override;
  void Unload() override;

 private:
  PrincipalWindow(HINSTANCE instance, Links links);
  friend LRESULT CALLBACK WindowProcedure<PrincipalWindow>(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Dispatch(UINT msg, WPARAM wp, LPARAM lp);

  // Pictures and fonts at art_scale_; what the buttons borrow is let go only once they have
  // the new pictures.
  bool LoadPictures();
  void CreateControls();
  // Child windows to their places at art_scale_.
  void PlaceControls();
  // The window's art scale from its DPI: pictures, fonts, places and size follow it. `suggested`
  // is WM_DPICHANGED's rectangle, whose position the window takes.
  void ApplyDpi(int dpi, const RECT* suggested);
  // A length of the 96-DPI layout at the window's scale.
  int Scaled(int length) const;
  void OnPaint();
  void OnDrawItem(const DRAWITEMSTRUCT& item);
  void OnCommand(int id, int code);
  void OnDestroy();
  // An error no handler took: shown with its number and description, then the program ends.
  void ShowUnhandledError(const CorvaError& error);
  void DrawLabel(const DRAWITEMSTRUCT& item);
  void DrawPicture(const DRAWITEMSTRUCT& item, HBITMAP picture);
  HWND Child(int id) const { return ::GetDlgItem(hwnd_, id); }
  static int ControlId(Control control);

  // Posted when the window is first shown; its first activation runs then.
  static constexpr UINT kFirstShownMessage = WM_APP + 1;
  // Counts the events under way (nested ones too, through DoEvents or a message box).
  class EventScope {
   public:
    explicit EventScope(PrincipalWindow& w) : w_(w) { ++w_.event_depth_; }
    ~EventScope() { --w_.event_depth_; }
    EventScope(const EventScope&) = delete;
    EventScope& operator=(const EventScope&) = delete;

   private:
    PrincipalWindow& w_;
  };
  void EndIfAsked();

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  int event_depth_ = 0;
  bool destroying_ = false;
  std::optional<DWORD> end_code_;
  Links links_;
  // The core's tray: the one given in Links, or the window's own Systray once it exists.
  class TrayForwarder final : public ShellTray {
   public:
    ShellTray* target = nullptr;
    int AddTrayIcon(std::string_view tip) override { return target ? target->AddTrayIcon(tip) : 0; }
    int ModifyTrayIcon(int picture, std::string_view tip) override {
      return target ? target->ModifyTrayIcon(picture, tip) : 0;
    }
    int DeleteTrayIcon() override { return target ? target->DeleteTrayIcon() : 0; }
    void ShowTrayBalloon(int kind, std::string_view title, std::string_view text) override {
      if (target) target->ShowTrayBalloon(kind, title, text);
    }
    void HookMainWindow() override {
      if (target) target->HookMainWindow();
    }
    void UnhookMainWindow() override {
      if (target) target->UnhookMainWindow();
    }
  };
  TrayForwarder tray_;
  std::unique_ptr<Systray> systray_;
  std::unique_ptr<SettingsStore> settings_;
  std::unique_ptr<Principal> core_;
  std::set<Timer> timers_;
  bool quit_seen_ = false;

  // Pictures at the art scale nearest to the window's DPI (common/core/dpi_scale.h), loaded from
  // the program's resources, and again when the window moves to a screen of another DPI.
  int art_scale_ = 100;
  unique_hbitmap skin_;
  std::array<unique_hbitmap, 11> IBatF_;
  unique_hbitmap battery_, link_serial_, link_usb_;
  std::array<unique_hbitmap, 3> ImgBocina_, ImgMute_;
  HBITMAP IMBatG_picture_ = nullptr;
  HBITMAP ImgConn_picture_ = nullptr;
  // What the pictures show, to show it again at another scale.
  std::size_t gauge_member_ = 0;
  bool link_is_usb_ = false;
  std::optional<bool> mute_sound_on_;
  unique_hfont value_font_, narrow_value_font_, bat_font_, title_font_, small_font_;
  // IBClose, IBMin, IBMute and IBTest; after the pictures, which IBMute borrows.
  std::unique_ptr<ImageBtnContainer> buttons_;
};

}  // namespace corva::win
