#include "beacons/foundation/KSDefinitionsInternal.h"

#include "beacons/foundation/KSInstanceProvider.h"
#include "platform/app/Application.h"

namespace velmora::kestrine {

bool KSDefinitionsInternal::isAppInBackground() {
  return isAppInBackground(KSInstanceProvider::sharedProvider()->platform().app.get());
}

bool KSDefinitionsInternal::isAppInBackground(const platform::app::Application* app) {
  return app != nullptr && app->applicationState() == platform::app::ApplicationState::Background;
}

}  // namespace velmora::kestrine
