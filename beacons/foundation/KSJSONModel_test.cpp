#include "beacons/foundation/KSJSONModel.h"

#include <gtest/gtest.h>

#include <string>

#include "beacons/foundation/KSJSONModelError.h"
#include "beacons/foundation/KSJSONModelTestRecords.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"
#include "testing/ScopedTimeZone.h"

namespace velmora::kestrine {
namespace {

using platform::Dict;
using platform::Error;
using platform::Value;
using namespace testrecords;

Value json(std::string_view text) {
  auto v = platform::json::parse(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v.value_or(Value());
}

std::string missingKeys(const Error& e) {
  auto it = e.userInfo.find(kKSJSONModelMissingKeys);
  if (it == e.userInfo.end()) return {};
  std::string out;
  for (const auto& k : *it->second.array()) out += (out.empty() ? "" : ",") + *k.string();
  return out;
}

TEST(KSJSONModelImport, CasesThatFailReportCodeTextAndKeyPath) {
  struct Case {
    const char* name;
    std::function<bool(Error*)> import;  // true when a record came back
    std::int64_t code;
    std::string descriptionStart;
    std::string keyPath;
    std::string missing;
  };
  const std::string invalid = "Invalid JSON data";
  const std::vector<Case> cases = {
      {"nil dictionary", [](Error* e) { return TestRecord::initWithDictionary(Value(), e) != nullptr; }, 5,
       "Initializing model with nil input object.", "", ""},
      {"nil text", [](Error* e) { return TestRecord::initWithString(std::nullopt, e) != nullptr; }, 5, "Initializing", "", ""},
      {"array as the dictionary", [](Error* e) { return TestRecord::initWithDictionary(json("[1]"), e) != nullptr; }, 1,
       "Invalid JSON data: Attempt to initialize KSJSONModel object using initWithDictionary:error: but the dictionary "
       "parameter was not an 'NSDictionary'.",
       "", ""},
      {"JSON null as the dictionary",
       [](Error* e) { return TestRecord::initWithDictionary(Value(platform::null), e) != nullptr; }, 1,
       "Invalid JSON data: Attempt to initialize", "", ""},
      {"unterminated text", [](Error* e) { return TestRecord::initWithString("{", e) != nullptr; }, 3,
       "Malformed JSON. Check the KSJSONModel data input.", "", ""},
      {"a fragment is no JSON here", [](Error* e) { return TestRecord::initWithString("123", e) != nullptr; }, 3, "Malformed", "",
       ""},
      {"bytes that are not UTF-8",
       [](Error* e) {
         const std::uint8_t bytes[] = {'{', '"', 't', 'i', 't', 'l', 'e', '"', ':', '"', 0xC3, 0x28, '"', '}'};
         return TestRecord::initWithData(bytes, e) != nullptr;
       },
       3, "Malformed", "", ""},
      {"required key absent", [](Error* e) { return TestRecord::initWithString(R"({"name":"x"})", e) != nullptr; }, 1,
       "Invalid JSON data. Required JSON keys are missing from the input. Check the error user information.", "", "title"},
      {"required key null", [](Error* e) { return TestRecord::initWithString(R"({"title":null})", e) != nullptr; }, 1,
       "Invalid JSON data: Value of required model key title is null", "title", ""},
      {"bad third element of an array",
       [](Error* e) {
         return TestCategory::arrayOfModelsFromDictionaries(json(R"([{"name":"a"},{"name":"b"},{"id":"3"}])"), e).has_value();
       },
       1, "Invalid JSON data. Required", "[2]", "name"},
      {"a non-dictionary element",
       [](Error* e) { return TestCategory::arrayOfModelsFromDictionaries(json(R"([{"name":"a"},7])"), e).has_value(); }, 1,
       "Invalid JSON data: Attempt", "[1]", ""},
      {"bad element deep inside a required nested record",
       [](Error* e) {
         return TestVisit::initWithString(
                    R"({"site":{"categories":[{"name":"a"},{"name":"b"},{"name":null}]}})", e) != nullptr;
       },
       1, "Invalid JSON data: Value of required model key name is null", "site.categories[2].name", ""},
      {"an object for an array of records",
       [](Error* e) { return TestRecord::initWithString(R"({"title":"t","categories":{"name":"a"}})", e) != nullptr; }, 1,
       "Invalid JSON data. The JSON type mismatches", "categories", ""},
  };
  for (const auto& c : cases) {
    Error error;
    EXPECT_FALSE(c.import(&error)) << c.name;
    EXPECT_EQ(error.domain, KSJSONModelErrorDomain) << c.name;
    EXPECT_EQ(error.code, c.code) << c.name;
    EXPECT_EQ(error.localizedDescription.substr(0, c.descriptionStart.size()), c.descriptionStart) << c.name;
    EXPECT_EQ(KSJSONModelError::keyPath(error), c.keyPath) << c.name;
    EXPECT_EQ(missingKeys(error), c.missing) << c.name;
  }
}

TEST(KSJSONModelImport, TypeMismatchIsAnErrorWithTheKeyPathNeverAThrow) {
  struct Case {
    const char* input;
    const char* keyPath;
  };
  for (const Case& c : {Case{R"({"title":["a"]})", "title"}, Case{R"({"title":"t","count":{"a":1}})", "count"},
                        Case{R"({"title":"t","count":"twelve"})", "count"}, Case{R"({"title":"t","mask":"abc"})", "mask"},
                        Case{R"({"title":"t","mask":-1})", "mask"}, Case{R"({"title":"t","mask":4294967296})", "mask"},
                        Case{R"({"title":"t","active":"maybe"})", "active"}, Case{R"({"title":"t","when":[1]})", "when"},
                        Case{R"({"title":"t","name":{"x":1}})", "name"}}) {
    Error error;
    EXPECT_EQ(TestRecord::initWithString(c.input, &error), nullptr) << c.input;
    EXPECT_EQ(error.code, 1) << c.input;
    EXPECT_TRUE(error.userInfo.contains(kKSJSONModelTypeMismatch)) << c.input;
    EXPECT_EQ(KSJSONModelError::keyPath(error), c.keyPath) << c.input;
  }
}

TEST(KSJSONModelImport, ValuesOutsideJSONFailEvenForOptionalProperties) {
  platform::LogCapture log;
  Error error;
  const Value input = Value::makeDict({{"title", "t"}, {"name", Value(platform::Date::fromUnixSeconds(5))}});
  EXPECT_EQ(TestRecord::initWithDictionary(input, &error), nullptr);
  EXPECT_EQ(error.localizedDescription, "Invalid JSON data: Type date is not allowed in JSON.");
  EXPECT_EQ(KSJSONModelError::keyPath(error), "name");
  EXPECT_EQ(log.count("Type date is not allowed in JSON."), 1u);
}

TEST(KSJSONModelImport, FillsEveryKindThroughTheRecordsSetters) {
  auto r = TestRecord::initWithString(R"({"title":"T","id":"b-1","description":"about","site":{"id":"s1","name":"Home",
      "categories":[{"id":"c1","name":"Gate"}]},"categories":[{"name":"x"},{"name":"y"}],"tags":["a","b"],
      "active":true,"mask":4294967295})");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->title(), "T");
  EXPECT_EQ(r->recordID(), "b-1");
  EXPECT_EQ(r->syncStatus(), 2);  // the recordID setter ran
  EXPECT_EQ(r->descriptionText(), "about");
  ASSERT_NE(r->site(), nullptr);
  EXPECT_EQ(r->site()->siteID(), "s1");
  ASSERT_EQ(r->site()->categories().size(), 1u);
  EXPECT_EQ(r->site()->categories()[0]->categoryID(), "c1");
  ASSERT_TRUE(r->categories().has_value());
  EXPECT_EQ((*r->categories())[1]->name(), "y");
  EXPECT_EQ(r->tags(), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(r->active());
  EXPECT_EQ(r->mask(), 4294967295u);
  EXPECT_EQ(r->count(), Value(7));  // absent optional keeps its constructor default
  EXPECT_EQ(r->valueForKey("titleLength"), Value(1));
}

TEST(KSJSONModelImport, OptionalNullKeepsDefaultAndFailingOptionalRecordIsLeftUnset) {
  auto r = TestRecord::initWithString(R"({"title":"t","count":null,"site":{"categories":[{"id":"no name"}]}})");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->count(), Value(7));
  EXPECT_EQ(r->site(), nullptr);
}

TEST(KSJSONModelImport, CustomSetterIsChosenByTheFamilyOfEachValue) {
  // An array first, then text: each goes to its own setter, not to the one found first.
  auto first = TestRecord::initWithString(R"({"title":"t","tags":["a"]})");
  auto second = TestRecord::initWithString(R"({"title":"t","tags":"a"})");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->tags(), (std::vector<std::string>{"a"}));
  EXPECT_EQ(second->tags(), (std::vector<std::string>{"text:a"}));
  // A family without a setter takes the property's own conversion (any JSON here).
  auto third = TestRecord::initWithString(R"({"title":"t","tags":5})");
  ASSERT_NE(third, nullptr);
  EXPECT_FALSE(third->tags().has_value());
}

