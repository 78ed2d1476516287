#include "beacons/model/KSNetworkAccess.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "beacons/model/KSAlert.h"
#include "platform/core/Json.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

std::string written(const Value& v) { return platform::json::write(v).value_or("<unwritable>"); }

Value json(std::string_view text) {
  auto v = platform::json::parse(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v.value_or(Value());
}

TEST(KSAlertAndAccessLookups, Descriptions) {
  struct Case {
    const char* input;
    std::function<std::shared_ptr<KSJSONModel>(const Value&)> import;
    std::string description;
  };
  auto ownership = [](const Value& v) { return KSNetworkAccessOwnership::initWithDictionary(v); };
  auto severity = [](const Value& v) { return KSAlertSeverity::initWithDictionary(v); };
  auto type = [](const Value& v) { return KSAlertType::initWithDictionary(v); };
  auto role = [](const Value& v) { return KSNetworkAccessRole::initWithDictionary(v); };
  const std::vector<Case> cases = {
      {R"({"id":1})", ownership, "Owned"},
      {R"({"id":2})", ownership, "Shared"},
      {R"({"id":3})", ownership, "Public"},
      {R"({"id":7})", ownership, "Unknown"},
      {R"({})", ownership, "Unknown"},
      {R"({"id":2,"name":"Partner"})", ownership, "Partner"},
      {R"({"id":1,"name":"critical","displayName":"Critical"})", severity, "Critical"},
      {R"({"id":1,"name":"critical"})", severity, "critical"},
      {R"({"id":4,"name":"battery","displayName":"Low battery"})", type, "Low battery"},
      {R"({"id":4,"name":"battery"})", type, "battery"},
      {R"({"id":9,"name":"Installer"})", role, "Installer"},
  };
  for (const auto& c : cases) {
    auto record = c.import(json(c.input));
    ASSERT_NE(record, nullptr) << c.input;
    EXPECT_EQ(record->description(), c.description) << c.input;
  }
}

TEST(KSNetworkAccess, RolesKeepTheirOrderThroughImportExportAndCopy) {
  auto access = KSNetworkAccess::initWithDictionary(json(R"({"maxSecondsBeforeRevalidation":3600,
      "ownership":{"id":2,"name":"Shared"},
      "permittedRoles":[{"id":5,"name":"Viewer"},{"id":3,"name":"Installer"}]})"));
  ASSERT_NE(access, nullptr);
  ASSERT_TRUE(access->permittedRoles().has_value());
  const auto& roles = *access->permittedRoles();
  ASSERT_EQ(roles.size(), 2u);
  EXPECT_EQ(roles[0]->networkAccessRoleID(), 5);
  EXPECT_EQ(roles[1]->name(), "Installer");
  EXPECT_EQ(access->maxSecondsBeforeRevalidation(), 3600.0);
  EXPECT_EQ(access->ownership()->networkAccessOwnershipID(), 2);

  const Value exported(access->toDictionary());
  EXPECT_EQ(written(exported["permittedRoles"]), written(json(R"([{"id":5,"name":"Viewer"},{"id":3,"name":"Installer"}])")));
  EXPECT_EQ(written(exported["ownership"]), written(json(R"({"id":2,"name":"Shared"})")));

  auto copy = access->copy();
  ASSERT_NE(copy, access);
  EXPECT_NE(copy->ownership(), access->ownership());
  ASSERT_EQ(copy->permittedRoles()->size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_NE((*copy->permittedRoles())[i], roles[i]);
    EXPECT_EQ(written(Value((*copy->permittedRoles())[i]->toDictionary())), written(Value(roles[i]->toDictionary())));
  }
  EXPECT_EQ(written(Value(copy->toDictionary())), written(exported));
}

std::shared_ptr<KSAlert> alert(std::string id, std::optional<std::int64_t> severity, std::optional<double> at) {
  auto a = std::make_shared<KSAlert>();
  a->setAlertID(std::move(id));
  if (severity) {
    auto s = std::make_shared<KSAlertSeverity>();
    s->setAlertSeverityID(*severity);
    a->setAlertSeverity(s);
  }
  if (at) a->setOccurredAt(platform::Date::fromUnixSeconds(*at));
  return a;
}

TEST(KSAlertArray, FilterBySeverityAndSortByTime) {
  auto zero = alert("zero", 0, 300);
  auto none = alert("none", std::nullopt, 100);
  auto two = alert("two", 2, 200);
  auto undated = alert("undated", 2, std::nullopt);
  const std::vector<std::shared_ptr<KSAlert>> all = {zero, none, two, undated};
  using List = std::vector<std::shared_ptr<KSAlert>>;

  // An alert without a severity is no alert of severity 0.
  EXPECT_EQ(alert_array::filteredArrayUsingAlertSeverityID(all, 0), List{zero});
  EXPECT_EQ(alert_array::filteredArrayUsingAlertSeverityID(all, 2), (List{two, undated}));
  EXPECT_EQ(alert_array::sortedArrayUsingOccurredAtAscending(all, true), (List{undated, none, two, zero}));
  EXPECT_EQ(alert_array::sortedArrayUsingOccurredAtAscending(all, false), (List{zero, two, none, undated}));
}

TEST(KSAlert, NestedSeverityAndTypeImportAndExportInTheirOwnForms) {
  const char* text = R"({"id":"a1","teamID":"t","message":"Battery low",
      "alertSeverity":{"id":2,"name":"warning","displayName":"Warning"},"alertType":{"id":4,"name":"battery"}})";
  auto a = KSAlert::initWithDictionary(json(text));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->alertSeverity()->description(), "Warning");
  EXPECT_EQ(a->alertType()->alertTypeID(), 4);
  EXPECT_EQ(written(Value(a->toDictionary())), written(json(R"({"id":"a1","teamID":"t","message":"Battery low",
      "alertSeverity":{"id":2,"name":"warning","displayName":"Warning"},"alertType":{"id":4,"name":"battery"}})")));
}

}  // namespace
}  // namespace velmora::kestrine
