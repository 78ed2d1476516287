#include "beacons/foundation/KSJSONModelArray.h"

#include <fmt/format.h>

#include "beacons/foundation/KSJSONModel.h"
#include "beacons/foundation/KSJSONModelClass.h"
#include "platform/core/Json.h"

namespace velmora::kestrine {

using platform::Value;

KSJSONModelArray::KSJSONModelArray(const platform::Array& array, const KSJSONModelClass& modelClass)
    : modelClass_(modelClass), storage_(array) {}

std::size_t KSJSONModelArray::count() const {
  std::lock_guard lock(mutex_);
  return storage_.size();
}

std::shared_ptr<KSJSONModel> KSJSONModelArray::objectAtIndex(std::size_t index) const {
  std::lock_guard lock(mutex_);
  if (index >= storage_.size()) return nullptr;
  Value& element = storage_[index];
  if (auto object = element.object()) {
    auto record = std::dynamic_pointer_cast<KSJSONModel>(*object);
    if (record && &record->jsonModelClass() == &modelClass_) return record;
  }
  auto record = KSJSONModel::initWithDictionary(modelClass_, element, nullptr);
  if (record) element = Value(std::static_pointer_cast<platform::Object>(record));
  return record;
}

std::shared_ptr<KSJSONModel> KSJSONModelArray::firstObject() const { return objectAtIndex(0); }

std::shared_ptr<KSJSONModel> KSJSONModelArray::lastObject() const {
  const std::size_t n = count();
  return n == 0 ? nullptr : objectAtIndex(n - 1);
}

std::shared_ptr<KSJSONModel> KSJSONModelArray::modelWithIndexValue(const Value& value) const {
  const auto& index = modelClass_.indexPropertyName();
  if (!index) return nullptr;
  for (std::size_t i = 0, n = count(); i < n; ++i) {
    auto record = objectAtIndex(i);
    if (record && record->valueForKey(*index) == value) return record;
  }
  return nullptr;
}

platform::Array KSJSONModelArray::storage() const {
  std::lock_guard lock(mutex_);
  return storage_;
}

std::shared_ptr<KSJSONModelArray> KSJSONModelArray::copy() const {
  platform::Array elements = storage();
  for (auto& e : elements) {
    if (auto object = e.object()) {
      if (auto record = std::dynamic_pointer_cast<KSJSONModel>(*object)) {
        e = Value(std::static_pointer_cast<platform::Object>(record->copyModel()));
      }
    }
  }
  return std::make_shared<KSJSONModelArray>(elements, modelClass_);
}

std::string KSJSONModelArray::description() const {
  std::string out = fmt::format("<KSJSONModelArray[{}]>\n", modelClass_.className());
  for (const auto& e : storage()) {
    std::string text;
    if (auto object = e.object()) {
      auto record = std::dynamic_pointer_cast<KSJSONModel>(*object);
      text = record ? record->description() : "<object>";
    } else {
      auto written = platform::json::write(e);
      text = written.value_or("<value>");
    }
    out += text + ",\n";
  }
  return out + "\n</KSJSONModelArray>";
}

}  // namespace velmora::kestrine
