#pragma once

#include <optional>
#include <string>
#include <utility>

#include "beacons/foundation/KSJSONRecord.h"

namespace velmora::kestrine {

// The shape every server lookup list shares (beacon modes, alert types, roles, ...): a
// numeric identifier of its own name, a name and a display name. The derived record keeps
// its identifier and declares its class; this holds the two names and the description.
template <class Derived>
class KSNamedLookupRecord : public KSJSONRecord<Derived> {
 public:
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }
  const std::optional<std::string>& displayName() const { return displayName_; }
  void setDisplayName(std::optional<std::string> v) { displayName_ = std::move(v); }

  // The display name when there is one, else the name (empty when neither is set).
  std::string description() const override { return displayName_.value_or(name_.value_or(std::string())); }

 protected:
  // Declares "name" and "displayName" in the derived record's class.
  template <class Builder>
  static void defineNames(Builder& c) {
    c.text("name", &KSNamedLookupRecord::name, &KSNamedLookupRecord::setName);
    c.text("displayName", &KSNamedLookupRecord::displayName, &KSNamedLookupRecord::setDisplayName);
  }

 private:
  std::optional<std::string> name_, displayName_;
};

}  // namespace velmora::kestrine
