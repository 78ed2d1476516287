#include "beacons/model/KSAlert.h"

#include <algorithm>

namespace velmora::kestrine {

const KSJSONModelClass& KSAlert::jsonClass() {
  using A = KSAlert;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<A>("KSAlert", [](auto& c) {
    c.keyMapper({{"id", "alertID"}});
    c.allOptional();
    c.text("alertID", &A::alertID, &A::setAlertID);
    c.text("teamID", &A::teamID, &A::setTeamID);
    c.record("alertSeverity", &A::alertSeverity, &A::setAlertSeverity);
    c.record("alertType", &A::alertType, &A::setAlertType);
    c.text("message", &A::message, &A::setMessage);
    c.date("occurredAt", &A::occurredAt, &A::setOccurredAt);
  });
  return cls;
}

namespace alert_array {

std::vector<std::shared_ptr<KSAlert>> filteredArrayUsingAlertSeverityID(const std::vector<std::shared_ptr<KSAlert>>& alerts,
                                                                        std::int64_t alertSeverityID) {
  std::vector<std::shared_ptr<KSAlert>> out;
  for (const auto& alert : alerts) {
    if (alert && alert->alertSeverity() && alert->alertSeverity()->alertSeverityID() == alertSeverityID) out.push_back(alert);
  }
  return out;
}

std::vector<std::shared_ptr<KSAlert>> sortedArrayUsingOccurredAtAscending(const std::vector<std::shared_ptr<KSAlert>>& alerts,
                                                                          bool ascending) {
  auto out = alerts;
  auto at = [](const std::shared_ptr<KSAlert>& a) { return a ? a->occurredAt() : std::nullopt; };
  std::stable_sort(out.begin(), out.end(), [&](const auto& a, const auto& b) {
    return ascending ? at(a) < at(b) : at(b) < at(a);  // nullopt orders before any date
  });
  return out;
}

}  // namespace alert_array

}  // namespace velmora::kestrine
