#include "report.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <limits>

#include "history_files.h"
#include "history_rows.h"

namespace corva::history {

namespace {

constexpr float kNone = std::numeric_limits<float>::quiet_NaN();
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kHeaderStart = "Fecha y hora";
constexpr std::size_t kStampLength = 25;  // "2026-12-07T14:05:00-06:00"
constexpr std::size_t kFields = 10;
// Outages kept for the page: far more than 30 days of any real mains give.
constexpr std::size_t kMostOutages = 20000;

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// "2026-12-07T14:05:00-06:00", checked field by field.
std::optional<Moment> ParseStamp(std::string_view text) {
  if (text.size() != kStampLength) return std::nullopt;
  if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      (text[19] != '+' && text[19] != '-') || text[22] != ':') {
    return std::nullopt;
  }
  LocalStamp s;
  int oh = 0, om = 0;
  if (!Digits(text, 0, 4, s.year) || !Digits(text, 5, 2, s.month) || !Digits(text, 8, 2, s.day) ||
      !Digits(text, 11, 2, s.hour) || !Digits(text, 14, 2, s.minute) ||
      !Digits(text, 17, 2, s.second) || !Digits(text, 20, 2, oh) || !Digits(text, 23, 2, om)) {
    return std::nullopt;
  }
  if (s.year < 1970 || s.month < 1 || s.month > 12 || s.day < 1 ||
      s.day > DaysInMonth(s.year, s.month) || s.hour > 23 || s.minute > 59 || s.second > 59 ||
      oh > 14 || om > 59) {
    return std::nullopt;
  }
  s.utc_offset_minutes = (text[19] == '-' ? -1 : 1) * (oh * 60 + om);
  return Moment{UtcSeconds(s), s.utc_offset_minutes};
}

// A number written with "." or "," as its decimal sign; empty is "none" (NaN). False for
// anything else.
bool ParseNumber(std::string_view text, float& value) {
  if (text.empty()) {
    value = kNone;
    return true;
  }
  double whole = 0, fraction = 0, scale = 1;
  bool seen_sign = false, seen_digit = false;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      seen_digit = true;
      if (seen_sign) {
        scale /= 10;
        fraction += (c - '0') * scale;
      } else {
        whole = whole * 10 + (c - '0');
        if (whole > 100000) return false;
      }
    } else if ((c == '.' || c == ',') && !seen_sign) {
      seen_sign = true;
    } else {
      return false;
    }
  }
  if (!seen_digit) return false;
  value = static_cast<float>(whole + fraction);
  return true;
}

std::optional<MonitorEvent> EventOfText(std::string_view text) {
  for (const MonitorEvent e :
       {MonitorEvent::PowerFailure, MonitorEvent::PowerReturn, MonitorEvent::UpsShutdownReport,
        MonitorEvent::ShutdownDecided, MonitorEvent::LinkLost, MonitorEvent::LinkFound}) {
    if (text == EventText(e)) return e;
  }
  return std::nullopt;
}

std::optional<LineState> LineOfText(std::string_view text) {
  for (const LineState s :
       {LineState::Normal, LineState::Baja, LineState::Alta, LineState::Sobrecarga}) {
    if (text == LineStateText(s)) return s;
  }
  return std::nullopt;
}

// ---- Texts of the page ----------------------------------------------------------------------

struct Civil {
  int year, month, day, hour, minute;
};

Civil CivilOf(const Moment& m) {
  const LocalStamp s = StampAt(m.utc, m.offset_minutes);
  return {s.year, s.month, s.day, s.hour, s.minute};
}

// "07/12/2026 14:05".
std::string DateTimeText(const Moment& m) {
  const Civil c = CivilOf(m);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d", c.day, c.month, c.year, c.hour,
                c.minute);
  return buffer;
}

