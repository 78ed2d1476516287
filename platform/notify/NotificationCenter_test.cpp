#include "platform/notify/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/ThreadScheduler.h"
#include "platform/dispatch/VirtualScheduler.h"

namespace velmora::platform {
namespace {

TEST(NotificationCenterTest, SynchronousObserversRunOnThePosterInRegistrationOrder) {
  NotificationCenter center;
  std::vector<std::string> log;
  std::vector<std::thread::id> threads;
  std::vector<NotificationCenter::ObserverToken> tokens;
  for (const char* who : {"first", "second", "third"}) {
    tokens.push_back(center.addObserver("Changed", nullptr, nullptr, [&, who](const Notification& n) {
      log.push_back(std::string(who) + ":" + n.name + ":" + *n.userInfo.at("siteID").string());
      threads.push_back(std::this_thread::get_id());
    }));
  }
  center.post("Changed", nullptr, Dict{{"siteID", "s-1"}});
  EXPECT_EQ(log, (std::vector<std::string>{"first:Changed:s-1", "second:Changed:s-1", "third:Changed:s-1"}));
  for (const auto& t : threads) EXPECT_EQ(t, std::this_thread::get_id());
}

TEST(NotificationCenterTest, NameAndObjectFilters) {
  NotificationCenter center;
  auto site = std::make_shared<int>(1);
  auto other = std::make_shared<int>(2);
  static const char kClassTag = 0;

  struct Case {
    const char* observer;
    std::string name;
    const void* object;
  };
  const std::vector<Case> cases = {
      {"everything", "", nullptr},
      {"any Entered", "Entered", nullptr},
      {"anything from site", "", site.get()},
      {"Entered from site", "Entered", site.get()},
      {"anything from the class", "", &kClassTag},
  };
  std::vector<std::vector<std::string>> received(cases.size());
  std::vector<NotificationCenter::ObserverToken> tokens;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    tokens.push_back(center.addObserver(cases[i].name, cases[i].object, nullptr,
                                        [&received, i](const Notification& n) { received[i].push_back(n.name); }));
  }

  center.post("Entered", site);
  center.post("Entered", other);
  center.post("Exited", site);
  center.post("Entered");
  center.post("Started", Notification::unowned(&kClassTag));

  const std::vector<std::vector<std::string>> expected = {
      {"Entered", "Entered", "Exited", "Entered", "Started"},
      {"Entered", "Entered", "Entered"},
      {"Entered", "Exited"},
      {"Entered"},
      {"Started"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(received[i], expected[i]) << cases[i].observer;
}

TEST(NotificationCenterTest, ObjectCarriesThePayload) {
  NotificationCenter center;
  struct Person {
    std::string name;
  };
  std::string seen;
  auto token = center.addObserver("LoggedIn", nullptr, nullptr, [&](const Notification& n) {
    seen = std::static_pointer_cast<Person>(n.object)->name;
  });
  center.post("LoggedIn", std::make_shared<Person>(Person{"Ada"}));
  EXPECT_EQ(seen, "Ada");
}

TEST(NotificationCenterTest, ObserverWithAQueueGetsTheNotificationAsynchronouslyThere) {
  dispatch::VirtualScheduler s;
  auto q = s.makeSerialQueue("observer");
  NotificationCenter center;
  std::vector<std::string> log;
  bool onQueue = false;
  auto queued = center.addObserver("Ping", nullptr, q, [&](const Notification& n) {
    onQueue = q->isCurrent();
    log.push_back("queued:" + *n.userInfo.at("n").string());
  });
  auto direct = center.addObserver("Ping", nullptr, nullptr, [&](const Notification&) { log.push_back("direct"); });

  center.post("Ping", nullptr, Dict{{"n", "1"}});
  EXPECT_EQ(log, (std::vector<std::string>{"direct"}));
  s.runUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"direct", "queued:1"}));
  EXPECT_TRUE(onQueue);

