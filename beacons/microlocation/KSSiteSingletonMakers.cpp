#include "beacons/ranging/KSSiteSingletonMakers.h"

#include "beacons/microlocation/KSLocalNotificationManager.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/microlocation/KSVisitTracker.h"

namespace kestrine {

void installSiteSingletonMakers(KSInstanceProvider& provider) {
  KSSiteManagerInternal::installMaker(provider);
  KSVisitTracker::installMaker(provider);
  KSLocalNotificationManager::installMaker(provider);
}

}  // namespace kestrine
