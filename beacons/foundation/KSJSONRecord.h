#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSJSONModel.h"
#include "beacons/foundation/KSJSONModelClass.h"

namespace velmora::kestrine {

// The base a record class derives from: KSJSONModel plus the typed constructors of its own
// class. A record declares its accessors as it likes and lists them once, in jsonClass():
//
//   class KSCustomValue : public KSJSONRecord<KSCustomValue> {
//    public:
//     static const KSJSONModelClass& jsonClass();
//     const std::optional<std::string>& customValueID() const { return customValueID_; }
//     void setCustomValueID(std::optional<std::string> v) { customValueID_ = std::move(v); }
//     ... key, value alike ...
//    private:
//     std::optional<std::string> customValueID_, key_, value_;
//   };
//
//   const KSJSONModelClass& KSCustomValue::jsonClass() {
//     static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<KSCustomValue>("KSCustomValue", [](auto& c) {
//       c.keyMapper({{"id", "customValueID"}});
//       c.allOptional();
//       c.whitelist({"customValueID", "key", "value"});
//       c.text("customValueID", &KSCustomValue::customValueID, &KSCustomValue::setCustomValueID);
//       c.text("key", &KSCustomValue::key, &KSCustomValue::setKey);
//       c.text("value", &KSCustomValue::value, &KSCustomValue::setValue);
//     });
//     return cls;
//   }
//
// Other declarations: c.number, c.date, c.scalar (bool, integers, doubles, or optionals of
// them), c.record (std::shared_ptr<U>), c.records (a vector of them), c.array,
// c.lazyRecords<U> (a KSJSONModelArray), c.dictionary, c.any (plain JSON), c.readOnly (by-name reads only). Each returns a handle
// for .optional(), .index(), .importWith(family, setter) and .exportWith(getter). Live
// containers of a record (advertisement stores, histories, delegates) are simply not
// declared, or declared readOnly: JSON can never write them.
//
// Then: KSCustomValue::initWithDictionary(json, &error), initWithString, initWithData,
// arrayOfModelsFromDictionaries, record->toDictionary(), record->copy().
template <class T>
class KSJSONRecord : public KSJSONModel {
 public:
  const KSJSONModelClass& jsonModelClass() const override { return T::jsonClass(); }

  static std::shared_ptr<T> initWithDictionary(const platform::Value& dictionary, platform::Error* error = nullptr) {
    return cast(KSJSONModel::initWithDictionary(T::jsonClass(), dictionary, error));
  }
  static std::shared_ptr<T> initWithString(std::optional<std::string_view> text, platform::Error* error = nullptr) {
    return cast(KSJSONModel::initWithString(T::jsonClass(), text, error));
  }
  static std::shared_ptr<T> initWithData(std::span<const std::uint8_t> data, platform::Error* error = nullptr) {
    return cast(KSJSONModel::initWithData(T::jsonClass(), data, error));
  }
  static std::shared_ptr<T> initWithCoder(const platform::Dict& coder) {
    return cast(KSJSONModel::initWithCoder(T::jsonClass(), coder));
  }
  static std::optional<std::vector<std::shared_ptr<T>>> arrayOfModelsFromDictionaries(const platform::Value& array,
                                                                                       platform::Error* error = nullptr) {
    return castAll(KSJSONModel::arrayOfModelsFromDictionaries(T::jsonClass(), array, error));
  }
  static std::optional<std::vector<std::shared_ptr<T>>> arrayOfModelsFromData(std::span<const std::uint8_t> data,
                                                                               platform::Error* error = nullptr) {
    return castAll(KSJSONModel::arrayOfModelsFromData(T::jsonClass(), data, error));
  }
  // Each record's toDictionary, in order; nullopt when an element is nullptr.
  static std::optional<platform::Array> arrayOfDictionariesFromModels(const std::vector<std::shared_ptr<T>>& models) {
    return dictionaries(models, std::nullopt, false);
  }
  static std::optional<platform::Array> arrayOfDictionariesFromModels(const std::vector<std::shared_ptr<T>>& models,
                                                                      const std::vector<std::string>& propertyNamesToExport) {
    return dictionaries(models, propertyNamesToExport, true);
  }

  std::shared_ptr<T> copy() const { return cast(copyModel()); }

 private:
  static std::shared_ptr<T> cast(std::shared_ptr<KSJSONModel> m) { return std::static_pointer_cast<T>(std::move(m)); }
  static std::optional<std::vector<std::shared_ptr<T>>> castAll(std::optional<std::vector<std::shared_ptr<KSJSONModel>>> all) {
    if (!all) return std::nullopt;
    std::vector<std::shared_ptr<T>> out;
    out.reserve(all->size());
    for (auto& m : *all) out.push_back(cast(std::move(m)));
    return out;
  }
  static std::optional<platform::Array> dictionaries(const std::vector<std::shared_ptr<T>>& models,
                                                     const std::optional<std::vector<std::string>>& keys, bool withKeys) {
    platform::Array out;
    out.reserve(models.size());
    for (const auto& m : models) {
      if (!m) return std::nullopt;
      out.emplace_back(withKeys ? m->toDictionaryWithKeys(keys) : m->toDictionary());
    }
    return out;
  }
};

}  // namespace velmora::kestrine