TEST(KSJSONModelConversion, ValuesBecomeThePropertiesKinds) {
  velmora::testing::ScopedTimeZone zone("Asia/Kolkata");
  auto r = TestRecord::initWithString(R"({"title":"t","name":1234567890,"count":"1234567890"})");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->name(), "1234567890");
  EXPECT_EQ(r->count().kind(), Value::Kind::Int);
  EXPECT_EQ(r->count().toInt64(), 1234567890);

  struct Case {
    const char* input;
    std::function<void(const TestRecord&)> check;
  };
  const std::vector<Case> cases = {
      {R"({"title":true})", [](const TestRecord& x) { EXPECT_EQ(x.title(), "1"); }},
      {R"({"title":"t","count":"2.5"})", [](const TestRecord& x) { EXPECT_EQ(x.count(), Value(2.5)); }},
      {R"({"title":"t","when":"2014-05-06T10:20:30+01:00"})",
       [](const TestRecord& x) { EXPECT_EQ(x.when(), platform::Date::fromUnixSeconds(1399368030)); }},
      {R"({"title":"t","when":"2014-05-06T10:20:30Z"})",
       [](const TestRecord& x) { EXPECT_EQ(x.when(), platform::Date::fromUnixSeconds(1399371630)); }},
      {R"({"title":"t","when":"garbage"})", [](const TestRecord& x) { EXPECT_FALSE(x.when().has_value()); }},
      {R"({"title":"t","when":0})", [](const TestRecord& x) { EXPECT_EQ(x.when(), platform::Date::fromUnixSeconds(0)); }},
      {R"({"title":"t","when":1.5})", [](const TestRecord& x) { EXPECT_EQ(x.when(), platform::Date::fromUnixMicros(1'500'000)); }},
      {R"({"title":"t","active":"YES","mask":"42"})",
       [](const TestRecord& x) {
         EXPECT_TRUE(x.active());
         EXPECT_EQ(x.mask(), 42u);
       }},
      {R"({"title":"t","active":0,"mask":7.9})",
       [](const TestRecord& x) {
         EXPECT_FALSE(x.active());
         EXPECT_EQ(x.mask(), 7u);
       }},
  };
  for (const auto& c : cases) {
    Error error;
    auto x = TestRecord::initWithString(c.input, &error);
    ASSERT_NE(x, nullptr) << c.input << ": " << error.localizedDescription;
    c.check(*x);
  }
}

