#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/storage/KSEventSummary.h"
#include "beacons/model/KSBeaconPendingRecords.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"

namespace velmora::kestrine {

class KSEvent;

// Where the event manager finds the cached site of a beacon (the site manager).
class KSEventSiteSource {
 public:
  virtual ~KSEventSiteSource() = default;
  virtual std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& siteID) = 0;
};

// What the event manager keeps in the local store: trigger summaries and logged events.
class KSEventStore {
 public:
  using Events = std::vector<std::shared_ptr<KSEvent>>;
  virtual ~KSEventStore() = default;
  virtual bool localStorageEnabled() = 0;
  // The stored summary of a trigger, read before this returns; none when there is none.
  virtual std::shared_ptr<KSEventSummary> eventSummaryForIdentifier(const std::string& eventIdentifier) = 0;
  // Written asynchronously, keyed by the summary's eventIdentifier.
  virtual void storeEventSummary(const KSEventSummary& summary) = 0;
  // Written asynchronously; an event without eventID is not kept.
  virtual void storeEvent(const std::shared_ptr<KSEvent>& event) = 0;
  // Deletes the events begun before the date, then all but the newest `limit`.
  virtual void deleteEventsThatBeganBeforeDate(platform::Date date, std::uint64_t limit) = 0;
  // The stored events never posted (no lastPostedAt), oldest beganAt first.
  virtual void fetchUnpostedEvents(std::function<void(Events)> success,
                                   std::function<void(platform::Error)> failure) = 0;
};

// Queues events for posting to the beacon cloud in batches (the API operation manager).
class KSEventPoster {
 public:
  virtual ~KSEventPoster() = default;
  virtual void postEvent(const std::shared_ptr<KSEvent>& event) = 0;
};

// The device and session identifiers put into logged events.
class KSEventIdentitySource {
 public:
  virtual ~KSEventIdentitySource() = default;
  virtual std::optional<std::string> deviceIdentifier() = 0;
  virtual std::optional<std::string> sessionIdentifier() = 0;
};

}  // namespace velmora::kestrine
