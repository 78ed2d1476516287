#include "platform/store/ObjectStore.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <limits>

#include "platform/core/Log.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/store/StoreSchema.h"
#include "testing/EnforcedFilePermissions.h"
#include "testing/FileSizeLimit.h"
#include "testing/TempDir.h"

namespace velmora::platform::store {
namespace {

using dispatch::VirtualScheduler;

// Owners with items (deleted with their owner) and notes (left behind, unlinked).
Model testModel() {
  Model m({Entity{"Owner",
                  {{"name", AttributeType::String, false},
                   {"count", AttributeType::Int64},
                   {"small", AttributeType::Int16},
                   {"port", AttributeType::UInt16},
                   {"ratio", AttributeType::Float},
                   {"weight", AttributeType::Double},
                   {"amount", AttributeType::Decimal},
                   {"flag", AttributeType::Boolean},
                   {"seen", AttributeType::Date},
                   {"tag", AttributeType::String, true, true}},
                  {}},
           Entity{"Item", {{"label", AttributeType::String}}, {}},
           Entity{"Note", {{"text", AttributeType::String}}, {}}});
  m.relate("Owner", "items", DeleteRule::Cascade, "Item", "owner");
  m.relate("Owner", "notes", DeleteRule::Nullify, "Note", "owner");
  return m;
}

class ObjectStoreTest : public ::testing::Test {
 protected:
  std::shared_ptr<ObjectStore> open(const Model& model = testModel(), Error* error = nullptr) {
    return ObjectStore::open(model, file(), scheduler, error);
  }
  std::filesystem::path file() const { return dir.path() / "test.sqlite"; }

  velmora::testing::TempDir dir;
  std::shared_ptr<VirtualScheduler> scheduler = std::make_shared<VirtualScheduler>();
};

TEST_F(ObjectStoreTest, ValuesReadBackAtTheirTypesAfterReopen) {
  const Date micro = Date::fromUnixMicros(1'700'000'000'123'457);
  struct Case {
    const char* key;
    Value written;
    Value expected;
  } cases[] = {
      {"count", Value(std::numeric_limits<std::int64_t>::max()), Value(std::numeric_limits<std::int64_t>::max())},
      {"small", Value(70000), Value(70000)},  // integers keep full width whatever the declared size
      {"port", Value(65535), Value(65535)},
      {"ratio", Value(10.123456789), Value(static_cast<double>(10.123456789f))},
      {"weight", Value(10.123456789), Value(10.123456789)},
      {"amount", Value(3.0), Value(3.0)},
      {"flag", Value(true), Value(true)},
      {"seen", Value(micro), Value(micro)},
      {"tag", Value("it's \"quoted\" — ü"), Value("it's \"quoted\" — ü")},
  };
  {
    auto store = open();
    ASSERT_TRUE(store);
    store->performAndWait([&](StoreContext& c) {
      for (const auto& k : cases) {
        Dict d{{"name", Value("n")}, {k.key, k.written}};
        ASSERT_TRUE(c.insert("Owner", d)) << k.key;
      }
      ASSERT_TRUE(c.save());
    });
  }
  auto store = open();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->outcome(), OpenOutcome::Opened);
  store->performAndWait([&](StoreContext& c) {
    auto rows = c.fetch({.entity = "Owner"});
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      EXPECT_EQ((*rows)[i][cases[i].key], cases[i].expected) << cases[i].key;
      // Every other optional attribute stays empty.
      EXPECT_EQ((*rows)[i].values.size(), 2u) << cases[i].key;
    }
  });
}

TEST_F(ObjectStoreTest, WritesThatDoNotFitAreRefused) {
  auto store = open();
  ASSERT_TRUE(store);
  struct Case {
    const char* key;
    Value value;
  } cases[] = {
      {"count", Value("12")},
      {"count", Value(std::numeric_limits<std::uint64_t>::max())},
      {"count", Value(1.5)},
      {"ratio", Value(true)},
      {"ratio", Value(std::numeric_limits<double>::infinity())},
      {"seen", Value(12)},
      {"name", Value(12)},
      {"nosuch", Value(1)},
  };
  store->performAndWait([&](StoreContext& c) {
    auto row = c.insert("Owner", {{"name", Value("n")}});
    ASSERT_TRUE(row);
    for (const auto& k : cases) {
      Error error;
      EXPECT_FALSE(c.setValue(*row, k.key, k.value, &error)) << k.key;
      EXPECT_EQ(error.domain, storeerror::kDomain);
    }
    EXPECT_EQ(c.value(*row, "name"), Value("n"));
  });
}

TEST_F(ObjectStoreTest, UnsavedWritesAreVisibleAndOnlySavedOnesSurviveClose) {
  {
    auto store = open();
    store->performAndWait([&](StoreContext& c) {
      EXPECT_FALSE(c.hasChanges());
      auto a = c.insert("Owner", {{"name", Value("saved")}});
      ASSERT_TRUE(a);
      EXPECT_TRUE(c.hasChanges());
      EXPECT_EQ(c.count("Owner", {}), 1);
      ASSERT_TRUE(c.save());
      EXPECT_FALSE(c.hasChanges());
      ASSERT_TRUE(c.update(*a, {{"count", Value(5)}}));
      ASSERT_TRUE(c.insert("Owner", {{"name", Value("unsaved")}}));
      EXPECT_EQ(c.count("Owner", {}), 2);
      EXPECT_EQ(c.count("Owner", Predicate::eq("count", 5)), 1);
    });
  }
  auto store = open();
  store->performAndWait([&](StoreContext& c) {
    auto rows = c.fetch({.entity = "Owner"});
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 1u);
    EXPECT_EQ((*rows)[0]["name"], Value("saved"));
    EXPECT_TRUE((*rows)[0]["count"].isAbsent());
  });
}