TEST(KSJSONModelExport, WhitelistMappedKeysNullsAndNestedWhitelists) {
  velmora::testing::ScopedTimeZone zone("Asia/Kolkata");
  auto r = TestRecord::initWithString(
      R"({"title":"t","id":"b1","name":"n","when":"2014-05-06T10:20:30+01:00","site":{"id":"s","categories":[{"id":"c","name":"g"}]}})");
  ASSERT_NE(r, nullptr);
  const Value out(r->toDictionary());
  EXPECT_EQ(out, json(R"({"id":"b1","title":"t","when":"2014-05-06T14:50:30+0530",
      "site":{"id":"s","categories":[{"name":"g"}]}})"));

  // Every property: nil optionals are left out, scalars always written.
  auto all = TestRecord::initWithString(R"({"title":"t"})");
  EXPECT_EQ(platform::json::write(Value(all->toDictionaryWithKeys(std::nullopt))),
            R"({"active":false,"count":7,"mask":0,"syncStatus":0,"title":"t"})");
  // A nil required property is written as null; unknown names are ignored.
  all->setTitle(std::nullopt);
  EXPECT_EQ(Value(all->toDictionaryWithKeys(std::vector<std::string>{"title", "nothing"})), json(R"({"title":null})"));
  EXPECT_EQ(all->toJSONStringWithKeys(std::vector<std::string>{"title"}), R"({"title":null})");
}

