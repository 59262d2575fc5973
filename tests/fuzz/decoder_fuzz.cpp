// Fuzzes status-frame decoding: any bytes, either frame kind, either link. Decoding must never
// crash, read outside the frame or leave the labels in a state the window cannot show.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "corva_funciones.h"
#include "principal.h"
#include "../fakes/monitor_rig.h"

using namespace corva;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  fakes::MonitorRig rig;
  auto& [view, ini, MSComm1, MSComm2, usb, tray, log, platform, shutdown, office] = rig;
  ini.Set("Inicio", "DataString", (data[0] & 1) ? "&&&10" : "***9");
  ini.Set("Prefs", "Bitacora", "1");
  ini.Set("Prefs", "NotifAviso", "1");
  usb.present = (data[1] & 1) != 0;
  Principal principal{rig.Ports()};
  principal.Load("C:\\Corvamon");

  // The rest is a sequence of frames, each preceded by its length byte.
  std::size_t i = 2;
  while (i < size) {
    const std::size_t want = data[i] % 24;
    ++i;
    const std::size_t n = std::min<std::size_t>(want, size - i);
    principal.FrameBuffer.assign(data + i, data + i + n);
    i += n;
    principal.ProcessStatusFrame();
    for (Control c : {Control::lblvolt, Control::lblfr, Control::lblbat, Control::lblop}) {
      const std::string text = view.Text(c);
      if (text.find("nan") != std::string::npos || text.find("inf") != std::string::npos) std::abort();
    }
    if (view.gauge && (*view.gauge < 0 || *view.gauge > 10)) std::abort();
    for (const auto& [picture, tip] : tray.modified) {
      if (picture != kTrayMainIcon && (picture < 0 || picture > 10)) std::abort();
    }
  }

  // The conversions on their own, over their whole input ranges.
  const double value = BatteryPercentFromByte(data[0], data[1] & 1);
  if (value > 100 || !std::isfinite(value)) std::abort();
  const double volts = VoltageFromRoot(std::sqrt(static_cast<double>((data[0] << 8) | data[1]) / 2.0), false);
  if (!std::isfinite(volts) || volts < 0) std::abort();
  return 0;
}