TEST_F(ObjectStoreTest, FailedSaveIsLoggedRolledBackAndLaterSavesWork) {
  auto store = open();
  store->performAndWait([&](StoreContext& c) {
    ASSERT_TRUE(c.insert("Owner", {{"name", Value("kept")}}));
    ASSERT_TRUE(c.save());

    auto noName = c.insert("Owner", {{"count", Value(1)}});
    ASSERT_TRUE(noName);
    auto cleared = c.fetch({.entity = "Owner", .predicate = Predicate::eq("name", "kept")});
    ASSERT_TRUE(cleared);
    ASSERT_TRUE(c.setValue((*cleared)[0].id, "name", Value()));
    LogCapture log;
    Error error;
    EXPECT_FALSE(c.save(&error));
    EXPECT_EQ(error.code, storeerror::kValidation);
    EXPECT_EQ(log.count("save failed"), 1u);
    EXPECT_FALSE(c.hasChanges());
    // The whole unit of work is gone: the bad insert and the cleared name.
    EXPECT_EQ(c.count("Owner", {}), 1);
    EXPECT_EQ(c.count("Owner", Predicate::eq("name", "kept")), 1);

    ASSERT_TRUE(c.insert("Owner", {{"name", Value("later")}}));
    EXPECT_TRUE(c.save());
  });
  store.reset();
  store = open();
  store->performAndWait([&](StoreContext& c) { EXPECT_EQ(c.count("Owner", {}), 2); });
}

// Field lists write like dictionaries, in their own order, and are refused the same way; a
// key given twice is refused too.
TEST_F(ObjectStoreTest, FieldListWritesCheckTheirKeysAndValues) {
  auto store = open();
  store->performAndWait([&](StoreContext& c) {
    const Field owner[] = {{"tag", Value("t")}, {"name", Value("o")}, {"ratio", Value(10.123456789)}};
    auto row = c.insertRow("Owner", owner);
    ASSERT_TRUE(row);
    const Field item[] = {{"label", Value("i")}, {"owner", Value(row->pk)}};
    auto child = c.insertRow("Item", item);
    ASSERT_TRUE(child);
    EXPECT_EQ(c.relatedMany(*row, "items"), std::vector<ObjectID>{*child});
    const Field change[] = {{"count", Value(3)}, {"tag", Value()}};
    ASSERT_TRUE(c.updateRow(*row, change));
    const Dict expected{{"name", Value("o")}, {"count", Value(3)}, {"ratio", Value(static_cast<double>(10.123456789f))}};
    EXPECT_EQ(c.values(*row), expected);

    struct Case {
      const char* what;
      std::vector<Field> fields;
      std::int64_t code;
    } cases[] = {
        {"unknown key", {{"name", Value("x")}, {"nosuch", Value(1)}}, storeerror::kQuery},
        {"to-many end", {{"name", Value("x")}, {"items", Value(1)}}, storeerror::kQuery},
        {"key twice", {{"name", Value("x")}, {"count", Value(1)}, {"name", Value("y")}}, storeerror::kQuery},
        {"value that does not fit", {{"name", Value("x")}, {"count", Value("12")}}, storeerror::kValidation},
    };
    for (const auto& k : cases) {
      Error error;
      EXPECT_FALSE(c.insertRow("Owner", k.fields, &error)) << k.what;
      EXPECT_EQ(error.code, k.code) << k.what;
      EXPECT_FALSE(c.updateRow(*row, k.fields)) << k.what;
    }
    Error error;
    EXPECT_FALSE(c.insertRow("Nosuch", owner, &error));
    EXPECT_EQ(error.code, storeerror::kQuery);
    EXPECT_EQ(c.count("Owner", {}), 1);
    EXPECT_EQ(c.values(*row), expected);
    EXPECT_TRUE(c.save());
  });
}

