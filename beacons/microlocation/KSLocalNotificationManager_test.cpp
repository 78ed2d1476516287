#include "beacons/microlocation/KSLocalNotificationManager.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSSite.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/sim/SimApp.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Date;

std::shared_ptr<KSCategory> category(std::optional<std::string> id, std::optional<std::string> name) {
  auto c = std::make_shared<KSCategory>();
  c->setCategoryID(std::move(id));
  c->setName(std::move(name));
  return c;
}
std::shared_ptr<KSSite> site(const std::string& id, const std::string& name) {
  auto s = std::make_shared<KSSite>();
  s->setSiteID(id);
  s->setName(name);
  return s;
}
std::shared_ptr<KSBeacon> beacon(std::uint64_t proximity, std::vector<std::shared_ptr<KSCategory>> categories) {
  auto b = std::make_shared<KSBeacon>();
  b->setProximity(proximity);
  b->setCategories(std::move(categories));
  return b;
}

// The scheduler's clock, and a hook run at every read of "now".
class HookedClock final : public platform::Clock {
 public:
  explicit HookedClock(std::shared_ptr<const platform::Clock> inner) : inner_(std::move(inner)) {}
  Date now() const override {
    if (onNow) onNow();
    return inner_->now();
  }
  std::chrono::microseconds uptime() const override { return inner_->uptime(); }
  std::function<void()> onNow;

 private:
  std::shared_ptr<const platform::Clock> inner_;
};

class LocalNotificationTest : public ::testing::Test {
 protected:
  LocalNotificationTest() {
    app = platform::sim::SimApp::create(scheduler, *center, dir.path());
    KSLocalNotificationManager::Ports ports;
    ports.scheduler = scheduler;
    ports.center = center;
    ports.app = app;
    ports.clock = clock;
    manager = KSLocalNotificationManager::create(ports);
    for (auto name : {KSLocalNotificationManagerDidChangeLocalNotifications,
                      KSLocalNotificationManagerDidPresentLocalNotification}) {
      tokens.push_back(center->addObserver(std::string(name), nullptr, nullptr, [this](const auto& n) {
        std::string line = n.name == KSLocalNotificationManagerDidChangeLocalNotifications ? "change" : "present";
        if (auto it = n.userInfo.find(KSLocalNotificationManagerLocalNotificationItem); it != n.userInfo.end()) {
          line += " " + std::dynamic_pointer_cast<KSLocalNotification>(*it->second.object())->alertBody();
        }
        posted.push_back(line);
      }));
    }
  }
  ~LocalNotificationTest() override {
    for (auto& t : tokens) center->removeObserver(t);
  }
  std::shared_ptr<KSLocalNotification> schedule(const std::string& body, std::uint64_t proximity = 0,
                                                std::vector<std::shared_ptr<KSCategory>> categories = {},
                                                std::shared_ptr<KSSite> in = nullptr) {
    auto n = std::make_shared<KSLocalNotification>();
    n->setAlertBody(body);
    n->setFireInProximity(proximity);
    n->setFireInCategories(categories.empty() ? std::vector{category("c-food", "Food")} : categories);
    n->setFireInSite(in);
    manager->scheduleLocalNotification(n);
    return n;
  }
  std::vector<std::string> presentedBodies() const {
    std::vector<std::string> out;
    for (const auto& n : app->presentedNotifications()) out.push_back(n.alertBody);
    return out;
  }

  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(Date::fromUnixSeconds(1'800'000'000));
  std::shared_ptr<HookedClock> clock = std::make_shared<HookedClock>(scheduler->clock());
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  velmora::testing::TempDir dir;
  std::shared_ptr<platform::sim::SimApp> app;
  std::shared_ptr<KSLocalNotificationManager> manager;
  std::vector<platform::NotificationCenter::ObserverToken> tokens;
  std::vector<std::string> posted;
  std::shared_ptr<KSSite> atrium = site("S1", "Atrium");
};

TEST_F(LocalNotificationTest, PresentsTheFieldsOnceAndRaisesTheBadge) {
  auto n = schedule("Lunch?", 2);
  n->setAlertAction("Open");
  n->setAlertLaunchImage("launch.png");
  n->setSoundName("chime");
  n->setUserInfo({{"offer", platform::Value(7)}});
  n->setCategory("OFFER");
  n->setIncrementBadgeNumber(true);
  app->setApplicationIconBadgeNumber(4);
  EXPECT_EQ(manager->scheduledLocalNotifications().size(), 1u);
  EXPECT_TRUE(n->fireAfter());  // set at scheduling

  manager->siteManagerInternalDidRangeBeaconsInSite({beacon(2, {category("c-food", "Food")})}, atrium);
  manager->siteManagerInternalDidRangeBeaconsInSite({beacon(2, {category("c-food", "Food")})}, atrium);
  const auto shown = app->presentedNotifications();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], (platform::app::LocalNotification{"Lunch?", "Open", "launch.png", "chime",
                                                        {{"offer", platform::Value(7)}}, 5, "OFFER"}));
  EXPECT_EQ(app->applicationIconBadgeNumber(), 5);
  EXPECT_EQ(posted, (std::vector<std::string>{"change", "present Lunch?", "change"}));
  EXPECT_TRUE(manager->scheduledLocalNotifications().empty());
}

