#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora {

// How a reply decoder turns a JSON date value into a Date. Given the value (present, not
// null) and its coding path; returns the date, or nullopt with *error filled.
// Without a rule, dates are read as a JSON number of seconds since 2001-01-01T00:00:00Z,
// the same form requests are written in.
using DateRule = std::function<std::optional<platform::Date>(const platform::Value& value,
                                                             const std::string& codingPath,
                                                             platform::Error* error)>;

// Reads the fields of one parking record from a JSON object.
//
// Two styles of read:
//  - result style (`string`, `int64`, ... with a fallback, and the `optional...` reads):
//    a missing key or null gives the fallback (or nullopt);
//  - request style (`required...`): a missing key or null is an error.
// In both, a value of the wrong JSON type is an error. The first error is kept, reads go
// on returning fallbacks, and the record decoding as a whole fails (decodeRecord).
// Errors name the coding path, e.g. "lanes[1].laneBeacons[0].laneBeaconId".
class RecordDecoder {
 public:
  RecordDecoder(const platform::Value& object, std::string codingPath = {}, const DateRule* dates = nullptr);

  bool failed() const { return error_.has_value(); }
  const std::optional<platform::Error>& error() const { return error_; }
  const std::string& codingPath() const { return path_; }
  const DateRule* dateRule() const { return dates_; }

  std::string string(std::string_view key, std::string fallback = {});
  std::int64_t int64(std::string_view key, std::int64_t fallback);
  double number(std::string_view key, double fallback);
  bool boolean(std::string_view key, bool fallback = false);
  std::vector<std::string> strings(std::string_view key);

  std::optional<std::string> optionalString(std::string_view key);
  std::optional<std::int64_t> optionalInt64(std::string_view key);
  std::optional<double> optionalNumber(std::string_view key);
  std::optional<bool> optionalBoolean(std::string_view key);
  std::optional<platform::Date> optionalDate(std::string_view key);
  std::optional<std::vector<std::string>> optionalStrings(std::string_view key);

  std::string requiredString(std::string_view key);
  std::int64_t requiredInt64(std::string_view key);
  double requiredNumber(std::string_view key);
  bool requiredBoolean(std::string_view key);
  // A date read like optionalDate, required to be present and not null.
  platform::Date requiredDate(std::string_view key);

  // A nested record: R must offer `static R decode(RecordDecoder&)`. Missing or null
  // gives the fallback; a value that is not an object, or a failing field, is an error.
  template <class R>
  R record(std::string_view key, R fallback);
  template <class R>
  std::optional<R> optionalRecord(std::string_view key);
  // An array of records, read element by element; one failing element fails the record.
  template <class R>
  std::vector<R> records(std::string_view key);
  template <class R>
  std::optional<std::vector<R>> optionalRecords(std::string_view key);

  // Records an error at this decoder's path plus key (first error wins).
  void fail(platform::Error error);
  std::string pathFor(std::string_view key) const;
  std::string pathFor(std::string_view key, std::size_t index) const;

  // Whether the wrapped value is a JSON object; records a type error when it is not.
  bool expectObject();

 private:
  // The value under key when present and not null; records type errors for the caller.
  const platform::Value* present(std::string_view key);
  void typeMismatch(std::string_view key, std::string_view expected, const platform::Value& found);
  void valueNotFound(std::string_view key, std::string_view expected);
  std::optional<std::vector<std::string>> readStrings(std::string_view key, const platform::Value& v);
  template <class R>
  std::optional<R> decodeNested(const platform::Value& v, std::string path);

  const platform::Value& object_;
  std::string path_;
  const DateRule* dates_;
  std::optional<platform::Error> error_;
};

// The order in which a record's keys were written, with the order of what each key holds:
// a nested record's own keys, or for a list of records each element's. JSON text of a
// record keeps it (encodeRecordJSON), so a body reads in the record's declared order.
struct RecordKeyOrder {
  struct Key;
  std::vector<Key> keys;
  std::vector<RecordKeyOrder> elements;
};
struct RecordKeyOrder::Key {
  std::string name;
  RecordKeyOrder value;
};

