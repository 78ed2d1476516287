#include "beacons/model/KSAppSdkOption.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSAppSdkOption::jsonClass() {
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<KSAppSdkOption>("KSAppSdkOption", [](auto& c) {
    c.keyMapper({{"id", "appSdkOptionID"}});
    c.allOptional();
    c.text("appSdkOptionID", &KSAppSdkOption::appSdkOptionID, &KSAppSdkOption::setAppSdkOptionID);
    c.text("optionKey", &KSAppSdkOption::optionKey, &KSAppSdkOption::setOptionKey);
    c.text("optionValue", &KSAppSdkOption::optionValue, &KSAppSdkOption::setOptionValue);
  });
  return cls;
}

std::string KSAppSdkOption::description() const { return optionKey_.value_or(std::string()); }

}  // namespace velmora::kestrine
