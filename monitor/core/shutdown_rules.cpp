#include "shutdown_rules.h"

#include <limits>
#include <string>
#include <utility>

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
  // A forced shutdown ends this program at once: the log entries still waiting for a locked
  // Bitacora.txt (the decision's own among them) go out first, or never.
  log_.WritePending(kExitLogWaitMs);
  shutdown_accepted_ = shutdown_.ShutdownSystem(kShutdownForced);
}

}  // namespace corva
