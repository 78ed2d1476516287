#include "beacons/model/KSEvent.h"

#include "beacons/model/KSStoredValues.h"

namespace velmora::kestrine {

namespace sv = stored_values;

const KSJSONModelClass& KSEvent::jsonClass() {
  using E = KSEvent;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<E>("KSEvent", [](auto& c) {
    c.keyMapper({{"id", "eventID"}});
    c.allOptional();
    c.whitelist({"eventID", "eventIdentifier", "eventName", "deviceUUID", "sessionUUID", "siteID", "beaconID",
                 "categoryID", "rssi", "accuracy", "mapID", "mapX", "mapY", "beganInBackground", "endedInBackground",
                 "customDeviceIdentifier", "beganAt", "endedAt", "value1", "value2", "value3"});
    c.text("eventID", &E::eventID, &E::setEventID);
    c.text("eventIdentifier", &E::eventIdentifier, &E::setEventIdentifier);
    c.text("eventName", &E::eventName, &E::setEventName);
    c.date("beganAt", &E::beganAt, &E::setBeganAt);
    c.date("endedAt", &E::endedAt, &E::setEndedAt);
    c.text("deviceUUID", &E::deviceUUID, &E::setDeviceUUID);
    c.text("sessionUUID", &E::sessionUUID, &E::setSessionUUID);
    c.text("customDeviceIdentifier", &E::customDeviceIdentifier, &E::setCustomDeviceIdentifier);
    c.text("siteID", &E::siteID, &E::setSiteID);
    c.text("siteName", &E::siteName, &E::setSiteName);
    c.text("beaconID", &E::beaconID, &E::setBeaconID);
    c.text("beaconName", &E::beaconName, &E::setBeaconName);
    c.text("categoryID", &E::categoryID, &E::setCategoryID);
    c.text("categoryName", &E::categoryName, &E::setCategoryName);
    c.number("rssi", &E::rssi, &E::setRssi);
    c.number("accuracy", &E::accuracy, &E::setAccuracy);
    c.text("mapID", &E::mapID, &E::setMapID);
    c.number("mapX", &E::mapX, &E::setMapX);
    c.number("mapY", &E::mapY, &E::setMapY);
    c.text("value1", &E::value1, &E::setValue1);
    c.text("value2", &E::value2, &E::setValue2);
    c.text("value3", &E::value3, &E::setValue3);
    c.scalar("beganInBackground", &E::beganInBackground, &E::setBeganInBackground);
    c.scalar("endedInBackground", &E::endedInBackground, &E::setEndedInBackground);
    c.date("lastPostedAt", &E::lastPostedAt, &E::setLastPostedAt);
  });
  return cls;
}

std::shared_ptr<KSEvent> KSEvent::toEvent(const std::shared_ptr<KSStoredRow>& row) {
  auto event = std::make_shared<KSEvent>();
  if (!row) return event;
  row->performBlockAndWait([&] {
    const KSStoredRow& r = *row;
    event->setEventID(sv::text(r.valueForKey("eventID")));
    event->setEventIdentifier(sv::text(r.valueForKey("eventIdentifier")));
    event->setEventName(sv::text(r.valueForKey("eventName")));
    event->setCustomDeviceIdentifier(sv::text(r.valueForKey("customDeviceIdentifier")));
    event->setSessionUUID(sv::text(r.valueForKey("sessionUUID")));
    event->setSiteID(sv::text(r.valueForKey("siteID")));
    event->setSiteName(sv::text(r.valueForKey("siteName")));
    event->setBeaconID(sv::text(r.valueForKey("beaconID")));
    event->setBeaconName(sv::text(r.valueForKey("beaconName")));
    event->setCategoryID(sv::text(r.valueForKey("categoryID")));
    event->setCategoryName(sv::text(r.valueForKey("categoryName")));
    event->setBeganAt(sv::date(r.valueForKey("beganAt")));
    event->setEndedAt(sv::date(r.valueForKey("endedAt")));
    event->setRssi(sv::number(r.valueForKey("rssi")));
    event->setAccuracy(sv::number(r.valueForKey("accuracy")));
    event->setMapID(sv::text(r.valueForKey("mapID")));
    event->setMapX(sv::number(r.valueForKey("mapX")));
    event->setMapY(sv::number(r.valueForKey("mapY")));
    event->setBeganInBackground(sv::optionalBoolean(r.valueForKey("beganInBackground")));
    event->setEndedInBackground(sv::optionalBoolean(r.valueForKey("endedInBackground")));
    event->setValue1(sv::text(r.valueForKey("value1")));
    event->setValue2(sv::text(r.valueForKey("value2")));
    event->setValue3(sv::text(r.valueForKey("value3")));
    event->setLastPostedAt(sv::date(r.valueForKey("lastPostedAt")));
  });
  return event;
}

std::shared_ptr<KSEvent> KSEvent::copy() const {
  auto event = KSJSONRecord<KSEvent>::copy();
  event->setBeaconName(std::nullopt);
  return event;
}

void KSEvent::storedEventsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                        const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
                                        std::function<void(const std::vector<std::shared_ptr<KSEvent>>&)> success,
                                        KSLocalStoragePort::FailureHandler failure) {
  stored_records::fetch<KSEvent>(KSEventEntityName, predicate, sortDescriptors, &KSStoredRow::toEvent, std::move(success),
                                 std::move(failure));
}

void KSEvent::numberOfEventsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                          KSLocalStoragePort::CountHandler success,
                                          KSLocalStoragePort::FailureHandler failure) {
  stored_records::count(KSEventEntityName, predicate, std::move(success), std::move(failure));
}

std::shared_ptr<KSTriggeredEvent> KSTriggeredEvent::copy() const {
  auto out = std::make_shared<KSTriggeredEvent>();
  out->event = event ? event->copy() : nullptr;
  out->firstTriggeredAt = firstTriggeredAt;
  out->lastTriggeredAt = lastTriggeredAt;
  out->triggeredCount = triggeredCount;
  out->triggerState = triggerState;
  out->filteredMicroLocation = filteredMicroLocation ? filteredMicroLocation->clone() : nullptr;
  return out;
}

}  // namespace velmora::kestrine