TEST_F(LocalNotificationTest, WhatMatches) {
  const auto food = category("c-food", "Food");
  struct Case {
    const char* name;
    std::function<std::shared_ptr<KSLocalNotification>()> describe;
    std::vector<std::shared_ptr<KSBeacon>> beacons;
    std::shared_ptr<KSSite> in;
    bool shown;
  };
  auto with = [&](std::uint64_t proximity, std::vector<std::shared_ptr<KSCategory>> categories,
                  std::shared_ptr<KSSite> in = nullptr) {
    return [=, this] {
      manager->cancelAllLocalNotifications();
      auto n = std::make_shared<KSLocalNotification>();
      n->setAlertBody("n");
      n->setFireInProximity(proximity);
      n->setFireInCategories(categories);
      n->setFireInSite(in);
      manager->scheduleLocalNotification(n);
      return n;
    };
  };
  const std::vector<Case> cases = {
      {"no categories never match", with(0, {}), {beacon(1, {food})}, atrium, false},
      {"far is outside near", with(2, {food}), {beacon(3, {food})}, atrium, false},
      {"near is inside near", with(2, {food}), {beacon(2, {food})}, atrium, true},
      {"immediate is inside near", with(2, {food}), {beacon(1, {food})}, atrium, true},
      {"any proximity takes unknown", with(0, {food}), {beacon(0, {food})}, atrium, true},
      {"id decides when present", with(0, {category("c-food", "Other name")}), {beacon(1, {food})}, atrium, true},
      {"another id does not match", with(0, {category("c-drink", "Food")}), {beacon(1, {food})}, atrium, false},
      {"no id: the name decides", with(0, {category(std::nullopt, "Food")}), {beacon(1, {food})}, atrium, true},
      {"beacon without categories", with(0, {food}), {beacon(1, {})}, atrium, false},
      {"same site name, other id", with(0, {food}, site("X", "Atrium")), {beacon(1, {food})}, atrium, true},
      {"other site", with(0, {food}, site("S2", "Hall")), {beacon(1, {food})}, atrium, false},
      {"no site in the pass", with(0, {food}), {beacon(1, {food})}, nullptr, false},
      {"no beacons", with(0, {food}), {}, atrium, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = app->presentedNotifications().size();
    c.describe();
    manager->siteManagerInternalDidRangeBeaconsInSite(c.beacons, c.in);
    EXPECT_EQ(app->presentedNotifications().size() - before, c.shown ? 1u : 0u);
  }
}

TEST_F(LocalNotificationTest, OnePerPassInSchedulingOrderAndNotBeforeFireAfter) {
  auto later = schedule("later");
  later->setFireAfter(scheduler->clock()->now().addingTimeInterval(60));
  schedule("first");
  schedule("second");
  const std::vector<std::shared_ptr<KSBeacon>> heard = {beacon(1, {category("c-food", "Food")})};
  manager->siteManagerInternalDidRangeBeaconsInSite(heard, atrium);
  EXPECT_EQ(presentedBodies(), (std::vector<std::string>{"first"}));
  manager->siteManagerInternalDidRangeBeaconsInSite(heard, atrium);
  manager->siteManagerInternalDidRangeBeaconsInSite(heard, atrium);
  EXPECT_EQ(presentedBodies(), (std::vector<std::string>{"first", "second"}));
  scheduler->advanceBy(60);
  manager->siteManagerInternalDidRangeBeaconsInSite(heard, atrium);
  EXPECT_EQ(presentedBodies(), (std::vector<std::string>{"first", "second", "later"}));
}

TEST_F(LocalNotificationTest, CancelsPostOnlyWhenSomethingWasScheduled) {
  auto n = std::make_shared<KSLocalNotification>();
  manager->cancelLocalNotification(n);
  manager->cancelAllLocalNotifications();
  EXPECT_TRUE(posted.empty());
  manager->scheduleLocalNotification(n);
  manager->scheduleLocalNotification(n);  // no duplicate check
  manager->cancelLocalNotification(n);
  EXPECT_EQ(manager->scheduledLocalNotifications().size(), 1u);
  manager->cancelAllLocalNotifications();
  EXPECT_EQ(posted, (std::vector<std::string>{"change", "change", "change", "change"}));
}

TEST_F(LocalNotificationTest, ADescriptionCancelledAfterTheMatchIsNotShown) {
  auto n = schedule("cancelled");
  // The match reads the clock after it took its copy of the list: another thread cancels then.
  clock->onNow = [&] {
    clock->onNow = nullptr;
    std::thread([&] { manager->cancelLocalNotification(n); }).join();
  };
  manager->siteManagerInternalDidRangeBeaconsInSite({beacon(1, {category("c-food", "Food")})}, atrium);
  EXPECT_TRUE(app->presentedNotifications().empty());
  EXPECT_EQ(posted, (std::vector<std::string>{"change", "change"}));  // scheduled, cancelled; never presented
}

TEST_F(LocalNotificationTest, ListensToTheSiteManagerUntilDestroyed) {
  KSSiteManagerInternal::Ports ports;
  ports.scheduler = scheduler;
  auto siteManager = KSSiteManagerInternal::create(ports);
  KSLocalNotificationManager::Ports mine;
  mine.scheduler = scheduler;
  mine.app = app;
  mine.siteManager = siteManager;
  auto listening = KSLocalNotificationManager::create(mine);
  EXPECT_EQ(siteManager->delegateCount(), 1u);
  listening.reset();
  EXPECT_EQ(siteManager->delegateCount(), 0u);
}

}  // namespace
}  // namespace velmora::kestrine
