// The power history's rows: minutes folded from frames at explicit times, event rows and the
// text Excel reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "history_feed.h"
#include "history_files.h"
#include "history_rows.h"
#include "minute_aggregator.h"
#include "pending_rows.h"

namespace corva::history {
namespace {

constexpr int kMexico = -360;  // UTC-06:00

LocalStamp At(int day, int hour, int minute, int second, int offset = kMexico, int month = 12,
              int year = 2026) {
  return {year, month, day, hour, minute, second, offset};
}

FrameReading OnLine(LocalStamp when, double volts, double hz = 60.0, double battery = 100,
                    LineState line = LineState::Normal) {
  return {when, false, volts, hz, true, battery, line};
}

FrameReading OnBattery(LocalStamp when, double battery) {
  // Whatever the voltage bytes and the line byte of a battery frame read, they are not the
  // line's: the UPS reports its line as low while it runs on its battery.
  return {when, true, 50, 60.0, true, battery, LineState::Baja};
}

// Feeds the frames and collects the rows they close.
std::vector<MinuteRow> Feed(MinuteAggregator& aggregator, const std::vector<FrameReading>& frames) {
  std::vector<MinuteRow> rows;
  for (const FrameReading& f : frames) {
    if (auto row = aggregator.Add(f)) rows.push_back(*row);
  }
  return rows;
}

TEST(HistoryMinutes, FoldsTheFramesOfAMinuteIntoOneRowClosedByTheNextMinute) {
  MinuteAggregator aggregator;
  auto rows = Feed(aggregator, {OnLine(At(7, 14, 5, 0), 120, 59.8, 100),
                                OnLine(At(7, 14, 5, 20), 96, 60.2, 99, LineState::Baja),
                                OnLine(At(7, 14, 5, 40), 126, 60.0, 98)});
  EXPECT_TRUE(rows.empty()) << "a minute stays open while its frames come";
  EXPECT_FALSE(aggregator.Tick(At(7, 14, 5, 59))) << "the minute is not over";

  rows = Feed(aggregator, {OnLine(At(7, 14, 6, 1), 121, 60.0, 97)});
  ASSERT_EQ(rows.size(), 1u);
  const MinuteRow& row = rows[0];
  EXPECT_EQ(row.minute, At(7, 14, 5, 0));
  EXPECT_DOUBLE_EQ(*row.voltage_min, 96);
  EXPECT_DOUBLE_EQ(*row.voltage_mean, (120 + 96 + 126) / 3.0);
  EXPECT_DOUBLE_EQ(*row.voltage_max, 126);
  EXPECT_DOUBLE_EQ(*row.frequency_min, 59.8);
  EXPECT_DOUBLE_EQ(*row.frequency_max, 60.2);
  EXPECT_DOUBLE_EQ(*row.battery, 98) << "the battery at the end of the minute";
  EXPECT_EQ(row.seconds_on_battery, 0);
  EXPECT_EQ(row.worst_line, LineState::Baja);

  // Tick closes the minute once it is over; a second flush has nothing left.
  EXPECT_FALSE(aggregator.Tick(At(7, 14, 6, 59)));
  auto ticked = aggregator.Tick(At(7, 14, 7, 0));
  ASSERT_TRUE(ticked);
  EXPECT_EQ(ticked->minute, At(7, 14, 6, 0));
  EXPECT_FALSE(aggregator.Flush());
}

TEST(HistoryMinutes, OnBatteryCountsSecondsAndTakesNoVoltage) {
  MinuteAggregator aggregator;
  std::vector<FrameReading> frames;
  // Line power until 14:05:30, then on battery one frame a second until 14:06:20, back at :20.
  for (int s = 0; s < 30; ++s) frames.push_back(OnLine(At(7, 14, 5, s), 118 + s % 3));
  for (int s = 30; s < 80; ++s) frames.push_back(OnBattery(At(7, 14, 5 + s / 60, s % 60), 90));
  frames.push_back(OnLine(At(7, 14, 6, 20), 119));
  auto rows = Feed(aggregator, frames);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].seconds_on_battery, 30);
  EXPECT_DOUBLE_EQ(*rows[0].voltage_max, 120) << "battery frames carry no voltage";
  EXPECT_DOUBLE_EQ(*rows[0].voltage_min, 118);
  EXPECT_EQ(rows[0].worst_line, LineState::Normal) << "an outage is not a minute of low voltage";

