#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "beacons/microlocation/KSEventManager.h"
#include "beacons/ranging/KSSiteManagerInternalDelegate.h"
#include "platform/core/Date.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::platform::dispatch {
class Queue;
class Scheduler;
}  // namespace velmora::platform::dispatch

namespace velmora::kestrine {

class KSBeacon;
class KSCustomValue;
class KSGCDTimer;
class KSSite;
class KSUserDefaultsManager;
class KSZone;
class KSZoneMonitor;

inline constexpr std::string_view KSZoneMonitorTriggerIdentifier = "com.kestrine.zoneMonitor_internal";
inline constexpr std::string_view KSZoneMonitorSuspensionTimeKey = "suspensiontime";

// A window of whole seconds after a zone's first entry: (location, length).
struct KSZoneTimeRange {
  std::int64_t location = 0;
  std::uint64_t length = 0;
  friend bool operator==(const KSZoneTimeRange&, const KSZoneTimeRange&) = default;
};

// The zone timing a site's custom values carry: dwell times and in-zone windows by
// lower-cased zone identifier, and the site's suspension time when it has one.
struct KSZoneSiteConfiguration {
  std::map<std::string, float> dwellTimeForZone;
  std::map<std::string, KSZoneTimeRange> inZoneAfterTimeForZone;
  std::optional<float> suspensionTime;
};

// A site's zone-monitoring suspension: its time t, whether it is suspended now, when the
// suspension is due to end, and the moment before which no new suspension is due.
struct KSZoneSuspensionRecord {
  float suspensionTime = 0;
  bool isSuspended = false;
  std::optional<platform::Date> resumeAfter;
  std::optional<platform::Date> suspendAfter;
};

// What the zone monitor tells the host app. Every method is optional.
class KSZoneMonitorDelegate {
 public:
  using Monitor = std::shared_ptr<KSZoneMonitor>;
  using Beacons = std::vector<std::shared_ptr<KSBeacon>>;
  virtual ~KSZoneMonitorDelegate() = default;
  virtual void zoneMonitorDidEnterSite(const Monitor&, const std::shared_ptr<KSSite>&) {}
  virtual void zoneMonitorDidExitSite(const Monitor&, const std::shared_ptr<KSSite>&) {}
  virtual void zoneMonitorDidEnterZone(const Monitor&, const std::shared_ptr<KSZone>&) {}
  virtual void zoneMonitorDidReEnterZone(const Monitor&, const std::shared_ptr<KSZone>&) {}
  virtual void zoneMonitorDidExitZone(const Monitor&, const std::shared_ptr<KSZone>&) {}
  virtual void zoneMonitorDidDwellInZoneForTimeInterval(const Monitor&, const std::shared_ptr<KSZone>&,
                                                        double /*dwellTime*/) {}
  virtual void zoneMonitorInZoneAfterTimeForRange(const Monitor&, const std::shared_ptr<KSZone>&, double /*elapsed*/,
                                                  KSZoneTimeRange) {}
  virtual void zoneMonitorDidRangeBeaconsInZone(const Monitor&, const Beacons&, const std::shared_ptr<KSZone>&) {}
  virtual void zoneMonitorWillSuspendMonitoringInSiteUntilDate(const Monitor&, const std::shared_ptr<KSSite>&,
                                                               platform::Date) {}
  virtual void zoneMonitorWillResumeMonitoringInSite(const Monitor&, const std::shared_ptr<KSSite>&) {}
};

// Where the zone monitor finds sites: the internal site manager's cache and its subscribers.
class KSZoneSiteSource {
 public:
  using Sites = std::vector<std::shared_ptr<KSSite>>;
  virtual ~KSZoneSiteSource() = default;
  virtual Sites allCachedSites() = 0;
  virtual std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& siteID) = 0;
  virtual void addDelegate(std::shared_ptr<KSSiteManagerInternalDelegate> delegate) = 0;
  virtual void removeDelegate(const KSSiteManagerInternalDelegate* delegate) = 0;
};

