#pragma once

#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Value.h"

namespace velmora::kestrine {

// An advertisement dictionary as the scanner made it; shared, never changed after storing.
using KSAdDataRef = std::shared_ptr<const platform::Value>;

// The latest advertisement of each advertisement type that a beacon was heard with, and the
// field queries that answer from the newest advertisement of a family of types. Not
// thread-safe on its own: the beacon record that owns it guards it with its lock.
class KSAdDataStore {
 public:
  using Map = std::map<std::string, KSAdDataRef, std::less<>>;

  // Replaces the advertisement stored under the type key (kept exactly as given).
  void set(std::string_view typeKey, KSAdDataRef adData);
  KSAdDataRef get(std::string_view typeKey) const;
  bool has(std::string_view typeKey) const { return map_.find(typeKey) != map_.end(); }
  bool hasAny(std::span<const std::string_view> typeKeys) const;
  void remove(std::string_view typeKey);
  void removeAll() { map_.clear(); }
  const Map& all() const { return map_; }
  void replaceAll(Map map) { map_ = std::move(map); }

  // The value under key in the newest stored advertisement of the listed types: a later type
  // wins only with a strictly later KSAdDataTimestampKey, so on a tie the earlier type in the
  // list does. An advertisement without a timestamp counts as older than any with one. The
  // value is not looked up in older advertisements when the newest lacks it.
  platform::Value objectFromLatest(std::string_view key, std::span<const std::string_view> typeKeys) const;

  // The advertisement type families, in their fixed order.
  static std::span<const std::string_view> kestrineAdDataTypes();
  static std::span<const std::string_view> iBeaconAdDataTypes();
  static std::span<const std::string_view> eddystoneAdDataTypes();
  // Maker, iBeacon and Eddystone families joined in that order.
  static std::span<const std::string_view> allAdDataTypes();

 private:
  Map map_;
};

}  // namespace velmora::kestrine