// "2 h 05 min", "12 min 30 s", "40 s".
std::string DurationText(std::int64_t seconds) {
  char buffer[64];
  if (seconds >= 3600) {
    std::snprintf(buffer, sizeof buffer, "%lld h %02lld min",
                  static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds % 3600 / 60));
  } else if (seconds >= 60) {
    std::snprintf(buffer, sizeof buffer, "%lld min %02lld s", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(buffer, sizeof buffer, "%lld s", static_cast<long long>(seconds));
  }
  return buffer;
}

std::string NumberText(double value, int decimals, std::string_view decimal) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string text = buffer;
  if (const auto dot = text.find('.'); dot != std::string::npos) text.replace(dot, 1, decimal);
  return text;
}

const char* EndText(OutageEnd how) {
  switch (how) {
    case OutageEnd::Open:
      return "Sigue en bateria";
    case OutageEnd::PowerReturn:
      return "Retorno de energía";
    case OutageEnd::ShutdownDecided:
      return "Apagado: Cierre Forzado";
    case OutageEnd::UpsShutdown:
      return "Apagado: Apagado del UPS";
  }
  return "";
}

// ---- Charts ---------------------------------------------------------------------------------

constexpr int kWidth = 960, kHeight = 170;
constexpr int kLeft = 48, kRight = 8, kTop = 8, kBottom = 22;
constexpr int kPlotWidth = kWidth - kLeft - kRight, kPlotHeight = kHeight - kTop - kBottom;

struct Scale {
  double low, high;
  double Y(double v) const {
    const double t = (std::clamp(v, low, high) - low) / (high - low);
    return kTop + kPlotHeight * (1 - t);
  }
};

void Append(std::string& out, double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", value);
  out += buffer;
}

double XOf(std::size_t index, std::size_t count) {
  return kLeft + kPlotWidth * (static_cast<double>(index) + 0.5) / static_cast<double>(count);
}

// A line through the buckets that hold a value; a bucket without one starts a new piece.
template <typename Get>
std::string LinePath(const std::vector<ChartBucket>& buckets, const Scale& scale, Get get) {
  std::string d;
  bool drawing = false;
  for (std::size_t i = 0; i < buckets.size(); ++i) {
    const std::optional<double> v = get(buckets[i]);
    if (!v) {
      drawing = false;
      continue;
    }
    d += drawing ? 'L' : 'M';
    Append(d, XOf(i, buckets.size()));
    d += ' ';
    Append(d, scale.Y(*v));
    drawing = true;
  }
  return d;
}

// The band from the lowest to the highest voltage, one closed shape per run without a gap.
std::string BandPath(const std::vector<ChartBucket>& buckets, const Scale& scale) {
  std::string d;
  std::size_t i = 0;
  const std::size_t n = buckets.size();
  const double half = kPlotWidth / 2.0 / static_cast<double>(n);
  while (i < n) {
    if (!buckets[i].voltage_min) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < n && buckets[j].voltage_min) ++j;
    for (std::size_t k = i; k < j; ++k) {
      d += k == i ? 'M' : 'L';
      Append(d, XOf(k, n) - (k == i ? half : 0));
      d += ' ';
      Append(d, scale.Y(*buckets[k].voltage_max));
    }
    Append(d += 'L', XOf(j - 1, n) + half);
    d += ' ';
    Append(d, scale.Y(*buckets[j - 1].voltage_max));
    Append(d += 'L', XOf(j - 1, n) + half);
    d += ' ';
    Append(d, scale.Y(*buckets[j - 1].voltage_min));
    for (std::size_t k = j; k-- > i;) {
      d += 'L';
      Append(d, XOf(k, n) - (k == i ? half : 0));
      d += ' ';
      Append(d, scale.Y(*buckets[k].voltage_min));
    }
    d += 'Z';
    i = j;
  }
  return d;
}

struct ChartFrame {
  std::int64_t from, to;
  int offset_minutes;
  const std::vector<Outage>* outages;
};

