#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "beacons/model/KSMeasurement.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// The decoded sensor measurements of one beacon: the 10 newest of each type, newest first,
// and the change flag that says whether the delegate has news. Not thread-safe on its own:
// the owning beacon record guards it.
class KSMeasurementHistory {
 public:
  static constexpr std::size_t kMaxPerType = 10;

  // Decodes a frame of records (a type byte, then that type's data bytes, repeated) and files
  // each measurement; the measurements in frame order. Decoding stops at an invalid type
  // byte, and a record cut short by the end of the frame yields nothing. Any record whose
  // values differ from the previous one of its type sets the change flag.
  std::vector<std::shared_ptr<KSMeasurement>> decodeFrame(const platform::Bytes& frame);

  // Decodes the bytes [offset, offset + length) of the frame as one record of the type and
  // puts it at the front of that type's history; nullptr, nothing filed, when the range runs
  // past the frame or the bytes do not decode. *changed tells whether the values differ from
  // the previous measurement of the type (the first one always counts as a change).
  std::shared_ptr<KSMeasurement> updateMeasurementWithData(const platform::Bytes& frame, std::size_t offset,
                                                           std::size_t length, std::int64_t type, bool* changed = nullptr);

  // A copy of the type's history, newest first; nullopt when the type was never decoded.
  std::optional<std::vector<std::shared_ptr<KSMeasurement>>> measurementsOfType(std::int64_t type) const;
  std::vector<std::int64_t> availableMeasurementTypes() const;

  bool changeFlag() const { return changed_; }
  void clearChangeFlag() { changed_ = false; }

  // The same values with the same multiplicities, in any order.
  static bool measurementIsEqualToMeasurement(const std::vector<double>& a, const std::vector<double>& b);

 private:
  std::map<std::int64_t, std::vector<std::shared_ptr<KSMeasurement>>> byType_;
  bool changed_ = false;
};

}  // namespace velmora::kestrine
