#pragma once

// Small record classes the JSON model tests import and export: one of each property kind.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"

namespace velmora::kestrine::testrecords {

class TestCategory : public KSJSONRecord<TestCategory> {
 public:
  static const KSJSONModelClass& jsonClass() {
    static const KSJSONModelClass cls = KSJSONModelClass::define<TestCategory>("TestCategory", [](auto& c) {
      c.keyMapper({{"id", "categoryID"}});
      c.whitelist({"name"});
      c.text("categoryID", &TestCategory::categoryID, &TestCategory::setCategoryID).optional();
      c.text("name", &TestCategory::name, &TestCategory::setName);
    });
    return cls;
  }
  const std::optional<std::string>& categoryID() const { return categoryID_; }
  void setCategoryID(std::optional<std::string> v) { categoryID_ = std::move(v); }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }

 private:
  std::optional<std::string> categoryID_, name_;
};

class TestSite : public KSJSONRecord<TestSite> {
 public:
  static const KSJSONModelClass& jsonClass() {
    static const KSJSONModelClass cls = KSJSONModelClass::define<TestSite>("TestSite", [](auto& c) {
      c.keyMapper({{"id", "siteID"}});
      c.allOptional();
      c.text("siteID", &TestSite::siteID, &TestSite::setSiteID);
      c.text("name", &TestSite::name, &TestSite::setName);
      c.records("categories", &TestSite::categories, &TestSite::setCategories);
    });
    return cls;
  }
  const std::optional<std::string>& siteID() const { return siteID_; }
  void setSiteID(std::optional<std::string> v) { siteID_ = std::move(v); }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }
  const std::vector<std::shared_ptr<TestCategory>>& categories() const { return categories_; }
  void setCategories(std::vector<std::shared_ptr<TestCategory>> v) { categories_ = std::move(v); }

 private:
  std::optional<std::string> siteID_, name_;
  std::vector<std::shared_ptr<TestCategory>> categories_;
};

// One property of each kind. "title" is required, the rest optional; "id" maps to
// recordID, whose setter also marks the record synced (a setter side effect import must run).
class TestRecord : public KSJSONRecord<TestRecord> {
 public:
  static const KSJSONModelClass& jsonClass() {
    static const KSJSONModelClass cls = KSJSONModelClass::define<TestRecord>("TestRecord", [](auto& c) {
      c.keyMapper({{"id", "recordID"}});
      c.whitelist({"recordID", "title", "site", "when"});
      c.text("title", &TestRecord::title, &TestRecord::setTitle);
      c.text("recordID", &TestRecord::recordID, &TestRecord::setRecordID).optional();
      c.text("name", &TestRecord::name, &TestRecord::setName).optional();
      c.text("description", &TestRecord::descriptionText, &TestRecord::setDescriptionText).optional();
      c.record("site", &TestRecord::site, &TestRecord::setSite).optional();
      c.records("categories", &TestRecord::categories, &TestRecord::setCategories).optional();
      c.any("tags", &TestRecord::tagsJSON, &TestRecord::setTagsJSON)
          .optional()
          .importWith(KSJSONFamily::Array,
                      [](TestRecord& r, const platform::Value& json) {
                        std::vector<std::string> tags;
                        for (const auto& t : *json.array()) {
                          if (t.string()) tags.push_back(*t.string());
                        }
                        r.setTags(std::move(tags));
                      })
          .importWith(KSJSONFamily::String,
                      [](TestRecord& r, const platform::Value& json) { r.setTags(std::vector<std::string>{"text:" + *json.string()}); })
          .exportWith([](const TestRecord& r) {
            if (!r.tags()) return platform::Value();
            platform::Array out;
            for (const auto& t : *r.tags()) out.emplace_back(t);
            return platform::Value(std::move(out));
          });
      c.date("when", &TestRecord::when, &TestRecord::setWhen).optional();
      c.number("count", &TestRecord::count, &TestRecord::setCount).optional();
      c.scalar("active", &TestRecord::active, &TestRecord::setActive).optional();
      c.scalar("mask", &TestRecord::mask, &TestRecord::setMask).optional();
      c.scalar("syncStatus", &TestRecord::syncStatus, &TestRecord::setSyncStatus).optional();
      c.readOnly("titleLength", &TestRecord::titleLength);
    });
    return cls;
  }

  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> v) { title_ = std::move(v); }
  const std::optional<std::string>& recordID() const { return recordID_; }
  void setRecordID(std::optional<std::string> v) {
    recordID_ = std::move(v);
    if (recordID_ && !recordID_->empty()) syncStatus_ = 2;
  }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }
  const std::optional<std::string>& descriptionText() const { return description_; }
  void setDescriptionText(std::optional<std::string> v) { description_ = std::move(v); }
  const std::shared_ptr<TestSite>& site() const { return site_; }
  void setSite(std::shared_ptr<TestSite> v) { site_ = std::move(v); }
  const std::optional<std::vector<std::shared_ptr<TestCategory>>>& categories() const { return categories_; }
  void setCategories(std::optional<std::vector<std::shared_ptr<TestCategory>>> v) { categories_ = std::move(v); }
  const std::optional<std::vector<std::string>>& tags() const { return tags_; }
  void setTags(std::optional<std::vector<std::string>> v) { tags_ = std::move(v); }
  // The model form of tags, for copy and by-name reads.
  platform::Value tagsJSON() const {
    if (!tags_) return {};
    platform::Array out;
    for (const auto& t : *tags_) out.emplace_back(t);
    return platform::Value(std::move(out));
  }
  void setTagsJSON(platform::Value v) {
    if (!v.array()) return setTags(std::nullopt);
    std::vector<std::string> tags;
    for (const auto& t : *v.array()) {
      if (t.string()) tags.push_back(*t.string());
    }
    setTags(std::move(tags));
  }
  const std::optional<platform::Date>& when() const { return when_; }
  void setWhen(std::optional<platform::Date> v) { when_ = v; }
  const platform::Value& count() const { return count_; }
  void setCount(platform::Value v) { count_ = std::move(v); }
  bool active() const { return active_; }
  void setActive(bool v) { active_ = v; }
  std::uint32_t mask() const { return mask_; }
  void setMask(std::uint32_t v) { mask_ = v; }
  std::int64_t syncStatus() const { return syncStatus_; }
  void setSyncStatus(std::int64_t v) { syncStatus_ = v; }
  std::int64_t titleLength() const { return title_ ? static_cast<std::int64_t>(title_->size()) : 0; }

 private:
  std::optional<std::string> title_, recordID_, name_, description_;
  std::shared_ptr<TestSite> site_;
  std::optional<std::vector<std::shared_ptr<TestCategory>>> categories_;
  std::optional<std::vector<std::string>> tags_;
  std::optional<platform::Date> when_;
  platform::Value count_ = platform::Value(7);  // a default the import keeps when "count" is absent
  bool active_ = false;
  std::uint32_t mask_ = 0;
  std::int64_t syncStatus_ = 0;
};

