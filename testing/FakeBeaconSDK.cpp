#include "testing/FakeBeaconSDK.h"

#include <fmt/format.h>

#include "platform/dispatch/Scheduler.h"

namespace velmora::testing {

std::shared_ptr<BeaconManagerPort> FakeBeaconSDK::makeBeaconManager() {
  auto manager = std::make_shared<Manager>();
  std::lock_guard lock(mutex_);
  managers_.push_back(manager);
  return manager;
}

void FakeBeaconSDK::setOptions(const platform::Dict& options) {
  std::lock_guard lock(mutex_);
  options_.push_back(options);
}

void FakeBeaconSDK::startRunning(std::string appToken, std::function<void(int)> completion) {
  int status = 0;
  {
    std::lock_guard lock(mutex_);
    tokens_.push_back(std::move(appToken));
    status_ = statusOnStart_;
    status = status_;
  }
  if (!completion) return;
  platform::dispatch::Scheduler::shared()->mainQueue()->async([completion = std::move(completion), status] {
    completion(status);
  });
}

void FakeBeaconSDK::stopRunning() {
  std::lock_guard lock(mutex_);
  ++stopCalls_;
  if (status_ == kStatusNotConfigured || status_ == kStatusStopped) return;
  status_ = statusAfterStop_;
}

int FakeBeaconSDK::status() {
  std::lock_guard lock(mutex_);
  return status_;
}
int FakeBeaconSDK::appTokenVerificationStatus() {
  std::lock_guard lock(mutex_);
  return tokenStatus_;
}
bool FakeBeaconSDK::isUsingApi() {
  std::lock_guard lock(mutex_);
  return usingApi_;
}
bool FakeBeaconSDK::isLocationAuthorized() {
  std::lock_guard lock(mutex_);
  return location_;
}
bool FakeBeaconSDK::isNetworkReachable() {
  std::lock_guard lock(mutex_);
  return network_;
}
bool FakeBeaconSDK::isBluetoothEnabled() {
  std::lock_guard lock(mutex_);
  return bluetooth_;
}

void FakeBeaconSDK::setStatus(int status) {
  std::lock_guard lock(mutex_);
  status_ = status;
}
void FakeBeaconSDK::setStatusOnStart(int status) {
  std::lock_guard lock(mutex_);
  statusOnStart_ = status;
}
void FakeBeaconSDK::setStatusAfterStop(int status) {
  std::lock_guard lock(mutex_);
  statusAfterStop_ = status;
}
void FakeBeaconSDK::setTokenStatus(int status) {
  std::lock_guard lock(mutex_);
  tokenStatus_ = status;
}
void FakeBeaconSDK::setUsingApi(bool v) {
  std::lock_guard lock(mutex_);
  usingApi_ = v;
}
void FakeBeaconSDK::setLocationAuthorized(bool v) {
  std::lock_guard lock(mutex_);
  location_ = v;
}
void FakeBeaconSDK::setNetworkReachable(bool v) {
  std::lock_guard lock(mutex_);
  network_ = v;
}
void FakeBeaconSDK::setBluetoothEnabled(bool v) {
  std::lock_guard lock(mutex_);
  bluetooth_ = v;
}

void FakeBeaconSDK::deliver(std::vector<RangedBeacon> beacons) {
  std::vector<std::shared_ptr<Manager>> managers;
  {
    std::lock_guard lock(mutex_);
    managers = managers_;
  }
  for (const auto& m : managers) m->deliver(beacons);
}

std::vector<platform::Dict> FakeBeaconSDK::optionsSet() const {
  std::lock_guard lock(mutex_);
  return options_;
}
std::vector<std::string> FakeBeaconSDK::startTokens() const {
  std::lock_guard lock(mutex_);
  return tokens_;
}
int FakeBeaconSDK::stopCalls() const {
  std::lock_guard lock(mutex_);
  return stopCalls_;
}
std::size_t FakeBeaconSDK::managersMade() const {
  std::lock_guard lock(mutex_);
  return managers_.size();
}
bool FakeBeaconSDK::hasListener() const {
  std::lock_guard lock(mutex_);
  return !managers_.empty() && managers_.back()->hasListener();
}

std::shared_ptr<platform::dispatch::Queue> FakeBeaconSDK::deliveryQueue() const {
  std::lock_guard lock(mutex_);
  return managers_.empty() ? nullptr : managers_.back()->queue();
}

std::shared_ptr<platform::dispatch::Queue> FakeBeaconSDK::Manager::queue() const {
  std::lock_guard lock(mutex_);
  return queue_;
}

void FakeBeaconSDK::Manager::setDelegate(std::weak_ptr<RangingListener> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void FakeBeaconSDK::Manager::setQueue(std::shared_ptr<platform::dispatch::Queue> queue) {
  std::lock_guard lock(mutex_);
  queue_ = std::move(queue);
}

bool FakeBeaconSDK::Manager::hasListener() const {
  std::lock_guard lock(mutex_);
  return !listener_.expired();
}

void FakeBeaconSDK::Manager::deliver(std::vector<RangedBeacon> beacons) {
  std::shared_ptr<platform::dispatch::Queue> queue;
  {
    std::lock_guard lock(mutex_);
    queue = queue_;
  }
  if (!queue) return;
  // Like the facade, the listener is read again when the block runs: it is held weakly.
  queue->async([weak = weak_from_this(), beacons = std::move(beacons)] {
    auto self = weak.lock();
    if (!self) return;
    std::shared_ptr<RangingListener> listener;
    {
      std::lock_guard lock(self->mutex_);
      listener = self->listener_.lock();
    }
    if (listener) listener->didRangeBeacons(beacons);
  });
}

RangedBeacon iBeacon(const std::string& uuid, std::int64_t major, std::int64_t minor, std::int64_t rssi) {
  RangedBeacon b;
  b.proximityUUIDString = uuid;
  b.major = major;
  b.minor = minor;
  b.rssi = rssi;
  b.serialNumber = fmt::format("SN{}-{}", major, minor);
  b.proximity = 2;
  b.accuracy = 1.5;
  return b;
}

}  // namespace velmora::testing
