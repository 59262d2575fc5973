// The history as the monitor feeds it, into a folder the test holds: rows in order, whole, once,
// while the file is locked and across a change of month.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "history_recorder.h"

namespace corva::history {
namespace {

constexpr int kMexico = -360;

class FakeFolder final : public HistoryStore {
 public:
  std::map<std::string, std::string> files;
  bool locked = false;  // another program holds Historial.csv

  bool Append(std::string_view name, std::string_view start, std::string_view row) override {
    if (locked) return false;
    std::string& text = files[std::string(name)];
    if (text.empty()) text += start;
    text += row;
    return true;
  }
  std::string ReadStart(std::string_view name, std::size_t max) override {
    const auto found = files.find(std::string(name));
    return found == files.end() ? std::string() : found->second.substr(0, max);
  }
  bool Rename(std::string_view from, std::string_view to) override {
    if (locked) return false;
    auto node = files.extract(std::string(from));
    if (node.empty()) return false;
    node.key() = std::string(to);
    files.insert(std::move(node));
    return true;
  }
  std::vector<std::string> List() override {
    std::vector<std::string> names;
    for (const auto& [name, text] : files) names.push_back(name);
    return names;
  }
  void Remove(std::string_view name) override { files.erase(std::string(name)); }

  // The rows of a file, without its first line of names.
  std::vector<std::string> Rows(const std::string& name) const {
    std::vector<std::string> rows;
    const std::string& text = files.at(name);
    std::size_t at = text.find("\r\n") + 2;
    while (at < text.size()) {
      const std::size_t end = text.find("\r\n", at);
      rows.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return rows;
  }
};

struct Rig {
  FakeFolder folder;
  LocalStamp now{2026, 12, 7, 14, 5, 0, kMexico};
  StatusReadings readings{100, 120, 60, "Normal", "", true, std::nullopt};
  HistoryRecorder recorder{folder, [this] { return now; }, CsvFormat{";", ","}, 4};

