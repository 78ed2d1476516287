#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "beacons/foundation/KSJSONKeyMapper.h"
#include "beacons/foundation/KSJSONModel.h"
#include "beacons/foundation/KSJSONModelArray.h"
#include "beacons/foundation/KSJSONValueTransformer.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// What a property holds, which decides how JSON values are converted into it.
enum class KSJSONPropertyKind {
  Text,         // std::optional<std::string> or std::string
  Number,       // platform::Value holding a number (Absent for nil)
  Date,         // std::optional<platform::Date>
  Bool,         // bool or std::optional<bool>
  Integer,      // any integer type, or an optional of one; range-checked on import
  Double,       // double or float, or an optional of one
  Record,       // std::shared_ptr<U>, U a record class
  RecordArray,  // std::vector<std::shared_ptr<U>>, or an optional of it (nil differs from empty)
  RecordDictionary,  // std::map<std::string, std::shared_ptr<U>>, or an optional of it: records by key
  LazyRecordArray,  // std::shared_ptr<KSJSONModelArray>: elements become records when first read
  Array,        // platform::Value holding any JSON array
  Dictionary,   // platform::Value holding any JSON object
  Any,          // platform::Value holding any JSON value
  ReadOnly,     // readable by name only: never imported, exported, copied or described
};

// One declared property of a record class, shared by all its instances.
struct KSJSONModelClassProperty {
  using CustomSetter = std::function<bool(KSJSONModel&, const platform::Value& json, platform::Error* error)>;
  using CustomGetter = std::function<platform::Value(const KSJSONModel&)>;

  std::string name;  // JSON key (before mapping) and by-name key
  KSJSONPropertyKind kind = KSJSONPropertyKind::Any;
  bool isOptional = false;
  bool isIndex = false;
  // The nested or element record class (Record, RecordArray, RecordDictionary).
  const KSJSONModelClass& (*elementClass)() = nullptr;
  // Integer range of an Integer property, and of a Number property when `ranged`.
  std::int64_t minimum = 0;
  std::uint64_t maximum = 0;
  bool ranged = false;
  std::function<platform::Value(const KSJSONModel&)> get;  // model form
  std::function<void(KSJSONModel&, platform::Value)> set;  // model form; empty for ReadOnly
  // Custom import setters chosen by the family of the JSON value at hand, and a custom
  // export getter giving the JSON form (Absent leaves the key out).
  std::map<KSJSONFamily, CustomSetter> customSetters;
  CustomGetter customGetter;

  const CustomSetter* customSetterFor(KSJSONFamily family) const {
    auto it = customSetters.find(family);
    return it == customSetters.end() ? nullptr : &it->second;
  }
};

