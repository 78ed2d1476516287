#include "beacons/model/KSLasso.h"

#include <charconv>
#include <cmath>
#include <string>

#include "beacons/model/KSBeacon.h"

namespace velmora::kestrine {

KSLasso::KSLasso(std::shared_ptr<KSBeacon> beacon) : beacon_(std::move(beacon)) {
  if (!beacon_) return;
  auto values = beacon_->customValueForKey();
  if (!values) return;
  auto it = values->find(std::string(redemptionRadiusKey));
  if (it != values->end()) redemptionRadius_ = redemptionRadiusFromText(it->second);
}

std::shared_ptr<KSLasso> KSLasso::initWithBeacon(std::shared_ptr<KSBeacon> beacon) {
  return std::make_shared<KSLasso>(std::move(beacon));
}

double KSLasso::redemptionRadiusFromText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                             text[i] == '\f' || text[i] == '\v')) {
    ++i;
  }
  // from_chars takes no leading '+'; a '+' may only precede the digits.
  if (i < text.size() && text[i] == '+') {
    ++i;
    if (i < text.size() && text[i] == '-') return 0;
  }
  double value = 0;
  const char* first = text.data() + i;
  const char* last = text.data() + text.size();
  auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
  if (error != std::errc() || end == first || !std::isfinite(value)) return 0;
  return value;
}

}  // namespace velmora::kestrine