// A save checks the rows written since the last one that may lack a required attribute:
// what counts is the row as it stands at the save, whichever writes made it so.
TEST_F(ObjectStoreTest, SaveJudgesEachWrittenRowAsItStands) {
  auto store = open();
  struct Case {
    const char* what;
    std::function<void(StoreContext&, ObjectID kept)> write;
    bool saves;
  } cases[] = {
      {"inserted without, then given it",
       [](StoreContext& c, ObjectID) {
         auto row = c.insert("Owner", {{"count", Value(1)}});
         ASSERT_TRUE(row);
         const Field name{"name", Value("late")};
         ASSERT_TRUE(c.updateRow(*row, std::span(&name, 1)));
       },
       true},
      {"inserted with, then cleared",
       [](StoreContext& c, ObjectID) {
         const Field name{"name", Value("n")};
         auto row = c.insertRow("Owner", std::span(&name, 1));
         ASSERT_TRUE(row);
         const Field cleared{"name", Value(null)};
         ASSERT_TRUE(c.updateRow(*row, std::span(&cleared, 1)));
       },
       false},
      {"saved row cleared, then given it again",
       [](StoreContext& c, ObjectID kept) {
         ASSERT_TRUE(c.setValue(kept, "name", Value()));
         ASSERT_TRUE(c.setValue(kept, "name", Value("again")));
       },
       true},
      {"saved row cleared and deleted",
       [](StoreContext& c, ObjectID kept) {
         ASSERT_TRUE(c.setValue(kept, "name", Value()));
         ASSERT_TRUE(c.remove(kept));
       },
       true},
      {"an empty text is not empty", [](StoreContext& c, ObjectID kept) { ASSERT_TRUE(c.setValue(kept, "name", Value(""))); },
       true},
  };
  for (const auto& k : cases) {
    store->performAndWait([&](StoreContext& c) {
      auto kept = c.insert("Owner", {{"name", Value("kept")}});
      ASSERT_TRUE(kept);
      ASSERT_TRUE(c.save());
      const auto before = c.count("Owner", {});
      k.write(c, *kept);
      EXPECT_EQ(c.save(), k.saves) << k.what;
      if (!k.saves) {
        EXPECT_EQ(c.count("Owner", {}), before) << k.what;
      }
      EXPECT_EQ(c.count("Owner", Predicate::eq("name", Value())), 0) << k.what;
    });
  }
}

// Work performed in a row shares one queue item but keeps its order, also around waits; work
// still queued when the scheduler goes is dropped with what it holds, the store included.
TEST_F(ObjectStoreTest, PerformedWorkKeepsItsOrderAndIsDroppedWithItsQueue) {
  auto store = open();
  std::vector<int> order;
  for (int i = 0; i < 3; ++i) {
    store->perform([&order, i](StoreContext& c) {
      order.push_back(i);
      EXPECT_TRUE(c.insert("Note", {{"text", Value(std::to_string(i))}}));
    });
  }
  store->performAndWait([&](StoreContext& c) {
    order.push_back(10);
    EXPECT_EQ(c.count("Note", {}), 3);
    store->perform([&order](StoreContext&) { order.push_back(11); });  // queued behind this wait
    order.push_back(12);
  });
  store->perform([&order](StoreContext&) { order.push_back(20); });
  store->performAndWait([&](StoreContext&) { order.push_back(30); });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 10, 12, 11, 20, 30}));

  auto sentinel = std::make_shared<int>(0);
  std::weak_ptr<int> watched = sentinel;
  std::weak_ptr<ObjectStore> weakStore = store;
  store->perform([sentinel, store](StoreContext&) { ADD_FAILURE() << "dropped work ran"; });
  store->perform([sentinel](StoreContext&) { ADD_FAILURE() << "dropped work ran"; });
  sentinel.reset();
  store.reset();
  EXPECT_FALSE(watched.expired()) << "queued work holds what it captured";
  scheduler.reset();
  EXPECT_TRUE(watched.expired());
  EXPECT_TRUE(weakStore.expired()) << "work that holds its own store does not keep it";
}