TEST(KSJSONModelExport, ExportedDatesReadBackEqual) {
  velmora::testing::ScopedTimeZone zone("Asia/Kolkata");
  TestRecord r;
  r.setTitle("t");
  r.setWhen(platform::Date::fromUnixSeconds(1399368030));
  auto text = r.toJSONString();
  ASSERT_TRUE(text.has_value());
  EXPECT_NE(text->find("\"when\":\"2014-05-06T14:50:30+0530\""), std::string::npos);
  auto back = TestRecord::initWithString(*text);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->when(), r.when());
}

TEST(KSJSONModelCopy, CopiesEveryPropertyDeeplyWhitelistOrNot) {
  auto r = TestRecord::initWithString(
      R"({"title":"t","name":"n","tags":["a"],"count":3,"mask":9,"site":{"name":"s"},"categories":[{"name":"c"}]})");
  ASSERT_NE(r, nullptr);
  r->setWhen(platform::Date::fromUnixMicros(1'234'567));
  auto copy = r->copy();
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy.get(), r.get());
  EXPECT_EQ(copy->name(), "n");  // not in the whitelist
  EXPECT_EQ(copy->tags(), r->tags());
  EXPECT_EQ(copy->count(), Value(3));
  EXPECT_EQ(copy->mask(), 9u);
  EXPECT_EQ(copy->when(), r->when());  // to the microsecond
  ASSERT_NE(copy->site(), nullptr);
  EXPECT_NE(copy->site().get(), r->site().get());
  EXPECT_EQ(copy->site()->name(), "s");
  ASSERT_TRUE(copy->categories().has_value());
  EXPECT_NE((*copy->categories())[0].get(), (*r->categories())[0].get());
  EXPECT_EQ(Value(copy->toDictionaryWithKeys(std::nullopt)), Value(r->toDictionaryWithKeys(std::nullopt)));
}

TEST(KSJSONModelArchive, ArchiveHoldsTheJSONTextAndReadsBack) {
  auto r = TestRecord::initWithString(R"({"title":"t","id":"x"})");
  platform::Dict coder;
  r->encodeWithCoder(coder);
  ASSERT_TRUE(coder["json"].string());
  auto back = TestRecord::initWithCoder(coder);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->recordID(), "x");
  EXPECT_EQ(TestRecord::initWithCoder(platform::Dict{{"json", Value("{}")}}), nullptr);  // title missing
}

TEST(KSJSONModelDescription, ListsPropertiesAndCutsLongValues) {
  TestRecord r;
  r.setTitle(std::string(61, 'a'));
  r.setName(std::string(60, 'b'));
  r.setDescriptionText("line1\nline2");
  const std::string d = r.description();
  EXPECT_EQ(d.substr(0, 14), "<TestRecord> \n");
  EXPECT_NE(d.find("   [title]: " + std::string(59, 'a') + "...\n"), std::string::npos);
  EXPECT_NE(d.find("   [name]: " + std::string(60, 'b') + "\n"), std::string::npos);
  EXPECT_NE(d.find("   [description]: line1\n   line2\n"), std::string::npos);
  EXPECT_NE(d.find("   [recordID]: <nil>\n"), std::string::npos);
  EXPECT_EQ(d.find("titleLength"), std::string::npos);
  EXPECT_EQ(d.substr(d.size() - 13), "</TestRecord>");
}

class IndexedRecord : public KSJSONRecord<IndexedRecord> {
 public:
  static const KSJSONModelClass& jsonClass() {
    static const KSJSONModelClass cls = KSJSONModelClass::define<IndexedRecord>("IndexedRecord", [](auto& c) {
      c.allOptional();
      c.text("key", &IndexedRecord::key, &IndexedRecord::setKey).index();
    });
    return cls;
  }
  const std::optional<std::string>& key() const { return key_; }
  void setKey(std::optional<std::string> v) { key_ = std::move(v); }

 private:
  std::optional<std::string> key_;
};

