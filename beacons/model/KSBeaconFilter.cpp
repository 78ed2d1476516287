#include "beacons/model/KSBeaconFilter.h"

#include "beacons/foundation/KSEnumUtilities.h"
#include "beacons/foundation/StringAdditions.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"

namespace velmora::kestrine {
namespace {

constexpr std::array<std::string_view, 1> kUIDKind{KSAdDataTypeEddystoneUIDKey};
constexpr std::array<std::string_view, 1> kURLKind{KSAdDataTypeEddystoneURLKey};
constexpr std::size_t kNamespaceHexDigits = 20;

template <class Test>
bool anyCategory(const KSBeacon& beacon, Test test) {
  auto categories = beacon.categories();
  if (!categories) return false;
  for (const auto& category : *categories) {
    if (category && test(*category)) return true;
  }
  return false;
}

bool nonEmptyEqual(const std::optional<std::map<std::string, std::string>>& values, const std::string& key,
                   const std::string& value) {
  if (!values) return false;
  auto it = values->find(key);
  return it != values->end() && !it->second.empty() && it->second == value;
}

}  // namespace

KSBeaconPredicate KSBeaconFilter::predicateForProximity(std::uint64_t proximity) {
  return [proximity](const KSBeacon& b) { return KSEnumUtilities::isProximityInsideOfProximity(b.proximity(), proximity); };
}

KSBeaconPredicate KSBeaconFilter::predicateForAccuracyRangeFrom(double from, double to) {
  return [from, to](const KSBeacon& b) {
    double accuracy = b.accuracy();
    return from <= accuracy && accuracy <= to;
  };
}

KSBeaconPredicate KSBeaconFilter::predicateForCategoryNamed(std::string name) {
  return [name = std::move(name)](const KSBeacon& b) {
    return anyCategory(b, [&](const KSCategory& c) { return c.name() == name; });
  };
}

KSBeaconPredicate KSBeaconFilter::predicateForCustomValueKey(std::string key) {
  return [key = std::move(key)](const KSBeacon& b) {
    auto values = b.customValueForKey();
    return values && values->contains(key);
  };
}

KSBeaconPredicate KSBeaconFilter::predicateForCustomValueKey(std::string key, std::string value) {
  return [key = std::move(key), value = std::move(value)](const KSBeacon& b) {
    return nonEmptyEqual(b.customValueForKey(), key, value);
  };
}

KSBeaconPredicate KSBeaconFilter::predicateForCategoryWithCustomValueKey(std::string key) {
  return [key = std::move(key)](const KSBeacon& b) {
    return anyCategory(b, [&](const KSCategory& c) {
      auto values = c.customValueForKey();
      return values && values->contains(key);
    });
  };
}

KSBeaconPredicate KSBeaconFilter::predicateForCategoryWithCustomValueKey(std::string key, std::string value) {
  return [key = std::move(key), value = std::move(value)](const KSBeacon& b) {
    return anyCategory(b, [&](const KSCategory& c) { return nonEmptyEqual(c.customValueForKey(), key, value); });
  };
}

KSBeaconPredicate KSBeaconFilter::predicateForIsEddystone() {
  return [](const KSBeacon& b) { return b.isEddystone(); };
}
KSBeaconPredicate KSBeaconFilter::predicateForHasDiscoveredEddystoneUIDFrame() {
  return [](const KSBeacon& b) { return b.hasDiscoveredEddystoneUIDFrame(); };
}
KSBeaconPredicate KSBeaconFilter::predicateForHasDiscoveredEddystoneURLFrame() {
  return [](const KSBeacon& b) { return b.hasDiscoveredEddystoneURLFrame(); };
}
KSBeaconPredicate KSBeaconFilter::predicateForIsIBeacon() {
  return [](const KSBeacon& b) { return b.isIBeacon(); };
}
KSBeaconPredicate KSBeaconFilter::predicateForIsKestrine() {
  return [](const KSBeacon& b) { return b.isKestrine(); };
}

KSBeaconPredicate KSBeaconFilter::predicateForEddystoneWithNamespaceID(std::string namespaceID) {
  return [namespaceID = std::move(namespaceID)](const KSBeacon& b) {
    if (!b.hasDiscoveredEddystoneUIDFrame()) return false;
    auto uid = b.objectFromLatestAdDataForKey(KSAdDataEddystoneUIDStringKey, kUIDKind);
    const auto* text = uid.string();
    if (!text) return false;
    if (string_additions::isEqualIgnoringCase(*text, namespaceID)) return true;
    return text->size() > kNamespaceHexDigits &&
           string_additions::isEqualIgnoringCase(std::string_view(*text).substr(0, kNamespaceHexDigits), namespaceID);
  };
}

KSBeaconPredicate KSBeaconFilter::predicateForEddystoneWithURLDomain(std::string domain) {
  return [domain = std::move(domain)](const KSBeacon& b) {
    if (!b.hasDiscoveredEddystoneURLFrame()) return false;
    auto url = b.objectFromLatestAdDataForKey(KSAdDataEddystoneURLStringKey, kURLKind);
    const auto* text = url.string();
    if (!text) return false;
    auto host = hostOfURL(*text);
    return host && string_additions::isEqualIgnoringCase(*host, domain);
  };
}

std::optional<std::string> KSBeaconFilter::hostOfURL(std::string_view url) {
  auto scheme = url.find("://");
  if (scheme == std::string_view::npos || scheme == 0) return std::nullopt;
  auto rest = url.substr(scheme + 3);
  auto end = rest.find_first_of("/?#");
  auto authority = rest.substr(0, end);
  if (auto at = authority.rfind('@'); at != std::string_view::npos) authority = authority.substr(at + 1);
  if (auto colon = authority.find(':'); colon != std::string_view::npos) authority = authority.substr(0, colon);
  if (authority.empty()) return std::nullopt;
  return std::string(authority);
}

std::vector<std::shared_ptr<KSBeacon>> KSBeaconFilter::filteredArrayUsingPredicate(
    const std::vector<std::shared_ptr<KSBeacon>>& beacons, const KSBeaconPredicate& predicate) {
  std::vector<std::shared_ptr<KSBeacon>> out;
  for (const auto& b : beacons) {
    if (b && (!predicate || predicate(*b))) out.push_back(b);
  }
  return out;
}

}  // namespace velmora::kestrine