  auto last = aggregator.Flush();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->seconds_on_battery, 20);
  EXPECT_DOUBLE_EQ(*last->voltage_mean, 119) << "only the line-power frame gives a voltage";

  // A whole minute on battery has no voltage at all; the battery is the last one read.
  MinuteAggregator all_battery;
  Feed(all_battery, {OnBattery(At(7, 15, 0, 0), 80), OnBattery(At(7, 15, 0, 30), 75)});
  auto row = all_battery.Tick(At(7, 15, 1, 0));
  ASSERT_TRUE(row);
  EXPECT_FALSE(row->voltage_min || row->voltage_mean || row->voltage_max);
  EXPECT_DOUBLE_EQ(*row->battery, 75);
  // Two frames 30 s apart: only the hold of each counts, a silent link is not time on battery.
  EXPECT_EQ(row->seconds_on_battery, 2 * MinuteAggregator::kFrameHoldSeconds);
}

TEST(HistoryMinutes, GapsWriteNothingAndTheWorstLineStateWins) {
  MinuteAggregator aggregator;
  auto rows = Feed(aggregator, {OnLine(At(7, 14, 5, 10), 140, 60, 100, LineState::Alta),
                                OnLine(At(7, 14, 5, 11), 120, 60, 100, LineState::Sobrecarga),
                                OnLine(At(7, 14, 5, 12), 100, 60, 100, LineState::Baja),
                                // Nothing for twenty minutes.
                                OnLine(At(7, 14, 25, 0), 120)});
  ASSERT_EQ(rows.size(), 1u) << "the minutes without frames give no rows";
  EXPECT_EQ(rows[0].worst_line, LineState::Sobrecarga);
  // A frame without a battery byte leaves the battery unknown.
  MinuteAggregator unread;
  unread.Add({At(7, 14, 5, 10), false, 120, 60, false, 0, LineState::Normal});
  EXPECT_FALSE(unread.Flush()->battery);
}

TEST(HistoryMinutes, NeverMergesAMinuteAcrossAChangeOfTheUtcOffset) {
  // Summer time ends: 01:59 at -05:00 is followed by 01:00 at -06:00, and 01:30 comes twice.
  MinuteAggregator back;
  auto rows =
      Feed(back, {OnLine(At(1, 1, 30, 10, -300, 11), 110), OnLine(At(1, 1, 59, 59, -300, 11), 111),
                  OnLine(At(1, 1, 0, 0, -360, 11), 112), OnLine(At(1, 1, 30, 10, -360, 11), 113),
                  OnLine(At(1, 1, 30, 50, -360, 11), 114)});
  ASSERT_EQ(rows.size(), 3u);
  auto last = back.Flush();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->minute, At(1, 1, 30, 0, -360, 11));
  EXPECT_DOUBLE_EQ(*last->voltage_min, 113) << "the second 01:30 is its own minute";
  EXPECT_NE(MinuteRowText(rows[0], {}), MinuteRowText(*last, {}));

  // Summer time starts: 01:59:59 at -06:00 is followed by 03:00:00 at -05:00, one second later;
  // the battery second between them still counts, in the minute it belongs to.
  MinuteAggregator forward;
  rows = Feed(forward,
              {OnBattery(At(5, 1, 59, 58, -360, 4), 90), OnBattery(At(5, 1, 59, 59, -360, 4), 90),
               OnBattery(At(5, 3, 0, 0, -300, 4), 89)});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].seconds_on_battery, 2);
  EXPECT_EQ(forward.Tick(At(5, 3, 0, 30, -300, 4)), std::nullopt);
  EXPECT_EQ(forward.Flush()->minute, At(5, 3, 0, 0, -300, 4));

  // The same minute under another offset (the time zone changed) is another minute too.
  MinuteAggregator zone;
  rows = Feed(zone, {OnLine(At(7, 14, 5, 0), 120), OnLine(At(7, 15, 5, 1, -300), 120)});
  EXPECT_EQ(rows.size(), 1u);
}

TEST(HistoryMinutes, AMonthChangeClosesTheLastMinuteOfTheMonth) {
  MinuteAggregator aggregator;
  auto rows = Feed(aggregator, {OnBattery(At(31, 23, 59, 58), 70),
                                OnBattery(At(1, 0, 0, 1, kMexico, 1, 2027), 69)});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].minute, At(31, 23, 59, 0));
  EXPECT_EQ(rows[0].seconds_on_battery, 2);
  auto next = aggregator.Flush();
  EXPECT_EQ(next->minute, At(1, 0, 0, 0, kMexico, 1, 2027));
  // Second 0 of the new minute from the last frame, then the new frame's own hold.
  EXPECT_EQ(next->seconds_on_battery, 1 + MinuteAggregator::kFrameHoldSeconds);
}

