#include "beacons/model/KSEvent.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "testing/FakeLocalStorage.h"
#include "testing/ScopedModelRegistry.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Dict;
using platform::Value;
using testing::FakeLocalStorage;
using testing::FakeStoredRow;
using testing::ScopedModelRegistry;

Date at(double seconds) { return Date::fromUnixSeconds(seconds); }

std::shared_ptr<KSEvent> fullEvent() {
  auto e = std::make_shared<KSEvent>();
  e->setEventID("ev");
  e->setEventIdentifier("enter");
  e->setEventName("Entered");
  e->setBeganAt(at(10));
  e->setEndedAt(at(20));
  e->setDeviceUUID("D");
  e->setSessionUUID("S");
  e->setCustomDeviceIdentifier("C");
  e->setSiteID("site");
  e->setSiteName("Site");
  e->setBeaconID("b");
  e->setBeaconName("Beacon");
  e->setCategoryID("cat");
  e->setCategoryName("Category");
  e->setRssi(Value(-70));
  e->setAccuracy(Value(1.5));
  e->setMapID("m");
  e->setMapX(Value(3));
  e->setMapY(Value(4));
  e->setValue1("1");
  e->setValue2("2");
  e->setValue3("3");
  e->setBeganInBackground(true);
  e->setEndedInBackground(false);
  e->setLastPostedAt(at(30));
  return e;
}

