#pragma once

#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"

namespace velmora::kestrine {

// One SDK option set for the app on the server: an option key (one of the KSOption...
// keys) and its value as text, read through the same text conversions as the user's
// options. The app record holds a list of them and turns it into the remote options.
// Every property is optional; the description is the option key.
class KSAppSdkOption : public KSJSONRecord<KSAppSdkOption> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::optional<std::string>& appSdkOptionID() const { return appSdkOptionID_; }
  void setAppSdkOptionID(std::optional<std::string> v) { appSdkOptionID_ = std::move(v); }
  const std::optional<std::string>& optionKey() const { return optionKey_; }
  void setOptionKey(std::optional<std::string> v) { optionKey_ = std::move(v); }
  const std::optional<std::string>& optionValue() const { return optionValue_; }
  void setOptionValue(std::optional<std::string> v) { optionValue_ = std::move(v); }

  // The option key; empty when there is none.
  std::string description() const override;

 private:
  std::optional<std::string> appSdkOptionID_, optionKey_, optionValue_;
};

}  // namespace velmora::kestrine
