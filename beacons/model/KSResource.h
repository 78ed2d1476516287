#pragma once

#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

// A file the platform stores, such as the image of a site map. The export carries the file's
// identity and addresses, not who created it when.
class KSResource : public KSJSONRecord<KSResource> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::optional<std::string>& resourceID() const { return resourceID_; }
  void setResourceID(std::optional<std::string> v) { resourceID_ = std::move(v); }
  // JSON "url".
  const std::optional<std::string>& URL() const { return URL_; }
  void setURL(std::optional<std::string> v) { URL_ = std::move(v); }
  // JSON "secureUrl".
  const std::optional<std::string>& secureURL() const { return secureURL_; }
  void setSecureURL(std::optional<std::string> v) { secureURL_ = std::move(v); }
  const std::optional<std::string>& publicID() const { return publicID_; }
  void setPublicID(std::optional<std::string> v) { publicID_ = std::move(v); }
  const std::optional<std::string>& version() const { return version_; }
  void setVersion(std::optional<std::string> v) { version_ = std::move(v); }
  const std::optional<std::string>& format() const { return format_; }
  void setFormat(std::optional<std::string> v) { format_ = std::move(v); }
  const std::optional<std::string>& resourceType() const { return resourceType_; }
  void setResourceType(std::optional<std::string> v) { resourceType_ = std::move(v); }
  const std::optional<platform::Date>& createdAt() const { return createdAt_; }
  void setCreatedAt(std::optional<platform::Date> v) { createdAt_ = v; }
  const std::optional<std::string>& createdBy() const { return createdBy_; }
  void setCreatedBy(std::optional<std::string> v) { createdBy_ = std::move(v); }

 private:
  std::optional<std::string> resourceID_, URL_, secureURL_, publicID_, version_, format_, resourceType_;
  std::optional<platform::Date> createdAt_;
  std::optional<std::string> createdBy_;
};

}  // namespace velmora::kestrine
