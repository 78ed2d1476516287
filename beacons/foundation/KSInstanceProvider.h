#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <typeindex>
#include <vector>

#include "beacons/foundation/KSPlatformBundle.h"

namespace velmora::kestrine {

// The one place that makes and keeps the beacon layer's long-lived objects.
//
// Singletons are kept by name (their class's name). Each class's own shared accessor asks
// for its instance with singleton<T>(name, maker); the first request makes it, later ones
// return the same instance. Owners may also install a maker for their name, so code below
// them can ask for the instance by name alone (singletonNamed), as the configure step
// does for classes that sit above it; an installed maker is preferred over the accessor's
// own, which is how tests put fakes in place.
//
// A registry is born with the makers of the SDK's own singletons installed
// (KSStandardSingletonMakers.h): whoever asks first for one of them gets the fully wired
// object the SDK makes, never a partial one made by an accessor's own maker.
//
// First use from several threads makes one instance: making runs under one recursive lock,
// so a maker may ask for the singletons it needs. A request for a class that is being made
// on the same chain (A -> B -> A) is a programming error naming the chain, and answers
// nullptr. Lookups of made instances take a shared lock only. Thread-safe.
//
// A maker runs under the making lock, so it must not wait for another thread that itself
// asks for a singleton not made yet (a blocking hop to a queue whose work does so).
// Nothing is ever removed: a singleton lives as long as its registry.
class KSInstanceProvider : public std::enable_shared_from_this<KSInstanceProvider> {
 public:
  template <class T>
  using Maker = std::function<std::shared_ptr<T>(KSInstanceProvider&)>;

  // A registry over the platform, the SDK's standard makers installed.
  static std::shared_ptr<KSInstanceProvider> create(KSPlatformBundle platform);

  // The process's registry, made on first use over KSPlatformBundle::system().
  static std::shared_ptr<KSInstanceProvider> sharedProvider();
  // Installs a registry (a test's fresh one); nullptr makes the next sharedProvider() call
  // build a new system one.
  static void setSharedProvider(std::shared_ptr<KSInstanceProvider> provider);

  const KSPlatformBundle& platform() const { return platform_; }

  // Installs the maker for a name, replacing an earlier one. It is used only when the
  // singleton has not been made yet.
  template <class T>
  void installMaker(std::string name, Maker<T> maker) {
    installEntryMaker(std::move(name), typeid(T), [m = std::move(maker)](KSInstanceProvider& p) {
      return std::shared_ptr<void>(m(p));
    });
  }

  // The instance of class T kept under name, made on first use by the installed maker or
  // else by `maker`. nullptr when it cannot be made, or when the instance kept under the
  // name is of another class (a programming error).
  template <class T>
  std::shared_ptr<T> singleton(std::string_view name, const Maker<T>& maker) {
    Entry e = find(name);
    if (!e.instance) {
      EntryMaker fallback;
      if (maker) fallback = [&maker](KSInstanceProvider& p) { return std::shared_ptr<void>(maker(p)); };
      e = obtain(name, typeid(T), std::move(fallback));
    }
    if (!e.instance) return nullptr;
    if (e.type != std::type_index(typeid(T))) {
      reportTypeMismatch(name);
      return nullptr;
    }
    return std::static_pointer_cast<T>(e.instance);
  }

  // The instance kept under name, made on first use by its installed maker. A name with
  // neither an instance nor a maker is logged and answers nullptr.
  std::shared_ptr<void> singletonNamed(std::string_view name);

  bool hasSingleton(std::string_view name) const;
  // Whether a maker is installed for the name (made or not).
  bool hasMaker(std::string_view name) const;

 private:
  using EntryMaker = std::function<std::shared_ptr<void>(KSInstanceProvider&)>;
  struct Entry {
    std::shared_ptr<void> instance;
    std::type_index type = typeid(void);
  };
  struct InstalledMaker {
    std::type_index type;
    EntryMaker make;
  };

  explicit KSInstanceProvider(KSPlatformBundle platform) : platform_(std::move(platform)) {}
  void installEntryMaker(std::string name, std::type_index type, EntryMaker maker);
  Entry find(std::string_view name) const;  // the kept entry, or an empty one
  // `fallbackType` is the class the fallback maker makes.
  Entry obtain(std::string_view name, std::type_index fallbackType, EntryMaker fallback);
  static void reportTypeMismatch(std::string_view name);

  const KSPlatformBundle platform_;
  mutable std::shared_mutex mapMutex_;  // guards singletons_ and makers_
  std::map<std::string, Entry, std::less<>> singletons_;
  std::map<std::string, InstalledMaker, std::less<>> makers_;
  std::recursive_mutex buildMutex_;   // held while a singleton is being made
  std::vector<std::string> building_;  // the chain being made, guarded by buildMutex_
};

}  // namespace velmora::kestrine
