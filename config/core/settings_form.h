#pragma once
// Corvaset's configuration window as logic: what it loads into its controls, how it finds the
// UPS (USB first, then the COM-port locator), and what it writes to Corvamon.ini when it closes.
// The Win32 window implements FormView and turns clicks into calls here.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor_settings.h"

namespace corva::config {

namespace text {
inline constexpr char kWindowCaption[] = "Configuración Corvamon";
inline constexpr char kSearchQuestion[] =
    "El equipo debe de estar conectado para poder localizarlo";
inline constexpr char kSearchTitle[] = "Equipo BRAX";
inline constexpr char kSearchFailed[] = "ERROR en la localización del equipo BRAX";
inline constexpr char kSearchFailedTitle[] = "Equipo BRAX NO CONECTADO";
inline constexpr char kProductString[] = "Corvamon";
// The key Corvaset writes the port under; profile keys are matched without regard to case.
inline constexpr char kCommportKey[] = "Commport";
// The box of a close whose settings could not all be written; it offers to try again.
inline constexpr char kSaveFailedTitle[] = "Configuración Corvamon";
}  // namespace text

// The text of that box: the file and Windows' reason.
std::string SaveFailedText(std::string_view settings_path, std::string_view reason);

// The connection pictures of page 0 (imgconn(1..3)).
enum class Connection { Usb = 1, ComPort = 2, NotConnected = 3 };

// The check boxes of pages 0 and 1, each with its key in [Prefs], in the order they are saved.
enum class Check {
  chkejecutainicio,
  chkiniciomini,
  chkclickIcono,
  chknotif,
  chkrestaura,
  chkbitacora,
  chkcierraconX,
  chkGuardaOffice,
  chkAOL,
  chkMute,
  chkTest,
};
inline constexpr std::size_t kCheckCount = 11;
struct CheckKey {
  Check check;
  const char* key;
};
inline constexpr std::array<CheckKey, kCheckCount> kCheckKeys{{
    {Check::chkejecutainicio, "InicioWin"},
    {Check::chkiniciomini, "IniciaMin"},
    {Check::chkclickIcono, "DCMaximiza"},
    {Check::chknotif, "NotifAviso"},
    {Check::chkrestaura, "NotifMaximiza"},
    {Check::chkbitacora, "Bitacora"},
    {Check::chkcierraconX, "CierraconX"},
    {Check::chkGuardaOffice, "GuardaOffice"},
    {Check::chkAOL, "MostrarAOL"},
    {Check::chkMute, "MostrarMute"},
    {Check::chkTest, "MostrarTest"},
}};

// Check-box states.
inline constexpr int kUnchecked = 0;
inline constexpr int kChecked = 1;
inline constexpr int kGreyed = 2;

// The three ways of shutting the PC down on page 2; at most one is selected.
enum class ShutdownOption { None, chkbateria, chkminutos, chknormal };

// The items of cmbpct.
inline constexpr std::array<const char*, 6> kPercentItems{"20%", "30%", "40%", "50%", "60%", "70%"};

// What the controls show: filled by LoadControls, read back by SaveSettings.
struct FormControls {
  std::array<int, kCheckCount> checks{};
  std::string txtPathOffice;
  ShutdownOption option = ShutdownOption::None;
  int cmbpct_index = 0;
  std::string cmbpct_text;  // the text the list shows
  int chkapagaTNX = kUnchecked;
  int chkApagadesconexion = kUnchecked;
  std::string txtminutosapagado;
  std::string txtminutosapagadoTNX;
  std::string txtApagaDesconexion;

  int& operator[](Check c) { return checks[static_cast<std::size_t>(c)]; }
  int operator[](Check c) const { return checks[static_cast<std::size_t>(c)]; }
};

// The state a check box shows for a stored value. A value the box cannot show (outside 0..2) is
// shown greyed, and SaveSettings keeps it unless the user changed the box.
int CheckStateFromSetting(std::int16_t value);

// A text box read as the window reads it on close: blanks around a decimal number (sign and
// fraction allowed), rounded to the nearest integer with halves to even. Nothing when the text
// is not such a number or the number lies outside -32768..32767.
std::optional<std::int16_t> TextBoxNumber(std::string_view text);

// The window as the logic sees it.
class FormView {
 public:
  virtual ~FormView() = default;
  // imgconn(0) takes the picture of imgconn(k).
  virtual void ShowConnection(Connection picture) = 0;
  virtual void SetPortLabel(std::string_view text) = 0;  // lblcpto
  virtual void SetControls(const FormControls& controls) = 0;
  virtual FormControls Controls() const = 0;
  // The confirmation box before a search: true for OK.
  virtual bool ConfirmSearch() = 0;
  virtual void ShowSearchFailed() = 0;
  // Processes the window events already waiting, once.
  virtual void DoEvents() = 0;
  // Some settings could not be written: the box with `text`. True to write them all again
  // ("Reintentar"), false to close without saving ("Cancelar").
  virtual bool AskRetrySave(std::string_view text) = 0;
};

// What writing one value answered: written, or Windows' reason why not.
struct WriteResult {
  bool written = true;
  std::string reason;
};

// What the locator found: the port (0 for none) and, with a port, the frame kind.
struct LocatorResult {
  std::int16_t FoundPort = 0;
  std::string DataString;
};

struct FormPorts {
  FormView& view;
  SettingReader read;
  // Writes one value (an empty value as a single blank).
  std::function<WriteResult(std::string_view section, std::string_view key, std::string_view value)>
      write;
  // Looks for the USB device by its product string; a device found is let go at once.
  std::function<bool(std::string_view product)> find_usb;
  // Shows the COM-port locator modally and answers what it found.
  std::function<LocatorResult()> run_locator;
  // The user's documents folder with a backslash, or "c:\".
  std::function<std::string()> default_save_directory;
  // Creates (true) or removes (false) the start-up shortcut.
  std::function<void(bool create)> update_startup_shortcut;
};

class SettingsForm {
 public:
  explicit SettingsForm(FormPorts ports) : ports_(std::move(ports)) {}

  // Form_Load: reads the settings, shows the connection (searching for the UPS when none is
  // known) and fills the controls.
  void Load(const std::string& settings_path);
  // 1: found on USB, 2: found on a COM port, 3: not found.
  int DetectUps();
  void cmdBuscaTNX_Click();
  void LoadControls();
  // Form_Unload: writes every setting, each write on its own, then the start-up shortcut. When
  // any key could not be written the user is asked whether to try again; every key is written
  // again then. Answers whether every key was written.
  bool SaveSettings();

  MonitorSettings Settings;
  std::int16_t FoundPort = 0;

 private:
  void ShowPort();
  FormPorts ports_;
};

}  // namespace corva::config
