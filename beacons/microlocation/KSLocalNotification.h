#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/model/KSGuardedFields.h"
#include "platform/core/Date.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSCategory;
class KSSite;

// A local notification the SDK shows by itself the first time a beacon of one of the given
// categories is ranged at the given proximity in the given site (any site when none), not
// before the given date. Records handed in are copied on set. Fields may be read and set from
// any thread.
class KSLocalNotification : public platform::Object {
 public:
  using Categories = std::vector<std::shared_ptr<KSCategory>>;

  std::shared_ptr<KSSite> fireInSite() const { return f_.get(&Fields::fireInSite); }
  void setFireInSite(const std::shared_ptr<KSSite>& site);
  Categories fireInCategories() const { return f_.get(&Fields::fireInCategories); }
  void setFireInCategories(const Categories& categories);
  // 0 any, 1 immediate, 2 immediate or near, 3 immediate, near or far.
  std::uint64_t fireInProximity() const { return f_.get(&Fields::fireInProximity); }
  void setFireInProximity(std::uint64_t v) { f_.set(&Fields::fireInProximity, v); }
  std::optional<platform::Date> fireAfter() const { return f_.get(&Fields::fireAfter); }
  void setFireAfter(std::optional<platform::Date> v) { f_.set(&Fields::fireAfter, v); }
  // Kept with the description; presenting does not use it.
  std::string timeZone() const { return f_.get(&Fields::timeZone); }
  void setTimeZone(std::string v) { f_.set(&Fields::timeZone, std::move(v)); }
  std::string alertBody() const { return f_.get(&Fields::alertBody); }
  void setAlertBody(std::string v) { f_.set(&Fields::alertBody, std::move(v)); }
  std::string alertAction() const { return f_.get(&Fields::alertAction); }
  void setAlertAction(std::string v) { f_.set(&Fields::alertAction, std::move(v)); }
  std::string alertLaunchImage() const { return f_.get(&Fields::alertLaunchImage); }
  void setAlertLaunchImage(std::string v) { f_.set(&Fields::alertLaunchImage, std::move(v)); }
  std::string soundName() const { return f_.get(&Fields::soundName); }
  void setSoundName(std::string v) { f_.set(&Fields::soundName, std::move(v)); }
  platform::Dict userInfo() const { return f_.get(&Fields::userInfo); }
  void setUserInfo(platform::Dict v) { f_.set(&Fields::userInfo, std::move(v)); }
  bool incrementBadgeNumber() const { return f_.get(&Fields::incrementBadgeNumber); }
  void setIncrementBadgeNumber(bool v) { f_.set(&Fields::incrementBadgeNumber, v); }
  std::optional<std::string> category() const { return f_.get(&Fields::category); }
  void setCategory(std::optional<std::string> v) { f_.set(&Fields::category, std::move(v)); }

 private:
  struct Fields {
    std::shared_ptr<KSSite> fireInSite;
    Categories fireInCategories;
    std::uint64_t fireInProximity = 0;
    std::optional<platform::Date> fireAfter;
    std::string timeZone, alertBody, alertAction, alertLaunchImage, soundName;
    platform::Dict userInfo;
    bool incrementBadgeNumber = false;
    std::optional<std::string> category;
  };
  KSGuardedFields<Fields> f_;
};

}  // namespace velmora::kestrine
