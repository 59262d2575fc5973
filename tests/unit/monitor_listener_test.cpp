// What the modules beside the monitor are told: readings, the link, power events, and the steps
// of a shutdown, with the wait for the computers that follow this UPS.

#include <gtest/gtest.h>

#include "monitor_feed.h"
#include "principal.h"
#include "../fakes/monitor_rig.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint8_t mode, std::uint8_t battery = 200) {
  return {'&', '&', '&', 56, 120, battery, 65, 92, '0', mode};
}

// Notes everything in one journal, beside what the rig's fakes saw at the same moment.
class JournalListener : public MonitorListener {
 public:
  explicit JournalListener(fakes::MonitorRig& rig) : rig_(rig) {}
  void StatusChanged(const MonitorStatus& s) override {
    journal.push_back(std::string(s.frame ? "frame" : "link") + (s.link_lost ? " lost" : "") +
                      (s.on_battery ? " battery " : " line ") +
                      std::to_string(static_cast<int>(s.battery_percent)) + " " +
                      (s.readings ? s.readings->line_class : "?"));
  }
  void EventHappened(MonitorEvent e) override {
    static const char* const names[] = {"failure", "return", "ups shutdown", "decided",
                                        "told", "lost", "found", "withdrawn"};
    journal.push_back(std::string("event ") + names[static_cast<int>(e)] + " (saved " +
                      std::to_string(rig_.office.folders.size()) + ", sent " +
                      std::to_string(rig_.MSComm2.sent.size()) + ")");
  }
  int FollowersLoggedIn() const override { return followers; }
  int FollowerWaitMs() const override { return 15000; }

  std::vector<std::string> journal;
  int followers = 0;

 private:
  fakes::MonitorRig& rig_;
};

class MonitorListenerTest : public ::testing::Test, protected fakes::MonitorRig {
 protected:
  MonitorListenerTest() {
    ini.Set("Inicio", "DataString", "&&&10");
    ini.Set("Prefs", "GuardaOffice", "1");
    ini.Set("Apaga", "ApagaTNX", "1");
    ini.Set("Apaga", "ApagaTNXMinutos", "3");
    ini.Set("Apaga", "ApagaPorcentaje", "1");
    ini.Set("Apaga", "ApagaQuePorcentaje", "50");
    MSComm1.can_open = true;
  }
  std::vector<std::string> Since(std::size_t n) const {
    return {listener.journal.begin() + static_cast<std::ptrdiff_t>(n), listener.journal.end()};
  }

  JournalListener listener{*this};
  Principal principal{[this] {
    PrincipalPorts ports = Ports();
    ports.listeners = {&listener};
    return ports;
  }()};
};

TEST_F(MonitorListenerTest, FramesPowerEventsAndTheLinkAreToldAsTheyHappen) {
  principal.Load("C:\\Corvamon");
  MSComm1.Arrive(Frame('0'));
  MSComm1.Arrive(Frame('1'));
  MSComm1.Arrive(Frame('1'));
  MSComm1.Arrive(Frame('0'));
  EXPECT_EQ(listener.journal,
            (std::vector<std::string>{"frame line 80 Normal", "event failure (saved 0, sent 0)",
                                      "frame battery 80 Normal", "frame battery 100 Normal",
                                      "event return (saved 0, sent 0)", "frame line 100 Normal"}));
  const std::size_t before = listener.journal.size();
  MSComm1.Raise(comm::kEventLost);
  MSComm1.Raise(comm::kEventLost);  // said once
  principal.OnTimer(Timer::TimerBuscaSerial);
  EXPECT_EQ(Since(before), (std::vector<std::string>{"event lost (saved 0, sent 0)",
                                                     "link lost line 100 Normal",
                                                     "event found (saved 0, sent 0)",
                                                     "link line 100 Normal"}));
}

// Followers shut down while documents are saved; the UPS is told only once they are gone.
TEST_F(MonitorListenerTest, TheUpsIsToldOnlyOnceTheFollowersHaveLeft) {
  principal.Load("C:\\Corvamon");
  listener.followers = 2;
  view.on_wait = [this] {
    if (listener.followers > 0) --listener.followers;
  };
  MSComm1.Arrive(Frame('1', 120));  // on battery below the threshold: decided
  std::vector<std::string> events;
  for (const std::string& line : listener.journal) {
    if (line.rfind("event", 0) == 0) events.push_back(line);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"event failure (saved 0, sent 0)",
                                              "event decided (saved 0, sent 0)",
                                              "event told (saved 1, sent 2)"}));
  EXPECT_EQ(listener.followers, 0);
  EXPECT_EQ(MSComm2.sent, (Bytes{0x25, 3}));
  // The follower wait, then the serial send's own waits.
  ASSERT_FALSE(view.wait_timeouts.empty());
  EXPECT_EQ(view.wait_timeouts.front(), 15000);
  EXPECT_EQ(shutdown.requests.size(), 1u);
}

TEST_F(MonitorListenerTest, AFollowerThatNeverLeavesHoldsTheShutdownOnlyForItsWait) {
  principal.Load("C:\\Corvamon");
  listener.followers = 1;  // never leaves
  MSComm1.Arrive(Frame('1', 120));
  EXPECT_EQ(view.wait_timeouts.front(), 15000);
  EXPECT_EQ(MSComm2.sent, (Bytes{0x25, 3}));
  EXPECT_EQ(shutdown.requests.size(), 1u);

  // With nobody logged in nothing waits.
  fakes::MonitorRig rig;
  rig.ini.values = ini.values;
  rig.MSComm1.can_open = true;
  JournalListener idle(rig);
  PrincipalPorts ports = rig.Ports();
  ports.listeners = {&idle};
  Principal alone(ports);
  alone.Load("C:\\Corvamon");
  rig.MSComm1.Arrive(Frame('1', 120));
  EXPECT_EQ(rig.MSComm2.sent, (Bytes{0x25, 3}));
  EXPECT_EQ(rig.view.wait_timeouts.size(), 2u);  // the two bytes' sends only
}

}  // namespace
}  // namespace corva

