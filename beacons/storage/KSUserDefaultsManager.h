#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

#include "platform/core/Date.h"

namespace velmora::platform {
class UserDefaults;
}

namespace velmora::kestrine {

class KSApp;
class KSSession;
class KSBeaconRegion;

class KSInstanceProvider;

// User-defaults keys of the SDK.
inline constexpr std::string_view KSUserDefaultsKestrineIdentifierKey = "com.kestrine.userDefaults.kestrineIdentifier";
inline constexpr std::string_view KSUserDefaultsDeviceIdentifierKey = "com.kestrine.userDefaults.deviceIdentifier";
inline constexpr std::string_view KSUserDefaultsSessionsKey = "com.kestrine.userDefaults.sessions";
inline constexpr std::string_view KSUserDefaultsBeaconRegionsKey = "com.kestrine.userDefaults.beaconRegions";
inline constexpr std::string_view KSUserDefaultsResumedZoneMonitoringAtKey =
    "com.kestrine.userDefaults.resumedZoneMonitoringAt";
inline constexpr std::string_view KSUserDefaultsSuspendedZoneMonitoringAtKey =
    "com.kestrine.userDefaults.suspendedZoneMonitoringAt";
inline constexpr std::string_view KSUserDefaultsSDKRemoteConfigurationsKey =
    "com.kestrine.userDefaults.KSUserDefaultsSDKRemoteConfigurationsKey";
inline constexpr std::string_view KSUserDefaultsAPIRetryAfterKey =
    "com.kestrine.userDefaults.KSUserDefaultsAPIRetryAfterKey";

// Keeps the SDK's small persistent values in the user defaults.
//
// Loads are typed: a value of another kind under a key loads as nothing, so a damaged or
// foreign entry cannot be taken for an identifier or a date. Every store writes the
// defaults file before it returns; storing nothing removes the key. The API retry-after
// date is cached: once read or set, the key is not read again. Thread-safe.
class KSUserDefaultsManager {
 public:
  static constexpr std::string_view kSingletonName = "KSUserDefaultsManager";

  // The registry's manager, on the registry's user defaults.
  static std::shared_ptr<KSUserDefaultsManager> sharedManager();
  // That registry's manager (what another singleton's maker asks for).
  static std::shared_ptr<KSUserDefaultsManager> sharedManager(KSInstanceProvider& provider);
  // Lets the registry make the manager by name (the configure step asks for it so).
  static void installMaker(KSInstanceProvider& provider);

  // A manager on `defaults`; with none, loads give nothing and stores are dropped (logged).
  explicit KSUserDefaultsManager(std::shared_ptr<platform::UserDefaults> defaults);

  // The installation identifier; an empty text counts as none.
  std::optional<std::string> loadKestrineIdentifier() const;
  void storeKestrineIdentifier(const std::optional<std::string>& identifier);
  std::optional<std::string> loadDeviceIdentifier() const;
  void storeDeviceIdentifier(const std::optional<std::string>& identifier);

  std::optional<platform::Date> loadResumedZoneMonitoringAt() const;
  void storeResumedZoneMonitoringAt(std::optional<platform::Date> date);
  std::optional<platform::Date> loadSuspendedZoneMonitoringAt() const;
  void storeSuspendedZoneMonitoringAt(std::optional<platform::Date> date);

  // The stored sessions, newest first; empty when none are stored or the stored list does
  // not decode as a whole (logged).
  std::vector<std::shared_ptr<KSSession>> loadSessions() const;
  void storeSessions(const std::vector<std::shared_ptr<KSSession>>& sessions);

  // The verified app record (its exported dictionary); storing nothing removes it. A stored
  // dictionary that does not import loads as nothing.
  std::shared_ptr<KSApp> loadCachedApp() const;
  void storeApp(const std::shared_ptr<KSApp>& app);
  // The monitored beacon regions by identifier; empty when none are stored or the stored
  // list does not decode as a whole (logged). A later record wins a repeated identifier.
  std::map<std::string, std::shared_ptr<KSBeaconRegion>> loadBeaconRegionForRegionIdentifier() const;
  void storeBeaconRegionForRegionIdentifier(const std::map<std::string, std::shared_ptr<KSBeaconRegion>>& regions);

  std::optional<platform::Date> apiRetryAfter();
  void setApiRetryAfter(std::optional<platform::Date> date);

  const std::shared_ptr<platform::UserDefaults>& userDefaults() const { return defaults_; }

 private:
  std::optional<std::string> loadString(std::string_view key) const;
  std::optional<platform::Date> loadDate(std::string_view key) const;
  void storeString(std::string_view key, const std::optional<std::string>& value);
  void storeDate(std::string_view key, std::optional<platform::Date> value);

  const std::shared_ptr<platform::UserDefaults> defaults_;
  std::mutex retryMutex_;
  std::optional<platform::Date> apiRetryAfter_;
};

}  // namespace velmora::kestrine