// A record whose nested site is required, so a failure deep inside it reaches the top.
class TestVisit : public KSJSONRecord<TestVisit> {
 public:
  static const KSJSONModelClass& jsonClass() {
    static const KSJSONModelClass cls = KSJSONModelClass::define<TestVisit>("TestVisit", [](auto& c) {
      c.record("site", &TestVisit::site, &TestVisit::setSite);
    });
    return cls;
  }
  const std::shared_ptr<TestSite>& site() const { return site_; }
  void setSite(std::shared_ptr<TestSite> v) { site_ = std::move(v); }

 private:
  std::shared_ptr<TestSite> site_;
};

// Sites by key, and two properties under dotted JSON key paths that share a head.
class TestPlace : public KSJSONRecord<TestPlace> {
 public:
  using Sites = std::map<std::string, std::shared_ptr<TestSite>>;
  static const KSJSONModelClass& jsonClass() {
    static const KSJSONModelClass cls = KSJSONModelClass::define<TestPlace>("TestPlace", [](auto& c) {
      c.keyMapper({{"geo.lat", "latitude"}, {"geo.detail.label", "label"}});
      c.allOptional();
      c.recordDictionary("sites", &TestPlace::sites, &TestPlace::setSites);
      c.scalar("latitude", &TestPlace::latitude, &TestPlace::setLatitude);
      c.text("label", &TestPlace::label, &TestPlace::setLabel);
    });
    return cls;
  }
  const std::optional<Sites>& sites() const { return sites_; }
  void setSites(std::optional<Sites> v) { sites_ = std::move(v); }
  std::optional<double> latitude() const { return latitude_; }
  void setLatitude(std::optional<double> v) { latitude_ = v; }
  const std::optional<std::string>& label() const { return label_; }
  void setLabel(std::optional<std::string> v) { label_ = std::move(v); }

 private:
  std::optional<Sites> sites_;
  std::optional<double> latitude_;
  std::optional<std::string> label_;
};

}  // namespace velmora::kestrine::testrecords