// ---- the network server's feed: what followers read is what the window shows

namespace corva::net {
namespace {

using corva::Frame;

class SinkRecorder : public SnapshotSink {
 public:
  void Publish(const UpsSnapshot& ups) override { published.push_back(ups); }
  void MarkForcedShutdown() override { ++marks; }
  void ClearForcedShutdown() override { ++clears; }
  int clears = 0;
  int LoggedInFollowers() const override { return followers; }
  std::vector<UpsSnapshot> published;
  int marks = 0;
  int followers = 0;
};

TEST(MonitorFeedTest, FramesStampTheSnapshotAndTheShutdownIsToldToFollowers) {
  fakes::MonitorRig rig;
  rig.ini.Set("Inicio", "DataString", "&&&10");
  rig.ini.Set("Apaga", "ApagaTNX", "1");
  rig.ini.Set("Apaga", "ApagaTNXMinutos", "2");
  rig.ini.Set("Apaga", "ApagaPorcentaje", "1");
  rig.ini.Set("Apaga", "ApagaQuePorcentaje", "40");
  rig.MSComm1.can_open = true;
  SinkRecorder sink;
  Millis now = 5'000;
  MonitorFeed feed(sink, [&now] { return now; }, 15);
  EXPECT_EQ(feed.FollowerWaitMs(), 15'000);
  PrincipalPorts ports = rig.Ports();
  ports.listeners = {&feed};
  Principal principal(ports);
  principal.Load("C:\\Corvamon");

  rig.MSComm1.Arrive(Frame('0'));
  ASSERT_EQ(sink.published.size(), 1u);
  UpsVariables vars = BuildUpsVariables(sink.published.back(), now);
  ASSERT_FALSE(vars.stale);
  EXPECT_EQ(vars.Find("battery.charge")->value, "80.00");
  EXPECT_EQ(vars.Find("output.voltage")->value, "125.4");
  EXPECT_EQ(vars.Find("output.frequency")->value, "60.0");
  EXPECT_EQ(vars.Find("battery.charge.low")->value, "40");
  EXPECT_EQ(vars.Find("ups.delay.shutdown")->value, "120");
  EXPECT_EQ(vars.Find("ups.status")->value, "OL");
  // Ten seconds without a frame: stale, however good the last one was.
  EXPECT_TRUE(BuildUpsVariables(sink.published.back(), now + kStaleAfterMs).stale);

  now += 1'000;
  rig.MSComm1.Arrive(Frame('1', 120));  // on battery at 40 %: decided, saved, told
  EXPECT_EQ(sink.marks, 1);
  vars = BuildUpsVariables(sink.published.back(), now);
  EXPECT_EQ(vars.Find("ups.status")->value, "FSD OB LB");
  EXPECT_EQ(vars.Find("ups.timer.shutdown")->value, "120");

  // A lost link is stale at once.
  rig.MSComm1.Raise(comm::kEventLost);
  EXPECT_TRUE(BuildUpsVariables(sink.published.back(), now).stale);
}

TEST(MonitorFeedTest, AWakeFromTheHibernationEndsTheForcedShutdownForFollowers) {
  fakes::MonitorRig rig;
  rig.ini.Set("Inicio", "DataString", "&&&10");
  rig.ini.Set("Apaga", "ApagaPorcentaje", "1");
  rig.ini.Set("Apaga", "ApagaQuePorcentaje", "40");
  rig.ini.Set("Apaga", "ApagaTNX", "1");
  rig.ini.Set("Apaga", "ApagaTNXMinutos", "2");
  rig.ini.Set("Apaga", "Hibernar", "1");
  rig.MSComm1.can_open = true;
  SinkRecorder sink;
  Millis now = 5'000;
  MonitorFeed feed(sink, [&now] { return now; }, 0);
  PrincipalPorts ports = rig.Ports();
  ports.listeners = {&feed};
  Principal principal(ports);
  principal.Load("C:\\Corvamon");

  rig.MSComm1.Arrive(Frame('0'));
  rig.MSComm1.Arrive(Frame('1', 120));  // decided: the sequence ends in the hibernation
  ASSERT_EQ(sink.marks, 1);
  EXPECT_EQ(BuildUpsVariables(sink.published.back(), now).Find("ups.status")->value, "FSD OB LB");

  principal.Suspending();
  principal.Resumed();
  EXPECT_EQ(sink.clears, 1);
  const UpsVariables vars = BuildUpsVariables(sink.published.back(), now);
  EXPECT_EQ(vars.Find("ups.status")->value, "OB LB") << "the old decision is not told again";
  EXPECT_EQ(vars.Find("ups.timer.shutdown")->value, "-1") << "no turn-off order any more";
  rig.MSComm1.Arrive(Frame('0'));
  EXPECT_EQ(BuildUpsVariables(sink.published.back(), now).Find("ups.status")->value, "OL");
  EXPECT_EQ(sink.clears, 1);
}

}  // namespace
}  // namespace corva::net
