#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/app/Application.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/sim/SimTimeline.h"

namespace velmora::platform::sim {

// A scripted application lifecycle. Each step runs on the main queue: the state changes,
// then its notification is posted (sender: this object as an Application), so an observer
// always reads the new state. Until launched the state is inactive.
//
//   LaunchForeground  did-finish-launching (inactive), did-become-active (active)
//   LaunchBackground  did-finish-launching (background)
//   Activate          did-become-active, from inactive
//   ResignActive      will-resign-active (inactive), from active
//   EnterBackground   will-resign-active first when active, then did-enter-background (background)
//   EnterForeground   will-enter-foreground (inactive), then did-become-active, from background
//   Terminate         will-terminate; later steps do nothing
//
// A step that does not apply to the current state posts nothing. It also records the
// local notifications presented, keeps the badge and the background activities held,
// and serves a settable advertising identity (none by default).
class SimApp : public app::Application, public std::enable_shared_from_this<SimApp> {
 public:
  enum class Step { LaunchForeground, LaunchBackground, Activate, ResignActive, EnterBackground, EnterForeground, Terminate };

  static std::shared_ptr<SimApp> create(std::shared_ptr<dispatch::Scheduler> scheduler, NotificationCenter& center,
                                        std::filesystem::path documents);

  // The step, posted to the main queue now.
  void perform(Step step);
  // The step, that many seconds from now.
  void performAfter(double seconds, Step step);

  void setAdvertisingIdentity(app::AdvertisingIdentity identity);
  std::vector<app::LocalNotification> presentedNotifications() const;
  // Reasons of the background activities held now, oldest first.
  std::vector<std::string> heldBackgroundActivities() const;
  // Every activity begun so far, with whether it has ended.
  struct ActivityRecord {
    std::string reason;
    bool ended = false;
  };
  std::vector<ActivityRecord> backgroundActivityLog() const;

  // app::Application
  app::ApplicationState applicationState() const override { return state_.load(); }
  std::filesystem::path documentsDirectory() const override { return documents_; }
  void presentLocalNotificationNow(const app::LocalNotification& notification) override;
  long applicationIconBadgeNumber() const override { return badge_.load(); }
  void setApplicationIconBadgeNumber(long number) override { badge_.store(number); }
  std::shared_ptr<app::BackgroundActivity> beginBackgroundActivity(std::string reason) override;
  void endBackgroundActivity(const std::shared_ptr<app::BackgroundActivity>& activity) override;
  app::AdvertisingIdentity advertisingIdentity() const override;

 private:
  class Activity;
  SimApp(std::shared_ptr<dispatch::Scheduler> scheduler, NotificationCenter& center, std::filesystem::path documents);
  void run(Step step);
  void enter(app::ApplicationState state, std::string_view notification);

  const std::shared_ptr<dispatch::Scheduler> scheduler_;
  const std::shared_ptr<SimTimeline> timeline_;
  NotificationCenter& center_;
  const std::filesystem::path documents_;
  std::atomic<app::ApplicationState> state_{app::ApplicationState::Inactive};
  std::atomic<long> badge_{0};
  bool terminated_ = false;  // main queue only
  mutable std::mutex mutex_;
  app::AdvertisingIdentity identity_;
  std::vector<app::LocalNotification> presented_;
  std::vector<std::shared_ptr<Activity>> activities_;  // every one begun, in order
};

}  // namespace velmora::platform::sim
