// Feeds arbitrary text to the filter-definition resolver as JSON, then runs whatever filter
// it resolves over a small fixture of beacons. A resolved accuracy range never keeps a beacon
// whose distance is no number; a category filter keeps only beacons with categories.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSEventFilterResolver.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"

namespace {

using velmora::kestrine::KSBeacon;
using Beacons = velmora::kestrine::KSEventFiltering::Beacons;

const Beacons& fixture() {
  static const Beacons beacons = [] {
    Beacons out;
    const double accuracies[] = {-1.0, 0.0, 0.5, 2.5, 10.0, std::nan("")};
    const char* names[] = {"Food", "Gate", "", "Shop", "Food", "Gate"};
    for (int i = 0; i < 6; ++i) {
      auto b = std::make_shared<KSBeacon>();
      b->setBeaconID("b-" + std::to_string(i));
      b->setAccuracy(accuracies[i]);
      auto c = std::make_shared<velmora::kestrine::KSCategory>();
      c->setName(std::string(names[i]));
      if (i != 2) b->setCategories(std::vector{c});
      out.push_back(b);
    }
    return out;
  }();
  return beacons;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    velmora::platform::Log::setSink([](velmora::platform::LogLevel, std::string_view, std::string_view) {});
    return true;
  }();
  (void)quiet;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto definition = velmora::platform::json::parse(text);
  if (!definition) return 0;
  velmora::kestrine::KSEventFilterResolver resolver;
  auto filter = resolver.resolveFilterFromDefinition(*definition);
  (void)velmora::kestrine::KSEventFilterResolver::timeIntervalParamFromFilterDefinition(*definition, "interval");
  if (!filter) return 0;
  velmora::kestrine::KSEventFilterContext context;
  context.setBeaconsToFilter(fixture());
  auto out = filter->filterBeaconsForEvent(context);
  if (!out || out->size() > fixture().size()) std::abort();
  const auto* identifier = (*definition)["filterIdentifier"].string();
  if (identifier && identifier->ends_with("filterByAccuracyRange")) {
    for (const auto& b : *out) {
      if (std::isnan(b->accuracy())) std::abort();  // a distance that is no number is never in range
    }
  } else {
    for (const auto& b : *out) {
      if (!b->categories()) std::abort();  // a category filter keeps only beacons with categories
    }
  }
  return 0;
}