namespace detail {

template <class C>
struct IsOptional : std::false_type {};
template <class C>
struct IsOptional<std::optional<C>> : std::true_type {
  using type = C;
};
template <class C>
struct IsSharedPtr : std::false_type {};
template <class U>
struct IsSharedPtr<std::shared_ptr<U>> : std::true_type {
  using type = U;
};
template <class C>
struct IsVector : std::false_type {};
template <class E>
struct IsVector<std::vector<E>> : std::true_type {
  using type = E;
};
template <class C>
struct IsStringMap : std::false_type {};
template <class E>
struct IsStringMap<std::map<std::string, E>> : std::true_type {
  using type = E;
};
template <class E>
struct IsStringMap<std::map<std::string, E, std::less<>>> : std::true_type {
  using type = E;
};

// Model form of a record: an Object holding it.
template <class U>
platform::Value recordToValue(const std::shared_ptr<U>& record) {
  if (!record) return {};
  return platform::Value(std::static_pointer_cast<platform::Object>(record));
}
template <class U>
std::shared_ptr<U> recordFromValue(const platform::Value& value) {
  auto object = value.object();
  return object ? std::dynamic_pointer_cast<U>(*object) : nullptr;
}
template <class U>
platform::Value recordsToValue(const std::vector<std::shared_ptr<U>>& records) {
  platform::Array out;
  out.reserve(records.size());
  for (const auto& r : records) out.push_back(recordToValue(r));
  return platform::Value(std::move(out));
}
template <class U>
std::vector<std::shared_ptr<U>> recordsFromValue(const platform::Value& value) {
  std::vector<std::shared_ptr<U>> out;
  if (auto array = value.array()) {
    out.reserve(array->size());
    for (const auto& v : *array) {
      if (auto r = recordFromValue<U>(v)) out.push_back(std::move(r));
    }
  }
  return out;
}

// Model form of records by key: a Dict of Objects holding them.
template <class M>
platform::Value recordMapToValue(const M& records) {
  platform::Dict out;
  for (const auto& [key, r] : records) out.emplace(key, recordToValue(r));
  return platform::Value(std::move(out));
}
template <class M>
M recordMapFromValue(const platform::Value& value) {
  using U = typename IsSharedPtr<typename M::mapped_type>::type;
  M out;
  if (auto dict = value.dict()) {
    for (const auto& [key, v] : *dict) {
      if (auto r = recordFromValue<U>(v)) out.emplace(key, std::move(r));
    }
  }
  return out;
}

// Converts between a C++ property type and its model form.
template <class C>
struct Codec;

template <>
struct Codec<std::optional<std::string>> {
  static platform::Value toValue(const std::optional<std::string>& v) { return v ? platform::Value(*v) : platform::Value(); }
  static std::optional<std::string> fromValue(const platform::Value& v) {
    return v.string() ? std::optional<std::string>(*v.string()) : std::nullopt;
  }
};
template <>
struct Codec<std::string> {
  static platform::Value toValue(const std::string& v) { return platform::Value(v); }
  static std::string fromValue(const platform::Value& v) { return v.string() ? *v.string() : std::string(); }
};
template <>
struct Codec<platform::Value> {
  static platform::Value toValue(const platform::Value& v) { return v; }
  static platform::Value fromValue(platform::Value v) { return v; }
};
template <>
struct Codec<std::optional<platform::Date>> {
  static platform::Value toValue(const std::optional<platform::Date>& v) { return v ? platform::Value(*v) : platform::Value(); }
  static std::optional<platform::Date> fromValue(const platform::Value& v) { return v.toDate(); }
};
template <class A>
  requires std::is_arithmetic_v<A>
struct Codec<A> {
  static platform::Value toValue(A v) {
    if constexpr (std::is_same_v<A, bool>) {
      return platform::Value(v);
    } else if constexpr (std::is_floating_point_v<A>) {
      return platform::Value(static_cast<double>(v));
    } else if constexpr (std::is_signed_v<A>) {
      return platform::Value(static_cast<std::int64_t>(v));
    } else {
      return platform::Value(static_cast<std::uint64_t>(v));
    }
  }
  static A fromValue(const platform::Value& v) {
    if constexpr (std::is_same_v<A, bool>) {
      return v.toBool().value_or(false);
    } else if constexpr (std::is_floating_point_v<A>) {
      return static_cast<A>(v.toDouble().value_or(0.0));
    } else if constexpr (std::is_signed_v<A>) {
      return static_cast<A>(v.toInt64().value_or(0));
    } else {
      return static_cast<A>(v.toUInt64().value_or(0));
    }
  }
};
template <class A>
  requires std::is_arithmetic_v<A>
struct Codec<std::optional<A>> {
  static platform::Value toValue(const std::optional<A>& v) { return v ? Codec<A>::toValue(*v) : platform::Value(); }
  static std::optional<A> fromValue(const platform::Value& v) {
    if (v.isAbsent() || v.isNull()) return std::nullopt;
    return Codec<A>::fromValue(v);
  }
};
template <class U>
struct Codec<std::shared_ptr<U>> {
  static platform::Value toValue(const std::shared_ptr<U>& v) { return recordToValue(v); }
  static std::shared_ptr<U> fromValue(const platform::Value& v) { return recordFromValue<U>(v); }
};
template <class U>
struct Codec<std::vector<std::shared_ptr<U>>> {
  static platform::Value toValue(const std::vector<std::shared_ptr<U>>& v) { return recordsToValue(v); }
  static std::vector<std::shared_ptr<U>> fromValue(const platform::Value& v) { return recordsFromValue<U>(v); }
};
template <class U>
struct Codec<std::optional<std::vector<std::shared_ptr<U>>>> {
  static platform::Value toValue(const std::optional<std::vector<std::shared_ptr<U>>>& v) {
    return v ? recordsToValue(*v) : platform::Value();
  }
  static std::optional<std::vector<std::shared_ptr<U>>> fromValue(const platform::Value& v) {
    if (!v.array()) return std::nullopt;
    return recordsFromValue<U>(v);
  }
};

template <class M>
  requires IsStringMap<M>::value
struct Codec<M> {
  static platform::Value toValue(const M& v) { return recordMapToValue(v); }
  static M fromValue(const platform::Value& v) { return recordMapFromValue<M>(v); }
};
template <class M>
  requires IsStringMap<M>::value
struct Codec<std::optional<M>> {
  static platform::Value toValue(const std::optional<M>& v) { return v ? recordMapToValue(*v) : platform::Value(); }
  static std::optional<M> fromValue(const platform::Value& v) {
    if (!v.dict()) return std::nullopt;
    return recordMapFromValue<M>(v);
  }
};

}  // namespace detail

