#pragma once
// frm_localizador: finds the COM port the UPS is on by listening. It opens the ports one after
// another at 9600,N,8,1, never writes to them, and takes a port as the UPS's once more than 8
// bytes have come on it holding a frame marker ("***" or "&&&"). Each port is listened to for
// one Timer2 period.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "serial_port.h"

namespace corva::config {

namespace locator {
inline constexpr char kCaption[] = "Buscando Equipo BRAX";
inline constexpr char kSearching[] = "Buscando en COM";
inline constexpr char kFound[] = "Localizado en COM";
inline constexpr int kHighestPort = 255;
inline constexpr int kTimer1Ms = 2500;  // closes the window once the scan has ended
inline constexpr int kTimer2Ms = 5000;  // gives up the port listened to
inline constexpr char kStarMarker[] = "***";
inline constexpr char kAmpMarker[] = "&&&";
inline constexpr char kStarDataString[] = "***9";
inline constexpr char kAmpDataString[] = "&&&10";
// More than this many bytes must be waiting before they are looked at.
inline constexpr int kMinBytes = 8;
}  // namespace locator

// Whether COM`port` exists on this computer (GetDefaultCommConfig answers for it).
using ComPortQuery = std::function<bool(int port)>;

// The highest existing port from 1 to 255, or 1 when there is none.
std::int16_t HighestComPort(const ComPortQuery& exists);

class LocatorView {
 public:
  virtual ~LocatorView() = default;
  virtual void SetLabel1(std::string_view text) = 0;
  virtual void SetLabel2(std::string_view text) = 0;
  virtual void EnableTimer1(bool enabled) = 0;
  virtual void Close() = 0;
  virtual void DoEvents() = 0;
};

class Locator {
 public:
  Locator(SerialPort& Pto, LocatorView& view, ComPortQuery exists);

  void Form_Load();
  void ScanPorts();
  void OnComm();
  void Timer1_Timer();
  void Timer2_Timer();
  void Form_Unload();

  std::int16_t FoundPort = 0;
  std::string DataString;
  std::int16_t firstPort = 1;
  std::int16_t lastPort = 1;
  std::int16_t currentPort = 0;
  bool scanDone = false;

 private:
  void ClosePort();
  SerialPort& Pto_;
  LocatorView& view_;
  ComPortQuery exists_;
  // A marker was recognised: from then on no tick may change the result.
  bool recognised_ = false;
};

}  // namespace corva::config
