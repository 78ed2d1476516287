#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Uuid.h"
#include "platform/core/Value.h"

namespace velmora::platform::app {

// The application's state, with the platform's numbers.
enum class ApplicationState { Active = 0, Inactive = 1, Background = 2 };

// Lifecycle notifications, posted on the main queue with the application as sender. The
// state is already the new one when an observer runs.
inline constexpr std::string_view kDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline constexpr std::string_view kDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr std::string_view kWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr std::string_view kDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr std::string_view kWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";
inline constexpr std::string_view kWillTerminateNotification = "UIApplicationWillTerminateNotification";

// A notification shown to the user at once.
struct LocalNotification {
  std::string alertBody;
  std::string alertAction;
  std::string alertLaunchImage;
  std::string soundName;
  Dict userInfo;
  long applicationIconBadgeNumber = 0;
  std::optional<std::string> category;

  friend bool operator==(const LocalNotification&, const LocalNotification&) = default;
};

// The advertising identity of the device, as the app may read it.
class AdvertisingIdentity {
 public:
  // The device offers an advertising identifier at all.
  bool managerPresent = false;
  bool trackingEnabled = false;
  Uuid identifier;

  friend bool operator==(const AdvertisingIdentity&, const AdvertisingIdentity&) = default;
};

// A background activity: while one is held the app is not suspended. Ends when
// endBackgroundActivity is called with it.
class BackgroundActivity {
 public:
  virtual ~BackgroundActivity() = default;
  virtual const std::string& reason() const = 0;
};

// The host application as the SDK sees it.
class Application {
 public:
  virtual ~Application() = default;

  // Readable from any thread.
  virtual ApplicationState applicationState() const = 0;
  // Where the store, downloads and user defaults live unless told otherwise.
  virtual std::filesystem::path documentsDirectory() const = 0;

  virtual void presentLocalNotificationNow(const LocalNotification& notification) = 0;
  virtual long applicationIconBadgeNumber() const = 0;
  virtual void setApplicationIconBadgeNumber(long number) = 0;

  virtual std::shared_ptr<BackgroundActivity> beginBackgroundActivity(std::string reason) = 0;
  virtual void endBackgroundActivity(const std::shared_ptr<BackgroundActivity>& activity) = 0;

  virtual AdvertisingIdentity advertisingIdentity() const = 0;

  // The application of a host without an app lifecycle (Linux today): always active, no
  // advertising identifier, documents under the user's data folder, notifications written
  // to the log. Posts no lifecycle notifications.
  static std::shared_ptr<Application> hostProcess();
};

}  // namespace velmora::platform::app
