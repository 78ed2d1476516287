#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/net/Reachability.h"

namespace velmora::platform::net {

// Reachability read from the host's network interfaces. The network is reachable when an
// interface other than loopback is up, running and has an address; it is reached over
// WWAN when every such interface is a cellular one (named wwan*, rmnet* or ppp*).
// A host or an address is judged like the internet at large: the interfaces say nothing
// about one peer.
class InterfaceReachability final : public Reachability {
 public:
  struct Interface {
    std::string name;
    bool up = false;
    bool running = false;
    bool loopback = false;
    bool hasAddress = false;  // an IPv4 address, or an IPv6 one that is not link-local
  };

  InterfaceReachability();
  ~InterfaceReachability() override;

  static std::uint32_t flagsFor(const std::vector<Interface>& interfaces);
  static bool isCellularName(const std::string& name);
  // The host's interfaces now; nullopt when they cannot be listed.
  static std::optional<std::vector<Interface>> readInterfaces();

  std::optional<std::uint32_t> flags() const override;
  bool startNotifier(std::shared_ptr<dispatch::Queue> queue, std::function<void(std::uint32_t)> onChange) override;
  void stopNotifier() override;

 private:
  struct Watcher;
  std::unique_ptr<Watcher> watcher_;
};

}  // namespace velmora::platform::net
