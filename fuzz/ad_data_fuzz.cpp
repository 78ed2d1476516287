// Feeds arbitrary bytes to the advertisement parser as manufacturer data and as Eddystone
// service data, to every frame parser directly (so the length checks of each are exercised,
// not only those at dispatch), and to the descramblers with locations taken from the input.
// Whatever parses must convert to JSON; a URL that encodes must decode back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "beacons/bluetooth/AdData.h"
#include "beacons/bluetooth/AdDataJSON.h"
#include "beacons/bluetooth/KSEddystoneDefinitions.h"
#include "beacons/bluetooth/SecureDescrambling.h"

using namespace velmora::kestrine;

namespace {

const std::string kUUIDs[] = {"E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", "61687109-905f-4436-91f8-e602f514c96d",
                              "B9407F30F5F8466EAFF925556B57FE6D", "--"};

void check(const std::optional<KSAdData>& ad) {
  if (!ad) return;
  if (adDataJSON::jsonText(*ad) == "null") std::abort();  // every parsed text must be writable
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> d(data, size);

  // As manufacturer data, as Eddystone service data, and the first split into both.
  check(adData::mutableAdDataWithProximityUUIDStrings(KSAdvertisement{.manufacturerData = d}, kUUIDs));
  const KSServiceDataEntry eddystone[] = {{"FEAA", d}};
  check(adData::mutableAdDataWithProximityUUIDStrings(KSAdvertisement{.serviceData = eddystone}, kUUIDs));
  if (size > 0) {
    const std::size_t split = data[0] % size;
    const KSServiceDataEntry rest[] = {{"feaa", d.subspan(split)}};
    check(adData::mutableAdDataWithProximityUUIDStrings(
        KSAdvertisement{.manufacturerData = d.subspan(0, split), .serviceData = rest}, kUUIDs));
  }

  check(adData::mutableAppleIBeaconAdDataFromMfrData(d));
  check(adData::mutableKestrineIBeaconAdDataFromMfrData(d, kUUIDs));
  check(adData::mutableKestrineIBeacon4AdDataFromMfrData(d, kUUIDs));
  check(adData::mutableKestrineSecure1AdDataFromMfrData(d));
  check(adData::mutableKestrineSecure2AdDataFromMfrData(d));
  check(adData::mutableKestrineBlockData1AdDataFromMfrData(d));
  check(adData::mutableKestrineBlockData2AdDataFromMfrData(d));
  check(adData::mutableKestrineEncryptedStatusAdDataFromMfrData(d));
  check(adData::mutableKestrineNewBorn1AdDataFromMfrData(d));
  check(adData::mutableKestrineNewborn2AdDataFromMfrData(d));
  check(adData::mutableKestrineManagementAdDataFromMfrData(d));
  check(adData::mutableKestrineIdentifierAdDataFromMfrData(d));
  check(adData::mutableKestrineMeasurementAdDataFromMfrData(d));
  check(adData::mutableAdDataDictionaryFromEddystoneUIDData(d));
  check(adData::mutableAdDataDictionaryFromEddystoneURLData(d));
  check(adData::mutableAdDataDictionaryFromEddystoneTelData(d));
  check(adData::mutableAdDataDictionaryFromEddystoneEIDData(d));

  if (size >= 4) {
    const auto body = d.subspan(4);
    (void)adData::decypherSecureDataFromMfrData(body, data[0], data[1]);
    (void)adData::decypherSecureDataAdFromMfrData(body, data[0] % 32, data[1], data[2], data[3]);
    (void)adData::proximityUUIDStringFromMfrData(body, data[0], data[1], kUUIDs);
    (void)adData::firmwareUIDFromMfrData(body, data[0], data[1]);
  }

  // The input as URL text: whatever encodes must decode to the same text.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto encoded = KSEddystoneDefinitions::dataForNSURL(text)) {
    if (encoded->empty()) std::abort();
    const std::span<const std::uint8_t> rest(encoded->data() + 1, encoded->size() - 1);
    if (KSEddystoneDefinitions::decodeURL((*encoded)[0], rest) != text) std::abort();
  }
  return 0;
}
