#pragma once
// What the monitor tells the modules that live beside it (the network server, the power
// history): its readings after each frame, the state of its link, and the steps of a shutdown.
// Every call comes on the window's thread and must return at once: a module never holds up a
// frame, the log or the shutdown. With no module listening nothing of the monitor changes.

#include <algorithm>
#include <utility>
#include <vector>

#include "monitor_settings.h"
#include "status_decoder.h"

namespace corva {

// The monitor as a module sees it after a frame or a change of the link.
struct MonitorStatus {
  // This report follows a decoded frame (otherwise a change of the link).
  bool frame = false;
  // The serial device stopped answering, or the USB device is gone.
  bool link_lost = false;
  bool on_battery = false;
  // The battery the window shows (the last frame that reached its battery byte).
  double battery_percent = 0;
  // What the last frame read.
  const StatusReadings* readings = nullptr;
  const MonitorSettings* settings = nullptr;
};

// The events of a run, each at the moment it happens.
enum class MonitorEvent {
  PowerFailure,       // the UPS went over to its battery
  PowerReturn,        // the line is back
  UpsShutdownReport,  // the UPS reports that it is shutting itself down
  ShutdownDecided,    // the computer is to shut down; the sequence starts
  UpsToldToTurnOff,   // the turn-off command left for the UPS
  LinkLost,
  LinkFound,
  // The computer woke from the hibernation its shutdown sequence ended in: the decision is
  // over, and the monitor starts again from the frames that come.
  ShutdownWithdrawn,
};

class MonitorListener {
 public:
  virtual ~MonitorListener() = default;
  virtual void StatusChanged(const MonitorStatus& status) = 0;
  virtual void EventHappened(MonitorEvent event) = 0;
  // Other computers that follow this UPS and are still up: the shutdown sequence waits for them
  // to leave, at most FollowerWaitMs, before the UPS is told to switch itself off.
  virtual int FollowersLoggedIn() const { return 0; }
  virtual int FollowerWaitMs() const { return 0; }
};

// The modules listening, told together.
class MonitorListeners {
 public:
  MonitorListeners() = default;
  explicit MonitorListeners(std::vector<MonitorListener*> listeners)
      : listeners_(std::move(listeners)) {}
  // No module at all.
  static const MonitorListeners& None() {
    static const MonitorListeners none;
    return none;
  }

  void StatusChanged(const MonitorStatus& status) const {
    for (MonitorListener* l : listeners_) l->StatusChanged(status);
  }
  void EventHappened(MonitorEvent event) const {
    for (MonitorListener* l : listeners_) l->EventHappened(event);
  }
  int FollowersLoggedIn() const {
    int n = 0;
    for (const MonitorListener* l : listeners_) n += l->FollowersLoggedIn();
    return n;
  }
  int FollowerWaitMs() const {
    int ms = 0;
    for (const MonitorListener* l : listeners_) ms = std::max(ms, l->FollowerWaitMs());
    return ms;
  }

 private:
  std::vector<MonitorListener*> listeners_;
};

}  // namespace corva
