#pragma once
// The rows of Historial.csv as text: a minute row or an event row, each one line.
//
// Excel opens a .csv with a double-click using the list separator and the decimal sign of the
// user's regional settings (Mexico "," and "."; Spain ";" and ","). The Windows side reads those
// two from the user's locale and the rows are written with them, so the file opens in columns
// and its numbers read as numbers on the machine that wrote it. A first line "sep=;" is not
// written: it only fixes the separator, not the decimal sign, and with it Excel ignores the
// UTF-8 byte-order mark, so the accented texts would read wrong.

#include <optional>
#include <string>

#include "minute_aggregator.h"
#include "monitor_listener.h"

namespace corva::history {

// The user's list separator and decimal sign.
struct CsvFormat {
  std::string list_separator = ",";
  std::string decimal = ".";
};

struct EventRow {
  LocalStamp when;
  MonitorEvent event = MonitorEvent::PowerFailure;
};

// The event's row, at its second; nothing for the steps the history does not record (the
// turn-off command to the UPS, which follows the shutdown decision).
std::optional<EventRow> EventRowFor(MonitorEvent event, const LocalStamp& when);

// The event's text in the history ("Corte de energía", ...).
const char* EventText(MonitorEvent event);
const char* LineStateText(LineState state);

// "2026-12-07T14:05:00-06:00".
std::string IsoText(const LocalStamp& stamp);

// What a new file starts with: the UTF-8 byte-order mark (so Excel reads the accents) and the
// line of column names. Every line ends in "\r\n".
std::string FileStartText(const CsvFormat& format);
std::string MinuteRowText(const MinuteRow& row, const CsvFormat& format);
std::string EventRowText(const EventRow& row, const CsvFormat& format);

}  // namespace corva::history
