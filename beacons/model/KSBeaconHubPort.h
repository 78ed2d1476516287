#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace kestrine {

class KSBeacon;

// What a beacon record asks of the ranging hub: data requests, settings updates and opcodes
// over Bluetooth. The hub implements it and registers itself with setShared.
class KSBeaconHubPort {
 public:
  using Success = std::function<void(platform::Value)>;
  using Status = std::function<void(platform::Value)>;
  using Failure = std::function<void(platform::Error)>;

  virtual ~KSBeaconHubPort() = default;

  virtual void sendDataRequest(const platform::Bytes& request, const std::shared_ptr<KSBeacon>& beacon,
                               std::uint64_t endpoint, Success success, Status status, Failure failure) = 0;
  virtual void sendDataRequests(const std::vector<platform::Bytes>& requests, const std::shared_ptr<KSBeacon>& beacon,
                                std::uint64_t endpoint, Success success, Status status, Failure failure) = 0;
  virtual void transportDataRequest(const platform::Bytes& request, const std::shared_ptr<KSBeacon>& beacon,
                                    std::uint64_t endpoint, Success success, Status status, Failure failure) = 0;
  virtual void updateSettingsInBeacon(const std::shared_ptr<KSBeacon>& beacon, const platform::Dict& settings,
                                      Success success, Status status, Failure failure) = 0;
  virtual void sendOpcode(std::int32_t opcode, const std::optional<platform::Bytes>& data,
                          const std::shared_ptr<KSBeacon>& beacon, Success success, Failure failure) = 0;
  // The cached record under that cache identifier, or nullptr.
  virtual std::shared_ptr<KSBeacon> cachedBeaconWithCacheIdentifier(const std::string& /*cacheIdentifier*/) {
    return nullptr;
  }

  static void setShared(std::shared_ptr<KSBeaconHubPort> hub);
  static std::shared_ptr<KSBeaconHubPort> shared();
};

}  // namespace kestrine