TEST_F(ObjectStoreTest, DeletesFollowTheRelationshipsRules) {
  auto store = open();
  store->performAndWait([&](StoreContext& c) {
    auto owner = c.insert("Owner", {{"name", Value("o")}});
    auto other = c.insert("Owner", {{"name", Value("p")}});
    auto item = c.insert("Item", {{"label", Value("i")}});
    auto otherItem = c.insert("Item", {{"label", Value("j")}});
    auto note = c.insert("Note", {{"text", Value("n")}});
    ASSERT_TRUE(owner && other && item && otherItem && note);
    ASSERT_TRUE(c.setRelated(*item, "owner", *owner));
    ASSERT_TRUE(c.setRelated(*otherItem, "owner", *other));
    ASSERT_TRUE(c.setRelated(*note, "owner", *owner));
    EXPECT_EQ(c.relatedMany(*owner, "items"), std::vector<ObjectID>{*item});
    EXPECT_EQ(c.relatedOne(*note, "owner"), owner);
    EXPECT_FALSE(c.setRelated(*note, "owner", *item));  // wrong destination

    ASSERT_TRUE(c.remove(*owner));
    EXPECT_FALSE(c.exists(*owner));
    EXPECT_FALSE(c.exists(*item));
    EXPECT_TRUE(c.exists(*otherItem));
    ASSERT_TRUE(c.exists(*note));
    EXPECT_EQ(c.relatedOne(*note, "owner"), std::nullopt);
    EXPECT_TRUE(c.save());
  });
}

TEST_F(ObjectStoreTest, FetchOrdersPagesAndReportsBadKeys) {
  auto store = open();
  store->performAndWait([&](StoreContext& c) {
    for (int i : {3, 1, 2, 1}) ASSERT_TRUE(c.insert("Owner", {{"name", Value(std::to_string(i))}, {"count", Value(i)}}));
    auto names = [&](FetchRequest r) {
      std::vector<std::string> out;
      auto rows = c.fetch(r);
      if (rows) {
        for (const auto& row : *rows) out.push_back(*row["name"].string() + "@" + std::to_string(row.id.pk));
      }
      return out;
    };
    EXPECT_EQ(names({.entity = "Owner"}), (std::vector<std::string>{"3@1", "1@2", "2@3", "1@4"}));
    EXPECT_EQ(names({.entity = "Owner", .sort = {{"count", false}}}),
              (std::vector<std::string>{"3@1", "2@3", "1@2", "1@4"}));
    EXPECT_EQ(names({.entity = "Owner", .sort = {{"count", true}}, .offset = 1, .limit = 2}),
              (std::vector<std::string>{"1@4", "2@3"}));
    auto bare = c.fetch({.entity = "Owner", .includesPropertyValues = false});
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->size(), 4u);
    EXPECT_TRUE((*bare)[0].values.empty());

    for (const Predicate& bad : {Predicate::eq("nosuch", 1), Predicate::eq("items", 1),
                                 Predicate::anyMember("name", Predicate::eq("label", "x")),
                                 Predicate::eq("seen", "not a date")}) {
      Error error;
      EXPECT_FALSE(c.fetch({.entity = "Owner", .predicate = bad}, &error));
      EXPECT_EQ(error.code, storeerror::kQuery);
      EXPECT_FALSE(c.count("Owner", bad));
    }
    EXPECT_FALSE(c.fetch({.entity = "Nope"}));
  });
}

