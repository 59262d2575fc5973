#include "power_events.h"

#include "monitor_texts.h"

namespace corva {

Bitacora::Bitacora(const MonitorState& state, LogFile& file, MainView& view,
                   const Platform& platform)
    : state_(state), view_(view), platform_(platform), file_(file), writer_(file) {}

void Bitacora::NoteFailure() {
  refused_ = file_.LastFailure() == LogFailure::Refused;
  if (!refused_ || refusal_said_) return;
  refusal_said_ = true;
  view_.SetVisible(Control::lblmsg, true);
  view_.SetText(Control::lblmsg, text::kLogNotWritable);
}

void Bitacora::Write(std::string_view event_text, const std::vector<std::string>& labels,
                     bool remember) {
  const std::string entry = BuildLogEntry(event_text, platform_.Now(), state_.separators, labels);
  if (remember) last_entry_ = entry;
  if (writer_.AppendLogEntry(entry)) {
    refused_ = false;
    if (view_.TimerEnabled(Timer::TimerBitacora)) view_.EnableTimer(Timer::TimerBitacora, false);
    return;
  }
  NoteFailure();
  // Nothing else may come to carry the waiting entries out: try them again on a timer (a
  // folder made writable again takes them then).
  if (!view_.TimerEnabled(Timer::TimerBitacora)) view_.EnableTimer(Timer::TimerBitacora, true);
}

bool Bitacora::WritePending(int wait_ms) {
  if (writer_.WritePending()) return true;
  NoteFailure();
  // A lock goes when its program lets go; a refusal never does: the shutdown or the close does
  // not wait for it.
  if (refused_) return false;
  const bool written = view_.WaitWhile([this] { return !writer_.WritePending(); }, wait_ms);
  if (written) view_.EnableTimer(Timer::TimerBitacora, false);
  return written;
}

void Bitacora::TimerBitacora_Timer() {
  if (writer_.WritePending()) {
    refused_ = false;
    view_.EnableTimer(Timer::TimerBitacora, false);
  } else {
    NoteFailure();
  }
}

PowerEvents::PowerEvents(MonitorState& state, Bitacora& log, ShellTray& tray, MainView& view)
    : state_(state), log_(log), tray_(tray), view_(view) {}

std::string PowerEvents::BatteryLabel() const {
  return text::kLabelBattery + BatteryText(state_.readings, state_.separators);
}

PowerEvent PowerEvents::ApplyOperatingMode(std::uint8_t mode) {
  switch (mode) {
    case '0':
      if (!state_.OnBattery) return PowerEvent::None;
      OnPowerReturn();
      return PowerEvent::PowerReturned;
    case '1':
      OnPowerFailure();
      return PowerEvent::RunningOnBattery;
    case '2':
      if (state_.Settings.Bitacora != 0) {
        log_.Write(text::kLogForcedShutdown, {text::kLabelBatteryExhausted, BatteryLabel()}, true);
      }
      state_.ShutdownRequested = true;
      return PowerEvent::UpsShutdown;
    default:
      return PowerEvent::None;
  }
}

void PowerEvents::OnPowerReturn() {
  tray_.ModifyTrayIcon(kTrayMainIcon, text::kTrayMainTip);
  if (state_.Settings.NotifAviso == 1) {
    tray_.ShowTrayBalloon(text::kBalloonInfo, text::kBalloonTitle, text::kBalloonReturn);
  }
  if (state_.Settings.Bitacora != 0) log_.Write(text::kLogReturn, {}, false);
  state_.OnBattery = false;
  state_.UsbDisconnected = false;
}

void PowerEvents::OnPowerFailure() {
  if (!state_.OnBattery) {
    if (state_.Settings.Bitacora != 0) {
      log_.Write(text::kLogFailure, {text::kLabelOnBattery, BatteryLabel()}, true);
    }
    if (state_.Settings.NotifAviso == 1) {
      tray_.ShowTrayBalloon(text::kBalloonInfo, text::kBalloonTitle, text::kBalloonFailure);
    }
    if (state_.Settings.NotifMaximiza == 1) view_.BringWindowToFront();
  }
  state_.OnBattery = true;
}

void PowerEvents::WriteStartEntry() {
  if (!log_.LastLogEntry().empty() || state_.Settings.Bitacora == 0) return;
  const StatusReadings& r = state_.readings;
  log_.Write(text::kLogStart,
             {text::kLabelOperation + r.mode_text,
              text::kLabelVoltage + VoltageText(r, state_.OnBattery, state_.separators),
              text::kLabelFrequency + FrequencyText(r, state_.separators),
              text::kLabelLine + r.line_class, BatteryLabel()},
             true);
}

}  // namespace corva
