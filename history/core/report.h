#pragma once
// The power report: the history's files read back, and one self-contained HTML page (inline CSS
// and SVG, no script, nothing fetched) for the last 24 hours, 7 days and 30 days.
//
// The lines are read as they come, file after file (oldest first): only the minutes of the last
// 30 days are kept, in a compact form, so 13 months of history cost little memory. A line that
// cannot be read (foreign, cut short, out of order after the clock was set back) is skipped and
// counted, and the page says how many.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "local_stamp.h"
#include "minute_aggregator.h"
#include "monitor_listener.h"

namespace corva::history {

// The line classes are the UPS's own ("Baja", "Alta"); the monitor reads no voltage limit of its
// own beyond its calibration, whose table runs from 96 V to 140 V. Those ends are the limits the
// charts draw unless the caller passes others.
struct VoltageLimits {
  double baja = 96;
  double alta = 140;
};

inline constexpr std::int64_t kDaySeconds = 24 * 60 * 60;
inline constexpr std::int64_t kReportSpans[] = {kDaySeconds, 7 * kDaySeconds, 30 * kDaySeconds};

// How an outage ended.
enum class OutageEnd { Open, PowerReturn, ShutdownDecided, UpsShutdown };

struct Moment {
  std::int64_t utc = 0;
  int offset_minutes = 0;  // the UTC offset the row was written with
};

struct Outage {
  Moment start;
  std::optional<Moment> end;
  OutageEnd how = OutageEnd::Open;
  std::optional<double> lowest_battery;
};

struct ReportFigures {
  int outages = 0;
  std::int64_t seconds_on_battery = 0;
  std::int64_t longest_on_battery = 0;
  std::optional<double> lowest_battery;
  int minutes_baja = 0, minutes_alta = 0;
  std::optional<double> lowest_voltage, highest_voltage;
  Moment lowest_voltage_at, highest_voltage_at;
  int shutdowns_decided = 0;
  int minutes_with_data = 0;
};

// One point of a chart: the minutes of one bucket. `minutes` 0 is a gap.
struct ChartBucket {
  int minutes = 0;
  std::optional<double> voltage_min, voltage_mean, voltage_max;
  std::optional<double> frequency;
  std::optional<double> battery;
};

class PowerReport {
 public:
  // `now`: the moment the report is made, with the user's current UTC offset.
  explicit PowerReport(const LocalStamp& now);

  // One line, without its line end.
  void AddLine(std::string_view line);
  // A whole file's text (or any part of it that ends at a line end).
  void AddText(std::string_view text);

  int skipped_lines() const { return skipped_; }
  bool has_data() const { return !minutes_.empty() || !outages_.empty(); }

  // For the span ending at `now` (one of kReportSpans, or any other length up to 30 days).
  ReportFigures Figures(std::int64_t span_seconds) const;
  std::vector<Outage> Outages(std::int64_t span_seconds) const;
  // `bucket_seconds` a multiple of 60.
  std::vector<ChartBucket> Series(std::int64_t span_seconds, std::int64_t bucket_seconds) const;

  // The page. `decimal` is the user's decimal sign.
  std::string Html(const VoltageLimits& limits, std::string_view decimal = ".") const;

 private:
  struct Minute {
    std::int64_t utc;
    float vmin, vmean, vmax, fmin, fmax, battery;  // NaN when the row left it empty
    std::int16_t offset;
    std::uint8_t seconds_on_battery;
    LineState line;
  };
  bool ReadLine(std::string_view line);
  void OnEvent(MonitorEvent event, const Moment& when);
  std::optional<double> LowestBatteryBetween(std::int64_t from, std::int64_t to) const;
  void Section(std::string& out, std::int64_t span, const VoltageLimits& limits,
               std::string_view decimal) const;

  Moment now_;
  std::int64_t oldest_kept_;
  std::vector<Minute> minutes_;
  std::vector<Outage> outages_;
  std::optional<Outage> open_;
  std::vector<std::int64_t> shutdowns_;
  std::int64_t last_minute_utc_;
  std::int64_t last_event_utc_;
  int skipped_ = 0;
};

// `Corvamon.exe /informe` (or -informe, in any case): write the report and open it, and start
// no monitor. `arguments`: the command line after the program's name.
bool IsReportCommand(std::string_view arguments);

// The page's name in the user's temporary folder.
inline constexpr char kReportFileName[] = "Informe.html";

// The boxes of `/informe` when the page cannot be written, or written but not opened.
std::string ReportNotWrittenText(std::string_view path, std::string_view reason);
std::string ReportNotOpenedText(std::string_view path);

// The history files among `names` (a folder's listing), in the order the report reads them:
// the monthly files from the oldest, then Historial.csv. Other names are left out.
std::vector<std::string> ReportFileOrder(const std::vector<std::string>& names);

// Escapes a text for HTML ("<" "&" and quotes).
std::string HtmlEscape(std::string_view text);

}  // namespace corva::history
