#include "beacons/model/KSCustomValue.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSCustomValue::jsonClass() {
  using V = KSCustomValue;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<V>("KSCustomValue", [](auto& c) {
    c.keyMapper({{"id", "customValueID"}});
    c.allOptional();
    c.whitelist({"customValueID", "key", "value"});
    c.text("customValueID", &V::customValueID, &V::setCustomValueID);
    c.text("key", &V::key, &V::setKey);
    c.text("value", &V::value, &V::setValue);
  });
  return cls;
}

}  // namespace velmora::kestrine
