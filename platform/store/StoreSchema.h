#pragma once

#include <optional>
#include <string>

#include "platform/store/StoreModel.h"

namespace SQLite {
class Database;
}

namespace velmora::platform::store {

// The table that names the model a store file was made by.
inline constexpr std::string_view kMetadataTable = "store_metadata";

// Reads a model back from Model::description(); nullopt when the text is not one.
std::optional<Model> modelFromDescription(const std::string& text);

// Whether a store made by `older` can become one of `newer` in place: every older entity is
// still there with the same attributes (new ones optional) and its foreign-key columns
// unchanged (new ones may be added).
bool isAdditiveChange(const Model& older, const Model& newer);

enum class SchemaResult { Created, Current, Migrated, Incompatible };

// Sets up the model's schema on an open connection: creates it in an empty file, accepts
// it when the file already holds it, migrates an additive change, and otherwise changes
// nothing and answers Incompatible. Throws what the connection throws.
SchemaResult prepareSchema(SQLite::Database& db, const Model& model);

}  // namespace velmora::platform::store
