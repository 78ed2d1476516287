#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/model/KSMicroLocationSnapshot.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

// One analytics event: logged by the host app or fired by an event trigger, with the
// device and session, the site, beacon and category it concerns, the signal and distance
// at that moment, a map position, three free values and the background flags. Posted in
// batches in its exported form, which leaves out the display names and lastPostedAt.
class KSEvent : public KSJSONRecord<KSEvent> {
 public:
  static const KSJSONModelClass& jsonClass();

  // A new event filled from a stored "KSEvent" row (which keeps no device identifier).
  static std::shared_ptr<KSEvent> toEvent(const std::shared_ptr<KSStoredRow>& row);

#define KS_EVENT_FIELD(Type, name, Setter) \
  const Type& name() const { return name##_; } \
  void Setter(Type v) { name##_ = std::move(v); }
  KS_EVENT_FIELD(std::optional<std::string>, eventID, setEventID)
  KS_EVENT_FIELD(std::optional<std::string>, eventIdentifier, setEventIdentifier)
  KS_EVENT_FIELD(std::optional<std::string>, eventName, setEventName)
  KS_EVENT_FIELD(std::optional<platform::Date>, beganAt, setBeganAt)
  KS_EVENT_FIELD(std::optional<platform::Date>, endedAt, setEndedAt)
  KS_EVENT_FIELD(std::optional<std::string>, deviceUUID, setDeviceUUID)
  KS_EVENT_FIELD(std::optional<std::string>, sessionUUID, setSessionUUID)
  KS_EVENT_FIELD(std::optional<std::string>, customDeviceIdentifier, setCustomDeviceIdentifier)
  KS_EVENT_FIELD(std::optional<std::string>, siteID, setSiteID)
  KS_EVENT_FIELD(std::optional<std::string>, siteName, setSiteName)
  KS_EVENT_FIELD(std::optional<std::string>, beaconID, setBeaconID)
  KS_EVENT_FIELD(std::optional<std::string>, beaconName, setBeaconName)
  KS_EVENT_FIELD(std::optional<std::string>, categoryID, setCategoryID)
  KS_EVENT_FIELD(std::optional<std::string>, categoryName, setCategoryName)
  KS_EVENT_FIELD(platform::Value, rssi, setRssi)
  KS_EVENT_FIELD(platform::Value, accuracy, setAccuracy)
  KS_EVENT_FIELD(std::optional<std::string>, mapID, setMapID)
  KS_EVENT_FIELD(platform::Value, mapX, setMapX)
  KS_EVENT_FIELD(platform::Value, mapY, setMapY)
  KS_EVENT_FIELD(std::optional<std::string>, value1, setValue1)
  KS_EVENT_FIELD(std::optional<std::string>, value2, setValue2)
  KS_EVENT_FIELD(std::optional<std::string>, value3, setValue3)
  KS_EVENT_FIELD(std::optional<bool>, beganInBackground, setBeganInBackground)
  KS_EVENT_FIELD(std::optional<bool>, endedInBackground, setEndedInBackground)
  // When the event was last posted: stored, never exported.
  KS_EVENT_FIELD(std::optional<platform::Date>, lastPostedAt, setLastPostedAt)
#undef KS_EVENT_FIELD

  // A copy of every field but beaconName.
  std::shared_ptr<KSEvent> copy() const;

  // The stored events of entity "KSEvent", in fetch order; or their count. Handlers run
  // only when given; with storage disabled [] or 0 at once.
  static void storedEventsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                        const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
                                        std::function<void(const std::vector<std::shared_ptr<KSEvent>>&)> success,
                                        KSLocalStoragePort::FailureHandler failure);
  static void numberOfEventsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                          KSLocalStoragePort::CountHandler success, KSLocalStoragePort::FailureHandler failure);

 private:
  std::optional<std::string> eventID_, eventIdentifier_, eventName_;
  std::optional<platform::Date> beganAt_, endedAt_;
  std::optional<std::string> deviceUUID_, sessionUUID_, customDeviceIdentifier_, siteID_, siteName_, beaconID_,
      beaconName_, categoryID_, categoryName_;
  platform::Value rssi_, accuracy_;
  std::optional<std::string> mapID_;
  platform::Value mapX_, mapY_;
  std::optional<std::string> value1_, value2_, value3_;
  std::optional<bool> beganInBackground_, endedInBackground_;
  std::optional<platform::Date> lastPostedAt_;
};

// The outcome of one evaluation of an event trigger: the event, what its filters left of
// the micro-location, the trigger state and the firing counts.
class KSTriggeredEvent {
 public:
  // 1 fired in this evaluation; 2 used up or expired; 0 otherwise.
  std::shared_ptr<KSEvent> event;
  std::shared_ptr<KSMicroLocationSnapshot> filteredMicroLocation;
  std::int32_t triggerState = 0;
  std::int64_t triggeredCount = 0;
  std::optional<platform::Date> firstTriggeredAt;
  std::optional<platform::Date> lastTriggeredAt;

  // A copy holding a copy of the event and a clone of the snapshot (absent stays absent).
  std::shared_ptr<KSTriggeredEvent> copy() const;
};

}  // namespace velmora::kestrine
