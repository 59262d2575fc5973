// Shutdown rules, countdowns and the shutdown sequence with the UPS turn-off signal.

#include <algorithm>
#include <array>
#include <limits>

#include "corva_funciones.h"
#include "principal.h"
#include "protocol.h"

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

void Principal::DecideShutdown(std::string_view event_text) {
  // These entries are written whatever Bitacora says.
  WriteLogEntry(event_text,
                {text::kLabelOperation + ModeTextFromByte(OnBattery ? '1' : '0'),
                 text::kLabelBattery + BatteryText()},
                true);
  ShutdownRequested = true;
}

void Principal::ApplyBatteryRules() {
  if (ShutdownRequested) return;  // decided already; the sequence is under way
  if (Settings.ApagaPorcentaje == 1 && BatteryPercent <= Settings.ApagaQuePorcentaje) {
    DecideShutdown(text::kLogThresholdShutdown);
    return;
  }
  if (Settings.ApagaMinutos == 1) {
    if (!ports_.view.TimerEnabled(Timer::TimerApagar)) {
      ports_.view.EnableTimer(Timer::TimerApagar, true);
    }
    if (CountdownSeconds <= 0) DecideShutdown(text::kLogTimeShutdown);
  }
}

void Principal::TimerApagar_Timer() {
  if (OnBattery) {
    CountdownSeconds = Decrement(CountdownSeconds);
    ports_.view.SetVisible(Control::lblmsg, true);
    ports_.view.SetText(Control::lblmsg, CountdownSeconds < 1 ? std::string(text::kShuttingDownPc)
                                                              : CountdownText(CountdownSeconds));
  } else {
    // Power is back: the countdown climbs back a second per second, then rests full.
    CountdownSeconds = Increment(CountdownSeconds);
    ports_.view.SetVisible(Control::lblmsg, false);
    if (CountdownSeconds > Settings.ApagaCuantosMinutos) {
      ports_.view.EnableTimer(Timer::TimerApagar, false);
      CountdownSeconds = Settings.ApagaCuantosMinutos;
    }
  }
}

void Principal::Timerdesconexion_Timer() {
  if (Settings.ApagaDesconexion == 0) return;
  DisconnectSeconds = Decrement(DisconnectSeconds);
  ports_.view.SetVisible(Control::lblmsg, true);
  if (DisconnectSeconds < 1) {
    ports_.view.SetText(Control::lblmsg, text::kShuttingDownPc);
    if (!ShutdownRequested) DecideShutdown(text::kLogTimeShutdown);
    ports_.view.EnableTimer(Timer::Timerdesconexion, false);
    // Not guarded: a refused shutdown here is an error nobody handles, shown to the user.
    RunShutdownSequence();
  } else {
    ports_.view.SetText(Control::lblmsg, CountdownText(DisconnectSeconds));
  }
}

void Principal::RunShutdownSequence() {
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
    ports_.view.EnableTimer(Timer::TimerApagar, false);
    ports_.view.EnableTimer(Timer::Timerdesconexion, false);
    if (Settings.GuardaOffice != 0) {
      ports_.view.SetText(Control::lblmsg, text::kSavingApplications);
      try {
        ports_.office.SaveAllOffice(Settings.PathOffice);
      } catch (...) {
        // Whatever the saving met, the UPS is still told and the computer still goes down.
      }
    }
    ports_.view.SetText(Control::lblmsg, text::kShutdownMessage);
    if (Settings.ApagaTNX == 1) {
      ports_.view.SetText(Control::lblmsg, text::kSignalToUps);
      SignalUpsTurnOff();
    }
  }
  // A forced shutdown ends this program at once: the log entries still waiting for a locked
  // Bitacora.txt (the decision's own among them) go out first, or never.
  WritePendingLog(kExitLogWaitMs);
  shutdown_accepted_ = ports_.shutdown.ShutdownSystem(kShutdownForced);
}

void Principal::SignalUpsTurnOff() {
  const auto minutes = static_cast<std::uint8_t>(std::clamp<int>(Settings.ApagaTNXMinutos, 0, 255));
  if (UsbMode) {
    const std::array<std::uint8_t, 8> report{2, protocol::kCmdTurnOff, minutes, 0, 0, 0, 0, 0};
    ports_.usb.WriteUsbReport(report);
    ports_.view.DoEvents();
  } else {
    SignalUpsTurnOffSerial();
    // The status port made way for the turn-off command; open it again so that frames keep
    // coming: a refused shutdown is asked again by the next frame.
    reader_.Clear();
    SetUpSerialLink(status_port_);
  }
}

}  // namespace corva
