// Fuzzes status-frame decoding: any bytes, either frame kind, either link. Decoding must never
// crash, read outside the frame or leave the labels in a state the window cannot show.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "corva_funciones.h"
#include "principal.h"
#include "status_decoder.h"
#include "../fakes/monitor_rig.h"

using namespace corva;

namespace {

bool Shows(const std::string& text) {
  return text.find("nan") == std::string::npos && text.find("inf") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  fakes::MonitorRig rig;
  auto& [view, ini, MSComm1, MSComm2, usb, tray, log, platform, shutdown, office] = rig;
  const bool amp = (data[0] & 1) != 0;
  const bool usb_link = (data[1] & 1) != 0;
  ini.Set("Inicio", "DataString", amp ? "&&&10" : "***9");
  ini.Set("Prefs", "Bitacora", "1");
  ini.Set("Prefs", "NotifAviso", "1");
  usb.present = usb_link;
  Principal principal{rig.Ports()};
  principal.Load("C:\\Corvamon");
  const std::size_t length = amp ? 10 : 9;
  // The USB link takes "&&&" or 0xFF headers only; the serial link the kind DataString names.
  const std::uint8_t header = usb_link ? ((data[1] & 2) ? 0xFF : '&') : amp ? '&' : '*';

  // The rest is a sequence of frames, each preceded by its length byte.
  std::size_t i = 2;
  while (i < size) {
    const std::size_t want = data[i] % 24;
    ++i;
    const std::size_t n = std::min<std::size_t>(want, size - i);
    const std::span<const std::uint8_t> bytes(data + i, n);
    i += n;

    // The decoder on its own: bytes of any length, either link, either power state.
    for (const bool on_battery : {false, true}) {
      const StatusReadings r = DecodeStatusFrame(bytes, usb_link, on_battery);
      if (r.battery > 100 || !std::isfinite(r.battery)) std::abort();
      if (!Shows(BatteryText(r, {})) || !Shows(VoltageText(r, false, {})) ||
          !Shows(FrequencyText(r, {}))) {
        std::abort();
      }
      if (r.mode_text.empty() != !r.mode) std::abort();
    }
    if (FrameFromBuffer({bytes.begin(), bytes.end()}, static_cast<int>(length), usb_link).size() !=
        length) {
      std::abort();
    }

    // The same bytes as the body of a frame the monitor receives and shows.
    std::vector<std::uint8_t> frame(length, 0);
    frame[0] = frame[1] = frame[2] = header;
    std::copy_n(bytes.begin(), std::min(n, length - 3), frame.begin() + 3);
    if (usb_link) {
      usb.device.Chunk(frame);
      usb.clock.Advance(1000);
      principal.OnTimer(Timer::TimerUSB);
    } else {
      MSComm1.Arrive(frame);
    }
    for (Control c : {Control::lblvolt, Control::lblfr, Control::lblbat, Control::lblop}) {
      if (!Shows(view.Text(c))) std::abort();
    }
    if (view.gauge && (*view.gauge < 0 || *view.gauge > 10)) std::abort();
    for (const auto& [picture, tip] : tray.modified) {
      if (picture != kTrayMainIcon && picture != kTrayNoUsb && (picture < 0 || picture > 10)) {
        std::abort();
      }
    }
  }

  // The conversions on their own, over their whole input ranges.
  const double value = BatteryPercentFromByte(data[0], data[1] & 1);
  if (value > 100 || !std::isfinite(value)) std::abort();
  const double volts = VoltageFromRoot(std::sqrt(static_cast<double>((data[0] << 8) | data[1]) / 2.0), false);
  if (!std::isfinite(volts) || volts < 0) std::abort();
  return 0;
}
