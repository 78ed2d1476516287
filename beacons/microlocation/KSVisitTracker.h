#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSConstants.h"
#include "beacons/foundation/KSGCDMulticastDelegate.h"
#include "beacons/model/KSBeaconRegionVisit.h"
#include "beacons/model/KSBeaconVisit.h"
#include "beacons/ranging/KSBeaconManagerInternalDelegate.h"
#include "beacons/ranging/KSLocationManagerClientDelegate.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/location/Location.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {

class KSBeacon;
class KSInstanceProvider;


// What the visit tracker tells its subscribers, on its queue, in send order.
class KSVisitTrackerDelegate {
 public:
  using SerialNumbers = std::vector<std::string>;
  virtual ~KSVisitTrackerDelegate() = default;
  virtual void visitTrackerDidEndVisitForBeaconsWithSerialNumbers(SerialNumbers) {}
  virtual void visitTrackerDidBeginVisitForBeaconsWithSerialNumbers(SerialNumbers) {}
};

// The visit rows of the local store. The two visit makers answer before they return, with
// nullptr when the store has no beacon of that serial number (or no region of that
// identifier); the fetches answer on the store's queue with visits bound to their rows.
class KSVisitStorePort {
 public:
  using Visits = std::vector<std::shared_ptr<KSBeaconVisit>>;
  using VisitsHandler = std::function<void(Visits)>;
  virtual ~KSVisitStorePort() = default;
  virtual std::shared_ptr<KSBeaconVisit> managedBeaconVisitForSerialNumber(const std::string& serialNumber) = 0;
  virtual std::shared_ptr<KSBeaconRegionVisit> managedBeaconRegionVisitForIdentifier(const std::string& identifier) = 0;
  virtual void deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(platform::Date date, std::int64_t limit) = 0;
  // Visits not ended, and visits ended and last ranged after the date; by lastRangedAt
  // ascending.
  virtual void fetchUnEndedAndResumableBeaconVisits(platform::Date rangedAfter, VisitsHandler handler) = 0;
  // Ended visits begun after the date and never posted, and visits ended after their last
  // post.
  virtual void fetchUnPostedBeaconVisits(platform::Date begunAfter, VisitsHandler handler) = 0;
  virtual void saveContext() = 0;
};

