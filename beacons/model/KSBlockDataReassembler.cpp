#include "beacons/model/KSBlockDataReassembler.h"

#include <string>

#include "beacons/model/KSAdDataConstants.h"

namespace velmora::kestrine {
namespace {
std::optional<std::int64_t> field(const platform::Value& frame, std::string_view key) { return frame[key].toInt64(); }
}  // namespace

KSBlockDataRecord KSBlockDataReassembler::reassemble(const platform::Value& frame, platform::Date now) {
  auto index = field(frame, KSBlockDataIndexKey);
  auto count = field(frame, KSBlockDataCountKey);
  auto identifier = field(frame, KSBlockDataIdentifierKey);
  const platform::Bytes* chunk = frame[KSBlockDataDataKey].bytes();
  if (!index || !count || !identifier || !chunk) return nullptr;
  std::int64_t type = field(frame, KSBlockDataTypeKey).value_or(0);
  std::int64_t encoding = field(frame, KSBlockDataEncodingKey).value_or(0);
  std::int64_t needed = *count < 1 ? 1 : *count;
  if (*index < 0 || *index >= needed) return nullptr;

  if (!records_.empty() && (*records_.back())[KSBlockDataIdentifierKey].toInt64() == identifier) return nullptr;

  if (partial_ && partial_->identifier == *identifier && partial_->count == *count && partial_->type == type &&
      partial_->encoding == encoding) {
    partial_->chunks[*index] = *chunk;
  } else {
    partial_ = Partial{*identifier, type, encoding, *count, {{*index, *chunk}}};
  }
  if (static_cast<std::int64_t>(partial_->chunks.size()) < needed) return nullptr;

  platform::Bytes joined;
  for (const auto& [i, bytes] : partial_->chunks) joined.insert(joined.end(), bytes.begin(), bytes.end());
  auto record = std::make_shared<const platform::Value>(platform::Dict{
      {std::string(KSBlockDataIdentifierKey), *identifier},
      {std::string(KSBlockDataTypeKey), type},
      {std::string(KSBlockDataEncodingKey), encoding},
      {std::string(KSBlockDataDataKey), std::move(joined)},
      {std::string(KSBlockDataCountKey), *count},
      {std::string(KSBlockDataReassembledAtKey), now},
  });
  records_.push_back(record);
  if (records_.size() > kMaxRecords) {
    records_.erase(records_.begin(), records_.end() - static_cast<std::ptrdiff_t>(kMaxRecords));
  }
  partial_.reset();
  return record;
}

std::optional<platform::Value> KSBlockDataReassembler::partialBlockData() const {
  if (!partial_) return std::nullopt;
  platform::Dict chunks;
  for (const auto& [i, bytes] : partial_->chunks) chunks.emplace(std::to_string(i), bytes);
  return platform::Value(platform::Dict{
      {std::string(KSBlockDataIdentifierKey), partial_->identifier},
      {std::string(KSBlockDataTypeKey), partial_->type},
      {std::string(KSBlockDataEncodingKey), partial_->encoding},
      {std::string(KSBlockDataCountKey), partial_->count},
      {std::string(KSBlockDataDataForIndexKey), std::move(chunks)},
  });
}

void KSBlockDataReassembler::setReassembledBlockData(std::deque<KSBlockDataRecord> records) {
  // Only the newest kMaxRecords are kept.
  const std::size_t skip = records.size() > kMaxRecords ? records.size() - kMaxRecords : 0;
  records_.assign(records.begin() + static_cast<std::ptrdiff_t>(skip), records.end());
}

std::vector<KSBlockDataRecord> KSBlockDataReassembler::reassembledBlockDataWithDataType(std::uint64_t type) const {
  std::vector<KSBlockDataRecord> out;
  for (const auto& r : records_) {
    if ((*r)[KSBlockDataTypeKey].toUInt64() == type) out.push_back(r);
  }
  return out;
}

KSBlockDataRecord KSBlockDataReassembler::lastReassembledBlockDataWithDataType(std::uint64_t type) const {
  for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
    if ((**it)[KSBlockDataTypeKey].toUInt64() == type) return *it;
  }
  return nullptr;
}

}  // namespace velmora::kestrine
