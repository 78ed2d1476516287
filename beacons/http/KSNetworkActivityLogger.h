#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "beacons/http/KSURLRequest.h"
#include "platform/core/Clock.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {

// Association key of a task's start time (a Date).
inline constexpr std::string_view KSNetworkRequestStartDate = "KSNetworkRequestStartDate";

// The request of the task that a task notification is about, if any.
std::optional<KSURLRequest> KSNetworkRequestFromNotification(const platform::Notification& notification);

// Writes one or two log lines per request from the HTTP layer's task notifications, with
// timing. Levels: 0 nothing; 1 every request with headers and bodies; 2 one line at start
// and one at end (the default); 3 and 4 failures only; 5 and above nothing. Lines go to the
// platform log under the category "network".
class KSNetworkActivityLogger {
 public:
  using FilterPredicate = std::function<bool(const KSURLRequest&)>;

  static KSNetworkActivityLogger& sharedLogger();

  explicit KSNetworkActivityLogger(platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter(),
                                     std::shared_ptr<platform::Clock> clock = platform::Clock::system());
  ~KSNetworkActivityLogger();
  KSNetworkActivityLogger(const KSNetworkActivityLogger&) = delete;
  KSNetworkActivityLogger& operator=(const KSNetworkActivityLogger&) = delete;

  std::uint64_t level() const;
  void setLevel(std::uint64_t level);
  // Requests for which the predicate answers true are not logged.
  void setFilterPredicate(FilterPredicate predicate);

  void startLogging();
  void stopLogging();

 private:
  struct State;
  platform::NotificationCenter& center_;
  std::shared_ptr<State> state_;
  std::mutex tokensMutex_;
  platform::NotificationCenter::ObserverToken resumeToken_;
  platform::NotificationCenter::ObserverToken completeToken_;
};

}  // namespace velmora::kestrine
