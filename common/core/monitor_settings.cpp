#include "monitor_settings.h"

#include "settings_rules.h"

namespace corva {

void LoadSettings(MonitorSettings& s, const SettingReader& read) {
  const auto number = [&](const char* section, const char* key) {
    return SettingNumber(read(section, key));
  };

  const std::string port = read(ini::kInicio, ini::kCommPort);
  if (port == ini::kUsbPort) {
    s.UsbMode = true;
    s.CommPort = 0;
  } else {
    s.CommPort = SettingNumber(port);
  }
  s.DataString = read(ini::kInicio, ini::kDataString);

  s.InicioWin = number(ini::kPrefs, "InicioWin");
  s.IniciaMin = number(ini::kPrefs, "IniciaMin");
  s.DCMaximiza = number(ini::kPrefs, "DCMaximiza");
  s.NotifAviso = number(ini::kPrefs, "NotifAviso");
  s.NotifMaximiza = number(ini::kPrefs, "NotifMaximiza");
  s.Bitacora = number(ini::kPrefs, "Bitacora");
  s.GuardaOffice = number(ini::kPrefs, "GuardaOffice");
  s.PathOffice = read(ini::kPrefs, "PathOffice");
  s.CierraconX = number(ini::kPrefs, "CierraconX");
  s.MostrarAOL = number(ini::kPrefs, "MostrarAOL");
  s.MostrarMute = number(ini::kPrefs, "MostrarMute");
  s.MostrarTest = number(ini::kPrefs, "MostrarTest");
  s.AlarmaConSonido = SettingSwitchOn(read(ini::kPrefs, ini::kAlarmaConSonido));

  s.ApagaPorcentaje = number(ini::kApaga, "ApagaPorcentaje");
  s.ApagaQuePorcentaje = number(ini::kApaga, "ApagaQuePorcentaje");
  s.ApagaNormal = number(ini::kApaga, "ApagaNormal");
  s.ApagaMinutos = number(ini::kApaga, "ApagaMinutos");
  s.ApagaCuantosMinutos = number(ini::kApaga, "ApagaCuantosMinutos");
  s.ApagaTNX = number(ini::kApaga, "ApagaTNX");
  s.ApagaTNXMinutos = number(ini::kApaga, "ApagaTNXMinutos");
  s.ApagaQuePorcentaje = ClampShutdownPercent(s.ApagaQuePorcentaje);
  s.ApagaDesconexion = number(ini::kApaga, "ApagaDesconexion");
  s.ApagaDesconexionSegundos = number(ini::kApaga, "ApagaDesconexionSegundos");
}

}  // namespace corva
