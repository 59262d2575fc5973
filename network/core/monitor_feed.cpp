#include "monitor_feed.h"

#include <utility>

#include "corva_funciones.h"

namespace corva::net {

MonitorFeed::MonitorFeed(SnapshotSink& sink, Clock clock, int follower_wait_seconds)
    : sink_(sink), clock_(std::move(clock)), follower_wait_ms_(follower_wait_seconds * 1000) {}

void MonitorFeed::StatusChanged(const MonitorStatus& status) {
  if (status.frame) snapshot_.last_frame_ms = clock_();
  snapshot_.link_lost = status.link_lost;
  snapshot_.on_battery = status.on_battery;
  snapshot_.battery_charge = status.battery_percent;
  if (status.readings) {
    snapshot_.overload = status.readings->line_class == kOverload;
    snapshot_.output_voltage = status.readings->voltage;
    snapshot_.output_frequency = status.readings->frequency;
  }
  if (status.settings) {
    const MonitorSettings& s = *status.settings;
    snapshot_.battery_charge_low = s.ApagaQuePorcentaje;
    snapshot_.beeper_enabled = s.AlarmaConSonido;
    snapshot_.delay_shutdown_s = ShutdownDelaySeconds(s.ApagaTNX, s.ApagaTNXMinutos);
  }
  sink_.Publish(snapshot_);
}

void MonitorFeed::EventHappened(MonitorEvent event) {
  switch (event) {
    case MonitorEvent::ShutdownDecided:
      snapshot_.forced_shutdown = true;
      sink_.MarkForcedShutdown();
      break;
    case MonitorEvent::UpsToldToTurnOff:
      if (snapshot_.delay_shutdown_s) {
        snapshot_.ups_off_at_ms = clock_() + static_cast<Millis>(*snapshot_.delay_shutdown_s) * 1000;
        sink_.Publish(snapshot_);
      }
      break;
    case MonitorEvent::ShutdownWithdrawn:
      // A follower that starts again after the wake must not be sent down by the old decision.
      snapshot_.forced_shutdown = false;
      snapshot_.ups_off_at_ms.reset();
      sink_.ClearForcedShutdown();
      sink_.Publish(snapshot_);
      break;
    default:
      break;
  }
}

}  // namespace corva::net
