#include "beacons/storage/KSManagedObject.h"

#include "beacons/model/KSBeacon.h"
#include "beacons/storage/KSManagedBeacon.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

using platform::Value;
using platform::store::ObjectID;
using platform::store::ObjectStore;
using platform::store::StoreContext;

std::shared_ptr<KSManagedObject> KSManagedObject::make(const std::shared_ptr<ObjectStore>& store, ObjectID id) {
  return std::make_shared<KSManagedObject>(store, id);
}

KSManagedObject::KSManagedObject(std::weak_ptr<ObjectStore> store, ObjectID id)
    : store_(std::move(store)), id_(id), entity_(id.entity != nullptr ? id.entity->name : std::string()) {}

std::string KSManagedObject::entityName() const { return entity_; }

bool KSManagedObject::withContext(const std::function<void(StoreContext&)>& work) const {
  auto store = store_.lock();
  if (!store || !id_.valid()) return false;
  store->performAndWait(work);
  return true;
}

bool KSManagedObject::hasContext() const {
  bool exists = false;
  withContext([&](StoreContext& ctx) { exists = ctx.exists(id_); });
  return exists;
}

void KSManagedObject::performBlockAndWait(const std::function<void()>& work) {
  if (!withContext([&](StoreContext&) { work(); })) work();
}

Value KSManagedObject::valueForKey(std::string_view keyPath) const {
  Value out;
  withContext([&](StoreContext& ctx) {
    ObjectID row = id_;
    std::string_view rest = keyPath;
    for (auto dot = rest.find('.'); dot != std::string_view::npos; dot = rest.find('.')) {
      auto next = ctx.relatedOne(row, rest.substr(0, dot));
      if (!next) return;
      row = *next;
      rest = rest.substr(dot + 1);
    }
    if (row.entity->attribute(rest) == nullptr) return;
    out = ctx.value(row, rest);
  });
  return out;
}

void KSManagedObject::setValueForKey(Value value, std::string_view keyPath) {
  if (keyPath.find('.') != std::string_view::npos) {
    platform::Log::warning("local-storage", "{} rows do not take writes through '{}'", entity_, keyPath);
    return;
  }
  withContext([&](StoreContext& ctx) {
    if (!ctx.exists(id_)) return;
    platform::Error error;
    if (!ctx.setValue(id_, keyPath, value, &error)) {
      platform::Log::error("local-storage", "writing {}.{} failed: {}", entity_, keyPath, error.localizedDescription);
    }
  });
}

std::shared_ptr<KSBeacon> KSManagedObject::toBeacon() const {
  if (!id_.valid() || entity_ != KSBeaconEntityName) return nullptr;
  std::shared_ptr<KSBeacon> beacon;
  withContext([&](StoreContext& ctx) { beacon = KSManagedBeacon::toBeacon(ctx, id_); });
  return beacon;
}

}  // namespace velmora::kestrine
