#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "beacons/model/KSApp.h"
#include "beacons/ranging/KSRangingServicePorts.h"
#include "platform/core/Clock.h"
#include "platform/core/Error.h"

namespace velmora::kestrine::testsupport {

// An account manager whose server the test plays: a verification waits until answer()
// (200 verifies, 401 invalidates, anything else leaves the token unverified). A cached app
// for a token restores it at once, as a matching verification code does. Thread-safe; the
// blocks run on the thread that answers.
class FakeAccountManager : public KSAccountManaging {
 public:
  explicit FakeAccountManager(std::shared_ptr<platform::Clock> clock) : clock_(std::move(clock)) {}

  // A verification of that token held from an earlier run, made that many seconds ago.
  void cacheVerification(const std::string& token, double secondsAgo) {
    std::lock_guard lock(mutex_);
    cachedToken_ = token;
    cachedApp_ = std::make_shared<KSApp>();
    cachedApp_->setAppID("app-1");
    cachedApp_->setVerifiedAt(clock_->now().addingTimeInterval(-secondsAgo));
  }
  void setStatus(int status) {
    std::lock_guard lock(mutex_);
    status_ = status;
  }

  int appTokenStatus() override {
    std::lock_guard lock(mutex_);
    return status_;
  }
  std::shared_ptr<KSApp> verifiedApp() override {
    std::lock_guard lock(mutex_);
    if (!app_) app_ = std::make_shared<KSApp>();
    return app_;
  }
  void attemptAppRestoreAndVerifyWithToken(const std::string& token) override {
    std::lock_guard lock(mutex_);
    ++restores;
    if (cachedApp_ && cachedToken_ == token) {
      app_ = cachedApp_;
      status_ = 2;
    }
  }
  void verifyAppWithToken(const std::string& token, std::function<void(App)> success,
                          std::function<void(platform::Error)> failure) override {
    std::lock_guard lock(mutex_);
    if (status_ != 2) status_ = 1;
    tokens.push_back(token);
    pending_.push_back({std::move(success), std::move(failure)});
  }

  std::size_t pendingCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
  }
  // Answers the oldest verification still waiting.
  void answer(int httpStatus) {
    Pending p;
    std::shared_ptr<KSApp> app;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty()) return;
      p = std::move(pending_.front());
      pending_.erase(pending_.begin());
      if (httpStatus == 200) {
        status_ = 2;
        app_ = std::make_shared<KSApp>();
        app_->setAppID("app-1");
        app_->setVerifiedAt(clock_->now());
        app = app_;
      } else if (httpStatus == 401) {
        status_ = 3;
        app_.reset();
      } else {
        status_ = 1;
      }
    }
    if (httpStatus == 200) {
      if (p.success) p.success(app);
    } else if (p.failure) {
      p.failure(platform::Error("org.kestrine.test", httpStatus, "verification failed"));
    }
  }

  std::vector<std::string> tokens;  // verifications asked for
  int restores = 0;

 private:
  struct Pending {
    std::function<void(App)> success;
    std::function<void(platform::Error)> failure;
  };
  const std::shared_ptr<platform::Clock> clock_;
  mutable std::mutex mutex_;
  int status_ = 0;
  std::optional<std::string> cachedToken_;
  std::shared_ptr<KSApp> cachedApp_;
  std::shared_ptr<KSApp> app_;
  std::vector<Pending> pending_;
};

}  // namespace velmora::kestrine::testsupport
