#include "beacons/microlocation/KSLassoPacket.h"

#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace velmora::kestrine {

namespace {

constexpr std::size_t kMaxValueLength = 254;  // its entry's length byte is value + 1
constexpr std::size_t kMaxTotalLength = 255;  // the bytes after the length byte

platform::Error refusal(std::string message) {
  return platform::Error(std::string(KSLassoManagerErrorDomain), -1, std::move(message));
}

bool isAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c > 0x7F) return false;
  }
  return true;
}

void appendUInt32(platform::Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

std::uint32_t readUInt32(const platform::Bytes& data) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | data[static_cast<std::size_t>(i)];
  return v;
}

// The whole number a value holds in 0...4294967295, or none.
std::optional<std::uint32_t> amountOf(const platform::Value& v) {
  if (auto u = v.toUInt64()) {
    if (*u <= std::numeric_limits<std::uint32_t>::max()) return static_cast<std::uint32_t>(*u);
    return std::nullopt;
  }
  if (v.kind() == platform::Value::Kind::Double) {
    const double d = *v.toDouble();
    if (std::isfinite(d) && d >= 0 && d <= 4294967295.0 && std::trunc(d) == d) return static_cast<std::uint32_t>(d);
  }
  return std::nullopt;
}

}  // namespace

std::uint8_t KSKLassoTransactionTypeForKey(std::string_view key) {
  if (key == "Value") return 1;
  if (key == "Discount") return 2;
  if (key == "Code") return 3;
  return 0;
}

std::string KSKLassoValueTypeKeyForEnum(std::uint64_t type) {
  switch (type) {
    case KSKLassoValueTypeFunction: return std::string(KSKLassoValueTypeFunctionKey);
    case KSKLassoValueTypeDeviceId: return std::string(KSKLassoValueTypeDeviceIdKey);
    case KSKLassoValueTypeTransaction: return std::string(KSKLassoValueTypeTransactionKey);
    case KSKLassoValueTypeAmount: return std::string(KSKLassoValueTypeAmountKey);
    case KSKLassoValueTypeCode: return std::string(KSKLassoValueTypeCodeKey);
    case KSKLassoValueTypeOfferId: return std::string(KSKLassoValueTypeOfferIdKey);
    case KSKLassoValueTypeDeviceTime: return std::string(KSKLassoValueTypeDeviceTimeKey);
    case KSKLassoValueTypeReferenceId: return std::string(KSKLassoValueTypeReferenceIdKey);
    case KSKLassoValueTypeAuxData: return std::string(KSKLassoValueTypeAuxDataKey);
    case KSKLassoValueTypeAccountUID: return std::string(KSKLassoValueTypeAccountUIDKey);
    case KSKLassoValueTypeDigest: return std::string(KSKLassoValueTypeDigestKey);
    case KSKLassoValueTypeResponseCode: return std::string(KSKLassoValueTypeResponseCodeKey);
    case KSKLassoValueTypeMessage: return std::string(KSKLassoValueTypeMessageKey);
    case KSKLassoValueTypeSequence: return std::string(KSKLassoValueTypeSequenceKey);
    default: return fmt::format("Unknown Value Type for id {}", type);
  }
}

KSKLassoValueClass KSKClassForValueType(std::uint64_t type) {
  switch (type) {
    case KSKLassoValueTypeDeviceTime: return KSKLassoValueClass::Date;
    case KSKLassoValueTypeAmount: return KSKLassoValueClass::Integer;
    case KSKLassoValueTypeOfferId:
    case KSKLassoValueTypeReferenceId:
    case KSKLassoValueTypeCode:
    case KSKLassoValueTypeResponseCode:
    case KSKLassoValueTypeMessage:
    case KSKLassoValueTypeDeviceId: return KSKLassoValueClass::Ascii;
    default: return KSKLassoValueClass::Raw;
  }
}

platform::Value KSKDecodeDataForValueType(const platform::Bytes& data, std::uint64_t type) {
  switch (KSKClassForValueType(type)) {
    case KSKLassoValueClass::Date:
      if (data.size() != 4) return {};
      return platform::Value(platform::Date::fromUnixMicros(static_cast<std::int64_t>(readUInt32(data)) * 1'000'000));
    case KSKLassoValueClass::Integer:
      if (data.size() != 4) return {};
      return platform::Value(readUInt32(data));
    case KSKLassoValueClass::Ascii: {
      std::string text(data.begin(), data.end());
      if (!isAscii(text)) return {};
      return platform::Value(std::move(text));
    }
    case KSKLassoValueClass::Raw: break;
  }
  return platform::Value(data);
}

