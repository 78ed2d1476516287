#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"

namespace velmora::kestrine {

// A beacon's Eddystone identity: the UID split into its namespace and instance, and the URL
// it advertises. The ranging work queue fills it while other threads read it, so every
// accessor holds the record's lock and hands out copies.
class KSEddystone : public KSJSONRecord<KSEddystone> {
 public:
  static const KSJSONModelClass& jsonClass();

  // 20 hex digits.
  std::optional<std::string> namespaceID() const;
  void setNamespaceID(std::optional<std::string> v);
  // 12 hex digits.
  std::optional<std::string> instanceID() const;
  void setInstanceID(std::optional<std::string> v);
  // 32 hex digits: the namespace followed by the instance. JSON "uid".
  std::optional<std::string> UIDString() const;
  void setUIDString(std::optional<std::string> v);
  // JSON "url".
  std::optional<std::string> URLString() const;
  void setURLString(std::optional<std::string> v);
  // URLString when it can be a URL: not empty, printable ASCII without spaces. Not exported.
  std::optional<std::string> URL() const;

  // A text of exactly 32 characters split into its first 20 and its last 12; any other
  // length gives an empty list.
  static std::vector<std::string> namespaceIDAndInstanceIDFromUIDString(std::string_view UIDString);

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> namespaceID_, instanceID_, UIDString_, URLString_;
};

}  // namespace velmora::kestrine
