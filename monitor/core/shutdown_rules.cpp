#include "shutdown_rules.h"

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "corva_funciones.h"
#include "monitor_texts.h"

namespace corva {
namespace {

// The countdowns are 16-bit counters that stop at their bounds instead of wrapping.
std::int16_t Decrement(std::int16_t value) {
  return value == std::numeric_limits<std::int16_t>::min() ? value
                                                           : static_cast<std::int16_t>(value - 1);
}
std::int16_t Increment(std::int16_t value) {
  return value == std::numeric_limits<std::int16_t>::max() ? value
                                                           : static_cast<std::int16_t>(value + 1);
}

// A system message on one line of the log: its line breaks (FormatMessage ends its texts with
// one) become blanks, and none is left at either end.
std::string OneLine(std::string_view message) {
  std::string line;
  for (const char c : message) {
    const bool blank = c == '\r' || c == '\n' || c == ' ' || c == '\t';
    if (blank && (line.empty() || line.back() == ' ')) continue;
    line += blank ? ' ' : c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string CountdownText(std::int16_t seconds) {
  return text::kShutdownIn + std::to_string(seconds) + text::kSeconds;
}

}  // namespace

ShutdownRules::ShutdownRules(MonitorState& state, Bitacora& log, MainView& view,
                             OfficeSaver& office, SystemShutdown& shutdown,
                             std::function<bool()> signal_ups_turn_off,
                             const MonitorListeners& listeners)
    : state_(state),
      log_(log),
      view_(view),
      office_(office),
      shutdown_(shutdown),
      signal_ups_turn_off_(std::move(signal_ups_turn_off)),
      listeners_(listeners) {}

void ShutdownRules::ResetCountdowns() {
  countdown_seconds_ = state_.Settings.ApagaCuantosMinutos;
  disconnect_seconds_ = state_.Settings.ApagaDesconexionSegundos;
}

void ShutdownRules::RefillDisconnectCountdown() {
  disconnect_seconds_ = state_.Settings.ApagaDesconexionSegundos;
}

void ShutdownRules::DecideShutdown(std::string_view event_text) {
  // These entries are written whatever Bitacora says.
  log_.Write(event_text,
             {text::kLabelOperation + ModeTextFromByte(state_.OnBattery ? '1' : '0'),
              text::kLabelBattery + BatteryText(state_.readings, state_.separators)},
             true);
  state_.ShutdownRequested = true;
}

void ShutdownRules::ApplyBatteryRules() {
  if (hibernating_) battery_frame_while_hibernating_ = true;
  if (state_.ShutdownRequested) return;  // decided already; the sequence is under way
  const MonitorSettings& settings = state_.Settings;
  if (settings.ApagaPorcentaje == 1 && state_.BatteryPercent <= settings.ApagaQuePorcentaje) {
    DecideShutdown(text::kLogThresholdShutdown);
    return;
  }
  if (settings.ApagaMinutos == 1) {
    if (!view_.TimerEnabled(Timer::TimerApagar)) view_.EnableTimer(Timer::TimerApagar, true);
    if (countdown_seconds_ <= 0) DecideShutdown(text::kLogTimeShutdown);
  }
}

void ShutdownRules::TimerApagar_Timer() {
  if (state_.OnBattery) {
    countdown_seconds_ = Decrement(countdown_seconds_);
    view_.SetVisible(Control::lblmsg, true);
    view_.SetText(Control::lblmsg, countdown_seconds_ < 1 ? std::string(text::kShuttingDownPc)
                                                          : CountdownText(countdown_seconds_));
  } else {
    // Power is back: the countdown climbs back a second per second, then rests full.
    countdown_seconds_ = Increment(countdown_seconds_);
    view_.SetVisible(Control::lblmsg, false);
    if (countdown_seconds_ > state_.Settings.ApagaCuantosMinutos) {
      view_.EnableTimer(Timer::TimerApagar, false);
      countdown_seconds_ = state_.Settings.ApagaCuantosMinutos;
    }
  }
}

void ShutdownRules::Timerdesconexion_Timer() {
  if (state_.Settings.ApagaDesconexion == 0) return;
  disconnect_seconds_ = Decrement(disconnect_seconds_);
  view_.SetVisible(Control::lblmsg, true);
  if (disconnect_seconds_ < 1) {
    view_.SetText(Control::lblmsg, text::kShuttingDownPc);
    if (!state_.ShutdownRequested) DecideShutdown(text::kLogTimeShutdown);
    view_.EnableTimer(Timer::Timerdesconexion, false);
    // Not guarded: a refused shutdown here is an error nobody handles, shown to the user.
    RunShutdownSequence();
  } else {
    view_.SetText(Control::lblmsg, CountdownText(disconnect_seconds_));
  }
}

void ShutdownRules::RunShutdownSequence() {
  ++shutdown_runs_;
  // The sequence lets window messages run (the serial send, the wait for the log): a frame that
  // comes meanwhile must not start it again inside itself.
  if (shutdown_accepted_ || shutdown_running_) return;
  struct Running {
    bool& flag;
    explicit Running(bool& f) : flag(f) { flag = true; }
    ~Running() { flag = false; }
  } running(shutdown_running_);
  if (!shutdown_prepared_) {
    // Documents are saved and the UPS told only once: telling it again would restart its own
    // countdown.
    shutdown_prepared_ = true;
    // Once decided, the countdowns have nothing left to count.
    view_.EnableTimer(Timer::TimerApagar, false);
    view_.EnableTimer(Timer::Timerdesconexion, false);
    // Computers that follow this UPS start their own shutdown now, while documents are saved.
    listeners_.EventHappened(MonitorEvent::ShutdownDecided);
    if (state_.Settings.GuardaOffice != 0) {
      view_.SetText(Control::lblmsg, text::kSavingApplications);
      try {
        office_.SaveAllOffice(state_.Settings.PathOffice);
      } catch (...) {
        // Whatever the saving met, the UPS is still told and the computer still goes down.
      }
    }
    // They must be down before the UPS switches itself off; one that never leaves holds the
    // sequence no longer than its wait.
    if (listeners_.FollowersLoggedIn() > 0) {
      view_.WaitWhile([this] { return listeners_.FollowersLoggedIn() > 0; },
                      listeners_.FollowerWaitMs());
    }
    view_.SetText(Control::lblmsg, text::kShutdownMessage);
    if (state_.Settings.ApagaTNX == 1) {
      view_.SetText(Control::lblmsg, text::kSignalToUps);
      if (signal_ups_turn_off_()) {
        listeners_.EventHappened(MonitorEvent::UpsToldToTurnOff);
      } else {
        // The cable or the device went away under the command: the computer still goes down,
        // and the log says the UPS will not switch itself off (written whatever Bitacora says,
        // as the decision is).
        log_.Write(text::kLogUpsNotTold, {}, false);
      }
    }
  }
  if (hibernating_) return;  // asked for and taken; the wake starts the monitor over
  // A forced shutdown ends this program at once: the log entries still waiting for a locked
  // Bitacora.txt (the decision's own among them) go out first, or never.
  log_.WritePending(kExitLogWaitMs);
  if (state_.Settings.Hibernar && !hibernation_tried_) {
    // Tried once per decision: when it cannot be done the forced shutdown comes at once.
    hibernation_tried_ = true;
    if (HibernateInstead()) return;
  }
  shutdown_accepted_ = shutdown_.ShutdownSystem(kShutdownForced);
}

std::string ShutdownRules::BatteryLabel() const {
  return text::kLabelBattery + BatteryText(state_.readings, state_.separators);
}

bool ShutdownRules::HibernateInstead() {
  std::string reason;
  const char* event_text = text::kLogHibernationUnavailable;
  if (shutdown_.HibernationAvailable()) {
    // Written before the call: on Windows it returns only once the computer has woken again.
    log_.Write(text::kLogHibernate, {BatteryLabel()}, true);
    log_.WritePending(kExitLogWaitMs);
    view_.SetText(Control::lblmsg, text::kHibernatingPc);
    event_text = text::kLogHibernationRefused;
    try {
      if (shutdown_.Hibernate()) {
        hibernating_ = true;
        battery_frame_while_hibernating_ = false;
        hibernation_wait_ = kHibernationWaitSeconds;
        view_.EnableTimer(Timer::TimerHibernar, true);
        return true;
      }
    } catch (const CorvaError& error) {
      reason = OneLine(error.Description());
    }
  }
  std::vector<std::string> labels;
  if (!reason.empty()) labels.push_back(reason);
  labels.push_back(text::kShuttingDownPc);
  log_.Write(event_text, labels, true);
  log_.WritePending(kExitLogWaitMs);
  view_.SetText(Control::lblmsg, text::kShuttingDownPc);
  return false;
}

void ShutdownRules::CheckHibernationAtStart() {
  if (!state_.Settings.Hibernar || shutdown_.HibernationAvailable()) return;
  log_.Write(text::kLogHibernationUnavailable, {}, false);
  view_.SetText(Control::lblmsg, text::kHibernationUnavailable);
}

bool ShutdownRules::TimerHibernar_Timer() {
  if (!hibernating_) {
    view_.EnableTimer(Timer::TimerHibernar, false);
    return false;
  }
  hibernation_wait_ = Decrement(hibernation_wait_);
  if (hibernation_wait_ > 0) return false;
  view_.EnableTimer(Timer::TimerHibernar, false);
  if (!battery_frame_while_hibernating_ || !state_.OnBattery) {
    // No frame on battery since the request: the computer went down and woke without a word
    // from Windows, or it is on line power and safe. Either way the monitor goes on as one.
    return WakeFromHibernation();
  }
  // Taken but never done, and the UPS says it is still on battery: the computer must not stay
  // on.
  hibernating_ = false;
  log_.Write(text::kLogHibernationNotDone, {BatteryLabel(), text::kShuttingDownPc}, true);
  view_.SetText(Control::lblmsg, text::kShuttingDownPc);
  RunShutdownSequence();
  return false;
}

void ShutdownRules::Suspending() {
  if (hibernating_) view_.EnableTimer(Timer::TimerHibernar, false);
}

bool ShutdownRules::WakeFromHibernation() {
  if (!hibernating_) return false;
  hibernating_ = false;
  battery_frame_while_hibernating_ = false;
  hibernation_tried_ = false;
  shutdown_prepared_ = false;
  shutdown_accepted_ = false;
  state_.ShutdownRequested = false;
  ResetCountdowns();
  view_.EnableTimer(Timer::TimerHibernar, false);
  view_.EnableTimer(Timer::TimerApagar, false);
  view_.EnableTimer(Timer::Timerdesconexion, false);
  view_.SetText(Control::lblmsg, "");
  log_.Write(text::kLogHibernateResume, {}, true);
  listeners_.EventHappened(MonitorEvent::ShutdownWithdrawn);
  return true;
}

}  // namespace corva