TEST(HistoryRows, EventsAndMinutesAsExcelReadsThemInMexicoAndSpain) {
  const CsvFormat mexico{",", "."};
  const CsvFormat spain{";", ","};

  MinuteRow row;
  row.minute = At(7, 14, 5, 0);
  row.voltage_min = 96.04;
  row.voltage_mean = 118.26;
  row.voltage_max = 126;
  row.frequency_min = 59.8;
  row.frequency_max = 60.2;
  row.battery = 98;
  row.seconds_on_battery = 12;
  row.worst_line = LineState::Baja;
  EXPECT_EQ(MinuteRowText(row, mexico),
            "2026-12-07T14:05:00-06:00,Minuto,96.0,118.3,126.0,59.8,60.2,98,12,Baja\r\n");
  EXPECT_EQ(MinuteRowText(row, spain),
            "2026-12-07T14:05:00-06:00;Minuto;96,0;118,3;126,0;59,8;60,2;98;12;Baja\r\n");
  row.voltage_min = row.voltage_mean = row.voltage_max = std::nullopt;
  EXPECT_EQ(MinuteRowText(row, spain),
            "2026-12-07T14:05:00-06:00;Minuto;;;;59,8;60,2;98;12;Baja\r\n");
  // A separator equal to the decimal sign would split the numbers: another one is used.
  EXPECT_EQ(MinuteRowText(row, {",", ","}).find(",,"), std::string::npos);

  auto failure = EventRowFor(MonitorEvent::PowerFailure, At(7, 14, 5, 23, 330));
  ASSERT_TRUE(failure);
  EXPECT_EQ(EventRowText(*failure, spain),
            "2026-12-07T14:05:23+05:30;Corte de energía;;;;;;;;\r\n");
  EXPECT_FALSE(EventRowFor(MonitorEvent::UpsToldToTurnOff, At(7, 14, 5, 23)));

  // Every line has the same number of fields as the header, which starts with the mark that
  // makes Excel read the accents.
  const std::string start = FileStartText(spain);
  EXPECT_EQ(start.rfind("\xEF\xBB\xBF", 0), 0u);
  auto fields = [](const std::string& line) { return std::count(line.begin(), line.end(), ';'); };
  EXPECT_EQ(fields(start), fields(EventRowText(*failure, spain)));
  EXPECT_EQ(fields(start), fields(MinuteRowText(row, spain)));
}

TEST(HistoryFeed, TakesTheFramesTheMonitorReportsAndNotTheLinkAlone) {
  StatusReadings readings;
  readings.voltage = 121.5;
  readings.frequency = 60.1;
  readings.battery = 87;
  readings.battery_read = true;
  readings.line_class = "Sobrecarga";
  MonitorStatus status;
  status.frame = true;
  status.on_battery = true;
  status.readings = &readings;
  auto frame = FrameFromStatus(status, At(7, 14, 5, 9));
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->when, At(7, 14, 5, 9));
  EXPECT_TRUE(frame->on_battery);
  EXPECT_DOUBLE_EQ(frame->voltage, 121.5);
  EXPECT_DOUBLE_EQ(frame->frequency, 60.1);
  EXPECT_TRUE(frame->battery_read);
  EXPECT_DOUBLE_EQ(frame->battery, 87);
  EXPECT_EQ(frame->line, LineState::Sobrecarga);
  readings.line_class = "Alta";
  EXPECT_EQ(FrameFromStatus(status, At(7, 14, 5, 9))->line, LineState::Alta);

  status.frame = false;
  status.link_lost = true;
  EXPECT_FALSE(FrameFromStatus(status, At(7, 14, 5, 10)));
}

