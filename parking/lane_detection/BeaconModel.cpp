#include "parking/lane_detection/BeaconModel.h"

#include <fmt/format.h>

#include "parking/carpark_api/LockedField.h"
#include "parking/lane_detection/BeaconSDKPort.h"
#include "platform/core/Error.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora {

using detail::readLocked;
using detail::writeLocked;

namespace {

platform::Date now() { return platform::dispatch::Scheduler::shared()->clock()->now(); }

}  // namespace

std::shared_ptr<BeaconModel> BeaconModel::create() { return std::make_shared<BeaconModel>(Token{}, now()); }

std::shared_ptr<BeaconModel> BeaconModel::create(Values values) {
  auto model = std::make_shared<BeaconModel>(Token{}, values.lastUpdated);
  model->values_ = std::move(values);
  return model;
}

std::shared_ptr<BeaconModel> BeaconModel::toModel(const RangedBeacon& beacon) {
  const std::optional<std::string>& identifier = beacon.isEddystone ? beacon.eddystoneUID : beacon.proximityUUIDString;
  if (!identifier) return nullptr;
  Values v;
  v.lastUpdated = now();
  v.serialNumber = beacon.serialNumber.value_or("");
  v.name = beacon.name.value_or("");
  v.rssi = beacon.rssi.value_or(0);
  v.proximity = static_cast<std::int64_t>(beacon.proximity);
  v.accuracy = beacon.accuracy;
  // The snapshot carries 1 here, never the beacon's calibration value.
  v.measuredPowerAt1Meter = 1;
  v.beaconID = *identifier;
  v.beaconID += ':';
  if (beacon.major) v.beaconID += std::to_string(*beacon.major);
  v.beaconID += ':';
  if (beacon.minor) v.beaconID += std::to_string(*beacon.minor);
  return create(std::move(v));
}

std::string BeaconModel::beaconID() const { return readLocked(mutex_, values_.beaconID); }
void BeaconModel::setBeaconID(std::string v) { writeLocked(mutex_, values_.beaconID, std::move(v)); }
std::string BeaconModel::serialNumber() const { return readLocked(mutex_, values_.serialNumber); }
void BeaconModel::setSerialNumber(std::string v) { writeLocked(mutex_, values_.serialNumber, std::move(v)); }
std::string BeaconModel::name() const { return readLocked(mutex_, values_.name); }
void BeaconModel::setName(std::string v) { writeLocked(mutex_, values_.name, std::move(v)); }
std::int64_t BeaconModel::rssi() const { return readLocked(mutex_, values_.rssi); }
void BeaconModel::setRssi(std::int64_t v) { writeLocked(mutex_, values_.rssi, v); }
std::int64_t BeaconModel::proximity() const { return readLocked(mutex_, values_.proximity); }
void BeaconModel::setProximity(std::int64_t v) { writeLocked(mutex_, values_.proximity, v); }
double BeaconModel::accuracy() const { return readLocked(mutex_, values_.accuracy); }
void BeaconModel::setAccuracy(double v) { writeLocked(mutex_, values_.accuracy, v); }
std::int64_t BeaconModel::measuredPowerAt1Meter() const { return readLocked(mutex_, values_.measuredPowerAt1Meter); }
void BeaconModel::setMeasuredPowerAt1Meter(std::int64_t v) { writeLocked(mutex_, values_.measuredPowerAt1Meter, v); }
platform::Date BeaconModel::lastUpdated() const { return readLocked(mutex_, values_.lastUpdated); }
void BeaconModel::setLastUpdated(platform::Date v) { writeLocked(mutex_, values_.lastUpdated, v); }

BeaconModel::Values BeaconModel::values() const { return readLocked(mutex_, values_); }

bool BeaconModel::update(const BeaconModel& other) {
  // Read the argument first, under its own lock only, so two snapshots updated from each
  // other on two threads cannot deadlock.
  Values incoming = other.values();
  std::lock_guard lock(mutex_);
  const Values& v = values_;
  const bool same = v.beaconID == incoming.beaconID && v.serialNumber == incoming.serialNumber &&
                    v.name == incoming.name && v.rssi == incoming.rssi && v.proximity == incoming.proximity &&
                    v.measuredPowerAt1Meter == incoming.measuredPowerAt1Meter && v.accuracy == incoming.accuracy;
  values_ = std::move(incoming);
  return !same;
}

void BeaconModel::encode(RecordEncoder& e) const {
  Values v = values();
  e.put("beaconID", v.beaconID);
  e.put("serialNumber", v.serialNumber);
  e.put("name", v.name);
  e.put("rssi", v.rssi);
  e.put("proximity", v.proximity);
  e.put("accuracy", v.accuracy);
  e.put("measuredPowerAt1Meter", v.measuredPowerAt1Meter);
  e.put("lastUpdated", v.lastUpdated);
}

std::shared_ptr<BeaconModel> BeaconModel::decode(RecordDecoder& d) {
  Values v;
  v.beaconID = d.requiredString("beaconID");
  v.serialNumber = d.requiredString("serialNumber");
  v.name = d.requiredString("name");
  v.rssi = d.requiredInt64("rssi");
  v.proximity = d.requiredInt64("proximity");
  v.accuracy = d.requiredNumber("accuracy");
  v.measuredPowerAt1Meter = d.requiredInt64("measuredPowerAt1Meter");
  v.lastUpdated = d.requiredDate("lastUpdated");
  return create(std::move(v));
}

namespace {

// The codec's record interface over the shared pointer.
struct BeaconModelRecord {
  std::shared_ptr<BeaconModel> model;
  void encode(RecordEncoder& e) const { model->encode(e); }
  static BeaconModelRecord decode(RecordDecoder& d) { return {BeaconModel::decode(d)}; }
};

}  // namespace

std::optional<std::string> encodeBeaconModelJSON(const BeaconModel& model, platform::Error* error) {
  RecordEncoder e;
  model.encode(e);
  if (e.failed()) {
    if (error) *error = *e.error();
    return std::nullopt;
  }
  const platform::Value value = e.take();
  return writeRecordText(value, e.takeKeyOrder(), error);
}

std::shared_ptr<BeaconModel> decodeBeaconModelJSON(std::string_view text, platform::Error* error) {
  auto record = decodeRecordJSON<BeaconModelRecord>(text, error);
  return record ? record->model : nullptr;
}

}  // namespace velmora
