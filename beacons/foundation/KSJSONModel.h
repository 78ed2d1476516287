#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSJSONModelClass;
class KSJSONKeyMapper;

// The base of every record the beacon layer exchanges with the beacon platform. A record
// class declares its properties once, in a property table (KSJSONModelClass), and this base
// imports, exports, copies, compares and describes the record from that table alone.
// Declare a record by deriving from KSJSONRecord<T> (KSJSONRecord.h, with an example).
//
// Inside the model layer a property's value travels as a platform::Value in "model form":
// text as String, numbers as numbers, dates as Date, a nested record as an Object holding
// the record, an array of records as an Array of such Objects; Absent is nil.
class KSJSONModel : public platform::Object {
 public:
  ~KSJSONModel() override;

  virtual const KSJSONModelClass& jsonModelClass() const = 0;

  // Export. toDictionary writes the class's export whitelist when it has one, else every
  // property; toDictionaryWithKeys writes the named properties (names that are no property
  // are ignored), or all of them for nullopt.
  virtual platform::Dict toDictionary() const;
  platform::Dict toDictionaryWithKeys(const std::optional<std::vector<std::string>>& keys) const;
  std::optional<std::string> toJSONString() const;
  std::optional<std::string> toJSONStringWithKeys(const std::optional<std::vector<std::string>>& keys) const;

  // Imports a dictionary into this record without validation (absent or null required
  // values are skipped); with useKeyMapping false the class's key mapper is not used (the
  // global one still is). Stops at the first value it cannot take; false then.
  bool mergeFromDictionary(const platform::Value& dictionary, bool useKeyMapping);

  // A new record of the same class holding copies of every declared property, whitelist or
  // not: nested records and arrays of records are copied too.
  std::shared_ptr<KSJSONModel> copyModel() const;

  // Archive form: the record's JSON text under "json".
  void encodeWithCoder(platform::Dict& coder) const;

  // Same class exactly, then equal index values when the class has an index property, else
  // the same object. hash follows: the index property's name, else the object's address.
  bool isEqual(const KSJSONModel& other) const;
  std::size_t hash() const;
  // Orders by the index property: -1, 0 or 1. Without a comparable index property it
  // reports a programming error and answers 0.
  int compare(const KSJSONModel& other) const;
  std::optional<std::string> indexPropertyName() const;

  // "<Class> \n", one "   [name]: value\n" line per property, then "</Class>".
  virtual std::string description() const;

  // By-name access in model form: what sort keys and predicates read. Read-only properties
  // are readable; setValueForKey runs the record's own setter and answers false for an
  // unknown or read-only name.
  platform::Value valueForKey(std::string_view name) const;
  bool setValueForKey(std::string_view name, platform::Value value);

  // Validation hook run after a successful import; false fails the import with whatever
  // error it stored (none from the base).
  virtual bool validate(platform::Error* error);

  // A key mapper applied to every record class after its own (nullptr removes it).
  static void setGlobalKeyMapper(std::shared_ptr<const KSJSONKeyMapper> mapper);
  static std::shared_ptr<const KSJSONKeyMapper> globalKeyMapper();

  // Untyped construction; KSJSONRecord<T> offers the typed forms.
  static std::shared_ptr<KSJSONModel> initWithDictionary(const KSJSONModelClass& cls, const platform::Value& dictionary,
                                                         platform::Error* error = nullptr);
  // nullopt text is nil (code 5); text that is no JSON object is code 3.
  static std::shared_ptr<KSJSONModel> initWithString(const KSJSONModelClass& cls, std::optional<std::string_view> text,
                                                     platform::Error* error = nullptr);
  // Bytes that are not UTF-8 are malformed JSON (code 3).
  static std::shared_ptr<KSJSONModel> initWithData(const KSJSONModelClass& cls, std::span<const std::uint8_t> data,
                                                   platform::Error* error = nullptr);
  // Imports the "json" text of an archive, dropping any error; nullptr when it does not import.
  static std::shared_ptr<KSJSONModel> initWithCoder(const KSJSONModelClass& cls, const platform::Dict& coder);
  // One record per element, in order. nullopt for Absent or null input, or at the first
  // element that fails, whose error gets "[index]" in front of its key path.
  static std::optional<std::vector<std::shared_ptr<KSJSONModel>>> arrayOfModelsFromDictionaries(
      const KSJSONModelClass& cls, const platform::Value& array, platform::Error* error = nullptr);
  // Parses the bytes (the parser's error goes to *error); an array goes on to
  // arrayOfModelsFromDictionaries, any other document gives nullopt without an error.
  static std::optional<std::vector<std::shared_ptr<KSJSONModel>>> arrayOfModelsFromData(
      const KSJSONModelClass& cls, std::span<const std::uint8_t> data, platform::Error* error = nullptr);

 protected:
  KSJSONModel() = default;
  KSJSONModel(const KSJSONModel&) = default;
  KSJSONModel& operator=(const KSJSONModel&) = default;

 private:
  friend class KSJSONModelImport;
};

}  // namespace velmora::kestrine
