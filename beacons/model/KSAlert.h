#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSAlertSeverity.h"
#include "beacons/model/KSAlertType.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

// A problem the platform reports for a team. Severity and type travel as nested objects in
// their own forms. Exported in full.
class KSAlert : public KSJSONRecord<KSAlert> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::optional<std::string>& alertID() const { return alertID_; }
  void setAlertID(std::optional<std::string> v) { alertID_ = std::move(v); }
  const std::optional<std::string>& teamID() const { return teamID_; }
  void setTeamID(std::optional<std::string> v) { teamID_ = std::move(v); }
  const std::shared_ptr<KSAlertSeverity>& alertSeverity() const { return alertSeverity_; }
  void setAlertSeverity(std::shared_ptr<KSAlertSeverity> v) { alertSeverity_ = std::move(v); }
  const std::shared_ptr<KSAlertType>& alertType() const { return alertType_; }
  void setAlertType(std::shared_ptr<KSAlertType> v) { alertType_ = std::move(v); }
  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> v) { message_ = std::move(v); }
  const std::optional<platform::Date>& occurredAt() const { return occurredAt_; }
  void setOccurredAt(std::optional<platform::Date> v) { occurredAt_ = v; }

 private:
  std::optional<std::string> alertID_, teamID_;
  std::shared_ptr<KSAlertSeverity> alertSeverity_;
  std::shared_ptr<KSAlertType> alertType_;
  std::optional<std::string> message_;
  std::optional<platform::Date> occurredAt_;
};

// Queries over a list of alerts; each gives a new list and leaves the input unchanged.
namespace alert_array {

// The alerts that have a severity with that id, in order; alerts without a severity never match.
std::vector<std::shared_ptr<KSAlert>> filteredArrayUsingAlertSeverityID(const std::vector<std::shared_ptr<KSAlert>>& alerts,
                                                                        std::int64_t alertSeverityID);

// By occurredAt; an alert without a date sorts before every dated one when ascending.
// Alerts at the same time keep their order.
std::vector<std::shared_ptr<KSAlert>> sortedArrayUsingOccurredAtAscending(const std::vector<std::shared_ptr<KSAlert>>& alerts,
                                                                          bool ascending);

}  // namespace alert_array

}  // namespace velmora::kestrine