TEST(KSJSONModelEquality, IndexPropertyOrElseIdentity) {
  auto a = IndexedRecord::initWithString(R"({"key":"a"})");
  auto a2 = IndexedRecord::initWithString(R"({"key":"a"})");
  auto b = IndexedRecord::initWithString(R"({"key":"b"})");
  EXPECT_TRUE(a->isEqual(*a2));
  EXPECT_FALSE(a->isEqual(*b));
  EXPECT_EQ(a->hash(), b->hash());
  EXPECT_EQ(a->compare(*b), -1);
  EXPECT_EQ(b->compare(*a), 1);
  EXPECT_EQ(a->indexPropertyName(), "key");

  auto t1 = TestRecord::initWithString(R"({"title":"t"})");
  auto t2 = t1->copy();
  EXPECT_TRUE(t1->isEqual(*t1));
  EXPECT_FALSE(t1->isEqual(*t2));
  EXPECT_FALSE(t1->isEqual(*a));
  const auto before = platform::programmingErrorCount();
  EXPECT_EQ(t1->compare(*t2), 0);
  EXPECT_EQ(platform::programmingErrorCount(), before + 1);
}

TEST(KSJSONModelByName, ReadsAndWritesThroughTheTable) {
  TestRecord r;
  EXPECT_TRUE(r.setValueForKey("recordID", Value("z")));
  EXPECT_EQ(r.syncStatus(), 2);
  EXPECT_EQ(r.valueForKey("recordID"), Value("z"));
  EXPECT_FALSE(r.setValueForKey("titleLength", Value(3)));
  EXPECT_FALSE(r.setValueForKey("nothing", Value(3)));
  EXPECT_TRUE(r.valueForKey("nothing").isAbsent());
}

TEST(KSJSONModelMapping, GlobalMapperDottedPathsAndMergeWithoutMapping) {
  struct GlobalReset {
    ~GlobalReset() { KSJSONModel::setGlobalKeyMapper(nullptr); }
  } reset;
  KSJSONModel::setGlobalKeyMapper(KSJSONKeyMapper::initWithDictionary({{"meta.label", "name"}, {"heading", "title"}}));
  auto r = TestRecord::initWithString(R"({"heading":"h","id":"i","meta":{"label":"L"}})");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->title(), "h");
  EXPECT_EQ(r->recordID(), "i");  // the class mapper still comes first
  EXPECT_EQ(r->name(), "L");
  EXPECT_EQ(Value(r->toDictionaryWithKeys(std::vector<std::string>{"title", "name", "recordID"})),
            json(R"({"heading":"h","id":"i","meta":{"label":"L"}})"));

  KSJSONModel::setGlobalKeyMapper(nullptr);
  TestRecord m;
  EXPECT_TRUE(m.mergeFromDictionary(json(R"({"id":"mapped","recordID":"plain","title":null})"), false));
  EXPECT_EQ(m.recordID(), "plain");
  EXPECT_TRUE(m.mergeFromDictionary(json(R"({"id":"mapped"})"), true));
  EXPECT_EQ(m.recordID(), "mapped");
}

TEST(KSJSONModelRecordDictionary, ImportsEveryEntryAsARecordAndExportsTheirDictionaries) {
  auto place = TestPlace::initWithString(
      R"({"sites":{"north":{"id":"s1","name":"North","categories":[{"name":"Gate"}]},"south":{"id":"s2"}}})");
  ASSERT_NE(place, nullptr);
  ASSERT_TRUE(place->sites());
  ASSERT_EQ(place->sites()->size(), 2u);
  EXPECT_EQ(place->sites()->at("north")->siteID(), "s1");
  EXPECT_EQ(place->sites()->at("north")->categories().front()->name(), "Gate");
  EXPECT_EQ(place->sites()->at("south")->siteID(), "s2");

  const Dict out = place->toDictionary();
  EXPECT_EQ(out.at("sites")["north"]["id"], Value("s1"));
  EXPECT_EQ(out.at("sites")["north"]["categories"], json(R"([{"name":"Gate"}])")) << "the element's own whitelist";
  EXPECT_EQ(out.at("sites")["south"]["id"], Value("s2"));

  auto copy = place->copy();
  ASSERT_TRUE(copy->sites());
  EXPECT_NE(copy->sites()->at("north"), place->sites()->at("north")) << "a deep copy";
  EXPECT_EQ(copy->sites()->at("north")->name(), "North");

  auto empty = TestPlace::initWithString(R"({"sites":{}})");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->sites(), TestPlace::Sites{});
}

