#include "beacons/microlocation/KSLocalNotification.h"

#include "beacons/model/KSCategory.h"
#include "beacons/model/KSSite.h"

namespace velmora::kestrine {

void KSLocalNotification::setFireInSite(const std::shared_ptr<KSSite>& site) {
  f_.set(&Fields::fireInSite, site ? site->copy() : nullptr);
}

void KSLocalNotification::setFireInCategories(const Categories& categories) {
  Categories copies;
  copies.reserve(categories.size());
  for (const auto& c : categories) {
    if (c) copies.push_back(c->copy());
  }
  f_.set(&Fields::fireInCategories, std::move(copies));
}

}  // namespace velmora::kestrine
