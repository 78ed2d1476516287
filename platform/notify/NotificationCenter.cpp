#include "platform/notify/NotificationCenter.h"

#include <algorithm>

#include "platform/core/Log.h"

namespace velmora::platform {

class NotificationCenter::Observer {
 public:
  Observer(std::string name, const void* object, std::shared_ptr<dispatch::Queue> queue, Block block)
      : name_(std::move(name)),
        object_(object),
        queue_(std::move(queue)),
        block_(std::make_shared<const Block>(std::move(block))) {}

  bool matches(const Notification& n) const {
    return (name_.empty() || name_ == n.name) && (object_ == nullptr || object_ == n.object.get());
  }

  const std::shared_ptr<dispatch::Queue>& queue() const { return queue_; }

  void deliver(const Notification& n) {
    std::shared_ptr<const Block> block;
    {
      std::lock_guard lock(mutex_);
      block = block_;
    }
    if (block && *block) (*block)(n);
  }

  // The block goes at once: it often captures whoever holds the token.
  void remove() {
    std::shared_ptr<const Block> dropped;
    std::lock_guard lock(mutex_);
    dropped.swap(block_);
  }

 private:
  const std::string name_;
  const void* const object_;
  const std::shared_ptr<dispatch::Queue> queue_;
  std::mutex mutex_;
  std::shared_ptr<const Block> block_;  // null once removed
};

NotificationCenter& NotificationCenter::defaultCenter() {
  // Never destroyed: other threads may still post while the process exits.
  static auto* center = new NotificationCenter();
  return *center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(std::string name, const void* object,
                                                                  std::shared_ptr<dispatch::Queue> queue,
                                                                  Block block) {
  precondition(static_cast<bool>(block), "block != nil");
  auto observer = std::make_shared<Observer>(std::move(name), object, std::move(queue), std::move(block));
  std::lock_guard lock(mutex_);
  observers_.push_back(observer);
  return observer;
}

void NotificationCenter::removeObserver(const ObserverToken& token) {
  if (!token) return;
  {
    std::lock_guard lock(mutex_);
    std::erase(observers_, token);
  }
  token->remove();
}

void NotificationCenter::post(Notification notification) {
  std::vector<ObserverToken> matching;
  {
    std::lock_guard lock(mutex_);
    for (const auto& o : observers_) {
      if (o->matches(notification)) matching.push_back(o);
    }
  }
  if (matching.empty()) return;
  std::shared_ptr<const Notification> shared;
  for (const auto& o : matching) {
    if (o->queue()) {
      if (!shared) shared = std::make_shared<const Notification>(notification);
      o->queue()->async([o, shared] { o->deliver(*shared); });
    } else {
      o->deliver(notification);
    }
  }
}

void NotificationCenter::post(std::string name, std::shared_ptr<void> object, Dict userInfo) {
  post(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

}  // namespace velmora::platform
