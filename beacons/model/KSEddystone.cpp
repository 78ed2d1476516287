#include "beacons/model/KSEddystone.h"

#include <algorithm>

namespace velmora::kestrine {

const KSJSONModelClass& KSEddystone::jsonClass() {
  using E = KSEddystone;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<E>("KSEddystone", [](auto& c) {
    c.keyMapper({{"uid", "UIDString"}, {"url", "URLString"}});
    c.allOptional();
    c.whitelist({"namespaceID", "instanceID", "UIDString", "URLString"});
    c.text("namespaceID", &E::namespaceID, &E::setNamespaceID);
    c.text("instanceID", &E::instanceID, &E::setInstanceID);
    c.text("UIDString", &E::UIDString, &E::setUIDString);
    c.text("URLString", &E::URLString, &E::setURLString);
    c.readOnly("URL", &E::URL);
  });
  return cls;
}

std::optional<std::string> KSEddystone::namespaceID() const {
  std::lock_guard lock(mutex_);
  return namespaceID_;
}
void KSEddystone::setNamespaceID(std::optional<std::string> v) {
  std::lock_guard lock(mutex_);
  namespaceID_ = std::move(v);
}
std::optional<std::string> KSEddystone::instanceID() const {
  std::lock_guard lock(mutex_);
  return instanceID_;
}
void KSEddystone::setInstanceID(std::optional<std::string> v) {
  std::lock_guard lock(mutex_);
  instanceID_ = std::move(v);
}
std::optional<std::string> KSEddystone::UIDString() const {
  std::lock_guard lock(mutex_);
  return UIDString_;
}
void KSEddystone::setUIDString(std::optional<std::string> v) {
  std::lock_guard lock(mutex_);
  UIDString_ = std::move(v);
}
std::optional<std::string> KSEddystone::URLString() const {
  std::lock_guard lock(mutex_);
  return URLString_;
}
void KSEddystone::setURLString(std::optional<std::string> v) {
  std::lock_guard lock(mutex_);
  URLString_ = std::move(v);
}

std::optional<std::string> KSEddystone::URL() const {
  auto text = URLString();
  if (!text || text->empty()) return std::nullopt;
  const bool printable = std::all_of(text->begin(), text->end(), [](char ch) {
    const auto byte = static_cast<unsigned char>(ch);
    return byte > 0x20 && byte < 0x7F;
  });
  return printable ? text : std::nullopt;
}

std::vector<std::string> KSEddystone::namespaceIDAndInstanceIDFromUIDString(std::string_view UIDString) {
  if (UIDString.size() != 32) return {};
  return {std::string(UIDString.substr(0, 20)), std::string(UIDString.substr(20))};
}

}  // namespace velmora::kestrine