// Divides sites into named zones and tells the host app when the device enters, re-enters,
// dwells in, stays in and leaves a zone, while the app is in a session.
//
// A beacon belongs to zone z of its site when one of its categories has a custom value whose
// key is one of the zone identifier keys (ignoring case) and whose value is z (compared in
// lower case). A site's own custom values set each zone's dwell time ("<zone>_dwelltime"),
// its in-zone window ("<zone>_inzoneaftertimerange", "a,b") and the site's suspension time
// ("suspensiontime"). The monitor registers one trigger on a private event manager, runs its
// zone logic on every firing, and checks once a second that zones whose beacons fell silent
// for more than 6 s are exited.
//
// A site with a suspension time t is suspended for t seconds at a time: its beacons are
// ignored and its zones exited while suspended. The host can suspend and resume all sites;
// those moments are kept in the user defaults.
//
// Thread-safety: the site tables, suspension records, delegate, keys and timer sit under one
// recursive mutex, taken by the ranging pass, the exit check, the site callbacks and the
// host's calls. Delegate calls are queued on the delegate queue while it is held, so they
// arrive in the order they were produced; user defaults are written after it is released.
// The delegate queue is the main queue unless setQueue gave another; the delegate is held
// weakly.
class KSZoneMonitor : public KSSiteManagerInternalDelegate, public std::enable_shared_from_this<KSZoneMonitor> {
 public:
  static constexpr double kExitAfterSilence = 6.0;
  static constexpr double kExitCheckInterval = 1.0;

  struct Ports {
    std::shared_ptr<platform::dispatch::Scheduler> scheduler;  // none: the registry's
    std::shared_ptr<platform::NotificationCenter> center;      // none: the registry's
    std::shared_ptr<KSZoneSiteSource> sites;                   // none: the internal site manager
    std::function<bool()> isCurrentlyInSession;                // none: the session manager
    std::shared_ptr<KSUserDefaultsManager> defaults;           // none: the registry's, or no stored dates
    // The private event manager's ports (its hub, sites, store); empty ones are filled from
    // the registry as the event manager does.
    KSEventManager::Ports eventManager;
  };

  static std::shared_ptr<KSZoneMonitor> create(Ports ports = {});
  static std::shared_ptr<KSZoneMonitor> initWithDelegate(Ports ports, const std::shared_ptr<KSZoneMonitorDelegate>& delegate,
                                                         std::shared_ptr<platform::dispatch::Queue> queue,
                                                         std::vector<std::string> zoneIdentifierKeys = {}) {
    auto monitor = create(std::move(ports));
    monitor->setDelegate(delegate);
    if (queue) monitor->setQueue(std::move(queue));
    monitor->setZoneIdentifierKeys(std::move(zoneIdentifierKeys));
    return monitor;
  }
  ~KSZoneMonitor() override;

  // --- accessors
  // Held weakly.
  void setDelegate(const std::shared_ptr<KSZoneMonitorDelegate>& delegate);
  std::shared_ptr<KSZoneMonitorDelegate> delegate() const;
  std::shared_ptr<platform::dispatch::Queue> queue() const;
  void setQueue(std::shared_ptr<platform::dispatch::Queue> queue);
  std::vector<std::string> zoneIdentifierKeys() const;
  // Takes effect at the next start after a stop.
  void setZoneIdentifierKeys(std::vector<std::string> keys);
  const std::shared_ptr<KSEventManager>& eventManager() const { return eventManager_; }
  bool isZoneMonitoringEnabled() const;
  bool isCurrentlyInSession() const { return currentlyInSession_.load(); }

  // --- host operations
  void startMonitoringZones();
  void stopMonitoringZones();
  void suspendMonitoringZonesInAllSites();
  void resumeMonitoringZonesInAllSites();
  std::optional<platform::Date> suspendedZoneMonitoringAt() const;
  std::optional<platform::Date> resumedZoneMonitoringAt() const;

