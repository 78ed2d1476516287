#include "parking/user_api/StatusResult.h"

namespace velmora {

StatusResult StatusResult::decode(RecordDecoder& d) {
  StatusResult r;
  r.result = d.string("result", "Failure");
  r.message = d.string("message");
  r.accountType = d.string("accountType");
  r.emailConfirmed = d.boolean("emailConfirmed", false);
  r.accessStatus = d.string("accessStatus");
  r.inCarPark = d.boolean("inCarPark", false);
  r.isNested = d.boolean("isNested", false);
  r.entryTime = d.optionalDate("entryTime");
  r.entryTimeUTC = d.optionalDate("entryTimeUTC");
  r.serverTime = d.optionalDate("serverTime");
  r.secondsInCarPark = d.optionalInt64("secondsInCarPark");
  r.homeCarParkId = d.optionalInt64("homeCarParkId");
  r.homeCarParkName = d.string("homeCarParkName");
  r.groupZoneName = d.string("groupZoneName");
  r.groupZoneColourCode = d.string("groupZoneColourCode");
  r.groupZoneCode = d.string("groupZoneCode");
  r.carParkId = d.optionalInt64("carParkId");
  r.carParkName = d.string("carParkName");
  r.casualAccess = d.boolean("casualAccess", false);
  r.hasCard = d.boolean("hasCard", false);
  r.lanes = d.records<LaneResult>("lanes");
  r.amount = d.optionalNumber("amount");
  r.reservedBay = d.string("reservedBay");
  return r;
}

void StatusResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
  e.put("accountType", accountType);
  e.put("emailConfirmed", emailConfirmed);
  e.put("accessStatus", accessStatus);
  e.put("inCarPark", inCarPark);
  e.put("isNested", isNested);
  e.put("entryTime", entryTime);
  e.put("entryTimeUTC", entryTimeUTC);
  e.put("serverTime", serverTime);
  e.put("secondsInCarPark", secondsInCarPark);
  e.put("homeCarParkId", homeCarParkId);
  e.put("homeCarParkName", homeCarParkName);
  e.put("groupZoneName", groupZoneName);
  e.put("groupZoneColourCode", groupZoneColourCode);
  e.put("groupZoneCode", groupZoneCode);
  e.put("carParkId", carParkId);
  e.put("carParkName", carParkName);
  e.put("casualAccess", casualAccess);
  e.put("hasCard", hasCard);
  e.put("lanes", lanes);
  e.put("amount", amount);
  e.put("reservedBay", reservedBay);
}

}  // namespace velmora
