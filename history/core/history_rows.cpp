#include "history_rows.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace corva::history {

namespace {

constexpr char kMinuteKind[] = "Minuto";

// The separator actually used: one that a decimal sign equal to it would not split.
std::string Separator(const CsvFormat& format) {
  if (format.list_separator.empty() || format.list_separator == format.decimal) {
    return format.decimal == ";" ? "," : ";";
  }
  return format.list_separator;
}

std::string Number(std::optional<double> value, int decimals, const CsvFormat& format) {
  if (!value || !std::isfinite(*value)) return {};
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, *value);
  std::string text = buffer;
  if (const auto dot = text.find('.'); dot != std::string::npos) {
    text.replace(dot, 1, format.decimal);
  }
  return text;
}

std::string Join(const std::vector<std::string>& fields, const CsvFormat& format) {
  const std::string separator = Separator(format);
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += separator;
    line += fields[i];
  }
  return line + "\r\n";
}

}  // namespace

std::optional<EventRow> EventRowFor(MonitorEvent event, const LocalStamp& when) {
  // The turn-off command follows the decision, and the withdrawal after a hibernation is the
  // log's to tell: neither is a row of the power history.
  if (event == MonitorEvent::UpsToldToTurnOff || event == MonitorEvent::ShutdownWithdrawn) {
    return std::nullopt;
  }
  return EventRow{when, event};
}

const char* EventText(MonitorEvent event) {
  switch (event) {
    case MonitorEvent::PowerFailure:
      return "Corte de energía";
    case MonitorEvent::PowerReturn:
      return "Retorno de energía";
    case MonitorEvent::UpsShutdownReport:
      return "Apagado del UPS";
    case MonitorEvent::ShutdownDecided:
      return "Cierre Forzado";
    case MonitorEvent::UpsToldToTurnOff:
      return "Orden de apagado al UPS";
    case MonitorEvent::ShutdownWithdrawn:
      return "Reanudación tras hibernar";
    case MonitorEvent::LinkLost:
      return "Conexión perdida";
    case MonitorEvent::LinkFound:
      return "Conexión recuperada";
  }
  return "";
}

const char* LineStateText(LineState state) {
  switch (state) {
    case LineState::Normal:
      return "Normal";
    case LineState::Baja:
      return "Baja";
    case LineState::Alta:
      return "Alta";
    case LineState::Sobrecarga:
      return "Sobrecarga";
  }
  return "";
}

std::string IsoText(const LocalStamp& s) {
  const int offset = std::abs(s.utc_offset_minutes);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", s.year, s.month,
                s.day, s.hour, s.minute, s.second, s.utc_offset_minutes < 0 ? '-' : '+',
                offset / 60, offset % 60);
  return buffer;
}

std::string FileStartText(const CsvFormat& format) {
  return "\xEF\xBB\xBF" +
         Join({"Fecha y hora", "Registro", "Tensión mínima (V)", "Tensión media (V)",
               "Tensión máxima (V)", "Frecuencia mínima (Hz)", "Frecuencia máxima (Hz)",
               "Bateria (%)", "Segundos en bateria", "Linea"},
              format);
}

std::string MinuteRowText(const MinuteRow& row, const CsvFormat& format) {
  return Join({IsoText(row.minute), kMinuteKind, Number(row.voltage_min, 1, format),
               Number(row.voltage_mean, 1, format), Number(row.voltage_max, 1, format),
               Number(row.frequency_min, 1, format), Number(row.frequency_max, 1, format),
               Number(row.battery, 0, format), std::to_string(row.seconds_on_battery),
               LineStateText(row.worst_line)},
              format);
}

std::string EventRowText(const EventRow& row, const CsvFormat& format) {
  return Join({IsoText(row.when), EventText(row.event), "", "", "", "", "", "", "", ""}, format);
}

}  // namespace corva::history
