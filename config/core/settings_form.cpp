#include "settings_form.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>

#include "settings_rules.h"

namespace corva::config {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Runs one step of the close; a step that fails skips itself only.
template <typename Step>
void Independently(Step&& step) {
  try {
    step();
  } catch (const std::exception&) {
  }
}

}  // namespace

std::string SaveFailedText(std::string_view settings_path, std::string_view reason) {
  std::string text = "No se pudieron guardar los cambios en\r\n";
  text += settings_path;
  text += "\r\n\r\n";
  text += reason.empty() ? std::string_view("Windows no dio el motivo.") : reason;
  text += "\r\n\r\nReintentar: guardarlos de nuevo. Cancelar: cerrar sin guardarlos.";
  return text;
}

int CheckStateFromSetting(std::int16_t value) {
  return value >= kUnchecked && value <= kGreyed ? value : kGreyed;
}

std::optional<std::int16_t> TextBoxNumber(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  const std::string_view number = text.substr(begin, end - begin);
  // The whole text must be the number: "12abc" is no number, " 12 " is.
  std::size_t i = 0;
  if (i < number.size() && (number[i] == '+' || number[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < number.size() && number[i] >= '0' && number[i] <= '9') ++i, ++digits;
  if (i < number.size() && number[i] == '.') {
    ++i;
    while (i < number.size() && number[i] >= '0' && number[i] <= '9') ++i, ++digits;
  }
  if (digits == 0 || i != number.size()) return std::nullopt;
  // The same number the file's rule reads; it copes with any length, where stod would throw.
  const double value = LeadingNumber(number).value_or(0.0);
  const double rounded = std::nearbyint(value);  // halves to even in the default rounding mode
  if (rounded < -32768.0 || rounded > 32767.0) return std::nullopt;
  return static_cast<std::int16_t>(rounded);
}

void SettingsForm::Load(const std::string& settings_path) {
  Settings.SettingsPath = settings_path;
  LoadSettings(Settings, ports_.read);
  ports_.view.SetPortLabel("");
  if (Settings.CommPort != 0 && !Settings.UsbMode) {
    // A configured port is shown as connected; it is not probed.
    ports_.view.ShowConnection(Connection::ComPort);
    ShowPort();
  } else if (Settings.UsbMode) {
    ports_.view.ShowConnection(ports_.find_usb(text::kProductString) ? Connection::Usb
                                                                     : Connection::NotConnected);
  } else {
    ports_.view.ShowConnection(Connection::NotConnected);
    ports_.view.ShowConnection(static_cast<Connection>(DetectUps()));
    ShowPort();
  }
  LoadControls();
}

void SettingsForm::ShowPort() {
  if (Settings.CommPort > 0) ports_.view.SetPortLabel(std::to_string(Settings.CommPort));
}

int SettingsForm::DetectUps() {
  Settings.UsbMode = false;
  Settings.CommPort = 0;
  if (ports_.find_usb(text::kProductString)) {
    ports_.view.DoEvents();
    Settings.UsbMode = true;
    return static_cast<int>(Connection::Usb);
  }
  const LocatorResult found = ports_.run_locator();
  FoundPort = found.FoundPort;
  if (FoundPort == 0) return static_cast<int>(Connection::NotConnected);
  Settings.CommPort = FoundPort;
  Settings.DataString = found.DataString;
  return static_cast<int>(Connection::ComPort);
}

void SettingsForm::cmdBuscaTNX_Click() {
  if (!ports_.view.ConfirmSearch()) return;
  ports_.view.SetPortLabel("");
  const int found = DetectUps();
  ports_.view.ShowConnection(static_cast<Connection>(found));
  if (found == static_cast<int>(Connection::NotConnected)) ports_.view.ShowSearchFailed();
  ShowPort();
}

void SettingsForm::LoadControls() {
  FormControls c;
  const std::array<std::int16_t, kCheckCount> stored{
      Settings.InicioWin,     Settings.IniciaMin,   Settings.DCMaximiza, Settings.NotifAviso,
      Settings.NotifMaximiza, Settings.Bitacora,    Settings.CierraconX, Settings.GuardaOffice,
      Settings.MostrarAOL,    Settings.MostrarMute, Settings.MostrarTest};
  for (std::size_t i = 0; i < kCheckCount; ++i) c.checks[i] = CheckStateFromSetting(stored[i]);

  if (Settings.PathOffice.empty() || Settings.PathOffice == ini::kMissingValue) {
    Settings.PathOffice = ports_.default_save_directory();
  }
  c.txtPathOffice = Settings.PathOffice;

  // Selecting one option deselects the others: of several non-zero keys the last one set wins.
  if (Settings.ApagaPorcentaje != 0) c.option = ShutdownOption::chkbateria;
  const double item = std::nearbyint(Settings.ApagaQuePorcentaje / 10.0 - 2.0);
  c.cmbpct_index =
      std::clamp(static_cast<int>(item), 0, static_cast<int>(kPercentItems.size()) - 1);
  c.cmbpct_text = kPercentItems[static_cast<std::size_t>(c.cmbpct_index)];
  if (Settings.ApagaMinutos != 0) c.option = ShutdownOption::chkminutos;
  c.txtminutosapagado = std::to_string(Settings.ApagaCuantosMinutos);
  if (Settings.ApagaNormal != 0) c.option = ShutdownOption::chknormal;
  c.chkapagaTNX = CheckStateFromSetting(Settings.ApagaTNX);
  c.txtminutosapagadoTNX = std::to_string(Settings.ApagaTNXMinutos);
  c.chkApagadesconexion = CheckStateFromSetting(Settings.ApagaDesconexion);
  c.txtApagaDesconexion = std::to_string(Settings.ApagaDesconexionSegundos);
  ports_.view.SetControls(c);
}

bool SettingsForm::SaveSettings() {
  const FormControls c = ports_.view.Controls();
  MonitorSettings& s = Settings;

  // The controls into the values. A check box left greyed over a value it could not show keeps
  // that value; a text box that holds no 16-bit number keeps the value loaded.
  const auto check = [&c](Check which, std::int16_t& value) {
    const int state = c[which];
    if (!(state == kGreyed && CheckStateFromSetting(value) == kGreyed)) {
      value = static_cast<std::int16_t>(state);
    }
  };
  check(Check::chkejecutainicio, s.InicioWin);
  check(Check::chkiniciomini, s.IniciaMin);
  check(Check::chkclickIcono, s.DCMaximiza);
  check(Check::chknotif, s.NotifAviso);
  check(Check::chkrestaura, s.NotifMaximiza);
  check(Check::chkbitacora, s.Bitacora);
  check(Check::chkcierraconX, s.CierraconX);
  check(Check::chkGuardaOffice, s.GuardaOffice);
  check(Check::chkAOL, s.MostrarAOL);
  check(Check::chkMute, s.MostrarMute);
  check(Check::chkTest, s.MostrarTest);
  s.PathOffice = c.txtPathOffice;
  s.ApagaPorcentaje = c.option == ShutdownOption::chkbateria ? 1 : 0;
  if (const auto percent = LeadingNumber(c.cmbpct_text))
    s.ApagaQuePorcentaje = RoundToInt16(*percent);
  s.ApagaMinutos = c.option == ShutdownOption::chkminutos ? 1 : 0;
  if (const auto n = TextBoxNumber(c.txtminutosapagado)) s.ApagaCuantosMinutos = *n;
  s.ApagaNormal = c.option == ShutdownOption::chknormal ? 1 : 0;
  s.ApagaTNX = c.chkapagaTNX != kUnchecked ? 1 : 0;
  if (const auto n = TextBoxNumber(c.txtminutosapagadoTNX)) s.ApagaTNXMinutos = *n;
  s.ApagaDesconexion = c.chkApagadesconexion != kUnchecked ? 1 : 0;
  if (const auto n = TextBoxNumber(c.txtApagaDesconexion)) s.ApagaDesconexionSegundos = *n;

  // Every key, each write on its own; a pass in which any failed is offered again, whole.
  bool saved = false;
  for (;;) {
    std::optional<std::string> failure;  // Windows' reason for the first key not written
    const auto write = [this, &failure](const char* section, const char* key,
                                        const std::string& value) {
      Independently([&] {
        WriteResult result = ports_.write(section, key, value);
        if (!result.written && !failure) failure = std::move(result.reason);
      });
    };
    const auto number = [&write](const char* section, const char* key, std::int16_t value) {
      write(section, key, std::to_string(value));
    };
    write(ini::kInicio, text::kCommportKey,
          s.UsbMode ? std::string(ini::kUsbPort) : std::to_string(s.CommPort));
    write(ini::kInicio, ini::kDataString, s.DataString);
    number(ini::kPrefs, "InicioWin", s.InicioWin);
    number(ini::kPrefs, "IniciaMin", s.IniciaMin);
    number(ini::kPrefs, "DCMaximiza", s.DCMaximiza);
    number(ini::kPrefs, "NotifAviso", s.NotifAviso);
    number(ini::kPrefs, "NotifMaximiza", s.NotifMaximiza);
    number(ini::kPrefs, "Bitacora", s.Bitacora);
    number(ini::kPrefs, "CierraconX", s.CierraconX);
    number(ini::kPrefs, "GuardaOffice", s.GuardaOffice);
    write(ini::kPrefs, "PathOffice", s.PathOffice);
    number(ini::kPrefs, "MostrarAOL", s.MostrarAOL);
    number(ini::kPrefs, "MostrarMute", s.MostrarMute);
    number(ini::kPrefs, "MostrarTest", s.MostrarTest);
    number(ini::kApaga, "ApagaPorcentaje", s.ApagaPorcentaje);
    number(ini::kApaga, "ApagaQuePorcentaje", s.ApagaQuePorcentaje);
    number(ini::kApaga, "ApagaNormal", s.ApagaNormal);
    number(ini::kApaga, "ApagaMinutos", s.ApagaMinutos);
    number(ini::kApaga, "ApagaCuantosMinutos", s.ApagaCuantosMinutos);
    number(ini::kApaga, "ApagaTNX", s.ApagaTNX);
    number(ini::kApaga, "ApagaTNXMinutos", s.ApagaTNXMinutos);
    number(ini::kApaga, "ApagaDesconexion", s.ApagaDesconexion);
    number(ini::kApaga, "ApagaDesconexionSegundos", s.ApagaDesconexionSegundos);
    if (!failure) {
      saved = true;
      break;
    }
    bool again = false;
    Independently(
        [&] { again = ports_.view.AskRetrySave(SaveFailedText(s.SettingsPath, *failure)); });
    if (!again) break;
  }

  Independently([&] { ports_.update_startup_shortcut(c[Check::chkejecutainicio] == kChecked); });
  return saved;
}

}  // namespace corva::config
