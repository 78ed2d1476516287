// A subscriber released on the host's thread while the SDK's thread sends to it: the
// subscriber removes itself from the multicast in its destructor, as the SDK's own owners
// (beacon manager, event manager, zone monitor, micro-location manager) do. Nothing may
// hang; the run is bounded and ends in a child process that is killed if it stalls.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "beacons/foundation/KSGCDMulticastDelegate.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/ThreadScheduler.h"

namespace hostsuite {
namespace {

using velmora::kestrine::KSGCDMulticastDelegate;

class Listener {
 public:
  virtual ~Listener() = default;
  virtual void didHear(int) {}
};

class SelfRemovingListener final : public Listener {
 public:
  explicit SelfRemovingListener(KSGCDMulticastDelegate<Listener>& multicast) : multicast_(multicast) {}
  ~SelfRemovingListener() override { multicast_.removeDelegate(this); }
  void didHear(int) override { heard.fetch_add(1); }
  std::atomic<int> heard{0};

 private:
  KSGCDMulticastDelegate<Listener>& multicast_;
};

// Runs the body in a child that must exit 0 within the bound (in seconds of real time; the
// child's own alarm ends it otherwise). Answers the child's exit status, 128+signal if killed.
template <class Body>
int inBoundedChild(unsigned seconds, Body body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(seconds);
    body();
    std::_Exit(0);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

TEST(HostMulticast, SubscriberReleasedDuringASendDoesNotHang) {
  const int status = inBoundedChild(15, [] {
    auto scheduler = std::make_shared<velmora::platform::dispatch::ThreadScheduler>();
    auto queue = scheduler->makeSerialQueue("host.listener");
    KSGCDMulticastDelegate<Listener> multicast;
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> sends{0};
    std::thread sender([&] {
      while (!done.load()) {
        multicast.invoke(&Listener::didHear, 1);
        sends.fetch_add(1);
      }
    });
    // The host makes a subscriber, lets the sender reach it, and drops it at some moment of
    // a send: now and then the sender holds the only other reference just then.
    for (int i = 0; i < 20000; ++i) {
      auto listener = std::make_shared<SelfRemovingListener>(multicast);
      multicast.addDelegate(listener, queue);
      const std::uint64_t seen = sends.load();
      while (sends.load() < seen + 2) std::this_thread::yield();
      listener.reset();
    }
    done = true;
    sender.join();
    queue->sync([] {});
  });
  EXPECT_EQ(status, 0) << "status " << status << (status == 128 + SIGALRM ? " (hung: killed by its alarm)" : "");
}

}  // namespace
}  // namespace hostsuite