// The kept lookup answers as a fetch of key == value with limit 1 would: the oldest match,
// nil for an empty attribute, values compared at the attribute's type, a quote literally.
TEST_F(ObjectStoreTest, FirstObjectIDAnswersAsTheEqualityFetch) {
  auto store = open();
  store->performAndWait([&](StoreContext& c) {
    ASSERT_TRUE(c.insert("Owner", {{"name", Value("o'1")}, {"count", Value(5)}}));
    ASSERT_TRUE(c.insert("Owner", {{"name", Value("b")}}));
    ASSERT_TRUE(c.insert("Owner", {{"name", Value("o'1")}, {"count", Value(5)}}));
    struct Case {
      const char* key;
      Value value;
    } cases[] = {{"name", Value("o'1")}, {"name", Value("b")}, {"name", Value("zz")},
                 {"count", Value(5)}, {"count", Value()}};
    for (const auto& k : cases) {
      SCOPED_TRACE(k.key);
      auto rows = c.fetch({.entity = "Owner", .predicate = Predicate::eq(k.key, k.value), .limit = 1,
                           .includesPropertyValues = false});
      ASSERT_TRUE(rows);
      auto found = c.firstObjectID("Owner", k.key, k.value);
      EXPECT_EQ(found.has_value(), !rows->empty());
      if (found && !rows->empty()) {
        EXPECT_EQ(found->pk, rows->front().id.pk);
      }
    }
    EXPECT_EQ(c.firstObjectID("Owner", "name", Value("o'1"))->pk, 1);
    Error error;
    EXPECT_FALSE(c.firstObjectID("Owner", "nosuch", Value(1), &error));
    EXPECT_EQ(error.code, storeerror::kQuery);
    EXPECT_FALSE(c.firstObjectID("Owner", "seen", Value("not a date"), &error));
  });
}

TEST_F(ObjectStoreTest, ConnectionIsTouchedOnlyOnItsQueueAndWaitsNest) {
  auto store = open();
  StoreContext* context = nullptr;
  store->performAndWait([&](StoreContext& c) {
    context = &c;
    int depth = 0;
    store->performAndWait([&](StoreContext& inner) {
      ++depth;
      EXPECT_TRUE(inner.insert("Owner", {{"name", Value("nested")}}));
    });
    EXPECT_EQ(depth, 1);
  });
  const std::size_t before = programmingErrorCount();
  Error error;
  EXPECT_FALSE(context->insert("Owner", {{"name", Value("off queue")}}, &error));
  EXPECT_EQ(error.code, storeerror::kWrongQueue);
  EXPECT_FALSE(context->count("Owner", {}));
  EXPECT_EQ(programmingErrorCount(), before + 2);
  bool ran = false;
  store->perform([&](StoreContext& c) {
    ran = true;
    EXPECT_EQ(c.count("Owner", {}), 1);
  });
  scheduler->runUntilIdle();
  EXPECT_TRUE(ran);
}

TEST_F(ObjectStoreTest, SchemaCarriesForeignKeyActionsIndexesAndTheModelHash) {
  auto store = open();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->outcome(), OpenOutcome::Created);
  SQLite::Database db(file().string(), SQLite::OPEN_READONLY);
  EXPECT_EQ(db.execAndGet("PRAGMA journal_mode").getString(), "wal");
  SQLite::Statement fk(db, "SELECT \"table\", \"from\", on_delete FROM pragma_foreign_key_list('Note')");
  ASSERT_TRUE(fk.executeStep());
  EXPECT_EQ(fk.getColumn(0).getString() + "." + fk.getColumn(1).getString() + " " + fk.getColumn(2).getString(),
            "Owner.owner SET NULL");
  SQLite::Statement fk2(db, "SELECT on_delete FROM pragma_foreign_key_list('Item')");
  ASSERT_TRUE(fk2.executeStep());
  EXPECT_EQ(fk2.getColumn(0).getString(), "CASCADE");
  SQLite::Statement ix(db, "SELECT name FROM pragma_index_list('Owner')");
  ASSERT_TRUE(ix.executeStep());
  EXPECT_EQ(ix.getColumn(0).getString(), "Owner_tag");
  EXPECT_EQ(db.execAndGet("SELECT value FROM store_metadata WHERE key = 'model_hash'").getString(),
            testModel().hash());
}

// --- opening and migration --------------------------------------------------------------

