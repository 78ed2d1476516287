#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Queue.h"

namespace velmora::platform::net {

// Reachability flags, with the platform's bit values.
enum ReachabilityFlag : std::uint32_t {
  kReachabilityTransientConnection = 0x1,
  kReachabilityReachable = 0x2,
  kReachabilityConnectionRequired = 0x4,
  kReachabilityConnectionOnTraffic = 0x8,
  kReachabilityInterventionRequired = 0x10,
  kReachabilityConnectionOnDemand = 0x20,
  kReachabilityIsLocalAddress = 0x10000,
  kReachabilityIsDirect = 0x20000,
  kReachabilityIsWWAN = 0x40000,
};

// Whether one target (the internet at large, a host, an address) can be reached now.
class Reachability {
 public:
  virtual ~Reachability() = default;

  // The current flags; nullopt when they cannot be read.
  virtual std::optional<std::uint32_t> flags() const = 0;
  // Calls onChange with the new flags on the queue whenever they change, until
  // stopNotifier (or the object goes away). A second start replaces the first. False when
  // changes cannot be watched.
  virtual bool startNotifier(std::shared_ptr<dispatch::Queue> queue, std::function<void(std::uint32_t)> onChange) = 0;
  virtual void stopNotifier() = 0;
};

// Makes reachability targets.
class ReachabilityBackend {
 public:
  virtual ~ReachabilityBackend() = default;

  // General internet reachability (the IPv4 zero address).
  virtual std::shared_ptr<Reachability> forInternet() = 0;
  virtual std::shared_ptr<Reachability> forHost(std::string hostName) = 0;
  // A numeric IPv4 or IPv6 address.
  virtual std::shared_ptr<Reachability> forAddress(std::string address) = 0;

  // The backend of this host: the network interfaces that are up, watched over netlink.
  static std::shared_ptr<ReachabilityBackend> hostInterfaces();
};

}  // namespace velmora::platform::net
