// Feeds arbitrary text to the lasso packet builder as a JSON dictionary. The builder either
// refuses it, or builds a packet whose length byte counts the rest and whose parse gives back
// the Amount, Code, OfferId and ReferenceId it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "beacons/microlocation/KSLassoPacket.h"
#include "platform/core/Json.h"

using namespace velmora::kestrine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto value = velmora::platform::json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!value || !value->dict()) return 0;
  const velmora::platform::Dict& dictionary = *value->dict();
  const auto now = velmora::platform::Date::fromUnixSeconds(1714564800);
  velmora::platform::Error error;
  const auto packet = KSKLassoPacketData(dictionary, now, &error);
  if (!packet) {
    if (error.localizedDescription.empty()) std::abort();
    return 0;
  }
  if (packet->size() > 256 || (*packet)[0] != packet->size() - 1) std::abort();
  const auto parse = KSKLassoParseData(*packet);
  if (!parse) std::abort();
  const velmora::platform::Value parsed(*parse);
  auto given = [&](std::string_view key) {
    auto it = dictionary.find(key);
    return it == dictionary.end() ? velmora::platform::Value() : it->second;
  };
  if (const auto amount = given("Amount"); !amount.isAbsent()) {
    const auto sent = parsed["Amount"].toUInt64();
    if (!sent || static_cast<double>(*sent) != *amount.toDouble()) std::abort();
  }
  const bool codeSent = given("Transaction") == velmora::platform::Value("Code");
  if (codeSent && !(parsed["Code"] == given("Code"))) std::abort();
  if (!codeSent && !parsed["Code"].isAbsent()) std::abort();
  for (std::string_view key : {KSKLassoValueTypeOfferIdKey, KSKLassoValueTypeReferenceIdKey}) {
    if (!(parsed[key] == given(key))) std::abort();
  }
  if (!(parsed["DeviceTime"] == velmora::platform::Value(now))) std::abort();
  return 0;
}
