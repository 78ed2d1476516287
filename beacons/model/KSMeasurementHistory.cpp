#include "beacons/model/KSMeasurementHistory.h"

#include <algorithm>

namespace velmora::kestrine {

std::vector<std::shared_ptr<KSMeasurement>> KSMeasurementHistory::decodeFrame(const platform::Bytes& frame) {
  std::vector<std::shared_ptr<KSMeasurement>> out;
  if (frame.empty() || !KSMeasurement::measurementTypeValid(frame[0])) return out;
  std::size_t p = 0;
  while (true) {
    std::int64_t type = frame[p];
    std::size_t length = KSMeasurement::dataLengthForMeasurementType(type);
    bool changed = false;
    if (auto m = updateMeasurementWithData(frame, p + 1, length, type, &changed)) {
      out.push_back(std::move(m));
      if (changed) changed_ = true;
    }
    p += length + 1;
    if (p + 2 > frame.size() || !KSMeasurement::measurementTypeValid(frame[p])) break;
  }
  return out;
}

std::shared_ptr<KSMeasurement> KSMeasurementHistory::updateMeasurementWithData(const platform::Bytes& frame,
                                                                               std::size_t offset, std::size_t length,
                                                                               std::int64_t type, bool* changed) {
  if (changed) *changed = false;
  if (offset > frame.size() || length > frame.size() - offset) return nullptr;
  platform::Bytes data(frame.begin() + static_cast<std::ptrdiff_t>(offset),
                       frame.begin() + static_cast<std::ptrdiff_t>(offset + length));
  auto m = KSMeasurement::initWithMeasurementData(data, type);
  if (!m) return nullptr;
  auto& history = byType_[type];
  history.insert(history.begin(), m);
  bool differs = history.size() < 2 || !measurementIsEqualToMeasurement(history[0]->values(), history[1]->values());
  if (changed) *changed = differs;
  if (history.size() > kMaxPerType) history.resize(kMaxPerType);
  return m;
}

std::optional<std::vector<std::shared_ptr<KSMeasurement>>> KSMeasurementHistory::measurementsOfType(std::int64_t type) const {
  auto it = byType_.find(type);
  if (it == byType_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::int64_t> KSMeasurementHistory::availableMeasurementTypes() const {
  std::vector<std::int64_t> out;
  for (const auto& [type, history] : byType_) out.push_back(type);
  return out;
}

bool KSMeasurementHistory::measurementIsEqualToMeasurement(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  auto sa = a, sb = b;
  std::sort(sa.begin(), sa.end());
  std::sort(sb.begin(), sb.end());
  return sa == sb;
}

}  // namespace velmora::kestrine
