#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "beacons/foundation/KSConfiguratorPorts.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSApp;
class KSInstanceProvider;

// KSStatus.
enum KSStatus : int {
  KSStatusNotConfigured = 0,
  KSStatusRunning = 1,
  KSStatusRunningWithErrors = 2,
  KSStatusStopped = 3,
};

inline constexpr std::string_view KSNotificationDidStartRunning = "KSNotificationDidStartRunning";
inline constexpr std::string_view KSNotificationDidStartRunningStatusKeyItem = "KSNotificationDidStartRunningStatusKeyItem";
inline constexpr std::string_view KSNotificationDidStopRunning = "KSNotificationDidStopRunning";
inline constexpr std::string_view KSNotificationNetworkReachabilityDidChange = "KSNotificationNetworkReachabilityDidChange";

inline constexpr std::string_view KSAnalyticEventSDKStartRunning = "KSAnalyticEventSDKStartRunning";
inline constexpr std::string_view KSAnalyticEventSDKStopRunning = "KSAnalyticEventSDKStopRunning";
inline constexpr std::string_view KSAnalyticEventAppResignedActive = "KSAnalyticEventAppResignedActive";
inline constexpr std::string_view KSAnalyticEventAppEnteredBackground = "KSAnalyticEventAppEnteredBackground";
inline constexpr std::string_view KSAnalyticEventAppEnteredForeground = "KSAnalyticEventAppEnteredForeground";

// The beacon layer's front door: options, the app token, start and stop, the SDK status and
// the questions a host app asks about the device. Class operations only; they act on the
// shared registry (KSInstanceProvider::sharedProvider()), whose singletons they make on
// first use with the SDK's own wiring.
//
// A start runs one at a time: a start while another is pending starts nothing and keeps its
// completion, which runs once, in call order, right after the pending start's. Every
// completion runs on the main queue with the status at the moment it runs. Safe from any
// thread: the start flag and the kept completions sit under one lock that is never held
// while calling out.
class KestrineSDK {
 public:
  using Completion = std::function<void(int status)>;
  // The object the "Notification::object" of the SDK's notifications points at.
  static const void* notificationSender();

  KestrineSDK() = delete;

  // Installs the makers of the SDK's singletons in the registry, each wired to the others.
  // Every registry does this once, as it is created (KSStandardSingletonMakers.h); a later
  // call changes nothing, so a fake a test installed after creating the registry stays.
  static void installSingletons(KSInstanceProvider& provider);

  static void setOptions(const platform::Dict& options);
  // An empty token clears it. When the SDK is configured, asks for a restart.
  static void setAppToken(const std::string& token);
  static void setCredentialsWithUserName(const std::string& userName, const std::string& password);

  static void startRunningWithAppToken(const std::string& token, Completion completion);
  static void startRunning(Completion completion);
  static void startRunningWithoutApi(Completion completion);
  static void stopRunning();

  static int status();
  static int appTokenVerificationStatus();
  // Whether the SDK uses its cloud API (the option KSOptionUseApi, on by default). Off, the
  // SDK runs on its own and no app token is ever verified.
  static bool isUsingApi();
  static bool isNetworkReachable();
  static bool isBluetoothEnabled();
  static bool isLocationAuthorized();
  // 1 when location services are on, else 0.
  static std::int32_t locationAuthorizationStatus();
  static void requestAlwaysLocationAuthorization();
  static void requestWhenInUseLocationAuthorization();
  static std::shared_ptr<KSApp> currentApp();
  static std::string installationIdentifier();
  static std::string deviceIdentifier();
  static void setDeviceIdentifier(const std::optional<std::string>& identifier);
  static void logEventWithIdentifier(const std::string& identifier, const std::optional<std::string>& value1,
                                     const std::optional<std::string>& value2,
                                     const std::optional<std::string>& value3);
  static bool shouldRetryVerifyAppBySDKStatus(int appTokenStatus);

  // --- the API client's installation and version headers: value, header name, and the
  // object to ask for them
  static std::string getKSInstallationID();
  static std::string getKSInstallationIDKey();
  static std::shared_ptr<KSInstallationIdentity> getKSInstallationIDProtocol();
  static std::string getKSSDKVersion();
  static std::string getKSSDKVersionKey();
  static std::shared_ptr<KSInstallationIdentity> getKSSDKVersionProtocol();

  // The same questions about another registry (what its singletons ask).
  static int status(KSInstanceProvider& provider);
  static int appTokenVerificationStatus(KSInstanceProvider& provider);
  static bool isNetworkReachable(KSInstanceProvider& provider);
  static bool isBluetoothEnabled(KSInstanceProvider& provider);
  static void stopRunning(KSInstanceProvider& provider);
};

}  // namespace velmora::kestrine
