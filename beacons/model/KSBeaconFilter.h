#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::kestrine {

class KSBeacon;

// A test over one beacon; filters of beacon arrays take it.
using KSBeaconPredicate = std::function<bool(const KSBeacon&)>;

// Predicates over beacon records: by proximity, distance estimate, category, custom value,
// advertisement kind and Eddystone identity. Each keeps its arguments and no beacon, reads the
// beacon through its locked accessors and may be evaluated on any thread. A missing value
// (no categories, no custom value, no advertisement) never matches.
class KSBeaconFilter {
 public:
  KSBeaconFilter() = delete;

  // 0 takes every proximity; 1 immediate; 2 immediate or near; 3 immediate, near or far.
  static KSBeaconPredicate predicateForProximity(std::uint64_t proximity);
  // from <= accuracy <= to; an accuracy that is not a number never matches.
  static KSBeaconPredicate predicateForAccuracyRangeFrom(double from, double to);
  // A category named exactly so (letter case counts).
  static KSBeaconPredicate predicateForCategoryNamed(std::string name);
  static KSBeaconPredicate predicateForCustomValueKey(std::string key);
  // The beacon's value for the key is not empty and equals value exactly.
  static KSBeaconPredicate predicateForCustomValueKey(std::string key, std::string value);
  static KSBeaconPredicate predicateForCategoryWithCustomValueKey(std::string key);
  static KSBeaconPredicate predicateForCategoryWithCustomValueKey(std::string key, std::string value);
  static KSBeaconPredicate predicateForIsEddystone();
  static KSBeaconPredicate predicateForHasDiscoveredEddystoneUIDFrame();
  static KSBeaconPredicate predicateForHasDiscoveredEddystoneURLFrame();
  static KSBeaconPredicate predicateForIsIBeacon();
  static KSBeaconPredicate predicateForIsKestrine();
  // The newest Eddystone UID text equals the given text ignoring case, either whole
  // (namespace and instance, 32 hex digits) or its namespace (the first 20 hex digits).
  static KSBeaconPredicate predicateForEddystoneWithNamespaceID(std::string namespaceID);
  // The host of the newest Eddystone URL equals the domain ignoring case.
  static KSBeaconPredicate predicateForEddystoneWithURLDomain(std::string domain);

  // The host of an absolute URL text ("scheme://[user@]host[:port][/...]"), or nullopt.
  static std::optional<std::string> hostOfURL(std::string_view url);

  static std::vector<std::shared_ptr<KSBeacon>> filteredArrayUsingPredicate(
      const std::vector<std::shared_ptr<KSBeacon>>& beacons, const KSBeaconPredicate& predicate);
};

}  // namespace velmora::kestrine
