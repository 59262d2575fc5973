#pragma once
// The NUT server fed by the monitor: a snapshot of what the window shows after each frame and
// each change of the link, the decided shutdown, the moment the UPS is told to switch itself
// off, and the followers the shutdown waits for. Runs on the window's thread and never waits:
// the server takes a copy.

#include <functional>

#include "monitor_listener.h"
#include "ups_variables.h"

namespace corva::net {

// Where the snapshots go: the server.
class SnapshotSink {
 public:
  virtual ~SnapshotSink() = default;
  virtual void Publish(const UpsSnapshot& ups) = 0;
  virtual void MarkForcedShutdown() = 0;
  // The decided shutdown is over (the computer woke from its hibernation): FSD is no longer said.
  virtual void ClearForcedShutdown() = 0;
  virtual int LoggedInFollowers() const = 0;
};

class MonitorFeed final : public MonitorListener {
 public:
  using Clock = std::function<Millis()>;
  MonitorFeed(SnapshotSink& sink, Clock clock, int follower_wait_seconds);

  void StatusChanged(const MonitorStatus& status) override;
  void EventHappened(MonitorEvent event) override;
  int FollowersLoggedIn() const override { return sink_.LoggedInFollowers(); }
  int FollowerWaitMs() const override { return follower_wait_ms_; }

  const UpsSnapshot& Snapshot() const { return snapshot_; }

 private:
  SnapshotSink& sink_;
  Clock clock_;
  int follower_wait_ms_;
  UpsSnapshot snapshot_;
};

}  // namespace corva::net