void ChartStart(std::string& out, const char* title, const char* label) {
  out += "<figure><figcaption>";
  out += title;
  out += "</figcaption><svg viewBox=\"0 0 ";
  out += std::to_string(kWidth) + ' ' + std::to_string(kHeight);
  out += "\" role=\"img\" aria-label=\"";
  out += label;
  out += "\"><rect class=\"plot\" x=\"" + std::to_string(kLeft) + "\" y=\"" + std::to_string(kTop) +
         "\" width=\"" + std::to_string(kPlotWidth) + "\" height=\"" + std::to_string(kPlotHeight) +
         "\"/>";
}

// The outages as shaded spans, then the time axis and the value axis.
void ChartAxes(std::string& out, const ChartFrame& f, const Scale& scale,
               std::initializer_list<double> ticks, std::string_view decimal, int decimals) {
  const double span = static_cast<double>(f.to - f.from);
  auto x_of = [&](std::int64_t t) {
    return kLeft + kPlotWidth * (static_cast<double>(std::clamp(t, f.from, f.to) - f.from) / span);
  };
  for (const Outage& o : *f.outages) {
    const double x0 = x_of(o.start.utc);
    const double x1 = x_of(o.end ? o.end->utc : f.to);
    out += "<rect class=\"outage\" x=\"";
    Append(out, x0);
    out += "\" y=\"" + std::to_string(kTop) + "\" width=\"";
    Append(out, std::max(1.5, x1 - x0));
    out += "\" height=\"" + std::to_string(kPlotHeight) + "\"/>";
  }
  for (const double v : ticks) {
    out += "<text class=\"axis\" x=\"" + std::to_string(kLeft - 4) + "\" y=\"";
    Append(out, scale.Y(v) + 4);
    out += "\" text-anchor=\"end\">" + NumberText(v, decimals, decimal) + "</text>";
  }
  for (int i = 0; i <= 6; ++i) {
    const std::int64_t t = f.from + (f.to - f.from) * i / 6;
    const Civil c = CivilOf({t, f.offset_minutes});
    char label[32];
    if (f.to - f.from <= kDaySeconds) {
      std::snprintf(label, sizeof label, "%02d:%02d", c.hour, c.minute);
    } else {
      std::snprintf(label, sizeof label, "%02d/%02d %02d:%02d", c.day, c.month, c.hour, c.minute);
    }
    out += "<text class=\"axis\" x=\"";
    Append(out, x_of(t));
    out += "\" y=\"" + std::to_string(kHeight - 6) + "\" text-anchor=\"" +
           (i == 0   ? "start"
            : i == 6 ? "end"
                     : "middle") +
           "\">" + label + "</text>";
  }
}

void HorizontalLine(std::string& out, const char* cls, double y) {
  out += "<line class=\"";
  out += cls;
  out += "\" x1=\"" + std::to_string(kLeft) + "\" x2=\"" + std::to_string(kLeft + kPlotWidth) +
         "\" y1=\"";
  Append(out, y);
  out += "\" y2=\"";
  Append(out, y);
  out += "\"/>";
}

