#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "parking/lane_detection/BeaconModel.h"
#include "parking/lane_detection/BeaconSDKPort.h"
#include "parking/lane_detection/BeaconServiceDelegate.h"
#include "parking/lane_detection/BeaconServiceResult.h"
#include "parking/lane_detection/ParkingLookups.h"
#include "parking/lane_detection/RepeatingTimer.h"
#include "parking/user_api/StatusResult.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Queue.h"

namespace velmora {

class CarParkModel;
class LaneModel;

// Beacon-based lane detection: turns the beacons the beacon SDK ranges into the car park the
// phone is in, the lanes of interest and the closest lane, and tells the delegate.
//
// Queues. One serial work queue (workQueue()) runs every ranging pass, the 5-second silence tick,
// resets, the host's setters and every delegate call. The beacon SDK delivers its reports on a
// second serial queue that only converts them, stamps the time of the last report and claims the
// busy flag; a report that finds a pass running or already queued is dropped. The getters read
// under a lock and never wait for a pass. The parking lookups of a pass block the work queue, each
// for at most ParkingLookups::kGiveUpSeconds. startService's block runs where the beacon SDK
// completes its start (the SDK's queue); stopService's block runs on the caller's thread before
// stopService returns.
//
// Setters (reset, setTimerEnabled, onBackground, onForeground, setUserStatus). Called from another
// thread they are posted to the work queue; called on the work queue they take effect at once,
// except from inside a delegate call: then they wait until the pass, tick or reset that made the
// call has ended, and run, in the order called, before anything else on the work queue (so before
// the next pass). What a pass reads therefore stays alive and unchanged until it ends. setDelegate
// takes effect at once, from anywhere: the next delegate call goes to the new delegate.
//
// Lifetime. The delegate is held weakly: the host keeps it alive (a delegate that is gone is not
// called). The beacon SDK's listener and the tick hold the service weakly, work in flight holds it
// strongly until it ends; destroying the service cancels the timer and detaches the listener. The
// host may create the service before the SDK is configured.
class BeaconService : public std::enable_shared_from_this<BeaconService> {
  struct Token {
    explicit Token() = default;
  };

 public:
  // Seconds of silence before a reset; also the tick period and the car-park hold-off.
  static constexpr std::int64_t kBeaconResetInterval = 5;

  static constexpr std::string_view kStopFailedMessage = "Error stopping beacon service. Status=";

  // Forwards the beacon SDK's ranging reports to its service, which it holds weakly.
  class BeaconManagerDelegateImp final : public RangingListener {
   public:
    explicit BeaconManagerDelegateImp(std::weak_ptr<BeaconService> beaconService)
        : _beaconService(std::move(beaconService)) {}
    void didRangeBeacons(const std::vector<RangedBeacon>& beacons) override;

   private:
    std::weak_ptr<BeaconService> _beaconService;
  };

  BeaconService(Token, std::shared_ptr<BeaconSDKPort> sdk, std::shared_ptr<ParkingLookups> lookups);
  ~BeaconService();
  BeaconService(const BeaconService&) = delete;
  BeaconService& operator=(const BeaconService&) = delete;

  // A service over the given beacon SDK (nullptr: the beacon layer's, KestrineBeaconSDK);
  // lookups nullptr takes ParkingLookups::makeDefault().
  // The timer starts here: the first tick comes kBeaconResetInterval seconds later.
  static std::shared_ptr<BeaconService> create(std::shared_ptr<BeaconSDKPort> sdk = nullptr,
                                               std::shared_ptr<ParkingLookups> lookups = nullptr);

  // The delegate while it is alive, else nullptr.
  std::shared_ptr<BeaconServiceDelegate> delegate() const;
  // Held weakly; nullptr detaches.
  void setDelegate(const std::shared_ptr<BeaconServiceDelegate>& delegate);

  // Installs a new listener on the beacon manager and sets the beacon SDK's options.
  void initService();
  // Starts the beacon SDK with the settings' beacon token; the block runs once, where the SDK
  // completes, always with success (the checks only log).
  void startService(std::function<void(const BeaconServiceResult&)> completionBlock);
  // Stops the beacon SDK; the block runs before this returns, with failure when the SDK does
  // not report stopped afterwards.
  void stopService(std::function<void(const BeaconServiceResult&)> completionBlock);

  // Host setters: each runs on the work queue (see Setters above).
  void reset(bool outOfRange);
  void setTimerEnabled(bool enabled);
  void onBackground();
  void onForeground();
  void onEnter() {}
  void onExit() {}
  void setUserStatus(StatusResult userStatus);

