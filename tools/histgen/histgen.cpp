// Writes a realistic power history: one row a minute up to a given end, with an evening voltage
// sag, a few outages (their event rows, the battery falling and charging again, a forced
// shutdown when it runs low), and some gaps where the computer was off. The rows are the
// writer's own texts (history_rows), in either regional format.
//
//   histgen [--dir DIR] [--days N] [--end 2026-12-07T12:00:00-06:00] [--format mx|es]
//           [--monthly] [--outages N] [--outage MINUTES_AGO:MINUTES]... [--seed N]
//
// --monthly splits the rows into Historial-AAAA-MM.csv for the finished months and
// Historial.csv for the month of the end, as Corvamon leaves them.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "history_files.h"
#include "history_rows.h"

using namespace corva::history;

namespace {

LocalStamp StampOf(std::int64_t utc, int offset_minutes) {
  return StampAt(utc, offset_minutes);
}

bool ParseEnd(const char* text, LocalStamp& s) {
  char sign = '+';
  int oh = 0, om = 0;
  if (std::sscanf(text, "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &s.year, &s.month, &s.day, &s.hour,
                  &s.minute, &s.second, &sign, &oh, &om) != 9 ||
      (sign != '+' && sign != '-')) {
    return false;
  }
  s.utc_offset_minutes = (sign == '-' ? -1 : 1) * (oh * 60 + om);
  return true;
}

struct PlannedOutage {
  std::int64_t start, length;  // seconds
};

int Usage() {
  std::cerr << "uso: histgen [--dir DIR] [--days N] [--end AAAA-MM-DDTHH:MM:SS+HH:MM]\n"
               "               [--format mx|es] [--monthly] [--outages N]\n"
               "               [--outage MINUTOS_ATRAS:MINUTOS]... [--seed N]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = ".";
  int days = 30, outages = -1;
  bool monthly = false;
  unsigned seed = 18;
  CsvFormat format{",", "."};
  std::vector<std::pair<long, long>> fixed;
  LocalStamp end{};
  bool have_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--monthly") {
      monthly = true;
      continue;
    }
    if (!value) return Usage();
    ++i;
    if (arg == "--dir") {
      dir = value;
    } else if (arg == "--days") {
      days = std::atoi(value);
    } else if (arg == "--outages") {
      outages = std::atoi(value);
    } else if (arg == "--seed") {
      seed = static_cast<unsigned>(std::atoi(value));
    } else if (arg == "--format") {
      format = std::string(value) == "es" ? CsvFormat{";", ","} : CsvFormat{",", "."};
    } else if (arg == "--end") {
      if (!ParseEnd(value, end)) return Usage();
      have_end = true;
    } else if (arg == "--outage") {
      long ago = 0, length = 0;
      if (std::sscanf(value, "%ld:%ld", &ago, &length) != 2 || length <= 0) return Usage();
      fixed.emplace_back(ago, length);
    } else {
      return Usage();
    }
  }
  if (days <= 0 || days > 800) return Usage();
  if (!have_end) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    end = StampOf(now, static_cast<int>(local.tm_gmtoff / 60));
  }
  const int offset = end.utc_offset_minutes;
  const std::int64_t end_utc = UtcSeconds(MinuteStart(end));
  const std::int64_t start_utc = end_utc - days * 86400LL;

  std::mt19937 rng(seed);
  auto uniform = [&](double a, double b) { return std::uniform_real_distribution<>(a, b)(rng); };

  // The outages: the fixed ones, and a few more scattered over the span (about one in six days).
  if (outages < 0) outages = days / 6 + 1;
  std::vector<PlannedOutage> planned;
  for (const auto& [ago, length] : fixed) {
    planned.push_back({end_utc - ago * 60, length * 60 + 17});
  }
  // The given outages stay as asked: nothing random comes within three hours of them.
  const std::size_t fixed_count = planned.size();
  auto near_fixed = [&](std::int64_t from, std::int64_t to) {
    for (std::size_t i = 0; i < fixed_count; ++i) {
      const PlannedOutage& o = planned[i];
      if (from < o.start + o.length + 3 * 3600 && to > o.start - 3 * 3600) return true;
    }
    return false;
  };
  for (int i = 0; i < outages; ++i) {
    const std::int64_t at =
        start_utc + static_cast<std::int64_t>(uniform(0.05, 0.95) * (end_utc - start_utc - 7200));
    const PlannedOutage o{at + static_cast<int>(uniform(0, 59)),
                          static_cast<std::int64_t>(uniform(2, i % 4 == 3 ? 90 : 35) * 60)};
    if (!near_fixed(o.start, o.start + o.length)) planned.push_back(o);
  }
  // Gaps: the computer off for a while, about one in four days.
  std::vector<PlannedOutage> gaps;
  for (int i = 0; i < days / 4 + 1; ++i) {
    const PlannedOutage g{
        start_utc + static_cast<std::int64_t>(uniform(0, 1) * (end_utc - start_utc)),
        static_cast<std::int64_t>(uniform(10, 180)) * 60};
    if (!near_fixed(g.start, g.start + g.length)) gaps.push_back(g);
  }

  std::map<std::string, std::string> files;
  const std::string current = kHistoryFileName;
  auto file_for = [&](const LocalStamp& s) -> std::string& {
    const YearMonth month{s.year, s.month};
    const std::string name =
        monthly && month < YearMonth{end.year, end.month} ? MonthlyFileName(month) : current;
    std::string& text = files[name];
    if (text.empty()) text = FileStartText(format);
    return text;
  };

  double battery = 100;
  std::int64_t rows = 0;
  std::int64_t off_until = 0;
  const PlannedOutage* in_outage = nullptr;
  for (std::int64_t t = start_utc; t < end_utc; t += 60) {
    const LocalStamp stamp = StampOf(t, offset);
    if (t < off_until) continue;
    bool gap = false;
    for (const PlannedOutage& g : gaps) gap = gap || (t >= g.start && t < g.start + g.length);
    if (gap && !in_outage) continue;

    std::string& text = file_for(stamp);
    // The outage events that fall in this minute come before its row, at their second.
    int seconds_on_battery = 0;
    if (!in_outage) {
      for (const PlannedOutage& o : planned) {
        if (o.start >= t && o.start < t + 60) {
          in_outage = &o;
          text +=
              EventRowText({StampOf(o.start, offset), corva::MonitorEvent::PowerFailure}, format);
          seconds_on_battery = static_cast<int>(t + 60 - o.start);
          break;
        }
      }
    } else {
      seconds_on_battery = 60;
    }
    if (in_outage) {
      const std::int64_t back = in_outage->start + in_outage->length;
      battery = std::max(0.0, battery - 1.5 * seconds_on_battery / 60.0);
      if (battery <= 30) {
        // Low battery: the monitor decides the shutdown and the computer stays off until the
        // power returns (and a little more).
        text +=
            EventRowText({StampOf(t + 30, offset), corva::MonitorEvent::ShutdownDecided}, format);
        in_outage = nullptr;
        off_until = back + 600;
      } else if (back < t + 60) {
        text += EventRowText({StampOf(back, offset), corva::MonitorEvent::PowerReturn}, format);
        seconds_on_battery -= static_cast<int>(t + 60 - back);
        in_outage = nullptr;
      }
    } else {
      battery = std::min(100.0, battery + 0.6);
    }

    MinuteRow row;
    row.minute = stamp;
    row.seconds_on_battery = std::max(0, seconds_on_battery);
    const bool all_on_battery = row.seconds_on_battery >= 60;
    // An evening sag from 18:00 to 23:00, deepest at 20:30.
    const double hour = stamp.hour + stamp.minute / 60.0;
    const double sag = hour >= 18 && hour < 23 ? 22 * std::sin((hour - 18) / 5 * M_PI) : 0;
    const double mean = 121 + uniform(-1.5, 1.5) - sag + (uniform(0, 1) < 0.0005 ? 22 : 0);
    if (!all_on_battery) {
      row.voltage_min = mean - uniform(0.3, 3);
      row.voltage_mean = mean;
      row.voltage_max = mean + uniform(0.3, 3);
      row.worst_line = *row.voltage_min < 96    ? LineState::Baja
                       : *row.voltage_max > 140 ? LineState::Alta
                                                : LineState::Normal;
    }
    row.frequency_min = 60 - uniform(0, 0.15);
    row.frequency_max = 60 + uniform(0, 0.15);
    row.battery = std::round(battery);
    text += MinuteRowText(row, format);
    ++rows;
  }

  for (const auto& [name, text] : files) {
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out << text;
    if (!out) {
      std::cerr << "histgen: no se pudo escribir " << dir << "/" << name << "\n";
      return 1;
    }
  }
  std::cout << rows << " minutos en " << files.size() << " archivo(s)\n";
  return 0;
}