  // Removed before its delivery ran: never called.
  center.post("Ping", nullptr, Dict{{"n", "2"}});
  center.removeObserver(queued);
  s.runUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"direct", "queued:1", "direct"}));
}

TEST(NotificationCenterTest, RemovalFromInsideACallback) {
  NotificationCenter center;
  std::vector<std::string> log;
  NotificationCenter::ObserverToken self, victim, last;
  self = center.addObserver("N", nullptr, nullptr, [&](const Notification&) {
    log.push_back("self");
    center.removeObserver(self);
  });
  auto remover = center.addObserver("N", nullptr, nullptr, [&](const Notification&) {
    log.push_back("remover");
    center.removeObserver(victim);
    center.removeObserver(victim);  // twice: harmless
  });
  victim = center.addObserver("N", nullptr, nullptr, [&](const Notification&) { log.push_back("victim"); });
  last = center.addObserver("N", nullptr, nullptr, [&](const Notification&) { log.push_back("last"); });

  center.post("N");
  EXPECT_EQ(log, (std::vector<std::string>{"self", "remover", "last"}));
  log.clear();
  center.post("N");
  EXPECT_EQ(log, (std::vector<std::string>{"remover", "last"}));
  center.removeObserver(nullptr);
}

TEST(NotificationCenterTest, ObserverAddedDuringAPostMissesThatPost) {
  NotificationCenter center;
  int lateCalls = 0;
  NotificationCenter::ObserverToken late;
  auto adder = center.addObserver("N", nullptr, nullptr, [&](const Notification&) {
    if (!late) late = center.addObserver("N", nullptr, nullptr, [&](const Notification&) { ++lateCalls; });
  });
  center.post("N");
  EXPECT_EQ(lateCalls, 0);
  center.post("N");
  EXPECT_EQ(lateCalls, 1);
}

TEST(NotificationCenterTest, ConcurrentPostsAndRegistrations) {
  dispatch::ThreadScheduler s;
  auto q = s.makeConcurrentQueue("observers");
  auto group = s.makeGroup();
  NotificationCenter center;
  std::atomic<int> direct{0};
  std::atomic<int> queued{0};
  auto a = center.addObserver("Tick", nullptr, nullptr, [&](const Notification&) { ++direct; });
  auto b = center.addObserver("Tick", nullptr, q, [&](const Notification&) { ++queued; });

  constexpr int kPosters = 4;
  constexpr int kPosts = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kPosters; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kPosts; ++i) center.post("Tick");
    });
  }
  // Meanwhile observers come and go on another thread.
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) {
      auto t = center.addObserver("Tick", nullptr, q, [](const Notification&) {});
      center.removeObserver(t);
    }
  });
  for (auto& t : threads) t.join();
  q->barrierSync([] {});  // every queued delivery has run
  EXPECT_EQ(direct, kPosters * kPosts);
  EXPECT_EQ(queued, kPosters * kPosts);
}

// What one part of the process posts to the default centre from any thread reaches an
// observer that another part registered there, until that observer is removed.
TEST(NotificationCenterTest, DefaultCenterConnectsPostersAndObserversAcrossThreads) {
  std::vector<std::string> seen;
  auto token = NotificationCenter::defaultCenter().addObserver(
      "DefaultCenterTest.Ping", nullptr, nullptr,
      [&](const Notification& n) { seen.push_back(*n.userInfo.at("from").string()); });
  std::thread([] { NotificationCenter::defaultCenter().post("DefaultCenterTest.Ping", nullptr, Dict{{"from", "a"}}); })
      .join();
  NotificationCenter::defaultCenter().post("DefaultCenterTest.Ping", nullptr, Dict{{"from", "b"}});
  NotificationCenter::defaultCenter().removeObserver(token);
  NotificationCenter::defaultCenter().post("DefaultCenterTest.Ping", nullptr, Dict{{"from", "c"}});
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace velmora::platform
