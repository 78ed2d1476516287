#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/core/Date.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// Kinds of sensor record in a measurement frame; a type byte of 6 or more is no measurement.
enum KSMeasurementType : std::int64_t {
  KSMeasurementTypeTemperature = 0,
  KSMeasurementTypeAccelerometer = 1,
  KSMeasurementTypeTilt = 2,
  KSMeasurementTypeBatteryVoltage = 3,
  KSMeasurementTypeUptime = 4,
  KSMeasurementTypeTemperature2 = 5,
};

// One decoded sensor record: the data bytes after the type byte and the values read from
// them. Immutable once made, so it may be shared between threads.
class KSMeasurement {
 public:
  // Decodes the data as a record of the type; nullptr when the bytes do not decode (wrong
  // length, unknown type, an accelerometer scale of 0).
  static std::shared_ptr<KSMeasurement> initWithMeasurementData(const platform::Bytes& data, std::int64_t type);

  std::int64_t measurementType() const { return type_; }
  const platform::Bytes& measurementData() const { return data_; }
  const std::vector<double>& measurementValues() const { return values_; }
  const std::vector<double>& values() const { return values_; }
  platform::Date measuredAt() const { return measuredAt_; }

  // A new measurement from the same data and type, decoded again, measured now.
  std::shared_ptr<KSMeasurement> copy() const;

  // The values of one record, by type (big-endian fields):
  //   0, 5 temperature: one value, the signed 8.8 fixed-point field in degrees Celsius;
  //   1 accelerometer: X/s, Y/s, Z/s, then three axis angles in degrees;
  //   2 tilt: the first 12-bit field scaled to 0..180 degrees, then the second as a count;
  //   3 battery voltage: volts; 4 uptime: seconds.
  // nullopt for another type, data of the wrong length, or an accelerometer scale of 0.
  static std::optional<std::vector<double>> parsedMeasurementData(const platform::Bytes& data, std::int64_t type);
  static std::optional<std::vector<double>> temperatureMeasurements(const platform::Bytes& data);
  static std::optional<std::vector<double>> accelerometerMeasurements(const platform::Bytes& data);
  static std::optional<std::vector<double>> tiltMeasurements(const platform::Bytes& data);
  static std::optional<std::vector<double>> voltageMeasurements(const platform::Bytes& data);
  static std::optional<std::vector<double>> uptimeMeasurements(const platform::Bytes& data);
  // {"X", "Y", "Z", "Tilt", "Angle"} for axis 0, 1 or 2; an empty dictionary otherwise.
  static platform::Dict accelerometerMeasurementsForAxis(const platform::Bytes& data, int axis);
  // 0..4095 read as a signed 12-bit value.
  static std::int64_t toNumberWithTwosComplementOf12BitInt(std::uint16_t value);

  static bool measurementTypeValid(std::uint8_t type) { return type < 6; }
  // Data bytes of a record of the type; 0 for an unknown type.
  static std::size_t dataLengthForMeasurementType(std::int64_t type);

  KSMeasurement(platform::Bytes data, std::int64_t type, std::vector<double> values, platform::Date measuredAt)
      : data_(std::move(data)), type_(type), values_(std::move(values)), measuredAt_(measuredAt) {}

 private:
  platform::Bytes data_;
  std::int64_t type_;
  std::vector<double> values_;
  platform::Date measuredAt_;
};

}  // namespace velmora::kestrine