void writeFile(const std::filesystem::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(ObjectStoreTest, UnusableFilesAreReplacedWithTheirSidecars) {
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
  } cases[] = {
      {"garbage", [](const std::filesystem::path& p) { writeFile(p, std::string(4096, 'x')); }},
      {"foreign schema",
       [](const std::filesystem::path& p) {
         SQLite::Database db(p.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
         db.exec("CREATE TABLE Owner (x TEXT); INSERT INTO Owner VALUES ('old')");
       }},
      {"changed attribute type",
       [](const std::filesystem::path& p) {
         Model m = testModel();
         m.entities()[0].attributes[1].type = AttributeType::String;
         VirtualScheduler s;
         auto old = ObjectStore::open(m, p, std::shared_ptr<VirtualScheduler>(&s, [](auto*) {}));
         old->performAndWait([](StoreContext& c) {
           c.insert("Owner", {{"name", Value("old")}});
           c.save();
         });
       }},
      {"metadata table of another layout",
       [](const std::filesystem::path& p) {
         SQLite::Database db(p.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
         db.exec("CREATE TABLE store_metadata (name TEXT, data BLOB); CREATE TABLE Owner (id INTEGER PRIMARY KEY)");
       }},
      {"migration the tables refuse",
       [](const std::filesystem::path& p) {
         // Made by a model without "tag", then given a "tag" column by something else: adding
         // the column fails.
         Model m = testModel();
         m.entities()[0].attributes.pop_back();
         VirtualScheduler s;
         ObjectStore::open(m, p, std::shared_ptr<VirtualScheduler>(&s, [](auto*) {}));
         SQLite::Database db(p.string(), SQLite::OPEN_READWRITE);
         db.exec("ALTER TABLE Owner ADD COLUMN tag BLOB");
       }},
      {"this model's metadata over a table that lost a column",
       [](const std::filesystem::path& p) {
         VirtualScheduler s;
         ObjectStore::open(testModel(), p, std::shared_ptr<VirtualScheduler>(&s, [](auto*) {}));
         SQLite::Database db(p.string(), SQLite::OPEN_READWRITE);
         db.exec("ALTER TABLE Owner DROP COLUMN weight");
       }},
  };
  for (const auto& k : cases) {
    removeStoreFiles(file());
    k.make(file());
    for (const char* suffix : {"-journal", "-shm", "-wal"}) writeFile(file().string() + suffix, "stale sidecar");
    auto store = open();
    ASSERT_TRUE(store) << k.name;
    EXPECT_EQ(store->outcome(), OpenOutcome::Recreated) << k.name;
    EXPECT_FALSE(std::filesystem::exists(file().string() + "-journal")) << k.name;
    for (const char* suffix : {"-shm", "-wal"}) {
      EXPECT_NE(readFile(file().string() + suffix).rfind("stale sidecar", 0), 0u) << k.name << suffix;
    }
    store->performAndWait([&](StoreContext& c) {
      EXPECT_EQ(c.count("Owner", {}), 0) << k.name;
      EXPECT_TRUE(c.insert("Owner", {{"name", Value("new")}, {"count", Value(1)}})) << k.name;
      EXPECT_TRUE(c.save()) << k.name;
    });
  }
}

TEST_F(ObjectStoreTest, AdditiveModelChangesMigrateInPlace) {
  Model older = testModel();
  older.entities()[0].attributes.pop_back();  // no "tag" yet
  older.entities().pop_back();                // no Note entity yet
  older.entities()[0].relationships.pop_back();
  ASSERT_EQ(older.validate(), "");
  {
    auto store = open(older);
    ASSERT_TRUE(store);
    store->performAndWait([](StoreContext& c) {
      auto o = c.insert("Owner", {{"name", Value("kept")}, {"count", Value(7)}});
      auto i = c.insert("Item", {{"label", Value("i")}, {"owner", Value(o->pk)}});
      ASSERT_TRUE(o && i);
      ASSERT_TRUE(c.save());
    });
  }
  auto store = open();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->outcome(), OpenOutcome::Migrated);
  store->performAndWait([](StoreContext& c) {
    auto rows = c.fetch({.entity = "Owner"});
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 1u);
    EXPECT_EQ((*rows)[0]["count"], Value(7));
    EXPECT_TRUE((*rows)[0]["tag"].isAbsent());
    EXPECT_EQ(c.relatedMany((*rows)[0].id, "items").size(), 1u);
    ASSERT_TRUE(c.setValue((*rows)[0].id, "tag", Value("t")));
    auto note = c.insert("Note", {{"text", Value("n")}, {"owner", Value((*rows)[0].id.pk)}});
    ASSERT_TRUE(note);
    EXPECT_TRUE(c.save());
  });
  store.reset();
  store = open();
  EXPECT_EQ(store->outcome(), OpenOutcome::Opened);
  // A store made by the newer model is not for the older one: it starts over.
  store.reset();
  store = open(older);
  EXPECT_EQ(store->outcome(), OpenOutcome::Recreated);
}

