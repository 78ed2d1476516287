#include "beacons/model/KSApp.h"

#include "beacons/model/KSAppSdkOption.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/model/KSModelServices.h"
#include "beacons/model/KSPlatformType.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSApp::jsonClass() {
  using A = KSApp;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<A>("KSApp", [](auto& c) {
    c.keyMapper({{"id", "appID"}});
    c.allOptional();
    c.text("appID", &A::appID, &A::setAppID);
    c.text("teamID", &A::teamID, &A::setTeamID);
    c.text("name", &A::name, &A::setName);
    c.text("iTunesURL", &A::iTunesURL, &A::setITunesURL);
    c.text("packageName", &A::packageName, &A::setPackageName);
    c.record("platformType", &A::platformType, &A::setPlatformType);
    c.text("appIconURL", &A::appIconURL, &A::setAppIconURL);
    c.text("verificationCode", &A::verificationCode, &A::setVerificationCode);
    c.date("verifiedAt", &A::verifiedAt, &A::setVerifiedAt);
    c.records("appSdkOptions", &A::appSdkOptions, &A::setAppSdkOptions);
  });
  return cls;
}

std::map<std::string, std::string> KSApp::remoteOptions() const {
  std::map<std::string, std::string> out;
  const auto options = appSdkOptions();
  if (!options) return out;
  for (const auto& option : *options) {
    if (!option || !option->optionKey() || !option->optionValue()) continue;
    out[*option->optionKey()] = *option->optionValue();
  }
  return out;
}

bool KSApp::wasVerifiedWithinTimeInterval(double seconds) const {
  const auto at = verifiedAt();
  if (!at) return false;
  const double elapsed = KSModelClock::now().timeIntervalSince(*at);
  return seconds > elapsed;
}

void KSApp::copyApiPropertiesFromApp(const KSApp& other) {
  if (&other == this) return;
  setAppID(other.appID());
  setName(other.name());
  setTeamID(other.teamID());
  setITunesURL(other.iTunesURL());
  setPackageName(other.packageName());
  setPlatformType(other.platformType());
  setAppIconURL(other.appIconURL());
  setVerificationCode(other.verificationCode());
  setVerifiedAt(other.verifiedAt());
  setAppSdkOptions(other.appSdkOptions());
}

}  // namespace velmora::kestrine
