#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/core/Date.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// A reassembled block-data record: a dictionary of KSBlockDataIdentifierKey,
// KSBlockDataTypeKey, KSBlockDataEncodingKey, KSBlockDataCountKey (numbers),
// KSBlockDataDataKey (the joined payload) and KSBlockDataReassembledAtKey (date).
using KSBlockDataRecord = std::shared_ptr<const platform::Value>;

// Collects the numbered chunks of the maker's block-data advertisements into whole records,
// keeping the 20 newest, oldest first. Not thread-safe on its own: the owning beacon record
// guards it.
//
// A frame carries an identifier, a type, an encoding, its chunk index, the chunk count and
// up to 15 bytes of chunk. Frames of one identifier fill one partial record (a repeated index
// replaces its chunk); a frame of another identifier starts over. Once a record of an
// identifier is complete, frames of that identifier are ignored until another completes, as
// the beacon keeps repeating its last block.
//
// So that no record is ever joined from chunks of different blocks or with a hole in it: a
// frame whose index is not below its count (a count of 0 is taken as 1) is dropped, and a
// frame whose count, type or encoding differs from the partial's starts a new partial.
class KSBlockDataReassembler {
 public:
  static constexpr std::size_t kMaxRecords = 20;

  // Feeds one frame (an advertisement dictionary); the completed record, if this frame
  // completed one. Frames without an index, a count, an identifier or chunk data are dropped.
  KSBlockDataRecord reassemble(const platform::Value& frame, platform::Date now);

  // The partial record in dictionary form: the four header fields and
  // KSBlockDataDataForIndexKey, a dictionary from decimal chunk index to chunk data.
  std::optional<platform::Value> partialBlockData() const;
  bool hasPartial() const { return partial_.has_value(); }
  void clearPartial() { partial_.reset(); }

  std::deque<KSBlockDataRecord> reassembledBlockData() const { return {records_.begin(), records_.end()}; }
  bool hasReassembledBlockData() const { return !records_.empty(); }
  // Keeps the newest 20 of the given records.
  void setReassembledBlockData(std::deque<KSBlockDataRecord> records);
  std::vector<KSBlockDataRecord> reassembledBlockDataWithDataType(std::uint64_t type) const;
  KSBlockDataRecord lastReassembledBlockDataWithDataType(std::uint64_t type) const;

 private:
  struct Partial {
    std::int64_t identifier = 0, type = 0, encoding = 0, count = 0;
    std::map<std::int64_t, platform::Bytes> chunks;
  };
  std::optional<Partial> partial_;
  // Oldest first. A vector, not a deque: every beacon record holds one, and an empty deque
  // still allocates, which made creating and copying beacons cost two allocations more.
  std::vector<KSBlockDataRecord> records_;
};

}  // namespace velmora::kestrine
