#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "beacons/model/KSLocalStoragePort.h"
#include "platform/store/ObjectStore.h"

namespace velmora::kestrine {

// A handle on one row of the SDK's store, as the model's records see rows: attributes read
// and written by name or through to-one key paths ("beaconRegion.identifier"), and
// conversions into records. Every access runs on the store's queue (at once when the caller
// is already on it), so a handle may be used from any thread. The handle keeps the store
// only weakly: once the store is gone, or the row was deleted, it has no context and its
// writes are skipped.
class KSManagedObject : public KSStoredRow {
 public:
  static std::shared_ptr<KSManagedObject> make(const std::shared_ptr<platform::store::ObjectStore>& store,
                                               platform::store::ObjectID id);

  KSManagedObject(std::weak_ptr<platform::store::ObjectStore> store, platform::store::ObjectID id);

  std::string entityName() const override;
  bool hasContext() const override;
  void performBlockAndWait(const std::function<void()>& work) override;
  platform::Value valueForKey(std::string_view keyPath) const override;
  // A key path through a relationship is read-only: the link between rows is the manager's
  // to make, so such a write is logged and changes nothing.
  void setValueForKey(platform::Value value, std::string_view keyPath) override;
  std::shared_ptr<KSBeacon> toBeacon() const override;

  const platform::store::ObjectID& objectID() const { return id_; }

 private:
  // Runs `work` with the store's context on its queue; false when the store is gone.
  bool withContext(const std::function<void(platform::store::StoreContext&)>& work) const;

  const std::weak_ptr<platform::store::ObjectStore> store_;
  const platform::store::ObjectID id_;
  const std::string entity_;
};

}  // namespace velmora::kestrine
