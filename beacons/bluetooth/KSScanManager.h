#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/foundation/KSConstants.h"
#include "platform/bluetooth/Central.h"
#include "platform/core/Date.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::platform::app {
class Application;
}
namespace velmora::platform::dispatch {
class Scheduler;
}

namespace velmora::kestrine {

class KSGCDTimer;
class KSConfigurator;

// The scan duty cycle: a scan state derived from the session, its age, the app's
// background state, the sites the device is in and open connections, and a one-shot timer
// that alternates scans of 3 s with pauses whose length depends on that state.
//
// Every event handler, the state rule, the arming and the timer block run under one
// recursive lock, so two events cannot both start a scan or lose a state change. The
// central client takes the same lock around its own scan start and stop.
class KSScanManager : public std::enable_shared_from_this<KSScanManager> {
 public:
  struct Environment {
    std::shared_ptr<platform::dispatch::Scheduler> scheduler;
    std::shared_ptr<platform::NotificationCenter> center;
    std::shared_ptr<platform::app::Application> app;
    std::shared_ptr<KSConfigurator> configurator;
    std::shared_ptr<KSSessionRunningSource> session;  // may be null: no session running
  };

  // Made by the central client; observes the site and session notifications.
  static std::shared_ptr<KSScanManager> initWithCentralManagerClient(std::weak_ptr<KSCentralManagerClient> client,
                                                                     Environment environment);
  ~KSScanManager();

  void startedScanForPeripherals();
  void stoppedScan();
  void centralManagerUpdatedState(platform::bluetooth::CentralState state);
  void connectingToPeripheral(const std::string& uuid);
  void disconnectedFromPeripheral(const std::string& uuid);
  void applicationDidEnterBackground();
  void applicationDidBecomeActive();
  void updateScanState();

  double scanOnTimeIntervalInSeconds() const { return KSScanOnTimeIntervalInSeconds; }
  double scanOffTimeIntervalInSeconds() const;
  double scanTimeIntervalInSeconds() const;
  bool isDeviceInsideOfSite() const;
  bool isDeviceConnectedToPeripheral() const;
  bool useEnergySaverScanStrategy() const;
  bool scanInBackground() const;

  long scanState() const;
  std::string scanID() const;  // empty before the first scan
  std::optional<platform::Date> startedScanAt() const;
  std::optional<platform::Date> stoppedScanAt() const;
  bool isTimerArmed() const;

  // The lock the client shares for its scan start and stop.
  std::recursive_mutex& lock() const { return lock_; }

 private:
  KSScanManager(std::weak_ptr<KSCentralManagerClient> client, Environment environment);
  void subscribe();
  void startScanMonitor();
  void cancelScanMonitor();
  void timerFired();
  platform::Date now() const;
  bool isAppInBackground() const;

  const std::weak_ptr<KSCentralManagerClient> client_;
  const Environment env_;
  mutable std::recursive_mutex lock_;
  std::shared_ptr<KSGCDTimer> scanningTimer_;
  std::optional<platform::Date> startedScanAt_;
  std::optional<platform::Date> stoppedScanAt_;
  long scanState_ = 0;
  std::string scanID_;
  std::map<std::string, bool> connectedForPeripheral_;
  std::map<std::string, platform::Date> enteredAtForSiteID_;
  std::optional<platform::Date> whenNotifiedSessionResumedOrBegan_;
  std::vector<platform::NotificationCenter::ObserverToken> observers_;
};

}  // namespace velmora::kestrine
