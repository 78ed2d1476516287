#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// The redemption packet exchanged with a beacon's host board: a total-length byte L (the
// bytes after it), the data type, then entries of (value length + 1, type, value).

inline constexpr std::uint8_t LassoDataTypeAlpha = 1;

enum KSKLassoValueType : std::uint8_t {
  KSKLassoValueTypeFunction = 0x04,
  KSKLassoValueTypeDeviceId = 0x20,
  KSKLassoValueTypeTransaction = 0x21,
  KSKLassoValueTypeAmount = 0x22,
  KSKLassoValueTypeCode = 0x23,
  KSKLassoValueTypeOfferId = 0x24,
  KSKLassoValueTypeDeviceTime = 0x25,
  KSKLassoValueTypeReferenceId = 0x26,
  KSKLassoValueTypeAuxData = 0x27,
  KSKLassoValueTypeAccountUID = 0x28,
  KSKLassoValueTypeDigest = 0x29,
  KSKLassoValueTypeResponseCode = 0x2A,
  KSKLassoValueTypeMessage = 0x2B,
  KSKLassoValueTypeSequence = 0x2C,
};

inline constexpr std::string_view KSKLassoValueTypeFunctionKey = "Function";
inline constexpr std::string_view KSKLassoValueTypeDeviceIdKey = "DeviceId";
inline constexpr std::string_view KSKLassoValueTypeTransactionKey = "Transaction";
inline constexpr std::string_view KSKLassoValueTypeAmountKey = "Amount";
inline constexpr std::string_view KSKLassoValueTypeCodeKey = "Code";
inline constexpr std::string_view KSKLassoValueTypeOfferIdKey = "OfferId";
inline constexpr std::string_view KSKLassoValueTypeDeviceTimeKey = "DeviceTime";
inline constexpr std::string_view KSKLassoValueTypeReferenceIdKey = "ReferenceId";
inline constexpr std::string_view KSKLassoValueTypeAuxDataKey = "AuxData";
inline constexpr std::string_view KSKLassoValueTypeAccountUIDKey = "AccountHolderUID";
inline constexpr std::string_view KSKLassoValueTypeDigestKey = "Digest";
inline constexpr std::string_view KSKLassoValueTypeResponseCodeKey = "ResponseCode";
inline constexpr std::string_view KSKLassoValueTypeMessageKey = "Message";
inline constexpr std::string_view KSKLassoValueTypeSequenceKey = "Sequence";
// The data-type byte of a parsed packet, as a one-byte buffer.
inline constexpr std::string_view KSKLassoDataTypeKey = "DataType";

inline constexpr std::string_view KSKLassoResponseCodeApproved = "00";
inline constexpr std::string_view KSKLassoCustomValueRedemptionRadiusKey = "LassoRedemptionRadius";
inline constexpr std::string_view KSKLassoSharedSecretKey = "SharedSecret";

// The error domain of refused builds and failed redemptions.
inline constexpr std::string_view KSLassoManagerErrorDomain = "com.kestrine.KSLassoManager";

enum class KSKLassoValueClass { Date, Raw, Integer, Ascii };

// "Value" 1, "Discount" 2, "Code" 3, any other text 0.
std::uint8_t KSKLassoTransactionTypeForKey(std::string_view key);
// The dictionary key of a value type; "Unknown Value Type for id <n>" for a type in no list.
std::string KSKLassoValueTypeKeyForEnum(std::uint64_t type);
KSKLassoValueClass KSKClassForValueType(std::uint64_t type);
// The value decoded by its type's class: a date or an unsigned number from exactly 4
// little-endian bytes, ASCII text, or the bytes themselves. Absent when it does not decode
// (a date or number of another length, text with a byte above 0x7F).
platform::Value KSKDecodeDataForValueType(const platform::Bytes& data, std::uint64_t type);

// The request for a dictionary of "Amount", "Transaction", "Code", "OfferId" and
// "ReferenceId", stamped with the function 1 and the device time `now`. Refused (none, with
// the cause in `error`) rather than wrapped: an entry value over 254 bytes, a packet whose
// length does not fit its length byte, an "Amount" that is not a whole number in
// 0...4294967295, a "Code", "OfferId" or "ReferenceId" that is not ASCII text, a "Code"
// transaction without its "Code", or a time outside the 32-bit seconds.
std::optional<platform::Bytes> KSKLassoPacketData(const platform::Dict& dictionary, platform::Date now,
                                                  platform::Error* error = nullptr);

// The dictionary of a packet: "DataType" and one entry per decodable value. The packet is
// bytes 0...L of the input (bytes after it are ignored); none when the input has fewer than
// 2 bytes, is shorter than its length byte says, or holds an entry of length 0, an entry
// running past the packet, or a date or number that is not 4 bytes. A text value with a
// byte above 0x7F is left out.
std::optional<platform::Dict> KSKLassoParseData(const platform::Bytes& data);

}  // namespace velmora::kestrine