// The property table of one record class: built once, on first use, by the class's static
// jsonClass() (see KSJSONRecord.h), and immutable afterwards, so any thread may use it.
class KSJSONModelClass {
 public:
  template <class T>
  class Builder;

  // Builds the table of record class T: `define` calls `declare` with a Builder<T>.
  template <class T, class F>
  static KSJSONModelClass define(std::string className, F&& declare) {
    Builder<T> builder(std::move(className));
    std::forward<F>(declare)(builder);
    return builder.finish();
  }
  // The same, made on the heap and never destroyed: what a record class's jsonClass() keeps,
  // so that a record can still be imported or exported from a destructor that runs among
  // the statics at exit.
  template <class T, class F>
  static const KSJSONModelClass& defineImmortal(std::string className, F&& declare) {
    return *new KSJSONModelClass(define<T>(std::move(className), std::forward<F>(declare)));
  }

  const std::string& className() const { return className_; }
  const std::vector<KSJSONModelClassProperty>& properties() const { return properties_; }
  const KSJSONModelClassProperty* property(std::string_view name) const;
  const std::shared_ptr<const KSJSONKeyMapper>& keyMapper() const { return keyMapper_; }
  const std::optional<std::vector<std::string>>& whitelistJSONKeys() const { return whitelist_; }
  const std::vector<std::string>& requiredPropertyNames() const { return required_; }
  const std::optional<std::string>& indexPropertyName() const { return indexProperty_; }
  // A new record of the class, with the defaults its constructor sets.
  std::shared_ptr<KSJSONModel> newInstance() const { return factory_(); }

 private:
  KSJSONModelClass() = default;
  std::string className_;
  std::function<std::shared_ptr<KSJSONModel>()> factory_;
  std::vector<KSJSONModelClassProperty> properties_;
  std::map<std::string, std::size_t, std::less<>> byName_;
  std::shared_ptr<const KSJSONKeyMapper> keyMapper_;
  std::optional<std::vector<std::string>> whitelist_;
  std::vector<std::string> required_;
  std::optional<std::string> indexProperty_;
};

// Declares the properties of record class T. Each declaring call takes the property name
// (its JSON key before mapping, and its by-name key, which may differ from the C++
// accessor) and the record's getter and setter, so import runs the record's real setter
// and its side effects. The C++ type of the getter is checked against the kind.
template <class T>
class KSJSONModelClass::Builder {
 public:
  // Modifiers of the property just declared.
  class Property {
   public:
    Property& optional() {
      p().isOptional = true;
      return *this;
    }
    // The index property: equality, hash and ordering of the records use it.
    Property& index() {
      p().isIndex = true;
      return *this;
    }
    // A Number property whose values must lie in [minimum, maximum] (a fraction is dropped
    // for the test, as for an integer property): any other number fails the import.
    Property& range(std::int64_t minimum, std::uint64_t maximum) {
      p().minimum = minimum;
      p().maximum = maximum;
      p().ranged = true;
      return *this;
    }
    // A custom import setter for JSON values of one family; it returns false (or, when it
    // returns nothing, never) to fail the import with the error it stored.
    template <class F>
    Property& importWith(KSJSONFamily family, F setter) {
      p().customSetters[family] = [setter](KSJSONModel& m, const platform::Value& json, platform::Error* error) -> bool {
        if constexpr (std::is_void_v<std::invoke_result_t<F, T&, const platform::Value&>>) {
          (void)error;
          setter(static_cast<T&>(m), json);
          return true;
        } else {
          return setter(static_cast<T&>(m), json, error);
        }
      };
      return *this;
    }
    // A custom export getter giving the JSON form; Absent leaves the key out.
    template <class F>
    Property& exportWith(F getter) {
      p().customGetter = [getter](const KSJSONModel& m) -> platform::Value { return getter(static_cast<const T&>(m)); };
      return *this;
    }