  void At(int hour, int minute, int second, int day = 7, int month = 12) {
    now = {2026, month, day, hour, minute, second, kMexico};
  }
  void Frame(double volts, bool on_battery = false) {
    readings.voltage = volts;
    MonitorStatus status;
    status.frame = true;
    status.on_battery = on_battery;
    status.readings = &readings;
    recorder.StatusChanged(status);
  }
};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(HistoryRecorder, WritesMinutesAndEventsInOrderWholeAndOnceThroughALockedFile) {
  Rig rig;
  rig.Frame(120);
  rig.At(14, 5, 30);
  rig.Frame(118);
  rig.At(14, 6, 0);
  rig.Frame(0, true);  // the next minute's frame closes 14:05
  rig.At(14, 6, 0);
  rig.recorder.EventHappened(MonitorEvent::PowerFailure);

  // Excel holds the file open: the rows wait.
  rig.folder.locked = true;
  rig.At(14, 7, 2);
  rig.Frame(121);
  rig.recorder.EventHappened(MonitorEvent::PowerReturn);
  rig.At(14, 8, 1);
  rig.Frame(122);
  rig.recorder.EventHappened(MonitorEvent::UpsToldToTurnOff);  // not a row of the history
  EXPECT_EQ(rig.recorder.pending(), 3u) << "14:06, the return, 14:07";

  // The link goes quiet: the timer closes the open minute once it is over.
  rig.At(14, 9, 30);
  rig.folder.locked = false;
  rig.recorder.Tick();
  EXPECT_EQ(rig.recorder.pending(), 0u);

  const std::string& text = rig.folder.files.at(kHistoryFileName);
  EXPECT_TRUE(StartsWith(text,
                         "\xEF\xBB\xBF"
                         "Fecha y hora;"))
      << "names once, at the start";
  EXPECT_EQ(text.find("Fecha y hora", 4), std::string::npos);
  const auto rows = rig.folder.Rows(kHistoryFileName);
  ASSERT_EQ(rows.size(), 6u) << text;
  EXPECT_TRUE(StartsWith(rows[0], "2026-12-07T14:05:00-06:00;Minuto;118,0;119,0;120,0;"));
  EXPECT_TRUE(StartsWith(rows[1], "2026-12-07T14:06:00-06:00;Corte de energía;"));
  EXPECT_TRUE(StartsWith(rows[2], "2026-12-07T14:06:00-06:00;Minuto;;;;"));
  EXPECT_TRUE(StartsWith(rows[3], "2026-12-07T14:07:02-06:00;Retorno de energía;"));
  EXPECT_TRUE(StartsWith(rows[4], "2026-12-07T14:07:00-06:00;Minuto;121,0"));
  EXPECT_TRUE(StartsWith(rows[5], "2026-12-07T14:08:00-06:00;Minuto;122,0"));

  // Nothing is written again, and the program's end writes the minute still open.
  rig.At(14, 10, 5);
  rig.Frame(123);
  rig.recorder.Tick();
  EXPECT_EQ(rig.folder.Rows(kHistoryFileName).size(), 6u);
  rig.recorder.Flush();
  EXPECT_EQ(rig.folder.Rows(kHistoryFileName).size(), 7u);

  // The link goes quiet before the timer comes: the event that follows still comes after the
  // minute it follows.
  rig.At(14, 11, 0);
  rig.Frame(124);
  rig.At(14, 12, 30);
  rig.recorder.EventHappened(MonitorEvent::LinkLost);
  const auto last = rig.folder.Rows(kHistoryFileName);
  ASSERT_EQ(last.size(), 9u);
  EXPECT_TRUE(StartsWith(last[7], "2026-12-07T14:11:00-06:00;Minuto;124,0"));
  EXPECT_TRUE(StartsWith(last[8], "2026-12-07T14:12:30-06:00;Conexión perdida;"));
}

TEST(HistoryRecorder, NamesAFinishedMonthBeforeTheNewMonthsFirstRowAndDropsTheOldest) {
  Rig rig;
  FakeFolder& folder = rig.folder;
  folder.files["Historial-2025-11.csv"] = "old";  // 13 months before December 2026: goes
  folder.files["Historial-2025-12.csv"] = "kept";
  rig.At(23, 59, 10, 30, 11);
  rig.Frame(120);
  rig.At(0, 0, 5, 1, 12);
  rig.Frame(119);  // closes November's last minute, into November's file
  ASSERT_EQ(folder.Rows(kHistoryFileName).size(), 1u);

  // December's first row waits while the file is held, and the file keeps its name meanwhile.
  folder.locked = true;
  rig.recorder.EventHappened(MonitorEvent::PowerFailure);
  EXPECT_EQ(folder.files.count("Historial-2026-11.csv"), 0u);
  folder.locked = false;
  rig.recorder.Tick();

  ASSERT_EQ(folder.files.count("Historial-2026-11.csv"), 1u);
  const auto november = folder.Rows("Historial-2026-11.csv");
  ASSERT_EQ(november.size(), 1u);
  EXPECT_TRUE(StartsWith(november[0], "2026-11-30T23:59:00-06:00;Minuto;"));
  const auto december = folder.Rows(kHistoryFileName);
  ASSERT_EQ(december.size(), 1u);
  EXPECT_TRUE(StartsWith(december[0], "2026-12-01T00:00:05-06:00;Corte de energía;"));
  EXPECT_EQ(folder.files.count("Historial-2025-11.csv"), 0u);
  EXPECT_EQ(folder.files.count("Historial-2025-12.csv"), 1u);

  // A file removed by hand while the program runs starts again with its names.
  folder.files.erase(kHistoryFileName);
  rig.At(0, 2, 0, 1, 12);
  rig.recorder.EventHappened(MonitorEvent::PowerReturn);
  EXPECT_TRUE(StartsWith(folder.files.at(kHistoryFileName),
                         "\xEF\xBB\xBF"
                         "Fecha y hora;"));
}

TEST(HistoryRecorder, OnlyZeroTurnsTheHistoryOff) {
  EXPECT_TRUE(HistoryEnabled(std::nullopt));
  EXPECT_TRUE(HistoryEnabled(""));
  EXPECT_TRUE(HistoryEnabled("1"));
  EXPECT_TRUE(HistoryEnabled("no"));
  EXPECT_FALSE(HistoryEnabled("0"));
  EXPECT_FALSE(HistoryEnabled(" 0 "));
}

}  // namespace
}  // namespace corva::history
