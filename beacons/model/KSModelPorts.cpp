#include <mutex>

#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSLocalStoragePort.h"

namespace velmora::kestrine {
namespace {
std::mutex portsMutex;
std::shared_ptr<KSLocalStoragePort> sharedStore;
std::shared_ptr<KSBeaconHubPort> sharedHub;
std::shared_ptr<KSApiClientPort> sharedApiClient;
}  // namespace

void KSLocalStoragePort::setShared(std::shared_ptr<KSLocalStoragePort> store) {
  std::lock_guard lock(portsMutex);
  sharedStore = std::move(store);
}
std::shared_ptr<KSLocalStoragePort> KSLocalStoragePort::shared() {
  std::lock_guard lock(portsMutex);
  return sharedStore;
}
void KSBeaconHubPort::setShared(std::shared_ptr<KSBeaconHubPort> hub) {
  std::lock_guard lock(portsMutex);
  sharedHub = std::move(hub);
}
std::shared_ptr<KSBeaconHubPort> KSBeaconHubPort::shared() {
  std::lock_guard lock(portsMutex);
  return sharedHub;
}
void KSApiClientPort::setShared(std::shared_ptr<KSApiClientPort> client) {
  std::lock_guard lock(portsMutex);
  sharedApiClient = std::move(client);
}
std::shared_ptr<KSApiClientPort> KSApiClientPort::shared() {
  std::lock_guard lock(portsMutex);
  return sharedApiClient;
}

}  // namespace velmora::kestrine
