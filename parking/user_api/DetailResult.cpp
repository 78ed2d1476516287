#include "parking/user_api/DetailResult.h"

namespace velmora {

DetailResult DetailResult::decode(RecordDecoder& d) {
  DetailResult r;
  r.result = d.string("result", "Failure");
  r.message = d.string("message");
  r.accountType = d.string("accountType");
  r.email = d.string("email");
  r.firstName = d.string("firstName");
  r.lastName = d.string("lastName");
  r.phoneNo = d.string("phoneNo");
  r.homeCarParkId = d.optionalInt64("homeCarParkId");
  r.homeCarParkName = d.string("homeCarParkName");
  r.groupZoneName = d.string("groupZoneName");
  r.groupZoneColourCode = d.string("groupZoneColourCode");
  r.groupZoneCode = d.string("groupZoneCode");
  r.homeCarParkLatitude = d.optionalNumber("homeCarParkLatitude");
  r.homeCarParkLongitude = d.optionalNumber("homeCarParkLongitude");
  return r;
}

void DetailResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
  e.put("accountType", accountType);
  e.put("email", email);
  e.put("firstName", firstName);
  e.put("lastName", lastName);
  e.put("phoneNo", phoneNo);
  e.put("homeCarParkId", homeCarParkId);
  e.put("homeCarParkName", homeCarParkName);
  e.put("groupZoneName", groupZoneName);
  e.put("groupZoneColourCode", groupZoneColourCode);
  e.put("groupZoneCode", groupZoneCode);
  e.put("homeCarParkLatitude", homeCarParkLatitude);
  e.put("homeCarParkLongitude", homeCarParkLongitude);
}

}  // namespace velmora
