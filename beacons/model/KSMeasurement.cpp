#include "beacons/model/KSMeasurement.h"

#include <cmath>
#include <numbers>

#include "beacons/model/KSModelClock.h"

namespace velmora::kestrine {
namespace {

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

struct Axes {
  std::int64_t x, y, z;  // signed raw values
  double gx, gy, gz;     // accelerations
  std::uint8_t scale;
};

std::optional<Axes> readAxes(const platform::Bytes& d) {
  if (d.size() != 6 || d[0] == 0) return std::nullopt;
  Axes a{};
  a.scale = d[0];
  a.x = KSMeasurement::toNumberWithTwosComplementOf12BitInt(static_cast<std::uint16_t>((d[1] << 4) | (d[2] >> 4)));
  a.y = KSMeasurement::toNumberWithTwosComplementOf12BitInt(static_cast<std::uint16_t>(((d[2] & 0x0F) << 8) | d[3]));
  a.z = KSMeasurement::toNumberWithTwosComplementOf12BitInt(static_cast<std::uint16_t>((d[4] << 4) | (d[5] >> 4)));
  auto g = [&](std::int64_t raw) {
    return static_cast<double>(static_cast<float>(raw * a.scale) / 1000.0f);
  };
  a.gx = g(a.x);
  a.gy = g(a.y);
  a.gz = g(a.z);
  return a;
}

double angle(double a, double b, double c) { return std::atan2(std::sqrt(b * b + c * c), a) * kDegreesPerRadian; }

double perScale(std::int64_t raw, std::uint8_t scale) {
  return static_cast<double>(static_cast<float>(raw) / static_cast<float>(scale));
}

}  // namespace

std::shared_ptr<KSMeasurement> KSMeasurement::initWithMeasurementData(const platform::Bytes& data, std::int64_t type) {
  auto values = parsedMeasurementData(data, type);
  if (!values) return nullptr;
  return std::make_shared<KSMeasurement>(data, type, std::move(*values), KSModelClock::now());
}

std::shared_ptr<KSMeasurement> KSMeasurement::copy() const { return initWithMeasurementData(data_, type_); }

std::size_t KSMeasurement::dataLengthForMeasurementType(std::int64_t type) {
  switch (type) {
    case 0: case 3: case 5: return 2;
    case 1: return 6;
    case 2: return 3;
    case 4: return 4;
    default: return 0;
  }
}

std::int64_t KSMeasurement::toNumberWithTwosComplementOf12BitInt(std::uint16_t value) {
  std::int64_t v = value & 0x0FFF;
  return v >= 2048 ? v - 4096 : v;
}

std::optional<std::vector<double>> KSMeasurement::parsedMeasurementData(const platform::Bytes& data, std::int64_t type) {
  switch (type) {
    case 0: case 5: return temperatureMeasurements(data);
    case 1: return accelerometerMeasurements(data);
    case 2: return tiltMeasurements(data);
    case 3: return voltageMeasurements(data);
    case 4: return uptimeMeasurements(data);
    default: return std::nullopt;
  }
}

std::optional<std::vector<double>> KSMeasurement::temperatureMeasurements(const platform::Bytes& d) {
  if (d.size() != 2) return std::nullopt;
  auto raw = static_cast<std::int16_t>(static_cast<std::uint16_t>((d[0] << 8) | d[1]));
  return std::vector<double>{raw / 256.0};
}

std::optional<std::vector<double>> KSMeasurement::accelerometerMeasurements(const platform::Bytes& d) {
  auto a = readAxes(d);
  if (!a) return std::nullopt;
  return std::vector<double>{perScale(a->x, a->scale), perScale(a->y, a->scale), perScale(a->z, a->scale),
                             angle(a->gx, a->gy, a->gz), angle(a->gy, a->gz, a->gx), angle(a->gz, a->gx, a->gy)};
}

std::optional<std::vector<double>> KSMeasurement::tiltMeasurements(const platform::Bytes& d) {
  if (d.size() != 3) return std::nullopt;
  unsigned first = (d[0] << 4) | (d[1] >> 4);
  unsigned second = ((d[1] & 0x0F) << 8) | d[2];
  return std::vector<double>{static_cast<double>(static_cast<float>(first * 180.0 / 4095.0)),
                             static_cast<double>(static_cast<float>(second))};
}

std::optional<std::vector<double>> KSMeasurement::voltageMeasurements(const platform::Bytes& d) {
  if (d.size() != 2) return std::nullopt;
  unsigned raw = (d[0] << 8) | d[1];
  return std::vector<double>{static_cast<double>(static_cast<float>(raw)) / 1000.0};
}

std::optional<std::vector<double>> KSMeasurement::uptimeMeasurements(const platform::Bytes& d) {
  if (d.size() != 4) return std::nullopt;
  // Double precision throughout: a float loses tenths of a second after about 19 days.
  std::uint32_t raw = (std::uint32_t{d[0]} << 24) | (std::uint32_t{d[1]} << 16) | (std::uint32_t{d[2]} << 8) | d[3];
  return std::vector<double>{raw / 10.0};
}

platform::Dict KSMeasurement::accelerometerMeasurementsForAxis(const platform::Bytes& data, int axis) {
  auto a = readAxes(data);
  if (!a || axis < 0 || axis > 2) return {};
  double tilt = axis == 0 ? angle(a->gx, a->gy, a->gz) : axis == 1 ? angle(a->gy, a->gz, a->gx) : angle(a->gz, a->gx, a->gy);
  return platform::Dict{{"X", perScale(a->x, a->scale)},
                        {"Y", perScale(a->y, a->scale)},
                        {"Z", perScale(a->z, a->scale)},
                        {"Tilt", tilt},
                        {"Angle", (std::atan2(a->gx, a->gy) + std::numbers::pi) * kDegreesPerRadian}};
}

}  // namespace velmora::kestrine
