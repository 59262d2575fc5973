#pragma once
// Corvamon.ini as the monitor holds it in memory after reading it once at start-up.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace corva {

// Section and key names of Corvamon.ini.
namespace ini {
inline constexpr char kFileName[] = "Corvamon.ini";
inline constexpr char kInicio[] = "Inicio";
inline constexpr char kPrefs[] = "Prefs";
inline constexpr char kApaga[] = "Apaga";
inline constexpr char kCommPort[] = "CommPort";
inline constexpr char kDataString[] = "DataString";
inline constexpr char kAlarmaConSonido[] = "AlarmaConSonido";
inline constexpr char kHibernar[] = "Hibernar";
// What a missing file, section or key reads as.
inline constexpr char kMissingValue[] = "0";
// The CommPort value that selects the USB link (compared case-sensitively).
inline constexpr char kUsbPort[] = "USB";
}  // namespace ini

struct MonitorSettings {
  std::string SettingsPath;

  // [Inicio]
  std::int16_t CommPort = 0;
  bool UsbMode = false;
  std::string DataString;

  // [Prefs]
  std::int16_t InicioWin = 0;
  std::int16_t IniciaMin = 0;
  std::int16_t DCMaximiza = 0;
  std::int16_t NotifAviso = 0;
  std::int16_t NotifMaximiza = 0;
  std::int16_t Bitacora = 0;
  std::int16_t GuardaOffice = 0;
  std::string PathOffice;
  std::int16_t CierraconX = 0;
  std::int16_t MostrarAOL = 0;
  std::int16_t MostrarMute = 0;
  std::int16_t MostrarTest = 0;
  bool AlarmaConSonido = false;

  // [Apaga]
  std::int16_t ApagaPorcentaje = 0;
  std::int16_t ApagaQuePorcentaje = 0;
  std::int16_t ApagaNormal = 0;
  std::int16_t ApagaMinutos = 0;
  std::int16_t ApagaCuantosMinutos = 0;
  std::int16_t ApagaTNX = 0;
  std::int16_t ApagaTNXMinutos = 0;
  std::int16_t ApagaDesconexion = 0;
  std::int16_t ApagaDesconexionSegundos = 0;
  // Hibernar=1: hibernate instead of the forced shutdown. Read by the monitor's start-up, not
  // by LoadSettings: exactly "1" switches it on, anything else (or nothing) leaves it off.
  bool Hibernar = false;

  // Derived by the monitor's start-up from DataString.
  std::int16_t FrameLength = 0;
};

// Reads one value (section, key) and answers its text; a missing value answers "0".
using SettingReader = std::function<std::string(std::string_view section, std::string_view key)>;

// Reads every key in the monitor's order through `read` and converts it. `SettingsPath` and
// `FrameLength` are left as they are; `UsbMode` changes only when CommPort is exactly "USB".
void LoadSettings(MonitorSettings& settings, const SettingReader& read);

}  // namespace corva