constexpr char kStyle[] = R"(<style>
body{font-family:"Segoe UI",Tahoma,Arial,sans-serif;color:#222;margin:24px;background:#fff}
h1{font-size:22px;margin:0 0 4px}h2{font-size:18px;border-bottom:2px solid #1f5fa8;padding-bottom:2px}
section{margin-bottom:36px}p.note{color:#555;margin:4px 0}
figure{margin:8px 0}figcaption{font-weight:bold;font-size:13px}
svg{width:100%;max-width:960px;height:auto;display:block}
.plot{fill:#fafafa;stroke:#ccc}.axis{font-size:11px;fill:#555}
.outage{fill:#f2a93b;fill-opacity:.28}
.band{fill:#1f5fa8;fill-opacity:.25;stroke:none}.mean{fill:none;stroke:#1f5fa8;stroke-width:1.5}
.freq{fill:none;stroke:#2e8b57;stroke-width:1.5}.bat{fill:none;stroke:#c0392b;stroke-width:1.5}
.baja,.alta{stroke:#b03030;stroke-dasharray:6 4;stroke-width:1}
table{border-collapse:collapse;font-size:13px;margin:6px 0}
td,th{border:1px solid #bbb;padding:3px 8px;text-align:left}th{background:#eef2f8}
dl.fig{display:grid;grid-template-columns:max-content auto;gap:2px 16px;font-size:13px}
dl.fig dt{color:#444}dl.fig dd{margin:0;font-weight:bold}
@media print{body{margin:0}section{page-break-after:always;break-after:page}
section:last-of-type{page-break-after:auto;break-after:auto}}
</style>)";

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool IsReportCommand(std::string_view arguments) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!arguments.empty() && blank(arguments.front())) arguments.remove_prefix(1);
  while (!arguments.empty() && blank(arguments.back())) arguments.remove_suffix(1);
  constexpr std::string_view kWord = "informe";
  if (arguments.size() != kWord.size() + 1 || (arguments[0] != '/' && arguments[0] != '-')) {
    return false;
  }
  for (std::size_t i = 0; i < kWord.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(arguments[i + 1])) != kWord[i]) return false;
  }
  return true;
}

std::string ReportNotWrittenText(std::string_view path, std::string_view reason) {
  std::string text = "No se pudo escribir el informe de energía en\r\n";
  text += path;
  if (!reason.empty()) {
    text += "\r\n";
    text += reason;
  }
  return text;
}

std::string ReportNotOpenedText(std::string_view path) {
  std::string text = "El informe de energía está en\r\n";
  text += path;
  text += "\r\nNo se pudo abrir con el navegador: ábralo desde esa carpeta.";
  return text;
}

std::vector<std::string> ReportFileOrder(const std::vector<std::string>& names) {
  std::vector<std::pair<YearMonth, std::string>> monthly;
  std::optional<std::string> current;
  for (const std::string& name : names) {
    if (const std::optional<YearMonth> month = MonthOfFileName(name)) {
      monthly.emplace_back(*month, name);
    } else if (name.size() == std::strlen(kHistoryFileName) &&
               std::equal(name.begin(), name.end(), kHistoryFileName, [](char a, char b) {
                 return std::tolower(static_cast<unsigned char>(a)) ==
                        std::tolower(static_cast<unsigned char>(b));
               })) {
      current = name;
    }
  }
  std::sort(monthly.begin(), monthly.end());
  std::vector<std::string> order;
  for (auto& [month, name] : monthly) order.push_back(std::move(name));
  if (current) order.push_back(*current);
  return order;
}

PowerReport::PowerReport(const LocalStamp& now)
    : now_{UtcSeconds(now), now.utc_offset_minutes},
      oldest_kept_(now_.utc - 30 * kDaySeconds),
      last_minute_utc_(std::numeric_limits<std::int64_t>::min()),
      last_event_utc_(std::numeric_limits<std::int64_t>::min()) {}

void PowerReport::AddText(std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    AddLine(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

void PowerReport::AddLine(std::string_view line) {
  if (line.substr(0, kBom.size()) == kBom) line.remove_prefix(kBom.size());
  if (line.empty() || line.substr(0, kHeaderStart.size()) == kHeaderStart) return;
  if (!ReadLine(line)) ++skipped_;
}

bool PowerReport::ReadLine(std::string_view line) {
  if (line.size() <= kStampLength) return false;
  const std::optional<Moment> when = ParseStamp(line.substr(0, kStampLength));
  if (!when) return false;
  // The separator follows the time; the numbers' decimal sign is whichever of "." and "," it
  // is not.
  const char separator = line[kStampLength];
  if (separator != ',' && separator != ';') return false;
  std::array<std::string_view, kFields> fields;
  std::size_t count = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = line.find(separator, start);
    if (count == kFields) return false;
    fields[count++] = line.substr(start, end == std::string_view::npos ? end : end - start);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (count != kFields) return false;

  if (fields[1] != "Minuto") {
    const std::optional<MonitorEvent> event = EventOfText(fields[1]);
    if (!event) return false;
    for (std::size_t i = 2; i < kFields; ++i) {
      if (!fields[i].empty()) return false;
    }
    // Events come in order; one earlier than the last is the clock set back.
    if (when->utc < last_event_utc_) return false;
    last_event_utc_ = when->utc;
    OnEvent(*event, *when);
    return true;
  }

  Minute m{};
  m.utc = when->utc;
  m.offset = static_cast<std::int16_t>(when->offset_minutes);
  float seconds = 0;
  const std::optional<LineState> state = LineOfText(fields[9]);
  if (!state || when->utc % 60 != 0 || !ParseNumber(fields[2], m.vmin) ||
      !ParseNumber(fields[3], m.vmean) || !ParseNumber(fields[4], m.vmax) ||
      !ParseNumber(fields[5], m.fmin) || !ParseNumber(fields[6], m.fmax) ||
      !ParseNumber(fields[7], m.battery) || !ParseNumber(fields[8], seconds) ||
      std::isnan(seconds) || seconds > 60 || seconds != std::floor(seconds)) {
    return false;
  }
  // A voltage is all three or none; the lowest never above the highest.
  const bool any_voltage = !std::isnan(m.vmin) || !std::isnan(m.vmean) || !std::isnan(m.vmax);
  if (any_voltage && (std::isnan(m.vmin) || std::isnan(m.vmean) || std::isnan(m.vmax) ||
                      m.vmin > m.vmean || m.vmean > m.vmax)) {
    return false;
  }
  if (std::isnan(m.fmin) != std::isnan(m.fmax) || m.fmin > m.fmax) return false;
  if (!std::isnan(m.battery) && m.battery > 100) return false;
  // Minutes come in order, one row each; one at or before the last is the clock set back.
  if (m.utc <= last_minute_utc_) return false;
  last_minute_utc_ = m.utc;
  m.seconds_on_battery = static_cast<std::uint8_t>(seconds);
  m.line = *state;
  if (m.utc >= oldest_kept_ && m.utc <= now_.utc) minutes_.push_back(m);
  return true;
}

void PowerReport::OnEvent(MonitorEvent event, const Moment& when) {
  if (when.utc > now_.utc) return;
  auto close = [&](OutageEnd how) {
    if (!open_) return;
    open_->end = when;
    open_->how = how;
    if (when.utc >= oldest_kept_ && outages_.size() < kMostOutages) outages_.push_back(*open_);
    open_.reset();
  };
  switch (event) {
    case MonitorEvent::PowerFailure:
      // A second failure while one is open (the monitor restarted on battery) is the same one.
      if (!open_) open_ = Outage{when, std::nullopt, OutageEnd::Open, std::nullopt};
      break;
    case MonitorEvent::PowerReturn:
      close(OutageEnd::PowerReturn);
      break;
    case MonitorEvent::ShutdownDecided:
      if (when.utc >= oldest_kept_ && shutdowns_.size() < kMostOutages) {
        shutdowns_.push_back(when.utc);
      }
      close(OutageEnd::ShutdownDecided);
      break;
    case MonitorEvent::UpsShutdownReport:
      close(OutageEnd::UpsShutdown);
      break;
    default:
      break;
  }
}

std::optional<double> PowerReport::LowestBatteryBetween(std::int64_t from, std::int64_t to) const {
  auto it = std::lower_bound(minutes_.begin(), minutes_.end(), from - 59,
                             [](const Minute& m, std::int64_t t) { return m.utc < t; });
  std::optional<double> lowest;
  for (; it != minutes_.end() && it->utc <= to; ++it) {
    if (!std::isnan(it->battery) && (!lowest || it->battery < *lowest)) lowest = it->battery;
  }
  return lowest;
}

std::vector<Outage> PowerReport::Outages(std::int64_t span_seconds) const {
  const std::int64_t from = now_.utc - span_seconds;
  std::vector<Outage> result;
  auto add = [&](Outage o) {
    if (o.end && o.end->utc <= from) return;
    o.lowest_battery = LowestBatteryBetween(o.start.utc, o.end ? o.end->utc : now_.utc);
    result.push_back(o);
  };
  for (const Outage& o : outages_) add(o);
  if (open_) add(*open_);
  return result;
}

ReportFigures PowerReport::Figures(std::int64_t span_seconds) const {
  const std::int64_t from = now_.utc - span_seconds;
  ReportFigures f;
  for (const Outage& o : Outages(span_seconds)) {
    ++f.outages;
    const std::int64_t begin = std::max(o.start.utc, from);
    const std::int64_t end = o.end ? o.end->utc : now_.utc;
    const std::int64_t seconds = std::max<std::int64_t>(0, end - begin);
    f.seconds_on_battery += seconds;
    f.longest_on_battery = std::max(f.longest_on_battery, seconds);
  }
  for (const std::int64_t t : shutdowns_) f.shutdowns_decided += t > from ? 1 : 0;
  auto it = std::lower_bound(minutes_.begin(), minutes_.end(), from,
                             [](const Minute& m, std::int64_t t) { return m.utc < t; });
  for (; it != minutes_.end(); ++it) {
    const Minute& m = *it;
    ++f.minutes_with_data;
    f.minutes_baja += m.line == LineState::Baja ? 1 : 0;
    f.minutes_alta += m.line == LineState::Alta ? 1 : 0;
    if (!std::isnan(m.battery) && (!f.lowest_battery || m.battery < *f.lowest_battery)) {
      f.lowest_battery = m.battery;
    }
    if (!std::isnan(m.vmin) && (!f.lowest_voltage || m.vmin < *f.lowest_voltage)) {
      f.lowest_voltage = m.vmin;
      f.lowest_voltage_at = {m.utc, m.offset};
    }
    if (!std::isnan(m.vmax) && (!f.highest_voltage || m.vmax > *f.highest_voltage)) {
      f.highest_voltage = m.vmax;
      f.highest_voltage_at = {m.utc, m.offset};
    }
  }
  return f;
}

std::vector<ChartBucket> PowerReport::Series(std::int64_t span_seconds,
                                             std::int64_t bucket_seconds) const {
  bucket_seconds = std::max<std::int64_t>(60, bucket_seconds);
  const std::int64_t count = (span_seconds + bucket_seconds - 1) / bucket_seconds;
  const std::int64_t from = now_.utc - count * bucket_seconds;
  std::vector<ChartBucket> buckets(static_cast<std::size_t>(count));
  std::vector<double> sums(buckets.size() * 2, 0.0);
  std::vector<int> voltage_counts(buckets.size(), 0), frequency_counts(buckets.size(), 0);
  auto it = std::lower_bound(minutes_.begin(), minutes_.end(), from,
                             [](const Minute& m, std::int64_t t) { return m.utc < t; });
  for (; it != minutes_.end(); ++it) {
    const Minute& m = *it;
    const auto i = static_cast<std::size_t>(
        std::min<std::int64_t>((m.utc - from) / bucket_seconds, count - 1));
    ChartBucket& b = buckets[i];
    ++b.minutes;
    if (!std::isnan(m.vmean)) {
      b.voltage_min = b.voltage_min ? std::min<double>(*b.voltage_min, m.vmin) : m.vmin;
      b.voltage_max = b.voltage_max ? std::max<double>(*b.voltage_max, m.vmax) : m.vmax;
      sums[2 * i] += m.vmean;
      ++voltage_counts[i];
    }
    if (!std::isnan(m.fmin)) {
      sums[2 * i + 1] += (m.fmin + m.fmax) / 2;
      ++frequency_counts[i];
    }
    // The lowest charge of the bucket, so an outage's dip shows at every scale.
    if (!std::isnan(m.battery)) {
      b.battery = b.battery ? std::min<double>(*b.battery, m.battery) : m.battery;
    }
  }
  for (std::size_t i = 0; i < buckets.size(); ++i) {
    if (voltage_counts[i] > 0) buckets[i].voltage_mean = sums[2 * i] / voltage_counts[i];
    if (frequency_counts[i] > 0) buckets[i].frequency = sums[2 * i + 1] / frequency_counts[i];
  }
  return buckets;
}

void PowerReport::Section(std::string& out, std::int64_t span, const VoltageLimits& limits,
                          std::string_view decimal) const {
  const char* title = span <= kDaySeconds       ? "Últimas 24 horas"
                      : span <= 7 * kDaySeconds ? "Últimos 7 días"
                                                : "Últimos 30 días";
  // One point a minute for a day, ten minutes for a week, half an hour for a month: about
  // 1,500 points a chart at most.
  const std::int64_t bucket = span <= kDaySeconds ? 60 : span <= 7 * kDaySeconds ? 600 : 1800;
  out += "<section><h2>";
  out += title;
  out += "</h2>";
  const ReportFigures f = Figures(span);
  const std::vector<Outage> outages = Outages(span);
  if (f.minutes_with_data == 0 && outages.empty()) {
    out += "<p class=\"note\">Sin datos en este periodo.</p></section>\n";
    return;
  }
  const std::vector<ChartBucket> buckets = Series(span, bucket);
  const ChartFrame frame{now_.utc - static_cast<std::int64_t>(buckets.size()) * bucket, now_.utc,
                         now_.offset_minutes, &outages};

  // Voltage: band, mean, and the limits.
  double low = limits.baja - 10, high = limits.alta + 10;
  for (const ChartBucket& b : buckets) {
    if (b.voltage_min) low = std::min(low, *b.voltage_min - 5);
    if (b.voltage_max) high = std::max(high, *b.voltage_max + 5);
  }
  low = std::floor(std::max(0.0, low) / 10) * 10;
  high = std::ceil(high / 10) * 10;
  const Scale volts{low, high};
  ChartStart(out, "Voltaje (V): mínimo a máximo y media", "Voltaje");
  ChartAxes(out, frame, volts, {low, limits.baja, limits.alta, high}, decimal, 0);
  out += "<path class=\"band\" d=\"" + BandPath(buckets, volts) + "\"/>";
  out += "<path class=\"mean\" d=\"" +
         LinePath(buckets, volts, [](const ChartBucket& b) { return b.voltage_mean; }) + "\"/>";
  HorizontalLine(out, "baja", volts.Y(limits.baja));
  HorizontalLine(out, "alta", volts.Y(limits.alta));
  out += "</svg></figure>\n";

  double flow = 59, fhigh = 61;
  for (const ChartBucket& b : buckets) {
    if (b.frequency) {
      flow = std::min(flow, std::floor(*b.frequency - 0.5));
      fhigh = std::max(fhigh, std::ceil(*b.frequency + 0.5));
    }
  }
  const Scale hertz{flow, fhigh};
  ChartStart(out, "Frecuencia (Hz)", "Frecuencia");
  ChartAxes(out, frame, hertz, {flow, (flow + fhigh) / 2, fhigh}, decimal, 1);
  out += "<path class=\"freq\" d=\"" +
         LinePath(buckets, hertz, [](const ChartBucket& b) { return b.frequency; }) + "\"/>";
  out += "</svg></figure>\n";

  const Scale percent{0, 100};
  ChartStart(out, "Bateria (%)", "Bateria");
  ChartAxes(out, frame, percent, {0, 50, 100}, decimal, 0);
  out += "<path class=\"bat\" d=\"" +
         LinePath(buckets, percent, [](const ChartBucket& b) { return b.battery; }) + "\"/>";
  out += "</svg></figure>\n";

  // The figures.
  auto volts_at = [&](const std::optional<double>& v, const Moment& at) {
    return v ? NumberText(*v, 1, decimal) + " V (" + DateTimeText(at) + ")" : std::string("—");
  };
  out += "<dl class=\"fig\">";
  auto figure = [&](const char* name, const std::string& value) {
    out += "<dt>";
    out += name;
    out += "</dt><dd>" + HtmlEscape(value) + "</dd>";
  };
  figure("Cortes de energía", std::to_string(f.outages));
  figure("Tiempo total en bateria", DurationText(f.seconds_on_battery));
  figure("Corte más largo", DurationText(f.longest_on_battery));
  figure("Carga mínima de la bateria",
         f.lowest_battery ? NumberText(*f.lowest_battery, 0, decimal) + " %" : "—");
  figure("Minutos con Linea Baja", std::to_string(f.minutes_baja));
  figure("Minutos con Linea Alta", std::to_string(f.minutes_alta));
  figure("Voltaje mínimo", volts_at(f.lowest_voltage, f.lowest_voltage_at));
  figure("Voltaje máximo", volts_at(f.highest_voltage, f.highest_voltage_at));
  figure("Cierres Forzados decididos", std::to_string(f.shutdowns_decided));
  figure("Minutos con datos", std::to_string(f.minutes_with_data));
  out += "</dl>\n";

  // The outage table.
  if (outages.empty()) {
    out += "<p class=\"note\">Ningún Corte de energía en este periodo.</p>";
  } else {
    out +=
        "<table><thead><tr><th>Inicio</th><th>Fin</th><th>Duración</th><th>Carga mínima</th>"
        "<th>Cómo terminó</th></tr></thead><tbody>\n";
    for (const Outage& o : outages) {
      const std::int64_t end = o.end ? o.end->utc : now_.utc;
      out +=
          "<tr><td>" + HtmlEscape(DateTimeText(o.start)) + "</td><td>" +
          (o.end ? HtmlEscape(DateTimeText(*o.end)) : std::string("—")) + "</td><td>" +
          HtmlEscape(DurationText(end - o.start.utc)) + "</td><td>" +
          (o.lowest_battery ? NumberText(*o.lowest_battery, 0, decimal) + " %" : std::string("—")) +
          "</td><td>" + EndText(o.how) + "</td></tr>\n";
    }
    out += "</tbody></table>";
  }
  out += "</section>\n";
}

std::string PowerReport::Html(const VoltageLimits& limits, std::string_view decimal) const {
  std::string out;
  out.reserve(256 * 1024);
  out +=
      "<!DOCTYPE html>\n<html lang=\"es\"><head><meta charset=\"utf-8\">"
      "<title>Informe de energía</title>";
  out += kStyle;
  out += "</head><body>\n<h1>Informe de energía</h1>\n<p class=\"note\">Hecho el " +
         HtmlEscape(DateTimeText(now_)) + ". Linea Baja bajo " +
         NumberText(limits.baja, 0, decimal) + " V, Linea Alta sobre " +
         NumberText(limits.alta, 0, decimal) + " V.";
  if (skipped_ > 0) {
    out += " Se omitieron " + std::to_string(skipped_) +
           (skipped_ == 1 ? " línea que no se pudo leer" : " líneas que no se pudieron leer") +
           " del historial.";
  }
  out += "</p>\n";
  if (!has_data()) {
    out +=
        "<section><h2>Sin datos todavía</h2><p>El historial no tiene datos todavía. Corvamon "
        "escribe un registro en Historial.csv cada minuto mientras recibe lecturas del "
        "UPS.</p></section>\n";
  } else {
    for (const std::int64_t span : kReportSpans) Section(out, span, limits, decimal);
  }
  out += "</body></html>\n";
  return out;
}

}  // namespace corva::history
