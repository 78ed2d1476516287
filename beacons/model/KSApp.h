#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSGuardedFields.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

class KSAppSdkOption;
class KSPlatformType;

// A registered application: its token authenticates the SDK against the cloud API, and it
// carries the server-side SDK options the SDK applies at start. Fields sit behind the
// record's lock.
class KSApp : public KSJSONRecord<KSApp> {
 public:
  using Options = std::vector<std::shared_ptr<KSAppSdkOption>>;

  static const KSJSONModelClass& jsonClass();

#define KS_APP_FIELD(Type, name, Setter)                      \
  Type name() const { return f_.get(&Fields::name); }         \
  void Setter(Type v) { f_.set(&Fields::name, std::move(v)); }
  KS_APP_FIELD(std::optional<std::string>, appID, setAppID)
  KS_APP_FIELD(std::optional<std::string>, teamID, setTeamID)
  KS_APP_FIELD(std::optional<std::string>, name, setName)
  KS_APP_FIELD(std::optional<std::string>, iTunesURL, setITunesURL)
  KS_APP_FIELD(std::optional<std::string>, packageName, setPackageName)
  KS_APP_FIELD(std::shared_ptr<KSPlatformType>, platformType, setPlatformType)
  KS_APP_FIELD(std::optional<std::string>, appIconURL, setAppIconURL)
  // Compared with a digest of the app token to restore a verified app without network.
  KS_APP_FIELD(std::optional<std::string>, verificationCode, setVerificationCode)
  KS_APP_FIELD(std::optional<platform::Date>, verifiedAt, setVerifiedAt)
  // Absent (not exported) until the server sends a list.
  KS_APP_FIELD(std::optional<Options>, appSdkOptions, setAppSdkOptions)
#undef KS_APP_FIELD

  // Each option's key to its value, in list order, a later key replacing an earlier one;
  // options without key or value are skipped.
  std::map<std::string, std::string> remoteOptions() const;
  // False without verifiedAt; else whether the interval is strictly longer than the
  // seconds since verifiedAt.
  bool wasVerifiedWithinTimeInterval(double seconds) const;
  // Takes the other app's server fields (everything above).
  void copyApiPropertiesFromApp(const KSApp& other);

 private:
  struct Fields {
    std::optional<std::string> appID, teamID, name, iTunesURL, packageName;
    std::shared_ptr<KSPlatformType> platformType;
    std::optional<std::string> appIconURL, verificationCode;
    std::optional<platform::Date> verifiedAt;
    std::optional<Options> appSdkOptions;
  };
  KSGuardedFields<Fields> f_;
};

}  // namespace velmora::kestrine
