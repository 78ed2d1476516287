#include "platform/net/InterfaceReachability.h"

#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <map>
#include <thread>

#include "platform/core/Log.h"

namespace velmora::platform::net {

std::uint32_t InterfaceReachability::flagsFor(const std::vector<Interface>& interfaces) {
  bool any = false;
  bool onlyCellular = true;
  for (const auto& i : interfaces) {
    if (i.loopback || !i.up || !i.running || !i.hasAddress) continue;
    any = true;
    if (!isCellularName(i.name)) onlyCellular = false;
  }
  if (!any) return 0;
  return std::uint32_t{kReachabilityReachable} | (onlyCellular ? std::uint32_t{kReachabilityIsWWAN} : 0u);
}

bool InterfaceReachability::isCellularName(const std::string& name) {
  return name.starts_with("wwan") || name.starts_with("rmnet") || name.starts_with("ppp");
}

std::optional<std::vector<InterfaceReachability::Interface>> InterfaceReachability::readInterfaces() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return std::nullopt;
  std::map<std::string, Interface> byName;
  for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_name == nullptr) continue;
    auto& i = byName[a->ifa_name];
    i.name = a->ifa_name;
    i.up = i.up || (a->ifa_flags & IFF_UP) != 0;
    i.running = i.running || (a->ifa_flags & IFF_RUNNING) != 0;
    i.loopback = i.loopback || (a->ifa_flags & IFF_LOOPBACK) != 0;
    if (a->ifa_addr == nullptr) continue;
    if (a->ifa_addr->sa_family == AF_INET) {
      i.hasAddress = true;
    } else if (a->ifa_addr->sa_family == AF_INET6) {
      const auto* v6 = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr);
      if (!IN6_IS_ADDR_LINKLOCAL(&v6->sin6_addr)) i.hasAddress = true;
    }
  }
  freeifaddrs(list);
  std::vector<Interface> out;
  for (auto& [name, i] : byName) out.push_back(std::move(i));
  return out;
}

// A thread that waits for link and address changes on a netlink socket and reports the
// flags when they differ from the last ones reported. A pipe wakes it to stop.
struct InterfaceReachability::Watcher {
  int netlink = -1;
  int wake[2] = {-1, -1};
  std::thread thread;

  ~Watcher() {
    if (wake[1] >= 0) {
      const char c = 0;
      [[maybe_unused]] auto n = ::write(wake[1], &c, 1);
    }
    if (thread.joinable()) thread.join();
    if (netlink >= 0) ::close(netlink);
    if (wake[0] >= 0) ::close(wake[0]);
    if (wake[1] >= 0) ::close(wake[1]);
  }

  void run(std::shared_ptr<dispatch::Queue> queue, std::function<void(std::uint32_t)> onChange,
           std::optional<std::uint32_t> last) {
    char buffer[8192];
    for (;;) {
      pollfd fds[2] = {{netlink, POLLIN, 0}, {wake[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      if ((fds[0].revents & POLLIN) == 0) return;
      // Drain everything that is waiting, then read the interfaces once.
      while (::recv(netlink, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
      }
      auto interfaces = readInterfaces();
      if (!interfaces) continue;
      const std::uint32_t now = flagsFor(*interfaces);
      if (last && *last == now) continue;
      last = now;
      queue->async([onChange, now] { onChange(now); });
    }
  }
};

InterfaceReachability::InterfaceReachability() = default;
InterfaceReachability::~InterfaceReachability() { stopNotifier(); }

std::optional<std::uint32_t> InterfaceReachability::flags() const {
  auto interfaces = readInterfaces();
  if (!interfaces) return std::nullopt;
  return flagsFor(*interfaces);
}

bool InterfaceReachability::startNotifier(std::shared_ptr<dispatch::Queue> queue,
                                          std::function<void(std::uint32_t)> onChange) {
  stopNotifier();
  if (!queue || !onChange) return false;
  auto watcher = std::make_unique<Watcher>();
  watcher->netlink = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (watcher->netlink < 0 || ::pipe2(watcher->wake, O_CLOEXEC) != 0) {
    Log::warning("net", "Cannot watch network interfaces (errno {})", errno);
    return false;
  }
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
  if (::bind(watcher->netlink, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Log::warning("net", "Cannot watch network interfaces (errno {})", errno);
    return false;
  }
  auto* w = watcher.get();
  w->thread = std::thread([w, queue, onChange, last = flags()] { w->run(queue, onChange, last); });
  watcher_ = std::move(watcher);
  return true;
}

void InterfaceReachability::stopNotifier() { watcher_.reset(); }

namespace {

class HostInterfacesBackend final : public ReachabilityBackend {
 public:
  std::shared_ptr<Reachability> forInternet() override { return std::make_shared<InterfaceReachability>(); }
  std::shared_ptr<Reachability> forHost(std::string) override { return std::make_shared<InterfaceReachability>(); }
  std::shared_ptr<Reachability> forAddress(std::string) override { return std::make_shared<InterfaceReachability>(); }
};

}  // namespace

std::shared_ptr<ReachabilityBackend> ReachabilityBackend::hostInterfaces() {
  static const auto& backend = *new auto(std::make_shared<HostInterfacesBackend>());
  return backend;
}

}  // namespace velmora::platform::net
