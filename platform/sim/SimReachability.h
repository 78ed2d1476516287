#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/net/Reachability.h"
#include "platform/sim/SimTimeline.h"

namespace velmora::platform::sim {

// Scripted reachability: every target (internet, host, address) reads the same flags.
// A change is reported to each started notifier on its queue; setting the same flags
// again reports nothing.
class SimReachability : public net::ReachabilityBackend, public std::enable_shared_from_this<SimReachability> {
 public:
  // Starts reachable over WiFi (flags 0x2).
  static std::shared_ptr<SimReachability> create(std::shared_ptr<dispatch::Scheduler> scheduler,
                                                 std::uint32_t flags = net::kReachabilityReachable);

  std::shared_ptr<net::Reachability> forInternet() override;
  std::shared_ptr<net::Reachability> forHost(std::string hostName) override;
  std::shared_ptr<net::Reachability> forAddress(std::string address) override;

  void setFlags(std::uint32_t flags);
  // The flags change that many seconds from now.
  void setFlagsAfter(double seconds, std::uint32_t flags);
  // While unreadable, flags() answers nullopt.
  void setReadable(bool readable);

  std::optional<std::uint32_t> flags() const;
  // Notifiers now started.
  std::size_t notifierCount() const;

 private:
  class Target;
  SimReachability(std::shared_ptr<dispatch::Scheduler> scheduler, std::uint32_t flags);

  struct Notifier {
    std::shared_ptr<dispatch::Queue> queue;
    std::function<void(std::uint32_t)> onChange;
  };
  std::uint64_t addNotifier(Notifier notifier);
  void removeNotifier(std::uint64_t id);

  const std::shared_ptr<SimTimeline> timeline_;
  mutable std::mutex mutex_;
  std::uint32_t flags_;
  bool readable_ = true;
  std::map<std::uint64_t, Notifier> notifiers_;
  std::uint64_t nextId_ = 1;
};

}  // namespace velmora::platform::sim
