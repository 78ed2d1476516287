#pragma once

#include <memory>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/model/KSSession.h"
#include "beacons/ranging/KSIdentityProvider.h"
#include "beacons/ranging/KSLocationManagerClientDelegate.h"
#include "beacons/ranging/KestrineSDK.h"
#include "platform/core/Date.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::platform::dispatch {
class Queue;
class Scheduler;
}
namespace velmora::platform::app {
class Application;
}

namespace velmora::kestrine {

class KSInstanceProvider;
class KSConfigurator;
class KSUserDefaultsManager;

// Begins, resumes and ends app sessions as the app moves between foreground and background,
// the SDK starts, regions report and scans start and stop. Background sessions are granted
// only within a daily budget of background scanning and carry an expiry. Sessions are kept
// in user defaults so the budget survives restarts.
//
// Every change and query takes one recursive lock, also the work the event handlers queue
// on the serial queue, so no query sees a half-changed session.
class KSSessionManager : public KSLocationManagerClientDelegate,
                         public KSSessionRunningSource,
                         public KSSessionIdentifierSource,
                         public std::enable_shared_from_this<KSSessionManager> {
 public:
  static constexpr std::string_view kSingletonName = "KSSessionManager";

  static std::shared_ptr<KSSessionManager> sharedManager();
  static std::shared_ptr<KSSessionManager> sharedManager(KSInstanceProvider& provider);
  static void installMaker(KSInstanceProvider& provider);
  // Loads the stored sessions, closes left-overs, drops old ones and observes the app, the
  // SDK's start and the scan notifications.
  static std::shared_ptr<KSSessionManager> create(KSInstanceProvider& provider);
  ~KSSessionManager() override;

  bool isCurrentlyInSession() const;
  std::optional<platform::Date> currentSessionBeganAt() const;
  std::optional<std::string> currentSessionIdentifier() override;
  bool isSessionRunning() override { return isCurrentlyInSession(); }
  std::shared_ptr<KSSession> currentSession() const;
  std::vector<std::shared_ptr<KSSession>> sessions() const;
  // Sessions kept at most, counting the new one, unless more scanned in the background.
  static constexpr std::size_t kMaximumSessions = 256;

  std::shared_ptr<KSSession> beginSession();
  void resumeSession();
  void resumeOrBeginSession();
  void endCurrentSession();
  void endCurrentSessionIfExpired();
  void endAllSessions();
  bool removeSessionsEndedBeforeYesterday();
  bool shouldBeginSession();
  void updateCurrentSessionExpiry();
  void storeSessions();
  std::optional<platform::Date> whenShouldNextBackgroundSessionExpireWithIgnoreSessionFrequency(bool ignore);
  bool appInBackground() const;
  // Today's background scanning over all sessions, in seconds.
  double backgroundScanTimeIntervalToday();

  // Region events from the location client.
  void locationManagerClientDidEnterBeaconRegion(KSLocationManagerClient*,
                                                 const std::shared_ptr<KSBeaconRegion>&) override;
  void locationManagerClientDidDetermineStateForBeaconRegion(KSLocationManagerClient*, long,
                                                             const std::shared_ptr<KSBeaconRegion>&) override;
  void locationManagerClientDidRangeBeaconsInBeaconRegion(KSLocationManagerClient*,
                                                          const std::vector<platform::location::Beacon>&,
                                                          const std::shared_ptr<KSBeaconRegion>&) override;

 private:
  KSSessionManager(KSInstanceProvider& provider);
  void subscribe();
  void post(std::string_view name);
  void async(std::function<void(KSSessionManager&)> work);
  void regionEvent();
  void scanEvent(const platform::Notification& n, bool started);
  platform::Date now() const;
  double sessionLength() const;  // L

  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::shared_ptr<platform::NotificationCenter> center_;
  std::shared_ptr<platform::app::Application> app_;
  std::shared_ptr<KSConfigurator> configurator_;
  std::shared_ptr<KSUserDefaultsManager> defaults_;
  std::shared_ptr<platform::dispatch::Queue> serialQueue_;
  mutable std::recursive_mutex lock_;
  std::vector<std::shared_ptr<KSSession>> sessions_;  // newest first
  std::shared_ptr<KSSession> currentSession_;
  std::vector<platform::NotificationCenter::ObserverToken> observers_;
  // Notifications are posted once the outermost holder of the lock lets go, so observers
  // that call back from other threads never wait on it.
  int depth_ = 0;
  std::vector<std::string_view> pending_;
  friend class KSSessionManagerScope;
};

}  // namespace velmora::kestrine