  // --- configuration
  // The zone timing of a site's custom values, in their order (a later value of a zone
  // replaces an earlier one).
  static KSZoneSiteConfiguration configurationFromCustomValues(const std::vector<std::shared_ptr<KSCustomValue>>& values);
  void configureWithSites(const std::vector<std::shared_ptr<KSSite>>& sites);
  std::optional<float> dwellTimeForZone(const std::string& siteID, const std::string& zoneIdentifier) const;
  std::optional<KSZoneTimeRange> inZoneAfterTimeRangeForZone(const std::string& siteID,
                                                             const std::string& zoneIdentifier) const;
  std::shared_ptr<KSZone> zoneForIdentifier(const std::string& siteID, const std::string& zoneIdentifier) const;

  // --- suspension
  std::optional<KSZoneSuspensionRecord> suspensionRecordForSiteID(const std::string& siteID) const;
  bool isZoneMonitoringSuspendedInSiteID(const std::string& siteID, bool resumeIfNeeded);
  bool shouldSuspendZoneMonitoringInSiteID(const std::string& siteID);
  void suspendZoneMonitoringInSiteID(const std::string& siteID);
  void resumeZoneMonitoringInSiteID(const std::string& siteID, bool scheduleNextSuspension);

  // --- the exit check (run by the timer once a second while in session)
  void checkForZoneExits();

  // --- session notifications
  void sessionDidBegin();
  void sessionDidEnd();

  // --- the internal site manager
  void siteManagerInternalDidSyncSites(SiteList sites) override { configureWithSites(sites); }
  void siteManagerInternalDidRestoreSites(SiteList sites) override { configureWithSites(sites); }
  void siteManagerInternalDidCacheSites(SiteList sites) override { configureWithSites(sites); }
  void siteManagerInternalDidEnterSite(std::shared_ptr<KSSite> site) override;
  void siteManagerInternalDidExitSite(std::shared_ptr<KSSite> site) override;

 private:
  struct ZoneEntry {
    std::string zoneIdentifierKey;  // as the custom value spelled it
    std::shared_ptr<KSZone> zone;
    unsigned dwellStatus = 0;
    unsigned windowStatus = 0;
  };
  struct SiteInfo {
    std::map<std::string, ZoneEntry> zoneInfoForZoneIdentifier;
    std::map<std::string, float> dwellTimeForZoneIdentifier;
    std::map<std::string, KSZoneTimeRange> inZoneAfterTimeForZoneIdentifier;
    std::optional<KSZoneSuspensionRecord> suspensionInfo;
  };
  struct Token {};

 public:
  KSZoneMonitor(Token, Ports ports);

 private:
  void setUp();
  // One firing of the zone trigger, with the zone keys in lower case.
  void handleRangingPass(const std::shared_ptr<KSTriggeredEvent>& event, const std::set<std::string>& foldedKeys);
  platform::Date now() const;
  void startTimer();
  void cancelTimer();
  void exitZone(ZoneEntry& entry);
  void configureSuspensionTime(SiteInfo& info, float suspensionTime, platform::Date now);
  void storeDates(std::optional<platform::Date> suspended, std::optional<platform::Date> resumed);
  std::shared_ptr<KSSite> cachedSite(const std::string& siteID) const;
  // Queues the call on the delegate queue when the delegate implements it; under mutex_.
  template <class M, class... A>
  void tell(M method, A... args);

  Ports ports_;
  std::shared_ptr<KSEventManager> eventManager_;
  std::vector<platform::NotificationCenter::ObserverToken> observers_;
  std::atomic<bool> currentlyInSession_{false};

  mutable std::recursive_mutex mutex_;
  std::weak_ptr<KSZoneMonitorDelegate> delegate_;
  std::shared_ptr<platform::dispatch::Queue> queue_;
  std::vector<std::string> zoneIdentifierKeys_;
  bool zoneMonitoringEnabled_ = false;
  std::map<std::string, SiteInfo> siteInfoForSiteID_;
  std::shared_ptr<KSGCDTimer> timer_;
  std::optional<platform::Date> suspendedZoneMonitoringAt_, resumedZoneMonitoringAt_;
};

}  // namespace velmora::kestrine
