// The shutdown sequence around the saving of documents.

#include <gtest/gtest.h>

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

TEST(OfficeShutdownTest, AFrameDuringTheSavingDoesNotShutDownBeforeTheUpsIsTold) {
  for (const bool fail : {false, true}) {
    fakes::MonitorRig rig;
    SaverMeetingAFrame office;
    office.rig = &rig;
    office.fail = fail;
    rig.ini.Set("Inicio", "DataString", "&&&10");
    rig.ini.Set("Prefs", "GuardaOffice", "1");
    rig.ini.Set("Apaga", "ApagaTNX", "1");
    rig.ini.Set("Apaga", "ApagaTNXMinutos", "4");
    Principal principal(PrincipalPorts{rig.view, rig.ini, rig.MSComm1, rig.MSComm2, rig.usb,
                                       rig.tray, rig.log, rig.platform, rig.shutdown, office, {}});
    principal.Load("C:\\Corvamon");
    rig.MSComm1.Arrive({'&', '&', '&', 56, 120, 150, 65, 92, '0', '2'});  // the UPS shuts down
    EXPECT_EQ(office.requests_before, 0u);
    EXPECT_EQ(office.requests_after_frame, 0u) << "shut down in the middle of the saving";
    EXPECT_EQ(rig.MSComm2.sent, (Bytes{0x25, 4}));
    EXPECT_EQ(rig.shutdown.requests, std::vector<int>{5});
  }
}

}  // namespace
}  // namespace corva