   private:
    friend class Builder;
    Property(Builder& b, std::size_t i) : builder_(b), index_(i) {}
    KSJSONModelClassProperty& p() { return builder_.cls_.properties_[index_]; }
    Builder& builder_;
    std::size_t index_;
  };

  template <class G, class S>
  Property text(std::string name, G getter, S setter) {
    using C = Accessed<G>;
    static_assert(std::is_same_v<C, std::optional<std::string>> || std::is_same_v<C, std::string>,
                  "a text property holds std::optional<std::string> or std::string");
    return add(std::move(name), KSJSONPropertyKind::Text, getter, setter);
  }
  template <class G, class S>
  Property number(std::string name, G getter, S setter) {
    static_assert(std::is_same_v<Accessed<G>, platform::Value>, "a number property holds a platform::Value");
    return add(std::move(name), KSJSONPropertyKind::Number, getter, setter);
  }
  template <class G, class S>
  Property date(std::string name, G getter, S setter) {
    static_assert(std::is_same_v<Accessed<G>, std::optional<platform::Date>>,
                  "a date property holds std::optional<platform::Date>");
    return add(std::move(name), KSJSONPropertyKind::Date, getter, setter);
  }
  // bool, an integer type or a floating type, or an optional of one.
  template <class G, class S>
  Property scalar(std::string name, G getter, S setter) {
    using C = Accessed<G>;
    using A = typename std::conditional_t<detail::IsOptional<C>::value, detail::IsOptional<C>, std::type_identity<C>>::type;
    static_assert(std::is_arithmetic_v<A>, "a scalar property holds a number type or an optional of one");
    KSJSONPropertyKind kind = std::is_same_v<A, bool>          ? KSJSONPropertyKind::Bool
                              : std::is_floating_point_v<A> ? KSJSONPropertyKind::Double
                                                            : KSJSONPropertyKind::Integer;
    Property prop = add(std::move(name), kind, getter, setter);
    if constexpr (std::is_integral_v<A> && !std::is_same_v<A, bool>) {
      prop.p().minimum = static_cast<std::int64_t>(std::numeric_limits<A>::min());
      prop.p().maximum = static_cast<std::uint64_t>(std::numeric_limits<A>::max());
    }
    return prop;
  }
  // A nested record: std::shared_ptr<U>.
  template <class G, class S>
  Property record(std::string name, G getter, S setter) {
    using C = Accessed<G>;
    static_assert(detail::IsSharedPtr<C>::value, "a record property holds std::shared_ptr<Record>");
    using U = typename detail::IsSharedPtr<C>::type;
    Property prop = add(std::move(name), KSJSONPropertyKind::Record, getter, setter);
    prop.p().elementClass = &U::jsonClass;
    return prop;
  }
  // An array of records of one class: std::vector<std::shared_ptr<U>>, or an optional of it.
  template <class G, class S>
  Property records(std::string name, G getter, S setter) {
    using C = Accessed<G>;
    using V = typename std::conditional_t<detail::IsOptional<C>::value, detail::IsOptional<C>, std::type_identity<C>>::type;
    static_assert(detail::IsVector<V>::value, "a records property holds std::vector<std::shared_ptr<Record>>");
    using U = typename detail::IsSharedPtr<typename detail::IsVector<V>::type>::type;
    Property prop = add(std::move(name), KSJSONPropertyKind::RecordArray, getter, setter);
    prop.p().elementClass = &U::jsonClass;
    return prop;
  }
  // Records of one class by key: std::map<std::string, std::shared_ptr<U>>, or an optional
  // of it. Imported from a JSON object whose every value is a record's dictionary.
  template <class G, class S>
  Property recordDictionary(std::string name, G getter, S setter) {
    using C = Accessed<G>;
    using M = typename std::conditional_t<detail::IsOptional<C>::value, detail::IsOptional<C>, std::type_identity<C>>::type;
    static_assert(detail::IsStringMap<M>::value, "a record dictionary property holds std::map<std::string, std::shared_ptr<Record>>");
    using U = typename detail::IsSharedPtr<typename detail::IsStringMap<M>::type>::type;
    Property prop = add(std::move(name), KSJSONPropertyKind::RecordDictionary, getter, setter);
    prop.p().elementClass = &U::jsonClass;
    return prop;
  }
  // An array of records of class U converted on first read of each element.
  template <class U, class G, class S>
  Property lazyRecords(std::string name, G getter, S setter) {
    static_assert(std::is_same_v<Accessed<G>, std::shared_ptr<KSJSONModelArray>>,
                  "a lazy records property holds std::shared_ptr<KSJSONModelArray>");
    Property prop = add(std::move(name), KSJSONPropertyKind::LazyRecordArray, getter, setter);
    prop.p().elementClass = &U::jsonClass;
    return prop;
  }
  // Plain JSON values held as a platform::Value: any array, any object, or anything.
  template <class G, class S>
  Property array(std::string name, G getter, S setter) {
    static_assert(std::is_same_v<Accessed<G>, platform::Value>, "an array property holds a platform::Value");
    return add(std::move(name), KSJSONPropertyKind::Array, getter, setter);
  }
  template <class G, class S>
  Property dictionary(std::string name, G getter, S setter) {
    static_assert(std::is_same_v<Accessed<G>, platform::Value>, "a dictionary property holds a platform::Value");
    return add(std::move(name), KSJSONPropertyKind::Dictionary, getter, setter);
  }
  template <class G, class S>
  Property any(std::string name, G getter, S setter) {
    static_assert(std::is_same_v<Accessed<G>, platform::Value>, "an any property holds a platform::Value");
    return add(std::move(name), KSJSONPropertyKind::Any, getter, setter);
  }
  // Readable by name only (derived values, live state): JSON never reaches it.
  template <class G>
  Property readOnly(std::string name, G getter) {
    using C = Accessed<G>;
    KSJSONModelClassProperty p;
    p.name = std::move(name);
    p.kind = KSJSONPropertyKind::ReadOnly;
    p.get = [getter](const KSJSONModel& m) { return detail::Codec<C>::toValue(std::invoke(getter, static_cast<const T&>(m))); };
    return push(std::move(p));
  }

