// The USB link of the main window: TimerUSB shows every frame the assembler puts together,
// a lost device is said and searched for, and its return is said.
//
// TimerUSB reads what has come every second (usb_frame_assembler.h), and TimerBuscaUSB looks
// for the device every 5 s once it is lost.

#include "principal.h"

namespace corva {
namespace {

// Texts of the USB link.
constexpr char kBalloonUsbLost[] = " Equipo BRAX Desconectado ";
constexpr char kBalloonUsbBack[] = " Equipo BRAX Conectado nuevamente ";

// Holds a flag set for as long as a scope runs, however the scope is left.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

bool Principal::AssembleUsbFrame() {
  // Called on its own, the call gets a tick's allowance; within TimerUSB it shares the tick's.
  if (!usb_tick_running_) usb_frames_.BeginTick();
  const bool complete = usb_frames_.Assemble(frame_buffer_, state_.Settings.FrameLength);
  // Without a usable DataString the assembler has learned the kind from the first header.
  if (!FrameLengthUsable() && corva::FrameLengthUsable(usb_frames_.LearnedLength())) {
    LearnFrameLength(usb_frames_.LearnedLength());
  }
  return complete;
}

void Principal::TimerUSB_Timer() {
  if (usb_tick_running_) return;  // a tick started from inside this one's DoEvents
  {
    const FlagScope running(usb_tick_running_);
    usb_frames_.BeginTick();
    // Every frame that has come is shown, so frames never queue up behind the ticks.
    while (AssembleUsbFrame()) ProcessStatusFrame();
  }
  if (usb_frames_.TakeLost()) HandleUsbDisconnect();
}

void Principal::HandleUsbDisconnect() {
  if (asleep_) {
    CloseLinkAsleep();
    return;
  }
  // The lost device's handle goes now; the search opens a fresh one.
  ports_.usb.Close();
  usb_frames_.Restart();
  state_.UsbDisconnected = true;
  ports_.view.EnableTimer(Timer::TimerUSB, false);
  ports_.view.EnableTimer(Timer::TimerBuscaUSB, true);
  if (!ports_.view.TimerEnabled(Timer::Timerdesconexion)) {
    ports_.view.EnableTimer(Timer::Timerdesconexion, true);
  }
  if (!state_.OnBattery) {
    ports_.tray.ModifyTrayIcon(kTrayNoUsb, text::kTrayMainTip);
    if (state_.Settings.NotifAviso == 1) {
      ports_.tray.ShowTrayBalloon(text::kBalloonInfo, text::kBalloonTitle, kBalloonUsbLost);
    }
  }
  ports_.view.BringWindowToFront();
  listeners_.EventHappened(MonitorEvent::LinkLost);
  TellStatus(false);
}

void Principal::ReconnectUsb() {
  if (usb_search_running_) return;
  const FlagScope running(usb_search_running_);
  if (ports_.usb.FindUsbDevice(text::kProductString)) {
    state_.UsbDisconnected = false;
    usb_frames_.Restart();
    ports_.view.DoEvents();
    usb_open_ = true;
    ports_.view.EnableTimer(Timer::TimerUSB, true);
    ports_.view.EnableTimer(Timer::TimerBuscaUSB, false);
    ports_.tray.ModifyTrayIcon(kTrayMainIcon, text::kTrayMainTip);
    if (state_.Settings.NotifAviso == 1) {
      ports_.tray.ShowTrayBalloon(text::kBalloonInfo, text::kBalloonTitle, kBalloonUsbBack);
    }
    ports_.view.EnableTimer(Timer::Timerdesconexion, false);
    shutdown_.RefillDisconnectCountdown();
    ports_.view.SetVisible(Control::lblmsg, false);
    listeners_.EventHappened(MonitorEvent::LinkFound);
    TellStatus(false);
  }
}

void Principal::ReopenUsbAfterWake() {
  if (state_.UsbDisconnected) {
    // Lost and reported before the sleep: it is looked for now, and its return said as ever.
    ReconnectUsb();
    return;
  }
  // The handle from before the sleep may be dead, and the device may be back under another
  // path: a new search, whatever the old handle says.
  ports_.usb.Close();
  usb_frames_.Restart();
  usb_open_ = false;
  ports_.view.EnableTimer(Timer::TimerUSB, false);
  if (FindUsbAfterWake()) return;
  resume_searches_left_ = kResumeLinkSearches;
  ports_.view.EnableTimer(Timer::TimerBuscaUSB, true);
}

bool Principal::FindUsbAfterWake() {
  if (!ports_.usb.FindUsbDevice(text::kProductString)) return false;
  usb_frames_.Restart();
  usb_open_ = true;
  resume_searches_left_ = 0;
  ports_.view.EnableTimer(Timer::TimerBuscaUSB, false);
  ports_.view.EnableTimer(Timer::TimerUSB, true);
  return true;
}

void Principal::TimerBuscaUSB_Timer() {
  if (resume_searches_left_ > 0) {
    if (FindUsbAfterWake()) return;
    // Not back after the wake's searches: lost, and said so. A sleep notice that old is no
    // sleep any more.
    if (--resume_searches_left_ == 0) {
      asleep_ = false;
      HandleUsbDisconnect();
    }
    return;
  }
  ReconnectUsb();
}

}  // namespace corva
