#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "beacons/microlocation/KSEventManager.h"
#include "beacons/model/KSLasso.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::platform::dispatch {
class Scheduler;
}

namespace velmora::kestrine {

class KSBeaconHubPort;
class KSInstanceProvider;
class KSLassoManager;
class KSMicroLocationManager;
class KSVisitTracker;

inline constexpr std::string_view KSLassoTriggerInRangeIdentifier = "triggerInRangeLasso";
inline constexpr std::string_view KSLassoTriggerTapIdentifier = "triggerTapLasso";

// What the host app hears of lassos, and what it gives for a redemption. The request
// dictionary of the result calls is the parse of the bytes sent; none when the app's own
// bytes do not parse.
class KSLassoManagerDelegate {
 public:
  using Manager = std::shared_ptr<KSLassoManager>;
  using Lasso = std::shared_ptr<KSLasso>;
  virtual ~KSLassoManagerDelegate() = default;
  virtual void didEnterLasso(const Lasso&) {}
  virtual void didRangeLasso(const Lasso&) {}
  virtual void didExitLasso(const Lasso&) {}
  // Asked before every redemption; no stops it and sends nothing. A delegate that does not
  // override it lets every redemption begin.
  virtual bool shouldBeginRedemptionRequestForLasso(const Manager&, const Lasso&) { return true; }
  // The packet to send as it is, or none to be asked for a dictionary.
  virtual std::optional<platform::Bytes> lassoManagerDataRequestForLasso(const Manager&, const Lasso&) {
    return std::nullopt;
  }
  // The request's values, built into a packet.
  virtual std::optional<platform::Dict> lassoManagerDictionaryForLasso(const Manager&, const Lasso&) {
    return std::nullopt;
  }
  virtual void lassoManagerDidRedeemDictionaryForLassoResponse(const Manager&, const std::optional<platform::Dict>&,
                                                               const Lasso&, const platform::Dict& /*response*/) {}
  virtual void lassoManagerDidFailToRedeemDictionaryForLassoError(const Manager&, const std::optional<platform::Dict>&,
                                                                  const Lasso&, const platform::Error&) {}
};

// Lassos: offers bound to beacons. When the closest beacon (accuracy smoothed over 5 s)
// carries one of the app's lasso keys among its custom values, the app has entered that
// beacon's lasso (one at a time); once the beacon is within the lasso's redemption radius,
// the manager asks the app for a redemption packet, sends it to the beacon's host board
// over the data-request path, and hands back the parsed answer. A lasso is left when the
// beacon's visit ends.
//
// Thread-safety: keys, lassos and the enabled flag sit under one recursive mutex; the
// delegate is always called with it released. A redemption is claimed atomically, so one
// tap at a time goes out; results and failures reach the delegate on the main queue. Lasso
// entry, ranging and the redemption questions (shouldBegin..., the packet or its dictionary)
// come on the event manager's queue, an exit at a visit's end on the micro-location
// manager's delegate queue (both the main queue by default). The delegate is held weakly.
class KSLassoManager : public KSEventManagerDelegate, public std::enable_shared_from_this<KSLassoManager> {
 public:
  static constexpr std::string_view kSingletonName = "KSLassoManager";
  static constexpr double kSmoothingInterval = 5.0;

  struct Ports {
    std::shared_ptr<platform::dispatch::Scheduler> scheduler;  // none: the registry's
    // Where redemption packets go (the ranging hub); none: the beacon's own hub.
    std::shared_ptr<KSBeaconHubPort> hub;
    // The tracker whose visit ends leave lassos: the manager's own micro-location manager
    // listens to it and hands the ends over on the main queue. None: the registry's, when
    // the provider has one; else visit ends arrive only through
    // microLocationManagerDidEndVisitForBeaconsWithSerialNumbers.
    std::shared_ptr<KSVisitTracker> visits;
    KSEventManager::Ports eventManager;
    KSInstanceProvider* provider = nullptr;  // fills the empty ports
  };

  static std::shared_ptr<KSLassoManager> sharedManager();
  static std::shared_ptr<KSLassoManager> create(Ports ports);
  ~KSLassoManager() override;

  // Held weakly.
  void setDelegate(const std::shared_ptr<KSLassoManagerDelegate>& delegate);
  std::shared_ptr<KSLassoManagerDelegate> delegate() const;

  void addLassoKeys(const std::vector<std::string>& keys);
  void removeLassoKeys(const std::vector<std::string>& keys);
  std::vector<std::string> lassoKeys() const;
  bool enabled() const;
  void setEnabled(bool enabled);
  bool isRedeeming() const { return redeeming_.load(); }
  // The lassos entered now, by serial number.
  std::map<std::string, std::shared_ptr<KSLasso>> lassos() const;
  const std::shared_ptr<KSEventManager>& eventManager() const { return eventManager_; }
  // The manager's own micro-location manager, over the visit tracker of the ports (none
  // without a tracker). Its delegate is the lasso manager's; the host must not replace it.
  const std::shared_ptr<KSMicroLocationManager>& microLocationManager() const { return microLocationManager_; }

  void eventManagerTriggeredEvent(const std::shared_ptr<KSEventManager>& manager,
                                  const std::shared_ptr<KSTriggeredEvent>& event) override;
  void microLocationManagerDidEndVisitForBeaconsWithSerialNumbers(const std::vector<std::string>& serialNumbers);
  void exitLassoForSerialNumbers(const std::vector<std::string>& serialNumbers);

 private:
  struct Token {};
  class MicroLocationListener;

 public:
  KSLassoManager(Token, Ports ports);

 private:
  void setupRegisterEventFilters();
  void setupRedemptionEventFilterForLasso(const std::shared_ptr<KSLasso>& lasso);
  std::vector<std::shared_ptr<KSLasso>> takeLassosForSerialNumbers(const std::vector<std::string>& serialNumbers);
  void redeem(const std::shared_ptr<KSLasso>& lasso);
  // Ends the redemption with a failure on the main queue.
  void failRedemption(const std::optional<platform::Dict>& request, const std::shared_ptr<KSLasso>& lasso,
                      platform::Error error);

  Ports ports_;
  std::shared_ptr<KSEventManager> eventManager_;
  std::shared_ptr<MicroLocationListener> microLocationListener_;
  std::shared_ptr<KSMicroLocationManager> microLocationManager_;
  std::atomic<bool> redeeming_{false};

  mutable std::recursive_mutex mutex_;
  bool enabled_ = false;
  std::map<std::string, std::shared_ptr<KSLasso>> mutableLassoDictionary_;
  std::map<std::string, bool> mutableLassoKeysDictionary_;
  std::weak_ptr<KSLassoManagerDelegate> delegate_;
};

}  // namespace velmora::kestrine
