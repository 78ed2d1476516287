#pragma once

#include <cstdint>

#include "platform/core/Value.h"

namespace velmora::kestrine::ad_schema {

inline constexpr std::size_t kAdTableLength = 23;
inline constexpr std::size_t kBurstTableLength = 13;
inline constexpr std::string_view KSAdDataTableKey = "AdDataTable";
inline constexpr std::string_view KSBurstDataTableKey = "BurstDataTable";

// The target speed as the ad table carries it: 5×, 3×, 2× or 1× the milliseconds (below 51,
// up to 200, up to 400, above), cut to 16 bits.
std::uint16_t adSchemaTargetSpeed(std::uint16_t milliseconds);

// The 23-byte advertisement table a beacon accepts for a mode; an unknown mode gives the
// default table.
platform::Bytes adSchemaForModeId(std::int64_t modeID, std::uint16_t targetSpeed);

// The 13-byte burst table for a mode.
platform::Bytes burstTableForModeId(std::int64_t modeID);

// {"AdDataTable": ad table, "BurstDataTable": burst table}.
platform::Dict adAndBurstTablesForModeId(std::int64_t modeID, std::uint16_t targetSpeed);

}  // namespace velmora::kestrine::ad_schema
