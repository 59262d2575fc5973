#pragma once
// When the computer shuts down, and how: the battery threshold and battery time rules, the
// TimerApagar and Timerdesconexion countdowns, the decision with its log entry, and the shutdown
// sequence (documents saved, the UPS told to switch itself off, Windows shut down).

#include <cstdint>
#include <functional>
#include <string_view>

#include "monitor_listener.h"
#include "monitor_state.h"
#include "ports.h"
#include "power_events.h"
#include "reboot.h"

namespace corva {

class ShutdownRules {
 public:
  // `signal_ups_turn_off` tells the UPS, on whichever link it is on, to switch itself off after
  // ApagaTNXMinutos minutes, and answers whether the command left.
  ShutdownRules(MonitorState& state, Bitacora& log, MainView& view, OfficeSaver& office,
                SystemShutdown& shutdown, std::function<bool()> signal_ups_turn_off,
                const MonitorListeners& listeners = MonitorListeners::None());

  // Both countdowns start full: ApagaCuantosMinutos and ApagaDesconexionSegundos seconds.
  void ResetCountdowns();
  // The device is back: the disconnection countdown is full again for the next loss.
  void RefillDisconnectCountdown();

  // A frame on battery: the threshold rule, then the battery time rule, may decide the shutdown.
  void ApplyBatteryRules();
  // A second of battery time: down on battery, back up once power has returned.
  void TimerApagar_Timer();
  // A second without the USB device; at zero the shutdown is decided and run.
  void Timerdesconexion_Timer();
  // The shutdown sequence: save documents, wait for the computers that follow this UPS to
  // leave, tell the UPS to switch off, shut Windows down.
  void RunShutdownSequence();

  // Hibernar=1 at start: when hibernation is not possible, said once in the log and lblmsg.
  void CheckHibernationAtStart();
  // A second after hibernation was asked for. The computer should be going down: if it is still
  // up after kHibernationWaitSeconds and frames since the request say the UPS is on its battery,
  // the forced shutdown. Without such frames the computer is taken to have woken (Windows'
  // notice lost): answers true when the monitor starts over as after WakeFromHibernation.
  bool TimerHibernar_Timer();
  // The computer is going to sleep: a hibernation asked for is under way.
  void Suspending();
  // The computer woke. After a hibernation of the monitor's own, the monitor starts over as a
  // monitor: the decision, the countdowns and the sequence's once-only guard are cleared, and
  // only new frames can decide again. Answers whether it woke from such a hibernation.
  bool WakeFromHibernation();
  // Whether the monitor asked for hibernation and the computer has not woken from it yet.
  bool Hibernating() const { return hibernating_; }

  std::int16_t CountdownSeconds() const { return countdown_seconds_; }
  std::int16_t DisconnectSeconds() const { return disconnect_seconds_; }
  std::uint64_t ShutdownSequenceRuns() const { return shutdown_runs_; }
  // Whether the shutdown sequence is under way (it lets window messages run).
  bool SequenceRunning() const { return shutdown_running_; }
  // Whether the system has taken the shutdown request.
  bool ShutdownAccepted() const { return shutdown_accepted_; }

 private:
  void DecideShutdown(std::string_view event_text);
  // Hibernates instead of the forced shutdown; answers false (with its log entry) when the
  // computer could not hibernate, so that the forced shutdown follows at once.
  bool HibernateInstead();
  std::string BatteryLabel() const;

  MonitorState& state_;
  Bitacora& log_;
  MainView& view_;
  OfficeSaver& office_;
  SystemShutdown& shutdown_;
  std::function<bool()> signal_ups_turn_off_;
  const MonitorListeners& listeners_;
  std::int16_t countdown_seconds_ = 0;
  std::int16_t disconnect_seconds_ = 0;
  std::uint64_t shutdown_runs_ = 0;
  // The sequence (documents, UPS signal) runs once; a refused shutdown is asked for again.
  bool shutdown_prepared_ = false;
  bool shutdown_accepted_ = false;
  bool shutdown_running_ = false;
  // Hibernation was tried for this decision (a failed try goes on to the forced shutdown).
  bool hibernation_tried_ = false;
  // The system took the hibernation request; the wake has not come yet.
  bool hibernating_ = false;
  // A frame on battery came after the system took the request.
  bool battery_frame_while_hibernating_ = false;
  std::int16_t hibernation_wait_ = 0;
};

// How long, after the system took the hibernation request, the monitor waits for the computer
// to go down before it shuts it down instead.
inline constexpr std::int16_t kHibernationWaitSeconds = 60;

// How long the program waits for a locked log before it ends or shuts the computer down.
inline constexpr int kExitLogWaitMs = 5000;

}  // namespace corva
