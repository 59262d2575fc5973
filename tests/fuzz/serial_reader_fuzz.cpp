// Fuzzes the serial link: any bytes, arriving in any chunks. Whatever arrives, a frame handed to
// decoding starts with a header, and the reader never holds more than a frame's worth of bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "principal.h"
#include "serial_frame_reader.h"
#include "../fakes/monitor_rig.h"

using namespace corva;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  fakes::MonitorRig rig;
  auto& [view, ini, MSComm1, MSComm2, usb, tray, log, platform, shutdown, office] = rig;
  const bool amp = (data[0] & 1) != 0;
  ini.Set("Inicio", "DataString", amp ? "&&&10" : "***9");
  Principal principal{rig.Ports()};
  principal.Load("C:\\Corvamon");
  const std::size_t length = amp ? 10 : 9;

  std::uint64_t decoded = 0;
  std::size_t i = 1;
  while (i < size) {
    const std::size_t chunk = std::min<std::size_t>(1 + data[i] % 16, size - i - 0);
    ++i;
    const std::size_t n = std::min(chunk, size - i);
    MSComm1.Arrive(std::vector<std::uint8_t>(data + i, data + i + n));
    i += n;
    if (principal.FramesDecoded() != decoded) {
      decoded = principal.FramesDecoded();
      const auto& frame = principal.LastFrame();
      if (frame.size() != length || !IsFrameHeaderAt(frame, 0)) std::abort();
    }
    if (MSComm1.rthreshold < 1 || MSComm1.rthreshold > 5) std::abort();
  }

  // The reader on its own, with arbitrary frame lengths.
  SerialFrameReader reader(9 + (data[0] & 1));
  for (std::size_t j = 1; j < size; j += 7) {
    const std::size_t n = std::min<std::size_t>(7, size - j);
    auto frame = reader.Push(std::span<const std::uint8_t>(data + j, n));
    if (frame && !IsFrameHeaderAt(*frame, 0)) std::abort();
    if (reader.Held() > static_cast<std::size_t>(reader.FrameLength()) + 7) std::abort();
  }
  return 0;
}