  // JSON key (or dotted key path) to property name; names not listed keep their own.
  void keyMapper(std::initializer_list<std::pair<const std::string, std::string>> jsonToModel) {
    cls_.keyMapper_ = KSJSONKeyMapper::initWithDictionary(jsonToModel);
  }
  void keyMapper(std::shared_ptr<const KSJSONKeyMapper> mapper) { cls_.keyMapper_ = std::move(mapper); }
  // Every property may be absent or null in the input.
  void allOptional() { allOptional_ = true; }
  // The property names toDictionary exports.
  void whitelist(std::vector<std::string> names) { cls_.whitelist_ = std::move(names); }

 private:
  friend class KSJSONModelClass;
  template <class G>
  using Accessed = std::remove_cvref_t<std::invoke_result_t<G, const T&>>;

  explicit Builder(std::string className) {
    cls_.className_ = std::move(className);
    cls_.factory_ = [] { return std::static_pointer_cast<KSJSONModel>(std::make_shared<T>()); };
  }

  template <class G, class S>
  Property add(std::string name, KSJSONPropertyKind kind, G getter, S setter) {
    using C = Accessed<G>;
    KSJSONModelClassProperty p;
    p.name = std::move(name);
    p.kind = kind;
    p.get = [getter](const KSJSONModel& m) { return detail::Codec<C>::toValue(std::invoke(getter, static_cast<const T&>(m))); };
    p.set = [setter](KSJSONModel& m, platform::Value v) {
      std::invoke(setter, static_cast<T&>(m), detail::Codec<C>::fromValue(std::move(v)));
    };
    return push(std::move(p));
  }
  Property push(KSJSONModelClassProperty p) {
    cls_.byName_[p.name] = cls_.properties_.size();
    cls_.properties_.push_back(std::move(p));
    return Property(*this, cls_.properties_.size() - 1);
  }
  KSJSONModelClass finish() {
    for (auto& p : cls_.properties_) {
      if (allOptional_) p.isOptional = true;
      if (p.kind == KSJSONPropertyKind::ReadOnly) continue;
      if (!p.isOptional) cls_.required_.push_back(p.name);
      if (p.isIndex) cls_.indexProperty_ = p.name;
    }
    return std::move(cls_);
  }

  KSJSONModelClass cls_;
  bool allOptional_ = false;
};

}  // namespace velmora::kestrine
