// The shutdown sequence around the saving of documents.

#include <gtest/gtest.h>

#include <functional>

#include "principal.h"
#include "../fakes/monitor_rig.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;

// While it saves, the window's messages run: here a status frame arrives in the middle.
class SaverMeetingAFrame : public OfficeSaver {
 public:
  void SaveAllOffice(const std::string&) override {
    requests_before = rig->shutdown.requests.size();
    rig->MSComm1.Arrive({'&', '&', '&', 56, 120, 150, 65, 92, '0', '2'});
    requests_after_frame = rig->shutdown.requests.size();
    if (fail) throw std::runtime_error("automation gone wrong");
  }
  fakes::MonitorRig* rig = nullptr;
  std::size_t requests_before = 99, requests_after_frame = 99;
  bool fail = false;
};

// The rig with documents saved and the UPS told to switch off in 4 minutes, and its ports with
// the test's own saver.
PrincipalPorts ShutdownPorts(fakes::MonitorRig& rig, OfficeSaver& office) {
  rig.ini.Set("Inicio", "DataString", "&&&10");
  rig.ini.Set("Prefs", "GuardaOffice", "1");
  rig.ini.Set("Apaga", "ApagaTNX", "1");
  rig.ini.Set("Apaga", "ApagaTNXMinutos", "4");
  return PrincipalPorts{rig.view, rig.ini,      rig.MSComm1,  rig.MSComm2, rig.usb, rig.tray,
                        rig.log,  rig.platform, rig.shutdown, office,      {}};
}

TEST(OfficeShutdownTest, AFrameDuringTheSavingDoesNotShutDownBeforeTheUpsIsTold) {
  for (const bool fail : {false, true}) {
    fakes::MonitorRig rig;
    SaverMeetingAFrame office;
    office.rig = &rig;
    office.fail = fail;
    Principal principal(ShutdownPorts(rig, office));
    principal.Load("C:\\Corvamon");
    rig.MSComm1.Arrive({'&', '&', '&', 56, 120, 150, 65, 92, '0', '2'});  // the UPS shuts down
    EXPECT_EQ(office.requests_before, 0u);
    EXPECT_EQ(office.requests_after_frame, 0u) << "shut down in the middle of the saving";
    EXPECT_EQ(rig.MSComm2.sent, (Bytes{0x25, 4}));
    EXPECT_EQ(rig.shutdown.requests, std::vector<int>{5});
  }
}

// While it saves, the user closes the window (the close button with CierraconX=1, or the link
// picture).
class SaverMeetingAClose : public OfficeSaver {
 public:
  void SaveAllOffice(const std::string&) override { close(); }
  std::function<void()> close;
};

// Fault: a close during the saving unloaded the window at once, closing the links, and the UPS
// was never told to switch itself off while Windows still went down.
TEST(OfficeShutdownTest, ACloseDuringTheSavingWaitsUntilTheUpsIsToldOnEitherLink) {
  for (const bool usb : {false, true}) {
    for (const bool link_picture : {false, true}) {
      SCOPED_TRACE(std::string(usb ? "USB" : "serial") +
                   (link_picture ? ", link picture" : ", close button"));
      fakes::MonitorRig rig;
      SaverMeetingAClose office;
      rig.ini.Set("Prefs", "CierraconX", "1");
      rig.MSComm1.can_open = true;
      rig.usb.present = usb;
      Principal principal(ShutdownPorts(rig, office));
      int unloads_while_saving = -1;
      office.close = [&] {
        if (link_picture) {
          principal.ImgConn_Click();
        } else {
          principal.IBClose_Click();
        }
        unloads_while_saving = rig.view.unloads;
      };
      // The real window's unload: the links close, and the program ends.
      const auto told = [&] {
        return usb ? rig.usb.device.written.size() : rig.MSComm2.sent.size();
      };
      std::size_t told_at_unload = 99;
      std::size_t shutdowns_at_unload = 99;
      rig.view.on_unload = [&] {
        told_at_unload = told();
        shutdowns_at_unload = rig.shutdown.requests.size();
        principal.Unload();
      };
      principal.Load("C:\\Corvamon");
      const Bytes ups_shutting_down = {'&', '&', '&', 56, 120, 150, 65, 92, '0', '2'};
      if (usb) {
        ASSERT_TRUE(principal.UsbOpen());
        rig.usb.device.Chunk(ups_shutting_down);
        rig.usb.clock.Advance(1000);
        principal.OnTimer(Timer::TimerUSB);
      } else {
        rig.MSComm1.Arrive(ups_shutting_down);
      }
      EXPECT_EQ(unloads_while_saving, 0);
      EXPECT_EQ(rig.view.unloads, 1);
      if (usb) {
        ASSERT_EQ(told_at_unload, 1u);
        EXPECT_EQ(rig.usb.device.written[0], (Bytes{0, 2, 0x25, 4, 0, 0, 0, 0, 0}));
      } else {
        EXPECT_EQ(told_at_unload, 2u);
        EXPECT_EQ(rig.MSComm2.sent, (Bytes{0x25, 4}));
      }
      EXPECT_EQ(shutdowns_at_unload, 1u);
    }
  }
}

}  // namespace
}  // namespace corva
