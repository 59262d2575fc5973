#pragma once
// The power events a status frame reports (line failure, return of power, the UPS shutting
// itself down) and the event log they write, Bitacora.txt.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "event_log.h"
#include "monitor_state.h"
#include "ports.h"

namespace corva {

// The monitor's log entries: stamped with the time they happen, written at once, or kept and
// tried again on TimerBitacora while another program holds Bitacora.txt locked.
class Bitacora {
 public:
  Bitacora(const MonitorState& state, LogFile& file, MainView& view, const Platform& platform);

  // Builds an entry stamped now, remembers it as LastLogEntry when asked, and writes it.
  void Write(std::string_view event_text, const std::vector<std::string>& labels, bool remember);
  // Writes the log entries still waiting, trying again for up to `wait_ms` while another program
  // holds the log locked. Answers whether none is left waiting.
  bool WritePending(int wait_ms);
  void TimerBitacora_Timer();

  // The last entry remembered: the start, a line failure, the UPS's shutdown report or a shutdown
  // decision. Empty until the first frame is logged in a run.
  const std::string& LastLogEntry() const { return last_entry_; }
  void ForgetLastEntry() { last_entry_.clear(); }
  const EventLogWriter& Writer() const { return writer_; }

 private:
  // After a write that left entries waiting: a file that refuses writes for good is said once
  // in lblmsg, and nobody waits for it.
  void NoteFailure();

  const MonitorState& state_;
  MainView& view_;
  const Platform& platform_;
  LogFile& file_;
  EventLogWriter writer_;
  std::string last_entry_;
  bool refused_ = false;
  bool refusal_said_ = false;
};

// What a frame's mode byte meant for the power.
enum class PowerEvent {
  None,              // nothing changed
  PowerReturned,     // the line is back after running on the battery
  RunningOnBattery,  // the UPS runs on its battery (the first such frame, or a later one)
  UpsShutdown,       // the UPS reports it is shutting itself down
};

class PowerEvents {
 public:
  PowerEvents(MonitorState& state, Bitacora& log, ShellTray& tray, MainView& view);

  // Applies the mode byte of the frame in state.readings: the log entries, balloons and tray icon
  // of a line failure or of the return of power, and the shutdown request of the UPS's own
  // shutdown.
  PowerEvent ApplyOperatingMode(std::uint8_t mode);
  // The first frame of a run that Bitacora logs writes the start entry with all its readings.
  void WriteStartEntry();

 private:
  void OnPowerFailure();
  void OnPowerReturn();
  std::string BatteryLabel() const;

  MonitorState& state_;
  Bitacora& log_;
  ShellTray& tray_;
  MainView& view_;
};

}  // namespace corva
