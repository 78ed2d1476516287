#pragma once

// The nested records a beacon holds.

#include <memory>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSBatteryStatus.h"
#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSBeaconMode.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSEddystone.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSNetworkAccess.h"
#include "beacons/model/KSSite.h"
#include "beacons/model/KSTargetSpeed.h"

