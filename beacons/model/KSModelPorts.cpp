#include <mutex>

#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSLocalStoragePort.h"

namespace velmora::kestrine {
namespace {
// Never destroyed: what they hold stays until the process ends, so nothing the SDK holds is torn
// down among the statics at exit.
struct SharedPorts {
  std::mutex mutex;
  std::shared_ptr<KSLocalStoragePort> store;
  std::shared_ptr<KSBeaconHubPort> hub;
  std::shared_ptr<KSApiClientPort> apiClient;
};
SharedPorts& ports() {
  static SharedPorts& p = *new SharedPorts();
  return p;
}
}  // namespace

void KSLocalStoragePort::setShared(std::shared_ptr<KSLocalStoragePort> store) {
  std::lock_guard lock(ports().mutex);
  ports().store = std::move(store);
}
std::shared_ptr<KSLocalStoragePort> KSLocalStoragePort::shared() {
  std::lock_guard lock(ports().mutex);
  return ports().store;
}
void KSBeaconHubPort::setShared(std::shared_ptr<KSBeaconHubPort> hub) {
  std::lock_guard lock(ports().mutex);
  ports().hub = std::move(hub);
}
std::shared_ptr<KSBeaconHubPort> KSBeaconHubPort::shared() {
  std::lock_guard lock(ports().mutex);
  return ports().hub;
}
void KSApiClientPort::setShared(std::shared_ptr<KSApiClientPort> client) {
  std::lock_guard lock(ports().mutex);
  ports().apiClient = std::move(client);
}
std::shared_ptr<KSApiClientPort> KSApiClientPort::shared() {
  std::lock_guard lock(ports().mutex);
  return ports().apiClient;
}

}  // namespace velmora::kestrine
