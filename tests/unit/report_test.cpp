// The power report: the history read back from the rows the writer makes, its figures, outage
// table, charts with gaps, and lines it cannot read.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "history_rows.h"
#include "report.h"

namespace corva::history {
namespace {

constexpr int kMexico = -360;
const CsvFormat kMexicoCsv{",", "."};
const CsvFormat kSpainCsv{";", ","};

LocalStamp At(int day, int hour, int minute, int second = 0, int offset = kMexico) {
  return {2026, 12, day, hour, minute, second, offset};
}

// Adds `minutes` from `start` of the given voltage band to `text`.
struct HistoryText {
  CsvFormat format;
  std::string text;

  explicit HistoryText(const CsvFormat& f) : format(f), text(FileStartText(f)) {}

  void Minutes(LocalStamp start, int count, double volts, double battery = 100,
               LineState line = LineState::Normal) {
    for (int i = 0; i < count; ++i) {
      LocalStamp s = start;
      const int total = s.hour * 60 + s.minute + i;
      s.hour = total / 60;
      s.minute = total % 60;
      MinuteRow row;
      row.minute = s;
      row.voltage_min = volts - 1.5;
      row.voltage_mean = volts;
      row.voltage_max = volts + 2.5;
      row.frequency_min = 59.9;
      row.frequency_max = 60.1;
      row.battery = battery;
      row.worst_line = line;
      text += MinuteRowText(row, format);
    }
  }
  // Minutes on battery: no voltage, the charge falling from `from` by one a minute.
  void OnBattery(LocalStamp start, int count, double from) {
    for (int i = 0; i < count; ++i) {
      MinuteRow row;
      row.minute = start;
      row.minute.minute += i;
      row.frequency_min = row.frequency_max = 60;
      row.battery = from - i;
      row.seconds_on_battery = 60;
      text += MinuteRowText(row, format);
    }
  }
  void Event(LocalStamp when, MonitorEvent event) {
    text += EventRowText(*EventRowFor(event, when), format);
  }
};

// Two hours before noon of the 7th, with a gap, low and high minutes and one outage; a forced
// shutdown three days before; an outage that began the evening of the 5th and ended the 6th.
HistoryText KnownHistory(const CsvFormat& format) {
  HistoryText h(format);
  h.Event(At(4, 20, 0, 10), MonitorEvent::PowerFailure);
  h.Minutes(At(4, 19, 0), 60, 121);
  h.OnBattery(At(4, 20, 0), 30, 99);
  h.Event(At(4, 20, 30, 5), MonitorEvent::ShutdownDecided);
  h.Event(At(5, 23, 0, 0), MonitorEvent::PowerFailure);
  h.Event(At(6, 13, 0, 0), MonitorEvent::PowerReturn);  // 14 h, 1 h of them in the last day
  h.Minutes(At(7, 10, 0), 10, 120);
  h.Minutes(At(7, 10, 10), 5, 95, 100, LineState::Baja);
  h.Minutes(At(7, 10, 15), 15, 118);
  // 10:30 to 10:39: nothing.
  h.Minutes(At(7, 10, 40), 10, 122);
  h.Minutes(At(7, 10, 50), 1, 141, 100, LineState::Alta);
  h.Minutes(At(7, 10, 51), 9, 122);
  h.Event(At(7, 11, 0, 20), MonitorEvent::PowerFailure);
  h.OnBattery(At(7, 11, 0), 13, 98);  // down to 86 %
  h.Event(At(7, 11, 12, 50), MonitorEvent::PowerReturn);
  h.Minutes(At(7, 11, 13), 47, 119, 90);
  return h;
}

TEST(PowerReport, FiguresAndOutagesOfAKnownHistory) {
  PowerReport report(At(7, 12, 0));
  report.AddText(KnownHistory(kMexicoCsv).text);
  EXPECT_EQ(report.skipped_lines(), 0);

  const ReportFigures day = report.Figures(kDaySeconds);
  EXPECT_EQ(day.outages, 2) << "the one of this morning and the one still on at noon of the 6th";
  EXPECT_EQ(day.seconds_on_battery, 3600 + 12 * 60 + 30);
  EXPECT_EQ(day.longest_on_battery, 3600) << "the span inside the day";
  ASSERT_TRUE(day.lowest_battery);
  EXPECT_DOUBLE_EQ(*day.lowest_battery, 86);
  EXPECT_EQ(day.minutes_baja, 5);
  EXPECT_EQ(day.minutes_alta, 1);
  ASSERT_TRUE(day.lowest_voltage && day.highest_voltage);
  EXPECT_DOUBLE_EQ(*day.lowest_voltage, 93.5);
  EXPECT_EQ(day.lowest_voltage_at.utc, UtcSeconds(At(7, 10, 10)));
  EXPECT_DOUBLE_EQ(*day.highest_voltage, 143.5);
  EXPECT_EQ(day.highest_voltage_at.utc, UtcSeconds(At(7, 10, 50)));
  EXPECT_EQ(day.shutdowns_decided, 0);
  EXPECT_EQ(day.minutes_with_data, 110);

  const ReportFigures week = report.Figures(7 * kDaySeconds);
  EXPECT_EQ(week.outages, 3);
  EXPECT_EQ(week.shutdowns_decided, 1);
  EXPECT_EQ(week.longest_on_battery, 14 * 3600);
  EXPECT_DOUBLE_EQ(*week.lowest_battery, 70);

  const auto outages = report.Outages(7 * kDaySeconds);
  ASSERT_EQ(outages.size(), 3u);
  EXPECT_EQ(outages[0].how, OutageEnd::ShutdownDecided);
  EXPECT_EQ(outages[0].end->utc, UtcSeconds(At(4, 20, 30, 5)));
  EXPECT_EQ(outages[1].how, OutageEnd::PowerReturn);
  EXPECT_FALSE(outages[1].lowest_battery) << "no minute row during that one";
  EXPECT_EQ(outages[2].start.utc, UtcSeconds(At(7, 11, 0, 20)));
  EXPECT_DOUBLE_EQ(*outages[2].lowest_battery, 86);

  const std::string page = report.Html({});
  for (const char* text :
       {"Últimas 24 horas", "Últimos 7 días", "Últimos 30 días", "07/12/2026 11:00",
        "07/12/2026 11:12", "12 min 30 s", "Retorno de energía", "Apagado: Cierre Forzado",
        "14 h 00 min", "86 %", "93.5 V (07/12/2026 10:10)"}) {
    EXPECT_NE(page.find(text), std::string::npos) << text;
  }
  for (const char* fetch : {"<script", "src=", "href=", "url(", "@import"}) {
    EXPECT_EQ(page.find(fetch), std::string::npos) << "nothing run or fetched: " << fetch;
  }
  EXPECT_EQ(page.find("Se omitieron"), std::string::npos);
}

TEST(PowerReport, AnOutageStillOpenRunsToNow) {
  HistoryText h(kSpainCsv);
  h.Minutes(At(7, 11, 0), 30, 120);
  h.Event(At(7, 11, 30, 0), MonitorEvent::PowerFailure);
  h.OnBattery(At(7, 11, 30), 20, 100);
  PowerReport report(At(7, 12, 0));
  report.AddText(h.text);
  const auto outages = report.Outages(kDaySeconds);
  ASSERT_EQ(outages.size(), 1u);
  EXPECT_EQ(outages[0].how, OutageEnd::Open);
  EXPECT_EQ(report.Figures(kDaySeconds).seconds_on_battery, 30 * 60);
  EXPECT_NE(report.Html({}).find("Sigue en bateria"), std::string::npos);
}

TEST(PowerReport, GapsAreNeverJoinedByALine) {
  PowerReport report(At(7, 12, 0));
  report.AddText(KnownHistory(kMexicoCsv).text);
  const auto buckets = report.Series(kDaySeconds, 60);
  ASSERT_EQ(buckets.size(), 1440u);
  // The last two hours: 10:00 is bucket 1320.
  EXPECT_EQ(buckets[1320 + 29].minutes, 1);
  EXPECT_EQ(buckets[1320 + 30].minutes, 0);
  EXPECT_EQ(buckets[1320 + 39].minutes, 0);
  EXPECT_EQ(buckets[1320 + 40].minutes, 1);
  EXPECT_FALSE(buckets[1320 + 65].voltage_mean) << "on battery there is no line voltage";

  // In the day's voltage chart the mean is three pieces: before the gap, before the outage and
  // after it; the band the same three shapes.
  const std::string page = report.Html({});
  const auto mean = page.find("class=\"mean\" d=\"");
  ASSERT_NE(mean, std::string::npos);
  const std::string path = page.substr(mean, page.find('"', mean + 16) - mean);
  EXPECT_EQ(std::count(path.begin(), path.end(), 'M'), 3);
  const auto band = page.find("class=\"band\" d=\"");
  const std::string shape = page.substr(band, page.find('"', band + 16) - band);
  EXPECT_EQ(std::count(shape.begin(), shape.end(), 'Z'), 3);

  // A week in ten-minute buckets: the ten empty minutes are one empty bucket.
  const auto week = report.Series(7 * kDaySeconds, 600);
  EXPECT_EQ(week.size(), 1008u);
  EXPECT_EQ(week[1008 - 12 + 3].minutes, 0);
  EXPECT_EQ(week[1008 - 12 + 4].minutes, 10);
}

TEST(PowerReport, SkipsAndCountsLinesItCannotRead) {
  HistoryText h(kMexicoCsv);
  h.Minutes(At(7, 11, 0), 10, 120);
  const std::string good = h.text;
  std::string text = good;
  text += "hola,mundo\r\n";                 // foreign
  text += "<script>alert(1)</script>\r\n";  // foreign, markup
  const std::string last = good.substr(good.rfind("2026-12-07T11:09"));
  text += last.substr(0, 25) + "\r\n";  // cut short: the time alone
  text += last.substr(0, 30) + "\r\n";  // cut short mid-row
  text += FileStartText(kMexicoCsv);    // a second file's start: not a row, not counted
  {
    HistoryText back(kMexicoCsv);
    back.Minutes(At(7, 11, 5), 1, 200);  // the clock set back: an earlier minute again
    text += back.text.substr(back.text.find("2026"));
  }
  std::string row = last;
  row.replace(0, 16, "2026-12-07T11:10");
  text += row.substr(0, 30) + "\xEF\xBB\xBF" + row.substr(30);  // a BOM inside a row
  text += std::string("\xff\xfe\x00\x01garbage", 11) + "\r\n";
  text += "2026-12-07T11:11:00-06:00,Minuto,120.0,119.0,121.0,60.0,60.0,101,0,Normal\r\n";
  text += "2026-12-07T11:12:00-06:00,Minuto,abc,119.0,121.0,60.0,60.0,100,0,Normal\r\n";
  text += "2026-12-07T11:13:00-06:00,Corte de energía,1,,,,,,,\r\n";
  text += "2026-13-07T11:14:00-06:00,Minuto,120.0,119.0,121.0,60.0,60.0,100,0,Normal\r\n";
  text += "\r\n";  // an empty line is nothing
  text += "2026-12-07T11:15:00-06:00,Minuto,120.0,121.0,122.0,60.0,60.0,95,0,Baja";  // no end

  PowerReport report(At(7, 12, 0));
  report.AddText(text);
  EXPECT_EQ(report.skipped_lines(), 11);
  const ReportFigures f = report.Figures(kDaySeconds);
  EXPECT_EQ(f.minutes_with_data, 11) << "the ten good minutes and the last one";
  EXPECT_EQ(f.minutes_baja, 1);
  EXPECT_DOUBLE_EQ(*f.highest_voltage, 122.5);
  EXPECT_EQ(f.outages, 0);
  const std::string page = report.Html({});
  EXPECT_NE(page.find("Se omitieron 11 líneas"), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
}

TEST(PowerReport, ReadsBothSeparatorsAndDecimalSigns) {
  PowerReport mexico(At(7, 12, 0)), spain(At(7, 12, 0)), both(At(7, 12, 0));
  const std::string mexico_text = KnownHistory(kMexicoCsv).text;
  const std::string spain_text = KnownHistory(kSpainCsv).text;
  ASSERT_NE(spain_text.find(";143,5;"), std::string::npos) << "the Spanish decimal sign";
  mexico.AddText(mexico_text);
  spain.AddText(spain_text);
  EXPECT_EQ(spain.skipped_lines(), 0);
  EXPECT_EQ(spain.Html({}, ","), mexico.Html({}, ","));
  const ReportFigures f = spain.Figures(kDaySeconds);
  EXPECT_DOUBLE_EQ(*f.lowest_voltage, 93.5);
  EXPECT_EQ(f.outages, 2);
  EXPECT_NE(spain.Html({}, ",").find("93,5 V"), std::string::npos);

  // A file copied from the other machine: the older part in one format, the rest in the other.
  const auto half = mexico_text.find("2026-12-07T10:40");
  both.AddText(mexico_text.substr(0, half));
  both.AddText(spain_text.substr(spain_text.find("2026-12-07T10:40")));
  EXPECT_EQ(both.skipped_lines(), 0);
  EXPECT_EQ(both.Html({}), mexico.Html({}));
}

TEST(PowerReport, TheHourRepeatedWhenSummerTimeEndsIsNotTheClockSetBack) {
  // 01:00 to 01:59 at -05:00, then the same hour again at -06:00.
  HistoryText h(kMexicoCsv);
  h.Minutes(At(1, 1, 0, 0, -300), 60, 120);
  h.Minutes(At(1, 1, 0, 0, -360), 60, 110);
  PowerReport report(At(1, 3, 0, 0, -360));
  report.AddText(h.text);
  EXPECT_EQ(report.skipped_lines(), 0);
  const ReportFigures f = report.Figures(kDaySeconds);
  EXPECT_EQ(f.minutes_with_data, 120);
  EXPECT_EQ(f.lowest_voltage_at.offset_minutes, -360);
  // 02:00 -05:00 is 01:00 -06:00: no gap between the two hours, and none overlaid.
  const auto buckets = report.Series(3 * 3600, 60);
  for (int i = 0; i < 120; ++i) EXPECT_EQ(buckets[i].minutes, 1) << i;
  EXPECT_EQ(buckets[120].minutes, 0);
}

TEST(PowerReport, TheReportCommandIsInformeWithASlashOrADashInAnyCase) {
  for (const char* yes : {"/informe", "-informe", "/INFORME", " -Informe ", "/informe\r\n"}) {
    EXPECT_TRUE(IsReportCommand(yes)) << yes;
  }
  for (const char* no : {"", "informe", "/informes", "/inform", "/informe x", "--informe",
                         "/informe/informe", "/minimizado"}) {
    EXPECT_FALSE(IsReportCommand(no)) << no;
  }
}

TEST(PowerReport, ReadsTheMonthlyFilesFromTheOldestAndHistorialLast) {
  EXPECT_EQ(ReportFileOrder({"historial.CSV", "Bitacora.txt", "Historial-2026-11.csv",
                             "Historial-2025-12.csv", "Historial-2026-1.csv", "Corvamon.ini",
                             "Historial-2026-02.csv"}),
            (std::vector<std::string>{"Historial-2025-12.csv", "Historial-2026-02.csv",
                                      "Historial-2026-11.csv", "historial.CSV"}));
}

TEST(PowerReport, WithoutHistoryThePageSaysThereIsNoDataYet) {
  for (const std::string& text :
       {std::string(), FileStartText(kMexicoCsv), std::string("\xEF\xBB\xBF"),
        std::string("2026-10-01T10:00:00-06:00,Minuto,120.0,120.0,120.0,60.0,60.0,100,0,Normal")}) {
    PowerReport report(At(7, 12, 0));
    report.AddText(text);
    const std::string page = report.Html({});
    EXPECT_NE(page.find("El historial no tiene datos todavía"), std::string::npos);
    EXPECT_NE(page.find("</html>"), std::string::npos);
    EXPECT_EQ(report.skipped_lines(), 0);
  }
}

}  // namespace
}  // namespace corva::history
