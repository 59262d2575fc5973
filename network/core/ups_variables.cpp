#include "ups_variables.h"

#include <array>

#include "corva_funciones.h"
#include "product_version.h"

namespace corva::net {

namespace {

constexpr std::array<VariableInfo, 15> kVariables{{
    {"battery.charge", "NUMBER", "Carga de la batería (%)"},
    {"battery.charge.low", "NUMBER", "Carga a la que la batería se da por baja (%)"},
    {"device.mfr", "STRING:32", "Fabricante del equipo"},
    {"device.model", "STRING:32", "Modelo del equipo"},
    {"device.type", "STRING:8", "Tipo de equipo"},
    {"driver.name", "STRING:16", "Programa que lee la UPS"},
    {"driver.version", "STRING:16", "Versión del programa que lee la UPS"},
    {"output.frequency", "NUMBER", "Frecuencia de salida (Hz)"},
    {"output.voltage", "NUMBER", "Tensión de salida (V)"},
    {"ups.beeper.status", "STRING:8", "Alarma sonora de la UPS"},
    {"ups.delay.shutdown", "NUMBER", "Segundos entre la orden de apagado y el apagado de la UPS"},
    {"ups.mfr", "STRING:32", "Fabricante de la UPS"},
    {"ups.model", "STRING:32", "Modelo de la UPS"},
    {"ups.status", "STRING:16", "Estado de la UPS"},
    {"ups.timer.shutdown", "NUMBER", "Segundos hasta que la UPS se apague (-1: sin orden)"},
}};

}  // namespace

std::optional<int> ShutdownDelaySeconds(int apaga_tnx, int apaga_tnx_minutes) {
  if (apaga_tnx != 1) return std::nullopt;
  return apaga_tnx_minutes * 60;
}

std::string UpsStatusText(const UpsSnapshot& ups) {
  std::string status = ups.forced_shutdown ? "FSD " : "";
  status += ups.on_battery ? "OB" : "OL";
  if (ups.battery_charge <= ups.battery_charge_low) status += " LB";
  if (ups.overload) status += " OVER";
  return status;
}

bool DataStale(const UpsSnapshot& ups, Millis now_ms) {
  return !ups.last_frame_ms || ups.link_lost || now_ms - *ups.last_frame_ms >= kStaleAfterMs;
}

const UpsVariable* UpsVariables::Find(std::string_view name) const {
  for (const UpsVariable& v : values) {
    if (v.name == name) return &v;
  }
  return nullptr;
}

UpsVariables BuildUpsVariables(const UpsSnapshot& ups, Millis now_ms) {
  UpsVariables out;
  out.stale = DataStale(ups, now_ms);
  if (out.stale) {
    if (ups.forced_shutdown) out.values.push_back({"ups.status", "FSD"});
    return out;
  }
  long long timer = -1;
  if (ups.ups_off_at_ms) {
    const Millis left = *ups.ups_off_at_ms - now_ms;
    timer = left <= 0 ? 0 : (left + 999) / 1000;
  }
  const auto add = [&](const char* name, std::string value) {
    out.values.push_back({name, std::move(value)});
  };
  add("battery.charge", FormatNumber(ups.battery_charge, "##0.#0", "."));
  add("battery.charge.low", std::to_string(ups.battery_charge_low));
  add("device.mfr", ups.manufacturer);
  add("device.model", ups.model);
  add("device.type", "ups");
  add("driver.name", "corvamon");
  add("driver.version", CORVA_VERSION);
  add("output.frequency", FormatNumber(ups.output_frequency, "#0.0", "."));
  // On battery the window shows no voltage ("Monitoreando Equipo"): the frames carry none.
  if (!ups.on_battery) add("output.voltage", FormatNumber(ups.output_voltage, "##0.0", "."));
  add("ups.beeper.status", ups.beeper_enabled ? "enabled" : "disabled");
  if (ups.delay_shutdown_s) add("ups.delay.shutdown", std::to_string(*ups.delay_shutdown_s));
  add("ups.mfr", ups.manufacturer);
  add("ups.model", ups.model);
  add("ups.status", UpsStatusText(ups));
  add("ups.timer.shutdown", std::to_string(timer));
  return out;
}

const VariableInfo* FindVariableInfo(std::string_view name) {
  for (const VariableInfo& info : kVariables) {
    if (name == info.name) return &info;
  }
  return nullptr;
}

}  // namespace corva::net
