#include "beacons/foundation/KSInstanceProvider.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "platform/core/Log.h"

namespace velmora::kestrine {
namespace {

struct Widget {
  int id = 0;
  std::shared_ptr<Widget> inner;
};
struct Gadget {};

KSInstanceProvider::Maker<Widget> widgetMaker(std::atomic<int>& made) {
  return [&made](KSInstanceProvider&) { return std::make_shared<Widget>(Widget{++made, nullptr}); };
}

TEST(KSInstanceProvider, KeepsOneInstancePerNameAndPrefersAnInstalledMaker) {
  auto provider = KSInstanceProvider::create({});
  std::atomic<int> made{0};
  auto a = provider->singleton<Widget>("Widget", widgetMaker(made));
  auto b = provider->singleton<Widget>("Widget", widgetMaker(made));
  ASSERT_TRUE(a);
  EXPECT_EQ(a, b);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(provider->singletonNamed("Widget"), std::static_pointer_cast<void>(a));

  provider->installMaker<Widget>("Other", [](KSInstanceProvider&) { return std::make_shared<Widget>(Widget{99, nullptr}); });
  EXPECT_EQ(provider->singleton<Widget>("Other", widgetMaker(made))->id, 99);
  EXPECT_EQ(made, 1);

  {
    platform::LogCapture log;
    EXPECT_EQ(provider->singletonNamed("Unknown"), nullptr);
    EXPECT_EQ(log.count("no maker for the singleton \"Unknown\""), 1u);
    EXPECT_FALSE(provider->hasSingleton("Unknown"));
  }

  // A name kept for one class is not handed out as another.
  const auto errors = platform::programmingErrorCount();
  EXPECT_EQ(provider->singleton<Gadget>("Widget", [](KSInstanceProvider&) { return std::make_shared<Gadget>(); }), nullptr);
  EXPECT_EQ(platform::programmingErrorCount(), errors + 1);
}

TEST(KSInstanceProvider, MakersMayAskForWhatTheyNeedButACycleIsNamed) {
  auto provider = KSInstanceProvider::create({});
  provider->installMaker<Widget>("B", [](KSInstanceProvider& p) {
    auto w = std::make_shared<Widget>(Widget{2, nullptr});
    w->inner = p.singleton<Widget>("A", {});  // A is being made: a cycle
    return w;
  });
  provider->installMaker<Widget>("A", [](KSInstanceProvider& p) {
    return std::make_shared<Widget>(Widget{1, p.singleton<Widget>("B", {})});
  });
  platform::LogCapture log;
  const auto errors = platform::programmingErrorCount();
  auto a = provider->singleton<Widget>("A", {});
  ASSERT_TRUE(a);
  ASSERT_TRUE(a->inner);
  EXPECT_EQ(a->inner->id, 2);
  EXPECT_EQ(a->inner->inner, nullptr);
  EXPECT_EQ(platform::programmingErrorCount(), errors + 1);
  EXPECT_EQ(log.count("Singleton cycle: A -> B -> A"), 1u);
  EXPECT_EQ(provider->singleton<Widget>("B", {}), a->inner);
}

TEST(KSInstanceProvider, EightRacingThreadsGetOneInstance) {
  auto provider = KSInstanceProvider::create({});
  std::atomic<int> made{0};
  constexpr int kThreads = 8;
  std::latch start(kThreads);
  std::vector<std::shared_ptr<Widget>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      seen[i] = provider->singleton<Widget>("Widget", widgetMaker(made));
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(made, 1);
  for (const auto& w : seen) EXPECT_EQ(w, seen[0]);
  ASSERT_TRUE(seen[0]);
}

TEST(KSInstanceProvider, TestsInstallAFreshSharedRegistry) {
  auto fresh = KSInstanceProvider::create({});
  KSInstanceProvider::setSharedProvider(fresh);
  EXPECT_EQ(KSInstanceProvider::sharedProvider(), fresh);
  auto another = KSInstanceProvider::create({});
  KSInstanceProvider::setSharedProvider(another);
  EXPECT_EQ(KSInstanceProvider::sharedProvider(), another);
  KSInstanceProvider::setSharedProvider(nullptr);
}

}  // namespace
}  // namespace velmora::kestrine
