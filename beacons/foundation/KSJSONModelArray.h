#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSJSONModel;
class KSJSONModelClass;

// An array of records that turns each JSON dictionary into a record only when the element
// is first read, and keeps the record in its place afterwards. An element that does not
// import reads as nullptr every time, and the array keeps its full count. Safe to share
// between threads: reads take turns.
class KSJSONModelArray : public platform::Object {
 public:
  KSJSONModelArray(const platform::Array& array, const KSJSONModelClass& modelClass);

  const KSJSONModelClass& modelClass() const { return modelClass_; }
  std::size_t count() const;
  // nullptr past the end or for an element that does not import.
  std::shared_ptr<KSJSONModel> objectAtIndex(std::size_t index) const;
  std::shared_ptr<KSJSONModel> operator[](std::size_t index) const { return objectAtIndex(index); }
  std::shared_ptr<KSJSONModel> firstObject() const;
  std::shared_ptr<KSJSONModel> lastObject() const;
  // The first element whose index property equals the value; nullptr when the class has no
  // index property or no element matches.
  std::shared_ptr<KSJSONModel> modelWithIndexValue(const platform::Value& value) const;
  // The stored elements as they are now: dictionaries not yet read, records (as Objects) after.
  platform::Array storage() const;
  // A new array over copies of the stored elements.
  std::shared_ptr<KSJSONModelArray> copy() const;
  std::string description() const;

 private:
  const KSJSONModelClass& modelClass_;
  mutable std::mutex mutex_;
  mutable platform::Array storage_;
};

}  // namespace velmora::kestrine
