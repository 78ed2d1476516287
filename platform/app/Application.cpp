#include "platform/app/Application.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "platform/core/Log.h"

namespace velmora::platform::app {
namespace {

std::filesystem::path hostDocumentsDirectory() {
  std::filesystem::path base;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
    base = data;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    base = std::filesystem::path(home) / ".local" / "share";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  auto dir = base / "velmora";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) Log::warning("app", "Cannot create documents folder {}: {}", dir.string(), ec.message());
  return dir;
}

class HostActivity final : public BackgroundActivity {
 public:
  explicit HostActivity(std::string reason) : reason_(std::move(reason)) {}
  const std::string& reason() const override { return reason_; }

 private:
  std::string reason_;
};

class HostProcessApplication final : public Application {
 public:
  ApplicationState applicationState() const override { return ApplicationState::Active; }
  std::filesystem::path documentsDirectory() const override {
    std::call_once(once_, [this] { documents_ = hostDocumentsDirectory(); });
    return documents_;
  }
  void presentLocalNotificationNow(const LocalNotification& n) override {
    Log::info("app", "Local notification: {}", n.alertBody);
  }
  long applicationIconBadgeNumber() const override { return badge_.load(); }
  void setApplicationIconBadgeNumber(long number) override { badge_.store(number); }
  std::shared_ptr<BackgroundActivity> beginBackgroundActivity(std::string reason) override {
    return std::make_shared<HostActivity>(std::move(reason));
  }
  void endBackgroundActivity(const std::shared_ptr<BackgroundActivity>&) override {}
  AdvertisingIdentity advertisingIdentity() const override { return {}; }

 private:
  mutable std::once_flag once_;
  mutable std::filesystem::path documents_;
  std::atomic<long> badge_{0};
};

}  // namespace

std::shared_ptr<Application> Application::hostProcess() {
  static const auto& app = *new auto(std::make_shared<HostProcessApplication>());
  return app;
}

}  // namespace velmora::platform::app
