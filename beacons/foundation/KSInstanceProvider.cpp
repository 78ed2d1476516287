#include "beacons/foundation/KSInstanceProvider.h"

#include <utility>

#include <fmt/format.h>

#include "beacons/foundation/KSStandardSingletonMakers.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {
namespace {

std::mutex& sharedMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<KSInstanceProvider>& sharedSlot() {
  static std::shared_ptr<KSInstanceProvider>& provider = *new std::shared_ptr<KSInstanceProvider>();
  return provider;
}

}  // namespace

std::shared_ptr<KSInstanceProvider> KSInstanceProvider::create(KSPlatformBundle platform) {
  auto provider = std::shared_ptr<KSInstanceProvider>(new KSInstanceProvider(std::move(platform)));
  // Before anyone can ask: the first request for any of the SDK's singletons then makes the
  // same fully wired object, whoever asks.
  KSInstallStandardSingletonMakers(*provider);
  return provider;
}

std::shared_ptr<KSInstanceProvider> KSInstanceProvider::sharedProvider() {
  std::lock_guard lock(sharedMutex());
  auto& slot = sharedSlot();
  if (!slot) slot = create(KSPlatformBundle::system());
  return slot;
}

void KSInstanceProvider::setSharedProvider(std::shared_ptr<KSInstanceProvider> provider) {
  std::shared_ptr<KSInstanceProvider> old;
  {
    std::lock_guard lock(sharedMutex());
    old = std::exchange(sharedSlot(), std::move(provider));
  }
  // `old` (and the singletons only it kept) goes away here, outside the lock.
}

void KSInstanceProvider::installEntryMaker(std::string name, std::type_index type, EntryMaker maker) {
  std::unique_lock lock(mapMutex_);
  makers_.insert_or_assign(std::move(name), InstalledMaker{type, std::move(maker)});
}

KSInstanceProvider::Entry KSInstanceProvider::find(std::string_view name) const {
  std::shared_lock lock(mapMutex_);
  auto it = singletons_.find(name);
  return it == singletons_.end() ? Entry{} : it->second;
}

std::shared_ptr<void> KSInstanceProvider::singletonNamed(std::string_view name) {
  return obtain(name, typeid(void), {}).instance;
}

bool KSInstanceProvider::hasSingleton(std::string_view name) const {
  std::shared_lock lock(mapMutex_);
  return singletons_.find(name) != singletons_.end();
}

bool KSInstanceProvider::hasMaker(std::string_view name) const {
  std::shared_lock lock(mapMutex_);
  return makers_.find(name) != makers_.end();
}

void KSInstanceProvider::reportTypeMismatch(std::string_view name) {
  platform::reportProgrammingError(fmt::format("The singleton \"{}\" is of another class than asked for", name));
}

KSInstanceProvider::Entry KSInstanceProvider::obtain(std::string_view name, std::type_index fallbackType,
                                                     EntryMaker fallback) {
  if (Entry e = find(name); e.instance) return e;
  std::lock_guard building(buildMutex_);
  std::type_index type = fallbackType;
  EntryMaker make;
  {
    std::shared_lock lock(mapMutex_);
    // Another thread may have made it while this one waited for the build lock.
    if (auto it = singletons_.find(name); it != singletons_.end()) return it->second;
    if (auto it = makers_.find(name); it != makers_.end()) {
      type = it->second.type;
      make = it->second.make;
    }
  }
  if (!make) make = std::move(fallback);
  if (!make) {
    platform::Log::warning("registry", "no maker for the singleton \"{}\"; skipped", name);
    return {};
  }
  for (const std::string& n : building_) {
    if (n == name) {
      std::string chain;
      for (const std::string& m : building_) chain += m + " -> ";
      chain += name;
      platform::reportProgrammingError(fmt::format("Singleton cycle: {}", chain));
      return {};
    }
  }
  building_.emplace_back(name);
  struct PopOnExit {
    std::vector<std::string>& chain;
    ~PopOnExit() { chain.pop_back(); }
  } pop{building_};
  std::shared_ptr<void> instance = make(*this);
  if (!instance) {
    platform::Log::warning("registry", "the maker of \"{}\" made nothing", name);
    return {};
  }
  Entry e{std::move(instance), type};
  std::unique_lock lock(mapMutex_);
  singletons_.emplace(std::string(name), e);
  return e;
}

}  // namespace velmora::kestrine