// The export is the 21 posted keys under their JSON names: "id", both background flags
// (false included), and none of the display names or lastPostedAt.
TEST(KSEvent, ExportCarriesThePostedKeysOnly) {
  const Dict exported = fullEvent()->toDictionary();
  std::vector<std::string> keys;
  for (const auto& [key, value] : exported) keys.push_back(key);
  std::vector<std::string> expected = {"id", "eventIdentifier", "eventName", "deviceUUID", "sessionUUID", "siteID",
                                       "beaconID", "categoryID", "rssi", "accuracy", "mapID", "mapX", "mapY",
                                       "beganInBackground", "endedInBackground", "customDeviceIdentifier", "beganAt",
                                       "endedAt", "value1", "value2", "value3"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(exported.at("id"), Value("ev"));
  EXPECT_EQ(exported.at("beganInBackground"), Value(true));
  EXPECT_EQ(exported.at("endedInBackground"), Value(false));

  // Absent values are left out: a new event exports nothing, flags included.
  EXPECT_TRUE(KSEvent().toDictionary().empty());

  platform::Error error;
  auto back = KSEvent::initWithDictionary(Value(exported), &error);
  ASSERT_TRUE(back) << error.localizedDescription;
  EXPECT_EQ(back->eventID(), "ev");
  EXPECT_EQ(back->toDictionary(), exported);
}

TEST(KSEvent, CopyDropsTheBeaconNameOnly) {
  auto event = fullEvent();
  auto copy = event->copy();
  EXPECT_NE(copy, event);
  EXPECT_FALSE(copy->beaconName());
  EXPECT_EQ(copy->siteName(), "Site");
  EXPECT_EQ(copy->categoryName(), "Category");
  EXPECT_EQ(copy->lastPostedAt(), at(30));
  EXPECT_EQ(copy->toDictionary(), event->toDictionary());
}

struct Snapshot : KSMicroLocationSnapshot {
  explicit Snapshot(int n) : n(n) {}
  std::shared_ptr<KSMicroLocationSnapshot> clone() const override { return std::make_shared<Snapshot>(n); }
  int n;
};

TEST(KSTriggeredEvent, CopyHoldsCopiesOfTheEventAndSnapshot) {
  KSTriggeredEvent triggered;
  triggered.event = fullEvent();
  triggered.filteredMicroLocation = std::make_shared<Snapshot>(7);
  triggered.triggerState = 1;
  triggered.triggeredCount = 3;
  triggered.firstTriggeredAt = at(1);
  triggered.lastTriggeredAt = at(2);
  auto copy = triggered.copy();
  ASSERT_TRUE(copy->event);
  EXPECT_NE(copy->event, triggered.event);
  EXPECT_EQ(copy->event->eventID(), "ev");
  EXPECT_FALSE(copy->event->beaconName());
  ASSERT_TRUE(copy->filteredMicroLocation);
  EXPECT_NE(copy->filteredMicroLocation, triggered.filteredMicroLocation);
  EXPECT_EQ(static_cast<Snapshot&>(*copy->filteredMicroLocation).n, 7);
  EXPECT_EQ(copy->triggerState, 1);
  EXPECT_EQ(copy->triggeredCount, 3);
  EXPECT_EQ(copy->firstTriggeredAt, at(1));
  EXPECT_EQ(copy->lastTriggeredAt, at(2));

  const auto empty = KSTriggeredEvent().copy();
  EXPECT_FALSE(empty->event);
  EXPECT_FALSE(empty->filteredMicroLocation);
}

// Stored rows become events in fetch order, every stored attribute read back and no
// device identifier; the queries follow the store's answers.
TEST(KSEvent, StoredQueries) {
  {
    ScopedModelRegistry none({});
    std::optional<std::size_t> fetched;
    std::optional<std::uint64_t> counted;
    KSEvent::storedEventsWithPredicate({}, {}, [&](const auto& e) { fetched = e.size(); }, nullptr);
    KSEvent::numberOfEventsWithPredicate({}, [&](std::uint64_t n) { counted = n; }, nullptr);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(counted, 0u);
  }
  auto store = std::make_shared<FakeLocalStorage>();
  ScopedModelRegistry scoped({.store = store});
  const Dict attributes = {{"eventID", "ev"}, {"eventIdentifier", "enter"}, {"eventName", "Entered"},
                           {"customDeviceIdentifier", "C"}, {"sessionUUID", "S"}, {"siteID", "site"},
                           {"siteName", "Site"}, {"beaconID", "b"}, {"beaconName", "Beacon"}, {"categoryID", "cat"},
                           {"categoryName", "Category"}, {"beganAt", at(10)}, {"endedAt", at(20)}, {"rssi", -70},
                           {"accuracy", 1.5}, {"mapID", "m"}, {"mapX", 3}, {"mapY", 4}, {"beganInBackground", 1},
                           {"endedInBackground", 0}, {"value1", "1"}, {"value2", "2"}, {"value3", "3"},
                           {"lastPostedAt", at(30)}, {"deviceUUID", "ignored"}};
  store->rows["KSEvent"] = {std::make_shared<FakeStoredRow>("KSEvent", attributes),
                            std::make_shared<FakeStoredRow>("KSEvent", Dict{{"eventID", "second"}})};
  std::vector<std::shared_ptr<KSEvent>> events;
  const KSStorePredicate notDeleted{{{"eventName", KSStoreCondition::Op::NotEqual, Value("deleted")}}};
  KSEvent::storedEventsWithPredicate(notDeleted, std::nullopt, [&](const auto& e) { events = e; }, nullptr);
  EXPECT_EQ(store->entities.back(), "KSEvent");
  EXPECT_EQ(store->predicates.back(), notDeleted);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1]->eventID(), "second");
  const KSEvent& e = *events[0];
  EXPECT_FALSE(e.deviceUUID());
  EXPECT_EQ(e.beaconName(), "Beacon");
  EXPECT_EQ(e.beganInBackground(), true);
  EXPECT_EQ(e.endedInBackground(), false);
  EXPECT_EQ(e.lastPostedAt(), at(30));
  for (const auto& [key, value] : attributes) {
    if (key == "deviceUUID" || key == "beganInBackground" || key == "endedInBackground") continue;
    SCOPED_TRACE(key);
    EXPECT_EQ(e.valueForKey(key), value);
  }
  std::optional<std::uint64_t> counted;
  KSEvent::numberOfEventsWithPredicate({}, [&](std::uint64_t n) { counted = n; }, nullptr);
  EXPECT_EQ(counted, 2u);

  store->error = platform::Error(std::string(KSLocalStorageManagerErrorDomain), -1,
                                 "Unable to count entities from local storage");
  std::optional<platform::Error> failed;
  KSEvent::numberOfEventsWithPredicate({}, [&](std::uint64_t) { ADD_FAILURE(); },
                                       [&](const platform::Error& err) { failed = err; });
  ASSERT_TRUE(failed);
  EXPECT_EQ(*failed, *store->error);
  KSEvent::storedEventsWithPredicate({}, {}, nullptr, nullptr);
}

}  // namespace
}  // namespace velmora::kestrine
