#include "platform/sim/SimApp.h"

namespace velmora::platform::sim {

using app::ApplicationState;

class SimApp::Activity final : public app::BackgroundActivity {
 public:
  explicit Activity(std::string reason) : reason_(std::move(reason)) {}
  const std::string& reason() const override { return reason_; }
  bool ended = false;  // under the app's lock

 private:
  std::string reason_;
};

std::shared_ptr<SimApp> SimApp::create(std::shared_ptr<dispatch::Scheduler> scheduler, NotificationCenter& center,
                                       std::filesystem::path documents) {
  return std::shared_ptr<SimApp>(new SimApp(std::move(scheduler), center, std::move(documents)));
}

SimApp::SimApp(std::shared_ptr<dispatch::Scheduler> scheduler, NotificationCenter& center,
               std::filesystem::path documents)
    : scheduler_(std::move(scheduler)),
      timeline_(SimTimeline::create(scheduler_, "platform.sim.app")),
      center_(center),
      documents_(std::move(documents)) {}

void SimApp::perform(Step step) {
  std::weak_ptr<SimApp> weak = weak_from_this();
  scheduler_->mainQueue()->async([weak, step] {
    if (auto self = weak.lock()) self->run(step);
  });
}

void SimApp::performAfter(double seconds, Step step) {
  std::weak_ptr<SimApp> weak = weak_from_this();
  timeline_->after(seconds, [weak, step] {
    if (auto self = weak.lock()) self->perform(step);
  });
}

void SimApp::enter(ApplicationState state, std::string_view notification) {
  state_.store(state);
  std::shared_ptr<app::Application> sender = shared_from_this();
  center_.post(std::string(notification), std::static_pointer_cast<void>(sender));
}

void SimApp::run(Step step) {
  if (terminated_) return;
  const auto state = state_.load();
  switch (step) {
    case Step::LaunchForeground:
      enter(ApplicationState::Inactive, app::kDidFinishLaunchingNotification);
      enter(ApplicationState::Active, app::kDidBecomeActiveNotification);
      break;
    case Step::LaunchBackground:
      enter(ApplicationState::Background, app::kDidFinishLaunchingNotification);
      break;
    case Step::Activate:
      if (state == ApplicationState::Inactive) enter(ApplicationState::Active, app::kDidBecomeActiveNotification);
      break;
    case Step::ResignActive:
      if (state == ApplicationState::Active) enter(ApplicationState::Inactive, app::kWillResignActiveNotification);
      break;
    case Step::EnterBackground:
      if (state == ApplicationState::Background) break;
      if (state == ApplicationState::Active) enter(ApplicationState::Inactive, app::kWillResignActiveNotification);
      enter(ApplicationState::Background, app::kDidEnterBackgroundNotification);
      break;
    case Step::EnterForeground:
      if (state != ApplicationState::Background) break;
      enter(ApplicationState::Inactive, app::kWillEnterForegroundNotification);
      enter(ApplicationState::Active, app::kDidBecomeActiveNotification);
      break;
    case Step::Terminate:
      terminated_ = true;
      enter(state, app::kWillTerminateNotification);
      break;
  }
}

void SimApp::setAdvertisingIdentity(app::AdvertisingIdentity identity) {
  std::lock_guard lock(mutex_);
  identity_ = identity;
}

app::AdvertisingIdentity SimApp::advertisingIdentity() const {
  std::lock_guard lock(mutex_);
  return identity_;
}

void SimApp::presentLocalNotificationNow(const app::LocalNotification& notification) {
  std::lock_guard lock(mutex_);
  presented_.push_back(notification);
  // As on the phone, a notification carrying a badge number sets the icon's badge; 0 leaves it.
  if (notification.applicationIconBadgeNumber != 0) badge_.store(notification.applicationIconBadgeNumber);
}

std::vector<app::LocalNotification> SimApp::presentedNotifications() const {
  std::lock_guard lock(mutex_);
  return presented_;
}

std::shared_ptr<app::BackgroundActivity> SimApp::beginBackgroundActivity(std::string reason) {
  auto activity = std::make_shared<Activity>(std::move(reason));
  std::lock_guard lock(mutex_);
  activities_.push_back(activity);
  return activity;
}

void SimApp::endBackgroundActivity(const std::shared_ptr<app::BackgroundActivity>& activity) {
  std::lock_guard lock(mutex_);
  for (auto& a : activities_) {
    if (a.get() == activity.get()) a->ended = true;
  }
}

std::vector<std::string> SimApp::heldBackgroundActivities() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& a : activities_) {
    if (!a->ended) out.push_back(a->reason());
  }
  return out;
}

std::vector<SimApp::ActivityRecord> SimApp::backgroundActivityLog() const {
  std::lock_guard lock(mutex_);
  std::vector<ActivityRecord> out;
  for (const auto& a : activities_) out.push_back({a->reason(), a->ended});
  return out;
}

}  // namespace velmora::platform::sim