TEST(HistoryFiles, RenamesAFinishedMonthAndKeepsThirteenMonths) {
  const YearMonth january{2027, 1};
  const std::vector<std::string> folder = {
      "Historial.csv",         "Historial-2025-12.csv",     "historial-2025-11.CSV",
      "Historial-2026-01.csv", "Historial-2026-12.csv",     "Historial-2026-13.csv",
      "Historial-2026-1.csv",  "Historial-2025-12.csv.bak", "Bitacora.txt"};
  // December's rows are in Historial.csv in January: it becomes December's file. Of the monthly
  // files only those before January 2026 go: this month and the twelve before it stay.
  Rollover plan = PlanRollover(YearMonth{2026, 12}, january, folder);
  EXPECT_EQ(plan.rename_to, "Historial-2026-12.csv");
  EXPECT_EQ(plan.to_delete,
            (std::vector<std::string>{"Historial-2025-12.csv", "historial-2025-11.CSV"}));

  // Rows of this month stay where they are, and so do rows of a later one after the clock was
  // set back; a missing or empty file has nothing to rename.
  EXPECT_FALSE(PlanRollover(january, january, {}).rename_to);
  EXPECT_FALSE(PlanRollover(YearMonth{2027, 2}, january, {}).rename_to);
  EXPECT_FALSE(PlanRollover(std::nullopt, january, {}).rename_to);
  // A computer off for over a year: the old file is renamed and goes with the others.
  plan = PlanRollover(YearMonth{2025, 6}, january, {});
  EXPECT_EQ(plan.rename_to, "Historial-2025-06.csv");
  EXPECT_EQ(plan.to_delete, std::vector<std::string>{"Historial-2025-06.csv"});

  // The month of the file comes from its rows; the column names and a line cut short have none.
  const CsvFormat spain{";", ","};
  MinuteRow last_of_month;
  last_of_month.minute = At(31, 23, 59, 0);
  EXPECT_EQ(MonthOfRow(MinuteRowText(last_of_month, spain)), (YearMonth{2026, 12}));
  EXPECT_EQ(MonthOfRow("\xEF\xBB\xBF"
                       "2026-11-30T23:59:00-06:00;Minuto"),
            (YearMonth{2026, 11}));
  EXPECT_FALSE(MonthOfRow(FileStartText(spain)));
  EXPECT_FALSE(MonthOfRow("2026-12"));
  EXPECT_FALSE(MonthOfRow("2026-00-07T14:05:00-06:00"));
}

TEST(HistoryPending, KeepsRowsInOrderWithinTheBoundGivingUpMinutesBeforeEvents) {
  PendingRows pending(4);
  pending.PushMinute("m1");
  pending.PushEvent("e1");
  pending.PushMinute("m2");
  pending.PushMinute("m3");
  pending.PushEvent("e2");   // full: m1 goes
  pending.PushMinute("m4");  // full: m2 goes
  EXPECT_EQ(pending.size(), 4u);
  EXPECT_EQ(pending.dropped(), 2u);

  // The file is locked after two rows: the rest wait, and go out in order later.
  std::vector<std::string> file;
  auto locked_after = [&file](std::size_t n) {
    return [&file, n](std::string_view row) {
      if (file.size() >= n) return false;
      file.emplace_back(row);
      return true;
    };
  };
  EXPECT_EQ(pending.Drain(locked_after(2)), 2u);
  EXPECT_EQ(pending.Drain(locked_after(6)), 2u);
  EXPECT_EQ(file, (std::vector<std::string>{"e1", "m3", "e2", "m4"}));
  EXPECT_TRUE(pending.empty());
  EXPECT_EQ(pending.Drain(locked_after(100)), 0u) << "a row written is never written again";

  // Only events waiting: a new minute row is given up, a new event pushes out the oldest.
  PendingRows events(2);
  events.PushEvent("e1");
  events.PushEvent("e2");
  events.PushMinute("m1");
  file.clear();
  events.Drain(locked_after(10));
  EXPECT_EQ(file, (std::vector<std::string>{"e1", "e2"}));
  events.PushEvent("e3");
  events.PushEvent("e4");
  events.PushEvent("e5");
  file.clear();
  events.Drain(locked_after(10));
  EXPECT_EQ(file, (std::vector<std::string>{"e4", "e5"}));

  // A long lock stays within the bound.
  PendingRows day;
  for (int i = 0; i < 3 * 1440; ++i) day.PushMinute("minute");
  day.PushEvent("Corte de energía");
  for (int i = 0; i < 20000; ++i) day.PushMinute("minute");
  EXPECT_EQ(day.size(), PendingRows::kDefaultCapacity);
  file.clear();
  day.Drain(locked_after(1));
  EXPECT_EQ(file, std::vector<std::string>{"Corte de energía"});
}

}  // namespace
}  // namespace corva::history