TEST_F(ObjectStoreTest, AFolderThatCannotHoldTheStoreFailsWithoutDeletingAnything) {
  const auto blocker = dir.path() / "docs";
  writeFile(blocker, "a file where the folder should be");
  Error error;
  auto store = ObjectStore::open(testModel(), blocker / "test.sqlite", scheduler, &error);
  EXPECT_FALSE(store);
  EXPECT_EQ(error.domain, storeerror::kDomain);
  EXPECT_EQ(error.code, storeerror::kOpen);
  EXPECT_EQ(readFile(blocker), "a file where the folder should be");
  std::filesystem::remove(blocker);
  store = ObjectStore::open(testModel(), blocker / "test.sqlite", scheduler, &error);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->outcome(), OpenOutcome::Created);
}

TEST_F(ObjectStoreTest, AFileThatCannotBeWrittenIsRecreatedAndAFolderThatCannotIsRefusedUntouched) {
  velmora::testing::EnforcedFilePermissions enforced;
  if (!enforced.active()) GTEST_SKIP() << "file permissions cannot be made to bind this thread";
  const auto fillAndClose = [&] {
    auto store = open();
    ASSERT_TRUE(store);
    store->performAndWait([](StoreContext& c) {
      c.insert("Owner", {{"name", Value("old")}});
      ASSERT_TRUE(c.save());
    });
  };
  // A read-only file in a writable folder would open for reading only and lose every write.
  fillAndClose();
  std::filesystem::permissions(file(), std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  {
    auto store = open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->outcome(), OpenOutcome::Recreated);
    store->performAndWait([](StoreContext& c) {
      EXPECT_EQ(c.count("Owner", {}), 0);
      EXPECT_TRUE(c.insert("Owner", {{"name", Value("new")}}));
      EXPECT_TRUE(c.save());
    });
  }
  {
    SQLite::Database db(file().string(), SQLite::OPEN_READONLY);
    EXPECT_EQ(db.execAndGet("SELECT group_concat(name) FROM Owner").getString(), "new");
  }

  // A folder that cannot be written: no store, clearly, and the file stays as it was; the same
  // for a folder with no store in it yet. (The closed store left no log sidecars, which the
  // store would have to create.)
  {
    SQLite::Database db(file().string(), SQLite::OPEN_READWRITE);
    db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
  }
  for (const char* suffix : {"-wal", "-shm"}) std::filesystem::remove(file().string() + suffix);
  ASSERT_FALSE(std::filesystem::exists(file().string() + "-wal"));
  const auto readOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec;
  std::filesystem::permissions(dir.path(), readOnly);
  for (const auto& target : {file(), dir.path() / "fresh.sqlite"}) {
    Error error;
    EXPECT_FALSE(ObjectStore::open(testModel(), target, scheduler, &error)) << target;
    EXPECT_EQ(error.code, storeerror::kOpen) << target;
    EXPECT_FALSE(error.localizedDescription.empty()) << target;
  }
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "fresh.sqlite"));
  SQLite::Database db(file().string(), SQLite::OPEN_READONLY);
  EXPECT_EQ(db.execAndGet("SELECT group_concat(name) FROM Owner").getString(), "new");
}

TEST_F(ObjectStoreTest, AFileHasOneStoreAtATime) {
  auto first = open();
  ASSERT_TRUE(first);
  Error error;
  EXPECT_FALSE(open(testModel(), &error));
  EXPECT_EQ(error.code, storeerror::kOpen);
  EXPECT_NE(error.localizedDescription.find("in use"), std::string::npos) << error.localizedDescription;
  // The owner keeps its unit of work open across writes and saves them as usual.
  first->performAndWait([](StoreContext& c) {
    ASSERT_TRUE(c.insert("Owner", {{"name", Value("first")}}));
    ASSERT_TRUE(c.save());
    ASSERT_TRUE(c.insert("Owner", {{"name", Value("pending")}}));
  });
  first.reset();
  auto second = open();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->outcome(), OpenOutcome::Opened);
  second->performAndWait([](StoreContext& c) { EXPECT_EQ(c.count("Owner", {}), 1); });
}

// --- row identities ---------------------------------------------------------------------