// Writes the fields of one parking record into a JSON object. Optional fields are written
// only when present (null is never written); a non-finite Double is an encoding error.
class RecordEncoder {
 public:
  RecordEncoder() = default;
  explicit RecordEncoder(std::string codingPath) : path_(std::move(codingPath)) {}
  RecordEncoder(const RecordEncoder&) = delete;
  RecordEncoder& operator=(const RecordEncoder&) = delete;

  void put(std::string_view key, const std::string& value);
  void put(std::string_view key, const char* value) { put(key, std::string(value)); }
  void put(std::string_view key, std::int64_t value);
  void put(std::string_view key, double value);
  void put(std::string_view key, bool value);
  // A JSON number: seconds since 2001-01-01T00:00:00Z, with fraction.
  void put(std::string_view key, platform::Date value);
  void put(std::string_view key, const std::vector<std::string>& values);
  template <class T>
  void put(std::string_view key, const std::optional<T>& value) {
    if (value) put(key, *value);
  }
  // Nested records: R must offer `void encode(RecordEncoder&) const`.
  template <class R>
    requires requires(const R& r, RecordEncoder& e) { r.encode(e); }
  void put(std::string_view key, const R& record);
  template <class R>
    requires requires(const R& r, RecordEncoder& e) { r.encode(e); }
  void put(std::string_view key, const std::vector<R>& records);

  bool failed() const { return error_.has_value(); }
  const std::optional<platform::Error>& error() const { return error_; }
  // The object written so far.
  platform::Value take() { return std::move(object_); }
  // The order its keys were first written in.
  RecordKeyOrder takeKeyOrder() { return std::move(order_); }

 private:
  // A nested record's encoder: its coding path (parent's path, key, index) is only spelled
  // out when an error needs it, so encoding a large record builds no path text.
  RecordEncoder(const RecordEncoder* parent, std::string_view key, std::optional<std::size_t> index)
      : parent_(parent), key_(key), index_(index) {}
  std::string codingPath() const;
  std::string pathFor(std::string_view key) const;
  template <class R>
  platform::Value encodeNested(std::string_view key, std::optional<std::size_t> index, const R& record,
                               RecordKeyOrder& order);
  // The order entry of a key, added at the end when the key is new.
  RecordKeyOrder& noteKey(std::string_view key);

  platform::Value object_ = platform::Value(platform::Dict{});
  RecordKeyOrder order_;
  std::string path_;
  const RecordEncoder* parent_ = nullptr;
  std::string_view key_;
  std::optional<std::size_t> index_;
  std::optional<platform::Error> error_;
};

// Decodes a whole record from a JSON value (the value must be an object).
template <class R>
std::optional<R> decodeRecord(const platform::Value& json, platform::Error* error = nullptr,
                              const DateRule* dates = nullptr) {
  RecordDecoder d(json, {}, dates);
  if (d.expectObject()) {
    R r = R::decode(d);
    if (!d.failed()) return r;
  }
  if (error) *error = *d.error();
  return std::nullopt;
}

// Decodes a whole record from JSON text (a reply body).
template <class R>
std::optional<R> decodeRecordJSON(std::string_view text, platform::Error* error = nullptr,
                                  const DateRule* dates = nullptr);

// Encodes a record to a JSON object value, or nullopt with *error filled.
template <class R>
std::optional<platform::Value> encodeRecord(const R& record, platform::Error* error = nullptr) {
  RecordEncoder e;
  record.encode(e);
  if (e.failed()) {
    if (error) *error = *e.error();
    return std::nullopt;
  }
  return e.take();
}

// Encodes a record to JSON text (a request body), keys in the order the record writes them.
template <class R>
std::optional<std::string> encodeRecordJSON(const R& record, platform::Error* error = nullptr);