TEST(KSJSONModelRecordDictionary, FailuresNameTheEntryAndFailEvenAnOptionalProperty) {
  struct Case {
    const char* json;
    std::string descriptionStart;
    std::string keyPath;
    bool typeMismatch;
  };
  const std::vector<Case> cases = {
      {R"({"sites":[{"id":"s1"}]})",
       "Invalid JSON data. The JSON type mismatches the expected type.", "sites", true},
      {R"({"sites":"north"})", "Invalid JSON data. The JSON type mismatches the expected type.", "sites", true},
      {R"({"sites":{"north":{"id":"s1"},"south":7}})", "Invalid JSON data: Attempt to initialize", "sites.south", false},
      {R"({"sites":{"north":{"categories":[{"name":"a"},{"id":"c2"}]}}})", "Invalid JSON data. Required JSON keys",
       "sites.north.categories[1]", false},
  };
  for (const auto& c : cases) {
    Error error;
    EXPECT_EQ(TestPlace::initWithString(c.json, &error), nullptr) << c.json;
    EXPECT_EQ(error.domain, KSJSONModelErrorDomain) << c.json;
    EXPECT_EQ(error.code, 1) << c.json;
    EXPECT_EQ(error.localizedDescription.rfind(c.descriptionStart, 0), 0u) << c.json << ": " << error.localizedDescription;
    EXPECT_EQ(KSJSONModelError::keyPath(error), c.keyPath) << c.json;
    if (c.typeMismatch) {
      EXPECT_EQ(error.userInfo.at(std::string(kKSJSONModelTypeMismatch)),
                Value("Property 'sites' is declared as NSDictionary<TestSite>* but the corresponding JSON value is "
                      "not a JSON Object."))
          << c.json;
    }
  }
}

// A property under a dotted key path has its intermediate dictionaries made on export before
// its value is looked at: they stay, empty, when the value is left out.
TEST(KSJSONModelExport, DottedKeyPathsMakeTheirIntermediateDictionaries) {
  TestPlace none;
  EXPECT_EQ(Value(none.toDictionary()), json(R"({"geo":{"detail":{}}})"));
  EXPECT_EQ(Value(none.toDictionaryWithKeys(std::vector<std::string>{"latitude"})), json(R"({"geo":{}})"));

  auto place = TestPlace::initWithString(R"({"geo":{"lat":51.5,"detail":{"label":"Deck 2"}}})");
  ASSERT_NE(place, nullptr);
  EXPECT_EQ(place->latitude(), 51.5);
  EXPECT_EQ(place->label(), "Deck 2");
  EXPECT_EQ(Value(place->toDictionary()), json(R"({"geo":{"lat":51.5,"detail":{"label":"Deck 2"}}})"));
  place->setLatitude(std::nullopt);
  EXPECT_EQ(Value(place->toDictionary()), json(R"({"geo":{"detail":{"label":"Deck 2"}}})"));
  EXPECT_EQ(*place->toJSONString(), R"({"geo":{"detail":{"label":"Deck 2"}}})");
}

TEST(KSJSONModelArrays, FromDataAndBackToDictionaries) {
  const std::string text = R"([{"name":"a"},{"name":"b","id":"2"}])";
  auto records = TestCategory::arrayOfModelsFromData(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  ASSERT_TRUE(records.has_value());
  ASSERT_EQ(records->size(), 2u);
  EXPECT_EQ(Value(*TestCategory::arrayOfDictionariesFromModels(*records)), json(R"([{"name":"a"},{"name":"b"}])"));
  EXPECT_EQ(Value(*TestCategory::arrayOfDictionariesFromModels(*records, {"categoryID"})), json(R"([{},{"id":"2"}])"));
  Error error;
  const std::string object = R"({"name":"a"})";
  EXPECT_FALSE(TestCategory::arrayOfModelsFromData(std::span(reinterpret_cast<const std::uint8_t*>(object.data()), object.size()),
                                                   &error)
                   .has_value());
  EXPECT_TRUE(error.domain.empty());  // another document is no array, and no error
  EXPECT_FALSE(TestCategory::arrayOfModelsFromDictionaries(Value(platform::null)).has_value());
}

}  // namespace
}  // namespace velmora::kestrine
