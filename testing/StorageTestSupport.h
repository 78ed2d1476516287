#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/model/KSBeacon.h"
#include "beacons/storage/KSLocalStorageManager.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/store/StoreContext.h"
#include "testing/ScopedModelRegistry.h"
#include "testing/TempDir.h"

namespace velmora::kestrine::testing {

// A storage manager on a real store file in a temporary folder, on the virtual scheduler,
// registered as the model's store port. reopen() closes the store (as at a restart) and
// makes a new manager over the same file.
class StorageFixture {
 public:
  explicit StorageFixture(std::shared_ptr<platform::dispatch::Scheduler> scheduler = nullptr)
      : scheduler_(scheduler ? std::move(scheduler) : std::make_shared<platform::dispatch::VirtualScheduler>()) {
    open();
  }
  ~StorageFixture() { registry_.reset(); }

  void open() {
    registry_.reset();
    manager_.reset();
    provider_ = std::make_shared<KSManagedObjectContextProvider>(dir_.path(), scheduler_);
    KSLocalStorageManager::Environment env;
    env.provider = provider_;
    env.scheduler = scheduler_;
    env.storageEnabled = [enabled = enabled_] { return enabled->load(); };
    env.notificationCenter = center_;
    env.application = &application_;
    manager_ = KSLocalStorageManager::create(std::move(env));
    registry_.emplace(ScopedModelRegistry::Parts{.store = manager_, .scheduler = scheduler_});
  }
  void reopen() {
    drain();
    open();
  }

  // Runs what the queues hold (the store's and the main queue) under the virtual scheduler.
  void drain() {
    if (auto v = std::dynamic_pointer_cast<platform::dispatch::VirtualScheduler>(scheduler_)) v->runUntilIdle();
  }
  void save() {
    manager_->saveContext();
    drain();
  }
  void setEnabled(bool on) { enabled_->store(on); }

  // Direct access to the store's connection, on its queue.
  void withContext(const std::function<void(platform::store::StoreContext&)>& work) {
    auto store = manager_->mainContext();
    ASSERT_TRUE(store);
    store->performAndWait(work);
  }
  std::int64_t count(const std::string& entity, const platform::store::Predicate& p = {}) {
    std::int64_t n = -1;
    withContext([&](platform::store::StoreContext& c) { n = c.count(entity, p).value_or(-1); });
    return n;
  }
  std::vector<platform::store::Row> rows(const std::string& entity, const platform::store::Predicate& p = {}) {
    std::vector<platform::store::Row> out;
    withContext([&](platform::store::StoreContext& c) {
      platform::store::FetchRequest r;
      r.entity = entity;
      r.predicate = p;
      out = c.fetch(r).value_or(std::vector<platform::store::Row>{});
    });
    return out;
  }
  platform::store::ObjectID insert(const std::string& entity, const platform::Dict& values) {
    platform::store::ObjectID id;
    withContext([&](platform::store::StoreContext& c) {
      platform::Error e;
      auto row = c.insert(entity, values, &e);
      ASSERT_TRUE(row) << e.localizedDescription;
      id = *row;
    });
    return id;
  }

  KSLocalStorageManager& manager() { return *manager_; }
  const std::shared_ptr<KSLocalStorageManager>& managerPtr() { return manager_; }
  platform::NotificationCenter& center() { return *center_; }
  const void* application() const { return &application_; }
  const std::shared_ptr<platform::dispatch::Scheduler>& scheduler() const { return scheduler_; }
  const velmora::testing::TempDir& dir() const { return dir_; }

 private:
  velmora::testing::TempDir dir_;
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::shared_ptr<std::atomic<bool>> enabled_ = std::make_shared<std::atomic<bool>>(true);
  std::shared_ptr<platform::NotificationCenter> center_ = std::make_shared<platform::NotificationCenter>();
  int application_ = 0;
  std::shared_ptr<KSManagedObjectContextProvider> provider_;
  std::shared_ptr<KSLocalStorageManager> manager_;
  std::optional<ScopedModelRegistry> registry_;
};

}  // namespace velmora::kestrine::testing