TEST_F(ObjectStoreTest, ARowIDIsNeverHandedOutTwice) {
  // Each way leaves the row `gone` named by no row; the next insert must not take its id.
  struct Case {
    const char* name;
    std::function<void(std::shared_ptr<ObjectStore>&)> loseTheRow;
  } cases[] = {
      {"its insert was rolled back by a failed save",
       [](std::shared_ptr<ObjectStore>& store) {
         store->performAndWait([](StoreContext& c) {
           c.insert("Owner", {{"count", Value(1)}});  // lacks the required name
           EXPECT_FALSE(c.save());
         });
       }},
      {"its commit failed on a full disk",
       [](std::shared_ptr<ObjectStore>& store) {
         store->performAndWait([](StoreContext& c) {
           velmora::testing::FileSizeLimit full(1);
           EXPECT_FALSE(c.save());
         });
       }},
      {"it was the newest row and was deleted",
       [](std::shared_ptr<ObjectStore>& store) {
         store->performAndWait([](StoreContext& c) {
           ASSERT_TRUE(c.save());
           auto rows = c.fetch({.entity = "Owner", .predicate = Predicate::eq("name", "gone")});
           ASSERT_TRUE(c.remove(rows->at(0).id));
           ASSERT_TRUE(c.save());
         });
       }},
      {"it was deleted and the store reopened",
       [&](std::shared_ptr<ObjectStore>& store) {
         store->performAndWait([](StoreContext& c) {
           ASSERT_TRUE(c.save());
           auto rows = c.fetch({.entity = "Owner", .predicate = Predicate::eq("name", "gone")});
           ASSERT_TRUE(c.remove(rows->at(0).id));
           ASSERT_TRUE(c.save());
         });
         store.reset();
         store = open();
       }},
  };
  for (const auto& k : cases) {
    removeStoreFiles(file());
    auto store = open();
    ASSERT_TRUE(store) << k.name;
    std::int64_t gone = 0;
    store->performAndWait([&](StoreContext& c) {
      ASSERT_TRUE(c.insert("Owner", {{"name", Value("kept")}}));
      ASSERT_TRUE(c.save());
      gone = c.insert("Owner", {{"name", Value("gone")}})->pk;
    });
    k.loseTheRow(store);
    ASSERT_TRUE(store) << k.name;
    store->performAndWait([&](StoreContext& c) {
      auto next = c.insert("Owner", {{"name", Value("next")}});
      ASSERT_TRUE(next) << k.name;
      EXPECT_GT(next->pk, gone) << k.name;
      EXPECT_FALSE(c.exists(*c.objectID("Owner", gone))) << k.name;
      EXPECT_FALSE(c.values(*c.objectID("Owner", gone))) << k.name;
      ASSERT_TRUE(c.save()) << k.name;
    });
    store.reset();
    SQLite::Database db(file().string(), SQLite::OPEN_READONLY);
    SQLite::Statement st(db, "SELECT group_concat(name) FROM Owner WHERE id = ?");
    st.bind(1, static_cast<int64_t>(gone));
    ASSERT_TRUE(st.executeStep());
    EXPECT_TRUE(st.getColumn(0).isNull()) << k.name << ": row " << gone << " holds " << st.getColumn(0).getString();
  }
}

TEST_F(ObjectStoreTest, AFileWithoutKeptRowIDsOpensAndGoesOnAboveItsRows) {
  // A file as stores made them before they kept the ids they handed out.
  {
    auto store = open();
    store->performAndWait([](StoreContext& c) {
      for (const char* n : {"a", "b", "c"}) c.insert("Owner", {{"name", Value(n)}});
      ASSERT_TRUE(c.save());
    });
  }
  {
    SQLite::Database db(file().string(), SQLite::OPEN_READWRITE);
    db.exec("DELETE FROM store_metadata WHERE key NOT IN ('model', 'model_hash')");
  }
  auto store = open();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->outcome(), OpenOutcome::Opened);
  store->performAndWait([](StoreContext& c) {
    auto row = c.insert("Owner", {{"name", Value("d")}});
    ASSERT_TRUE(row);
    EXPECT_EQ(row->pk, 4);
    EXPECT_TRUE(c.save());
  });
}

TEST(StoreModelTest, DescriptionReadsBackAndUnsoundModelsAreNamed) {
  const Model m = testModel();
  auto back = modelFromDescription(m.description());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->hash(), m.hash());
  EXPECT_FALSE(modelFromDescription("table X\n"));

  Model noInverse({Entity{"A", {}, {{"b", "B", false, DeleteRule::Nullify, "as"}}}, Entity{"B", {}, {}}});
  EXPECT_NE(noInverse.validate(), "");
  Model idAttr({Entity{"A", {{"id", AttributeType::Int64}}, {}}});
  EXPECT_NE(idAttr.validate(), "");
  Error error;
  EXPECT_FALSE(ObjectStore::open(idAttr, "/nonexistent/x.sqlite", nullptr, &error));
  EXPECT_NE(error.localizedDescription.find("unsound model"), std::string::npos);
}

}  // namespace
}  // namespace velmora::platform::store