std::optional<platform::Bytes> KSKLassoPacketData(const platform::Dict& dictionary, platform::Date now,
                                                  platform::Error* error) {
  auto refuse = [error](std::string message) -> std::optional<platform::Bytes> {
    if (error) *error = refusal(std::move(message));
    return std::nullopt;
  };
  auto find = [&dictionary](std::string_view key) -> const platform::Value* {
    auto it = dictionary.find(key);
    return it == dictionary.end() || it->second.isAbsent() ? nullptr : &it->second;
  };
  platform::Bytes entries;
  auto addEntry = [&entries](std::uint8_t type, const platform::Bytes& value) {
    entries.push_back(static_cast<std::uint8_t>(value.size() + 1));
    entries.push_back(type);
    entries.insert(entries.end(), value.begin(), value.end());
  };
  // An ASCII text entry, or the reason it cannot be one.
  auto addText = [&](std::string_view key, std::uint8_t type) -> std::optional<std::string> {
    const platform::Value* v = find(key);
    if (!v) return std::nullopt;
    const std::string* text = v->string();
    if (!text || !isAscii(*text)) return fmt::format("\"{}\" is not ASCII text", key);
    if (text->size() > kMaxValueLength) {
      return fmt::format("\"{}\" is {} bytes long, more than {}", key, text->size(), kMaxValueLength);
    }
    addEntry(type, platform::Bytes(text->begin(), text->end()));
    return std::nullopt;
  };

  if (const platform::Value* amount = find(KSKLassoValueTypeAmountKey)) {
    auto value = amountOf(*amount);
    if (!value) return refuse("\"Amount\" is not a whole number from 0 to 4294967295");
    platform::Bytes bytes;
    appendUInt32(bytes, *value);
    addEntry(KSKLassoValueTypeAmount, bytes);
  }
  const platform::Value* transaction = find(KSKLassoValueTypeTransactionKey);
  const std::string* transactionText = transaction ? transaction->string() : nullptr;
  if (transaction) {
    const std::uint8_t kind = transactionText ? KSKLassoTransactionTypeForKey(*transactionText) : 0;
    addEntry(KSKLassoValueTypeTransaction, {kind});
  }
  if (transactionText && *transactionText == "Code") {
    if (!find(KSKLassoValueTypeCodeKey)) return refuse("A \"Code\" transaction needs a \"Code\"");
    if (auto why = addText(KSKLassoValueTypeCodeKey, KSKLassoValueTypeCode)) return refuse(*why);
  } else if (const platform::Value* code = find(KSKLassoValueTypeCodeKey)) {
    // Not sent, but still checked: a non-text code is a mistake of the caller.
    const std::string* text = code->string();
    if (!text || !isAscii(*text)) return refuse("\"Code\" is not ASCII text");
  }
  if (auto why = addText(KSKLassoValueTypeOfferIdKey, KSKLassoValueTypeOfferId)) return refuse(*why);
  if (auto why = addText(KSKLassoValueTypeReferenceIdKey, KSKLassoValueTypeReferenceId)) return refuse(*why);
  addEntry(KSKLassoValueTypeFunction, {1});

  const double seconds = std::trunc(now.timeIntervalSince1970());
  if (!(seconds >= 0 && seconds <= 4294967295.0)) return refuse("The device time does not fit 32 bits");
  platform::Bytes time;
  appendUInt32(time, static_cast<std::uint32_t>(seconds));
  addEntry(KSKLassoValueTypeDeviceTime, time);

  const std::size_t total = entries.size() + 1;
  if (total > kMaxTotalLength) {
    return refuse(fmt::format("The packet would be {} bytes after its length byte, more than {}", total,
                              kMaxTotalLength));
  }
  platform::Bytes packet;
  packet.reserve(total + 1);
  packet.push_back(static_cast<std::uint8_t>(total));
  packet.push_back(LassoDataTypeAlpha);
  packet.insert(packet.end(), entries.begin(), entries.end());
  return packet;
}

std::optional<platform::Dict> KSKLassoParseData(const platform::Bytes& data) {
  if (data.size() < 2) return std::nullopt;
  const std::size_t last = data[0];  // the packet is data[0...last]; entries start below it
  platform::Dict out;
  out[std::string(KSKLassoDataTypeKey)] = platform::Value(platform::Bytes{data[1]});
  if (last < 3) return out;
  if (data.size() <= last) return std::nullopt;
  std::size_t offset = 2;
  while (offset < last) {
    const std::size_t n = data[offset];
    if (n == 0 || offset + n > last) return std::nullopt;
    const std::uint8_t type = data[offset + 1];
    const platform::Bytes value(data.begin() + static_cast<std::ptrdiff_t>(offset + 2),
                                data.begin() + static_cast<std::ptrdiff_t>(offset + n + 1));
    platform::Value decoded = KSKDecodeDataForValueType(value, type);
    if (decoded.isAbsent()) {
      const auto kind = KSKClassForValueType(type);
      if (kind == KSKLassoValueClass::Date || kind == KSKLassoValueClass::Integer) return std::nullopt;
    } else {
      out[KSKLassoValueTypeKeyForEnum(type)] = std::move(decoded);
    }
    offset += n + 1;
  }
  return out;
}

}  // namespace velmora::kestrine
