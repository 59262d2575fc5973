#pragma once
// What the monitor tells the network server after each decoded frame or link change, and the NUT
// variables made from it, with the rule that stale data is never served.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corva::net {

// Milliseconds of one monotonic clock shared by the monitor and the server.
using Millis = std::int64_t;

// No decoded frame for this long makes the data stale.
inline constexpr Millis kStaleAfterMs = 10'000;

struct UpsSnapshot {
  // When the last status frame was decoded; nothing before the first one.
  std::optional<Millis> last_frame_ms;
  // The serial link or the USB device is lost.
  bool link_lost = false;

  bool on_battery = false;
  bool overload = false;
  // The shutdown has been decided.
  bool forced_shutdown = false;

  // The readings as the window shows them.
  double battery_charge = 0;
  // ApagaQuePorcentaje: at or below it the battery is low.
  int battery_charge_low = 0;
  double output_voltage = 0;
  double output_frequency = 0;
  bool beeper_enabled = false;
  // ApagaTNXMinutos × 60 when ApagaTNX is 1; nothing when the UPS is never told to switch off.
  std::optional<int> delay_shutdown_s;
  // When the UPS will switch itself off, once it has been told.
  std::optional<Millis> ups_off_at_ms;

  std::string manufacturer = "Corvamon";
  std::string model = "Corvamon";
};

// ApagaTNXMinutos × 60 with ApagaTNX 1, else nothing.
std::optional<int> ShutdownDelaySeconds(int apaga_tnx, int apaga_tnx_minutes);

// "OL" or "OB", then "LB" and "OVER"; "FSD" first once the shutdown is decided ("FSD OB LB").
std::string UpsStatusText(const UpsSnapshot& ups);

// Before the first frame, after kStaleAfterMs without one, and while the link is lost.
bool DataStale(const UpsSnapshot& ups, Millis now_ms);

struct UpsVariable {
  std::string name;
  std::string value;
};

// The variables served, in LIST VAR's order. Stale data gives none, except that a decided
// shutdown is still told: ups.status "FSD" alone, so followers go down even when the link is
// what failed.
struct UpsVariables {
  bool stale = false;
  std::vector<UpsVariable> values;
  const UpsVariable* Find(std::string_view name) const;
};
UpsVariables BuildUpsVariables(const UpsSnapshot& ups, Millis now_ms);

// Every variable name the server knows, with its type for GET TYPE and its description.
struct VariableInfo {
  const char* name;
  const char* type;  // "NUMBER" or "STRING:n"
  const char* description;
};
const VariableInfo* FindVariableInfo(std::string_view name);

}  // namespace corva::net
