#include "beacons/microlocation/KSEventFilter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconArray.h"
#include "beacons/model/KSCategory.h"
#include "beacons/ranging/KSBeaconRanger.h"

namespace velmora::kestrine {

namespace {

using Beacons = KSEventFiltering::Beacons;
using Date = platform::Date;
using TextSet = std::unordered_set<std::string>;

TextSet toSet(std::vector<std::string> texts) { return TextSet(std::make_move_iterator(texts.begin()),
                                                               std::make_move_iterator(texts.end())); }

bool contains(const TextSet& set, const std::optional<std::string>& text) { return text && set.count(*text) > 0; }

double secondsSince(Date now, Date then) { return now.timeIntervalSince(then); }

const Beacons& input(const KSEventFilterContext& context) {
  static const Beacons& empty = *new Beacons();
  return context.beaconsToFilter() ? *context.beaconsToFilter() : empty;
}

std::shared_ptr<KSEventFilter> make(KSEventFilter::Block block, bool runsOnEmptyList = false) {
  KSEventFilter::ShouldApplyBlock should;
  if (runsOnEmptyList) should = [] { return true; };
  return std::make_shared<KSEventFilter>(std::move(block), std::move(should));
}

// A stateless filter keeping the input beacons that pass a test.
std::shared_ptr<KSEventFilter> keepIf(std::function<bool(const KSBeacon&)> test) {
  return make([test = std::move(test)](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    const auto& beacons = input(context);
    Beacons out;
    out.reserve(beacons.size());
    for (const auto& beacon : beacons) {
      if (beacon && test(*beacon)) out.push_back(beacon);
    }
    return out;
  });
}

bool anyCategory(const KSBeacon& beacon, const std::function<bool(const KSCategory&)>& test) {
  auto categories = beacon.categories();
  if (!categories) return false;
  for (const auto& category : *categories) {
    if (category && test(*category)) return true;
  }
  return false;
}

// Unknown distances (negative) and distances that are not a number are never the closest.
bool isKnownDistance(double accuracy) { return accuracy >= 0.0; }

// Averages as the smoothing filters do: a single-precision sum over the samples that pass,
// divided by their count.
struct Mean {
  float value = 0.0f;
  std::size_t count = 0;
};
template <class Pass>
Mean meanOf(const std::vector<double>& samples, Pass pass) {
  float sum = 0.0f;
  std::size_t count = 0;
  for (double s : samples) {
    if (!pass(s)) continue;
    sum += static_cast<float>(s);
    ++count;
  }
  return {count ? sum / static_cast<float>(count) : 0.0f, count};
}

// A per-beacon table of a filter. Entries that have gone stale (their beacon unheard for
// longer than the filter looks back, so that they act as absent ones) are swept once the
// table has doubled since the last sweep: a stream of passing beacons keeps it bounded by
// the beacons heard within the filter's interval.
template <class V>
struct BeaconTable {
  std::unordered_map<std::string, V> entries;
  std::size_t sweptSize = 0;

  template <class Stale>
  void sweepWhenGrown(Stale stale) {
    static constexpr std::size_t kMinimumSweepSize = 64;
    if (entries.size() < std::max(kMinimumSweepSize, 2 * sweptSize)) return;
    std::erase_if(entries, [&](const auto& entry) { return stale(entry.second); });
    sweptSize = entries.size();
  }
};

// A beacon's samples, oldest first. The window is a few samples long, so a vector that
// shifts by one on each pass costs less than a deque, which allocates blocks as it moves.
struct SmoothingEntry {
  std::optional<Date> lastMatch;
  std::vector<double> samples;
};

// Steps shared by both smoothing filters: restart the history after a gap of interval
// seconds or more, keep at most the whole part of the interval plus one samples.
void addSample(SmoothingEntry& entry, double sample, double interval, Date now) {
  auto& samples = entry.samples;
  if (!entry.lastMatch || secondsSince(now, *entry.lastMatch) >= interval) samples.clear();
  std::size_t drop = 0;
  while (static_cast<double>(samples.size() - drop) > interval) ++drop;
  samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(drop));
  samples.push_back(sample);
  entry.lastMatch = now;
}

struct ExitEntry {
  Date lastMatch;
  std::shared_ptr<KSBeacon> beacon;
};

// Step one of both exit filters: every heard beacon (known or estimated distance) is
// stamped now. A beacon at -1.0 exactly counts as not heard.
void stampHeard(std::map<std::string, ExitEntry>& entries, const Beacons& beacons, Date now) {
  for (const auto& beacon : beacons) {
    if (!beacon || beacon->accuracy() == -1.0) continue;
    auto id = beacon->beaconID();
    if (!id) continue;
    entries[*id] = ExitEntry{now, beacon};
  }
}

}  // namespace