// Records the device's visits to beacons (from the hub's analytics passes) and to monitored
// beacon regions (from the location client). A beacon visit opens on the first pass with
// the beacon at a known proximity, follows the closest distance and proximity reached, ends
// at the seventh missed pass in a row and is dropped once its beacon has been unseen for
// more than 21 s with three misses counted. Visits are written through to their stored rows
// and handed to the cloud poster when they begin and end; subscribers hear of both on
// "com.kestrine.visitTracker".
//
// The tracked visits, miss counts and region visits sit under the tracker's map lock, held
// only to read and change the maps. Changes of visits (which write through to their rows
// on the store's queue) run one at a time under the update lock: a pass, an end, a region
// event, and the reload, which leaves the store's queue for the tracker's own first, so
// that the store's queue never waits for the update lock. No lock is held while calling
// the poster, the hub or the subscribers. The store is called under the update lock only
// for what answers at once; its queue never waits for that lock.
class KSVisitTracker : public KSBeaconManagerInternalDelegate,
                       public KSLocationManagerClientDelegate,
                       public std::enable_shared_from_this<KSVisitTracker> {
 public:
  static constexpr std::string_view kSingletonName = "KSVisitTracker";
  static constexpr std::string_view kDelegateQueueLabel = "com.kestrine.visitTracker";
  static constexpr double kResumableWithinSeconds = 21.0;
  static constexpr std::int64_t kMissesToEnd = 7;
  static constexpr std::int64_t kMissesToDrop = 3;

  struct Ports {
    std::shared_ptr<platform::dispatch::Scheduler> scheduler;  // none: the shared one
    std::shared_ptr<platform::NotificationCenter> center;      // none: no start handling
    std::function<std::shared_ptr<KSVisitStorePort>()> store;
    std::function<void(std::shared_ptr<KSBeaconVisit>)> postBeaconVisit;
    std::function<void(const std::shared_ptr<KSBeaconVisit>&)> processEndedBeaconVisit;  // the hub
    std::function<std::optional<platform::location::Location>()> location;
    std::function<std::string()> deviceIdentifier;
    std::function<std::string()> sessionIdentifier;
    std::function<bool()> isAppInBackground;
    std::function<bool()> trackBeaconVisits;  // none: on
  };

  // The registry's tracker, made with the registry's scheduler, notification centre, store,
  // hub, location client, identity provider, configurator and app, and, when registered,
  // the API operation manager as poster; it subscribes to the hub and the location client.
  static std::shared_ptr<KSVisitTracker> sharedTracker(KSInstanceProvider& provider);
  // Ports left empty are filled from the registry as above.
  static void installMaker(KSInstanceProvider& provider, Ports ports = {});
  static std::shared_ptr<KSVisitTracker> create(Ports ports);
  ~KSVisitTracker() override;

  void addDelegate(const std::shared_ptr<KSVisitTrackerDelegate>& delegate) {
    std::lock_guard lock(delegateMutex_);
    multicast_.addDelegate(delegate, delegateQueue_);
  }
  void removeDelegate(const KSVisitTrackerDelegate* delegate) {
    std::lock_guard lock(delegateMutex_);
    multicast_.removeDelegate(delegate);
  }
  // Registrations, with those of subscribers destroyed without removing themselves.
  std::size_t delegateCount() {
    std::lock_guard lock(delegateMutex_);
    return multicast_.count();
  }

  bool isBeaconVisitTrackingEnabled() const;
  std::shared_ptr<KSBeaconVisit> currentBeaconVisitForSerialNumber(const std::string& serialNumber) const;
  std::shared_ptr<KSBeaconRegionVisit> openBeaconRegionVisitForIdentifier(const std::string& identifier) const;
  std::int64_t consecutiveRangeMissesForSerialNumber(const std::string& serialNumber) const;

  // nullptr for a beacon without a serial number.
  std::shared_ptr<KSBeaconVisit> beginBeaconVisitWithBeacon(const std::shared_ptr<KSBeacon>& beacon);
  std::map<std::string, std::shared_ptr<KSBeacon>> updateBeaconVisitsWithRangedBeacons(
      const std::vector<std::shared_ptr<KSBeacon>>& beacons);
  void endBeaconVisitsNotInRangedBeaconForSerialNumber(const std::map<std::string, std::shared_ptr<KSBeacon>>& ranged);
  void endBeaconVisits(const std::vector<std::shared_ptr<KSBeaconVisit>>& visits);
  void endBeaconVisitsForBeaconsLastRangedBeforeDate(platform::Date date);
  void loadUnEndedAndResumableBeaconVisitsFromLocalStore();
  void postUnPostedVisitsFromLocalStore();
  // The work of the SDK's start: purge, reload, post, save.
  void sdkDidStartRunning();

  void beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(Hub, Beacons beacons) override;
  void locationManagerClientDidEnterBeaconRegion(KSLocationManagerClient* client,
                                                 const std::shared_ptr<KSBeaconRegion>& region) override;
  void locationManagerClientDidExitBeaconRegion(KSLocationManagerClient* client,
                                                const std::shared_ptr<KSBeaconRegion>& region) override;

 private:
  struct Token {};

 public:
  KSVisitTracker(Token, Ports ports);

 private:
  void subscribe();
  platform::Date now() const;
  bool inBackground() const;
  std::shared_ptr<KSVisitStorePort> store() const;
  void saveContext();
  // Ends the visits: each keeps the end time given (now when none), is posted and goes to
  // the hub; then the subscribers hear of them and the store saves.
  using Ending = std::pair<std::shared_ptr<KSBeaconVisit>, std::optional<platform::Date>>;
  void endVisits(const std::vector<Ending>& visits);
  void reloadVisits(const KSVisitStorePort::Visits& visits);
  // Fills and tracks a new visit; posting is the caller's.
  std::shared_ptr<KSBeaconVisit> beginVisit(const std::shared_ptr<KSBeacon>& beacon);

  Ports ports_;
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::shared_ptr<platform::dispatch::Queue> delegateQueue_;
  std::shared_ptr<platform::dispatch::Queue> reloadQueue_;
  std::vector<platform::NotificationCenter::ObserverToken> observers_;

  std::mutex delegateMutex_;
  KSGCDMulticastDelegate<KSVisitTrackerDelegate> multicast_;

  std::recursive_mutex updateMutex_;  // changes of visits
  mutable std::mutex mutex_;         // the three maps
  std::map<std::string, std::shared_ptr<KSBeaconVisit>> beaconVisitForSerialNumber_;
  std::map<std::string, std::int64_t> consecutiveRangeMissesForSerialNumber_;
  std::map<std::string, std::shared_ptr<KSBeaconRegionVisit>> beaconRegionVisitForRegionId_;
};

}  // namespace velmora::kestrine