// ---- template definitions ----

std::optional<platform::Value> parseRecordText(std::string_view text, platform::Error* error);
// Compact JSON text; objects' keys sorted, or in the given order (keys it does not name
// follow, sorted).
std::optional<std::string> writeRecordText(const platform::Value& value, platform::Error* error);
std::optional<std::string> writeRecordText(const platform::Value& value, const RecordKeyOrder& order,
                                           platform::Error* error);

template <class R>
std::optional<R> decodeRecordJSON(std::string_view text, platform::Error* error, const DateRule* dates) {
  auto json = parseRecordText(text, error);
  if (!json) return std::nullopt;
  return decodeRecord<R>(*json, error, dates);
}

template <class R>
std::optional<std::string> encodeRecordJSON(const R& record, platform::Error* error) {
  RecordEncoder e;
  record.encode(e);
  if (e.failed()) {
    if (error) *error = *e.error();
    return std::nullopt;
  }
  const platform::Value value = e.take();
  return writeRecordText(value, e.takeKeyOrder(), error);
}

template <class R>
std::optional<R> RecordDecoder::decodeNested(const platform::Value& v, std::string path) {
  RecordDecoder child(v, std::move(path), dates_);
  if (child.expectObject()) {
    R r = R::decode(child);
    if (!child.failed()) return r;
  }
  fail(*child.error());
  return std::nullopt;
}

template <class R>
R RecordDecoder::record(std::string_view key, R fallback) {
  const platform::Value* v = present(key);
  if (!v) return fallback;
  if (auto r = decodeNested<R>(*v, pathFor(key))) return std::move(*r);
  return fallback;
}

template <class R>
std::optional<R> RecordDecoder::optionalRecord(std::string_view key) {
  const platform::Value* v = present(key);
  if (!v) return std::nullopt;
  return decodeNested<R>(*v, pathFor(key));
}

template <class R>
std::optional<std::vector<R>> RecordDecoder::optionalRecords(std::string_view key) {
  const platform::Value* v = present(key);
  if (!v) return std::nullopt;
  const platform::Array* a = v->array();
  if (!a) {
    typeMismatch(key, "Array", *v);
    return std::nullopt;
  }
  std::vector<R> out;
  out.reserve(a->size());
  for (std::size_t i = 0; i < a->size(); ++i) {
    auto r = decodeNested<R>((*a)[i], pathFor(key, i));
    if (!r) return std::nullopt;
    out.push_back(std::move(*r));
  }
  return out;
}

template <class R>
std::vector<R> RecordDecoder::records(std::string_view key) {
  auto r = optionalRecords<R>(key);
  return r ? std::move(*r) : std::vector<R>{};
}

template <class R>
  requires requires(const R& r, RecordEncoder& e) { r.encode(e); }
void RecordEncoder::put(std::string_view key, const R& record) {
  RecordKeyOrder order;
  object_.set(key, encodeNested(key, std::nullopt, record, order));
  noteKey(key) = std::move(order);
}

template <class R>
platform::Value RecordEncoder::encodeNested(std::string_view key, std::optional<std::size_t> index, const R& record,
                                            RecordKeyOrder& order) {
  RecordEncoder child(this, key, index);
  record.encode(child);
  if (child.error_ && !error_) error_ = std::move(child.error_);
  order = child.takeKeyOrder();
  return child.take();
}

template <class R>
  requires requires(const R& r, RecordEncoder& e) { r.encode(e); }
void RecordEncoder::put(std::string_view key, const std::vector<R>& records) {
  platform::Array list;
  RecordKeyOrder order;
  list.reserve(records.size());
  order.elements.resize(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) list.push_back(encodeNested(key, i, records[i], order.elements[i]));
  object_.set(key, platform::Value(std::move(list)));
  noteKey(key) = std::move(order);
}

}  // namespace velmora
