#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/microlocation/KSEventFilterContext.h"
#include "beacons/model/KSBeaconPendingRecords.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSBeacon;
class KSCategory;

// Tests on one beacon, category or site. A field that is missing never satisfies them.
using KSEventBeaconPredicate = std::function<bool(const KSBeacon&)>;
using KSEventCategoryPredicate = std::function<bool(const KSCategory&)>;
using KSEventSitePredicate = std::function<bool(const KSSite&)>;

// A filter made of two blocks: its logic, and (for the filters that also run on an empty
// list) the answer to whether it runs when no beacons remain.
//
// filterState is a dictionary for logic blocks that hosts write; the factories below keep
// their memory as typed per-beacon entries inside their own block instead, so a pass makes
// no dynamic look-ups. Either way the memory lives as long as the filter object: a trigger
// and its copy hold the same filter and share it. Filters run only inside evaluations on
// the hub's queue, one at a time, and carry no lock of their own.
//
// Every factory reads the context's beaconsToFilter and keeps its order unless it says
// otherwise; "now" is the context's moment of evaluation. Stateful filters leave out a
// beacon without a beacon id (serial number for the never-entered and block-data filters)
// without touching their state for it.
class KSEventFilter : public KSEventFiltering {
 public:
  using Block = std::function<std::optional<Beacons>(KSEventFilterContext&, platform::Value& state)>;
  using ShouldApplyBlock = std::function<bool()>;

  KSEventFilter() = default;
  KSEventFilter(Block block, ShouldApplyBlock shouldApply = {})
      : block_(std::move(block)), shouldApply_(std::move(shouldApply)) {}

  // The block's answer for (context, filterState); [] without a block.
  std::optional<Beacons> filterBeaconsForEvent(KSEventFilterContext& context) override;
  bool shouldApplyFilterWhenNoBeaconsRemaining() const override;

  const Block& filterBeaconsForEventBlock() const { return block_; }
  void setFilterBeaconsForEventBlock(Block v) { block_ = std::move(v); }
  const ShouldApplyBlock& shouldApplyFilterWhenNoBeaconsRemainingBlock() const { return shouldApply_; }
  void setShouldApplyFilterWhenNoBeaconsRemainingBlock(ShouldApplyBlock v) { shouldApply_ = std::move(v); }
  // Absent until the first run, then a dictionary.
  platform::Value& filterState() { return filterState_; }
  void setFilterState(platform::Value v) { filterState_ = std::move(v); }

  // --- stateless filters
  static std::shared_ptr<KSEventFilter> filterByPredicate(KSEventBeaconPredicate predicate);
  static std::shared_ptr<KSEventFilter> filterByIDs(std::vector<std::string> beaconIDs);
  static std::shared_ptr<KSEventFilter> filterByProximity(std::uint64_t proximity);
  static std::shared_ptr<KSEventFilter> filterByProximities(std::vector<std::uint64_t> proximities);
  // from <= accuracy <= to; an accuracy that is not a number is never in range.
  static std::shared_ptr<KSEventFilter> filterByAccuracyRange(double from, double to);
  // A beacon goes out once for every key it has a custom value for.
  static std::shared_ptr<KSEventFilter> filterByCustomValuesWithKeys(std::vector<std::string> keys);
  static std::shared_ptr<KSEventFilter> filterByCategoriesNamed(std::vector<std::string> names);
  static std::shared_ptr<KSEventFilter> filterByCategoriesWithCustomValueKeys(std::vector<std::string> keys);
  static std::shared_ptr<KSEventFilter> filterByCategoriesWithIDs(std::vector<std::string> categoryIDs);
  // The beacons of the context's sites that satisfy the predicate.
  static std::shared_ptr<KSEventFilter> filterBySitesWithPredicate(KSEventSitePredicate predicate);
  static std::shared_ptr<KSEventFilter> filterBySitesNamed(std::vector<std::string> names);
  static std::shared_ptr<KSEventFilter> filterBySitesWithIDs(std::vector<std::string> siteIDs);
  static std::shared_ptr<KSEventFilter> filterByCategorieswithCustomValuesWithKey(std::string key,
                                                                                  std::vector<std::string> values);
  // The first beacon whose own value for the key is one of the values, alone; else [].
  static std::shared_ptr<KSEventFilter> filterBeaconsWithCustomValuesWithKey(std::string key,
                                                                             std::vector<std::string> values);

  // Intervals given to the timing, smoothing and entering/exiting filters are bounded: one
  // that is not a number or negative counts as 0, one above the maximum as the maximum
  // (smoothing windows have a smaller one: their history is a sample a pass per beacon).
  static constexpr double kMaximumTimeInterval = 7.0 * 86400.0;
  static constexpr double kMaximumSmoothingTimeInterval = 600.0;
  static double boundedTimeInterval(double interval, double maximum = kMaximumTimeInterval);

  // --- timing
  // Beacons heard for more than minimum seconds without a gap longer than maxGap.
  static std::shared_ptr<KSEventFilter> filterByMinTimeIntervalBeaconMatched(double minimum, double maxGap);
  // Beacons not passed within the last interval.
  static std::shared_ptr<KSEventFilter> filterByMinTimeIntervalBetweenBeaconMatches(double interval);
  // The whole input, or none while the trigger fired within the interval.
  static std::shared_ptr<KSEventFilter> filterByMinTimeIntervalBetweenTriggers(double interval);

  // --- closest
  // The first beacon of known distance (0.0 or more), alone.
  static std::shared_ptr<KSEventFilter> filterByClosestBeacon();
  // The first beacon alone when it differs from the previous pass's first beacon.
  static std::shared_ptr<KSEventFilter> filterByClosestBeaconChanged();

  // --- smoothing (copies of the beacons, nearest first)
  static std::shared_ptr<KSEventFilter> filterApplySmoothedAccuracyOverTimeInterval(double interval);
  static std::shared_ptr<KSEventFilter> filterApplySmoothedRSSIOverTimeInterval(double interval);

  // --- entering and exiting
  static std::shared_ptr<KSEventFilter> filterByEnteredBeaconResetAfterTimeIntervalUnmatched(double interval);
  // Each serial number once for the life of the filter.
  static std::shared_ptr<KSEventFilter> filterByNeverEnteredBeacon();
  static std::shared_ptr<KSEventFilter> filterByEnteredAnyBeaconResetAfterTimeIntervalAllUnmatched(double interval);
  // These three run on an empty list too.
  static std::shared_ptr<KSEventFilter> filterByExitedBeaconAfterTimeIntervalUnmatched(double interval);
  static std::shared_ptr<KSEventFilter> filterByExitedAllBeaconsAfterTimeInterval(double interval);
  // Beacons whose newest reassembled block data of the type completed since the last pass.
  static std::shared_ptr<KSEventFilter> filterByReassembledBlockDataWithDataType(std::uint64_t dataType);

  // Whether the beacon has a category satisfying the predicate.
  static bool beaconHasCategoryMatchingPredicate(const KSBeacon& beacon, const KSEventCategoryPredicate& predicate);
  // The beacon's transmit power at one metre in dBm: the ranger's rule.
  static std::int64_t measuredPowerAt1MeterForBeacon(const KSBeacon& beacon);

 private:
  Block block_;
  ShouldApplyBlock shouldApply_;
  platform::Value filterState_;
};

}  // namespace velmora::kestrine
