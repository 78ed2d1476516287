#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/Value.h"
#include "platform/dispatch/Queue.h"
#include "platform/notify/Notification.h"

namespace velmora::platform {

// Delivers notifications by name to the observers registered for them.
//
// An observer names the notifications it wants (empty: all) and, optionally, the one object
// whose notifications it wants (compared by address with Notification::object; nullptr:
// any). Observers without a queue are called on the posting thread, synchronously, in the
// order they were added; an observer with a queue gets its own copy of the notification
// submitted asynchronously to that queue.
//
// An observer stays registered until removeObserver, even when nobody keeps its token. Once
// removeObserver has returned, the observer is not called again: not later in a post that
// is under way (also when it is removed from inside another observer's, or its own, call),
// and not from a delivery still waiting on its queue. A call already running on another
// thread finishes. Observers added while a post is under way do not receive that post.
// Thread-safe.
class NotificationCenter {
 public:
  using Block = std::function<void(const Notification&)>;
  class Observer;
  using ObserverToken = std::shared_ptr<Observer>;

  // The process-wide centre; made on first use and never destroyed.
  static NotificationCenter& defaultCenter();

  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  [[nodiscard]] ObserverToken addObserver(std::string name, const void* object,
                                          std::shared_ptr<dispatch::Queue> queue, Block block);
  // Ignores a null token and one that was removed already.
  void removeObserver(const ObserverToken& token);

  void post(Notification notification);
  void post(std::string name, std::shared_ptr<void> object = nullptr, Dict userInfo = {});

 private:
  std::mutex mutex_;
  std::vector<ObserverToken> observers_;  // in registration order
};

}  // namespace velmora::platform
