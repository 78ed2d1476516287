#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSNetworkAccess.h"
#include "beacons/model/KSNetworkAccessOwnership.h"
#include "beacons/model/KSNetworkAccessRole.h"
#include "platform/core/Value.h"

namespace velmora::kestrine::testsupport {

// An advertisement-data dictionary of the given type with extra entries.
inline platform::Value adDataOfType(std::string_view type,
                                    std::initializer_list<std::pair<std::string_view, platform::Value>> extra = {}) {
  platform::Value ad;
  ad.set(KSAdDataTypeKey, platform::Value(type));
  for (const auto& [k, v] : extra) ad.set(k, v);
  return ad;
}

// A beacon that has been heard with advertisements of the given types.
inline std::shared_ptr<KSBeacon> beaconWithAdTypes(std::initializer_list<std::string_view> types) {
  auto b = std::make_shared<KSBeacon>();
  for (auto t : types) b->setAdData(adDataOfType(t), t);
  return b;
}

// Gives the beacon a network-access record permitting the roles, and a sync status.
inline void grantRoles(KSBeacon& beacon, std::vector<std::int64_t> roles, std::int64_t syncStatus) {
  auto access = std::make_shared<KSNetworkAccess>();
  KSNetworkAccess::Roles list;
  for (auto id : roles) {
    auto role = std::make_shared<KSNetworkAccessRole>();
    role->setNetworkAccessRoleID(id);
    list.push_back(role);
  }
  access->setPermittedRoles(std::move(list));
  beacon.setNetworkAccess(access);
  beacon.setSyncStatus(syncStatus);
}

// Sets the ownership of the beacon's network access (1 owned, 2 shared, 3 public), making
// the access record when it has none.
inline std::shared_ptr<KSNetworkAccess> setOwnership(KSBeacon& beacon, std::int64_t ownershipID) {
  auto access = beacon.networkAccess();
  if (!access) {
    access = std::make_shared<KSNetworkAccess>();
    beacon.setNetworkAccess(access);
  }
  auto ownership = std::make_shared<KSNetworkAccessOwnership>();
  ownership->setNetworkAccessOwnershipID(ownershipID);
  access->setOwnership(ownership);
  return access;
}

// Indexes of `of` in `all`, by object identity (-1 for one not there).
inline std::vector<int> indexesOf(const std::vector<std::shared_ptr<KSBeacon>>& of,
                                  const std::vector<std::shared_ptr<KSBeacon>>& all) {
  std::vector<int> out;
  for (const auto& b : of) {
    int index = -1;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i] == b) index = static_cast<int>(i);
    }
    out.push_back(index);
  }
  return out;
}

}  // namespace velmora::kestrine::testsupport