std::optional<KSEventFiltering::Beacons> KSEventFilter::filterBeaconsForEvent(KSEventFilterContext& context) {
  if (filterState_.isAbsent()) filterState_ = platform::Value(platform::Dict{});
  if (!block_) return Beacons{};
  return block_(context, filterState_);
}

bool KSEventFilter::shouldApplyFilterWhenNoBeaconsRemaining() const { return shouldApply_ ? shouldApply_() : false; }

// --- stateless ---------------------------------------------------------------------------

std::shared_ptr<KSEventFilter> KSEventFilter::filterByPredicate(KSEventBeaconPredicate predicate) {
  if (!predicate) return keepIf([](const KSBeacon&) { return false; });
  return keepIf(std::move(predicate));
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByIDs(std::vector<std::string> beaconIDs) {
  return keepIf([ids = toSet(std::move(beaconIDs))](const KSBeacon& b) { return contains(ids, b.beaconID()); });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByProximity(std::uint64_t proximity) {
  return keepIf([proximity](const KSBeacon& b) { return b.proximity() == proximity; });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByProximities(std::vector<std::uint64_t> proximities) {
  return keepIf([proximities = std::move(proximities)](const KSBeacon& b) {
    return std::find(proximities.begin(), proximities.end(), b.proximity()) != proximities.end();
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByAccuracyRange(double from, double to) {
  return keepIf([from, to](const KSBeacon& b) {
    const double accuracy = b.accuracy();
    return accuracy >= from && accuracy <= to;
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByCustomValuesWithKeys(std::vector<std::string> keys) {
  return make([keys = std::move(keys)](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    Beacons out;
    for (const auto& beacon : input(context)) {
      if (!beacon) continue;
      auto values = beacon->customValueForKey();
      if (!values) continue;
      for (const auto& key : keys) {
        if (values->count(key)) out.push_back(beacon);
      }
    }
    return out;
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByCategoriesNamed(std::vector<std::string> names) {
  return keepIf([names = toSet(std::move(names))](const KSBeacon& b) {
    return anyCategory(b, [&](const KSCategory& c) { return contains(names, c.name()); });
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByCategoriesWithCustomValueKeys(std::vector<std::string> keys) {
  return keepIf([keys = std::move(keys)](const KSBeacon& b) {
    return anyCategory(b, [&](const KSCategory& c) {
      auto values = c.customValueForKey();
      if (!values) return false;
      return std::any_of(keys.begin(), keys.end(), [&](const std::string& k) { return values->count(k) > 0; });
    });
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByCategoriesWithIDs(std::vector<std::string> categoryIDs) {
  return keepIf([ids = toSet(std::move(categoryIDs))](const KSBeacon& b) {
    return anyCategory(b, [&](const KSCategory& c) { return contains(ids, c.categoryID()); });
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterBySitesWithPredicate(KSEventSitePredicate predicate) {
  return make([predicate = std::move(predicate)](KSEventFilterContext& context,
                                                 platform::Value&) -> std::optional<Beacons> {
    TextSet ids;
    if (predicate) {
      for (const auto& [id, site] : context.siteForSiteID()) {
        if (site && predicate(*site)) ids.insert(id);
      }
    }
    Beacons out;
    for (const auto& beacon : input(context)) {
      if (beacon && contains(ids, beacon->siteID())) out.push_back(beacon);
    }
    return out;
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterBySitesNamed(std::vector<std::string> names) {
  return keepIf([names = toSet(std::move(names))](const KSBeacon& b) { return contains(names, b.siteName()); });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterBySitesWithIDs(std::vector<std::string> siteIDs) {
  return keepIf([ids = toSet(std::move(siteIDs))](const KSBeacon& b) { return contains(ids, b.siteID()); });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByCategorieswithCustomValuesWithKey(std::string key,
                                                                                        std::vector<std::string> values) {
  return keepIf([key = std::move(key), values = toSet(std::move(values))](const KSBeacon& b) {
    return anyCategory(b, [&](const KSCategory& c) {
      auto map = c.customValueForKey();
      if (!map) return false;
      auto it = map->find(key);
      return it != map->end() && values.count(it->second) > 0;
    });
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterBeaconsWithCustomValuesWithKey(std::string key,
                                                                                   std::vector<std::string> values) {
  return make([key = std::move(key), values = toSet(std::move(values))](KSEventFilterContext& context,
                                                                        platform::Value&) -> std::optional<Beacons> {
    for (const auto& beacon : input(context)) {
      if (!beacon) continue;
      auto map = beacon->customValueForKey();
      if (!map) continue;
      auto it = map->find(key);
      if (it != map->end() && values.count(it->second)) return Beacons{beacon};
    }
    return Beacons{};
  });
}

double KSEventFilter::boundedTimeInterval(double interval, double maximum) {
  if (std::isnan(interval) || interval < 0.0) return 0.0;
  return std::min(interval, maximum);
}

// --- timing -----------------------------------------------------------------------------

std::shared_ptr<KSEventFilter> KSEventFilter::filterByMinTimeIntervalBeaconMatched(double minimum, double maxGap) {
  struct Entry {
    std::optional<Date> firstHeard, lastHeard;
  };
  minimum = boundedTimeInterval(minimum);
  maxGap = boundedTimeInterval(maxGap);
  auto table = std::make_shared<BeaconTable<Entry>>();
  return make([table, minimum, maxGap](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    const Date now = context.now();
    // An entry unheard for longer than the gap starts over, as a new one does.
    table->sweepWhenGrown([&](const Entry& e) { return !e.lastHeard || secondsSince(now, *e.lastHeard) > maxGap; });
    Beacons out;
    for (const auto& beacon : input(context)) {
      if (!beacon) continue;
      auto id = beacon->beaconID();
      if (!id) continue;
      Entry& entry = table->entries[*id];
      std::optional<Date> first = entry.firstHeard;
      if (entry.lastHeard && secondsSince(now, *entry.lastHeard) > maxGap) first.reset();
      entry.firstHeard = first ? *first : now;
      entry.lastHeard = now;
      if (secondsSince(now, *entry.firstHeard) > minimum) out.push_back(beacon);
    }
    return out;
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByMinTimeIntervalBetweenBeaconMatches(double interval) {
  interval = boundedTimeInterval(interval);
  auto table = std::make_shared<BeaconTable<Date>>();
  return make([table, interval](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    const Date now = context.now();
    table->sweepWhenGrown([&](const Date& at) { return secondsSince(now, at) > interval; });
    auto& lastMatch = table->entries;
    Beacons out;
    for (const auto& beacon : input(context)) {
      if (!beacon) continue;
      auto id = beacon->beaconID();
      if (!id) continue;
      auto it = lastMatch.find(*id);
      if (it == lastMatch.end() || secondsSince(now, it->second) > interval) {
        lastMatch[*id] = now;
        out.push_back(beacon);
      }
    }
    return out;
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByMinTimeIntervalBetweenTriggers(double interval) {
  interval = boundedTimeInterval(interval);
  return make([interval](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    const auto& last = context.lastTriggeredAt();
    if (last && secondsSince(context.now(), *last) <= interval) return std::nullopt;
    return input(context);
  });
}

// --- closest ----------------------------------------------------------------------------

std::shared_ptr<KSEventFilter> KSEventFilter::filterByClosestBeacon() {
  return make([](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    for (const auto& beacon : input(context)) {
      if (beacon && isKnownDistance(beacon->accuracy())) return Beacons{beacon};
    }
    return std::nullopt;
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByClosestBeaconChanged() {
  auto previous = std::make_shared<std::optional<std::string>>();
  return make([previous](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    const auto& beacons = input(context);
    if (beacons.empty() || !beacons.front()) return std::nullopt;
    const auto& first = beacons.front();
    // -1.0 is the unknown distance; one that is not a number is no closer to being known.
    const double accuracy = first->accuracy();
    if (accuracy == -1.0 || std::isnan(accuracy)) return std::nullopt;
    auto id = first->beaconID();
    if (!id) return std::nullopt;
    const bool same = *previous && **previous == *id;
    *previous = std::move(id);
    if (same) return std::nullopt;
    return Beacons{first};
  });
}

// --- smoothing --------------------------------------------------------------------------

std::shared_ptr<KSEventFilter> KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(double interval) {
  interval = boundedTimeInterval(interval, kMaximumSmoothingTimeInterval);
  auto table = std::make_shared<BeaconTable<SmoothingEntry>>();
  return make([table, interval](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    if (interval < 2.0) return context.beaconsToFilter();
    const Date now = context.now();
    // A history older than the interval restarts at the next sample, as a new one does.
    table->sweepWhenGrown(
        [&](const SmoothingEntry& e) { return !e.lastMatch || secondsSince(now, *e.lastMatch) >= interval; });
    auto* entries = &table->entries;
    const auto& beacons = input(context);
    Beacons out;
    out.reserve(beacons.size());
    for (const auto& beacon : beacons) {
      if (!beacon) continue;
      auto id = beacon->beaconID();
      if (!id) continue;
      SmoothingEntry& entry = (*entries)[*id];
      addSample(entry, beacon->accuracy(), interval, now);
      // Unknown distances and ones that are not a number stay out of the mean.
      const Mean mean = meanOf(entry.samples, [](double s) { return s > -1.0; });
      if (mean.count > 1) {
        auto smoothed = beacon->copy();
        smoothed->setAccuracy(static_cast<double>(mean.value));
        out.push_back(std::move(smoothed));
      }
    }
    return beacon_array::sortedBeaconArrayUsingAccuracyAscending(out, true);
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterApplySmoothedRSSIOverTimeInterval(double interval) {
  interval = boundedTimeInterval(interval, kMaximumSmoothingTimeInterval);
  auto table = std::make_shared<BeaconTable<SmoothingEntry>>();
  return make([table, interval](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    if (interval < 2.0) return context.beaconsToFilter();
    const Date now = context.now();
    // A history older than the interval restarts at the next sample, as a new one does.
    table->sweepWhenGrown(
        [&](const SmoothingEntry& e) { return !e.lastMatch || secondsSince(now, *e.lastMatch) >= interval; });
    auto* entries = &table->entries;
    const auto& beacons = input(context);
    Beacons out;
    out.reserve(beacons.size());
    for (const auto& beacon : beacons) {
      if (!beacon) continue;
      auto id = beacon->beaconID();
      auto rssi = beacon->rssi().toDouble();
      if (!id || !rssi) continue;
      SmoothingEntry& entry = (*entries)[*id];
      addSample(entry, *rssi, interval, now);
      const Mean mean = meanOf(entry.samples, [](double s) { return s < 0.0; });
      if (mean.count > 1) {
        // Only a beacon that goes out is copied: the copy is what gets the new values.
        auto copy = beacon->copy();
        const auto rounded = static_cast<std::int64_t>(std::round(mean.value));  // halves away from zero
        copy->setRssi(platform::Value(rounded));
        const auto power = measuredPowerAt1MeterForBeacon(*copy);
        copy->setAccuracy(std::pow(10.0, static_cast<double>(rounded - power) / -20.0));
        out.push_back(std::move(copy));
      }
    }
    return beacon_array::sortedBeaconArrayUsingAccuracyAscending(out, true);
  });
}

// --- entering and exiting ---------------------------------------------------------------

std::shared_ptr<KSEventFilter> KSEventFilter::filterByEnteredBeaconResetAfterTimeIntervalUnmatched(double interval) {
  interval = boundedTimeInterval(interval);
  auto table = std::make_shared<BeaconTable<Date>>();
  return make([table, interval](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    const Date now = context.now();
    // A beacon unheard for longer than the interval enters again, as a new one does.
    table->sweepWhenGrown([&](const Date& at) { return secondsSince(now, at) > interval; });
    auto* lastHeard = &table->entries;
    Beacons out;
    for (const auto& beacon : input(context)) {
      if (!beacon) continue;
      auto id = beacon->beaconID();
      if (!id) continue;
      auto [it, fresh] = lastHeard->try_emplace(*id, now);
      if (fresh || secondsSince(now, it->second) > interval) out.push_back(beacon);
      it->second = now;
    }
    return out;
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByNeverEnteredBeacon() {
  auto firstHeard = std::make_shared<std::unordered_map<std::string, Date>>();
  return make([firstHeard](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    Beacons out;
    for (const auto& beacon : input(context)) {
      if (!beacon) continue;
      auto serial = beacon->serialNumber();
      if (!serial) continue;
      if (firstHeard->try_emplace(*serial, context.now()).second) out.push_back(beacon);
    }
    return out;
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByEnteredAnyBeaconResetAfterTimeIntervalAllUnmatched(
    double interval) {
  interval = boundedTimeInterval(interval);
  auto lastMatched = std::make_shared<std::optional<Date>>();
  return make([lastMatched, interval](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
    const Date now = context.now();
    const std::optional<Date> previous = *lastMatched;
    *lastMatched = now;
    if (previous && std::fabs(secondsSince(now, *previous)) <= interval) return std::nullopt;
    return input(context);
  });
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByExitedBeaconAfterTimeIntervalUnmatched(double interval) {
  interval = boundedTimeInterval(interval);
  auto entries = std::make_shared<std::map<std::string, ExitEntry>>();
  return make(
      [entries, interval](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
        const Date now = context.now();
        stampHeard(*entries, input(context), now);
        Beacons out;
        for (auto it = entries->begin(); it != entries->end();) {
          if (secondsSince(now, it->second.lastMatch) > interval) {
            out.push_back(it->second.beacon);
            it = entries->erase(it);
          } else {
            ++it;
          }
        }
        return out;
      },
      true);
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByExitedAllBeaconsAfterTimeInterval(double interval) {
  interval = boundedTimeInterval(interval);
  auto entries = std::make_shared<std::map<std::string, ExitEntry>>();
  return make(
      [entries, interval](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
        const Date now = context.now();
        stampHeard(*entries, input(context), now);
        Beacons out;
        for (auto it = entries->begin(); it != entries->end();) {
          if (secondsSince(now, it->second.lastMatch) > interval) {
            auto beacon = it->second.beacon;
            it = entries->erase(it);
            if (entries->empty()) out.push_back(std::move(beacon));
          } else {
            ++it;
          }
        }
        return out;
      },
      true);
}

std::shared_ptr<KSEventFilter> KSEventFilter::filterByReassembledBlockDataWithDataType(std::uint64_t dataType) {
  auto completedAt = std::make_shared<std::unordered_map<std::string, platform::Value>>();
  return make(
      [completedAt, dataType](KSEventFilterContext& context, platform::Value&) -> std::optional<Beacons> {
        Beacons out;
        for (const auto& beacon : input(context)) {
          if (!beacon) continue;
          auto serial = beacon->serialNumber();
          if (!serial) continue;
          auto records = beacon->reassembledBlockDataWithDataType(dataType);
          if (records.empty() || !records.back()) continue;
          platform::Value at = (*records.back())[KSBlockDataReassembledAtKey];
          auto it = completedAt->find(*serial);
          if (it != completedAt->end() && it->second == at) continue;
          (*completedAt)[*serial] = std::move(at);
          out.push_back(beacon);
        }
        return out;
      },
      true);
}

// --- helpers ----------------------------------------------------------------------------

bool KSEventFilter::beaconHasCategoryMatchingPredicate(const KSBeacon& beacon,
                                                        const KSEventCategoryPredicate& predicate) {
  if (!predicate) return false;
  return anyCategory(beacon, predicate);
}

std::int64_t KSEventFilter::measuredPowerAt1MeterForBeacon(const KSBeacon& beacon) {
  return KSBeaconRanger::measuredPowerAt1MeterForBeacon(beacon);
}

}  // namespace velmora::kestrine
