#include "platform/sim/SimReachability.h"

#include <gtest/gtest.h>

#include "platform/dispatch/VirtualScheduler.h"
#include "platform/net/InterfaceReachability.h"

namespace velmora::platform::sim {
namespace {

TEST(SimReachabilityTest, ScriptedFlagsReachStartedNotifiersOnTheirQueues) {
  auto scheduler = std::make_shared<dispatch::VirtualScheduler>();
  auto sim = SimReachability::create(scheduler);
  auto target = sim->forInternet();
  EXPECT_EQ(target->flags(), net::kReachabilityReachable);
  std::vector<std::uint32_t> seen;
  auto queue = scheduler->makeSerialQueue("sdk");
  ASSERT_TRUE(target->startNotifier(queue, [&](std::uint32_t f) {
    EXPECT_TRUE(queue->isCurrent());
    seen.push_back(f);
  }));
  sim->setFlags(net::kReachabilityReachable);  // unchanged: nothing
  sim->setFlagsAfter(2, net::kReachabilityReachable | net::kReachabilityIsWWAN);
  sim->setFlagsAfter(4, 0);
  scheduler->advanceBy(3);
  EXPECT_EQ(seen, std::vector<std::uint32_t>{0x40002});
  sim->setFlags(0x2);
  target->stopNotifier();  // a report already posted is dropped too
  scheduler->advanceBy(3);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(sim->notifierCount(), 0u);
  sim->setReadable(false);
  EXPECT_FALSE(sim->forHost("example.org")->flags());
}

TEST(InterfaceReachabilityTest, FlagsFromInterfaces) {
  using I = net::InterfaceReachability::Interface;
  const I lo{"lo", true, true, true, true};
  const I eth{"eth0", true, true, false, true};
  const I ethDown{"eth0", false, false, false, true};
  const I ethNoAddress{"eth0", true, true, false, false};
  const I wwan{"wwan0", true, true, false, true};
  const I rmnet{"rmnet_data0", true, true, false, true};
  const I ppp{"ppp0", true, true, false, true};
  const struct {
    std::vector<I> interfaces;
    std::uint32_t flags;
  } cases[] = {
      {{}, 0},
      {{lo}, 0},
      {{lo, ethDown}, 0},
      {{lo, ethNoAddress}, 0},
      {{lo, eth}, 0x2},
      {{lo, wwan}, 0x40002},
      {{rmnet}, 0x40002},
      {{ppp, ethDown}, 0x40002},
      {{wwan, eth}, 0x2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(net::InterfaceReachability::flagsFor(c.interfaces), c.flags);
  }
  // The host's own interfaces can be read, and a notifier starts and stops.
  auto scheduler = std::make_shared<dispatch::VirtualScheduler>();
  auto host = net::ReachabilityBackend::hostInterfaces()->forInternet();
  EXPECT_TRUE(host->flags().has_value());
  host->startNotifier(scheduler->makeSerialQueue("q"), [](std::uint32_t) {});
  host->stopNotifier();
}

}  // namespace
}  // namespace velmora::platform::sim
