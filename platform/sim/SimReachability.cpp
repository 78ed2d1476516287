#include "platform/sim/SimReachability.h"

namespace velmora::platform::sim {

class SimReachability::Target final : public net::Reachability {
 public:
  explicit Target(std::shared_ptr<SimReachability> sim) : sim_(std::move(sim)) {}
  ~Target() override { stopNotifier(); }

  std::optional<std::uint32_t> flags() const override { return sim_->flags(); }
  bool startNotifier(std::shared_ptr<dispatch::Queue> queue, std::function<void(std::uint32_t)> onChange) override {
    stopNotifier();
    if (!queue || !onChange) return false;
    std::lock_guard lock(mutex_);
    id_ = sim_->addNotifier({std::move(queue), std::move(onChange)});
    return true;
  }
  void stopNotifier() override {
    std::lock_guard lock(mutex_);
    if (id_ != 0) sim_->removeNotifier(id_);
    id_ = 0;
  }

 private:
  const std::shared_ptr<SimReachability> sim_;
  std::mutex mutex_;
  std::uint64_t id_ = 0;
};

std::shared_ptr<SimReachability> SimReachability::create(std::shared_ptr<dispatch::Scheduler> scheduler,
                                                         std::uint32_t flags) {
  return std::shared_ptr<SimReachability>(new SimReachability(std::move(scheduler), flags));
}

SimReachability::SimReachability(std::shared_ptr<dispatch::Scheduler> scheduler, std::uint32_t flags)
    : timeline_(SimTimeline::create(std::move(scheduler), "platform.sim.reachability")), flags_(flags) {}

std::shared_ptr<net::Reachability> SimReachability::forInternet() { return std::make_shared<Target>(shared_from_this()); }
std::shared_ptr<net::Reachability> SimReachability::forHost(std::string) { return forInternet(); }
std::shared_ptr<net::Reachability> SimReachability::forAddress(std::string) { return forInternet(); }

void SimReachability::setFlags(std::uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (flags_ == flags) return;
  flags_ = flags;
  std::weak_ptr<SimReachability> weak = weak_from_this();
  for (const auto& [id, n] : notifiers_) {
    // A notifier stopped before the report runs does not get it.
    n.queue->async([weak, id = id, flags] {
      auto self = weak.lock();
      if (!self) return;
      std::function<void(std::uint32_t)> onChange;
      {
        std::lock_guard lock(self->mutex_);
        auto it = self->notifiers_.find(id);
        if (it == self->notifiers_.end()) return;
        onChange = it->second.onChange;
      }
      onChange(flags);
    });
  }
}

void SimReachability::setFlagsAfter(double seconds, std::uint32_t flags) {
  std::weak_ptr<SimReachability> weak = weak_from_this();
  timeline_->after(seconds, [weak, flags] {
    if (auto self = weak.lock()) self->setFlags(flags);
  });
}

void SimReachability::setReadable(bool readable) {
  std::lock_guard lock(mutex_);
  readable_ = readable;
}

std::optional<std::uint32_t> SimReachability::flags() const {
  std::lock_guard lock(mutex_);
  if (!readable_) return std::nullopt;
  return flags_;
}

std::size_t SimReachability::notifierCount() const {
  std::lock_guard lock(mutex_);
  return notifiers_.size();
}

std::uint64_t SimReachability::addNotifier(Notifier notifier) {
  std::lock_guard lock(mutex_);
  const auto id = nextId_++;
  notifiers_.emplace(id, std::move(notifier));
  return id;
}

void SimReachability::removeNotifier(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  notifiers_.erase(id);
}

}  // namespace velmora::platform::sim