  // One ranging report; the beacon SDK's listener calls it, the host may too. Any thread; nullptr
  // entries are skipped.
  void updateRangedBeacons(std::vector<std::shared_ptr<BeaconModel>> beaconModels);

  std::shared_ptr<LaneModel> getClosestLane() const;
  std::string getCarParkName() const;
  std::int64_t getCarParkId() const;
  // The lane types the user's status allows; may fetch the status (bounded wait).
  std::vector<std::int64_t> getAcceptableLaneTypes();

  // The work queue, for hosts and tests that want to run after the queued work.
  const std::shared_ptr<platform::dispatch::Queue>& workQueue() const { return workQueue_; }

 private:
  struct HeldCarPark {
    std::shared_ptr<CarParkModel> carPark;
    std::int64_t carParkId = 0;
    // The car park's lanes, taken once: each pointer keeps the car park alive.
    std::vector<std::shared_ptr<LaneModel>> lanes;
  };

  void startTimer();
  // Runs a setter on the work queue: posted from elsewhere (dropped if the service is gone by
  // then); on the work queue inline, or deferred to the end of the running work when called from
  // inside it (a delegate call).
  void onWorkQueue(std::function<void(BeaconService&)> work);
  // Runs one piece of the service's own work (a pass, a tick, a setter) on the work queue, then the
  // setters deferred meanwhile.
  void runWork(const std::function<void()>& work);
  // Calls the delegate, when one is set, on the calling (work) queue.
  template <class F>
  void notify(F&& call) {
    if (auto d = delegate()) call(*d);
  }

  void tick();
  void resetOnQueue();
  void runPass(const std::vector<std::shared_ptr<BeaconModel>>& beaconModels);
  void processRangedBeacons(const std::vector<std::shared_ptr<BeaconModel>>& beaconModels);
  bool addOrUpdateBeacon(const std::shared_ptr<BeaconModel>& beaconModel);
  std::optional<StatusResult> getUserStatus();
  void setCarParkName(std::string name);
  void startBeaconSDK(std::function<void(const BeaconServiceResult&)> completionBlock);

  // The lane step.
  std::shared_ptr<LaneModel> findCandidateLane();
  void switchCarParkIfDue(const HeldCarPark& carPark);
  void processLane(const std::shared_ptr<LaneModel>& lane);
  const HeldCarPark* heldCarPark(const CarParkModel* carPark) const;

  platform::Date now() const;
  std::int64_t wholeSecondsSince(platform::Date then) const;

  const std::shared_ptr<BeaconSDKPort> sdk_;
  const std::shared_ptr<ParkingLookups> lookups_;
  const std::shared_ptr<platform::dispatch::Queue> workQueue_;
  const std::shared_ptr<platform::dispatch::Queue> deliveryQueue_;
  std::shared_ptr<RepeatingTimer> timer_;
  std::shared_ptr<BeaconManagerPort> _beaconManager;

  // Guarded by mutex_: what other threads read or write.
  mutable std::mutex mutex_;
  std::weak_ptr<BeaconServiceDelegate> delegate_;
  std::shared_ptr<BeaconManagerDelegateImp> _beaconManagerDelegate;
  bool _inBackground = false;
  platform::Date _lastBeaconRead;
  std::string _carParkName;
  std::int64_t _carParkID = 0;
  bool _enableBeaconDetection = true;
  std::optional<StatusResult> _userStatus;
  std::shared_ptr<LaneModel> _closestLane;
  bool _timerEnabled = true;

  // Touched only on the work queue.
  bool inWork_ = false;
  std::deque<std::function<void(BeaconService&)>> deferred_;
  platform::Date _lastCarParkChange;
  platform::Date _lastLaneChange;
  std::vector<std::shared_ptr<BeaconModel>> _beacons;
  std::vector<HeldCarPark> _carParks;
  std::vector<std::shared_ptr<LaneModel>> _lanes;
  // Beacon ids already looked up (whatever the outcome) since the last reset.
  std::unordered_set<std::string> _processedBeacons;
  std::vector<std::shared_ptr<LaneModel>> _laneBeacons;
  // Indexes kept in step with the lists: the snapshot of each beacon id, and the first lane
  // (car parks and lanes in order) that lists each lane-beacon id.
  std::unordered_map<std::string, std::shared_ptr<BeaconModel>> beaconsById_;
  std::unordered_map<std::string, std::shared_ptr<LaneModel>> laneByBeaconId_;
};

}  // namespace velmora
