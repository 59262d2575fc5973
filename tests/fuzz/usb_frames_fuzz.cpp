// Fuzzes the USB link's frame assembly: any reports, with any count bytes, in any number per
// tick, and the device lost now and then. Whatever arrives, nothing is copied outside the
// report or FrameBuffer (AddressSanitizer), a frame handed to decoding is FrameLength bytes
// behind a whole header, and a tick stays within its reads and waits.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <numeric>

#include "principal.h"
#include "../fakes/monitor_rig.h"

using namespace corva;

namespace {

bool WholeHeader(const std::vector<std::uint8_t>& frame) {
  if (frame.size() < 3) return false;
  const std::uint8_t b = frame[0];
  // "***" opens a frame too when the set-up says 9-byte frames.
  return (b == 0x26 || b == 0xFF || b == 0x2A) && frame[1] == b && frame[2] == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  fakes::MonitorRig rig;
  auto& [view, ini, MSComm1, MSComm2, usb, tray, log, platform, shutdown, office] = rig;
  const bool amp = (data[0] & 1) != 0;
  ini.Set("Inicio", "DataString", amp ? "&&&10" : "***9");
  usb.present = true;
  Principal principal{rig.Ports()};
  principal.Load("C:\\Corvamon");
  const int length = amp ? 10 : 9;
  const std::size_t buffer_size = principal.FrameBuffer().size();

  // The rest: reports, each a length byte and that many bytes (the report as the device sends
  // it, count byte included); a length byte of 0xFF ends a tick's worth, 0xFE pulls the cable.
  std::uint64_t decoded = 0;
  std::size_t i = 1;
  while (i < size) {
    const std::uint8_t kind = data[i++];
    if (kind == 0xFE) {
      usb.device.Unplug();
    } else if (kind != 0xFF) {
      const std::size_t n = std::min<std::size_t>(kind % 24, size - i);
      usb.device.Report(std::vector<std::uint8_t>(data + i, data + i + n));
      i += n;
      continue;
    }
    const std::size_t before = usb.waits.size();
    if (principal.UsbDisconnected()) {
      usb.Plug();
      principal.OnTimer(Timer::TimerBuscaUSB);
    } else {
      usb.clock.Advance(1000);
      principal.OnTimer(Timer::TimerUSB);
    }
    const std::vector<int> waits(usb.waits.begin() + static_cast<std::ptrdiff_t>(before),
                                 usb.waits.end());
    if (waits.size() > 8 || std::accumulate(waits.begin(), waits.end(), 0) > 60) std::abort();
    if (principal.FramePos() < 1 || principal.FramePos() > length) std::abort();
    if (principal.FrameBuffer().size() != buffer_size) std::abort();
    if (principal.FramesDecoded() != decoded) {
      decoded = principal.FramesDecoded();
      const auto& frame = principal.LastFrame();
      if (frame.size() != static_cast<std::size_t>(length) || !WholeHeader(frame) ||
          (frame[0] == 0x2A && length != 9)) {
        std::abort();
      }
    }
  }
  return 0;
}
