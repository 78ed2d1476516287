#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/core/Date.h"

namespace velmora::kestrine {

// One logged signal strength and when it was logged.
class KSBeaconRSSILog {
 public:
  KSBeaconRSSILog() = default;
  KSBeaconRSSILog(std::optional<std::int64_t> rssi, std::optional<platform::Date> loggedAt)
      : rssi_(rssi), loggedAt_(loggedAt) {}

  static std::shared_ptr<KSBeaconRSSILog> beaconRSSILogWithRSSI(std::optional<std::int64_t> rssi,
                                                                std::optional<platform::Date> loggedAt) {
    return std::make_shared<KSBeaconRSSILog>(rssi, loggedAt);
  }

  std::optional<std::int64_t> rssi() const { return rssi_; }
  void setRssi(std::optional<std::int64_t> v) { rssi_ = v; }
  std::optional<platform::Date> loggedAt() const { return loggedAt_; }
  void setLoggedAt(std::optional<platform::Date> v) { loggedAt_ = v; }

 private:
  std::optional<std::int64_t> rssi_;
  std::optional<platform::Date> loggedAt_;
};

}  // namespace velmora::kestrine
